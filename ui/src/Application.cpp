// The application object, the frame loop and the main-thread queue.

#include "vemo/ui/Application.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>

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
};

MainThreadQueue& mainThreadQueue() {
    static auto* queue = new MainThreadQueue();
    return *queue;
}

Application* g_application = nullptr;
bool g_vsync = false;

// The loop runs at most this many frames per second.
constexpr double kFrameSeconds = 1.0 / 60.0;

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
        // From here on posting threads no longer touch SDL.
        std::lock_guard lock(mainThreadQueue().mutex);
        mainThreadQueue().wakeEvent = 0;
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

void Application::runDispatched() {
    MainThreadQueue& queue = mainThreadQueue();
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(queue.mutex);
        batch.swap(queue.callables);
    }
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

void Application::frame(bool pace) {
    State& s = *state_;
    const Uint64 frequency = SDL_GetPerformanceFrequency();
    const Uint64 start = SDL_GetPerformanceCounter();
    const std::uint64_t frameMicros = s.lastFrameStart == 0 ? 0 : (start - s.lastFrameStart) * 1000000u / frequency;
    s.lastFrameStart = start;

    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
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
            default: continue;  // includes the wake-up event
        }
        for (auto& window : s.windows) {
            if (window->id() == windowId) window->handleEvent(event);
        }
    }

    runDispatched();
    runTicks();

    for (std::size_t i = 0; i < s.windows.size(); ++i) {
        Window& window = *s.windows[i];
        window.beginFrame(frameMicros);
        window.layoutIfNeeded();
        window.updateWidgets();
        window.layoutIfNeeded();
        window.render(true);
    }

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

    if (!pace) return;
    // Some renderers report vertical sync without waiting for it (the
    // software renderer), so the loop paces itself in any case; with a real
    // vertical sync the present has already taken the frame's time.
    const double elapsed = static_cast<double>(SDL_GetPerformanceCounter() - start) / static_cast<double>(frequency);
    const int waitMs = static_cast<int>((kFrameSeconds - elapsed) * 1000.0);
    // Sleeps until the frame is due, or earlier when an event arrives
    // (input, or a callable posted with dispatchToMainThread).
    if (waitMs > 0) SDL_WaitEventTimeout(nullptr, waitMs);
}

void Application::run() {
    state_->quit = false;
    while (!state_->quit && !state_->windows.empty()) frame(true);
}

void Application::runFrames(int n) {
    for (int i = 0; i < n; ++i) frame(false);
}

}  // namespace vemo::ui
