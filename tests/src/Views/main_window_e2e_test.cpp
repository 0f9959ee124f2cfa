// The whole program in one process: the real main window, headless, against
// the simulator over loopback. The operator's steps are typed and clicked:
// connect, open a block, pick tags and watch their values, search, remove a
// row, disconnect, connect again, lose the controller mid-session and get it
// back, connect to one on which browses fail, move to another controller,
// and meet a controller whose key changed.
#include "MainWindow.h"

#include "Theme.h"
#include "Views/DefaultButton.h"
#include "Views/IdentityWarningView.h"
#include "Views/InspectorView.h"
#include "Views/MessageBarView.h"
#include "Views/TopBarView.h"
#include "Views/TreeView.h"
#include "app_test_support.h"
#include "gui_fixture.h"
#include "vemo/core/KnownControllers.h"
#include "vemo/core/TagInspector.h"
#include "vemo/core/WatchListFile.h"

#include "Identity.h"
#include "Program.h"
#include "Server.h"

#include <SDL.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The row's last good value as decimal text; empty before the first.
std::string decText(const vemo::InspectorRow& row) {
    return vemo::formatValue(row.value, row.datatype, vemo::DisplayFormat::Dec).text;
}


namespace ui = vemo::ui;
using vemo::TagInspector;
using vemo::TreeView;

std::vector<std::string> names(const TagInspector& inspector) {
    std::vector<std::string> out;
    for (const auto& row : inspector.rows()) out.emplace_back(row.name);
    return out;
}

std::filesystem::path shotPath(const char* name) { return std::filesystem::path(VEMO_TEST_OUTPUT_DIR) / name; }

using vemo::test::inContext;

class MainWindowSession : public vemo::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        vemo::sim::ServerOptions options;
        options.port = 0;
        options.controller.fault = fault();
        sim_ = std::make_unique<vemo::sim::Server>(program(), options);
        frames(2);
    }
    void TearDown() override {
        sim_->stop();
        GuiTest::TearDown();
    }
    virtual vemo::sim::Program program() const { return vemo::sim::Program::builtIn(); }
    virtual vemo::sim::Fault fault() const { return {}; }

    TreeView* tree() const { return mainWindow_->treeView(); }
    TagInspector& inspector() const { return *tree()->inspector(); }
    ui::ImGuiPanel* barPanel() const { return vemo::test::findAll<ui::ImGuiPanel>(mainWindow_->topBar()).at(0); }
    vemo::InspectorView* inspectorView() const {
        return vemo::test::findAll<vemo::InspectorView>(window()->getRootWidget()).at(0);
    }
    std::string status() const { return vemo::test::findText(mainWindow_->topBar(), "PLC-Status:")->getText(); }

    void click(ui::Vec2 at) {
        window()->injectClick(at.x, at.y);
        frames(2);
    }
    void clickButton() {
        const auto* button = vemo::test::findAll<vemo::DefaultButton>(mainWindow_->topBar()).at(0);
        click(vemo::test::centerOf(button));
    }
    void type(const std::string& text) {
        window()->injectText(text);
        frames(2);
    }

    bool loaded() const {
        return !tree()->isLoading() && tree()->model() != nullptr && !tree()->model()->roots().empty();
    }
    const vemo::TreeModel& model() const { return *tree()->model(); }
    // The names of the blocks the filter leaves shown, in order.
    std::vector<std::string> shownBlocks() const {
        std::vector<std::string> shown;
        for (std::uint32_t root : model().roots()) {
            if (tree()->isShown(root)) shown.emplace_back(model().block(root)->name);
        }
        return shown;
    }

    // Types the simulator's address and port, presses Connect and waits for
    // the tree.
    void connectByTyping() {
        click(barPanel()->getWorldPosition() + vemo::test::kIpField);
        type("127.0.0.1");
        typePortAndConnect(sim_->port());
        ASSERT_TRUE(runUntil([&] { return status() == "PLC-Status: CONNECTED"; }));
        ASSERT_TRUE(runUntil([&] { return loaded(); }));
        frames(2);
    }
    // Types over the port field (a click selects its text) and presses Connect.
    void typePortAndConnect(std::uint16_t port) {
        click(barPanel()->getWorldPosition() + vemo::test::kPortText);
        type(std::to_string(port));
        clickButton();
    }
    const vemo::InspectorRow& row(const std::string& name) const {
        const auto& rows = inspector().rows();
        const auto it = std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.name == name; });
        if (it == rows.end()) throw std::out_of_range("no row " + name);
        return *it;
    }

    // A point on row `row` (counted over the rows shown, from the top) at
    // nesting depth `depth`: on its arrow, or on its icon and label. The rows
    // are a fixed height apart below the panel's padding, indented by the
    // style's indent per level; the arrow is as wide as the font.
    ui::Vec2 treeRow(int row, int depth, bool arrow) const {
        struct Metrics {
            float font;
            ImGuiStyle style;
        };
        const Metrics m = inContext(tree()->treePanel(), [] {
            return Metrics{ImGui::GetFontSize(), ImGui::GetStyle()};
        });
        const float y =
            m.style.WindowPadding.y + static_cast<float>(row) * TreeView::kRowHeight + TreeView::kIconSize * 0.5f;
        const float indent = m.style.WindowPadding.x + static_cast<float>(depth) * m.style.IndentSpacing;
        const float x = arrow ? indent + m.font * 0.5f : indent + m.font + m.style.ItemSpacing.x + 10.0f;
        return tree()->treePanel()->getWorldPosition() + ui::Vec2{x, y};
    }

    // Opens the block on row `row` with a click on its arrow.
    void openRow(int row, int depth) {
        const float before = tree()->contentHeight();
        click(treeRow(row, depth, true));
        ASSERT_TRUE(runUntil([&] { return tree()->contentHeight() > before; })) << "row " << row << " did not open";
    }

    // Centres of the inspector's remove buttons, top to bottom, where the
    // last frame drew them.
    std::vector<ui::Vec2> removeButtons() {
        std::vector<ui::Vec2> centres;
        for (const auto& row : inspector().rows()) {
            if (const auto at = inspectorView()->cellCenter(row.name, 5)) centres.push_back(*at);
        }
        return centres;
    }

    // Waits for one whole refresh attempt of the inspector to start and end.
    bool oneRefresh() {
        return runUntil([&] { return inspector().refreshing(); }) &&
               runUntil([&] { return !inspector().refreshing(); });
    }

    std::unique_ptr<vemo::sim::Server> sim_;
};

