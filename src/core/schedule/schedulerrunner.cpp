#include "schedule/schedulerrunner.h"

#include "files/programpaths.h"
#include "schedule/refreshworker.h"
#include "schedule/tickworker.h"

CSchedulerRunner::CSchedulerRunner(const CProgramPaths& paths, const CClock& clock, bool service,
                                   QObject* parent)
    : QObject(parent), m_problemLog(paths.MonitorLog(), paths.TrimFile()),
      m_problems(m_problemLog, clock), m_processes(paths.MonitorDatabase()), m_peers(service),
      m_tick(std::make_unique<CTickWorker>(paths, clock, m_processes, m_peers, m_problems, m_stop)),
      m_refresh(std::make_unique<CRefreshWorker>(paths, m_peers.Host(), clock, m_processes,
                                                 m_problems, m_stop, m_refreshSuspended)) {
    qRegisterMetaType<CLaunchReport>();
    qRegisterMetaType<CRunStates>();
    m_problems.SetListener([this](const QString& text) { emit ProblemChanged(text); });
    m_problems.SetAnnouncer([this](const QString& text) { emit ProblemAnnounced(text); });
    m_problemLog.SetFaultListener(LogFaultsTo(m_problems));
    m_tick->moveToThread(&m_tickThread);
    m_refresh->moveToThread(&m_refreshThread);
    connect(&m_tickThread, &QThread::started, m_tick.get(), &CTickWorker::Start);
    connect(&m_refreshThread, &QThread::started, m_refresh.get(), &CRefreshWorker::Start);
    connect(m_tick.get(), &CTickWorker::Launched, this, &CSchedulerRunner::Launched);
    connect(m_tick.get(), &CTickWorker::Launched, m_refresh.get(), &CRefreshWorker::RefreshSoon);
    connect(m_tick.get(), &CTickWorker::SchedulerSwitchChanged, this,
            &CSchedulerRunner::SchedulerSwitchChanged);
    connect(m_tick.get(), &CTickWorker::ServiceClaimChanged, this,
            &CSchedulerRunner::ServiceClaimChanged);
    connect(m_tick.get(), &CTickWorker::SettingsReread, this, &CSchedulerRunner::SettingsReread);
    connect(m_refresh.get(), &CRefreshWorker::RunStatesRead, this,
            &CSchedulerRunner::RunStatesRead);
}

CSchedulerRunner::~CSchedulerRunner() {
    Stop();
}

void CSchedulerRunner::Start() {
    if (m_started)
        return;
    m_started = true;
    m_tickThread.start();
    m_refreshThread.start();
}

// A stop ends a wait for a held file and a batch between two starts; each worker then
// ends its thread from that thread.
void CSchedulerRunner::Stop() {
    if (!m_started || m_stop.exchange(true))
        return;
    QMetaObject::invokeMethod(m_tick.get(), &CTickWorker::Finish, Qt::QueuedConnection);
    QMetaObject::invokeMethod(m_refresh.get(), &CRefreshWorker::Finish, Qt::QueuedConnection);
    m_tickThread.wait();
    m_refreshThread.wait();
}

void CSchedulerRunner::SetRefreshSuspended(bool suspended) {
    m_refreshSuspended = suspended;
}

void CSchedulerRunner::RefreshSoon() {
    QMetaObject::invokeMethod(m_refresh.get(), &CRefreshWorker::RefreshSoon, Qt::QueuedConnection);
}

void CSchedulerRunner::RunNow(int key) {
    QMetaObject::invokeMethod(
        m_tick.get(), [this, key] { m_tick->RunNow(key); }, Qt::QueuedConnection);
}

void CSchedulerRunner::Reread() {
    QMetaObject::invokeMethod(m_tick.get(), &CTickWorker::Reread, Qt::QueuedConnection);
}

// The thread's start orders this write before the worker's first read.
void CSchedulerRunner::SetHeartbeat(CHeartbeat* heartbeat) {
    m_tick->SetHeartbeat(heartbeat);
}
