#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

// How long the event loop it lives on was blocked at the most since its construction: the
// longest wait of a 10 ms timer.
class CLoopBlockMeter {
public:
    CLoopBlockMeter() {
        QObject::connect(&m_beat, &QTimer::timeout, &m_beat,
                         [this] { m_longestMs = std::max(m_longestMs, m_since.restart()); });
        m_since.start();
        m_beat.start(10);
    }

    qint64 LongestMs() const { return m_longestMs; }

private:
    QTimer m_beat;
    QElapsedTimer m_since;
    qint64 m_longestMs = 0;
};
