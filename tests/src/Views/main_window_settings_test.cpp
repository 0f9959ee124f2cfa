// What the main window remembers and how it lays itself out: the settings
// file read at start and written when the window goes, a damaged one
// reported and left alone; the divider dragged within its bounds; the top
// bar at the smallest window and at a larger UI scale with nothing
// overlapping; the scale keys; and watch lists saved, opened before a
// controller is there and filled in from its tree, with the recent
// controllers offered beside the address. The simulator plays the
// controller over loopback.
#include "MainWindow.h"

#include "Theme.h"
#include "Views/DefaultButton.h"
#include "Views/DividerView.h"
#include "Views/InspectorView.h"
#include "Views/MessageBarView.h"
#include "Views/TopBarView.h"
#include "Views/TreeView.h"
#include "Views/WatchListBar.h"
#include "WatchListSession.h"
#include "app_test_support.h"
#include "gui_fixture.h"
#include "vemo/core/Settings.h"
#include "vemo/core/TagInspector.h"
#include "vemo/core/WatchListFile.h"

#include "Program.h"
#include "Server.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace ui = vemo::ui;
using vemo::ControllerAddress;
using vemo::DisplayFormat;
using vemo::MainWindow;
using vemo::Settings;
using vemo::Theme;
using vemo::WatchList;
using vemo::test::TempDir;

struct Rect {
    float x0, y0, x1, y1;
    bool overlaps(const Rect& o) const { return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1; }
    // Sizes times a scale are off by a float's rounding.
    bool inside(const Rect& o) const {
        constexpr float e = 0.01f;
        return x0 >= o.x0 - e && y0 >= o.y0 - e && x1 <= o.x1 + e && y1 <= o.y1 + e;
    }
};

Rect rectOf(const ui::Widget* w) {
    const ui::Vec2 p = w->getWorldPosition();
    const ui::Vec2 s = w->getActualSize();
    return {p.x, p.y, p.x + s.x, p.y + s.y};
}

std::ostream& operator<<(std::ostream& os, const Rect& r) {
    return os << "(" << r.x0 << "," << r.y0 << ")-(" << r.x1 << "," << r.y1 << ")";
}

class MainWindowSettings : public vemo::test::GuiTest {
protected:
    fs::path settingsFile() const override { return dir_.path() / "config" / "settings.json"; }

    // The window closed (its settings saved) and opened again on the same
    // file, as the next start of the program does; `meanwhile` runs between.
    void restart(const std::function<void()>& meanwhile = [] {}) {
        mainWindow_.reset();
        meanwhile();
        mainWindow_ = std::make_unique<MainWindow>(service_, pool_, settingsFile());
        frames(2);
    }

    ui::ImGuiPanel* barPanel() const { return vemo::test::findAll<ui::ImGuiPanel>(mainWindow_->topBar()).at(0); }
    vemo::TagInspector& inspector() const { return *mainWindow_->treeView()->inspector(); }
    std::vector<std::string> rowNames() const {
        std::vector<std::string> out;
        for (const auto& row : inspector().rows()) out.push_back(row.name);
        return out;
    }
    // Left button down on `from`, moved to `to`, released there.
    void drag(ui::Vec2 from, ui::Vec2 to) {
        window()->injectMouseMove(from.x, from.y);
        window()->injectMouseButton(from.x, from.y, ui::MouseButton::Left, true);
        frames(1);
        window()->injectMouseMove((from.x + to.x) / 2, to.y);
        window()->injectMouseMove(to.x, to.y);
        frames(1);
        window()->injectMouseButton(to.x, to.y, ui::MouseButton::Left, false);
        frames(2);
    }
    float treeWidth() const { return mainWindow_->treeView()->getActualSize().x; }
    ui::Color frameColor(ui::Vec2 at) const {
        return window()->captureFrame().pixel(static_cast<int>(at.x), static_cast<int>(at.y));
    }
    // The size the panel's font atlas was last built at.
    static float inContextFontSize(ui::ImGuiPanel* panel) {
        ImGuiContext* previous = ImGui::GetCurrentContext();
        ImGui::SetCurrentContext(panel->getImGuiContext());
        const float size = ImGui::GetIO().Fonts->Fonts.empty() ? 0.0f : ImGui::GetIO().Fonts->Fonts[0]->FontSize;
        ImGui::SetCurrentContext(previous);
        return size;
    }

