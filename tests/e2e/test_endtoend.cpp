// The built monitor on the real clock, in folders of its own: due rows start once a minute across
// restarts and monitors, a held file delays no minute, and a stop ends a batch of starts at once.
#include "monitordb/sqliteconnection.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "support/filequery.h"
#include "support/programrun.h"
#include "support/testsupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

// The monitor copied into the test's folder, with a calculation program and the scheduler on; a
// monitor a failed test left running is killed by its QProcess.
class EndToEnd : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(KVARNIX_MONITOR, folder.ProgramFile()));
        ASSERT_NO_THROW(db.OpenOrCreate());
        db.SaveRow("- - - -", "/bin/true", "- - - -", 0, 0);
        db.SetSetting("DRIFT", 1);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    }

    QProcess& StartMonitor() {
        monitors.push_back(std::make_unique<QProcess>());
        StartProgram(*monitors.back(), folder.ProgramFile(), environment);
        return *monitors.back();
    }

    QStringList Log() const { return folder.ReadLines(folder.LogFile()); }
    // Launch lines per minute ("YYYY-MM-DD HH:MM").
    QMap<QString, int> LaunchesPerMinute() const {
        QMap<QString, int> launches;
        for (const QString& line : Log())
            ++launches[line.left(16)];
        return launches;
    }
    static QString MinuteText(const QDateTime& time) { return time.toString("yyyy-MM-dd HH:mm"); }

    CTestFolder folder;
    CSystemDatabase db{folder.DatabaseFile()};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> monitors;
};

// The due row's calculation gets its launch arguments and can store its results in the file.
TEST_F(EndToEnd, MonitorStartsTheDueRowWithItsLaunchArguments) {
    const QString model = folder.File("Pumpstation Norr");
    folder.WriteText(model + ".vxm", "modell");
    db.SaveRow("- - - -", KVARNIX_SIMULATOR, "- - - -", 0, 0);
    const int key = db.SaveRow("XXXX-XX-XX XX:XX", model, "Dygnsberäkning", -1, 1);
    db.Close();
    const QString argsFile = folder.File("args.txt");
    environment.insert("KVARNIXSIM_ARGS_FILE", argsFile);
    environment.insert("KVARNIXSIM_SECONDS", "1");
    QProcess& monitor = StartMonitor();

    const auto finished = [&] {
        if (folder.ReadLines(argsFile).size() < 7 || Log().isEmpty())
            return false;
        db.Open();
        const bool done = db.GetTime(StoredTime::Calculation, key) != 0 && !db.IsRunFlagSet(key);
        db.Close();
        return done;
    };
    ASSERT_TRUE(QTest::qWaitFor(finished, 75000))
        << "nothing ran; monitor said: " << monitor.readAllStandardError().toStdString();
    EXPECT_EQ(folder.ReadLines(argsFile).mid(0, 7),
              (QStringList{model + ".vxm", "Dygnsberäkning", QString::number(key), "0",
                           folder.DatabaseFile(), "1", "--"}));
    EXPECT_TRUE(Log().first().endsWith(" - " + model + "   Dygnsberäkning"))
        << Log().first().toStdString();
    StopBySigterm(monitor);
}

// A monitor restarted within a minute, and two monitors on one file, start each minute once.
TEST_F(EndToEnd, EachMinuteStartsOnceAcrossARestartAndTwoMonitors) {
    db.SaveRow("XXXX-XX-XX XX:XX", "/m/varje", "Makro", -1, 1);
    db.Close();
    // The restart falls in the first monitor's minute.
    WaitForRoomInMinute(20);
    QProcess& first = StartMonitor();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().size() == 1; }, 10000));
    StopBySigterm(first);
    QProcess& restarted = StartMonitor();
    QTest::qWait(4000);
    EXPECT_EQ(Log().size(), 1);

    QProcess& second = StartMonitor();
    const QString start = Log().first().left(16);
    ASSERT_TRUE(QTest::qWaitFor([&] { return LaunchesPerMinute().size() == 3; }, 3 * 60000));
    QTest::qWait(3000);
    StopBySigterm(restarted);
    StopBySigterm(second);
    const QMap<QString, int> launches = LaunchesPerMinute();
    EXPECT_EQ(launches.firstKey(), start);
    EXPECT_EQ(launches.values(), QList<int>(3, 1)) << Log().join('\n').toStdString();
}

// A file held past any statement's wait delays its minute, with no box waiting, but loses none.
TEST_F(EndToEnd, AHeldFileDelaysTheMinuteButLosesNothing) {
    db.SaveRow("XXXX-XX-XX XX:XX", "/m/varje", "Makro", -1, 1);
    // The file is taken 5 s before the held minute, after the monitor's first start.
    WaitForRoomInMinute(15);
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime held = now.addSecs(60 - now.time().second());
    const QString heldMinute = MinuteText(held);
    db.SaveRow("XXXX-XX-XX " + held.toString("HH:mm"), "/m/fast", "Makro", -1, 1);
    db.Close();
    QProcess& monitor = StartMonitor();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().size() == 1; }, 10000));

    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QDateTime::currentDateTime().secsTo(held) <= 5; }, 60000));
    CSqliteConnection holder;
    holder.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 10000);
    holder.Execute("BEGIN IMMEDIATE");
    QTest::qWait(40000);
    EXPECT_EQ(LaunchesPerMinute().value(heldMinute), 0);
    holder.Execute("COMMIT");
    ASSERT_TRUE(QTest::qWaitFor([&] { return LaunchesPerMinute().value(heldMinute) == 2; }, 10000));

    const QString next = MinuteText(held.addSecs(60));
    ASSERT_TRUE(QTest::qWaitFor([&] { return LaunchesPerMinute().contains(next); }, 40000));
    EXPECT_EQ(Log().filter(QRegularExpression("^" + next + ":0[0-2]")).size(), 1)
        << Log().join('\n').toStdString();
    EXPECT_EQ(Log().filter("/m/fast").size(), 1);
    StopBySigterm(monitor);
}

