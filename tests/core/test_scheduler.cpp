#include "app/monitorsettings.h"
#include "app/programpaths.h"
#include "monitordb/sqliteconnection.h"
#include "monitordb/systemdatabase.h"
#include "schedule/schedulemodel.h"
#include "schedule/scheduler.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

namespace {

// A monitor folder whose calculation program is /bin/true, so every start is a
// real process and every start leaves its line in the monitor log.
class SchedulerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(db.Open());
        db.SaveRow("- - - -", "/bin/true", "- - - -", 0, 0);
        db.SetSetting("DRIFT", 1);
    }

    int AddRow(const QString& tid, const QString& model, bool active = true) {
        return db.SaveRow(tid, model, "Makro", -1, active ? 1 : 0);
    }

    // Loads the list as the monitor does at start, then puts every cyclic
    // countdown where the test wants it instead of at a random place.
    void Load(int cyclicCounter = 0) {
        ASSERT_TRUE(scheduler.LoadSchedule());
        for (int key : list.Keys())
            db.SetCounter(key, cyclicCounter);
    }

    void TickAt(const QDateTime& time) {
        clock.Set(time);
        scheduler.OnScheduleTimer();
    }

    // Launches per model, read back from the monitor log.
    QHash<QString, int> LaunchesByModel() const {
        QHash<QString, int> launches;
        for (const QString& line : folder.ReadLines(folder.LogFile()))
            ++launches[line.mid(22).section("   ", 0, 0)];
        return launches;
    }

    CTestFolder folder;
    CRecordingMessenger messenger;
    CSystemDatabase db{folder.DatabaseFile(), messenger};
    CProgramPaths paths{folder.ProgramFile()};
    CFakeClock clock{LocalTime("2026-12-07 07:59")};
    CMonitorSettings settings;
    CScheduleModel list;
    CScheduler scheduler{list, settings, paths, clock, messenger};
};

TEST_F(SchedulerTest, FiveHoursOfTicksStartEachKindOfRowWhenDue) {
    AddRow("XXXX-XX-XX XX:30", "/m/halvtimme");
    AddRow("XXXX-XX-XX 10:15", "/m/dagligen");
    AddRow("Måndag  09:05", "/m/mandag");
    AddRow("Tisdag  09:05", "/m/tisdag");
    AddRow("00:07", "/m/cyklisk");
    AddRow("2026-12-07 11:11", "/m/engang");
    AddRow("2026-12-07 11:1_", "/m/ofylld");
    AddRow("XXXX-XX-XX XX:XX", "/m/inaktiv", false);
    Load();

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
    EXPECT_TRUE(messenger.messages.isEmpty()) << messenger.messages.join('\n').toStdString();
}

TEST_F(SchedulerTest, SetRunFlagBlocksTheStartAndFreezesTheCountdown) {
    const int cyclic = AddRow("00:02", "/m/cyklisk");
    const int fixed = AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    Load(1);
    db.SetSetting(QString("RUNFLAGG%1").arg(cyclic), 1);
    db.SetSetting(QString("RUNFLAGG%1").arg(fixed), 1);

    for (int m = 0; m < 5; ++m)
        TickAt(LocalTime("2026-12-07 08:00").addSecs(60 * m));
    EXPECT_TRUE(LaunchesByModel().isEmpty());
    EXPECT_EQ(db.GetCounter(cyclic), 1);

    db.ResetRunFlag(cyclic);
    TickAt(LocalTime("2026-12-07 08:05"));
    EXPECT_EQ(LaunchesByModel(), (QHash<QString, int>{{"/m/cyklisk", 1}}));
}

TEST_F(SchedulerTest, LateWakeUpCatchesUpAndTheClockStepsBackOnlyForWildcardRows) {
    AddRow("XXXX-XX-XX 10:02", "/m/tio");
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    AddRow("00:01", "/m/cyklisk");
    Load();

    TickAt(LocalTime("2026-12-07 10:00"));
    // Three minutes late: 10:01 to 10:03 are evaluated, yet each row starts once.
    TickAt(LocalTime("2026-12-07 10:03:40"));
    TickAt(LocalTime("2026-12-07 10:03:59"));
    EXPECT_EQ(LaunchesByModel(),
              (QHash<QString, int>{{"/m/tio", 1}, {"/m/varje", 2}, {"/m/cyklisk", 2}}));

    // The clock stepped back: the fixed time does not run again, "X" rows go on.
    TickAt(LocalTime("2026-12-07 10:02"));
    EXPECT_EQ(LaunchesByModel().value("/m/tio"), 1);
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 3);

    // Four hours on is a correction: only the minute of waking counts.
    TickAt(LocalTime("2026-12-07 14:05"));
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 4);
    EXPECT_EQ(LaunchesByModel().value("/m/cyklisk"), 4);
}

TEST_F(SchedulerTest, DaylightSavingDaysStartFixedTimesOnceAndWildcardsEveryHour) {
    AddRow("XXXX-XX-XX 02:30", "/m/fast");
    AddRow("XXXX-XX-XX XX:30", "/m/halvtimme");
    AddRow("Söndag  02:30", "/m/sondag");
    AddRow("01:00", "/m/cyklisk");
    Load();

    for (const QDate& day : {QDate(2026, 3, 29), QDate(2026, 10, 25)}) {
        const QDateTime start(day, QTime(0, 0));
        const qint64 realMinutes = start.secsTo(QDateTime(day.addDays(1), QTime(0, 0))) / 60;
        QFile::remove(folder.LogFile());
        for (qint64 m = 0; m < realMinutes; ++m)
            TickAt(start.addSecs(60 * m));
        const QHash<QString, int> launched = LaunchesByModel();
        // A 23-hour and a 25-hour day: the half hours follow the clock, 02:30
        // happens once (at 03:00 when the clock skips it), the cycle follows
        // real minutes.
        const int hours = int(realMinutes / 60);
        EXPECT_EQ(
            launched,
            (QHash<QString, int>{
                {"/m/fast", 1}, {"/m/halvtimme", hours}, {"/m/sondag", 1}, {"/m/cyklisk", hours}}))
            << day.toString().toStdString();
    }
}

