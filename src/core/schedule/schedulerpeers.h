#pragma once

#include "data/scheduler.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>
#include <optional>

class CSystemDatabase;

// This scheduler among the other schedulers of one monitor database: windows and services,
// on this host and on others. Each keeps a row with its heartbeat in the file; from the
// rows this one tells which of the others live, and whether their clocks and time zones
// agree with its own. When two disagree, the one that registered first goes on starting
// calculations and the other waits until they agree again, so no minute starts twice.
class CSchedulerPeers {
public:
    // How this scheduler sees the others at one wake-up.
    struct Judgement {
        // The living schedulers' ids, this one's included.
        QSet<qint64> living;
        // False while this scheduler's clock or zone disagrees with an earlier one's.
        bool mayStart = true;
        // The disagreement in Swedish, or empty; the same text for as long as it stands.
        QString disagreement;
        // The host of a service that claimed a minute within the last two minutes, or empty.
        QString schedulingService;
    };

    // The difference in clocks that counts as a disagreement.
    static constexpr qint64 kClockToleranceMs = 30000;
    // A scheduler on another host whose heartbeat is this old counts as gone.
    static constexpr qint64 kSilenceMs = 3 * 60 * 1000;

    explicit CSchedulerPeers(bool service);
    // For a scheduler on the given host (tests stand in for another host).
    CSchedulerPeers(bool service, QString host);

    qint64 Id() const { return m_me.id; }
    QString Host() const { return m_me.host; }

    // Within the deciding transaction: writes this scheduler's heartbeat, reads the
    // others', removes the rows of the ones that are gone, and judges clocks and zones.
    Judgement Beat(CSystemDatabase& db, const QDateTime& now);
    // The row goes with the scheduler, so the others need not wait for it to fall silent.
    void Leave(CSystemDatabase& db);

    // "host" alone, or with the program and process when two schedulers share a host.
    static QString Label(const CSchedulerRecord& scheduler, const CSchedulerRecord& other);
    // Process identity on this host: the boot and the process's start time; empty when the
    // process does not run.
    static QString ProcessStartOf(qint64 processId);

private:
    bool IsAlive(const CSchedulerRecord& other, qint64 nowMs) const;
    void ObserveClock(const CSchedulerRecord& other, qint64 nowMs);
    std::optional<qint64> ClockAheadBy(qint64 otherId) const;
    void JudgeClocks(const QVector<CSchedulerRecord>& living);
    QString Disagreement(const CSchedulerRecord& other) const;
    void JudgeDisagreement(const QVector<CSchedulerRecord>& living, Judgement& judgement);
    QString SchedulingService(const QVector<CSchedulerRecord>& living, qint64 nowMs) const;

    CSchedulerRecord m_me;
    // Each living scheduler's heartbeat minus this one's clock as read at the time, in
    // milliseconds, with the time it was read: the largest of the last minutes is the best
    // guess of how far its clock is ahead, as a heartbeat is older than it looks, never younger.
    struct Observation {
        qint64 atMs;
        qint64 aheadMs;
    };
    QHash<qint64, QVector<Observation>> m_observations;
    // The disagreement as first worded, and with whom, kept while it stands.
    QString m_disagreement;
    qint64 m_disagreementWith = 0;
};
