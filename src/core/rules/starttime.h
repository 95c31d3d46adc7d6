#pragma once

#include <QDateTime>
#include <QString>

// The three forms of a start-time text and the rules that say whether a row is
// due in a given local wall-clock minute. Only the minute's date and time of day
// are read, so a caller may pass a wall-clock reading that the time zone skips.
namespace StartTime {

enum class Kind { Absolute, Cyclic, Weekday };

// Decided by the length in characters of the displayed text alone.
Kind Classify(const QString& displayedText);

// "HH:MM" in digits: an interval with a prompt "_" left in it is no interval.
bool HasCyclicLayout(const QString& text);

// A cyclic row's interval in minutes: the leading number of the first two characters
// times 60 plus that of the last two ("01:30" gives 90), as C's atoi reads them.
int IntervalMinutes(const QString& tid);

// One scheduler wake-up of an active, idle cyclic row: its countdown goes down by one, and
// at 0 or below the row is due and the countdown starts over at the interval.
struct CountdownStep {
    bool due = false;
    int counter = 0;
};
CountdownStep StepCountdown(const QString& tid, int counter);
// The first countdown after the schedule starts, spread over 1 to interval + 1 wake-ups:
// random is 0 to 32767.
int SeededCountdown(const QString& tid, int random);

// "YYYY-MM-DD HH:MM" where any digit may be "X".
bool HasAbsoluteLayout(const QString& text);
// A text without the absolute layout is never due.
bool IsAbsoluteDue(const QString& startTime, const QDateTime& minute);
// The start time with every "X" replaced by the minute's character at that place.
QString FillWildcards(const QString& startTime, const QDateTime& minute);
// Display form: day name, two blanks, "HH:MM".
bool IsWeekdayDue(const QString& displayedText, const QDateTime& minute);

// The display form split at its first blank: the day's index (-1 when the name is
// none of the seven or there is no blank) and the rest, which on that day is
// compared as the part of the absolute layout after its date.
struct WeekdayParts {
    int dayIndex = -1;
    QString afterDate;
};
WeekdayParts SplitWeekday(const QString& displayedText);

// True when the time of day (the last five characters) holds an "X": such a row
// runs at every wall-clock minute it names, so in both passes of an hour the clock
// repeats and not in minutes it skips. A fixed time of day runs once on those
// days, and a skipped one as soon as the clock lands after it.
bool FollowsRealTime(const QString& displayedText);

// Swedish day names, Sunday = 0 ... Saturday = 6; an index outside 0-6 gives "".
QString WeekdayName(int index);
// -1 when the name is none of the seven (compared case-sensitively, whole).
int WeekdayIndex(const QString& name);

// The stored weekday form "d-HH:MM" (7 characters) becomes the display form;
// every other text is returned unchanged.
QString DisplayForm(const QString& storedText);

} // namespace StartTime
