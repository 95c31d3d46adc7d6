#pragma once

#include <QString>

class CSystemDatabase;

// The program settings as the running monitor uses them, loaded once when the
// schedule starts and replaced when the operator stores new ones.
struct CMonitorSettings {
    int drift = 0;        // the scheduler is in operation
    int save = 0;         // calculations may write to the IP21 process database
    int hide = 0;         // minimise the main window periodically
    int hideMinuter = 10; // minutes between minimisings
    int logFile = 100;    // days kept in the monitor log
    int pid = 10;         // days kept in the PID table
    int showKol4 = 0;
    QString programPath; // the calculation program

    // Reads every setting (creating the missing ones with 0) and puts the
    // defaults in place of a stored 0 where a setting has one.
    static CMonitorSettings Load(CSystemDatabase& db);
};
