#pragma once

#include <QString>
#include <QStringList>

// One calculation to be handed to Slurm as a batch job.
struct CSlurmJobRequest {
    int key = 0; // the row's key; the job is named after it
    // Empty: the cluster's default partition.
    QString partition;
    // Further sbatch options as the operator wrote them, split like a command line.
    QString options;
    // 0: no limit of the row's own.
    int timeLimitMinutes = 0;
    // Where the job's standard output and error go.
    QString outputFile;
    // The program the job runs on its node, and its arguments, each handed over whole.
    QString program;
    QStringList arguments;
};
