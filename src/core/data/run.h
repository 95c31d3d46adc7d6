#pragma once

#include <QString>
#include <optional>

// One start of a row's calculation and what became of it: decided for a minute (pending),
// started or not, and how it ended as its supervisor recorded it (exit status, signal, time
// limit, cancel) or, for a run without one, as the schedulers saw its run flag.
struct CRun {
    enum class Outcome {
        Running,
        Finished,
        Aborted,
        NeverStarted,
        NotStarted,
        Pending,
        Skipped,
        Failed,
        Signalled,
        TimedOut,
        Cancelled,
        Lost,
    };

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

    // Watched by a supervisor (its process id, 0 until it is known), with its heartbeat.
    bool supervised = false;
    qint64 supervisor = 0;
    qint64 heartbeat = 0;
    // What the supervisor measured: milliseconds since 1970, the exit status or the signal,
    // CPU time and peak memory.
    std::optional<qint64> startMs{};
    std::optional<qint64> endMs{};
    std::optional<qint64> exitCode{};
    std::optional<qint64> signal{};
    std::optional<qint64> cpuMs{};
    std::optional<qint64> peakMemoryKb{};
    QString outputPath{};
    // "operatör på värd" once a cancel was asked for.
    QString cancelledBy{};
    // The calculation ended with its run flag set, and the supervisor cleared it.
    bool flagCleared = false;
    // What became of the failure command: "startades" or "kunde inte startas: …".
    QString failureCommand{};
    // A run handed to the Slurm cluster: its batch job (0 for none) and when it was submitted.
    qint64 jobId = 0;
    std::optional<qint64> queuedAt{};

    // Its batch job waits for a node: no supervisor has started yet.
    bool Queued() const { return jobId != 0 && !seenRunning && !ended; }

    // From the start to the end, to the millisecond where the supervisor measured them;
    // nothing for a run that did not run to an end it knows.
    std::optional<qint64> DurationMs() const;
    std::optional<qint64> DurationSeconds() const;
    // Ended, and not well: the line is marked until the next good run.
    bool EndedBadly() const;
};

// The text stored in the monitor database for an outcome, and back.
QString StoredOutcome(CRun::Outcome outcome);
CRun::Outcome OutcomeFromStored(const QString& stored, bool ended);
