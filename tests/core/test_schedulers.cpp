// Several schedulers on one file, in one process: each with a clock and a host of its own
// where a test needs them to differ.
#include "monitordb/systemdatabase.h"
#include "support/filequery.h"
#include "support/schedulerrig.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

namespace {

using Starts = QHash<QString, int>;

class SchedulersTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_THROW(db.OpenOrCreate());
        db.SaveRow("- - - -", "/bin/true", "- - - -", 0, 0);
        db.SetSetting("DRIFT", 1);
    }

    int AddRow(const QString& tid, const QString& model, bool active = true) {
        return db.SaveRow(tid, model, "Makro", -1, active ? 1 : 0);
    }
    static QDateTime Monday(const char* time) { return LocalTime(QString("2026-12-07 ") + time); }
    void TickAt(CFakeClock& at, const QDateTime& time, CSchedulerRig& rig,
                const std::function<void(const CLaunchReport&)>& afterStart = {}) {
        at.Set(time);
        rig.Tick(afterStart);
    }
    // The programs started, by model, over every scheduler given.
    static Starts StartsByModel(std::initializer_list<const CSchedulerRig*> rigs) {
        Starts starts;
        for (const CSchedulerRig* rig : rigs) {
            for (const CLaunchReport& report : rig->reports)
                starts[report.model] += report.started;
        }
        return starts;
    }
    QString Pending() const {
        return QueryFile(folder.DatabaseFile(),
                         "SELECT group_concat(MODELL) FROM (SELECT MODELL FROM KORNINGAR "
                         "WHERE UTFALL = 'väntar' ORDER BY rowid)");
    }
    int LogLinesWith(const QString& text) const {
        return int(folder.ReadLines(folder.LogFile()).filter(text).size());
    }

    CTestFolder folder;
    CSystemDatabase db{folder.DatabaseFile()};
    CFakeClock clock{Monday("09:59")};
};

// The rows a stopped or killed scheduler decided but did not start are started by the next
// one, once, if their minute is within the catch-up; every row of the minute starts once.
TEST_F(SchedulersTest, ABatchCutShortIsFinishedOnceByTheNextScheduler) {
    const QStringList every = {"/m/ett", "/m/tva", "/m/tre", "/m/fyra", "/m/fem", "/m/sex"};
    for (const QString& model : every)
        AddRow("XXXX-XX-XX XX:XX", model);
    AddRow("2026-12-07 10:00", "/m/engang");
    auto first = std::make_unique<CSchedulerRig>(folder.ProgramFile(), clock);
    TickAt(clock, Monday("10:00:00.100"), *first, [&](const CLaunchReport&) {
        if (first->reports.size() == 2)
            first->stop = true;
    });
    EXPECT_EQ(StartsByModel({first.get()}), (Starts{{"/m/ett", 1}, {"/m/tva", 1}}));
    EXPECT_EQ(Pending(), "/m/tre,/m/fyra,/m/fem,/m/sex,/m/engang");

    // While the first one lives its runs stay its own; once it is gone they are taken over.
    CSchedulerRig second(folder.ProgramFile(), clock, true);
    TickAt(clock, Monday("10:00:30"), second);
    EXPECT_TRUE(second.reports.isEmpty());
    first->scheduler.Leave();
    first.reset();
    TickAt(clock, Monday("10:00:40"), second);
    const Starts expected = {
        {"/m/tre", 1}, {"/m/fyra", 1}, {"/m/fem", 1}, {"/m/sex", 1}, {"/m/engang", 1}};
    EXPECT_EQ(StartsByModel({&second}), expected);
    EXPECT_EQ(Pending(), "");

    // A killed scheduler leaves its row behind; on this host its process tells it is gone.
    CSchedulerRig third(folder.ProgramFile(), clock);
    TickAt(clock, Monday("10:01:00.100"), third, [&](const CLaunchReport&) {
        if (third.reports.size() == 3)
            third.stop = true;
    });
    EXPECT_EQ(Pending(), "/m/fyra,/m/fem,/m/sex");
    const QString bootOfThisHost =
        CSchedulerPeers::ProcessStartOf(QCoreApplication::applicationPid()).section(':', 0, 0);
    db.Connection()
        .Prepare("UPDATE SCHEMALAGGARE SET PROCESSTART = ? WHERE ID = ?")
        .Bind(1, bootOfThisHost + ":1")
        .Bind(2, third.peers.Id())
        .Run();
    TickAt(clock, Monday("10:01:20"), second);
    EXPECT_EQ(Pending(), "");
    for (const QString& model : every)
        EXPECT_EQ(StartsByModel({&second, &third}).value(model), expected.value(model) + 1)
            << model.toStdString();

    // Beyond the catch-up a start decided long ago is recorded as skipped, not made.
    CSchedulerRig fourth(folder.ProgramFile(), clock);
    TickAt(clock, Monday("10:02:00.100"), fourth,
           [&](const CLaunchReport&) { fourth.stop = true; });
    const CRun late = db.LatestRun(db.LoadAllRows().at(5).key).value();
    ASSERT_EQ(late.outcome, CRun::Outcome::Pending);
    fourth.scheduler.Leave();
    second.reports.clear();
    TickAt(clock, Monday("13:03"), second);
    const QVector<CRun> runs = db.Runs(late.key, 0, 3);
    ASSERT_GE(runs.size(), 2);
    EXPECT_EQ(runs.at(1).outcome, CRun::Outcome::Skipped);
    EXPECT_TRUE(runs.at(1).reason.startsWith("för sent")) << runs.at(1).reason.toStdString();
    EXPECT_EQ(StartsByModel({&second}).value("/m/sex"), 1); // the minute of 13:03 only
}

