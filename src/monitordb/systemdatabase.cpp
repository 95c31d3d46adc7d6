#include "systemdatabase.h"

#include "app/diagnostics.h"
#include "app/messenger.h"
#include "app/textutil.h"
#include "daoexception.h"
#include "schedule/schedulemodel.h"
#include "schedule/starttime.h"
#include "sqlitetransaction.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

namespace {

// A statement waits this long for a lock that the calculation program holds.
constexpr int kBusyTimeoutMs = 30000;
// A file that cannot be opened for another reason is given this long to recover
// (a copy still being written, say) before the operator is told.
constexpr int kUnusableGiveUpMs = 5000;
// A file that stays locked is waited for this long in all before the operator is told.
constexpr int kBusyGiveUpMs = 120000;

const QString kNoTime = QStringLiteral("Uppgift saknas");

CDaoException NoRow(int key) {
    return CDaoException(
        QStringLiteral("Det finns ingen rad med nyckeln %1 i tabellen MONITOR.").arg(key), 0);
}

QString RunFlagName(int key) {
    return QStringLiteral("RUNFLAGG%1").arg(key);
}

} // namespace

CSystemDatabase::CSystemDatabase(QString path, CMessenger& messenger)
    : m_path(std::move(path)), m_messenger(messenger) {}

bool CSystemDatabase::Open() {
    m_lastOpenError.clear();
    m_lastOpenBusy = false;
    if (!QFileInfo::exists(m_path)) {
        CreateDatabase();
        return true;
    }
    try {
        m_db.Open(m_path, CSqliteConnection::OpenMode::ExistingFile, kBusyTimeoutMs);
        EnsureSchema();
        return true;
    } catch (const CDaoException& e) {
        m_db.Close();
        m_lastOpenError = e.ErrorText();
        m_lastOpenBusy = e.IsBusy();
        qCDebug(lcDatabase) << "Monitordatabasen kunde inte öppnas:" << m_lastOpenError;
        return false;
    }
}

bool CSystemDatabase::OpenRetrying(int intervalMs) {
    QElapsedTimer waited;
    waited.start();
    while (!Open()) {
        const int giveUpMs = m_lastOpenBusy ? kBusyGiveUpMs : kUnusableGiveUpMs;
        if (waited.elapsed() >= giveUpMs) {
            m_messenger.ShowMessage(
                QStringLiteral("Monitordatabasen %1 kan inte öppnas.\n%2\n"
                               "Kontrollera att filen är en monitordatabas och att den går "
                               "att skriva i.")
                    .arg(m_path, m_lastOpenError));
            return false;
        }
        QThread::msleep(intervalMs);
    }
    return true;
}

void CSystemDatabase::Close() {
    m_db.Close();
}

void CSystemDatabase::CreateDatabase() {
    try {
        m_db.Open(m_path, CSqliteConnection::OpenMode::CreateFile, kBusyTimeoutMs);
        // The calculation program writes while the monitor reads.
        m_db.Execute(QStringLiteral("PRAGMA journal_mode=WAL"));
        CSqliteTransaction transaction(m_db);
        // Two monitors starting at once may both find no file; only one creates the tables.
        if (!m_db
                 .Prepare(QStringLiteral(
                     "SELECT name FROM sqlite_master WHERE type = 'table' AND name = 'MONITOR'"))
                 .Step()) {
            m_db.Execute(QStringLiteral(
                "CREATE TABLE MONITOR (TID TEXT(20), MODELL TEXT(255), MAKRO TEXT(50), "
                "NYCKEL INTEGER, IMPLEMENTED INTEGER, COUNTER INTEGER)"));
            m_db.Execute(QStringLiteral("CREATE TABLE SEKVENS (NAMN TEXT(20), NUMMER INTEGER)"));
            m_db.Execute(QStringLiteral("INSERT INTO SEKVENS (NAMN, NUMMER) VALUES('POST', 1)"));
            m_db.Execute(QStringLiteral(
                "CREATE TABLE IF NOT EXISTS PID (TID TEXT(20), PID INTEGER, MODELL TEXT(255))"));
        }
        EnsureSchema();
        transaction.Commit();
    } catch (const CDaoException& e) {
        m_messenger.ShowMessage(e.ErrorText() +
                                QStringLiteral("\nFel Vid skapandet av monitortabellen"));
    }
}

