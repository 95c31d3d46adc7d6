#include "monitordb/systemdatabase.h"

#include "base/diagnostics.h"
#include "base/textutil.h"
#include "files/programpaths.h"
#include "monitordb/databaseerror.h"
#include "monitordb/filesystem.h"
#include "monitordb/sqlitetransaction.h"
#include "rules/starttime.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kPost = QStringLiteral("POST");
// Enough for the file format's version bytes at 18 and 19.
constexpr int kHeaderBytes = 100;
const QString kLastMinute = QStringLiteral("MINUT_SENAST");
const QString kHighestMinute = QStringLiteral("MINUT_HOGSTA");
const QString kClaimer = QStringLiteral("MINUT_AV");
const QStringList kRequiredTables = {QStringLiteral("MONITOR"), QStringLiteral("SEKVENS")};
// Kept in the file's user_version: a file that has it has every later table, column and index.
constexpr int kSchemaVersion = 4;
// Columns that came after their table; added to older files.
const QVector<QPair<QString, QString>> kLaterColumns = {
    {QStringLiteral("KORNINGAR"), QStringLiteral("AGARE INTEGER")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("VARD TEXT(255)")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("TID TEXT(20)")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("MINUT INTEGER")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("PROCESS INTEGER")},
    // What a run's supervisor records: its process id (0 until it is known), its heartbeat,
    // the exact start and end, how the calculation ended and what it cost, its output file,
    // who asked for it to be cancelled, whether the supervisor had to clear the run flag and
    // what became of the failure command.
    {QStringLiteral("KORNINGAR"), QStringLiteral("VAKT INTEGER")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("HJARTSLAG INTEGER")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("START_MS INTEGER")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("SLUT_MS INTEGER")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("KOD INTEGER")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("SIGNAL INTEGER")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("CPU_MS INTEGER")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("MINNE_KB INTEGER")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("UTSKRIFT TEXT(255)")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("AVBRYT TEXT(255)")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("ATERSTALLD INTEGER")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("VID_FEL TEXT(255)")},
    // A run handed to the Slurm cluster: its batch job and when it was submitted.
    {QStringLiteral("KORNINGAR"), QStringLiteral("JOBB INTEGER")},
    {QStringLiteral("KORNINGAR"), QStringLiteral("KOAD INTEGER")},
    {QStringLiteral("SCHEMALAGGARE"), QStringLiteral("ID INTEGER")},
    {QStringLiteral("SCHEMALAGGARE"), QStringLiteral("PROCESSTART TEXT(100)")},
    {QStringLiteral("SCHEMALAGGARE"), QStringLiteral("HJARTSLAG INTEGER")},
    {QStringLiteral("SCHEMALAGGARE"), QStringLiteral("TIDSZON TEXT(100)")},
    {QStringLiteral("SCHEMALAGGARE"), QStringLiteral("UTCOFFSET INTEGER")},
    {QStringLiteral("SCHEMALAGGARE"), QStringLiteral("ANSPRAK INTEGER")},
    {QStringLiteral("SCHEMALAGGARE"), QStringLiteral("KLOCKA_EFTER INTEGER")},
    {QStringLiteral("SCHEMALAGGARE"), QStringLiteral("KLOCKA_DIFF INTEGER")},
};
// A run that shows no sign of running this long after its start never started.
constexpr qint64 kLongestSilenceSeconds = 5 * 60;
const QString kRunColumns = QStringLiteral(
    "NYCKEL, MODELL, MAKRO, START, IGANG, SLUT, UTFALL, ORSAK, rowid, TID, AGARE, VARD, PROCESS, "
    "VAKT, HJARTSLAG, START_MS, SLUT_MS, KOD, SIGNAL, CPU_MS, MINNE_KB, UTSKRIFT, AVBRYT, "
    "ATERSTALLD, VID_FEL, JOBB, KOAD");
constexpr int kRunColumnCount = 27;

// Columns TID, MODELL, MAKRO, NYCKEL, IMPLEMENTED, COUNTER; the start time in display form.
CScheduleRow RowFrom(const CSqliteStatement& stored) {
    CScheduleRow row;
    row.startTime = StartTime::DisplayForm(TrimmedRight(stored.ColumnText(0)));
    row.model = TrimmedRight(stored.ColumnText(1));
    row.macro = TrimmedRight(stored.ColumnText(2));
    row.key = stored.ColumnInt(3);
    row.implemented = SaturatedInt(stored.ColumnInt64(4));
    row.active = row.implemented != 0;
    row.counter = SaturatedInt(stored.ColumnInt64(5));
    return row;
}

CRun RunFrom(const CSqliteStatement& row) {
    CRun run;
    run.key = row.ColumnInt(0);
    run.model = row.ColumnText(1);
    run.macro = row.ColumnText(2);
    run.launched = row.ColumnInt64(3);
    if (!row.IsNull(4))
        run.seenRunning = row.ColumnInt64(4);
    if (!row.IsNull(5))
        run.ended = row.ColumnInt64(5);
    run.outcome = OutcomeFromStored(row.ColumnText(6), run.ended.has_value());
    run.reason = row.ColumnText(7);
    run.id = row.ColumnInt64(8);
    run.startTime = row.ColumnText(9);
    run.owner = row.ColumnInt64(10);
    run.host = row.ColumnText(11);
    run.processId = row.ColumnInt64(12);
    run.supervised = !row.IsNull(13);
    run.supervisor = row.ColumnInt64(13);
    run.heartbeat = row.ColumnInt64(14);
    const auto optional = [&row](int column) {
        return row.IsNull(column) ? std::nullopt : std::optional<qint64>(row.ColumnInt64(column));
    };
    run.startMs = optional(15);
    run.endMs = optional(16);
    run.exitCode = optional(17);
    run.signal = optional(18);
    run.cpuMs = optional(19);
    run.peakMemoryKb = optional(20);
    run.outputPath = row.ColumnText(21);
    run.cancelledBy = row.ColumnText(22);
    run.flagCleared = row.ColumnInt64(23) != 0;
    run.failureCommand = row.ColumnText(24);
    run.jobId = row.ColumnInt64(25);
    run.queuedAt = optional(26);
    return run;
}

QString RunFlagName(int key) {
    return QStringLiteral("RUNFLAGG%1").arg(key);
}

