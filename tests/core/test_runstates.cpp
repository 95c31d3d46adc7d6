// The display refresh on real files and real calculations of the simulator.
#include "app/monitorsettings.h"
#include "app/programpaths.h"
#include "monitordb/systemdatabase.h"
#include "schedule/calculationlauncher.h"
#include "schedule/calculationprocesses.h"
#include "schedule/monitorlog.h"
#include "schedule/problemreporter.h"
#include "schedule/runstatereader.h"
#include "support/testsupport.h"

#include <QFile>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace {

class RunStatesTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(db.OpenOrCreate());
        settings.programPath = KVARNIX_SIMULATOR;
        settings.save = 1;
    }

    CRunStates Read() {
        const std::optional<CRunStates> states = reader.Read();
        EXPECT_TRUE(states.has_value());
        return states.value_or(CRunStates());
    }
    QStringList StaleLines() const {
        return folder.ReadLines(folder.LogFile()).filter("(beräkningsflaggan är satt");
    }

    CTestFolder folder;
    CSystemDatabase db{folder.DatabaseFile()};
    CProgramPaths paths{folder.ProgramFile()};
    CFakeClock clock{LocalTime("2026-12-07 10:00")};
    CMonitorLog log{paths.MonitorLog(), paths.TrimFile()};
    CProblemReporter problems{log, clock};
    CCalculationProcesses processes{paths.MonitorDatabase()};
    std::atomic<bool> stop{false};
    CRunStateReader reader{paths.MonitorDatabase(), clock, processes, log, problems, stop};
    CMonitorSettings settings;
};

// A calculation that runs holds its flag; one killed leaves it behind, which is
// shown and logged once, and cleared only by the operator.
TEST_F(RunStatesTest, AFlagWithoutItsCalculationIsStaleAndLoggedOnce) {
    const QString model = folder.File("Pump Norr");
    folder.WriteText(model + ".vxm", "modell");
    const int running = db.SaveRow("XXXX-XX-XX XX:XX", model, "Dygn", -1, 1);
    const int orphan = db.SaveRow("00:05", folder.File("Kvarn"), "Timme", -1, 1);
    db.SetSetting(QString("RUNFLAGG%1").arg(orphan), 1);
    db.SetSetting(QString("CALC_TIME%1").arg(orphan), 1765098000);
    qputenv("KVARNIXSIM_SECONDS", "120");
    CCalculationLauncher launcher(paths, clock, log, processes);
    const CLaunchReport report =
        launcher.Launch(db, {running, "XXXX-XX-XX XX:XX", model, "Dygn", true, 0}, settings);
    qunsetenv("KVARNIXSIM_SECONDS");
    ASSERT_TRUE(report.started) << report.reason.toStdString();
    // The simulator sets its flag, then records its process id.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !db.RecordedProcessIds(model).isEmpty(); }, 10000));
    const qint64 simulator = db.RecordedProcessIds(model).first();

    CRunStates states = Read();
    EXPECT_TRUE(states.byKey.value(running).running);
    EXPECT_FALSE(states.byKey.value(running).stale);
    EXPECT_TRUE(states.byKey.value(orphan).stale);
    EXPECT_EQ(states.byKey.value(orphan).calcSeconds, 1765098000);
    Read();
    ASSERT_EQ(StaleLines().size(), 1);
    EXPECT_TRUE(StaleLines().first().contains(folder.File("Kvarn") + "   Timme   ("));

    ::kill(pid_t(simulator), SIGKILL);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !CCalculationProcesses::IsAlive(simulator); }));
    states = Read();
    EXPECT_TRUE(states.byKey.value(running).running);
    EXPECT_TRUE(states.byKey.value(running).stale);
    EXPECT_EQ(StaleLines().size(), 2);
    EXPECT_TRUE(db.IsRunFlagSet(running));

    db.ResetRunFlags({running, orphan});
    states = Read();
    EXPECT_FALSE(states.byKey.value(running).running || states.byKey.value(running).stale);
    EXPECT_FALSE(states.byKey.value(orphan).stale);
}

// Another file in the database's place is read anew; a file that cannot be read
// leaves nothing to show, reported once; the good file back is read again.
TEST_F(RunStatesTest, TheListFollowsTheFileThatIsThere) {
    db.SaveRow("00:05", "/m/forsta", "Makro", -1, 1);
    db.Close();
    EXPECT_FALSE(Read().reloadedRows.has_value());

    const QString other = folder.File("annan.mdb");
    {
        CSystemDatabase replacement(other);
        ASSERT_TRUE(replacement.OpenOrCreate());
        replacement.SaveRow("00:07", "/m/andra", "Makro", -1, 0);
        replacement.SaveRow("00:09", "/m/tredje", "Makro", -1, 1);
    }
    const QString kept = folder.File("forsta.mdb");
    ASSERT_TRUE(QFile::rename(folder.DatabaseFile(), kept));
    ASSERT_TRUE(QFile::rename(other, folder.DatabaseFile()));
    CRunStates states = Read();
    ASSERT_TRUE(states.reloadedRows.has_value());
    ASSERT_EQ(states.reloadedRows->size(), 2);
    EXPECT_EQ(states.reloadedRows->at(1).model, "/m/tredje");
    EXPECT_EQ(folder.ReadLines(folder.LogFile()).filter("har bytts ut").size(), 1);

    QFile::remove(folder.DatabaseFile());
    folder.WriteText(folder.DatabaseFile(), "skräp");
    states = reader.Read().value();
    EXPECT_TRUE(states.reloadedRows.has_value() && states.reloadedRows->isEmpty());
    EXPECT_FALSE(reader.Read().has_value());
    EXPECT_TRUE(problems.Current().contains("är ingen monitordatabas"));
    EXPECT_EQ(folder.ReadLines(folder.LogFile()).filter("är ingen monitordatabas").size(), 1);

    QFile::remove(folder.DatabaseFile());
    ASSERT_TRUE(QFile::rename(kept, folder.DatabaseFile()));
    states = Read();
    ASSERT_TRUE(states.reloadedRows.has_value());
    ASSERT_EQ(states.reloadedRows->size(), 1);
    EXPECT_EQ(states.reloadedRows->first().model, "/m/forsta");
    EXPECT_EQ(problems.Current(), "");
}

} // namespace

