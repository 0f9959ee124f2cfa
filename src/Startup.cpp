#include "Startup.h"

#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "MainWindow.h"
#include "vemo/core/AssetPackage.h"
#include "vemo/core/Logger.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/ThreadPool.h"
#include "vemo/ui/Application.h"
#include "vemo/ui/Exceptions.h"
#include "vemo/ui/RenderContext.h"

#ifndef VEMO_VERSION
#error "VEMO_VERSION must name the program version"
#endif

namespace vemo {

namespace {

using namespace std::chrono_literals;

// The footer of --help.
constexpr const char* kExitStatus =
    "Exit status:\n"
    "  0  the window was closed, or SIGINT or SIGTERM ended the program\n"
    "  1  the program could not start (standard error says why), or was still not done 1.5 s after it\n"
    "     was asked to end and was cut off\n"
    "  2  usage error: an option or argument that is not valid\n";

// The exit status when the command line is all there is to do (help,
// version, a usage error); nullopt to start the browser.
std::optional<int> readCommandLine(int argc, char** argv) {
    CLI::App app{"Browse the variables of S7-1200/1500 controllers and watch their values, in a window.",
                 "vemo-s7-browser"};
    app.set_version_flag("--version", std::string("vemo-s7-browser ") + VEMO_VERSION, "print the version and exit");
    app.footer(kExitStatus);
    // The browser's options and arguments are added here, each into a field
    // of what runBrowser is given.
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    return std::nullopt;
}

// Writes straight to standard error: used where the program is about to be
// cut off, and a stream another thread may hold must not be waited for.
void sayNow(const std::string& text) {
    const std::string line = "vemo-s7-browser: " + text + "\n";
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + written, line.size() - written);
        if (n <= 0 && errno != EINTR) return;
        if (n > 0) written += static_cast<std::size_t>(n);
    }
}

// Watches for SIGINT and SIGTERM on a thread of its own, and keeps the time
// the program has left once it was asked to end. The first signal asks the
// frame loop to quit; a second one, or kExitGrace passing after the first
// (or after the loop ended), ends the process on the spot - a UI thread
// busy with a long frame or a worker stuck in a stalled call cannot keep it.
class ExitWatch {
public:
    // Blocks the two signals in the calling thread, and so in every thread
    // started after it (SDL's, the pool's): only this watch takes them.
    // Throws std::system_error when the watch cannot be set up.
    ExitWatch() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        if (const int error = pthread_sigmask(SIG_BLOCK, &signals_, &previousMask_); error != 0) {
            throw std::system_error(error, std::generic_category(), "pthread_sigmask");
        }
        signalFd_ = ::signalfd(-1, &signals_, SFD_CLOEXEC);
        if (signalFd_ < 0 || ::pipe2(commands_, O_CLOEXEC) != 0) {
            const int error = errno;
            release();
            throw std::system_error(error, std::generic_category(), "signal watch");
        }
        try {
            thread_ = std::thread([this] { watch(); });
        } catch (...) {
            release();
            throw;
        }
    }

    ~ExitWatch() {
        send('q');
        if (thread_.joinable()) thread_.join();
        release();
    }

    ExitWatch(const ExitWatch&) = delete;
    ExitWatch& operator=(const ExitWatch&) = delete;

    // The frame loop has returned: the teardown has kExitGrace.
    void loopEnded() { send('e'); }

private:
    using Clock = std::chrono::steady_clock;

    void send(char command) {
        while (::write(commands_[1], &command, 1) < 0 && errno == EINTR) {
        }
    }

    void watch() {
        std::optional<Clock::time_point> deadline;
        std::string askedBy;
        const auto startCountdown = [&deadline] {
            const Clock::time_point end = Clock::now() + kExitGrace;
            deadline = deadline ? std::min(*deadline, end) : end;
        };
        for (;;) {
            int timeoutMs = -1;
            if (deadline) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
                timeoutMs = static_cast<int>(std::max<std::int64_t>(left, 0));
            }
            pollfd fds[2] = {{signalFd_, POLLIN, 0}, {commands_[0], POLLIN, 0}};
            const int ready = ::poll(fds, 2, timeoutMs);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (ready == 0) {
                sayNow(fmt::format("still not done {:g} s after {}; ending it now",
                                   std::chrono::duration<double>(kExitGrace).count(),
                                   askedBy.empty() ? "its window closed" : askedBy));
                ::_exit(kExitFailed);
            }
            if ((fds[0].revents & POLLIN) != 0) {
                signalfd_siginfo info{};
                if (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                    const std::string name = info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM";
                    if (!askedBy.empty()) {
                        sayNow(name + " again; ending it now");
                        ::_exit(kExitFailed);
                    }
                    askedBy = name;
                    Logger::log(LogLevel::Info, "{}: the program ends", name);
                    ui::Application::requestQuit();
                    startCountdown();
                }
            }
            if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
                char command = 'q';
                if (::read(commands_[0], &command, 1) <= 0 || command == 'q') return;
                if (command == 'e') startCountdown();
            }
        }
    }

    void release() {
        const auto closeOnce = [](int& fd) {
            if (fd >= 0) ::close(fd);
            fd = -1;
        };
        closeOnce(signalFd_);
        closeOnce(commands_[0]);
        closeOnce(commands_[1]);
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }

    sigset_t signals_{};
    sigset_t previousMask_{};
    int signalFd_ = -1;
    int commands_[2] = {-1, -1};
    std::thread thread_;
};

