#include "history/runhistory.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/filesystem.h"
#include "monitordb/sqliteconnection.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "rules/starttime.h"
#include "schedule/schedulemodel.h"
#include "schedule/scheduler.h"
#include "settings/monitorsettings.h"
#include "support/filequery.h"
#include "support/programrun.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSemaphore>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <climits>
#include <gtest/gtest.h>
#include <numeric>
#include <sqlite3.h>
#include <thread>
#include <tuple>

namespace {

class SystemDatabaseTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_NO_THROW(db.OpenOrCreate()); }

    // What another process, the calculation program, reads in the file.
    QString Query(const QString& sql) const { return QueryFile(folder.DatabaseFile(), sql); }
    QString Number(const QString& name) const {
        return Query("SELECT NUMMER FROM SEKVENS WHERE NAMN = '" + name + "'");
    }

    CTestFolder folder;
    CSystemDatabase db{folder.DatabaseFile()};
};

TEST_F(SystemDatabaseTest, NewFileAllocatesKeysFromPostAndNeverReusesThem) {
    EXPECT_EQ(Number("POST"), "1");
    EXPECT_EQ(Query("SELECT COUNT(*) FROM MONITOR"), "0");

    EXPECT_EQ(db.SaveRow("00:05", "/m/a", "Makro", -1, 0), 1);
    EXPECT_EQ(Number("POST"), "2");
    db.DeleteRow(1);
    EXPECT_EQ(db.SaveRow("00:05", "/m/b", "Makro", -1, 0), 2);

    // Key 0 is the settings row: inserted, then updated, and POST is left alone.
    EXPECT_EQ(db.SaveRow("- - - -", "/opt/kvarnix/Kvarnix", "- - - -", 0, 0), 0);
    EXPECT_EQ(db.SaveRow("- - - -", "/opt/kvarnix/Ny", "- - - -", 0, 0), 0);
    EXPECT_EQ(db.GetProgramPath(), "/opt/kvarnix/Ny");
    EXPECT_EQ(Number("POST"), "3");

    // Saving an existing key updates it and keeps its countdown.
    db.SetCounter(2, 17);
    EXPECT_EQ(db.SaveRow("00:10", "/m/c", "Annat", 2, 1), 2);
    EXPECT_EQ(db.GetCounter(2), 17);
    EXPECT_EQ(Query("SELECT COUNT(*) FROM MONITOR"), "2");
}

TEST_F(SystemDatabaseTest, RowsReadBackAsSavedWithWeekdaysInDisplayForm) {
    db.SaveRow("- - - -", "/opt/kvarnix/Kvarnix", "- - - -", 0, 0);
    db.SaveRow("3-18:00   ", "/m/onsdag  ", "Makro ", -1, 1);
    db.SaveRow("Måndag  07:30", "/m/mandag", "Makro", -1, 0);
    db.SaveRow("00:05", "/m/cyklisk", "Makro", -1, 1);
    db.SetCounter(3, 9);
    CScheduleModel list;
    list.SetRows(db.LoadAllRows());
    ASSERT_EQ(list.LineCount(), 3);
    EXPECT_EQ(QStringList({list.Line(0).startTime, list.Line(0).model, list.Line(0).macro,
                           list.Line(1).startTime, list.Line(2).startTime}),
              QStringList({"Onsdag  18:00", "/m/onsdag", "Makro", "Måndag  07:30", "00:05"}));
    EXPECT_EQ(std::pair(list.Line(0).stateImage, list.Line(1).stateImage),
              std::pair(StateImage::Active, StateImage::Inactive));
    EXPECT_EQ(list.Keys(), (QVector<int>{1, 2, 3}));
    EXPECT_EQ(db.LoadAllRows().at(2).counter, 9);

    // A deleted row is an error that names the row and the file.
    db.DeleteRow(2);
    try {
        db.LoadRow(2);
        ADD_FAILURE() << "a deleted row was read";
    } catch (const CDatabaseError& e) {
        EXPECT_EQ(e.EngineCode(), CDatabaseError::kNoRow);
        EXPECT_EQ(FaultText(e, "Raden kunde inte läsas."),
                  "Raden kunde inte läsas.\nMonitordatabasen " + folder.DatabaseFile() +
                      " kan inte användas (Det finns ingen rad med nyckeln 2 i tabellen "
                      "MONITOR.).");
    }

    // Quotes, percent signs, backslashes and Swedish letters come back as they were saved;
    // IMPLEMENTED comes back as stored.
    const QStringList odd{"'%s\\ö\"", "/modeller/Kvarn'Syd/100% \"rå\" \\ data",
                          "Dygnsberäkning 'ö' %d %s"};
    const int key = db.SaveRow(odd[0], odd[1], odd[2], -1, 5);
    const CScheduleRow saved = db.LoadRow(key);
    EXPECT_EQ(QStringList({saved.startTime, saved.model, saved.macro}), odd);
    EXPECT_EQ(std::pair(saved.implemented, saved.active), std::pair(5, true));
    db.SetSetting("Ö'%d\\", 23);
    EXPECT_EQ(db.GetSetting("Ö'%d\\"), 23);
}

