#pragma once

#include "data/run.h"

#include <QString>
#include <QVector>
#include <functional>
#include <optional>

// How the history shows one run.
namespace RunHistory {

// "2 h 5 min", "3 min 20 s", "45 s".
QString DurationText(qint64 seconds);
// "klar", "avbruten", "startade aldrig", "kunde inte startas: ...", or "pågår".
QString OutcomeText(const CRun& run);
// The duration, or "pågår" while the run goes on, or "-" for one that never ran.
QString DurationOrState(const CRun& run);
// "klar efter 3 min 20 s", "pågår sedan 2026-12-07 10:00:01", ...: one run in a line.
QString Summary(const CRun& run);

// Longest, shortest and median duration of the finished runs among the given ones.
struct CDurationStatistics {
    qint64 longest = 0;
    qint64 shortest = 0;
    qint64 median = 0;
    int count = 0;
};
std::optional<CDurationStatistics> FinishedDurations(const QVector<CRun>& runs);

} // namespace RunHistory
