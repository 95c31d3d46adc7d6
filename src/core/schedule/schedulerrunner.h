#pragma once

#include "log/monitorlog.h"
#include "schedule/calculationlauncher.h"
#include "schedule/calculationprocesses.h"
#include "schedule/problemreporter.h"
#include "schedule/runstate.h"
#include "schedule/schedulerpeers.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <memory>

class CClock;
class CHeartbeat;
class CProgramPaths;
class CRefreshWorker;
class CTickWorker;

// Runs the scheduler off the window's thread, so that no dialog, message box or busy
// window can delay or drop a minute: the minute tick and the launches on one thread
// (CTickWorker), the display refresh on another (CRefreshWorker), each worker living on its
// thread. Results come back as signals, delivered to the thread that owns the runner. The
// window and the headless service drive it the same way.
class CSchedulerRunner : public QObject {
    Q_OBJECT
public:
    // service: the scheduler of a service, told apart from a window's in the file.
    CSchedulerRunner(const CProgramPaths& paths, const CClock& clock, bool service,
                     QObject* parent = nullptr);
    // Stops both threads; a batch of launches ends between two starts.
    ~CSchedulerRunner() override;

    void Start();
    // Ends both threads; the scheduler's row leaves the file, so the runs it decided but
    // did not start are the other schedulers' then.
    void Stop();
    // While suspended (the window is minimised) the periodic refresh rests.
    void SetRefreshSuspended(bool suspended);
    // A refresh within a moment, whatever the period.
    void RefreshSoon();
    // Starts the row's calculation at once on the tick's thread; Launched tells the outcome.
    void RunNow(int key);
    // Reads the stored settings at once instead of at the next minute; SettingsReread tells
    // what it read.
    void Reread();
    // Hears the tick thread work and wait (a watchdog); set before Start.
    void SetHeartbeat(CHeartbeat* heartbeat);
    QString CurrentProblem() const { return m_problems.Current(); }

signals:
    void Launched(const CLaunchReport& report);
    void RunStatesRead(const CRunStates& states);
    // The problem the operator should see now; empty once there is none.
    void ProblemChanged(const QString& text);
    // A problem told for the first time while it stands, or that one is over.
    void ProblemAnnounced(const QString& text);
    // The host of a service that schedules the file beside this scheduler (it claimed
    // a minute within the last two minutes); empty once none does.
    void ServiceClaimChanged(const QString& host);
    // DRIFT as stored, at the first wake-up and whenever it changes.
    void SchedulerSwitchChanged(bool on);
    void SettingsReread(bool schedulerOn);

private:
    // Read by both threads; set by the thread that owns the runner.
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_refreshSuspended{false};
    // Used from both threads, each safe to be: the problem reporter (with its log) takes a
    // lock only while no file is waited for, the processes guard their list, and the peers
    // are used by the tick thread alone once constructed (the refresh reads their host).
    CMonitorLog m_problemLog;
    CProblemReporter m_problems;
    CCalculationProcesses m_processes;
    CSchedulerPeers m_peers;
    // Each used on its own thread only, and deleted once that thread has ended.
    std::unique_ptr<CTickWorker> m_tick;
    std::unique_ptr<CRefreshWorker> m_refresh;
    QThread m_tickThread;
    QThread m_refreshThread;
    bool m_started = false;
};
