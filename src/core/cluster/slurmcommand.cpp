#include "slurmcommand.h"

#include <QProcess>
#include <QStandardPaths>

namespace {

constexpr int kMsPerSecond = 1000;

void Collect(QProcess& process, CSlurmCommand::CResult& result) {
    result.output = process.readAllStandardOutput();
    result.errors = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
}

} // namespace

CSlurmCommand::CSlurmCommand(QString name, QProcessEnvironment environment, int timeoutSeconds)
    : m_name(std::move(name)), m_environment(std::move(environment)),
      m_timeoutSeconds(timeoutSeconds) {}

QString CSlurmCommand::Find(const QString& name, const QProcessEnvironment& environment) {
    const QStringList folders =
        environment.value(QStringLiteral("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    // An empty list would make Qt search the PATH of this process instead.
    return folders.isEmpty() ? QString() : QStandardPaths::findExecutable(name, folders);
}

CSlurmCommand::CResult CSlurmCommand::Run(const QStringList& arguments,
                                          const QByteArray& input) const {
    CResult result;
    const QString program = Find(m_name, m_environment);
    if (program.isEmpty()) {
        result.problem = QStringLiteral("%1 finns inte i sökvägen (PATH)").arg(m_name);
        return result;
    }
    QProcess process;
    process.setProcessEnvironment(m_environment);
    process.start(program, arguments);
    if (!process.waitForStarted(m_timeoutSeconds * kMsPerSecond)) {
        result.problem =
            QStringLiteral("%1 kunde inte startas: %2").arg(m_name, process.errorString());
        return result;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(m_timeoutSeconds * kMsPerSecond)) {
        process.kill();
        process.waitForFinished();
        Collect(process, result);
        result.problem =
            QStringLiteral("%1 svarade inte inom %2 s").arg(m_name).arg(m_timeoutSeconds);
        return result;
    }
    Collect(process, result);
    if (process.exitStatus() == QProcess::CrashExit) {
        result.problem = QStringLiteral("%1 avbröts av en signal").arg(m_name);
        return result;
    }
    result.finished = true;
    result.exitCode = process.exitCode();
    return result;
}
