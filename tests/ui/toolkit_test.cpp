// UiToolkit tests of the UI toolkit: real windows on SDL's offscreen video
// driver with the software renderer, input injected through SDL's queue.

#include <SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>
#include <imgui_stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <vector>

#include "vemo/ui/ui.h"

namespace ui = vemo::ui;

namespace {

std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Pixels of a texture with some opacity.
int opaquePixels(const ui::Texture& texture) {
    int count = 0;
    for (int y = 0; y < texture.getHeight(); ++y) {
        for (int x = 0; x < texture.getWidth(); ++x) {
            if (texture.pixel(x, y).a() > 0) ++count;
        }
    }
    return count;
}

class UiToolkit : public ::testing::Test {
protected:
    void SetUp() override {
        // Never open a real window from a test.
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        auto context = ui::RenderContext::create(ui::RenderBackend::Software, "vemo-ui-test");
        context.selectDevice(0);
        context.initialize();
        app_ = std::make_unique<ui::Application>(std::move(context), "vemo-ui-test");
        window_ = ui::Application::createWindow("test", 400, 300, ui::WindowFlag::Default);
        window_->setClearColor(0xFF101010u);
        const auto bytes = readFile(VEMO_UI_TEST_FONT);
        font_ = std::make_unique<ui::Font>(bytes.data(), bytes.size(), 0);
    }

    void TearDown() override {
        app_.reset();
        font_.reset();
    }

    ui::Widget* root() const { return window_->getRootWidget(); }
    void frames(int n) { app_->runFrames(n); }

    std::unique_ptr<ui::Application> app_;
    ui::Window* window_ = nullptr;
    std::unique_ptr<ui::Font> font_;
};

// ---- Stack layout -------------------------------------------------------------

struct ChildSizes {
    ui::Vec2 preferred;
    ui::Vec2 min{};
    ui::Vec2 max{ui::kUnbounded, ui::kUnbounded};
};

struct Box {
    float x, y, w, h;
};

struct StackCase {
    const char* name;
    int orientation;  // -1: left unset
    int distribution;
    int alignment;
    ui::Vec2 size;
    ui::Vec4 padding;
    float spacing;
    std::vector<ChildSizes> children;
    std::vector<Box> expected;
};

// A horizontal 300 x 100 stack with padding 5 and spacing 10 has an inner
// area of 290 x 90 starting at (5, 5); three children of 50, 60 and 40 wide
// use 150 + 20 = 170 of it, leaving 120.
const std::vector<ChildSizes> kThree = {{{50, 20}}, {{60, 30}}, {{40, 10}}};
const ui::Vec4 kPad{5, 5, 5, 5};

// clang-format off
const StackCase kStackCases[] = {
    {"StartPacksAtLeft", 0, 0, 0, {300, 100}, kPad, 10, kThree,
     {{5, 5, 50, 20}, {65, 5, 60, 30}, {135, 5, 40, 10}}},
    {"CenterSplitsFreeSpace", 0, 1, 0, {300, 100}, kPad, 10, kThree,
     {{65, 5, 50, 20}, {125, 5, 60, 30}, {195, 5, 40, 10}}},
    {"EndPacksAtRight", 0, 2, 0, {300, 100}, kPad, 10, kThree,
     {{125, 5, 50, 20}, {185, 5, 60, 30}, {255, 5, 40, 10}}},
    {"SpaceBetweenTouchesBothEnds", 0, 3, 0, {300, 100}, kPad, 10, kThree,
     {{5, 5, 50, 20}, {125, 5, 60, 30}, {255, 5, 40, 10}}},
    {"SpaceAroundHalvesOuterGaps", 0, 4, 0, {300, 100}, kPad, 10, kThree,
     {{25, 5, 50, 20}, {125, 5, 60, 30}, {235, 5, 40, 10}}},
    {"SpaceEvenlySharesAllGaps", 0, 5, 0, {300, 100}, kPad, 10, kThree,
     {{35, 5, 50, 20}, {125, 5, 60, 30}, {225, 5, 40, 10}}},
    // Fill: 270 to share; the fixed 4-wide divider and the child capped at
    // 100 keep their limits, the unbounded one takes the rest.
    {"FillRespectsMinAndMax", 0, 6, 0, {300, 100}, kPad, 10,
     {{{0, 20}, {}, {100, ui::kUnbounded}}, {{0, 20}, {4, 0}, {4, ui::kUnbounded}}, {{0, 20}}},
     {{5, 5, 100, 20}, {115, 5, 4, 20}, {129, 5, 166, 20}}},
    // Fill from preferred sizes too large for the space: both shrink equally,
    // the one with a minimum stops there.
    {"FillShrinksDownToMin", 0, 6, 0, {200, 50}, {}, 0,
     {{{150, 10}, {120, 0}}, {{150, 10}}},
     {{0, 0, 120, 10}, {120, 0, 80, 10}}},
    {"AlignCenterAcross", 0, 0, 1, {300, 100}, kPad, 10, kThree,
     {{5, 40, 50, 20}, {65, 35, 60, 30}, {135, 45, 40, 10}}},
    {"AlignEndAcross", 0, 0, 2, {300, 100}, kPad, 10, kThree,
     {{5, 75, 50, 20}, {65, 65, 60, 30}, {135, 85, 40, 10}}},
    // Stretch: full inner height, except where a max height caps it.
    {"AlignStretchWithinMax", 0, 0, 3, {300, 100}, kPad, 10,
     {{{50, 20}}, {{60, 30}, {}, {ui::kUnbounded, 40}}},
     {{5, 5, 50, 90}, {65, 5, 60, 40}}},
    // Unset orientation stacks top to bottom: the main window's root stack
    // (fill, stretch) with a 50-high top bar above the content row.
    {"UnsetOrientationIsVerticalFill", -1, 6, 3, {1200, 800}, {}, 0,
     {{{0, 50}, {}, {1200, 50}}, {{}}},
     {{0, 0, 1200, 50}, {0, 50, 1200, 750}}},
    {"VerticalStartWithPadding", 1, 0, 0, {100, 300}, kPad, 10, kThree,
     {{5, 5, 50, 20}, {5, 35, 60, 30}, {5, 75, 40, 10}}},
};
// clang-format on

void PrintTo(const StackCase& c, std::ostream* os) { *os << c.name; }

class UiStackLayout : public UiToolkit, public ::testing::WithParamInterface<StackCase> {};

TEST_P(UiStackLayout, PlacesChildren) {
    const StackCase& c = GetParam();
    auto* stack = new ui::Stack(root());
    if (c.orientation >= 0) stack->setOrientation(c.orientation);
    stack->setDistribution(c.distribution);
    stack->setAlignment(c.alignment);
    stack->setPadding(c.padding);
    stack->setSpacing(c.spacing);
    stack->setPreferredSize(c.size);
    std::vector<ui::Widget*> children;
    for (const ChildSizes& sizes : c.children) {
        auto* child = new ui::Rectangle(stack);
        child->setMinSize(sizes.min);
        child->setMaxSize(sizes.max);
        child->setPreferredSize(sizes.preferred);
        children.push_back(child);
    }

    frames(1);

    ASSERT_EQ(children.size(), c.expected.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE("child " + std::to_string(i));
        const ui::Vec2 p = children[i]->getPosition();
        const ui::Vec2 s = children[i]->getActualSize();
        EXPECT_FLOAT_EQ(p.x, c.expected[i].x);
        EXPECT_FLOAT_EQ(p.y, c.expected[i].y);
        EXPECT_FLOAT_EQ(s.x, c.expected[i].w);
        EXPECT_FLOAT_EQ(s.y, c.expected[i].h);
    }
}

INSTANTIATE_TEST_SUITE_P(Ui, UiStackLayout, ::testing::ValuesIn(kStackCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(UiToolkit, StackHiddenChildTakesNoSpaceAndUnknownValuesAreRefused) {
    auto* stack = new ui::Stack(root());
    stack->setOrientation(0);
    stack->setPreferredSize({200, 20});
    auto* a = new ui::Rectangle(stack);
    a->setPreferredSize({30, 10});
    auto* hidden = new ui::Rectangle(stack);
    hidden->setPreferredSize({50, 10});
    hidden->setVisible(false);
    auto* b = new ui::Rectangle(stack);
    b->setPreferredSize({30, 10});
    frames(1);
    EXPECT_FLOAT_EQ(b->getPosition().x, 30.0f);

    EXPECT_THROW(stack->setDistribution(7), std::invalid_argument);
    EXPECT_THROW(stack->setAlignment(4), std::invalid_argument);
    EXPECT_THROW(stack->setOrientation(2), std::invalid_argument);
    EXPECT_EQ(stack->getDistribution(), ui::Stack::Distribution::Start);
}

TEST_F(UiToolkit, ResizedIsCalledWhenTheLayoutChangesTheSize) {
    struct Probe : ui::Widget {
        using ui::Widget::Widget;
        void resized() override { sizes.push_back(getActualSize()); }
        std::vector<ui::Vec2> sizes;
    };
    auto* stack = new ui::Stack(root());
    stack->setDistribution(6);
    stack->setAlignment(3);
    stack->setPreferredSize({100, 100});
    auto* probe = new Probe(stack);
    frames(2);
    stack->setPreferredSize({100, 250});
    frames(1);
    ASSERT_EQ(probe->sizes.size(), 2u);
    EXPECT_EQ(probe->sizes[0], (ui::Vec2{100, 100}));
    EXPECT_EQ(probe->sizes[1], (ui::Vec2{100, 250}));

    window_->setSize(520, 240);
    frames(1);
    EXPECT_EQ(root()->getActualSize(), (ui::Vec2{520, 240})) << "the root follows the window";
    // What a main window does every tick: the stack takes the window's (integer) size.
    stack->setPreferredSize({window_->getWidth(), window_->getHeight()});
    frames(1);
    EXPECT_EQ(probe->sizes.back(), (ui::Vec2{520, 240}));
}

// ---- Main-thread dispatch, tick callbacks, lifetime -----------------------------------

TEST_F(UiToolkit, DispatchFromAnotherThreadRunsOnTheUiThreadInOrder) {
    const std::thread::id uiThread = std::this_thread::get_id();
    constexpr int kCount = 200;
    std::vector<int> order;
    std::atomic<int> offThread{0};

    // Safety net: a broken wake-up or queue must fail the test, not hang it.
    int framesLeft = 600;
    ui::Application::registerTickCallback(this, [&] {
        if (--framesLeft == 0) ui::Application::quit();
    });

    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i) {
            ui::Application::dispatchToMainThread([&, i] {
                order.push_back(i);
                if (std::this_thread::get_id() != uiThread) ++offThread;
                if (i == kCount - 1) ui::Application::quit();
            });
        }
    });
    app_->run();
    worker.join();

