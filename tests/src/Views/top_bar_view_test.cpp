// The top bar with its real widgets, driven by clicks, typing and keys: the
// fields' checks with their hints, Enter to connect, connect on the pool
// with the status it shows on the way, Cancel that stops waiting at once
// and queues nothing, read-only fields while connected, the window title,
// disconnect at once, and failures with their log lines. The simulator plays
// the controller over loopback.
#include "Views/TopBarView.h"

#include "Theme.h"
#include "Views/DefaultButton.h"
#include "Views/MessageBarView.h"
#include "app_test_support.h"
#include "gui_fixture.h"
#include "loopback_server.h"

#include "Program.h"
#include "Server.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace {

using vemo::ConnectionState;
using vemo::Theme;
using vemo::test::CapturedStreams;
using vemo::test::HeldClient;
namespace ui = vemo::ui;

using vemo::test::kIpField;
using vemo::test::kPortMinus;
using vemo::test::kPortText;

// Where the second row of the connection panel shows why a field cannot be
// used (panel coordinates): right of "Allow writing".
constexpr ui::Vec2 kHintTopLeft{150, 28};
constexpr ui::Vec2 kHintBottomRight{408, 50};
// On the key fingerprint, in the same place while connected.
constexpr ui::Vec2 kFingerprint{170, 38};

// Keeps the pool's one worker busy until release(): a long task ahead of
// whatever is submitted next.
class BusyWorker {
public:
    explicit BusyWorker(vemo::ThreadPool& pool) {
        std::promise<void> started;
        std::future<void> running = started.get_future();
        pool.submit([started = std::move(started), gate = gate_.get_future().share()]() mutable {
            started.set_value();
            gate.wait();
        });
        running.wait();
    }
    ~BusyWorker() { release(); }
    BusyWorker(const BusyWorker&) = delete;
    BusyWorker& operator=(const BusyWorker&) = delete;
    void release() {
        if (!released_) gate_.set_value();
        released_ = true;
    }

private:
    std::promise<void> gate_;
    bool released_ = false;
};

// The built-in machine program served on a free loopback port.
std::unique_ptr<vemo::sim::Server> startSimulator() {
    vemo::sim::ServerOptions options;
    options.port = 0;
    return std::make_unique<vemo::sim::Server>(vemo::sim::Program::builtIn(), options);
}

class TopBarViewTest : public vemo::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        frames(2);  // laid out, and the panel has built its first frame
    }

    ui::Widget* bar() const { return mainWindow_->topBar(); }
    ui::ImGuiPanel* panel() const { return vemo::test::findAll<ui::ImGuiPanel>(bar()).at(0); }
    vemo::DefaultButton* button() const { return vemo::test::findAll<vemo::DefaultButton>(bar()).at(0); }
    ui::TextElement* status() const { return vemo::test::findText(bar(), "PLC-Status:"); }
    // The line below the status: the controller type or "Connection failed".
    ui::TextElement* detail() const {
        return static_cast<ui::TextElement*>(status()->getParent()->getChildren().at(1));
    }
    std::string statusText() const { return status()->getText(); }

    void clickPanel(ui::Vec2 at) {
        const ui::Vec2 p = panel()->getWorldPosition() + at;
        window()->injectClick(p.x, p.y);
        frames(2);
    }
    void typeIp(const std::string& text) {
        clickPanel(kIpField);
        window()->injectText(text);
        frames(2);
    }
    // Empties the address field with backspaces and types `text` into it.
    void retypeIp(const std::string& text) {
        clickPanel(kIpField);
        for (int i = 0; i < 12; ++i) {
            window()->injectKeyPress(SDL_SCANCODE_BACKSPACE);
            frames(2);  // a frame with the key up between two presses
        }
        window()->injectText(text);
    }
    // Clicking a number field selects its text, so typing replaces it.
    void typePort(const std::string& text) {
        clickPanel(kPortText);
        window()->injectText(text);
        frames(2);
    }
    void clickButton() {
        const ui::Vec2 c = vemo::test::centerOf(button());
        window()->injectClick(c.x, c.y);
    }
    bool showsStatus(const std::string& text) {
        return runUntil([&] { return statusText() == text; });
    }
    std::string buttonText() const { return button()->getText()->getText(); }
    std::string title() const { return SDL_GetWindowTitle(window()->sdlWindow()); }
    // Waits until every task submitted so far has run on the one worker.
    bool poolDrained() {
        auto done = std::make_shared<std::atomic<bool>>(false);
        pool_.submit([done] { *done = true; });
        return runUntil([&] { return done->load(); });
    }
    // Pixels in the hint's place drawn in the colour of a problem.
    int hintPixels() {
        frames(1);
        const ui::Texture frame = window()->captureFrame();
        const ui::Vec2 from = panel()->getWorldPosition() + kHintTopLeft;
        const ui::Vec2 to = panel()->getWorldPosition() + kHintBottomRight;
        int red = 0;
        for (int y = static_cast<int>(from.y); y < static_cast<int>(to.y); ++y) {
            for (int x = static_cast<int>(from.x); x < static_cast<int>(to.x); ++x) {
                const ui::Color c = frame.pixel(x, y);
                if (c.r() > 200 && c.g() < 110 && c.b() < 110) ++red;
            }
        }
        return red;
    }
};