// Stops the pool (workers drain the queue and are joined) when the scope
// ends, also by an exception. Declared after the main window, it runs before
// the window and its views are destroyed, so no task outlives what it uses.
// At the end of the program: ends the connection first - a call against a
// stalled controller returns at once, and the tasks still queued find
// nothing to do - then stops and joins the pool. A cut that reaches the
// library just before a call begins to wait is lost on that call, so while
// the worker finishes the calls are cut again and again: none of them waits
// for a controller that does not answer.
class PoolStopper {
public:
    PoolStopper(ThreadPool& pool, PlcConnection& service) : pool_(pool), service_(service) {}
    ~PoolStopper() {
        service_.disconnect();
        std::mutex mutex;
        std::condition_variable changed;
        bool stopped = false;
        std::thread stopper;
        try {
            stopper = std::thread([&] {
                pool_.shutdown();
                const std::lock_guard lock(mutex);
                stopped = true;
                changed.notify_one();
            });
        } catch (const std::system_error&) {
            pool_.shutdown();  // no thread to spare: one cut has to do
            return;
        }
        {
            std::unique_lock lock(mutex);
            while (!changed.wait_for(lock, 50ms, [&] { return stopped; })) service_.disconnect();
        }
        stopper.join();
    }
    PoolStopper(const PoolStopper&) = delete;
    PoolStopper& operator=(const PoolStopper&) = delete;

private:
    ThreadPool& pool_;
    PlcConnection& service_;
};

}  // namespace

std::filesystem::path executableDirectory() {
    std::error_code error;
    // Linux names the running executable in /proc; the link resolves to the
    // full path however the program was started.
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || executable.empty()) {
        return std::filesystem::current_path();
    }
    return executable.parent_path();
}

std::filesystem::path locateAssetPackage() {
    const std::filesystem::path candidates[] = {
        executableDirectory() / kAssetPackageName,
        std::filesystem::current_path() / kAssetPackageName,
    };
    for (const std::filesystem::path& candidate : candidates) {
        std::error_code error;
        // A missing file clears the error; anything else (no permission to
        // look into the directory) is reported.
        const bool exists = std::filesystem::exists(candidate, error);
        if (error) {
            throw std::filesystem::filesystem_error("exists", candidate, error);
        }
        if (exists) {
            return candidate;
        }
    }
    return candidates[0];
}

void runBrowser(const std::function<void()>& loopEnded) {
    auto context = ui::RenderContext::create(ui::RenderBackend::Accelerated, kApplicationName);
    const std::vector<ui::DeviceInfo> devices = context.listDevices();
    for (const ui::DeviceInfo& device : devices) {
        Logger::log(LogLevel::Debug, "Device ID: {}, Name: {}", device.id, device.name);
    }
    context.selectDevice(0);
    context.initialize();

    AssetPackage::instance().load(locateAssetPackage().string());

    ThreadPool& pool = ThreadPool::instance();
    pool.init(1);

    ui::Application application(std::move(context), kApplicationName);
    ui::Application::setVSync(true);
    MainWindow mainWindow;
    const PoolStopper stopPool(pool, *PlcConnection::instance());
    Logger::log(LogLevel::Info, "VEMO S7 Browser {} is ready", VEMO_VERSION);
    application.run();
    if (loopEnded) loopEnded();
    // Kept before anything can hold the teardown up.
    mainWindow.saveSettings();
    // Leaving the scope: the pool is stopped and joined, then the main window
    // unregisters its tick, then the Application destroys the window and its
    // views (callables still posted by tasks are dropped unrun), then the
    // device list goes.
}

int browserMain(int argc, char** argv) {
    if (const std::optional<int> status = readCommandLine(argc, argv)) return *status;
    try {
        ExitWatch exitWatch;
        // The signals are the watch's; SDL would turn them into a quit event
        // that only a responsive loop sees.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        runBrowser([&exitWatch] { exitWatch.loopEnded(); });
        return kExitOk;
    } catch (const ui::RenderException& e) {
        std::cerr << "RenderException: " << e.getMessage() << " CODE: " << e.code() << "\n";
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
    }
    return kExitFailed;
}

}  // namespace vemo
