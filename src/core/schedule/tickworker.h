#pragma once

#include "log/monitorlog.h"
#include "schedule/calculationlauncher.h"
#include "schedule/scheduler.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <optional>

class CCalculationProcesses;
class CClock;
class CHeartbeat;
class CProblemReporter;
class CProgramPaths;
class CSchedulerPeers;

// The minute tick and the launches, on a thread of their own: everything here is used on
// that thread only. It wakes just after each wall-clock minute begins, and at least every
// 15 s.
class CTickWorker : public QObject {
    Q_OBJECT
public:
    CTickWorker(const CProgramPaths& paths, const CClock& clock, CCalculationProcesses& processes,
                CSchedulerPeers& peers, CProblemReporter& problems, const std::atomic<bool>& stop);

    // How long to sleep at the given wall-clock time: until just after the next minute
    // begins, but never longer than 15 s, since the timer runs on the monotonic clock,
    // which stands still while the machine sleeps and ignores changes of the wall clock.
    static int MsUntilNextWake(const QDateTime& now);
    // Hears every wake-up, start and wait of this thread; set before the thread starts.
    void SetHeartbeat(CHeartbeat* heartbeat);

public slots:
    // The first wake-up comes at once: minutes missed while no scheduler ran are caught up
    // without waiting for the next minute.
    void Start();
    void RunNow(int key);
    // A wake-up now, whatever the minute, that tells the settings it read.
    void Reread();
    // The scheduler's row leaves the file, and the thread ends.
    void Finish();

signals:
    void Launched(const CLaunchReport& report);
    void SchedulerSwitchChanged(bool on);
    void ServiceClaimChanged(const QString& host);
    // DRIFT as read by the wake-up a Reread asked for.
    void SettingsReread(bool schedulerOn);

private:
    void Wake();
    void OnLaunched(const CLaunchReport& report);
    void OnDecided(const CScheduler::WakeUp& wakeUp);

    const CClock& m_clock;
    CMonitorLog m_log;
    CCalculationLauncher m_launcher;
    CScheduler m_scheduler;
    QTimer m_timer;
    bool m_finished = false;
    bool m_rereadAsked = false;
    CHeartbeat* m_heartbeat = nullptr;
    std::optional<bool> m_schedulerOn;
    QString m_schedulingService;
};
