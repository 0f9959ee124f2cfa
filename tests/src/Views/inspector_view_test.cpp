// The inspector's table in the real main window, headless, with rows added
// as the tree adds them, on a connection to a controller that answers no
// request (the rows keep waiting for their first values): its header while
// the rows scroll, selecting with the mouse and the keyboard, removing,
// copying, exporting, and the columns' widths.
#include "MainWindow.h"

#include "Faults.h"
#include "Server.h"
#include "Views/InspectorView.h"
#include "Views/MessageBarView.h"
#include "Views/TreeView.h"
#include "gui_fixture.h"
#include "test_symbols.h"
#include "vemo/core/TagInspector.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace ui = vemo::ui;
using vemo::InspectorView;
using Names = std::vector<std::string>;

class InspectorViewTest : public vemo::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        // Rows are added only on a live connection. The tree's load takes
        // the one worker and waits there for its first answer, so that no
        // refresh changes the rows under the test.
        vemo::sim::ServerOptions options;
        options.port = 0;
        // The connect itself takes four requests (create, set-values, get-level
        // and the limits read).
        options.controller.fault = vemo::sim::Fault::parse("stall-at-request", 5);
        sim_ = std::make_unique<vemo::sim::Server>(vemo::sim::Program::builtIn(), options);
        ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
        frames(2);
    }
    void TearDown() override {
        sim_->stop();
        GuiTest::TearDown();
    }

    InspectorView* view() const { return mainWindow_->inspectorView(); }
    vemo::TagInspector& inspector() const { return *mainWindow_->treeView()->inspector(); }

    // Rows as the tree adds them, in this order.
    void add(const std::vector<vemo::test::TestSymbol>& symbols) {
        const vemo::test::OwnedSymbols tags(symbols);
        for (std::size_t i = 0; i < tags.size(); ++i) inspector().add(tags.at(i));
    }
    // DB1.Tag1 to DB1.TagN, REAL.
    static std::vector<vemo::test::TestSymbol> tags(int n) {
        std::vector<vemo::test::TestSymbol> symbols;
        for (int i = 1; i <= n; ++i) symbols.push_back({"DB1.Tag" + std::to_string(i), S7_DATATYPE_REAL});
        return symbols;
    }
    Names rows() const {
        Names names;
        for (const auto& row : inspector().rows()) names.push_back(row.name);
        return names;
    }
    Names selected() const { return view()->table().selected(inspector().rows()); }

    void moveTo(ui::Vec2 at) {
        window()->injectMouseMove(at.x, at.y);
        frames(1);
    }
    // A click on the row's name, the modifier key held around it, as a
    // person's hand does.
    void clickRow(const std::string& name, SDL_Scancode modifier = SDL_SCANCODE_UNKNOWN, std::uint16_t mod = 0) {
        const std::optional<ui::Vec2> at = view()->cellCenter(name, 0);
        ASSERT_TRUE(at) << name << " is not drawn";
        moveTo(*at);
        if (mod != 0) {
            window()->injectKey(modifier, true, mod);
            frames(1);
        }
        window()->injectClick(at->x, at->y);
        frames(2);
        if (mod != 0) {
            window()->injectKey(modifier, false, 0);
            frames(1);
        }
    }
    void press(SDL_Scancode key, std::uint16_t mod = 0) {
        window()->injectKeyPress(key, mod);
        frames(2);
    }

    std::unique_ptr<vemo::sim::Server> sim_;
};

TEST_F(InspectorViewTest, TheHeaderStaysWhileTheRowsScrollUnderItAndSortsOnAClick) {
    std::vector<vemo::test::TestSymbol> symbols = tags(40);
    add(std::vector<vemo::test::TestSymbol>(symbols.rbegin(), symbols.rend()));  // DB1.Tag40 first
    frames(3);
    const std::optional<ui::Vec2> header = view()->headerCenter(0);
    ASSERT_TRUE(header);
    ASSERT_TRUE(view()->cellCenter("DB1.Tag40", 0));
    ASSERT_FALSE(view()->cellCenter("DB1.Tag1", 0)) << "40 rows do not fit: the last is out of view";

    // Down to the end: the table learns the height of rows it has not drawn
    // yet as it scrolls over them, so the end may take a second turn.
    moveTo(vemo::test::centerOf(view()));
    for (int turn = 0; turn < 2; ++turn) {
        window()->injectMouseWheel(0.0f, -100.0f);
        frames(2);
    }
    EXPECT_FALSE(view()->cellCenter("DB1.Tag40", 0)) << "scrolled to the end";
    EXPECT_TRUE(view()->cellCenter("DB1.Tag1", 0));
    const std::optional<ui::Vec2> scrolledHeader = view()->headerCenter(0);
    ASSERT_TRUE(scrolledHeader);
    EXPECT_EQ(scrolledHeader->y, header->y) << "the header stays where it was";
    window()->saveScreenshot((fs::path(VEMO_TEST_OUTPUT_DIR) / "inspector_scrolled.png").string());

    // A click on that header sorts by name: Tag40 is the last row now, and
    // the view is still at the end.
    moveTo(*scrolledHeader);
    window()->injectClick(scrolledHeader->x, scrolledHeader->y);
    frames(3);
    EXPECT_EQ(view()->table().sort(), (vemo::InspectorTable::Sort{vemo::InspectorTable::SortKey::Name, false}));
    EXPECT_TRUE(view()->cellCenter("DB1.Tag40", 0));
    EXPECT_FALSE(view()->cellCenter("DB1.Tag1", 0));
    EXPECT_EQ(rows().front(), "DB1.Tag40") << "the inspector keeps its own order";
}

