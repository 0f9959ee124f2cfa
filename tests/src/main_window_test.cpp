// The main window: its size, title and colours, the top bar above the
// content row of tree view, divider and inspector, and a root that follows
// the window down to its minimum size (800 x 500 at UI scale 1).
#include "MainWindow.h"

#include "Theme.h"
#include "Views/InspectorView.h"
#include "Views/DividerView.h"
#include "Views/MessageBarView.h"
#include "Views/TopBarView.h"
#include "Views/TreeView.h"
#include "gui_fixture.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>

namespace {

namespace ui = vemo::ui;
using vemo::MainWindow;
using vemo::Theme;

class MainWindowTest : public vemo::test::GuiTest {};

TEST_F(MainWindowTest, OpensWithTheTopBarAboveTheContentRow) {
    frames(2);
    EXPECT_STREQ(SDL_GetWindowTitle(window()->sdlWindow()), "VEMO S7 Browser");
    EXPECT_EQ(window()->getWidth(), 1200);
    EXPECT_EQ(window()->getHeight(), 800);
    EXPECT_EQ(window()->getFlags(), 0x71Fu);

    // The message bar between them takes no room while it has nothing to say.
    const auto& rows = mainWindow_->rootStack()->getChildren();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], mainWindow_->topBar());
    EXPECT_EQ(rows[1], static_cast<ui::Widget*>(mainWindow_->messageBar()));
    EXPECT_FALSE(rows[1]->isVisible());
    EXPECT_EQ(rows[0]->getPosition(), (ui::Vec2{0, 0}));
    EXPECT_EQ(rows[0]->getActualSize(), (ui::Vec2{1200, 50}));
    EXPECT_EQ(rows[2]->getPosition(), (ui::Vec2{0, 50}));
    EXPECT_EQ(rows[2]->getActualSize(), (ui::Vec2{1200, 750}));

    const std::filesystem::path shot = std::filesystem::path(VEMO_TEST_OUTPUT_DIR) / "main_window.png";
    window()->saveScreenshot(shot.string());
    const ui::Texture frame = window()->captureFrame();
    const Theme& theme = Theme::instance();
    EXPECT_EQ(frame.pixel(300, 400), theme.windowBackgroundColor()) << "the empty tree";
    EXPECT_EQ(frame.pixel(900, 400), theme.windowBackgroundColor()) << "the inspector below its table";
    EXPECT_EQ(frame.pixel(690, 25), theme.panelColor()) << "the top bar between its two groups";
    // The right group at the right end: the status column (300), 24 apart
    // from the maker's column (150).
    auto* status = vemo::test::findText(mainWindow_->topBar(), "PLC-Status:");
    ASSERT_NE(status, nullptr);
    EXPECT_FLOAT_EQ(status->getParent()->getWorldPosition().x, 1200 - 474);
}

// Started and left alone, before any controller: the loop comes to rest
// once the first frames are drawn and then draws nothing at all. (A view
// that keeps asking for frames here costs a core's worth of redraws from
// the first second on.)
TEST_F(MainWindowTest, LeftAloneBeforeAnyControllerTheLoopDrawsNoFrame) {
    frames(2);  // the window's first events (shown, exposed) are taken in
    ASSERT_TRUE(settleLoop()) << "the loop never came to rest";
    const std::uint64_t before = framesDrawn();
    app_->runFor(std::chrono::milliseconds(500));
    EXPECT_EQ(framesDrawn(), before);
}

// Until the operator drags the divider the tree takes 40 % of the row, at
// most 420.
TEST_F(MainWindowTest, TheRowHoldsTheTreeTheDividerAndTheInspectorBelowItsWatchListStrip) {
    frames(2);
    const auto& row = mainWindow_->rootStack()->getChildren().at(2)->getChildren();
    ASSERT_EQ(row.size(), 3u);
    EXPECT_EQ(row[0], mainWindow_->treeView());
    EXPECT_EQ(row[1], static_cast<ui::Widget*>(mainWindow_->divider()));
    ASSERT_EQ(row[2]->getChildren().size(), 2u);
    EXPECT_NE(dynamic_cast<vemo::InspectorView*>(row[2]->getChildren()[1]), nullptr);

    for (const int width : {800, 1200, 1600, 2400}) {
        window()->setSize(width, 800);
        frames(2);
        const float tree = row[0]->getActualSize().x;
        EXPECT_EQ(tree, std::min(420.0f, static_cast<float>(width) * 0.4f)) << width;
        EXPECT_EQ(row[1]->getPosition().x, tree) << width;
        EXPECT_EQ(row[1]->getActualSize(), (ui::Vec2{6, 750})) << width;
        EXPECT_EQ(row[2]->getPosition().x, tree + 6) << width;
        EXPECT_EQ(row[2]->getActualSize(), (ui::Vec2{static_cast<float>(width) - tree - 6, 750})) << width;
        EXPECT_EQ(row[0]->getActualSize().y, 750.0f) << width;
        const ui::Texture frame = window()->captureFrame();
        EXPECT_EQ(frame.pixel(static_cast<int>(tree) + 1, 400), ui::Color::rgba(24, 24, 24)) << "the divider";
    }
}

TEST_F(MainWindowTest, RootFollowsTheWindowDownToItsMinimumSize) {
    frames(1);
    window()->setSize(1600, 900);
    frames(2);
    EXPECT_EQ(mainWindow_->rootStack()->getActualSize(), (ui::Vec2{1600, 900}));
    EXPECT_EQ(mainWindow_->topBar()->getActualSize(), (ui::Vec2{1600, 50})) << "wider, still 50 high";

    window()->setSize(700, 300);
    frames(2);
    EXPECT_EQ(window()->getWidth(), 800);
    EXPECT_EQ(window()->getHeight(), 500);
    EXPECT_EQ(mainWindow_->rootStack()->getActualSize(), (ui::Vec2{800, 500}));
}

}  // namespace