// Each start of a batch looks at its row once more: a row deleted, changed, switched off or
// running since the decision is skipped with the reason, in the history and the log.
TEST_F(SchedulersTest, ARowChangedDuringABatchIsSkippedWithItsReason) {
    const int first = AddRow("XXXX-XX-XX XX:XX", "/m/forsta");
    const int deleted = AddRow("XXXX-XX-XX XX:XX", "/m/borttagen");
    const int remodelled = AddRow("XXXX-XX-XX XX:XX", "/m/ommodell");
    const int switchedOff = AddRow("XXXX-XX-XX XX:XX", "/m/avslagen");
    const int running = AddRow("XXXX-XX-XX XX:XX", "/m/igang");
    const int retimed = AddRow("XXXX-XX-XX XX:XX", "/m/omtid");
    const int untouched = AddRow("XXXX-XX-XX XX:XX", "/m/orord");
    CSchedulerRig rig(folder.ProgramFile(), clock);
    TickAt(clock, Monday("10:00:00.100"), rig, [&](const CLaunchReport& report) {
        if (report.key != first)
            return;
        db.DeleteRow(deleted);
        db.SaveRow("XXXX-XX-XX XX:XX", "/m/annan", "Makro", remodelled, 1);
        db.SetImplemented(0, switchedOff);
        db.SetSetting(QString("RUNFLAGG%1").arg(running), 1);
        db.SaveRow("XXXX-XX-XX 10:XX", "/m/omtid", "Makro", retimed, 1);
    });
    QHash<int, QString> reasons;
    for (const CLaunchReport& report : rig.reports)
        reasons.insert(report.key, report.started ? "startad" : report.reason);
    EXPECT_EQ(reasons, (QHash<int, QString>{{first, "startad"},
                                            {deleted, "raden finns inte längre"},
                                            {remodelled, "raden har ändrats"},
                                            {switchedOff, "raden har avaktiverats"},
                                            {running, "beräkningen körs redan"},
                                            {retimed, "raden har ändrats"},
                                            {untouched, "startad"}}));
    const CRun skipped = db.LatestRun(switchedOff).value();
    EXPECT_EQ(std::pair(skipped.outcome, skipped.reason),
              std::pair(CRun::Outcome::Skipped, QString("raden har avaktiverats")));
    EXPECT_EQ(LogLinesWith("/m/avslagen   Makro   (startades inte: raden har avaktiverats)"), 1);

    // The switch turned off during a batch stops the rest of it.
    db.ResetRunFlags({running});
    rig.reports.clear();
    TickAt(clock, Monday("10:01:00.100"), rig, [&](const CLaunchReport& report) {
        if (report.key == first)
            db.SetSetting("DRIFT", 0);
    });
    QStringList outcomes;
    for (const CLaunchReport& report : rig.reports)
        outcomes << (report.started ? "startad" : report.reason);
    EXPECT_EQ(outcomes,
              (QStringList{"startad", "schemaläggaren stängdes av", "schemaläggaren stängdes av",
                           "schemaläggaren stängdes av", "schemaläggaren stängdes av"}));
}

// Every scheduler reads the switch and the rows from the file at each minute.
TEST_F(SchedulersTest, TheSwitchAndTheRowsAreReadFromTheFileAtEveryMinute) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    CSchedulerRig window(folder.ProgramFile(), clock);
    CSchedulerRig service(folder.ProgramFile(), clock, true);
    const std::pair<const char*, int> minutes[] = {{"10:00", 1}, {"10:01", 0}, {"10:02", 0},
                                                   {"10:03", 1}, {"10:04", 1}, {"10:05", 0}};
    int expected = 0;
    int turn = 0;
    for (const auto& [minute, on] : minutes) {
        db.SetSetting("DRIFT", on);
        CSchedulerRig& first = turn % 2 ? window : service;
        CSchedulerRig& second = turn++ % 2 ? service : window;
        TickAt(clock, Monday(minute).addMSecs(100), first);
        TickAt(clock, Monday(minute).addMSecs(300), second);
        expected += on;
        EXPECT_EQ(StartsByModel({&window, &service}).value("/m/varje"), expected) << minute;
    }
}

