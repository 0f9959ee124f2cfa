// The per-window 2D renderer. Widgets draw by submitting primitives to it
// during Widget::draw; it keeps a stack of clip rectangles so containers can
// restrict what their children draw.
#pragma once

#include <vector>

#include "vemo/ui/Math.h"

struct SDL_Renderer;
struct ImDrawData;

namespace vemo::ui {

class Texture;

namespace draw {

// A filled, optionally textured and rotated rectangle.
//   position: top-left corner in window coordinates (pixels).
//   size:     width and height.
//   color:    RGBA in 0..1. Without a texture the rectangle is filled with
//             it; with a texture it multiplies the texture's pixels
//             ((1, 1, 1, 1) draws the texture as it is).
//   angle:    clockwise rotation in degrees about position + origin.
//   origin:   the pivot of the rotation, relative to position.
//   texture:  stretched over the whole rectangle; may be null.
struct Rectangle {
    Vec2 position;
    Vec2 size;
    Vec4 color{1.0f, 1.0f, 1.0f, 1.0f};
    float angle = 0.0f;
    Vec2 origin;
    const Texture* texture = nullptr;
};

}  // namespace draw

// An axis-aligned rectangle in window pixels, used for clipping.
struct ClipRect {
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;

    ClipRect intersect(const ClipRect& other) const;
    bool contains(Vec2 p) const;
    bool empty() const { return width <= 0.0f || height <= 0.0f; }
};

class Renderer {
public:
    explicit Renderer(SDL_Renderer* renderer);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Draws the primitive now (clipped by the current clip rectangle).
    void submit(const draw::Rectangle& rectangle);

    // Restricts drawing to rect intersected with the current clip rectangle,
    // until the matching popClip.
    void pushClip(const ClipRect& rect);
    void popClip();
    // The current clip rectangle (the whole output when none is pushed).
    ClipRect currentClip() const;

    // Draws Dear ImGui draw data whose coordinates start at (0, 0), shifted by
    // offset and clipped to the current clip rectangle. Texture ids in the
    // data are those of Texture::getImGuiTextureId. Leaves the data unchanged.
    // The current ImGui context must have ImGui's SDL renderer backend set up
    // for this renderer (ImGuiPanel does that for its context).
    void drawImGui(const ImDrawData* data, Vec2 offset);

    Vec2 outputSize() const;
    SDL_Renderer* sdlRenderer() const { return renderer_; }

private:
    void applyClip();

    SDL_Renderer* renderer_;
    std::vector<ClipRect> clips_;
};

}  // namespace vemo::ui
