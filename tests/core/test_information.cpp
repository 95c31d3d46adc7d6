#include "modeldb/exedatabase.h"
#include "monitordb/systemdatabase.h"
#include "schedule/rowinformation.h"
#include "schedule/schedulemodel.h"
#include "support/testsupport.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

class InformationTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(db.Open()); }

    CScheduleLine Line(const QString& startTime, int implemented, const QString& model = "/m/a") {
        CScheduleLine line;
        line.startTime = startTime;
        line.model = model;
        line.key = db.SaveRow(startTime, model, "Makro", -1, implemented);
        return line;
    }
    QString TimeLeft(const QString& startTime, const QString& now) {
        return ComputeRowInformation(db, Line(startTime, 1), program, LocalTime(now)).timeLeft;
    }

    CTestFolder folder;
    CRecordingMessenger messenger;
    CSystemDatabase db{folder.DatabaseFile(), messenger};
    // No connection database beside it.
    QString program = folder.File("Kvarnix.exe");
};

TEST(InformationTimeLeft, BothSingularRules) {
    const QList<QPair<int, QString>> cases = {{0, "< 0 minut"},
                                              {1, "< 1 minut"},
                                              {2, "< 2 minuter"},
                                              {59, "< 59 minuter"},
                                              {60, "< 1 timme och 0 minuter"},
                                              {61, "< 1 timme och 1 minut"},
                                              {125, "< 2 timmar och 5 minuter"},
                                              {1439, "< 23 timmar och 59 minuter"}};
    for (const auto& [minutes, text] : cases)
        EXPECT_EQ(TimeLeftText(minutes), text) << minutes;
}

TEST_F(InformationTest, DateAndWeekdayRowsCountFromTheCurrentMinute) {
    ASSERT_EQ(QDate(2024, 5, 13).dayOfWeek(), Qt::Monday);
    const struct {
        const char* startTime;
        const char* now;
        const char* timeLeft;
    } cases[] = {
        {"XXXX-XX-XX 06:30", "2024-05-13 06:29:59", "< 1 minut"},
        {"XXXX-XX-XX 06:30", "2024-05-13 06:30:20", "< 0 minut"},
        {"XXXX-XX-XX 06:30", "2024-05-13 06:31:00", "< 23 timmar och 59 minuter"},
        {"2024-05-10 06:30", "2024-05-13 06:30:00", "< -2880 minut"},
        // The clock skips from 02:00 to 03:00; real minutes are counted.
        {"XXXX-XX-XX 02:30", "2024-03-31 01:00:00", "< 1 timme och 30 minuter"},
        {"Måndag  07:30", "2024-05-13 07:30:40", "< 0 minut"},
        {"Måndag  07:29", "2024-05-13 07:30:00", "< 167 timmar och 59 minuter"},
        {"Onsdag  08:00", "2024-05-13 07:30:00", "< 48 timmar och 30 minuter"},
        {"Söndag  07:30", "2024-05-13 07:30:00", "< 144 timmar och 0 minuter"},
        // Texts that name no time, as the scheduler never starts them.
        {"XXXX-XX-XX 06:_0", "2024-05-13 06:00:00", "Ogiltig starttid"},
        {"2024-02-30 06:30", "2024-05-13 06:00:00", "Ogiltig starttid"},
        {"Fredax  07:30", "2024-05-13 06:00:00", "Ogiltig starttid"},
        {"12:0", "2024-05-13 06:00:00", "Ogiltig starttid"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TimeLeft(c.startTime, c.now), QString(c.timeLeft))
            << c.startTime << " at " << c.now;
}

TEST_F(InformationTest, CyclicAndInactiveRowsAndStoredTimes) {
    const CScheduleLine cyclic = Line("00:05", 1, "/m/Pump");
    db.SetCounter(cyclic.key, 1);
    db.SetSetting(QString("CALC_TIME%1").arg(cyclic.key),
                  int(LocalTime("2024-05-13 06:00:05").toSecsSinceEpoch()));
    const CRowInformation information =
        ComputeRowInformation(db, cyclic, program, LocalTime("2024-05-13 06:00"));
    EXPECT_EQ(information.model, "/m/Pump.vxm");
    EXPECT_EQ(information.database, "Kopplingsdatabas saknas");
    EXPECT_EQ(information.timeLeft, "< 1 minut");
    EXPECT_EQ(information.lastCalculation, "2024-05-13 06:00:05");
    EXPECT_EQ(information.measurement, "Uppgift saknas");

    db.SetCounter(cyclic.key, -5);
    EXPECT_EQ(ComputeRowInformation(db, cyclic, program, {}).timeLeft, "< -5 minut");
    EXPECT_EQ(ComputeRowInformation(db, Line("XXXX-XX-XX 06:30", 0), program, {}).timeLeft,
              "Tagen ur drift!");
}

TEST_F(InformationTest, ConnectionLookupBesideAProgramWithoutSuffix) {
    // The dot in the folder name must not cut the program's name.
    ASSERT_TRUE(QDir(folder.Path()).mkdir("v1.0"));
    program = folder.File("v1.0/kvarnix");
    {
        CSqliteConnection connections;
        connections.Open(folder.File("v1.0/kvarnix.mdb"), CSqliteConnection::OpenMode::CreateFile,
                         1000);
        connections.Execute("CREATE TABLE KOPPLING (ST_STRING1 TEXT, ST_STRING2 TEXT)");
        CSqliteStatement insert =
            connections.Prepare("INSERT INTO KOPPLING (ST_STRING1, ST_STRING2) VALUES (?, ?)");
        insert.Bind(1, QString("/m/Pump.vxm")).Bind(2, QString("IP21_Syd   ")).Run();
        insert.Reset();
        insert.Bind(1, QString("/m/Kvarn'Nord.vxm")).Bind(2, QString("IP21_Nord")).Run();
    }
    const CExeDatabaSE exe(program);
    ASSERT_TRUE(exe.FileFound());
    EXPECT_EQ(exe.LookupConnection("/m/Kvarn'Nord.vxm"), "IP21_Nord");
    EXPECT_EQ(exe.LookupConnection("/m/Annan.vxm"), "Ej kopplad");
    EXPECT_EQ(ComputeRowInformation(db, Line("00:05", 1, "/m/Pump"), program, {}).database,
              "IP21_Syd");
    EXPECT_FALSE(CExeDatabaSE(folder.File("v1.0/annan")).FileFound());
}

} // namespace
