#include "programpaths.h"

#include <QFileInfo>

CProgramPaths::CProgramPaths(const QString& programFilePath) : m_programFile(programFilePath) {}

QString CProgramPaths::LockFile() const {
    return QFileInfo(m_programFile).absolutePath() + QStringLiteral("/MonitorLoc.loc");
}

QString CProgramPaths::WithSuffix(const QString& suffix) const {
    const qsizetype slash = m_programFile.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = m_programFile.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > slash ? m_programFile.left(dot) : m_programFile;
    return stem + QLatin1Char('.') + suffix;
}
