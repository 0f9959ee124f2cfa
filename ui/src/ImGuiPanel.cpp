// A Dear ImGui context per panel: frames, input routing, font atlas, drawing.

#include "vemo/ui/ImGuiPanel.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>
#include <imgui_internal.h>

#include <array>
#include <cfloat>

#include "vemo/ui/Renderer.h"
#include "vemo/ui/Resources.h"
#include "vemo/ui/Window.h"

namespace vemo::ui {
namespace {

// Basic Latin, Latin-1 (umlauts, degree sign), general punctuation (dashes,
// quotes, ellipsis) and the euro sign.
const ImWchar kDefaultRanges[] = {0x0020, 0x00FF, 0x2010, 0x205E, 0x20AC, 0x20AC, 0};

constexpr ImGuiWindowFlags kPanelWindowFlags = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                                               ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoSavedSettings |
                                               ImGuiWindowFlags_NoBringToFrontOnFocus |
                                               ImGuiWindowFlags_NoScrollWithMouse | ImGuiWindowFlags_NoBackground;

constexpr int kKeyCount = 512;  // ImGuiIO::KeysDown

// Makes a context current for a scope and restores the previous one.
class ContextScope {
public:
    explicit ContextScope(ImGuiContext* context) : previous_(ImGui::GetCurrentContext()) {
        ImGui::SetCurrentContext(context);
    }
    ~ContextScope() { ImGui::SetCurrentContext(previous_); }
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;

private:
    ImGuiContext* previous_;
};

}  // namespace

struct ImGuiPanel::Impl {
    ImGuiContext* context = nullptr;
    std::function<void()> build;
    bool platformReady = false;
    SDL_Renderer* rendererReady = nullptr;  // renderer the SDL renderer backend was set up for

    // Font atlas.
    const Font* font = nullptr;
    float fontSize = 13.0f;
    const ImWchar* ranges = nullptr;
    bool atlasDirty = true;
    std::unique_ptr<Texture> atlas;

    // Input gathered since the last frame. A press is also latched so that a
    // press and release between two frames still reach ImGui as a click.
    std::array<bool, 3> mouseDown{};
    std::array<bool, 3> mouseLatch{};
    float wheelX = 0.0f;
    float wheelY = 0.0f;
    std::array<bool, kKeyCount> keysDown{};
    std::array<bool, kKeyCount> keyLatch{};
    std::uint16_t modifiers = 0;
    std::string text;
    bool blurPending = false;

