#pragma once

#include <QHash>
#include <QVector>

// Tells which supervised runs fell silent: a run whose heartbeat has not changed for two
// minutes of this scheduler's own clock. The beat's value is the supervisor's clock and is
// only compared with itself, so hosts whose clocks differ never judge each other's runs lost.
class CHeartbeatWatch {
public:
    static constexpr qint64 kSilenceSeconds = 2 * 60;

    struct Silent {
        qint64 runId = 0;
        qint64 heartbeat = 0;
        bool operator==(const Silent& other) const {
            return runId == other.runId && heartbeat == other.heartbeat;
        }
    };

    // heartbeats: every open supervised run's beat as stored now; now: this scheduler's clock
    // in seconds. The runs silent for kSilenceSeconds, in the order of their ids.
    QVector<Silent> Look(const QHash<qint64, qint64>& heartbeats, qint64 now);

private:
    struct Seen {
        qint64 heartbeat = 0;
        qint64 since = 0;
    };
    QHash<qint64, Seen> m_seen;
};
