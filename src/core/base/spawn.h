#pragma once

// Plain C++ and POSIX, without Qt: the run supervisor shares it.

#include <string>
#include <sys/types.h>
#include <vector>

// Starts a program as a process of its own that nobody waits for: in a session of its
// own, with the given arguments (no shell), the caller's working directory and
// environment, none of the caller's descriptors but the standard three, default signal
// handling. Tells whether the program really started: a failed exec is reported with its
// errno, not as a process that ends at once.
struct SpawnResult {
    pid_t pid = -1; // the started program's process id, -1 when it did not start
    int error = 0;  // the errno of the failure, 0 when it started
};
// passedFd, when not -1, becomes the program's descriptor 3, for it to tell the caller what
// it must know.
SpawnResult SpawnDetached(const std::string& program, const std::vector<std::string>& arguments,
                          int passedFd = -1);

// Starts a program as a child of the caller, who waits for it: in a process group of its own,
// so that it and whatever it starts can be signalled together, with its standard output and
// error going to outputFd and the caller's standard input, working directory and
// environment. Tells whether the program really started, as SpawnDetached does.
SpawnResult SpawnChild(const std::string& program, const std::vector<std::string>& arguments,
                       int outputFd);

// Why the program could not be started, in Swedish, for an errno of the exec or the spawn.
// A script whose interpreter line names a missing interpreter is told apart from a missing
// program.
std::string DescribeStartFailure(const std::string& program, int error);

// The interpreter a script's first line ("#!...") names, or empty when the file does not
// begin with one.
std::string ScriptInterpreter(const std::string& program);
