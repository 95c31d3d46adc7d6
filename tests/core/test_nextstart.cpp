#include "rules/minutetracker.h"
#include "rules/nextstart.h"
#include "rules/starttime.h"
#include "support/testsupport.h"

#include <QDateTime>
#include <algorithm>
#include <climits>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

constexpr qint64 kMinute = 60;
constexpr qint64 kDay = 86400;
constexpr int kLayoutLength = 16;

// A row written down here, not asked of the code: the minute's layout ("X" any), its weekday
// (-1 for none) and whether it takes the tracker's minutes for wildcard rows.
struct CRule {
    QString text;
    QString layout;
    int weekday;
    bool realTime;
};

CRule Absolute(const char* text) {
    const QString layout = QString::fromUtf8(text);
    return {layout, layout, -1, layout.right(5).contains(u'X')};
}

CRule Weekday(int day, const char* time) {
    const QString hhmm = QString::fromUtf8(time);
    return {StartTime::WeekdayName(day) + QStringLiteral("  ") + hhmm,
            QStringLiteral("XXXX-XX-XX ") + hhmm, day, hhmm.contains(u'X')};
}

QString Shown(const std::optional<QDateTime>& start) {
    return start ? start->toString(QStringLiteral("yyyy-MM-dd HH:mm t")) : QStringLiteral("aldrig");
}

QString Shown(qint64 real) {
    return Shown(QDateTime::fromSecsSinceEpoch(real));
}

// "yyyy-MM-dd HH:mm:ss" in UTC.
qint64 RealTime(const char* utc) {
    const QDateTime time = QDateTime::fromString(QString::fromUtf8(utc) + u'Z', Qt::ISODate);
    EXPECT_TRUE(time.isValid()) << utc;
    return time.toSecsSinceEpoch();
}

// The wall-clock minutes a real CMinuteTracker hands out at every real minute of a span.
class CWakeUps {
public:
    CWakeUps(qint64 first, qint64 last) : m_first(first), m_firstWall(first - kDay) {
        CMinuteTracker tracker;
        for (qint64 real = first; real <= last; real += kMinute)
            m_minutes.push_back(
                tracker.Advance(QDateTime::fromSecsSinceEpoch(real, Qt::UTC).toLocalTime()));
        // Every wall-clock minute's text (within a day of the real one), so rules see only matches.
        for (qint64 wall = m_firstWall; wall <= last + kDay; wall += kMinute)
            m_texts += QDateTime::fromSecsSinceEpoch(wall, Qt::UTC)
                           .toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                           .toLatin1();
    }

    qint64 Last() const { return RealMinute(int(m_minutes.size()) - 1); }
    int IndexOf(qint64 real) const { return int((real - real % kMinute - m_first) / kMinute); }
    qint64 RealMinute(int index) const { return m_first + index * kMinute; }

    // The first wake-up after `after` at which the rule is due, or -1.
    int FirstDue(const CRule& rule, int after) const {
        for (int i = after + 1; i < int(m_minutes.size()); ++i) {
            const CMinuteTracker::Minutes& due = m_minutes[i];
            for (const QDateTime& minute : rule.realTime ? due.forWildcardRows : due.forFixedRows) {
                if (Shows(rule, minute.toSecsSinceEpoch()) && RuleSaysDue(rule, minute))
                    return i;
            }
        }
        return -1;
    }

private:
    bool Shows(const CRule& rule, qint64 wall) const {
        if (rule.weekday >= 0 && (wall / kDay + 4) % 7 != rule.weekday) // 1970-01-01: Thursday
            return false;
        const char* text = m_texts.constData() + (wall - m_firstWall) / kMinute * kLayoutLength;
        for (int i = 0; i < kLayoutLength; ++i) {
            if (rule.layout[i] != u'X' && rule.layout[i] != QLatin1Char(text[i]))
                return false;
        }
        return true;
    }

    static bool RuleSaysDue(const CRule& rule, const QDateTime& minute) {
        const bool due = rule.weekday >= 0 ? StartTime::IsWeekdayDue(rule.text, minute)
                                           : StartTime::IsAbsoluteDue(rule.text, minute);
        EXPECT_TRUE(due) << rule.text.toStdString() << " shows at "
                         << minute.toString(Qt::ISODate).toStdString();
        return due;
    }

    qint64 m_first;
    qint64 m_firstWall;
    std::vector<CMinuteTracker::Minutes> m_minutes;
    QByteArray m_texts;
};