// Six hundred rows due in a minute. A stop ends a batch at once, a kill cuts it short: a
// monitor started again starts the rest of the minute, each row once.
TEST_F(EndToEnd, ABatchCutShortByAStopOrAKillIsFinishedOnceByTheNextMonitor) {
    constexpr int kRows = 600;
    {
        CSqliteTransaction transaction(db.Connection());
        for (int row = 0; row < kRows; ++row)
            db.SaveRow("XXXX-XX-XX XX:XX", QString("/m/rad%1").arg(row, 4, 10, QChar('0')), "Makro",
                       -1, 1);
        transaction.Commit();
    }
    db.Close();
    const auto query = [&](const QString& sql) { return QueryFile(folder.DatabaseFile(), sql); };
    // The runs started for a minute the schedulers decided, and of how many rows.
    const auto started = [&](const QString& minute, const QString& count) {
        return query(QString("SELECT %1 FROM KORNINGAR WHERE MINUT = %2 AND UTFALL IS NOT 'väntar'")
                         .arg(count, minute))
            .toInt();
    };
    const auto expectEachRowOnce = [&](const QString& minute) {
        EXPECT_EQ(started(minute, "COUNT(*)"), kRows) << minute.toStdString();
        EXPECT_EQ(started(minute, "COUNT(DISTINCT NYCKEL)"), kRows) << minute.toStdString();
        EXPECT_EQ(query("SELECT COUNT(*) FROM KORNINGAR WHERE MINUT = " + minute +
                        " AND UTFALL IN ('väntar', 'hoppades över')"),
                  "0");
    };

    // A stop after some hundred starts ends the batch within a second.
    QProcess& first = StartMonitor();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return query("SELECT COUNT(*) FROM KORNINGAR") != "0"; }, 10000));
    const QString stopped = query("SELECT MIN(MINUT) FROM KORNINGAR");
    ASSERT_TRUE(QTest::qWaitFor([&] { return started(stopped, "COUNT(*)") >= 150; }, 50000));
    EXPECT_LE(StopBySigterm(first), 1000);
    EXPECT_LT(started(stopped, "COUNT(*)"), kRows);
    QProcess& second = StartMonitor();
    // Each start costs a supervisor besides the calculation: on a busy machine a batch of
    // thousands takes a minute or more.
    ASSERT_TRUE(QTest::qWaitFor([&] { return started(stopped, "COUNT(*)") >= kRows; }, 150000));

    // And a kill in a later minute's batch: the monitor's row is found gone, its runs taken
    // over. A kill between a run's record and its program's start leaves that one run recorded
    // as started and never started again, rather than started twice. When the second monitor
    // takes over in the next minute, the rows still pending then are not decided again for
    // it: the first minute that decides every row is the one cut short.
    QString killed;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            killed = query(QString("SELECT MIN(MINUT) FROM (SELECT MINUT FROM KORNINGAR WHERE "
                                   "MINUT > %1 GROUP BY MINUT HAVING COUNT(*) = %2)")
                               .arg(stopped)
                               .arg(kRows));
            return !killed.isEmpty() && started(killed, "COUNT(*)") >= 150;
        },
        150000));
    second.kill();
    second.waitForFinished();
    EXPECT_LT(started(killed, "COUNT(*)"), kRows);
    QProcess& third = StartMonitor();
    ASSERT_TRUE(QTest::qWaitFor([&] { return started(killed, "COUNT(*)") >= kRows; }, 150000))
        << query("SELECT GROUP_CONCAT(n || ' ' || IFNULL(UTFALL, 'startad'), ', ') FROM (SELECT "
                 "UTFALL, COUNT(*) AS n FROM KORNINGAR WHERE MINUT = " +
                 killed + " GROUP BY UTFALL)")
               .toStdString()
        << "; the monitor said: " << third.readAllStandardError().toStdString();
    QTest::qWait(2000);
    StopBySigterm(third);
    expectEachRowOnce(stopped);
    expectEachRowOnce(killed);
    // The log tells each start the history records, none twice. On a busy machine a batch may
    // outlast its minute, and the rows start again in the next one: those count in both. The
    // run the kill cut between its record and its start has no line.
    QMap<QString, int> launches;
    for (const QString& line : Log().filter(" - /m/rad"))
        ++launches[line.mid(22).section(QStringLiteral("   "), 0, 0)];
    EXPECT_EQ(launches.size(), kRows);
    const QStringList recorded =
        query("SELECT GROUP_CONCAT(MODELL || '=' || n, ',') FROM (SELECT MODELL, COUNT(*) AS n "
              "FROM KORNINGAR WHERE UTFALL IS NOT 'väntar' AND UTFALL IS NOT 'hoppades över' "
              "GROUP BY MODELL ORDER BY MODELL)")
            .split(',');
    int differing = 0;
    for (const QString& row : recorded) {
        const QString model = row.section('=', 0, 0);
        differing += launches.value(model) != row.section('=', 1).toInt();
        EXPECT_GE(row.section('=', 1).toInt(), 2) << model.toStdString();
    }
    EXPECT_EQ(recorded.size(), kRows);
    EXPECT_LE(differing, 1);
}

} // namespace
