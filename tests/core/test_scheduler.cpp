#include "app/programpaths.h"
#include "monitordb/sqliteconnection.h"
#include "monitordb/systemdatabase.h"
#include "schedule/calculationlauncher.h"
#include "schedule/calculationprocesses.h"
#include "schedule/monitorlog.h"
#include "schedule/problemreporter.h"
#include "schedule/scheduler.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

namespace {

// The scheduler as one monitor process has it, on the test's folder.
struct CSchedulerRig {
    CSchedulerRig(const QString& programFile, const CClock& clock)
        : paths(programFile), log(paths.MonitorLog(), paths.TrimFile()), problems(log, clock),
          processes(paths.MonitorDatabase()), launcher(paths, clock, log, processes),
          scheduler(paths, clock, launcher, log, problems, stop) {}
    void Tick() {
        scheduler.Tick([this](const CLaunchReport& report) { reports << report; });
    }

    CProgramPaths paths;
    CMonitorLog log;
    CProblemReporter problems;
    CCalculationProcesses processes;
    CCalculationLauncher launcher;
    std::atomic<bool> stop{false};
    CScheduler scheduler;
    QVector<CLaunchReport> reports;
};

// A monitor folder whose calculation program is /bin/true, so every start is a
// real process and every start leaves its line in the monitor log. The
// scheduler reads the stored settings at every tick.
class SchedulerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(db.OpenOrCreate());
        SetProgram("/bin/true");
        db.SetSetting("DRIFT", 1);
    }

    void SetProgram(const QString& path) { db.SaveRow("- - - -", path, "- - - -", 0, 0); }
    int AddRow(const QString& tid, const QString& model, bool active = true) {
        return db.SaveRow(tid, model, "Makro", -1, active ? 1 : 0);
    }
    void TickAt(const QString& time, CSchedulerRig& scheduler) {
        clock.Set(LocalTime(time));
        scheduler.Tick();
    }
    void TickAt(const QString& time) { TickAt(time, rig); }
    void TickAt(const QDateTime& time) {
        clock.Set(time);
        rig.Tick();
    }

    // Launches per model, read back from the monitor log; any other line counts
    // under its own text, so an unexpected one shows.
    QHash<QString, int> LaunchesByModel() const {
        QHash<QString, int> launches;
        for (const QString& line : LogLines()) {
            const QString entry = line.mid(22);
            ++launches[entry.endsWith("   Makro") ? entry.chopped(8) : entry];
        }
        return launches;
    }
    QStringList LogLines() const { return folder.ReadLines(folder.LogFile()); }

    CTestFolder folder;
    CSystemDatabase db{folder.DatabaseFile()};
    CFakeClock clock{LocalTime("2026-12-07 07:59")};
    CSchedulerRig rig{folder.ProgramFile(), clock};
};

TEST_F(SchedulerTest, FiveHoursOfTicksStartEachKindOfRowWhenDue) {
    AddRow("XXXX-XX-XX XX:30", "/m/halvtimme");
    AddRow("XXXX-XX-XX 10:15", "/m/dagligen");
    AddRow("Måndag  09:05", "/m/mandag");
    AddRow("Tisdag  09:05", "/m/tisdag");
    AddRow("00:07", "/m/cyklisk");
    AddRow("__:__", "/m/tomcyklisk");
    AddRow("Måndag  1_:05", "/m/tomveckodag");
    AddRow("2026-12-07 11:11", "/m/engang");
    AddRow("2026-12-07 11:1_", "/m/ofylld");
    AddRow("XXXX-XX-XX XX:XX", "/m/inaktiv", false);

    const QDateTime start = LocalTime("2026-12-07 08:00"); // a Monday
    const int minutes = 5 * 60;
    for (int m = 0; m < minutes; ++m)
        TickAt(start.addSecs(60 * m));

    // Counted from the clock alone: half past each of five hours, one 10:15, one
    // Monday 09:05, a seven-minute cycle due at once and then every seventh tick.
    QHash<QString, int> expected{{"/m/halvtimme", 0},
                                 {"/m/dagligen", 0},
                                 {"/m/mandag", 0},
                                 {"/m/cyklisk", 0},
                                 {"/m/engang", 0}};
    for (int m = 0; m < minutes; ++m) {
        const QTime time = start.addSecs(60 * m).time();
        expected["/m/halvtimme"] += time.minute() == 30;
        expected["/m/dagligen"] += time == QTime(10, 15);
        expected["/m/mandag"] += time == QTime(9, 5);
        expected["/m/engang"] += time == QTime(11, 11);
        expected["/m/cyklisk"] += m % 7 == 0;
    }
    EXPECT_EQ(LaunchesByModel(), expected);
    EXPECT_EQ(rig.problems.Current(), "");
}

