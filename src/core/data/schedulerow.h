#pragma once

#include <QString>
#include <QtGlobal>

// One stored schedule row as the scheduler and the list use it.
struct CScheduleRow {
    int key = -1;
    QString startTime; // display form
    QString model;
    QString macro;
    bool active = false;
    int counter = 0;
    // IMPLEMENTED as stored, handed back unchanged when the row is saved again.
    int implemented = 0;
};

// Seconds since 1970 as local time "YYYY-MM-DD HH:MM:SS", or "Uppgift saknas" for 0.
QString TimeText(qint64 secondsSinceEpoch);

// A stored number narrowed to int without changing its sign: a huge value stays
// "on" instead of wrapping to 0 or a negative number.
int SaturatedInt(qint64 value);
