#include "schedule/scheduler.h"

#include "base/clock.h"
#include "base/diagnostics.h"
#include "data/schedulerow.h"
#include "files/programpaths.h"
#include "log/monitorlog.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "rules/duerows.h"
#include "rules/starttime.h"
#include "schedule/calculationlauncher.h"
#include "schedule/problemreporter.h"

#include <QElapsedTimer>
#include <QSet>
#include <QThread>

namespace {

// A file that cannot be used (a copy still being written, say) gets this long
// to recover before the operator is told; one already reported does not.
constexpr int kUnusableGraceMs = 5000;
constexpr int kUnusableRetryMs = 200;
// The scheduler's row is removed at its stop within this wait, or left to fall silent.
constexpr int kLeaveWaitMs = 2000;
// A scheduler that claimed a minute this recently keeps the countdowns as they are.
constexpr qint64 kRecentClaimSeconds = 2 * 60;

} // namespace

CScheduler::CScheduler(const CProgramPaths& paths, const CClock& clock,
                       CCalculationLauncher& launcher, CMonitorLog& log, CProblemReporter& problems,
                       const std::atomic<bool>& stop, CSchedulerPeers& peers)
    : m_paths(paths), m_clock(clock), m_launcher(launcher), m_log(log), m_problems(problems),
      m_stop(stop), m_peers(peers) {}

CScheduler::WakeUp CScheduler::Tick(const LaunchListener& launched,
                                    const std::function<void(const WakeUp&)>& decided) {
    CSystemDatabase db(m_paths.MonitorDatabase(),
                       CBusyWait(CBusyWait::kForever, &m_stop, m_heartbeat));
    if (!OpenForTick(db))
        return {};
    Decision decision;
    try {
        decision = Decide(db);
    } catch (const CDatabaseError& e) {
        if (ClassifyFault(e) != DatabaseFault::Busy)
            ReportFailure(FaultText(e));
        return {};
    }
    LogLostRuns(decision.lost);
    const WakeUp wakeUp{decision.settings.schedulerOn != 0, decision.judgement.schedulingService};
    if (decided)
        decided(wakeUp);
    QString problem = StartBatch(db, decision, launched);
    if (problem.isEmpty() && decision.evaluated && !m_stop)
        problem = Tidy(db, decision);
    if (!m_stop && problem.isEmpty())
        problem = WatchJobs(db);
    db.Close();
    // After the starts, so a long log never delays one.
    if (!decision.batch.isEmpty() && !m_stop)
        m_log.TrimLog(decision.settings.logDays);
    m_problems.Report(CProblemReporter::Source::Schedule, problem);
    m_problems.Report(CProblemReporter::Source::Peers, decision.judgement.disagreement);
    return wakeUp;
}

void CScheduler::RunNow(int key, const LaunchListener& launched) {
    CSystemDatabase db(m_paths.MonitorDatabase(),
                       CBusyWait(CBusyWait::kForever, &m_stop, m_heartbeat));
    CRun run;
    run.key = key;
    CMonitorSettings settings;
    try {
        db.Open();
        CSqliteTransaction transaction(db.Connection());
        const CScheduleRow row = db.LoadRow(key);
        settings = CMonitorSettings::Load(db);
        run.model = row.model;
        run.macro = row.macro;
        run.startTime = row.startTime;
        run.owner = m_peers.Id();
        run.launched = m_clock.Now().toSecsSinceEpoch();
        run.id = db.InsertPendingRun(run, CMinuteTracker::WallClockMinute(m_clock.Now()));
        transaction.Commit();
    } catch (const CDatabaseError& e) {
        const QString reason = e.EngineCode() == CDatabaseError::kNoRow
                                   ? QStringLiteral("raden finns inte längre")
                                   : FaultText(e);
        launched({key, run.model, run.macro, false, false, reason});
        return;
    }
    try {
        if (const std::optional<CLaunchReport> report =
                m_launcher.StartPending(db, run, settings, StartRule::RunNow))
            launched(*report);
    } catch (const CDatabaseError& e) {
        launched({key, run.model, run.macro, false, false, FaultText(e)});
        CloseUnstarted(db, run.id, FaultText(e));
    }
}

// A fault of the file ends the batch: its rest stays pending, for the next tick or for the
// scheduler that takes over after a stop. Empty, or the problem the operator should see.
QString CScheduler::StartBatch(CSystemDatabase& db, const Decision& decision,
                               const LaunchListener& launched) {
    for (const CRun& run : decision.batch) {
        if (m_stop)
            break;
        try {
            if (const std::optional<CLaunchReport> report =
                    m_launcher.StartPending(db, run, decision.settings, StartRule::Scheduled))
                launched(*report);
        } catch (const CDatabaseError& e) {
            if (ClassifyFault(e) == DatabaseFault::Busy)
                return {};
            return CProblemReporter::StopsCalculations(FaultText(e));
        }
    }
    return {};
}

