#include "schedule/refreshworker.h"

#include "files/programpaths.h"
#include "schedule/problemreporter.h"

#include <QThread>

namespace {

constexpr int kRefreshSoonMs = 300;

} // namespace

CRefreshWorker::CRefreshWorker(const CProgramPaths& paths, const QString& host, const CClock& clock,
                               CCalculationProcesses& processes, CProblemReporter& problems,
                               const std::atomic<bool>& stop, const std::atomic<bool>& suspended)
    : m_log(paths.MonitorLog(), paths.TrimFile()),
      m_reader(paths.MonitorDatabase(), host, clock, processes, m_log, problems, stop),
      m_suspended(suspended), m_periodic(this), m_soon(this) {
    m_log.SetFaultListener(LogFaultsTo(problems));
    m_periodic.setInterval(kRefreshIntervalMs);
    connect(&m_periodic, &QTimer::timeout, this, [this] {
        if (!m_suspended)
            Read();
    });
    m_soon.setSingleShot(true);
    m_soon.setInterval(kRefreshSoonMs);
    connect(&m_soon, &QTimer::timeout, this, &CRefreshWorker::Read);
}

void CRefreshWorker::Start() {
    m_periodic.start();
}

// A request that comes after the finish (its event may be handled in the same pass) starts
// nothing: the worker is deleted from another thread once its thread has ended.
void CRefreshWorker::RefreshSoon() {
    if (!m_finished && !m_soon.isActive())
        m_soon.start();
}

void CRefreshWorker::Finish() {
    m_finished = true;
    m_periodic.stop();
    m_soon.stop();
    QThread::currentThread()->quit();
}

void CRefreshWorker::Read() {
    if (std::optional<CRunStates> states = m_reader.Read())
        emit RunStatesRead(*states);
}
