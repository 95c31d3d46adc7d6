#include "minutetracker.h"

#include <algorithm>

namespace {

constexpr qint64 kLateMinutes = 5;
constexpr qint64 kJumpMinutes = 3 * 60;

// The minute on the local wall clock, counted as if that clock were UTC, so that
// the distance between two readings is what the clock face moved.
qint64 WallClockMinute(const QDateTime& time) {
    const QTime t = time.time();
    return QDateTime(time.date(), QTime(t.hour(), t.minute()), Qt::UTC).toSecsSinceEpoch() / 60;
}

QVector<QDateTime> Readings(qint64 after, qint64 upTo) {
    QVector<QDateTime> minutes;
    for (qint64 minute = after + 1; minute <= upTo; ++minute)
        minutes << QDateTime::fromSecsSinceEpoch(minute * 60, Qt::UTC);
    return minutes;
}

} // namespace

CMinuteTracker::Minutes CMinuteTracker::Advance(const QDateTime& now) {
    const qint64 current = WallClockMinute(now);
    const qint64 moved = m_last ? current - *m_last : 0;
    Minutes minutes;
    if (!m_last || std::abs(moved) > kJumpMinutes) {
        minutes.forWildcardRows = minutes.forFixedRows = Readings(current - 1, current);
        m_highest = current;
    } else if (moved != 0) {
        const qint64 wildcardFrom = moved > 0 && moved <= kLateMinutes ? *m_last : current - 1;
        minutes.forWildcardRows = Readings(wildcardFrom, current);
        minutes.forFixedRows = Readings(std::max(*m_last, m_highest), current);
        m_highest = std::max(m_highest, current);
    }
    m_last = current;
    return minutes;
}