// Told that it did not start, the run must not start later: unless the file refuses this
// write too, and then the next tick finds it pending and starts it after all.
void CScheduler::CloseUnstarted(CSystemDatabase& db, qint64 runId, const QString& reason) {
    try {
        db.CloseRun(runId, m_clock.Now().toSecsSinceEpoch(), CRun::Outcome::NotStarted, reason);
    } catch (const CDatabaseError&) {
        qCWarning(lcSchedule) << "Körning" << runId << "väntar kvar på sin start";
    }
}

void CScheduler::Leave() {
    try {
        CSystemDatabase db(m_paths.MonitorDatabase(), kLeaveWaitMs);
        db.Open();
        m_peers.Leave(db);
    } catch (const CDatabaseError&) {
        // The others find the row silent or its process gone, and take over all the same.
    }
}

void CScheduler::SeedCountdowns(CSystemDatabase& db, const std::function<int()>& random,
                                const QDateTime& now) {
    CSqliteTransaction transaction(db.Connection());
    const qint64 recent = now.toSecsSinceEpoch() - kRecentClaimSeconds;
    for (const CSchedulerRecord& scheduler : db.Schedulers()) {
        if (scheduler.lastClaim >= recent)
            return;
    }
    QHash<int, int> countdowns;
    for (const CScheduleRow& row : db.LoadAllRows()) {
        if (StartTime::Classify(row.startTime) == StartTime::Kind::Cyclic)
            countdowns.insert(row.key, StartTime::SeededCountdown(row.startTime, random()));
    }
    db.SetCounters(countdowns);
    transaction.Commit();
}

// With the scheduler on, old PID records and runs go. The runs whose end nobody saw are
// closed whatever the switch, since "Kör nu" starts rows while it is off. Empty, or the
// problem the operator should see.
QString CScheduler::Tidy(CSystemDatabase& db, const Decision& decision) {
    try {
        if (decision.settings.schedulerOn != 0)
            db.PurgePid(decision.now, decision.settings.pidDays);
        db.EndQuietRuns(decision.now.toSecsSinceEpoch());
    } catch (const CDatabaseError& e) {
        // The tick waits for a held file until a stop, which is no fault.
        if (ClassifyFault(e) == DatabaseFault::Busy)
            return {};
        return FaultText(e, QStringLiteral("Gamla poster kunde inte tas bort."));
    }
    return {};
}

// After the starts, outside the decision: Slurm may take seconds to answer. Empty, or the
// problem the operator should see.
QString CScheduler::WatchJobs(CSystemDatabase& db) {
    try {
        LogLostRuns(m_jobs.Look(db, m_clock.Now().toSecsSinceEpoch()));
    } catch (const CDatabaseError& e) {
        if (ClassifyFault(e) != DatabaseFault::Busy)
            return FaultText(e, QStringLiteral("Slurm-jobbens läge kunde inte skrivas."));
    }
    return {};
}

void CScheduler::LogLostRuns(const QVector<CRun>& lost) {
    for (const CRun& run : lost) {
        const QString why =
            run.reason.isEmpty()
                ? QStringLiteral("förlorad: körningens övervakare på %1 hördes senast av %2")
                      .arg(run.host, TimeText(run.heartbeat))
                : QStringLiteral("förlorad: Slurm-jobbet %1 %2").arg(run.jobId).arg(run.reason);
        const QString line =
            run.model + QStringLiteral("   ") + run.macro + QStringLiteral("   (%1)").arg(why);
        qCWarning(lcSchedule).noquote() << "Raden" << run.key << why;
        m_log.AppendLogLine(line, m_clock.Now());
        m_problems.Announce(QStringLiteral("Rad %1: %2").arg(run.key).arg(line));
    }
}

bool CScheduler::OpenForTick(CSystemDatabase& db) {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        try {
            db.Open();
            m_openFaultReported = false;
            return true;
        } catch (const CDatabaseError& e) {
            if (m_stop || ClassifyFault(e) == DatabaseFault::Busy)
                return false;
            if (!m_openFaultReported && waited.elapsed() < kUnusableGraceMs) {
                QThread::msleep(kUnusableRetryMs);
                continue;
            }
            ReportFailure(FaultText(e));
            return false;
        }
    }
}

