#include "schedule/slurmjobwatch.h"

#include "base/diagnostics.h"
#include "cluster/slurmqueue.h"
#include "monitordb/systemdatabase.h"

QVector<CRun> CSlurmJobWatch::Look(CSystemDatabase& db, qint64 now) {
    if (m_sinceLook.isValid() && !m_sinceLook.hasExpired(kLookEveryMs))
        return {};
    const QHash<qint64, qint64> jobs = db.OpenJobs();
    if (jobs.isEmpty()) {
        m_seenEnded.clear();
        return {};
    }
    m_sinceLook.start();
    const CSlurmQueue::CQueueStates states = CSlurmQueue().States(jobs.values());
    if (!states.error.isEmpty()) {
        qCWarning(lcSchedule).noquote() << "Slurm kunde inte fråga om jobben:" << states.error;
        return {};
    }
    QHash<qint64, CSlurmJobState> ended;
    QVector<CRun> closed;
    for (auto job = jobs.constBegin(); job != jobs.constEnd(); ++job) {
        CSlurmJobState state = states.jobs.value(job.value());
        if (state.phase != CSlurmJobState::Phase::Ended &&
            state.phase != CSlurmJobState::Phase::Unknown)
            continue;
        const auto before = m_seenEnded.constFind(job.key());
        // The controller forgets an ended job after a while (MinJobAge): the state it gave
        // at the first look still says how the job ended.
        if (state.phase == CSlurmJobState::Phase::Unknown && before != m_seenEnded.constEnd())
            state = before.value();
        ended.insert(job.key(), state);
        if (before == m_seenEnded.constEnd())
            continue;
        if (std::optional<CRun> run = db.CloseEndedJob(job.key(), now, DescribeSlurmEnd(state)))
            closed << *run;
    }
    m_seenEnded = ended;
    return closed;
}
