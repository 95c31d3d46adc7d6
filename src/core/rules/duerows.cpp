#include "rules/duerows.h"

#include "rules/starttime.h"

#include <algorithm>

namespace {

bool IsDueInOneOf(const QString& startTime, StartTime::Kind kind,
                  const QVector<QDateTime>& minutes) {
    return std::any_of(minutes.begin(), minutes.end(), [&](const QDateTime& minute) {
        return kind == StartTime::Kind::Weekday ? StartTime::IsWeekdayDue(startTime, minute)
                                                : StartTime::IsAbsoluteDue(startTime, minute);
    });
}

} // namespace

CDueRows DecideDueRows(const QVector<CScheduleRow>& rows, const QHash<int, bool>& running,
                       const CMinuteTracker::Minutes& minutes) {
    CDueRows decision;
    for (const CScheduleRow& row : rows) {
        if (!row.active || running.value(row.key))
            continue;
        const StartTime::Kind kind = StartTime::Classify(row.startTime);
        bool due = false;
        if (kind == StartTime::Kind::Cyclic) {
            if (!StartTime::HasCyclicLayout(row.startTime))
                continue;
            const StartTime::CountdownStep step =
                StartTime::StepCountdown(row.startTime, row.counter);
            decision.countdowns.insert(row.key, step.counter);
            due = step.due;
        } else {
            due = IsDueInOneOf(row.startTime, kind,
                               StartTime::FollowsRealTime(row.startTime) ? minutes.forWildcardRows
                                                                         : minutes.forFixedRows);
        }
        if (due)
            decision.due << row;
    }
    return decision;
}
