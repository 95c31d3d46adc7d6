// Runs watched by their supervisors: real calculations of the simulator, the built kvarnixrun,
// real files.
#include "commands/schedulecommands.h"
#include "history/runhistory.h"
#include "monitordb/systemdatabase.h"
#include "support/schedulerrig.h"
#include "support/testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace {

class SupervisorTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_THROW(db.OpenOrCreate());
        db.SaveRow("- - - -", KVARNIX_SIMULATOR, "- - - -", 0, 0);
    }
    void TearDown() override {
        for (const char* name : {"KVARNIXSIM_SECONDS", "KVARNIXSIM_EXIT", "KVARNIXSIM_OUTPUT_BYTES",
                                 "KVARNIXSIM_IGNORE_TERM", "KVARNIXSIM_ARGS_FILE"})
            qunsetenv(name);
        // A calculation the test left running goes with it (one closed as lost still runs):
        // it holds the test's standard output open.
        for (const int key : keys) {
            for (const CRun& run : db.Runs(key, 0, 10)) {
                if (run.processId > 0 && run.supervisor > 0 && !run.endMs) {
                    ::kill(pid_t(run.processId), SIGKILL);
                    ::kill(pid_t(run.supervisor), SIGKILL);
                }
            }
        }
    }

    int AddRow(const QString& name, const QString& macro) {
        const QString model = folder.File(name);
        folder.WriteText(model + ".vxm", "modell");
        keys << db.SaveRow("XXXX-XX-XX XX:XX", model, macro, -1, 0);
        return keys.last();
    }
    // "Kör nu" of the row with the simulator told what to do by the environment.
    void Start(int key, std::initializer_list<std::pair<const char*, QByteArray>> environment) {
        for (const auto& [name, value] : environment)
            qputenv(name, value);
        rig.scheduler.RunNow(key, [&](const CLaunchReport& report) { rig.reports << report; });
        ASSERT_TRUE(rig.reports.last().started) << rig.reports.last().reason.toStdString();
    }
    CRun Latest(int key) { return db.LatestRun(key).value_or(CRun()); }
    bool Ended(int key) { return Latest(key).ended.has_value(); }
    // The supervisor and the calculation are known once the launcher wrote them.
    bool Running(int key) {
        const CRun run = Latest(key);
        return run.processId > 0 && run.supervisor > 0 && db.IsRunFlagSet(key);
    }

    CTestFolder folder;
    CSystemDatabase db{folder.DatabaseFile()};
    CSystemClock clock;
    CSchedulerRig rig{folder.ProgramFile(), clock};
    QVector<int> keys;
};

