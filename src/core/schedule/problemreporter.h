#pragma once

#include <QMutex>
#include <QSet>
#include <QString>
#include <functional>

class CClock;
class CMonitorLog;

// Problems the scheduler's threads meet (the database, the monitor log, schedulers that
// disagree on the time), each told once for as long as it stands: a line in the monitor log
// and in the diagnostic log, and the announcer (standard error of the service) hears it; one
// line when all are gone. The listener (the status bar) hears every change of the problem
// the operator should see now. Nothing here waits for anybody, and nobody is called with a
// lock held.
class CProblemReporter {
public:
    // The tick and the refresh each look at the database on their own; the one that
    // reported last knows it best. The log, and the schedulers' agreement on the time, are
    // problems of their own.
    enum class Source { Schedule, Display, Log, Peers };

    CProblemReporter(CMonitorLog& log, const CClock& clock);

    // An empty text clears the source's problem.
    void Report(Source source, const QString& problem);
    // Something that happened once and is over (a run lost): told to the announcer, the
    // service's journal, without standing as a problem. The caller logs it.
    void Announce(const QString& text);
    // The problem the operator should see now, or empty.
    QString Current() const;
    // Called on the reporting thread.
    void SetListener(std::function<void(const QString&)> listener);
    void SetAnnouncer(std::function<void(const QString&)> announcer);

    // Said once the database's problems are gone.
    static QString SolvedText();
    // Whether an announced text tells that a problem is over, not a problem.
    static bool IsSolvedText(const QString& text);
    // A fault of the database as the tick and the refresh both tell it: whichever meets it
    // first, it is told once.
    static QString StopsCalculations(const QString& faultText);

private:
    // The database's problems are one: either thread may meet the same fault.
    enum Group { Database, Log, Peers, GroupCount };
    static Group GroupOf(Source source);
    static QString SolvedText(Group group);
    QString CurrentLocked() const;
    bool IsClear(Group group) const;

    CMonitorLog& m_log;
    const CClock& m_clock;
    mutable QMutex m_mutex;
    QString m_problems[4];
    Source m_latest = Source::Schedule;
    // Every problem of a group told since the last time the group had none.
    QSet<QString> m_told[GroupCount];
    std::function<void(const QString&)> m_listener;
    std::function<void(const QString&)> m_announcer;
};

// A monitor log's fault listener that tells its faults as the log's problem.
std::function<void(const QString&)> LogFaultsTo(CProblemReporter& problems);
