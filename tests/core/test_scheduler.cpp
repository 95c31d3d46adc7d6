#include "files/programpaths.h"
#include "log/monitorlog.h"
#include "monitordb/sqliteconnection.h"
#include "monitordb/systemdatabase.h"
#include "schedule/calculationlauncher.h"
#include "schedule/calculationprocesses.h"
#include "schedule/problemreporter.h"
#include "schedule/scheduler.h"
#include "support/filequery.h"
#include "support/schedulerrig.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>

namespace {

using Launches = QHash<QString, int>;

// The calculation program is /bin/true: every start is a real process and a line in the log.
class SchedulerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_THROW(db.OpenOrCreate());
        SetProgram("/bin/true");
        db.SetSetting("DRIFT", 1);
    }

    void SetProgram(const QString& path) { db.SaveRow("- - - -", path, "- - - -", 0, 0); }
    int AddRow(const QString& tid, const QString& model, bool active = true) {
        return db.SaveRow(tid, model, "Makro", -1, active ? 1 : 0);
    }
    // A moment of the test's Monday.
    static QDateTime Monday(const char* time) { return LocalTime(QString("2026-12-07 ") + time); }
    // The result is the host of a service that schedules beside this scheduler, or empty.
    QString TickAt(const QDateTime& time, CSchedulerRig* other = nullptr) {
        CSchedulerRig& ticking = other ? *other : rig;
        clock.Set(time);
        const QString service =
            ticking.scheduler.Tick([&](const CLaunchReport& report) { ticking.reports << report; })
                .schedulingService;
        ticking.WaitForSupervisedRuns();
        return service;
    }
    QString TickAt(const char* time, CSchedulerRig* other = nullptr) {
        return TickAt(Monday(time), other);
    }

    // Launches per model from the log; any other line counts under its own text, so it shows.
    Launches LaunchesByModel() const {
        Launches launches;
        for (const QString& line : LogLines()) {
            const QString entry = line.mid(22);
            ++launches[entry.endsWith("   Makro") ? entry.chopped(8) : entry];
        }
        return launches;
    }
    QStringList LogLines() const { return folder.ReadLines(folder.LogFile()); }

    CTestFolder folder;
    CSystemDatabase db{folder.DatabaseFile()};
    CFakeClock clock{Monday("07:59")};
    CSchedulerRig rig{folder.ProgramFile(), clock};
};

// Launches counted from the clock alone; a flagged row neither starts nor counts down.
TEST_F(SchedulerTest, FiveHoursOfTicksStartEachKindOfRowWhenDueUnlessItsFlagIsSet) {
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
    // 300 ticks are no multiple of 11: a countdown that ran would not end where it began.
    const int flaggedCycle = AddRow("00:11", "/m/flaggadcyklisk");
    const int flaggedEvery = AddRow("XXXX-XX-XX XX:XX", "/m/flaggadvarje");
    db.SetCounter(flaggedCycle, 1);
    db.SetSetting(QString("RUNFLAGG%1").arg(flaggedCycle), 1);
    db.SetSetting(QString("RUNFLAGG%1").arg(flaggedEvery), 1);

    const QDateTime start = Monday("08:00");
    Launches expected;
    for (int m = 0; m < 5 * 60; ++m) {
        const QTime time = start.addSecs(60 * m).time();
        TickAt(start.addSecs(60 * m));
        expected["/m/halvtimme"] += time.minute() == 30;
        expected["/m/dagligen"] += time == QTime(10, 15);
        expected["/m/mandag"] += time == QTime(9, 5);
        expected["/m/engang"] += time == QTime(11, 11);
        expected["/m/cyklisk"] += m % 7 == 0;
    }
    EXPECT_EQ(LaunchesByModel(), expected);
    EXPECT_EQ(db.GetCounter(flaggedCycle), 1);
    EXPECT_EQ(rig.problems.Current(), "");

    db.ResetRunFlags({flaggedCycle});
    TickAt("13:00");
    ++expected["/m/flaggadcyklisk"];
    EXPECT_EQ(LaunchesByModel(), expected);
}

