#pragma once

#include "data/run.h"
#include "data/scheduler.h"
#include "data/schedulerow.h"
#include "monitordb/databaseerror.h"
#include "monitordb/sqliteconnection.h"
#include "rules/minutetracker.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>
#include <functional>
#include <optional>
#include <sys/types.h>

// The two times the calculation program stores for a row.
enum class StoredTime { Calculation, Measurement };

// The monitor's own database: schedule rows (MONITOR), named numbers (SEKVENS),
// the calculation program's records (PID), the run history (KORNINGAR) and who
// claimed the latest minute (SCHEMALAGGARE). One short-lived accessor per piece
// of work; the file is shared with the calculation programs meanwhile.
//
// Faults: every operation returns its value or throws CDatabaseError, carrying
// the file, the engine's code and its text. Nothing is swallowed and nothing
// is shown here; FaultText() words an error for the operator.
class CSystemDatabase {
public:
    explicit CSystemDatabase(QString path, CBusyWait wait = {});
    CSystemDatabase(const CSystemDatabase&) = delete;
    CSystemDatabase& operator=(const CSystemDatabase&) = delete;

    // Opens the file. A running program never creates it: a deleted database is a
    // fault, not a new schedule.
    void Open();
    // As Open, but a missing or empty file is created with its tables: the program's start.
    void OpenOrCreate();
    // For reading only, as a listing does: nothing is added to the file and no file is
    // left beside it; the tables an older file lacks are simply not there to read.
    void OpenForReading();
    bool HasTable(const QString& table);
    void Close();
    QString Path() const { return m_path; }
    // For work that must be one transaction across several operations.
    const CSqliteConnection& Connection() const { return m_db; }
    CSqliteConnection& Connection() { return m_db; }

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
    // Updates the row with the key, or inserts it under a fresh key (key 0: the settings
    // row); the row's key.
    int SaveRow(const QString& tid, const QString& model, const QString& macro, int key,
                int implemented);
    void DeleteRow(int key);
    // Every row but the settings row, in stored order.
    QVector<CScheduleRow> LoadAllRows();
    // Raises CDatabaseError::kNoRow when there is no row with the key.
    CScheduleRow LoadRow(int key);
    void SetImplemented(int implemented, int key);
    bool IsImplemented(int key);
    int GetCounter(int key);
    void SetCounter(int key, int value);
    // Several countdowns in one transaction.
    void SetCounters(const QHash<int, int>& counters);
    QString GetProgramPath();

    // Named numbers, read as 64-bit values.
    qint64 NextNumber(const QString& name, bool advance);
    qint64 GetSetting(const QString& name);
    // The stored number, nothing when there is none; never creates it.
    std::optional<qint64> StoredNumber(const QString& name) { return ReadNumber(name); }
    bool SettingExists(const QString& name);
    void SetSetting(const QString& name, qint64 value);
    // Settings that are text (TEXTINSTALLNING), by name; an empty text when none is stored.
    QHash<QString, QString> TextSettings();
    void SetTextSetting(const QString& name, const QString& value);
    bool IsRunFlagSet(int key);
    // One transaction for all.
    void ResetRunFlags(const QVector<int>& keys);
    // Seconds since 1970, 0 when none is stored.
    qint64 GetTime(StoredTime which, int key);
    void PurgePid(const QDateTime& now, int days);

    // What one scheduler pass or display refresh needs, each in one statement.
    // Run flags of the given keys; missing flags are created with 0.
    QHash<int, bool> RunFlags(const QVector<int>& keys);
    // The stored time of every key that has one.
    QHash<int, qint64> StoredTimes(StoredTime which);
    // The run flags as stored, missing ones left missing: for readers that must not write.
    QHash<int, qint64> StoredRunFlags();
    // The process ids the calculation program recorded for a model.
    QVector<qint64> RecordedProcessIds(const QString& model);

    // The minutes the schedulers on this file have evaluated, and which of them claimed the
    // latest; nothing before the first claim.
    struct MinuteClaim {
        CMinuteTracker::State state;
        qint64 claimer = 0;
    };
    std::optional<MinuteClaim> ReadMinuteClaim();
    // claimedAt: the claimer's clock, seconds since 1970.
    void SetMinuteClaim(const CMinuteTracker::State& state, qint64 claimer, qint64 claimedAt);

    // The schedulers on the file, one row each, in the order they registered.
    void Heartbeat(const CSchedulerRecord& scheduler);
    QVector<CSchedulerRecord> Schedulers();
    void RemoveScheduler(qint64 id);

