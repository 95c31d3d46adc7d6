#pragma once

#include "base/stderrmessenger.h"
#include "schedule/schedulerrunner.h"

class CClock;
class CProgramPaths;
class CSystemDatabase;

// The scheduler without a window. It opens the schedule as the window's start does and
// runs it on the scheduler's threads while the event loop runs, reading the stored
// settings at every minute. What the operator should know goes to standard error, one
// line a message, where a journal keeps it: each start and each start that failed or was
// skipped, each problem once and its end, DRIFT at the start and whenever it changes, run
// flags left by calculations that are gone. Nothing ever waits for an answer.
class CKvarnixService {
public:
    CKvarnixService(const CProgramPaths& paths, const CClock& clock);

    // False when the schedule cannot be opened (the reason is on standard error) or a
    // stop was asked for while its file was held.
    bool Start();
    // Ends the scheduler's threads, then reports the launches they finished meanwhile, so
    // that every start in the monitor log is on standard error too.
    void Stop();

    static QString SwitchedOffText();

private:
    bool PrepareSchedule();
    void SeedCountdowns(CSystemDatabase& db);
    void OnLaunched(const CLaunchReport& report);
    void OnSchedulerSwitchChanged(bool on);
    void OnRunStatesRead(const CRunStates& states);

    const CProgramPaths& m_paths;
    const CClock& m_clock;
    CStderrMessenger m_messenger;
    CSchedulerRunner m_runner;
};
