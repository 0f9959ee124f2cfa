// The tree view as an engineer works it, in the real main window, headless,
// against the simulator: clicks on labels, the keyboard, Ctrl+F, a search
// from far down the tree and back, copying names and addresses, adding a
// whole structure to the inspector and the tooltips.
#include "MainWindow.h"

#include "Views/InspectorView.h"
#include "Views/TreeView.h"
#include "gui_fixture.h"
#include "vemo/core/Browse.h"
#include "vemo/core/TagInspector.h"

#include "Program.h"
#include "Server.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace ui = vemo::ui;
using vemo::TreeModel;
using vemo::TreeView;
using vemo::test::inContext;

std::string clipboard() {
    char* text = SDL_GetClipboardText();
    std::string out = text != nullptr ? text : "";
    SDL_free(text);
    return out;
}

class TreeViewSession : public vemo::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        vemo::sim::ServerOptions options;
        options.port = 0;
        sim_ = std::make_unique<vemo::sim::Server>(program(), options);
        ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
        ASSERT_TRUE(runUntil([&] { return tree()->model() != nullptr && !tree()->isLoading(); }));
        frames(3);
    }
    void TearDown() override {
        sim_->stop();
        GuiTest::TearDown();
    }
    virtual vemo::sim::Program program() const { return vemo::sim::Program::builtIn(); }

    TreeView* tree() const { return mainWindow_->treeView(); }
    const TreeModel& model() const { return *tree()->model(); }
    vemo::TagInspector& inspector() const { return *tree()->inspector(); }
    ui::ImGuiPanel* treePanel() const { return tree()->treePanel(); }

    std::uint32_t node(const std::string& path) const {
        const std::uint32_t found = model().find(path);
        EXPECT_NE(found, TreeModel::kNone) << path;
        return found;
    }
    std::string pathOf(std::uint32_t n) const { return n == TreeModel::kNone ? "(none)" : model().fullPath(n); }
    std::vector<std::string> rowPaths() const {
        std::vector<std::string> out;
        for (std::uint32_t row : tree()->rows()) out.push_back(model().fullPath(row));
        return out;
    }
    std::vector<std::string> openPaths() const {
        std::vector<std::string> out;
        for (std::uint32_t n = 0; n < model().size(); ++n) {
            if (tree()->isOpen(n)) out.push_back(model().fullPath(n));
        }
        return out;
    }
    std::vector<std::string> inspected() const {
        std::vector<std::string> out;
        for (const auto& row : inspector().rows()) out.push_back(row.name);
        return out;
    }

    // A point on the row of `path` (which must be a row): on its arrow, or
    // on its icon. Rows are a fixed height apart below the panel's padding,
    // indented per level; the arrow is as wide as the font.
    ui::Vec2 rowPoint(const std::string& path, bool arrow = false) const {
        const std::uint32_t n = node(path);
        const auto& rows = tree()->rows();
        const auto at = std::find(rows.begin(), rows.end(), n);
        EXPECT_NE(at, rows.end()) << path << " is no row";
        const auto row = static_cast<float>(at - rows.begin());
        struct Metrics {
            float font;
            ImGuiStyle style;
        };
        const Metrics m = inContext(treePanel(), [] { return Metrics{ImGui::GetFontSize(), ImGui::GetStyle()}; });
        const float y = m.style.WindowPadding.y + row * TreeView::kRowHeight + TreeView::kIconSize * 0.5f;
        const float indent = m.style.WindowPadding.x + static_cast<float>(model().depth(n)) * m.style.IndentSpacing;
        const float x = arrow ? indent + m.font * 0.5f : indent + m.font + m.style.ItemInnerSpacing.x + 10.0f;
        return treePanel()->getWorldPosition() + ui::Vec2{x, y};
    }
    void click(ui::Vec2 at) {
        window()->injectClick(at.x, at.y);
        frames(2);
    }
    void clickLabel(const std::string& path) {
        const ui::Vec2 at = rowPoint(path);
        window()->injectClick(at.x, at.y);
        frames(2);
    }
    void rightClick(const std::string& path) {
        const ui::Vec2 at = rowPoint(path);
        window()->injectMouseMove(at.x, at.y);
        window()->injectMouseButton(at.x, at.y, ui::MouseButton::Right, true);
        window()->injectMouseButton(at.x, at.y, ui::MouseButton::Right, false);
        frames(2);
    }
    void hover(const std::string& path) {
        const ui::Vec2 at = rowPoint(path);
        window()->injectMouseMove(at.x, at.y);
        frames(2);
    }
    void press(int scancode, std::uint16_t modifiers = 0) {
        window()->injectKeyPress(scancode, modifiers);
        frames(2);
    }
    // Ctrl held down around a key, and let go a frame after it, as a hand
    // does (a panel sees the modifiers as they are at its frame).
    void pressWithCtrl(int scancode, std::uint16_t more = 0) {
        window()->injectKey(SDL_SCANCODE_LCTRL, true, KMOD_LCTRL);
        window()->injectKeyPress(scancode, KMOD_LCTRL | more);
        frames(2);
        window()->injectKey(SDL_SCANCODE_LCTRL, false, 0);
        frames(1);
    }
    void type(const std::string& text) {
        window()->injectText(text);
        frames(2);
    }
    void waitForSearch() {
        ASSERT_TRUE(runUntil([&] { return !tree()->isFiltering(); }));
        frames(2);
    }
    // Ctrl+F, then the text over whatever the box held.
    void search(const std::string& text) {
        pressWithCtrl(SDL_SCANCODE_F);
        frames(1);
        if (text.empty()) {
            press(SDL_SCANCODE_BACKSPACE);
        } else {
            type(text);
        }
        ASSERT_EQ(tree()->filterText(), text);
        waitForSearch();
    }
    // The row band on screen holds the row of `n` whole.
    bool inView(std::uint32_t n) const {
        const auto& rows = tree()->rows();
        const auto at = std::find(rows.begin(), rows.end(), n);
        if (at == rows.end()) return false;
        const float y = static_cast<float>(at - rows.begin()) * TreeView::kRowHeight;
        const float top = tree()->scrollView()->getScrollOffset();
        return y >= top && y + TreeView::kRowHeight <= top + tree()->scrollView()->getActualSize().y;
    }

    // The centre of item `index` of the open popup's vertical list, counting
    // a separator before `separatorBefore` (ImGui lays items one text line
    // and one spacing apart; a separator is one pixel and a spacing).
    ui::Vec2 popupItem(int index, int separatorBefore = 1000) const {
        const ImVec2 at = inContext(treePanel(), [&] {
            const ImGuiContext& g = *ImGui::GetCurrentContext();
            const ImGuiWindow* popup = g.OpenPopupStack.back().Window;
            const float line = ImGui::GetTextLineHeight();
            const float spacing = ImGui::GetStyle().ItemSpacing.y;
            float y = popup->DC.CursorStartPos.y + static_cast<float>(index) * (line + spacing) + line * 0.5f;
            if (index >= separatorBefore) y += 1.0f + spacing;
            return ImVec2(popup->DC.CursorStartPos.x + 40.0f, y);
        });
        return treePanel()->getWorldPosition() + ui::Vec2{at.x, at.y};
    }
    bool popupOpen() const {
        return inContext(treePanel(), [] {
            return ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId | ImGuiPopupFlags_AnyPopupLevel);
        });
    }
    // The menu's items: Copy name, Copy address, a separator, Add to inspector.
    static constexpr int kCopyName = 0;
    static constexpr int kCopyAddress = 1;
    static constexpr int kAddToInspector = 2;
    void menuItem(const std::string& path, int index) {
        rightClick(path);
        ASSERT_TRUE(popupOpen()) << "no menu on " << path;
        const ui::Vec2 at = popupItem(index, 2);
        window()->injectClick(at.x, at.y);
        frames(3);
    }

    std::unique_ptr<vemo::sim::Server> sim_;
};

