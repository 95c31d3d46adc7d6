// Cost of the next start of every row of a long schedule, as a listing of the schedule
// computes it: rows of all three kinds, a few that never start among them.
#include "rules/nextstart.h"
#include "rules/starttime.h"

#include <QDateTime>
#include <QStringList>
#include <benchmark/benchmark.h>

namespace {

constexpr int kRows = 10000;

QString TwoDigits(int value) {
    return QString::number(value).rightJustified(2, u'0');
}

// Row i of a schedule: mostly daily and hourly times, weekday rows on every day, cyclic
// intervals, dated one-off runs, and now and then a date that never comes or a text
// with a leftover prompt.
QString RowText(int i) {
    const QString hour = TwoDigits(i % 24);
    const QString minute = TwoDigits(i * 7 % 60);
    switch (i % 10) {
    case 0:
    case 1:
        return QStringLiteral("XXXX-XX-XX %1:%2").arg(hour, minute);
    case 2:
        return QStringLiteral("XXXX-XX-XX XX:%1").arg(minute);
    case 3:
    case 4:
        return StartTime::WeekdayName(i % 7) + QStringLiteral("  %1:%2").arg(hour, minute);
    case 5:
        return QStringLiteral("%1:%2").arg(TwoDigits(i % 5), minute);
    case 6:
        return QStringLiteral("2027-%1-%2 %3:%4")
            .arg(TwoDigits(i % 12 + 1), TwoDigits(i % 28 + 1), hour, minute);
    case 7:
        return QStringLiteral("XXXX-X%1-1X %2:X%3").arg(i % 3).arg(hour).arg(i % 6);
    case 8:
        return i % 20 < 10 ? QStringLiteral("XXXX-02-29 %1:%2").arg(hour, minute)
                           : QStringLiteral("XXXX-02-30 %1:%2").arg(hour, minute);
    default:
        return i % 20 < 10 ? QStringLiteral("2X2X-0X-0X %1:%2").arg(hour, minute)
                           : QStringLiteral("XXXX-XX-XX %1:X_").arg(hour);
    }
}

// `now` is given in UTC; on the night the clock goes back every row looks at the change.
void NextStartOfRows(benchmark::State& state, QDate date, QTime utc) {
    QStringList rows;
    for (int i = 0; i < kRows; ++i)
        rows << RowText(i);
    const QDateTime now = QDateTime(date, utc, Qt::UTC).toLocalTime();
    for (auto _ : state) {
        for (int i = 0; i < kRows; ++i)
            benchmark::DoNotOptimize(NextStart(rows[i], i % 97, now));
    }
}
// 10:00 local time, and 02:30 in the first pass of the hour the clock repeats.
BENCHMARK_CAPTURE(NextStartOfRows, ordinary_day, QDate(2026, 12, 7), QTime(9, 0))
    ->Name("NextStart/ordinary_day")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(NextStartOfRows, hour_repeats, QDate(2027, 10, 31), QTime(0, 30))
    ->Name("NextStart/hour_repeats")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
