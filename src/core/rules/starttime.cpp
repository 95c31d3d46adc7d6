#include "rules/starttime.h"

#include "base/textutil.h"

namespace StartTime {

namespace {

constexpr int kDaysInWeek = 7;
constexpr qsizetype kAbsoluteLength = 16;
constexpr qsizetype kDateLength = 10;
constexpr qsizetype kStoredWeekdayLength = 7;
constexpr qsizetype kTimeOfDayLength = 5;
constexpr QChar kWildcard = u'X';

// Fixed names rather than the machine's locale: the user interface is Swedish, and
// only 6- and 7-letter names keep a weekday display text at 13 or 14 characters.
constexpr QStringView kWeekdayNames[kDaysInWeek] = {u"Söndag",  u"Måndag", u"Tisdag", u"Onsdag",
                                                    u"Torsdag", u"Fredag", u"Lördag"};

QChar SeparatorAt(qsizetype position) {
    switch (position) {
    case 4:
    case 7:
        return u'-';
    case 10:
        return u' ';
    case 13:
        return u':';
    default:
        return QChar();
    }
}

bool IsDigitOrWildcard(QChar c) {
    return (c >= u'0' && c <= u'9') || c == kWildcard;
}

// Only the date and time of day are read: converting to local time would move a
// reading the time zone skips, or one given in UTC, to another minute.
QString MinuteText(const QDateTime& minute) {
    return minute.date().toString(u"yyyy-MM-dd") + u' ' + minute.time().toString(u"HH:mm");
}

// Qt counts Monday = 1 ... Sunday = 7; the day names count Sunday = 0.
bool IsWeekdayOf(int weekdayIndex, const QDate& date) {
    return date.isValid() && weekdayIndex == date.dayOfWeek() % kDaysInWeek;
}

// A stored weekday text whose first character names no day would otherwise show as
// a nameless time that no rule recognises.
int StoredWeekdayIndex(const QString& storedText) {
    const QChar first = storedText.at(0);
    return first >= u'0' && first <= u'6' ? first.unicode() - u'0' : -1;
}

} // namespace

// A leftover mask prompt or a hand-edited row must never start a calculation, so
// anything but the exact layout is rejected before it is compared.
bool HasAbsoluteLayout(const QString& text) {
    if (text.size() != kAbsoluteLength)
        return false;
    for (qsizetype i = 0; i < kAbsoluteLength; ++i) {
        const QChar separator = SeparatorAt(i);
        const bool fits =
            separator.isNull() ? IsDigitOrWildcard(text.at(i)) : text.at(i) == separator;
        if (!fits)
            return false;
    }
    return true;
}

QString FillWildcards(const QString& startTime, const QDateTime& minute) {
    const QString minuteText = MinuteText(minute);
    QString candidate = startTime.left(minuteText.size());
    for (qsizetype i = 0; i < candidate.size(); ++i) {
        if (candidate.at(i) == kWildcard)
            candidate[i] = minuteText.at(i);
    }
    return candidate;
}

Kind Classify(const QString& displayedText) {
    switch (displayedText.size()) {
    case 5:
        return Kind::Cyclic;
    case 13:
    case 14:
        return Kind::Weekday;
    default:
        return Kind::Absolute;
    }
}

bool HasCyclicLayout(const QString& text) {
    const auto isDigit = [&text](qsizetype i) { return text.at(i) >= u'0' && text.at(i) <= u'9'; };
    return text.size() == 5 && text.at(2) == u':' && isDigit(0) && isDigit(1) && isDigit(3) &&
           isDigit(4);
}

int IntervalMinutes(const QString& tid) {
    return LeadingNumber(tid.left(2)) * 60 + LeadingNumber(tid.right(2));
}

CountdownStep StepCountdown(const QString& tid, int counter) {
    const qint64 left = qint64(counter) - 1;
    if (left <= 0)
        return {true, IntervalMinutes(tid)};
    return {false, int(left)};
}

int SeededCountdown(const QString& tid, int random) {
    return int(1 + IntervalMinutes(tid) * (random / 32767.0));
}

// Compared as text, not as times: a candidate such as the 30th of February would
// otherwise be normalised into a real minute in March and start the row then.
bool IsAbsoluteDue(const QString& startTime, const QDateTime& minute) {
    const QString now = MinuteText(minute);
    if (!HasAbsoluteLayout(startTime) || !HasAbsoluteLayout(now))
        return false;
    return FillWildcards(startTime, minute) == now;
}

bool IsWeekdayDue(const QString& displayedText, const QDateTime& minute) {
    const WeekdayParts parts = SplitWeekday(displayedText);
    if (!IsWeekdayOf(parts.dayIndex, minute.date()))
        return false;
    const QString candidate = MinuteText(minute).left(kDateLength) + parts.afterDate;
    return IsAbsoluteDue(candidate, minute);
}

// The text after the first blank still begins with the second blank of the display
// form, which stands where the absolute layout has its blank.
WeekdayParts SplitWeekday(const QString& displayedText) {
    const qsizetype blank = displayedText.indexOf(u' ');
    if (blank < 0)
        return {};
    return {WeekdayIndex(displayedText.left(blank)), displayedText.mid(blank + 1)};
}

bool FollowsRealTime(const QString& displayedText) {
    return displayedText.right(kTimeOfDayLength).contains(kWildcard);
}

QString WeekdayName(int index) {
    if (index < 0 || index >= kDaysInWeek)
        return QString();
    return kWeekdayNames[index].toString();
}

int WeekdayIndex(const QString& name) {
    for (int i = 0; i < kDaysInWeek; ++i) {
        if (name == kWeekdayNames[i])
            return i;
    }
    return -1;
}

QString DisplayForm(const QString& storedText) {
    const QString text = TrimmedRight(storedText);
    if (text.size() != kStoredWeekdayLength)
        return text;
    const int index = StoredWeekdayIndex(text);
    if (index < 0)
        return text;
    return WeekdayName(index) + QStringLiteral("  ") + text.mid(2);
}

} // namespace StartTime