TEST_F(TreeViewSession, AClickOnALabelOpensOrClosesANodeAndAddsAVariable) {
    struct Step {
        const char* click;
        std::vector<std::string> open;
        std::vector<std::string> inspected;
    };
    // A closed node keeps the state of the nodes below it.
    const Step steps[] = {
        {"Conveyor", {"Conveyor"}, {}},
        {"Conveyor.Motors", {"Conveyor", "Conveyor.Motors"}, {}},
        {"Conveyor.Motors[2]", {"Conveyor", "Conveyor.Motors", "Conveyor.Motors[2]"}, {}},
        {"Conveyor.Motors[2].Speed",
         {"Conveyor", "Conveyor.Motors", "Conveyor.Motors[2]"},
         {"Conveyor.Motors[2].Speed"}},
        {"Conveyor.Motors", {"Conveyor", "Conveyor.Motors[2]"}, {"Conveyor.Motors[2].Speed"}},
        {"Conveyor.BeltSpeed", {"Conveyor", "Conveyor.Motors[2]"}, {"Conveyor.Motors[2].Speed", "Conveyor.BeltSpeed"}},
        {"Conveyor", {"Conveyor.Motors[2]"}, {"Conveyor.Motors[2].Speed", "Conveyor.BeltSpeed"}},
    };
    for (const Step& step : steps) {
        clickLabel(step.click);
        EXPECT_EQ(openPaths(), step.open) << step.click;
        EXPECT_EQ(inspected(), step.inspected) << step.click;
        EXPECT_EQ(pathOf(tree()->selected()), step.click) << "a click selects the row";
    }
    EXPECT_EQ(window()->focusedWidget(), treePanel());
    clickLabel("Conveyor");
    clickLabel("Conveyor.Motors");
    EXPECT_EQ(rowPaths().size(), 8u + 7u + 3u + 6u) << "the blocks, Conveyor's members, Motors and [2]'s";
    window()->saveScreenshot((std::filesystem::path(VEMO_TEST_OUTPUT_DIR) / "tree_selected_row.png").string());
}