TEST_F(MainWindowSession, ConnectShowsTheBlocksAndAPickedTagShowsItsLiveValue) {
    EXPECT_FALSE(tree()->headerPanel()->isVisible()) << "no search box over an empty tree";
    connectByTyping();

    std::vector<std::string> blocks;
    std::vector<unsigned> numbers;
    for (std::uint32_t root : model().roots()) {
        blocks.emplace_back(model().block(root)->name);
        numbers.push_back(model().block(root)->number);
    }
    EXPECT_EQ(blocks,
              (std::vector<std::string>{"Conveyor", "Tank", "Recipes", "I", "Q", "M", "S7Timers", "S7Counters"}));
    EXPECT_EQ(std::vector<unsigned>(numbers.end() - 5, numbers.end()), (std::vector<unsigned>{80, 81, 82, 84, 83}));
    EXPECT_TRUE(tree()->headerPanel()->isVisible());
    EXPECT_TRUE(tree()->scrollView()->isVisible());
    EXPECT_FALSE(tree()->spinnerStack()->isVisible());

    // Conveyor: Motors, BeltSpeed, BottleCount, Running, Recipe, JamTimer, Status.
    openRow(0, 0);
    click(treeRow(1, 1, false));
    EXPECT_TRUE(inspector().rows().empty()) << "Motors only groups its elements";
    EXPECT_TRUE(tree()->isOpen(model().find("Conveyor.Motors"))) << "a click on its label opens it";
    click(treeRow(1, 1, false));
    ASSERT_FALSE(tree()->isOpen(model().find("Conveyor.Motors"))) << "and another closes it";
    click(treeRow(2, 1, false));
    click(treeRow(2, 1, false));
    ASSERT_EQ(names(inspector()), (std::vector<std::string>{"Conveyor.BeltSpeed"})) << "twice is once";
    EXPECT_EQ(inspector().rows()[0].typeName, "REAL");

    ASSERT_TRUE(runUntil([&] { return !decText(inspector().rows()[0]).empty(); }));
    const std::string first = decText(inspector().rows()[0]);
    const double speed = std::stod(first);
    EXPECT_GE(speed, 1.3);
    EXPECT_LE(speed, 1.7);
    ASSERT_TRUE(runUntil([&] { return decText(inspector().rows()[0]) != first; })) << "the belt speed moves";

    click(treeRow(3, 1, false));  // BottleCount
    ASSERT_TRUE(runUntil([&] { return !decText(inspector().rows().at(1)).empty(); }));
    window()->injectMouseMove(treeRow(2, 1, false).x, treeRow(2, 1, false).y);  // hover: highlight and tooltip
    frames(2);
    window()->saveScreenshot(shotPath("session_tree_with_live_value.png").string());
    EXPECT_TRUE(std::filesystem::exists(shotPath("session_tree_with_live_value.png")));
}

TEST_F(MainWindowSession, TypingIntoTheSearchBoxFiltersTheTree) {
    connectByTyping();
    click(vemo::test::centerOf(tree()->headerPanel()));
    type("SPEED");
    EXPECT_EQ(tree()->filterText(), "SPEED");
    // The filter runs in slices across frames; a busy machine needs more of them.
    ASSERT_TRUE(runUntil([&] { return !tree()->isFiltering(); }));
    EXPECT_EQ(shownBlocks(), (std::vector<std::string>{"Conveyor"}));

    // Conveyor is the only block now, opened by the search down to its
    // matches: below it Motors and BeltSpeed.
    EXPECT_TRUE(tree()->isOpen(model().roots()[0]));
    EXPECT_TRUE(tree()->isOpen(model().find("Conveyor.Motors")));
    std::vector<std::string> children;
    for (std::uint32_t child : model().children(model().roots()[0])) {
        if (tree()->isShown(child)) children.emplace_back(model().name(child));
    }
    EXPECT_EQ(children, (std::vector<std::string>{"Motors", "BeltSpeed"}));
    window()->saveScreenshot(shotPath("session_tree_filtered.png").string());

    click(vemo::test::centerOf(tree()->headerPanel()));  // the keys go to the box again
    // Frames between the keys, as a person typing gives them.
    for (int i = 0; i < 5; ++i) {
        window()->injectKeyPress(SDL_SCANCODE_BACKSPACE);
        frames(2);
    }
    EXPECT_EQ(tree()->filterText(), "");
    ASSERT_TRUE(runUntil([&] { return !tree()->isFiltering(); }));
    for (std::uint32_t root : model().roots()) EXPECT_TRUE(tree()->isShown(root)) << model().block(root)->name;
}

// The program's own loop, left alone after the connect: it sleeps while
// nothing happens, yet what runs by itself comes through - the load (a
// spinner, then a posted result) and the refresh of a watched tag every
// second.
TEST_F(MainWindowSession, LeftToItsOwnLoopTheWindowLoadsRefreshesAndOtherwiseSleeps) {
    ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
    ui::Application::wake();  // what the top bar's connect task does when it is done
    ASSERT_TRUE(runLoopUntil([&] { return loaded(); }));
    ASSERT_TRUE(settleLoop());
    std::uint64_t before = framesDrawn();
    app_->runFor(std::chrono::milliseconds(500));
    EXPECT_EQ(framesDrawn(), before) << "connected, nothing watched: no frame";

    openRow(0, 0);
    click(treeRow(2, 1, false));  // BeltSpeed, which moves all the time
    ASSERT_EQ(names(inspector()), (std::vector<std::string>{"Conveyor.BeltSpeed"}));
    std::set<std::string> seen;
    before = framesDrawn();
    for (int slice = 0; slice < 35; ++slice) {
        app_->runFor(std::chrono::milliseconds(100));
        seen.insert(decText(inspector().rows()[0]));
    }
    EXPECT_GE(seen.size(), 3u) << "the refreshes came every second by themselves";
    EXPECT_LT(framesDrawn() - before, 60u) << "a few frames a second, not sixty";
}

TEST_F(MainWindowSession, TheRemoveButtonRemovesExactlyItsRow) {
    connectByTyping();
    openRow(0, 0);
    for (int row : {2, 3, 4}) click(treeRow(row, 1, false));  // BeltSpeed, BottleCount, Running
    ASSERT_EQ(names(inspector()),
              (std::vector<std::string>{"Conveyor.BeltSpeed", "Conveyor.BottleCount", "Conveyor.Running"}));
    const std::vector<ui::Vec2> buttons = removeButtons();
    ASSERT_EQ(buttons.size(), 3u);
    click(buttons[1]);
    EXPECT_EQ(names(inspector()), (std::vector<std::string>{"Conveyor.BeltSpeed", "Conveyor.Running"}));
}