// A clock a little behind the minute another scheduler claimed has simply not got there yet:
// it is no clock going back, and nothing starts twice.
TEST_F(SchedulersTest, AClockALittleBehindAnothersClaimStartsNothingTwice) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    AddRow("XXXX-XX-XX XX:X5", "/m/femte");
    CFakeClock behindClock;
    CSchedulerRig ahead(folder.ProgramFile(), clock, false, "värd-a");
    CSchedulerRig behind(folder.ProgramFile(), behindClock, true, "värd-b");
    for (int step = 0; step < 4 * 10; ++step) {
        const QDateTime at = Monday("10:00:00.100").addSecs(15 * step);
        TickAt(clock, at, ahead);
        TickAt(behindClock, at.addSecs(-20), behind);
    }
    EXPECT_EQ(StartsByModel({&ahead, &behind}), (Starts{{"/m/varje", 10}, {"/m/femte", 1}}));
    EXPECT_TRUE(behind.reports.isEmpty()) << "the one behind reaches each minute claimed";
    EXPECT_EQ(behind.problems.Current(), "");
}

// A clock behind another scheduler's by more than half a minute is told once, the
// scheduler that registered first goes on alone, and once the clocks agree both go on.
TEST_F(SchedulersTest, AClockBehindAnothersStartsNothingTwiceAndTheLaterSchedulerWaits) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    AddRow("00:01", "/m/cyklisk");
    CFakeClock behindClock;
    CSchedulerRig ahead(folder.ProgramFile(), clock, false, "värd-a");
    CSchedulerRig behind(folder.ProgramFile(), behindClock, true, "värd-b");
    const QString told = "Klockan på värd-b går 90 s efter klockan på värd-a; ställ in "
                         "tidssynkronisering. Till dess startar bara schemaläggaren på värd-a "
                         "beräkningar.";
    for (int minute = 0; minute < 5; ++minute) {
        for (const qint64 second : {0, 20, 40}) {
            const QDateTime at = Monday("10:00:00.100").addSecs(60 * minute + second);
            TickAt(clock, at, ahead);
            TickAt(behindClock, at.addSecs(-90), behind);
        }
    }
    EXPECT_EQ(StartsByModel({&ahead, &behind}), (Starts{{"/m/varje", 5}, {"/m/cyklisk", 5}}));
    EXPECT_TRUE(behind.reports.isEmpty());
    EXPECT_EQ(behind.problems.Current(), told);
    EXPECT_EQ(ahead.problems.Current(), told);
    EXPECT_EQ(LogLinesWith(told), 2); // once by each scheduler

    // Set right, the clocks agree once the old readings are two minutes old.
    for (int minute = 5; minute < 9; ++minute) {
        const QDateTime at = Monday("10:00:00.100").addSecs(60 * minute);
        TickAt(behindClock, at.addMSecs(200), behind);
        TickAt(clock, at.addMSecs(400), ahead);
    }
    EXPECT_EQ(behind.problems.Current(), "");
    EXPECT_EQ(LogLinesWith("Schemaläggarnas klockor och tidszoner stämmer igen."), 2);
    EXPECT_EQ(StartsByModel({&ahead, &behind}).value("/m/varje"), 9);
    EXPECT_FALSE(behind.reports.isEmpty());
}

// Wall-clock minutes of two zones are different minutes: the later scheduler waits.
TEST_F(SchedulersTest, ASchedulerInAnotherTimeZoneWaitsAndSaysWhy) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    CFakeClock utcClock;
    CSchedulerRig local(folder.ProgramFile(), clock, false, "värd-a");
    CSchedulerRig utc(folder.ProgramFile(), utcClock, true, "värd-b");
    for (int minute = 0; minute < 3; ++minute) {
        const QDateTime at = Monday("10:00:00.100").addSecs(60 * minute);
        TickAt(clock, at, local);
        TickAt(utcClock, at.toUTC(), utc);
    }
    EXPECT_EQ(StartsByModel({&local, &utc}).value("/m/varje"), 3);
    EXPECT_TRUE(utc.reports.isEmpty());
    EXPECT_TRUE(utc.problems.Current().startsWith("Schemaläggaren på värd-b räknar tiden i "
                                                  "tidszonen UTC+00:00 (UTC+00:00) men den på "
                                                  "värd-a i "))
        << utc.problems.Current().toStdString();
    EXPECT_TRUE(utc.problems.Current().endsWith("(UTC+01:00); ställ in samma tidszon för båda. "
                                                "Till dess startar bara schemaläggaren på värd-a "
                                                "beräkningar."));
}

