#include "files/programpaths.h"

#include <QDir>
#include <QFileInfo>

CProgramPaths::CProgramPaths(const QString& programFilePath, const QString& dataFolder)
    : m_programFile(programFilePath),
      m_filesStem(dataFolder.isEmpty()
                      ? programFilePath
                      : QDir(dataFolder).absoluteFilePath(QFileInfo(programFilePath).fileName())) {}

QString CProgramPaths::DataFolder() const {
    return QFileInfo(m_filesStem).absolutePath();
}

QString CProgramPaths::LockFile() const {
    return DataFolder() + QStringLiteral("/MonitorLoc.loc");
}

QString CProgramPaths::OutputFolder() const {
    return DataFolder() + QStringLiteral("/utskrifter");
}

QString CProgramPaths::OutputFile(qint64 runId) const {
    return OutputFolder() + QStringLiteral("/korning-%1.txt").arg(runId);
}

QString CProgramPaths::JobOutputFile(const QString& outputFile) {
    return outputFile + QStringLiteral(".slurm");
}

QString CProgramPaths::RunSupervisor() const {
    return QFileInfo(m_programFile).absolutePath() + QStringLiteral("/kvarnixrun");
}

QString CProgramPaths::ChooseDataFolder(const QString& fromCommandLine) {
    if (!fromCommandLine.isEmpty())
        return fromCommandLine;
    if (const QString fromEnvironment = qEnvironmentVariable("KVARNIX_MAPP");
        !fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStringLiteral(KVARNIX_DATA_DIR);
}

QString WithFileSuffix(const QString& filePath, const QString& suffix) {
    const qsizetype slash = filePath.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = filePath.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > slash ? filePath.left(dot) : filePath;
    return stem + QLatin1Char('.') + suffix;
}
