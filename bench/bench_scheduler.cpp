// Cost of the scheduler's hot paths in process: the minute tick and the display refresh over
// many active rows, none due, and one launch with a long monitor log.
#include "monitorfolder.h"

#include "base/clock.h"
#include "files/programpaths.h"
#include "log/monitorlog.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "schedule/calculationlauncher.h"
#include "schedule/calculationprocesses.h"
#include "schedule/problemreporter.h"
#include "schedule/runstatereader.h"
#include "schedule/scheduler.h"
#include "settings/monitorsettings.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int kLogLines = 200000;

class CFixedClock : public CClock {
public:
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
    QDateTime Now() const override { return now; }
};

// A monitor folder with rows of all three kinds, every one active and none due at the clock's
// minutes, and the scheduler's parts as one monitor process has them.
struct CMonitorFixture {
    explicit CMonitorFixture(int rowCount, int historyRuns = 0, int openRuns = 0)
        : paths(folder.filePath(QStringLiteral("kvarnixmonitor"))),
          log(paths.MonitorLog(), paths.TrimFile()), problems(log, clock),
          processes(paths.MonitorDatabase()), peers(false),
          launcher(paths, clock, log, processes, peers),
          scheduler(paths, clock, launcher, log, problems, stop, peers),
          reader(paths.MonitorDatabase(), peers.Host(), clock, processes, log, problems, stop) {
        loaded = FillMonitorDatabase(paths.MonitorDatabase(), rowCount) &&
                 FillRunHistory(paths.MonitorDatabase(), historyRuns) &&
                 OpenSupervisedRuns(paths.MonitorDatabase(), openRuns) && ParkCyclicCounters() &&
                 rows.size() == rowCount;
    }

    // Far from zero, so no cyclic row comes due while the benchmark runs.
    bool ParkCyclicCounters() {
        CSystemDatabase db(paths.MonitorDatabase());
        db.Open();
        settings = CMonitorSettings::Load(db);
        rows = db.LoadAllRows();
        CSqliteTransaction transaction(db.Connection());
        for (const CScheduleRow& row : rows)
            db.SetCounter(row.key, 1000000);
        transaction.Commit();
        return true;
    }

    QTemporaryDir folder;
    CProgramPaths paths;
    CFixedClock clock;
    CMonitorLog log;
    CProblemReporter problems;
    CCalculationProcesses processes;
    CSchedulerPeers peers;
    CCalculationLauncher launcher;
    std::atomic<bool> stop{false};
    CScheduler scheduler;
    CRunStateReader reader;
    CMonitorSettings settings;
    QVector<CScheduleRow> rows;
    bool loaded = false;
};

// A benchmark whose folder could not be prepared reports that instead of a figure.
bool IsLoaded(benchmark::State& state, const CMonitorFixture& fixture) {
    if (!fixture.loaded)
        state.SkipWithError("the monitor folder could not be prepared");
    return fixture.loaded;
}

// Arguments: the rows, the runs in the history and the runs open under their supervisors.
// The open runs beat between ticks, as their supervisors would, so none is closed as lost.
void SchedulerTick(benchmark::State& state) {
    CMonitorFixture fixture(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    if (!IsLoaded(state, fixture))
        return;
    for (auto _ : state) {
        state.PauseTiming();
        BeatOpenRuns(fixture.paths.MonitorDatabase());
        state.ResumeTiming();
        fixture.clock.now = fixture.clock.now.addSecs(60);
        fixture.scheduler.Tick([](const CLaunchReport&) {});
    }
}
BENCHMARK(SchedulerTick)
    ->Args({1000, 0, 0})
    ->Args({10000, 0, 0})
    ->Args({10000, 1000000, 0})
    ->Args({10000, 0, 500})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void DisplayRefresh(benchmark::State& state) {
    CMonitorFixture fixture(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    if (!IsLoaded(state, fixture))
        return;
    for (auto _ : state)
        benchmark::DoNotOptimize(fixture.reader.Read());
}
BENCHMARK(DisplayRefresh)
    ->Args({1000, 0, 0})
    ->Args({10000, 0, 0})
    ->Args({10000, 1000000, 0})
    ->Args({10000, 0, 500})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The log ends on the clock's day with 200,000 lines over logDays days. The monitor keeps 100
// days before the last line's: with 101 days nothing is old enough to go; with 102 the oldest
// day goes, which the scheduler does after the minute's launches, so it is put back before
// each launch. A launch is the start and its log line.
void LaunchWithLog(benchmark::State& state, int logDays) {
    CMonitorFixture fixture(1000);
    if (!IsLoaded(state, fixture))
        return;
    const QDate lastDay = fixture.clock.now.date();
    const QByteArray log = MonitorLogText(kLogLines, lastDay.addDays(1 - logDays), lastDay);
    const QString logPath = fixture.paths.MonitorLog();
    if (!WriteFile(logPath, log)) {
        state.SkipWithError("the monitor log could not be written");
        return;
    }
    const bool rewrites = logDays > fixture.settings.logDays + 1;
    for (auto _ : state) {
        if (rewrites) {
            state.PauseTiming();
            WriteFile(logPath, log);
            state.ResumeTiming();
        }
        fixture.scheduler.RunNow(fixture.rows.first().key, [](const CLaunchReport& report) {
            benchmark::DoNotOptimize(report.started);
        });
    }
}
BENCHMARK_CAPTURE(LaunchWithLog, nothing_to_drop, 101)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(LaunchWithLog, oldest_day_dropped, 102)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void OpenDatabase(benchmark::State& state) {
    CMonitorFixture fixture(1000);
    if (!IsLoaded(state, fixture))
        return;
    for (auto _ : state) {
        CSystemDatabase db(fixture.paths.MonitorDatabase());
        db.Open();
        benchmark::DoNotOptimize(db.Identity());
    }
}
BENCHMARK(OpenDatabase)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("TZ", "Europe/Stockholm", 1);
    tzset();
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