// Late wake-up, step back, suspend and long gap: missed fixed times once, "X" minutes as cron.
TEST_F(SchedulerTest, ClockJumpsAreFollowedAsCronFollowsThem) {
    AddRow("XXXX-XX-XX 10:02", "/m/tio");
    AddRow("XXXX-XX-XX 10:20", "/m/fast");
    AddRow("XXXX-XX-XX XX:15", "/m/kvart");
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    AddRow("00:01", "/m/cyklisk");
    AddRow("XXXX-XX-XX 12:00", "/m/tolv");
    const std::pair<const char*, Launches> steps[] = {
        {"10:00", {{"/m/varje", 1}, {"/m/cyklisk", 1}}},
        {"10:03:40", {{"/m/tio", 1}, {"/m/varje", 1}, {"/m/cyklisk", 1}}},
        {"10:03:59", {}},
        {"10:02", {{"/m/varje", 1}, {"/m/cyklisk", 1}}},
        {"10:40:03", {{"/m/fast", 1}, {"/m/varje", 1}, {"/m/cyklisk", 1}}},
        {"10:41", {{"/m/varje", 1}, {"/m/cyklisk", 1}}},
        {"14:05", {{"/m/tolv", 1}, {"/m/varje", 1}, {"/m/cyklisk", 1}}},
    };
    for (const auto& [time, launches] : steps) {
        QFile::remove(folder.LogFile());
        TickAt(time);
        EXPECT_EQ(LaunchesByModel(), launches) << time;
    }
}

// On a 23- and a 25-hour day 02:30 runs once, half hours by the clock, the cycle in real minutes.
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
        const int hours = int(realMinutes / 60);
        const Launches expected{
            {"/m/fast", 1}, {"/m/halvtimme", hours}, {"/m/sondag", 1}, {"/m/cyklisk", hours}};
        EXPECT_EQ(LaunchesByModel(), expected) << day.toString().toStdString();
    }
}

// Each process keeps its own scheduler; only the file knows what was evaluated.
TEST_F(SchedulerTest, EveryMinuteIsEvaluatedOnceAcrossRestartsAndSchedulers) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    AddRow("XXXX-XX-XX 10:23", "/m/tjugo");
    AddRow("XXXX-XX-XX 06:43", "/m/fyra");
    AddRow("XXXX-XX-XX 13:00", "/m/tretton");
    AddRow("XXXX-XX-XX 11:30", "/m/halvtolv");
    TickAt("10:00:05");
    {
        // Restarted within the minute, then two on one file, one a little behind the other.
        CSchedulerRig restarted(folder.ProgramFile(), clock);
        TickAt("10:00:41", &restarted);
        for (const char* minute : {"10:01", "10:02", "10:03"}) {
            TickAt(Monday(minute).addMSecs(100));
            TickAt(Monday(minute).addMSecs(300), &restarted);
        }
        EXPECT_TRUE(restarted.reports.isEmpty());
    }
    EXPECT_EQ(LaunchesByModel(), (Launches{{"/m/varje", 4}}));

    // A service that claimed a minute within the last two minutes schedules beside the window,
    // whoever claims the minutes in between.
    CSchedulerRig service(folder.ProgramFile(), clock, true);
    EXPECT_EQ(TickAt("10:04:00.100", &service), "");
    EXPECT_EQ(TickAt("10:04:00.300"), QSysInfo::machineHostName());
    EXPECT_EQ(TickAt("10:05:00.100"), QSysInfo::machineHostName());
    EXPECT_EQ(TickAt("10:06:00.100"), QSysInfo::machineHostName());
    EXPECT_EQ(TickAt("10:07:00.100"), "");
    EXPECT_EQ(LaunchesByModel(), (Launches{{"/m/varje", 8}}));

    // After 40 idle minutes a fixed time 20 minutes back starts, one 4 hours back does not;
    // after four idle hours only the last three are caught up.
    CSchedulerRig afterPause(folder.ProgramFile(), clock);
    TickAt("10:43:02", &afterPause);
    EXPECT_EQ(LaunchesByModel(), (Launches{{"/m/varje", 9}, {"/m/tjugo", 1}}));
    TickAt("15:03:02", &afterPause);
    EXPECT_EQ(LaunchesByModel(), (Launches{{"/m/varje", 10}, {"/m/tjugo", 1}, {"/m/tretton", 1}}));
}

