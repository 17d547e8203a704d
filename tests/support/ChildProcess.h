#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

// Runs a program (found on PATH) to its end and answers its exit status, or 128 + the signal
// that ended it, or -1 when it could not be started. The child inherits stdout and stderr.
int runProgram(const std::vector<std::string>& argv);
// The same with the given environment (NAME=value each), standard output and error both
// written to the file at `outputPath`.
int runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const std::string& outputPath);

// The body of a child process that a test starts, run in a fresh copy of the test binary.
// `signalFd` is the descriptor that the test handed to startChild (a pipe's write end, say);
// `args` are the strings it passed. The body never returns: it loops until it is killed or
// ends with _exit.
using ChildBody = void (*)(int signalFd, const std::vector<std::string>& args);

// Registers a body under a name, from a static initialiser:
//   const testsupport::ChildRegistration writer("AtomicFile.writer", &writeForever);
struct ChildRegistration {
    ChildRegistration(const char* name, ChildBody body);
};

// Starts the body registered under `name` in a new process: this test binary executed again,
// not forked. A child forked from a process whose other threads may hold a lock (the
// allocator's, a queue's) can hang on it for ever; an executed one starts from nothing. The
// child gets `signalFd` (left open across the exec) and `args`; everything else it needs, a
// path or a sandbox, comes through `args`. Answers the child's pid, or -1.
pid_t startChild(const char* name, int signalFd, const std::vector<std::string>& args = {});

// Whether this process was started by startChild to run a body (set-up that the tests of the
// binary share may not be wanted there).
bool isChildProcess();

}  // namespace testsupport
