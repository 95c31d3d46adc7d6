#include "schedule/calculationprocesses.h"

#include "data/schedulerow.h"
#include "monitordb/systemdatabase.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <csignal>

namespace {

// The launch arguments follow the program (or an interpreter and its script):
// model file, macro, key, permission, monitor database, 1.
constexpr int kKeyOffset = 2;
constexpr int kDatabaseOffset = 4;
constexpr int kLaunchArguments = 6;

QByteArray ReadWhole(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// Recorded process ids stay for days, and the system hands them out again: only
// a process that still names the model is taken for its calculation.
bool CCalculationProcesses::IsAliveWithModel(qint64 processId, const QString& model) {
    return IsAlive(processId) &&
           ReadWhole(QStringLiteral("/proc/%1/cmdline").arg(processId)).contains(model.toUtf8());
}

CCalculationProcesses::CCalculationProcesses(QString databasePath)
    : m_databasePath(databasePath.toUtf8()) {}

void CCalculationProcesses::Remember(int key, qint64 processId) {
    const QMutexLocker lock(&m_mutex);
    m_started.insert(key, processId);
}

bool CCalculationProcesses::IsAlive(qint64 processId) {
    if (processId <= 0)
        return false;
    if (::kill(pid_t(processId), 0) != 0 && errno != EPERM)
        return false;
    // The third field of stat, after the command name in brackets, is the state.
    const QByteArray stat = ReadWhole(QStringLiteral("/proc/%1/stat").arg(processId));
    const qsizetype nameEnd = stat.lastIndexOf(')');
    return nameEnd < 0 || stat.mid(nameEnd + 2, 1) != "Z";
}

QSet<int> CCalculationProcesses::KeysOfRunningLaunches() const {
    QSet<int> keys;
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& process : processes) {
        if (process.isEmpty() || !process.at(0).isDigit())
            continue;
        const QByteArray commandLine = ReadWhole(QStringLiteral("/proc/%1/cmdline").arg(process));
        if (!commandLine.contains(m_databasePath))
            continue;
        const QList<QByteArray> arguments = commandLine.split('\0');
        for (qsizetype i = 0; i + kLaunchArguments <= arguments.size(); ++i) {
            if (arguments.at(i + kDatabaseOffset) != m_databasePath)
                continue;
            bool isNumber = false;
            const int key = arguments.at(i + kKeyOffset).toInt(&isNumber);
            if (isNumber)
                keys.insert(key);
        }
    }
    return keys;
}

QSet<int> CCalculationProcesses::StaleFlags(CSystemDatabase& db, const QVector<CScheduleRow>& rows,
                                            const std::function<bool(int key)>& flagged) {
    QSet<int> stale;
    if (std::none_of(rows.begin(), rows.end(),
                     [&flagged](const CScheduleRow& row) { return flagged(row.key); }))
        return stale;
    QHash<int, qint64> started;
    {
        const QMutexLocker lock(&m_mutex);
        started = m_started;
    }
    const QSet<int> launched = KeysOfRunningLaunches();
    for (const CScheduleRow& row : rows) {
        if (!flagged(row.key) || launched.contains(row.key) || IsAlive(started.value(row.key)))
            continue;
        const QVector<qint64> ids = db.RecordedProcessIds(row.model);
        if (std::none_of(ids.begin(), ids.end(),
                         [&row](qint64 id) { return IsAliveWithModel(id, row.model); }))
            stale.insert(row.key);
    }
    if (stale.isEmpty())
        return stale;
    const QHash<int, qint64> again = db.StoredRunFlags();
    for (auto key = stale.begin(); key != stale.end();)
        key = again.value(*key) != 0 ? std::next(key) : stale.erase(key);
    return stale;
}