TEST_F(SchedulerTest, MinutesWhileSwitchedOffCountAsEvaluatedAndNothingIsPurged) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    AddRow("XXXX-XX-XX 10:02", "/m/tio");
    db.SetSetting("DRIFT", 0);
    db.Connection().Execute("INSERT INTO PID (TID, PID, MODELL) VALUES('2000-01-01', 1, '/m')");
    for (const char* time : {"10:00", "10:01", "10:02", "10:03"})
        TickAt(time);
    EXPECT_FALSE(QFileInfo::exists(folder.LogFile()));
    EXPECT_EQ(QueryFile(folder.DatabaseFile(), "SELECT COUNT(*) FROM PID"), "1");

    db.SetSetting("DRIFT", 4294967296); // beyond 32 bits, and nonzero
    TickAt("10:04");
    EXPECT_EQ(LaunchesByModel(), (Launches{{"/m/varje", 1}}));
    EXPECT_EQ(QueryFile(folder.DatabaseFile(), "SELECT COUNT(*) FROM PID"), "0");
}

// Runs whose end no refresh saw are closed by the minute's tick, with the scheduler off too.
TEST_F(SchedulerTest, TicksCloseTheRunsNobodySawEnd) {
    db.SetSetting("DRIFT", 0);
    const auto started = [&](const char* model, const char* launched) {
        const int key = AddRow("00:30", model);
        CRun run;
        run.key = key;
        run.launched = Monday(launched).toSecsSinceEpoch();
        db.RecordStart(run);
        return key;
    };
    const int quick = started("/m/snabb", "09:58");
    const int silent = started("/m/tyst", "09:50");
    const int recent = started("/m/nyss", "09:57");
    const int flagged = started("/m/flagga", "09:51");
    db.SetSetting(QString("CALC_TIME%1").arg(quick), Monday("09:59").toSecsSinceEpoch());
    db.SetSetting(QString("RUNFLAGG%1").arg(flagged), 1);
    const auto outcomes = [&] {
        QVector<std::pair<CRun::Outcome, std::optional<qint64>>> result;
        for (const int key : {quick, silent, recent, flagged})
            result.append({db.LatestRun(key)->outcome, db.LatestRun(key)->ended});
        return result;
    };
    using O = CRun::Outcome;
    const auto at = [](const char* time) { return std::optional(Monday(time).toSecsSinceEpoch()); };

    TickAt("10:00");
    EXPECT_EQ(outcomes(),
              (QVector<std::pair<O, std::optional<qint64>>>{{O::Finished, at("09:59")},
                                                            {O::NeverStarted, at("10:00")},
                                                            {O::Running, std::nullopt},
                                                            {O::Running, std::nullopt}}));
    TickAt("10:03");
    EXPECT_EQ(outcomes()[2], std::pair(O::NeverStarted, at("10:03")));
    EXPECT_EQ(outcomes()[3], std::pair(O::Running, std::optional<qint64>()));
}