    TempDir dir_;
};

TEST_F(MainWindowSettings, WhatTheOperatorLeftComesBackAtTheNextStart) {
    frames(2);
    EXPECT_EQ(window()->getWidth(), 1200) << "no settings yet: the program's own size";
    EXPECT_FALSE(mainWindow_->messageBar()->isVisible()) << "a missing file is no trouble";
    mainWindow_->topBar()->setAddress({"192.168.7.40", 4102});
    window()->setSize(1000, 700);
    // Name to the remove button; Type and Format are fixed, the others share
    // what is left in their proportions.
    mainWindow_->inspectorView()->setColumnWidths({300.0f, 120.0f, 110.0f, 200.0f, 150.0f, 24.0f});
    frames(2);
    const std::vector<float> widths = mainWindow_->inspectorView()->columnWidths();
    ASSERT_EQ(widths.size(), 6u);
    EXPECT_FLOAT_EQ(widths[1], 120.0f);
    EXPECT_FLOAT_EQ(widths[2], 110.0f);
    const vemo::DividerView* divider = mainWindow_->divider();
    drag(vemo::test::centerOf(divider), vemo::test::centerOf(divider) + ui::Vec2{-100.0f, 0.0f});
    const float dragged = treeWidth();

    restart();
    const Settings saved = Settings::read(settingsFile());
    EXPECT_EQ(saved.address, (ControllerAddress{"192.168.7.40", 4102}));
    EXPECT_EQ(saved.windowWidth, 1000);
    // The divider moved since: the stretching columns share another width,
    // in the same proportion.
    const std::vector<float>& kept = saved.inspectorColumnWidths;
    ASSERT_EQ(kept.size(), 6u);
    EXPECT_NEAR(kept[1], 120.0f, 0.5f);
    EXPECT_NEAR(kept[2], 110.0f, 0.5f);
    EXPECT_NEAR(kept[0] / kept[3], widths[0] / widths[3], 0.03f);
    EXPECT_EQ(mainWindow_->topBar()->address(), (ControllerAddress{"192.168.7.40", 4102}));
    EXPECT_EQ(window()->getWidth(), 1000);
    EXPECT_EQ(window()->getHeight(), 700);
    EXPECT_FLOAT_EQ(treeWidth(), dragged);
    frames(2);
    const std::vector<float> again = mainWindow_->inspectorView()->columnWidths();
    ASSERT_EQ(again.size(), 6u);
    EXPECT_NEAR(again[1], 120.0f, 0.5f);
    EXPECT_NEAR(again[2], 110.0f, 0.5f);
    EXPECT_NEAR(again[0] / again[3], widths[0] / widths[3], 0.03f) << "the stretching columns keep their proportion";
}

TEST_F(MainWindowSettings, ADamagedFileIsNamedInTheMessageBarAndLeftAsItIs) {
    const std::string damaged = R"({"version": 1, "host": 42})";
    restart([&] { vemo::test::writeText(settingsFile(), damaged); });
    const vemo::MessageBarView* bar = mainWindow_->messageBar();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->headline(), "Settings not read: " + settingsFile().string());
    EXPECT_NE(bar->advice().find("\"host\" is not a text"), std::string::npos) << bar->advice();
    EXPECT_EQ(mainWindow_->topBar()->address().host, "") << "the defaults";

    // A click on the strip closes the notice.
    window()->injectClick(vemo::test::centerOf(bar).x, vemo::test::centerOf(bar).y);
    frames(2);
    EXPECT_FALSE(bar->isVisible());

    mainWindow_->topBar()->setAddress({"10.0.0.1", 102});
    restart();
    EXPECT_EQ(vemo::test::readText(settingsFile()), damaged) << "never written over";
}

