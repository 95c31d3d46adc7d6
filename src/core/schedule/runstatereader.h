#pragma once

#include "monitordb/systemdatabase.h"
#include "schedule/runstate.h"

#include <QSet>
#include <atomic>
#include <optional>

class CCalculationProcesses;
class CClock;
class CMonitorLog;
class CProblemReporter;

// The display refresh: every row's run flag and times, the settings as stored, and the
// rows whose flag a calculation that died on this host left behind. A stale flag is logged
// once when first seen and ends the row's run as aborted; nothing is reset, since a
// calculation on another host may share the file. A flag seen going up or down marks the
// row's run as running or finished in the history. A fault is reported like the tick's.
// Used from one thread at a time.
class CRunStateReader {
public:
    // What the supervisors recorded of each row's runs: whether a run may be cancelled, and
    // how the latest ended when its flag had to be cleared.
    static void AddRunEnds(CSystemDatabase& db, QHash<int, CRunState>& states);

    // host: the host this program runs on.
    CRunStateReader(QString databasePath, QString host, const CClock& clock,
                    CCalculationProcesses& processes, CMonitorLog& log, CProblemReporter& problems,
                    const std::atomic<bool>& stop);

    // Nothing when the file is busy or was unusable before and still is.
    std::optional<CRunStates> Read();

private:
    void ReadStates(CSystemDatabase& db, bool replaced, CRunStates& states);
    std::optional<CRunStates> ReportUnusable(const CDatabaseError& error);
    QStringList ReportNewlyStale(CSystemDatabase& db, const QVector<CScheduleRow>& rows,
                                 const QSet<int>& stale);
    void RecordFlagChanges(CSystemDatabase& db, const QHash<int, bool>& flags);

    const QString m_databasePath;
    const QString m_host;
    const CClock& m_clock;
    CCalculationProcesses& m_processes;
    CMonitorLog& m_log;
    CProblemReporter& m_problems;
    const std::atomic<bool>& m_stop;
    std::optional<CSystemDatabase::FileIdentity> m_identity;
    bool m_unreadable = false;
    QSet<int> m_loggedStale;
    // The flags of the last look; nothing before the first.
    std::optional<QHash<int, bool>> m_previousFlags;
};