// The simulator gets six separate arguments, blanks and quotes intact.
TEST_F(SchedulerTest, AFailedStartIsLoggedWithItsReasonAndAGoodOneGetsTheSixArgumentsWhole) {
    const QString model = folder.File("Kvarn'Syd modell");
    folder.WriteText(model + ".vxm", "modell");
    const int key = AddRow("XXXX-XX-XX XX:XX", model);
    db.SetSetting("SAVE", 3);
    const QString missing = folder.File("saknas"), notExecutable = folder.File("ingen-körrätt"),
                  badInterpreter = folder.File("fel-tolk");
    folder.WriteText(notExecutable, "#!/bin/sh\n");
    folder.WriteText(badInterpreter, "#!/finns/inte\n");
    QFile::setPermissions(badInterpreter, QFile::ReadOwner | QFile::ExeOwner);
    const std::pair<QString, QString> cases[] = {
        {missing, "programmet " + missing + " finns inte"},
        {folder.Path(), folder.Path() + " är en mapp, inte ett program"},
        {notExecutable, notExecutable + " får inte köras (körrättighet saknas)"},
        {"", "ingen sökväg till beräkningsprogrammet är angiven i inställningarna"},
        {badInterpreter, "tolken /finns/inte som skriptet " + badInterpreter + " anger finns inte"},
    };
    int minute = 0;
    for (const auto& [program, reason] : cases) {
        SetProgram(program);
        TickAt(Monday("10:00").addSecs(60 * minute++));
        ASSERT_FALSE(rig.reports.isEmpty());
        const CLaunchReport& report = rig.reports.last();
        EXPECT_FALSE(report.started);
        EXPECT_TRUE(report.reason.startsWith(reason)) << report.reason.toStdString();
        EXPECT_TRUE(LogLines().last().endsWith(
            model + "   Makro   (kunde inte startas: " + report.reason + ")"))
            << LogLines().last().toStdString();
    }
    EXPECT_EQ(LaunchesByModel().value(model), 0);

    const QString argsFile = folder.File("args.txt");
    qputenv("KVARNIXSIM_ARGS_FILE", argsFile.toUtf8());
    qputenv("KVARNIXSIM_SECONDS", "0");
    SetProgram(KVARNIX_SIMULATOR);
    TickAt(Monday("10:00").addSecs(60 * minute));
    EXPECT_TRUE(QTest::qWaitFor([&] { return folder.ReadLines(argsFile).size() >= 7; }, 10000));
    qunsetenv("KVARNIXSIM_ARGS_FILE");
    qunsetenv("KVARNIXSIM_SECONDS");
    EXPECT_TRUE(rig.reports.last().started);
    EXPECT_EQ(rig.reports.last().key, key);
    EXPECT_EQ(folder.ReadLines(argsFile),
              (QStringList{model + ".vxm", "Makro", QString::number(key), "3",
                           folder.DatabaseFile(), "1", "--"}));
    EXPECT_EQ(LogLines().size(), int(std::size(cases)) + 1);
    EXPECT_EQ(LogLines().last().mid(19), " - " + model + "   Makro");
}

// A write lock held across a minute is waited out silently; a stop ends the wait, claiming nothing.
TEST_F(SchedulerTest, AHeldFileIsWaitedForSilentlyUntilFreeOrStopped) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    AddRow("XXXX-XX-XX 10:01", "/m/fast");
    TickAt("10:00:01");
    CSqliteConnection holder;
    holder.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
    holder.Execute("BEGIN IMMEDIATE");
    std::thread release([&] {
        QThread::msleep(1500);
        clock.Set(Monday("10:02:10"));
        holder.Execute("COMMIT");
    });
    TickAt("10:01:00.100");
    release.join();
    EXPECT_EQ(LaunchesByModel(), (Launches{{"/m/varje", 2}, {"/m/fast", 1}}));
    TickAt("10:02:30");
    TickAt("10:03:00.100");
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 3);

    holder.Execute("BEGIN IMMEDIATE");
    std::thread stop([&] {
        QThread::msleep(300);
        rig.stop = true;
    });
    QElapsedTimer waited;
    waited.start();
    TickAt("10:04:00.100");
    stop.join();
    EXPECT_LT(waited.elapsed(), 5000);
    holder.Execute("COMMIT");
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 3);
    EXPECT_EQ(db.ReadMinuteClaim()->state.last, CMinuteTracker::WallClockMinute(Monday("10:03")));
    EXPECT_EQ(rig.problems.Current(), "");
}

// A write that fails inside the deciding transaction keeps the whole minute undecided: nothing
// starts and nothing is claimed, the fault is reported once, and the file is not held.
TEST_F(SchedulerTest, AFailedWriteOfTheMinuteIsReportedOnceAndKeepsTheMinuteForLater) {
    AddRow("00:05", "/m/cyklisk");
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    CSqliteConnection other;
    other.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 0);
    other.Execute("CREATE TRIGGER nej BEFORE UPDATE OF COUNTER ON MONITOR "
                  "BEGIN SELECT RAISE(ABORT, 'nedräkningen är låst'); END");
    TickAt("10:00");
    TickAt("10:01");
    EXPECT_EQ(LaunchesByModel().value("/m/varje") + LaunchesByModel().value("/m/cyklisk"), 0);
    EXPECT_FALSE(db.ReadMinuteClaim().has_value());
    const QString fault = "Monitordatabasen " + folder.DatabaseFile() +
                          " kan inte användas (nedräkningen är låst). Inga beräkningar startas "
                          "förrän felet är åtgärdat.";
    EXPECT_EQ(rig.problems.Current(), fault);
    ASSERT_EQ(LogLines().size(), 1);
    EXPECT_TRUE(LogLines().first().endsWith(fault));
    other.Execute("BEGIN IMMEDIATE");
    other.Execute("UPDATE SEKVENS SET NUMMER = 7 WHERE NAMN = 'PID'");
    other.Execute("COMMIT");

    other.Execute("DROP TRIGGER nej");
    TickAt("10:02");
    EXPECT_EQ(rig.problems.Current(), "");
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 1);
    EXPECT_EQ(LaunchesByModel().value("/m/cyklisk"), 1);
    EXPECT_EQ(LogLines().filter(" - Monitordatabasen går att använda igen.").size(), 1);
}

