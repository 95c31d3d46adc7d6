#include "data/run.h"

#include "data/runend.h"

#include <algorithm>

std::optional<qint64> CRun::DurationMs() const {
    switch (outcome) {
    case Outcome::Running:
    case Outcome::NeverStarted:
    case Outcome::NotStarted:
    case Outcome::Pending:
    case Outcome::Skipped:
    case Outcome::Lost:
        return std::nullopt;
    default:
        break;
    }
    if (startMs && endMs)
        return std::max<qint64>(0, *endMs - *startMs);
    if (!ended)
        return std::nullopt;
    return std::max<qint64>(0, *ended - launched) * 1000;
}

std::optional<qint64> CRun::DurationSeconds() const {
    const std::optional<qint64> ms = DurationMs();
    return ms ? std::optional<qint64>(*ms / 1000) : std::nullopt;
}

bool CRun::EndedBadly() const {
    return flagCleared || outcome == Outcome::NotStarted || outcome == Outcome::Failed ||
           outcome == Outcome::Signalled || outcome == Outcome::TimedOut ||
           outcome == Outcome::Lost;
}

QString StoredOutcome(CRun::Outcome outcome) {
    switch (outcome) {
    case CRun::Outcome::Running:
        return {};
    case CRun::Outcome::Finished:
        return QStringLiteral("klar");
    case CRun::Outcome::Aborted:
        return QStringLiteral("avbruten");
    case CRun::Outcome::NeverStarted:
        return QStringLiteral("startade aldrig");
    case CRun::Outcome::Pending:
        return QStringLiteral("väntar");
    case CRun::Outcome::Skipped:
        return QStringLiteral("hoppades över");
    case CRun::Outcome::Failed:
        return QString::fromUtf8(StoredRunEnd::kFailed);
    case CRun::Outcome::Signalled:
        return QString::fromUtf8(StoredRunEnd::kSignalled);
    case CRun::Outcome::TimedOut:
        return QString::fromUtf8(StoredRunEnd::kTimedOut);
    case CRun::Outcome::Cancelled:
        return QString::fromUtf8(StoredRunEnd::kCancelled);
    case CRun::Outcome::Lost:
        return QString::fromUtf8(StoredRunEnd::kLost);
    case CRun::Outcome::NotStarted:
        break;
    }
    return QStringLiteral("kunde inte startas");
}

CRun::Outcome OutcomeFromStored(const QString& stored, bool ended) {
    for (const CRun::Outcome outcome :
         {CRun::Outcome::Finished, CRun::Outcome::Aborted, CRun::Outcome::NeverStarted,
          CRun::Outcome::NotStarted, CRun::Outcome::Pending, CRun::Outcome::Skipped,
          CRun::Outcome::Failed, CRun::Outcome::Signalled, CRun::Outcome::TimedOut,
          CRun::Outcome::Cancelled, CRun::Outcome::Lost}) {
        if (stored == StoredOutcome(outcome))
            return outcome;
    }
    return ended ? CRun::Outcome::Finished : CRun::Outcome::Running;
}