// Exit 0 and exit 3, a flood of output, the six arguments, the failure command told of the bad
// end only, and a failure command that is not there.
TEST_F(SupervisorTest, EachEndIsRecordedWithItsOutputAndTheFailureCommandHearsOfTheBadOnes) {
    const QString heard = folder.File("hört av fel.txt");
    const QString command = folder.File("vid fel.sh");
    folder.WriteText(command, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '" +
                                  heard + "'\necho -- >> '" + heard + "'\n");
    QFile(command).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    db.SetTextSetting("KOR_VID_FEL", command);

    const QString oddName = "Modell 'enkel' \"dubbel\" $HOME";
    const int good = AddRow(oddName, "Dygn körning");
    const int failing = AddRow("Kvarn", "Timme");
    const int flooding = AddRow("Flod", "Kvart");
    const QString argsFile = folder.File("argument.txt");
    Start(good, {{"KVARNIXSIM_SECONDS", "1"}, {"KVARNIXSIM_ARGS_FILE", argsFile.toUtf8()}});
    qunsetenv("KVARNIXSIM_ARGS_FILE");
    Start(failing, {{"KVARNIXSIM_SECONDS", "0"}, {"KVARNIXSIM_EXIT", "3"}});
    Start(flooding, {{"KVARNIXSIM_EXIT", "0"}, {"KVARNIXSIM_OUTPUT_BYTES", "5242880"}});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Ended(good) && Ended(failing) && Ended(flooding); }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Latest(failing).failureCommand.isEmpty(); }, 10000));

    const CRun ok = Latest(good);
    EXPECT_EQ(ok.outcome, CRun::Outcome::Finished);
    EXPECT_EQ(ok.exitCode, 0);
    EXPECT_FALSE(ok.signal.has_value());
    ASSERT_TRUE(ok.DurationMs().has_value());
    EXPECT_GE(*ok.DurationMs(), 1000);
    EXPECT_LT(*ok.DurationMs(), 15000);
    EXPECT_EQ(ok.failureCommand, "");
    EXPECT_EQ(folder.ReadLines(argsFile),
              (QStringList{folder.File(oddName) + ".vxm", "Dygn körning", QString::number(good),
                           "0", folder.DatabaseFile(), "1", "--"}));
    EXPECT_EQ(folder.ReadLines(ok.outputPath), QStringList{"kvarnixsim: standard error"});

    const CRun bad = Latest(failing);
    EXPECT_EQ(bad.outcome, CRun::Outcome::Failed);
    EXPECT_EQ(bad.exitCode, 3);
    EXPECT_EQ(RunHistory::OutcomeText(bad), "misslyckades (kod 3)");
    EXPECT_EQ(RunHistory::ExitStatusText(bad), "3");
    EXPECT_FALSE(bad.flagCleared);
    EXPECT_EQ(bad.failureCommand, "startades");
    ASSERT_TRUE(QTest::qWaitFor([&] { return folder.ReadLines(heard).size() == 6; }, 10000));
    EXPECT_EQ(folder.ReadLines(heard),
              (QStringList{QString::number(failing), folder.File("Kvarn"), "Timme",
                           "misslyckades (kod 3)", bad.outputPath, "--"}));

    // The last MiB, ending with what came last: the line on standard error.
    const CRun flood = Latest(flooding);
    EXPECT_EQ(flood.outcome, CRun::Outcome::Finished);
    QFile output(flood.outputPath);
    ASSERT_TRUE(output.open(QIODevice::ReadOnly));
    const QByteArray kept = output.readAll();
    EXPECT_EQ(kept.size(), 1 << 20);
    EXPECT_TRUE(kept.endsWith("000308404 utdata\n000308405 utkvarnixsim: standard error\n"));
    // 5 MiB of 17-byte lines and the 27 bytes on standard error: the kept MiB begins 6 bytes
    // into line 246726.
    EXPECT_TRUE(kept.startsWith("726 utdata\n000246727 utdata\n"));
    EXPECT_EQ(flood.failureCommand, "");

    db.SetTextSetting("KOR_VID_FEL", folder.File("finns-inte"));
    Start(failing, {{"KVARNIXSIM_EXIT", "4"}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Latest(failing).failureCommand.isEmpty(); }, 30000));
    EXPECT_EQ(RunHistory::OutcomeText(Latest(failing)), "misslyckades (kod 4)");
    EXPECT_EQ(Latest(failing).failureCommand,
              "kunde inte startas: programmet " + folder.File("finns-inte") + " finns inte");
    EXPECT_EQ(folder.ReadLines(heard).size(), 6);
}

// A calculation that ignores SIGTERM is killed 30 s after its one-minute limit; another is
// cancelled from a second monitor on the file within the supervisor's look every 2 s. Both
// leave their flags to the supervisor.
TEST_F(SupervisorTest, ATimeLimitOrACancelStopsTheCalculation) {
    const int limited = AddRow("Seg", "Natt");
    const int cancelled = AddRow("Lång", "Vecka");
    const int idle = AddRow("Vilande", "Dygn");
    const CScheduleCommands otherMonitor(folder.DatabaseFile());
    otherMonitor.SetTimeLimit(limited, 1);
    EXPECT_EQ(otherMonitor.TimeLimit(limited), 1);
    EXPECT_EQ(otherMonitor.TimeLimit(cancelled), 0);
    Start(limited, {{"KVARNIXSIM_SECONDS", "600"}, {"KVARNIXSIM_IGNORE_TERM", "1"}});
    qunsetenv("KVARNIXSIM_IGNORE_TERM");
    Start(cancelled, {{"KVARNIXSIM_SECONDS", "600"}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return Running(limited) && Running(cancelled); }, 20000));

    EXPECT_FALSE(otherMonitor.RequestCancel(idle, "anna på kvarn2"));
    EXPECT_TRUE(otherMonitor.RequestCancel(cancelled, "anna på kvarn2"));
    EXPECT_FALSE(otherMonitor.RequestCancel(cancelled, "bertil på kvarn3"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Ended(cancelled); }, 10000));
    const CRun stopped = Latest(cancelled);
    EXPECT_EQ(stopped.outcome, CRun::Outcome::Cancelled);
    EXPECT_EQ(RunHistory::OutcomeText(stopped),
              "avbröts av anna på kvarn2; beräkningsflaggan återställdes");
    EXPECT_EQ(stopped.signal, SIGTERM);
    EXPECT_FALSE(db.IsRunFlagSet(cancelled));
    EXPECT_FALSE(Ended(limited));

    ASSERT_TRUE(QTest::qWaitFor([&] { return Ended(limited); }, 150000));
    const CRun timedOut = Latest(limited);
    EXPECT_EQ(timedOut.outcome, CRun::Outcome::TimedOut);
    EXPECT_EQ(RunHistory::OutcomeText(timedOut),
              "stoppades efter tidsgränsen; beräkningsflaggan återställdes");
    EXPECT_EQ(timedOut.signal, SIGKILL);
    EXPECT_EQ(RunHistory::ExitStatusText(timedOut), "signal 9");
    ASSERT_TRUE(timedOut.DurationMs().has_value());
    EXPECT_GE(*timedOut.DurationMs(), 89000);
    EXPECT_FALSE(db.IsRunFlagSet(limited));
    EXPECT_NE(::kill(pid_t(timedOut.processId), 0), 0);
}

