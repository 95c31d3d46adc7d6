#pragma once

#include <QString>
#include <optional>

// One start of a row's calculation and what became of it, as the schedulers on
// the file saw it: decided for a minute (pending), started or not, the run flag
// going up and down, the calculation time it wrote, or its process vanishing.
struct CRun {
    enum class Outcome { Running, Finished, Aborted, NeverStarted, NotStarted, Pending, Skipped };

    int key = -1;
    QString model;
    QString macro;
    // When it was started, or for a pending run the UTC time of the minute it was decided for;
    // seconds since 1970.
    qint64 launched = 0;
    std::optional<qint64> seenRunning;
    std::optional<qint64> ended;
    Outcome outcome = Outcome::Running;
    // Why the program could not start, or why the start was skipped.
    QString reason;
    qint64 id = 0; // the record's rowid
    // The start time the row had when the run was decided.
    QString startTime{};
    // The scheduler that is to start a pending run.
    qint64 owner = 0;
    // The host the run was started on, and the process started there.
    QString host{};
    qint64 processId = 0;

    // Seconds from the start to the end; nothing while it runs.
    std::optional<qint64> DurationSeconds() const;
};

// The text stored in the monitor database for an outcome, and back.
QString StoredOutcome(CRun::Outcome outcome);
CRun::Outcome OutcomeFromStored(const QString& stored, bool ended);
