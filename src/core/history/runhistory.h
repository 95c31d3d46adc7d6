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
// "1,5 s" under a minute, else as DurationText.
QString DurationMsText(qint64 milliseconds);
// "klar", "misslyckades (kod 3)", "avslutades av signal 9 (SIGKILL)", "stoppades efter
// tidsgränsen", "avbröts av anna på kvarn1", "förlorad", "kunde inte startas: ...", "pågår",
// and what the supervisor did besides ("; beräkningsflaggan återställdes").
QString OutcomeText(const CRun& run);
// The duration, or "pågår" while the run goes on, or "-" for one without an end it knows.
QString DurationOrState(const CRun& run);
// "0", "3", "signal 9", or "-" where the supervisor recorded none.
QString ExitStatusText(const CRun& run);
// The calculation's CPU time ("2,3 s") and peak memory ("512 KiB", "35,2 MiB"), or "-".
QString CpuText(const CRun& run);
QString MemoryText(const CRun& run);
// "klar efter 3 min 20 s", "pågår sedan 2026-12-07 10:00:01", ...: one run in a line.
QString Summary(const CRun& run);
// A batch job waiting for a node: "väntar i kön sedan 2024-03-01 06:30:00 (jobb 17)".
QString QueuedText(const CRun& run);

// Longest, shortest and median duration of the finished runs among the given ones.
struct CDurationStatistics {
    qint64 longest = 0;
    qint64 shortest = 0;
    qint64 median = 0;
    int count = 0;
};
std::optional<CDurationStatistics> FinishedDurations(const QVector<CRun>& runs);

} // namespace RunHistory
