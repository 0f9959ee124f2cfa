// The application object, the frame loop and the main-thread queue.

#include "vemo/ui/Application.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <deque>
#include <mutex>
#include <set>

#include "vemo/ui/Exceptions.h"
#include "vemo/ui/Renderer.h"

namespace vemo::ui {
namespace {

// Callables posted from any thread. The queue object is never destroyed, so
// a worker that posts during process exit finds it still there.
struct MainThreadQueue {
    std::mutex mutex;
    std::deque<std::function<void()>> callables;
    // An SDL event type that only wakes the loop; 0 while no loop can be woken.
    Uint32 wakeEvent = 0;
    // requestQuit() was called (from any thread) and no Application has
    // ended since: the loop returns as soon as it sees it.
    bool quitRequested = false;
};

MainThreadQueue& mainThreadQueue() {
    static auto* queue = new MainThreadQueue();
    return *queue;
}

Application* g_application = nullptr;
bool g_vsync = false;

using Clock = Application::Clock;

// The loop runs at most 60 frames a second.
constexpr Clock::duration kFramePeriod = std::chrono::microseconds(16667);
// After input ImGui needs a few frames to show its consequences: the hover
// of what is under the mouse, a popup that opens or closes, the modal
// dimming that fades in over a sixth of a second.
constexpr Clock::duration kFramesAfterInputFor = std::chrono::milliseconds(250);
constexpr int kFramesAfterInput = 3;

struct TickEntry {
    const void* key;
    std::function<void()> fn;
    bool alive;
};

Application& current() {
    if (g_application == nullptr) {
        throw RenderException("No Application exists", RenderException::NoApplication);
    }
    return *g_application;
}

}  // namespace

struct Application::State {
    explicit State(RenderContext&& ctx) : context(std::move(ctx)) {}

    RenderContext context;
    std::string name;
    std::vector<std::unique_ptr<Window>> windows;
    std::vector<TickEntry> ticks;
    bool quit = false;
    Uint64 lastFrameStart = 0;
    Clock::time_point lastFrame{};
    // Frames still wanted whatever the time, frames wanted until a time, and
    // the times at which a frame is wanted (wakeAt), earliest first.
    int framesOwed = 0;
    Clock::time_point framesUntil{};
    std::set<Clock::time_point> wakeTimes;
};

Application::Application(RenderContext&& context, std::string name) {
    if (g_application != nullptr) {
        throw RenderException("An Application exists already", RenderException::SecondApplication);
    }
    state_ = std::make_unique<State>(std::move(context));
    state_->name = std::move(name);
    if (!state_->context.isInitialized()) state_->context.initialize();

    static const Uint32 wakeEvent = SDL_RegisterEvents(1);
    {
        std::lock_guard lock(mainThreadQueue().mutex);
        mainThreadQueue().wakeEvent = wakeEvent == static_cast<Uint32>(-1) ? 0 : wakeEvent;
    }
    g_application = this;
}

Application::~Application() {
    {
        // From here on posting threads no longer touch SDL. A quit asked
        // of this application is served; the next one starts afresh.
        std::lock_guard lock(mainThreadQueue().mutex);
        mainThreadQueue().wakeEvent = 0;
        mainThreadQueue().quitRequested = false;
    }
    // Not run: their targets are being destroyed with the windows.
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mainThreadQueue().mutex);
        dropped.swap(mainThreadQueue().callables);
    }
    dropped.clear();
    state_->ticks.clear();
    state_->windows.clear();
    g_application = nullptr;
    // The render context (and with it SDL) goes last, with state_.
}

Application* Application::instance() { return g_application; }
const std::string& Application::name() const { return state_->name; }
RenderContext& Application::renderContext() { return state_->context; }

void Application::setVSync(bool enabled) {
    g_vsync = enabled;
    if (g_application == nullptr) return;
    for (auto& window : g_application->state_->windows) {
        SDL_RenderSetVSync(window->getRenderer()->sdlRenderer(), enabled ? 1 : 0);
    }
}

bool Application::getVSync() { return g_vsync; }

Window* Application::createWindow(const std::string& title, int width, int height, WindowFlags flags) {
    Application& app = current();
    auto window = std::make_unique<Window>(app.state_->context, title, width, height, flags);
    Window* raw = window.get();
    app.state_->windows.push_back(std::move(window));
    return raw;
}