TEST_F(SystemDatabaseTest, NamedNumbersAreCreatedOnFirstUseAndWholeListReadsAgree) {
    EXPECT_EQ(db.NextNumber("NYTT", true), 0);
    EXPECT_EQ(Number("NYTT"), "1");
    EXPECT_EQ(db.NextNumber("ANNAT", false), 0);
    EXPECT_EQ(Number("ANNAT"), "0");
    EXPECT_FALSE(db.SettingExists("HIDE"));
    EXPECT_EQ(db.GetSetting("HIDE"), 0);
    EXPECT_TRUE(db.SettingExists("HIDE"));

    EXPECT_FALSE(db.IsRunFlagSet(12));
    EXPECT_EQ(Number("RUNFLAGG12"), "0");
    db.SetSetting("RUNFLAGG12", 1);
    EXPECT_TRUE(db.IsRunFlagSet(12));
    db.ResetRunFlags({12});
    EXPECT_FALSE(db.IsRunFlagSet(12));
    db.ResetRunFlags({99});
    EXPECT_EQ(Number("RUNFLAGG99"), "-");
    db.SetSetting("RUNFLAGG1", 1);
    db.SetSetting("RUNFLAGG2", 0);
    db.SetSetting("RUNFLAGG03", 1); // not the name of key 3
    EXPECT_EQ(db.RunFlags({1, 2, 3}), (QHash<int, bool>{{1, true}, {2, false}, {3, false}}));
    EXPECT_EQ(Number("RUNFLAGG3"), "0");

    EXPECT_EQ(db.GetTime(StoredTime::Calculation, 12), 0);
    db.SetSetting("MES_TIME12", 0);
    EXPECT_EQ(TimeText(db.GetTime(StoredTime::Measurement, 12)), "Uppgift saknas");
    const qint64 calculated = LocalTime("2026-12-05 23:10:07").toSecsSinceEpoch();
    db.SetSetting("CALC_TIME12", calculated);
    db.SetSetting("MES_TIME13", calculated + 7);
    EXPECT_EQ(TimeText(db.GetTime(StoredTime::Calculation, 12)), "2026-12-05 23:10:07");
    EXPECT_EQ(db.GetTime(StoredTime::Measurement, 13), calculated + 7);
    db.SetSetting("CALC_TIME5", 1000);
    db.SetSetting("CALC_TIME", 2000);
    db.SetSetting("MES_TIME5", 900);
    EXPECT_EQ(db.StoredTimes(StoredTime::Calculation),
              (QHash<int, qint64>{{5, 1000}, {12, calculated}}));
    EXPECT_EQ(db.StoredTimes(StoredTime::Measurement),
              (QHash<int, qint64>{{5, 900}, {12, 0}, {13, calculated + 7}}));
}