// A fault of the file in the middle of a batch or a stop that ends a wait there ends the
// batch, and its rest stays pending for the next tick or the scheduler that follows: started
// later, once each. A write refused after a program started does not hide the start, and a
// "Kör nu" that could not start is closed as such rather than started later.
TEST_F(SchedulerTest, AFaultOrAStopInTheBatchLeavesItsRestPendingAndStartsEachRowOnce) {
    QVector<int> keys;
    for (const QString& model : {"/m/a", "/m/b", "/m/c", "/m/d"})
        keys << AddRow("XXXX-XX-XX XX:XX", model);
    // The log's other lines are the fault's report and its end.
    const auto starts = [&] {
        Launches launches = LaunchesByModel();
        launches.removeIf([](const auto& entry) { return !entry.key().startsWith("/m/"); });
        return launches;
    };
    const auto outcomes = [&](const char* minute) {
        return QueryFile(folder.DatabaseFile(),
                         QString("SELECT GROUP_CONCAT(MODELL || '=' || IFNULL(UTFALL, 'startad'), "
                                 "',') FROM (SELECT MODELL, UTFALL FROM KORNINGAR WHERE MINUT = "
                                 "%1 ORDER BY MODELL)")
                             .arg(CMinuteTracker::WallClockMinute(Monday(minute))));
    };
    CSqliteConnection other;
    other.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
    other.Execute("CREATE TRIGGER nej BEFORE UPDATE OF START ON KORNINGAR WHEN NEW.MODELL = "
                  "'/m/c' BEGIN SELECT RAISE(ABORT, 'starten är låst'); END");
    TickAt("10:00:00.100");
    EXPECT_EQ(starts(), (Launches{{"/m/a", 1}, {"/m/b", 1}}));
    EXPECT_EQ(outcomes("10:00"), "/m/a=klar,/m/b=klar,/m/c=väntar,/m/d=väntar");
    EXPECT_EQ(rig.problems.Current(), "Monitordatabasen " + folder.DatabaseFile() +
                                          " kan inte användas (starten är låst). Inga beräkningar "
                                          "startas förrän felet är åtgärdat.");
    other.Execute("DROP TRIGGER nej");
    TickAt("10:00:40");
    EXPECT_EQ(starts(), (Launches{{"/m/a", 1}, {"/m/b", 1}, {"/m/c", 1}, {"/m/d", 1}}));
    EXPECT_EQ(outcomes("10:00"), "/m/a=klar,/m/b=klar,/m/c=klar,/m/d=klar");
    EXPECT_EQ(rig.problems.Current(), "");

    // The supervisor records its own process: a refusal of the scheduler's write is only noted.
    other.Execute("CREATE TRIGGER nej BEFORE UPDATE OF PROCESS ON KORNINGAR WHEN NEW.START_MS IS "
                  "OLD.START_MS BEGIN SELECT RAISE(ABORT, 'processen är låst'); END");
    rig.reports.clear();
    TickAt("10:01:00.100");
    other.Execute("DROP TRIGGER nej");
    EXPECT_EQ(rig.reports.size(), 4);
    for (const CLaunchReport& report : rig.reports)
        EXPECT_TRUE(report.started) << report.model.toStdString();
    EXPECT_EQ(outcomes("10:01"), "/m/a=klar,/m/b=klar,/m/c=klar,/m/d=klar");
    EXPECT_EQ(starts().value("/m/d"), 2);
    EXPECT_EQ(rig.problems.Current(), "");

    // A stop while the batch waits for a held file: the next scheduler starts all four.
    std::thread stopping;
    rig.scheduler.SetDecisionHooks({{}, [&] {
                                        other.Execute("BEGIN IMMEDIATE");
                                        stopping = std::thread([&] {
                                            QThread::msleep(300);
                                            rig.stop = true;
                                        });
                                    }});
    clock.Set(Monday("10:02:00.100"));
    EXPECT_NO_THROW(rig.Tick());
    stopping.join();
    other.Execute("COMMIT");
    rig.scheduler.Leave();
    EXPECT_EQ(outcomes("10:02"), "/m/a=väntar,/m/b=väntar,/m/c=väntar,/m/d=väntar");
    EXPECT_EQ(rig.problems.Current(), "");
    CSchedulerRig next{folder.ProgramFile(), clock};
    TickAt("10:02:30", &next);
    EXPECT_EQ(outcomes("10:02"), "/m/a=klar,/m/b=klar,/m/c=klar,/m/d=klar");
    EXPECT_EQ(starts(), (Launches{{"/m/a", 3}, {"/m/b", 3}, {"/m/c", 3}, {"/m/d", 3}}));

    other.Execute("CREATE TRIGGER nej BEFORE UPDATE OF START ON KORNINGAR BEGIN SELECT "
                  "RAISE(ABORT, 'starten är låst'); END");
    next.scheduler.RunNow(keys[1], [&](const CLaunchReport& report) { next.reports << report; });
    other.Execute("DROP TRIGGER nej");
    ASSERT_EQ(next.reports.size(), 5);
    EXPECT_EQ(next.reports.last().model, "/m/b");
    EXPECT_FALSE(next.reports.last().started);
    EXPECT_EQ(next.reports.last().reason, "Monitordatabasen " + folder.DatabaseFile() +
                                              " kan inte användas (starten är låst).");
    TickAt("10:02:50", &next);
    EXPECT_EQ(starts().value("/m/b"), 3);
    EXPECT_EQ(QueryFile(folder.DatabaseFile(), "SELECT UTFALL || ' ' || MODELL FROM KORNINGAR "
                                               "ORDER BY rowid DESC LIMIT 1"),
              "kunde inte startas /m/b");

    // Nor is a stop while the tidying after the minute's decision waits for the file a fault.
    db.SetSetting("DRIFT", 0);
    next.scheduler.SetDecisionHooks({{}, [&] {
                                         other.Execute("BEGIN IMMEDIATE");
                                         stopping = std::thread([&] {
                                             QThread::msleep(300);
                                             next.stop = true;
                                         });
                                     }});
    clock.Set(Monday("10:03:00.100"));
    next.Tick();
    stopping.join();
    other.Execute("COMMIT");
    EXPECT_EQ(next.problems.Current(), "");
    EXPECT_EQ(LogLines().filter("Gamla poster").size(), 0);
}

