// Definitions shared by the toolkit's source files; not part of the public
// interface.
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

#include <map>
#include <utility>
#include <vector>

#include "vemo/ui/Resources.h"

namespace vemo::ui {

// A decoded image: RGBA32 pixels on the CPU and one GPU copy per renderer
// that has drawn it. The GPU copies are dropped when their renderer goes
// (forgetRenderer), so a texture outlives windows and applications.
struct Texture::Impl {
    SDL_Surface* surface = nullptr;  // SDL_PIXELFORMAT_RGBA32, owned
    SDL_ScaleMode scaleMode = SDL_ScaleModeLinear;
    std::vector<std::pair<SDL_Renderer*, SDL_Texture*>> copies;

    Impl();
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // The renderer's copy, made on first use; null if the renderer refuses it.
    SDL_Texture* forRenderer(SDL_Renderer* renderer);
};

// Drops every texture copy that belongs to the renderer; called right before
// the renderer is destroyed.
void forgetRenderer(SDL_Renderer* renderer);

// Resolves an ImTextureID (a Texture::Impl*) for the renderer. Null ids and
// ids of textures that no longer exist give null.
SDL_Texture* textureFromImGuiId(void* id, SDL_Renderer* renderer);

struct Font::Impl {
    std::vector<std::uint8_t> bytes;
    int faceIndex = 0;
    // Opened faces by point size (= pixel size at 72 DPI).
    std::map<int, TTF_Font*> faces;

    ~Impl();
    // The face at the pixel size (rounded, at least 1); null if SDL_ttf fails.
    TTF_Font* at(float pixelSize);
};

}  // namespace vemo::ui