    bool hasFrame = false;
};

ImGuiPanel::ImGuiPanel(Widget* parent) : Widget(parent), impl_(std::make_unique<Impl>()) {
    const ImGuiContext* previous = ImGui::GetCurrentContext();
    impl_->context = ImGui::CreateContext();
    {
        ContextScope scope(impl_->context);
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;  // panels keep no state on disk
        io.LogFilename = nullptr;
    }
    ImGui::SetCurrentContext(const_cast<ImGuiContext*>(previous));
}

ImGuiPanel::~ImGuiPanel() {
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(impl_->context);
    if (impl_->rendererReady != nullptr) ImGui_ImplSDLRenderer_Shutdown();
    if (impl_->platformReady) ImGui_ImplSDL2_Shutdown();
    ImGui::DestroyContext(impl_->context);
    ImGui::SetCurrentContext(previous == impl_->context ? nullptr : previous);
}

ImGuiContext* ImGuiPanel::getImGuiContext() const { return impl_->context; }

void ImGuiPanel::setBuildImGuiFunction(std::function<void()> build) { impl_->build = std::move(build); }

void ImGuiPanel::setDefaultFont(const Font* font, float size, const ImWchar* glyphRanges) {
    impl_->font = font;
    impl_->fontSize = size;
    impl_->ranges = glyphRanges;
    impl_->atlasDirty = true;
}

const ImWchar* ImGuiPanel::defaultGlyphRanges() { return kDefaultRanges; }

const ImDrawData* ImGuiPanel::lastDrawData() const {
    if (!impl_->hasFrame) return nullptr;
    ContextScope scope(impl_->context);
    return ImGui::GetDrawData();
}

void ImGuiPanel::update() {
    Window* window = getWindow();
    if (window == nullptr) return;
    Impl& d = *impl_;
    {
        ContextScope scope(d.context);
        ImGuiIO& io = ImGui::GetIO();

        if (!d.platformReady) {
            // Keyboard map, clipboard and cursors of ImGui's SDL platform
            // backend; mouse input is fed below in panel coordinates instead.
            ImGui_ImplSDL2_InitForSDLRenderer(window->sdlWindow());
            d.platformReady = true;
        }
        if (d.atlasDirty) {
            d.atlasDirty = false;
            io.Fonts->Clear();
            ImFont* added = nullptr;
            if (d.font != nullptr && d.font->data() != nullptr) {
                ImFontConfig config;
                config.FontDataOwnedByAtlas = false;  // the Font owns the bytes
                config.FontNo = d.font->faceIndex();
                added = io.Fonts->AddFontFromMemoryTTF(const_cast<std::uint8_t*>(d.font->data()),
                                                       static_cast<int>(d.font->size()), d.fontSize, &config,
                                                       d.ranges != nullptr ? d.ranges : kDefaultRanges);
            }
            if (added == nullptr) io.Fonts->AddFontDefault();
            unsigned char* pixels = nullptr;
            int width = 0;
            int height = 0;
            io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
            d.atlas = std::make_unique<Texture>(Texture::fromRgba(width, height, pixels));
            io.Fonts->SetTexID(d.atlas->getImGuiTextureId());
            io.Fonts->ClearTexData();
        }

        ImGui_ImplSDL2_NewFrame();
        // The backend measured the whole window; the panel is its own display.
        const Vec2 size = getActualSize();
        io.DisplaySize = ImVec2(std::max(0.0f, size.x), std::max(0.0f, size.y));
        io.DisplayFramebufferScale = ImVec2(1.0f, 1.0f);

        const bool hovered = isHovered();
        const bool captured = window->mouseCapture() == this;
        // Mouse position in panel coordinates while the mouse is over the
        // panel, or anywhere while the panel holds the mouse (a drag).
        if (hovered || captured) {
            const Vec2 local = window->mousePosition() - getWorldPosition();
            io.MousePos = ImVec2(local.x, local.y);
        } else {
            io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
        }
        for (std::size_t b = 0; b < d.mouseDown.size(); ++b) {
            io.MouseDown[b] = d.mouseDown[b] || d.mouseLatch[b];
            d.mouseLatch[b] = false;
        }
        io.MouseWheel = d.wheelY;
        io.MouseWheelH = d.wheelX;
        d.wheelX = d.wheelY = 0.0f;
        for (int k = 0; k < kKeyCount; ++k) {
            io.KeysDown[k] = d.keysDown[static_cast<std::size_t>(k)] || d.keyLatch[static_cast<std::size_t>(k)];
            d.keyLatch[static_cast<std::size_t>(k)] = false;
        }
        io.KeyShift = (d.modifiers & KMOD_SHIFT) != 0;
        io.KeyCtrl = (d.modifiers & KMOD_CTRL) != 0;
        io.KeyAlt = (d.modifiers & KMOD_ALT) != 0;
        io.KeySuper = (d.modifiers & KMOD_GUI) != 0;
        if (!d.text.empty()) {
            io.AddInputCharactersUTF8(d.text.c_str());
            d.text.clear();
        }
        // Only the panel under the mouse chooses the cursor.
        if (hovered) {
            io.ConfigFlags &= ~ImGuiConfigFlags_NoMouseCursorChange;
        } else {
            io.ConfigFlags |= ImGuiConfigFlags_NoMouseCursorChange;
        }

        ImGui::NewFrame();
        if (d.blurPending) {
            d.blurPending = false;
            ImGui::ClearActiveID();
            ImGui::FocusWindow(nullptr);
        }
        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
        ImGui::SetNextWindowSize(io.DisplaySize);
        ImGui::Begin("##vemo.panel", nullptr, kPanelWindowFlags);
        try {
            if (d.build) d.build();
        } catch (...) {
            // Close what the build function left open so the next frame starts clean.
            ImGui::ErrorCheckEndFrameRecover(nullptr, nullptr);
            ImGui::Render();
            d.hasFrame = true;
            throw;
        }
        ImGui::End();
        ImGui::Render();
        d.hasFrame = true;
    }
    Widget::update();
}

void ImGuiPanel::draw(Renderer* renderer, float parentX, float parentY) {
    const Vec2 world{parentX + getPosition().x, parentY + getPosition().y};
    if (impl_->hasFrame) {
        ContextScope scope(impl_->context);
        if (impl_->rendererReady != renderer->sdlRenderer()) {
            if (impl_->rendererReady != nullptr) ImGui_ImplSDLRenderer_Shutdown();
            // Only its drawing is used: the font atlas is the panel's own texture.
            ImGui_ImplSDLRenderer_Init(renderer->sdlRenderer());
            impl_->rendererReady = renderer->sdlRenderer();
        }
        const Vec2 size = getActualSize();
        renderer->pushClip({world.x, world.y, size.x, size.y});
        renderer->drawImGui(ImGui::GetDrawData(), world);
        renderer->popClip();
    }
    Widget::draw(renderer, parentX, parentY);
}

bool ImGuiPanel::onMouseButton(const MouseButtonEvent& event) {
    std::size_t index = 0;
    switch (event.button) {
        case MouseButton::Left: index = 0; break;
        case MouseButton::Right: index = 1; break;
        case MouseButton::Middle: index = 2; break;
    }
    impl_->mouseDown[index] = event.pressed;
    if (event.pressed) impl_->mouseLatch[index] = true;
    return true;
}

bool ImGuiPanel::onMouseWheel(Vec2, float dx, float dy) {
    impl_->wheelX += dx;
    impl_->wheelY += dy;
    return false;  // a scrolling container around the panel scrolls too
}

bool ImGuiPanel::onKey(const KeyEvent& event) {
    impl_->modifiers = event.modifiers;
    if (event.scancode < 0 || event.scancode >= kKeyCount) return false;
    const auto k = static_cast<std::size_t>(event.scancode);
    impl_->keysDown[k] = event.pressed;
    if (event.pressed) impl_->keyLatch[k] = true;
    return true;
}

bool ImGuiPanel::onTextInput(const std::string& utf8) {
    impl_->text += utf8;
    return true;
}

void ImGuiPanel::onFocusChanged(bool focused) {
    if (focused) return;
    impl_->blurPending = true;
    impl_->keysDown.fill(false);
    impl_->modifiers = 0;
}

}  // namespace vemo::ui