TEST_F(SchedulerTest, SetRunFlagBlocksTheStartAndFreezesTheCountdown) {
    const int cyclic = AddRow("00:02", "/m/cyklisk");
    const int fixed = AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    db.SetCounter(cyclic, 1);
    db.SetSetting(QString("RUNFLAGG%1").arg(cyclic), 1);
    db.SetSetting(QString("RUNFLAGG%1").arg(fixed), 1);

    for (int m = 0; m < 5; ++m)
        TickAt(LocalTime("2026-12-07 08:00").addSecs(60 * m));
    EXPECT_TRUE(LaunchesByModel().isEmpty());
    EXPECT_EQ(db.GetCounter(cyclic), 1);

    db.ResetRunFlag(cyclic);
    TickAt("2026-12-07 08:05");
    EXPECT_EQ(LaunchesByModel(), (QHash<QString, int>{{"/m/cyklisk", 1}}));
}

TEST_F(SchedulerTest, LateWakeUpCatchesUpAndTheClockStepsBackOnlyForWildcardRows) {
    AddRow("XXXX-XX-XX 10:02", "/m/tio");
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    AddRow("00:01", "/m/cyklisk");
    AddRow("XXXX-XX-XX 12:00", "/m/tolv");

    TickAt("2026-12-07 10:00");
    // Three minutes late: 10:01 to 10:03 are evaluated, yet each row starts once.
    TickAt("2026-12-07 10:03:40");
    TickAt("2026-12-07 10:03:59");
    EXPECT_EQ(LaunchesByModel(),
              (QHash<QString, int>{{"/m/tio", 1}, {"/m/varje", 2}, {"/m/cyklisk", 2}}));

    // The clock stepped back: the fixed time does not run again, "X" rows go on.
    TickAt("2026-12-07 10:02");
    EXPECT_EQ(LaunchesByModel().value("/m/tio"), 1);
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 3);

    // Four hours on: fixed times of the last three hours run once, older ones not.
    TickAt("2026-12-07 14:05");
    EXPECT_EQ(
        LaunchesByModel(),
        (QHash<QString, int>{{"/m/tio", 1}, {"/m/varje", 4}, {"/m/cyklisk", 4}, {"/m/tolv", 1}}));
}

TEST_F(SchedulerTest, DaylightSavingDaysStartFixedTimesOnceAndWildcardsEveryHour) {
    AddRow("XXXX-XX-XX 02:30", "/m/fast");
    AddRow("XXXX-XX-XX XX:30", "/m/halvtimme");
    AddRow("Söndag  02:30", "/m/sondag");
    AddRow("01:00", "/m/cyklisk");

    for (const QDate& day : {QDate(2026, 3, 29), QDate(2026, 10, 25)}) {
        const QDateTime start(day, QTime(0, 0));
        const qint64 realMinutes = start.secsTo(QDateTime(day.addDays(1), QTime(0, 0))) / 60;
        QFile::remove(folder.LogFile());
        for (qint64 m = 0; m < realMinutes; ++m)
            TickAt(start.addSecs(60 * m));
        // A 23-hour and a 25-hour day: the half hours follow the clock, 02:30
        // happens once (at 03:00 when the clock skips it), the cycle follows
        // real minutes.
        const int hours = int(realMinutes / 60);
        EXPECT_EQ(
            LaunchesByModel(),
            (QHash<QString, int>{
                {"/m/fast", 1}, {"/m/halvtimme", hours}, {"/m/sondag", 1}, {"/m/cyklisk", hours}}))
            << day.toString().toStdString();
    }
}

