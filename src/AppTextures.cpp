#include "AppTextures.h"

#include <exception>
#include <utility>

#include "vemo/core/AssetPackage.h"
#include "vemo/core/Logger.h"
#include "vemo/ui/Exceptions.h"

namespace vemo {

AppTextures& AppTextures::instance() {
    static AppTextures textures(AssetPackage::instance());
    return textures;
}

const ui::Texture* AppTextures::getSvg(const std::string& name, int width, int height) {
    return instance().svg(name, width, height);
}

const ui::Texture* AppTextures::getTexture(const std::string& name) { return instance().texture(name); }

AppTextures::AppTextures(const AssetPackage& package) : package_(package) {}

const ui::Texture* AppTextures::svg(const std::string& name, int width, int height) {
    SvgKey key{name, width, height};
    if (const auto it = svgs_.find(key); it != svgs_.end()) {
        return &it->second;
    }
    return loadSvg(key);
}

const ui::Texture* AppTextures::texture(const std::string& name) {
    if (const auto it = textures_.find(name); it != textures_.end()) {
        return &it->second;
    }
    return loadTexture(name);
}

const ui::Texture* AppTextures::loadSvg(const SvgKey& key) {
    const auto asset = package_.find(key.name);
    if (!asset) {
        return nullptr;
    }
    try {
        const ui::SVG document(asset->data.data(), asset->data.size());
        // An entry made in the meantime stays: callers may already point at it.
        const auto it = svgs_.try_emplace(key, document.createTexture(key.width, key.height)).first;
        Logger::log(LogLevel::Trace, "Loaded SVG asset '{}' ({}x{})", key.name, key.width, key.height);
        return &it->second;
    } catch (const ui::ResourceException& e) {
        Logger::log(LogLevel::Error, "Failed to load svg asset '{}': RenderException code {}", key.name, e.code());
    } catch (const std::exception& e) {
        Logger::log(LogLevel::Error, "Failed to load svg asset '{}': {}", key.name, e.what());
    }
    return nullptr;
}

const ui::Texture* AppTextures::loadTexture(const std::string& name) {
    const auto asset = package_.find(name);
    if (!asset) {
        return nullptr;
    }
    try {
        ui::Texture decoded(asset->data.data(), asset->data.size());
        const auto it = textures_.try_emplace(name, std::move(decoded)).first;
        Logger::log(LogLevel::Trace, "Loaded texture asset '{}'", name);
        return &it->second;
    } catch (const ui::ResourceException& e) {
        Logger::log(LogLevel::Error, "Failed to load texture asset '{}': RenderException code {}", name, e.code());
    } catch (const std::exception& e) {
        Logger::log(LogLevel::Error, "Failed to load texture asset '{}': {}", name, e.what());
    }
    return nullptr;
}

}  // namespace vemo