TEST_F(TreeViewSession, TheKeysMoveTheSelectionAndOpenAndCloseNodes) {
    clickLabel("Conveyor");  // opens it and gives the tree the keyboard
    struct Step {
        int key;
        const char* selected;
        std::vector<std::string> open;
    };
    const std::vector<std::string> conveyor = {"Conveyor"};
    const std::vector<std::string> motors = {"Conveyor", "Conveyor.Motors"};
    const std::vector<std::string> motor1 = {"Conveyor", "Conveyor.Motors", "Conveyor.Motors[1]"};
    const Step steps[] = {
        {SDL_SCANCODE_DOWN, "Conveyor.Motors", conveyor},
        {SDL_SCANCODE_RIGHT, "Conveyor.Motors", motors},             // opens
        {SDL_SCANCODE_RIGHT, "Conveyor.Motors[1]", motors},          // to the first child
        {SDL_SCANCODE_RIGHT, "Conveyor.Motors[1]", motor1},          // opens
        {SDL_SCANCODE_DOWN, "Conveyor.Motors[1].Running", motor1},   //
        {SDL_SCANCODE_RIGHT, "Conveyor.Motors[1].Running", motor1},  // a leaf: nothing
        {SDL_SCANCODE_LEFT, "Conveyor.Motors[1]", motor1},           // a leaf: to the parent
        {SDL_SCANCODE_LEFT, "Conveyor.Motors[1]", motors},           // closes
        {SDL_SCANCODE_DOWN, "Conveyor.Motors[2]", motors},           // past the closed [1]
        {SDL_SCANCODE_LEFT, "Conveyor.Motors", motors},              // a closed node: to the parent
        {SDL_SCANCODE_LEFT, "Conveyor.Motors", conveyor},            // closes
        {SDL_SCANCODE_DOWN, "Conveyor.BeltSpeed", conveyor},         // past the closed Motors
        {SDL_SCANCODE_UP, "Conveyor.Motors", conveyor},              //
        {SDL_SCANCODE_HOME, "Conveyor", conveyor},                   //
        {SDL_SCANCODE_UP, "Conveyor", conveyor},                     // stays at the top
        {SDL_SCANCODE_LEFT, "Conveyor", {}},                         // closes
        {SDL_SCANCODE_LEFT, "Conveyor", {}},                         // a block has no parent
        {SDL_SCANCODE_END, "S7Counters", {}},                        //
        {SDL_SCANCODE_DOWN, "S7Counters", {}},                       // stays at the bottom
        {SDL_SCANCODE_UP, "S7Timers", {}},                           //
        {SDL_SCANCODE_HOME, "Conveyor", {}},                         //
        {SDL_SCANCODE_RETURN, "Conveyor", conveyor},                 // Enter opens
        {SDL_SCANCODE_RETURN, "Conveyor", {}},                       // and closes
        {SDL_SCANCODE_KP_ENTER, "Conveyor", conveyor},               // so does the keypad's
    };
    for (const Step& step : steps) {
        press(step.key);
        EXPECT_EQ(pathOf(tree()->selected()), step.selected)
            << SDL_GetScancodeName(static_cast<SDL_Scancode>(step.key));
        EXPECT_EQ(openPaths(), step.open) << SDL_GetScancodeName(static_cast<SDL_Scancode>(step.key));
    }
    // Enter on a variable adds it.
    press(SDL_SCANCODE_DOWN);
    press(SDL_SCANCODE_DOWN);
    press(SDL_SCANCODE_RETURN);
    EXPECT_EQ(inspected(), (std::vector<std::string>{"Conveyor.BeltSpeed"}));
    EXPECT_EQ(openPaths(), conveyor);

    // Without the focus the keys are not the tree's.
    click(vemo::test::centerOf(tree()->headerPanel()));
    press(SDL_SCANCODE_HOME);
    EXPECT_EQ(pathOf(tree()->selected()), "Conveyor.BeltSpeed");
}