TEST_F(MainWindowSession, DisconnectKeepsTreeAndRowsAndConnectingAgainRefreshesThemWithoutAClick) {
    connectByTyping();
    openRow(0, 0);
    click(treeRow(3, 1, false));  // BottleCount, counting up
    ASSERT_TRUE(runUntil([&] { return !decText(inspector().rows().at(0)).empty(); }));
    ASSERT_TRUE(runUntil([&] { return !inspector().refreshing(); }));

    const vemo::TreeModel* firstLoad = tree()->model();
    const std::string value = decText(inspector().rows()[0]);
    clickButton();  // Disconnect, handled before any new refresh starts
    ASSERT_EQ(status(), "PLC-Status: DISCONNECTED");
    frames(30);
    EXPECT_FALSE(inspector().refreshing()) << "nothing is read without a connection";
    EXPECT_EQ(decText(inspector().rows().at(0)), value) << "the value stays while disconnected";
    EXPECT_EQ(inspector().rows().at(0).state, vemo::RowState::Stale) << "and shows that it is old";
    EXPECT_TRUE(vemo::valueCellFor(inspector().rows().at(0)).dimmed);
    ASSERT_EQ(model().roots().size(), 8u);
    EXPECT_EQ(tree()->model(), firstLoad) << "the tree stays";
    EXPECT_FALSE(tree()->acceptsTags());
    click(treeRow(2, 1, false));  // BeltSpeed
    EXPECT_EQ(names(inspector()), (std::vector<std::string>{"Conveyor.BottleCount"}))
        << "a tag is added only with a connection";

    clickButton();  // Connect again
    ASSERT_TRUE(runUntil([&] { return status() == "PLC-Status: CONNECTED"; }));
    ASSERT_TRUE(runUntil([&] { return loaded() && tree()->model() != firstLoad; }));
    EXPECT_TRUE(tree()->isOpen(model().roots()[0])) << "an open block stays open across the reload";
    EXPECT_EQ(names(inspector()), (std::vector<std::string>{"Conveyor.BottleCount"})) << "the row stays";
    ASSERT_TRUE(runUntil([&] {
        const auto& row = inspector().rows().at(0);
        return row.state == vemo::RowState::Live && decText(row) != value;
    })) << "and refreshes again without a click";
    EXPECT_EQ(sim_->connectionsAccepted(), 2);
}

// A watch list of many rows comes back whole after Disconnect and Connect to
// the same controller, every row refreshed again on the new connection.
TEST_F(MainWindowSession, TheWholeWatchListSurvivesAReconnectToTheSameController) {
    connectByTyping();
    std::vector<const s7_symbol*> tags;
    for (std::uint32_t node = 0; node < model().size(); ++node) {
        if (model().symbol(node) != nullptr && tags.size() < 27) tags.push_back(model().symbol(node));
    }
    ASSERT_EQ(tags.size(), 27u);
    for (const s7_symbol* tag : tags) ASSERT_TRUE(inspector().add(tag));
    const std::vector<std::string> watched = names(inspector());
    ASSERT_TRUE(runUntil([&] {
        return std::all_of(inspector().rows().begin(), inspector().rows().end(),
                           [](const auto& r) { return r.state == vemo::RowState::Live; });
    }));

    clickButton();  // Disconnect
    frames(2);
    for (const auto& r : inspector().rows()) EXPECT_EQ(r.state, vemo::RowState::Stale) << r.name;
    clickButton();  // Connect, the fields still hold the address
    ASSERT_TRUE(runUntil([&] { return status() == "PLC-Status: CONNECTED"; }));
    ASSERT_TRUE(runUntil([&] {
        return loaded() && std::all_of(inspector().rows().begin(), inspector().rows().end(),
                                       [](const auto& r) { return r.state == vemo::RowState::Live; });
    }));
    EXPECT_EQ(names(inspector()), watched);
    const std::uint64_t live = service_.connectionId();
    for (const auto& r : inspector().rows()) EXPECT_EQ(r.connection, live) << r.name;
}

// Two identical machines, but for a recipe: moving from one to the other
// keeps the watch list's names, drops the first machine's values at once
// and shows the second's only after its own browse found the rows; a row
// whose variable the second lacks says so.
class TwoControllersSession : public MainWindowSession {
protected:
    void SetUp() override {
        MainWindowSession::SetUp();
        vemo::sim::ServerOptions options;
        options.port = 0;
        other_ = std::make_unique<vemo::sim::Server>(vemo::sim::Program::fromJson(R"({"blocks": [
            {"name": "Conveyor", "number": 1, "members": [
                {"name": "Recipe", "type": "String[32]", "value": "Sparkling 1.0 l"},
                {"name": "BottleCount", "type": "DInt", "value": 0}]}]})"),
                                                     options);
    }
    void TearDown() override {
        other_->stop();
        MainWindowSession::TearDown();
    }
    std::unique_ptr<vemo::sim::Server> other_;
};

TEST_F(TwoControllersSession, TheRowsAreFoundAgainOnTheOtherControllerWithoutEverShowingTheFirstOnesValues) {
    connectByTyping();
    openRow(0, 0);
    click(treeRow(5, 1, false));  // Recipe
    click(treeRow(2, 1, false));  // BeltSpeed
    ASSERT_EQ(names(inspector()), (std::vector<std::string>{"Conveyor.Recipe", "Conveyor.BeltSpeed"}));
    ASSERT_TRUE(runUntil([&] { return decText(row("Conveyor.Recipe")) == "Still water 0.5 l"; }));

    clickButton();  // Disconnect
    // No frame after the one that asks for the connect: a frame more may
    // already show the other controller's tree, which a local simulator
    // sends within a millisecond.
    typePortAndConnect(other_->port());
    EXPECT_EQ(tree()->model(), nullptr) << "the first machine's tree goes at once";
    EXPECT_EQ(tree()->notice(), "A connect to another controller, 127.0.0.1:" + std::to_string(other_->port()) +
                                    ", cleared the blocks and values of 127.0.0.1:" + std::to_string(sim_->port()) +
                                    ".");
    bool firstValueSeen = false;
    ASSERT_TRUE(runUntil([&] {
        firstValueSeen |= decText(row("Conveyor.Recipe")) == "Still water 0.5 l";
        return row("Conveyor.Recipe").state == vemo::RowState::Live;
    }));
    EXPECT_FALSE(firstValueSeen) << "never the first machine's value under the second one";
    EXPECT_EQ(decText(row("Conveyor.Recipe")), "Sparkling 1.0 l");
    EXPECT_EQ(row("Conveyor.BeltSpeed").state, vemo::RowState::Missing);
    EXPECT_EQ(vemo::valueCellFor(row("Conveyor.BeltSpeed")).text, "not in the controller");
    EXPECT_EQ(tree()->notice(), "");
    EXPECT_EQ(model().find("Conveyor.BeltSpeed"), vemo::TreeModel::kNone) << "the second machine's tree";
    EXPECT_NE(model().find("Conveyor.Recipe"), vemo::TreeModel::kNone);
    window()->saveScreenshot(shotPath("session_other_controller.png").string());
}

// A controller that takes the connection and then never answers the
// listing of its blocks: the top bar says so while the request waits, long
// before its deadline, and the operator's disconnect is not blamed on the
// controller.
class StalledListingSession : public MainWindowSession {
protected:
    vemo::sim::Fault fault() const override { return vemo::sim::Fault::parse("stall-at-request", 5); }
};