// Brings older files up to date: the PID table, and the lookup indexes that the
// per-row statements need to stay fast with many rows. A file that lacks MONITOR
// or SEKVENS is left as it is.
void CSystemDatabase::EnsureSchema() {
    CSqliteStatement query = m_db.Prepare(
        QStringLiteral("SELECT name FROM sqlite_master WHERE name IN "
                       "('PID', 'MONITOR', 'SEKVENS', 'MONITOR_NYCKEL', 'SEKVENS_NAMN')"));
    QStringList present;
    while (query.Step())
        present << query.ColumnText(0);
    if (!present.contains(QLatin1String("PID")))
        m_db.Execute(
            QStringLiteral("CREATE TABLE PID (TID TEXT(20), PID INTEGER, MODELL TEXT(255))"));
    if (present.contains(QLatin1String("MONITOR")) &&
        !present.contains(QLatin1String("MONITOR_NYCKEL")))
        m_db.Execute(
            QStringLiteral("CREATE INDEX IF NOT EXISTS MONITOR_NYCKEL ON MONITOR (NYCKEL)"));
    if (present.contains(QLatin1String("SEKVENS")) &&
        !present.contains(QLatin1String("SEKVENS_NAMN")))
        m_db.Execute(QStringLiteral("CREATE INDEX IF NOT EXISTS SEKVENS_NAMN ON SEKVENS (NAMN)"));
}

// ---- schedule rows ----------------------------------------------------------

bool CSystemDatabase::RowExists(int key) {
    return m_db.Cached(QStringLiteral("SELECT NYCKEL FROM MONITOR WHERE NYCKEL = ?"))
        ->Bind(1, key)
        .Step();
}

int CSystemDatabase::SaveRow(const QString& tid, const QString& model, const QString& macro,
                             int key, int implemented) {
    try {
        CSqliteTransaction transaction(m_db);
        int result = key;
        if (RowExists(key)) {
            m_db.Prepare(QStringLiteral("UPDATE MONITOR SET TID = ?,MODELL = ?, MAKRO = ?,"
                                        "IMPLEMENTED = ?  WHERE NYCKEL = ?"))
                .Bind(1, tid)
                .Bind(2, model)
                .Bind(3, macro)
                .Bind(4, implemented)
                .Bind(5, key)
                .Run();
        } else {
            result = key == 0 ? 0 : AllocateKey();
            if (result < 0)
                return -1;
            m_db.Prepare(QStringLiteral("INSERT INTO MONITOR (TID, MODELL, MAKRO, NYCKEL,"
                                        "IMPLEMENTED) VALUES(?, ?, ?,?, ?)"))
                .Bind(1, tid)
                .Bind(2, model)
                .Bind(3, macro)
                .Bind(4, result)
                .Bind(5, implemented)
                .Run();
        }
        transaction.Commit();
        return result;
    } catch (const CDaoException& e) {
        m_messenger.ShowMessage(e.ErrorText() + QStringLiteral("\nKan inte spara raden"));
        return -1;
    }
}

// Key 0 belongs to the settings row; a counter that was missing starts there and
// is simply advanced once more.
int CSystemDatabase::AllocateKey() {
    int key = NextNumber(QStringLiteral("POST"), true);
    while (key == 0)
        key = NextNumber(QStringLiteral("POST"), true);
    return key;
}

bool CSystemDatabase::DeleteRow(int key) {
    try {
        m_db.Prepare(QStringLiteral("DELETE FROM MONITOR WHERE NYCKEL = ?")).Bind(1, key).Run();
        return true;
    } catch (const CDaoException& e) {
        m_messenger.ShowMessage(e.ErrorText());
        return false;
    }
}

