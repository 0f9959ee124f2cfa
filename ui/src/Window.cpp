// A window: SDL window and renderer, widget tree, input dispatch, capture.

#include "vemo/ui/Window.h"

#include <SDL.h>
#include <SDL_image.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "vemo/ui/Application.h"
#include "vemo/ui/Exceptions.h"
#include "vemo/ui/RenderContext.h"
#include "vemo/ui/Renderer.h"
#include "vemo/ui/Resources.h"

namespace vemo::ui {
namespace {

Uint32 sdlWindowFlags(WindowFlags flags) {
    Uint32 sdl = 0;
    if (flags & WindowFlag::Resizable) sdl |= SDL_WINDOW_RESIZABLE;
    if (!(flags & WindowFlag::Decorated)) sdl |= SDL_WINDOW_BORDERLESS;
    sdl |= (flags & WindowFlag::Visible) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
    if (flags & WindowFlag::HighDpi) sdl |= SDL_WINDOW_ALLOW_HIGHDPI;
    return sdl;
}

int softwareDriverIndex() {
    const int count = SDL_GetNumRenderDrivers();
    for (int i = 0; i < count; ++i) {
        SDL_RendererInfo info{};
        if (SDL_GetRenderDriverInfo(i, &info) == 0 && info.name != nullptr && std::strcmp(info.name, "software") == 0) {
            return i;
        }
    }
    return -1;
}

SDL_Renderer* createRenderer(SDL_Window* window, int driver) {
    const Uint32 vsync = Application::getVSync() ? SDL_RENDERER_PRESENTVSYNC : 0;
    SDL_Renderer* renderer = SDL_CreateRenderer(window, driver, vsync);
    if (renderer == nullptr && vsync != 0) renderer = SDL_CreateRenderer(window, driver, 0);
    return renderer;
}

MouseButton toButton(Uint8 button) {
    switch (button) {
        case SDL_BUTTON_RIGHT: return MouseButton::Right;
        case SDL_BUTTON_MIDDLE: return MouseButton::Middle;
        default: return MouseButton::Left;
    }
}

Uint8 toSdlButton(MouseButton button) {
    switch (button) {
        case MouseButton::Right: return SDL_BUTTON_RIGHT;
        case MouseButton::Middle: return SDL_BUTTON_MIDDLE;
        default: return SDL_BUTTON_LEFT;
    }
}

}  // namespace

Window::Window(const RenderContext& context, const std::string& title, int width, int height, WindowFlags flags)
    : flags_(flags) {
    if (!context.isInitialized()) {
        throw RenderException("The render context is not initialized", RenderException::InitFailed);
    }
    const int position = (flags & WindowFlag::Centered) ? SDL_WINDOWPOS_CENTERED : SDL_WINDOWPOS_UNDEFINED;
    window_ = SDL_CreateWindow(title.c_str(), position, position, width, height, sdlWindowFlags(flags));
    if (window_ == nullptr) {
        throw RenderException(std::string("Cannot create window: ") + SDL_GetError(), RenderException::WindowFailed);
    }
    id_ = SDL_GetWindowID(window_);

    const int driver = context.selectedDriver();
    SDL_Renderer* renderer = createRenderer(window_, driver);
    const int software = softwareDriverIndex();
    if (renderer == nullptr && driver != software && software >= 0) {
        // The chosen GPU driver cannot draw here (no GPU, no display server
        // support): the software renderer always can.
        renderer = createRenderer(window_, software);
    }
    if (renderer == nullptr) {
        const std::string message = std::string("Cannot create renderer: ") + SDL_GetError();
        SDL_DestroyWindow(window_);
        throw RenderException(message, RenderException::RendererFailed);
    }
    renderer_ = std::make_unique<Renderer>(renderer);

    updateRenderScale();

    root_ = std::make_unique<Widget>(nullptr);
    root_->attachToWindow(this);
    context_.window = this;
    context_.renderer = renderer_.get();

    if (flags & WindowFlag::TextInput) SDL_StartTextInput();
    if ((flags & WindowFlag::RaiseOnShow) && (flags & WindowFlag::Visible)) SDL_RaiseWindow(window_);
}

Window::~Window() {
    root_.reset();  // widgets first: panels and texts still use the renderer
    renderer_.reset();
    SDL_DestroyWindow(window_);
}

void Window::updateRenderScale() {
    // Layout works in window points; on high-DPI screens the output has more
    // pixels, and the renderer scales.
    int w = 0;
    int h = 0;
    int outW = 0;
    int outH = 0;
    SDL_GetWindowSize(window_, &w, &h);
    SDL_Renderer* renderer = renderer_->sdlRenderer();
    SDL_RenderSetScale(renderer, 1.0f, 1.0f);
    SDL_GetRendererOutputSize(renderer, &outW, &outH);
    if (w > 0 && h > 0 && outW > 0 && outH > 0 && (outW != w || outH != h)) {
        SDL_RenderSetScale(renderer, static_cast<float>(outW) / static_cast<float>(w),
                           static_cast<float>(outH) / static_cast<float>(h));
    }
}

int Window::getWidth() const {
    int w = 0;
    SDL_GetWindowSize(window_, &w, nullptr);
    return w;
}

int Window::getHeight() const {
    int h = 0;
    SDL_GetWindowSize(window_, nullptr, &h);
    return h;
}

void Window::setSize(int width, int height) {
    SDL_SetWindowSize(window_, width, height);
    layoutDirty_ = true;
}

void Window::setMinSize(int width, int height) { SDL_SetWindowMinimumSize(window_, width, height); }

void Window::setTitle(const std::string& title) { SDL_SetWindowTitle(window_, title.c_str()); }

std::string Window::rendererName() const {
    SDL_RendererInfo info{};
    if (SDL_GetRendererInfo(renderer_->sdlRenderer(), &info) != 0 || info.name == nullptr) return {};
    return info.name;
}

void Window::setFocus(Widget* widget) {
    if (widget == focused_) return;
    Widget* previous = focused_;
    focused_ = widget;
    if (previous != nullptr) previous->onFocusChanged(false);
    if (widget != nullptr) widget->onFocusChanged(true);
}

void Window::addShortcutHandler(const void* owner, std::function<bool(const KeyEvent&)> handler) {
    shortcuts_.emplace_back(owner, std::move(handler));
}

void Window::removeShortcutHandler(const void* owner) {
    std::erase_if(shortcuts_, [owner](const auto& entry) { return entry.first == owner; });
}

void Window::forgetWidget(Widget* widget) {
    if (hovered_ == widget) hovered_ = nullptr;
    if (focused_ == widget) focused_ = nullptr;
    if (capture_ == widget) capture_ = nullptr;
}

void Window::updateHover() {
    Widget* hit = (mouseInside_ && root_) ? root_->hitTest(mouse_) : nullptr;
    if (hit == hovered_) return;
    Widget* previous = hovered_;
    hovered_ = hit;
    if (previous != nullptr) previous->onMouseLeave();
    if (hovered_ != nullptr) hovered_->onMouseEnter();
}

void Window::dispatchMouseButton(const MouseButtonEvent& event) {
    const unsigned bit = 1u << static_cast<unsigned>(event.button);
    if (!event.pressed) {
        heldButtons_ &= ~bit;
        if (capture_ != nullptr) {
            Widget* target = capture_;
            if (heldButtons_ == 0) capture_ = nullptr;
            target->onMouseButton(event);
            return;
        }
        for (Widget* w = hovered_; w != nullptr; w = w->getParent()) {
            if (w->onMouseButton(event)) return;
        }
        return;
    }
    heldButtons_ |= bit;
    if (capture_ != nullptr) {
        // Another button while one is held goes to the same widget.
        capture_->onMouseButton(event);
        return;
    }
    Widget* handler = nullptr;
    for (Widget* w = hovered_; w != nullptr; w = w->getParent()) {
        const std::weak_ptr<void> alive = w->lifetime();
        if (w->onMouseButton(event)) {
            // A handler may destroy itself (a button that closes its view).
            handler = alive.expired() ? nullptr : w;
            break;
        }
        if (alive.expired()) break;
    }
    capture_ = handler;
    // A press moves the keyboard focus: to the widget that took it if it
    // wants the focus, away from everything otherwise.
    setFocus(handler != nullptr && handler->acceptsFocus() ? handler : nullptr);
}

void Window::handleEvent(const SDL_Event& event) {
    switch (event.type) {
        case SDL_WINDOWEVENT:
            switch (event.window.event) {
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                case SDL_WINDOWEVENT_RESIZED:
                    updateRenderScale();
                    layoutDirty_ = true;
                    break;
                case SDL_WINDOWEVENT_CLOSE: closeRequested_ = true; break;
                case SDL_WINDOWEVENT_LEAVE:
                    mouseInside_ = false;
                    updateHover();
                    break;
                case SDL_WINDOWEVENT_ENTER: mouseInside_ = true; break;
                case SDL_WINDOWEVENT_FOCUS_LOST: setFocus(nullptr); break;
                default: break;
            }
            break;
        case SDL_MOUSEMOTION: {
            mouse_ = {static_cast<float>(event.motion.x), static_cast<float>(event.motion.y)};
            mouseInside_ = true;
            updateHover();
            if (capture_ != nullptr) {
                capture_->onMouseMove(mouse_);
            } else {
                for (Widget* w = hovered_; w != nullptr; w = w->getParent()) {
                    if (w->onMouseMove(mouse_)) break;
                }
            }
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            mouse_ = {static_cast<float>(event.button.x), static_cast<float>(event.button.y)};
            mouseInside_ = true;
            updateHover();
            MouseButtonEvent e;
            e.position = mouse_;
            e.button = toButton(event.button.button);
            e.pressed = event.type == SDL_MOUSEBUTTONDOWN;
            e.clicks = event.button.clicks;
            dispatchMouseButton(e);
            break;
        }
        case SDL_MOUSEWHEEL: {
            float dx = event.wheel.preciseX;
            float dy = event.wheel.preciseY;
            if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) {
                dx = -dx;
                dy = -dy;
            }
            for (Widget* w = hovered_; w != nullptr; w = w->getParent()) {
                if (w->onMouseWheel(mouse_, dx, dy)) break;
            }
            break;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            KeyEvent e;
            e.scancode = event.key.keysym.scancode;
            e.keycode = event.key.keysym.sym;
            e.modifiers = event.key.keysym.mod;
            e.pressed = event.type == SDL_KEYDOWN;
            e.repeat = event.key.repeat != 0;
            dropNextText_ = false;
            {
                // A copy: a handler may add or remove handlers.
                const auto shortcuts = shortcuts_;
                const bool taken = std::any_of(shortcuts.begin(), shortcuts.end(),
                                               [&e](const auto& entry) { return entry.second(e); });
                if (taken) {
                    dropNextText_ = e.pressed;
                    break;
                }
            }
            if (focused_ != nullptr) focused_->onKey(e);
            break;
        }
        case SDL_TEXTINPUT:
            if (std::exchange(dropNextText_, false)) break;
            if (focused_ != nullptr) focused_->onTextInput(event.text.text);
            break;
        default: break;
    }
}