TEST_F(StalledListingSession, IsShownAsNotAnsweringAndTheOperatorsDisconnectIsNotBlamedOnTheController) {
    click(barPanel()->getWorldPosition() + vemo::test::kIpField);
    type("127.0.0.1");
    typePortAndConnect(sim_->port());
    ASSERT_TRUE(runUntil([&] { return status().rfind("PLC-Status: not answering (", 0) == 0; })) << status();
    EXPECT_EQ(service_.getState(), vemo::ConnectionState::Connected) << "the request's deadline is still far";
    EXPECT_EQ(vemo::test::findText(mainWindow_->topBar(), "PLC-Status:")->getColor(), vemo::Theme::instance().lostColor());
    window()->saveScreenshot(shotPath("session_not_answering.png").string());

    clickButton();  // Disconnect
    ASSERT_TRUE(runUntil([&] { return !tree()->isLoading() && !tree()->notice().empty(); }));
    EXPECT_EQ(tree()->notice(),
              "Listing the blocks of 127.0.0.1:" + std::to_string(sim_->port()) + " stopped: you disconnected.");
    EXPECT_EQ(status(), "PLC-Status: DISCONNECTED");
}

// The second controller refuses to list its blocks: the first one's tree
// and values do not stay behind as if they were the second's.
TEST_F(MainWindowSession, AListingThatFailsClearsTheTreeAndTheValuesAndSaysWhy) {
    connectByTyping();
    openRow(0, 0);
    click(treeRow(3, 1, false));  // BottleCount
    ASSERT_TRUE(runUntil([&] { return !decText(inspector().rows().at(0)).empty(); }));

    vemo::sim::ServerOptions options;
    options.port = 0;
    options.controller.fault = vemo::sim::Fault::parse("explore-error", 3);
    vemo::sim::Server refusing(vemo::sim::Program::builtIn(), options);
    clickButton();  // Disconnect
    typePortAndConnect(refusing.port());
    ASSERT_TRUE(runUntil([&] { return status() == "PLC-Status: CONNECTED"; }));
    ASSERT_TRUE(runUntil([&] { return tree()->notice().rfind("Listing", 0) == 0; }));
    EXPECT_EQ(tree()->notice(), "Listing the blocks of 127.0.0.1:" + std::to_string(refusing.port()) +
                                    " failed: the controller refused to list its blocks. Check the controller's "
                                    "access protection for clients like this one.");
    EXPECT_EQ(tree()->model(), nullptr);
    EXPECT_FALSE(tree()->headerPanel()->isVisible());
    EXPECT_FALSE(tree()->acceptsTags());
    ASSERT_EQ(names(inspector()), (std::vector<std::string>{"Conveyor.BottleCount"})) << "the name stays";
    EXPECT_EQ(decText(inspector().rows()[0]), "");
    EXPECT_NE(inspector().rows()[0].connection, service_.connectionId()) << "and is never read here";
    frames(3);
    window()->saveScreenshot(shotPath("session_listing_failed.png").string());
    refusing.stop();
}

TEST_F(MainWindowSession, AModifiedValueIsWrittenOnlyWhenAllowedAndConfirmedAndThenReadBack) {
    connectByTyping();
    openRow(0, 0);
    click(treeRow(2, 1, false));  // BeltSpeed, a REAL that moves
    ASSERT_EQ(names(inspector()), (std::vector<std::string>{"Conveyor.BeltSpeed"}));
    ASSERT_TRUE(runUntil([&] { return !decText(inspector().rows()[0]).empty(); }));
    vemo::InspectorView* view = inspectorView();

    EXPECT_EQ(view->requestWrite("Conveyor.BeltSpeed", "2.5"), "writing is not allowed on this connection");
    service_.allowWrites(true);
    EXPECT_EQ(view->requestWrite("Conveyor.BeltSpeed", "fast"), "fast is not a REAL number");
    EXPECT_TRUE(view->pendingWrite().name.empty()) << "a text that does not fit asks nothing";

    ASSERT_EQ(view->requestWrite("Conveyor.BeltSpeed", "2.5"), "");
    EXPECT_EQ(view->pendingWrite().name, "Conveyor.BeltSpeed");
    EXPECT_EQ(view->pendingWrite().address, "127.0.0.1:" + std::to_string(sim_->port()));
    EXPECT_FALSE(view->pendingWrite().current.empty());
    frames(3);
    window()->saveScreenshot(shotPath("session_write_confirmation.png").string());
    // Cancelled: nothing is written.
    view->confirmWrite(false);
    frames(3);
    EXPECT_EQ(inspector().rows()[0].writeState, vemo::WriteState::None);

    ASSERT_EQ(view->requestWrite("Conveyor.BeltSpeed", "2.5"), "");
    view->confirmWrite(true);
    ASSERT_TRUE(runUntil([&] { return inspector().rows()[0].writeState != vemo::WriteState::Pending; }));
    EXPECT_EQ(inspector().rows()[0].writeState, vemo::WriteState::Written) << inspector().rows()[0].writeNote;
    EXPECT_EQ(decText(inspector().rows()[0]), "2.5") << "read back";
    frames(2);
    EXPECT_EQ(decText(inspector().rows()[0]), "2.5") << "and it stays: the controller holds it now";
    window()->saveScreenshot(shotPath("session_written.png").string());
}

TEST_F(MainWindowSession, AChangedValueIsHighlightedUntilItHasFaded) {
    // The highlight's clock stands still unless the test moves it.
    auto now = std::chrono::steady_clock::now();
    inspectorView()->table().setClock([&] { return now; });
    connectByTyping();
    openRow(0, 0);
    click(treeRow(2, 1, false));  // BeltSpeed, a REAL that moves
    ASSERT_TRUE(runUntil([&] { return !decText(inspector().rows()[0]).empty(); }));
    EXPECT_FALSE(inspectorView()->table().nextHighlightStep()) << "a first value is no change";
    ASSERT_TRUE(runUntil([&] { return inspectorView()->table().nextHighlightStep().has_value(); }))
        << "the next value differs";
    EXPECT_GT(inspectorView()->table().highlight("Conveyor.BeltSpeed"), 0.0f);
    window()->saveScreenshot(shotPath("session_value_highlighted.png").string());
    now += vemo::InspectorTable::kFade;
    EXPECT_FALSE(inspectorView()->table().nextHighlightStep()) << "faded: no more frames needed for it";
    EXPECT_EQ(inspectorView()->table().highlight("Conveyor.BeltSpeed"), 0.0f);
    inspectorView()->table().setClock({});
}

