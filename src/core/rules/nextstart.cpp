#include "rules/nextstart.h"

#include "rules/starttime.h"

#include <QDate>
#include <algorithm>
#include <array>
#include <ctime>

namespace {

// Moments are seconds since the epoch: real ones on the real time line, wall-clock
// ones counted as if the local wall clock were UTC, so that both step 60 a minute.
constexpr qint64 kMinute = 60;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;
// The furthest the wall clock jumps when its offset changes; the minute tracker keeps
// the latest minute it has evaluated across jumps up to this size.
constexpr qint64 kLongestShift = 3 * kHour;
constexpr qint64 kEpochJulianDay = 2440588;
constexpr int kLastYear = 9999;
constexpr int kDaysInWeek = 7;

qint64 FloorDiv(qint64 value, qint64 divisor) {
    const qint64 quotient = value / divisor;
    return quotient * divisor > value ? quotient - 1 : quotient;
}

// The C library's local time, as the scheduler's own readings of the clock.
qint64 OffsetAt(qint64 real) {
    const std::time_t time = std::time_t(real);
    std::tm local{};
    return localtime_r(&time, &local) ? local.tm_gmtoff : 0;
}

qint64 WallClockAt(qint64 real) {
    return real + OffsetAt(real);
}

// The minute asked about and the clock's offset in it.
struct CNow {
    qint64 real;
    qint64 offset;
    qint64 Wall() const { return real + offset; }
};

// The first real minute in (before, after] whose offset is not the one at `before`;
// the two minutes lie on either side of one change of the offset.
qint64 ShiftBetween(qint64 before, qint64 after) {
    const qint64 offsetBefore = OffsetAt(before);
    while (after - before > kMinute) {
        const qint64 middle = before + (after - before) / (2 * kMinute) * kMinute;
        (OffsetAt(middle) == offsetBefore ? before : after) = middle;
    }
    return after;
}

// The real minutes at which the clock shows a wall-clock minute, the earlier first:
// none when the clock skips it, two when it shows it twice. The offsets a day either
// side stand for those before and after the one change that can lie near it.
struct CShowings {
    std::array<qint64, 2> real{};
    int count = 0;
    // Of a skipped minute: the real minute at which the clock lands after it.
    qint64 skipEnd = 0;
};

CShowings ShowingsOf(qint64 wall) {
    const qint64 offsetBefore = OffsetAt(wall - kDay);
    const qint64 offsetAfter = OffsetAt(wall + kDay);
    CShowings showings;
    if (offsetBefore == offsetAfter) {
        showings.real[showings.count++] = wall - offsetBefore;
        return showings;
    }
    for (const qint64 offset : {offsetBefore, offsetAfter}) {
        if (OffsetAt(wall - offset) == offset)
            showings.real[showings.count++] = wall - offset;
    }
    if (showings.count == 0)
        showings.skipEnd = ShiftBetween(wall - offsetAfter, wall - offsetBefore);
    return showings;
}

// A field of the start time, each digit fixed or "X".
class CDigitPattern {
public:
    explicit CDigitPattern(QStringView text) : m_length(int(text.size())) {
        for (int i = 0; i < m_length; ++i)
            m_digits[i] = text[i] == u'X' ? kAny : text[i].unicode() - u'0';
    }

    // The smallest value in [from, last] the field names, or -1.
    int FirstIn(int from, int last) const {
        const int value = FirstFrom(from);
        return value >= 0 && value <= last ? value : -1;
    }
    bool Matches(int value) const { return FirstIn(value, value) == value; }

private:
    static constexpr int kAny = -1;

    // Read from the left: the first digit of `from` the field cannot keep is either
    // exceeded by the field's fixed digit there, or an earlier "X" must count up.
    int FirstFrom(int from) const {
        std::array<int, 4> digits{};
        int rest = std::max(from, 0);
        for (int i = m_length - 1; i >= 0; --i) {
            digits[i] = rest % 10;
            rest /= 10;
        }
        if (rest > 0)
            return -1;
        for (int i = 0; i < m_length; ++i) {
            if (m_digits[i] == kAny || m_digits[i] == digits[i])
                continue;
            if (m_digits[i] > digits[i])
                return Compose(digits, i, m_digits[i]);
            for (int j = i - 1; j >= 0; --j) {
                if (m_digits[j] == kAny && digits[j] < 9)
                    return Compose(digits, j, digits[j] + 1);
            }
            return -1;
        }
        return std::max(from, 0);
    }

    // `digits` before position `at`, `digit` at it and the smallest the field allows
    // after it.
    int Compose(const std::array<int, 4>& digits, int at, int digit) const {
        int value = 0;
        for (int i = 0; i < m_length; ++i) {
            if (i < at)
                value = value * 10 + digits[i];
            else if (i == at)
                value = value * 10 + digit;
            else
                value = value * 10 + std::max(m_digits[i], 0);
        }
        return value;
    }

