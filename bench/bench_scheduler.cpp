// Cost of the scheduler's hot paths over a database of many active rows, none due.
#include "app/messenger.h"
#include "app/monitorsettings.h"
#include "app/programpaths.h"
#include "monitordb/systemdatabase.h"
#include "schedule/clock.h"
#include "schedule/schedulemodel.h"
#include "schedule/scheduler.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

class CSilentMessenger : public CMessenger {
public:
    void ShowMessage(const QString&) override {}
    void ShowWarning(const QString&) override {}
    bool AskYesNo(const QString&) override { return false; }
};

class CFixedClock : public CClock {
public:
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
    QDateTime Now() const override { return now; }
};

// A monitor folder with rows of all three kinds, every one active and none due
// at the clock's minutes, and the scheduler switched on.
struct CMonitorFixture {
    explicit CMonitorFixture(int rowCount)
        : paths(folder.filePath(QStringLiteral("kvarnixmonitor"))),
          scheduler(list, settings, paths, clock, messenger) {
        CSystemDatabase db(paths.MonitorDatabase(), messenger);
        db.Open();
        db.SetSetting(QStringLiteral("DRIFT"), 1);
        for (int i = 0; i < rowCount; ++i) {
            const QString tid = i % 3 == 0   ? QStringLiteral("2030-01-01 12:00")
                                : i % 3 == 1 ? QStringLiteral("Söndag  03:00")
                                             : QStringLiteral("99:00");
            db.SaveRow(tid, QStringLiteral("/modeller/modell%1").arg(i),
                       QStringLiteral("Dygnsberäkning"), -1, 1);
        }
        scheduler.LoadSchedule();
        // Far from zero, so no cyclic row comes due while the benchmark runs.
        for (int key : list.Keys())
            db.SetCounter(key, 1000000);
    }

    QTemporaryDir folder;
    CProgramPaths paths;
    CSilentMessenger messenger;
    CFixedClock clock;
    CMonitorSettings settings;
    CScheduleModel list;
    CScheduler scheduler;
};

void SchedulerTick(benchmark::State& state) {
    CMonitorFixture fixture(int(state.range(0)));
    for (auto _ : state) {
        fixture.clock.now = fixture.clock.now.addSecs(60);
        fixture.scheduler.OnScheduleTimer();
    }
}
BENCHMARK(SchedulerTick)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void DisplayRefresh(benchmark::State& state) {
    CMonitorFixture fixture(int(state.range(0)));
    for (auto _ : state)
        fixture.scheduler.Refresh();
}
BENCHMARK(DisplayRefresh)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void OpenDatabase(benchmark::State& state) {
    CMonitorFixture fixture(1000);
    for (auto _ : state) {
        CSystemDatabase db(fixture.paths.MonitorDatabase(), fixture.messenger);
        benchmark::DoNotOptimize(db.Open());
    }
}
BENCHMARK(OpenDatabase)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("TZ", "Europe/Stockholm", 1);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
