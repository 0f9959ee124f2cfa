// A Dear ImGui context per panel: frames, input routing, font atlas, drawing.

#include "vemo/ui/ImGuiPanel.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>
#include <imgui_internal.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "vemo/ui/Application.h"
#include "vemo/ui/Renderer.h"
#include "vemo/ui/Resources.h"
#include "vemo/ui/Window.h"

namespace vemo::ui {
namespace {

// The scripts of most names and values: Basic Latin, Latin-1, Latin
// Extended-A and -B (Polish, Czech, Turkish, Romanian, ...), Greek, Cyrillic,
// general punctuation (dashes, quotes, ellipsis), the euro sign, and the two
// replacement marks: about a thousand glyphs. Anything else (Vietnamese,
// Chinese, ...) is added when a text uses it.
const ImWchar kDefaultRanges[] = {0x0020, 0x024F, 0x0370, 0x052F, 0x2010, 0x205E, 0x20AC,
                                  0x20AC, 0x25A1, 0x25A1, 0xFFFD, 0xFFFD, 0};

// What a character that no font of the atlas has is drawn as, in order of
// preference: a white square, then the Unicode replacement character.
constexpr std::array<ImWchar, 2> kReplacementMarks = {0x25A1, 0xFFFD};

// Frames between two rebuilds of an atlas for newly seen characters: a tree
// that scrolls through thousands of new names rebuilds a few times a second,
// not every frame.
constexpr int kRebuildInterval = 4;

// Whether a code point lies in a zero-terminated list of ImGui ranges.
bool inRanges(const ImWchar* ranges, unsigned int c) {
    for (; ranges[0] != 0; ranges += 2) {
        if (c >= ranges[0] && c <= ranges[1]) return true;
    }
    return false;
}

// Adds a font whose bytes a Font owns. ImGui copies bytes it does not own
// (5 MB of the fallback font per panel and rebuild), so it is told it owns
// them, which it does not copy, and told otherwise right after, so that it
// never frees them either.
ImFont* addBorrowedFont(ImFontAtlas& atlas, const Font& font, float size, ImFontConfig config, const ImWchar* ranges) {
    config.FontDataOwnedByAtlas = true;
    config.FontNo = font.faceIndex();
    ImFont* added = atlas.AddFontFromMemoryTTF(const_cast<std::uint8_t*>(font.data()), static_cast<int>(font.size()),
                                               size, &config, ranges);
    if (!atlas.ConfigData.empty()) atlas.ConfigData.back().FontDataOwnedByAtlas = false;
    return added;
}

// The fallback font shared by every panel: read at most once per path.
struct FallbackFont {
    std::string path;
    std::function<void(const std::string&)> onMissing;
    bool tried = false;
    std::unique_ptr<Font> font;
};

FallbackFont& fallback() {
    static FallbackFont instance;
    return instance;
}

const Font* loadFallbackFont() {
    FallbackFont& f = fallback();
    if (f.tried) return f.font.get();
    f.tried = true;
    if (f.path.empty()) return nullptr;
    std::string reason;
    SDL_RWops* file = SDL_RWFromFile(f.path.c_str(), "rb");
    if (file == nullptr) {
        reason = SDL_GetError();
    } else {
        std::size_t size = 0;
        void* bytes = SDL_LoadFile_RW(file, &size, 1);
        if (bytes == nullptr) {
            reason = SDL_GetError();
        } else {
            try {
                f.font = std::make_unique<Font>(bytes, size, 0);
            } catch (const std::exception& e) {
                reason = e.what();
            }
            SDL_free(bytes);
        }
    }
    if (f.font == nullptr && f.onMissing) {
        f.onMissing("Fallback font " + f.path + " not loaded (" + reason +
                    "): characters outside the default font show as a box");
    }
    return f.font.get();
}

constexpr ImGuiWindowFlags kPanelWindowFlags = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                                               ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoSavedSettings |
                                               ImGuiWindowFlags_NoBringToFrontOnFocus |
                                               ImGuiWindowFlags_NoScrollWithMouse | ImGuiWindowFlags_NoBackground;

constexpr int kKeyCount = 512;  // ImGuiIO::KeysDown
// Key and text events waiting for their frames, at most.
constexpr std::size_t kMaxQueuedKeys = 1024;

// Seconds until the text cursor of the current context's active field turns
// on or off; negative when no field is active or the cursor does not blink.
// ImGui shows the cursor while its timer is at most 0 (just after typing)
// and for the first 0.8 s of every 1.2 s after that.
float secondsToCursorBlink() {
    const ImGuiContext& g = *ImGui::GetCurrentContext();
    if (!g.IO.ConfigInputTextCursorBlink || g.ActiveId == 0 || g.InputTextState.ID != g.ActiveId) return -1.0f;
    const float timer = g.InputTextState.CursorAnim;
    if (timer <= 0.0f) return 0.8f - timer;
    const float phase = ImFmod(timer, 1.2f);
    return phase <= 0.8f ? 0.8f - phase : 1.2f - phase;
}

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
    // Characters outside the ranges above that texts of the panel use: one
    // bit per code point of the Basic Multilingual Plane (what ImWchar holds).
    std::vector<std::uint64_t> seen = std::vector<std::uint64_t>(0x10000 / 64, 0);
    std::vector<ImWchar> extra;  // the same characters, in the order seen
    bool extraPending = false;   // some of them are not in the atlas yet
    int framesSinceBuild = 0;
    // Ranges handed to ImGui; they must live as long as the atlas's fonts.
    ImVector<ImWchar> mainRanges;
    ImVector<ImWchar> fallbackRanges;

