// A widget that hosts its own Dear ImGui context. Each frame it runs the
// build function inside one borderless ImGui window that covers the panel,
// and draws the result clipped to the panel (and to any scrolling container
// around it).
//
// Input: mouse moves, buttons and the wheel reach the panel under the mouse
// (in panel coordinates); a press inside the panel gives it the keyboard
// focus, and keys and typed text go to the focused panel only. A panel that
// loses the focus deactivates its active input field. Wheel events are also
// passed on to the parent, so a ScrollView around the panel scrolls.
//
// Every panel has its own font atlas. Without setDefaultFont it uses ImGui's
// built-in font. The atlas holds the scripts of the default glyph ranges up
// front; other characters (Chinese, Japanese, Korean, ...) are added when a
// text that uses them is announced with useText, taken from the default font
// or else from the process-wide fallback font (setFallbackFontFile). The
// atlas is rebuilt for them at the start of a later frame, at most every few
// frames, so it stays small however large the fallback font is. A character
// that no font has is drawn as a box (U+25A1) or U+FFFD, never as '?',
// which would pass for part of the text.
//
// The application draws only when something happens (see Application): a
// panel asks for a frame each time the cursor of its active text field
// turns on or off, and for frames while characters wait for its atlas.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "vemo/ui/Widget.h"

#include <imgui.h>

namespace vemo::ui {

class Font;

class ImGuiPanel : public Widget {
public:
    explicit ImGuiPanel(Widget* parent);
    ~ImGuiPanel() override;

    // The panel's context. It is not left current by the panel's own calls;
    // make it current (ImGui::SetCurrentContext) before using ImGui on it
    // outside the build function.
    ImGuiContext* getImGuiContext() const;

    // Called every frame while the panel is visible, with the panel's context
    // current, between ImGui::Begin and ImGui::End of the panel's window.
    void setBuildImGuiFunction(std::function<void()> build);

    // Rebuilds the panel's font atlas with this font at the pixel size.
    // glyphRanges: ImGui's zero-terminated list of code point pairs; null
    // gives the toolkit's default: Basic Latin, Latin-1, Latin Extended-A and
    // -B, Greek, Cyrillic, general punctuation, the euro sign and the
    // replacement marks. The font must outlive the panel. Null font:
    // ImGui's built-in font.
    void setDefaultFont(const Font* font, float size, const ImWchar* glyphRanges = nullptr);
    void setDefaultFont(const Font& font, float size, const ImWchar* glyphRanges = nullptr) {
        setDefaultFont(&font, size, glyphRanges);
    }
    static const ImWchar* defaultGlyphRanges();

    // Announces UTF-8 text the panel draws (names, values): characters that
    // are outside the atlas are added to it at the start of a later frame.
    // Cheap for text already covered; call it every frame for what is drawn.
    // Text typed into the panel is announced by the panel itself.
    void useText(std::string_view utf8);

    // The font file (TrueType or a collection, face 0) that supplies the
    // characters the default font lacks, for every panel. It is read only
    // when a panel first needs a character outside its default ranges. If
    // it cannot be read, onMissing is called once with the reason and those
    // characters show the replacement mark. An empty path: no fallback.
    static void setFallbackFontFile(std::string path, std::function<void(const std::string&)> onMissing = nullptr);

    // The fallback font if it has been read (null before or when missing).
    // Reads it now if it has not been tried yet.
    static const Font* fallbackFont();

    // The draw data of the last frame built (null before the first).
    const ImDrawData* lastDrawData() const;

    void update() override;
    void draw(Renderer* renderer, float parentX, float parentY) override;
    bool animating() const override;
    bool onMouseButton(const MouseButtonEvent& event) override;
    bool onMouseWheel(Vec2 position, float dx, float dy) override;
    bool onKey(const KeyEvent& event) override;
    bool onTextInput(const std::string& utf8) override;
    void onFocusChanged(bool focused) override;
    bool acceptsFocus() const override { return true; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vemo::ui