// A counter never stored is due at once, then every interval; seeding spreads the first one.
TEST_F(SystemDatabaseTest, CyclicCountdownIsDueEveryIntervalAndRestartsWhenActivated) {
    QString pattern;
    int counter = 0;
    for (int tick = 0; tick < 7; ++tick) {
        const StartTime::CountdownStep step = StartTime::StepCountdown("00:03", counter);
        pattern += step.due ? 'D' : '.';
        counter = step.counter;
    }
    EXPECT_EQ(pattern, "D..D..D");
    EXPECT_EQ(StartTime::StepCountdown("00:03", counter).counter, 2);
    EXPECT_TRUE(StartTime::StepCountdown("00:00", 0).due);
    EXPECT_EQ(StartTime::StepCountdown("00:00", 0).counter, 0);
    EXPECT_TRUE(StartTime::StepCountdown("00:07", -4).due);
    EXPECT_EQ(StartTime::IntervalMinutes("01:30"), 90);
    EXPECT_EQ(StartTime::IntervalMinutes("02:_5"), 120);

    const int key = db.SaveRow("00:03", "/m/a", "M", -1, 1);
    db.SetCounter(key, 2);
    db.SetImplemented(1, key);
    EXPECT_EQ(db.GetCounter(key), 0);

    const int cyclic = db.SaveRow("00:10", "/m/c", "M", -1, 1);
    const int absolute = db.SaveRow("XXXX-XX-XX 06:30", "/m/d", "M", -1, 1);
    db.SetCounter(absolute, 42);
    for (const auto& [random, seeded] :
         {std::pair(0, 1), std::pair(32767, 11), std::pair(16384, 6)}) {
        CScheduler::SeedCountdowns(
            db, [random = random] { return random; }, LocalTime("2026-12-07 10:00"));
        EXPECT_EQ(db.GetCounter(cyclic), seeded) << random;
        EXPECT_EQ(db.GetCounter(key), int(1 + 3 * (random / 32767.0))) << random;
    }
    EXPECT_EQ(db.GetCounter(absolute), 42);
}

// A span of no days, or fewer, keeps the current day's records as the log keeps its last day.
TEST_F(SystemDatabaseTest, PurgeRemovesExactlyThePidRecordsOlderThanTheCutOff) {
    const QDateTime now = LocalTime("2026-12-05 23:10");
    const auto insert = [&](const char* tid) {
        db.Connection()
            .Prepare("INSERT INTO PID (TID, PID, MODELL) VALUES(?, 1, '/m')")
            .Bind(1, tid)
            .Run();
    };
    const QString kept = "SELECT group_concat(TID) FROM (SELECT TID FROM PID ORDER BY TID)";
    db.PurgePid(now, 10);
    for (const char* tid : {"2026-11-25 23:09:59", "2026-11-25 23:10:00", "2026-12-01 08:00:00"})
        insert(tid);
    db.PurgePid(now, 10);
    EXPECT_EQ(Query(kept), "2026-11-25 23:10:00,2026-12-01 08:00:00");
    for (int days : {0, -3}) {
        insert("2026-12-05 00:00:00");
        insert("2026-12-04 23:59:59");
        db.PurgePid(now, days);
        EXPECT_EQ(Query(kept), "2026-12-05 00:00:00") << days;
        db.Connection().Execute("DELETE FROM PID");
    }
}

TEST_F(SystemDatabaseTest, SettingsAreCreatedWithZeroAndDefaultsApplyInMemoryOnly) {
    CMonitorSettings settings = CMonitorSettings::Load(db);
    EXPECT_EQ(std::tuple(settings.schedulerOn, settings.logDays, settings.pidDays,
                         settings.minimizeMinutes),
              std::tuple(0, 100, 10, 10));
    EXPECT_EQ(settings.programPath, "");
    for (const char* name :
         {"SHOW_KOL4", "HIDE_MINUTER", "HIDE", "LOGFILE", "PID", "SAVE", "DRIFT"})
        EXPECT_EQ(Number(name), "0") << name;

    db.SetSetting("LOGFILE", 30);
    db.SaveRow("- - - -", "/opt/kvarnix/Kvarnix   ", "- - - -", 0, 0);
    settings = CMonitorSettings::Load(db);
    EXPECT_EQ(settings.logDays, 30);
    EXPECT_EQ(settings.programPath, "/opt/kvarnix/Kvarnix");

    // Numbers beyond 32 bits keep their sign: nonzero stays on, a span stays long.
    db.SetSetting("DRIFT", 4294967296);
    db.SetSetting("SAVE", -4294967296);
    db.SetSetting("HIDE", 4294967297);
    db.SetSetting("PID", 8589934592);
    EXPECT_EQ(db.GetSetting("DRIFT"), 4294967296);
    settings = CMonitorSettings::Load(db);
    EXPECT_EQ(std::tuple(settings.schedulerOn > 0,
                         settings.mayWriteIp21<0, settings.minimizePeriodically> 0,
                         settings.pidDays),
              std::tuple(true, true, true, INT_MAX));
}

