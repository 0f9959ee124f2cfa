// Runs the project's executables from tests: once to completion with its
// output captured, or in the background (a server such as the simulator)
// until the test ends it.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

namespace vemo::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs argv[0] with the arguments and waits for it; kills it after
// timeoutMs and reports exit code -1 then.
ProcessResult runProcess(const std::vector<std::string>& argv, int timeoutMs = 60000);

class BackgroundProcess {
public:
    // Where the program's standard error goes: the test's own, or a pipe
    // that errorLine() reads (keep the program quiet enough for it then).
    enum class Errors { Shown, Captured };

    // Starts the program and waits up to timeoutMs for its first line of
    // standard output, which firstLine() then returns (empty when none came).
    explicit BackgroundProcess(const std::vector<std::string>& argv, int timeoutMs = 10000,
                               Errors errors = Errors::Shown);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    const std::string& firstLine() const { return firstLine_; }
    pid_t pid() const { return pid_; }
    // Sends the signal and waits up to timeoutMs; the exit code, or -1.
    int stop(int signal, int timeoutMs = 10000);
    // Reads what the process printed after its first line, until it ends or
    // timeoutMs pass.
    std::string readOutput(int timeoutMs);
    // The next line of standard error (Errors::Captured), without its line
    // end; empty when none is complete within timeoutMs.
    std::string errorLine(int timeoutMs);

private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string errPending_;
    std::string firstLine_;
    std::string pending_;
    int exitCode_ = -1;
    bool reaped_ = false;
};

}  // namespace vemo::test
