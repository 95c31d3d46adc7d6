// The Slurm queue against a real one-node cluster started for the test: what is submitted
// runs with its arguments whole, waits, is cancelled or refused as Slurm says.
#include "cluster/slurmqueue.h"

#include "support/slurmcluster.h"
#include "support/testsupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr int kStateWaitMs = 60000;
constexpr int kPollMs = 100;

// Records its arguments, one a line, in $JOB_RECORD, writes to its output, then waits
// $JOB_SECONDS.
const char kJobScript[] = "#!/bin/sh\n"
                          "printf '%s\\n' \"$@\" > \"$JOB_RECORD.part\"\n"
                          "mv \"$JOB_RECORD.part\" \"$JOB_RECORD\"\n"
                          "echo utskrift från jobbet\n"
                          "exec sleep \"$JOB_SECONDS\"\n";

class SlurmQueueOnCluster : public testing::Test {
public:
    static void SetUpTestSuite() { s_cluster = std::make_unique<CSlurmCluster>(); }
    static void TearDownTestSuite() { s_cluster.reset(); }

protected:
    void SetUp() override {
        ASSERT_TRUE(s_cluster->IsUp()) << s_cluster->Problem().toStdString();
        m_folder.WriteText(Job(), QString::fromUtf8(kJobScript));
        QFile::setPermissions(Job(), QFile::ReadOwner | QFile::ExeOwner);
    }

    QString Job() const { return m_folder.File(QStringLiteral("job.sh")); }
    QString Record() const { return m_folder.File(QStringLiteral("arguments")); }

    // A queue whose jobs record their arguments and then run for the seconds given.
    CSlurmQueue Queue(int jobSeconds, int timeoutSeconds = CSlurmQueue::kDefaultTimeoutSeconds,
                      QProcessEnvironment environment = s_cluster->Environment()) const {
        environment.insert(QStringLiteral("JOB_RECORD"), Record());
        environment.insert(QStringLiteral("JOB_SECONDS"), QString::number(jobSeconds));
        return CSlurmQueue(environment, timeoutSeconds);
    }

    CSlurmJobRequest Request(int key, const QString& options) const {
        CSlurmJobRequest request;
        request.key = key;
        request.partition = s_cluster->Partition();
        request.options = options;
        request.outputFile = m_folder.File(QStringLiteral("utskrift %1.txt").arg(key));
        request.program = Job();
        return request;
    }

    qint64 Submitted(const CSlurmQueue& queue, const CSlurmJobRequest& request) const {
        const CSlurmQueue::CSubmission submission = queue.Submit(request);
        EXPECT_EQ(submission.error, QString());
        EXPECT_GT(submission.jobId, 0);
        return submission.jobId;
    }

    // The job's state once it is in the phase, or its last state when it never got there.
    static CSlurmJobState WaitForPhase(const CSlurmQueue& queue, qint64 jobId,
                                       CSlurmJobState::Phase phase) {
        const QDeadlineTimer deadline(kStateWaitMs);
        CSlurmJobState state;
        while (!deadline.hasExpired()) {
            const CSlurmQueue::CQueueStates states = queue.States({jobId});
            EXPECT_EQ(states.error, QString());
            state = states.jobs.value(jobId);
            if (state.phase == phase)
                break;
            QThread::msleep(kPollMs);
        }
        return state;
    }

    // Waits until the job's program has begun: its arguments are recorded.
    QStringList RecordedArguments() const {
        const QDeadlineTimer deadline(kStateWaitMs);
        while (!QFile::exists(Record()) && !deadline.hasExpired())
            QThread::msleep(kPollMs);
        return m_folder.ReadLines(Record());
    }

    static std::unique_ptr<CSlurmCluster> s_cluster;
    CTestFolder m_folder;
};

std::unique_ptr<CSlurmCluster> SlurmQueueOnCluster::s_cluster;

} // namespace

