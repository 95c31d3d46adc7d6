#pragma once

#include <QString>

// What the scheduler's thread tells a supervisor that restarts a scheduler that hangs
// (systemd's watchdog): that it works, that it evaluated a minute, and that it waits for a
// file another process holds, which is no hang. Called on the thread that works, never with
// a lock held or a write transaction open.
class CHeartbeat {
public:
    virtual ~CHeartbeat() = default;
    // A wake-up of the scheduler ended, or a start was made.
    virtual void Alive() = 0;
    // A minute was evaluated from the file, with DRIFT as stored.
    virtual void Scheduled(bool schedulerOn) = 0;
    // Called again and again while the file is waited for.
    virtual void WaitingForFile(const QString& path) = 0;
};
