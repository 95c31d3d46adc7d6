#pragma once

#include <QStringList>

class CSystemDatabase;

// What an administrator asks first, read from the file without writing to it: which
// scheduler holds the schedule (the one that claimed the latest minute: its host, program
// and since when), whether DRIFT is on, the last minute evaluated and the runs not yet ended.
class CScheduleStatus {
public:
    // thisHost: a scheduler there is looked at in /proc for its start.
    static QStringList Read(CSystemDatabase& db, const QString& thisHost);

private:
    static QString Holder(CSystemDatabase& db, const QString& thisHost);
    static QStringList OpenRuns(CSystemDatabase& db);
};
