// One schedule shared the way plants share it: on a network share, by programs whose clocks
// or time zones differ, by programs on other hosts. The built programs on the real clock.
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "support/filequery.h"
#include "support/programrun.h"
#include "support/testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const QString kFakeTime = QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1");

class SharedFile : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(KVARNIX_MONITOR, folder.ProgramFile()));
        ASSERT_TRUE(QFile::copy(KVARNIX_SERVICE, service));
        ASSERT_NO_THROW(db.OpenOrCreate());
        db.SaveRow("- - - -", KVARNIX_SIMULATOR, "- - - -", 0, 0);
        db.SetSetting("DRIFT", 1);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("KVARNIXSIM_ARGS_FILE", argsFile);
        environment.insert("KVARNIXSIM_SECONDS", "1");
    }

    QProcess& Start(const QString& program, const QProcessEnvironment& withEnvironment,
                    const QStringList& arguments = {}) {
        programs.push_back(std::make_unique<QProcess>());
        StartProgram(*programs.back(), program, withEnvironment, arguments);
        return *programs.back();
    }
    // The rows each simulated calculation was started for, by key.
    QHash<int, int> StartsByKey() const {
        QHash<int, int> starts;
        const QStringList lines = folder.ReadLines(argsFile);
        for (int i = 2; i < lines.size(); i += 7)
            ++starts[lines.at(i).toInt()];
        return starts;
    }
    QString Query(const QString& sql) const { return QueryFile(folder.DatabaseFile(), sql); }

    CTestFolder folder;
    const QString service = folder.File("kvarnixmonitord");
    const QString argsFile = folder.File("args.txt");
    CSystemDatabase db{folder.DatabaseFile()};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> programs;
};

// On a network share (rollback journal, locks of the process) a window and a service writing
// together over three minutes' starts, with sixty calculations a minute writing too, keep
// the file whole and record every start.
TEST_F(SharedFile, OnANetworkShareTheFileStaysWholeAndEveryStartIsRecorded) {
    constexpr int kRows = 60;
    db.Close();
    QFile::remove(folder.DatabaseFile());
    QProcessEnvironment onShare = environment;
    onShare.insert("LD_PRELOAD", KVARNIX_FAKENFS);
    onShare.insert("KVARNIX_FAKE_NFS", folder.Path());
    {
        CSystemDatabase created(folder.DatabaseFile());
        created.SetFileSystemProbe([](const QString&) { return 0x6969L; });
        created.OpenOrCreate();
        CSqliteTransaction transaction(created.Connection());
        created.SaveRow("- - - -", KVARNIX_SIMULATOR, "- - - -", 0, 0);
        created.SetSetting("DRIFT", 1);
        for (int row = 0; row < kRows; ++row)
            created.SaveRow("XXXX-XX-XX XX:XX", folder.File(QString("modell%1").arg(row)), "Makro",
                            -1, 1);
        transaction.Commit();
    }
    ASSERT_EQ(Query("PRAGMA journal_mode"), "delete");
    QProcess& window = Start(folder.ProgramFile(), onShare);
    QProcess& running = Start(service, onShare);
    // The minute they start in and the two that follow, the last one's batch given 15 s.
    const QDateTime begun = QDateTime::currentDateTime();
    const QDateTime thirdMinute = begun.addSecs(120 - begun.time().second());
    QTest::qWait(int(begun.msecsTo(thirdMinute.addSecs(15))));
    StopBySigterm(running);
    StopBySigterm(window);
    QTest::qWait(3000); // the last calculations end

    const QString said =
        QString::fromUtf8(window.readAllStandardError() + running.readAllStandardError());
    EXPECT_FALSE(said.contains("malformed")) << said.toStdString();
    EXPECT_EQ(Query("PRAGMA integrity_check"), "ok");
    // A row whose calculation of the minute before still runs is not due; every start
    // decided is recorded, and every calculation started has its record. On a busy machine the
    // stop may come before the last batch is through: its rest stays pending, started by none.
    EXPECT_GE(Query("SELECT COUNT(DISTINCT START / 60) FROM KORNINGAR").toInt(), 3);
    EXPECT_EQ(Query("SELECT COUNT(*) FROM KORNINGAR WHERE UTFALL IS NOT NULL AND "
                    "UTFALL NOT IN ('klar', 'väntar')"),
              "0");
    const QHash<int, int> started = StartsByKey();
    int startedInAll = 0;
    for (auto row = started.cbegin(); row != started.cend(); ++row) {
        startedInAll += row.value();
        EXPECT_EQ(Query(QString("SELECT COUNT(*) FROM KORNINGAR WHERE NYCKEL = %1 AND UTFALL IS "
                                "NOT 'väntar'")
                            .arg(row.key())),
                  QString::number(row.value()))
            << row.key();
    }
    EXPECT_EQ(Query("SELECT COUNT(*) FROM KORNINGAR WHERE UTFALL IS NOT 'väntar'"),
              QString::number(startedInAll));
    EXPECT_GE(startedInAll, 3 * kRows / 2);
}

