#include "slurmjobstate.h"

#include <QHash>

namespace {

// A state Slurm ends a job in. Any other state (COMPLETING, SUSPENDED, SIGNALING, …) means
// the job still holds its node, and a state this list does not know is taken the same way:
// a job is only ever closed on a word that says it is over.
const QHash<QString, QString>& EndedStates() {
    static const QHash<QString, QString> ended{
        {QStringLiteral("BOOT_FAIL"), QStringLiteral("noden kunde inte starta")},
        {QStringLiteral("CANCELLED"), QStringLiteral("avbröts i Slurm")},
        {QStringLiteral("COMPLETED"), QStringLiteral("slutade i Slurm utan att körningen "
                                                     "skrev sitt slut")},
        {QStringLiteral("DEADLINE"), QStringLiteral("passerade sin deadline i Slurm")},
        {QStringLiteral("FAILED"), QStringLiteral("misslyckades i Slurm")},
        {QStringLiteral("NODE_FAIL"), QStringLiteral("noden föll bort")},
        {QStringLiteral("OUT_OF_MEMORY"), QStringLiteral("minnet tog slut i Slurm")},
        {QStringLiteral("PREEMPTED"), QStringLiteral("trängdes undan i Slurm")},
        {QStringLiteral("REVOKED"), QStringLiteral("drogs tillbaka i Slurm")},
        {QStringLiteral("TIMEOUT"), QStringLiteral("stoppades av Slurms tidsgräns")},
    };
    return ended;
}

// States in which the job waits for a node, the first time or again.
bool IsWaiting(const QString& slurmState) {
    return slurmState == QLatin1String("PENDING") ||
           slurmState.startsWith(QLatin1String("REQUEUE")) ||
           slurmState == QLatin1String("RESV_DEL_HOLD") ||
           slurmState == QLatin1String("SPECIAL_EXIT");
}

} // namespace

CSlurmJobState SlurmJobState(const QString& slurmState, const QString& reason) {
    if (IsWaiting(slurmState))
        return {CSlurmJobState::Phase::Pending, slurmState, reason};
    if (EndedStates().contains(slurmState))
        return {CSlurmJobState::Phase::Ended, slurmState, {}};
    return {CSlurmJobState::Phase::Running, slurmState, {}};
}

QString DescribeSlurmEnd(const CSlurmJobState& state) {
    if (state.phase == CSlurmJobState::Phase::Unknown)
        return QStringLiteral("försvann ur Slurm");
    return EndedStates().value(state.slurmState,
                               QStringLiteral("slutade i Slurm (%1)").arg(state.slurmState));
}
