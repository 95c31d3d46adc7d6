#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

class CCalculationProcesses;
class CClock;
class CMonitorLog;
class CProgramPaths;
class CSystemDatabase;
struct CMonitorSettings;
struct CScheduleRow;

// What became of one start of the calculation program.
struct CLaunchReport {
    int key = -1;
    QString model;
    QString macro;
    bool started = false;
    // False when the start was not even tried (a calculation of the row runs).
    bool attempted = true;
    // Why it could not start, in plain Swedish; empty when it started.
    QString reason;
};
Q_DECLARE_METATYPE(CLaunchReport)

// Starts the calculation program for one row with its six arguments, as a
// process of its own that is not waited for, and writes the outcome to the
// monitor log (the usual line when the program started, the same line with the
// reason appended when it could not) and to the run history.
class CCalculationLauncher {
public:
    CCalculationLauncher(const CProgramPaths& paths, const CClock& clock, CMonitorLog& log,
                         CCalculationProcesses& processes);

    // db: the open monitor database the run is recorded in.
    CLaunchReport Launch(CSystemDatabase& db, const CScheduleRow& row,
                         const CMonitorSettings& settings);

    // Empty when the path names a program that may be started, else why not.
    static QString WhyNotStartable(const QString& programPath);

private:
    void Record(CSystemDatabase& db, const CLaunchReport& report, const QDateTime& attempted);

    const CProgramPaths& m_paths;
    const CClock& m_clock;
    CMonitorLog& m_log;
    CCalculationProcesses& m_processes;
};