TEST_F(TreeViewSession, PageKeysMoveAViewfulAndTheSelectionStaysInView) {
    for (std::uint32_t n = 0; n < model().size(); ++n) {
        if (model().hasChildren(n)) tree()->setOpen(n, true);
    }
    frames(2);
    clickLabel("Conveyor.Motors");  // closes it again, and focuses the tree
    const auto& rows = tree()->rows();
    ASSERT_GT(rows.size(), 60u);
    const auto page =
        static_cast<std::size_t>(std::floor(tree()->scrollView()->getActualSize().y / TreeView::kRowHeight) - 1.0f);
    ASSERT_GT(page, 5u);
    struct Step {
        int key;
        std::size_t row;
    };
    const Step steps[] = {
        {SDL_SCANCODE_HOME, 0},
        {SDL_SCANCODE_PAGEDOWN, page},
        {SDL_SCANCODE_PAGEDOWN, 2 * page},
        {SDL_SCANCODE_PAGEUP, page},
        {SDL_SCANCODE_END, rows.size() - 1},
        {SDL_SCANCODE_PAGEDOWN, rows.size() - 1},
        {SDL_SCANCODE_PAGEUP, rows.size() - 1 - page},
        {SDL_SCANCODE_HOME, 0},
        {SDL_SCANCODE_PAGEUP, 0},
    };
    for (const Step& step : steps) {
        press(step.key);
        const char* key = SDL_GetScancodeName(static_cast<SDL_Scancode>(step.key));
        ASSERT_EQ(pathOf(tree()->selected()), pathOf(rows[step.row])) << key;
        EXPECT_TRUE(inView(tree()->selected()))
            << key << " to row " << step.row << ", scrolled to " << tree()->scrollView()->getScrollOffset();
    }
}

TEST_F(TreeViewSession, CtrlFGoesToTheSearchBoxFromAnywhereAndSelectsItsText) {
    // The inspector has the keyboard.
    click(vemo::test::centerOf(vemo::test::findAll<vemo::InspectorView>(window()->getRootWidget()).at(0)));
    ASSERT_NE(window()->focusedWidget(), tree()->headerPanel());
    pressWithCtrl(SDL_SCANCODE_F);
    frames(1);
    EXPECT_EQ(window()->focusedWidget(), tree()->headerPanel());
    type("speed");
    EXPECT_EQ(tree()->filterText(), "speed");

    // From the tree: the text there is selected, and typing replaces it.
    waitForSearch();
    clickLabel("Conveyor");
    ASSERT_EQ(window()->focusedWidget(), treePanel());
    pressWithCtrl(SDL_SCANCODE_F);
    frames(1);
    type("level");
    EXPECT_EQ(tree()->filterText(), "level");
    // Down goes on to the rows.
    press(SDL_SCANCODE_DOWN);
    EXPECT_EQ(window()->focusedWidget(), treePanel());
}

