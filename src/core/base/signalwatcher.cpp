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
std::atomic<int> g_hangupWriteEnd{-1};
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

void OnHangupSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a byte that asks for the same.
    [[maybe_unused]] const ssize_t written = ::write(g_hangupWriteEnd.load(), &byte, 1);
    errno = savedErrno;
}

// A pipe whose read end the event loop watches; nothing when there is none.
std::unique_ptr<QSocketNotifier> OpenSignalPipe(CFileDescriptor& readEnd,
                                                CFileDescriptor& writeEnd) {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcInstance) << "Signaler kan inte tas emot:" << qt_error_string(errno);
        return nullptr;
    }
    readEnd.Reset(ends[0]);
    writeEnd.Reset(ends[1]);
    return std::make_unique<QSocketNotifier>(readEnd.Get(), QSocketNotifier::Read);
}

} // namespace

CSignalWatcher::CSignalWatcher(std::function<void()> onHangup) : m_onHangup(std::move(onHangup)) {
    m_notifier = OpenSignalPipe(m_readEnd, m_writeEnd);
    if (!m_notifier)
        return;
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { OnSignalled(); });
    g_writeEnd = m_writeEnd.Get();
    for (const int signal : kWatchedSignals)
        Watch(signal, OnTerminationSignal);
    if (m_onHangup)
        WatchHangup();
}

// The handlers go before the pipes close, so none writes into a closed descriptor.
CSignalWatcher::~CSignalWatcher() {
    for (const WatchedSignal& watched : m_watched)
        ::sigaction(watched.signal, &watched.previous, nullptr);
    g_writeEnd = -1;
    g_hangupWriteEnd = -1;
}

void CSignalWatcher::WatchHangup() {
    m_hangupNotifier = OpenSignalPipe(m_hangupReadEnd, m_hangupWriteEnd);
    if (!m_hangupNotifier)
        return;
    QObject::connect(m_hangupNotifier.get(), &QSocketNotifier::activated, [this] { OnHangup(); });
    g_hangupWriteEnd = m_hangupWriteEnd.Get();
    Watch(SIGHUP, OnHangupSignal);
}

// A signal ignored at start stays ignored: a shell starts background jobs that
// way, so that Ctrl+C in the terminal reaches only the job in the foreground.
void CSignalWatcher::Watch(int signal, void (*handler)(int)) {
    struct sigaction previous = {};
    if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
        return;
    struct sigaction action = {};
    action.sa_handler = handler;
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

// Every byte read, so that signals that came together ask once.
void CSignalWatcher::OnHangup() {
    char bytes[64];
    while (::read(m_hangupReadEnd.Get(), bytes, sizeof bytes) > 0) {
    }
    m_onHangup();
}
