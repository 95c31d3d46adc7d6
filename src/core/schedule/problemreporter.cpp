#include "schedule/problemreporter.h"

#include "base/clock.h"
#include "base/diagnostics.h"
#include "log/monitorlog.h"

CProblemReporter::CProblemReporter(CMonitorLog& log, const CClock& clock)
    : m_log(log), m_clock(clock) {}

QString CProblemReporter::SolvedText() {
    return SolvedText(Database);
}

bool CProblemReporter::IsSolvedText(const QString& text) {
    for (const Group group : {Database, Log, Peers})
        if (text == SolvedText(group))
            return true;
    return false;
}

QString CProblemReporter::SolvedText(Group group) {
    switch (group) {
    case Database:
        break;
    case Log:
        return QStringLiteral("Monitorloggen går att skriva i igen.");
    case Peers:
        return QStringLiteral("Schemaläggarnas klockor och tidszoner stämmer igen.");
    case GroupCount:
        break;
    }
    return QStringLiteral("Monitordatabasen går att använda igen.");
}

QString CProblemReporter::StopsCalculations(const QString& faultText) {
    return faultText + QStringLiteral(" Inga beräkningar startas förrän felet är åtgärdat.");
}

CProblemReporter::Group CProblemReporter::GroupOf(Source source) {
    switch (source) {
    case Source::Schedule:
    case Source::Display:
        break;
    case Source::Log:
        return Log;
    case Source::Peers:
        return Peers;
    }
    return Database;
}

bool CProblemReporter::IsClear(Group group) const {
    for (const Source source : {Source::Schedule, Source::Display, Source::Log, Source::Peers}) {
        if (GroupOf(source) == group && !m_problems[int(source)].isEmpty())
            return false;
    }
    return true;
}

// One line each: the log keeps a problem on one line, the status bar shows one. The lock
// is let go before anything is written or called: writing the log may wait for the file.
void CProblemReporter::Report(Source source, const QString& problem) {
    const QString text = QString(problem).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const Group group = GroupOf(source);
    QString current;
    QString told;
    std::function<void(const QString&)> listener;
    std::function<void(const QString&)> announcer;
    {
        const QMutexLocker lock(&m_mutex);
        QString& stored = m_problems[int(source)];
        if (stored == text)
            return;
        const QString before = CurrentLocked();
        stored = text;
        if (!text.isEmpty())
            m_latest = source;
        if (!text.isEmpty() && !m_told[group].contains(text)) {
            m_told[group].insert(text);
            told = text;
        } else if (text.isEmpty() && IsClear(group) && !m_told[group].isEmpty()) {
            m_told[group].clear();
            told = SolvedText(group);
        }
        current = CurrentLocked();
        if (current != before)
            listener = m_listener;
        announcer = m_announcer;
    }
    if (!told.isEmpty()) {
        qCWarning(lcSchedule).noquote() << told;
        m_log.AppendLogLine(told, m_clock.Now());
        if (announcer)
            announcer(told);
    }
    if (listener)
        listener(current);
}

QString CProblemReporter::Current() const {
    const QMutexLocker lock(&m_mutex);
    return CurrentLocked();
}

QString CProblemReporter::CurrentLocked() const {
    if (!m_problems[int(m_latest)].isEmpty())
        return m_problems[int(m_latest)];
    for (const QString& problem : m_problems) {
        if (!problem.isEmpty())
            return problem;
    }
    return {};
}

std::function<void(const QString&)> LogFaultsTo(CProblemReporter& problems) {
    return [&problems](const QString& problem) {
        problems.Report(CProblemReporter::Source::Log, problem);
    };
}

void CProblemReporter::SetListener(std::function<void(const QString&)> listener) {
    const QMutexLocker lock(&m_mutex);
    m_listener = std::move(listener);
}

void CProblemReporter::Announce(const QString& text) {
    std::function<void(const QString&)> announcer;
    {
        const QMutexLocker lock(&m_mutex);
        announcer = m_announcer;
    }
    if (announcer)
        announcer(text);
}

void CProblemReporter::SetAnnouncer(std::function<void(const QString&)> announcer) {
    const QMutexLocker lock(&m_mutex);
    m_announcer = std::move(announcer);
}
