#pragma once

#include <QString>

// The file name's own suffix is replaced, or the suffix appended when it has none;
// a dot in a folder name never counts. The programs on this platform usually have
// no suffix, so simply cutting at the last dot would name files after a folder.
QString WithFileSuffix(const QString& filePath, const QString& suffix);

// Every file the monitor keeps is named from the program's own path: beside the program,
// or, when a data folder is named, with the same names in that folder (a program
// installed where its users may not write keeps its files where they may).
class CProgramPaths {
public:
    explicit CProgramPaths(const QString& programFilePath, const QString& dataFolder = {});

    QString ProgramFile() const { return m_programFile; }
    // The folder the files lie in.
    QString DataFolder() const;
    QString MonitorDatabase() const { return WithFileSuffix(m_filesStem, "mdb"); }
    QString MonitorLog() const { return WithFileSuffix(m_filesStem, "log"); }
    QString TrimFile() const { return WithFileSuffix(m_filesStem, "xxx"); }
    QString LockFile() const;
    // The runs' output files, one a run, in a folder of their own beside the database.
    QString OutputFolder() const;
    QString OutputFile(qint64 runId) const;
    // The run supervisor, installed beside the program.
    QString RunSupervisor() const;
    // Where Slurm writes what a batch job itself says (the supervisor's complaints, the
    // controller's notes on a cancelled job): beside the run's output file, never into it, as
    // the supervisor keeps that file's tail in place.
    static QString JobOutputFile(const QString& outputFile);

    // The data folder a program is to use: the one named on its command line, else the one
    // in KVARNIX_MAPP, else the one the build was made with; empty for beside the program.
    static QString ChooseDataFolder(const QString& fromCommandLine);

private:
    QString m_programFile;
    // The program's path, or the same file name in the data folder.
    QString m_filesStem;
};
