#pragma once

#include <QDateTime>
#include <QVector>
#include <optional>

// Decides, at each wake-up of the scheduler, which wall-clock minutes to
// evaluate, the way cron does when the clock moves:
// - on time or a few minutes late: every minute since the last wake-up;
// - forward by up to three hours (summer time begins, a suspend): the skipped
//   minutes for rows with a fixed time, only the current one for rows with an
//   "X" in the hour or minute;
// - backward by up to three hours (summer time ends): fixed-time rows wait
//   until the clock passes the latest minute already evaluated, "X" rows go on
//   in real time;
// - further either way: a correction, only the current minute.
class CMinuteTracker {
public:
    struct Minutes {
        QVector<QDateTime> forWildcardRows;
        QVector<QDateTime> forFixedRows;
        bool IsEmpty() const { return forWildcardRows.isEmpty() && forFixedRows.isEmpty(); }
    };

    // The readings are local wall-clock times; only their date and time of day count.
    Minutes Advance(const QDateTime& now);

private:
    std::optional<qint64> m_last;
    // The latest minute evaluated for fixed-time rows.
    qint64 m_highest = 0;
};
