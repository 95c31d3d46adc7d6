#pragma once

#include "data/run.h"
#include "monitordb/systemdatabase.h"
#include "rules/minutetracker.h"
#include "schedule/calculationlauncher.h"
#include "schedule/schedulerpeers.h"

#include <QDateTime>

// A start of the row as the scheduler makes one: a pending run of this scheduler's,
// then the launch.
inline CLaunchReport LaunchRow(CSystemDatabase& db, CCalculationLauncher& launcher,
                               const CSchedulerPeers& peers, const CScheduleRow& row,
                               const CMonitorSettings& settings) {
    CRun run;
    run.key = row.key;
    run.model = row.model;
    run.macro = row.macro;
    run.startTime = row.startTime;
    run.owner = peers.Id();
    run.launched = QDateTime::currentSecsSinceEpoch();
    run.id =
        db.InsertPendingRun(run, CMinuteTracker::WallClockMinute(QDateTime::currentDateTime()));
    return launcher.StartPending(db, run, settings, StartRule::RunNow).value_or(CLaunchReport());
}