// No tables: new, made whole at the start only; the monitor's two: completed; else left alone.
TEST(SystemDatabaseFile, EachKindOfFileIsCompletedOrNamedAndLeftAlone) {
    const QString monitor = "CREATE TABLE MONITOR (TID TEXT, MODELL TEXT, MAKRO TEXT, "
                            "NYCKEL INTEGER, IMPLEMENTED INTEGER, COUNTER INTEGER)";
    const QString sekvens = "CREATE TABLE SEKVENS (NAMN TEXT, NUMMER INTEGER)";
    const std::tuple<QStringList, bool, QString> cases[] = {
        {{}, false, "filen innehåller inga tabeller."},
        {{monitor, sekvens}, true, ""},
        {{monitor}, false, "tabellen SEKVENS saknas."},
        {{"CREATE TABLE ANNAN (X INTEGER)"}, false, "tabellen MONITOR saknas."},
    };
    const QString all = "KORNINGAR,MONITOR,PID,SCHEMALAGGARE,SEKVENS,TEXTINSTALLNING";
    for (const auto& [statements, opens, problem] : cases) {
        CTestFolder folder;
        folder.WriteText(folder.DatabaseFile(), "");
        {
            CSqliteConnection raw;
            raw.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
            for (const QString& statement : statements)
                raw.Execute(statement);
        }
        const auto tables = [&] {
            return QueryFile(folder.DatabaseFile(),
                             "SELECT group_concat(name) FROM (SELECT name FROM sqlite_master "
                             "WHERE type = 'table' ORDER BY name)");
        };
        const QString before = tables();
        CSystemDatabase db(folder.DatabaseFile());
        const std::optional<CDatabaseError> refused = ErrorOf([&] { db.Open(); });
        EXPECT_EQ(!refused, opens) << before.toStdString();
        if (opens) {
            EXPECT_EQ(tables(), all);
            continue;
        }
        EXPECT_EQ(ClassifyFault(*refused), DatabaseFault::Incomplete);
        EXPECT_EQ(FaultText(*refused), "Monitordatabasen " + folder.DatabaseFile() +
                                           " är inte hel: " + problem +
                                           " Filen lämnas orörd; lägg tillbaka rätt fil.");
        EXPECT_EQ(tables(), before);
        // Only an empty file is new enough to be made a monitor database at the start.
        EXPECT_EQ(!ErrorOf([&] { db.OpenOrCreate(); }), before.isEmpty()) << before.toStdString();
        if (before.isEmpty()) {
            EXPECT_EQ(tables(), all);
            EXPECT_EQ(db.NextNumber("POST", false), 1);
        }
    }
}