    ASSERT_EQ(order.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(offThread.load(), 0);
    EXPECT_GT(framesLeft, 0) << "the loop had to be stopped by the safety net";
}

TEST_F(UiToolkit, ThrowingDispatchedCallableKeepsTheRestQueuedInOrder) {
    std::vector<int> ran;
    ui::Application::dispatchToMainThread([&] { ran.push_back(1); });
    ui::Application::dispatchToMainThread([] { throw std::runtime_error("boom"); });
    ui::Application::dispatchToMainThread([&] { ran.push_back(3); });
    EXPECT_THROW(frames(1), std::runtime_error);
    EXPECT_EQ(ran, (std::vector<int>{1}));
    ui::Application::dispatchToMainThread([&] { ran.push_back(4); });
    frames(1);
    EXPECT_EQ(ran, (std::vector<int>{1, 3, 4}));
}

TEST_F(UiToolkit, TickCallbacksRunOncePerFrameUntilUnregistered) {
    int a = 0;
    int b = 0;
    int keyA = 0;
    int keyB = 0;
    ui::Application::registerTickCallback(&keyA, [&] { ++a; });
    ui::Application::registerTickCallback(&keyB, [&] {
        if (++b == 2) ui::Application::unregisterTickCallback(&keyB);  // from inside itself
    });
    frames(3);
    EXPECT_EQ(a, 3);
    EXPECT_EQ(b, 2);
    ui::Application::registerTickCallback(&keyA, [&] { a += 10; });  // same key replaces
    frames(1);
    EXPECT_EQ(a, 13);
    ui::Application::unregisterTickCallback(&keyA);
    frames(1);
    EXPECT_EQ(a, 13);
}

TEST_F(UiToolkit, FrameTimeIsReportedInMicroseconds) {
    auto* widget = new ui::Widget(root());
    frames(1);
    EXPECT_EQ(widget->getWindowContext().frameTime, 0u) << "no previous frame";
    SDL_Delay(20);
    frames(1);
    EXPECT_GE(widget->getWindowContext().frameTime, 20000u);
    EXPECT_EQ(widget->getWindowContext().frameNumber, 1u);
}

TEST_F(UiToolkit, LifetimeExpiresWithTheWidgetAndItsParent) {
    static_assert(std::is_same_v<decltype(std::declval<ui::Widget&>().lifetime()), std::weak_ptr<void>>);
    auto* own = new ui::Rectangle(root());
    const std::weak_ptr<void> ownToken = own->lifetime();
    auto* parent = new ui::Stack(root());
    auto* child = new ui::Rectangle(parent);
    const std::weak_ptr<void> childToken = child->lifetime();

    EXPECT_FALSE(ownToken.expired());
    delete own;
    EXPECT_TRUE(ownToken.expired());
    EXPECT_EQ(root()->getChildren().size(), 1u) << "a deleted widget leaves its parent";

    EXPECT_FALSE(childToken.expired());
    delete parent;
    EXPECT_TRUE(childToken.expired()) << "a parent destroys the children it owns";
}

// ---- Buttons and scrolling ---------------------------------------------------------

TEST_F(UiToolkit, ButtonClicksCallBackOnceUnlessLocked) {
    auto* button = new ui::Button(root(), {20, 20}, {100, 40});
    button->getText()->setFont(*font_);
    button->getText()->setText("Connect");
    int clicks = 0;
    button->setOnClick([&] { ++clicks; });
    frames(1);

    window_->injectClick(70, 40);
    frames(1);
    EXPECT_EQ(clicks, 1);

    button->setLocked(true);
    window_->injectClick(70, 40);
    frames(1);
    EXPECT_EQ(clicks, 1) << "a locked button ignores the click";
    EXPECT_EQ(button->currentColor(), button->getLockedColor());

    button->setLocked(false);
    // Pressed on the button, released elsewhere: no click.
    window_->injectMouseButton(70, 40, ui::MouseButton::Left, true);
    window_->injectMouseMove(300, 250);
    window_->injectMouseButton(300, 250, ui::MouseButton::Left, false);
    frames(1);
    EXPECT_EQ(clicks, 1);

    // A click on the button's text counts as a click on the button.
    const ui::Vec2 text = button->getText()->getWorldPosition() + button->getText()->getActualSize() * 0.5f;
    window_->injectClick(text.x, text.y);
    frames(1);
    EXPECT_EQ(clicks, 2);
}

TEST_F(UiToolkit, ScrollViewScrollsWithTheWheelAndClipsItsContent) {
    auto* view = new ui::ScrollView(root());
    view->setPosition({0, 0});
    view->setPreferredSize({100, 100});
    auto* content = new ui::Rectangle(view);
    content->setColor(0xFF0000FFu);  // red
    content->setPreferredSize({100, 300});
    frames(1);
    EXPECT_FLOAT_EQ(view->getMaxScroll(), 200.0f);

    window_->injectMouseMove(50, 50);
    window_->injectMouseWheel(0, -1);  // one notch down
    frames(1);
    EXPECT_FLOAT_EQ(view->getScrollOffset(), ui::ScrollView::kWheelStep);
    EXPECT_FLOAT_EQ(content->getWorldPosition().y, -ui::ScrollView::kWheelStep);

    // The content now spans -40..260; only the view's 100 rows show.
    const ui::Texture frame = window_->captureFrame();
    EXPECT_EQ(frame.pixel(20, 50), ui::Color(0xFF0000FFu)) << "content inside the view";
    EXPECT_EQ(frame.pixel(20, 150), ui::Color(0xFF101010u)) << "content below the view is clipped";
    EXPECT_NE(frame.pixel(97, 50), ui::Color(0xFF0000FFu)) << "scroll bar at the right edge";

    for (int i = 0; i < 10; ++i) window_->injectMouseWheel(0, -1);
    frames(1);
    EXPECT_FLOAT_EQ(view->getScrollOffset(), 200.0f) << "clamped at the end";
    content->setPreferredSize({100, 150});
    frames(1);
    EXPECT_FLOAT_EQ(view->getScrollOffset(), 50.0f) << "shrinking content pulls the view back";
}

// ---- ImGui panels -------------------------------------------------------------------

struct Field {
    std::string text;
    ImVec2 center{};
    bool buttonClicked = false;
    ImVec2 buttonCenter{};
};

ui::ImGuiPanel* makeFieldPanel(ui::Widget* parent, ui::Vec2 position, Field& field, const ui::Font& font) {
    auto* panel = new ui::ImGuiPanel(parent);
    panel->setPosition(position);
    panel->setPreferredSize({300, 80});
    panel->setDefaultFont(font, 16.0f);
    panel->setBuildImGuiFunction([&field] {
        ImGui::SetNextItemWidth(200.0f);
        ImGui::InputText("##field", &field.text);
        field.center = ImVec2((ImGui::GetItemRectMin().x + ImGui::GetItemRectMax().x) / 2,
                              (ImGui::GetItemRectMin().y + ImGui::GetItemRectMax().y) / 2);
        if (ImGui::Button("OK")) field.buttonClicked = true;
        field.buttonCenter = ImVec2((ImGui::GetItemRectMin().x + ImGui::GetItemRectMax().x) / 2,
                                    (ImGui::GetItemRectMin().y + ImGui::GetItemRectMax().y) / 2);
    });
    return panel;
}

TEST_F(UiToolkit, ImGuiPanelTakesClicksAndTypedTextWhenFocused) {
    Field first;
    Field second;
    auto* a = makeFieldPanel(root(), {10, 10}, first, *font_);
    auto* b = makeFieldPanel(root(), {10, 150}, second, *font_);
    frames(2);
    EXPECT_NE(a->getImGuiContext(), b->getImGuiContext());

    // A click on the panel's ImGui button (panel coordinates + panel position).
    window_->injectClick(10 + first.buttonCenter.x, 10 + first.buttonCenter.y);
    frames(2);
    EXPECT_TRUE(first.buttonClicked);
    EXPECT_FALSE(second.buttonClicked);

    // Focus the first field and type.
    window_->injectClick(10 + first.center.x, 10 + first.center.y);
    frames(2);
    EXPECT_EQ(window_->focusedWidget(), a);
    window_->injectText("192.168.0.1");
    frames(2);
    EXPECT_EQ(first.text, "192.168.0.1");
    EXPECT_EQ(second.text, "") << "text goes to the focused panel only";

    // Keys go to the focused panel too: backspace removes the last character.
    window_->injectKeyPress(SDL_SCANCODE_BACKSPACE);
    frames(2);
    EXPECT_EQ(first.text, "192.168.0.");

    // Clicking outside every panel takes the focus away: typing then does nothing.
    window_->injectClick(380, 120);
    frames(2);
    EXPECT_EQ(window_->focusedWidget(), nullptr);
    window_->injectText("x");
    frames(2);
    EXPECT_EQ(first.text, "192.168.0.");
    EXPECT_EQ(second.text, "");
}

// Keys come faster than frames when a person types quickly or the program
// is busy: every press counts, in the order typed, with the modifiers it was
// pressed with, whatever frames they fall into.
TEST_F(UiToolkit, KeysTypedBetweenTwoFramesAllArriveInOrder) {
    Field field;
    makeFieldPanel(root(), {10, 10}, field, *font_);
    frames(2);
    window_->injectClick(10 + field.center.x, 10 + field.center.y);
    frames(2);

    const auto typeKey = [this](SDL_Scancode key, const char* text) {
        window_->injectKey(key, true);
        window_->injectText(text);
        window_->injectKey(key, false);
    };
    typeKey(SDL_SCANCODE_A, "a");
    typeKey(SDL_SCANCODE_B, "b");
    typeKey(SDL_SCANCODE_C, "c");
    for (int i = 0; i < 2; ++i) window_->injectKeyPress(SDL_SCANCODE_BACKSPACE);
    typeKey(SDL_SCANCODE_D, "d");
    frames(20);
    EXPECT_EQ(field.text, "ad") << "three letters, two backspaces, a letter";

    // Ctrl+A as a hand gives it, Ctrl released before the next frame: the
    // field's text is selected, and the next letter replaces it.
    window_->injectKey(SDL_SCANCODE_LCTRL, true, KMOD_LCTRL);
    window_->injectKey(SDL_SCANCODE_A, true, KMOD_LCTRL);
    window_->injectKey(SDL_SCANCODE_A, false, KMOD_LCTRL);
    window_->injectKey(SDL_SCANCODE_LCTRL, false, 0);
    typeKey(SDL_SCANCODE_X, "x");
    frames(20);
    EXPECT_EQ(field.text, "x");
}

// A window-wide shortcut sees keys whether or not a widget has the focus;
// what it takes, including the text of its press, never reaches the
// focused field, and what it passes on does.
TEST_F(UiToolkit, ShortcutHandlerSeesEveryKeyFirstAndKeepsWhatItTakes) {
    std::vector<int> seen;
    int owner = 0;
    window_->addShortcutHandler(&owner, [&](const ui::KeyEvent& e) {
        if (e.pressed) seen.push_back(e.scancode);
        return e.scancode == SDL_SCANCODE_EQUALS && (e.modifiers & KMOD_CTRL) != 0;
    });
    Field field;
    auto* panel = makeFieldPanel(root(), {10, 10}, field, *font_);
    frames(2);
    window_->injectKeyPress(SDL_SCANCODE_F5);
    frames(1);
    EXPECT_EQ(seen, (std::vector<int>{SDL_SCANCODE_F5})) << "without a focused widget";

    window_->injectClick(10 + field.center.x, 10 + field.center.y);
    frames(2);
    ASSERT_EQ(window_->focusedWidget(), panel);
    window_->injectText("ab");
    window_->injectKey(SDL_SCANCODE_EQUALS, true, KMOD_LCTRL);
    window_->injectText("=");
    window_->injectKey(SDL_SCANCODE_EQUALS, false, KMOD_LCTRL);
    window_->injectKey(SDL_SCANCODE_EQUALS, true);
    window_->injectText("=");
    window_->injectKey(SDL_SCANCODE_EQUALS, false);
    window_->injectKeyPress(SDL_SCANCODE_BACKSPACE);
    frames(2);
    EXPECT_EQ(field.text, "ab") << "Ctrl+= typed nothing; '=' was typed and taken back by Backspace";
    EXPECT_EQ(seen.size(), 4u);

    window_->removeShortcutHandler(&owner);
    window_->injectText("c");
    frames(2);
    EXPECT_EQ(field.text, "abc");
}

// A shortcut handler takes keys only while it says so, and none once it is
// removed.
TEST_F(UiToolkit, ShortcutHandlersTakeKeysOnlyWhileTheySaySoAndGoWhenRemoved) {
    Field field;
    makeFieldPanel(root(), {10, 10}, field, *font_);
    frames(2);
    window_->injectClick(10 + field.center.x, 10 + field.center.y);
    frames(2);
    window_->injectText("abc");
    frames(2);
    std::vector<int> seen;
    bool take = false;
    int owner = 0;
    window_->addShortcutHandler(&owner, [&](const ui::KeyEvent& key) {
        if (key.pressed) seen.push_back(key.scancode);
        return take;
    });

    window_->injectKeyPress(SDL_SCANCODE_BACKSPACE);
    frames(2);
    EXPECT_EQ(field.text, "ab") << "a key the handler leaves reaches the field";
    take = true;
    window_->injectKeyPress(SDL_SCANCODE_BACKSPACE);
    frames(2);
    EXPECT_EQ(field.text, "ab") << "a key the handler takes does not";
    EXPECT_EQ(seen, (std::vector<int>{SDL_SCANCODE_BACKSPACE, SDL_SCANCODE_BACKSPACE})) << "each press once";

    window_->injectClick(380, 280);  // nothing has the focus now
    frames(2);
    window_->injectKeyPress(SDL_SCANCODE_F, KMOD_LCTRL);
    frames(2);
    EXPECT_EQ(seen.back(), SDL_SCANCODE_F);

    window_->removeShortcutHandler(&owner);
    const std::size_t count = seen.size();
    window_->injectKeyPress(SDL_SCANCODE_F, KMOD_LCTRL);
    frames(2);
    EXPECT_EQ(seen.size(), count);
}

// ---- When the loop draws -------------------------------------------------------------

// Counts the frames that reach it and notes when the last one came; says it
// is animating when told to.
class FrameCounter : public ui::Widget {
public:
    using ui::Widget::Widget;
    void draw(ui::Renderer* renderer, float parentX, float parentY) override {
        ++drawn;
        lastDrawn = ui::Application::Clock::now();
        ui::Widget::draw(renderer, parentX, parentY);
    }
    bool animating() const override { return animate; }

