#pragma once

#include <QString>

// The file name's own suffix is replaced, or the suffix appended when it has none;
// a dot in a folder name never counts. The programs on this platform usually have
// no suffix, so simply cutting at the last dot would name files after a folder.
QString WithFileSuffix(const QString& filePath, const QString& suffix);

// Every file the monitor keeps is named from the program's own path.
class CProgramPaths {
public:
    explicit CProgramPaths(const QString& programFilePath);

    QString ProgramFile() const { return m_programFile; }
    QString MonitorDatabase() const { return WithFileSuffix(m_programFile, "mdb"); }
    QString MonitorLog() const { return WithFileSuffix(m_programFile, "log"); }
    QString TrimFile() const { return WithFileSuffix(m_programFile, "xxx"); }
    QString LockFile() const;

private:
    QString m_programFile;
};
