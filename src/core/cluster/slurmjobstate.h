#pragma once

#include <QString>

// Where one batch job stands, as the controller tells it.
struct CSlurmJobState {
    enum class Phase {
        Pending, // waiting in the queue (or queued again)
        Running, // has its node; also suspended, or finishing
        Ended,   // Slurm ended it; the state says how
        Unknown, // the controller does not know the job (any more)
    };
    Phase phase = Phase::Unknown;
    // Slurm's own name of the state ("PENDING", "NODE_FAIL", …); empty when unknown.
    QString slurmState;
    // Why a pending job waits ("BeginTime", "Resources", …); empty otherwise.
    QString reason;
};

// The state squeue names, with the reason it gives.
CSlurmJobState SlurmJobState(const QString& slurmState, const QString& reason);

// How Slurm ended a job whose own end was never recorded, in Swedish for the run history.
QString DescribeSlurmEnd(const CSlurmJobState& state);