void Window::beginFrame(std::uint64_t frameTimeMicros) {
    context_.frameNumber = framesBegun_++;
    context_.frameTime = frameTimeMicros;
}

void Window::layoutIfNeeded() {
    const Vec2 size{static_cast<float>(getWidth()), static_cast<float>(getHeight())};
    if (!(root_->getActualSize() == size)) {
        root_->actualSize_ = size;
        layoutDirty_ = true;
    }
    // resized() handlers may change sizes again; a few passes settle them,
    // and the limit keeps two widgets that keep resizing each other from
    // hanging the frame.
    for (int pass = 0; pass < 8 && layoutDirty_; ++pass) {
        layoutDirty_ = false;
        root_->layout();
    }
    updateHover();
}

void Window::updateWidgets() { root_->update(); }

namespace {

bool anyAnimating(const Widget& widget) {
    if (!widget.isVisible()) return false;
    if (widget.animating()) return true;
    const auto& children = widget.getChildren();
    return std::any_of(children.begin(), children.end(), [](const Widget* child) { return anyAnimating(*child); });
}

}  // namespace

bool Window::isAnimating() const { return anyAnimating(*root_); }

void Window::drawTree() {
    SDL_Renderer* r = renderer_->sdlRenderer();
    SDL_RenderSetClipRect(r, nullptr);
    SDL_SetRenderDrawColor(r, clearColor_.r(), clearColor_.g(), clearColor_.b(), clearColor_.a());
    SDL_RenderClear(r);
    root_->draw(renderer_.get(), 0.0f, 0.0f);
}

