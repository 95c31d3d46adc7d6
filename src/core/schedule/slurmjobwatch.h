#pragma once

#include "cluster/slurmjobstate.h"
#include "data/run.h"

#include <QElapsedTimer>
#include <QHash>
#include <QVector>

class CSystemDatabase;

// Finds the batch jobs that Slurm ended without their supervisor writing an end (a node that
// failed, a job cancelled or preempted in Slurm, one that never got to start) and closes their
// runs as lost with Slurm's own word for the end. The controller is asked at most once a
// minute, one squeue for all jobs, and only outside any transaction, since it may take
// seconds. A job is closed only when two looks in a row found it ended: a supervisor that
// was still writing its end at the first has long written it by the second. A controller that
// cannot be reached closes nothing.
class CSlurmJobWatch {
public:
    static constexpr qint64 kLookEveryMs = 60 * 1000;

    // db: the open monitor database, outside any transaction; now: seconds since 1970. The
    // runs closed.
    QVector<CRun> Look(CSystemDatabase& db, qint64 now);

private:
    QElapsedTimer m_sinceLook;
    // The runs whose job was seen ended (or gone) at the last look, with the state seen, by run.
    QHash<qint64, CSlurmJobState> m_seenEnded;
};
