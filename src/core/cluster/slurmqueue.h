#pragma once

#include "cluster/slurmjobrequest.h"
#include "cluster/slurmjobstate.h"

#include <QByteArray>
#include <QHash>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QVector>

// The Slurm cluster's batch queue as the scheduler uses it: hands a calculation over as a
// batch job, cancels one, and asks where its jobs stand. Every call runs one Slurm client
// command in the given environment (SLURM_CONF and the PATH that finds the commands) and
// returns within the time-out, whatever the controller does.
class CSlurmQueue {
public:
    static constexpr int kDefaultTimeoutSeconds = 30;
    // Slurm's own limit is given this much later than the row's, so that the run's own limit
    // stops the calculation and records how it ended, and Slurm's only stops what that missed.
    static constexpr int kLimitMarginMinutes = 2;

    struct CSubmission {
        qint64 jobId = 0; // 0 when the job was not submitted
        QString error;    // why not, in Swedish
    };
    struct CQueueStates {
        // One entry for every job asked about; empty when the controller could not tell.
        QHash<qint64, CSlurmJobState> jobs;
        QString error;
    };

    explicit CSlurmQueue(QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(),
                         int timeoutSeconds = kDefaultTimeoutSeconds);

    // sbatch's arguments (after the program name) for the request. sbatch runs only scripts,
    // so the job's script is JobScript(), read from standard input, and the program and its
    // arguments follow it as the script's arguments.
    static QStringList SubmissionArguments(const CSlurmJobRequest& request);
    static QByteArray JobScript();

    CSubmission Submit(const CSlurmJobRequest& request) const;
    // Empty when the job was cancelled or had already ended; otherwise why not.
    QString Cancel(qint64 jobId) const;
    // One squeue for all the jobs.
    CQueueStates States(const QVector<qint64>& jobIds) const;

    // Empty when the Slurm commands the scheduler needs can be found; otherwise what is
    // missing, in Swedish.
    QString MissingCommands() const;

private:
    QProcessEnvironment m_environment;
    int m_timeoutSeconds;
};