TEST_F(SchedulerTest, SuspendRunsAFixedTimeItMissedOnceAndSkipsWildcardMinutes) {
    AddRow("XXXX-XX-XX 10:20", "/m/fast");
    AddRow("XXXX-XX-XX XX:15", "/m/kvart");
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    TickAt("2026-12-07 10:00");
    TickAt("2026-12-07 10:40:03");
    TickAt("2026-12-07 10:41:00");
    EXPECT_EQ(LaunchesByModel(), (QHash<QString, int>{{"/m/fast", 1}, {"/m/varje", 3}}));
}

// Each process keeps its own scheduler; only the file knows what was evaluated.
TEST_F(SchedulerTest, EveryMinuteIsEvaluatedOnceAcrossRestartsAndSchedulers) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    AddRow("XXXX-XX-XX 10:23", "/m/tjugo");
    AddRow("XXXX-XX-XX 06:43", "/m/fyra");
    AddRow("XXXX-XX-XX 13:00", "/m/tretton");
    AddRow("XXXX-XX-XX 11:30", "/m/halvtolv");
    TickAt("2026-12-07 10:00:05");
    {
        // Stopped and started again within the minute.
        CSchedulerRig restarted(folder.ProgramFile(), clock);
        TickAt("2026-12-07 10:00:41", restarted);
        // Two schedulers on one file for three minutes, one a little behind the other.
        for (const char* minute : {"10:01", "10:02", "10:03"}) {
            TickAt(QString("2026-12-07 %1:00.100").arg(minute));
            TickAt(QString("2026-12-07 %1:00.300").arg(minute), restarted);
        }
        EXPECT_TRUE(restarted.reports.isEmpty());
    }
    EXPECT_EQ(LaunchesByModel(), (QHash<QString, int>{{"/m/varje", 4}}));

    // A service that claims a minute first is named to the window that comes after it.
    {
        CSchedulerRig service(folder.ProgramFile(), clock);
        service.scheduler.SetService(true);
        clock.Set(LocalTime("2026-12-07 10:04:00.100"));
        EXPECT_EQ(service.scheduler.Tick([](const CLaunchReport&) {}), "");
        clock.Set(LocalTime("2026-12-07 10:04:00.300"));
        EXPECT_EQ(rig.scheduler.Tick([](const CLaunchReport&) {}), QSysInfo::machineHostName());
        clock.Set(LocalTime("2026-12-07 10:05:00.100"));
        EXPECT_EQ(rig.scheduler.Tick([](const CLaunchReport&) {}), "");
    }
    EXPECT_EQ(LaunchesByModel(), (QHash<QString, int>{{"/m/varje", 6}}));

    // Nothing ran for 40 minutes: a fixed time 20 minutes ago starts once, one
    // four hours ago does not.
    CSchedulerRig afterPause(folder.ProgramFile(), clock);
    TickAt("2026-12-07 10:43:02", afterPause);
    EXPECT_EQ(LaunchesByModel(), (QHash<QString, int>{{"/m/varje", 7}, {"/m/tjugo", 1}}));

    // Nothing ran for four hours: only the last three are caught up.
    TickAt("2026-12-07 15:03:02", afterPause);
    EXPECT_EQ(LaunchesByModel(),
              (QHash<QString, int>{{"/m/varje", 8}, {"/m/tjugo", 1}, {"/m/tretton", 1}}));
}

TEST_F(SchedulerTest, MinutesWhileSwitchedOffCountAsEvaluatedAndNothingIsPurged) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    AddRow("XXXX-XX-XX 10:02", "/m/tio");
    db.SetSetting("DRIFT", 0);
    CSqliteConnection raw;
    raw.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
    raw.Execute("INSERT INTO PID (TID, PID, MODELL) VALUES('2000-01-01 00:00:00', 1, '/m')");
    const auto pidRecords = [&] {
        CSqliteStatement count = raw.Prepare("SELECT COUNT(*) FROM PID");
        count.Step();
        return count.ColumnInt(0);
    };
    for (const char* time : {"10:00", "10:01", "10:02", "10:03"})
        TickAt(QString("2026-12-07 %1").arg(time));
    EXPECT_FALSE(QFileInfo::exists(folder.LogFile()));
    EXPECT_EQ(pidRecords(), 1);

    db.SetSetting("DRIFT", 4294967296); // beyond 32 bits, and nonzero
    TickAt("2026-12-07 10:04");
    EXPECT_EQ(LaunchesByModel(), (QHash<QString, int>{{"/m/varje", 1}}));
    EXPECT_EQ(pidRecords(), 0);
}