// A scheduler that starts beside a running one keeps the countdowns the running one counts.
TEST_F(SchedulersTest, CountdownsAreSeededOnlyWhenNoSchedulerClaimedAMinuteLately) {
    const int cyclic = AddRow("00:10", "/m/cyklisk");
    const auto seed = [&](const char* time, int random) {
        CScheduler::SeedCountdowns(
            db, [random] { return random; }, Monday(time));
        return db.GetCounter(cyclic);
    };
    EXPECT_EQ(seed("09:58", 32767), 11);
    CSchedulerRig running(folder.ProgramFile(), clock);
    TickAt(clock, Monday("10:00:00.100"), running);
    const int counted = db.GetCounter(cyclic);
    EXPECT_EQ(counted, 10);
    EXPECT_EQ(seed("10:01:59", 0), counted);
    EXPECT_EQ(seed("10:02:00", 16384), counted);
    EXPECT_EQ(seed("10:02:01", 0), 1);
}

} // namespace

namespace {

// The claim is written in the transaction that decides the minute: a second scheduler that
// waits for the file while the first decides finds the minute taken, however soon it gets in.
TEST_F(SchedulersTest, ASchedulerDecidingWhileAnotherHoldsItsDecisionFindsTheMinuteTaken) {
    AddRow("XXXX-XX-XX XX:XX", "/m/varje");
    AddRow("00:01", "/m/cyklisk");
    CSchedulerRig first(folder.ProgramFile(), clock);
    CSchedulerRig second(folder.ProgramFile(), clock, true);
    std::thread waiting;
    first.scheduler.SetDecisionHooks({[&] {
                                          waiting = std::thread([&] { second.Tick(); });
                                          // Long enough for it to wait for the file.
                                          QThread::msleep(300);
                                      },
                                      [&] { waiting.join(); }});
    TickAt(clock, Monday("10:00:00.100"), first);
    EXPECT_EQ(StartsByModel({&first, &second}), (Starts{{"/m/varje", 1}, {"/m/cyklisk", 1}}));
    EXPECT_TRUE(second.reports.isEmpty());
}

// "Kör nu" looks at the run flag once more on the scheduler's thread, whatever the window saw.
TEST_F(SchedulersTest, RunNowIsRefusedWhileTheRowsCalculationRuns) {
    const int key = AddRow("2031-01-01 00:00", "/m/senare", false);
    CSchedulerRig rig(folder.ProgramFile(), clock);
    db.SetSetting(QString("RUNFLAGG%1").arg(key), 1);
    rig.scheduler.RunNow(key, [&](const CLaunchReport& report) { rig.reports << report; });
    ASSERT_EQ(rig.reports.size(), 1);
    EXPECT_FALSE(rig.reports.first().started);
    EXPECT_FALSE(rig.reports.first().attempted);
    EXPECT_EQ(rig.reports.first().reason, "beräkningen körs redan");
    db.ResetRunFlags({key});
    rig.scheduler.RunNow(key, [&](const CLaunchReport& report) { rig.reports << report; });
    ASSERT_EQ(rig.reports.size(), 2);
    EXPECT_TRUE(rig.reports.last().started);
    rig.scheduler.RunNow(4711, [&](const CLaunchReport& report) { rig.reports << report; });
    EXPECT_EQ(rig.reports.last().reason, "raden finns inte längre");
}

// The log is trimmed after a minute that started something, and only then: a quiet minute
// costs no read of the log.
TEST_F(SchedulersTest, TheLogIsTrimmedAfterAMinuteWithStartsOnly) {
    db.SetSetting("LOGFILE", 10);
    const int key = AddRow("XXXX-XX-XX 10:02", "/m/tio");
    const QString old = "2026-09-01 08:00:00 - /m/gammal   Makro";
    folder.WriteText(folder.LogFile(), old + "\n");
    CSchedulerRig rig(folder.ProgramFile(), clock);
    TickAt(clock, Monday("10:00:00.100"), rig);
    TickAt(clock, Monday("10:01:00.100"), rig);
    EXPECT_EQ(folder.ReadLines(folder.LogFile()), QStringList{old});
    TickAt(clock, Monday("10:02:00.100"), rig);
    EXPECT_EQ(StartsByModel({&rig}).value("/m/tio"), 1) << key;
    EXPECT_EQ(LogLinesWith("/m/gammal"), 0);
    EXPECT_EQ(LogLinesWith("/m/tio"), 1);
}

} // namespace
