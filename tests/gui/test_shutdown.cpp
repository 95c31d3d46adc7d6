// A lock file left by a crashed instance, and a stop by signal that still runs
// the exit step: in process through the start-up gate, and on the built program.
#include "app/kvarnixmonitor.h"
#include "app/programpaths.h"
#include "app/signalwatcher.h"
#include "monitordb/systemdatabase.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

const QString kHost = QSysInfo::machineHostName();

// Reaped, so no process has this id now.
pid_t DeadPid() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

QStringList Lock(const QString& name, pid_t pid, const QString& host) {
    return {name, QString::number(pid), host};
}

struct CAnsweringDialogs : CLoginDialogs {
    std::optional<QString> AskOperatorName() override { return QStringLiteral("Olle"); }
    void ShowAlreadyStarted(const QString& text) override { shown << text; }
    QStringList shown;
};

struct LockAtStart : testing::Test {
    CTestFolder folder;
    CProgramPaths paths{folder.ProgramFile()};
    CSystemClock clock;
    CRecordingMessenger messenger;
    CAnsweringDialogs dialogs;
    CKvarnixMonitorApp app{paths, clock, messenger, dialogs};
    QString lockPath = paths.LockFile();

    void SetUp() override {
        CSystemDatabase db(paths.MonitorDatabase(), messenger);
        ASSERT_TRUE(db.Open() && db.SetSetting("INLOGGNINGSKONTROLL", 1));
    }
    void WriteLock(const QStringList& lines) { folder.WriteText(lockPath, lines.join('\n')); }
};

TEST_F(LockAtStart, OneOfAGoneProcessOnThisHostGivesWayToTheLogin) {
    WriteLock(Lock("Kalle", DeadPid(), kHost));
    ASSERT_TRUE(app.InitInstance());
    EXPECT_TRUE(dialogs.shown.isEmpty() && messenger.messages.isEmpty());
    EXPECT_EQ(folder.ReadLines(lockPath), Lock("Olle", ::getpid(), kHost));
}

TEST_F(LockAtStart, OneOfALiveProcessOrAnotherHostStillBlocks) {
    for (const QStringList& lock : {Lock("Kalle", ::getpid(), kHost), Lock("Kalle", 0, kHost),
                                    Lock("Kalle", DeadPid(), kHost + "-annan")}) {
        WriteLock(lock);
        EXPECT_FALSE(CKvarnixMonitorApp(paths, clock, messenger, dialogs).InitInstance());
        EXPECT_EQ(folder.ReadLines(lockPath), lock);
    }
    EXPECT_EQ(dialogs.shown, QStringList(3, "Applikationen har redan startats av Kalle "));
}

// Each start removes the stale lock it found, then creates its own.
TEST_F(LockAtStart, OfManyStartsOnOneStaleLockExactlyOneWinsEveryRound) {
    for (int round = 0; round < 300; ++round) {
        WriteLock(Lock("Kalle", DeadPid(), kHost));
        std::atomic<bool> go{false};
        std::atomic<int> created{0};
        std::vector<std::thread> starts(4);
        for (std::thread& start : starts)
            start = std::thread([&] {
                while (!go)
                    std::this_thread::yield();
                CLockFile lock(lockPath);
                created += lock.RemoveIfStale() == CLockFile::StaleResult::Removed &&
                           lock.CreateWithName("Olle") == CLockFile::CreateResult::Created;
            });
        go = true;
        for (std::thread& start : starts)
            start.join();
        ASSERT_EQ(created, 1) << "round " << round;
        ASSERT_TRUE(QFile::remove(lockPath));
    }
}

// The main frame refuses every close but "Avsluta"; that must not keep the loop going.
TEST_F(LockAtStart, ATerminationSignalEndsTheLoopAndTheExitStepRemovesTheLock) {
    const CSignalWatcher watcher;
    ASSERT_TRUE(app.InitInstance());
    ::kill(::getpid(), SIGTERM);
    QObject guard;
    QTimer::singleShot(5000, &guard, [] { QCoreApplication::exit(2); });
    EXPECT_EQ(QApplication::exec(), 0);
    app.ExitInstance();
    EXPECT_FALSE(QFile::exists(lockPath));
}

// Until its handler is in place the signal would end the program at once.
bool Catches(qint64 pid, int signal) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf("SigCgt:");
    return at >= 0 && (text.mid(at + 7, 18).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
}

struct StopSignal : testing::TestWithParam<int> {};

TEST_P(StopSignal, EndsTheBuiltProgramNormallyWithItsDatabaseWhole) {
    CTestFolder folder;
    ASSERT_TRUE(QFile::copy(KVARNIX_MONITOR, folder.ProgramFile()));
    CRecordingMessenger messenger;
    CSystemDatabase db(folder.DatabaseFile(), messenger);
    ASSERT_TRUE(db.Open());
    const int key = db.SaveRow("XXXX-XX-XX 02:30", folder.File("Modell"), "Dygn", -1, 1);
    db.Close();
    QProcess monitor;
    // A shell starts background jobs with SIGINT ignored, which the program keeps.
    monitor.setChildProcessModifier([] { std::signal(SIGINT, SIG_DFL); });
    monitor.start(folder.ProgramFile(), {});
    ASSERT_TRUE(monitor.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Catches(monitor.processId(), GetParam()); }));
    ::kill(pid_t(monitor.processId()), GetParam());
    ASSERT_TRUE(monitor.waitForFinished(5000));
    EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(monitor.exitCode(), 0) << monitor.readAllStandardError().toStdString();
    ASSERT_TRUE(db.Open());
    EXPECT_TRUE(db.RowExists(key));
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, StopSignal, testing::Values(SIGTERM, SIGINT));

} // namespace
