#pragma once

#include "data/run.h"
#include "data/schedulerow.h"
#include "monitordb/sqliteconnection.h"
#include "schedule/rowinformation.h"
#include "schedule/runstate.h"
#include "settings/monitorsettings.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVector>
#include <functional>

class CSystemDatabase;
struct CScheduleLine;

// The switches the settings dialog reads from the file each time it opens.
struct CStoredSwitches {
    bool mayWriteIp21 = false;
    bool schedulerOn = false;
    bool loginCheck = false;
    bool minimizePeriodically = false;
};

// What the window shows when it opens: the settings, the rows and their run flags and times.
struct CScheduleAtStart {
    CMonitorSettings settings;
    QVector<CScheduleRow> rows;
    QHash<int, CRunState> states;
};

// The window's commands on the stored schedule and settings. Each opens the monitor
// database for its own work and closes it again, so the file is shared with the
// calculations in between; a file another process holds is waited for a few seconds
// only (the window never waits longer). Every command returns its value or throws
// CDatabaseError; nothing here speaks to the operator.
class CScheduleCommands {
public:
    explicit CScheduleCommands(QString databasePath);

    QString DatabasePath() const { return m_databasePath; }

    // At the program's start: a missing file is created, a held one waited for as long
    // as it is held (until a stop is asked for).
    bool ReadLoginCheckAtStart() const;
    // random gives 0 to 32767 for the first countdowns of the cyclic rows.
    CScheduleAtStart LoadAtStart(const std::function<int()>& random, const QDateTime& now) const;

    QVector<CScheduleRow> LoadRows() const;
    // CDatabaseError::kNoRow when the row is gone.
    CScheduleRow LoadRow(int key) const;
    // The row's key: the given one, or a fresh one for key -1.
    int SaveRow(const CScheduleRow& row) const;
    void DeleteRow(int key) const;
    // Also restarts a cyclic row's countdown, so an activated row is due at once.
    void SetActive(int key, bool active) const;
    void ResetRunFlags(const QVector<int>& keys) const;
    bool IsRunning(int key) const;
    // The run flags and both times of the keys, as stored now.
    QHash<int, CRunState> RunStates(const QVector<int>& keys) const;
    CRowInformation RowInformation(const CScheduleLine& line, const QString& programPath,
                                   const QDateTime& now) const;
    // The row's latest finished runs, newest first.
    QVector<CRun> FinishedRuns(int key, int limit) const;
    // Who asks, as a cancelled run's history names them: "användare på värd".
    static QString Requester();
    // Asks the supervisor of the row's open run to stop it, for "who" ("operatör på värd");
    // false when the row has no run that can be cancelled.
    bool RequestCancel(int key, const QString& who) const;
    // The row's longest run time in minutes (MAXTID + key), 0 for no limit.
    int TimeLimit(int key) const;
    void SetTimeLimit(int key, int minutes) const;

    CStoredSwitches ReadSwitches() const;
    // The calculation program's path and every setting but the login check.
    void StoreSettings(const CMonitorSettings& settings) const;
    void StoreLoginCheck(bool on) const;

private:
    template <typename Work> auto WithDatabase(CBusyWait wait, Work work) const;
    template <typename Work> auto WithDatabase(Work work) const;

    const QString m_databasePath;
};
