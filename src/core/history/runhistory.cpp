#include "history/runhistory.h"

#include "base/diagnostics.h"
#include "data/schedulerow.h"
#include "monitordb/databaseerror.h"

#include <algorithm>

namespace RunHistory {

namespace {

constexpr qint64 kMinute = 60;
constexpr qint64 kHour = 60 * kMinute;

} // namespace

QString DurationText(qint64 seconds) {
    if (seconds >= kHour)
        return QStringLiteral("%1 h %2 min").arg(seconds / kHour).arg(seconds % kHour / kMinute);
    if (seconds >= kMinute)
        return QStringLiteral("%1 min %2 s").arg(seconds / kMinute).arg(seconds % kMinute);
    return QStringLiteral("%1 s").arg(seconds);
}

// The ended runs read as stored; the others say more.
QString OutcomeText(const CRun& run) {
    switch (run.outcome) {
    case CRun::Outcome::Running:
        return QStringLiteral("pågår");
    case CRun::Outcome::NotStarted:
        return QStringLiteral("kunde inte startas: %1").arg(run.reason);
    default:
        return StoredOutcome(run.outcome);
    }
}

QString DurationOrState(const CRun& run) {
    if (run.outcome == CRun::Outcome::NotStarted)
        return QStringLiteral("-");
    const std::optional<qint64> duration = run.DurationSeconds();
    return duration ? DurationText(*duration) : QStringLiteral("pågår");
}

QString Summary(const CRun& run) {
    switch (run.outcome) {
    case CRun::Outcome::Running:
        return QStringLiteral("pågår sedan %1").arg(TimeText(run.launched));
    case CRun::Outcome::NotStarted:
        return OutcomeText(run);
    default:
        return QStringLiteral("%1 efter %2").arg(OutcomeText(run), DurationOrState(run));
    }
}

std::optional<CDurationStatistics> FinishedDurations(const QVector<CRun>& runs) {
    QVector<qint64> durations;
    for (const CRun& run : runs) {
        if (run.outcome == CRun::Outcome::Finished && run.DurationSeconds())
            durations << *run.DurationSeconds();
    }
    if (durations.isEmpty())
        return std::nullopt;
    std::sort(durations.begin(), durations.end());
    const qsizetype middle = durations.size() / 2;
    const qint64 median = durations.size() % 2 != 0
                              ? durations.at(middle)
                              : (durations.at(middle - 1) + durations.at(middle)) / 2;
    return CDurationStatistics{durations.last(), durations.first(), median, int(durations.size())};
}

} // namespace RunHistory
