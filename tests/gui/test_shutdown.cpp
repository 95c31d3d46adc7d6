// Lock files of other and crashed instances, and stops by signal that still run the exit step.
#include "base/signalwatcher.h"
#include "base/stoprequest.h"
#include "gui/guisupport.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <atomic>
#include <csignal>
#include <sys/wait.h>
#include <thread>

namespace {

// Reaped, so no process has this id now.
pid_t DeadPid() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

// Any other lock blocks (live, id 0, another host, no id, unreadable) and is kept, unasked.
TEST_F(LoginGate, OnlyALockOfAGoneProcessOnThisHostGivesWay) {
    ASSERT_TRUE(QDir().mkdir(lockPath));
    EXPECT_FALSE(CKvarnixMonitorApp(paths, clock, messenger, dialogs).InitInstance());
    ASSERT_EQ(messenger.messages.size(), 1);
    EXPECT_TRUE(
        messenger.messages.takeFirst().startsWith("Låsfilen " + lockPath + " kunde inte läsas: "));
    ASSERT_TRUE(QDir().rmdir(lockPath));
    const QString locks[] = {LockText("Kalle"), LockText("Kalle", 0),
                             LockText("Kalle", DeadPid(), QSysInfo::machineHostName() + "-2"),
                             "Kalle\r\nOlle\n"};
    for (const QString& lock : locks) {
        WriteLock(lock);
        EXPECT_FALSE(CKvarnixMonitorApp(paths, clock, messenger, dialogs).InitInstance());
        EXPECT_EQ(ReadLock(), lock);
    }
    WriteLock(LockText("Kalle", DeadPid()));
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(ReadLock(), LockText("Olle"));
    EXPECT_EQ(dialogs.shown, QStringList(4, "Applikationen har redan startats av Kalle "));
    EXPECT_EQ(dialogs.asked, 1);
    EXPECT_TRUE(messenger.messages.isEmpty());
}

// A start's removal of the stale lock it found must not take the lock another created meanwhile.
TEST_F(LoginGate, OfManyStartsOnOneStaleLockExactlyOneWinsEveryRound) {
    for (int round = 0; round < 300; ++round) {
        WriteLock(LockText("Kalle", DeadPid()));
        std::atomic<bool> go{false};
        std::atomic<int> created{0};
        std::thread starts[4];
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

// A second login renames the own lock; SIGTERM ends the loop though the frame refuses closes.
TEST_F(LoginGate, TheLockHoldsTheOperatorUntilTheExitStepThatATerminationSignalReaches) {
    const CSignalWatcher watcher;
    // The stop request holds for the whole process; the tests after this one must not see it.
    const auto clearStop = qScopeGuard([] { ProcessStopRequested() = false; });
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(ReadLock(), LockText("Olle"));
    dialogs.answer = "Lisa";
    EXPECT_TRUE(app.LoginStep());
    EXPECT_EQ(ReadLock(), LockText("Lisa"));
    ::kill(::getpid(), SIGTERM);
    QObject guard;
    QTimer::singleShot(5000, &guard, [] { QCoreApplication::exit(2); });
    EXPECT_EQ(QApplication::exec(), 0);
    app.ExitInstance();
    EXPECT_FALSE(QFile::exists(lockPath));
}

// The program writes the ready file once its window and signal handlers are up.
TEST(StopSignal, EndsTheBuiltProgramNormally) {
    CTestFolder folder;
    ASSERT_TRUE(QFile::copy(KVARNIX_MONITOR, folder.ProgramFile()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KVARNIX_READY_FILE", folder.File("ready"));
    for (const int signal : {SIGTERM, SIGINT}) {
        QProcess monitor;
        monitor.setProcessEnvironment(environment);
        // A shell starts background jobs with SIGINT ignored, which the program keeps.
        monitor.setChildProcessModifier([] { std::signal(SIGINT, SIG_DFL); });
        monitor.start(folder.ProgramFile(), {});
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::remove(folder.File("ready")); }));
        ::kill(pid_t(monitor.processId()), signal);
        ASSERT_TRUE(monitor.waitForFinished(5000));
        EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(monitor.exitCode(), 0) << monitor.readAllStandardError().toStdString();
    }
}

} // namespace
