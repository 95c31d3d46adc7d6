#include "app/monitorsettings.h"
#include "monitordb/daoexception.h"
#include "monitordb/filesystem.h"
#include "monitordb/sqliteconnection.h"
#include "monitordb/systemdatabase.h"
#include "schedule/schedulemodel.h"
#include "support/testsupport.h"

#include <QFile>
#include <climits>
#include <gtest/gtest.h>

namespace {

class SystemDatabaseTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(db.OpenOrCreate()); }

    // A second, independent look at the file, as the calculation program has it.
    int Number(const QString& name) {
        CSqliteConnection raw;
        raw.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
        CSqliteStatement row =
            raw.Prepare(QStringLiteral("SELECT NUMMER FROM SEKVENS WHERE NAMN = ?"));
        return row.Bind(1, name).Step() ? row.ColumnInt(0) : -999;
    }
    int Count(const QString& sql) {
        CSqliteConnection raw;
        raw.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
        CSqliteStatement row = raw.Prepare(sql);
        row.Step();
        return row.ColumnInt(0);
    }

    CTestFolder folder;
    CSystemDatabase db{folder.DatabaseFile()};
};

TEST_F(SystemDatabaseTest, NewFileAllocatesKeysFromPostAndNeverReusesThem) {
    EXPECT_EQ(Number("POST"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM MONITOR"), 0);

    EXPECT_EQ(db.SaveRow("00:05", "/m/a", "Makro", -1, 0), 1);
    EXPECT_EQ(Number("POST"), 2);
    EXPECT_TRUE(db.DeleteRow(1));
    EXPECT_EQ(db.SaveRow("00:05", "/m/b", "Makro", -1, 0), 2);

    // Key 0 is the settings row: inserted, then updated, and POST is left alone.
    EXPECT_EQ(db.SaveRow("- - - -", "/opt/kvarnix/Kvarnix", "- - - -", 0, 0), 0);
    EXPECT_EQ(db.SaveRow("- - - -", "/opt/kvarnix/Ny", "- - - -", 0, 0), 0);
    EXPECT_EQ(db.GetProgramPath(), "/opt/kvarnix/Ny");
    EXPECT_EQ(Number("POST"), 3);

    // Saving an existing key updates it and keeps its countdown.
    db.SetCounter(2, 17);
    EXPECT_EQ(db.SaveRow("00:10", "/m/c", "Annat", 2, 1), 2);
    EXPECT_EQ(db.GetCounter(2), 17);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM MONITOR"), 2);
    EXPECT_EQ(db.LastError(), "");
}

TEST_F(SystemDatabaseTest, TextsWithQuotesPercentAndSwedishLettersRoundTrip) {
    const QString model = "/modeller/Kvarn'Syd/100% \"rå\" \\ data";
    const QString macro = "Dygnsberäkning 'ö' %d %s";
    const QString oddTid = "'%s\\ö\"";
    const int key = db.SaveRow(oddTid, model, macro, -1, 1);
    ASSERT_GT(key, 0);

    QString tid, readModel, readMacro;
    int implemented = -1;
    db.LoadRow(key, tid, readModel, readMacro, implemented);
    EXPECT_EQ(tid, oddTid);
    EXPECT_EQ(readModel, model);
    EXPECT_EQ(readMacro, macro);
    EXPECT_EQ(implemented, 1);
    EXPECT_TRUE(db.SetSetting("Ö'%d\\", 7));
    EXPECT_EQ(db.GetSetting("Ö'%d\\"), 7);
}

TEST_F(SystemDatabaseTest, ListShowsWeekdayRowsInDisplayFormAndHidesTheSettingsRow) {
    db.SaveRow("- - - -", "/opt/kvarnix/Kvarnix", "- - - -", 0, 0);
    db.SaveRow("3-18:00   ", "/m/onsdag  ", "Makro ", -1, 1);
    db.SaveRow("Måndag  07:30", "/m/mandag", "Makro", -1, 0);
    db.SaveRow("00:05", "/m/cyklisk", "Makro", -1, 1);

    db.SetCounter(3, 9);
    CScheduleModel list;
    list.SetRows(db.LoadAllRows());
    ASSERT_EQ(list.LineCount(), 3);
    EXPECT_EQ(list.Line(0).startTime, "Onsdag  18:00");
    EXPECT_EQ(list.Line(0).model, "/m/onsdag");
    EXPECT_EQ(list.Line(0).macro, "Makro");
    EXPECT_EQ(list.Line(0).stateImage, 2);
    EXPECT_EQ(list.Line(1).startTime, "Måndag  07:30");
    EXPECT_EQ(list.Line(1).stateImage, 1);
    EXPECT_EQ(list.Line(2).startTime, "00:05");
    EXPECT_EQ(list.Keys(), (QVector<int>{1, 2, 3}));
    EXPECT_EQ(db.LoadAllRows().at(2).counter, 9);

    // A deleted row: the caller's fields keep what they held, the failure is returned.
    QString tid = "kvar", model, macro;
    int implemented = 7;
    db.DeleteRow(2);
    EXPECT_FALSE(db.LoadRow(2, tid, model, macro, implemented));
    EXPECT_EQ(tid, "kvar");
    EXPECT_EQ(implemented, 7);
    EXPECT_EQ(db.LastError(),
              "Raden kunde inte läsas ur monitordatabasen.\nDet finns ingen rad med "
              "nyckeln 2 i tabellen MONITOR.");
}

TEST_F(SystemDatabaseTest, NamedNumbersAreCreatedOnFirstUse) {
    EXPECT_EQ(db.NextNumber("NYTT", true), 0);
    EXPECT_EQ(Number("NYTT"), 1);
    EXPECT_EQ(db.NextNumber("ANNAT", false), 0);
    EXPECT_EQ(Number("ANNAT"), 0);

    EXPECT_FALSE(db.SettingExists("HIDE"));
    EXPECT_EQ(db.GetSetting("HIDE"), 0);
    EXPECT_TRUE(db.SettingExists("HIDE"));
    EXPECT_TRUE(db.SetSetting("LOGFILE", 30));
    EXPECT_EQ(db.GetSetting("LOGFILE"), 30);

    EXPECT_FALSE(db.IsRunFlagSet(12));
    EXPECT_EQ(Number("RUNFLAGG12"), 0);
    db.SetSetting("RUNFLAGG12", 1);
    EXPECT_TRUE(db.IsRunFlagSet(12));
    db.ResetRunFlag(12);
    EXPECT_FALSE(db.IsRunFlagSet(12));
    db.ResetRunFlag(99);
    EXPECT_EQ(Number("RUNFLAGG99"), -999);

    EXPECT_EQ(db.GetTimeText(0, 12), "Uppgift saknas");
    db.SetSetting("MES_TIME12", 0);
    EXPECT_EQ(db.GetTimeText(1, 12), "Uppgift saknas");
    const QDateTime calculated = LocalTime("2026-12-05 23:10:07");
    db.SetSetting("CALC_TIME12", int(calculated.toSecsSinceEpoch()));
    EXPECT_EQ(db.GetTimeText(0, 12), "2026-12-05 23:10:07");
}

TEST_F(SystemDatabaseTest, WholeListReadsAgreeWithSingleReads) {
    db.SetSetting("RUNFLAGG1", 1);
    db.SetSetting("RUNFLAGG2", 0);
    db.SetSetting("RUNFLAGG03", 1); // not the name of key 3
    const QHash<int, bool> flags = db.RunFlags({1, 2, 3});
    EXPECT_TRUE(flags.value(1));
    EXPECT_FALSE(flags.value(2));
    EXPECT_FALSE(flags.value(3));
    EXPECT_EQ(Number("RUNFLAGG3"), 0);

    db.SetSetting("CALC_TIME5", 1000);
    db.SetSetting("CALC_TIME", 2000);
    db.SetSetting("MES_TIME5", 900);
    EXPECT_EQ(db.StoredTimes(0), (QHash<int, qint64>{{5, 1000}}));
    EXPECT_EQ(db.StoredTimes(1), (QHash<int, qint64>{{5, 900}}));
}

TEST_F(SystemDatabaseTest, CyclicCountdownIsDueEveryIntervalAndRestartsWhenActivated) {
    const int key = db.SaveRow("00:03", "/m/a", "M", -1, 1);
    QString pattern;
    for (int tick = 0; tick < 7; ++tick)
        pattern += db.StepCounter(key) ? 'D' : '.';
    // A counter never stored reads 0: due at once, then every third tick.
    EXPECT_EQ(pattern, "D..D..D");

    db.StepCounter(key);
    EXPECT_EQ(db.GetCounter(key), 2);
    db.SetImplemented(1, key);
    EXPECT_EQ(db.GetCounter(key), 0);
    EXPECT_TRUE(db.StepCounter(key));

    const int everyTick = db.SaveRow("00:00", "/m/b", "M", -1, 1);
    EXPECT_TRUE(db.StepCounter(everyTick));
    EXPECT_TRUE(db.StepCounter(everyTick));

    EXPECT_EQ(CSystemDatabase::IntervalMinutes("01:30"), 90);
    EXPECT_EQ(CSystemDatabase::IntervalMinutes("02:_5"), 120);
}

TEST_F(SystemDatabaseTest, SeedingSpreadsCyclicRowsOverTheirFirstInterval) {
    const int cyclic = db.SaveRow("00:10", "/m/a", "M", -1, 1);
    const int absolute = db.SaveRow("XXXX-XX-XX 06:30", "/m/b", "M", -1, 1);
    db.SetCounter(absolute, 42);

    db.SeedCyclicCounters([] { return 0; });
    EXPECT_EQ(db.GetCounter(cyclic), 1);
    db.SeedCyclicCounters([] { return 32767; });
    EXPECT_EQ(db.GetCounter(cyclic), 11);
    db.SeedCyclicCounters([] { return 16384; });
    EXPECT_EQ(db.GetCounter(cyclic), 6);
    EXPECT_EQ(db.GetCounter(absolute), 42);
}

TEST_F(SystemDatabaseTest, PurgeRemovesExactlyThePidRecordsOlderThanTheCutOff) {
    EXPECT_TRUE(db.PurgePid(LocalTime("2026-12-05 23:10"), 10));
    {
        CSqliteConnection raw;
        raw.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
        for (const char* tid :
             {"2026-11-25 23:09:59", "2026-11-25 23:10:00", "2026-12-01 08:00:00"})
            raw.Prepare("INSERT INTO PID (TID, PID, MODELL) VALUES(?, 1, '/m/a')")
                .Bind(1, tid)
                .Run();
    }
    EXPECT_TRUE(db.PurgePid(LocalTime("2026-12-05 23:10"), 10));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM PID"), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM PID WHERE TID = '2026-11-25 23:09:59'"), 0);

    // A span of no days, or fewer, keeps the current day's records as the log keeps its last day.
    for (int days : {0, -3}) {
        CSqliteConnection raw;
        raw.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
        raw.Execute("INSERT INTO PID (TID, PID, MODELL) VALUES('2026-12-05 00:00:00', 2, '/m')");
        raw.Execute("INSERT INTO PID (TID, PID, MODELL) VALUES('2026-12-04 23:59:59', 3, '/m')");
        EXPECT_TRUE(db.PurgePid(LocalTime("2026-12-05 23:10"), days));
        EXPECT_EQ(Count("SELECT COUNT(*) FROM PID WHERE TID LIKE '2026-12-05%'"), 1) << days;
        EXPECT_EQ(Count("SELECT COUNT(*) FROM PID WHERE TID < '2026-12-05'"), 0) << days;
        raw.Execute("DELETE FROM PID WHERE PID = 2");
    }
}

