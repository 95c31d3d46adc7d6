#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// One Slurm client command (sbatch, squeue, scancel) run to its end: found in the PATH of
// the environment it runs in, given its arguments as they are (never through a shell), and
// killed when it takes longer than its time-out, since a controller that does not answer
// would otherwise hold up the scheduler for as long as the command keeps retrying.
class CSlurmCommand {
public:
    struct CResult {
        // False when the command could not start, was killed at its time-out or by a signal;
        // the problem then says which, in Swedish.
        bool finished = false;
        int exitCode = -1;
        QByteArray output;
        // Standard error, trimmed.
        QString errors;
        QString problem;
    };

    CSlurmCommand(QString name, QProcessEnvironment environment, int timeoutSeconds);

    CResult Run(const QStringList& arguments, const QByteArray& input = {}) const;

    // The command's full path in the environment's PATH; empty when it is not there.
    static QString Find(const QString& name, const QProcessEnvironment& environment);

private:
    QString m_name;
    QProcessEnvironment m_environment;
    int m_timeoutSeconds;
};