void Window::render(bool present) {
    drawTree();
    if (present) SDL_RenderPresent(renderer_->sdlRenderer());
}

Texture Window::captureFrame() {
    layoutIfNeeded();
    drawTree();
    int w = 0;
    int h = 0;
    SDL_GetRendererOutputSize(renderer_->sdlRenderer(), &w, &h);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    if (w <= 0 || h <= 0 ||
        SDL_RenderReadPixels(renderer_->sdlRenderer(), nullptr, SDL_PIXELFORMAT_RGBA32, pixels.data(), w * 4) != 0) {
        throw RenderException(std::string("Cannot capture frame: ") + SDL_GetError(), RenderException::CaptureFailed);
    }
    return Texture::fromRgba(w, h, pixels.data());
}

void Window::saveScreenshot(const std::string& path) {
    const Texture frame = captureFrame();
    SDL_Surface* surface =
        SDL_CreateRGBSurfaceWithFormatFrom(const_cast<std::uint8_t*>(frame.pixelData()), frame.getWidth(),
                                           frame.getHeight(), 32, frame.getWidth() * 4, SDL_PIXELFORMAT_RGBA32);
    const bool saved = surface != nullptr && IMG_SavePNG(surface, path.c_str()) == 0;
    SDL_FreeSurface(surface);
    if (!saved) {
        throw RenderException("Cannot save frame to " + path + ": " + SDL_GetError(), RenderException::CaptureFailed);
    }
}

