// Textures made from the asset package on first request and kept for the
// life of the process: SVG icons rasterised at a requested size, and images
// decoded as they are stored. A texture is never replaced or removed, so
// callers keep plain pointers to it. UI thread only.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <string>

#include "vemo/ui/Resources.h"

namespace vemo {

class AssetPackage;

class AppTextures {
public:
    // One rasterisation of one SVG asset. Ordered by name (byte-wise), then
    // width, then height.
    struct SvgKey {
        std::string name;
        std::int32_t width = 0;
        std::int32_t height = 0;

        auto operator<=>(const SvgKey&) const = default;
    };

    // The process-wide cache over the process-wide asset package.
    static AppTextures& instance();

    // The cached texture of instance(), made on first request. Null when the
    // asset is missing (silently) or cannot be decoded (logged); a failed
    // request is not remembered, so a later one tries again.
    static const ui::Texture* getSvg(const std::string& name, int width, int height);
    static const ui::Texture* getTexture(const std::string& name);

    // A cache over `package`, which must outlive it.
    explicit AppTextures(const AssetPackage& package);
    AppTextures(const AppTextures&) = delete;
    AppTextures& operator=(const AppTextures&) = delete;

    // The same as getSvg / getTexture, on this cache.
    const ui::Texture* svg(const std::string& name, int width, int height);
    const ui::Texture* texture(const std::string& name);

    // Make, cache and return the texture, without looking at the cache first.
    const ui::Texture* loadSvg(const SvgKey& key);
    const ui::Texture* loadTexture(const std::string& name);

private:
    const AssetPackage& package_;
    std::map<std::string, ui::Texture> textures_;
    std::map<SvgKey, ui::Texture> svgs_;
};

}  // namespace vemo