// A service whose clock runs 90 s behind, and a window in another time zone, beside a service
// on the real clock: each minute's rows start once, and the disagreements are told.
TEST_F(SharedFile, SchedulersWhoseClocksOrZonesDifferStartEachMinuteOnce) {
    ASSERT_TRUE(QFileInfo::exists(kFakeTime)) << "the package faketime is missing";
    const int every = db.SaveRow("XXXX-XX-XX XX:XX", folder.File("varje"), "Makro", -1, 1);
    const int cyclic = db.SaveRow("00:01", folder.File("cyklisk"), "Makro", -1, 1);
    db.Close();
    QProcess& onTime = Start(service, environment);
    QTest::qWait(3000);
    QProcessEnvironment behind = environment;
    behind.insert("LD_PRELOAD", kFakeTime);
    behind.insert("FAKETIME", "-90s");
    QProcess& late = Start(service, behind);
    QProcessEnvironment utc = environment;
    utc.insert("TZ", "UTC");
    QProcess& elsewhere = Start(folder.ProgramFile(), utc);
    // The minute they start in and the two that follow, each given time for its starts; the
    // late clock's difference is told once it has been seen for a while.
    QTest::qWait((2 * 60 - QTime::currentTime().second() + 10) * 1000);
    const QString lateSaid = QString::fromUtf8(late.readAllStandardError());
    const QString elsewhereSaid = QString::fromUtf8(elsewhere.readAllStandardError());
    StopBySigterm(elsewhere);
    StopBySigterm(late);
    StopBySigterm(onTime);

    // The minutes each row started in, as the scheduler on time counts them.
    const QHash<int, int> starts = StartsByKey();
    for (const int key : {every, cyclic}) {
        const QString minutes = Query(
            QString("SELECT COUNT(DISTINCT START / 60) FROM KORNINGAR WHERE NYCKEL = %1").arg(key));
        EXPECT_EQ(QString::number(starts.value(key)), minutes) << key;
    }
    // A cyclic row's first start may wait a minute after a schedule starts.
    EXPECT_GE(starts.value(every), 3);
    EXPECT_GE(starts.value(cyclic), 2);
    const QRegularExpression behindBy("Klockan på .* går (8[5-9]|9[0-5]) s efter klockan på .*; "
                                      "ställ in tidssynkronisering");
    EXPECT_EQ(lateSaid.count(behindBy), 1) << lateSaid.toStdString();
    EXPECT_TRUE(elsewhereSaid.contains("räknar tiden i tidszonen")) << elsewhereSaid.toStdString();
}

// A service on another host (a host name and processes of its own) sees the window's running
// calculation as running there, and leaves its run open; the calculation ends normally.
TEST_F(SharedFile, ARunStartedOnAnotherHostIsLeftToThatHost) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a host name and a process namespace of its own";
    const int key = db.SaveRow("XXXX-XX-XX XX:XX", folder.File("lång"), "Makro", -1, 1);
    db.Close();
    environment.insert("KVARNIXSIM_SECONDS", "45");
    QProcess& window = Start(folder.ProgramFile(), environment);
    ASSERT_TRUE(QTest::qWaitFor([&] { return StartsByKey().value(key) == 1; }, 20000));
    QProcess& other = Start("unshare", environment,
                            {"--uts", "--pid", "--fork", "--mount-proc", "sh", "-c",
                             "hostname andra-vard && exec \"$0\"", service});
    QTest::qWait(20000);
    const CProgramRun listing = RunToEnd(
        "unshare", {"--uts", "sh", "-c", "hostname andra-vard && exec \"$0\" --list", service});
    EXPECT_TRUE(listing.output.contains("körs på " + QSysInfo::machineHostName()))
        << listing.output.toStdString();
    EXPECT_EQ(Query(QString("SELECT IFNULL(UTFALL, 'öppen') FROM KORNINGAR WHERE NYCKEL = %1 "
                            "ORDER BY rowid LIMIT 1")
                        .arg(key)),
              "öppen");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Query(QString("SELECT UTFALL FROM KORNINGAR WHERE NYCKEL = %1 ORDER BY rowid "
                                 "LIMIT 1")
                             .arg(key)) == "klar";
        },
        40000));
    // The service is the first process of its namespace, the child of unshare.
    const QString children =
        QString::fromLatin1(FileBytes(QString("/proc/%1/task/%1/children").arg(other.processId())));
    ASSERT_FALSE(children.trimmed().isEmpty());
    ::kill(pid_t(children.split(' ').first().toLongLong()), SIGTERM);
    EXPECT_TRUE(other.waitForFinished(10000));
    EXPECT_EQ(other.exitCode(), 0);
    StopBySigterm(window);
}

} // namespace