TEST_F(InspectorViewTest, ClicksWithCtrlAndShiftSelectAndDeleteRemovesTheSelectedRows) {
    add(tags(6));
    frames(2);
    clickRow("DB1.Tag2");
    EXPECT_EQ(selected(), (Names{"DB1.Tag2"}));
    clickRow("DB1.Tag4", SDL_SCANCODE_LCTRL, KMOD_LCTRL);
    EXPECT_EQ(selected(), (Names{"DB1.Tag2", "DB1.Tag4"}));
    clickRow("DB1.Tag6", SDL_SCANCODE_LSHIFT, KMOD_LSHIFT);
    EXPECT_EQ(selected(), (Names{"DB1.Tag4", "DB1.Tag5", "DB1.Tag6"}));

    press(SDL_SCANCODE_DELETE);
    EXPECT_EQ(rows(), (Names{"DB1.Tag1", "DB1.Tag2", "DB1.Tag3"})) << "three rows go without asking";
    EXPECT_TRUE(selected().empty());

    press(SDL_SCANCODE_A, KMOD_LCTRL);
    EXPECT_EQ(selected(), (Names{"DB1.Tag1", "DB1.Tag2", "DB1.Tag3"}));
    press(SDL_SCANCODE_ESCAPE);
    EXPECT_TRUE(selected().empty());
    press(SDL_SCANCODE_DELETE);
    EXPECT_EQ(rows().size(), 3u) << "Delete without a selection removes nothing";
}

TEST_F(InspectorViewTest, RemovingMoreThanAFewRowsAtOnceAsksFirst) {
    add(tags(3));
    frames(2);
    view()->clearAll();
    EXPECT_TRUE(rows().empty()) << "three rows go at once";
    EXPECT_EQ(view()->pendingRemovalCount(), 0u);

    add(tags(5));
    frames(2);
    clickRow("DB1.Tag1");  // the keys go to the inspector now
    view()->clearAll();
    EXPECT_EQ(view()->pendingRemovalCount(), 5u);
    frames(3);
    EXPECT_EQ(rows().size(), 5u) << "nothing goes while the question is open";
    window()->saveScreenshot((fs::path(VEMO_TEST_OUTPUT_DIR) / "inspector_clear_all.png").string());
    press(SDL_SCANCODE_ESCAPE);  // the dialog's Cancel
    EXPECT_EQ(view()->pendingRemovalCount(), 0u);
    EXPECT_EQ(rows().size(), 5u);

    // Delete asks the same for more than three selected rows.
    press(SDL_SCANCODE_A, KMOD_LCTRL);
    press(SDL_SCANCODE_DELETE);
    EXPECT_EQ(view()->pendingRemoval(), rows());
    view()->confirmRemoval(true);
    EXPECT_TRUE(rows().empty());
}

// However many rows, a frame formats and lays out only those in view, and
// "Clear all" asks by their number without copying their names.
TEST_F(InspectorViewTest, OnlyTheRowsInViewAreBuiltAndClearingManyAsksByTheirNumber) {
    const vemo::test::OwnedSymbols symbols(tags(20000));
    std::vector<const s7_symbol*> all;
    for (std::size_t i = 0; i < symbols.size(); ++i) all.push_back(symbols.at(i));
    ASSERT_EQ(inspector().add(all), 20000u);
    frames(2);
    EXPECT_GT(view()->rowsBuilt(), 0u);
    EXPECT_LT(view()->rowsBuilt(), 100u);
    EXPECT_TRUE(view()->cellCenter("DB1.Tag1", 0));

    view()->clearAll();
    EXPECT_EQ(view()->pendingRemovalCount(), 20000u);
    EXPECT_TRUE(view()->pendingRemoval().empty());
    frames(2);
    EXPECT_EQ(rows().size(), 20000u) << "nothing goes while the question is open";
    view()->confirmRemoval(true);
    EXPECT_TRUE(rows().empty());
    frames(2);
    EXPECT_EQ(view()->rowsBuilt(), 0u);
}

