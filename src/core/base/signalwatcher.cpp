#include "base/signalwatcher.h"

#include "base/diagnostics.h"
#include "base/stoprequest.h"

#include <QCoreApplication>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kWatchedSignals[] = {SIGTERM, SIGINT};

// Read and written inside the handler, so they must be lock-free; the write end
// is -1 while no watcher exists.
std::atomic<int> g_writeEnd{-1};
std::atomic<int> g_lastSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnTerminationSignal(int signal) {
    const int savedErrno = errno;
    g_lastSignal = signal;
    ProcessStopRequested() = true;
    const char byte = 1;
    // A full pipe already holds a byte that ends the loops, so a lost one does no harm.
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd.load(), &byte, 1);
    errno = savedErrno;
}

} // namespace

CSignalWatcher::CSignalWatcher() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcInstance) << "Signaler kan inte tas emot:" << qt_error_string(errno);
        return;
    }
    m_readEnd.Reset(ends[0]);
    m_writeEnd.Reset(ends[1]);
    m_notifier = std::make_unique<QSocketNotifier>(m_readEnd.Get(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { OnSignalled(); });
    g_writeEnd = m_writeEnd.Get();
    for (const int signal : kWatchedSignals)
        Watch(signal);
}

// The handlers go before the pipe closes, so none writes into a closed descriptor.
CSignalWatcher::~CSignalWatcher() {
    for (const WatchedSignal& watched : m_watched)
        ::sigaction(watched.signal, &watched.previous, nullptr);
    g_writeEnd = -1;
}

// A signal ignored at start stays ignored: a shell starts background jobs that
// way, so that Ctrl+C in the terminal reaches only the job in the foreground.
void CSignalWatcher::Watch(int signal) {
    struct sigaction previous = {};
    if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
        return;
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(signal, &action, nullptr) == 0)
        m_watched.push_back({signal, previous});
}

// exit(), not quit(): in Qt 6 quit() first asks every window to close, and the
// main frame refuses every close but its own "Avsluta". The byte stays in the
// pipe, so the request holds for every event loop from now on: exit() ends only
// the loops that run, and a signal that ended a dialog of the start-up must end
// the main loop that starts after it as well.
void CSignalWatcher::OnSignalled() {
    if (!m_stopping)
        qCInfo(lcInstance) << "Signal" << g_lastSignal.load() << "avslutar programmet";
    m_stopping = true;
    QCoreApplication::exit(0);
}
