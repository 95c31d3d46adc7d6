#include "schedule/rowinformation.h"

#include "history/runhistory.h"
#include "modeldb/connectiondatabase.h"
#include "monitordb/systemdatabase.h"
#include "rules/starttime.h"
#include "schedule/schedulemodel.h"

#include <QRegularExpression>

namespace {

constexpr int kMinutesPerHour = 60;
constexpr int kMinutesPerDay = 24 * kMinutesPerHour;
constexpr int kDaysPerWeek = 7;

// Converted first so that a time given in another zone counts the local minute.
QDateTime WholeMinute(const QDateTime& now) {
    const QDateTime local = now.toLocalTime();
    return local.addMSecs(-(local.time().second() * 1000 + local.time().msec()));
}

int MinutesBetween(const QDateTime& from, const QDateTime& to) {
    return int(from.secsTo(to) / 60);
}

// A time the clock skips when summer time begins is read as the C library reads
// it, that far past the skip, rather than as no time at all.
QDateTime LocalDateTime(const QDate& date, const QTime& time) {
    const QDateTime exact(date, time);
    if (exact.isValid())
        return exact;
    return QDateTime(date, QTime(0, 0)).addSecs(QTime(0, 0).secsTo(time));
}

// A date-time text is read as today's or, once today's has passed, as
// tomorrow's; a start more than a day back stays negative.
std::optional<int> MinutesUntilDateTime(const QString& startTime, const QDateTime& now) {
    const std::optional<int> minutes = MinutesUntilStart(startTime, now);
    if (minutes && *minutes < 0)
        return *minutes + kMinutesPerDay;
    return minutes;
}

// A cyclic row counts down in scheduler ticks, one a minute.
std::optional<int> MinutesLeft(CSystemDatabase& db, const CScheduleLine& line,
                               const QDateTime& now) {
    switch (StartTime::Classify(line.startTime)) {
    case StartTime::Kind::Cyclic:
        return db.GetCounter(line.key);
    case StartTime::Kind::Weekday:
        return MinutesUntilWeekday(line.startTime, now);
    case StartTime::Kind::Absolute:
        break;
    }
    return MinutesUntilDateTime(line.startTime, now);
}

QString TimeLeft(CSystemDatabase& db, const CScheduleLine& line, const QDateTime& now) {
    if (!db.IsImplemented(line.key))
        return QStringLiteral("Tagen ur drift!");
    const std::optional<int> minutes = MinutesLeft(db, line, now);
    return minutes ? TimeLeftText(*minutes) : QStringLiteral("Ogiltig starttid");
}

QString LastRun(CSystemDatabase& db, int key) {
    const std::optional<CRun> run = db.LatestRun(key);
    return run ? RunHistory::Summary(*run) : QStringLiteral("Ingen körning ännu");
}

QString ConnectedDatabase(const QString& programPath, const QString& modelFile) {
    const CConnectionDatabase connections(programPath);
    if (!connections.FileFound())
        return QStringLiteral("Kopplingsdatabas saknas");
    return connections.LookupConnection(modelFile);
}

} // namespace

CRowInformation ComputeRowInformation(CSystemDatabase& db, const CScheduleLine& line,
                                      const QString& programPath, const QDateTime& now) {
    CRowInformation information;
    information.model = line.model + QStringLiteral(".vxm");
    information.database = ConnectedDatabase(programPath, information.model);
    information.lastCalculation = TimeText(db.GetTime(StoredTime::Calculation, line.key));
    information.measurement = TimeText(db.GetTime(StoredTime::Measurement, line.key));
    information.timeLeft = TimeLeft(db, line, now);
    information.lastRun = LastRun(db, line.key);
    return information;
}

// Strict, unlike a digit-by-digit reading: a leftover mask prompt would otherwise
// read as 0 and show a time for a row the scheduler never starts.
QDateTime ParseStartTime(const QString& text) {
    static const QRegularExpression layout(QRegularExpression::anchoredPattern(
        QStringLiteral("([0-9]{4})-([0-9]{2})-([0-9]{2}) ([0-9]{2}):([0-9]{2})")));
    const QRegularExpressionMatch match = layout.match(text);
    if (!match.hasMatch())
        return {};
    const auto field = [&match](int index) { return match.capturedView(index).toInt(); };
    const QDate date(field(1), field(2), field(3));
    const QTime time(field(4), field(5));
    if (!date.isValid() || !time.isValid())
        return {};
    return LocalDateTime(date, time);
}

std::optional<int> MinutesUntilStart(const QString& startTime, const QDateTime& now) {
    const QDateTime minute = WholeMinute(now);
    const QDateTime target = ParseStartTime(StartTime::FillWildcards(startTime, minute));
    if (!target.isValid())
        return std::nullopt;
    return MinutesBetween(minute, target);
}

std::optional<int> MinutesUntilWeekday(const QString& displayedText, const QDateTime& now) {
    const qsizetype blank = displayedText.indexOf(u' ');
    const int weekday = blank < 0 ? -1 : StartTime::WeekdayIndex(displayedText.left(blank));
    if (weekday < 0)
        return std::nullopt;
    const QDateTime minute = WholeMinute(now);
    // Qt counts Monday = 1 ... Sunday = 7; the day names count Sunday = 0.
    const int today = minute.date().dayOfWeek() % kDaysPerWeek;
    const QDate day = minute.date().addDays((weekday - today + kDaysPerWeek) % kDaysPerWeek);
    // The text after the first blank begins with the display form's second blank,
    // which stands where the date and the time meet.
    const QDateTime target =
        ParseStartTime(day.toString(QStringLiteral("yyyy-MM-dd")) + displayedText.mid(blank + 1));
    if (!target.isValid())
        return std::nullopt;
    return MinutesBetween(minute, target < minute ? target.addDays(kDaysPerWeek) : target);
}

// Below an hour 0 and 1 take the singular; in the hours form only 1 does.
QString TimeLeftText(int minutes) {
    const auto minuteWord = [](bool singular) {
        return singular ? QStringLiteral("minut") : QStringLiteral("minuter");
    };
    if (minutes < kMinutesPerHour)
        return QStringLiteral("< %1 %2").arg(QString::number(minutes), minuteWord(minutes < 2));
    const int hours = minutes / kMinutesPerHour;
    const int rest = minutes - hours * kMinutesPerHour;
    return QStringLiteral("< %1 %2 och %3 %4")
        .arg(QString::number(hours), hours < 2 ? QStringLiteral("timme") : QStringLiteral("timmar"),
             QString::number(rest), minuteWord(rest == 1));
}