    std::array<int, 4> m_digits{};
    int m_length;
};

// A start time as fields to search: an absolute row names its dates digit by digit,
// a weekday row takes any date on its day of the week.
struct CStartPattern {
    CDigitPattern year, month, day, hour, minute;
    // 0 = Sunday ... 6 = Saturday, or -1 for an absolute row.
    int weekday;
};

std::optional<CStartPattern> PatternOf(const QString& absoluteText, int weekday) {
    if (!StartTime::HasAbsoluteLayout(absoluteText))
        return std::nullopt;
    const QStringView text(absoluteText);
    return CStartPattern{CDigitPattern(text.mid(0, 4)),  CDigitPattern(text.mid(5, 2)),
                         CDigitPattern(text.mid(8, 2)),  CDigitPattern(text.mid(11, 2)),
                         CDigitPattern(text.mid(14, 2)), weekday};
}

// A weekday text is compared on its day as the absolute layout with that day's date.
std::optional<CStartPattern> PatternOf(const QString& displayedText) {
    if (StartTime::Classify(displayedText) == StartTime::Kind::Absolute)
        return PatternOf(displayedText, -1);
    const StartTime::WeekdayParts parts = StartTime::SplitWeekday(displayedText);
    if (parts.dayIndex < 0)
        return std::nullopt;
    return PatternOf(QStringLiteral("XXXX-XX-XX") + parts.afterDate, parts.dayIndex);
}

struct CTimeOfDay {
    int hour;
    int minute;
};

std::optional<CTimeOfDay> FirstTime(const CStartPattern& pattern, int fromHour, int fromMinute) {
    for (int hour = pattern.hour.FirstIn(fromHour, 23); hour >= 0;
         hour = pattern.hour.FirstIn(hour + 1, 23)) {
        const int minute = pattern.minute.FirstIn(hour == fromHour ? fromMinute : 0, 59);
        if (minute >= 0)
            return CTimeOfDay{hour, minute};
    }
    return std::nullopt;
}

bool DateMatches(const CStartPattern& pattern, const QDate& date) {
    if (pattern.weekday >= 0)
        return date.year() <= kLastYear && date.dayOfWeek() % kDaysInWeek == pattern.weekday;
    return pattern.year.Matches(date.year()) && pattern.month.Matches(date.month()) &&
           pattern.day.Matches(date.day());
}

std::optional<QDate> FirstDateInYear(const CStartPattern& pattern, int year, int fromMonth,
                                     int fromDay) {
    for (int month = pattern.month.FirstIn(fromMonth, 12); month >= 0;
         month = pattern.month.FirstIn(month + 1, 12)) {
        const int first = month == fromMonth ? fromDay : 1;
        const int day = pattern.day.FirstIn(first, QDate(year, month, 1).daysInMonth());
        if (day >= 0)
            return QDate(year, month, day);
    }
    return std::nullopt;
}

// After the first year searched, whether a year holds a date the pattern names
// depends only on whether it is a leap year: a failed year of each kind ends the
// search, however many years the pattern still names.
std::optional<QDate> FirstAbsoluteDate(const CStartPattern& pattern, const QDate& from) {
    std::array<bool, 2> failed{};
    for (int year = pattern.year.FirstIn(from.year(), kLastYear); year >= 0;
         year = pattern.year.FirstIn(year + 1, kLastYear)) {
        const bool first = year == from.year();
        const bool leap = QDate::isLeapYear(year);
        if (!first && failed[leap])
            continue;
        if (const auto date =
                FirstDateInYear(pattern, year, first ? from.month() : 1, first ? from.day() : 1))
            return date;
        if (!first) {
            failed[leap] = true;
            if (failed[false] && failed[true])
                return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<QDate> FirstDate(const CStartPattern& pattern, const QDate& from) {
    if (pattern.weekday < 0)
        return FirstAbsoluteDate(pattern, from);
    const int daysAhead =
        (pattern.weekday - from.dayOfWeek() % kDaysInWeek + kDaysInWeek) % kDaysInWeek;
    const QDate date = from.addDays(daysAhead);
    if (date.year() > kLastYear)
        return std::nullopt;
    return date;
}

qint64 WallMinute(const QDate& date, const CTimeOfDay& time) {
    return (date.toJulianDay() - kEpochJulianDay) * kDay + time.hour * kHour +
           time.minute * kMinute;
}

// The first wall-clock minute at or after `from` that the pattern names.
std::optional<qint64> FirstNamedMinute(const CStartPattern& pattern, qint64 from) {
    const std::optional<CTimeOfDay> earliest = FirstTime(pattern, 0, 0);
    if (!earliest)
        return std::nullopt;
    const qint64 days = FloorDiv(from, kDay);
    const qint64 secondOfDay = from - days * kDay;
    const QDate date = QDate::fromJulianDay(kEpochJulianDay + days);
    if (DateMatches(pattern, date)) {
        const auto time =
            FirstTime(pattern, int(secondOfDay / kHour), int(secondOfDay % kHour / kMinute));
        if (time)
            return WallMinute(date, *time);
    }
    const std::optional<QDate> next = FirstDate(pattern, date.addDays(1));
    if (!next)
        return std::nullopt;
    return WallMinute(*next, *earliest);
}

// The latest wall-clock minute evaluated for fixed-time rows by `now`: once the
// clock has gone back, the minute before it did so, until the clock passes it again.
qint64 LatestWallMinuteReached(const CNow& now) {
    const qint64 earlier = now.real - kLongestShift;
    const qint64 earlierOffset = OffsetAt(earlier);
    if (earlierOffset <= now.offset)
        return now.Wall();
    const qint64 shift = ShiftBetween(earlier, now.real);
    return std::max(now.Wall(), shift - kMinute + earlierOffset);
}

// A fixed time of day runs at the first wake-up whose wall clock has reached it and
// never again for that minute: a skipped minute when the clock lands after it, a
// repeated one in its first pass.
std::optional<qint64> NextFixedStart(const CStartPattern& pattern, const CNow& now) {
    const auto wall = FirstNamedMinute(pattern, LatestWallMinuteReached(now) + kMinute);
    if (!wall)
        return std::nullopt;
    const CShowings showings = ShowingsOf(*wall);
    return showings.count > 0 ? showings.real[0] : showings.skipEnd;
}

// The first real minute after `now` that shows a named wall-clock minute from `from`
// on. Walking the named minutes in wall-clock order finds it, since only a repeated
// minute shows out of that order, in its second pass.
std::optional<qint64> FirstShowingAfter(const CStartPattern& pattern, const CNow& now,
                                        qint64 from) {
    for (auto wall = FirstNamedMinute(pattern, from); wall;) {
        const CShowings showings = ShowingsOf(*wall);
        for (int i = 0; i < showings.count; ++i) {
            if (showings.real[i] > now.real)
                return showings.real[i];
        }
        const qint64 next = showings.count > 0 ? *wall + kMinute : WallClockAt(showings.skipEnd);
        wall = FirstNamedMinute(pattern, next);
    }
    return std::nullopt;
}

// While the clock runs through the first pass of an hour it is about to repeat: the
// repeated wall-clock minutes [from, to) and the offset of their second pass.
struct CRepeat {
    qint64 from;
    qint64 to;
    qint64 secondOffset;
};

std::optional<CRepeat> RepeatAhead(const CNow& now) {
    const qint64 later = now.real + kLongestShift;
    const qint64 laterOffset = OffsetAt(later);
    if (laterOffset >= now.offset)
        return std::nullopt;
    const qint64 shift = ShiftBetween(now.real, later);
    const CRepeat repeat{shift + laterOffset, shift + now.offset, laterOffset};
    if (now.Wall() < repeat.from)
        return std::nullopt;
    return repeat;
}

// An "X" in the time of day runs in real time: at each wake-up whose own wall-clock
// minute the pattern names, so never in a skipped minute and in both passes of a
// repeated one. In the first pass, the repeated minutes up to now come again.
std::optional<qint64> NextRealTimeStart(const CStartPattern& pattern, const CNow& now) {
    std::optional<qint64> start = FirstShowingAfter(pattern, now, now.Wall() + kMinute);
    if (const auto repeat = RepeatAhead(now)) {
        const auto again = FirstNamedMinute(pattern, repeat->from);
        if (again && *again < repeat->to) {
            const qint64 secondPass = *again - repeat->secondOffset;
            if (!start || secondPass < *start)
                start = secondPass;
        }
    }
    return start;
}

// One wake-up a minute steps the countdown; the row is due at the one that brings it
// to zero or below.
qint64 NextCyclicStart(qint64 now, int counter) {
    return now + std::max(counter, 1) * kMinute;
}

std::optional<qint64> NextStartMinute(const QString& displayedText, int counter, qint64 now) {
    if (StartTime::Classify(displayedText) == StartTime::Kind::Cyclic) {
        if (!StartTime::HasCyclicLayout(displayedText))
            return std::nullopt;
        return NextCyclicStart(now, counter);
    }
    const std::optional<CStartPattern> pattern = PatternOf(displayedText);
    if (!pattern)
        return std::nullopt;
    const CNow reading{now, OffsetAt(now)};
    return StartTime::FollowsRealTime(displayedText) ? NextRealTimeStart(*pattern, reading)
                                                     : NextFixedStart(*pattern, reading);
}

} // namespace

std::optional<QDateTime> NextStart(const QString& displayedText, int counter,
                                   const QDateTime& now) {
    if (!now.isValid() || displayedText.contains(u'_'))
        return std::nullopt;
    const qint64 nowMinute = FloorDiv(now.toSecsSinceEpoch(), kMinute) * kMinute;
    const std::optional<qint64> start = NextStartMinute(displayedText, counter, nowMinute);
    if (!start)
        return std::nullopt;
    return QDateTime::fromSecsSinceEpoch(*start, Qt::LocalTime);
}