    const ImWchar* baseRanges() const { return ranges != nullptr ? ranges : kDefaultRanges; }
    void noteText(const char* begin, const char* end);
    void buildAtlas(ImGuiIO& io);

    // Input gathered since the last frame. A press is also latched so that a
    // press and release between two frames still reach ImGui as a click.
    std::array<bool, 3> mouseDown{};
    std::array<bool, 3> mouseLatch{};
    float wheelX = 0.0f;
    float wheelY = 0.0f;
    // Keys and typed text wait in a queue for the frames that hand them to
    // ImGui, which only sees which keys are down in a frame: see takeKeys.
    struct KeyInput {
        int scancode = -1;  // -1: typed text
        bool pressed = false;
        std::uint16_t modifiers = 0;
        std::string text;
    };
    std::deque<KeyInput> keyQueue;
    std::array<bool, kKeyCount> keysDown{};
    std::uint16_t modifiers = 0;
    bool blurPending = false;

    // Takes the queued keys and text for one frame into `io`.
    void takeKeys(ImGuiIO& io);

    bool hasFrame = false;
};

void ImGuiPanel::Impl::takeKeys(ImGuiIO& io) {
    // ImGui 1.86 learns of keys only as "down in this frame". Two presses of
    // one key in one frame would read as one, a press and its release in one
    // frame as none, and Ctrl released in the frame of Ctrl+C as a plain C.
    // So a frame takes queued events in order and stops before one that
    // would hide an earlier one: a second change of the same key, other
    // modifiers than the keys taken were pressed with, or text after a key
    // press other than the one that typed it (ImGui handles a frame's text
    // before its keys). What is left waits for the next frame.
    constexpr std::uint16_t kModifierMask = KMOD_CTRL | KMOD_SHIFT | KMOD_ALT | KMOD_GUI;
    std::array<bool, kKeyCount> changed{};
    bool taken = false;
    int presses = 0;
    bool lastWasPress = false;
    std::string text;
    while (!keyQueue.empty()) {
        const KeyInput& input = keyQueue.front();
        if (input.scancode < 0) {
            if (presses > 1 || (presses == 1 && !lastWasPress)) break;
            text += input.text;
            lastWasPress = false;
        } else {
            const auto k = static_cast<std::size_t>(input.scancode);
            const std::uint16_t mods = input.modifiers & kModifierMask;
            if (changed[k] || (taken && mods != (modifiers & kModifierMask))) break;
            // A key's auto-repeat changes nothing ImGui sees: it repeats by
            // itself while the key is down.
            if (keysDown[k] != input.pressed) {
                changed[k] = true;
                keysDown[k] = input.pressed;
            }
            if (input.pressed) ++presses;
            lastWasPress = input.pressed;
            modifiers = input.modifiers;
        }
        taken = true;
        keyQueue.pop_front();
    }
    for (int k = 0; k < kKeyCount; ++k) io.KeysDown[k] = keysDown[static_cast<std::size_t>(k)];
    io.KeyShift = (modifiers & KMOD_SHIFT) != 0;
    io.KeyCtrl = (modifiers & KMOD_CTRL) != 0;
    io.KeyAlt = (modifiers & KMOD_ALT) != 0;
    io.KeySuper = (modifiers & KMOD_GUI) != 0;
    if (!text.empty()) {
        noteText(text.data(), text.data() + text.size());
        io.AddInputCharactersUTF8(text.c_str());
    }
}

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

void ImGuiPanel::useText(std::string_view utf8) { impl_->noteText(utf8.data(), utf8.data() + utf8.size()); }

void ImGuiPanel::setFallbackFontFile(std::string path, std::function<void(const std::string&)> onMissing) {
    FallbackFont& f = fallback();
    if (f.path != path) {
        f.tried = false;
        f.font.reset();
    }
    f.path = std::move(path);
    f.onMissing = std::move(onMissing);
}

const Font* ImGuiPanel::fallbackFont() { return loadFallbackFont(); }

void ImGuiPanel::Impl::noteText(const char* begin, const char* end) {
    const ImWchar* base = baseRanges();
    const char* p = begin;
    while (p < end) {
        // Most names are ASCII: those bytes are always in the atlas.
        if (static_cast<unsigned char>(*p) < 0x80) {
            ++p;
            continue;
        }
        unsigned int c = 0;
        const int length = ImTextCharFromUtf8(&c, p, end);
        p += std::max(length, 1);
        if (c == 0 || c > 0xFFFF) continue;  // beyond what ImWchar holds: the replacement mark
        std::uint64_t& word = seen[c / 64];
        const std::uint64_t bit = std::uint64_t{1} << (c % 64);
        if ((word & bit) != 0) continue;
        word |= bit;
        if (inRanges(base, c)) continue;
        // Only what some font can draw is worth a rebuild; the rest shows
        // the replacement mark as it is. The fallback font is read the first
        // time the default font lacks a character.
        if (font == nullptr || !font->hasGlyph(c)) {
            const Font* more = loadFallbackFont();
            if (more == nullptr || !more->hasGlyph(c)) continue;
        }
        extra.push_back(static_cast<ImWchar>(c));
        extraPending = true;
    }
}

void ImGuiPanel::Impl::buildAtlas(ImGuiIO& io) {
    atlasDirty = false;
    extraPending = false;
    framesSinceBuild = 0;
    io.Fonts->Clear();

    ImFontGlyphRangesBuilder builder;
    builder.AddRanges(baseRanges());
    for (const ImWchar c : extra) builder.AddChar(c);
    mainRanges.clear();
    builder.BuildRanges(&mainRanges);

    ImFont* added = nullptr;
    if (font != nullptr && font->data() != nullptr) {
        ImFontConfig config;
        // Two horizontal subsamples instead of three look the same at these
        // sizes and make the atlas of a thousand glyphs a third smaller.
        config.OversampleH = 2;
        added = addBorrowedFont(*io.Fonts, *font, fontSize, config, mainRanges.Data);
        // The fallback font fills in what the default font lacks; it has been
        // read already if any extra character needs it.
        const Font* more = extra.empty() ? nullptr : loadFallbackFont();
        if (added != nullptr && more != nullptr) {
            ImFontGlyphRangesBuilder fallbackBuilder;
            for (const ImWchar c : extra) fallbackBuilder.AddChar(c);
            fallbackRanges.clear();
            fallbackBuilder.BuildRanges(&fallbackRanges);
            ImFontConfig merge;
            merge.MergeMode = true;
            // Ideographs are dense: no horizontal oversampling keeps the atlas small.
            merge.OversampleH = 1;
            merge.PixelSnapH = true;
            addBorrowedFont(*io.Fonts, *more, fontSize, merge, fallbackRanges.Data);
        }
    }
    if (added == nullptr) added = io.Fonts->AddFontDefault();

    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    atlas = std::make_unique<Texture>(Texture::fromRgba(width, height, pixels));
    io.Fonts->SetTexID(atlas->getImGuiTextureId());
    io.Fonts->ClearTexData();
    // The glyphs are all in the atlas now; a rebuild adds the fonts again.
    io.Fonts->ClearInputData();

    // ImGui falls back to '?' when the font has no U+FFFD, and a '?' reads
    // as part of a name or value. A box is unmistakably a missing glyph.
    for (const ImWchar mark : kReplacementMarks) {
        if (added->FindGlyphNoFallback(mark) != nullptr) {
            if (added->FallbackChar != mark) {
                added->FallbackChar = mark;
                added->BuildLookupTable();
            }
            break;
        }
    }
}

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
        ++d.framesSinceBuild;
        if (d.extraPending && d.framesSinceBuild >= kRebuildInterval) d.atlasDirty = true;