Color Window::readPixel(int x, int y) {
    layoutIfNeeded();
    drawTree();
    std::uint32_t pixel = 0;
    const SDL_Rect rect{x, y, 1, 1};
    if (SDL_RenderReadPixels(renderer_->sdlRenderer(), &rect, SDL_PIXELFORMAT_RGBA32, &pixel, 4) != 0) {
        throw RenderException(std::string("Cannot read pixel: ") + SDL_GetError(), RenderException::CaptureFailed);
    }
    return Color(pixel);
}

// ---- injection --------------------------------------------------------------

void Window::injectMouseMove(float x, float y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = id_;
    e.motion.x = static_cast<Sint32>(x);
    e.motion.y = static_cast<Sint32>(y);
    SDL_PushEvent(&e);
}

void Window::injectMouseButton(float x, float y, MouseButton button, bool pressed) {
    SDL_Event e{};
    e.type = pressed ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = id_;
    e.button.button = toSdlButton(button);
    e.button.state = pressed ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = static_cast<Sint32>(x);
    e.button.y = static_cast<Sint32>(y);
    SDL_PushEvent(&e);
}

void Window::injectClick(float x, float y) {
    injectMouseMove(x, y);
    injectMouseButton(x, y, MouseButton::Left, true);
    injectMouseButton(x, y, MouseButton::Left, false);
}

void Window::injectMouseWheel(float dx, float dy) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = id_;
    e.wheel.x = static_cast<Sint32>(dx);
    e.wheel.y = static_cast<Sint32>(dy);
    e.wheel.preciseX = dx;
    e.wheel.preciseY = dy;
    e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    SDL_PushEvent(&e);
}

void Window::injectKey(int scancode, bool pressed, std::uint16_t modifiers) {
    SDL_Event e{};
    e.type = pressed ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = id_;
    e.key.state = pressed ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = static_cast<SDL_Scancode>(scancode);
    e.key.keysym.sym = SDL_GetKeyFromScancode(static_cast<SDL_Scancode>(scancode));
    e.key.keysym.mod = modifiers;
    SDL_PushEvent(&e);
}

void Window::injectKeyPress(int scancode, std::uint16_t modifiers) {
    injectKey(scancode, true, modifiers);
    injectKey(scancode, false, modifiers);
}

void Window::injectText(const std::string& utf8) {
    // An SDL text event holds at most 31 bytes; split between code points.
    constexpr std::size_t kChunk = sizeof(SDL_TextInputEvent::text) - 1;
    std::size_t start = 0;
    while (start < utf8.size()) {
        std::size_t end = std::min(utf8.size(), start + kChunk);
        while (end < utf8.size() && end > start && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
        SDL_Event e{};
        e.type = SDL_TEXTINPUT;
        e.text.windowID = id_;
        std::memcpy(e.text.text, utf8.data() + start, end - start);
        SDL_PushEvent(&e);
        start = end;
    }
}

}  // namespace vemo::ui
