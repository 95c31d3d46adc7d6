// The scheduler with its calculations sent to a real one-node Slurm cluster started for each
// test: a due row becomes a batch job whose supervisor records the run on the node; a job
// waits in the queue, is cancelled there or while it runs, is lost in Slurm, or is refused.
#include "commands/schedulecommands.h"
#include "history/runhistory.h"
#include "schedule/runstatereader.h"
#include "schedule/schedulelisting.h"
#include "support/schedulerrig.h"
#include "support/slurmcluster.h"
#include "support/testsupport.h"

#include <QFile>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

constexpr int kJobEndMs = 60000;

class SlurmScheduling : public testing::Test {
public:
    static void SetUpTestSuite() { s_cluster = std::make_unique<CSlurmCluster>(); }
    static void TearDownTestSuite() { s_cluster.reset(); }

protected:
    // The scheduler reaches the cluster through the process environment, as a monitor whose
    // SLURM_CONF names the cluster does.
    void SetUp() override {
        ASSERT_TRUE(s_cluster->IsUp()) << s_cluster->Problem().toStdString();
        qputenv("SLURM_CONF", s_cluster->ConfigFile().toLocal8Bit());
        qputenv("KVARNIXSIM_SECONDS", "0");
        qunsetenv("KVARNIXSIM_EXIT");
        db.OpenOrCreate();
        db.SaveRow("- - - -", KVARNIX_SIMULATOR, "- - - -", 0, 0);
        db.SetSetting("DRIFT", 1);
        db.SetSetting("SAVE", 1);
        db.SetTextSetting("KOR_PA", "slurm");
        db.SetTextSetting("SLURM_PARTITION", s_cluster->Partition());
    }

    int AddRow(const QString& model, const QString& time = "XXXX-XX-XX 10:00") {
        return db.SaveRow(time, model, "Makro", -1, 1);
    }
    CLaunchReport TickAt(const char* time) {
        clock.Set(LocalTime(QString("2026-12-07 ") + time));
        rig.Tick();
        return rig.reports.value(rig.reports.size() - 1);
    }
    CLaunchReport RunNow(int key) {
        rig.scheduler.RunNow(key, [this](const CLaunchReport& report) { rig.reports << report; });
        return rig.reports.last();
    }
    QStringList LogLines() const { return folder.ReadLines(folder.LogFile()); }
    CRun Latest(int key) { return db.LatestRun(key).value_or(CRun()); }
    bool WaitFor(const std::function<bool()>& condition, int ms = kJobEndMs) {
        return QTest::qWaitFor(condition, ms);
    }
    bool Ended(int key) { return Latest(key).ended.has_value(); }
    QString Outcome(int key) { return RunHistory::OutcomeText(Latest(key)); }

    static std::unique_ptr<CSlurmCluster> s_cluster;
    CTestFolder folder;
    CFakeClock clock;
    CSchedulerRig rig{folder.ProgramFile(), clock};
    CSystemDatabase db{folder.DatabaseFile()};
};

std::unique_ptr<CSlurmCluster> SlurmScheduling::s_cluster;