TEST_F(TopBarViewTest, ButtonIsLockedUntilAnIpIsTyped) {
    frames(2);
    EXPECT_EQ(statusText(), "PLC-Status: DISCONNECTED");
    EXPECT_EQ(status()->getColor(), Theme::instance().disconnectedColor());
    EXPECT_EQ(detail()->getText(), "");
    EXPECT_EQ(buttonText(), "Connect");
    EXPECT_TRUE(button()->isLocked());
    EXPECT_EQ(hintPixels(), 0) << "an empty field is no mistake: its placeholder says what goes there";
    EXPECT_NE(vemo::test::findText(bar(), "VEMO Software GmbH"), nullptr);
    EXPECT_NE(vemo::test::findText(bar(), "Version: 1.0.18"), nullptr);

    clickButton();
    frames(3);
    EXPECT_EQ(service_.getState(), ConnectionState::Disconnected) << "a locked button starts no connect";

    typeIp("p");
    EXPECT_FALSE(button()->isLocked());
    window()->injectKeyPress(SDL_SCANCODE_BACKSPACE);
    frames(2);
    EXPECT_TRUE(button()->isLocked()) << "emptying the field locks the button again";
}

// What is typed into the fields, and what the bar makes of it: the button's
// lock, a hint in red under the fields, and the address it would connect to.
struct FieldCase {
    const char* name;
    const char* address;
    const char* port;  // typed over the default 102; null: left as it is
    bool usable;
    const char* connectsTo;  // the address without its blanks; null when unusable
};

const FieldCase kFieldCases[] = {
    {"BlanksAroundTheAddressAreDropped", " 127.0.0.1\t ", nullptr, true, "127.0.0.1"},
    {"AHostName", "plc-line3.local", "10102", true, "plc-line3.local"},
    {"AnIPv6Address", "::1", "65535", true, "::1"},
    {"ABlankInsideTheAddress", "127.0.0 .1", nullptr, false, nullptr},
    {"AnOctetAbove255", "192.168.0.256", nullptr, false, nullptr},
    {"ThreeNumbersAreNoIPv4Address", "192.168.1", nullptr, false, nullptr},
    {"PortZero", "127.0.0.1", "0", false, nullptr},
    {"APortAbove65535IsNotCutToItsLow16Bits", "127.0.0.1", "75638", false, nullptr},
    {"ANegativePort", "127.0.0.1", "-5", false, nullptr},
};

void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.name; }

