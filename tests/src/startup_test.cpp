// Start-up and teardown of the real program: its command line, where it
// finds assets.pak and what it prints when it cannot or when there is no
// display (the executable itself, copied into a directory of the test's
// own), how SIGINT and SIGTERM end it, and a window closed while a connect
// runs.
#include "Startup.h"

#include "Views/DefaultButton.h"
#include "app_test_support.h"
#include "gui_fixture.h"
#include "loopback_server.h"
#include "process.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/Settings.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
namespace ui = vemo::ui;
using vemo::test::TempDir;

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Headless: SDL's offscreen video driver, asked for by name.
constexpr const char* kHeadless = "SDL_VIDEODRIVER=offscreen";
// No display at all, and no video driver asked for.
constexpr const char* kNoDisplay = "";

// The program copied into <dir>/bin, started from <dir>/work with `args`,
// without the test's display and with `video` in its environment.
ProgramRun runBrowserIn(const TempDir& dir, const std::string& args = "", const std::string& video = kHeadless) {
    const fs::path bin = dir.path() / "bin";
    const fs::path work = dir.path() / "work";
    const fs::path program = bin / "vemo-s7-browser";
    fs::create_directories(bin);
    fs::create_directories(work);
    fs::copy_file(VEMO_BROWSER_EXE, program, fs::copy_options::overwrite_existing);
    // Settings and watch lists in the test's own folders, never the user's.
    const std::string command =
        "cd '" + work.string() +
        "' && env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER LSAN_OPTIONS=suppressions='" +
        VEMO_LSAN_SUPPRESSIONS + "':print_suppressions=0 XDG_CONFIG_HOME='" + dir.path().string() +
        "/config' XDG_DATA_HOME='" + dir.path().string() + "/data' " + video + " timeout 60 '" + program.string() +
        "' " + args + " > ../out.txt 2> ../err.txt";
    const int raw = std::system(command.c_str());
    ProgramRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = vemo::test::readText(dir.path() / "out.txt");
    run.err = vemo::test::readText(dir.path() / "err.txt");
    return run;
}

struct LocateCase {
    const char* name;
    std::optional<std::string> besideProgram;
    std::optional<std::string> inWorkingDirectory;
    // The one line on standard error; "{bin}" stands for the program's directory.
    std::string error;
};

const LocateCase kLocateCases[] = {
    {"NoPackageNamesThePathBesideTheProgram", std::nullopt, std::nullopt,
     "Failed to open asset file: {bin}/assets.pak\n"},
    {"WorkingDirectoryCopyIsUsedWhenOnlyThere", std::nullopt, vemo::test::makePackage({{"icons/vemo.svg", "x"}}),
     "Failed to load default font asset\n"},
    {"CopyBesideTheProgramWins", vemo::test::makePackage({{"icons/vemo.svg", "x"}}), std::string("not a package"),
     "Failed to load default font asset\n"},
    {"PackageBesideTheProgramIsReadEvenIfBroken", std::string("not a package, but long enough to be read as one"),
     vemo::test::makePackage({{"icons/vemo.svg", "x"}}), "Bad magic (not VPAK)\n"},
};

void PrintTo(const LocateCase& c, std::ostream* os) { *os << c.name; }

class StartupLocate : public ::testing::TestWithParam<LocateCase> {};

TEST_P(StartupLocate, PrintsTheDevicesThenTheFailureAndEnds) {
    const LocateCase& c = GetParam();
    const TempDir dir;
    fs::create_directories(dir.path() / "bin");
    fs::create_directories(dir.path() / "work");
    if (c.besideProgram) vemo::test::writeText(dir.path() / "bin" / "assets.pak", *c.besideProgram);
    if (c.inWorkingDirectory) vemo::test::writeText(dir.path() / "work" / "assets.pak", *c.inWorkingDirectory);

    const ProgramRun run = runBrowserIn(dir);

    std::string expected = c.error;
    if (const auto at = expected.find("{bin}"); at != std::string::npos) {
        expected.replace(at, 5, (dir.path() / "bin").string());
    }
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(run.status, 1);
    // One log line per render device, before anything else happens.
    std::istringstream lines(run.out);
    std::string line;
    int devices = 0;
    while (std::getline(lines, line)) {
        EXPECT_TRUE(std::regex_match(line, std::regex(R"(\S+ \S+ \[DEBUG\] <runBrowser> Device ID: [0-9]+, Name: .+)")))
            << line;
        ++devices;
    }
    EXPECT_GT(devices, 0);
}

INSTANTIATE_TEST_SUITE_P(Startup, StartupLocate, ::testing::ValuesIn(kLocateCases),
                         [](const auto& param) { return std::string(param.param.name); });

// What the command line alone settles, without a display: a window tried
// would end the run with exit status 1 and "Cannot open a window".
struct CommandLineCase {
    const char* name;
    const char* args;
    int status;
    // Regular expressions the whole of standard output and error match.
    const char* out;
    const char* err;
};

