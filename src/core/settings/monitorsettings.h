#pragma once

#include <QString>
#include <functional>

class CSystemDatabase;

// The program settings as the running monitor uses them, loaded once when the
// schedule starts and replaced when the operator stores new ones.
struct CMonitorSettings {
    // The stored words of KOR_PA.
    static constexpr char kOnThisHost[] = "dator";
    static constexpr char kOnCluster[] = "slurm";

    int schedulerOn = 0;          // DRIFT: the scheduler is in operation
    int mayWriteIp21 = 0;         // SAVE: calculations may write to the IP21 process database
    int minimizePeriodically = 0; // HIDE: minimise the main window periodically
    int minimizeMinutes = 10;     // HIDE_MINUTER: minutes between minimisings
    int logDays = 100;            // LOGFILE: days kept in the monitor log
    int pidDays = 10;             // PID: days kept in the PID table
    int showColumn4 = 0;          // SHOW_KOL4: kept, nothing depends on it
    QString programPath;          // the calculation program
    QString failureCommand;       // KOR_VID_FEL: run after a run that did not end well
    // KOR_PA: where the calculations start, on this host ("dator") or as batch jobs of the
    // Slurm cluster ("slurm").
    bool startOnCluster = false;
    QString slurmPartition; // SLURM_PARTITION: empty = the cluster's default
    QString slurmOptions;   // SLURM_FLAGGOR: further sbatch options, split like a command line

    // Reads every setting (creating the missing ones with 0) and puts the
    // defaults in place of a stored 0 where a setting has one.
    static CMonitorSettings Load(CSystemDatabase& db);
    // The same without writing anything: a missing setting reads as 0.
    static CMonitorSettings Read(CSystemDatabase& db);

private:
    static CMonitorSettings Assemble(CSystemDatabase& db,
                                     const std::function<qint64(const QString&)>& number);
};
