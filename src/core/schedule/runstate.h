#pragma once

#include "data/schedulerow.h"
#include "settings/monitorsettings.h"

#include <QHash>
#include <QMetaType>
#include <QStringList>
#include <QVector>
#include <optional>

// What the list shows of one row besides its stored text.
struct CRunState {
    bool running = false;
    // The run flag is set, but no calculation of the row runs on this host.
    bool stale = false;
    qint64 calcSeconds = 0;
    qint64 mesSeconds = 0;
    // The host another scheduler started the row's open run on; only that host can tell
    // whether it still runs.
    QString elsewhere{};
    // The row's run is watched by a supervisor that may be asked to cancel it.
    bool cancellable = false;
    // How the latest run ended when its calculation left the run flag set for its supervisor
    // to clear; empty once a run ended well.
    QString clearedFlagEnd{};
    // The row's run is a batch job waiting for a node: the job, 0 for none, and when it was
    // submitted.
    qint64 queuedJob = 0;
    qint64 queuedSince = 0;
};

struct CRunStates {
    QHash<int, CRunState> byKey;
    // The rows as now stored, when the list must be read anew: another file took
    // the database's place, or it cannot be read at all (then it is empty).
    std::optional<QVector<CScheduleRow>> reloadedRows;
    // The settings as now stored.
    std::optional<CMonitorSettings> settings;
    // What the refresh found that the operator should read once: run flags left by
    // calculations that are gone.
    QStringList notices;
};
Q_DECLARE_METATYPE(CRunStates)