    int drawn = 0;
    ui::Application::Clock::time_point lastDrawn{};
    bool animate = false;
};

// The loop left to itself, as the program runs it. Nothing here bounds how
// long anything takes: the loop runs in slices until what is expected has
// happened, and "no frame" is checked only once the loop has settled.
class UiLoop : public UiToolkit {
protected:
    void SetUp() override {
        UiToolkit::SetUp();
        counter_ = new FrameCounter(root());
        settle();
    }
    // Runs the loop until a tenth of a second passes without a frame.
    void settle() {
        for (int slice = 0; slice < 100; ++slice) {
            const int before = counter_->drawn;
            app_->runFor(std::chrono::milliseconds(100));
            if (counter_->drawn == before) return;
        }
        FAIL() << "the loop never came to rest";
    }
    // Runs the loop until `n` more frames have been drawn.
    bool runUntilDrawn(int n = 1) {
        const int target = counter_->drawn + n;
        for (int slice = 0; slice < 500 && counter_->drawn < target; ++slice) {
            app_->runFor(std::chrono::milliseconds(20));
        }
        return counter_->drawn >= target;
    }
    // After settle(): a stretch of time without a single frame.
    void expectAsleep(std::chrono::milliseconds stretch = std::chrono::milliseconds(400)) {
        const int before = counter_->drawn;
        app_->runFor(stretch);
        EXPECT_EQ(counter_->drawn, before) << "a frame while nothing happened";
    }

