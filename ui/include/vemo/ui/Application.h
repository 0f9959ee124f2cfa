// The application: owns the render context and the windows and runs the
// frame loop on the UI thread. One Application exists at a time; the static
// operations act on it.
//
// A frame: handle the pending SDL events, run the callables posted with
// dispatchToMainThread (in posting order), run the tick callbacks (in
// registration order), lay out, update the widgets, lay out again, draw and
// present every window.
#pragma once

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

    // Runs frames until the last window is closed, a window with
    // WindowFlag::QuitOnClose is closed, or quit() is called. At most 60
    // frames a second; between frames the loop sleeps, and a dispatched
    // callable or any input wakes it at once.
    void run();
    // Runs exactly n frames without pacing (tests, tools).
    void runFrames(int n);
    // Makes run() return after the current frame. Callable from the UI thread.
    static void quit();

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

    // Queues fn to run on the UI thread at the start of the next frame and
    // wakes the loop. Callable from any thread, also while no Application
    // exists (the callables then wait for the next one). Callables run in the
    // order they were queued; an exception from one leaves run() with the
    // rest still queued.
    static void dispatchToMainThread(std::function<void()> fn);

private:
    void frame(bool pace);
    void runDispatched();
    void runTicks();

    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vemo::ui
