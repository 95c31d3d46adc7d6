#include "supervisor.h"

#include "base/spawn.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr auto kCancelCheckEvery = std::chrono::seconds(2);
constexpr auto kHeartbeatEvery = std::chrono::seconds(30);
// A calculation asked to stop is given this long before it is killed.
constexpr auto kGraceBeforeKill = std::chrono::seconds(30);
constexpr auto kLookWithoutPidfd = std::chrono::milliseconds(200);
constexpr size_t kReadChunk = 16 * 1024;

long long WallClockMs() {
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

long long Milliseconds(const timeval& time) {
    return static_cast<long long>(time.tv_sec) * 1000 + time.tv_usec / 1000;
}

void Complain(const std::string& text) {
    std::fprintf(stderr, "kvarnixrun: %s\n", text.c_str());
}

// The signals that ask the supervisor to stop are read from a descriptor, so that they reach
// the calculation's group instead of ending the watch; SIGHUP from a closing terminal is read
// and dropped. Blocked, not ignored: the calculation starts with every signal as it should be.
int BlockedSignalsFd() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
        sigaddset(&signals, signal);
    ::sigprocmask(SIG_BLOCK, &signals, nullptr);
    sigdelset(&signals, SIGPIPE);
    return ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

// A bare name is looked for in PATH, as a shell would.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return name;
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= folders.size()) {
        const size_t end = std::min(folders.find(':', begin), folders.size());
        const std::string candidate = folders.substr(begin, end - begin) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        begin = end + 1;
    }
    return name;
}

// The node a batch job runs on: its run is that host's to look after.
std::string HostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

} // namespace

CSupervisor::CSupervisor(CSupervisorOptions options) : m_options(std::move(options)) {}