class TopBarFields : public TopBarViewTest, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(TopBarFields, LockTheButtonAndSayWhyUntilTheyCanBeUsed) {
    const FieldCase& c = GetParam();
    typeIp(c.address);
    if (c.port != nullptr) typePort(c.port);
    frames(2);
    EXPECT_EQ(button()->isLocked(), !c.usable);
    EXPECT_EQ(hintPixels() > 0, !c.usable) << "the hint under the fields";
    const vemo::ConnectTarget target = mainWindow_->topBar()->target();
    EXPECT_EQ(target.valid(), c.usable);
    if (c.connectsTo != nullptr) {
        EXPECT_EQ(target.host, c.connectsTo);
    }

    if (c.usable) return;  // connecting is tried elsewhere, on loopback only
    // Neither the button nor Enter starts anything with an unusable field.
    clickButton();
    clickPanel(kIpField);
    window()->injectKeyPress(SDL_SCANCODE_RETURN);
    frames(2);
    EXPECT_EQ(service_.getState(), ConnectionState::Disconnected);
}

INSTANTIATE_TEST_SUITE_P(TopBar, TopBarFields, ::testing::ValuesIn(kFieldCases),
                         [](const auto& param) { return std::string(param.param.name); });

// Enter in either field connects, as the button does.
class TopBarEnter : public TopBarViewTest, public ::testing::WithParamInterface<ui::Vec2> {};

TEST_P(TopBarEnter, InAFieldConnects) {
    const auto sim = startSimulator();
    typeIp(" 127.0.0.1 ");
    typePort(std::to_string(sim->port()));
    clickPanel(GetParam());
    window()->injectKeyPress(SDL_SCANCODE_RETURN);
    ASSERT_TRUE(showsStatus("PLC-Status: CONNECTED"));
    EXPECT_EQ(service_.status().host, "127.0.0.1") << "connected without the blanks";
    EXPECT_EQ(mainWindow_->topBar()->target().host, "127.0.0.1") << "and the field shows it so";
    EXPECT_EQ(sim->connectionsAccepted(), 1);
    service_.disconnect();
}

INSTANTIATE_TEST_SUITE_P(TopBar, TopBarEnter, ::testing::Values(kIpField, kPortText),
                         [](const auto& param) { return param.index == 0 ? "Address" : "Port"; });

TEST_F(TopBarViewTest, ConnectShowsConnectingThenConnectedAndDisconnectShowsDisconnectedAtOnce) {
    const auto sim = startSimulator();
    typeIp("127.0.0.1");
    // One above the simulator's port, then one step down with the "-" button.
    typePort(std::to_string(sim->port() + 1));
    clickPanel(kPortMinus);

    {
        // A protocol task holds the service: the connect waits, already shown.
        HeldClient held(service_);
        clickButton();
        ASSERT_TRUE(showsStatus("PLC-Status: CONNECTING"));
        EXPECT_EQ(status()->getColor(), Theme::instance().connectingColor());
        EXPECT_EQ(buttonText(), "Cancel");
        EXPECT_EQ(title(), "VEMO S7 Browser");
    }
    ASSERT_TRUE(showsStatus("PLC-Status: CONNECTED")) << "the port stepped down to the simulator's";
    EXPECT_EQ(status()->getColor(), Theme::instance().connectedColor());
    EXPECT_EQ(button()->getText()->getText(), "Disconnect");
    const std::string type = sim->model().program().plcType;
    EXPECT_EQ(detail()->getText(), "PLC-Type: " + type);
    EXPECT_EQ(title(), "VEMO S7 Browser - " + type + " at 127.0.0.1:" + std::to_string(sim->port()));

    frames(2);
    const std::filesystem::path shot = std::filesystem::path(VEMO_TEST_OUTPUT_DIR) / "top_bar_connected.png";
    window()->saveScreenshot(shot.string());
    EXPECT_TRUE(std::filesystem::exists(shot));

    clickButton();
    frames(1);
    EXPECT_EQ(statusText(), "PLC-Status: DISCONNECTED");
    EXPECT_EQ(button()->getText()->getText(), "Connect");
    frames(1);
    EXPECT_EQ(detail()->getText(), "") << "the last controller's type would pass for a live one's";
    EXPECT_EQ(title(), "VEMO S7 Browser");
    EXPECT_EQ(service_.getState(), ConnectionState::Disconnected);
    EXPECT_EQ(sim->connectionsAccepted(), 1);
}

