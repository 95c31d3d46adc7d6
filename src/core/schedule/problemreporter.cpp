#include "schedule/problemreporter.h"

#include "base/clock.h"
#include "base/diagnostics.h"
#include "log/monitorlog.h"

CProblemReporter::CProblemReporter(CMonitorLog& log, const CClock& clock)
    : m_log(log), m_clock(clock) {}

// One line each: the log keeps a problem on one line, the status bar shows one.
void CProblemReporter::Report(Source source, const QString& problem) {
    const QString text = QString(problem).replace(QLatin1Char('\n'), QLatin1Char(' '));
    QString current;
    std::function<void(const QString&)> listener;
    {
        const QMutexLocker lock(&m_mutex);
        QString& stored = source == Source::Schedule ? m_schedule : m_display;
        if (stored == text)
            return;
        const QString before = CurrentLocked();
        stored = text;
        if (!text.isEmpty())
            m_latest = source;
        current = CurrentLocked();
        if (current == before)
            return;
        if (!current.isEmpty() && current != m_lastLogged) {
            qCWarning(lcSchedule).noquote() << current;
            m_log.AppendLogLine(current, m_clock.Now());
            m_lastLogged = current;
        } else if (current.isEmpty() && !m_lastLogged.isEmpty()) {
            const QString solved = QStringLiteral("Monitordatabasen går att använda igen.");
            qCInfo(lcSchedule).noquote() << solved;
            m_log.AppendLogLine(solved, m_clock.Now());
            m_lastLogged.clear();
        }
        listener = m_listener;
    }
    if (listener)
        listener(current);
}

QString CProblemReporter::Current() const {
    const QMutexLocker lock(&m_mutex);
    return CurrentLocked();
}

QString CProblemReporter::CurrentLocked() const {
    const QString& latest = m_latest == Source::Schedule ? m_schedule : m_display;
    const QString& other = m_latest == Source::Schedule ? m_display : m_schedule;
    return latest.isEmpty() ? other : latest;
}

void CProblemReporter::SetListener(std::function<void(const QString&)> listener) {
    const QMutexLocker lock(&m_mutex);
    m_listener = std::move(listener);
}