std::vector<CRule> Rules() {
    std::vector<CRule> rules;
    for (const char* text :
         {"XXXX-XX-XX XX:XX", "XXXX-XX-XX 02:30", "XXXX-XX-XX 02:00", "XXXX-XX-XX 02:59",
          "XXXX-XX-XX 03:00", "XXXX-XX-XX 01:59", "XXXX-XX-XX 00:00", "XXXX-XX-XX XX:30",
          "XXXX-XX-XX 02:X5", "XXXX-XX-XX 0X:15", "XXXX-XX-XX X2:45", "XXXX-XX-XX 2X:X0",
          "XXXX-XX-XX 23:5X", "XXXX-XX-X1 X3:X7", "XXXX-XX-31 23:59", "XXXX-03-XX 02:XX",
          "XXXX-10-XX 02:XX", "XXXX-03-XX 02:15", "2027-03-28 02:30", "2027-03-28 02:XX",
          "2027-03-28 XX:XX", "2027-10-31 02:30", "2027-10-31 02:X0", "2027-10-31 XX:XX",
          "2027-06-15 12:00", "X027-06-15 12:00", "2X27-09-0X 08:00", "20X7-11-1X 06:06",
          "202X-X1-01 00:00", "XXX8-XX-XX 12:00", "XXXX-0X-3X 12:00", "XXXX-X2-29 12:00",
          "XXXX-02-29 12:00", "XXXX-01-01 00:00", "2027-12-31 XX:XX", "XXXX-02-30 12:00",
          "XXXX-04-31 XX:XX", "2027-02-29 12:00", "XXXX-13-XX 12:00", "XXXX-XX-00 12:00",
          "XXXX-XX-XX 24:00", "XXXX-XX-XX XX:60", "2026-12-31 23:59", "3000-01-01 00:00"})
        rules.push_back(Absolute(text));
    for (const CRule& rule :
         {Weekday(0, "02:30"), Weekday(0, "02:X0"), Weekday(0, "XX:XX"), Weekday(0, "03:00"),
          Weekday(1, "07:30"), Weekday(2, "00:00"), Weekday(3, "18:00"), Weekday(4, "23:59"),
          Weekday(4, "XX:00"), Weekday(5, "X2:X5"), Weekday(6, "12:0X"), Weekday(6, "23:XX")})
        rules.push_back(rule);
    return rules;
}

// Real moments with seconds: through both switch nights, a whole week, the year's turns, at random.
std::vector<qint64> Moments() {
    std::vector<qint64> moments;
    const auto everyFewMinutes = [&](const char* from, const char* to) {
        for (qint64 real = RealTime(from); real <= RealTime(to); real += 7 * kMinute + 13)
            moments.push_back(real);
    };
    everyFewMinutes("2027-03-27 22:00:00", "2027-03-28 03:00:00");
    everyFewMinutes("2027-10-30 21:00:00", "2027-10-31 04:00:00");
    for (const char* utc : {"2027-03-28 00:58:00", "2027-03-28 00:59:59", "2027-03-28 01:00:00",
                            "2027-03-28 01:01:00", "2027-10-30 23:59:00", "2027-10-31 00:00:00",
                            "2027-10-31 00:29:00", "2027-10-31 00:30:00", "2027-10-31 00:59:59",
                            "2027-10-31 01:00:00", "2027-10-31 01:29:00", "2027-10-31 01:30:00",
                            "2027-10-31 01:59:00", "2027-10-31 02:00:00", "2026-12-31 23:00:00",
                            "2027-12-31 22:59:00", "2027-12-31 23:00:00", "2028-02-28 22:59:00",
                            "2028-02-29 11:00:00"})
        moments.push_back(RealTime(utc));
    // Midnight, 07:29:30, 07:30, noon, 18:00 and 23:59 from one Sunday to the next.
    const qint64 sundayMidnight = RealTime("2027-06-05 22:00:00");
    for (int day = 0; day < 8; ++day) {
        for (const qint64 time : {0, 26970, 27000, 43200, 64800, 86340})
            moments.push_back(sundayMidnight + day * kDay + time);
    }
    std::mt19937 random(2027);
    std::uniform_int_distribution<qint64> spread(RealTime("2027-01-01 00:00:00"),
                                                 RealTime("2028-02-28 00:00:00"));
    for (int i = 0; i < 60; ++i)
        moments.push_back(spread(random));
    std::sort(moments.begin(), moments.end());
    return moments;
}

} // namespace

