#include "schedule/rowinformation.h"

#include "history/runhistory.h"
#include "modeldb/connectiondatabase.h"
#include "monitordb/systemdatabase.h"
#include "rules/nextstart.h"
#include "rules/starttime.h"
#include "schedule/schedulemodel.h"

namespace {

constexpr qint64 kSecondsPerMinute = 60;
constexpr qint64 kMinutesPerHour = 60;
constexpr qint64 kMinutesPerDay = 24 * kMinutesPerHour;
const QString kEveryMinute = QStringLiteral("XXXX-XX-XX XX:XX");

// A cyclic interval of at most a minute is due at every wake-up, and so is an absolute
// time that is all wildcards: a countdown to the next minute would only puzzle.
bool StartsEveryMinute(const QString& startTime) {
    if (StartTime::Classify(startTime) == StartTime::Kind::Cyclic)
        return StartTime::HasCyclicLayout(startTime) && StartTime::IntervalMinutes(startTime) <= 1;
    return startTime == kEveryMinute;
}

QString Counted(qint64 count, const QString& singular, const QString& plural) {
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? singular : plural);
}

// The two largest units, the smaller left out when it is 0: "6 dygn 23 timmar", "1 timme",
// "2 timmar 5 minuter", "1 minut". The start lies on a whole minute, so rounding the
// seconds up counts from the current minute.
QString DurationText(qint64 seconds) {
    const qint64 minutes = (seconds + kSecondsPerMinute - 1) / kSecondsPerMinute;
    const qint64 days = minutes / kMinutesPerDay;
    const qint64 hours = minutes % kMinutesPerDay / kMinutesPerHour;
    const qint64 rest = minutes % kMinutesPerHour;
    const auto inHours = [](qint64 count) {
        return Counted(count, QStringLiteral("timme"), QStringLiteral("timmar"));
    };
    const auto inMinutes = [](qint64 count) {
        return Counted(count, QStringLiteral("minut"), QStringLiteral("minuter"));
    };
    const auto pair = [](const QString& large, qint64 small, const QString& smallText) {
        return small > 0 ? large + u' ' + smallText : large;
    };
    if (days > 0)
        return pair(QStringLiteral("%1 dygn").arg(days), hours, inHours(hours));
    if (hours > 0)
        return pair(inHours(hours), rest, inMinutes(rest));
    return inMinutes(rest);
}

// "Nästa start: måndag 2026-12-14 12:00 (om 6 dygn 23 timmar)".
QString NextStartText(const QDateTime& start, const QDateTime& now) {
    const QString day = StartTime::WeekdayName(start.date().dayOfWeek() % 7).toLower();
    return QStringLiteral("Nästa start: %1 %2 (om %3)")
        .arg(day, start.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
             DurationText(now.secsTo(start)));
}

// A text that would have started at some time since 1970 names a time; one that never
// would names none.
QString NoNextStartText(const QString& startTime) {
    const QDateTime longAgo(QDate(1970, 1, 2), QTime(0, 0));
    if (NextStart(startTime, 0, longAgo))
        return QStringLiteral("Starttiden har passerat");
    return QStringLiteral("Ogiltig starttid");
}

// A cyclic row counts down in scheduler wake-ups, one a minute.
QString TimeLeft(CSystemDatabase& db, const CScheduleLine& line, const QDateTime& now) {
    if (!db.IsImplemented(line.key))
        return QStringLiteral("Tagen ur drift!");
    if (StartsEveryMinute(line.startTime))
        return QStringLiteral("Startar varje minut");
    const bool cyclic = StartTime::Classify(line.startTime) == StartTime::Kind::Cyclic;
    const std::optional<QDateTime> start =
        NextStart(line.startTime, cyclic ? db.GetCounter(line.key) : 0, now);
    return start ? NextStartText(*start, now) : NoNextStartText(line.startTime);
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