// WAL fails between hosts: a new file on a network share keeps its rollback journal, a WAL one
// stays.
TEST(SystemDatabaseFile, OnANetworkFileSystemTheFileKeepsItsRollbackJournal) {
    CTestFolder local;
    CSystemDatabase onDisk(local.DatabaseFile());
    ASSERT_NO_THROW(onDisk.OpenOrCreate());
    onDisk.Close();
    EXPECT_EQ(QueryFile(local.DatabaseFile(), "PRAGMA journal_mode"), "wal");

    CTestFolder shared;
    for (const long type : {0x6969L, 0xFF534D42L, 0x65735546L, 0x01021997L}) {
        QFile::remove(shared.DatabaseFile());
        CSystemDatabase onShare(shared.DatabaseFile());
        onShare.SetFileSystemProbe([type](const QString&) { return type; });
        ASSERT_NO_THROW(onShare.OpenOrCreate());
        onShare.Close();
        EXPECT_EQ(QueryFile(shared.DatabaseFile(), "PRAGMA journal_mode"), "delete") << type;
    }
    ASSERT_TRUE(QFile::remove(shared.DatabaseFile()));
    ASSERT_TRUE(QFile::copy(local.DatabaseFile(), shared.DatabaseFile()));
    const QByteArray copied = FileBytes(shared.DatabaseFile());
    CSystemDatabase walOnShare(shared.DatabaseFile());
    walOnShare.SetFileSystemProbe([](const QString&) { return 0x517BL; });
    const std::optional<CDatabaseError> refused = ErrorOf([&] { walOnShare.Open(); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(ClassifyFault(*refused), DatabaseFault::WalOnNetwork);
    EXPECT_TRUE(FaultText(*refused).contains("journal_mode=DELETE"));
    EXPECT_EQ(FileBytes(shared.DatabaseFile()), copied);
    EXPECT_FALSE(QFile::exists(shared.DatabaseFile() + "-shm"));
    EXPECT_FALSE(IsNetworkFileSystem(0xEF53) || IsNetworkFileSystem(0x01021994)); // ext4, tmpfs
}

// On a network share every open reads the file's header; it must do so without a descriptor
// of its own, whose closing would drop the write lock another connection of the process holds
// in the middle of its transaction.
TEST(SystemDatabaseFile, OnANetworkShareOpeningDropsNoLockAnotherConnectionHolds) {
    CTestFolder share;
    const auto onShare = [](CSystemDatabase& db) {
        db.SetFileSystemProbe([](const QString&) { return 0x6969L; });
    };
    CSystemDatabase writer(share.DatabaseFile());
    onShare(writer);
    ASSERT_NO_THROW(writer.OpenOrCreate());
    const auto anotherProcessMayWrite = [&] {
        return RunToEnd(KVARNIX_TRYWRITE, {share.DatabaseFile()}).output.trimmed();
    };
    EXPECT_EQ(anotherProcessMayWrite(), "fri");
    CSqliteTransaction transaction(writer.Connection());
    writer.SetSetting("DRIFT", 7);
    ASSERT_EQ(anotherProcessMayWrite(), "upptagen");
    for (int opening = 0; opening < 3; ++opening) {
        CSystemDatabase reader(share.DatabaseFile());
        onShare(reader);
        ASSERT_NO_THROW(reader.Open());
        EXPECT_EQ(reader.GetSetting("POST"), 1);
    }
    EXPECT_EQ(anotherProcessMayWrite(), "upptagen");
    transaction.Commit();
    EXPECT_EQ(anotherProcessMayWrite(), "fri");
    EXPECT_EQ(QueryFile(share.DatabaseFile(), "PRAGMA integrity_check"), "ok");
}

// WAL files the engine made while the database was read-only keep that mode; once the
// database may be written again the files of this user follow it, and a fault names the
// file to mend where this program cannot.
TEST(SystemDatabaseFile, WalFilesMadeWhileReadOnlyFollowTheDatabaseAgain) {
    CTestFolder folder;
    CSystemDatabase holder(folder.DatabaseFile());
    ASSERT_NO_THROW(holder.OpenOrCreate());
    holder.SetSetting("DRIFT", 1); // the WAL files exist while a connection is open
    const QString wal = folder.DatabaseFile() + "-wal", shm = folder.DatabaseFile() + "-shm";
    ASSERT_TRUE(QFileInfo::exists(wal) && QFileInfo::exists(shm));
    for (const QString& file : {wal, shm})
        QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    QFile::setPermissions(folder.DatabaseFile(), QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ReadGroup | QFile::WriteGroup);
    CSystemDatabase db(folder.DatabaseFile());
    ASSERT_NO_THROW(db.Open());
    for (const QString& file : {wal, shm})
        EXPECT_EQ(QFileInfo(file).permissions() & (0x7000 | 0x0070 | 0x0007),
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup)
            << file.toStdString();
    db.SetSetting("SAVE", 1);
    EXPECT_EQ(db.GetSetting("SAVE"), 1);

    const CDatabaseError readOnly(QStringLiteral("attempt to write a readonly database"),
                                  SQLITE_READONLY, folder.DatabaseFile());
    EXPECT_EQ(FaultText(readOnly), "Monitordatabasen " + folder.DatabaseFile() +
                                       " går inte att skriva i (attempt to write a readonly "
                                       "database). Ge monitorn skrivrätt till filen och mappen "
                                       "den ligger i.");
}

// A listing leaves the file it reads as it was, whatever its age and its rights: an older
// file without the run history is listed without runs, and nothing is added beside it.
TEST(SystemDatabaseFile, ReadingForAListingChangesNothingInOrBesideTheFile) {
    for (const bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only file" : "writable file");
        CTestFolder folder;
        {
            CSqliteConnection older;
            older.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::CreateFile, 1000);
            older.Execute("CREATE TABLE MONITOR (TID TEXT(20), MODELL TEXT(255), MAKRO "
                          "TEXT(50), NYCKEL INTEGER, IMPLEMENTED INTEGER, COUNTER INTEGER)");
            older.Execute("CREATE TABLE SEKVENS (NAMN TEXT(20), NUMMER INTEGER)");
            older.Execute("CREATE TABLE PID (TID TEXT(20), PID INTEGER, MODELL TEXT(255))");
            older.Execute("INSERT INTO MONITOR VALUES ('1-07:30', '/m/Pump', 'Dygn', 4, 1, 0)");
            older.Execute("INSERT INTO SEKVENS VALUES ('POST', 5), ('DRIFT', 1), "
                          "('RUNFLAGG4', 1)");
            older.Execute("PRAGMA journal_mode=WAL");
        }
        if (readOnly)
            QFile::setPermissions(folder.DatabaseFile(), QFile::ReadOwner | QFile::ReadGroup);
        const QStringList namesBefore = QDir(folder.Path()).entryList(QDir::Files);
        const QByteArray bytesBefore = FileBytes(folder.DatabaseFile());
        {
            CSystemDatabase db(folder.DatabaseFile());
            ASSERT_NO_THROW(db.OpenForReading());
            EXPECT_FALSE(db.HasTable("KORNINGAR"));
            ASSERT_EQ(db.LoadAllRows().size(), 1);
            EXPECT_EQ(db.LoadAllRows().first().startTime, "Måndag  07:30");
            EXPECT_EQ(CMonitorSettings::Read(db).schedulerOn, 1);
            EXPECT_EQ(db.StoredRunFlags(), (QHash<int, qint64>{{4, 1}}));
            EXPECT_THROW(db.SetSetting("SAVE", 1), CDatabaseError);
        }
        EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files), namesBefore);
        EXPECT_EQ(FileBytes(folder.DatabaseFile()), bytesBefore);
    }
}

