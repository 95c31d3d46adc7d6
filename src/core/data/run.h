#pragma once

#include <QString>
#include <optional>

// One start attempt of a row's calculation and what became of it, as the
// schedulers on the file saw it: the start, the run flag going up and down,
// the calculation time it wrote, or its process vanishing.
struct CRun {
    enum class Outcome { Running, Finished, Aborted, NeverStarted, NotStarted };

    int key = -1;
    QString model;
    QString macro;
    qint64 launched = 0; // seconds since 1970
    std::optional<qint64> seenRunning;
    std::optional<qint64> ended;
    Outcome outcome = Outcome::Running;
    // Why the program could not start.
    QString reason;

    // Seconds from the start to the end; nothing while it runs.
    std::optional<qint64> DurationSeconds() const;
};

// The text stored in the monitor database for an outcome, and back.
QString StoredOutcome(CRun::Outcome outcome);
CRun::Outcome OutcomeFromStored(const QString& stored, bool ended);
