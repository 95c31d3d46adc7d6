#pragma once

#include "data/schedulerow.h"
#include "rules/minutetracker.h"
#include "settings/monitorsettings.h"

#include <QMutex>
#include <QVector>
#include <atomic>
#include <functional>
#include <optional>

class CCalculationLauncher;
class CClock;
class CMonitorLog;
class CProblemReporter;
class CProgramPaths;
class CSystemDatabase;
struct CLaunchReport;

// The minute tick: starts the calculation program for every active, idle row
// that is due. Each wall-clock minute is evaluated once, across restarts and
// across schedulers sharing the file: the minutes evaluated are claimed in the
// monitor database in the same write transaction that decides the minute's
// rows. A file held by another process is waited for as long as it is held; a
// problem goes to the problem reporter, never to a box that waits for the
// operator. Used from one thread at a time; SetSettings from any.
class CScheduler {
public:
    using LaunchListener = std::function<void(const CLaunchReport&)>;

    CScheduler(const CProgramPaths& paths, const CClock& clock, CCalculationLauncher& launcher,
               CMonitorLog& log, CProblemReporter& problems, const std::atomic<bool>& stop);

    // The window's settings, as the operator last stored them. Without them
    // (the service) the stored settings are read at every tick.
    void SetSettings(const CMonitorSettings& settings);
    // Set before the first tick: the minutes a service claims are marked as its own.
    void SetService(bool service) { m_service = service; }

    // One wake-up: evaluates the minutes the wall clock has reached since the
    // minutes last claimed, and starts the due rows one after the other until
    // the stop is asked for. launched hears every start attempt. The result is
    // the host of a service that had claimed the minutes already, or empty.
    QString Tick(const LaunchListener& launched);
    // The first countdown of every cyclic row, spread over its interval: random gives 0 to
    // 32767. Done when the schedule starts, so the cyclic rows do not all start at once.
    static void SeedCountdowns(CSystemDatabase& db, const std::function<int()>& random);

    // Starts one row at once, whatever its start time and active flag, through
    // the same launch; refused (with the reason in the report) while its run flag is set.
    void RunNow(int key, const LaunchListener& launched);

private:
    struct Decision {
        CMonitorSettings settings;
        QVector<CScheduleRow> due;
        bool evaluated = false;
        QDateTime now;
        // A service on this host that evaluated the minutes before this scheduler.
        QString claimingService;
    };

    bool OpenForTick(CSystemDatabase& db);
    Decision Decide(CSystemDatabase& db);
    CMonitorSettings CurrentSettings(CSystemDatabase& db);
    static bool IsDue(const CScheduleRow& row, const CMinuteTracker::Minutes& minutes,
                      QHash<int, int>& countdowns);
    void ReportFailure(const QString& faultText);
    void Tidy(CSystemDatabase& db, const Decision& decision, QString& problem);

    const CProgramPaths& m_paths;
    const CClock& m_clock;
    CCalculationLauncher& m_launcher;
    CMonitorLog& m_log;
    CProblemReporter& m_problems;
    const std::atomic<bool>& m_stop;
    std::optional<qint64> m_lastWakeMinute;
    bool m_openFaultReported = false;
    bool m_service = false;
    QString m_claimingService;
    QMutex m_settingsMutex;
    std::optional<CMonitorSettings> m_settings;
};
