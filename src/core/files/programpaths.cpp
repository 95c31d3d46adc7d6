#include "files/programpaths.h"

#include <QFileInfo>

CProgramPaths::CProgramPaths(const QString& programFilePath) : m_programFile(programFilePath) {}

QString CProgramPaths::LockFile() const {
    return QFileInfo(m_programFile).absolutePath() + QStringLiteral("/MonitorLoc.loc");
}

QString WithFileSuffix(const QString& filePath, const QString& suffix) {
    const qsizetype slash = filePath.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = filePath.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > slash ? filePath.left(dot) : filePath;
    return stem + QLatin1Char('.') + suffix;
}
