// What the scheduler hands Slurm, read without a cluster: the submission's arguments, the
// states squeue names, and a machine without Slurm's commands.
#include "cluster/slurmqueue.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

namespace {

CSlurmJobRequest Request(const QString& partition, const QString& options, int limitMinutes) {
    CSlurmJobRequest request;
    request.key = 41;
    request.partition = partition;
    request.options = options;
    request.timeLimitMinutes = limitMinutes;
    request.outputFile = QStringLiteral("/data/körningar/41.out");
    request.program = QStringLiteral("/opt/kvarnix/bin/kvarnixrun");
    request.arguments = QStringList{QStringLiteral("/data/Kvarn Syd/$HOME.vxm"),
                                    QStringLiteral("Tim'beräkning"), QStringLiteral("41")};
    return request;
}

const QStringList kJob{QStringLiteral("/dev/stdin"), QStringLiteral("/opt/kvarnix/bin/kvarnixrun"),
                       QStringLiteral("/data/Kvarn Syd/$HOME.vxm"), QStringLiteral("Tim'beräkning"),
                       QStringLiteral("41")};

} // namespace

TEST(SlurmArguments, WithoutPartitionOptionsOrLimitTheJobIsNamedAndItsProgramFollowsWhole) {
    EXPECT_EQ(CSlurmQueue::SubmissionArguments(Request({}, {}, 0)),
              QStringList({QStringLiteral("--parsable"), QStringLiteral("--job-name=kvarnix-41"),
                           QStringLiteral("--output=/data/körningar/41.out")}) +
                  kJob);
}

TEST(SlurmArguments, PartitionOptionsAndLimitComeInTheirPlaces) {
    const QStringList arguments = CSlurmQueue::SubmissionArguments(
        Request(QStringLiteral("berakning"),
                QStringLiteral("--qos=hog --comment=\"natt och dag\" -c 3"), 7));
    EXPECT_EQ(arguments,
              QStringList({QStringLiteral("--parsable"), QStringLiteral("--partition=berakning"),
                           QStringLiteral("--qos=hog"), QStringLiteral("--comment=natt och dag"),
                           QStringLiteral("-c"), QStringLiteral("3"),
                           QStringLiteral("--job-name=kvarnix-41"), QStringLiteral("--time=9"),
                           QStringLiteral("--output=/data/körningar/41.out")}) +
                  kJob);
}

TEST(SlurmArguments, AnOptionCannotRenameTheJobOrMoveItsOutput) {
    const QStringList arguments = CSlurmQueue::SubmissionArguments(
        Request({}, QStringLiteral("--job-name=annat --output=/tmp/annat"), 0));
    EXPECT_GT(arguments.indexOf(QStringLiteral("--job-name=kvarnix-41")),
              arguments.indexOf(QStringLiteral("--job-name=annat")));
    EXPECT_GT(arguments.indexOf(QStringLiteral("--output=/data/körningar/41.out")),
              arguments.indexOf(QStringLiteral("--output=/tmp/annat")));
}

TEST(SlurmArguments, APercentInTheOutputFileIsNotAFileNamePattern) {
    CSlurmJobRequest request = Request({}, {}, 0);
    request.outputFile = QStringLiteral("/data/100%j/41.out");
    EXPECT_TRUE(CSlurmQueue::SubmissionArguments(request).contains(
        QStringLiteral("--output=/data/100%%j/41.out")));
}

TEST(SlurmArguments, TheJobScriptHandsItsArgumentsOnUnread) {
    EXPECT_EQ(CSlurmQueue::JobScript(), QByteArray("#!/bin/sh\nexec \"$@\"\n"));
}

TEST(SlurmJobStates, WaitingRunningAndEndedStatesAreToldApart) {
    EXPECT_EQ(SlurmJobState(QStringLiteral("PENDING"), QStringLiteral("BeginTime")).phase,
              CSlurmJobState::Phase::Pending);
    EXPECT_EQ(SlurmJobState(QStringLiteral("PENDING"), QStringLiteral("BeginTime")).reason,
              QStringLiteral("BeginTime"));
    EXPECT_EQ(SlurmJobState(QStringLiteral("REQUEUED"), QStringLiteral("None")).phase,
              CSlurmJobState::Phase::Pending);
    EXPECT_EQ(SlurmJobState(QStringLiteral("RUNNING"), QStringLiteral("None")).phase,
              CSlurmJobState::Phase::Running);
    EXPECT_EQ(SlurmJobState(QStringLiteral("COMPLETING"), QStringLiteral("None")).phase,
              CSlurmJobState::Phase::Running);
    EXPECT_EQ(SlurmJobState(QStringLiteral("NODE_FAIL"), QStringLiteral("None")).phase,
              CSlurmJobState::Phase::Ended);
    // A state this version does not know is never taken for an end.
    EXPECT_EQ(SlurmJobState(QStringLiteral("NEW_STATE"), QStringLiteral("None")).phase,
              CSlurmJobState::Phase::Running);
}

