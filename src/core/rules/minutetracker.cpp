#include "rules/minutetracker.h"

#include <algorithm>

namespace {

constexpr qint64 kLateMinutes = 5;
constexpr qint64 kJumpMinutes = 3 * 60;

QVector<QDateTime> Readings(qint64 after, qint64 upTo) {
    QVector<QDateTime> minutes;
    for (qint64 minute = after + 1; minute <= upTo; ++minute)
        minutes << QDateTime::fromSecsSinceEpoch(minute * 60, Qt::UTC);
    return minutes;
}

} // namespace

qint64 CMinuteTracker::WallClockMinute(const QDateTime& time) {
    const QTime t = time.time();
    return QDateTime(time.date(), QTime(t.hour(), t.minute()), Qt::UTC).toSecsSinceEpoch() / 60;
}

CMinuteTracker::Minutes CMinuteTracker::Advance(const QDateTime& now, bool claimedHere) {
    const qint64 current = WallClockMinute(now);
    Minutes minutes;
    if (m_state && !claimedHere && current <= m_state->last)
        return minutes;
    if (!m_state || current - m_state->last < -kJumpMinutes) {
        minutes.forWildcardRows = minutes.forFixedRows = Readings(current - 1, current);
        m_state = State{current, current};
        return minutes;
    }
    State& state = *m_state;
    const qint64 moved = current - state.last;
    if (moved > kJumpMinutes) {
        minutes.forWildcardRows = Readings(current - 1, current);
        minutes.forFixedRows = Readings(std::max(current - kJumpMinutes, state.highest), current);
    } else if (moved != 0) {
        const qint64 wildcardFrom = moved > 0 && moved <= kLateMinutes ? state.last : current - 1;
        minutes.forWildcardRows = Readings(wildcardFrom, current);
        minutes.forFixedRows = Readings(std::max(state.last, state.highest), current);
    }
    state.highest = std::max(state.highest, current);
    state.last = current;
    return minutes;
}
