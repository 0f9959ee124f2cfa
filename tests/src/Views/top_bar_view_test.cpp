// The top bar with its real widgets, driven by clicks and typing: the
// button's lock, connect on the pool with the status it shows on the way,
// disconnect at once, failures with their log lines, and the port's low
// 16 bits. The simulator plays the controller over loopback.
#include "Views/TopBarView.h"

#include "Theme.h"
#include "Views/DefaultButton.h"
#include "app_test_support.h"
#include "gui_fixture.h"
#include "loopback_server.h"

#include "Program.h"
#include "Server.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
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
};

TEST_F(TopBarViewTest, ButtonIsLockedUntilAnIpIsTyped) {
    frames(2);
    EXPECT_EQ(statusText(), "PLC-Status: DISCONNECTED");
    EXPECT_EQ(status()->getColor(), Theme::instance().disconnectedColor());
    EXPECT_EQ(detail()->getText(), "");
    EXPECT_EQ(button()->getText()->getText(), "Connect");
    EXPECT_TRUE(button()->isLocked());
    EXPECT_NE(vemo::test::findText(bar(), "VEMO Software GmbH"), nullptr);
    EXPECT_NE(vemo::test::findText(bar(), "Version: 1.0.18"), nullptr);

    clickButton();
    frames(3);
    EXPECT_EQ(detail()->getText(), "") << "a locked button starts no connect";

    typeIp("1");
    EXPECT_FALSE(button()->isLocked());
    window()->injectKeyPress(SDL_SCANCODE_BACKSPACE);
    frames(2);
    EXPECT_TRUE(button()->isLocked()) << "emptying the field locks the button again";
}

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
        EXPECT_EQ(button()->getText()->getText(), "Connect");
    }
    ASSERT_TRUE(showsStatus("PLC-Status: CONNECTED")) << "the port stepped down to the simulator's";
    EXPECT_EQ(status()->getColor(), Theme::instance().connectedColor());
    EXPECT_EQ(button()->getText()->getText(), "Disconnect");
    const std::string type = sim->model().program().plcType;
    EXPECT_EQ(detail()->getText(), "PLC-Type: " + type);

    frames(2);
    const std::filesystem::path shot = std::filesystem::path(VEMO_TEST_OUTPUT_DIR) / "top_bar_connected.png";
    window()->saveScreenshot(shot.string());
    EXPECT_TRUE(std::filesystem::exists(shot));

    clickButton();
    frames(1);
    EXPECT_EQ(statusText(), "PLC-Status: DISCONNECTED");
    EXPECT_EQ(button()->getText()->getText(), "Connect");
    EXPECT_EQ(detail()->getText(), "PLC-Type: " + type) << "the last controller type stays";
    EXPECT_EQ(service_.getState(), ConnectionState::Disconnected);
    EXPECT_EQ(sim->connectionsAccepted(), 1);
}

struct PortCase {
    const char* name;
    // The text typed into the port field, given the port of a running
    // simulator and of one that has stopped.
    std::function<std::string(int running, int stopped)> port;
    // The code in the log line; none: the connect succeeds.
    std::optional<unsigned> code;
};

const PortCase kPortCases[] = {
    {"ZeroFailsAtOnceWithTheArgumentCode", [](int, int) { return std::string("0"); }, S7_ERR_ARGUMENT},
    {"StoppedSimulatorFailsWithTheConnectCode", [](int, int stopped) { return std::to_string(stopped); },
     S7_ERR_CONNECT},
    {"AbovePortRangeUsesTheLow16Bits", [](int running, int) { return std::to_string(running + 65536); }, std::nullopt},
};

void PrintTo(const PortCase& c, std::ostream* os) { *os << c.name; }

class TopBarPort : public TopBarViewTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(TopBarPort, ConnectsOrReportsTheCode) {
    const PortCase& c = GetParam();
    const auto sim = startSimulator();
    auto stopped = startSimulator();
    const int stoppedPort = stopped->port();
    stopped.reset();
    typeIp("127.0.0.1");
    typePort(c.port(sim->port(), stoppedPort));

    // The line as a log file gets it: the code ends the line.
    const vemo::test::LogColours plain(vemo::ColourMode::Never);
    CapturedStreams streams;
    clickButton();
    if (!c.code) {
        ASSERT_TRUE(showsStatus("PLC-Status: CONNECTED"));
        EXPECT_EQ(streams.err(), "");
        service_.disconnect();
        return;
    }
    ASSERT_TRUE(runUntil([&] { return detail()->getText() == "Connection failed"; }));
    EXPECT_EQ(statusText(), "PLC-Status: DISCONNECTED");
    EXPECT_NE(streams.err().find("[ERROR]"), std::string::npos);
    // The log line names the address, the reason in words and the code.
    EXPECT_NE(streams.err().find(" failed: "), std::string::npos) << streams.err();
    EXPECT_NE(streams.err().find(std::string("(") + s7_result_name(*c.code) + ")\n"), std::string::npos)
        << streams.err();
}

INSTANTIATE_TEST_SUITE_P(TopBar, TopBarPort, ::testing::ValuesIn(kPortCases),
                         [](const auto& param) { return std::string(param.param.name); });

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

TEST_F(TopBarViewTest, SecondPressWhileConnectingQueuesASecondConnect) {
    const auto sim = startSimulator();
    typeIp("127.0.0.1");
    typePort(std::to_string(sim->port()));
    {
        HeldClient held(service_);
        clickButton();
        ASSERT_TRUE(showsStatus("PLC-Status: CONNECTING"));
        EXPECT_FALSE(button()->isLocked()) << "not locked while connecting";
        clickButton();
        frames(2);
    }
    // Runs on the one worker after both connect tasks.
    std::atomic<bool> bothRan{false};
    pool_.submit([&] { bothRan = true; });
    ASSERT_TRUE(runUntil([&] { return bothRan.load(); }));
    EXPECT_TRUE(showsStatus("PLC-Status: CONNECTED"));
    EXPECT_EQ(sim->connectionsAccepted(), 2) << "the second task connected again";
    service_.disconnect();
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
