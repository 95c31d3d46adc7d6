#pragma once

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QVector>
#include <functional>

class CSystemDatabase;
struct CScheduleRow;

// Which calculations run on this host. A run flag is set and cleared by the
// calculation program; one that died leaves its flag set, and only the
// processes can tell. Known signs of a running calculation of a row: the
// process the monitor started for it, a process of the calculation program
// with the row's launch arguments (started by any monitor on this host), and a
// process id the calculation program recorded for the row's model.
class CCalculationProcesses {
public:
    explicit CCalculationProcesses(QString databasePath);

    // Thread-safe: the minute tick starts, the display refresh asks.
    void Remember(int key, qint64 processId);

    // The keys of the rows whose run flag (flagged, as read before) is set while no sign of a
    // running calculation is found. The flags are read once more after the processes: a
    // calculation that cleared its flag and ended meanwhile left no stale flag.
    QSet<int> StaleFlags(CSystemDatabase& db, const QVector<CScheduleRow>& rows,
                         const std::function<bool(int key)>& flagged);

    // Alive and not a zombie; a process of another user counts as alive.
    static bool IsAlive(qint64 processId);

private:
    static bool IsAliveWithModel(qint64 processId, const QString& model);
    // The keys that running processes on this host carry as launch arguments for this database.
    QSet<int> KeysOfRunningLaunches() const;

    const QByteArray m_databasePath;
    mutable QMutex m_mutex;
    QHash<int, qint64> m_started;
};
