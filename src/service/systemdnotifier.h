#pragma once

#include "base/heartbeat.h"

#include <QMutex>
#include <QString>
#include <atomic>

// Tells systemd how the service is (sd_notify): ready once the schedule is open and its
// first minute evaluated, the watchdog's keep-alive from the scheduler's thread, a status
// line for `systemctl status`, and a reload. Without NOTIFY_SOCKET (no systemd, or a unit
// that does not listen) nothing is sent and the service runs as it would without it.
// Used from the main thread and the scheduler's thread.
class CSystemdNotifier : public CHeartbeat {
public:
    // path: the monitor database, named in the status.
    explicit CSystemdNotifier(QString path);

    void Alive() override;
    void Scheduled(bool schedulerOn) override;
    void WaitingForFile(const QString& path) override;

    // SIGHUP: the settings are read anew; Scheduled tells when they are.
    void Reloading();
    // The schedule could not be opened: the reason, before the service ends.
    void Failed(const QString& reason);

    static QString WaitingText(const QString& path);
    static QString ScheduledText(const QString& path, bool schedulerOn);

private:
    void Send(const QString& message);
    // The status line, sent only when it changed; more lines go with it.
    void SendStatus(const QString& status, const QString& more = {});

    const QString m_path;
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_reloading{false};
    QMutex m_statusMutex;
    QString m_status;
};