TEST_F(SystemDatabaseTest, SettingsAreCreatedWithZeroAndDefaultsApplyInMemoryOnly) {
    CMonitorSettings settings = CMonitorSettings::Load(db);
    EXPECT_EQ(settings.drift, 0);
    EXPECT_EQ(settings.logFile, 100);
    EXPECT_EQ(settings.pid, 10);
    EXPECT_EQ(settings.hideMinuter, 10);
    EXPECT_EQ(settings.programPath, "");
    for (const char* name :
         {"SHOW_KOL4", "HIDE_MINUTER", "HIDE", "LOGFILE", "PID", "SAVE", "DRIFT"})
        EXPECT_EQ(Number(name), 0) << name;

    db.SetSetting("LOGFILE", 30);
    db.SaveRow("- - - -", "/opt/kvarnix/Kvarnix   ", "- - - -", 0, 0);
    settings = CMonitorSettings::Load(db);
    EXPECT_EQ(settings.logFile, 30);
    EXPECT_EQ(settings.programPath, "/opt/kvarnix/Kvarnix");

    // Numbers beyond 32 bits keep their sign: nonzero stays on, a span stays long.
    db.SetSetting("DRIFT", 4294967296);
    db.SetSetting("SAVE", -4294967296);
    db.SetSetting("HIDE", 4294967297);
    db.SetSetting("PID", 8589934592);
    EXPECT_EQ(db.GetSetting("DRIFT"), 4294967296);
    settings = CMonitorSettings::Load(db);
    EXPECT_GT(settings.drift, 0);
    EXPECT_LT(settings.save, 0);
    EXPECT_GT(settings.hide, 0);
    EXPECT_EQ(settings.pid, INT_MAX);
}

