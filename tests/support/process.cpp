#include "process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vemo::test {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

pid_t spawn(const std::vector<std::string>& argv, int outFd, int errFd) {
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::dup2(outFd, STDOUT_FILENO);
        ::dup2(errFd, STDERR_FILENO);
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, STDIN_FILENO);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

int waitFor(pid_t pid, int timeoutMs, bool& reaped) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            reaped = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (msLeft(deadline) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            reaped = true;
            return -1;
        }
        ::usleep(5000);
    }
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, int timeoutMs) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = spawn(argv, out[1], err[1]);
    ::close(out[1]);
    ::close(err[1]);

    ProcessResult result;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    char buf[4096];
    while (open > 0 && msLeft(deadline) > 0) {
        if (::poll(fds, 2, msLeft(deadline)) <= 0) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
                } else {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    for (auto& f : fds) {
        if (f.fd >= 0) {
            ::close(f.fd);
        }
    }
    bool reaped = false;
    result.exitCode = waitFor(pid, msLeft(deadline) + 100, reaped);
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, int timeoutMs, Errors errors) {
    int out[2];
    int err[2] = {-1, STDERR_FILENO};
    if (::pipe2(out, O_CLOEXEC) != 0 || (errors == Errors::Captured && ::pipe2(err, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = spawn(argv, out[1], err[1]);
    ::close(out[1]);
    outFd_ = out[0];
    if (errors == Errors::Captured) {
        ::close(err[1]);
        errFd_ = err[0];
    }

    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char c = 0;
    while (msLeft(deadline) > 0) {
        pollfd pfd{outFd_, POLLIN, 0};
        if (::poll(&pfd, 1, msLeft(deadline)) <= 0 || ::read(outFd_, &c, 1) != 1) {
            break;
        }
        if (c == '\n') {
            return;
        }
        firstLine_.push_back(c);
    }
}

std::string BackgroundProcess::readOutput(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    while (outFd_ >= 0 && msLeft(deadline) > 0) {
        pollfd pfd{outFd_, POLLIN, 0};
        if (::poll(&pfd, 1, msLeft(deadline)) <= 0) {
            break;
        }
        const ssize_t n = ::read(outFd_, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        pending_.append(buf, static_cast<size_t>(n));
    }
    return std::exchange(pending_, {});
}

std::string BackgroundProcess::errorLine(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char c = 0;
    while (errFd_ >= 0 && msLeft(deadline) > 0) {
        pollfd pfd{errFd_, POLLIN, 0};
        if (::poll(&pfd, 1, msLeft(deadline)) <= 0 || ::read(errFd_, &c, 1) != 1) {
            break;
        }
        if (c == '\n') {
            return std::exchange(errPending_, {});
        }
        errPending_.push_back(c);
    }
    return {};
}

int BackgroundProcess::stop(int signal, int timeoutMs) {
    if (!reaped_) {
        ::kill(pid_, signal);
        exitCode_ = waitFor(pid_, timeoutMs, reaped_);
    }
    return exitCode_;
}

BackgroundProcess::~BackgroundProcess() {
    stop(SIGKILL, 5000);
    if (outFd_ >= 0) {
        ::close(outFd_);
    }
    if (errFd_ >= 0) {
        ::close(errFd_);
    }
}

}  // namespace vemo::test
