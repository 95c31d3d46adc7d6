#pragma once

#include "data/schedulerow.h"
#include "rules/minutetracker.h"

#include <QHash>
#include <QVector>

// Which rows a wake-up of the scheduler starts, decided from the rows and run flags as
// stored and the minutes the wake-up evaluates; nothing is read or written here.
struct CDueRows {
    // In stored order.
    QVector<CScheduleRow> due;
    // The new countdowns of the cyclic rows that were considered, by key.
    QHash<int, int> countdowns;
};

// Only active rows whose run flag is down are considered. A cyclic row counts down once
// per wake-up; the other kinds are due when any of the minutes evaluated for them matches
// (and start once all the same). A row with an "X" in its hour or minute runs in real
// time; one with a fixed time of day is never started twice for the same minute when the
// clock moves.
CDueRows DecideDueRows(const QVector<CScheduleRow>& rows, const QHash<int, bool>& running,
                       const CMinuteTracker::Minutes& minutes);
