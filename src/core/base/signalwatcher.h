#pragma once

#include "base/filedescriptor.h"

#include <QSocketNotifier>
#include <csignal>
#include <memory>
#include <vector>

// Ends the event loops on SIGTERM and SIGINT, so that a program asked to stop from
// outside still runs its exit step and removes its lock file. A signal handler can
// safely do almost nothing, so it only writes a byte into a pipe whose other end
// the event loops watch. A stop, once asked for, ends every event loop that runs
// until the watcher goes; the exit step after the main loop then runs as after
// "Avsluta". One watcher at a time; it puts the previous handlers back when it goes.
class CSignalWatcher {
public:
    // Without a pipe the signals keep ending the program at once, as they would
    // without a watcher.
    CSignalWatcher();
    CSignalWatcher(const CSignalWatcher&) = delete;
    CSignalWatcher& operator=(const CSignalWatcher&) = delete;
    ~CSignalWatcher();

private:
    struct WatchedSignal {
        int signal;
        struct sigaction previous;
    };

    void Watch(int signal);
    void OnSignalled();

    CFileDescriptor m_readEnd;
    CFileDescriptor m_writeEnd;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::vector<WatchedSignal> m_watched;
    bool m_stopping = false;
};