// Blanks, quotes and "$HOME" reach the calculation as they are: no shell reads them on the
// way. The supervisor records the start on the node, the end with its exit status.
TEST_F(SlurmScheduling, ADueRowRunsOnTheClusterWithItsArgumentsWholeAndItsExitStatus) {
    const QString argsFile = folder.File("argument.txt");
    qputenv("KVARNIXSIM_ARGS_FILE", argsFile.toUtf8());
    const QString model = folder.File("mo dell 'en' \"två\" $HOME/pump");
    const int key = AddRow(model);
    const CLaunchReport report = TickAt("10:00:01");
    ASSERT_TRUE(report.started) << report.reason.toStdString();
    const CRun submitted = Latest(key);
    EXPECT_GT(submitted.jobId, 0);
    ASSERT_TRUE(WaitFor([&] { return Ended(key); }));
    qunsetenv("KVARNIXSIM_ARGS_FILE");
    const CRun run = Latest(key);
    EXPECT_EQ(RunHistory::OutcomeText(run), "klar");
    EXPECT_EQ(run.jobId, submitted.jobId);
    EXPECT_EQ(run.queuedAt, LocalTime("2026-12-07 10:00:01").toSecsSinceEpoch());
    EXPECT_TRUE(run.seenRunning && run.startMs && run.endMs);
    EXPECT_EQ(run.host, QSysInfo::machineHostName());
    EXPECT_EQ(folder.ReadLines(argsFile),
              (QStringList{model + ".vxm", "Makro", QString::number(key), "1",
                           folder.DatabaseFile(), "1", "--"}));
    EXPECT_TRUE(LogLines().last().endsWith(model + "   Makro"));

    qputenv("KVARNIXSIM_EXIT", "3");
    const int failing = AddRow(folder.File("felande"), "XXXX-XX-XX 11:00");
    ASSERT_TRUE(RunNow(failing).started) << rig.reports.last().reason.toStdString();
    ASSERT_TRUE(WaitFor([&] { return Ended(failing); }));
    EXPECT_EQ(Outcome(failing), "misslyckades (kod 3)");
    EXPECT_EQ(Latest(failing).exitCode, 3);
}

// "--begin" holds the job: the run waits in the queue, shown as such, until Slurm starts it.
TEST_F(SlurmScheduling, AHeldJobWaitsInTheQueueAndThenRuns) {
    db.SetTextSetting("SLURM_FLAGGOR", "--begin=now+60 --comment=\"väntar en minut\"");
    const int key = AddRow(folder.File("vantande"));
    ASSERT_TRUE(TickAt("10:00:02").started) << rig.reports.last().reason.toStdString();
    const CRun queued = Latest(key);
    EXPECT_TRUE(queued.Queued());
    EXPECT_EQ(RunHistory::Summary(queued),
              QString("väntar i kön sedan 2026-12-07 10:00:02 (jobb %1)").arg(queued.jobId));
    EXPECT_TRUE(db.SupervisedHeartbeats().isEmpty());
    QHash<int, CRunState> states{{key, CRunState()}};
    CRunStateReader::AddRunEnds(db, states);
    EXPECT_TRUE(states.value(key).cancellable);
    CCalculationProcesses processes(folder.DatabaseFile());
    const QStringList lines =
        CScheduleListing(CScheduleListing::Read(db, processes, QSysInfo::machineHostName()),
                         clock.Now())
            .Lines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[1].contains("väntar i kön  väntar i kön sedan 2026-12-07 10:00:02"))
        << lines[1].toStdString();

    ASSERT_TRUE(WaitFor([&] { return Ended(key); }, 150000));
    const CRun run = Latest(key);
    EXPECT_EQ(RunHistory::OutcomeText(run), "klar");
    EXPECT_EQ(run.queuedAt, queued.queuedAt);
    EXPECT_GE(*run.seenRunning, *run.queuedAt + 55);
}

