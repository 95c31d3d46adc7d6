#pragma once

#include "files/programpaths.h"
#include "log/monitorlog.h"
#include "monitordb/systemdatabase.h"
#include "schedule/calculationlauncher.h"
#include "schedule/calculationprocesses.h"
#include "schedule/problemreporter.h"
#include "schedule/scheduler.h"
#include "schedule/schedulerpeers.h"

#include <QSysInfo>
#include <QTest>
#include <QVector>
#include <atomic>
#include <gtest/gtest.h>

// The scheduler as one monitor process has it, on the test's folder: on this host, or on
// another one it stands in for.
struct CSchedulerRig {
    CSchedulerRig(const QString& programFile, const CClock& clock, bool service = false,
                  const QString& host = QSysInfo::machineHostName())
        : clock(clock), paths(programFile), log(paths.MonitorLog(), paths.TrimFile()),
          problems(log, clock), processes(paths.MonitorDatabase()), peers(service, host),
          launcher(paths, clock, log, processes, peers),
          scheduler(paths, clock, launcher, log, problems, stop, peers) {}

    // One wake-up; every start it decided goes into reports, and afterStart hears each.
    CScheduler::WakeUp Tick(const std::function<void(const CLaunchReport&)>& afterStart = {}) {
        return scheduler.Tick([&](const CLaunchReport& report) {
            reports << report;
            if (afterStart)
                afterStart(report);
        });
    }

    // The test's minutes pass in milliseconds: the runs of one are let end, as they would
    // within a real minute, before the next begins; otherwise they would look silent. A file
    // the test made unusable has no runs to wait for.
    void WaitForSupervisedRuns() const {
        CSystemDatabase db(paths.MonitorDatabase());
        try {
            db.Open();
        } catch (const CDatabaseError&) {
            return;
        }
        const bool ended =
            QTest::qWaitFor([&] { return db.SupervisedHeartbeats().isEmpty(); }, 20000);
        EXPECT_TRUE(ended) << "a supervised run did not end within 20 s";
    }

    const CClock& clock;
    CProgramPaths paths;
    CMonitorLog log;
    CProblemReporter problems;
    CCalculationProcesses processes;
    CSchedulerPeers peers;
    CCalculationLauncher launcher;
    std::atomic<bool> stop{false};
    CScheduler scheduler;
    QVector<CLaunchReport> reports;
};