TEST_F(MainWindowSession, TheSpinnerTurnsWhileTheBlocksLoad) {
    ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
    {
        // The load waits for the service, as behind a long protocol task.
        vemo::test::HeldClient held(service_);
        frames(3);
        EXPECT_TRUE(tree()->isLoading());
        EXPECT_TRUE(tree()->spinnerStack()->isVisible());
        EXPECT_FALSE(tree()->scrollView()->isVisible());
        EXPECT_FALSE(tree()->headerPanel()->isVisible());
        auto* spinner = tree()->spinnerStack()->getChildren().at(0);
        EXPECT_EQ(spinner->getActualSize(), (ui::Vec2{64, 64}));
        const ui::Vec2 centre = vemo::test::centerOf(spinner);
        const ui::Vec2 treeCentre = vemo::test::centerOf(tree());
        EXPECT_NEAR(centre.x, treeCentre.x, 1.0f);
        EXPECT_NEAR(centre.y, treeCentre.y, 1.0f);
        const float angle = spinner->getRotation();
        ASSERT_TRUE(runUntil([&] { return spinner->getRotation() != angle; }));
    }
    ASSERT_TRUE(runUntil([&] { return loaded(); }));
    EXPECT_FALSE(tree()->spinnerStack()->isVisible());
    EXPECT_TRUE(tree()->headerPanel()->isVisible());
}

TEST_F(MainWindowSession, AControllerThatDropsTheConnectionIsShownLostAndComesBackWithoutAClick) {
    connectByTyping();
    openRow(0, 0);
    click(treeRow(3, 1, false));  // BottleCount
    ASSERT_TRUE(runUntil([&] { return inspector().rows().at(0).state == vemo::RowState::Live; }));
    const std::string last = decText(inspector().rows().at(0));

    // The controller drops every connection and keeps listening, as one does
    // across a restart.
    ASSERT_EQ(sim_->dropConnections(), 1u);
    ASSERT_TRUE(runUntil([&] { return status() == "PLC-Status: CONNECTION LOST"; }, std::chrono::seconds(5)))
        << "the next refresh notices the loss";
    EXPECT_EQ(inspector().rows().at(0).state, vemo::RowState::Stale);
    EXPECT_EQ(decText(inspector().rows().at(0)), last) << "the last value stays, dimmed";
    EXPECT_TRUE(mainWindow_->messageBar()->isVisible());
    EXPECT_EQ(mainWindow_->messageBar()->headline().rfind("Connection lost: the controller closed the connection, "
                                                          "reconnecting in ",
                                                          0),
              0u)
        << mainWindow_->messageBar()->headline();
    window()->saveScreenshot(shotPath("session_lost.png").string());
    EXPECT_EQ(model().roots().size(), 8u) << "the tree stays";

    ASSERT_TRUE(runUntil([&] { return status() == "PLC-Status: CONNECTED"; })) << "reconnected after a second";
    ASSERT_TRUE(runUntil([&] {
        const auto& row = inspector().rows().at(0);
        return row.state == vemo::RowState::Live && decText(row) != last;
    })) << "the row refreshes again without a click";
    EXPECT_FALSE(mainWindow_->messageBar()->isVisible());
    EXPECT_EQ(sim_->connectionsAccepted(), 2);
    window()->saveScreenshot(shotPath("session_reconnected.png").string());
}

TEST_F(MainWindowSession, DisconnectWhileTheControllerIsGoneStopsTheAttempts) {
    connectByTyping();
    sim_->stop();
    // Without rows nothing is read: a browse-free session notices the loss
    // with its next call, here none. Pick a tag so that the refresh does.
    openRow(0, 0);
    click(treeRow(3, 1, false));
    ASSERT_TRUE(runUntil([&] { return status() == "PLC-Status: CONNECTION LOST"; }, std::chrono::seconds(5)));
    clickButton();  // Disconnect
    EXPECT_EQ(status(), "PLC-Status: DISCONNECTED");
    frames(30);
    EXPECT_EQ(status(), "PLC-Status: DISCONNECTED") << "no attempt after the operator's disconnect";
    EXPECT_FALSE(mainWindow_->messageBar()->isVisible());
    // The tree still opens and closes.
    const float height = tree()->contentHeight();
    click(treeRow(0, 0, true));
    ASSERT_TRUE(runUntil([&] { return tree()->contentHeight() < height; }));
}

// Trust on first use with a simulator that keeps one identity across
// restarts: a new controller is stored and said to be new, the same one is
// known, and a new identity at the same address holds the connection under
// a warning until the operator disconnects or trusts the new key.
class IdentitySession : public MainWindowSession {
protected:
    // A simulator on `port` (0: any) presenting identity `n` (made on first use).
    std::unique_ptr<vemo::sim::Server> simWith(int n, std::uint16_t port) {
        const std::string cert = (identities_.path() / ("cert" + std::to_string(n) + ".pem")).string();
        const std::string key = (identities_.path() / ("key" + std::to_string(n) + ".pem")).string();
        if (!std::filesystem::exists(cert)) vemo::sim::Identity::generate().save(cert, key);
        vemo::sim::ServerOptions options;
        options.port = port;
        options.certificateFile = cert;
        options.keyFile = key;
        return std::make_unique<vemo::sim::Server>(vemo::sim::Program::builtIn(), options);
    }
    std::vector<vemo::KnownController> stored() const { return vemo::KnownControllers(storePath()).entries(); }
    std::string presented() const { return service_.status().trust.identity.value().key.text(); }
    vemo::IdentityWarningView* warning() const { return mainWindow_->identityWarning(); }
    const std::string& headline() const { return mainWindow_->messageBar()->headline(); }

    vemo::test::TempDir identities_;
};

