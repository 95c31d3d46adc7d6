#pragma once

#include "log/monitorlog.h"
#include "schedule/calculationlauncher.h"
#include "schedule/calculationprocesses.h"
#include "schedule/problemreporter.h"
#include "schedule/runstatereader.h"
#include "schedule/scheduler.h"
#include "schedule/schedulerpeers.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <memory>

class CClock;
class CProgramPaths;

// Runs the scheduler off the window's thread, so that no dialog, message box or
// busy window can delay or drop a minute: the minute tick and the launches on
// one thread, the display refresh on another (it goes on while the tick waits
// for a held file). Results come back as signals, delivered to the thread that
// owns the runner. The window and the headless service drive it the same way.
class CSchedulerRunner : public QObject {
    Q_OBJECT
public:
    static constexpr int kRefreshIntervalMs = 3000;

    // service: the scheduler of a service, told apart from a window's in the file.
    CSchedulerRunner(const CProgramPaths& paths, const CClock& clock, bool service,
                     QObject* parent = nullptr);
    // Stops both threads; a batch of launches ends between two starts.
    ~CSchedulerRunner() override;

    void Start();
    // Ends both threads, then takes the scheduler's row out of the file: the runs it
    // decided but did not start are the other schedulers' then.
    void Stop();
    // While suspended (the window is minimised) the periodic refresh rests.
    void SetRefreshSuspended(bool suspended);
    // A refresh within a moment, whatever the period.
    void RefreshSoon();
    // Starts the row's calculation at once on the tick's thread; Launched tells the outcome.
    void RunNow(int key);
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
    // Carries a start at once to the tick's thread.
    void RunNowRequested(int key);
    // Carries a refresh request to the refresh thread.
    void RefreshRequested();

private:
    void RunTickThread();
    void RunRefreshThread();
    int MsUntilNextWake() const;

    const CProgramPaths& m_paths;
    const CClock& m_clock;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_refreshSuspended{false};
    // One log object per thread that writes: each keeps what it knows of the file.
    CMonitorLog m_problemLog;
    CMonitorLog m_tickLog;
    CMonitorLog m_refreshLog;
    CProblemReporter m_problems;
    CCalculationProcesses m_processes;
    CSchedulerPeers m_peers;
    CCalculationLauncher m_launcher;
    CScheduler m_scheduler;
    CRunStateReader m_reader;
    std::unique_ptr<QThread> m_tickThread;
    std::unique_ptr<QThread> m_refreshThread;
};
