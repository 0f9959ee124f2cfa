// Render devices and the process's SDL start-up.

#include "vemo/ui/RenderContext.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "vemo/ui/Exceptions.h"

namespace vemo::ui {
namespace {

constexpr Uint32 kSubsystems = SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER;

// SDL's video drivers without a screen ("evdev" is the dummy driver with
// the console's input devices).
bool headlessDriver(const char* driver) {
    return driver != nullptr && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0 ||
                                 std::strcmp(driver, "evdev") == 0);
}

bool headlessVideo() { return headlessDriver(SDL_GetCurrentVideoDriver()); }

// SDL's drivers that show windows on a screen, in its order of preference,
// as the comma-separated list SDL_VIDEODRIVER takes.
std::string onScreenDrivers() {
    std::string list;
    for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
        const char* driver = SDL_GetVideoDriver(i);
        if (driver == nullptr || headlessDriver(driver)) continue;
        if (!list.empty()) list += ',';
        list += driver;
    }
    return list;
}

// Why no on-screen driver could start, in the terms the user set it up in.
std::string noDisplayMessage() {
    const auto named = [](const char* variable) -> std::string {
        const char* value = std::getenv(variable);
        return value != nullptr && *value != '\0' ? std::string(variable) + "=" + value : std::string();
    };
    const std::string x11 = named("DISPLAY");
    const std::string wayland = named("WAYLAND_DISPLAY");
    if (x11.empty() && wayland.empty()) {
        return "Cannot open a window: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    }
    const std::string both = x11.empty() || wayland.empty() ? x11 + wayland : x11 + ", " + wayland;
    return "Cannot open a window: the display cannot be reached (" + both + ")";
}

std::vector<DeviceInfo> devicesFor(RenderBackend backend) {
    std::vector<DeviceInfo> devices;
    const int count = SDL_GetNumRenderDrivers();
    for (int i = 0; i < count; ++i) {
        SDL_RendererInfo info{};
        if (SDL_GetRenderDriverInfo(i, &info) != 0 || info.name == nullptr) continue;
        const bool software = std::strcmp(info.name, "software") == 0;
        if (backend == RenderBackend::Software && !software) continue;
        devices.push_back(DeviceInfo{static_cast<std::uint32_t>(i), info.name});
    }
    return devices;
}

}  // namespace

struct RenderContext::State {
    RenderBackend backend = RenderBackend::Accelerated;
    std::string name;
    std::int64_t selected = -1;  // index into listDevices()
    bool sdlStarted = false;
    bool ttfStarted = false;
};

RenderContext RenderContext::create(RenderBackend backend, std::string name) {
    if (backend != RenderBackend::Software && backend != RenderBackend::Accelerated) {
        throw RenderException("Unknown render backend " + std::to_string(static_cast<int>(backend)),
                              RenderException::InitFailed);
    }
    auto state = std::make_unique<State>();
    state->backend = backend;
    state->name = std::move(name);
    return RenderContext(std::move(state));
}

RenderContext RenderContext::create(std::int32_t backend, std::string name) {
    return create(static_cast<RenderBackend>(backend), std::move(name));
}

RenderContext::RenderContext(std::unique_ptr<State> state) : state_(std::move(state)) {}
RenderContext::RenderContext(RenderContext&&) noexcept = default;

RenderContext& RenderContext::operator=(RenderContext&& other) noexcept {
    if (this != &other) {
        RenderContext old(std::move(*this));  // shuts down what this one started
        state_ = std::move(other.state_);
    }
    return *this;
}

RenderContext::~RenderContext() {
    if (!state_) return;
    if (state_->ttfStarted) TTF_Quit();
    if (state_->sdlStarted) {
        SDL_QuitSubSystem(kSubsystems);
        if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
    }
}

RenderContext::State& RenderContext::state() const {
    if (!state_) {
        throw RenderException("The render context was moved away", RenderException::InvalidContext);
    }
    return *state_;
}

std::vector<DeviceInfo> RenderContext::listDevices() { return devicesFor(state().backend); }

void RenderContext::initialize() {
    State& s = state();
    if (!s.sdlStarted) {
        // Draw calls are batched by SDL; the toolkit never talks to the GPU API directly.
        SDL_SetHint(SDL_HINT_RENDER_BATCHING, "1");
        // A click that focuses the window also reaches the widget under it.
        SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
        if (s.backend == RenderBackend::Software) {
            // Otherwise SDL shows the software renderer's pixels through a
            // GPU texture, loading the GL driver stack the backend exists to
            // avoid (and which is absent on headless machines).
            SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        }
        // Without a display SDL falls back to its offscreen driver, and the
        // program would run a window nobody can see. Unless a driver is asked
        // for by name (SDL_VIDEODRIVER=offscreen for headless runs), only the
        // drivers with a screen are tried, and none starting is an error.
        const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
        const bool onScreenOnly = asked == nullptr || *asked == '\0';
        if (onScreenOnly) {
            const std::string drivers = onScreenDrivers();
            if (drivers.empty()) throw RenderException(noDisplayMessage(), RenderException::NoDisplay);
            SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, drivers.c_str(), SDL_HINT_OVERRIDE);
        }
        const bool started = SDL_InitSubSystem(kSubsystems) == 0;
        const std::string error = started ? std::string() : SDL_GetError();
        if (onScreenOnly) SDL_ResetHint(SDL_HINT_VIDEODRIVER);
        if (!started && onScreenOnly) throw RenderException(noDisplayMessage(), RenderException::NoDisplay);
        if (!started) throw RenderException("SDL_Init failed: " + error, RenderException::InitFailed);
        s.sdlStarted = true;
        if (headlessVideo()) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    }
    if (!s.ttfStarted) {
        if (TTF_Init() != 0) {
            throw RenderException(std::string("TTF_Init failed: ") + TTF_GetError(), RenderException::InitFailed);
        }
        s.ttfStarted = true;
    }
}

void RenderContext::selectDevice(std::uint32_t index) {
    State& s = state();
    const auto devices = devicesFor(s.backend);
    if (index >= devices.size()) {
        throw RenderException("Render device index " + std::to_string(index) + " is out of range (" +
                                  std::to_string(devices.size()) + " devices)",
                              RenderException::DeviceOutOfRange);
    }
    s.selected = index;
}

RenderBackend RenderContext::backend() const { return state().backend; }
const std::string& RenderContext::name() const { return state().name; }
bool RenderContext::isInitialized() const { return state_ && state_->sdlStarted && state_->ttfStarted; }

int RenderContext::selectedDriver() const {
    // Without a screen there is nothing to accelerate: software it is.
    const auto devices = devicesFor(headlessVideo() ? RenderBackend::Software : state().backend);
    if (devices.empty()) return -1;
    if (headlessVideo() && state().backend != RenderBackend::Software) return static_cast<int>(devices[0].id);
    const std::size_t index = state().selected < 0 ? 0 : static_cast<std::size_t>(state().selected);
    return index < devices.size() ? static_cast<int>(devices[index].id) : -1;
}

}  // namespace vemo::ui