    FrameCounter* counter_ = nullptr;
};

TEST_F(UiLoop, DrawsNothingWhileNothingHappensAndAFrameForEachThingThatDoes) {
    expectAsleep();
    struct Trigger {
        const char* what;
        std::function<void()> cause;
    };
    const Trigger triggers[] = {
        {"a callable posted by a worker",
         [] { std::thread([] { ui::Application::dispatchToMainThread([] {}); }).join(); }},
        {"wake() from a worker", [] { std::thread([] { ui::Application::wake(); }).join(); }},
        {"a mouse move", [this] { window_->injectMouseMove(20, 20); }},
        {"a key", [this] { window_->injectKeyPress(SDL_SCANCODE_A); }},
        {"a window event", [this] { window_->setSize(420, 300); }},
        {"requestRedraw", [] { ui::Application::requestRedraw(); }},
        {"requestFramesFor", [] { ui::Application::requestFramesFor(std::chrono::milliseconds(50)); }},
        {"a time for wakeAt that has come", [] { ui::Application::wakeAt(ui::Application::Clock::now()); }},
    };
    for (const Trigger& trigger : triggers) {
        SCOPED_TRACE(trigger.what);
        trigger.cause();
        EXPECT_TRUE(runUntilDrawn());
        settle();
        expectAsleep();
    }
}

TEST_F(UiLoop, AFrameComesWhenAWakeUpTimeHasComeNotBefore) {
    const auto at = ui::Application::Clock::now() + std::chrono::milliseconds(300);
    ui::Application::wakeAt(at);
    ASSERT_TRUE(runUntilDrawn());
    EXPECT_GE(counter_->lastDrawn, at);
    settle();
    expectAsleep();
}

TEST_F(UiLoop, AVisibleAnimatingWidgetKeepsTheFramesComing) {
    // Hidden, an animating widget asks for nothing.
    auto* hidden = new FrameCounter(root());
    hidden->animate = true;
    hidden->setVisible(false);
    ui::Application::requestRedraw();
    ASSERT_TRUE(runUntilDrawn());
    settle();
    expectAsleep();

    counter_->animate = true;
    ui::Application::requestRedraw();
    EXPECT_TRUE(runUntilDrawn(30)) << "frame after frame without anything else happening";
    counter_->animate = false;
    settle();
    expectAsleep();
}

TEST_F(UiLoop, AnActiveTextFieldWakesTheLoopOnlyToBlinkItsCursor) {
    Field field;
    makeFieldPanel(root(), {10, 10}, field, *font_);
    ui::Application::requestRedraw();  // the panel lays its field out
    ASSERT_TRUE(runUntilDrawn());
    window_->injectClick(10 + field.center.x, 10 + field.center.y);
    settle();  // comes to rest between two blinks

    // The cursor turns on or off every 0.4 or 0.8 s: a frame each time, and
    // nothing in between.
    const int before = counter_->drawn;
    app_->runFor(std::chrono::milliseconds(1700));
    EXPECT_GE(counter_->drawn - before, 1);
    EXPECT_LE(counter_->drawn - before, 8);

    window_->injectClick(380, 280);  // outside the panel: the field is left
    settle();
    expectAsleep(std::chrono::milliseconds(1700));
}

// What a signal handler's thread does to end the program: the sleeping
// loop wakes and returns, and every later run returns at once, until the
// Application goes; the next one starts without the request.
TEST_F(UiLoop, AQuitRequestedFromAnotherThreadEndsTheSleepingLoopForGood) {
    EXPECT_FALSE(ui::Application::quitRequested());
    std::thread requester([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the loop is asleep by then
        ui::Application::requestQuit();
    });
    app_->run();  // nothing else ends it: a lost request hangs here
    requester.join();
    EXPECT_TRUE(ui::Application::quitRequested());

    const int before = counter_->drawn;
    ui::Application::requestRedraw();
    app_->run();
    app_->runFor(std::chrono::hours(1));
    EXPECT_EQ(counter_->drawn, before) << "a frame after the quit was requested";

    app_.reset();
    EXPECT_FALSE(ui::Application::quitRequested());
}

TEST_F(UiToolkit, ImGuiPanelInsideAScrollViewFollowsTheScroll) {
    auto* view = new ui::ScrollView(root());
    view->setPosition({20, 20});
    view->setPreferredSize({200, 100});
    auto* panel = new ui::ImGuiPanel(view);
    panel->setPreferredSize({200, 400});
    panel->setDefaultFont(*font_, 16.0f);
    bool clicked = false;
    ImVec2 buttonCenter{};
    panel->setBuildImGuiFunction([&] {
        ImGui::SetCursorPosY(250.0f);  // far below the visible part
        if (ImGui::Button("Deep button")) clicked = true;
        buttonCenter = ImVec2((ImGui::GetItemRectMin().x + ImGui::GetItemRectMax().x) / 2,
                              (ImGui::GetItemRectMin().y + ImGui::GetItemRectMax().y) / 2);
        ImGui::SetCursorPosY(350.0f);  // stays below the view after scrolling
        ImGui::TextUnformatted("Below the view");
    });
    frames(2);

    // The wheel over the panel scrolls the view around it.
    window_->injectMouseMove(100, 70);
    for (int i = 0; i < 5; ++i) window_->injectMouseWheel(0, -1);
    frames(2);
    ASSERT_FLOAT_EQ(view->getScrollOffset(), 5 * ui::ScrollView::kWheelStep);

    // The button is now at 20 + 250 - 200 in the window: a click there hits it.
    window_->injectClick(20 + buttonCenter.x, 20 + buttonCenter.y - view->getScrollOffset());
    frames(2);
    EXPECT_TRUE(clicked);

    // Nothing of the panel is drawn outside the view.
    const ui::Texture frame = window_->captureFrame();
    for (int y = 0; y < 300; ++y) {
        for (int x = 0; x < 400; ++x) {
            const bool inView = x >= 20 && x < 220 && y >= 20 && y < 120;
            if (!inView) {
                ASSERT_EQ(frame.pixel(x, y), ui::Color(0xFF101010u)) << x << "," << y;
            }
        }
    }
}

// ---- Resources -------------------------------------------------------------------

TEST(UiResources, IconsAndLoadingImageRasteriseToNonEmptyTextures) {
    for (const char* name : {"vemo.svg", "folder.svg", "tag.svg", "remove.svg"}) {
        SCOPED_TRACE(name);
        const auto bytes = readFile(std::filesystem::path(VEMO_UI_TEST_ICONS) / name);
        const ui::SVG svg(bytes.data(), bytes.size());
        const ui::Texture texture = svg.createTexture(64, 48);
        EXPECT_EQ(texture.getWidth(), 64);
        EXPECT_EQ(texture.getHeight(), 48);
        EXPECT_GT(opaquePixels(texture), 48 * 48 / 20) << "the icon draws something";
        EXPECT_EQ(texture.pixel(2, 24).a(), 0) << "a square icon is centred in a wider texture";
    }
    const auto png = readFile(VEMO_UI_TEST_LOADING_PNG);
    const ui::Texture loading(png.data(), png.size());
    EXPECT_GT(loading.getWidth(), 0);
    EXPECT_GT(loading.getHeight(), 0);
    EXPECT_GT(opaquePixels(loading), 0);
}

TEST(UiResources, InlineImagesDecode) {
    // A 2 x 1 PNG: one opaque red pixel, one transparent one.
    const std::uint8_t png[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
        0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0xF4, 0x22, 0x7F, 0x8A, 0x00, 0x00, 0x00,
        0x0F, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0x00, 0x44, 0x0C, 0x0C, 0x00, 0x0C, 0xFC,
        0x01, 0xFF, 0x5C, 0xFD, 0x14, 0x95, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    const ui::Texture texture(png, sizeof png);
    EXPECT_EQ(texture.getWidth(), 2);
    EXPECT_EQ(texture.getHeight(), 1);
    EXPECT_EQ(texture.pixel(0, 0), ui::Color::rgba(255, 0, 0, 255));

    const char svgText[] =
        "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 10 10'>"
        "<rect x='0' y='0' width='5' height='10' fill='#00ff00'/></svg>";
    const ui::Texture half = ui::SVG(svgText, sizeof svgText - 1).createTexture(20, 20);
    EXPECT_EQ(half.pixel(2, 10), ui::Color::rgba(0, 255, 0, 255)) << "left half filled";
    EXPECT_EQ(half.pixel(17, 10).a(), 0) << "right half empty";
}

TEST(UiResources, BadInputRaisesResourceExceptionWithItsCode) {
    const char garbage[] = "definitely not an image";
    const char svgText[] = "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 1 1'/>";
    struct Case {
        const char* name;
        std::function<void()> call;
        std::int32_t code;
    };
    const Case cases[] = {
        {"texture from garbage", [&] { ui::Texture(garbage, sizeof garbage); }, ui::ResourceException::DecodeFailed},
        {"texture from nothing", [] { ui::Texture(nullptr, 0); }, ui::ResourceException::EmptyData},
        {"font from garbage", [&] { ui::Font(garbage, sizeof garbage, 0); }, ui::ResourceException::DecodeFailed},
        {"svg of size zero", [&] { ui::SVG(svgText, sizeof svgText - 1).createTexture(0, 10); },
         ui::ResourceException::InvalidSize},
        {"svg too large", [&] { ui::SVG(svgText, sizeof svgText - 1).createTexture(10, 100000); },
         ui::ResourceException::InvalidSize},
        {"empty svg", [] { ui::SVG("", 0); }, ui::ResourceException::EmptyData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.call();
            ADD_FAILURE() << "no exception";
        } catch (const ui::ResourceException& e) {
            EXPECT_EQ(e.code(), c.code) << e.what();
        }
    }
}

TEST(UiRenderContext, SoftwareBackendOffersTheSoftwareRendererOnly) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    auto context = ui::RenderContext::create(ui::RenderBackend::Software, "x");
    const auto devices = context.listDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, "software");
    try {
        context.selectDevice(1);
        ADD_FAILURE() << "no exception";
    } catch (const ui::RenderException& e) {
        EXPECT_EQ(e.code(), ui::RenderException::DeviceOutOfRange);
    }
    EXPECT_THROW(ui::RenderContext::create(7, "x"), ui::RenderException);