void CScheduler::ReportFailure(const QString& faultText) {
    m_openFaultReported = true;
    m_problems.Report(CProblemReporter::Source::Schedule,
                      CProblemReporter::StopsCalculations(faultText));
}

// Decided and claimed in one write transaction; the starts come after it, when the
// calculation programs can write to the file again. The clock is read once the file is
// ours, so minutes that passed while another process held it are evaluated now.
CScheduler::Decision CScheduler::Decide(CSystemDatabase& db) {
    // The tick writes countdowns, missing run flags, its heartbeat and its claim, which a
    // power cut may cost without harm; not waiting for the disk every minute keeps it fast.
    db.Connection().Execute(QStringLiteral("PRAGMA synchronous=NORMAL"));
    CSqliteTransaction transaction(db.Connection());
    Decision decision;
    decision.now = m_clock.Now();
    decision.judgement = m_peers.Beat(db, decision.now);
    decision.settings = CMonitorSettings::Load(db);
    // Every scheduler on the file looks, whoever starts: a run's supervisor may have died
    // on any host.
    const qint64 now = decision.now.toSecsSinceEpoch();
    for (const CHeartbeatWatch::Silent& silent :
         m_heartbeats.Look(db.SupervisedHeartbeats(), now)) {
        if (std::optional<CRun> lost = db.CloseLostRun(silent.runId, silent.heartbeat, now))
            decision.lost << *lost;
    }
    if (decision.judgement.mayStart) {
        TakeOverPending(db, decision);
        DecideMinutes(db, decision);
    }
    if (m_hooks.beforeCommit)
        m_hooks.beforeCommit();
    transaction.Commit();
    if (m_hooks.afterCommit)
        m_hooks.afterCommit();
    return decision;
}

// Runs decided by a scheduler that is gone (stopped, killed, its host silent) are this
// one's now, unless their minute lies beyond the catch-up: those are closed as skipped.
void CScheduler::TakeOverPending(CSystemDatabase& db, Decision& decision) {
    const qint64 minute = CMinuteTracker::WallClockMinute(decision.now);
    for (CSystemDatabase::PendingRun& pending : db.PendingRuns()) {
        CRun& run = pending.run;
        if (run.owner != m_peers.Id() && decision.judgement.living.contains(run.owner))
            continue;
        if (minute - pending.minute > kCatchUpMinutes) {
            db.CloseRun(run.id, decision.now.toSecsSinceEpoch(), CRun::Outcome::Skipped,
                        QStringLiteral("för sent: den skulle ha startats för mer än tre "
                                       "timmar sedan"));
            continue;
        }
        if (run.owner != m_peers.Id()) {
            db.SetPendingOwner(run.id, m_peers.Id());
            run.owner = m_peers.Id();
        }
        decision.batch << run;
    }
}

// Minutes that pass while the scheduler is switched off count as evaluated all the same:
// switching it on starts nothing for the time it was off. A row with a start already
// pending is not decided again.
void CScheduler::DecideMinutes(CSystemDatabase& db, Decision& decision) {
    const std::optional<CSystemDatabase::MinuteClaim> claim = db.ReadMinuteClaim();
    CMinuteTracker tracker(claim ? std::optional(claim->state) : std::nullopt);
    const CMinuteTracker::Minutes minutes =
        tracker.Advance(decision.now, !claim || claim->claimer == m_peers.Id());
    decision.evaluated = !minutes.IsEmpty();
    if (!decision.evaluated)
        return;
    if (decision.settings.schedulerOn != 0) {
        const QVector<CScheduleRow> rows = db.LoadAllRows();
        QVector<int> keys;
        keys.reserve(rows.size());
        for (const CScheduleRow& row : rows)
            keys << row.key;
        const CDueRows due = DecideDueRows(rows, db.RunFlags(keys), minutes);
        db.SetCounters(due.countdowns);
        QSet<int> pendingKeys;
        for (const CRun& run : decision.batch)
            pendingKeys.insert(run.key);
        const qint64 minute = CMinuteTracker::WallClockMinute(decision.now);
        for (const CScheduleRow& row : due.due) {
            if (pendingKeys.contains(row.key))
                continue;
            CRun run;
            run.key = row.key;
            run.model = row.model;
            run.macro = row.macro;
            run.startTime = row.startTime;
            run.owner = m_peers.Id();
            run.launched = decision.now.toSecsSinceEpoch();
            run.outcome = CRun::Outcome::Pending;
            run.id = db.InsertPendingRun(run, minute);
            decision.batch << run;
        }
    }
    db.SetMinuteClaim(*tracker.Current(), m_peers.Id(), decision.now.toSecsSinceEpoch());
}