TEST_F(TopBarViewTest, AStoppedSimulatorIsReportedWithTheConnectCode) {
    auto stopped = startSimulator();
    const int stoppedPort = stopped->port();
    stopped.reset();
    typeIp("127.0.0.1");
    typePort(std::to_string(stoppedPort));

    // The line as a log file gets it: the code ends the line.
    const vemo::test::LogColours plain(vemo::ColourMode::Never);
    CapturedStreams streams;
    clickButton();
    ASSERT_TRUE(runUntil([&] { return detail()->getText() == "Connection failed"; }));
    EXPECT_EQ(statusText(), "PLC-Status: DISCONNECTED");
    EXPECT_NE(streams.err().find("[ERROR]"), std::string::npos);
    // The log line names the address, the reason in words and the code.
    EXPECT_NE(streams.err().find(" failed: "), std::string::npos) << streams.err();
    EXPECT_NE(streams.err().find(std::string("(") + s7_result_name(S7_ERR_CONNECT) + ")\n"), std::string::npos)
        << streams.err();
}

TEST_F(TopBarViewTest, WritingCanBeAllowedOnlyWhileConnectedAndIsOffAfterEveryConnect) {
    clickPanel(vemo::test::kAllowWriting);
    EXPECT_FALSE(service_.writesAllowed()) << "the switch is disabled without a connection";

    const auto sim = startSimulator();
    typeIp("127.0.0.1");
    typePort(std::to_string(sim->port()));
    clickButton();
    ASSERT_TRUE(showsStatus("PLC-Status: CONNECTED"));
    EXPECT_FALSE(service_.writesAllowed());
    clickPanel(vemo::test::kAllowWriting);
    EXPECT_TRUE(service_.writesAllowed());

    clickButton();  // Disconnect
    ASSERT_TRUE(showsStatus("PLC-Status: DISCONNECTED"));
    clickButton();  // Connect again
    ASSERT_TRUE(showsStatus("PLC-Status: CONNECTED"));
    frames(2);
    EXPECT_FALSE(service_.writesAllowed()) << "a new connection starts without the permission";
}

TEST_F(TopBarViewTest, AfterAFailureTheInputsWorkAgainAndASuccessReplacesTheFailureText) {
    const auto sim = startSimulator();
    typeIp("127.0.0.1");
    typePort(std::to_string(vemo::test::unusedPort()));
    {
        CapturedStreams quiet;
        clickButton();
        ASSERT_TRUE(runUntil([&] { return detail()->getText() == "Connection failed"; }));
    }
    // Editing is possible again only once the task has handed back.
    typePort(std::to_string(sim->port()));
    clickButton();
    ASSERT_TRUE(showsStatus("PLC-Status: CONNECTED"));
    EXPECT_EQ(detail()->getText(), "PLC-Type: " + sim->model().program().plcType);
    service_.disconnect();
}

