// The program's life: start-up in a fixed order, the frame loop, and a
// teardown that stops the thread pool before anything its tasks touch is
// destroyed.
//
// Start-up, on the UI thread:
//   render context -> device lines on standard output -> asset package ->
//   thread pool with one worker -> Application -> main window -> run()
#pragma once

#include <filesystem>

namespace vemo {

// Given to the render context and to the Application.
inline constexpr const char* kApplicationName = "VEMOC-S7-Browser";
inline constexpr const char* kAssetPackageName = "assets.pak";

// The directory of the running executable; the working directory when the
// system cannot name the executable.
std::filesystem::path executableDirectory();

// assets.pak beside the executable if it exists there, else the one in the
// working directory if that exists, else the path beside the executable (so
// that loading it reports that path). Throws std::filesystem::filesystem_error
// ("exists") when a candidate cannot be examined for a reason other than its
// absence.
std::filesystem::path locateAssetPackage();

// Starts the browser, runs it until its window is closed and tears it down.
// Exceptions of the start-up (RenderException, the asset package's and the
// theme's runtime errors, system errors) propagate. The process-wide services
// it starts cannot be started twice, so this runs once per process.
void runBrowser();

// runBrowser() with the program's error reporting: a RenderException as
// "RenderException: <message> CODE: <code>", any other standard exception as
// its message, each on one line of standard error. Returns the exit status:
// 0 after a normal end, 1 after an error.
int browserMain();

}  // namespace vemo
