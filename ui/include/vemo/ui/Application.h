// The application: owns the render context and the windows and runs the
// frame loop on the UI thread. One Application exists at a time; the static
// operations act on it.
//
// A frame: handle the pending SDL events, run the callables posted with
// dispatchToMainThread (in posting order), run the tick callbacks (in
// registration order), lay out, update the widgets, lay out again, draw and
// present every window.
//
// The loop draws a frame only when something may have changed, and sleeps
// in between: the picture on the screen stays as it was. A frame follows
//   - input and window events, and then more frames for a quarter of a
//     second (ImGui shows hover, opened and closed popups and their fades
//     only in the frames after the event);
//   - a callable posted with dispatchToMainThread, or wake(): that frame and
//     one more;
//   - a time given to wakeAt, when it has come;
//   - requestRedraw() and requestFramesFor();
//   - a visible widget whose animating() says so: frames keep coming while
//     it does.
// A view that polls something other threads change must therefore have the
// change posted or wake() called; one whose text changes with the clock
// asks for the time of the next change with wakeAt. Tick callbacks run in
// the frames that are drawn, not on a clock of their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vemo/ui/RenderContext.h"
#include "vemo/ui/Window.h"

namespace vemo::ui {

class Application {
public:
    // Initialises the context if that has not been done. Throws
    // RenderException (SecondApplication, InitFailed, InvalidContext).
    Application(RenderContext&& context, std::string name);
    // Destroys the windows (and their widgets), then the render context.
    // Callables still queued for the main thread are destroyed without running.
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    using Clock = std::chrono::steady_clock;

    // Runs the loop until the last window is closed, a window with
    // WindowFlag::QuitOnClose is closed, or quit() or requestQuit() is
    // called; the first frame is drawn at once. At most 60 frames a second while frames are wanted;
    // otherwise the loop sleeps until input, a posted callable or the next
    // time given to wakeAt, and input or a posted callable wakes it at once.
    void run();
    // The same loop for `duration`, then returns; no frame is forced (tests,
    // tools).
    void runFor(Clock::duration duration);
    // Runs exactly n frames without pacing or waiting (tests, tools).
    void runFrames(int n);
    // Makes run() return after the current frame. Callable from the UI thread.
    static void quit();
    // Makes run() and runFor() return as soon as the loop sees it: after the
    // frame being drawn, or at once while the loop sleeps (it is woken).
    // Callable from any thread, also before the Application exists (its
    // loop then returns at once); holds until the Application is destroyed.
    // For a signal, or anything else outside the UI thread, that ends the
    // program.
    static void requestQuit();
    static bool quitRequested();

    static Application* instance();
    const std::string& name() const;
    RenderContext& renderContext();

    // Wait for the display's vertical refresh when presenting (all windows,
    // present and future).
    static void setVSync(bool enabled);
    static bool getVSync();

    // Creates a window owned by the application. Throws RenderException
    // (NoApplication, WindowFailed, RendererFailed).
    static Window* createWindow(const std::string& title, int width, int height, WindowFlags flags);
    static const std::vector<std::unique_ptr<Window>>& windows();

    // fn runs once per frame on the UI thread until unregistered. A second
    // registration with the same key replaces the first. May be called from
    // inside a tick callback. Throws RenderException(NoApplication).
    static void registerTickCallback(const void* key, std::function<void()> fn);
    static void unregisterTickCallback(const void* key);

    // UI thread; without an Application they do nothing.
    // One more frame after the current one (or the next one, when called
    // between frames).
    static void requestRedraw();
    // Frames at the full rate from now until `duration` has passed.
    static void requestFramesFor(Clock::duration duration);
    // A frame at `when`, or as soon after as the loop gets to it. Each call
    // adds a time; a time in the past gives the next frame.
    static void wakeAt(Clock::time_point when);

    // Any thread: wakes the loop for a frame (and one more), so that views
    // polling what a worker changed see it at once. Does nothing while no
    // Application exists.
    static void wake();

    // Queues fn to run on the UI thread at the start of the next frame and
    // wakes the loop. Callable from any thread, also while no Application
    // exists (the callables then wait for the next one). Callables run in the
    // order they were queued; an exception from one leaves run() with the
    // rest still queued.
    static void dispatchToMainThread(std::function<void()> fn);

private:
    void frame();
    // Waits until a frame is wanted (true) or `until` has come (false).
    bool waitForFrame(Clock::time_point until);
    bool frameWanted(Clock::time_point now) const;
    // Whether any callable ran.
    bool runDispatched();
    void runTicks();

    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vemo::ui
