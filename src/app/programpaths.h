#pragma once

#include <QString>

// Every file the monitor keeps is named from the program's own path.
class CProgramPaths {
public:
    explicit CProgramPaths(const QString& programFilePath);

    QString ProgramFile() const { return m_programFile; }
    QString MonitorDatabase() const { return WithSuffix("mdb"); }
    QString MonitorLog() const { return WithSuffix("log"); }
    QString TrimFile() const { return WithSuffix("xxx"); }
    QString LockFile() const;

private:
    // The file name's own suffix is replaced, or the suffix appended when it has
    // none; a dot in a folder name never counts.
    QString WithSuffix(const QString& suffix) const;

    QString m_programFile;
};