// Every kind of fault the engine reports gets the operator's sentence for it.
TEST(SystemDatabaseFile, EachKindOfFaultIsWordedForWhatTheOperatorCanDo) {
    const QString path = "/data/kvarnixmonitor.mdb";
    const std::pair<int, DatabaseFault> faults[] = {
        {SQLITE_BUSY, DatabaseFault::Busy},
        {SQLITE_BUSY_SNAPSHOT, DatabaseFault::Busy},
        {SQLITE_LOCKED, DatabaseFault::Busy},
        {SQLITE_READONLY, DatabaseFault::ReadOnly},
        {SQLITE_READONLY_RECOVERY, DatabaseFault::ReadOnly},
        {SQLITE_READONLY_CANTINIT, DatabaseFault::ReadOnly},
        {SQLITE_READONLY_DBMOVED, DatabaseFault::ReadOnly},
        {SQLITE_CORRUPT, DatabaseFault::Damaged},
        {SQLITE_NOTADB, DatabaseFault::NotADatabase},
        {SQLITE_CANTOPEN, DatabaseFault::NoAccess},
        {SQLITE_PERM, DatabaseFault::NoAccess},
        {SQLITE_FULL, DatabaseFault::DiskFull},
        {SQLITE_IOERR_WRITE, DatabaseFault::IoError},
        {CDatabaseError::kNoFile, DatabaseFault::Missing},
        {CDatabaseError::kIncompleteFile, DatabaseFault::Incomplete},
        {CDatabaseError::kWalOnNetwork, DatabaseFault::WalOnNetwork},
        {SQLITE_CONSTRAINT, DatabaseFault::Other},
    };
    for (const auto& [code, fault] : faults)
        EXPECT_EQ(ClassifyFault(CDatabaseError("motorns text", code, path)), fault) << code;
    const auto text = [&](int code) {
        return FaultText(CDatabaseError("motorns text", code, path));
    };
    EXPECT_TRUE(text(SQLITE_READONLY).contains("Ge monitorn skrivrätt till mappen /data."));
    EXPECT_TRUE(text(SQLITE_CORRUPT)
                    .contains("är skadad (motorns text). Återställ filen från "
                              "en säkerhetskopia."));
    EXPECT_TRUE(text(SQLITE_FULL).startsWith("Disken där monitordatabasen " + path));
    EXPECT_EQ(
        FaultText(CDatabaseError("motorns text", SQLITE_CORRUPT, path), "Raden sparades inte."),
        "Raden sparades inte.\n" + text(SQLITE_CORRUPT));
}