void CSystemDatabase::LoadAllRows(CScheduleModel& list) {
    QVector<CScheduleLine> lines;
    try {
        CSqliteStatement rows = m_db.Prepare(
            QStringLiteral("SELECT TID, MODELL, MAKRO, NYCKEL, IMPLEMENTED FROM MONITOR"));
        while (rows.Step()) {
            CScheduleLine line;
            line.key = rows.ColumnInt(3);
            if (line.key == 0)
                continue;
            line.startTime = StartTime::DisplayForm(TrimmedRight(rows.ColumnText(0)));
            line.model = TrimmedRight(rows.ColumnText(1));
            line.macro = TrimmedRight(rows.ColumnText(2));
            line.stateImage = rows.ColumnInt(4) != 0 ? 2 : 1;
            lines << line;
        }
    } catch (const CDaoException& e) {
        m_messenger.ShowMessage(e.ErrorText());
    }
    list.SetLines(std::move(lines));
}

void CSystemDatabase::LoadRow(int key, QString& tid, QString& model, QString& macro,
                              int& implemented) {
    try {
        CSqliteStatement row = m_db.Prepare(
            QStringLiteral("SELECT TID, MODELL, MAKRO, IMPLEMENTED FROM MONITOR WHERE NYCKEL = ?"));
        if (!row.Bind(1, key).Step())
            throw NoRow(key);
        tid = StartTime::DisplayForm(TrimmedRight(row.ColumnText(0)));
        model = TrimmedRight(row.ColumnText(1));
        macro = TrimmedRight(row.ColumnText(2));
        implemented = row.ColumnInt(3);
    } catch (const CDaoException& e) {
        m_messenger.ShowMessage(e.ErrorText());
    }
}

bool CSystemDatabase::SetImplemented(int implemented, int key) {
    try {
        m_db.Prepare(
                QStringLiteral("UPDATE MONITOR SET IMPLEMENTED = ?, COUNTER = 0 WHERE NYCKEL = ? "))
            .Bind(1, implemented)
            .Bind(2, key)
            .Run();
        return true;
    } catch (const CDaoException& e) {
        m_messenger.ShowMessage(e.ErrorText());
        return false;
    }
}

bool CSystemDatabase::IsImplemented(int key) {
    const CStatementLease row =
        m_db.Cached(QStringLiteral("SELECT IMPLEMENTED FROM MONITOR WHERE NYCKEL = ?"));
    if (!row->Bind(1, key).Step())
        throw NoRow(key);
    return row->ColumnInt(0) != 0;
}

int CSystemDatabase::GetCounter(int key) {
    const CStatementLease row =
        m_db.Cached(QStringLiteral("SELECT COUNTER FROM MONITOR WHERE NYCKEL = ?"));
    if (!row->Bind(1, key).Step())
        throw NoRow(key);
    return row->ColumnInt(0);
}

bool CSystemDatabase::SetCounter(int key, int value) {
    try {
        m_db.Cached(QStringLiteral("UPDATE MONITOR SET COUNTER = ? WHERE NYCKEL = ?"))
            ->Bind(1, value)
            .Bind(2, key)
            .Run();
        return true;
    } catch (const CDaoException& e) {
        m_messenger.ShowMessage(QStringLiteral("Det gick inte att uppdatera COUNTER\n") +
                                e.ErrorText());
        return false;
    }
}

QString CSystemDatabase::ReadTid(int key) {
    const CStatementLease row =
        m_db.Cached(QStringLiteral("SELECT TID FROM MONITOR WHERE NYCKEL = ?"));
    if (!row->Bind(1, key).Step())
        throw NoRow(key);
    return TrimmedRight(row->ColumnText(0));
}

bool CSystemDatabase::StepCounter(int key) {
    QString tid;
    try {
        tid = ReadTid(key);
    } catch (const CDaoException& e) {
        m_messenger.ShowMessage(e.ErrorText());
        return false;
    }
    // Read, count down and store as one, so two monitors on one file cannot both
    // take the same turn.
    CSqliteTransaction transaction(m_db);
    const bool due = StepCounter(key, tid, GetCounter(key));
    transaction.Commit();
    return due;
}

bool CSystemDatabase::StepCounter(int key, const QString& tid, int counter) {
    const int left = counter - 1;
    const bool due = left <= 0;
    SetCounter(key, due ? IntervalMinutes(tid) : left);
    return due;
}