TEST_F(IdentitySession, NewThenKnownThenAChangedKeyIsHeldUntilTheOperatorTrustsIt) {
    auto first = simWith(1, 0);
    const std::uint16_t port = first->port();
    const std::string address = "127.0.0.1:" + std::to_string(port);
    click(barPanel()->getWorldPosition() + vemo::test::kIpField);
    type("127.0.0.1");
    typePortAndConnect(port);
    ASSERT_TRUE(runUntil([&] { return loaded(); }));
    const std::string key1 = presented();
    ASSERT_EQ(stored().size(), 1u);
    EXPECT_EQ(stored()[0].key.text(), key1);
    EXPECT_EQ(headline(),
              "New controller: first connection to " + address + "; its key " + key1 + " is now stored as known.");
    EXPECT_TRUE(mainWindow_->messageBar()->isVisible());
    window()->saveScreenshot(shotPath("session_identity_new.png").string());

    clickButton();  // Disconnect
    clickButton();  // Connect: the same controller
    ASSERT_TRUE(runUntil([&] { return status() == "PLC-Status: CONNECTED"; }));
    EXPECT_EQ(service_.status().trust.verdict, vemo::ControllerTrust::Verdict::Known);
    EXPECT_FALSE(mainWindow_->messageBar()->isVisible()) << "a known controller: nothing to say";
    ASSERT_TRUE(runUntil([&] { return loaded(); }));
    openRow(0, 0);
    click(treeRow(3, 1, false));  // BottleCount
    ASSERT_TRUE(runUntil([&] { return !decText(inspector().rows().at(0)).empty(); }));
    clickButton();  // Disconnect

    // The controller restarts with a new identity at the same address.
    first->stop();
    first.reset();
    auto second = simWith(2, port);
    for (const bool trust : {false, true}) {
        SCOPED_TRACE(trust ? "trusted" : "disconnected");
        clickButton();  // Connect
        ASSERT_TRUE(runUntil([&] { return status() == "PLC-Status: IDENTITY CHANGED"; }));
        frames(3);
        EXPECT_TRUE(warning()->isShowing());
        EXPECT_NE(presented(), key1);
        EXPECT_EQ(service_.status().trust.known.value().key.text(), key1);
        EXPECT_EQ(headline(),
                  "Connection held: the controller at " + address + " presents another key than the one on record.");
        EXPECT_EQ(tree()->model(), nullptr) << "nothing of the old key's controller stays";
        EXPECT_FALSE(tree()->isLoading()) << "nothing is browsed on a held connection";
        EXPECT_EQ(decText(inspector().rows().at(0)), "");
        EXPECT_EQ(stored()[0].key.text(), key1) << "the store is untouched until the operator decides";
        if (!trust) {
            window()->saveScreenshot(shotPath("session_identity_changed.png").string());
            warning()->answer(false);
            frames(2);
            EXPECT_EQ(status(), "PLC-Status: DISCONNECTED");
            EXPECT_FALSE(warning()->isShowing());
            EXPECT_EQ(stored()[0].key.text(), key1);
            continue;
        }
        warning()->answer(true);
        ASSERT_TRUE(runUntil([&] { return status() == "PLC-Status: CONNECTED"; }));
        EXPECT_EQ(stored().size(), 1u);
        EXPECT_EQ(stored()[0].key.text(), presented()) << "the new key replaces the old one";
        ASSERT_TRUE(runUntil([&] { return loaded() && inspector().rows().at(0).state == vemo::RowState::Live; }))
            << "then the browse goes on and the rows are found again";
        EXPECT_FALSE(warning()->isShowing());
    }
    second->stop();
}

// A store that cannot be read cannot say whether the key is the one on
// record: the connection is held as for a changed key, the dialog says
// why, and only the operator's word lets it go on - the store untouched.
TEST_F(IdentitySession, AStoreThatCannotBeReadHoldsTheConnectionAndIsLeftAsItIs) {
    const std::string damaged = "not a store of known controllers";
    vemo::test::writeText(storePath(), damaged);
    auto sim = simWith(1, 0);
    ASSERT_EQ(service_.connect("127.0.0.1", sim->port()), S7_OK);
    ASSERT_TRUE(runUntil([&] { return status() == "PLC-Status: IDENTITY CHANGED"; }));
    frames(3);
    EXPECT_TRUE(warning()->isShowing());
    EXPECT_FALSE(tree()->isLoading()) << "nothing is browsed on a held connection";
    EXPECT_EQ(headline().rfind("Controller not verified: " + storePath().string(), 0), 0u) << headline();
    window()->saveScreenshot(shotPath("session_identity_not_verified.png").string());
    warning()->answer(true);
    ASSERT_TRUE(runUntil([&] { return loaded(); })) << "on the operator's word, unchecked";
    EXPECT_EQ(vemo::test::readText(storePath()), damaged);
    sim->stop();
}

// A store that can be read but not written still holds a controller that
// presents another key (its lock file's place taken by a folder: the tests
// run as root, whom a read-only mode does not stop).
TEST_F(IdentitySession, AStoreThatCannotBeWrittenStillHoldsAChangedKey) {
    vemo::Fingerprint::Digest digest{};
    digest.fill(0x5A);
    auto sim = simWith(1, 0);
    vemo::KnownControllers(storePath()).remember("127.0.0.1", sim->port(), vemo::Fingerprint(digest));
    std::filesystem::remove(storePath().string() + ".lock");
    std::filesystem::create_directory(storePath().string() + ".lock");
    const std::string before = vemo::test::readText(storePath());
    ASSERT_EQ(service_.connect("127.0.0.1", sim->port()), S7_OK);
    ASSERT_TRUE(runUntil([&] { return status() == "PLC-Status: IDENTITY CHANGED"; }));
    frames(3);
    EXPECT_TRUE(warning()->isShowing());
    EXPECT_EQ(headline().rfind("Connection held: ", 0), 0u) << headline();
    EXPECT_EQ(tree()->model(), nullptr);
    EXPECT_EQ(vemo::test::readText(storePath()), before);
    sim->stop();
}

// A controller on which browses fail: every listed block is still in the
// tree, a failed one without tags, and each failure is logged.
struct BrowseFault {
    const char* name;
    const char* fault;
    std::optional<std::uint64_t> arg;
    std::size_t failedBlocks;  // how many blocks, from the first, fail
    const char* code;          // the first failure's, as the log names it
};

// Names the case in the test list.
void PrintTo(const BrowseFault& fault, std::ostream* out) { *out << fault.fault; }

class FailedBrowseSession : public MainWindowSession, public ::testing::WithParamInterface<BrowseFault> {
protected:
    vemo::sim::Fault fault() const override { return vemo::sim::Fault::parse(GetParam().fault, GetParam().arg); }
};