        if (!d.platformReady) {
            // Keyboard map, clipboard and cursors of ImGui's SDL platform
            // backend; mouse input is fed below in panel coordinates instead.
            ImGui_ImplSDL2_InitForSDLRenderer(window->sdlWindow());
            d.platformReady = true;
        }
        if (d.atlasDirty) d.buildAtlas(io);

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
        d.takeKeys(io);
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
        // The loop sleeps while nothing happens; a blinking cursor needs a
        // frame each time it turns on or off (a little after, to be past it).
        const float blink = secondsToCursorBlink();
        if (blink >= 0.0f) {
            Application::wakeAt(Application::Clock::now() +
                                std::chrono::microseconds(static_cast<std::int64_t>(blink * 1e6f) + 2000));
        }
    }
    Widget::update();
}

bool ImGuiPanel::animating() const {
    // Characters waiting for the atlas are added a few frames later; keys
    // still queued need frames of their own.
    return impl_->extraPending || !impl_->keyQueue.empty();
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
    if (event.scancode < 0 || event.scancode >= kKeyCount) return false;
    // Bounded: a flood of key events (a stuck key on a stalled program)
    // must not grow the queue without end. Beyond it keys are dropped.
    if (impl_->keyQueue.size() >= kMaxQueuedKeys) return true;
    impl_->keyQueue.push_back({event.scancode, event.pressed, event.modifiers, {}});
    return true;
}

bool ImGuiPanel::onTextInput(const std::string& utf8) {
    if (impl_->keyQueue.size() >= kMaxQueuedKeys) return true;
    impl_->keyQueue.push_back({-1, false, 0, utf8});
    return true;
}

void ImGuiPanel::onFocusChanged(bool focused) {
    if (focused) return;
    impl_->blurPending = true;
    impl_->keyQueue.clear();
    impl_->keysDown.fill(false);
    impl_->modifiers = 0;
}

}  // namespace vemo::ui
