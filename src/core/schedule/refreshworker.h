#pragma once

#include "log/monitorlog.h"
#include "schedule/runstatereader.h"

#include <QObject>
#include <QTimer>
#include <atomic>

class CCalculationProcesses;
class CClock;
class CProblemReporter;
class CProgramPaths;

// The display refresh, on a thread of its own (it goes on while the tick waits for a held
// file): everything here is used on that thread only. Every 3 s, unless suspended (the
// window is minimised), and soon after it is asked to.
class CRefreshWorker : public QObject {
    Q_OBJECT
public:
    static constexpr int kRefreshIntervalMs = 3000;

    CRefreshWorker(const CProgramPaths& paths, const QString& host, const CClock& clock,
                   CCalculationProcesses& processes, CProblemReporter& problems,
                   const std::atomic<bool>& stop, const std::atomic<bool>& suspended);

public slots:
    void Start();
    // A refresh within a moment; during a batch of launches one now and then is enough.
    void RefreshSoon();
    void Finish();

signals:
    void RunStatesRead(const CRunStates& states);

private:
    void Read();

    CMonitorLog m_log;
    CRunStateReader m_reader;
    const std::atomic<bool>& m_suspended;
    QTimer m_periodic;
    QTimer m_soon;
    bool m_finished = false;
};
