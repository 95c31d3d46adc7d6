#pragma once

#include "data/run.h"
#include "schedule/heartbeatwatch.h"
#include "schedule/schedulerpeers.h"
#include "schedule/slurmjobwatch.h"
#include "settings/monitorsettings.h"

#include <QDateTime>
#include <QVector>
#include <atomic>
#include <functional>
#include <optional>

class CCalculationLauncher;
class CClock;
class CHeartbeat;
class CMonitorLog;
class CProblemReporter;
class CProgramPaths;
class CSystemDatabase;
struct CLaunchReport;

// The minute tick: starts the calculation program for every active, idle row that is due.
// Each wall-clock minute is evaluated once, across restarts and across schedulers sharing
// the file: in one write transaction a wake-up reads what is stored (the settings, the
// rows, their run flags), decides, records the decided starts as pending runs and claims
// the minutes. Each pending run is then started after one more look at its row; a run left
// pending by a scheduler that is gone is started by another one. A file held by another
// process is waited for as long as it is held; a problem goes to the problem reporter,
// never to a box that waits for the operator. Used from one thread at a time.
class CScheduler {
public:
    using LaunchListener = std::function<void(const CLaunchReport&)>;

    // What a wake-up found, besides the starts it made.
    struct WakeUp {
        // DRIFT as stored, when the file could be read.
        std::optional<bool> schedulerOn;
        // The host of a service that schedules the file beside this scheduler, or empty.
        QString schedulingService;
    };

    // The starts of minutes this long ago are still made once their scheduler is gone.
    static constexpr qint64 kCatchUpMinutes = 3 * 60;

    CScheduler(const CProgramPaths& paths, const CClock& clock, CCalculationLauncher& launcher,
               CMonitorLog& log, CProblemReporter& problems, const std::atomic<bool>& stop,
               CSchedulerPeers& peers);

    // One wake-up: evaluates the minutes the wall clock has reached since the minutes last
    // claimed, and starts the due rows one after the other until the stop is asked for.
    // decided hears what the wake-up found before the first start, launched every start.
    WakeUp Tick(const LaunchListener& launched,
                const std::function<void(const WakeUp&)>& decided = {});
    // Starts one row at once, whatever its start time, active flag and DRIFT, through the
    // same launch; refused (with the reason in the report) while its run flag is set.
    void RunNow(int key, const LaunchListener& launched);
    // The scheduler's row leaves the file; its pending runs go to the others.
    void Leave();

    // A seam for tests that make another scheduler decide while this one decides: called
    // inside the deciding transaction just before it commits, and just after.
    struct DecisionHooks {
        std::function<void()> beforeCommit;
        std::function<void()> afterCommit;
    };
    void SetDecisionHooks(DecisionHooks hooks) { m_hooks = std::move(hooks); }
    // Hears the waits for a held file; set before the first wake-up.
    void SetHeartbeat(CHeartbeat* heartbeat) { m_heartbeat = heartbeat; }

    // The first countdown of every cyclic row, spread over its interval (random gives 0 to
    // 32767), unless a scheduler claimed a minute within the last two minutes: a scheduler
    // starting beside a running one, or right after one, keeps the countdowns.
    static void SeedCountdowns(CSystemDatabase& db, const std::function<int()>& random,
                               const QDateTime& now);

private:
    struct Decision {
        CMonitorSettings settings;
        // The pending runs this scheduler is to start, decided now or taken over.
        QVector<CRun> batch;
        // The runs closed as lost: their supervisor's heartbeat stopped.
        QVector<CRun> lost;
        bool evaluated = false;
        QDateTime now;
        CSchedulerPeers::Judgement judgement;
    };

    bool OpenForTick(CSystemDatabase& db);
    Decision Decide(CSystemDatabase& db);
    void TakeOverPending(CSystemDatabase& db, Decision& decision);
    void DecideMinutes(CSystemDatabase& db, Decision& decision);
    void ReportFailure(const QString& faultText);
    void CloseUnstarted(CSystemDatabase& db, qint64 runId, const QString& reason);
    QString StartBatch(CSystemDatabase& db, const Decision& decision,
                       const LaunchListener& launched);
    QString Tidy(CSystemDatabase& db, const Decision& decision);
    void LogLostRuns(const QVector<CRun>& lost);
    QString WatchJobs(CSystemDatabase& db);

    const CProgramPaths& m_paths;
    const CClock& m_clock;
    CCalculationLauncher& m_launcher;
    CMonitorLog& m_log;
    CProblemReporter& m_problems;
    const std::atomic<bool>& m_stop;
    CSchedulerPeers& m_peers;
    bool m_openFaultReported = false;
    CHeartbeatWatch m_heartbeats;
    CSlurmJobWatch m_jobs;
    DecisionHooks m_hooks;
    CHeartbeat* m_heartbeat = nullptr;
};
