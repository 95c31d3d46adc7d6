#pragma once

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QVector>
#include <functional>

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

    using RecordedIds = std::function<QVector<qint64>(const QString& model)>;
    // The keys of the flagged rows for which no sign of a running calculation is found.
    QSet<int> WithoutProcess(const QVector<CScheduleRow>& flagged, const RecordedIds& recorded);

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