// The divider follows the mouse and stops where either side would get
// narrower than its minimum; a window too narrow for both shares the row in
// their ratio.
TEST_F(MainWindowSettings, TheDividerDragsWithinBoundsThatKeepBothSidesInSight) {
    frames(2);
    const vemo::DividerView* divider = mainWindow_->divider();
    const auto& row = divider->getParent()->getChildren();
    ASSERT_EQ(row.size(), 3u);
    EXPECT_EQ(row[0], mainWindow_->treeView());
    EXPECT_EQ(row[2]->getChildren().at(0), mainWindow_->watchListBar());
    EXPECT_EQ(row[2]->getChildren().at(1), mainWindow_->inspectorView());
    EXPECT_EQ(treeWidth(), 420.0f) << "before any drag";
    EXPECT_EQ(divider->getActualSize().x, 6.0f);
    EXPECT_EQ(frameColor(vemo::test::centerOf(divider)), Theme::instance().panelColor());

    const struct {
        float to;  // where the divider's centre is dragged to
        float tree;
    } drags[] = {
        {303.0f, 300.0f},
        {20.0f, MainWindow::kTreeMinWidth},
        {1190.0f, 1200.0f - 6.0f - MainWindow::kInspectorMinWidth},
        {703.0f, 700.0f},
    };
    for (const auto& d : drags) {
        SCOPED_TRACE(d.to);
        const ui::Vec2 from = vemo::test::centerOf(divider);
        drag(from, {d.to, from.y + 50.0f});
        EXPECT_FLOAT_EQ(treeWidth(), d.tree);
        EXPECT_FLOAT_EQ(divider->getWorldPosition().x, d.tree);
        EXPECT_FLOAT_EQ(row[2]->getWorldPosition().x, d.tree + 6.0f);
        EXPECT_FLOAT_EQ(row[2]->getActualSize().x, 1200.0f - d.tree - 6.0f);
    }

    // A narrower window keeps the inspector's minimum; a wider one gives the
    // tree back its 700.
    window()->setSize(800, 600);
    frames(2);
    EXPECT_FLOAT_EQ(treeWidth(), 800.0f - 6.0f - MainWindow::kInspectorMinWidth);
    window()->setSize(1400, 600);
    frames(2);
    EXPECT_FLOAT_EQ(treeWidth(), 700.0f);
    const float room = 300.0f - 6.0f;
    EXPECT_FLOAT_EQ(mainWindow_->boundedTreeWidth(700.0f, 300.0f),
                    room * MainWindow::kTreeMinWidth / (MainWindow::kTreeMinWidth + MainWindow::kInspectorMinWidth));
}

// At the smallest window of every UI scale the screen holds, and in a wider
// one, every part of the top bar lies inside the bar, none overlaps
// another, every text fits its column, and nothing the address panel draws
// is cut off at its edge. The maker's column shows only where there is room.
TEST_F(MainWindowSettings, TheTopBarFitsWithoutOverlapsAtTheSmallestWindowOfEveryScale) {
    const Theme& theme = Theme::instance();
    int checked = 0;
    for (const float scale : vemo::kUiScales) {
        if (scale > mainWindow_->maxUiScale()) break;
        const int smallest = static_cast<int>(std::ceil(MainWindow::kMinWidth * scale));
        for (const int width : {smallest, smallest * 3 / 2}) {
            SCOPED_TRACE(testing::Message() << scale << " " << width);
            ++checked;
            mainWindow_->setUiScale(scale);
            ASSERT_FLOAT_EQ(mainWindow_->uiScale(), scale);
            window()->setSize(width, 100);
            frames(3);
            EXPECT_EQ(window()->getWidth(), width);
            EXPECT_EQ(window()->getHeight(), static_cast<int>(std::ceil(MainWindow::kMinHeight * scale)));

            vemo::TopBarView* top = mainWindow_->topBar();
            const Rect bar = rectOf(top);
            EXPECT_FLOAT_EQ(bar.y1, 50.0f * scale);
            EXPECT_FLOAT_EQ(bar.x1, static_cast<float>(width));
            auto* panel = barPanel();
            auto* button = vemo::test::findAll<vemo::DefaultButton>(top).at(0);
            const ui::TextElement* status = vemo::test::findText(top, "PLC-Status:");
            const ui::TextElement* maker = vemo::test::findText(top, "VEMO Software");
            ui::Widget* logo = panel->getParent()->getChildren().at(0);
            std::vector<const ui::Widget*> parts = {logo, panel, button, status->getParent()};
            EXPECT_EQ(maker->getParent()->isVisible(), width > smallest);
            if (maker->getParent()->isVisible()) parts.push_back(maker->getParent());
            for (std::size_t i = 0; i < parts.size(); ++i) {
                EXPECT_TRUE(rectOf(parts[i]).inside(bar)) << i << " " << rectOf(parts[i]);
                for (std::size_t j = i + 1; j < parts.size(); ++j) {
                    EXPECT_FALSE(rectOf(parts[i]).overlaps(rectOf(parts[j])))
                        << i << " " << rectOf(parts[i]) << " and " << j << " " << rectOf(parts[j]);
                }
            }
            // The longest status the column shows, and the lines shown now.
            const ui::Widget* column = status->getParent();
            const float size = theme.fontSize() * scale;
            EXPECT_EQ(status->getFontSize(), size);
            EXPECT_LE(theme.defaultFont().measure("PLC-Status: CONNECTION LOST", size).x + 16.0f * scale,
                      column->getActualSize().x);
            for (const ui::TextElement* line : vemo::test::findAll<ui::TextElement>(top)) {
                if (!line->getParent()->isVisible() || line->getText().empty()) continue;
                EXPECT_TRUE(rectOf(line).inside(rectOf(line->getParent()))) << line->getText() << " " << rectOf(line);
            }
            // Everything the panel drew lies in the panel.
            const ImDrawData* drawn = panel->lastDrawData();
            ASSERT_NE(drawn, nullptr);
            for (int l = 0; l < drawn->CmdListsCount; ++l) {
                for (const ImDrawVert& v : drawn->CmdLists[l]->VtxBuffer) {
                    // A border's anti-aliased fringe reaches a pixel beyond its line.
                    ASSERT_LE(v.pos.x, panel->getActualSize().x + 1.0f);
                    ASSERT_LE(v.pos.y, panel->getActualSize().y + 1.0f);
                }
            }
            if (scale == 1.0f && width == smallest) {
                window()->saveScreenshot((fs::path(VEMO_TEST_OUTPUT_DIR) / "main_window_800x500.png").string());
            }
        }
    }
    EXPECT_GE(checked, 6) << "0.8 to 1.25 at least: the offscreen screen is 1024 x 768";
}

