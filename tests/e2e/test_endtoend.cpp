// The built monitor, started in folders of its own on the real clock, as an
// operator would see it work: due rows run through the calculation simulator,
// each minute starts once across restarts and monitors, a held file delays no
// minute, and a stop ends a long batch of starts at once.
#include "monitordb/sqliteconnection.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

constexpr int kLongestWaitMs = 75000;

// The built monitor program copied into the test's folder, its database prepared
// with the calculation program and the scheduler switched on.
class EndToEnd : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(KVARNIX_MONITOR, folder.ProgramFile()));
        ASSERT_TRUE(db.OpenOrCreate());
        db.SaveRow("- - - -", "/bin/true", "- - - -", 0, 0);
        db.SetSetting("DRIFT", 1);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    }
    void TearDown() override {
        for (auto& monitor : monitors) {
            monitor->kill();
            monitor->waitForFinished();
        }
    }

    QProcess& StartMonitor() {
        monitors.push_back(std::make_unique<QProcess>());
        QProcess& monitor = *monitors.back();
        monitor.setProcessEnvironment(environment);
        monitor.start(folder.ProgramFile(), {});
        EXPECT_TRUE(monitor.waitForStarted());
        return monitor;
    }
    static qint64 Stop(QProcess& monitor) {
        QElapsedTimer stopping;
        stopping.start();
        ::kill(pid_t(monitor.processId()), SIGTERM);
        EXPECT_TRUE(monitor.waitForFinished(10000));
        EXPECT_EQ(monitor.exitCode(), 0) << monitor.readAllStandardError().toStdString();
        return stopping.elapsed();
    }

    QStringList Log() const { return folder.ReadLines(folder.LogFile()); }
    // Launch lines per minute ("YYYY-MM-DD HH:MM").
    QMap<QString, int> LaunchesPerMinute() const {
        QMap<QString, int> launches;
        for (const QString& line : Log())
            ++launches[line.left(16)];
        return launches;
    }
    // Waits for the wall clock's next minute to reach this second.
    static void WaitForSecond(int second) {
        EXPECT_TRUE(
            QTest::qWaitFor([second] { return QTime::currentTime().second() == second; }, 61000));
    }
    static QString MinuteText(const QDateTime& time) { return time.toString("yyyy-MM-dd HH:mm"); }

    CTestFolder folder;
    CSystemDatabase db{folder.DatabaseFile()};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> monitors;
};

TEST_F(EndToEnd, MonitorStartsTheDueRowAndShowsItsStoredTimes) {
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
        const bool done = folder.ReadLines(argsFile).size() >= 7 && !Log().isEmpty() && db.Open() &&
                          db.GetTimeText(0, key) != "Uppgift saknas" && !db.IsRunFlagSet(key);
        db.Close();
        return done;
    };
    ASSERT_TRUE(QTest::qWaitFor(finished, kLongestWaitMs))
        << "nothing ran; monitor said: " << monitor.readAllStandardError().toStdString();
    EXPECT_EQ(folder.ReadLines(argsFile).mid(0, 7),
              (QStringList{model + ".vxm", "Dygnsberäkning", QString::number(key), "0",
                           folder.DatabaseFile(), "1", "--"}));
    EXPECT_TRUE(Log().first().endsWith(" - " + model + "   Dygnsberäkning"))
        << Log().first().toStdString();
    ASSERT_TRUE(db.Open());
    EXPECT_NE(db.GetTimeText(1, key), "Uppgift saknas");
}

// A monitor stopped and started again within a minute does not start its rows
// again; two monitors on one file for three minutes start each minute once.
TEST_F(EndToEnd, EachMinuteStartsOnceAcrossARestartAndTwoMonitors) {
    db.SaveRow("XXXX-XX-XX XX:XX", "/m/varje", "Makro", -1, 1);
    db.Close();
    WaitForSecond(2);
    QProcess& first = StartMonitor();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().size() == 1; }, 10000));
    Stop(first);
    QProcess& restarted = StartMonitor();
    QTest::qWait(4000);
    EXPECT_EQ(Log().size(), 1);

    QProcess& second = StartMonitor();
    const QString start = Log().first().left(16);
    const auto minutesSeen = [&] { return LaunchesPerMinute().size(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return minutesSeen() == 4; }, 4 * 60000));
    QTest::qWait(3000);
    Stop(restarted);
    Stop(second);
    const QMap<QString, int> launches = LaunchesPerMinute();
    EXPECT_EQ(launches.firstKey(), start);
    EXPECT_EQ(launches.values(), QList<int>(4, 1)) << Log().join('\n').toStdString();
}

// Another process holds the write lock from just before a minute until well past
// any statement's wait: the minute's rows start once as soon as the file is
// free, without a box waiting for anybody, and the next minute comes on time.
TEST_F(EndToEnd, AHeldFileDelaysTheMinuteButLosesNothing) {
    db.SaveRow("XXXX-XX-XX XX:XX", "/m/varje", "Makro", -1, 1);
    WaitForSecond(5);
    const QDateTime held = QDateTime::currentDateTime().addSecs(60 - 5);
    const QString heldMinute = MinuteText(held);
    db.SaveRow("XXXX-XX-XX " + held.toString("HH:mm"), "/m/fast", "Makro", -1, 1);
    db.Close();
    StartMonitor();
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
    const QStringList onTime = Log().filter(QRegularExpression("^" + next + ":0[0-2]"));
    EXPECT_EQ(onTime.size(), 1) << Log().join('\n').toStdString();
    EXPECT_EQ(Log().filter("/m/fast").size(), 1);
}

// Two thousand rows due in one minute all start, once each; in the next minute a
// stop during the batch ends the program within a second.
TEST_F(EndToEnd, ABatchOfTwoThousandStartsOnceAndAStopEndsItAtOnce) {
    constexpr int kRows = 2000;
    {
        CSqliteTransaction transaction(db.Connection());
        for (int row = 0; row < kRows; ++row)
            db.SaveRow("XXXX-XX-XX XX:XX", QString("/m/rad%1").arg(row, 4, 10, QChar('0')), "Makro",
                       -1, 1);
        transaction.Commit();
    }
    db.Close();
    WaitForSecond(1);
    QProcess& monitor = StartMonitor();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().size() >= kRows; }, 58000));
    QStringList lines = Log();
    EXPECT_EQ(lines.size(), kRows);
    lines.replaceInStrings(QRegularExpression("^.{22}"), "");
    lines.removeDuplicates();
    EXPECT_EQ(lines.size(), kRows);

    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().size() >= kRows + 300; }, 90000));
    EXPECT_LE(Stop(monitor), 1000);
    EXPECT_LT(Log().size(), 2 * kRows);
}

} // namespace
