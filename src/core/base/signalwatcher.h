#pragma once

#include "base/filedescriptor.h"

#include <QSocketNotifier>
#include <csignal>
#include <functional>
#include <memory>
#include <vector>

// Ends the event loops on SIGTERM and SIGINT, so that a program asked to stop from
// outside still runs its exit step and removes its lock file. A signal handler can
// safely do almost nothing, so it only writes a byte into a pipe whose other end
// the event loops watch. A stop, once asked for, ends every event loop that runs
// until the watcher goes; the exit step after the main loop then runs as after
// "Avsluta". One watcher at a time; it puts the previous handlers back when it goes.
// A program that can take its settings anew (a service) names what SIGHUP does instead
// of ending it; it runs in the event loop, once for signals that came close together.
class CSignalWatcher {
public:
    // Without a pipe the signals keep ending the program at once, as they would
    // without a watcher.
    explicit CSignalWatcher(std::function<void()> onHangup = {});
    CSignalWatcher(const CSignalWatcher&) = delete;
    CSignalWatcher& operator=(const CSignalWatcher&) = delete;
    ~CSignalWatcher();

private:
    struct WatchedSignal {
        int signal;
        struct sigaction previous;
    };

    void Watch(int signal, void (*handler)(int));
    void WatchHangup();
    void OnSignalled();
    void OnHangup();

    CFileDescriptor m_readEnd;
    CFileDescriptor m_writeEnd;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_onHangup;
    CFileDescriptor m_hangupReadEnd;
    CFileDescriptor m_hangupWriteEnd;
    std::unique_ptr<QSocketNotifier> m_hangupNotifier;
    std::vector<WatchedSignal> m_watched;
    bool m_stopping = false;
};
