#include "schedule/tickworker.h"

#include "base/clock.h"
#include "base/heartbeat.h"
#include "files/programpaths.h"
#include "schedule/problemreporter.h"

#include <QThread>
#include <algorithm>
#include <utility>

namespace {

// A little after the minute has begun, so a timer that fires a few milliseconds early does
// not land in the minute before.
constexpr int kWakeMarginMs = 100;
constexpr qint64 kLongestSleepMs = 15000;

} // namespace

CTickWorker::CTickWorker(const CProgramPaths& paths, const CClock& clock,
                         CCalculationProcesses& processes, CSchedulerPeers& peers,
                         CProblemReporter& problems, const std::atomic<bool>& stop)
    : m_clock(clock), m_log(paths.MonitorLog(), paths.TrimFile()),
      m_launcher(paths, clock, m_log, processes, peers),
      m_scheduler(paths, clock, m_launcher, m_log, problems, stop, peers), m_timer(this) {
    m_log.SetFaultListener(LogFaultsTo(problems));
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CTickWorker::Wake);
}

int CTickWorker::MsUntilNextWake(const QDateTime& now) {
    const QTime t = now.time();
    const QDateTime thisMinute(now.date(), QTime(t.hour(), t.minute()), now.timeSpec());
    const qint64 untilNextMinute = now.msecsTo(thisMinute.addSecs(60));
    return int(std::clamp<qint64>(untilNextMinute, 0, kLongestSleepMs)) + kWakeMarginMs;
}

void CTickWorker::SetHeartbeat(CHeartbeat* heartbeat) {
    m_heartbeat = heartbeat;
    m_scheduler.SetHeartbeat(heartbeat);
}

void CTickWorker::Start() {
    m_timer.start(0);
}

// A request that comes after the finish (its event may be handled in the same pass) starts
// nothing.
void CTickWorker::RunNow(int key) {
    if (!m_finished)
        m_scheduler.RunNow(key, [this](const CLaunchReport& report) { OnLaunched(report); });
}

// Minutes already claimed are never evaluated again, so an early wake-up changes no start.
void CTickWorker::Reread() {
    if (m_finished)
        return;
    m_rereadAsked = true;
    m_timer.start(0);
}

void CTickWorker::Finish() {
    m_finished = true;
    m_timer.stop();
    m_scheduler.Leave();
    QThread::currentThread()->quit();
}

void CTickWorker::Wake() {
    m_scheduler.Tick([this](const CLaunchReport& report) { OnLaunched(report); },
                     [this](const CScheduler::WakeUp& wakeUp) { OnDecided(wakeUp); });
    if (m_heartbeat)
        m_heartbeat->Alive();
    m_timer.start(MsUntilNextWake(m_clock.Now()));
}

// A long batch keeps the watchdog content between its starts.
void CTickWorker::OnLaunched(const CLaunchReport& report) {
    if (m_heartbeat)
        m_heartbeat->Alive();
    emit Launched(report);
}

// Told before the minute's starts, and only when it changed.
void CTickWorker::OnDecided(const CScheduler::WakeUp& wakeUp) {
    if (!wakeUp.schedulerOn)
        return;
    if (m_heartbeat)
        m_heartbeat->Scheduled(*wakeUp.schedulerOn);
    if (std::exchange(m_rereadAsked, false))
        emit SettingsReread(*wakeUp.schedulerOn);
    if (wakeUp.schedulerOn != m_schedulerOn)
        emit SchedulerSwitchChanged(*(m_schedulerOn = wakeUp.schedulerOn));
    if (wakeUp.schedulingService != m_schedulingService)
        emit ServiceClaimChanged(m_schedulingService = wakeUp.schedulingService);
}
