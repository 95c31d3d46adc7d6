#include "schedule/heartbeatwatch.h"

#include <algorithm>

// A beat first seen now counts from now: after a restart the watch starts afresh.
QVector<CHeartbeatWatch::Silent> CHeartbeatWatch::Look(const QHash<qint64, qint64>& heartbeats,
                                                       qint64 now) {
    QHash<qint64, Seen> seen;
    QVector<Silent> silent;
    for (auto beat = heartbeats.constBegin(); beat != heartbeats.constEnd(); ++beat) {
        Seen current{beat.value(), now};
        const auto before = m_seen.constFind(beat.key());
        if (before != m_seen.constEnd() && before->heartbeat == beat.value())
            current.since = std::min(before->since, now);
        seen.insert(beat.key(), current);
        if (now - current.since >= kSilenceSeconds)
            silent << Silent{beat.key(), beat.value()};
    }
    m_seen = std::move(seen);
    std::sort(silent.begin(), silent.end(),
              [](const Silent& a, const Silent& b) { return a.runId < b.runId; });
    return silent;
}
