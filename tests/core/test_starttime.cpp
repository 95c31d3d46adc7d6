#include "rules/starttime.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

using namespace StartTime;

namespace {

bool DueAt(const char* startTime, const char* minute) {
    return IsAbsoluteDue(QString::fromUtf8(startTime), LocalTime(QString::fromUtf8(minute)));
}

bool WeekdayDueAt(const char* displayed, const char* minute) {
    return IsWeekdayDue(QString::fromUtf8(displayed), LocalTime(QString::fromUtf8(minute)));
}

} // namespace

// "X" takes the minute's character, all else must match; a malformed text is never due.
TEST(AbsoluteRule, DueOnlyInTheMinutesItNames) {
    EXPECT_TRUE(DueAt("XXXX-XX-XX XX:XX", "2026-12-31 23:59"));
    EXPECT_TRUE(DueAt("XXXX-XX-XX 12:00", "2026-07-15 12:00"));
    EXPECT_FALSE(DueAt("XXXX-XX-XX 12:00", "2026-07-15 12:01"));
    EXPECT_TRUE(DueAt("XXXX-XX-XX XX:30", "2026-07-15 03:30"));
    EXPECT_TRUE(DueAt("2026-05-04 06:30", "2026-05-04 06:30"));
    EXPECT_FALSE(DueAt("2026-05-04 06:30", "2027-05-04 06:30"));
    EXPECT_FALSE(DueAt("2026-02-30 12:00", "2026-03-02 12:00"));
    for (const char* text :
         {"XXXX-XX-XX XX:X_", "XXXX/XX/XX XX:XX", "xxxx-xx-xx xx:xx", "XXXX-XX-XX XX:X",
          "XXXX-XX-XX XX:XXX", "2026-07-15 24:00", "XXXX-XX-XX 24:00"})
        EXPECT_FALSE(DueAt(text, "2026-07-16 00:00")) << text;
}

TEST(AbsoluteRule, ReadsDateAndTimeAsGivenWithoutConversion) {
    const QDateTime skippedByTimeZone(QDate(2026, 3, 29), QTime(2, 30));
    EXPECT_TRUE(IsAbsoluteDue(QStringLiteral("XXXX-XX-XX 02:30"), skippedByTimeZone));
    const QDateTime utc(QDate(2026, 7, 15), QTime(12, 0), Qt::UTC);
    EXPECT_TRUE(IsAbsoluteDue(QStringLiteral("XXXX-XX-XX 12:00"), utc));
    EXPECT_FALSE(IsAbsoluteDue(QStringLiteral("XXXX-XX-XX XX:XX"), QDateTime()));
}

// The kind by the length in characters; real time only for an "X" in the time of day.
TEST(Classify, KindByLengthAndRealTimeByTheTimeOfDay) {
    EXPECT_EQ(Classify(QStringLiteral("00:05")), Kind::Cyclic);
    EXPECT_EQ(Classify(QStringLiteral("Måndag  07:30")), Kind::Weekday);
    EXPECT_EQ(Classify(QStringLiteral("Torsdag  07:30")), Kind::Weekday);
    EXPECT_EQ(Classify(QStringLiteral("1-07:30")), Kind::Absolute);
    for (const char* text : {"XXXX-XX-XX XX:30", "2026-07-15 1X:00", "XXXX-XX-XX 12:0X",
                             "Onsdag  X8:00", "Torsdag  18:X0"})
        EXPECT_TRUE(FollowsRealTime(QString::fromUtf8(text))) << text;
    for (const char* text : {"XXXX-XX-XX 12:00", "XXXX-XX-XX 02:30", "Onsdag  18:00", "00:05"})
        EXPECT_FALSE(FollowsRealTime(QString::fromUtf8(text))) << text;
}

TEST(WeekdayRule, DueOnItsDayAtItsTimeOnly) {
    EXPECT_TRUE(WeekdayDueAt("Måndag  07:30", "2026-12-07 07:30"));
    EXPECT_FALSE(WeekdayDueAt("Måndag  07:30", "2026-12-08 07:30"));
    EXPECT_TRUE(WeekdayDueAt("Söndag  XX:00", "2026-12-06 15:00"));
    for (const char* text : {"måndag  07:30", "Monday  07:30", "Måndag 07:30", "Måndag07:30xx"})
        EXPECT_FALSE(WeekdayDueAt(text, "2026-12-07 07:30")) << text;
}

// Sunday is day 0; only the seven exact names count; only a stored "d-HH:MM" is converted.
TEST(WeekdayNames, RoundTripAndOnlyAStoredWeekdayTakesTheDisplayForm) {
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(WeekdayIndex(WeekdayName(i)), i);
    EXPECT_EQ(WeekdayName(0), QStringLiteral("Söndag"));
    EXPECT_TRUE(WeekdayName(7).isEmpty());
    EXPECT_EQ(WeekdayIndex(QStringLiteral("söndag")), -1);
    EXPECT_EQ(DisplayForm(QStringLiteral("3-18:00")), QStringLiteral("Onsdag  18:00"));
    EXPECT_EQ(DisplayForm(QStringLiteral("1-07:30   ")), QStringLiteral("Måndag  07:30"));
    EXPECT_EQ(DisplayForm(QStringLiteral("7-07:30")), QStringLiteral("7-07:30"));
    EXPECT_EQ(DisplayForm(QStringLiteral("Måndag  07:30 ")), QStringLiteral("Måndag  07:30"));
}
