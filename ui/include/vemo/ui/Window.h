// A top-level window with its renderer and widget tree. Windows are created
// and owned by the Application (Application::createWindow).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vemo/ui/Math.h"
#include "vemo/ui/Widget.h"

struct SDL_Window;
union SDL_Event;

namespace vemo::ui {

class Renderer;
class RenderContext;
class Texture;

// Bits of the flags given to Application::createWindow. Bits not listed are
// reserved and ignored.
using WindowFlags = std::uint32_t;
namespace WindowFlag {
inline constexpr WindowFlags Resizable = 1u << 0;    // the user can resize the window
inline constexpr WindowFlags Decorated = 1u << 1;    // title bar and border (else borderless)
inline constexpr WindowFlags Visible = 1u << 2;      // shown at creation (else hidden)
inline constexpr WindowFlags HighDpi = 1u << 3;      // full-resolution drawable on high-DPI screens
inline constexpr WindowFlags Centered = 1u << 4;     // centred on the screen (else placed by the system)
inline constexpr WindowFlags RaiseOnShow = 1u << 8;  // raised above other windows and focused when created
inline constexpr WindowFlags QuitOnClose = 1u << 9;  // closing this window ends Application::run
inline constexpr WindowFlags TextInput = 1u << 10;   // text input events are turned on when it is created
// What a typical main window wants (0x71F).
inline constexpr WindowFlags Default =
    Resizable | Decorated | Visible | HighDpi | Centered | RaiseOnShow | QuitOnClose | TextInput;
}  // namespace WindowFlag

class Window {
public:
    // Use Application::createWindow.
    Window(const RenderContext& context, const std::string& title, int width, int height, WindowFlags flags);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    int getWidth() const;
    int getHeight() const;
    void setSize(int width, int height);
    // The window cannot be resized below this.
    void setMinSize(int width, int height);
    void setMinSize(Vec2 size) { setMinSize(static_cast<int>(size.x), static_cast<int>(size.y)); }
    void setClearColor(Color color) { clearColor_ = color; }
    Color getClearColor() const { return clearColor_; }
    void setTitle(const std::string& title);
    WindowFlags getFlags() const { return flags_; }

    // Parent of the window's widgets; its actual size is the window size.
    Widget* getRootWidget() const { return root_.get(); }
    Renderer* getRenderer() const { return renderer_.get(); }
    const WindowContext& getContext() const { return context_; }
    // Name of the render driver in use ("software", "opengl", ...).
    std::string rendererName() const;
    SDL_Window* sdlWindow() const { return window_; }
    std::uint32_t id() const { return id_; }

    // Interaction state.
    Widget* hoveredWidget() const { return hovered_; }
    Widget* focusedWidget() const { return focused_; }
    Widget* mouseCapture() const { return capture_; }
    Vec2 mousePosition() const { return mouse_; }
    bool isMouseInside() const { return mouseInside_; }
    void setFocus(Widget* widget);

    // Keys the whole window answers, whichever widget has the focus (Ctrl+F
    // for a search box), also while no widget has it: every key press and
    // release goes to the handlers, in the order they were added, before the
    // focused widget. A handler that returns true takes the key: the focused
    // widget sees neither it nor the text a taken press would type. `owner`
    // names the handler for its removal; remove it before the owner goes.
    void addShortcutHandler(const void* owner, std::function<bool(const KeyEvent&)> handler);
    void removeShortcutHandler(const void* owner);

    // Draws the widget tree as it is now (no update) and returns the picture.
    // Throws RenderException(CaptureFailed).
    Texture captureFrame();
    // The same, saved as a PNG file.
    void saveScreenshot(const std::string& path);
    // Draws the widget tree and returns the pixel at (x, y) as packed RGBA.
    Color readPixel(int x, int y);

    // Input injection for tests and automation: the events are queued in SDL's
    // event queue for this window and handled by the next frame, exactly like
    // events from the system.
    void injectMouseMove(float x, float y);
    void injectMouseButton(float x, float y, MouseButton button, bool pressed);
    // Move, press and release of the left button.
    void injectClick(float x, float y);
    void injectMouseWheel(float dx, float dy);
    void injectKey(int scancode, bool pressed, std::uint16_t modifiers = 0);
    // Press and release.
    void injectKeyPress(int scancode, std::uint16_t modifiers = 0);
    void injectText(const std::string& utf8);

    bool isCloseRequested() const { return closeRequested_; }

    // Frame steps, driven by the Application.
    void handleEvent(const SDL_Event& event);
    void beginFrame(std::uint64_t frameTimeMicros);
    void layoutIfNeeded();
    void updateWidgets();
    void render(bool present);
    // Whether a visible widget is animating(): the window wants more frames.
    bool isAnimating() const;
    void invalidateLayout() { layoutDirty_ = true; }
    // A widget is being destroyed: forget every reference to it.
    void forgetWidget(Widget* widget);

private:
    void drawTree();
    void updateRenderScale();
    void updateHover();
    void dispatchMouseButton(const MouseButtonEvent& event);

    SDL_Window* window_ = nullptr;
    std::uint32_t id_ = 0;
    WindowFlags flags_ = 0;
    std::unique_ptr<Renderer> renderer_;
    std::unique_ptr<Widget> root_;
    WindowContext context_;
    Color clearColor_{0xFF000000u};
    bool layoutDirty_ = true;
    bool closeRequested_ = false;

    Widget* hovered_ = nullptr;
    Widget* focused_ = nullptr;
    Widget* capture_ = nullptr;
    std::vector<std::pair<const void*, std::function<bool(const KeyEvent&)>>> shortcuts_;
    Vec2 mouse_{-1.0f, -1.0f};
    bool mouseInside_ = false;
    unsigned heldButtons_ = 0;
    // A press a shortcut handler took: the text event SDL sends for the
    // same key is dropped.
    bool dropNextText_ = false;
    std::uint64_t framesBegun_ = 0;
};

}  // namespace vemo::ui