TEST_F(MainWindowSettings, TheScaleKeysStepTheScaleAndItIsKept) {
    frames(2);
    ASSERT_EQ(mainWindow_->uiScale(), 1.0f) << "the offscreen display says no resolution";
    const auto press = [&](SDL_Scancode key) {
        window()->injectKeyPress(key, KMOD_LCTRL);
        frames(2);
    };
    press(SDL_SCANCODE_EQUALS);
    EXPECT_FLOAT_EQ(mainWindow_->uiScale(), 1.1f);
    EXPECT_FLOAT_EQ(mainWindow_->topBar()->getActualSize().y, 55.0f);
    EXPECT_FLOAT_EQ(mainWindow_->treeView()->rowHeight(), vemo::TreeView::kRowHeight * 1.1f);
    EXPECT_FLOAT_EQ(vemo::test::findText(mainWindow_->topBar(), "PLC-Status:")->getFontSize(),
                    Theme::instance().fontSize() * 1.1f);
    EXPECT_FLOAT_EQ(inContextFontSize(barPanel()), Theme::instance().fontSize() * 1.2f * 1.1f)
        << "the ImGui fonts are rasterised anew";
    press(SDL_SCANCODE_MINUS);
    press(SDL_SCANCODE_KP_MINUS);
    EXPECT_FLOAT_EQ(mainWindow_->uiScale(), 0.9f);
    press(SDL_SCANCODE_0);
    EXPECT_FLOAT_EQ(mainWindow_->uiScale(), 1.0f);
    for (int i = 0; i < 12; ++i) window()->injectKeyPress(SDL_SCANCODE_EQUALS, KMOD_RCTRL);
    frames(2);
    EXPECT_FLOAT_EQ(mainWindow_->uiScale(), mainWindow_->maxUiScale()) << "no further than the screen holds";
    window()->injectKeyPress(SDL_SCANCODE_EQUALS);
    frames(2);
    EXPECT_FLOAT_EQ(mainWindow_->uiScale(), mainWindow_->maxUiScale()) << "'=' alone is no shortcut";

    press(SDL_SCANCODE_KP_MINUS);
    const float kept = mainWindow_->uiScale();
    restart();
    EXPECT_FLOAT_EQ(Settings::read(settingsFile()).uiScale.value_or(0.0f), kept);
    EXPECT_FLOAT_EQ(mainWindow_->uiScale(), kept);
    EXPECT_FLOAT_EQ(mainWindow_->topBar()->getActualSize().y, 50.0f * kept);
}