    ui::Application app(std::move(context), "x");
    try {
        ui::Application second(ui::RenderContext::create(ui::RenderBackend::Software, "y"), "y");
        ADD_FAILURE() << "no exception";
    } catch (const ui::RenderException& e) {
        EXPECT_EQ(e.code(), ui::RenderException::SecondApplication);
    }
    EXPECT_EQ(ui::Application::createWindow("w", 50, 50, 0)->rendererName(), "software");
}

TEST(UiRenderContext, AcceleratedBackendDrawsInSoftwareWithoutAScreen) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    auto context = ui::RenderContext::create(1, "x");
    const auto devices = context.listDevices();
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ(devices.back().name, "software") << "every SDL render driver, software last";
    context.selectDevice(0);
    ui::Application app(std::move(context), "x");
    ui::Window* window = ui::Application::createWindow("w", 64, 32, ui::WindowFlag::Default);
    EXPECT_EQ(window->rendererName(), "software");
    window->setClearColor(ui::Color::rgba(1, 2, 3));
    app.runFrames(1);
    EXPECT_EQ(window->readPixel(10, 10), ui::Color::rgba(1, 2, 3));
}

// ---- The screenshot -----------------------------------------------------------------

// ---- ImGui panels: scripts beyond Latin-1 --------------------------------------------

