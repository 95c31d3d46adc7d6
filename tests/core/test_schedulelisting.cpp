// The schedule listing of the service: the table at a fixed moment, and what it reads from a
// real file beside a real calculation.
#include "files/programpaths.h"
#include "monitordb/systemdatabase.h"
#include "schedule/calculationprocesses.h"
#include "schedule/schedulelisting.h"
#include "support/filequery.h"
#include "support/testsupport.h"

#include <QProcess>
#include <QSysInfo>
#include <QTest>
#include <gtest/gtest.h>
#include <utility>

namespace {

qint64 Seconds(const char* localTime) {
    return LocalTime(QString::fromUtf8(localTime)).toSecsSinceEpoch();
}

// A Monday at 10:00:20. Every kind of start time, each weekday, rows that tie, never start or
// are inactive, a running and a stale calculation, and stored texts a terminal must not take
// as they are: a letter with a combining ring, and an escape sequence.
TEST(ScheduleListing, ListsEveryRowInStartOrderWithItsStateAligned) {
    CListingInput input;
    input.rows = {
        {4, "00:01", "/m/Pump", "Timme", false, 1},
        {2, "00:01", QString::fromUtf8("/m/Kvarn A\u030a"), "Timme", true, 1},
        {5, "2025-01-01 08:00", "/m/Pump", "Timme", true, 0},
        {3, "XXXX-XX-XX XX:XX", "/m/Mälaröarna", "Dygn\x1b[2J", true, 0},
        {7, "2026-12-07 12:05", "/m/Pump", "Timme", true, 0},
        {11, "XXXX-02-30 10:00", "/m/Pump", "Timme", true, 0},
        {14, "00:05", "/m/Pump", "Timme", true, 3},
        {20, "Söndag  06:15", "/m/Pump", "Timme", true, 0},
        {21, "Måndag  10:00", "/m/Pump", "Timme", true, 0},
        {22, "Tisdag  10:00", "/m/Pump", "Timme", true, 0},
        {23, "Onsdag  07:30", "/m/Pump", "Timme", true, 0},
        {24, "Torsdag  18:45", "/m/Pump", "Timme", true, 0},
        {25, "Fredag  XX:30", "/m/Pump", "Timme", true, 0},
        {26, "Lördag  23:59", "/m/Pump", "Timme", true, 0},
        {30, "00:10", "/m/Pump", "Timme", true, 7},
        {31, "2026-12-24 XX:00", "/m/Pump", "Timme", true, 0},
    };
    input.states = {{30, {true, false, Seconds("2026-12-07 09:12:05"), 0}},
                    {31, {true, true, Seconds("2026-12-01 22:00:00"), 0}}};
    const auto run = [](int key, const char* launched, std::optional<qint64> seconds,
                        CRun::Outcome outcome, const char* reason = "") {
        const qint64 start = Seconds(launched);
        const std::optional<qint64> end = seconds ? std::optional(start + *seconds) : std::nullopt;
        return std::pair(key,
                         CRun{key, {}, {}, start, {}, end, outcome, QString::fromUtf8(reason)});
    };
    input.lastRuns = {
        run(30, "2026-12-07 10:00:05", std::nullopt, CRun::Outcome::Running),
        run(3, "2026-12-07 09:59:00", 125, CRun::Outcome::Finished),
        run(14, "2026-12-07 09:55:00", 0, CRun::Outcome::NotStarted, "programmet /x finns inte"),
        run(31, "2026-12-01 21:00:00", 3600, CRun::Outcome::Aborted)};
    // The columns of a row that never ran and shows no flag, with /m/Pump and Timme.
    const QString idle = "Uppgift saknas       -             -                                  "
                         "           /m/Pump        Timme";
    const QStringList expected = {
        "NYCKEL  STARTTID          NÄSTA START       KVAR       SENASTE BERÄKNING    LÄGE        "
        "  SENASTE KÖRNING                               MODELL         MAKRO",
        "     2  00:01             2026-12-07 10:01  1 min      Uppgift saknas       -           "
        "  -                                             /m/Kvarn A\u030a     Timme",
        "     3  XXXX-XX-XX XX:XX  2026-12-07 10:01  1 min      Uppgift saknas       -           "
        "  klar efter 2 min 5 s                          /m/Mälaröarna  Dygn?[2J",
        "    14  00:05             2026-12-07 10:03  3 min      Uppgift saknas       -           "
        "  kunde inte startas: programmet /x finns inte  /m/Pump        Timme",
        "    30  00:10             2026-12-07 10:07  7 min      2026-12-07 09:12:05  körs        "
        "  pågår sedan 2026-12-07 10:00:05               /m/Pump        Timme",
        "     7  2026-12-07 12:05  2026-12-07 12:05  2 h 5 min  " + idle,
        "    22  Tisdag  10:00     2026-12-08 10:00  1 d        " + idle,
        "    23  Onsdag  07:30     2026-12-09 07:30  1 d 21 h   " + idle,
        "    24  Torsdag  18:45    2026-12-10 18:45  3 d 8 h    " + idle,
        "    25  Fredag  XX:30     2026-12-11 00:30  3 d 14 h   " + idle,
        "    26  Lördag  23:59     2026-12-12 23:59  5 d 13 h   " + idle,
        "    20  Söndag  06:15     2026-12-13 06:15  5 d 20 h   " + idle,
        "    21  Måndag  10:00     2026-12-14 10:00  7 d        " + idle,
        "    31  2026-12-24 XX:00  2026-12-24 00:00  16 d 14 h  2026-12-01 22:00:00  flaggan kvar"
        "  avbruten efter 1 h 0 min                      /m/Pump        Timme",
        "     4  00:01             inaktiv                      " + idle,
        "     5  2025-01-01 08:00  aldrig                       " + idle,
        "    11  XXXX-02-30 10:00  aldrig                       " + idle,
    };
    const QStringList lines = CScheduleListing(input, LocalTime("2026-12-07 10:00:20")).Lines();
    ASSERT_EQ(lines.size(), expected.size()) << lines.join('\n').toStdString();
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_EQ(lines[i], expected[i]) << "line " << i;
}

TEST(ScheduleListing, GivesTheTimeLeftInItsTwoLargestUnitsRoundedUpToMinutes) {
    const std::pair<qint64, const char*> cases[] = {{1, "1 min"},
                                                    {60, "1 min"},
                                                    {61, "2 min"},
                                                    {59 * 60, "59 min"},
                                                    {3600, "1 h"},
                                                    {2 * 3600 + 4 * 60 + 1, "2 h 5 min"},
                                                    {86399, "1 d"},
                                                    {4 * 86400 + 3 * 3600 + 59 * 60, "4 d 3 h"},
                                                    {400 * 86400 + 1, "400 d"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(CScheduleListing::TimeLeft(seconds), QString::fromUtf8(text)) << seconds;
}

// A calculation of the simulator holds its row's flag; a flag nobody holds is stale. Reading
// adds nothing to the file: the row that never had a flag still has none.
TEST(ScheduleListing, ReadsFlagsAndTimesWithoutWritingAndTellsAStaleFlag) {
    const QString countNumbers = "SELECT COUNT(*) FROM SEKVENS";
    CTestFolder folder;
    const CProgramPaths paths(folder.ProgramFile());
    CSystemDatabase db(paths.MonitorDatabase());
    ASSERT_NO_THROW(db.OpenOrCreate());
    const QString model = folder.File("Pump Norr");
    const int running = db.SaveRow("XXXX-XX-XX 06:00", model, "Dygn", -1, 1);
    const int stale = db.SaveRow("00:05", folder.File("Kvarn"), "Timme", -1, 0);
    const int unflagged = db.SaveRow("3-18:00", folder.File("Såg"), "Vecka", -1, 1);
    db.SetSetting(QString("RUNFLAGG%1").arg(stale), 1);
    db.SetSetting(QString("CALC_TIME%1").arg(stale), 1765098000);

    QProcess calculation;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KVARNIXSIM_SECONDS", "60");
    calculation.setProcessEnvironment(environment);
    calculation.start(KVARNIX_SIMULATOR, {model + ".vxm", "Dygn", QString::number(running), "0",
                                          paths.MonitorDatabase(), "1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return db.IsRunFlagSet(running); }, 10000));
    db.Close();
    const QString numbersBefore = QueryFile(paths.MonitorDatabase(), countNumbers);

    ASSERT_NO_THROW(db.Open());
    CCalculationProcesses processes(paths.MonitorDatabase());
    const CListingInput input = CScheduleListing::Read(db, processes, QSysInfo::machineHostName());
    db.Close();
    calculation.kill();
    calculation.waitForFinished();

    ASSERT_EQ(input.rows.size(), 3);
    EXPECT_EQ(input.rows[2].startTime, "Onsdag  18:00");
    const auto runningAndStale = [&](int key) {
        return std::pair(input.states.value(key).running, input.states.value(key).stale);
    };
    EXPECT_EQ(runningAndStale(running), std::pair(true, false));
    EXPECT_EQ(runningAndStale(stale), std::pair(true, true));
    EXPECT_EQ(runningAndStale(unflagged), std::pair(false, false));
    EXPECT_EQ(input.states.value(stale).calcSeconds, 1765098000);
    EXPECT_EQ(QueryFile(paths.MonitorDatabase(), countNumbers), numbersBefore);
}

} // namespace