// A job still waiting is over at once; one that runs is stopped by its supervisor, which finds
// who asked when Slurm's SIGTERM reaches it. A job cancelled in Slurm by somebody else is
// found by the scheduler and closed with Slurm's word for it.
TEST_F(SlurmScheduling, CancelledJobsRecordWhoAskedAndOnesCancelledInSlurmAreClosed) {
    db.SetTextSetting("SLURM_FLAGGOR", "--begin=now+600");
    const int waiting = AddRow(folder.File("vantar"), "XXXX-XX-XX 10:00");
    const int outside = AddRow(folder.File("utanfor"), "XXXX-XX-XX 10:00");
    TickAt("10:00:03");
    ASSERT_TRUE(Latest(waiting).Queued() && Latest(outside).Queued());
    CScheduleCommands otherMonitor(folder.DatabaseFile());
    EXPECT_TRUE(otherMonitor.RequestCancel(waiting, "anna på kvarn2"));
    EXPECT_TRUE(Ended(waiting));
    EXPECT_EQ(Outcome(waiting), "avbröts av anna på kvarn2");
    EXPECT_EQ(s_cluster->Run("squeue", {"--noheader", "--states=all", "--format=%T", "--jobs",
                                        QString::number(Latest(waiting).jobId)}),
              "CANCELLED");

    db.SetTextSetting("SLURM_FLAGGOR", "");
    qputenv("KVARNIXSIM_SECONDS", "600");
    const int running = AddRow(folder.File("kors"), "XXXX-XX-XX 11:00");
    ASSERT_TRUE(RunNow(running).started);
    // Running on the node, and far enough to have raised its run flag.
    ASSERT_TRUE(WaitFor(
        [&] { return Latest(running).seenRunning.has_value() && db.IsRunFlagSet(running); }));
    EXPECT_TRUE(otherMonitor.RequestCancel(running, "bertil på kvarn3"));
    ASSERT_TRUE(WaitFor([&] { return Ended(running); }));
    EXPECT_EQ(Outcome(running), "avbröts av bertil på kvarn3; beräkningsflaggan återställdes");

    s_cluster->Run("scancel", {QString::number(Latest(outside).jobId)});
    const bool closed = WaitFor(
        [&] {
            TickAt("10:00:04");
            return Ended(outside);
        },
        150000);
    ASSERT_TRUE(closed);
    EXPECT_EQ(Outcome(outside), "förlorad: avbröts i Slurm");
    EXPECT_TRUE(LogLines().last().endsWith(
        QString("(förlorad: Slurm-jobbet %1 avbröts i Slurm)").arg(Latest(outside).jobId)));
}

// The supervisor's own limit stops the calculation before Slurm's, and says so.
TEST_F(SlurmScheduling, TheRowsTimeLimitStopsAHangingCalculation) {
    qputenv("KVARNIXSIM_SECONDS", "600");
    const int key = AddRow(folder.File("hanger"));
    db.SetSetting(QString("MAXTID%1").arg(key), 1);
    ASSERT_TRUE(TickAt("10:00:05").started);
    ASSERT_TRUE(WaitFor([&] { return Ended(key); }, 120000));
    EXPECT_EQ(Outcome(key), "stoppades efter tidsgränsen; beräkningsflaggan återställdes");
    const CRun run = Latest(key);
    EXPECT_GE(*run.endMs - *run.startMs, 60000);
}

// sbatch's own words reach the history and the log; with two schedulers on one file each
// minute's row is submitted once.
TEST_F(SlurmScheduling, ARefusedJobIsAFailedStartAndTwoSchedulersSubmitOnce) {
    db.SetTextSetting("SLURM_PARTITION", "finnsinte");
    const int key = AddRow(folder.File("avvisad"));
    const CLaunchReport refused = TickAt("10:00:06");
    EXPECT_FALSE(refused.started);
    EXPECT_EQ(refused.reason, "sbatch avvisade jobbet: invalid partition specified: finnsinte; "
                              "Batch job submission failed: Invalid partition name specified");
    EXPECT_EQ(Latest(key).outcome, CRun::Outcome::NotStarted);
    EXPECT_EQ(Outcome(key), "kunde inte startas: " + refused.reason);
    EXPECT_TRUE(LogLines().last().endsWith("(kunde inte startas: " + refused.reason + ")"));

    db.SetTextSetting("SLURM_PARTITION", s_cluster->Partition());
    const int shared = AddRow(folder.File("delad"), "XXXX-XX-XX 10:01");
    CSchedulerRig second(folder.ProgramFile(), clock, false, "kvarn2");
    clock.Set(LocalTime("2026-12-07 10:01:00"));
    std::thread other([&] { second.Tick(); });
    rig.Tick();
    other.join();
    const QVector<CRun> runs = db.Runs(shared, 0, 10);
    ASSERT_EQ(runs.size(), 1);
    EXPECT_GT(runs[0].jobId, 0);
    EXPECT_EQ(rig.reports.size() + second.reports.size(), 2);
    ASSERT_TRUE(WaitFor([&] { return Ended(shared); }));
    EXPECT_EQ(Outcome(shared), "klar");
}

} // namespace
