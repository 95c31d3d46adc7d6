// Cost of trimming a long monitor log: the first trim of a log with nothing old enough to go,
// which reads it whole; an append and a trim by a log object the scheduler keeps, which knows
// the log it left; and a trim that drops the oldest day and so writes the log anew.
#include "monitorfolder.h"

#include "log/monitorlog.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <unistd.h>

namespace {

constexpr int kLogLines = 200000;
constexpr int kSpanDays = 100;
const QDate kLastDay(2026, 12, 7);

// A log of 200,000 launch lines over logDays days up to kLastDay, in a folder of its own. With
// kSpanDays + 1 days nothing is old enough to go; with one more the oldest day goes.
struct CLogFixture {
    explicit CLogFixture(int logDays)
        : logPath(folder.filePath(QStringLiteral("kvarnixmonitor.log"))),
          trimPath(folder.filePath(QStringLiteral("kvarnixmonitor.xxx"))),
          keptPath(folder.filePath(QStringLiteral("orörd.log"))),
          written(folder.isValid() &&
                  WriteFile(keptPath,
                            MonitorLogText(kLogLines, kLastDay.addDays(1 - logDays), kLastDay)) &&
                  Restore()) {}

    // The trim replaces the log by a new file and leaves the old one as it was, so a second
    // name of the first log brings it back without writing it again, and no write of the
    // benchmark's own is still on its way to disk while the trim is measured.
    bool Restore() const {
        const QByteArray log = QFile::encodeName(logPath);
        ::unlink(log.constData());
        return ::link(QFile::encodeName(keptPath).constData(), log.constData()) == 0;
    }

    QTemporaryDir folder;
    QString logPath;
    QString trimPath;
    QString keptPath;
    bool written;
};

bool IsWritten(benchmark::State& state, const CLogFixture& fixture) {
    if (!fixture.written)
        state.SkipWithError("the monitor log could not be written");
    return fixture.written;
}

// A new log object each time, as after a start of the monitor: it knows nothing of the log.
void TrimLog(benchmark::State& state, int logDays) {
    CLogFixture fixture(logDays);
    if (!IsWritten(state, fixture))
        return;
    const bool rewrites = logDays > kSpanDays + 1;
    for (auto _ : state) {
        if (rewrites) {
            state.PauseTiming();
            fixture.Restore();
            state.ResumeTiming();
        }
        CMonitorLog(fixture.logPath, fixture.trimPath).TrimLog(kSpanDays);
    }
}
BENCHMARK_CAPTURE(TrimLog, nothing_to_drop, kSpanDays + 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(TrimLog, oldest_day_dropped, kSpanDays + 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The scheduler's round: one object for the monitor's lifetime, a line appended after each
// start, then the trim.
void AppendAndTrim(benchmark::State& state, int logDays) {
    CLogFixture fixture(logDays);
    if (!IsWritten(state, fixture))
        return;
    const CMonitorLog log(fixture.logPath, fixture.trimPath);
    log.TrimLog(kSpanDays);
    const QDateTime now(kLastDay, QTime(23, 0));
    for (auto _ : state) {
        log.AppendLogLine(QStringLiteral("/modeller/modell7   Dygnsberäkning"), now);
        log.TrimLog(kSpanDays);
    }
}
BENCHMARK_CAPTURE(AppendAndTrim, nothing_to_drop, kSpanDays + 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