TEST_F(SlurmQueueOnCluster, ASubmittedJobRunsWithItsArgumentsWholeAndWritesItsOutputFile) {
    const CSlurmQueue queue = Queue(0);
    CSlurmJobRequest request = Request(17, QStringLiteral("--comment=\"natt och dag\""));
    request.outputFile = m_folder.File(QStringLiteral("100%j utskrift.txt"));
    const QStringList arguments{QStringLiteral("/data/Kvarn Syd/$HOME's modell.vxm"),
                                QStringLiteral("Tim \"beräkning\""),
                                QStringLiteral("17"),
                                QStringLiteral("1"),
                                QStringLiteral("/data/mapp/kvarnixmonitor.mdb"),
                                QStringLiteral("*")};
    request.arguments = arguments;
    const qint64 jobId = Submitted(queue, request);

    const CSlurmJobState ended = WaitForPhase(queue, jobId, CSlurmJobState::Phase::Ended);
    EXPECT_EQ(ended.slurmState, QStringLiteral("COMPLETED"));
    EXPECT_EQ(RecordedArguments(), arguments);
    EXPECT_EQ(m_folder.ReadLines(request.outputFile),
              QStringList{QStringLiteral("utskrift från jobbet")});
    EXPECT_EQ(
        s_cluster->Run(QStringLiteral("squeue"),
                       {QStringLiteral("--noheader"), QStringLiteral("--states=all"),
                        QStringLiteral("--jobs=%1").arg(jobId), QStringLiteral("--format=%j")}),
        QStringLiteral("kvarnix-17"));
}

TEST_F(SlurmQueueOnCluster, AJobHeldInTheQueueIsPendingAndIsCancelledThere) {
    const CSlurmQueue queue = Queue(1);
    const qint64 jobId = Submitted(queue, Request(23, QStringLiteral("--begin=now+60")));

    const CSlurmJobState waiting = queue.States({jobId}).jobs.value(jobId);
    EXPECT_EQ(waiting.phase, CSlurmJobState::Phase::Pending);
    EXPECT_EQ(waiting.reason, QStringLiteral("BeginTime"));

    EXPECT_EQ(queue.Cancel(jobId), QString());
    const CSlurmJobState ended = WaitForPhase(queue, jobId, CSlurmJobState::Phase::Ended);
    EXPECT_EQ(ended.slurmState, QStringLiteral("CANCELLED"));
    EXPECT_FALSE(QFile::exists(Record()));
}

TEST_F(SlurmQueueOnCluster, ARunningJobIsCancelled) {
    const CSlurmQueue queue = Queue(300);
    const qint64 jobId = Submitted(queue, Request(29, {}));
    EXPECT_EQ(WaitForPhase(queue, jobId, CSlurmJobState::Phase::Running).phase,
              CSlurmJobState::Phase::Running);
    EXPECT_FALSE(RecordedArguments().isEmpty());

    EXPECT_EQ(queue.Cancel(jobId), QString());
    EXPECT_EQ(WaitForPhase(queue, jobId, CSlurmJobState::Phase::Ended).slurmState,
              QStringLiteral("CANCELLED"));
}

TEST_F(SlurmQueueOnCluster, AJobCancelledOutsideIsReportedCancelledInSlurm) {
    const CSlurmQueue queue = Queue(310);
    const qint64 jobId = Submitted(queue, Request(31, {}));
    EXPECT_FALSE(RecordedArguments().isEmpty());

    s_cluster->Run(QStringLiteral("scancel"), {QString::number(jobId)});
    const CSlurmJobState ended = WaitForPhase(queue, jobId, CSlurmJobState::Phase::Ended);
    EXPECT_EQ(ended.slurmState, QStringLiteral("CANCELLED"));
    EXPECT_EQ(DescribeSlurmEnd(ended), QStringLiteral("avbröts i Slurm"));
}