// With the built-in machine program served on a free loopback port.
class MainWindowWatchLists : public MainWindowSettings {
protected:
    void SetUp() override {
        MainWindowSettings::SetUp();
        vemo::sim::ServerOptions options;
        options.port = 0;
        sim_ = std::make_unique<vemo::sim::Server>(vemo::sim::Program::builtIn(), options);
        frames(2);
    }
    void TearDown() override {
        sim_->stop();
        MainWindowSettings::TearDown();
    }
    void connect() {
        mainWindow_->topBar()->setAddress({"127.0.0.1", sim_->port()});
        frames(2);  // the button unlocks for an address
        const auto* button = vemo::test::findAll<vemo::DefaultButton>(mainWindow_->topBar()).at(0);
        window()->injectClick(vemo::test::centerOf(button).x, vemo::test::centerOf(button).y);
        ASSERT_TRUE(runUntil([&] {
            const vemo::TreeView* tree = mainWindow_->treeView();
            return !tree->isLoading() && tree->model() != nullptr && !tree->model()->roots().empty();
        }));
        frames(2);
    }
    void typeInDialog(const std::string& text) {
        window()->injectText(text);
        frames(2);
        window()->injectKeyPress(SDL_SCANCODE_RETURN);
        frames(3);
    }

    std::unique_ptr<vemo::sim::Server> sim_;
};

// A list opened before any controller waits for one; its rows are found by
// name in the tree, in their formats, and the ones the program lacks are
// named. It comes back at the next start.
TEST_F(MainWindowWatchLists, AnOpenedListFillsTheInspectorFromTheNextTree) {
    const fs::path file = dir_.path() / "lists" / "line 3.json";
    WatchList list;
    list.rows = {{"Conveyor.BottleCount", "DINT", DisplayFormat::Hex},
                 {"Conveyor.Gone", "INT", DisplayFormat::Dec},
                 {"Conveyor.Running", "BOOL", DisplayFormat::Dec}};
    list.write(file);
    EXPECT_EQ(mainWindow_->openWatchList(file.string()), "");
    frames(2);
    EXPECT_TRUE(mainWindow_->watchLists().waiting());
    EXPECT_TRUE(inspector().rows().empty());
    EXPECT_EQ(mainWindow_->watchListBar()->listName(), "line 3.json - waiting for a controller");

    connect();
    EXPECT_EQ(rowNames(), (std::vector<std::string>{"Conveyor.BottleCount", "Conveyor.Running"}));
    EXPECT_EQ(inspector().rows().at(0).format, DisplayFormat::Hex);
    EXPECT_EQ(mainWindow_->watchListBar()->listName(), "line 3.json");
    const vemo::MessageBarView* bar = mainWindow_->messageBar();
    EXPECT_EQ(bar->headline(), "Watch list line 3.json: 1 of 3 variables are not in this controller's program");
    EXPECT_NE(bar->advice().find("Left out: Conveyor.Gone."), std::string::npos) << bar->advice();
    // The controller connected to is offered beside the address.
    EXPECT_EQ(mainWindow_->settings().recent.front(), (ControllerAddress{"127.0.0.1", sim_->port()}));

    // Opened again, and filled in from the tree the new window loads from
    // the connection still standing.
    restart();
    EXPECT_EQ(Settings::read(settingsFile()).watchList, file);
    EXPECT_EQ(mainWindow_->watchLists().path(), file);
    EXPECT_TRUE(runUntil([&] { return rowNames().size() == 2; }));
}