const std::vector<std::unique_ptr<Window>>& Application::windows() { return current().state_->windows; }

void Application::registerTickCallback(const void* key, std::function<void()> fn) {
    auto& ticks = current().state_->ticks;
    for (auto& entry : ticks) {
        if (entry.key == key && entry.alive) {
            entry.fn = std::move(fn);
            return;
        }
    }
    ticks.push_back(TickEntry{key, std::move(fn), true});
}

void Application::unregisterTickCallback(const void* key) {
    if (g_application == nullptr) return;  // nothing can be registered then
    for (auto& entry : g_application->state_->ticks) {
        if (entry.key == key) entry.alive = false;
    }
}

void Application::requestRedraw() {
    if (g_application == nullptr) return;
    State& s = *g_application->state_;
    s.framesOwed = std::max(s.framesOwed, 1);
}

void Application::requestFramesFor(Clock::duration duration) {
    if (g_application == nullptr) return;
    State& s = *g_application->state_;
    s.framesUntil = std::max(s.framesUntil, Clock::now() + duration);
}

void Application::wakeAt(Clock::time_point when) {
    if (g_application == nullptr) return;
    g_application->state_->wakeTimes.insert(when);
}

void Application::wake() {
    MainThreadQueue& queue = mainThreadQueue();
    std::lock_guard lock(queue.mutex);
    if (queue.wakeEvent == 0) return;
    SDL_Event event{};
    event.type = queue.wakeEvent;
    SDL_PushEvent(&event);
}

void Application::dispatchToMainThread(std::function<void()> fn) {
    MainThreadQueue& queue = mainThreadQueue();
    std::lock_guard lock(queue.mutex);
    queue.callables.push_back(std::move(fn));
    if (queue.wakeEvent != 0) {
        SDL_Event event{};
        event.type = queue.wakeEvent;
        SDL_PushEvent(&event);
    }
}

void Application::quit() {
    if (g_application != nullptr) g_application->state_->quit = true;
}

void Application::requestQuit() {
    MainThreadQueue& queue = mainThreadQueue();
    std::lock_guard lock(queue.mutex);
    queue.quitRequested = true;
    if (queue.wakeEvent != 0) {
        SDL_Event event{};
        event.type = queue.wakeEvent;
        SDL_PushEvent(&event);
    }
}

bool Application::quitRequested() {
    MainThreadQueue& queue = mainThreadQueue();
    std::lock_guard lock(queue.mutex);
    return queue.quitRequested;
}

bool Application::runDispatched() {
    MainThreadQueue& queue = mainThreadQueue();
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(queue.mutex);
        batch.swap(queue.callables);
    }
    const bool any = !batch.empty();
    while (!batch.empty()) {
        std::function<void()> fn = std::move(batch.front());
        batch.pop_front();
        try {
            fn();
        } catch (...) {
            // The rest keep their place ahead of anything posted since.
            std::lock_guard lock(queue.mutex);
            queue.callables.insert(queue.callables.begin(), std::make_move_iterator(batch.begin()),
                                   std::make_move_iterator(batch.end()));
            throw;
        }
    }
    return any;
}

void Application::runTicks() {
    auto& ticks = state_->ticks;
    // Callbacks registered during this pass start next frame.
    const std::size_t count = ticks.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (!ticks[i].alive) continue;
        auto fn = ticks[i].fn;  // the callback may (un)register and move the vector
        fn();
    }
    ticks.erase(std::remove_if(ticks.begin(), ticks.end(), [](const TickEntry& e) { return !e.alive; }), ticks.end());
}