// The tables a file holds decide what it is: none, a new file (created whole at
// the start, never by a running program); the monitor's two, an older file that
// gains what came later; some of them, somebody else's file, left as it is.
TEST(SystemDatabaseFile, EachKindOfFileIsCompletedOrNamedAndLeftAlone) {
    const QString monitor = "CREATE TABLE MONITOR (TID TEXT, MODELL TEXT, MAKRO TEXT, "
                            "NYCKEL INTEGER, IMPLEMENTED INTEGER, COUNTER INTEGER)";
    const QString sekvens = "CREATE TABLE SEKVENS (NAMN TEXT, NUMMER INTEGER)";
    const struct {
        QStringList statements;
        bool opens;
        QString problem;
    } cases[] = {
        {{}, false, "filen innehåller inga tabeller."},
        {{monitor, sekvens}, true, ""},
        {{monitor}, false, "tabellen SEKVENS saknas."},
        {{"CREATE TABLE ANNAN (X INTEGER)"}, false, "tabellen MONITOR saknas."},
    };
    for (const auto& c : cases) {
        CTestFolder folder;
        folder.WriteText(folder.DatabaseFile(), "");
        {
            CSqliteConnection raw;
            raw.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
            for (const QString& statement : c.statements)
                raw.Execute(statement);
        }
        const auto tables = [&] {
            CSqliteConnection raw;
            raw.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ReadOnly, 1000);
            CSqliteStatement names =
                raw.Prepare("SELECT group_concat(name) FROM (SELECT name FROM sqlite_master WHERE "
                            "type = 'table' ORDER BY name)");
            names.Step();
            return names.ColumnText(0);
        };
        const QString before = tables();
        CSystemDatabase db(folder.DatabaseFile());
        EXPECT_EQ(db.Open(), c.opens) << before.toStdString();
        if (c.opens) {
            EXPECT_EQ(tables(), "KORNINGAR,MONITOR,PID,SCHEMALAGGARE,SEKVENS");
            continue;
        }
        EXPECT_EQ(db.LastOpenFault(), DatabaseFault::Incomplete);
        EXPECT_EQ(db.LastOpenFaultText(), "Monitordatabasen " + folder.DatabaseFile() +
                                              " är inte hel: " + c.problem +
                                              " Filen lämnas orörd; lägg tillbaka rätt fil.");
        EXPECT_EQ(tables(), before);
        // Only an empty file is new enough to be made a monitor database at the start.
        EXPECT_EQ(db.OpenOrCreate(), before.isEmpty()) << before.toStdString();
        if (before.isEmpty()) {
            EXPECT_EQ(tables(), "KORNINGAR,MONITOR,PID,SCHEMALAGGARE,SEKVENS");
            EXPECT_EQ(db.NextNumber("POST", false), 1);
        }
    }
}