int CSupervisor::Run() {
    m_signals.Reset(BlockedSignalsFd());
    const bool started = Start();
    if (!m_db->IsOpen())
        Complain("monitordatabasen " + m_options.database + " kan inte öppnas: " + m_db->Error());
    if (!started)
        return 1;
    Watch();
    int status = 0;
    struct rusage usage {};
    while (::wait4(m_calculation, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    const CFinishedRun finished = Finish(status, usage);
    const std::optional<bool> flagCleared = m_db->RecordEnd(finished);
    if (!flagCleared)
        Complain("körningens slut kunde inte skrivas i monitordatabasen: " + m_db->Error());
    if (finished.end.outcome != StoredRunEnd::kFinished)
        RunFailureCommand(finished);
    return 0;
}

// The calculation first: the database and the output file are opened while it runs.
bool CSupervisor::Start() {
    m_startMs = WallClockMs();
    const SpawnResult spawned = SpawnWithOutputPipe();
    ReportToStarter(spawned);
    m_db.emplace(m_options.database, m_options.runId);
    m_output.emplace(m_options.outputPath);
    if (!m_output->IsOpen())
        Complain("utskriftsfilen " + m_options.outputPath + " kan inte skapas");
    if (spawned.pid < 0) {
        RecordNotStarted(spawned.error);
        return false;
    }
    m_calculation = spawned.pid;
    m_calculationFd.Reset(static_cast<int>(::syscall(SYS_pidfd_open, m_calculation, 0)));
    ::fcntl(m_outputPipe.Get(), F_SETFL, O_NONBLOCK);
    // A starter that waits for the report records the processes itself, in the write it makes
    // anyway; the exact start goes in with the end. One write less a run keeps a minute of
    // thousands of starts quick.
    if (!m_startReported && !m_db->RecordStart(m_startMs, m_calculation, ::getpid(), HostName()))
        Complain("körningens start kunde inte skrivas i monitordatabasen: " + m_db->Error());
    const Clock::time_point now = Clock::now();
    m_nextCancelCheck = now + kCancelCheckEvery;
    m_nextHeartbeat = now + kHeartbeatEvery;
    if (m_options.timeLimitMinutes > 0)
        m_limitAt = now + std::chrono::minutes(m_options.timeLimitMinutes);
    return true;
}

SpawnResult CSupervisor::SpawnWithOutputPipe() {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {-1, errno};
    m_outputPipe.Reset(pipeFds[0]);
    const CFileDescriptor writeEnd(pipeFds[1]);
    return SpawnChild(m_options.program, m_options.arguments, writeEnd.Get());
}

// The starter learns the calculation's process id, or why it did not start.
void CSupervisor::ReportToStarter(const SpawnResult& spawned) {
    if (m_options.reportFd < 0)
        return;
    const std::string line =
        std::to_string(spawned.pid) + " " + std::to_string(spawned.error) + "\n";
    m_startReported = ::write(m_options.reportFd, line.data(), line.size()) == ssize_t(line.size());
    if (!m_startReported)
        Complain("starten kunde inte rapporteras till monitorn");
    ::close(m_options.reportFd);
    m_options.reportFd = -1;
}

// With nobody waiting for the report, a failed start goes into the history here.
void CSupervisor::RecordNotStarted(int error) {
    if (m_startReported)
        return;
    if (!m_db->RecordNotStarted(WallClockMs() / 1000,
                                DescribeStartFailure(m_options.program, error)))
        Complain("den misslyckade starten kunde inte skrivas i monitordatabasen: " + m_db->Error());
}

void CSupervisor::Watch() {
    for (;;) {
        pollfd watched[3] = {{m_calculationFd.Get(), POLLIN, 0},
                             {m_signals.Get(), POLLIN, 0},
                             {m_outputPipe.Get(), POLLIN, 0}};
        const int count = m_outputPipe.IsValid() ? 3 : 2;
        if (::poll(watched, nfds_t(count), PollTimeoutMs(Clock::now())) < 0 && errno != EINTR)
            return;
        if (count == 3 && watched[2].revents != 0)
            ReadOutput();
        if (watched[1].revents != 0)
            HandleSignal();
        if (watched[0].revents != 0 || (!m_calculationFd.IsValid() && HasEnded())) {
            // What the calculation wrote last is still in the pipe.
            ReadOutput();
            return;
        }
        CheckDeadlines(Clock::now());
    }
}

// Without a pidfd (an old kernel) the calculation is looked at on every wake-up; the wait
// itself is left to wait4, which reads the end's resource use with it.
bool CSupervisor::HasEnded() const {
    siginfo_t info{};
    return ::waitid(P_PID, id_t(m_calculation), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == m_calculation;
}

// Whatever is there now; the pipe's end is closed when the last writer is gone. A process
// the calculation left behind may hold the pipe open: the watch does not wait for it.
void CSupervisor::ReadOutput() {
    char chunk[kReadChunk];
    while (m_outputPipe.IsValid()) {
        const ssize_t got = ::read(m_outputPipe.Get(), chunk, sizeof chunk);
        if (got > 0) {
            m_output->Append(chunk, size_t(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got == 0 || errno != EAGAIN)
            m_outputPipe.Close();
        return;
    }
}

// A request to stop the supervisor is passed on: the calculation ends, and with it the watch.
// Slurm stops a cancelled batch job this way, so a stored cancel request is looked for at once:
// the run then ends as cancelled by whoever asked, not as ended by a signal.
void CSupervisor::HandleSignal() {
    signalfd_siginfo received;
    while (::read(m_signals.Get(), &received, sizeof received) == sizeof received) {
        if (received.ssi_signo != SIGTERM && received.ssi_signo != SIGINT)
            continue;
        if (m_stopReason != StopReason::None) {
            ::kill(-m_calculation, SIGTERM);
            continue;
        }
        if (const std::optional<std::string> who = m_db->CancelRequest()) {
            m_cancelledBy = *who;
            Stop(StopReason::Cancel, Clock::now());
        } else {
            ::kill(-m_calculation, SIGTERM);
        }
    }
}

void CSupervisor::CheckDeadlines(Clock::time_point now) {
    if (now >= m_nextCancelCheck) {
        m_nextCancelCheck = now + kCancelCheckEvery;
        if (m_stopReason == StopReason::None) {
            if (const std::optional<std::string> who = m_db->CancelRequest()) {
                m_cancelledBy = *who;
                Stop(StopReason::Cancel, now);
            }
        }
    }
    if (now >= m_nextHeartbeat) {
        m_nextHeartbeat = now + kHeartbeatEvery;
        m_db->Heartbeat(WallClockMs() / 1000);
    }
    if (m_limitAt && now >= *m_limitAt && m_stopReason == StopReason::None)
        Stop(StopReason::TimeLimit, now);
    if (m_killAt && now >= *m_killAt) {
        ::kill(-m_calculation, SIGKILL);
        m_killAt.reset();
    }
}

// The whole group: what the calculation started stops with it.
void CSupervisor::Stop(StopReason reason, Clock::time_point now) {
    m_stopReason = reason;
    ::kill(-m_calculation, SIGTERM);
    m_killAt = now + kGraceBeforeKill;
}

int CSupervisor::PollTimeoutMs(Clock::time_point now) const {
    Clock::time_point next = std::min(m_nextCancelCheck, m_nextHeartbeat);
    if (m_limitAt && m_stopReason == StopReason::None)
        next = std::min(next, *m_limitAt);
    if (m_killAt)
        next = std::min(next, *m_killAt);
    if (!m_calculationFd.IsValid())
        next = std::min(next, now + kLookWithoutPidfd);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::max<long long>(0, wait)) + 1;
}

CFinishedRun CSupervisor::Finish(int status, const struct rusage& usage) {
    CFinishedRun finished;
    finished.startMs = m_startMs;
    finished.endMs = WallClockMs();
    finished.cpuMs = Milliseconds(usage.ru_utime) + Milliseconds(usage.ru_stime);
    finished.peakMemoryKb = usage.ru_maxrss;
    m_output->Finish();
    if (WIFEXITED(status))
        finished.end.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        finished.end.signal = WTERMSIG(status);
    if (m_stopReason == StopReason::Cancel) {
        finished.end.outcome = StoredRunEnd::kCancelled;
        finished.end.cancelledBy = m_cancelledBy;
    } else if (m_stopReason == StopReason::TimeLimit) {
        finished.end.outcome = StoredRunEnd::kTimedOut;
    } else if (finished.end.signal) {
        finished.end.outcome = StoredRunEnd::kSignalled;
    } else {
        finished.end.outcome =
            finished.end.exitCode == 0 ? StoredRunEnd::kFinished : StoredRunEnd::kFailed;
    }
    return finished;
}

// Told the run's key, model, macro, end and output file, as separate arguments.
void CSupervisor::RunFailureCommand(const CFinishedRun& finished) {
    const std::string command = m_db->FailureCommand();
    if (command.empty())
        return;
    const std::optional<CRunDatabase::RunIdentity> run = m_db->Identity();
    const std::vector<std::string> arguments = {
        run ? std::to_string(run->key) : std::string(), run ? run->model : std::string(),
        run ? run->macro : std::string(), DescribeRunEnd(finished.end), m_options.outputPath};
    const std::string program = FindProgram(command);
    const SpawnResult spawned = SpawnDetached(program, arguments);
    const std::string what =
        spawned.pid >= 0 ? std::string("startades")
                         : "kunde inte startas: " + DescribeStartFailure(program, spawned.error);
    if (!m_db->RecordFailureCommand(what))
        Complain("kommandot vid fel: " + what);
}