void CSystemDatabase::SeedCyclicCounters(const std::function<int()>& random) {
    QVector<QPair<int, int>> cyclic; // key, interval
    CSqliteStatement rows = m_db.Prepare(QStringLiteral("SELECT TID, NYCKEL FROM MONITOR"));
    while (rows.Step()) {
        const QString tid = TrimmedRight(rows.ColumnText(0));
        if (tid.size() == 5)
            cyclic.append({rows.ColumnInt(1), IntervalMinutes(tid)});
    }
    CSqliteTransaction transaction(m_db);
    for (const auto& [key, interval] : cyclic)
        SetCounter(key, int(1 + interval * (random() / 32767.0)));
    transaction.Commit();
}

QString CSystemDatabase::GetProgramPath() {
    if (!RowExists(0))
        return {};
    CSqliteStatement row =
        m_db.Prepare(QStringLiteral("SELECT MODELL FROM MONITOR WHERE NYCKEL = 0"));
    if (!row.Step())
        throw NoRow(0);
    return row.ColumnText(0);
}

int CSystemDatabase::IntervalMinutes(const QString& tid) {
    return LeadingNumber(tid.left(2)) * 60 + LeadingNumber(tid.right(2));
}

// ---- named numbers -----------------------------------------------------------

int CSystemDatabase::ReadOrInsertNumber(const QString& name) {
    {
        const CStatementLease row =
            m_db.Cached(QStringLiteral("SELECT NUMMER FROM SEKVENS WHERE NAMN = ?"));
        if (row->Bind(1, name).Step())
            return row->ColumnInt(0);
    }
    m_db.Cached(QStringLiteral("INSERT INTO SEKVENS (NAMN, NUMMER) VALUES(?,0)"))
        ->Bind(1, name)
        .Run();
    return 0;
}

int CSystemDatabase::NextNumber(const QString& name, bool advance) {
    if (!advance)
        return ReadOrInsertNumber(name);
    // Reading and advancing in one write transaction: two monitors saving rows at
    // the same moment never get the same number.
    CSqliteTransaction transaction(m_db);
    const int value = ReadOrInsertNumber(name);
    try {
        m_db.Prepare(QStringLiteral("UPDATE SEKVENS SET NUMMER = ? WHERE NAMN = ? "))
            .Bind(1, value + 1)
            .Bind(2, name)
            .Run();
        transaction.Commit();
    } catch (const CDaoException& e) {
        m_messenger.ShowMessage(
            QStringLiteral("Posten %1 gick ej att uppdatera i tabellen SEKVENS\n").arg(name) +
            e.ErrorText());
        return -1;
    }
    return value;
}

int CSystemDatabase::GetSetting(const QString& name) {
    return ReadOrInsertNumber(name);
}

bool CSystemDatabase::SettingExists(const QString& name) {
    return m_db.Prepare(QStringLiteral("SELECT NUMMER FROM SEKVENS WHERE NAMN = ?"))
        .Bind(1, name)
        .Step();
}

bool CSystemDatabase::SetSetting(const QString& name, int value) {
    CSqliteTransaction transaction(m_db);
    if (!SettingExists(name))
        m_db.Prepare(QStringLiteral("INSERT INTO SEKVENS (NAMN, NUMMER) VALUES(?,0)"))
            .Bind(1, name)
            .Run();
    m_db.Prepare(QStringLiteral("UPDATE SEKVENS SET NUMMER = ? WHERE NAMN = ? "))
        .Bind(1, value)
        .Bind(2, name)
        .Run();
    transaction.Commit();
    return true;
}

bool CSystemDatabase::IsRunFlagSet(int key) {
    try {
        return ReadOrInsertNumber(RunFlagName(key)) != 0;
    } catch (const CDaoException& e) {
        qCInfo(lcDatabase) << "Runflaggan kunde inte läsas:" << e.ErrorText();
        return false;
    }
}

void CSystemDatabase::ResetRunFlag(int key) {
    ResetRunFlags({key});
}

