// The scheduler's threads: when they wake, and that the first wake-up does not wait.
#include "files/programpaths.h"
#include "monitordb/systemdatabase.h"
#include "schedule/schedulerrunner.h"
#include "schedule/tickworker.h"
#include "support/testsupport.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Just after the next minute, never later than 15 s from now: a suspend or a change of the
// wall clock is noticed within that.
TEST(TickWorker, WakesJustAfterTheMinuteAndAtLeastEveryFifteenSeconds) {
    const std::pair<const char*, int> cases[] = {
        {"2026-12-07 10:00:00.000", 15100}, {"2026-12-07 10:00:44.000", 15100},
        {"2026-12-07 10:00:45.500", 14600}, {"2026-12-07 10:00:59.950", 150},
        {"2026-12-07 10:00:59.999", 101},
    };
    for (const auto& [now, ms] : cases)
        EXPECT_EQ(CTickWorker::MsUntilNextWake(LocalTime(now)), ms) << now;
}

// Minutes missed while no scheduler ran are caught up at once, not at the next minute.
TEST(SchedulerRunner, TheFirstWakeUpComesAtOnce) {
    CTestFolder folder;
    {
        CSystemDatabase db(folder.DatabaseFile());
        db.OpenOrCreate();
        db.SaveRow("- - - -", "/bin/true", "- - - -", 0, 0);
        db.SetSetting("DRIFT", 1);
        db.SaveRow("XXXX-XX-XX XX:XX", "/m/varje", "Makro", -1, 1);
    }
    const CProgramPaths paths(folder.ProgramFile());
    const CFakeClock clock(LocalTime("2026-12-07 10:00:30"));
    CSchedulerRunner runner(paths, clock, true);
    QSignalSpy launched(&runner, &CSchedulerRunner::Launched);
    QSignalSpy switched(&runner, &CSchedulerRunner::SchedulerSwitchChanged);
    runner.Start();
    ASSERT_TRUE(launched.wait(5000));
    EXPECT_TRUE(launched.first().first().value<CLaunchReport>().started);
    ASSERT_EQ(switched.size(), 1);
    EXPECT_TRUE(switched.first().first().toBool());
    runner.Stop();
    CSystemDatabase db(folder.DatabaseFile());
    db.Open();
    EXPECT_TRUE(db.Schedulers().isEmpty()) << "the row leaves with the scheduler";
}

} // namespace