void Application::frame() {
    State& s = *state_;
    const Uint64 frequency = SDL_GetPerformanceFrequency();
    const Uint64 start = SDL_GetPerformanceCounter();
    const std::uint64_t frameMicros = s.lastFrameStart == 0 ? 0 : (start - s.lastFrameStart) * 1000000u / frequency;
    s.lastFrameStart = start;
    s.lastFrame = Clock::now();
    // This frame is one of those owed; the times up to now are served by it.
    // What the frame itself asks for (requestRedraw, wakeAt) comes after.
    s.framesOwed = std::max(s.framesOwed - 1, 0);
    s.wakeTimes.erase(s.wakeTimes.begin(), s.wakeTimes.upper_bound(s.lastFrame));

    bool input = false;
    bool woken = false;
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        if (event.type == mainThreadQueue().wakeEvent) {
            woken = true;
            continue;
        }
        // Anything else SDL reports may change the picture, or needs it
        // drawn again (a window uncovered, resized, focused).
        input = true;
        if (event.type == SDL_QUIT) {
            s.quit = true;
            continue;
        }
        Uint32 windowId = 0;
        switch (event.type) {
            case SDL_WINDOWEVENT: windowId = event.window.windowID; break;
            case SDL_MOUSEMOTION: windowId = event.motion.windowID; break;
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP: windowId = event.button.windowID; break;
            case SDL_MOUSEWHEEL: windowId = event.wheel.windowID; break;
            case SDL_KEYDOWN:
            case SDL_KEYUP: windowId = event.key.windowID; break;
            case SDL_TEXTINPUT: windowId = event.text.windowID; break;
            default: continue;
        }
        for (auto& window : s.windows) {
            if (window->id() == windowId) window->handleEvent(event);
        }
    }

    if (runDispatched()) woken = true;
    runTicks();

    bool animating = false;
    for (std::size_t i = 0; i < s.windows.size(); ++i) {
        Window& window = *s.windows[i];
        window.beginFrame(frameMicros);
        window.layoutIfNeeded();
        window.updateWidgets();
        window.layoutIfNeeded();
        window.render(true);
        if (window.isAnimating()) animating = true;
    }

    if (input) {
        s.framesOwed = std::max(s.framesOwed, kFramesAfterInput);
        s.framesUntil = std::max(s.framesUntil, s.lastFrame + kFramesAfterInputFor);
    }
    // A posted result is applied before the widgets update, but a widget
    // that reacts to it may change what an earlier one has drawn already.
    if (woken || animating) s.framesOwed = std::max(s.framesOwed, 1);

    for (auto it = s.windows.begin(); it != s.windows.end();) {
        if (!(*it)->isCloseRequested()) {
            ++it;
        } else if ((*it)->getFlags() & WindowFlag::QuitOnClose) {
            s.quit = true;
            ++it;
        } else {
            it = s.windows.erase(it);
        }
    }
}

bool Application::frameWanted(Clock::time_point now) const {
    const State& s = *state_;
    if (s.framesOwed > 0 || now < s.framesUntil) return true;
    MainThreadQueue& queue = mainThreadQueue();
    std::lock_guard lock(queue.mutex);
    // Callables queued before this application existed have no wake-up
    // event of their own.
    return !queue.callables.empty();
}

bool Application::waitForFrame(Clock::time_point until) {
    const State& s = *state_;
    for (;;) {
        const Clock::time_point now = Clock::now();
        // When the next frame is due if no event comes first: paced while
        // frames are wanted, else at the earliest wake-up time, else never.
        Clock::time_point due = Clock::time_point::max();
        if (frameWanted(now)) {
            due = s.lastFrame + kFramePeriod;
        } else if (!s.wakeTimes.empty()) {
            due = *s.wakeTimes.begin();
        }
        if (now >= due) return true;
        if (now >= until) return false;
        const Clock::time_point end = std::min(due, until);
        int timeoutMs = -1;  // for ever
        if (end != Clock::time_point::max()) {
            // Rounded up: waking a little early would only wait again.
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
            timeoutMs = static_cast<int>(std::min<std::int64_t>(ms, INT_MAX));
        }
        // Input, or a callable posted with dispatchToMainThread, wakes the
        // loop at once; the event stays queued for the frame.
        if (SDL_WaitEventTimeout(nullptr, timeoutMs) != 0) return true;
    }
}

void Application::run() {
    State& s = *state_;
    s.quit = false;
    s.framesOwed = std::max(s.framesOwed, 1);
    // Asked again after every wait: a quit requested while the loop slept
    // ends it without drawing one more frame.
    while (!s.quit && !s.windows.empty() && !quitRequested()) {
        if (waitForFrame(Clock::time_point::max()) && !quitRequested()) frame();
    }
}

void Application::runFor(Clock::duration duration) {
    State& s = *state_;
    s.quit = false;
    const Clock::time_point until = Clock::now() + duration;
    while (!s.quit && !s.windows.empty() && !quitRequested() && Clock::now() < until) {
        if (waitForFrame(until) && !quitRequested()) frame();
    }
}

void Application::runFrames(int n) {
    for (int i = 0; i < n; ++i) frame();
}

}  // namespace vemo::ui