TEST_F(SlurmQueueOnCluster, OneQuestionTellsWaitingEndedAndUnknownJobsApart) {
    const CSlurmQueue queue = Queue(0);
    const qint64 held = Submitted(queue, Request(37, QStringLiteral("--begin=now+120")));
    const qint64 done = Submitted(queue, Request(43, {}));
    WaitForPhase(queue, done, CSlurmJobState::Phase::Ended);
    const qint64 neverSubmitted = held + 100000;

    const CSlurmQueue::CQueueStates states = queue.States({held, neverSubmitted, done});
    EXPECT_EQ(states.error, QString());
    EXPECT_EQ(states.jobs.size(), 3);
    EXPECT_EQ(states.jobs.value(held).phase, CSlurmJobState::Phase::Pending);
    EXPECT_EQ(states.jobs.value(done).phase, CSlurmJobState::Phase::Ended);
    EXPECT_EQ(states.jobs.value(done).slurmState, QStringLiteral("COMPLETED"));
    EXPECT_EQ(states.jobs.value(neverSubmitted).phase, CSlurmJobState::Phase::Unknown);
    EXPECT_EQ(queue.Cancel(held), QString());
}

TEST_F(SlurmQueueOnCluster, AJobTheControllerDoesNotKnowIsUnknownNotAnError) {
    const CSlurmQueue::CQueueStates states = Queue(0).States({987654});
    EXPECT_EQ(states.error, QString());
    EXPECT_EQ(states.jobs.value(987654).phase, CSlurmJobState::Phase::Unknown);
    EXPECT_EQ(DescribeSlurmEnd(states.jobs.value(987654)), QStringLiteral("försvann ur Slurm"));
}

TEST_F(SlurmQueueOnCluster, ABadPartitionIsRefusedWithSbatchsMessage) {
    CSlurmJobRequest request = Request(47, {});
    request.partition = QStringLiteral("finnsinte");
    const CSlurmQueue::CSubmission submission = Queue(0).Submit(request);
    EXPECT_EQ(submission.jobId, 0);
    EXPECT_TRUE(submission.error.startsWith(QStringLiteral("sbatch avvisade jobbet: ")))
        << submission.error.toStdString();
    EXPECT_TRUE(submission.error.contains(QStringLiteral("Invalid partition name specified")))
        << submission.error.toStdString();
}

// A configuration whose controller port nobody listens on.
class SlurmQueueWithoutController : public SlurmQueueOnCluster {
protected:
    QProcessEnvironment Unreachable() const {
        QFile config(s_cluster->ConfigFile());
        EXPECT_TRUE(config.open(QIODevice::ReadOnly));
        const QString text =
            QString::fromUtf8(config.readAll())
                .replace(QStringLiteral("SlurmctldPort=%1").arg(s_cluster->ControllerPort()),
                         QStringLiteral("SlurmctldPort=1"));
        const QString path = m_folder.File(QStringLiteral("unreachable.conf"));
        m_folder.WriteText(path, text);
        QProcessEnvironment environment = s_cluster->Environment();
        environment.insert(QStringLiteral("SLURM_CONF"), path);
        return environment;
    }
};

TEST_F(SlurmQueueWithoutController, ASubmissionFailsWithSbatchsMessage) {
    const CSlurmQueue::CSubmission submission = Queue(0, 50, Unreachable()).Submit(Request(53, {}));
    EXPECT_EQ(submission.jobId, 0);
    EXPECT_TRUE(submission.error.contains(QStringLiteral("Unable to contact slurm controller")))
        << submission.error.toStdString();
}

TEST_F(SlurmQueueWithoutController, ASubmissionThatTakesLongerThanItsTimeOutIsGivenUp) {
    const CSlurmQueue::CSubmission submission = Queue(0, 2, Unreachable()).Submit(Request(59, {}));
    EXPECT_EQ(submission.jobId, 0);
    EXPECT_EQ(submission.error, QStringLiteral("sbatch svarade inte inom 2 s"));
}

TEST_F(SlurmQueueWithoutController, AQueueThatCannotBeAskedIsAnErrorNotUnknownJobs) {
    const CSlurmQueue::CQueueStates states = Queue(0, 45, Unreachable()).States({61, 67});
    EXPECT_TRUE(states.jobs.isEmpty());
    EXPECT_TRUE(states.error.startsWith(QStringLiteral("squeue misslyckades: ")))
        << states.error.toStdString();
}

TEST_F(SlurmQueueWithoutController, ACancelThatCannotReachTheControllerSaysSo) {
    EXPECT_EQ(Queue(0, 3, Unreachable()).Cancel(71),
              QStringLiteral("scancel svarade inte inom 3 s"));
}
