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