const CommandLineCase kCommandLineCases[] = {
    {"HelpShowsTheUsageAndTheExitStatuses", "--help", 0,
     R"([\s\S]*Usage: vemo-s7-browser \[OPTIONS\][\s\S]*--version[\s\S]*Exit status:[\s\S]*2  usage error[\s\S]*)", ""},
    {"VersionIsOneLine", "--version", 0, R"(vemo-s7-browser [0-9]+\.[0-9]+\.[0-9]+\n)", ""},
    {"AnUnknownOptionIsAUsageError", "--no-such-option", 2, "",
     R"(The following argument was not expected: --no-such-option\nRun with --help for more information\.\n)"},
    {"AnUnknownShortOptionIsAUsageError", "-x", 2, "", R"([\s\S]*-x[\s\S]*--help[\s\S]*)"},
};

void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.name; }

class StartupCommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(StartupCommandLine, IsSettledWithoutAWindow) {
    const CommandLineCase& c = GetParam();
    const TempDir dir;
    const ProgramRun run = runBrowserIn(dir, c.args, kNoDisplay);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(std::regex_match(run.out, std::regex(c.out))) << run.out;
    EXPECT_TRUE(std::regex_match(run.err, std::regex(c.err))) << run.err;
    EXPECT_FALSE(fs::exists(dir.path() / "config")) << "settings kept from a run without a window";
}

INSTANTIATE_TEST_SUITE_P(Startup, StartupCommandLine, ::testing::ValuesIn(kCommandLineCases),
                         [](const auto& param) { return std::string(param.param.name); });

// Without a display the program says why no window opens and ends at once,
// rather than running a window nobody sees; it keeps no settings from such
// a run.
struct NoDisplayCase {
    const char* name;
    const char* video;
    const char* error;
};

const NoDisplayCase kNoDisplayCases[] = {
    {"NoneSet", kNoDisplay,
     "RenderException: Cannot open a window: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set) "
     "CODE: -9\n"},
    {"NoServerThere", "DISPLAY=:64999",
     "RenderException: Cannot open a window: the display cannot be reached (DISPLAY=:64999) CODE: -9\n"},
};

void PrintTo(const NoDisplayCase& c, std::ostream* os) { *os << c.name; }

class StartupNoDisplay : public ::testing::TestWithParam<NoDisplayCase> {};

TEST_P(StartupNoDisplay, SaysWhyNoWindowOpensAndEnds) {
    // The console's graphics device would be a screen to show the window on.
    if (fs::exists("/dev/dri")) GTEST_SKIP() << "this machine has a DRM device";
    const NoDisplayCase& c = GetParam();
    const TempDir dir;
    fs::create_directories(dir.path() / "bin");
    fs::copy_file(VEMO_ASSET_PACKAGE, dir.path() / "bin" / "assets.pak");
    const ProgramRun run = runBrowserIn(dir, "", c.video);
    EXPECT_EQ(run.status, 1);
    // The last line; client libraries may have had their say before it.
    const std::string error = c.error;
    ASSERT_GE(run.err.size(), error.size()) << run.err;
    EXPECT_EQ(run.err.substr(run.err.size() - error.size()), error) << run.err;
    EXPECT_FALSE(fs::exists(dir.path() / "config")) << "settings kept from a run without a window";
}

INSTANTIATE_TEST_SUITE_P(Startup, StartupNoDisplay, ::testing::ValuesIn(kNoDisplayCases),
                         [](const auto& param) { return std::string(param.param.name); });

// SIGINT and SIGTERM end the running program as closing its window does:
// the loop returns, the teardown runs, the exit status is 0.
class StartupSignal : public ::testing::TestWithParam<int> {};

TEST_P(StartupSignal, EndsTheRunningProgram) {
    const int signal = GetParam();
    const std::string name = signal == SIGINT ? "SIGINT" : "SIGTERM";
    const TempDir dir;
    vemo::test::BackgroundProcess program({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", kHeadless,
                                           "XDG_CONFIG_HOME=" + (dir.path() / "config").string(),
                                           "XDG_DATA_HOME=" + (dir.path() / "data").string(), VEMO_BROWSER_EXE},
                                          30000);
    // Its window is built and the loop about to run.
    std::string log = program.firstLine() + "\n";
    for (int i = 0; i < 300 && log.find("is ready") == std::string::npos; ++i) log += program.readOutput(200);
    ASSERT_NE(log.find("is ready"), std::string::npos) << "the program never came up:\n" << log;

    EXPECT_EQ(program.stop(signal, 60000), 0) << name << " did not end it cleanly";
    log += program.readOutput(5000);
    EXPECT_NE(log.find(name + ": the program ends"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Startup, StartupSignal, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& param) { return std::string(param.param == SIGINT ? "SIGINT" : "SIGTERM"); });

// A UI thread that does not come back to the loop - a frame that takes for
// ever - cannot keep the program once it was asked to end: 1.5 s after the
// signal it is cut off, and says so. (In a child process: the program's
// signal watch and its end are the process's own.)
TEST(Browser, ASignalEndsTheProgramWhileItsUiThreadIsBusy) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const fs::path home = fs::path(VEMO_TEST_OUTPUT_DIR) / "busy-ui-home";
    const auto busyProgram = [&home] {
        ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
        ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        // The first frame asks for the end, then never returns. To the
        // process, not this thread: the program takes it on a thread of its
        // own.
        ui::Application::dispatchToMainThread([] {
            ::kill(::getpid(), SIGTERM);
            for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
        });
        char program[] = "vemo-s7-browser";
        char* argv[] = {program, nullptr};
        std::exit(vemo::browserMain(1, argv));
    };
    EXPECT_EXIT(busyProgram(), ::testing::ExitedWithCode(1), "still not done 1.5 s after SIGTERM; ending it now");
}

