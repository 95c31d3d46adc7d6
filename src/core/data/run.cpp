#include "data/run.h"

#include <algorithm>

std::optional<qint64> CRun::DurationSeconds() const {
    if (!ended)
        return std::nullopt;
    return std::max<qint64>(0, *ended - launched);
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
    case CRun::Outcome::NotStarted:
        break;
    }
    return QStringLiteral("kunde inte startas");
}

CRun::Outcome OutcomeFromStored(const QString& stored, bool ended) {
    for (const CRun::Outcome outcome :
         {CRun::Outcome::Finished, CRun::Outcome::Aborted, CRun::Outcome::NeverStarted,
          CRun::Outcome::NotStarted, CRun::Outcome::Pending, CRun::Outcome::Skipped}) {
        if (stored == StoredOutcome(outcome))
            return outcome;
    }
    return ended ? CRun::Outcome::Finished : CRun::Outcome::Running;
}