struct ScriptSample {
    const char* language;
    const char* text;
};

// Latin Extended, Greek and Cyrillic come from the default font (Lato).
const ScriptSample kDefaultFontSamples[] = {
    {"Polish", "Zażółć gęślą jaźń ŁŚŹ"},
    {"Czech", "Příliš žluťoučký kůň úpěl ďábelské ódy"},
    {"Turkish", "Işık ılık süt iç İĞŞ ğş"},
    {"Russian", "Съешь же ещё этих мягких булок ЁЖЩ"},
    {"Greek", "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία ΩΣ"},
};

// Ideographs, kana and Hangul come from the fallback font.
const ScriptSample kFallbackFontSamples[] = {
    {"Chinese", "温度传感器 压力值"},
    {"Japanese", "ポンプの回転数 ひらがな"},
    {"Korean", "압력 센서 온도"},
};

// Code points of UTF-8 text beyond ASCII.
std::vector<ImWchar> nonAsciiCodePoints(const char* text) {
    std::vector<ImWchar> out;
    const char* end = text + std::strlen(text);
    for (const char* p = text; p < end;) {
        unsigned int c = 0;
        p += ImTextCharFromUtf8(&c, p, end);
        if (c >= 0x80) out.push_back(static_cast<ImWchar>(c));
    }
    return out;
}