// The real clock a few seconds ahead: a second scheduler whose writes would show.
class CAheadClock : public CClock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime().addSecs(7); }
};

// Each start is recorded and ended once, whoever sees the end first: a whole
// calculation, one killed, one too quick to be seen, a program that never
// raises its flag, and one that could not start. Closed runs go with the PID records.
TEST_F(RunStatesTest, EveryRunIsRecordedFromItsStartToItsEndOnce) {
    const CSystemClock realClock;
    const CAheadClock ahead;
    CRunStateReader first{paths.MonitorDatabase(), realClock, processes, log, problems, stop};
    CRunStateReader second{paths.MonitorDatabase(), ahead, processes, log, problems, stop};
    CCalculationLauncher launcher(paths, realClock, log, processes);
    const auto row = [&](const QString& name, const char* macro) {
        const QString model = folder.File(name);
        folder.WriteText(model + ".vxm", "modell");
        return CScheduleRow{
            db.SaveRow("00:05", model, macro, -1, 1), "00:05", model, macro, true, 0};
    };
    const CScheduleRow whole = row("Pump", "Dygn"), killed = row("Kvarn", "Timme"),
                       quick = row("Snabb", "Minut"), silent = row("Tyst", "Vecka"),
                       missing = row("Saknas", "Kvart");
    const auto launch = [&](const CScheduleRow& r, const char* seconds, const QString& program) {
        qputenv("KVARNIXSIM_SECONDS", seconds);
        settings.programPath = program;
        return launcher.Launch(db, r, settings);
    };
    const auto latest = [&](const CScheduleRow& r) { return db.LatestRun(r.key).value_or(CRun()); };
    const auto readBoth = [&] {
        first.Read();
        second.Read();
    };

    launch(quick, "0", KVARNIX_SIMULATOR);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return db.GetTimeText(0, quick.key) != "Uppgift saknas" && !db.IsRunFlagSet(quick.key);
        },
        10000));
    readBoth();
    launch(whole, "2", KVARNIX_SIMULATOR);
    launch(killed, "120", KVARNIX_SIMULATOR);
    launch(silent, "0", "/bin/true");
    EXPECT_FALSE(launch(missing, "0", folder.File("finns-inte")).started);
    qunsetenv("KVARNIXSIM_SECONDS");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            readBoth();
            return db.RecordedProcessIds(killed.model).size() == 1 && latest(killed).seenRunning;
        },
        10000));
    ::kill(pid_t(db.RecordedProcessIds(killed.model).first()), SIGKILL);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            readBoth();
            return latest(whole).ended && latest(killed).ended;
        },
        15000));
    const CRun ended = latest(whole);
    readBoth();
    EXPECT_EQ(latest(whole).ended, ended.ended);
    EXPECT_EQ(ended.outcome, CRun::Outcome::Finished);
    ASSERT_TRUE(ended.seenRunning && ended.DurationSeconds());
    EXPECT_GE(*ended.DurationSeconds(), 1);
    EXPECT_LT(*ended.DurationSeconds(), 40);
    EXPECT_EQ(latest(killed).outcome, CRun::Outcome::Aborted);
    EXPECT_EQ(latest(missing).outcome, CRun::Outcome::NotStarted);
    EXPECT_EQ(RunHistory::OutcomeText(latest(missing)),
              "kunde inte startas: programmet " + folder.File("finns-inte") + " finns inte");

    // The tick's look for runs nobody saw end, five minutes on.
    db.EndQuietRuns(QDateTime::currentSecsSinceEpoch() + 301);
    EXPECT_EQ(latest(silent).outcome, CRun::Outcome::NeverStarted);
    EXPECT_EQ(latest(quick).outcome, CRun::Outcome::Finished);
    EXPECT_EQ(latest(quick).ended,
              std::max(latest(quick).launched,
                       LocalTime(db.GetTimeText(0, quick.key)).toSecsSinceEpoch()));
    for (const CScheduleRow& r : {whole, killed, quick, silent, missing})
        EXPECT_EQ(db.Runs(r.key, 0, 10).size(), 1) << r.model.toStdString();

    CRun open;
    open.key = whole.key;
    open.launched = QDateTime::currentSecsSinceEpoch() - 20 * 86400;
    db.RecordStart(open);
    EXPECT_TRUE(db.PurgePid(QDateTime::currentDateTime().addDays(11), 10));
    EXPECT_EQ(db.Runs(whole.key, 0, 10).size(), 1);
    EXPECT_FALSE(db.LatestRun(whole.key)->ended.has_value());
    EXPECT_FALSE(db.LatestRun(killed.key).has_value());
}
