#include "systemdnotifier.h"

#include <QMutexLocker>
#include <systemd/sd-daemon.h>
#include <time.h>

namespace {

// While the start waits for a held file, systemd is asked for this much more time again and
// again: a start that hangs still times out, one that waits does not.
constexpr const char* kExtendStart = "EXTEND_TIMEOUT_USEC=60000000";

qint64 MonotonicMicroseconds() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

} // namespace

CSystemdNotifier::CSystemdNotifier(QString path) : m_path(std::move(path)) {}

QString CSystemdNotifier::WaitingText(const QString& path) {
    return QStringLiteral("väntar på monitordatabasen %1, som ett annat program håller låst")
        .arg(path);
}

QString CSystemdNotifier::ScheduledText(const QString& path, bool schedulerOn) {
    return schedulerOn ? QStringLiteral("kör schemat i %1 (DRIFT = 1)").arg(path)
                       : QStringLiteral("schemaläggaren är avstängd (DRIFT = 0) i %1").arg(path);
}

void CSystemdNotifier::Alive() {
    Send(QStringLiteral("WATCHDOG=1"));
}

// The first minute makes the service ready, and so does the first one after a reload.
void CSystemdNotifier::Scheduled(bool schedulerOn) {
    const bool ready = !m_ready.exchange(true) || m_reloading.exchange(false);
    SendStatus(ScheduledText(m_path, schedulerOn), ready ? QStringLiteral("READY=1") : QString());
}

void CSystemdNotifier::WaitingForFile(const QString& path) {
    SendStatus(WaitingText(path), QStringLiteral("WATCHDOG=1"));
    if (!m_ready)
        Send(QString::fromLatin1(kExtendStart));
}

void CSystemdNotifier::Reloading() {
    m_reloading = true;
    Send(QStringLiteral("RELOADING=1\nMONOTONIC_USEC=%1").arg(MonotonicMicroseconds()));
}

void CSystemdNotifier::Failed(const QString& reason) {
    SendStatus(reason);
}

void CSystemdNotifier::SendStatus(const QString& status, const QString& more) {
    QMutexLocker lock(&m_statusMutex);
    const bool changed = status != m_status;
    m_status = status;
    lock.unlock();
    if (changed)
        Send(QStringLiteral("STATUS=") + status + (more.isEmpty() ? QString() : u'\n' + more));
    else if (!more.isEmpty())
        Send(more);
}

// sd_notify is safe from any thread: each call sends one datagram of its own.
void CSystemdNotifier::Send(const QString& message) {
    sd_notify(0, message.toUtf8().constData());
}