TEST_F(SchedulerTest, AFailedStartIsLoggedWithItsReasonAndNeverAsALaunch) {
    const int key = AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    const QString notExecutable = folder.File("ingen-körrätt");
    folder.WriteText(notExecutable, "#!/bin/sh\n");
    const QString badInterpreter = folder.File("fel-tolk");
    folder.WriteText(badInterpreter, "#!/finns/inte\n");
    QFile::setPermissions(badInterpreter, QFile::ReadOwner | QFile::ExeOwner);
    const struct {
        QString program;
        QString reason;
    } cases[] = {
        {folder.File("saknas"), "programmet " + folder.File("saknas") + " finns inte"},
        {folder.Path(), folder.Path() + " är en mapp, inte ett program"},
        {notExecutable, notExecutable + " får inte köras (körrättighet saknas)"},
        {"", "ingen sökväg till beräkningsprogrammet är angiven i inställningarna"},
        {badInterpreter, "programmet " + badInterpreter + " gick inte att starta ("},
    };
    int minute = 0;
    for (const auto& c : cases) {
        SetProgram(c.program);
        TickAt(LocalTime("2026-12-07 10:00").addSecs(60 * minute++));
        ASSERT_FALSE(rig.reports.isEmpty());
        EXPECT_FALSE(rig.reports.last().started);
        EXPECT_TRUE(rig.reports.last().reason.startsWith(c.reason))
            << rig.reports.last().reason.toStdString();
        EXPECT_TRUE(LogLines().last().endsWith(
            "/m/varje   Makro   (kunde inte startas: " + rig.reports.last().reason + ")"))
            << LogLines().last().toStdString();
    }
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 0);
    SetProgram("/bin/true");
    TickAt(LocalTime("2026-12-07 10:00").addSecs(60 * minute));
    EXPECT_TRUE(rig.reports.last().started);
    EXPECT_EQ(rig.reports.last().key, key);
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 1);
}

// Another process holds the write lock across a minute boundary, far longer than
// any statement's wait: the tick waits as long as it is held and evaluates the
// minutes that passed meanwhile once, without a word to anybody. A stop ends
// such a wait at once and claims nothing.
TEST_F(SchedulerTest, AHeldFileIsWaitedForSilentlyUntilFreeOrStopped) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    AddRow("XXXX-XX-XX 10:01", "/m/fast");
    TickAt("2026-12-07 10:00:01");
    CSqliteConnection holder;
    holder.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
    holder.Execute("BEGIN IMMEDIATE");
    std::thread release([&] {
        QThread::msleep(1500);
        clock.Set(LocalTime("2026-12-07 10:02:10"));
        holder.Execute("COMMIT");
    });
    TickAt("2026-12-07 10:01:00.100");
    release.join();
    EXPECT_EQ(LaunchesByModel(), (QHash<QString, int>{{"/m/varje", 2}, {"/m/fast", 1}}));
    TickAt("2026-12-07 10:02:30");
    TickAt("2026-12-07 10:03:00.100");
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 3);

    holder.Execute("BEGIN IMMEDIATE");
    std::thread stop([&] {
        QThread::msleep(300);
        rig.stop = true;
    });
    QElapsedTimer waited;
    waited.start();
    TickAt("2026-12-07 10:04:00.100");
    stop.join();
    EXPECT_LT(waited.elapsed(), 5000);
    holder.Execute("COMMIT");
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 3);
    EXPECT_EQ(db.MinuteClaim()->last,
              CMinuteTracker::WallClockMinute(LocalTime("2026-12-07 10:03")));
    EXPECT_EQ(rig.problems.Current(), "");
}