// Clicks while the worker is still busy with something else: the first
// shows CONNECTING and the button turns into Cancel, which takes effect in
// the next frame; however often the operator goes back and forth, one
// attempt is made, to the last target asked for.
TEST_F(TopBarViewTest, CancelTakesEffectAtOnceAndClicksNeverQueueAttempts) {
    const auto sim = startSimulator();
    typeIp("127.0.0.1");
    typePort(std::to_string(vemo::test::unusedPort()));
    BusyWorker busy(pool_);

    clickButton();
    frames(1);
    ASSERT_EQ(statusText(), "PLC-Status: CONNECTING");
    EXPECT_EQ(buttonText(), "Cancel");
    EXPECT_FALSE(button()->isLocked());
    clickButton();  // Cancel
    frames(1);
    EXPECT_EQ(statusText(), "PLC-Status: DISCONNECTED") << "the UI does not wait for the worker";
    EXPECT_EQ(buttonText(), "Connect");

    // Back and forth, then the right port.
    clickButton();
    frames(1);
    clickButton();
    frames(1);
    typePort(std::to_string(sim->port()));
    clickButton();
    frames(1);
    ASSERT_EQ(statusText(), "PLC-Status: CONNECTING");

    CapturedStreams streams;
    busy.release();
    ASSERT_TRUE(poolDrained());
    ASSERT_TRUE(showsStatus("PLC-Status: CONNECTED"));
    EXPECT_EQ(service_.status().port, sim->port());
    EXPECT_EQ(sim->connectionsAccepted(), 1);
    EXPECT_EQ(streams.err().find("failed"), std::string::npos) << "the abandoned attempts were never made";
    EXPECT_EQ(detail()->getText(), "PLC-Type: " + sim->model().program().plcType);
    service_.disconnect();
}

// A controller that accepts the connection and never answers: Cancel cuts
// the attempt short, its failure is never shown, and a Connect right after
// it is made as soon as the cut attempt has handed the worker back.
TEST_F(TopBarViewTest, CancelCutsAnAttemptTheControllerKeepsWaiting) {
    const auto sim = startSimulator();
    vemo::test::LoopbackServer silent(nullptr);  // accepts into its backlog, answers nothing
    typeIp("127.0.0.1");
    typePort(std::to_string(silent.port()));
    CapturedStreams streams;
    clickButton();
    ASSERT_TRUE(showsStatus("PLC-Status: CONNECTING"));
    frames(10);  // the attempt is inside the library by now, or about to be

    clickButton();  // Cancel
    frames(1);
    EXPECT_EQ(statusText(), "PLC-Status: DISCONNECTED");
    typePort(std::to_string(sim->port()));
    clickButton();
    ASSERT_TRUE(showsStatus("PLC-Status: CONNECTED"));
    EXPECT_EQ(service_.status().port, sim->port());
    EXPECT_EQ(service_.status().failure, S7_OK);
    EXPECT_EQ(mainWindow_->messageBar()->headline().find("failed"), std::string::npos)
        << "the cut attempt's failure is thrown away: " << mainWindow_->messageBar()->headline();
    EXPECT_EQ(sim->connectionsAccepted(), 1);
    service_.disconnect();
    EXPECT_NE(streams.out().find("by the operator (the connect was cancelled)"), std::string::npos) << streams.out();
}

// While a connection is wanted the fields cannot be edited: they keep
// showing what it is for, and emptying the address cannot lock Disconnect.
TEST_F(TopBarViewTest, TheFieldsAreReadOnlyWhileConnected) {
    const auto sim = startSimulator();
    typeIp("127.0.0.1");
    typePort(std::to_string(sim->port()));
    clickButton();
    ASSERT_TRUE(showsStatus("PLC-Status: CONNECTED"));

    retypeIp("10.0.0.9");
    typePort("1");
    frames(2);
    EXPECT_EQ(mainWindow_->topBar()->target().host, "127.0.0.1");
    EXPECT_EQ(mainWindow_->topBar()->target().port, sim->port());
    EXPECT_FALSE(button()->isLocked());
    EXPECT_EQ(buttonText(), "Disconnect");
    clickButton();
    EXPECT_TRUE(showsStatus("PLC-Status: DISCONNECTED"));

    // Connected from elsewhere, whatever the fields held: after it they
    // hold that connection's address, ready for the next connect.
    retypeIp("10.0.0.9");
    frames(2);
    ASSERT_EQ(mainWindow_->topBar()->target().host, "10.0.0.9");
    ASSERT_EQ(service_.connect("127.0.0.1", sim->port()), S7_OK);
    frames(2);
    service_.disconnect();
    frames(2);
    EXPECT_EQ(mainWindow_->topBar()->target().host, "127.0.0.1");
    EXPECT_EQ(mainWindow_->topBar()->target().port, sim->port());
}

