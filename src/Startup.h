// The program's life: the command line, start-up in a fixed order, the
// frame loop, and a teardown that stops the thread pool before anything its
// tasks touch is destroyed.
//
// Start-up, on the UI thread:
//   command line -> signal watch -> render context -> device lines in the log
//   -> asset package -> thread pool with one worker -> Application -> main
//   window -> run()
//
// SIGINT and SIGTERM ask the frame loop to end, as closing the window does.
// Whatever state the program is in - the UI thread busy with a long frame, a
// worker stuck in a call to a controller that does not answer - what has
// not finished kExitGrace after the request (or after its window closed) is
// cut off, with a line on standard error, so that the process is gone
// within 2 s. A second signal ends it at once.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>

namespace vemo {

// Given to the render context and to the Application.
inline constexpr const char* kApplicationName = "VEMOC-S7-Browser";
inline constexpr const char* kAssetPackageName = "assets.pak";

// Exit statuses of browserMain.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // start-up failed, or the end had to be forced
inline constexpr int kExitUsage = 2;   // a command line that is not valid

// How long the teardown may take once the program was asked to end; the
// rest of the 2 s the program has is the system's, to take a large process
// down.
inline constexpr std::chrono::milliseconds kExitGrace{1500};

// The directory of the running executable; the working directory when the
// system cannot name the executable.
std::filesystem::path executableDirectory();

// assets.pak beside the executable if it exists there, else the one in the
// working directory if that exists, else the path beside the executable (so
// that loading it reports that path). Throws std::filesystem::filesystem_error
// ("exists") when a candidate cannot be examined for a reason other than its
// absence.
std::filesystem::path locateAssetPackage();

// Starts the browser, runs it until its window is closed or a quit is
// requested (ui::Application::requestQuit) and tears it down. `loopEnded`,
// when given, is called as the frame loop returns, before the teardown.
// Exceptions of the start-up (RenderException, the asset package's and the
// theme's runtime errors, system errors) propagate. The process-wide services
// it starts cannot be started twice, so this runs once per process.
void runBrowser(const std::function<void()>& loopEnded = {});

// The program: reads the command line (--help and --version print and
// return kExitOk, anything not understood is a usage error, kExitUsage),
// watches for SIGINT and SIGTERM, and runs the browser with the program's
// error reporting: a RenderException as "RenderException: <message> CODE:
// <code>", any other standard exception as its message, each on one line of
// standard error (kExitFailed). kExitOk after a normal end, also one a
// signal asked for. Call it once per process, before any thread is started:
// the signals are blocked in every thread but the one that waits for them.
int browserMain(int argc, char** argv);

}  // namespace vemo