// The countdown cannot be stored: the operator learns of it from the status and
// the log, the other rows start, and no lock is left for the calculation programs.
TEST_F(SchedulerTest, ACountdownThatCannotBeStoredIsReportedOnceWithoutHoldingTheFile) {
    AddRow("00:05", "/m/cyklisk");
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    CSqliteConnection other;
    other.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 0);
    other.Execute("CREATE TRIGGER nej BEFORE UPDATE OF COUNTER ON MONITOR "
                  "BEGIN SELECT RAISE(ABORT, 'nedräkningen är låst'); END");
    TickAt("2026-12-07 10:00");
    TickAt("2026-12-07 10:01");
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 2);
    EXPECT_TRUE(rig.problems.Current().startsWith("Det gick inte att uppdatera COUNTER"));
    const QStringList problemLines = LogLines().filter("Det gick inte att uppdatera COUNTER");
    ASSERT_EQ(problemLines.size(), 1);
    EXPECT_TRUE(problemLines.first().endsWith("nedräkningen är låst"));
    // A write of another process goes through at once.
    other.Execute("BEGIN IMMEDIATE");
    other.Execute("UPDATE SEKVENS SET NUMMER = 7 WHERE NAMN = 'PID'");
    other.Execute("COMMIT");

    other.Execute("DROP TRIGGER nej");
    TickAt("2026-12-07 10:02");
    EXPECT_EQ(rig.problems.Current(), "");
    EXPECT_TRUE(LogLines().last().endsWith(" - Monitordatabasen går att använda igen."));
}

TEST_F(SchedulerTest, AnUnusableOrMissingFileIsReportedOnceAndNeverRecreated) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    db.Close();
    const QString saved = folder.File("sparad.mdb");
    ASSERT_TRUE(QFile::copy(folder.DatabaseFile(), saved));
    const QByteArray garbage = "ingen databas\n";
    QFile::remove(folder.DatabaseFile());
    folder.WriteText(folder.DatabaseFile(), QString::fromUtf8(garbage));
    TickAt("2026-12-07 10:00");
    TickAt("2026-12-07 10:01");
    QFile file(folder.DatabaseFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), garbage);
    EXPECT_TRUE(rig.problems.Current().startsWith("Filen " + folder.DatabaseFile() +
                                                  " är ingen monitordatabas"));

    QFile::remove(folder.DatabaseFile());
    TickAt("2026-12-07 10:02");
    TickAt("2026-12-07 10:03");
    EXPECT_FALSE(QFileInfo::exists(folder.DatabaseFile()));
    EXPECT_TRUE(rig.problems.Current().startsWith("Monitordatabasen " + folder.DatabaseFile() +
                                                  " finns inte."));
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains("är ingen monitordatabas"));
    EXPECT_TRUE(lines[1].contains("finns inte"));

    ASSERT_TRUE(QFile::rename(saved, folder.DatabaseFile()));
    TickAt("2026-12-07 10:04");
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 1);
    EXPECT_EQ(rig.problems.Current(), "");
}

// The calculation program gets six separate arguments, blanks and quotes intact.
TEST_F(SchedulerTest, LaunchHandsTheSimulatorTheSixArgumentsWhole) {
    const QString argsFile = folder.File("args.txt");
    qputenv("KVARNIXSIM_ARGS_FILE", argsFile.toUtf8());
    qputenv("KVARNIXSIM_SECONDS", "0");
    const QString model = folder.File("Kvarn'Syd modell");
    folder.WriteText(model + ".vxm", "modell");
    SetProgram(KVARNIX_SIMULATOR);
    db.SetSetting("SAVE", 3);
    const int key = AddRow("XXXX-XX-XX XX:XX", model);

    TickAt("2026-12-07 10:00");
    QElapsedTimer waited;
    waited.start();
    while (folder.ReadLines(argsFile).size() < 7 && waited.elapsed() < 10000)
        QThread::msleep(20);
    qunsetenv("KVARNIXSIM_ARGS_FILE");
    qunsetenv("KVARNIXSIM_SECONDS");

    EXPECT_EQ(folder.ReadLines(argsFile),
              (QStringList{model + ".vxm", "Makro", QString::number(key), "3",
                           folder.DatabaseFile(), "1", "--"}));
    const QStringList log = LogLines();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log.first().mid(19), " - " + model + "   Makro");
}

} // namespace