// Lets another monitor begin a write at the moment the new file is switched to WAL: every
// connection this process opens while it is installed has its statements traced, and the
// first switch waits until the other one holds its lock. The engine fails such a switch at
// once rather than wait, as waiting for a writer while reading could deadlock.
class CWriterAtTheWalSwitch {
public:
    explicit CWriterAtTheWalSwitch(QString path) : m_path(std::move(path)) {
        s_current = this;
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(&Install));
        m_writer = std::thread([this] { Write(); });
    }
    ~CWriterAtTheWalSwitch() {
        sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&Install));
        m_writerMayGo.release();
        m_writer.join();
        s_current = nullptr;
    }
    bool WriterWasIn() const { return m_writerWasIn; }

private:
    static int Install(sqlite3* db, char**, const void*) {
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &OnStatement, nullptr);
        return SQLITE_OK;
    }
    static int OnStatement(unsigned, void*, void*, void* sql) {
        if (s_current && !s_current->m_writerWasIn &&
            QByteArray(static_cast<const char*>(sql)).contains("journal_mode=WAL")) {
            s_current->m_writerWasIn = true;
            s_current->m_writerMayGo.release();
            s_current->m_writerHolds.acquire();
        }
        return 0;
    }
    void Write() {
        m_writerMayGo.acquire();
        if (!m_writerWasIn)
            return;
        CSqliteConnection writer;
        writer.Open(m_path, CSqliteConnection::OpenMode::ExistingFile, 1000);
        writer.Execute("BEGIN IMMEDIATE");
        m_writerHolds.release();
        QThread::msleep(300);
        writer.Execute("COMMIT");
    }

    static inline CWriterAtTheWalSwitch* s_current = nullptr;
    QString m_path;
    std::atomic<bool> m_writerWasIn{false};
    QSemaphore m_writerMayGo;
    QSemaphore m_writerHolds;
    std::thread m_writer;
};

// Several monitors starting on one new file: the one that makes it switches it to WAL while
// another begins to write, and waits for the writer instead of failing.
TEST(SystemDatabaseFile, TheSwitchToWalWaitsForAWriterOfTheNewFile) {
    CTestFolder folder;
    {
        const CWriterAtTheWalSwitch writer(folder.DatabaseFile());
        CSystemDatabase db(folder.DatabaseFile());
        EXPECT_NO_THROW(db.OpenOrCreate());
        EXPECT_TRUE(writer.WriterWasIn());
    }
    EXPECT_EQ(QueryFile(folder.DatabaseFile(), "PRAGMA journal_mode"), "wal");
}