    // The run history (KORNINGAR): every start decided and what became of it.
    // Each run's end is written once, by whichever scheduler sees it first.
    void RecordStart(const CRun& run);
    // A start decided for a minute (a wall-clock minute, CMinuteTracker's count), to be
    // made by run.owner; its id.
    qint64 InsertPendingRun(const CRun& run, qint64 minute);
    struct PendingRun {
        CRun run;
        qint64 minute = 0;
    };
    // Every pending run, by the minute it was decided for.
    QVector<PendingRun> PendingRuns();
    void SetPendingOwner(qint64 runId, qint64 owner);
    // The run and its row as they are now, read just before a pending run starts.
    struct StartCheck {
        bool pending = false;
        qint64 owner = 0;
        bool rowExists = false;
        QString startTime; // display form
        QString model;
        QString macro;
        bool active = false;
        bool running = false;
        bool schedulerOn = false;
        // The row's time limit in minutes, 0 for none.
        qint64 timeLimitMinutes = 0;
    };
    StartCheck CheckStart(const CRun& run);
    // The pending run starts now on the host, watched by a supervisor that writes the
    // calculation's output to outputPath.
    void MarkStarted(qint64 runId, qint64 at, const QString& host, const QString& outputPath);
    // The pending run is handed to the Slurm cluster now; its supervisor will write the
    // calculation's output to outputPath once a node runs it.
    void MarkQueued(qint64 runId, qint64 at, const QString& outputPath);
    // The batch job the run became.
    void SetJob(qint64 runId, qint64 jobId);
    // The calculation runs as processId, watched by the supervisor's process.
    void SetRunProcesses(qint64 runId, qint64 processId, qint64 supervisorId);
    // Ends one run, whatever it was: not started, skipped, ...
    void CloseRun(qint64 runId, qint64 at, CRun::Outcome outcome, const QString& reason);
    // For runs without a supervisor, which only their run flag tells about (started by an
    // older version): the flag was seen up, the row's open run runs since then.
    void MarkRunning(int key, qint64 at);
    // Ends the row's open run without a supervisor.
    void EndRun(int key, qint64 at, CRun::Outcome outcome);
    // Ends the runs without a supervisor that wrote their calculation time between two looks
    // at their flag, and those that showed no sign of running within five minutes.
    void EndQuietRuns(qint64 now);
    // The heartbeat of every open supervised run, by run.
    QHash<qint64, qint64> SupervisedHeartbeats();
    // Closes the run as lost if its heartbeat is still the one given; the run closed.
    std::optional<CRun> CloseLostRun(qint64 runId, qint64 heartbeat, qint64 now);
    // Asks the supervisor of the row's open run to stop it; nothing when the row has no open
    // supervised run, or its cancel was asked for already.
    struct CancelledRun {
        qint64 runId = 0;
        qint64 jobId = 0; // 0: not a batch job
    };
    std::optional<CancelledRun> RequestCancel(int key, const QString& who);
    // Closes a cancelled batch job as cancelled if its supervisor never started; whether it did.
    bool CloseCancelledJob(qint64 runId, qint64 at);
    // The batch job of every open run that has one, by run.
    QHash<qint64, qint64> OpenJobs();
    // Closes the run as lost with Slurm's word for its end, unless it ended meanwhile.
    std::optional<CRun> CloseEndedJob(qint64 runId, qint64 now, const QString& slurmEnd);
    // Every open run watched by a supervisor (or waiting in Slurm's queue for one).
    QVector<CRun> OpenSupervisedRuns();
    // The rows whose latest ended run left its run flag set for the supervisor to clear.
    QHash<int, CRun> LatestRunsWithClearedFlag();
    // The host each row's open run was started on, where one was recorded.
    QHash<int, QString> OpenRunHosts();
    // The row's runs, newest first, from offset on, at most limit of them.
    QVector<CRun> Runs(int key, int offset, int limit);
    // The row's latest finished runs, newest first.
    QVector<CRun> FinishedRuns(int key, int limit);
    std::optional<CRun> LatestRun(int key);
    std::optional<CRun> RunById(qint64 runId);
    // The latest run of every row that has one, by key, in one statement.
    QHash<int, CRun> LatestRuns();

private:
    void OpenFile(bool create);
    bool IsOnNetwork() const;
    void RefuseWalOnNetwork() const;
    void MendWalFileModes() const;
    int SchemaVersion() const;
    bool HasColumn(const QString& table, const QString& column) const;
    void CreateSchema();
    void CreateLaterTables();
    void EnsureSchema(bool mayCreate);
    CDatabaseError Error(const QString& text, int code) const;
    CDatabaseError NoRow(int key) const;
    qint64 ReadOrInsertNumber(const QString& name);
    std::optional<qint64> ReadNumber(const QString& name);
    void InsertNumberIfMissing(const QString& name);
    QHash<int, qint64> NumbersWithPrefix(const QString& prefix);
    int AllocateKey();

    QString m_path;
    CBusyWait m_wait;
    FileSystemProbe m_fileSystemType;
    CSqliteConnection m_db;
    std::optional<FileIdentity> m_identity;
};
