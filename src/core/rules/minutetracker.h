#pragma once

#include <QDateTime>
#include <QVector>
#include <optional>

// Decides, at each wake-up of the scheduler, which wall-clock minutes to
// evaluate, the way cron and systemd timers do when the clock moves:
// - on time or a few minutes late: every minute since the last wake-up;
// - forward by up to three hours (summer time begins, a suspend, a file held
//   by another process, a monitor that did not run): the skipped minutes for
//   rows with a fixed time, only the current one for rows with an "X" in the
//   hour or minute;
// - forward by more: as above, but fixed-time rows only for the last three hours;
// - backward by up to three hours (summer time ends): fixed-time rows wait
//   until the clock passes the latest minute already evaluated, "X" rows go on
//   in real time;
// - backward by more: a correction, only the current minute.
// Its state is kept in the monitor database, so that a restart or a second
// scheduler on the same file never evaluates a minute again. Only minutes this
// scheduler claimed itself can show its own clock going back: a clock behind the
// minute another scheduler claimed has simply not reached that minute yet.
class CMinuteTracker {
public:
    struct Minutes {
        QVector<QDateTime> forWildcardRows;
        QVector<QDateTime> forFixedRows;
        bool IsEmpty() const { return forWildcardRows.isEmpty() && forFixedRows.isEmpty(); }
    };
    // Wall-clock minutes (see WallClockMinute): the last wake-up's, and the
    // latest one evaluated for fixed-time rows.
    struct State {
        qint64 last = 0;
        qint64 highest = 0;
    };

    CMinuteTracker() = default;
    explicit CMinuteTracker(std::optional<State> state) : m_state(state) {}

    // The readings are local wall-clock times; only their date and time of day count.
    // claimedHere: the stored state is this scheduler's own latest claim.
    Minutes Advance(const QDateTime& now, bool claimedHere = true);
    std::optional<State> Current() const { return m_state; }

    // The minute on the local wall clock, counted as if that clock were UTC, so
    // that the distance between two readings is what the clock face moved.
    static qint64 WallClockMinute(const QDateTime& time);

private:
    std::optional<State> m_state;
};
