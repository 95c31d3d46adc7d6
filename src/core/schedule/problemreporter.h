#pragma once

#include <QMutex>
#include <QString>
#include <functional>

class CClock;
class CMonitorLog;

// Problems the scheduler's threads meet, each reported once: a line in the
// monitor log and the diagnostic log when it appears or changes, one when all
// are gone, and the listener (the status bar, or standard error of the
// service) hears every change. Nothing here waits for anybody.
class CProblemReporter {
public:
    // Both look at the same file; the one that reported last knows it best.
    enum class Source { Schedule, Display };

    CProblemReporter(CMonitorLog& log, const CClock& clock);

    // An empty text clears the source's problem.
    void Report(Source source, const QString& problem);
    // The problem the operator should see now, or empty.
    QString Current() const;
    // Called on the reporting thread, without any lock held.
    void SetListener(std::function<void(const QString&)> listener);

private:
    QString CurrentLocked() const;

    CMonitorLog& m_log;
    const CClock& m_clock;
    mutable QMutex m_mutex;
    QString m_schedule;
    QString m_display;
    Source m_latest = Source::Schedule;
    QString m_lastLogged;
    std::function<void(const QString&)> m_listener;
};
