#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class CCalculationProcesses;
class CClock;
class CMonitorLog;
class CProgramPaths;
class CSchedulerPeers;
class CSystemDatabase;
struct CMonitorSettings;
struct CRun;

// What became of one start the scheduler decided.
struct CLaunchReport {
    int key = -1;
    QString model;
    QString macro;
    bool started = false;
    // False when the start was not even tried: the row's calculation runs, or the row was
    // changed, switched off or deleted since the start was decided.
    bool attempted = true;
    // Why it did not start, in plain Swedish; empty when it started.
    QString reason;
};
Q_DECLARE_METATYPE(CLaunchReport)

// Which look at the row stands between a pending run and its start.
enum class StartRule {
    // A start of the schedule: the row must be as it was decided, active and idle, and the
    // scheduler on.
    Scheduled,
    // "Kör nu": the row need only be there and idle.
    RunNow,
};

// Starts the calculation program for one pending run with its six arguments through a run
// supervisor of its own that is not waited for (the supervisor records the run's end), on this
// host or as a batch job of the Slurm cluster, and
// writes the outcome to the run's record in the
// history and to the monitor log (the usual line when the program started, the same line
// with the reason appended when it could not start or was skipped).
class CCalculationLauncher {
public:
    CCalculationLauncher(const CProgramPaths& paths, const CClock& clock, CMonitorLog& log,
                         CCalculationProcesses& processes, const CSchedulerPeers& peers);

    // db: the open monitor database, outside any transaction. Nothing when the run is no
    // longer this scheduler's to start (another one took it over). A CDatabaseError comes
    // only before anything was started, with the run still pending.
    std::optional<CLaunchReport> StartPending(CSystemDatabase& db, const CRun& run,
                                              const CMonitorSettings& settings, StartRule rule);

    // Empty when the path names a program that may be started, else why not.
    static QString WhyNotStartable(const QString& programPath);

private:
    struct CStartedProcesses {
        qint64 calculation = 0;
        qint64 supervisor = 0;
    };
    void StartHere(CSystemDatabase& db, const CRun& run, const CMonitorSettings& settings,
                   qint64 timeLimitMinutes, CLaunchReport& report);
    void Submit(CSystemDatabase& db, const CRun& run, const CMonitorSettings& settings,
                qint64 timeLimitMinutes, CLaunchReport& report);
    void NotStarted(CSystemDatabase& db, const CRun& run, const QString& reason);
    void RecordAfterStart(CSystemDatabase& db, const CRun& run, const std::function<void()>& write);
    QString WhyNotReady(const CMonitorSettings& settings) const;
    QStringList SupervisorArguments(const CRun& run, const CMonitorSettings& settings,
                                    qint64 timeLimitMinutes) const;
    QString Spawn(const CRun& run, const CMonitorSettings& settings, qint64 timeLimitMinutes,
                  CStartedProcesses& processes) const;
    void Log(const CRun& run, const QString& problem);

    const CProgramPaths& m_paths;
    const CClock& m_clock;
    CMonitorLog& m_log;
    CCalculationProcesses& m_processes;
    const CSchedulerPeers& m_peers;
};