TEST(SlurmJobStates, EveryEndIsWordedInSwedish) {
    const auto end = [](const char* state) {
        return DescribeSlurmEnd(SlurmJobState(QLatin1String(state), QStringLiteral("None")));
    };
    EXPECT_EQ(end("NODE_FAIL"), QStringLiteral("noden föll bort"));
    EXPECT_EQ(end("CANCELLED"), QStringLiteral("avbröts i Slurm"));
    EXPECT_EQ(end("PREEMPTED"), QStringLiteral("trängdes undan i Slurm"));
    EXPECT_EQ(end("TIMEOUT"), QStringLiteral("stoppades av Slurms tidsgräns"));
    EXPECT_EQ(end("OUT_OF_MEMORY"), QStringLiteral("minnet tog slut i Slurm"));
    EXPECT_EQ(end("BOOT_FAIL"), QStringLiteral("noden kunde inte starta"));
    EXPECT_EQ(end("DEADLINE"), QStringLiteral("passerade sin deadline i Slurm"));
    EXPECT_EQ(end("FAILED"), QStringLiteral("misslyckades i Slurm"));
    EXPECT_EQ(end("SOMETHING_NEW"), QStringLiteral("slutade i Slurm (SOMETHING_NEW)"));
    EXPECT_EQ(DescribeSlurmEnd(CSlurmJobState{}), QStringLiteral("försvann ur Slurm"));
}

TEST(SlurmCommands, AMachineWithoutThemIsToldWhatToInstall) {
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/nonexistent/bin"));
    const CSlurmQueue queue(environment, 3);
    EXPECT_EQ(queue.MissingCommands(),
              QStringLiteral("Slurm-kommandona sbatch, squeue, scancel finns inte i sökvägen "
                             "(PATH) på den här datorn. Installera Slurms klientprogram "
                             "(Debian-paketet slurm-client)."));
    const CSlurmQueue::CSubmission submission = queue.Submit(Request({}, {}, 0));
    EXPECT_EQ(submission.jobId, 0);
    EXPECT_EQ(submission.error, QStringLiteral("sbatch finns inte i sökvägen (PATH)"));
}

TEST(SlurmCommands, OneMissingCommandIsNamedAlone) {
    CTestFolder folder;
    for (const char* name : {"sbatch", "squeue"}) {
        const QString path = folder.File(QLatin1String(name));
        folder.WriteText(path, QStringLiteral("#!/bin/sh\n"));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
    }
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), folder.Path());
    EXPECT_EQ(
        CSlurmQueue(environment, 4).MissingCommands(),
        QStringLiteral("Slurm-kommandot scancel finns inte i sökvägen (PATH) på den här "
                       "datorn. Installera Slurms klientprogram (Debian-paketet slurm-client)."));
}

TEST(SlurmCommands, WhereTheyAllAreNothingIsMissing) {
    EXPECT_EQ(CSlurmQueue(QProcessEnvironment::systemEnvironment(), 5).MissingCommands(),
              QString());
}

TEST(SlurmArguments, AnOutputFileSlurmWouldLoseIsRefusedBeforeSubmitting) {
    CSlurmJobRequest request = Request({}, {}, 0);
    request.outputFile = QStringLiteral("/data/a\\b/41.out");
    const CSlurmQueue::CSubmission submission =
        CSlurmQueue(QProcessEnvironment::systemEnvironment(), 6).Submit(request);
    EXPECT_EQ(submission.jobId, 0);
    EXPECT_EQ(submission.error,
              QStringLiteral("Slurm kan inte skriva utskriften till /data/a\\b/41.out: sökvägen "
                             "innehåller ett omvänt snedstreck (\\)"));
}