// Its supervisor killed, a run beats no more: a scheduler with a clock of its own closes it two
// minutes after it last saw the beat change, not a second sooner, and a beat in between
// starts the two minutes over.
TEST_F(SupervisorTest, ARunWhoseSupervisorDiesIsClosedAsLostTwoMinutesOn) {
    const int orphaned = AddRow("Föräldralös", "Timme");
    const int beating = AddRow("Levande", "Dygn");
    Start(orphaned, {{"KVARNIXSIM_SECONDS", "600"}});
    Start(beating, {{"KVARNIXSIM_SECONDS", "600"}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return Running(orphaned) && Running(beating); }, 20000));
    const CRun run = Latest(orphaned);
    ASSERT_EQ(::kill(pid_t(run.supervisor), SIGKILL), 0);
    ASSERT_EQ(::kill(pid_t(run.processId), SIGKILL), 0);

    CFakeClock elsewhere{LocalTime("2031-05-04 12:00")};
    CSchedulerRig other{folder.ProgramFile(), elsewhere, true, "kvarn9"};
    QStringList announced;
    other.problems.SetAnnouncer([&](const QString& text) { announced << text; });
    const auto tickAt = [&](qint64 seconds) {
        elsewhere.Set(LocalTime("2031-05-04 12:00").addSecs(seconds));
        other.Tick();
    };
    const auto beat = [&](qint64 value) {
        CSqliteConnection connection;
        connection.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 5000);
        connection.Prepare("UPDATE KORNINGAR SET HJARTSLAG = ? WHERE rowid = ?")
            .Bind(1, value)
            .Bind(2, Latest(beating).id)
            .Run();
    };
    tickAt(0);
    beat(Latest(beating).heartbeat + 30);
    tickAt(60);
    tickAt(119);
    EXPECT_EQ(Latest(orphaned).outcome, CRun::Outcome::Running);
    tickAt(120);
    EXPECT_EQ(Latest(orphaned).outcome, CRun::Outcome::Lost);
    EXPECT_EQ(Latest(beating).outcome, CRun::Outcome::Running);
    EXPECT_EQ(RunHistory::Summary(Latest(orphaned)), "förlorad");
    EXPECT_FALSE(Latest(orphaned).DurationMs().has_value());
    EXPECT_EQ(folder.ReadLines(folder.LogFile())
                  .filter(folder.File("Föräldralös") +
                          "   Timme   (förlorad: körningens "
                          "övervakare på " +
                          run.host + " hördes senast av ")
                  .size(),
              1);
    EXPECT_EQ(announced,
              QStringList{QString("Rad %1: ").arg(orphaned) + folder.File("Föräldralös") +
                          "   Timme   (förlorad: körningens övervakare på " + run.host +
                          " hördes senast av " + TimeText(run.heartbeat) + ")"});
    tickAt(179);
    EXPECT_EQ(Latest(beating).outcome, CRun::Outcome::Running);
    tickAt(180);
    EXPECT_EQ(Latest(beating).outcome, CRun::Outcome::Lost);
    EXPECT_EQ(announced.size(), 2);
}

} // namespace
