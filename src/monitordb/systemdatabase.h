#pragma once

#include "databasefault.h"
#include "schedule/minutetracker.h"
#include "schedule/runhistory.h"
#include "schedule/schedulerow.h"
#include "sqliteconnection.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVector>
#include <functional>
#include <optional>
#include <sys/types.h>

// The monitor's own database: schedule rows (MONITOR), named numbers (SEKVENS)
// and the calculation program's records (PID). One short-lived accessor per
// piece of work; the file is shared with the calculation programs meanwhile.
// It returns values and failures and never speaks to the operator: an
// operation whose failure the operator must see returns it in its result, with
// the text in LastError(), so the caller can show it once no transaction is open.
class CSystemDatabase {
public:
    explicit CSystemDatabase(QString path, CBusyWait wait = {});
    CSystemDatabase(const CSystemDatabase&) = delete;
    CSystemDatabase& operator=(const CSystemDatabase&) = delete;

    // Opens the file. False when it is missing or cannot be used as a monitor
    // database; LastOpenFault() and LastOpenError() tell why. A running program
    // never creates the file: a deleted database is a fault, not a new schedule.
    bool Open();
    // As Open, but a missing or empty file is created with its tables: the
    // program's start.
    bool OpenOrCreate();
    void Close();
    QString Path() const { return m_path; }
    DatabaseFault LastOpenFault() const { return m_lastOpenFault; }
    // The engine's text (or the monitor's own) for the last failed open.
    QString LastOpenError() const { return m_lastOpenError; }
    // The operator's sentence for the last failed open.
    QString LastOpenFaultText() const;
    // The operator's text for the last operation that reported a failure.
    QString LastError() const { return m_lastError; }
    // For work that must be one transaction across several operations.
    const CSqliteConnection& Connection() const { return m_db; }

    // Which file system the folder is on (statfs's f_type); a test gives another.
    using FileSystemProbe = std::function<std::optional<long>(const QString& folder)>;
    void SetFileSystemProbe(FileSystemProbe probe) { m_fileSystemType = std::move(probe); }

    // The file the accessor opened, to tell when another file takes its place.
    struct FileIdentity {
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const FileIdentity& other) const {
            return device == other.device && inode == other.inode;
        }
        bool operator!=(const FileIdentity& other) const { return !(*this == other); }
    };
    std::optional<FileIdentity> Identity() const { return m_identity; }
    static std::optional<FileIdentity> IdentityOf(const QString& path);

    // Schedule rows.
    bool RowExists(int key);
    int SaveRow(const QString& tid, const QString& model, const QString& macro, int key,
                int implemented);
    bool DeleteRow(int key);
    // Every row but the settings row, in stored order; LastError() is set when
    // the walk ended early, and the rows read so far are returned.
    QVector<CScheduleRow> LoadAllRows();
    bool LoadRow(int key, QString& tid, QString& model, QString& macro, int& implemented);
    bool SetImplemented(int implemented, int key);
    bool IsImplemented(int key);
    int GetCounter(int key);
    bool SetCounter(int key, int value);
    bool StepCounter(int key);
    // The same countdown on a row whose TID and COUNTER were read in this transaction.
    bool StepCounter(int key, const QString& tid, int counter);
    // random() gives values 0 to 32767.
    void SeedCyclicCounters(const std::function<int()>& random);
    QString GetProgramPath();
    static int IntervalMinutes(const QString& tid);

    // Named numbers, read as 64-bit values.
    qint64 NextNumber(const QString& name, bool advance);
    qint64 GetSetting(const QString& name);
    bool SettingExists(const QString& name);
    bool SetSetting(const QString& name, qint64 value);
    bool IsRunFlagSet(int key);
    bool ResetRunFlag(int key);
    bool ResetRunFlags(const QVector<int>& keys);
    QString GetTimeText(int which, int key);
    bool PurgePid(const QDateTime& now, int days);

    // What one scheduler pass or display refresh needs, each in one statement.
    // Run flags of the given keys; missing flags are created with 0.
    QHash<int, bool> RunFlags(const QVector<int>& keys);
    // The stored CALC_TIME (which 0) or MES_TIME (which 1) of every key that has one.
    QHash<int, qint64> StoredTimes(int which);
    // The run flags as stored, missing ones left missing: for readers that must not write.
    QHash<int, qint64> StoredRunFlags();
    // The process ids the calculation program recorded for a model.
    QVector<qint64> RecordedProcessIds(const QString& model);

    // The minutes the schedulers on this file have evaluated; nothing before the first.
    std::optional<CMinuteTracker::State> MinuteClaim();
    // Who evaluated the latest minute: a window's scheduler or a service, on which host.
    struct Claimer {
        QString host;
        qint64 process = 0;
        bool service = false;
    };
    void SetMinuteClaim(const CMinuteTracker::State& state, const Claimer& by);
    std::optional<Claimer> LastClaimer();

    // The run history (KORNINGAR): every start attempt and what became of it.
    // Each run's end is written once, by whichever scheduler sees it first. A
    // failed write loses the record, nothing else: they raise CDaoException.
    void RecordStart(const CRun& run);
    // The run flag was seen up: the row's open run runs since then.
    void MarkRunning(int key, qint64 at);
    // Ends the row's open run.
    void EndRun(int key, qint64 at, CRun::Outcome outcome);
    // Ends the runs that wrote their calculation time between two looks at
    // their flag, and those that showed no sign of running within five minutes.
    void EndQuietRuns(qint64 now);
    // The row's runs, newest first, from offset on, at most limit of them.
    QVector<CRun> Runs(int key, int offset, int limit);
    // The row's latest finished runs, newest first.
    QVector<CRun> FinishedRuns(int key, int limit);
    std::optional<CRun> LatestRun(int key);
    // The latest run of every row that has one, by key, in one statement.
    QHash<int, CRun> LatestRuns();

private:
    bool OpenFile(bool create);
    bool IsOnNetwork() const;
    void CreateSchema();
    void CreateLaterTables();
    void EnsureSchema(bool mayCreate);
    qint64 ReadOrInsertNumber(const QString& name);
    std::optional<qint64> ReadNumber(const QString& name);
    void InsertNumberIfMissing(const QString& name);
    QHash<int, qint64> NumbersWithPrefix(const QString& prefix);
    int AllocateKey();
    QString ReadTid(int key);
    bool Fail(const QString& text);

    QString m_path;
    CBusyWait m_wait;
    FileSystemProbe m_fileSystemType;
    CSqliteConnection m_db;
    std::optional<FileIdentity> m_identity;
    DatabaseFault m_lastOpenFault = DatabaseFault::None;
    QString m_lastOpenError;
    QString m_lastError;
};