TEST_F(SchedulerTest, SuspendRunsAFixedTimeItMissedOnceAndSkipsWildcardMinutes) {
    AddRow("XXXX-XX-XX 10:20", "/m/fast");
    AddRow("XXXX-XX-XX XX:15", "/m/kvart");
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    Load();
    TickAt(LocalTime("2026-12-07 10:00"));
    TickAt(LocalTime("2026-12-07 10:40:03"));
    TickAt(LocalTime("2026-12-07 10:41:00"));
    EXPECT_EQ(LaunchesByModel(), (QHash<QString, int>{{"/m/fast", 1}, {"/m/varje", 3}}));
}

TEST_F(SchedulerTest, SchedulerSwitchedOffNeitherStartsNorPurges) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    db.SetSetting("DRIFT", 0);
    CSqliteConnection raw;
    raw.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
    raw.Execute("INSERT INTO PID (TID, PID, MODELL) VALUES('2000-01-01 00:00:00', 1, '/m')");
    const auto pidRecords = [&] {
        CSqliteStatement count = raw.Prepare("SELECT COUNT(*) FROM PID");
        count.Step();
        return count.ColumnInt(0);
    };
    Load();
    TickAt(LocalTime("2026-12-07 10:00"));
    EXPECT_FALSE(QFileInfo::exists(folder.LogFile()));
    EXPECT_EQ(pidRecords(), 1);

    db.SetSetting("DRIFT", 1);
    Load();
    TickAt(LocalTime("2026-12-07 10:01"));
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 1);
    EXPECT_EQ(pidRecords(), 0);
}

TEST_F(SchedulerTest, RefreshShowsRunFlagsAndTimesAndRestsWhileSuspended) {
    const int key = AddRow("XXXX-XX-XX 06:30", "/m/a");
    AddRow("XXXX-XX-XX 06:30", "/m/b", false);
    Load();
    EXPECT_EQ(list.Line(0).stateImage, 2);
    EXPECT_EQ(list.Line(0).calcTime, "Uppgift saknas");

    bool minimised = true;
    scheduler.SetRefreshSuspended([&] { return minimised; });
    db.SetSetting(QString("RUNFLAGG%1").arg(key), 1);
    db.SetSetting(QString("CALC_TIME%1").arg(key),
                  int(LocalTime("2026-12-07 06:31:05").toSecsSinceEpoch()));
    scheduler.Refresh();
    EXPECT_EQ(list.Line(0).stateImage, 2);

    minimised = false;
    scheduler.Refresh();
    EXPECT_EQ(list.Line(0).stateImage, 4);
    EXPECT_EQ(list.Line(0).calcTime, "2026-12-07 06:31:05");
    EXPECT_EQ(list.Line(0).mesTime, "Uppgift saknas");
    EXPECT_EQ(list.Line(1).stateImage, 1);

    db.ResetRunFlag(key);
    scheduler.RefreshRunState(0);
    EXPECT_EQ(list.Line(0).stateImage, 2);
}

TEST_F(SchedulerTest, AWriteLockHeldElsewhereDelaysTheTickWithoutLosingIt) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    Load();
    CSqliteConnection holder;
    holder.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
    holder.Execute("BEGIN IMMEDIATE");
    std::thread release([&] {
        QThread::msleep(3000);
        holder.Execute("COMMIT");
    });
    QElapsedTimer waited;
    waited.start();
    TickAt(LocalTime("2026-12-07 10:00"));
    release.join();
    EXPECT_GE(waited.elapsed(), 2500);
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 1);
    EXPECT_TRUE(messenger.messages.isEmpty());
}

// The calculation program gets six separate arguments, blanks and quotes intact.
TEST_F(SchedulerTest, LaunchHandsTheSimulatorTheSixArgumentsWhole) {
    const QString argsFile = folder.File("args.txt");
    qputenv("KVARNIXSIM_ARGS_FILE", argsFile.toUtf8());
    qputenv("KVARNIXSIM_SECONDS", "0");
    const QString model = folder.File("Kvarn'Syd modell");
    folder.WriteText(model + ".vxm", "modell");
    db.SaveRow("- - - -", KVARNIX_SIMULATOR, "- - - -", 0, 0);
    db.SetSetting("SAVE", 1);
    const int key = AddRow("XXXX-XX-XX XX:XX", model);
    Load();

    scheduler.LaunchRow(0);
    QElapsedTimer waited;
    waited.start();
    while (folder.ReadLines(argsFile).size() < 7 && waited.elapsed() < 10000)
        QThread::msleep(20);
    qunsetenv("KVARNIXSIM_ARGS_FILE");
    qunsetenv("KVARNIXSIM_SECONDS");

    EXPECT_EQ(folder.ReadLines(argsFile),
              (QStringList{model + ".vxm", "Makro", QString::number(key), "1",
                           folder.DatabaseFile(), "1", "--"}));
    const QStringList log = folder.ReadLines(folder.LogFile());
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log.first().mid(19), " - " + model + "   Makro");
}

} // namespace