TEST_P(FailedBrowseSession, EveryBlockIsInTheTreeAFailedOneWithoutTagsAndLogged) {
    const BrowseFault& param = GetParam();
    std::string log;
    {
        const vemo::test::CapturedStreams captured;
        ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
        ASSERT_TRUE(runUntil([&] { return loaded(); }));
        log = captured.out();
    }
    const std::vector<std::string> blocks = {"Conveyor", "Tank", "Recipes", "I", "Q", "M", "S7Timers", "S7Counters"};
    ASSERT_EQ(model().roots().size(), blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::uint32_t root = model().roots()[i];
        SCOPED_TRACE(blocks[i]);
        EXPECT_EQ(model().block(root)->name, blocks[i]);
        const bool failed = i < param.failedBlocks;
        EXPECT_EQ(!model().hasChildren(root), failed) << "every block of the program has members";
        if (failed) {
            EXPECT_TRUE(tree()->failureText(root).starts_with("Could not be read: ")) << tree()->failureText(root);
        } else {
            EXPECT_EQ(tree()->failureText(root), "");
        }
    }
    // One line for all failed blocks, however many: a program of hundreds
    // of blocks that cannot be browsed does not flood the log.
    std::vector<std::string> said;
    std::istringstream lines(log);
    for (std::string l; std::getline(lines, l);) {
        if (l.find("Browsing") != std::string::npos) said.push_back(l);
    }
    ASSERT_EQ(said.size(), 1u) << log;
    EXPECT_NE(said[0].find("[WARN ]"), std::string::npos) << said[0];
    EXPECT_NE(said[0].find(fmt::format("Browsing {} of {} blocks failed; the first, Conveyor: ", param.failedBlocks,
                                       blocks.size())),
              std::string::npos)
        << said[0];
    EXPECT_NE(said[0].find(param.code), std::string::npos) << said[0];
    EXPECT_TRUE(tree()->headerPanel()->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Faults, FailedBrowseSession,
                         ::testing::Values(
                             // The first data block's type nests into itself:
                             // only its browse fails.
                             BrowseFault{"OneBlock", "self-referencing-type", std::nullopt, 1, "(S7_ERR_PROTOCOL)"},
                             // The connection closes at the first browse: that
                             // browse and every later one, the last included.
                             BrowseFault{"EveryBlock", "close-at-request", 7, 8, "(S7_ERR_NOT_CONNECTED)"}),
                         [](const ::testing::TestParamInfo<BrowseFault>& param) { return param.param.name; });

// The first data block, Conveyor, holds an array of four billion elements:
// more than a browse takes. The block says in the tree that it could not
// be read, and why; a watched variable in it stays in the inspector and
// says the same, not that the program lacks it.
class HostileCountSession : public MainWindowSession {
protected:
    vemo::sim::Fault fault() const override { return vemo::sim::Fault::parse("hostile-count", std::nullopt); }
    vemo::test::TempDir dir_;
};

TEST_F(HostileCountSession, TheFailedBlockSaysItCouldNotBeReadAndWhyAndItsWatchedRowsSayTheSame) {
    const std::filesystem::path file = dir_.path() / "line-1.json";
    vemo::WatchList list;
    list.rows = {{"Conveyor.BottleCount", "DINT", vemo::DisplayFormat::Dec},
                 {"Tank.Level", "REAL", vemo::DisplayFormat::Dec},
                 {"Tank.Gone", "INT", vemo::DisplayFormat::Dec}};
    list.write(file);
    ASSERT_EQ(mainWindow_->openWatchList(file.string()), "");
    connectByTyping();

    const std::uint32_t conveyor = model().roots().at(0);
    ASSERT_EQ(std::string(model().block(conveyor)->name), "Conveyor");
    EXPECT_EQ(model().browseCode(conveyor), S7_ERR_NO_MEMORY);
    const std::string why = "Could not be read: its description is larger than this program reads";
    EXPECT_EQ(tree()->failureText(conveyor), why);
    EXPECT_EQ(tree()->failureText(model().roots().at(1)), "") << "Tank was read";
    const ui::Vec2 at = treeRow(0, 0, false);
    window()->injectMouseMove(at.x, at.y);
    frames(3);
    EXPECT_TRUE(tree()->tooltip().starts_with("DB-Number: 1\n" + why + ".\nOne block may hold at most "))
        << tree()->tooltip();

    ASSERT_TRUE(runUntil([&] { return row("Tank.Level").state == vemo::RowState::Live; }));
    EXPECT_EQ(row("Conveyor.BottleCount").state, vemo::RowState::Unreadable);
    EXPECT_EQ(vemo::valueCellFor(row("Conveyor.BottleCount")).text, "block could not be read");
    EXPECT_EQ(row("Tank.Gone").state, vemo::RowState::Missing) << "its block was read: the variable is gone";
    const vemo::MessageBarView* bar = mainWindow_->messageBar();
    EXPECT_EQ(bar->headline(), "Watch list line-1.json: 1 of 3 variables are not in this controller's program");
    EXPECT_NE(bar->advice().find("in blocks that could not be read: Conveyor.BottleCount."), std::string::npos)
        << bar->advice();
    window()->saveScreenshot(shotPath("session_failed_block.png").string());
}

// 200 data blocks of 500 members each: 100 000 variables.
class LargeProgramSession : public MainWindowSession {
protected:
    vemo::sim::Program program() const override { return vemo::sim::Program::generated(200, 500); }
};

TEST_F(LargeProgramSession, LoadsAndBuildsTheWholeTree) {
    ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
    ASSERT_TRUE(runUntil([&] { return loaded(); }, std::chrono::seconds(100)));
    frames(2);

    const std::uint64_t symbols = model().symbolCount();
    std::uint64_t attached = 0;
    for (std::uint32_t node = 0; node < model().size(); ++node) attached += model().symbol(node) != nullptr ? 1 : 0;
    EXPECT_EQ(model().roots().size(), 205u);
    EXPECT_EQ(symbols, sim_->model().program().symbolCount());
    EXPECT_GE(symbols, 100000u);
    EXPECT_EQ(attached, symbols) << "every variable has its node";

    click(vemo::test::centerOf(tree()->headerPanel()));
    type("GenDB7.");
    ASSERT_TRUE(runUntil([&] { return !tree()->isFiltering(); }));
    EXPECT_EQ(shownBlocks(), (std::vector<std::string>{"GenDB7"}));
}

// One array of 300 000 elements: a block with one member whose elements are
// all siblings of each other.
class HugeArraySession : public MainWindowSession {
protected:
    vemo::sim::Program program() const override { return vemo::sim::Program::generatedArray(300000); }
};

TEST_F(HugeArraySession, LoadsOpensScrollsToTheLastElementAndFilters) {
    ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
    ASSERT_TRUE(runUntil([&] { return loaded(); }, std::chrono::seconds(100)));
    frames(2);
    const std::uint32_t values = model().find("ArrayDB.Values");
    ASSERT_NE(values, vemo::TreeModel::kNone);
    EXPECT_EQ(model().children(values).size(), 300000u);

    openRow(0, 0);  // ArrayDB
    openRow(1, 1);  // Values
    ASSERT_EQ(tree()->rows().size(), 2u + 300000u + 5u) << "the block, Values, its elements and the five areas";
    // At the end of the list the last element is drawn where the rows say
    // and takes the click; element i reads i.
    frames(2);  // the scroll view learns the new height
    tree()->scrollView()->setScrollOffset(tree()->scrollView()->getMaxScroll());
    frames(2);
    ASSERT_GT(tree()->scrollView()->getScrollOffset(), 300000.0f * vemo::TreeView::kRowHeight - 1000.0f);
    click(treeRow(2 + 299999, 2, false));
    ASSERT_EQ(names(inspector()), (std::vector<std::string>{"ArrayDB.Values[299999]"}));
    ASSERT_TRUE(runUntil([&] { return decText(inspector().rows()[0]) == "299999"; }));

    click(vemo::test::centerOf(tree()->headerPanel()));
    type("[29999");
    ASSERT_TRUE(runUntil([&] { return !tree()->isFiltering() && tree()->rows().size() < 20; }));
    std::vector<std::string> rows;
    for (std::uint32_t node : tree()->rows()) rows.push_back(model().fullPath(node));
    std::vector<std::string> expected = {"ArrayDB", "ArrayDB.Values", "ArrayDB.Values[29999]"};
    for (int i = 0; i <= 9; ++i) expected.push_back("ArrayDB.Values[29999" + std::to_string(i) + "]");
    EXPECT_EQ(rows, expected);
}

// One variable of every elementary data type, and texts in eight scripts.
class EveryTypeSession : public MainWindowSession {
protected:
    vemo::sim::Program program() const override { return vemo::sim::Program::fromFile(VEMO_EVERY_TYPE_PROGRAM); }
};

TEST_F(EveryTypeSession, EveryDataTypeShowsInItsDefaultFormat) {
    ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
    ASSERT_TRUE(runUntil([&] { return loaded(); }));
    const std::uint32_t block = model().find("Types");
    for (std::uint32_t node : model().children(block)) inspector().add(model().symbol(node));
    ASSERT_EQ(inspector().rows().size(), model().children(block).size());
    ASSERT_TRUE(runUntil([&] {
        return std::all_of(inspector().rows().begin(), inspector().rows().end(),
                           [](const auto& row) { return row.state == vemo::RowState::Live; });
    }));
    std::map<std::string, std::string> shown;
    for (const auto& row : inspector().rows()) shown[row.name] = vemo::valueCellFor(row).text;
    const std::pair<const char*, const char*> expected[] = {
        {"Types.Bool", "true"},
        {"Types.Byte", "16#0A"},
        {"Types.Word", "16#0A1F"},
        {"Types.DWord", "16#DEADBEEF"},
        {"Types.Int", "-12345"},
        {"Types.Real", "3.25"},
        {"Types.Char", "'A'"},
        {"Types.WChar", "WCHAR#'\xE2\x82\xAC'"},
        {"Types.Date", "D#2026-12-10"},
        {"Types.TimeOfDay", "TOD#06:00:00.000"},
        {"Types.Time", "T#1D_2H_3M_4S_5MS"},
        {"Types.NegativeTime", "T#-2S_500MS"},
        {"Types.LTime", "LT#1S_250MS"},
        {"Types.LTOD", "LTOD#12:34:56.123456789"},
        {"Types.S5Time", "S5T#2M_7S"},
        {"Types.DateAndTime", "DT#2026-12-10-12:34:56.789"},
        {"Types.DTL", "DTL#2026-12-10-12:34:56.123456789"},
        {"Types.String", "pick and place"},
        {"Types.Greek",
         "\xCE\x93\xCE\xB5\xCE\xB9\xCE\xAC \xCF\x83\xCE\xBF\xCF\x85 "
         "\xCE\x9A\xCF\x8C\xCF\x83\xCE\xBC\xCE\xB5"},
    };
    for (const auto& [name, text] : expected) EXPECT_EQ(shown[name], text) << name;
    frames(10);  // the atlases take in the new characters within a few frames
    window()->saveScreenshot(shotPath("session_every_type.png").string());
    EXPECT_TRUE(std::filesystem::exists(shotPath("session_every_type.png")));
    // The texts in eight scripts are the last rows.
    const ui::Vec2 table = vemo::test::centerOf(inspectorView());
    window()->injectMouseMove(table.x, table.y);
    window()->injectMouseWheel(0.0f, -100.0f);
    frames(3);
    window()->saveScreenshot(shotPath("session_every_type_texts.png").string());

    // A STRING is written with the capacity the controller keeps it in.
    service_.allowWrites(true);
    ASSERT_EQ(inspectorView()->requestWrite("Types.String", "'pick & place'"), "");
    inspectorView()->confirmWrite(true);
    const auto row = [&] {
        return *std::find_if(inspector().rows().begin(), inspector().rows().end(),
                             [](const auto& r) { return r.name == "Types.String"; });
    };
    ASSERT_TRUE(runUntil([&] { return row().writeState != vemo::WriteState::Pending; }));
    EXPECT_EQ(row().writeState, vemo::WriteState::Written) << row().writeNote;
    EXPECT_EQ(vemo::valueCellFor(row()).text, "pick & place");
}

}  // namespace

