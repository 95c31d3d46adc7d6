#include "history/runhistory.h"

#include "base/diagnostics.h"
#include "data/runend.h"
#include "data/schedulerow.h"
#include "monitordb/databaseerror.h"

#include <QLocale>

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

QString DurationMsText(qint64 milliseconds) {
    if (milliseconds >= 60 * 1000)
        return DurationText(milliseconds / 1000);
    return QStringLiteral("%1 s").arg(
        QLocale(QLocale::Swedish).toString(milliseconds / 1000.0, 'f', 1));
}

namespace {

QString EndText(const CRun& run) {
    switch (run.outcome) {
    case CRun::Outcome::Running:
        return run.Queued() ? QStringLiteral("väntar i kön") : QStringLiteral("pågår");
    case CRun::Outcome::NotStarted:
        return QStringLiteral("kunde inte startas: %1").arg(run.reason);
    case CRun::Outcome::Failed:
    case CRun::Outcome::Signalled:
    case CRun::Outcome::Cancelled: {
        CRunEnd end;
        end.outcome = StoredOutcome(run.outcome).toStdString();
        if (run.exitCode)
            end.exitCode = int(*run.exitCode);
        if (run.signal)
            end.signal = int(*run.signal);
        end.cancelledBy = run.cancelledBy.toStdString();
        return QString::fromStdString(DescribeRunEnd(end));
    }
    case CRun::Outcome::Lost:
        // A batch job closed on Slurm's word carries that word.
        return run.reason.isEmpty()
                   ? StoredOutcome(run.outcome)
                   : QStringLiteral("%1: %2").arg(StoredOutcome(run.outcome), run.reason);
    default:
        return StoredOutcome(run.outcome);
    }
}

} // namespace

QString OutcomeText(const CRun& run) {
    QString text = EndText(run);
    if (run.flagCleared)
        text += QStringLiteral("; beräkningsflaggan återställdes");
    return text;
}

QString DurationOrState(const CRun& run) {
    // Tenths of a second only where the supervisor measured them.
    if (const std::optional<qint64> duration = run.DurationMs())
        return run.startMs && run.endMs ? DurationMsText(*duration)
                                        : DurationText(*duration / 1000);
    return run.outcome == CRun::Outcome::Running ? QStringLiteral("pågår") : QStringLiteral("-");
}

QString ExitStatusText(const CRun& run) {
    if (run.signal)
        return QStringLiteral("signal %1").arg(*run.signal);
    if (run.exitCode)
        return QString::number(*run.exitCode);
    return QStringLiteral("-");
}

QString CpuText(const CRun& run) {
    return run.cpuMs ? DurationMsText(*run.cpuMs) : QStringLiteral("-");
}

QString MemoryText(const CRun& run) {
    if (!run.peakMemoryKb)
        return QStringLiteral("-");
    if (*run.peakMemoryKb < 1024)
        return QStringLiteral("%1 KiB").arg(*run.peakMemoryKb);
    return QStringLiteral("%1 MiB").arg(
        QLocale(QLocale::Swedish).toString(double(*run.peakMemoryKb) / 1024.0, 'f', 1));
}

QString QueuedText(const CRun& run) {
    return QStringLiteral("väntar i kön sedan %1 (jobb %2)")
        .arg(TimeText(run.queuedAt.value_or(run.launched)))
        .arg(run.jobId);
}

QString Summary(const CRun& run) {
    switch (run.outcome) {
    case CRun::Outcome::Running:
        if (run.Queued())
            return QueuedText(run);
        // A batch job's run started when its node started it, not when it was submitted.
        return QStringLiteral("pågår sedan %1")
            .arg(TimeText(run.jobId != 0 ? run.seenRunning.value_or(run.launched) : run.launched));
    default:
        if (run.DurationMs())
            return QStringLiteral("%1 efter %2").arg(OutcomeText(run), DurationOrState(run));
        return OutcomeText(run);
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
