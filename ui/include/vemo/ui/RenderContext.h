// The render context: which SDL render driver draws the windows, and the
// start-up and shut-down of SDL, SDL_ttf and SDL_image for the process.
//
// Usage on the UI thread:
//     auto ctx = RenderContext::create(RenderBackend::Accelerated, "Name");
//     for (auto& d : ctx.listDevices()) ...;
//     ctx.selectDevice(0);
//     ctx.initialize();
//     Application app(std::move(ctx), "Name");
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vemo::ui {

// Which render drivers are offered.
//   Software (0):    only SDL's software renderer. Works without a display
//                    server or GPU (headless tests with SDL_VIDEODRIVER=offscreen).
//   Accelerated (1): every render driver SDL was built with, in SDL's order of
//                    preference (GPU drivers first, the software renderer last).
//                    If the chosen driver cannot draw into a window, the window
//                    falls back to the software renderer instead of failing.
//                    On SDL's video drivers without a screen (offscreen,
//                    dummy) windows always use the software renderer.
enum class RenderBackend : std::int32_t {
    Software = 0,
    Accelerated = 1,
};

// One render device: id is SDL's render driver index, name its driver name
// ("opengl", "software", ...).
struct DeviceInfo {
    std::uint32_t id = 0;
    std::string name;
};

class RenderContext {
public:
    // Throws RenderException(InitFailed) for an unknown backend value.
    static RenderContext create(RenderBackend backend, std::string name);
    static RenderContext create(std::int32_t backend, std::string name);

    RenderContext(RenderContext&&) noexcept;
    RenderContext& operator=(RenderContext&&) noexcept;
    RenderContext(const RenderContext&) = delete;
    RenderContext& operator=(const RenderContext&) = delete;
    // Shuts SDL down again if initialize() started it.
    virtual ~RenderContext();

    // The devices of the backend, in selection order; selectDevice takes an
    // index into this list.
    virtual std::vector<DeviceInfo> listDevices();
    // Starts SDL (video, events, timer) and SDL_ttf. Idempotent.
    // Throws RenderException(InitFailed) with SDL's message, or
    // RenderException(NoDisplay) when no video driver with a screen starts
    // and none was asked for by name (SDL_VIDEODRIVER): SDL's drivers
    // without a screen (offscreen, dummy) are used only when asked for.
    virtual void initialize();
    // Chooses the device windows will use. Throws RenderException
    // (DeviceOutOfRange) when index is not below listDevices().size().
    virtual void selectDevice(std::uint32_t index);

    RenderBackend backend() const;
    const std::string& name() const;
    bool isInitialized() const;
    // SDL render driver index the windows use (the backend's first device
    // until selectDevice; the software renderer on a headless video driver).
    int selectedDriver() const;

private:
    struct State;
    explicit RenderContext(std::unique_ptr<State> state);
    State& state() const;
    std::unique_ptr<State> state_;
};

}  // namespace vemo::ui
