#pragma once

#include <QString>

// One scheduler on the file (a window's or a service), as it registers itself and keeps
// its heartbeat in the monitor database, so that the others can tell it lives.
struct CSchedulerRecord {
    qint64 id = 0; // random, one per process that schedules
    QString host;
    qint64 process = 0;
    bool service = false;
    // Tells the same process from a later one with its id on its host: boot and start time.
    QString processStart;
    // Its clock's UTC time, in milliseconds since 1970, at its latest heartbeat.
    qint64 heartbeatMs = 0;
    // Its time zone and that zone's offset from UTC, in seconds, at its latest heartbeat.
    QString timeZone;
    int utcOffset = 0;
    // When it last claimed a minute, by its clock (seconds since 1970), 0 for never.
    qint64 lastClaim = 0;
    // The scheduler whose clock it found ahead of its own, and by how many seconds (0 for none).
    qint64 clockBehindOf = 0;
    qint64 clockDifference = 0;
    // The order in which the schedulers registered: the earliest keeps scheduling when two
    // of them disagree on the time.
    qint64 registration = 0;
};