// Ctrl+S asks for the path, starting from the current list with its name
// selected: typing renames it, Enter saves it there. The rows go with their
// formats. Ctrl+O on a bad file says what is wrong in the dialog, which
// stays open, and leaves the inspector alone.
TEST_F(MainWindowWatchLists, TheDialogsSaveAndOpenAndSayWhatIsWrong) {
    connect();
    const vemo::TreeModel& model = *mainWindow_->treeView()->model();
    for (const char* name : {"Conveyor.BeltSpeed", "Conveyor.BottleCount"}) {
        inspector().add(model.findSymbol(name));
    }
    ASSERT_TRUE(inspector().setFormat("Conveyor.BottleCount", DisplayFormat::Bin));
    const fs::path first = dir_.path() / "first.json";
    ASSERT_EQ(mainWindow_->saveWatchList(first.string()), "");
    vemo::WatchListBar* bar = mainWindow_->watchListBar();

    window()->injectKeyPress(SDL_SCANCODE_S, KMOD_LCTRL);
    frames(3);
    ASSERT_TRUE(bar->dialogShown());
    EXPECT_EQ(bar->dialogPath(), first.string());
    typeInDialog("second");
    EXPECT_FALSE(bar->dialogShown()) << bar->dialogPath() << ": " << bar->dialogError();
    const fs::path second = dir_.path() / "second.json";
    const WatchList saved = WatchList::read(second);
    ASSERT_EQ(saved.rows.size(), 2u);
    EXPECT_EQ(saved.rows[1], (vemo::WatchRow{"Conveyor.BottleCount", "DINT", DisplayFormat::Bin}));
    EXPECT_EQ(mainWindow_->watchLists().path(), second);

    // Saving over another list asks first; a second Enter replaces it.
    window()->injectKeyPress(SDL_SCANCODE_S, KMOD_LCTRL);
    frames(3);
    typeInDialog("first");
    EXPECT_TRUE(bar->dialogShown());
    EXPECT_EQ(bar->dialogError(), "This file exists already. Save again to replace it.");
    window()->injectKeyPress(SDL_SCANCODE_RETURN);
    frames(3);
    EXPECT_FALSE(bar->dialogShown());

    const struct {
        const char* file;
        std::string text;
        std::string says;
    } bad[] = {
        {"newer.json", R"({"version": 2, "rows": []})", "format version 2 is newer than this program reads (1)"},
        {"broken.json", R"({"version": 1, "rows": [{"name": "A"}]})", "row 1: no \"type\" text"},
        {"absent.json", "", "does not exist"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.file);
        if (!b.text.empty()) vemo::test::writeText(dir_.path() / b.file, b.text);
        window()->injectKeyPress(SDL_SCANCODE_O, KMOD_LCTRL);
        frames(3);
        ASSERT_TRUE(bar->dialogShown());
        typeInDialog(fs::path(b.file).stem().string());
        EXPECT_TRUE(bar->dialogShown());
        EXPECT_NE(bar->dialogError().find(b.says), std::string::npos) << bar->dialogError();
        window()->injectKeyPress(SDL_SCANCODE_ESCAPE);
        frames(3);
        EXPECT_FALSE(bar->dialogShown());
        EXPECT_EQ(rowNames(), (std::vector<std::string>{"Conveyor.BeltSpeed", "Conveyor.BottleCount"}));
    }
}

// The arrow beside the address lists the controllers connected to; a pick
// fills in address and port.
TEST_F(MainWindowWatchLists, TheRecentControllersAreOfferedBesideTheAddress) {
    vemo::TopBarView* top = mainWindow_->topBar();
    const ui::Vec2 arrow = barPanel()->getWorldPosition() + ui::Vec2{201.0f, 11.0f};
    window()->injectClick(arrow.x, arrow.y);
    frames(2);
    EXPECT_FALSE(top->recentControllersShown()) << "nothing to offer yet";

    connect();
    window()->injectClick(arrow.x, arrow.y);
    frames(3);
    EXPECT_FALSE(top->recentControllersShown()) << "the fields are the live connection's while it stands";
    service_.disconnect();
    frames(2);
    top->setAddress({"10.9.9.9", 5});
    window()->injectClick(arrow.x, arrow.y);
    frames(3);
    ASSERT_TRUE(top->recentControllersShown());
    // The list opens under the field, below the bar's lower edge.
    const ui::Vec2 entry = barPanel()->getWorldPosition() + vemo::test::kIpField + ui::Vec2{0.0f, 26.0f};
    window()->injectClick(entry.x, entry.y);
    frames(3);
    EXPECT_FALSE(top->recentControllersShown());
    EXPECT_EQ(top->address(), (ControllerAddress{"127.0.0.1", sim_->port()}));
}

}  // namespace
