// Fonts, decoded images and SVG rasterising on SDL_ttf and SDL_image.

#include "vemo/ui/Resources.h"

#include <SDL_image.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_set>

#include "Internal.h"
#include "vemo/ui/Exceptions.h"

namespace vemo::ui {
namespace {

// Every live texture, so a renderer going away can drop its copies. Never
// destroyed: textures held by process-wide caches are destroyed during static
// destruction, possibly after any ordinary static would be gone.
std::unordered_set<Texture::Impl*>& liveTextures() {
    static auto* live = new std::unordered_set<Texture::Impl*>();
    return *live;
}

// SDL takes sizes as int; larger inputs are refused rather than truncated.
int checkedSize(const void* data, std::size_t size, const char* what) {
    if (data == nullptr || size == 0) {
        throw ResourceException(std::string(what) + ": no data", ResourceException::EmptyData);
    }
    if (size > static_cast<std::size_t>(INT_MAX)) {
        throw ResourceException(std::string(what) + ": data too large", ResourceException::TooLarge);
    }
    return static_cast<int>(size);
}

SDL_Surface* toRgba(SDL_Surface* source) { return SDL_ConvertSurfaceFormat(source, SDL_PIXELFORMAT_RGBA32, 0); }

// The largest raster a side we produce: 16384 x 16384 x 4 bytes is 1 GiB.
constexpr int kMaxRasterSide = 16384;

}  // namespace

// ---- Texture::Impl --------------------------------------------------------

Texture::Impl::Impl() { liveTextures().insert(this); }

Texture::Impl::~Impl() {
    liveTextures().erase(this);
    for (auto& [renderer, texture] : copies) {
        SDL_DestroyTexture(texture);
    }
    SDL_FreeSurface(surface);
}

SDL_Texture* Texture::Impl::forRenderer(SDL_Renderer* renderer) {
    for (auto& [r, t] : copies) {
        if (r == renderer) return t;
    }
    SDL_Texture* texture = SDL_CreateTextureFromSurface(renderer, surface);
    if (texture == nullptr) return nullptr;
    SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    SDL_SetTextureScaleMode(texture, scaleMode);
    copies.emplace_back(renderer, texture);
    return texture;
}

void forgetRenderer(SDL_Renderer* renderer) {
    for (Texture::Impl* impl : liveTextures()) {
        auto& copies = impl->copies;
        for (auto it = copies.begin(); it != copies.end();) {
            if (it->first == renderer) {
                SDL_DestroyTexture(it->second);
                it = copies.erase(it);
            } else {
                ++it;
            }
        }
    }
}

SDL_Texture* textureFromImGuiId(void* id, SDL_Renderer* renderer) {
    if (id == nullptr) return nullptr;
    auto* impl = static_cast<Texture::Impl*>(id);
    if (liveTextures().count(impl) == 0) return nullptr;
    return impl->forRenderer(renderer);
}

// ---- Texture ---------------------------------------------------------------

Texture::Texture(const void* data, std::size_t size) {
    const int length = checkedSize(data, size, "Texture");
    SDL_RWops* rw = SDL_RWFromConstMem(data, length);
    SDL_Surface* decoded = rw ? IMG_Load_RW(rw, 1) : nullptr;
    if (decoded == nullptr) {
        throw ResourceException(std::string("Texture: cannot decode image: ") + IMG_GetError(),
                                ResourceException::DecodeFailed);
    }
    SDL_Surface* rgba = toRgba(decoded);
    SDL_FreeSurface(decoded);
    if (rgba == nullptr) {
        throw ResourceException(std::string("Texture: cannot convert image: ") + SDL_GetError(),
                                ResourceException::DecodeFailed);
    }
    impl_ = std::make_unique<Impl>();
    impl_->surface = rgba;
}

Texture::Texture(SDL_Surface* surface) {
    if (surface == nullptr) {
        throw ResourceException("Texture: no surface", ResourceException::EmptyData);
    }
    SDL_Surface* rgba = toRgba(surface);
    if (rgba == nullptr) {
        throw ResourceException(std::string("Texture: cannot convert surface: ") + SDL_GetError(),
                                ResourceException::DecodeFailed);
    }
    impl_ = std::make_unique<Impl>();
    impl_->surface = rgba;
}

Texture Texture::fromRgba(int width, int height, const std::uint8_t* pixels) {
    if (width <= 0 || height <= 0 || width > kMaxRasterSide || height > kMaxRasterSide) {
        throw ResourceException("Texture: invalid size", ResourceException::InvalidSize);
    }
    if (pixels == nullptr) {
        throw ResourceException("Texture: no pixels", ResourceException::EmptyData);
    }
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_RGBA32);
    if (surface == nullptr) {
        throw ResourceException(std::string("Texture: ") + SDL_GetError(), ResourceException::TooLarge);
    }
    const auto rowBytes = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        std::memcpy(static_cast<std::uint8_t*>(surface->pixels) + static_cast<std::size_t>(y) * surface->pitch,
                    pixels + static_cast<std::size_t>(y) * rowBytes, rowBytes);
    }
    Texture texture;
    texture.impl_ = std::make_unique<Impl>();
    texture.impl_->surface = surface;
    return texture;
}

Texture::~Texture() = default;
Texture::Texture(Texture&&) noexcept = default;
Texture& Texture::operator=(Texture&&) noexcept = default;

int Texture::getWidth() const { return impl_ ? impl_->surface->w : 0; }
int Texture::getHeight() const { return impl_ ? impl_->surface->h : 0; }
Vec2 Texture::getSize() const { return {static_cast<float>(getWidth()), static_cast<float>(getHeight())}; }
void* Texture::getImGuiTextureId() const { return impl_.get(); }