TEST(Startup, ExecutableDirectoryIsWhereTheRunningProgramLies) {
    EXPECT_EQ(vemo::executableDirectory(), fs::canonical(fs::path(VEMO_TEST_EXE).parent_path()));
}

// The whole program in this process: type an address, press Connect, and
// close the window while the controller keeps the connect waiting. The
// program must end without touching its destroyed views (AddressSanitizer
// watches in the sanitizer build) and without waiting longer than the
// controller does.
TEST(Browser, ClosingTheWindowWhileAConnectRunsEndsCleanly) {
    ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
    // Settings and watch lists in the test's own folders, never the user's.
    const TempDir home;
    ::setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);
    std::atomic<bool> accepted{false};
    std::atomic<bool> closing{false};
    vemo::test::LoopbackServer controller([&](int) {
        accepted = true;
        for (int i = 0; i < 3000 && !closing; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // By now the UI thread waits for the pool; the connect fails when
        // the connection closes.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    });

    int frame = 0;
    int closeAt = 0;
    bool reachedConnecting = false;
    auto driver = [&] {
        ui::Window* window = ui::Application::windows().front().get();
        auto* panel = vemo::test::findAll<ui::ImGuiPanel>(window->getRootWidget()).at(0);
        auto* button = vemo::test::findAll<vemo::DefaultButton>(window->getRootWidget()).at(0);
        const ui::Vec2 origin = panel->getWorldPosition();
        const ui::Vec2 ip = origin + vemo::test::kIpField;
        const ui::Vec2 port = origin + vemo::test::kPortText;
        const ui::Vec2 connect = vemo::test::centerOf(button);
        // The frames are this driver's clock: the loop must not sleep.
        ui::Application::requestRedraw();
        switch (++frame) {
        case 3: window->saveScreenshot((fs::path(VEMO_TEST_OUTPUT_DIR) / "browser_started.png").string()); break;
        case 4: window->injectClick(ip.x, ip.y); break;
        case 6: window->injectText("127.0.0.1"); break;
        case 8: window->injectClick(port.x, port.y); break;
        case 10: window->injectText(std::to_string(controller.port())); break;
        case 12: window->injectClick(connect.x, connect.y); break;
        default: break;
        }
        const bool connecting = vemo::PlcConnection::instance()->getState() == vemo::ConnectionState::Connecting;
        if (closeAt == 0 && frame > 12 && ((connecting && accepted) || frame > 1200)) {
            reachedConnecting = connecting && accepted;
            closeAt = frame + 2;  // the view shows the state after its next update
        }
        if (frame == closeAt) {
            window->saveScreenshot((fs::path(VEMO_TEST_OUTPUT_DIR) / "browser_connecting.png").string());
            closing = true;
            SDL_Event close{};
            close.type = SDL_WINDOWEVENT;
            close.window.event = SDL_WINDOWEVENT_CLOSE;
            close.window.windowID = window->id();
            SDL_PushEvent(&close);
        }
    };
    // Runs in the program's first frame, once its window exists.
    ui::Application::dispatchToMainThread([&] { ui::Application::registerTickCallback(&frame, driver); });

    vemo::test::CapturedStreams streams;
    const auto start = std::chrono::steady_clock::now();
    vemo::runBrowser();
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_TRUE(reachedConnecting) << "the connect was running when the window closed";
    // Closing the window is the operator's disconnect: it cuts the connect
    // short instead of waiting for its time-out.
    EXPECT_NE(
        streams.out().find("Disconnected from 127.0.0.1:" + std::to_string(controller.port()) + " by the operator"),
        std::string::npos)
        << streams.out();
    EXPECT_EQ(vemo::PlcConnection::instance()->getState(), vemo::ConnectionState::Disconnected);
    EXPECT_LT(took, std::chrono::seconds(vemo::PlcConnection::kConnectTimeoutMs / 1000))
        << "the program waited for the connect's time-out instead of the closed connection";
    // What was typed is there at the next start.
    const fs::path settings = home.path() / "config" / "vemo-s7-browser" / "settings.json";
    EXPECT_EQ(vemo::Settings::read(settings).address, (vemo::ControllerAddress{"127.0.0.1", controller.port()}));
}

}  // namespace
