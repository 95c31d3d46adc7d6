#pragma once

#include "base/filedescriptor.h"
#include "base/spawn.h"
#include "outputfile.h"
#include "rundatabase.h"

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// What one supervisor is to watch, from its command line.
struct CSupervisorOptions {
    std::string database;
    long long runId = 0;
    std::string outputPath;
    int timeLimitMinutes = 0; // 0: no limit
    // Where the starter reads whether the program started; -1 when nobody waits for it.
    int reportFd = -1;
    std::string program;
    std::vector<std::string> arguments;
};

// Starts one calculation as its child and stays with it to the end: passes its output to the
// run's output file, beats the run's heartbeat, stops it at its time limit or when a cancel
// is asked for, and records how it ended. It belongs to no process of the monitor's, so a
// window closed or a service restarted leaves it and its calculation running.
class CSupervisor {
public:
    explicit CSupervisor(CSupervisorOptions options);
    // The supervisor's exit status: 0 when the calculation ran, whatever its end.
    int Run();

private:
    using Clock = std::chrono::steady_clock;
    enum class StopReason { None, TimeLimit, Cancel };

    bool Start();
    SpawnResult SpawnWithOutputPipe();
    void ReportToStarter(const SpawnResult& spawned);
    void RecordNotStarted(int error);
    void Watch();
    bool HasEnded() const;
    void ReadOutput();
    void HandleSignal();
    void CheckDeadlines(Clock::time_point now);
    void Stop(StopReason reason, Clock::time_point now);
    int PollTimeoutMs(Clock::time_point now) const;
    CFinishedRun Finish(int status, const struct rusage& usage);
    void RunFailureCommand(const CFinishedRun& finished);

    CSupervisorOptions m_options;
    // Opened once the calculation runs: the start waits for neither the file nor the disk.
    std::optional<CRunDatabase> m_db;
    std::optional<COutputFile> m_output;
    CFileDescriptor m_outputPipe;
    CFileDescriptor m_calculationFd; // a pidfd: readable once the calculation has ended
    CFileDescriptor m_signals;
    pid_t m_calculation = -1;
    long long m_startMs = 0;
    bool m_startReported = false;
    StopReason m_stopReason = StopReason::None;
    std::string m_cancelledBy;
    Clock::time_point m_nextCancelCheck;
    Clock::time_point m_nextHeartbeat;
    std::optional<Clock::time_point> m_limitAt;
    std::optional<Clock::time_point> m_killAt;
};
