#pragma once

#include "journalwriter.h"
#include "schedule/schedulerrunner.h"
#include "systemdnotifier.h"

class CClock;
class CProgramPaths;
class CSystemDatabase;

// The scheduler without a window. It opens the schedule as the window's start does and
// runs it on the scheduler's threads while the event loop runs, reading the stored
// settings at every minute. What the operator should know goes to standard error, one
// line a message, where a journal keeps it: each start and each start that failed or was
// skipped, each problem once and its end, DRIFT at the start and whenever it changes, run
// flags left by calculations that are gone. Each line carries its priority for the journal:
// what went wrong is a warning or worse, an ordinary start information. systemd hears when the
// service is ready, that its scheduler lives, and what it waits for. Nothing ever waits for an
// answer.
class CKvarnixService {
public:
    CKvarnixService(const CProgramPaths& paths, const CClock& clock);

    // False when the schedule cannot be opened (the reason is on standard error) or a
    // stop was asked for while its file was held.
    bool Start();
    // Ends the scheduler's threads, then reports the launches they finished meanwhile, so
    // that every start in the monitor log is on standard error too.
    void Stop();
    // SIGHUP: the stored settings are read at once, not at the next minute, and said.
    void Reread();

    static QString SwitchedOnText();
    static QString SwitchedOffText();

private:
    bool PrepareSchedule();
    void SeedCountdowns(CSystemDatabase& db);
    void OnLaunched(const CLaunchReport& report);
    void OnSchedulerSwitchChanged(bool on);
    void OnRunStatesRead(const CRunStates& states);
    void OnProblemAnnounced(const QString& text);
    void OnSettingsReread(bool schedulerOn);

    const CProgramPaths& m_paths;
    const CClock& m_clock;
    CJournalWriter m_journal;
    CSystemdNotifier m_notifier;
    CSchedulerRunner m_runner;
};