// One transaction for all, so resetting thousands of rows costs one disk flush.
void CSystemDatabase::ResetRunFlags(const QVector<int>& keys) {
    try {
        CSqliteTransaction transaction(m_db);
        for (int key : keys)
            m_db.Cached(QStringLiteral("UPDATE SEKVENS SET NUMMER = 0 WHERE NAMN = ?"))
                ->Bind(1, RunFlagName(key))
                .Run();
        transaction.Commit();
    } catch (const CDaoException& e) {
        m_messenger.ShowMessage(QStringLiteral("Det gick inte att återställa runflaggan\n") +
                                e.ErrorText());
    }
}

QString CSystemDatabase::GetTimeText(int which, int key) {
    const QString name = (which == 0 ? QStringLiteral("CALC_TIME") : QStringLiteral("MES_TIME")) +
                         QString::number(key);
    try {
        CSqliteStatement row =
            m_db.Prepare(QStringLiteral("SELECT NUMMER FROM SEKVENS WHERE NAMN = ?"));
        return TimeText(row.Bind(1, name).Step() ? row.ColumnInt(0) : 0);
    } catch (const CDaoException&) {
        return kNoTime;
    }
}

QString CSystemDatabase::TimeText(qint64 secondsSinceEpoch) {
    if (secondsSinceEpoch == 0)
        return kNoTime;
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

bool CSystemDatabase::PurgePid(const QDateTime& now, int days) {
    const QString cutOff =
        now.addSecs(-qint64(days) * 24 * 3600).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    try {
        m_db.Prepare(QStringLiteral("DELETE FROM PID WHERE TID < ?")).Bind(1, cutOff).Run();
        return true;
    } catch (const CDaoException& e) {
        m_messenger.ShowMessage(e.ErrorText());
        return false;
    }
}

// ---- whole-list reads ----------------------------------------------------------

// Names are the prefix and a key in plain decimal, as "%s%d" writes it; the first
// stored row of a name counts, as a lookup by that name would find it.
QHash<int, int> CSystemDatabase::NumbersWithPrefix(const QString& prefix) {
    CSqliteStatement rows = m_db.Prepare(
        QStringLiteral("SELECT NAMN, NUMMER FROM SEKVENS WHERE NAMN GLOB ? ORDER BY rowid"));
    rows.Bind(1, prefix + QLatin1Char('*'));
    QHash<int, int> numbers;
    while (rows.Step()) {
        const QString suffix = rows.ColumnText(0).mid(prefix.size());
        bool isNumber = false;
        const int key = suffix.toInt(&isNumber);
        if (isNumber && QString::number(key) == suffix && !numbers.contains(key))
            numbers.insert(key, rows.ColumnInt(1));
    }
    return numbers;
}

QHash<int, bool> CSystemDatabase::RunFlags(const QVector<int>& keys) {
    const QHash<int, int> stored = NumbersWithPrefix(QStringLiteral("RUNFLAGG"));
    QHash<int, bool> flags;
    QVector<int> missing;
    for (int key : keys) {
        const auto found = stored.constFind(key);
        flags.insert(key, found != stored.constEnd() && *found != 0);
        if (found == stored.constEnd())
            missing << key;
    }
    if (!missing.isEmpty()) {
        CSqliteTransaction transaction(m_db);
        CSqliteStatement insert =
            m_db.Prepare(QStringLiteral("INSERT INTO SEKVENS (NAMN, NUMMER) VALUES(?,0)"));
        for (int key : missing) {
            insert.Bind(1, RunFlagName(key)).Run();
            insert.Reset();
        }
        transaction.Commit();
    }
    return flags;
}

QHash<int, CSystemDatabase::RowState> CSystemDatabase::RowStates() {
    CSqliteStatement rows = m_db.Prepare(
        QStringLiteral("SELECT NYCKEL, IMPLEMENTED, COUNTER, TID FROM MONITOR ORDER BY rowid"));
    QHash<int, RowState> states;
    while (rows.Step()) {
        const int key = rows.ColumnInt(0);
        if (!states.contains(key))
            states.insert(
                key, {rows.ColumnInt(1) != 0, rows.ColumnInt(2), TrimmedRight(rows.ColumnText(3))});
    }
    return states;
}

QHash<int, int> CSystemDatabase::StoredTimes(int which) {
    return NumbersWithPrefix(which == 0 ? QStringLiteral("CALC_TIME") : QStringLiteral("MES_TIME"));
}