// WAL does not work between hosts over a network file system: a new file there
// keeps its rollback journal, and a WAL file found there is named and left alone.
TEST(SystemDatabaseFile, OnANetworkFileSystemTheFileKeepsItsRollbackJournal) {
    const auto journalMode = [](const QString& path) {
        CSqliteConnection raw;
        raw.Open(path, CSqliteConnection::OpenMode::ExistingFile, 1000);
        CSqliteStatement mode = raw.Prepare("PRAGMA journal_mode");
        mode.Step();
        return mode.ColumnText(0);
    };
    CTestFolder local;
    CSystemDatabase onDisk(local.DatabaseFile());
    ASSERT_TRUE(onDisk.OpenOrCreate());
    onDisk.Close();
    EXPECT_EQ(journalMode(local.DatabaseFile()), "wal");

    CTestFolder shared;
    for (const long type : {0x6969L, 0xFF534D42L, 0x65735546L, 0x01021997L}) {
        QFile::remove(shared.DatabaseFile());
        CSystemDatabase onShare(shared.DatabaseFile());
        onShare.SetFileSystemProbe([type](const QString&) { return type; });
        ASSERT_TRUE(onShare.OpenOrCreate());
        onShare.Close();
        EXPECT_EQ(journalMode(shared.DatabaseFile()), "delete") << type;
    }
    ASSERT_TRUE(QFile::remove(shared.DatabaseFile()));
    ASSERT_TRUE(QFile::copy(local.DatabaseFile(), shared.DatabaseFile()));
    const QByteArray copied = [&] {
        QFile file(shared.DatabaseFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    CSystemDatabase walOnShare(shared.DatabaseFile());
    walOnShare.SetFileSystemProbe([](const QString&) { return 0x517BL; });
    EXPECT_FALSE(walOnShare.Open());
    EXPECT_EQ(walOnShare.LastOpenFault(), DatabaseFault::WalOnNetwork);
    EXPECT_TRUE(walOnShare.LastOpenFaultText().contains("journal_mode=DELETE"));
    QFile file(shared.DatabaseFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), copied);
    EXPECT_FALSE(QFile::exists(shared.DatabaseFile() + "-shm"));
    // An ext4 or tmpfs folder is no network.
    EXPECT_FALSE(IsNetworkFileSystem(0xEF53));
    EXPECT_FALSE(IsNetworkFileSystem(0x01021994));
}

// A running program never creates the file, and never touches one it cannot use;
// each kind of fault gets its own Swedish sentence with the path.
TEST(SystemDatabaseFile, UnusableFilesAreNamedAndLeftAlone) {
    CTestFolder folder;
    CSystemDatabase db(folder.DatabaseFile());
    EXPECT_FALSE(db.Open());
    EXPECT_EQ(db.LastOpenFault(), DatabaseFault::Missing);
    EXPECT_FALSE(QFile::exists(folder.DatabaseFile()));

    const QByteArray content = "Det här är ingen databas, bara text.\n";
    folder.WriteText(folder.DatabaseFile(), QString::fromUtf8(content));
    EXPECT_FALSE(db.Open());
    EXPECT_EQ(db.LastOpenFault(), DatabaseFault::NotADatabase);
    EXPECT_TRUE(db.LastOpenFaultText().startsWith("Filen " + folder.DatabaseFile() +
                                                  " är ingen monitordatabas ("));
    EXPECT_FALSE(db.OpenOrCreate());
    QFile file(folder.DatabaseFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), content);
    // Operations on the unopened accessor fail with the engine's kind of error.
    EXPECT_THROW(db.IsImplemented(1), CDaoException);
}

} // namespace