// A running program never creates the file nor touches one it cannot use, and names the fault.
TEST(SystemDatabaseFile, UnusableFilesAreNamedAndLeftAlone) {
    CTestFolder folder;
    CSystemDatabase db(folder.DatabaseFile());
    const std::optional<CDatabaseError> missing = ErrorOf([&] { db.Open(); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(ClassifyFault(*missing), DatabaseFault::Missing);
    EXPECT_EQ(missing->Path(), folder.DatabaseFile());
    EXPECT_FALSE(QFile::exists(folder.DatabaseFile()));

    const QByteArray content = "Det här är ingen databas, bara text.\n";
    folder.WriteText(folder.DatabaseFile(), QString::fromUtf8(content));
    const std::optional<CDatabaseError> text = ErrorOf([&] { db.Open(); });
    ASSERT_TRUE(text);
    EXPECT_EQ(ClassifyFault(*text), DatabaseFault::NotADatabase);
    EXPECT_TRUE(FaultText(*text).startsWith("Filen " + folder.DatabaseFile() +
                                            " är ingen monitordatabas ("));
    EXPECT_TRUE(ErrorOf([&] { db.OpenOrCreate(); }));
    EXPECT_EQ(FileBytes(folder.DatabaseFile()), content);
    // Operations on the unopened accessor fail with the engine's kind of error.
    EXPECT_THROW(db.IsImplemented(1), CDatabaseError);
}

// Monitors starting at once on a missing file create it once, each name once, no key twice,
// and the one switching it to WAL waits for the others' writes instead of failing.
TEST(SystemDatabaseFile, ProcessesStartingAtOnceOnAMissingFileShareItWithoutDuplicates) {
    constexpr int kRowsEach = 250;
    constexpr int kProcesses = 4;
    CTestFolder folder;
    QProcess savers[kProcesses];
    for (QProcess& saver : savers)
        saver.start(KVARNIX_SAVEROWS, {folder.DatabaseFile(), QString::number(kRowsEach)});
    QVector<int> keys;
    for (QProcess& saver : savers) {
        ASSERT_TRUE(saver.waitForFinished(120000));
        EXPECT_EQ(saver.exitCode(), 0) << saver.readAllStandardError().toStdString();
        for (const QByteArray& line : saver.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                keys << line.toInt();
    }
    std::sort(keys.begin(), keys.end());
    QVector<int> expected(kProcesses * kRowsEach);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(keys, expected);
    CSystemDatabase db(folder.DatabaseFile());
    ASSERT_NO_THROW(db.Open());
    EXPECT_EQ(db.NextNumber("POST", false), kProcesses * kRowsEach + 1);
    EXPECT_EQ(QueryFile(folder.DatabaseFile(), "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(QueryFile(folder.DatabaseFile(), "SELECT group_concat(NAMN) FROM (SELECT NAMN FROM "
                                               "SEKVENS GROUP BY NAMN HAVING COUNT(*) > 1)"),
              "");
}

// A queued batch job has no heartbeat to judge until its supervisor runs; before its job id is
// stored, its submission stands in for one, so a scheduler that died submitting leaves no run
// open for ever. Slurm's end never overwrites one a supervisor wrote.
TEST_F(SystemDatabaseTest, QueuedJobsAreNotJudgedByHeartbeatAndASupervisorsEndWins) {
    const int key = db.SaveRow("00:05", "/m/kluster", "Makro", -1, 1);
    const int other = db.SaveRow("00:07", "/m/annan", "Makro", -1, 1);
    CRun pending;
    pending.key = key;
    pending.model = "/m/kluster";
    pending.macro = "Makro";
    pending.launched = 1000;
    const qint64 queued = db.InsertPendingRun(pending, 16);
    pending.key = other;
    const qint64 finished = db.InsertPendingRun(pending, 16);
    db.MarkQueued(queued, 1010, "/ut/korning.txt");
    db.MarkQueued(finished, 1020, "/ut/annan.txt");
    EXPECT_EQ(db.SupervisedHeartbeats(), (QHash<qint64, qint64>{{queued, 1010}, {finished, 1020}}));
    db.SetJob(queued, 77);
    db.SetJob(finished, 78);
    EXPECT_TRUE(db.SupervisedHeartbeats().isEmpty());
    EXPECT_FALSE(db.CloseLostRun(queued, 1010, 5000));
    EXPECT_EQ(db.OpenJobs(), (QHash<qint64, qint64>{{queued, 77}, {finished, 78}}));
    const auto queuedRuns = [&] {
        QHash<int, CRun> runs;
        for (const CRun& run : db.OpenSupervisedRuns())
            if (run.Queued())
                runs.insert(run.key, run);
        return runs;
    };
    const QHash<int, CRun> waiting = queuedRuns();
    ASSERT_EQ(waiting.size(), 2);
    EXPECT_EQ(RunHistory::Summary(waiting.value(key)),
              "väntar i kön sedan " + TimeText(1010) + " (jobb 77)");

    db.CloseRun(finished, 1500, CRun::Outcome::Finished, {});
    EXPECT_FALSE(db.CloseEndedJob(finished, 1600, "noden föll bort"));
    EXPECT_EQ(db.LatestRun(other)->outcome, CRun::Outcome::Finished);
    const std::optional<CRun> lost = db.CloseEndedJob(queued, 1600, "noden föll bort");
    ASSERT_TRUE(lost);
    EXPECT_EQ(RunHistory::OutcomeText(*lost), "förlorad: noden föll bort");
    EXPECT_TRUE(db.OpenJobs().isEmpty());
    EXPECT_TRUE(queuedRuns().isEmpty());

    CScheduleModel list;
    list.SetRows(db.LoadAllRows());
    CRunState state;
    state.queuedJob = 79;
    state.queuedSince = 1700;
    list.ApplyRunStates({{key, state}});
    EXPECT_TRUE(list.index(0, 0).data(CScheduleModel::QueuedRole).toBool());
    EXPECT_FALSE(list.index(1, 0).data(CScheduleModel::QueuedRole).toBool());
    EXPECT_EQ(list.index(0, 0).data(Qt::ToolTipRole).toString(),
              "Väntar i Slurm-kön sedan " + TimeText(1700) + " (jobb 79)");
}

} // namespace