TEST_F(TreeViewSession, CopiesTheNameOrTheAddressFromTheMenuAndWithCtrlC) {
    clickLabel("Conveyor");
    clickLabel("Tank");
    clickLabel("Tank.LevelLimits");
    clickLabel("Tank.LevelLimits[1]");
    const std::string beltSpeed = vemo::itemAddressText(model().symbol(node("Conveyor.BeltSpeed"))->address);
    const std::string limit = vemo::itemAddressText(model().symbol(node("Tank.LevelLimits[1][0]"))->address);
    EXPECT_EQ(beltSpeed.rfind("0x8A0E0001/", 0), 0u) << beltSpeed;
    EXPECT_NE(limit, beltSpeed);
    struct Case {
        const char* row;
        int item;
        const std::string text;
    };
    const Case cases[] = {
        {"Conveyor.BeltSpeed", kCopyName, "Conveyor.BeltSpeed"},
        {"Conveyor.BeltSpeed", kCopyAddress, beltSpeed},
        // The variable's own name, as the inspector and vemo-s7 take it.
        {"Tank.LevelLimits[1][0]", kCopyName, "Tank.LevelLimits[1,0]"},
        {"Tank.LevelLimits[1][0]", kCopyAddress, limit},
        // A node without a variable has a name but no address.
        {"Tank.LevelLimits[1]", kCopyName, "Tank.LevelLimits[1]"},
        {"Tank.LevelLimits[1]", kCopyAddress, "(unchanged)"},
        {"Tank", kCopyName, "Tank"},
    };
    for (const Case& c : cases) {
        SDL_SetClipboardText("(unchanged)");
        menuItem(c.row, c.item);
        EXPECT_EQ(clipboard(), c.text) << c.row << " item " << c.item;
        // A disabled item does nothing, and the menu stays until Escape.
        ASSERT_EQ(popupOpen(), c.text == "(unchanged)") << c.row << " item " << c.item;
        press(SDL_SCANCODE_ESCAPE);
        EXPECT_FALSE(popupOpen());
    }

    // The keyboard copies the selected row.
    clickLabel("Conveyor.BeltSpeed");
    pressWithCtrl(SDL_SCANCODE_C);
    EXPECT_EQ(clipboard(), "Conveyor.BeltSpeed");
    pressWithCtrl(SDL_SCANCODE_C, KMOD_LSHIFT);
    EXPECT_EQ(clipboard(), beltSpeed);
}

// A line with a structure of three pumps, an array as many as the
// inspector takes without asking and one more, a long array and names too
// long for the tree's width.
class PlantSession : public TreeViewSession {
protected:
    vemo::sim::Program program() const override {
        return vemo::sim::Program::fromJson(R"({
            "types": [{"name": "Pump", "members": [
                {"name": "Speed", "type": "Real"}, {"name": "Running", "type": "Bool"}]}],
            "blocks": [{"name": "Plant", "number": 1, "members": [
                {"name": "Values", "type": "Array[0..599] of Int"},
                {"name": "Pumps", "type": "Array[1..3] of Pump"},
                {"name": "Exactly", "type": "Array[1..500] of Int"},
                {"name": "OneMore", "type": "Array[0..500] of Int"},
                {"name": "Discharge_pressure_transmitter_upstream_of_the_second_filter_stage", "type": "Real"},
                {"name": "Booster_pumps_of_the_north_station_by_their_position_along_the_line", "type": "Array[1..2] of Pump"}
            ]}]})");
    }
    static constexpr const char* kLongLeaf = "Plant.Discharge_pressure_transmitter_upstream_of_the_second_filter_stage";
    static constexpr const char* kLongGroup =
        "Plant.Booster_pumps_of_the_north_station_by_their_position_along_the_line";
};