// A panel that announces and draws the texts every frame.
ui::ImGuiPanel* makeTextPanel(ui::Widget* parent, const ui::Font& font, std::vector<std::string> texts) {
    auto* panel = new ui::ImGuiPanel(parent);
    panel->setPreferredSize({380, 280});
    panel->setDefaultFont(font, 16.0f);
    panel->setBuildImGuiFunction([panel, texts = std::move(texts)] {
        for (const std::string& text : texts) {
            panel->useText(text);
            ImGui::TextUnformatted(text.c_str());
        }
    });
    return panel;
}

ImFont* panelFont(const ui::ImGuiPanel* panel) {
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(panel->getImGuiContext());
    ImFont* font = ImGui::GetIO().Fonts->Fonts[0];
    ImGui::SetCurrentContext(previous);
    return font;
}

// Every non-ASCII character of the samples has its own glyph in the atlas.
void expectGlyphs(const ui::ImGuiPanel* panel, const ScriptSample* begin, const ScriptSample* end) {
    const ImFont* font = panelFont(panel);
    for (const ScriptSample* sample = begin; sample != end; ++sample) {
        for (const ImWchar c : nonAsciiCodePoints(sample->text)) {
            if (c == 0x3000 || c == 0x20) continue;
            EXPECT_NE(font->FindGlyphNoFallback(c), nullptr)
                << sample->language << ": no glyph for U+" << std::hex << static_cast<unsigned>(c);
        }
    }
}

TEST_F(UiToolkit, ImGuiPanelDrawsLatinExtendedGreekAndCyrillicFromTheDefaultFont) {
    // No fallback font at all: these scripts must not need one.
    ui::ImGuiPanel::setFallbackFontFile("");
    std::vector<std::string> texts;
    for (const auto& sample : kDefaultFontSamples) texts.emplace_back(sample.text);
    auto* panel = makeTextPanel(root(), *font_, texts);
    frames(2);
    expectGlyphs(panel, std::begin(kDefaultFontSamples), std::end(kDefaultFontSamples));
}

TEST_F(UiToolkit, ImGuiPanelAddsChineseJapaneseAndKoreanFromTheFallbackFont) {
    if (!std::filesystem::exists(VEMO_UI_TEST_CJK_FONT)) {
        GTEST_SKIP() << "no CJK font at " VEMO_UI_TEST_CJK_FONT " (Debian package fonts-wqy-microhei)";
    }
    ui::ImGuiPanel::setFallbackFontFile(VEMO_UI_TEST_CJK_FONT);
    std::vector<std::string> texts;
    for (const auto& sample : kDefaultFontSamples) texts.emplace_back(sample.text);
    for (const auto& sample : kFallbackFontSamples) texts.emplace_back(sample.text);
    auto* panel = makeTextPanel(root(), *font_, texts);
    frames(2);
    ImFont* font = panelFont(panel);
    // Before the rebuild the new characters show the replacement mark.
    EXPECT_NE(font->FallbackChar, '?');

    // The atlas is rebuilt within a few frames with the characters seen.
    frames(10);
    expectGlyphs(panel, std::begin(kFallbackFontSamples), std::end(kFallbackFontSamples));
    expectGlyphs(panel, std::begin(kDefaultFontSamples), std::end(kDefaultFontSamples));
    // Only what was seen: not the fallback font's tens of thousands of glyphs.
    font = panelFont(panel);
    EXPECT_EQ(font->FindGlyphNoFallback(0x4E00), nullptr) << "an ideograph no text used";
    EXPECT_LT(font->Glyphs.Size, 2000);

    // A new name with more ideographs is added too.
    panel->useText("新しい名前");
    frames(10);
    font = panelFont(panel);
    for (const ImWchar c : nonAsciiCodePoints("新しい名前")) EXPECT_NE(font->FindGlyphNoFallback(c), nullptr);
    ui::ImGuiPanel::setFallbackFontFile("");
}