// Names and WSTRING values in eight languages: every character is drawn
// from a glyph of the tree's and the inspector's atlases, not as a
// replacement mark or '?'.
class MultilingualSession : public MainWindowSession {
protected:
    vemo::sim::Program program() const override {
        return vemo::sim::Program::fromJson(R"({"blocks": [{"name": "Zbiornik_Łódź", "number": 1, "members": [
            {"name": "Ciśnienie_źródła", "type": "WString[64]", "value": "Zażółć gęślą jaźń"},
            {"name": "Čerpadlo_příliš", "type": "WString[64]", "value": "Příliš žluťoučký kůň"},
            {"name": "Sıcaklık_İğne", "type": "WString[64]", "value": "Işık ılık süt iç"},
            {"name": "Давление_насоса", "type": "WString[64]", "value": "Съешь же ещё этих булок"},
            {"name": "Θερμοκρασία_Ωμέγα", "type": "WString[64]", "value": "Ξεσκεπάζω την ψυχοφθόρα"},
            {"name": "温度传感器", "type": "WString[64]", "value": "压力值正常"},
            {"name": "ポンプ回転数", "type": "WString[64]", "value": "ひらがなとカタカナ"},
            {"name": "압력센서", "type": "WString[64]", "value": "압력 정상"}]}]})");
    }
};

TEST_F(MultilingualSession, NamesAndValuesInEveryScriptHaveTheirGlyphs) {
    ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
    ASSERT_TRUE(runUntil([&] { return loaded(); }));
    frames(2);
    openRow(0, 0);
    constexpr int kMembers = 8;
    for (int row = 1; row <= kMembers; ++row) click(treeRow(row, 1, false));
    ASSERT_EQ(inspector().rows().size(), static_cast<std::size_t>(kMembers));
    ASSERT_TRUE(runUntil([&] {
        return std::all_of(inspector().rows().begin(), inspector().rows().end(),
                           [](const auto& row) { return !decText(row).empty(); });
    }));
    frames(10);  // the atlases are rebuilt for new characters within a few frames

    const bool cjk = std::filesystem::exists(vemo::Theme::kFallbackFontFile);
    auto glyphsMissing = [&](ui::ImGuiPanel* panel, const std::string& text) {
        std::string missing;
        inContext(panel, [&] {
            const ImFont* font = ImGui::GetIO().Fonts->Fonts[0];
            const char* end = text.data() + text.size();
            for (const char* p = text.data(); p < end;) {
                unsigned int c = 0;
                const char* at = p;
                p += ImTextCharFromUtf8(&c, p, end);
                const bool ideographic = c >= 0x3000;
                if (c > 0x20 && (cjk || !ideographic) &&
                    font->FindGlyphNoFallback(static_cast<ImWchar>(c)) == nullptr) {
                    missing.append(at, p);
                }
            }
            return 0;
        });
        return missing;
    };
    for (const auto& row : inspector().rows()) {
        EXPECT_EQ(glyphsMissing(tree()->treePanel(), row.name), "") << "tree: " << row.name;
        EXPECT_EQ(glyphsMissing(inspectorView()->panel(), row.name + decText(row)), "")
            << "inspector: " << row.name << " = " << decText(row);
    }
    window()->saveScreenshot(shotPath("session_names_in_eight_languages.png").string());
    if (!cjk) GTEST_SKIP() << "Chinese, Japanese and Korean not checked: no " << vemo::Theme::kFallbackFontFile;
}
