#pragma once

#include "data/schedulerow.h"
#include "history/runhistory.h"
#include "schedule/runstate.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>
#include <QVector>

class CCalculationProcesses;
class CSystemDatabase;

// What the listing is made of: the stored rows and, by key, their run flags and
// times and their latest runs.
struct CListingInput {
    QVector<CScheduleRow> rows;
    QHash<int, CRunState> states;
    QHash<int, CRun> lastRuns;
    bool schedulerOn = false;
};

// The schedule as a table for a terminal, the way `systemctl list-timers` lists timers:
// a header line, then one line a row, in the order the rows next start (the rows that
// never start and the inactive ones last, by key). Columns are aligned by the characters
// a reader sees, so model paths with blanks and Swedish letters keep the table straight.
class CScheduleListing {
public:
    CScheduleListing(CListingInput input, QDateTime now);

    QStringList Lines() const;
    // One row's runs as given (newest first): the start, the duration and the outcome.
    static QStringList HistoryLines(const QVector<CRun>& runs);

    // The rows, flags, times and DRIFT of an open file, read without writing anything to
    // it: a missing run flag stays missing, a file without a run history lists no runs. A
    // set flag that no calculation on this host holds is marked stale, unless its run was
    // started on another host. Throws CDatabaseError when the rows cannot be read.
    static CListingInput Read(CSystemDatabase& db, CCalculationProcesses& processes,
                              const QString& host);

    // The time until a start, rounded up to whole minutes and given in its two largest
    // units: "3 min", "2 h 5 min", "4 d 3 h".
    static QString TimeLeft(qint64 seconds);

    CListingInput m_input;
    QDateTime m_now;
};
