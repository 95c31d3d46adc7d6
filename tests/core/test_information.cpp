#include "monitordb/sqliteconnection.h"
#include "monitordb/systemdatabase.h"
#include "schedule/rowinformation.h"
#include "schedule/schedulemodel.h"
#include "support/testsupport.h"

#include <QDir>
#include <gtest/gtest.h>
#include <tuple>

namespace {

class InformationTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_NO_THROW(db.OpenOrCreate()); }

    // A row saved under a key of its own; the model without its ".vxm".
    CScheduleLine Line(const QString& startTime, int implemented = 1,
                       const QString& model = "/m/Pump") {
        CScheduleLine line;
        line.startTime = startTime;
        line.model = model;
        line.key = db.SaveRow(startTime, model, "Makro", -1, implemented);
        return line;
    }
    CRowInformation Information(const CScheduleLine& line,
                                const QString& now = "2024-05-13 06:00") {
        return ComputeRowInformation(db, line, program, LocalTime(now));
    }

    CTestFolder folder;
    CSystemDatabase db{folder.DatabaseFile()};
    QString program = folder.File("Kvarnix.exe");
};

// The next start with the day and the time until it in its two largest units; 2024-05-13 is
// a Monday.
TEST_F(InformationTest, TimeLeftNamesTheNextStartAndTheTimeUntilIt) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"XXXX-XX-XX 06:30", "2024-05-13 06:29:59",
         "Nästa start: måndag 2024-05-13 06:30 (om 1 minut)"},
        {"XXXX-XX-XX 06:30", "2024-05-13 06:28:00",
         "Nästa start: måndag 2024-05-13 06:30 (om 2 minuter)"},
        {"XXXX-XX-XX 06:30", "2024-05-13 05:30:00",
         "Nästa start: måndag 2024-05-13 06:30 (om 1 timme)"},
        {"XXXX-XX-XX 06:30", "2024-05-13 05:29:00",
         "Nästa start: måndag 2024-05-13 06:30 (om 1 timme 1 minut)"},
        {"XXXX-XX-XX 06:30", "2024-05-13 04:25:00",
         "Nästa start: måndag 2024-05-13 06:30 (om 2 timmar 5 minuter)"},
        // Its own minute counts as started: the next start is tomorrow's.
        {"XXXX-XX-XX 06:30", "2024-05-13 06:30:20",
         "Nästa start: tisdag 2024-05-14 06:30 (om 1 dygn)"},
        {"XXXX-XX-XX 06:30", "2024-05-13 06:31:00",
         "Nästa start: tisdag 2024-05-14 06:30 (om 23 timmar 59 minuter)"},
        {"Onsdag  08:00", "2024-05-13 07:30:00",
         "Nästa start: onsdag 2024-05-15 08:00 (om 2 dygn)"},
        {"Måndag  07:29", "2024-05-13 07:30:00",
         "Nästa start: måndag 2024-05-20 07:29 (om 6 dygn 23 timmar)"},
        {"Tisdag  06:00", "2024-05-13 06:00:00",
         "Nästa start: tisdag 2024-05-14 06:00 (om 1 dygn)"},
        // The clock skips from 02:00 to 03:00; the start comes as it lands, in real minutes.
        {"XXXX-XX-XX 02:30", "2024-03-31 01:29:00",
         "Nästa start: söndag 2024-03-31 03:00 (om 31 minuter)"},
        {"XXXX-XX-XX XX:XX", "2024-05-13 06:00:00", "Startar varje minut"},
        {"00:01", "2024-05-13 06:00:00", "Startar varje minut"},
        {"00:00", "2024-05-13 06:00:00", "Startar varje minut"},
        {"2024-05-10 06:30", "2024-05-13 06:30:00", "Starttiden har passerat"},
        // Texts that name no time, as the scheduler never starts them.
        {"XXXX-XX-XX 06:_0", "2024-05-13 06:00:00", "Ogiltig starttid"},
        {"2024-02-30 06:30", "2024-05-13 06:00:00", "Ogiltig starttid"},
        {"Fredax  07:30", "2024-05-13 06:00:00", "Ogiltig starttid"},
        {"0_:01", "2024-05-13 06:00:00", "Ogiltig starttid"},
    };
    for (const auto& [startTime, now, timeLeft] : cases)
        EXPECT_EQ(Information(Line(startTime), now).timeLeft, QString(timeLeft))
            << startTime << " at " << now;
    EXPECT_EQ(Information(Line("XXXX-XX-XX XX:XX", 0)).timeLeft, "Tagen ur drift!");
}

// A cyclic row's next start is its counter's; a dot in the program's folder must not cut its name.
TEST_F(InformationTest, EveryFieldOfACyclicRowAndTheConnectionLookup) {
    ASSERT_TRUE(QDir(folder.Path()).mkdir("v1.0"));
    program = folder.File("v1.0/kvarnix");
    const CScheduleLine pump = Line("00:05");
    EXPECT_EQ(Information(pump).database, "Kopplingsdatabas saknas");
    {
        CSqliteConnection connections;
        connections.Open(folder.File("v1.0/kvarnix.mdb"), CSqliteConnection::OpenMode::CreateFile,
                         1000);
        connections.Execute("CREATE TABLE KOPPLING (ST_STRING1 TEXT, ST_STRING2 TEXT)");
        connections.Execute("INSERT INTO KOPPLING VALUES ('/m/Pump.vxm', 'IP21_Syd   '), "
                            "('/m/Kvarn''Nord.vxm', 'IP21_Nord')");
    }
    db.SetCounter(pump.key, 3);
    db.SetSetting(QString("CALC_TIME%1").arg(pump.key),
                  int(LocalTime("2024-05-13 06:00:05").toSecsSinceEpoch()));
    EXPECT_EQ(Information(pump).lastRun, "Ingen körning ännu");
    const qint64 launched = LocalTime("2024-05-13 06:00:00").toSecsSinceEpoch();
    db.RecordStart(CRun{pump.key, {}, {}, launched, {}, {}, CRun::Outcome::Running, {}});
    db.EndRun(pump.key, launched + 125, CRun::Outcome::Finished);
    const CRowInformation information = Information(pump);
    EXPECT_EQ(
        QStringList({information.model, information.database, information.timeLeft,
                     information.lastCalculation, information.measurement, information.lastRun}),
        QStringList({"/m/Pump.vxm", "IP21_Syd",
                     "Nästa start: måndag 2024-05-13 06:03 (om 3 minuter)", "2024-05-13 06:00:05",
                     "Uppgift saknas", "klar efter 2 min 5 s"}));
    EXPECT_EQ(Information(Line("00:05", 1, "/m/Kvarn'Nord")).database, "IP21_Nord");
    EXPECT_EQ(Information(Line("00:05", 1, "/m/Annan")).database, "Ej kopplad");
}

} // namespace
