#include "slurmqueue.h"

#include "cluster/slurmcommand.h"

#include <QProcess>

namespace {

const QStringList kCommands{QStringLiteral("sbatch"), QStringLiteral("squeue"),
                            QStringLiteral("scancel")};

// The file sbatch reads the job's script from: the submitter's standard input.
const QString kScriptFromInput = QStringLiteral("/dev/stdin");

// sbatch expands "%j" and the like in the output file's name; "%%" is a plain "%".
QString LiteralFileName(QString path) {
    return path.replace(QLatin1Char('%'), QStringLiteral("%%"));
}

// "sbatch: error: Invalid partition name specified" -> "Invalid partition name specified".
QString WithoutPrefixes(const QString& errors) {
    QStringList lines = errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& line : lines) {
        line = line.trimmed();
        for (const char* prefix : {"sbatch: error: ", "scancel: error: "}) {
            if (line.startsWith(QLatin1String(prefix)))
                line.remove(0, int(qstrlen(prefix)));
        }
    }
    return lines.join(QStringLiteral("; "));
}

// "123" or "123;cluster" -> 123; 0 when the reply holds no job id.
qint64 ParseJobId(const QByteArray& output) {
    const QByteArray first = output.trimmed().split('\n').value(0).split(';').value(0);
    bool isNumber = false;
    const qint64 id = first.toLongLong(&isNumber);
    return isNumber && id > 0 ? id : 0;
}

QString JobList(const QVector<qint64>& jobIds) {
    QStringList ids;
    for (qint64 id : jobIds)
        ids << QString::number(id);
    return ids.join(QLatin1Char(','));
}

// squeue's lines "id|STATE|reason"; jobs the controller no longer knows are missing.
QHash<qint64, CSlurmJobState> ParseQueue(const QByteArray& output) {
    QHash<qint64, CSlurmJobState> jobs;
    for (const QByteArray& line : output.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('|');
        bool isNumber = false;
        const qint64 id = fields.value(0).toLongLong(&isNumber);
        if (fields.size() == 3 && isNumber)
            jobs.insert(id,
                        SlurmJobState(QString::fromUtf8(fields[1]), QString::fromUtf8(fields[2])));
    }
    return jobs;
}

} // namespace

CSlurmQueue::CSlurmQueue(QProcessEnvironment environment, int timeoutSeconds)
    : m_environment(std::move(environment)), m_timeoutSeconds(timeoutSeconds) {}

QStringList CSlurmQueue::SubmissionArguments(const CSlurmJobRequest& request) {
    QStringList arguments{QStringLiteral("--parsable")};
    if (!request.partition.isEmpty())
        arguments << QStringLiteral("--partition=") + request.partition;
    arguments << QProcess::splitCommand(request.options);
    // After the operator's options, so that none of them can rename the job, change its
    // limit or send its output elsewhere.
    arguments << QStringLiteral("--job-name=kvarnix-%1").arg(request.key);
    if (request.timeLimitMinutes > 0)
        arguments
            << QStringLiteral("--time=%1").arg(request.timeLimitMinutes + kLimitMarginMinutes);
    arguments << QStringLiteral("--output=") + LiteralFileName(request.outputFile);
    arguments << kScriptFromInput << request.program << request.arguments;
    return arguments;
}

QByteArray CSlurmQueue::JobScript() {
    // "$@" hands the arguments on as they came, without the shell reading them.
    return QByteArrayLiteral("#!/bin/sh\nexec \"$@\"\n");
}

CSlurmQueue::CSubmission CSlurmQueue::Submit(const CSlurmJobRequest& request) const {
    // A backslash makes Slurm take the whole name literally but drop the backslash, so the
    // output would go nowhere.
    if (request.outputFile.contains(QLatin1Char('\\')))
        return {0, QStringLiteral("Slurm kan inte skriva utskriften till %1: sökvägen innehåller "
                                  "ett omvänt snedstreck (\\)")
                       .arg(request.outputFile)};
    const CSlurmCommand sbatch(QStringLiteral("sbatch"), m_environment, m_timeoutSeconds);
    const CSlurmCommand::CResult result = sbatch.Run(SubmissionArguments(request), JobScript());
    if (!result.finished)
        return {0, result.problem};
    if (result.exitCode != 0)
        return {
            0,
            result.errors.isEmpty()
                ? QStringLiteral("sbatch avslutades med status %1").arg(result.exitCode)
                : QStringLiteral("sbatch avvisade jobbet: %1").arg(WithoutPrefixes(result.errors))};
    const qint64 jobId = ParseJobId(result.output);
    if (jobId == 0)
        return {0, QStringLiteral("sbatch gav inget jobbnummer: %1")
                       .arg(QString::fromLocal8Bit(result.output.trimmed()))};
    return {jobId, {}};
}

QString CSlurmQueue::Cancel(qint64 jobId) const {
    const CSlurmCommand scancel(QStringLiteral("scancel"), m_environment, m_timeoutSeconds);
    const CSlurmCommand::CResult result = scancel.Run({QString::number(jobId)});
    if (!result.finished)
        return result.problem;
    if (result.exitCode != 0)
        return QStringLiteral("scancel kunde inte avbryta jobbet %1: %2")
            .arg(jobId)
            .arg(result.errors.isEmpty() ? QStringLiteral("status %1").arg(result.exitCode)
                                         : WithoutPrefixes(result.errors));
    return {};
}

CSlurmQueue::CQueueStates CSlurmQueue::States(const QVector<qint64>& jobIds) const {
    CQueueStates states;
    if (jobIds.isEmpty())
        return states;
    const CSlurmCommand squeue(QStringLiteral("squeue"), m_environment, m_timeoutSeconds);
    const CSlurmCommand::CResult result = squeue.Run(
        {QStringLiteral("--noheader"), QStringLiteral("--states=all"),
         QStringLiteral("--jobs=") + JobList(jobIds), QStringLiteral("--format=%i|%T|%r")});
    if (!result.finished) {
        states.error = result.problem;
        return states;
    }
    // squeue fails when it knows none of the jobs, and leaves out the ones it does not know.
    const bool noneKnown = result.errors.contains(QLatin1String("Invalid job id specified"));
    if (result.exitCode != 0 && !noneKnown) {
        states.error = QStringLiteral("squeue misslyckades: %1").arg(result.errors);
        return states;
    }
    states.jobs = ParseQueue(result.output);
    for (qint64 id : jobIds)
        states.jobs.insert(id, states.jobs.value(id)); // the default state is Unknown
    return states;
}

QString CSlurmQueue::MissingCommands() const {
    QStringList missing;
    for (const QString& command : kCommands) {
        if (CSlurmCommand::Find(command, m_environment).isEmpty())
            missing << command;
    }
    if (missing.isEmpty())
        return {};
    const QString what = missing.size() == 1 ? QStringLiteral("Slurm-kommandot %1 finns")
                                             : QStringLiteral("Slurm-kommandona %1 finns");
    return what.arg(missing.join(QStringLiteral(", "))) +
           QStringLiteral(" inte i sökvägen (PATH) på den här datorn. Installera Slurms "
                          "klientprogram (Debian-paketet slurm-client).");
}
