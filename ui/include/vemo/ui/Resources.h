// Resources built from bytes: fonts, decoded images and SVG documents.
// All of them are UI-thread objects. Constructors copy the bytes they need,
// so the caller's buffer may be released afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vemo/ui/Math.h"

struct SDL_Surface;
struct SDL_Renderer;
struct SDL_Texture;

namespace vemo::ui {

// A TrueType font. The toolkit draws text with it at any pixel size
// (TextElement) and ImGuiPanel builds its font atlas from its bytes.
class Font {
public:
    // data/size: the TrueType file; faceIndex: the face inside a font
    // collection (0 for a plain .ttf). Throws ResourceException (EmptyData,
    // TooLarge, DecodeFailed).
    Font(const void* data, std::size_t size, int faceIndex);
    ~Font();
    Font(Font&&) noexcept;
    Font& operator=(Font&&) noexcept;
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    // The TrueType bytes; they live as long as the Font.
    const std::uint8_t* data() const;
    std::size_t size() const;
    int faceIndex() const;

    // Whether the font has a glyph for the Unicode code point.
    bool hasGlyph(std::uint32_t codepoint) const;

    // Size of the rendered UTF-8 text at a pixel size (height is the line height).
    Vec2 measure(const std::string& text, float pixelSize) const;

    struct Impl;
    Impl* impl() const { return impl_.get(); }

private:
    std::unique_ptr<Impl> impl_;
};

// A decoded image (PNG, JPEG, BMP, SVG at its own size, ... as SDL_image
// reads them) kept as RGBA pixels. It is drawn by any window: the GPU copy is
// made per renderer on first use and dropped with the renderer.
// Movable; a moved Texture keeps its ImGui texture id.
class Texture {
public:
    // Throws ResourceException (EmptyData, TooLarge, DecodeFailed).
    Texture(const void* data, std::size_t size);
    // Takes an RGBA copy of the surface; the caller keeps its surface.
    explicit Texture(SDL_Surface* surface);
    // width * height pixels, 4 bytes each in R, G, B, A order.
    static Texture fromRgba(int width, int height, const std::uint8_t* pixels);
    ~Texture();
    Texture(Texture&&) noexcept;
    Texture& operator=(Texture&&) noexcept;
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    int getWidth() const;
    int getHeight() const;
    Vec2 getSize() const;

    // The value to pass to Dear ImGui as ImTextureID (ImGui::Image,
    // ImageButton, ImDrawList::AddImage) inside an ImGuiPanel. Stable for the
    // life of the texture, also across moves.
    void* getImGuiTextureId() const;

    // Pixel of the decoded image as packed RGBA (red in the low byte);
    // 0 outside the image.
    Color pixel(int x, int y) const;
    // The pixels, row after row without gaps, 4 bytes each (R, G, B, A).
    const std::uint8_t* pixelData() const;

    struct Impl;
    Impl* impl() const { return impl_.get(); }

private:
    Texture() = default;
    std::unique_ptr<Impl> impl_;
};

// An SVG document, rasterised on demand at any size.
class SVG {
public:
    // Copies the document. Throws ResourceException (EmptyData, TooLarge).
    SVG(const void* data, std::size_t size);

    // Rasterises the document into a width x height texture: scaled to fit
    // with its aspect ratio kept, centred, transparent around it. Throws
    // ResourceException (InvalidSize for sizes below 1 or above 16384,
    // DecodeFailed when the document cannot be parsed).
    Texture createTexture(int width, int height) const;

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace vemo::ui