TEST_F(UiToolkit, ImGuiPanelShowsAReplacementMarkNotAQuestionMarkForMissingCharacters) {
    struct Case {
        const char* what;
        std::string fallbackFile;
    };
    const Case cases[] = {
        {"no fallback font", ""},
        {"a fallback font that does not exist", "/nonexistent/font.ttc"},
        {"the CJK fallback font", VEMO_UI_TEST_CJK_FONT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int missingReports = 0;
        ui::ImGuiPanel::setFallbackFontFile(c.fallbackFile, [&](const std::string&) { ++missingReports; });
        // U+E000 is a private-use character that no font here has; U+4E2D
        // is an ideograph only the CJK font has.
        auto* first = makeTextPanel(root(), *font_, {"A\xee\x80\x80", "\xe4\xb8\xad"});
        auto* second = makeTextPanel(root(), *font_, {"\xe4\xb8\xad\xee\x80\x80"});
        frames(10);
        for (const ui::ImGuiPanel* panel : {first, second}) {
            const ImFont* font = panelFont(panel);
            EXPECT_TRUE(font->FallbackChar == 0x25A1 || font->FallbackChar == 0xFFFD)
                << "fallback U+" << std::hex << static_cast<unsigned>(font->FallbackChar);
            EXPECT_EQ(font->FindGlyphNoFallback(0xE000), nullptr);
            EXPECT_EQ(font->FindGlyph(0xE000), font->FindGlyphNoFallback(font->FallbackChar));
            EXPECT_NE(font->FindGlyph(0xE000), font->FindGlyphNoFallback('?'));
        }
        const bool fontMissing = !c.fallbackFile.empty() && !std::filesystem::exists(c.fallbackFile);
        EXPECT_EQ(missingReports, fontMissing ? 1 : 0) << "a missing fallback font is reported once";
        if (!fontMissing && !c.fallbackFile.empty()) {
            EXPECT_NE(panelFont(first)->FindGlyphNoFallback(0x4E2D), nullptr);
        }
        delete first;
        delete second;
    }
    ui::ImGuiPanel::setFallbackFontFile("");
}

TEST_F(UiToolkit, ImGuiPanelKeepsItsAtlasForCharactersNoFontHas) {
    ui::ImGuiPanel::setFallbackFontFile("");
    auto* panel = new ui::ImGuiPanel(root());
    panel->setPreferredSize({200, 100});
    panel->setDefaultFont(*font_, 16.0f);
    std::string text = "plain";
    panel->setBuildImGuiFunction([&] {
        panel->useText(text);
        ImGui::TextUnformatted(text.c_str());
    });
    auto textureId = [&] {
        ImGuiContext* previous = ImGui::GetCurrentContext();
        ImGui::SetCurrentContext(panel->getImGuiContext());
        ImTextureID id = ImGui::GetIO().Fonts->TexID;
        ImGui::SetCurrentContext(previous);
        return id;
    };
    frames(2);
    const ImTextureID before = textureId();
    // Private-use characters and, without a fallback font, ideographs: no
    // font can draw them, so a rebuild would change nothing.
    text = "\xee\x80\x80\xee\x80\x81\xe4\xb8\xad";
    frames(10);
    EXPECT_EQ(textureId(), before);
    // A character of the default font outside its default ranges (U+2190,
    // an arrow) does rebuild the atlas.
    text = "\xe2\x86\x90";
    frames(10);
    EXPECT_NE(textureId(), before);
    EXPECT_NE(panelFont(panel)->FindGlyphNoFallback(0x2190), nullptr);
}

TEST_F(UiToolkit, ScreenshotShowsStackTextsButtonPanelWithTableAndIcon) {
    window_->setSize(480, 360);
    const ui::Color background = 0xFF101010u;
    const ui::Color accent = 0xFFDC5825u;  // RGBA (37, 88, 220, 255)

    const auto iconBytes = readFile(std::filesystem::path(VEMO_UI_TEST_ICONS) / "vemo.svg");
    const ui::Texture icon = ui::SVG(iconBytes.data(), iconBytes.size()).createTexture(256, 256);

    auto* page = new ui::Stack(root());
    page->setPreferredSize({480, 360});
    page->setPadding({16, 16, 16, 16});
    page->setSpacing(12);

    auto* header = new ui::Stack(page);
    header->setOrientation(0);
    header->setAlignment(1);
    header->setSpacing(16);
    auto* logo = new ui::Rectangle(header);
    logo->setPreferredSize({64, 64});
    logo->setColor(0x00000000u);
    logo->setTexture(&icon);
    auto* titles = new ui::Stack(header);
    auto* title = new ui::TextElement(titles, "VEMO S7 Browser");
    title->setFont(*font_);
    title->setFontSize(24);
    title->setColor(0xFFF0F0F0u);
    auto* subtitle = new ui::TextElement(titles, "PLC-Status: CONNECTED");
    subtitle->setFont(*font_);
    subtitle->setColor(0xFF32C832u);

    auto* button = new ui::Button(page, {}, {140, 28});
    button->setBackgroundColor(accent);
    button->getText()->setFont(*font_);
    button->getText()->setFontSize(18);
    button->getText()->setColor(0xFFF0F0F0u);
    button->getText()->setText("Connect");

    auto* panel = new ui::ImGuiPanel(page);
    panel->setPreferredSize({448, 150});
    panel->setDefaultFont(*font_, 16.8f);
    panel->setBuildImGuiFunction([] {
        const ImGuiTableFlags flags = ImGuiTableFlags_Resizable | ImGuiTableFlags_RowBg | ImGuiTableFlags_Borders;
        if (ImGui::BeginTable("Variables", 3, flags)) {
            ImGui::TableSetupColumn("Name", ImGuiTableColumnFlags_WidthStretch, 1.5f);
            ImGui::TableSetupColumn("Type", ImGuiTableColumnFlags_WidthFixed, 96.0f);
            ImGui::TableSetupColumn("Value", ImGuiTableColumnFlags_WidthStretch, 1.0f);
            ImGui::TableHeadersRow();
            const char* rows[][3] = {{"DB1.Motor.Speed", "REAL", "1450.5"},
                                     {"DB1.Motor.Running", "BOOL", "true"},
                                     {"DB2.Counter", "DINT", "-42"}};
            for (const auto& row : rows) {
                ImGui::TableNextRow();
                for (int column = 0; column < 3; ++column) {
                    ImGui::TableSetColumnIndex(column);
                    ImGui::TextUnformatted(row[column]);
                }
            }
            ImGui::EndTable();
        }
    });

    frames(2);
    const std::filesystem::path shot = std::filesystem::path(VEMO_UI_TEST_OUTPUT_DIR) / "toolkit_screenshot.png";
    std::filesystem::remove(shot);
    window_->saveScreenshot(shot.string());

    const auto bytes = readFile(shot);
    const ui::Texture image(bytes.data(), bytes.size());
    ASSERT_EQ(image.getWidth(), 480);
    ASSERT_EQ(image.getHeight(), 360);

    // Button: its corner region is the accent colour; its text is light.
    const ui::Vec2 b = button->getWorldPosition();
    EXPECT_EQ(b, (ui::Vec2{16, 16 + 64 + 12}));
    EXPECT_EQ(image.pixel(static_cast<int>(b.x) + 3, static_cast<int>(b.y) + 3), accent);
    auto lightPixelsIn = [&](const ui::Widget* w) {
        const ui::Vec2 p = w->getWorldPosition();
        const ui::Vec2 s = w->getActualSize();
        int count = 0;
        for (int y = static_cast<int>(p.y); y < static_cast<int>(p.y + s.y); ++y) {
            for (int x = static_cast<int>(p.x); x < static_cast<int>(p.x + s.x); ++x) {
                const ui::Color c = image.pixel(x, y);
                if (c.r() > 200 && c.g() > 200 && c.b() > 200) ++count;
            }
        }
        return count;
    };
    EXPECT_GT(lightPixelsIn(button->getText()), 20) << "button text drawn";
    EXPECT_GT(lightPixelsIn(title), 50) << "title text drawn";

    // Title text sits right of the 64-wide logo, vertically centred against it.
    EXPECT_FLOAT_EQ(title->getWorldPosition().x, 16 + 64 + 16);
    EXPECT_EQ(image.pixel(470, 350), background) << "empty corner keeps the clear colour";

    // The icon is drawn: some pixel inside the logo differs from the background.
    int iconPixels = 0;
    for (int y = 16; y < 80; ++y) {
        for (int x = 16; x < 80; ++x) iconPixels += image.pixel(x, y) == background ? 0 : 1;
    }
    EXPECT_GT(iconPixels, 64 * 64 / 10);

    // The panel's table: header row and cell texts change its pixels.
    const ui::Vec2 p = panel->getWorldPosition();
    int panelPixels = 0;
    for (int y = static_cast<int>(p.y); y < static_cast<int>(p.y) + 100; ++y) {
        for (int x = static_cast<int>(p.x); x < static_cast<int>(p.x) + 448; ++x) {
            panelPixels += image.pixel(x, y) == background ? 0 : 1;
        }
    }
    EXPECT_GT(panelPixels, 2000);
    std::cout << "screenshot: " << shot.string() << "\n";
}

}  // namespace
