#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// When the scheduler, waking once a wall-clock minute and running on, next starts a
// row that stays active and idle: the local time of that wake-up, always in a later
// minute than the one `now` lies in (that minute counts as evaluated already). Empty
// when the row never starts: a text without the layout of its kind or with a mask
// prompt "_", an unknown day name, a date that never exists, a time without "X" that
// has passed.
//   displayedText  the start time as the list shows it; its length decides its kind
//   counter        a cyclic row's countdown: the wake-ups left until it is due
// Around a change of the clock's offset a fixed time of day starts once (a skipped one
// as soon as the clock lands after it), one with "X" in its time of day in real time
// (StartTime::FollowsRealTime).
std::optional<QDateTime> NextStart(const QString& displayedText, int counter, const QDateTime& now);