// The computed start against the first found by waking a tracker every minute (or none/later).
TEST(NextStart, AgreesWithEveryMinuteOfTheSchedulersYear) {
    const CWakeUps wakeUps(RealTime("2026-12-31 00:00:00"), RealTime("2028-03-05 00:00:00"));
    const std::vector<qint64> moments = Moments();
    for (const CRule& rule : Rules()) {
        // Moments come in order: a start found holds until passed, and none stays none.
        std::optional<int> due;
        for (size_t i = 0; i < moments.size(); ++i) {
            const int index = wakeUps.IndexOf(moments[i]);
            if (!due || (*due >= 0 && *due <= index))
                due = wakeUps.FirstDue(rule, index);
            // Alternately a local reading, as the clock gives, and the same moment in UTC.
            const QDateTime now =
                QDateTime::fromSecsSinceEpoch(moments[i], i % 2 ? Qt::UTC : Qt::LocalTime);
            const std::optional<QDateTime> start = NextStart(rule.text, 0, now);
            const std::string context =
                rule.text.toStdString() + " after " + Shown(moments[i]).toStdString();
            if (*due >= 0) {
                ASSERT_EQ(Shown(start), Shown(wakeUps.RealMinute(*due))) << context;
            } else {
                EXPECT_TRUE(!start || start->toSecsSinceEpoch() > wakeUps.Last())
                    << context << ": " << Shown(start).toStdString();
            }
        }
    }
}

// Countdowns in real minutes across clock switches, far leap years, and texts that never start.
TEST(NextStart, CountdownsAndTextsThatNeverStart) {
    const struct {
        const char* text;
        int counter;
        const char* nowUtc;
        const char* expected;
    } cases[] = {{"00:05", -3, "2027-06-09 08:15:30", "2027-06-09 10:16 CEST"},
                 {"00:05", 0, "2027-06-09 08:15:30", "2027-06-09 10:16 CEST"},
                 {"01:30", 1, "2027-06-09 08:15:30", "2027-06-09 10:16 CEST"},
                 {"01:30", 2, "2027-06-09 08:15:30", "2027-06-09 10:17 CEST"},
                 {"99:59", 7, "2027-06-09 08:15:30", "2027-06-09 10:22 CEST"},
                 {"00:00", 1440, "2027-06-09 08:15:30", "2027-06-10 10:15 CEST"},
                 {"00:05", INT_MAX, "2027-06-09 08:15:30", "6110-07-02 12:22 CEST"},
                 {"00:10", 3, "2027-03-28 00:58:00", "2027-03-28 03:01 CEST"},
                 {"01:00", 60, "2027-10-31 00:30:00", "2027-10-31 02:30 CET"},
                 {"0_:05", 3, "2027-06-09 08:15:30", "aldrig"},
                 {"2027-06-09 10:16", 0, "2027-06-09 08:15:30", "2027-06-09 10:16 CEST"},
                 {"Onsdag  10:15", 0, "2027-06-09 08:15:30", "2027-06-16 10:15 CEST"},
                 {"XX8X-01-01 00:00", 0, "2027-06-09 08:15:30", "2080-01-01 00:00 CET"},
                 {"X9X9-12-31 23:59", 0, "2027-06-09 08:15:30", "2909-12-31 23:59 CET"},
                 {"2X96-02-29 12:00", 0, "2027-06-09 08:15:30", "2096-02-29 12:00 CET"},
                 {"2X00-02-29 12:00", 0, "2027-06-09 08:15:30", "2400-02-29 12:00 CET"}};
    for (const auto& c : cases) {
        const QDateTime now = QDateTime::fromSecsSinceEpoch(RealTime(c.nowUtc));
        EXPECT_EQ(Shown(NextStart(QString::fromUtf8(c.text), c.counter, now)),
                  QString::fromUtf8(c.expected))
            << c.text << " counter " << c.counter << " after " << c.nowUtc << " UTC";
    }
    const QDateTime now = QDateTime::fromSecsSinceEpoch(RealTime("2027-06-09 08:15:30"));
    for (const char* text :
         {"2027-06-09 10:15", "XXX1-02-29 12:00", "2026-05-04 06:30", "2027-02-30 12:00",
          "XXXX-02-30 12:00", "XXXX-XX-XX 24:00", "XXXX-XX-XX XX:X_", "____-__-__ __:__",
          "Onsdag  1_:00", "Onsdog  18:00", "Onsdag  18:00 ", "Onsdag 18:00", "3-18:00", ""})
        EXPECT_FALSE(NextStart(QString::fromUtf8(text), 0, now)) << text;
    EXPECT_FALSE(NextStart(QStringLiteral("XXXX-XX-XX XX:XX"), 0, QDateTime()));
}
