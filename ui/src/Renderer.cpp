// Drawing primitives on an SDL renderer, with a clip stack, and the
// rendering of Dear ImGui draw data at an offset inside a clip rectangle.

#include "vemo/ui/Renderer.h"

#include <imgui.h>
#include <imgui_impl_sdlrenderer.h>

#include <algorithm>
#include <cmath>

#include "Internal.h"

namespace vemo::ui {

ClipRect ClipRect::intersect(const ClipRect& other) const {
    const float left = std::max(x, other.x);
    const float top = std::max(y, other.y);
    const float right = std::min(x + width, other.x + other.width);
    const float bottom = std::min(y + height, other.y + other.height);
    return {left, top, std::max(0.0f, right - left), std::max(0.0f, bottom - top)};
}

bool ClipRect::contains(Vec2 p) const { return p.x >= x && p.y >= y && p.x < x + width && p.y < y + height; }

namespace {

SDL_Rect toSdl(const ClipRect& r) {
    const int left = static_cast<int>(std::lround(r.x));
    const int top = static_cast<int>(std::lround(r.y));
    const int right = static_cast<int>(std::lround(r.x + r.width));
    const int bottom = static_cast<int>(std::lround(r.y + r.height));
    return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

SDL_Color toSdl(Vec4 color) {
    const Color c = Color::fromVec4(color);
    return {c.r(), c.g(), c.b(), c.a()};
}

}  // namespace

Renderer::Renderer(SDL_Renderer* renderer) : renderer_(renderer) {
    SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_BLEND);
}

Renderer::~Renderer() {
    forgetRenderer(renderer_);
    SDL_DestroyRenderer(renderer_);
}

Vec2 Renderer::outputSize() const {
    int w = 0;
    int h = 0;
    SDL_GetRendererOutputSize(renderer_, &w, &h);
    float sx = 1.0f;
    float sy = 1.0f;
    SDL_RenderGetScale(renderer_, &sx, &sy);
    return {static_cast<float>(w) / sx, static_cast<float>(h) / sy};
}

ClipRect Renderer::currentClip() const {
    if (!clips_.empty()) return clips_.back();
    const Vec2 size = outputSize();
    return {0.0f, 0.0f, size.x, size.y};
}

void Renderer::pushClip(const ClipRect& rect) {
    clips_.push_back(currentClip().intersect(rect));
    applyClip();
}

void Renderer::popClip() {
    if (!clips_.empty()) clips_.pop_back();
    applyClip();
}

void Renderer::applyClip() {
    if (clips_.empty()) {
        SDL_RenderSetClipRect(renderer_, nullptr);
        return;
    }
    const SDL_Rect r = toSdl(clips_.back());
    SDL_RenderSetClipRect(renderer_, &r);
}

void Renderer::submit(const draw::Rectangle& rect) {
    if (rect.size.x <= 0.0f || rect.size.y <= 0.0f || currentClip().empty()) return;
    const SDL_Color color = toSdl(rect.color);
    if (color.a == 0) return;
    const SDL_FRect dst{rect.position.x, rect.position.y, rect.size.x, rect.size.y};

    if (rect.texture != nullptr && rect.texture->impl() != nullptr) {
        SDL_Texture* texture = rect.texture->impl()->forRenderer(renderer_);
        if (texture == nullptr) return;
        SDL_SetTextureColorMod(texture, color.r, color.g, color.b);
        SDL_SetTextureAlphaMod(texture, color.a);
        if (rect.angle == 0.0f) {
            SDL_RenderCopyF(renderer_, texture, nullptr, &dst);
        } else {
            const SDL_FPoint center{rect.origin.x, rect.origin.y};
            SDL_RenderCopyExF(renderer_, texture, nullptr, &dst, rect.angle, &center, SDL_FLIP_NONE);
        }
        return;
    }

    if (rect.angle == 0.0f) {
        SDL_SetRenderDrawColor(renderer_, color.r, color.g, color.b, color.a);
        SDL_RenderFillRectF(renderer_, &dst);
        return;
    }
    // Rotated fill: two triangles around the pivot.
    const float radians = rect.angle * static_cast<float>(M_PI) / 180.0f;
    const float c = std::cos(radians);
    const float s = std::sin(radians);
    const Vec2 pivot = rect.position + rect.origin;
    const Vec2 corners[4] = {rect.position,
                             {rect.position.x + rect.size.x, rect.position.y},
                             rect.position + rect.size,
                             {rect.position.x, rect.position.y + rect.size.y}};
    SDL_Vertex vertices[4];
    for (int i = 0; i < 4; ++i) {
        const Vec2 d = corners[i] - pivot;
        vertices[i].position = {pivot.x + d.x * c - d.y * s, pivot.y + d.x * s + d.y * c};
        vertices[i].color = color;
        vertices[i].tex_coord = {0.0f, 0.0f};
    }
    const int indices[6] = {0, 1, 2, 0, 2, 3};
    SDL_RenderGeometry(renderer_, nullptr, vertices, 4, indices, 6);
}

void Renderer::drawImGui(const ImDrawData* data, Vec2 offset) {
    if (data == nullptr || !data->Valid || data->CmdListsCount == 0) return;
    const ClipRect outer = currentClip();
    if (outer.empty()) return;

    // ImGui's SDL renderer backend draws at the origin and clips to the whole
    // output only. It gets a copy of the lists moved to the panel's place,
    // with clip rectangles cut to the current clip (a scrolled container)
    // and texture ids resolved to this renderer's textures. The panel's own
    // draw data stays as ImGui made it, so the same frame can be drawn again.
    std::vector<ImDrawList*> lists;
    lists.reserve(static_cast<std::size_t>(data->CmdListsCount));
    for (int n = 0; n < data->CmdListsCount; ++n) {
        ImDrawList* list = data->CmdLists[n]->CloneOutput();
        for (ImDrawVert& vertex : list->VtxBuffer) {
            vertex.pos.x += offset.x;
            vertex.pos.y += offset.y;
        }
        for (ImDrawCmd& cmd : list->CmdBuffer) {
            if (cmd.UserCallback != nullptr) continue;
            const ClipRect clip =
                outer.intersect(ClipRect{cmd.ClipRect.x + offset.x, cmd.ClipRect.y + offset.y,
                                         cmd.ClipRect.z - cmd.ClipRect.x, cmd.ClipRect.w - cmd.ClipRect.y});
            // An empty rectangle makes the backend skip the command.
            cmd.ClipRect = ImVec4(clip.x, clip.y, clip.x + clip.width, clip.y + clip.height);
            cmd.TextureId = textureFromImGuiId(cmd.TextureId, renderer_);
        }
        lists.push_back(list);
    }
    ImDrawData placed = *data;
    placed.CmdLists = lists.data();
    placed.DisplayPos = ImVec2(0.0f, 0.0f);
    const Vec2 output = outputSize();
    placed.DisplaySize = ImVec2(output.x, output.y);
    placed.FramebufferScale = ImVec2(1.0f, 1.0f);  // a high-DPI scale is the renderer's own
    ImGui_ImplSDLRenderer_RenderDrawData(&placed);
    for (ImDrawList* list : lists) IM_DELETE(list);
    applyClip();
}

}  // namespace vemo::ui