// The key fingerprint right of "Allow writing": its start with the store's
// mark; a click, or the context menu's item, copies the whole of it.
TEST_F(TopBarViewTest, TheKeyFingerprintIsCopiedByAClickOrFromItsMenu) {
    const auto sim = startSimulator();
    typeIp("127.0.0.1");
    typePort(std::to_string(sim->port()));
    clickButton();
    ASSERT_TRUE(showsStatus("PLC-Status: CONNECTED"));
    const std::string key = service_.status().trust.identity.value().key.text();
    frames(2);

    SDL_SetClipboardText("");
    clickPanel(kFingerprint);
    char* copied = SDL_GetClipboardText();
    EXPECT_EQ(std::string(copied), key);
    SDL_free(copied);

    SDL_SetClipboardText("");
    const ui::Vec2 at = panel()->getWorldPosition() + kFingerprint;
    window()->injectMouseButton(at.x, at.y, ui::MouseButton::Right, true);
    window()->injectMouseButton(at.x, at.y, ui::MouseButton::Right, false);
    frames(3);
    // The menu opens at the mouse, moved to fit into the bar: its one item
    // fills it.
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(panel()->getImGuiContext());
    ASSERT_EQ(ImGui::GetCurrentContext()->OpenPopupStack.Size, 1);
    const ImGuiWindow* menu = ImGui::GetCurrentContext()->OpenPopupStack[0].Window;
    ASSERT_NE(menu, nullptr);
    const ui::Vec2 item{menu->Pos.x + menu->Size.x * 0.5f, menu->Pos.y + menu->Size.y * 0.5f};
    ImGui::SetCurrentContext(previous);
    clickPanel(item);
    copied = SDL_GetClipboardText();
    EXPECT_EQ(std::string(copied), key);
    SDL_free(copied);
    window()->saveScreenshot((std::filesystem::path(VEMO_TEST_OUTPUT_DIR) / "top_bar_fingerprint.png").string());
    service_.disconnect();
}

// The window title while a connection stands, and only then.
TEST(TopBarTitle, NamesTheControllerWhileAConnectionStands) {
    struct Case {
        ConnectionState state;
        const char* host;
        const char* type;
        const char* title;
    };
    const Case cases[] = {
        {ConnectionState::Connected, "192.168.0.1", "CPU 1516-3 PN/DP",
         "VEMO S7 Browser - CPU 1516-3 PN/DP at 192.168.0.1:102"},
        {ConnectionState::Lost, "192.168.0.1", "CPU 1516-3 PN/DP",
         "VEMO S7 Browser - CPU 1516-3 PN/DP at 192.168.0.1:102"},
        {ConnectionState::Held, "fe80::1", "CPU 1214C", "VEMO S7 Browser - CPU 1214C at [fe80::1]:102"},
        {ConnectionState::Connected, "plc", "", "VEMO S7 Browser - plc:102"},
        {ConnectionState::Connecting, "192.168.0.1", "CPU 1516-3 PN/DP", "VEMO S7 Browser"},
        {ConnectionState::Disconnected, "192.168.0.1", "CPU 1516-3 PN/DP", "VEMO S7 Browser"},
    };
    for (const Case& c : cases) {
        vemo::ConnectionStatus status;
        status.state = c.state;
        status.host = c.host;
        status.port = 102;
        EXPECT_EQ(vemo::windowTitle(status, c.type), c.title) << c.host << " " << static_cast<int>(c.state);
    }
}

TEST_F(TopBarViewTest, StoppedPoolIsReportedAsAFailedConnectNotACrash) {
    pool_.shutdown();
    typeIp("127.0.0.1");
    CapturedStreams streams;
    clickButton();
    frames(2);
    EXPECT_EQ(detail()->getText(), "Connection failed");
    EXPECT_EQ(statusText(), "PLC-Status: DISCONNECTED");
    EXPECT_NE(streams.err().find("failed to connect to PLC: ThreadPool is stopped"), std::string::npos);
}

}  // namespace
