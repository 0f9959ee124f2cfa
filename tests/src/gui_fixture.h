// Real windows on SDL's offscreen video driver with the software renderer:
// the browser's main window built around a connection service and a pool of
// the test's own, torn down in the program's order (pool first). The
// service keeps its known controllers in a folder of the test's own.
#pragma once

#include "MainWindow.h"
#include "app_test_support.h"
#include "vemo/core/AssetPackage.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/ThreadPool.h"

#include <gtest/gtest.h>
#include <imgui.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "vemo/ui/ui.h"

namespace vemo::test {

// Every widget of type T below `root`, in tree order.
template <typename T>
std::vector<T*> findAll(ui::Widget* root) {
    std::vector<T*> found;
    std::function<void(ui::Widget*)> visit = [&](ui::Widget* w) {
        if (auto* t = dynamic_cast<T*>(w)) found.push_back(t);
        for (ui::Widget* child : w->getChildren()) visit(child);
    };
    visit(root);
    return found;
}

// The text element below `root` whose text starts with `prefix`, or null.
inline ui::TextElement* findText(ui::Widget* root, const std::string& prefix) {
    for (ui::TextElement* t : findAll<ui::TextElement>(root)) {
        if (t->getText().rfind(prefix, 0) == 0) return t;
    }
    return nullptr;
}

// Points in the top bar's connection panel (panel coordinates): its fields
// sit at fixed x offsets, one frame high.
constexpr ui::Vec2 kIpField{28 + 80, 11};
constexpr ui::Vec2 kPortText{264 + 30, 11};
// The port field is 104 wide: its text, then "-" and "+" of one frame height
// (16.8 + 2 * 3) each, 4 apart.
constexpr ui::Vec2 kPortMinus{264 + 104 - 22.8f - 4 - 11.4f, 11};
// The "Allow writing" checkbox on the panel's second row.
constexpr ui::Vec2 kAllowWriting{11, 38};

inline ui::Vec2 centerOf(const ui::Widget* w) { return w->getWorldPosition() + w->getActualSize() * 0.5f; }

// Reads a value of a panel's ImGui context, or does something in it, outside
// its frame.
template <typename F>
auto inContext(ui::ImGuiPanel* panel, F&& f) {
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(panel->getImGuiContext());
    auto result = f();
    ImGui::SetCurrentContext(previous);
    return result;
}

class GuiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Never open a real window from a test.
        ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
        // The theme and the textures read the process-wide package, which
        // loads once per process.
        static const bool loaded = [] {
            AssetPackage::instance().load(VEMO_ASSET_PACKAGE);
            return true;
        }();
        (void)loaded;
    }

    void SetUp() override {
        auto context = ui::RenderContext::create(ui::RenderBackend::Software, "vemo-gui-test");
        context.selectDevice(0);
        context.initialize();
        app_ = std::make_unique<ui::Application>(std::move(context), "vemo-gui-test");
        pool_.init(1);
        mainWindow_ = std::make_unique<MainWindow>(service_, pool_, settingsFile());
    }

    void TearDown() override {
        // As the program does: no task may outlive what it touches.
        pool_.shutdown();
        mainWindow_.reset();
        app_.reset();
    }

    // Where the window keeps its settings; none (in memory only) by default.
    virtual std::filesystem::path settingsFile() const { return {}; }

    ui::Window* window() const { return mainWindow_->window(); }
    void frames(int n) { app_->runFrames(n); }

    // Lets the application's own loop run - it sleeps while nothing happens -
    // until `done` holds; false after `limit`.
    bool runLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            app_->runFor(std::chrono::milliseconds(20));
        }
        return true;
    }
    // Frames the main window has drawn.
    std::uint64_t framesDrawn() const { return window()->getContext().frameNumber; }
    // Lets the loop run until a tenth of a second passes without a frame;
    // false if it never comes to rest.
    bool settleLoop() {
        for (int slice = 0; slice < 100; ++slice) {
            const std::uint64_t before = framesDrawn();
            app_->runFor(std::chrono::milliseconds(100));
            if (framesDrawn() == before) return true;
        }
        return false;
    }

    // Runs frames until `done` holds; false after `limit`.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            frames(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    std::filesystem::path storePath() const { return storeDir_.path() / "known-controllers.json"; }

    TempDir storeDir_;
    PlcConnection service_{std::chrono::steady_clock::now, [this] { return storePath(); }};
    ThreadPool pool_;
    std::unique_ptr<ui::Application> app_;
    std::unique_ptr<MainWindow> mainWindow_;
};

}  // namespace vemo::test