QString TimePrefix(StoredTime which) {
    return which == StoredTime::Calculation ? QStringLiteral("CALC_TIME")
                                            : QStringLiteral("MES_TIME");
}

} // namespace

CSystemDatabase::CSystemDatabase(QString path, CBusyWait wait)
    : m_path(std::move(path)), m_wait(wait), m_fileSystemType(FileSystemTypeOf) {}

void CSystemDatabase::Open() {
    OpenFile(false);
}

void CSystemDatabase::OpenOrCreate() {
    OpenFile(true);
}

CDatabaseError CSystemDatabase::Error(const QString& text, int code) const {
    return CDatabaseError(text, code, m_path);
}

CDatabaseError CSystemDatabase::NoRow(int key) const {
    return Error(QStringLiteral("Det finns ingen rad med nyckeln %1 i tabellen MONITOR.").arg(key),
                 CDatabaseError::kNoRow);
}

void CSystemDatabase::OpenFile(bool create) {
    m_identity.reset();
    try {
        const bool exists = QFileInfo::exists(m_path);
        if (!exists && !create)
            throw Error(QStringLiteral("filen finns inte"), CDatabaseError::kNoFile);
        MendWalFileModes();
        m_db.Open(m_path,
                  exists ? CSqliteConnection::OpenMode::ExistingFile
                         : CSqliteConnection::OpenMode::CreateFile,
                  m_wait);
        RefuseWalOnNetwork();
        EnsureSchema(create);
        m_identity = IdentityOf(m_path);
    } catch (const CDatabaseError& e) {
        m_db.Close();
        throw;
    }
}

// A listing reads a file it must leave exactly as it found it. The engine creates the
// WAL files for a reader of a WAL file and cannot remove them again when it may not
// write; a WAL file that no program has open (it has no -wal file) is therefore read
// as immutable, which needs neither.
void CSystemDatabase::OpenForReading() {
    m_identity.reset();
    try {
        if (!QFileInfo::exists(m_path))
            throw Error(QStringLiteral("filen finns inte"), CDatabaseError::kNoFile);
        m_db.Open(m_path, CSqliteConnection::OpenMode::ReadOnly, m_wait);
        RefuseWalOnNetwork();
        if (IsWalHeader(m_db.ReadFileHeader(kHeaderBytes)) &&
            !QFileInfo::exists(m_path + QStringLiteral("-wal")))
            m_db.Open(m_path, CSqliteConnection::OpenMode::Immutable, m_wait);
        for (const QString& table : kRequiredTables) {
            if (!HasTable(table))
                throw Error(QStringLiteral("tabellen %1 saknas.").arg(table),
                            CDatabaseError::kIncompleteFile);
        }
        m_identity = IdentityOf(m_path);
    } catch (const CDatabaseError&) {
        m_db.Close();
        throw;
    }
}

// Not even read: the engine would try to share the WAL index over the network. The
// header is read through the engine's own descriptor, never one of ours: closing
// any descriptor of the file drops every lock this process's connections hold on it.
void CSystemDatabase::RefuseWalOnNetwork() const {
    if (IsOnNetwork() && IsWalHeader(m_db.ReadFileHeader(kHeaderBytes)))
        throw Error(QStringLiteral("WAL-läge på en nätverksenhet"), CDatabaseError::kWalOnNetwork);
}

// The engine gives the WAL files the mode the database had when it made them. Made
// while the database was read-only, they stay so after the operator has given the
// database its rights back, and every write fails; the files this user owns follow
// the database again.
void CSystemDatabase::MendWalFileModes() const {
    struct stat database;
    if (::stat(QFile::encodeName(m_path).constData(), &database) != 0 ||
        !(database.st_mode & S_IWUSR))
        return;
    for (const char* suffix : {"-wal", "-shm"}) {
        const QByteArray file = QFile::encodeName(m_path + QLatin1String(suffix));
        struct stat made;
        if (::lstat(file.constData(), &made) == 0 && S_ISREG(made.st_mode) &&
            made.st_uid == ::geteuid() && !(made.st_mode & S_IWUSR))
            ::chmod(file.constData(), database.st_mode & 0666);
    }
}

