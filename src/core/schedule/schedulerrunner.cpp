#include "schedule/schedulerrunner.h"

#include "base/clock.h"
#include "files/programpaths.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>

namespace {

// The first wake-up comes at once: minutes missed while no scheduler ran are
// caught up without waiting for the next minute.
constexpr int kFirstWakeMs = 0;
// Wake a little after the minute has begun, so a timer that fires a few
// milliseconds early does not land in the minute before.
constexpr int kWakeMarginMs = 100;
// The timer runs on the monotonic clock, which stands still while the machine
// sleeps and ignores changes of the wall clock; waking at least this often
// notices either within a few seconds.
constexpr qint64 kLongestSleepMs = 15000;
// Launches ask for a refresh; during a batch one now and then is enough.
constexpr int kRefreshSoonMs = 300;

} // namespace

CSchedulerRunner::CSchedulerRunner(const CProgramPaths& paths, const CClock& clock, bool service,
                                   QObject* parent)
    : QObject(parent), m_paths(paths), m_clock(clock),
      m_problemLog(paths.MonitorLog(), paths.TrimFile()),
      m_tickLog(paths.MonitorLog(), paths.TrimFile()),
      m_refreshLog(paths.MonitorLog(), paths.TrimFile()), m_problems(m_problemLog, clock),
      m_processes(paths.MonitorDatabase()), m_peers(service),
      m_launcher(paths, clock, m_tickLog, m_processes, m_peers),
      m_scheduler(paths, clock, m_launcher, m_tickLog, m_problems, m_stop, m_peers),
      m_reader(paths.MonitorDatabase(), m_peers.Host(), clock, m_processes, m_refreshLog,
               m_problems, m_stop) {
    qRegisterMetaType<CLaunchReport>();
    qRegisterMetaType<CRunStates>();
    m_problems.SetListener([this](const QString& text) { emit ProblemChanged(text); });
    m_problems.SetAnnouncer([this](const QString& text) { emit ProblemAnnounced(text); });
}

CSchedulerRunner::~CSchedulerRunner() {
    Stop();
}

void CSchedulerRunner::Start() {
    if (m_tickThread)
        return;
    m_tickThread.reset(QThread::create([this] { RunTickThread(); }));
    m_refreshThread.reset(QThread::create([this] { RunRefreshThread(); }));
    m_tickThread->start();
    m_refreshThread->start();
}

// A quit that comes before a thread's loop runs still ends it: the loop does
// not start once its thread was told to quit.
void CSchedulerRunner::Stop() {
    m_stop = true;
    for (QThread* thread : {m_tickThread.get(), m_refreshThread.get()}) {
        if (thread) {
            thread->quit();
            thread->wait();
        }
    }
    if (m_tickThread) {
        m_scheduler.Leave();
        m_tickThread.reset();
        m_refreshThread.reset();
    }
}

void CSchedulerRunner::SetRefreshSuspended(bool suspended) {
    m_refreshSuspended = suspended;
}

void CSchedulerRunner::RefreshSoon() {
    emit RefreshRequested();
}

void CSchedulerRunner::RunNow(int key) {
    emit RunNowRequested(key);
}

int CSchedulerRunner::MsUntilNextWake() const {
    const QDateTime now = m_clock.Now();
    const QTime t = now.time();
    const QDateTime thisMinute(now.date(), QTime(t.hour(), t.minute()), now.timeSpec());
    const qint64 untilNextMinute = now.msecsTo(thisMinute.addSecs(60));
    return int(std::clamp<qint64>(untilNextMinute, 0, kLongestSleepMs)) + kWakeMarginMs;
}

void CSchedulerRunner::RunTickThread() {
    const auto launched = [this](const CLaunchReport& report) {
        emit Launched(report);
        emit RefreshRequested();
    };
    QString schedulingService;
    std::optional<bool> schedulerOn;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    const auto decided = [&](const CScheduler::WakeUp& wakeUp) {
        if (wakeUp.schedulerOn && wakeUp.schedulerOn != schedulerOn)
            emit SchedulerSwitchChanged(*(schedulerOn = wakeUp.schedulerOn));
        if (wakeUp.schedulerOn && wakeUp.schedulingService != schedulingService)
            emit ServiceClaimChanged(schedulingService = wakeUp.schedulingService);
    };
    QObject::connect(&timer, &QTimer::timeout, [&] {
        m_scheduler.Tick(launched, decided);
        timer.start(MsUntilNextWake());
    });
    QObject::connect(this, &CSchedulerRunner::RunNowRequested, &timer,
                     [&](int key) { m_scheduler.RunNow(key, launched); });
    timer.start(kFirstWakeMs);
    QEventLoop loop;
    loop.exec();
}

void CSchedulerRunner::RunRefreshThread() {
    const auto read = [this] {
        if (std::optional<CRunStates> states = m_reader.Read())
            emit RunStatesRead(*states);
    };
    QTimer periodic;
    periodic.setInterval(kRefreshIntervalMs);
    QObject::connect(&periodic, &QTimer::timeout, [this, read] {
        if (!m_refreshSuspended)
            read();
    });
    QTimer soon;
    soon.setSingleShot(true);
    QObject::connect(&soon, &QTimer::timeout, read);
    QObject::connect(this, &CSchedulerRunner::RefreshRequested, &soon, [&soon] {
        if (!soon.isActive())
            soon.start(kRefreshSoonMs);
    });
    periodic.start();
    QEventLoop loop;
    loop.exec();
}
