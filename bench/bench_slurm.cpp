// The Slurm queue on a one-node cluster of its own: how many calculations a second sbatch
// hands over, and how long an idle cluster takes from a submission to the job's program
// running. Prints one figure a line as "name value". Needs root, as the cluster does.
#include "processprobe.h"

#include "base/stderrmessenger.h"
#include "cluster/slurmqueue.h"
#include "support/slurmcluster.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>

namespace {

constexpr int kSubmissions = 100;
constexpr int kStartRounds = 10;
constexpr int kWaitMs = 120000;
constexpr int kPollMs = 10;

CSlurmJobRequest Request(const CSlurmCluster& cluster, const QTemporaryDir& folder, int key) {
    CSlurmJobRequest request;
    request.key = key;
    request.partition = cluster.Partition();
    request.outputFile = folder.filePath(QStringLiteral("%1.out").arg(key));
    request.program = QStringLiteral("/bin/true");
    return request;
}

// True once no job of the cluster waits or runs.
bool WaitUntilEmpty(const CSlurmCluster& cluster) {
    const QDeadlineTimer deadline(kWaitMs);
    while (!deadline.hasExpired()) {
        if (cluster
                .Run(QStringLiteral("squeue"),
                     {QStringLiteral("--noheader"),
                      QStringLiteral("--states=pending,running,completing"),
                      QStringLiteral("--format=%i")})
                .isEmpty())
            return true;
        QThread::msleep(kPollMs);
    }
    PrintError(QStringLiteral("Klustret blev inte tomt inom %1 ms.").arg(kWaitMs));
    return false;
}

// The jobs are held, so that the figure is the handing over alone, not the node's work.
bool MeasureSubmissions(const CSlurmCluster& cluster, const QTemporaryDir& folder) {
    const CSlurmQueue queue(cluster.Environment());
    QElapsedTimer elapsed;
    elapsed.start();
    for (int key = 1; key <= kSubmissions; ++key) {
        CSlurmJobRequest request = Request(cluster, folder, key);
        request.options = QStringLiteral("--hold");
        const CSlurmQueue::CSubmission submission = queue.Submit(request);
        if (submission.jobId == 0) {
            PrintError(submission.error);
            return false;
        }
    }
    PrintFigure("slurm_submissions_per_s", kSubmissions * 1000.0 / double(elapsed.elapsed()));
    cluster.Run(QStringLiteral("scancel"), {QStringLiteral("--partition=") + cluster.Partition()});
    return WaitUntilEmpty(cluster);
}

// Milliseconds from the submission to the program writing the time it began; -1 on failure.
qint64 StartDelay(const CSlurmCluster& cluster, const QTemporaryDir& folder, int round) {
    const QString started = folder.filePath(QStringLiteral("started-%1").arg(round));
    CSlurmJobRequest request = Request(cluster, folder, kSubmissions + round);
    request.program = QStringLiteral("/bin/sh");
    request.arguments =
        QStringList{QStringLiteral("-c"), QStringLiteral("date +%s%3N > \"$0\""), started};
    const qint64 submitted = QDateTime::currentMSecsSinceEpoch();
    const CSlurmQueue::CSubmission submission = CSlurmQueue(cluster.Environment()).Submit(request);
    if (submission.jobId == 0) {
        PrintError(submission.error);
        return -1;
    }
    const QDeadlineTimer deadline(kWaitMs);
    QFile file(started);
    while (!deadline.hasExpired()) {
        if (file.open(QIODevice::ReadOnly)) {
            bool isNumber = false;
            const qint64 began = file.readAll().trimmed().toLongLong(&isNumber);
            file.close();
            if (isNumber)
                return WaitUntilEmpty(cluster) ? began - submitted : -1;
        }
        QThread::msleep(kPollMs);
    }
    PrintError(
        QStringLiteral("Jobbet %1 startade inte inom %2 ms.").arg(submission.jobId).arg(kWaitMs));
    return -1;
}

bool MeasureStartDelay(const CSlurmCluster& cluster, const QTemporaryDir& folder,
                       const char* medianName, const char* maxName) {
    QVector<qint64> delays;
    for (int round = 0; round < kStartRounds; ++round) {
        const qint64 delay = StartDelay(cluster, folder, round);
        if (delay < 0)
            return false;
        delays << delay;
    }
    PrintFigure(medianName, double(Median(delays)));
    PrintFigure(maxName, double(*std::max_element(delays.begin(), delays.end())));
    return true;
}

// Slurm's defaults, as a site keeps them unless it tunes its scheduler.
bool MeasureDefaultCluster() {
    const CSlurmCluster cluster;
    if (!cluster.IsUp()) {
        PrintError(QStringLiteral("Inget Slurm-kluster: %1").arg(cluster.Problem()));
        return false;
    }
    const QTemporaryDir folder;
    return MeasureStartDelay(cluster, folder, "slurm_start_delay_median_ms",
                             "slurm_start_delay_max_ms") &&
           MeasureSubmissions(cluster, folder);
}

// A controller that schedules a batch job as soon as it is submitted, where by default it may
// wait up to three seconds to gather more.
bool MeasureUndelayedCluster() {
    const CSlurmCluster cluster({QStringLiteral("SchedulerParameters=batch_sched_delay=0")});
    if (!cluster.IsUp()) {
        PrintError(QStringLiteral("Inget Slurm-kluster: %1").arg(cluster.Problem()));
        return false;
    }
    const QTemporaryDir folder;
    return MeasureStartDelay(cluster, folder, "slurm_start_delay_undelayed_median_ms",
                             "slurm_start_delay_undelayed_max_ms");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    return MeasureDefaultCluster() && MeasureUndelayedCluster() ? 0 : 1;
}
