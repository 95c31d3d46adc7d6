#pragma once

#include "monitordb/systemdatabase.h"
#include "schedule/minutetracker.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>

class CClock;
class CMessenger;
class CProgramPaths;
class CScheduleModel;
struct CMonitorSettings;
struct CScheduleLine;

// Starts the calculation program for every active, idle row that is due, once a
// wall-clock minute, and keeps the list's run flags and times current.
class CScheduler : public QObject {
    Q_OBJECT
public:
    static constexpr int kRefreshIntervalMs = 3000;

    CScheduler(CScheduleModel& list, CMonitorSettings& settings, const CProgramPaths& paths,
               const CClock& clock, CMessenger& messenger, QObject* parent = nullptr);

    // Loads the settings, seeds the cyclic countdowns, fills the list and its
    // time columns. False when the database cannot be opened.
    bool LoadSchedule();
    // Starts the minute tick and the display refresh.
    void Start();
    // While this says so (the window is minimised) the display refresh rests.
    void SetRefreshSuspended(std::function<bool()> suspended);

    // One wake-up of the minute timer: evaluates the minutes the wall clock has
    // reached since the last wake-up, each at most once.
    void OnScheduleTimer();
    // The 3-second display refresh: run states and both time columns.
    void Refresh();
    // The run states of all lines, now.
    void RefreshRunStates();
    void LaunchRow(int line);
    void RefreshRunState(int line);

private:
    void RunTick(const CMinuteTracker::Minutes& minutes, const QDateTime& now);
    QVector<int> DueLines(CSystemDatabase& db, const CMinuteTracker::Minutes& minutes);
    bool IsDue(CSystemDatabase& db, const CScheduleLine& line,
               const CSystemDatabase::RowState& stored, const CMinuteTracker::Minutes& minutes);
    void ArmScheduleTimer();
    void WithDatabase(const std::function<void(CSystemDatabase&)>& work);
    void ShowRunStates(CSystemDatabase& db);
    void ShowTimes(CSystemDatabase& db);

    CScheduleModel& m_list;
    CMonitorSettings& m_settings;
    const CProgramPaths& m_paths;
    const CClock& m_clock;
    CMessenger& m_messenger;
    std::function<bool()> m_refreshSuspended;
    QTimer m_scheduleTimer;
    QTimer m_refreshTimer;
    CMinuteTracker m_minutes;
    bool m_inTick = false;
};