const std::uint8_t* Texture::pixelData() const {
    return impl_ ? static_cast<const std::uint8_t*>(impl_->surface->pixels) : nullptr;
}

Color Texture::pixel(int x, int y) const {
    if (!impl_ || x < 0 || y < 0 || x >= impl_->surface->w || y >= impl_->surface->h) {
        return Color(0u);
    }
    const auto* row =
        static_cast<const std::uint8_t*>(impl_->surface->pixels) + static_cast<std::size_t>(y) * impl_->surface->pitch;
    std::uint32_t value = 0;
    std::memcpy(&value, row + static_cast<std::size_t>(x) * 4, 4);  // R, G, B, A bytes = packed little-endian
    return Color(value);
}

// ---- SVG -------------------------------------------------------------------

SVG::SVG(const void* data, std::size_t size) {
    checkedSize(data, size, "SVG");
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    bytes_.assign(bytes, bytes + size);
}

Texture SVG::createTexture(int width, int height) const {
    if (width < 1 || height < 1 || width > kMaxRasterSide || height > kMaxRasterSide) {
        throw ResourceException("SVG: invalid raster size " + std::to_string(width) + "x" + std::to_string(height),
                                ResourceException::InvalidSize);
    }
    SDL_RWops* rw = SDL_RWFromConstMem(bytes_.data(), static_cast<int>(bytes_.size()));
    if (rw == nullptr) {
        throw ResourceException(std::string("SVG: ") + SDL_GetError(), ResourceException::DecodeFailed);
    }
    // SDL_image's sized loader leaves the stream open.
    SDL_Surface* surface = IMG_LoadSizedSVG_RW(rw, width, height);
    SDL_RWclose(rw);
    if (surface == nullptr) {
        throw ResourceException(std::string("SVG: cannot rasterise: ") + IMG_GetError(),
                                ResourceException::DecodeFailed);
    }
    // SDL_image keeps the document's aspect ratio, so the raster can be
    // narrower or lower than asked; the texture is always the size asked for,
    // with the picture centred in it.
    if (surface->w != width || surface->h != height) {
        SDL_Surface* framed = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_RGBA32);
        if (framed == nullptr) {
            SDL_FreeSurface(surface);
            throw ResourceException(std::string("SVG: ") + SDL_GetError(), ResourceException::TooLarge);
        }
        SDL_FillRect(framed, nullptr, 0);  // transparent
        SDL_SetSurfaceBlendMode(surface, SDL_BLENDMODE_NONE);
        SDL_Rect where{(width - surface->w) / 2, (height - surface->h) / 2, surface->w, surface->h};
        SDL_BlitSurface(surface, nullptr, framed, &where);
        SDL_FreeSurface(surface);
        surface = framed;
    }
    try {
        Texture texture(surface);
        SDL_FreeSurface(surface);
        return texture;
    } catch (...) {
        SDL_FreeSurface(surface);
        throw;
    }
}

// ---- Font ------------------------------------------------------------------

Font::Impl::~Impl() {
    for (auto& [size, face] : faces) {
        TTF_CloseFont(face);
    }
    TTF_Quit();  // balances the TTF_Init of the constructor
}

TTF_Font* Font::Impl::at(float pixelSize) {
    const int points = std::max(1, static_cast<int>(std::lround(pixelSize)));
    if (auto it = faces.find(points); it != faces.end()) return it->second;
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    if (rw == nullptr) return nullptr;
    TTF_Font* face = TTF_OpenFontIndexRW(rw, 1, points, faceIndex);
    if (face == nullptr) return nullptr;
    faces.emplace(points, face);
    return face;
}

Font::Font(const void* data, std::size_t size, int faceIndex) {
    checkedSize(data, size, "Font");
    // SDL_ttf counts its initialisations, so every font keeps it alive on its own.
    if (TTF_Init() != 0) {
        throw ResourceException(std::string("Font: cannot start SDL_ttf: ") + TTF_GetError(),
                                ResourceException::DecodeFailed);
    }
    auto impl = std::make_unique<Impl>();
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    impl->bytes.assign(bytes, bytes + size);
    impl->faceIndex = faceIndex;
    if (impl->at(16.0f) == nullptr) {
        throw ResourceException(std::string("Font: cannot read font: ") + TTF_GetError(),
                                ResourceException::DecodeFailed);
    }
    impl_ = std::move(impl);
}

Font::~Font() = default;
Font::Font(Font&&) noexcept = default;
Font& Font::operator=(Font&&) noexcept = default;

const std::uint8_t* Font::data() const { return impl_ ? impl_->bytes.data() : nullptr; }
std::size_t Font::size() const { return impl_ ? impl_->bytes.size() : 0; }
int Font::faceIndex() const { return impl_ ? impl_->faceIndex : 0; }

bool Font::hasGlyph(std::uint32_t codepoint) const {
    if (!impl_) return false;
    TTF_Font* face = impl_->at(16.0f);
    return face != nullptr && TTF_GlyphIsProvided32(face, codepoint) != 0;
}

Vec2 Font::measure(const std::string& text, float pixelSize) const {
    if (!impl_) return {};
    TTF_Font* face = impl_->at(pixelSize);
    if (face == nullptr) return {};
    int w = 0;
    int h = TTF_FontHeight(face);
    if (!text.empty() && TTF_SizeUTF8(face, text.c_str(), &w, &h) != 0) return {};
    return {static_cast<float>(w), static_cast<float>(h)};
}

}  // namespace vemo::ui
