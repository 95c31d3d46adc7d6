#include "base/spawn.h"

#include "base/filedescriptor.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kHighestInheritedFd = 65536;

// What the middle process tells the caller through the pipe: the program's process id,
// then, should the exec fail, its errno.
struct SpawnMessage {
    pid_t pid;
    int error;
};

bool WriteWhole(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= size_t(written);
    }
    return true;
}

// Fewer bytes than asked for only at the end of the pipe.
size_t ReadWhole(int fd, void* data, size_t size) {
    char* bytes = static_cast<char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, bytes + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += size_t(got);
    }
    return done;
}

// What the program gets besides its arguments: a descriptor of the caller's as its
// descriptor 3, one for its standard output and error.
struct Handover {
    int passedFd = -1;
    int outputFd = -1;
};

// Between fork and exec only async-signal-safe calls: the caller may have other threads.
[[noreturn]] void ExecProgram(const char* program, char* const* argv, int reportFd,
                              Handover handover) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal)
        ::signal(signal, SIG_DFL);
    // Every descriptor but the standard three closes at the exec; the report pipe already does.
    // A kernel without close_range gets the same one descriptor at a time.
    if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = 3; fd < kHighestInheritedFd; ++fd)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    if (handover.outputFd >= 0) {
        ::dup2(handover.outputFd, STDOUT_FILENO);
        ::dup2(handover.outputFd, STDERR_FILENO);
    }
    if (handover.passedFd >= 0) {
        // The report pipe may be descriptor 3 itself: it moves out of the way first.
        if (reportFd == 3)
            reportFd = ::fcntl(reportFd, F_DUPFD_CLOEXEC, 4);
        if (handover.passedFd == 3)
            ::fcntl(3, F_SETFD, 0);
        else
            ::dup2(handover.passedFd, 3);
    }
    ::execv(program, argv);
    const int error = errno;
    const SpawnMessage failed{-1, error};
    WriteWhole(reportFd, &failed, sizeof failed);
    ::_exit(127);
}

// The middle process: a session of its own for the program, which then belongs to no
// process of the caller's, and the program's process id for the caller.
[[noreturn]] void StartFromMiddle(const char* program, char* const* argv, int reportFd,
                                  Handover handover) {
    ::setsid();
    const pid_t pid = ::fork();
    if (pid == 0)
        ExecProgram(program, argv, reportFd, handover);
    const SpawnMessage started{pid, pid < 0 ? errno : 0};
    WriteWhole(reportFd, &started, sizeof started);
    ::_exit(0);
}

// The words of the argument vector, which must outlive the fork.
struct ArgumentVector {
    ArgumentVector(const std::string& program, const std::vector<std::string>& arguments) {
        words.reserve(arguments.size() + 1);
        words.push_back(program);
        words.insert(words.end(), arguments.begin(), arguments.end());
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
    }
    std::vector<std::string> words;
    std::vector<char*> argv;
};

// An interpreter line is short; the kernel reads at most this much of it. Read through the
// descriptor, not a stream: the run supervisor shares this file and stays small.
constexpr size_t kInterpreterLineBytes = 256;

std::string FirstLine(const std::string& path) {
    const CFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsValid())
        return {};
    char head[kInterpreterLineBytes];
    const size_t got = ReadWhole(file.Get(), head, sizeof head);
    const std::string text(head, got);
    return text.substr(0, text.find('\n'));
}

bool IsFile(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace

SpawnResult SpawnDetached(const std::string& program, const std::vector<std::string>& arguments,
                          int passedFd) {
    ArgumentVector words(program, arguments);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return {-1, errno};
    const pid_t middle = ::fork();
    if (middle == 0)
        StartFromMiddle(program.c_str(), words.argv.data(), report[1], {passedFd, -1});
    const int forkError = errno;
    ::close(report[1]);
    if (middle < 0) {
        ::close(report[0]);
        return {-1, forkError};
    }
    SpawnMessage started{-1, ECHILD};
    const bool told = ReadWhole(report[0], &started, sizeof started) == sizeof started;
    SpawnMessage failed{-1, 0};
    // The exec closes the pipe's last writer: an end without a message means it started.
    const bool execFailed =
        told && started.pid > 0 && ReadWhole(report[0], &failed, sizeof failed) == sizeof failed;
    ::close(report[0]);
    while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (!told)
        return {-1, ECHILD};
    if (started.pid <= 0)
        return {-1, started.error};
    if (execFailed) {
        // The failed program was the middle process's child; init reaps it.
        return {-1, failed.error};
    }
    return {started.pid, 0};
}

SpawnResult SpawnChild(const std::string& program, const std::vector<std::string>& arguments,
                       int outputFd) {
    ArgumentVector words(program, arguments);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return {-1, errno};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ExecProgram(program.c_str(), words.argv.data(), report[1], {-1, outputFd});
    }
    const int forkError = errno;
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        return {-1, forkError};
    }
    // Here too, so that the group exists before the caller can signal it.
    ::setpgid(pid, pid);
    SpawnMessage failed{-1, 0};
    const bool execFailed = ReadWhole(report[0], &failed, sizeof failed) == sizeof failed;
    ::close(report[0]);
    if (!execFailed)
        return {pid, 0};
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return {-1, failed.error};
}

std::string ScriptInterpreter(const std::string& program) {
    const std::string line = FirstLine(program);
    if (line.rfind("#!", 0) != 0)
        return {};
    const size_t begin = line.find_first_not_of(" \t", 2);
    if (begin == std::string::npos)
        return {};
    const size_t end = line.find_first_of(" \t\r", begin);
    return line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string DescribeStartFailure(const std::string& program, int error) {
    switch (error) {
    case ENOENT: {
        if (!IsFile(program))
            return "programmet " + program + " finns inte";
        const std::string interpreter = ScriptInterpreter(program);
        if (!interpreter.empty())
            return "tolken " + interpreter + " som skriptet " + program + " anger finns inte";
        return "programmet " + program + " gick inte att starta: en fil det behöver saknas";
    }
    case EACCES:
    case EPERM:
        return program + " får inte köras (körrättighet saknas)";
    case ENOEXEC:
        return program + " är inget program som kan köras";
    case ENOTDIR:
        return "sökvägen till programmet " + program + " går genom något som inte är en mapp";
    case ETXTBSY:
        return "programmet " + program + " skrivs just nu och kan inte köras";
    case ENOMEM:
    case EAGAIN:
        return "datorn har inte resurser att starta " + program + " just nu";
    case E2BIG:
        return "argumenten till " + program + " är för långa";
    case ELOOP:
    case ENAMETOOLONG:
        return "sökvägen till programmet " + program + " går inte att följa";
    default:
        break;
    }
    return "programmet " + program + " gick inte att starta (" + std::strerror(error) + ")";
}