TEST_F(PlantSession, ASearchShowsItsMatchesFromTheTopAndEmptyingItRestoresTheTree) {
    clickLabel("Plant");
    clickLabel("Plant.Exactly");
    frames(2);
    tree()->scrollView()->setScrollOffset(tree()->scrollView()->getMaxScroll());
    frames(2);
    const float scrolled = tree()->scrollView()->getScrollOffset();
    ASSERT_GT(scrolled, 400.0f * TreeView::kRowHeight);
    const std::vector<std::string> open = {"Plant", "Plant.Exactly"};
    ASSERT_EQ(openPaths(), open);

    // More results than the view holds, in a closed array: [5], [50] to
    // [59] and [500] to [599].
    search("values[5");
    EXPECT_EQ(tree()->scrollView()->getScrollOffset(), 0.0f);
    const std::vector<std::string> rows = rowPaths();
    ASSERT_EQ(rows.size(), 2u + 1u + 10u + 100u);
    EXPECT_EQ(std::vector<std::string>(rows.begin(), rows.begin() + 4),
              (std::vector<std::string>{"Plant", "Plant.Values", "Plant.Values[5]", "Plant.Values[50]"}));
    // Nested matches open every node above them.
    search("pumps[2].sp");
    EXPECT_EQ(rowPaths(), (std::vector<std::string>{"Plant", "Plant.Pumps", "Plant.Pumps[2]", "Plant.Pumps[2].Speed"}));
    window()->saveScreenshot((std::filesystem::path(VEMO_TEST_OUTPUT_DIR) / "tree_search_opened.png").string());
    // Another search starts from the user's tree, not from this one's.
    search("booster");
    EXPECT_EQ(rowPaths(), (std::vector<std::string>{"Plant", kLongGroup}));
    EXPECT_FALSE(tree()->isOpen(node("Plant.Pumps")));

    search("");
    EXPECT_EQ(openPaths(), open);
    EXPECT_EQ(tree()->scrollView()->getScrollOffset(), scrolled);

    // A row picked among the results stays in sight once the box is empty.
    search("pumps[2].sp");
    clickLabel("Plant.Pumps[2].Speed");
    search("");
    EXPECT_EQ(openPaths(), (std::vector<std::string>{"Plant", "Plant.Pumps", "Plant.Pumps[2]", "Plant.Exactly"}));
    EXPECT_EQ(pathOf(tree()->selected()), "Plant.Pumps[2].Speed");
    EXPECT_TRUE(inView(tree()->selected()));

    // What the user closes while a search is shown stays closed after it.
    search("pumps[2].sp");
    clickLabel("Plant.Pumps");
    search("");
    EXPECT_EQ(openPaths(), (std::vector<std::string>{"Plant", "Plant.Pumps[2]", "Plant.Exactly"}));
}