TEST_F(InspectorViewTest, CtrlCPutsTheSelectedRowsOnTheClipboardForASpreadsheet) {
    add({{"DB1.Speed", S7_DATATYPE_REAL}, {"DB1.Count", S7_DATATYPE_DINT}, {"DB1.Flag", S7_DATATYPE_BOOL}});
    frames(2);
    SDL_SetClipboardText("before");
    clickRow("DB1.Flag");
    clickRow("DB1.Speed", SDL_SCANCODE_LCTRL, KMOD_LCTRL);
    press(SDL_SCANCODE_C, KMOD_LCTRL);
    char* text = SDL_GetClipboardText();
    ASSERT_NE(text, nullptr);
    // Shown as added; no value read yet.
    EXPECT_STREQ(text, "DB1.Speed\tREAL\tDEC\t\nDB1.Flag\tBOOL\tDEC\t\n");
    SDL_free(text);
}

TEST_F(InspectorViewTest, ColumnWidthsSetBeforeTheFirstFrameAreDrawnAndReadBack) {
    const std::vector<float> set = {300.0f, 80.0f, 90.0f, 150.0f, 50.0f, 24.0f};
    view()->setColumnWidths(set);
    EXPECT_EQ(view()->columnWidths(), set) << "as set until drawn";
    frames(2);
    std::vector<float> drawn = view()->columnWidths();
    ASSERT_EQ(drawn.size(), 6u);
    EXPECT_EQ(drawn[1], 80.0f);
    EXPECT_EQ(drawn[2], 90.0f);
    // Name, Value and Modify share the rest 300 : 150 : 50.
    EXPECT_NEAR(drawn[0] / drawn[3], 2.0f, 0.03f);
    EXPECT_NEAR(drawn[3] / drawn[4], 3.0f, 0.1f);

    // Widths read back are drawn as they were read: the settings file's
    // round trip.
    std::vector<float> wider = drawn;
    wider[0] += 40.0f;
    wider[3] -= 40.0f;
    wider[1] += 20.0f;
    wider[4] -= 20.0f;
    view()->setColumnWidths(wider);
    frames(2);
    drawn = view()->columnWidths();
    ASSERT_EQ(drawn.size(), 6u);
    for (std::size_t c = 0; c < 6; ++c) EXPECT_NEAR(drawn[c], wider[c], 1.0f) << "column " << c;

    // A list of another length, and widths that are no widths, change nothing.
    view()->setColumnWidths({100.0f, 100.0f});
    view()->setColumnWidths({});
    frames(2);
    EXPECT_EQ(view()->columnWidths(), drawn);
    std::vector<float> someBad = drawn;
    someBad[1] = -5.0f;
    someBad[2] = std::nanf("");
    view()->setColumnWidths(someBad);
    frames(2);
    EXPECT_EQ(view()->columnWidths()[1], drawn[1]);
    EXPECT_EQ(view()->columnWidths()[2], drawn[2]);
}

TEST_F(InspectorViewTest, AnExportWritesEveryRowAndTheMessageBarSaysWhereOrWhyNot) {
    const fs::path folder = fs::path(VEMO_TEST_OUTPUT_DIR) / "inspector_export";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path file = folder / "watch.csv";
    const auto content = [&] {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    add(tags(2));
    frames(2);
    ASSERT_EQ(view()->exportCsv(file.string()), "");
    EXPECT_EQ(content(), view()->table().csvText(inspector().rows()));
    EXPECT_EQ(content().rfind("name,datatype,format,value,status,read_at\r\nDB1.Tag1,REAL,DEC,,waiting,\r\n", 0), 0u);
    frames(1);
    EXPECT_TRUE(mainWindow_->messageBar()->isVisible());
    EXPECT_EQ(mainWindow_->messageBar()->headline(), "Exported 2 variables to " + file.string());

    // Replaced whole by the next export.
    add(tags(3));
    ASSERT_EQ(view()->exportCsv(file.string()), "");
    EXPECT_EQ(content(), view()->table().csvText(inspector().rows()));

    const fs::path nowhere = folder / "missing" / "watch.csv";
    const std::string why = view()->exportCsv(nowhere.string());
    EXPECT_EQ(why, nowhere.string() + " cannot be written: No such file or directory");
    frames(1);
    EXPECT_EQ(mainWindow_->messageBar()->headline(), "Export failed: " + why);
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.insert(entry.path().filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"watch.csv"})) << "no temporary file is left behind";
}

}  // namespace