TEST_F(SchedulerTest, AnUnusableOrMissingFileIsReportedOnceAndNeverRecreated) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    db.Close();
    const QString saved = folder.File("sparad.mdb");
    ASSERT_TRUE(QFile::rename(folder.DatabaseFile(), saved));
    folder.WriteText(folder.DatabaseFile(), "ingen databas\n");
    TickAt("10:00");
    TickAt("10:01");
    EXPECT_EQ(FileBytes(folder.DatabaseFile()), "ingen databas\n");
    EXPECT_TRUE(rig.problems.Current().startsWith("Filen " + folder.DatabaseFile() +
                                                  " är ingen monitordatabas"));

    QFile::remove(folder.DatabaseFile());
    TickAt("10:02");
    TickAt("10:03");
    EXPECT_FALSE(QFileInfo::exists(folder.DatabaseFile()));
    EXPECT_TRUE(rig.problems.Current().startsWith("Monitordatabasen " + folder.DatabaseFile() +
                                                  " finns inte."));
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains("är ingen monitordatabas"));
    EXPECT_TRUE(lines[1].contains("finns inte"));

    ASSERT_TRUE(QFile::rename(saved, folder.DatabaseFile()));
    TickAt("10:04");
    EXPECT_EQ(LaunchesByModel().value("/m/varje"), 1);
    EXPECT_EQ(rig.problems.Current(), "");
}

} // namespace