TEST_F(PlantSession, AddToInspectorAddsAStructuresVariablesAndAsksAboveFiveHundred) {
    clickLabel("Plant");
    enum class Answer { NotAsked, Add, Cancel, Escape };
    struct Case {
        const char* row;
        std::size_t asked;  // variables below it
        Answer answer;
        std::size_t added;
    };
    const Case cases[] = {
        {"Plant.Pumps", 6, Answer::NotAsked, 6},  {"Plant.Exactly", 500, Answer::NotAsked, 500},
        {"Plant.OneMore", 501, Answer::Add, 501}, {"Plant.Values", 600, Answer::Cancel, 0},
        {"Plant.Values", 600, Answer::Escape, 0},
    };
    for (const Case& c : cases) {
        inspector().clear();
        menuItem(c.row, kAddToInspector);
        if (c.answer == Answer::NotAsked) {
            EXPECT_EQ(tree()->pendingAdd(), 0u) << c.row;
            EXPECT_EQ(inspector().rows().size(), c.added) << c.row;
            continue;
        }
        ASSERT_EQ(tree()->pendingAdd(), c.asked) << c.row;
        ASSERT_TRUE(popupOpen()) << c.row;
        EXPECT_TRUE(inspector().rows().empty()) << c.row << ": nothing before the answer";
        // The confirmation's buttons, Add and Cancel, below its text and a
        // separator.
        const ImVec2 buttons = inContext(treePanel(), [] {
            const ImGuiWindow* modal = ImGui::GetCurrentContext()->OpenPopupStack.back().Window;
            const float spacing = ImGui::GetStyle().ItemSpacing.y;
            const float below = ImGui::GetTextLineHeight() + spacing + 1.0f + spacing;
            return ImVec2(modal->DC.CursorStartPos.x + 60.0f,
                          modal->DC.CursorStartPos.y + below + ImGui::GetFrameHeight() * 0.5f);
        });
        const ui::Vec2 add = treePanel()->getWorldPosition() + ui::Vec2{buttons.x, buttons.y};
        switch (c.answer) {
        case Answer::Add:
            window()->saveScreenshot(
                (std::filesystem::path(VEMO_TEST_OUTPUT_DIR) / "tree_add_confirmation.png").string());
            click(add);
            break;
        case Answer::Cancel: click(add + ui::Vec2{120.0f + 8.0f, 0.0f}); break;
        default: press(SDL_SCANCODE_ESCAPE); break;
        }
        frames(2);
        EXPECT_EQ(tree()->pendingAdd(), 0u) << c.row;
        EXPECT_FALSE(popupOpen()) << c.row;
        EXPECT_EQ(inspector().rows().size(), c.added) << c.row;
    }
    inspector().clear();
    menuItem("Plant.Pumps", kAddToInspector);
    EXPECT_EQ(inspected(),
              (std::vector<std::string>{"Plant.Pumps[1].Speed", "Plant.Pumps[1].Running", "Plant.Pumps[2].Speed",
                                        "Plant.Pumps[2].Running", "Plant.Pumps[3].Speed", "Plant.Pumps[3].Running"}));
    // Under a search only what it shows.
    inspector().clear();
    search("running");
    menuItem("Plant.Pumps", kAddToInspector);
    EXPECT_EQ(inspected(),
              (std::vector<std::string>{"Plant.Pumps[1].Running", "Plant.Pumps[2].Running", "Plant.Pumps[3].Running"}));
}

TEST_F(PlantSession, TooltipsGiveAVariablesNameTypeAndAddressAndAClippedLabelsName) {
    clickLabel("Plant");
    clickLabel("Plant.Pumps");
    clickLabel("Plant.Pumps[1]");
    const auto variable = [&](const std::string& path, const char* type) {
        return path + "\nDatatype: " + type +
               "\nAddress: " + vemo::itemAddressText(model().symbol(node(path))->address);
    };
    struct Case {
        std::string row;
        std::string tooltip;
    };
    const Case cases[] = {
        {"Plant.Pumps[1].Speed", variable("Plant.Pumps[1].Speed", "REAL")},
        {kLongLeaf, variable(kLongLeaf, "REAL")},
        {kLongGroup, kLongGroup},  // clipped: its name
        {"Plant.Pumps", ""},       // fits: nothing to tell
        {"Plant", "DB-Number: 1"},
    };
    for (const Case& c : cases) {
        hover(c.row);
        EXPECT_EQ(tree()->tooltip(), c.tooltip) << c.row;
    }
    hover(kLongLeaf);
    window()->saveScreenshot((std::filesystem::path(VEMO_TEST_OUTPUT_DIR) / "tree_long_name_tooltip.png").string());

    // The keys move the selection: no tooltip over the rows until the
    // mouse moves again.
    press(SDL_SCANCODE_DOWN);
    EXPECT_EQ(tree()->tooltip(), "");
    hover("Plant.Pumps[1].Speed");
    EXPECT_EQ(tree()->tooltip(), cases[0].tooltip);
    // Nor when they scroll other rows under it.
    tree()->setOpen(node("Plant.Values"), true);
    frames(2);
    hover("Plant");
    ASSERT_EQ(tree()->tooltip(), "DB-Number: 1");
    press(SDL_SCANCODE_END);
    ASSERT_GT(tree()->scrollView()->getScrollOffset(), 500.0f * TreeView::kRowHeight);
    EXPECT_EQ(tree()->tooltip(), "");
}

}  // namespace
