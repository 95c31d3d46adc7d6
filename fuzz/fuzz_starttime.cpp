// Random start-time texts and minutes through the start-time rules. Nothing may
// crash, and a text is due exactly when it has the layout of its form and each of
// its characters that is not "X" is the minute's own: a text without a valid
// layout is never due.
#include "fuzzinput.h"
#include "rules/starttime.h"

#include <QDateTime>
#include <algorithm>

namespace {

constexpr QStringView kAlphabet = u"0123456789XX-: \t";
constexpr qsizetype kLongestText = 24;
// "D" stands for a digit or "X", every other character for itself.
constexpr QStringView kAbsoluteLayout = u"DDDD-DD-DD DD:DD";
constexpr QStringView kTimeLayout = u"DD:DD";

bool HasLayout(QStringView text, QStringView layout) {
    if (text.size() != layout.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool fits =
            layout.at(i) == u'D' ? (c >= u'0' && c <= u'9') || c == u'X' : c == layout.at(i);
        if (!fits)
            return false;
    }
    return true;
}

bool Matches(QStringView pattern, QStringView reading) {
    if (pattern.size() != reading.size())
        return false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern.at(i) != u'X' && pattern.at(i) != reading.at(i))
            return false;
    }
    return true;
}

// The wall-clock reading the rules compare with.
QString Reading(const QDateTime& minute) {
    return minute.date().toString(u"yyyy-MM-dd") + u' ' + minute.time().toString(u"HH:mm");
}

// Around the four-digit years, with months, days and times just outside the valid ones.
QDateTime NextMinute(FuzzedDataProvider& input) {
    const int year = input.ConsumeIntegralInRange(-2, 10001);
    const int month = input.ConsumeIntegralInRange(0, 13);
    const QDate date(year, month, input.ConsumeIntegralInRange(0, 32));
    const int hour = input.ConsumeIntegralInRange(0, 24);
    return QDateTime(date, QTime(hour, input.ConsumeIntegralInRange(0, 60)));
}

QString Mutated(FuzzedDataProvider& input, QString text) {
    for (QChar& c : text) {
        if (input.ConsumeBool())
            c = NextCharacter(input, kAlphabet);
    }
    return text;
}

// Near misses of every form come far more often than random texts would bring them.
QString NextStartTime(FuzzedDataProvider& input, const QDateTime& minute) {
    const QString time = Reading(minute).right(kTimeLayout.size());
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return NextText(input, kAlphabet, kLongestText);
    case 1:
        return Mutated(input, Reading(minute));
    case 2:
        return StartTime::WeekdayName(input.ConsumeIntegralInRange(-1, 7)) + QStringLiteral("  ") +
               Mutated(input, time);
    default:
        return QString::number(input.ConsumeIntegralInRange(0, 9)) + u'-' + Mutated(input, time) +
               NextText(input, kAlphabet, 2);
    }
}

void CheckAbsolute(const QString& text, const QDateTime& minute) {
    const QString reading = Reading(minute);
    Require(StartTime::IsAbsoluteDue(text, minute) ==
                (HasLayout(text, kAbsoluteLayout) && HasLayout(reading, kAbsoluteLayout) &&
                 Matches(text, reading)),
            "a date and time is due exactly when it has its layout and matches the minute");
    const QString filled = StartTime::FillWildcards(text, minute);
    Require(filled.size() == std::min(text.size(), reading.size()),
            "filling keeps the text as long as the minute's reading allows");
    for (qsizetype i = 0; i < filled.size(); ++i)
        Require(filled.at(i) == (text.at(i) == u'X' ? reading.at(i) : text.at(i)),
                "filling replaces each X by the minute's character and nothing else");
}

bool IsWeekdayDueExpected(const QString& text, const QDateTime& minute) {
    const QDate date = minute.date();
    if (!date.isValid())
        return false;
    const QString prefix = StartTime::WeekdayName(date.dayOfWeek() % 7) + QStringLiteral("  ");
    if (!text.startsWith(prefix))
        return false;
    const QString time = text.mid(prefix.size());
    const QString reading = Reading(minute);
    return HasLayout(time, kTimeLayout) && HasLayout(reading, kAbsoluteLayout) &&
           Matches(time, reading.right(kTimeLayout.size()));
}

void CheckWeekday(const QString& text, const QDateTime& minute) {
    Require(StartTime::IsWeekdayDue(text, minute) == IsWeekdayDueExpected(text, minute),
            "a weekday text is due exactly on its day, in its layout, matching the minute");
}

void CheckNames(const QString& text, int index) {
    const int found = StartTime::WeekdayIndex(text);
    Require(found >= -1 && found <= 6 && (found < 0 || StartTime::WeekdayName(found) == text),
            "a weekday index belongs to the name it was found for");
    const QString name = StartTime::WeekdayName(index);
    Require(name.isEmpty() == (index < 0 || index > 6), "only the seven days have a name");
    Require(name.isEmpty() || StartTime::WeekdayIndex(name) == index, "a name gives back its day");
}

void CheckDisplayForm(const QString& stored) {
    const QString shown = StartTime::DisplayForm(stored);
    Require(stored.startsWith(shown) || StartTime::Classify(shown) == StartTime::Kind::Weekday,
            "a display form is the stored text or a weekday text");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const QDateTime minute = NextMinute(input);
    const int index = input.ConsumeIntegralInRange(-3, 9);
    const QString text = NextStartTime(input, minute);
    StartTime::Classify(text);
    CheckAbsolute(text, minute);
    CheckWeekday(text, minute);
    CheckNames(text, index);
    CheckDisplayForm(text);
    return 0;
}