bool CSystemDatabase::HasTable(const QString& table) {
    return m_db
        .Cached(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"))
        ->Bind(1, table)
        .Step();
}

bool CSystemDatabase::IsOnNetwork() const {
    const std::optional<long> type = m_fileSystemType(QFileInfo(m_path).absolutePath());
    return type && IsNetworkFileSystem(*type);
}

void CSystemDatabase::Close() {
    m_db.Close();
}

std::optional<CSystemDatabase::FileIdentity> CSystemDatabase::IdentityOf(const QString& path) {
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return FileIdentity{status.st_dev, status.st_ino};
}

// A file without any table is a new file (a crash may have left it before its
// tables were committed). A file with some of the monitor's tables but not all
// is somebody else's or damaged, and is left as it is. What came later is added
// to older files.
void CSystemDatabase::EnsureSchema(bool mayCreate) {
    CSqliteStatement query = m_db.Prepare(QStringLiteral("SELECT type, name FROM sqlite_master"));
    QStringList tables;
    while (query.Step()) {
        if (query.ColumnText(0) == QLatin1String("table"))
            tables << query.ColumnText(1);
    }
    if (tables.isEmpty()) {
        if (!mayCreate)
            throw Error(QStringLiteral("filen innehåller inga tabeller."),
                        CDatabaseError::kIncompleteFile);
        CreateSchema();
        return;
    }
    for (const QString& table : kRequiredTables) {
        if (!tables.contains(table))
            throw Error(QStringLiteral("tabellen %1 saknas.").arg(table),
                        CDatabaseError::kIncompleteFile);
    }
    if (SchemaVersion() >= kSchemaVersion)
        return;
    CSqliteTransaction transaction(m_db);
    // Another monitor may have brought the file up to date while this one waited.
    if (SchemaVersion() < kSchemaVersion)
        CreateLaterTables();
    transaction.Commit();
}

int CSystemDatabase::SchemaVersion() const {
    CSqliteStatement version = m_db.Prepare(QStringLiteral("PRAGMA user_version"));
    return version.Step() ? version.ColumnInt(0) : 0;
}

bool CSystemDatabase::HasColumn(const QString& table, const QString& column) const {
    CSqliteStatement columns =
        m_db.Prepare(QStringLiteral("SELECT 1 FROM pragma_table_info(?) WHERE name = ?"));
    return columns.Bind(1, table).Bind(2, column).Step();
}

// What came after the first files: the PID table, the lookup indexes the per-row
// statements need to stay fast with many rows, the schedulers on the file and the
// run history, whose open and pending runs have indexes of their own so that
// looking for them never reads the closed ones. The calculation program reads none
// of these but PID.
void CSystemDatabase::CreateLaterTables() {
    m_db.Execute(QStringLiteral("CREATE TABLE IF NOT EXISTS KORNINGAR (NYCKEL INTEGER, "
                                "MODELL TEXT(255), MAKRO TEXT(50), START INTEGER, IGANG INTEGER, "
                                "SLUT INTEGER, UTFALL TEXT(20), ORSAK TEXT(255))"));
    m_db.Execute(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS PID (TID TEXT(20), PID INTEGER, MODELL TEXT(255))"));
    m_db.Execute(QStringLiteral("CREATE TABLE IF NOT EXISTS SCHEMALAGGARE (VARD TEXT(255), "
                                "PROCESS INTEGER, TJANST INTEGER)"));
    for (const auto& [table, column] : kLaterColumns) {
        if (!HasColumn(table, column.section(QLatin1Char(' '), 0, 0)))
            m_db.Execute(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2").arg(table, column));
    }
    // The single row an older version kept of the latest claimer belongs to nobody now.
    m_db.Execute(QStringLiteral("DELETE FROM SCHEMALAGGARE WHERE ID IS NULL"));
    m_db.Execute(
        QStringLiteral("CREATE INDEX IF NOT EXISTS KORNINGAR_RAD ON KORNINGAR (NYCKEL, START)"));
    m_db.Execute(QStringLiteral(
        "CREATE INDEX IF NOT EXISTS KORNINGAR_OPPNA ON KORNINGAR (NYCKEL) WHERE SLUT IS NULL"));
    m_db.Execute(QStringLiteral("CREATE INDEX IF NOT EXISTS KORNINGAR_START ON KORNINGAR (START)"));
    m_db.Execute(QStringLiteral("CREATE INDEX IF NOT EXISTS KORNINGAR_VANTANDE ON KORNINGAR "
                                "(AGARE) WHERE UTFALL = 'väntar'"));
    m_db.Execute(QStringLiteral("CREATE INDEX IF NOT EXISTS KORNINGAR_ATERSTALLDA ON KORNINGAR "
                                "(NYCKEL) WHERE ATERSTALLD = 1"));
    m_db.Execute(QStringLiteral("CREATE TABLE IF NOT EXISTS TEXTINSTALLNING (NAMN TEXT(50) "
                                "PRIMARY KEY, VARDE TEXT(1000))"));
    m_db.Execute(QStringLiteral("CREATE INDEX IF NOT EXISTS MONITOR_NYCKEL ON MONITOR (NYCKEL)"));
    m_db.Execute(QStringLiteral("CREATE INDEX IF NOT EXISTS SEKVENS_NAMN ON SEKVENS (NAMN)"));
    m_db.Execute(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion));
}

// All tables in one transaction, so a crash leaves either no table or all of
// them; two monitors starting on one new file create them once. Only a complete
// file is switched to WAL, so that the calculation program can write while the
// monitor reads; on a network file system it keeps the rollback journal, which
// processes on several hosts can share.
void CSystemDatabase::CreateSchema() {
    try {
        CSqliteTransaction transaction(m_db);
        m_db.Execute(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS MONITOR (TID TEXT(20), MODELL TEXT(255), MAKRO TEXT(50), "
            "NYCKEL INTEGER, IMPLEMENTED INTEGER, COUNTER INTEGER)"));
        m_db.Execute(
            QStringLiteral("CREATE TABLE IF NOT EXISTS SEKVENS (NAMN TEXT(20), NUMMER INTEGER)"));
        CreateLaterTables();
        if (!ReadNumber(kPost))
            m_db.Execute(QStringLiteral("INSERT INTO SEKVENS (NAMN, NUMMER) VALUES('POST', 1)"));
        transaction.Commit();
        if (!IsOnNetwork())
            m_db.ExecuteWhenFree(QStringLiteral("PRAGMA journal_mode=WAL"));
    } catch (const CDatabaseError& e) {
        throw Error(e.ErrorText() + QStringLiteral("\nFel Vid skapandet av monitortabellen"),
                    e.EngineCode());
    }
}

// ---- schedule rows ----------------------------------------------------------

bool CSystemDatabase::RowExists(int key) {
    return m_db.Cached(QStringLiteral("SELECT NYCKEL FROM MONITOR WHERE NYCKEL = ?"))
        ->Bind(1, key)
        .Step();
}

int CSystemDatabase::SaveRow(const QString& tid, const QString& model, const QString& macro,
                             int key, int implemented) {
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
}

// Key 0 belongs to the settings row; a counter that was missing starts there and
// is simply advanced once more. A key beyond the column's range is no key.
int CSystemDatabase::AllocateKey() {
    qint64 key = NextNumber(kPost, true);
    while (key == 0)
        key = NextNumber(kPost, true);
    if (key > INT_MAX)
        throw Error(QStringLiteral("Posten POST har nått sitt högsta värde."),
                    CDatabaseError::kKeysExhausted);
    return int(key);
}

void CSystemDatabase::DeleteRow(int key) {
    m_db.Prepare(QStringLiteral("DELETE FROM MONITOR WHERE NYCKEL = ?")).Bind(1, key).Run();
}

QVector<CScheduleRow> CSystemDatabase::LoadAllRows() {
    QVector<CScheduleRow> rows;
    CSqliteStatement stored = m_db.Prepare(QStringLiteral(
        "SELECT TID, MODELL, MAKRO, NYCKEL, IMPLEMENTED, COUNTER FROM MONITOR ORDER BY rowid"));
    while (stored.Step()) {
        CScheduleRow row = RowFrom(stored);
        if (row.key != 0)
            rows << row;
    }
    return rows;
}

CScheduleRow CSystemDatabase::LoadRow(int key) {
    CSqliteStatement row = m_db.Prepare(QStringLiteral(
        "SELECT TID, MODELL, MAKRO, NYCKEL, IMPLEMENTED, COUNTER FROM MONITOR WHERE NYCKEL = ?"));
    if (!row.Bind(1, key).Step())
        throw NoRow(key);
    return RowFrom(row);
}

void CSystemDatabase::SetImplemented(int implemented, int key) {
    m_db.Prepare(
            QStringLiteral("UPDATE MONITOR SET IMPLEMENTED = ?, COUNTER = 0 WHERE NYCKEL = ? "))
        .Bind(1, implemented)
        .Bind(2, key)
        .Run();
}

bool CSystemDatabase::IsImplemented(int key) {
    const CStatementLease row =
        m_db.Cached(QStringLiteral("SELECT IMPLEMENTED FROM MONITOR WHERE NYCKEL = ?"));
    if (!row->Bind(1, key).Step())
        throw NoRow(key);
    return row->ColumnInt64(0) != 0;
}

int CSystemDatabase::GetCounter(int key) {
    const CStatementLease row =
        m_db.Cached(QStringLiteral("SELECT COUNTER FROM MONITOR WHERE NYCKEL = ?"));
    if (!row->Bind(1, key).Step())
        throw NoRow(key);
    return SaturatedInt(row->ColumnInt64(0));
}

void CSystemDatabase::SetCounter(int key, int value) {
    m_db.Cached(QStringLiteral("UPDATE MONITOR SET COUNTER = ? WHERE NYCKEL = ?"))
        ->Bind(1, value)
        .Bind(2, key)
        .Run();
}

void CSystemDatabase::SetCounters(const QHash<int, int>& counters) {
    CSqliteTransaction transaction(m_db);
    for (auto counter = counters.cbegin(); counter != counters.cend(); ++counter)
        SetCounter(counter.key(), counter.value());
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

// ---- named numbers -----------------------------------------------------------

std::optional<qint64> CSystemDatabase::ReadNumber(const QString& name) {
    const CStatementLease row =
        m_db.Cached(QStringLiteral("SELECT NUMMER FROM SEKVENS WHERE NAMN = ?"));
    if (!row->Bind(1, name).Step())
        return std::nullopt;
    return row->ColumnInt64(0);
}

// One statement that looks and inserts, inside a write transaction: two
// monitors that both miss a name store it once.
void CSystemDatabase::InsertNumberIfMissing(const QString& name) {
    m_db.Cached(QStringLiteral("INSERT INTO SEKVENS (NAMN, NUMMER) SELECT ?1, 0 "
                               "WHERE NOT EXISTS (SELECT 1 FROM SEKVENS WHERE NAMN = ?1)"))
        ->Bind(1, name)
        .Run();
}

qint64 CSystemDatabase::ReadOrInsertNumber(const QString& name) {
    if (const std::optional<qint64> stored = ReadNumber(name))
        return *stored;
    CSqliteTransaction transaction(m_db);
    InsertNumberIfMissing(name);
    const qint64 value = ReadNumber(name).value_or(0);
    transaction.Commit();
    return value;
}

qint64 CSystemDatabase::NextNumber(const QString& name, bool advance) {
    if (!advance)
        return ReadOrInsertNumber(name);
    // Reading and advancing in one write transaction: two monitors saving rows at
    // the same moment never get the same number.
    CSqliteTransaction transaction(m_db);
    const qint64 value = ReadOrInsertNumber(name);
    m_db.Prepare(QStringLiteral("UPDATE SEKVENS SET NUMMER = ? WHERE NAMN = ? "))
        .Bind(1, value + 1)
        .Bind(2, name)
        .Run();
    transaction.Commit();
    return value;
}

qint64 CSystemDatabase::GetSetting(const QString& name) {
    return ReadOrInsertNumber(name);
}

bool CSystemDatabase::SettingExists(const QString& name) {
    return ReadNumber(name).has_value();
}

void CSystemDatabase::SetSetting(const QString& name, qint64 value) {
    CSqliteTransaction transaction(m_db);
    InsertNumberIfMissing(name);
    m_db.Cached(QStringLiteral("UPDATE SEKVENS SET NUMMER = ? WHERE NAMN = ? "))
        ->Bind(1, value)
        .Bind(2, name)
        .Run();
    transaction.Commit();
}

bool CSystemDatabase::IsRunFlagSet(int key) {
    return ReadOrInsertNumber(RunFlagName(key)) != 0;
}

// A file opened for reading only may be older than the table.
QHash<QString, QString> CSystemDatabase::TextSettings() {
    if (!HasTable(QStringLiteral("TEXTINSTALLNING")))
        return {};
    const CStatementLease rows =
        m_db.Cached(QStringLiteral("SELECT NAMN, VARDE FROM TEXTINSTALLNING"));
    QHash<QString, QString> settings;
    while (rows->Step())
        settings.insert(rows->ColumnText(0), rows->ColumnText(1));
    return settings;
}

void CSystemDatabase::SetTextSetting(const QString& name, const QString& value) {
    m_db.Cached(QStringLiteral("INSERT INTO TEXTINSTALLNING (NAMN, VARDE) VALUES (?1, ?2) "
                               "ON CONFLICT (NAMN) DO UPDATE SET VARDE = ?2"))
        ->Bind(1, name)
        .Bind(2, value)
        .Run();
}

void CSystemDatabase::ResetRunFlags(const QVector<int>& keys) {
    CSqliteTransaction transaction(m_db);
    for (int key : keys)
        m_db.Cached(QStringLiteral("UPDATE SEKVENS SET NUMMER = 0 WHERE NAMN = ?"))
            ->Bind(1, RunFlagName(key))
            .Run();
    transaction.Commit();
}

qint64 CSystemDatabase::GetTime(StoredTime which, int key) {
    return ReadNumber(TimePrefix(which) + QString::number(key)).value_or(0);
}

// A span of no days keeps the records of the current day, as the log keeps its
// last day. The run history goes with the PID records, and the runs' output files with
// them once the records are gone; a run still open stays.
void CSystemDatabase::PurgePid(const QDateTime& now, int days) {
    const QDateTime cutOff =
        days > 0 ? now.addSecs(-qint64(days) * 24 * 3600) : QDateTime(now.date(), QTime(0, 0));
    CSqliteTransaction transaction(m_db);
    m_db.Prepare(QStringLiteral("DELETE FROM PID WHERE TID < ?"))
        .Bind(1, cutOff.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
        .Run();
    const CStatementLease purged =
        m_db.Cached(QStringLiteral("DELETE FROM KORNINGAR WHERE START < ? AND SLUT IS NOT NULL "
                                   "RETURNING UTSKRIFT"));
    purged->Bind(1, cutOff.toSecsSinceEpoch());
    QStringList outputFiles;
    while (purged->Step()) {
        if (!purged->IsNull(0))
            outputFiles << purged->ColumnText(0);
    }
    transaction.Commit();
    for (const QString& file : outputFiles) {
        QFile::remove(file);
        QFile::remove(CProgramPaths::JobOutputFile(file));
    }
}

// ---- whole-list reads ----------------------------------------------------------

// Names are the prefix and a key in plain decimal, as "%s%d" writes it; the first
// stored row of a name counts, as a lookup by that name would find it.
QHash<int, qint64> CSystemDatabase::NumbersWithPrefix(const QString& prefix) {
    CSqliteStatement rows = m_db.Prepare(
        QStringLiteral("SELECT NAMN, NUMMER FROM SEKVENS WHERE NAMN GLOB ? ORDER BY rowid"));
    rows.Bind(1, prefix + QLatin1Char('*'));
    QHash<int, qint64> numbers;
    while (rows.Step()) {
        const QString suffix = rows.ColumnText(0).mid(prefix.size());
        bool isNumber = false;
        const int key = suffix.toInt(&isNumber);
        if (isNumber && QString::number(key) == suffix && !numbers.contains(key))
            numbers.insert(key, rows.ColumnInt64(1));
    }
    return numbers;
}

QHash<int, bool> CSystemDatabase::RunFlags(const QVector<int>& keys) {
    const QHash<int, qint64> stored = NumbersWithPrefix(QStringLiteral("RUNFLAGG"));
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
        for (int key : missing)
            InsertNumberIfMissing(RunFlagName(key));
        transaction.Commit();
    }
    return flags;
}

QHash<int, qint64> CSystemDatabase::StoredTimes(StoredTime which) {
    return NumbersWithPrefix(TimePrefix(which));
}

QHash<int, qint64> CSystemDatabase::StoredRunFlags() {
    return NumbersWithPrefix(QStringLiteral("RUNFLAGG"));
}

QVector<qint64> CSystemDatabase::RecordedProcessIds(const QString& model) {
    const CStatementLease rows =
        m_db.Cached(QStringLiteral("SELECT PID FROM PID WHERE MODELL = ?"));
    rows->Bind(1, model);
    QVector<qint64> ids;
    while (rows->Step())
        ids << rows->ColumnInt64(0);
    return ids;
}

std::optional<CSystemDatabase::MinuteClaim> CSystemDatabase::ReadMinuteClaim() {
    const std::optional<qint64> last = ReadNumber(kLastMinute);
    const std::optional<qint64> highest = ReadNumber(kHighestMinute);
    if (!last || !highest)
        return std::nullopt;
    return MinuteClaim{{*last, *highest}, ReadNumber(kClaimer).value_or(0)};
}

void CSystemDatabase::SetMinuteClaim(const CMinuteTracker::State& state, qint64 claimer,
                                     qint64 claimedAt) {
    CSqliteTransaction transaction(m_db);
    SetSetting(kLastMinute, state.last);
    SetSetting(kHighestMinute, state.highest);
    SetSetting(kClaimer, claimer);
    m_db.Cached(QStringLiteral("UPDATE SCHEMALAGGARE SET ANSPRAK = ? WHERE ID = ?"))
        ->Bind(1, claimedAt)
        .Bind(2, claimer)
        .Run();
    transaction.Commit();
}

// ---- schedulers on the file ------------------------------------------------------

// One row a scheduler: a row that went missing (another scheduler took it for dead) is
// written again with the next heartbeat.
void CSystemDatabase::Heartbeat(const CSchedulerRecord& scheduler) {
    CSqliteTransaction transaction(m_db);
    const CStatementLease update = m_db.Cached(QStringLiteral(
        "UPDATE SCHEMALAGGARE SET HJARTSLAG = ?, TIDSZON = ?, UTCOFFSET = ?, KLOCKA_EFTER = ?, "
        "KLOCKA_DIFF = ? WHERE ID = ?"));
    update->Bind(1, scheduler.heartbeatMs)
        .Bind(2, scheduler.timeZone)
        .Bind(3, scheduler.utcOffset)
        .Bind(4, scheduler.clockBehindOf)
        .Bind(5, scheduler.clockDifference)
        .Bind(6, scheduler.id)
        .Run();
    if (m_db.Changes() == 0) {
        m_db.Cached(
                QStringLiteral("INSERT INTO SCHEMALAGGARE (ID, VARD, PROCESS, TJANST, PROCESSTART, "
                               "HJARTSLAG, TIDSZON, UTCOFFSET, ANSPRAK, KLOCKA_EFTER, KLOCKA_DIFF) "
                               "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))
            ->Bind(1, scheduler.id)
            .Bind(2, scheduler.host)
            .Bind(3, scheduler.process)
            .Bind(4, scheduler.service ? 1 : 0)
            .Bind(5, scheduler.processStart)
            .Bind(6, scheduler.heartbeatMs)
            .Bind(7, scheduler.timeZone)
            .Bind(8, scheduler.utcOffset)
            .Bind(9, scheduler.lastClaim)
            .Bind(10, scheduler.clockBehindOf)
            .Bind(11, scheduler.clockDifference)
            .Run();
    }
    transaction.Commit();
}

QVector<CSchedulerRecord> CSystemDatabase::Schedulers() {
    const CStatementLease rows = m_db.Cached(QStringLiteral(
        "SELECT ID, VARD, PROCESS, TJANST, PROCESSTART, HJARTSLAG, TIDSZON, UTCOFFSET, "
        "ANSPRAK, KLOCKA_EFTER, KLOCKA_DIFF, rowid FROM SCHEMALAGGARE WHERE ID IS NOT NULL "
        "ORDER BY rowid"));
    QVector<CSchedulerRecord> schedulers;
    while (rows->Step()) {
        CSchedulerRecord scheduler;
        scheduler.id = rows->ColumnInt64(0);
        scheduler.host = rows->ColumnText(1);
        scheduler.process = rows->ColumnInt64(2);
        scheduler.service = rows->ColumnInt64(3) != 0;
        scheduler.processStart = rows->ColumnText(4);
        scheduler.heartbeatMs = rows->ColumnInt64(5);
        scheduler.timeZone = rows->ColumnText(6);
        scheduler.utcOffset = rows->ColumnInt(7);
        scheduler.lastClaim = rows->ColumnInt64(8);
        scheduler.clockBehindOf = rows->ColumnInt64(9);
        scheduler.clockDifference = rows->ColumnInt64(10);
        scheduler.registration = rows->ColumnInt64(11);
        schedulers << scheduler;
    }
    return schedulers;
}

void CSystemDatabase::RemoveScheduler(qint64 id) {
    m_db.Cached(QStringLiteral("DELETE FROM SCHEMALAGGARE WHERE ID = ?"))->Bind(1, id).Run();
}

// ---- run history ---------------------------------------------------------------

void CSystemDatabase::RecordStart(const CRun& run) {
    const bool started = run.outcome != CRun::Outcome::NotStarted;
    const CStatementLease insert =
        m_db.Cached(QStringLiteral("INSERT INTO KORNINGAR (NYCKEL, MODELL, MAKRO, START, SLUT, "
                                   "UTFALL, ORSAK, TID, VARD, PROCESS) "
                                   "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    insert->Bind(1, run.key).Bind(2, run.model).Bind(3, run.macro).Bind(4, run.launched);
    if (!started)
        insert->Bind(5, run.launched).Bind(6, StoredOutcome(run.outcome)).Bind(7, run.reason);
    insert->Bind(8, run.startTime).Bind(9, run.host).Bind(10, run.processId).Run();
}

qint64 CSystemDatabase::InsertPendingRun(const CRun& run, qint64 minute) {
    m_db.Cached(QStringLiteral("INSERT INTO KORNINGAR (NYCKEL, MODELL, MAKRO, START, UTFALL, "
                               "TID, AGARE, MINUT) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"))
        ->Bind(1, run.key)
        .Bind(2, run.model)
        .Bind(3, run.macro)
        .Bind(4, run.launched)
        .Bind(5, StoredOutcome(CRun::Outcome::Pending))
        .Bind(6, run.startTime)
        .Bind(7, run.owner)
        .Bind(8, minute)
        .Run();
    return m_db.LastInsertRowId();
}

QVector<CSystemDatabase::PendingRun> CSystemDatabase::PendingRuns() {
    const CStatementLease rows = m_db.Cached(
        // The outcome as a literal, so the engine sees the index of the pending runs fits.
        QStringLiteral("SELECT %1, MINUT FROM KORNINGAR WHERE UTFALL = 'väntar' "
                       "ORDER BY MINUT, rowid")
            .arg(kRunColumns));
    QVector<PendingRun> pending;
    while (rows->Step())
        pending << PendingRun{RunFrom(*rows), rows->ColumnInt64(kRunColumnCount)};
    return pending;
}

void CSystemDatabase::SetPendingOwner(qint64 runId, qint64 owner) {
    m_db.Cached(QStringLiteral("UPDATE KORNINGAR SET AGARE = ? WHERE rowid = ? AND UTFALL = ?"))
        ->Bind(1, owner)
        .Bind(2, runId)
        .Bind(3, StoredOutcome(CRun::Outcome::Pending))
        .Run();
}

// One statement: the check stands between the decision and the start of every row of a
// batch, however long the batch.
CSystemDatabase::StartCheck CSystemDatabase::CheckStart(const CRun& run) {
    const CStatementLease row = m_db.Cached(QStringLiteral(
        "SELECT k.UTFALL, k.AGARE, m.TID, m.MODELL, m.MAKRO, m.IMPLEMENTED, "
        "(SELECT NUMMER FROM SEKVENS WHERE NAMN = 'RUNFLAGG' || m.NYCKEL), "
        "(SELECT NUMMER FROM SEKVENS WHERE NAMN = 'DRIFT'), "
        "(SELECT NUMMER FROM SEKVENS WHERE NAMN = 'MAXTID' || m.NYCKEL) "
        "FROM KORNINGAR k LEFT JOIN MONITOR m ON m.NYCKEL = k.NYCKEL WHERE k.rowid = ?"));
    row->Bind(1, run.id);
    StartCheck check;
    if (!row->Step())
        return check;
    check.pending = row->ColumnText(0) == StoredOutcome(CRun::Outcome::Pending);
    check.owner = row->ColumnInt64(1);
    check.rowExists = !row->IsNull(5);
    check.startTime = StartTime::DisplayForm(TrimmedRight(row->ColumnText(2)));
    check.model = TrimmedRight(row->ColumnText(3));
    check.macro = TrimmedRight(row->ColumnText(4));
    check.active = row->ColumnInt64(5) != 0;
    check.running = row->ColumnInt64(6) != 0;
    check.schedulerOn = row->ColumnInt64(7) != 0;
    check.timeLimitMinutes = std::max<qint64>(0, row->ColumnInt64(8));
    return check;
}

// VAKT 0 before the supervisor is even started: from here on only the supervisor or its
// lost heartbeat ends the run, never a look at the run flag.
void CSystemDatabase::MarkStarted(qint64 runId, qint64 at, const QString& host,
                                  const QString& outputPath) {
    m_db.Cached(QStringLiteral("UPDATE KORNINGAR SET UTFALL = NULL, START = ?1, VARD = ?2, "
                               "VAKT = 0, HJARTSLAG = ?1, UTSKRIFT = ?3 WHERE rowid = ?4"))
        ->Bind(1, at)
        .Bind(2, host)
        .Bind(3, outputPath)
        .Bind(4, runId)
        .Run();
}

// No heartbeat yet: the job may wait in the queue for hours, and only its supervisor beats
// once it runs. Until the job id is stored the submission time stands in for a heartbeat, so
// a scheduler that died while submitting leaves no run open for ever.
void CSystemDatabase::MarkQueued(qint64 runId, qint64 at, const QString& outputPath) {
    m_db.Cached(QStringLiteral("UPDATE KORNINGAR SET UTFALL = NULL, START = ?1, VAKT = 0, "
                               "HJARTSLAG = NULL, KOAD = ?1, UTSKRIFT = ?2 WHERE rowid = ?3"))
        ->Bind(1, at)
        .Bind(2, outputPath)
        .Bind(3, runId)
        .Run();
}

void CSystemDatabase::SetJob(qint64 runId, qint64 jobId) {
    m_db.Cached(QStringLiteral("UPDATE KORNINGAR SET JOBB = ? WHERE rowid = ?"))
        ->Bind(1, jobId)
        .Bind(2, runId)
        .Run();
}

void CSystemDatabase::SetRunProcesses(qint64 runId, qint64 processId, qint64 supervisorId) {
    m_db.Cached(QStringLiteral("UPDATE KORNINGAR SET PROCESS = ?, VAKT = ? WHERE rowid = ?"))
        ->Bind(1, processId)
        .Bind(2, supervisorId)
        .Bind(3, runId)
        .Run();
}

void CSystemDatabase::CloseRun(qint64 runId, qint64 at, CRun::Outcome outcome,
                               const QString& reason) {
    m_db.Cached(QStringLiteral("UPDATE KORNINGAR SET SLUT = ?1, UTFALL = ?2, ORSAK = ?3 "
                               "WHERE rowid = ?4"))
        ->Bind(1, at)
        .Bind(2, StoredOutcome(outcome))
        .Bind(3, reason)
        .Bind(4, runId)
        .Run();
}

void CSystemDatabase::MarkRunning(int key, qint64 at) {
    m_db.Cached(
            QStringLiteral("UPDATE KORNINGAR SET IGANG = ? WHERE NYCKEL = ? AND "
                           "SLUT IS NULL AND UTFALL IS NULL AND IGANG IS NULL AND VAKT IS NULL"))
        ->Bind(1, at)
        .Bind(2, key)
        .Run();
}

void CSystemDatabase::EndRun(int key, qint64 at, CRun::Outcome outcome) {
    m_db.Cached(QStringLiteral("UPDATE KORNINGAR SET IGANG = IFNULL(IGANG, ?1), SLUT = ?1, "
                               "UTFALL = ?2 WHERE NYCKEL = ?3 AND SLUT IS NULL AND UTFALL IS NULL "
                               "AND VAKT IS NULL"))
        ->Bind(1, at)
        .Bind(2, StoredOutcome(outcome))
        .Bind(3, key)
        .Run();
}

// A calculation quicker than the refresh raises and clears its flag unseen, but
// leaves a calculation time no earlier than its start.
void CSystemDatabase::EndQuietRuns(qint64 now) {
    CSqliteTransaction transaction(m_db);
    m_db.Cached(QStringLiteral(
                    "UPDATE KORNINGAR SET SLUT = MAX(START, (SELECT NUMMER FROM SEKVENS WHERE "
                    "NAMN = 'CALC_TIME' || KORNINGAR.NYCKEL)), UTFALL = ?1 "
                    "WHERE SLUT IS NULL AND UTFALL IS NULL AND VAKT IS NULL AND IFNULL((SELECT "
                    "NUMMER FROM "
                    "SEKVENS WHERE NAMN = 'RUNFLAGG' || KORNINGAR.NYCKEL), 0) = 0 AND "
                    "(SELECT NUMMER FROM "
                    "SEKVENS WHERE NAMN = 'CALC_TIME' || KORNINGAR.NYCKEL) >= START"))
        ->Bind(1, StoredOutcome(CRun::Outcome::Finished))
        .Run();
    // "+START": through the index of the open runs, not the start index, which would read
    // every run older than the silence.
    m_db.Cached(QStringLiteral("UPDATE KORNINGAR SET SLUT = ?1, UTFALL = ?2 "
                               "WHERE SLUT IS NULL AND UTFALL IS NULL AND IGANG IS NULL AND "
                               "VAKT IS NULL AND +START < ?3 AND "
                               "IFNULL((SELECT NUMMER FROM SEKVENS WHERE "
                               "NAMN = 'RUNFLAGG' || KORNINGAR.NYCKEL), 0) = 0"))
        ->Bind(1, now)
        .Bind(2, StoredOutcome(CRun::Outcome::NeverStarted))
        .Bind(3, now - kLongestSilenceSeconds)
        .Run();
    transaction.Commit();
}

// A job waiting in the queue has no heartbeat; Slurm tells about it instead.
QHash<qint64, qint64> CSystemDatabase::SupervisedHeartbeats() {
    const CStatementLease rows = m_db.Cached(QStringLiteral(
        "SELECT rowid, IFNULL(HJARTSLAG, KOAD) FROM KORNINGAR WHERE SLUT IS NULL AND UTFALL IS "
        "NULL AND VAKT IS NOT NULL AND (HJARTSLAG IS NOT NULL OR JOBB IS NULL)"));
    QHash<qint64, qint64> heartbeats;
    while (rows->Step())
        heartbeats.insert(rows->ColumnInt64(0), rows->ColumnInt64(1));
    return heartbeats;
}

// Not when a beat came after all, or the run ended meanwhile.
std::optional<CRun> CSystemDatabase::CloseLostRun(qint64 runId, qint64 heartbeat, qint64 now) {
    const CStatementLease lost = m_db.Cached(
        QStringLiteral("UPDATE KORNINGAR SET SLUT = ?1, UTFALL = ?2 WHERE rowid = ?3 AND "
                       "SLUT IS NULL AND UTFALL IS NULL AND IFNULL(HJARTSLAG, KOAD) = ?4 AND "
                       "(HJARTSLAG IS NOT NULL OR JOBB IS NULL) RETURNING %1")
            .arg(kRunColumns));
    lost->Bind(1, now)
        .Bind(2, StoredOutcome(CRun::Outcome::Lost))
        .Bind(3, runId)
        .Bind(4, heartbeat);
    std::optional<CRun> run;
    if (lost->Step())
        run = RunFrom(*lost);
    while (lost->Step()) {
    }
    return run;
}

std::optional<CSystemDatabase::CancelledRun> CSystemDatabase::RequestCancel(int key,
                                                                            const QString& who) {
    const CStatementLease cancel = m_db.Cached(
        QStringLiteral("UPDATE KORNINGAR SET AVBRYT = ? WHERE NYCKEL = ? AND SLUT IS NULL AND "
                       "UTFALL IS NULL AND VAKT IS NOT NULL AND AVBRYT IS NULL "
                       "RETURNING rowid, JOBB"));
    cancel->Bind(1, who).Bind(2, key);
    std::optional<CancelledRun> cancelled;
    while (cancel->Step())
        cancelled = CancelledRun{cancel->ColumnInt64(0), cancel->ColumnInt64(1)};
    return cancelled;
}

// Only while no supervisor has started: a started one records its own end.
bool CSystemDatabase::CloseCancelledJob(qint64 runId, qint64 at) {
    m_db.Cached(QStringLiteral("UPDATE KORNINGAR SET SLUT = ?, UTFALL = ? WHERE rowid = ? AND "
                               "SLUT IS NULL AND UTFALL IS NULL AND IGANG IS NULL"))
        ->Bind(1, at)
        .Bind(2, StoredOutcome(CRun::Outcome::Cancelled))
        .Bind(3, runId)
        .Run();
    return m_db.Changes() > 0;
}

QHash<qint64, qint64> CSystemDatabase::OpenJobs() {
    const CStatementLease rows = m_db.Cached(
        QStringLiteral("SELECT rowid, JOBB FROM KORNINGAR WHERE SLUT IS NULL AND UTFALL IS NULL "
                       "AND JOBB IS NOT NULL"));
    QHash<qint64, qint64> jobs;
    while (rows->Step())
        jobs.insert(rows->ColumnInt64(0), rows->ColumnInt64(1));
    return jobs;
}

// A supervisor's own end, written meanwhile, wins.
std::optional<CRun> CSystemDatabase::CloseEndedJob(qint64 runId, qint64 now,
                                                   const QString& slurmEnd) {
    const CStatementLease lost = m_db.Cached(
        QStringLiteral("UPDATE KORNINGAR SET SLUT = ?1, UTFALL = ?2, ORSAK = ?3 WHERE rowid = ?4 "
                       "AND SLUT IS NULL AND UTFALL IS NULL RETURNING %1")
            .arg(kRunColumns));
    lost->Bind(1, now).Bind(2, StoredOutcome(CRun::Outcome::Lost)).Bind(3, slurmEnd).Bind(4, runId);
    std::optional<CRun> run;
    while (lost->Step())
        run = RunFrom(*lost);
    return run;
}

QVector<CRun> CSystemDatabase::OpenSupervisedRuns() {
    const CStatementLease rows = m_db.Cached(
        QStringLiteral("SELECT %1 FROM KORNINGAR WHERE SLUT IS NULL AND UTFALL IS NULL AND "
                       "VAKT IS NOT NULL ORDER BY +rowid")
            .arg(kRunColumns));
    QVector<CRun> runs;
    while (rows->Step())
        runs << RunFrom(*rows);
    return runs;
}

// Through the index of the runs whose flag was cleared: only their rows are looked at.
QHash<int, CRun> CSystemDatabase::LatestRunsWithClearedFlag() {
    const CStatementLease rows = m_db.Cached(
        QStringLiteral("SELECT %1 FROM KORNINGAR k WHERE rowid IN (SELECT (SELECT rowid FROM "
                       "KORNINGAR WHERE NYCKEL = r.NYCKEL AND SLUT IS NOT NULL AND UTFALL NOT IN "
                       "('hoppades över', 'väntar') ORDER BY START DESC, rowid DESC LIMIT 1) "
                       "FROM (SELECT DISTINCT NYCKEL FROM KORNINGAR WHERE ATERSTALLD = 1) r)")
            .arg(kRunColumns));
    QHash<int, CRun> runs;
    while (rows->Step()) {
        const CRun run = RunFrom(*rows);
        if (run.flagCleared)
            runs.insert(run.key, run);
    }
    return runs;
}

// "+rowid": the few open runs are sorted after they are found through their index; ordered
// by rowid itself, the engine would read the whole history in that order instead.
QHash<int, QString> CSystemDatabase::OpenRunHosts() {
    const CStatementLease rows = m_db.Cached(
        QStringLiteral("SELECT NYCKEL, VARD FROM KORNINGAR WHERE SLUT IS NULL AND UTFALL IS NULL "
                       "AND VARD IS NOT NULL AND VARD <> '' ORDER BY +rowid"));
    QHash<int, QString> hosts;
    while (rows->Step())
        hosts.insert(rows->ColumnInt(0), rows->ColumnText(1));
    return hosts;
}

QVector<CRun> CSystemDatabase::Runs(int key, int offset, int limit) {
    const CStatementLease rows =
        m_db.Cached(QStringLiteral("SELECT %1 FROM KORNINGAR WHERE NYCKEL = ? "
                                   "ORDER BY START DESC, rowid DESC LIMIT ? OFFSET ?")
                        .arg(kRunColumns));
    rows->Bind(1, key).Bind(2, limit).Bind(3, offset);
    QVector<CRun> runs;
    while (rows->Step())
        runs << RunFrom(*rows);
    return runs;
}

QVector<CRun> CSystemDatabase::FinishedRuns(int key, int limit) {
    const CStatementLease rows =
        m_db.Cached(QStringLiteral("SELECT %1 FROM KORNINGAR WHERE NYCKEL = ? AND UTFALL = ? "
                                   "ORDER BY START DESC, rowid DESC LIMIT ?")
                        .arg(kRunColumns));
    rows->Bind(1, key).Bind(2, StoredOutcome(CRun::Outcome::Finished)).Bind(3, limit);
    QVector<CRun> runs;
    while (rows->Step())
        runs << RunFrom(*rows);
    return runs;
}

std::optional<CRun> CSystemDatabase::LatestRun(int key) {
    const QVector<CRun> latest = Runs(key, 0, 1);
    if (latest.isEmpty())
        return std::nullopt;
    return latest.first();
}

std::optional<CRun> CSystemDatabase::RunById(qint64 runId) {
    const CStatementLease row =
        m_db.Cached(QStringLiteral("SELECT %1 FROM KORNINGAR WHERE rowid = ?").arg(kRunColumns));
    row->Bind(1, runId);
    if (!row->Step())
        return std::nullopt;
    return RunFrom(*row);
}

QHash<int, CRun> CSystemDatabase::LatestRuns() {
    const CStatementLease rows = m_db.Cached(
        QStringLiteral("SELECT %1 FROM KORNINGAR WHERE rowid IN (SELECT (SELECT rowid FROM "
                       "KORNINGAR WHERE NYCKEL = MONITOR.NYCKEL ORDER BY START DESC, rowid DESC "
                       "LIMIT 1) FROM MONITOR)")
            .arg(kRunColumns));
    QHash<int, CRun> runs;
    while (rows->Step()) {
        const CRun run = RunFrom(*rows);
        runs.insert(run.key, run);
    }
    return runs;
}
