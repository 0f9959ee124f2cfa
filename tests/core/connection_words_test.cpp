// The words the program shows for the library's result codes and for a
// connection that failed or is being reconnected.
#include "vemo/core/ConnectionWords.h"

#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>
#include <optional>
#include <set>
#include <string>

namespace {

using namespace std::chrono_literals;
using vemo::ConnectionState;
using vemo::ConnectionStatus;

TEST(ConnectionWords, EveryCodeHasWordsOfItsOwnAndSaysWhatToCheck) {
    const std::uint8_t codes[] = {
        S7_ERR_ARGUMENT, S7_ERR_NO_MEMORY,     S7_ERR_CONNECT, S7_ERR_TIMEOUT,        S7_ERR_PROTOCOL,
        S7_ERR_TLS,      S7_ERR_TRANSPORT,     S7_ERR_EXPLORE, S7_ERR_NOT_CONNECTED,  S7_ERR_ENCODE,
        S7_ERR_SESSION,  S7_ERR_SESSION_LEVEL, S7_ERR_READ,    S7_ERR_TOO_MANY_ITEMS, S7_ERR_WRITE};
    std::set<std::string> seen;
    for (const std::uint8_t code : codes) {
        const vemo::FailureWords words = vemo::describeFailure(code, 10000);
        EXPECT_FALSE(words.what.empty()) << int(code);
        EXPECT_FALSE(words.check.empty()) << int(code);
        EXPECT_TRUE(seen.insert(words.what).second) << "one text per code: " << words.what;
        EXPECT_EQ(words.what.find("S7_"), std::string::npos) << "words, not code names: " << words.what;
    }
    EXPECT_EQ(vemo::describeFailure(S7_ERR_TIMEOUT, 2500).what, "no answer within 3 s");
    EXPECT_EQ(vemo::describeFailure(200, 1000).what, "an unknown failure (code 200)");
}

// A browse's own failures are about the block, not the program or the
// connection: "the program ran out of memory" would send the engineer
// closing programs when the block is too large to read.
TEST(ConnectionWords, ABlocksFailedBrowseIsToldInWordsAboutTheBlock) {
    for (const std::uint8_t code : {S7_ERR_NO_MEMORY, S7_ERR_PROTOCOL, S7_ERR_EXPLORE}) {
        const vemo::FailureWords words = vemo::describeBrowseFailure(code, 10000);
        EXPECT_NE(words.what, vemo::describeFailure(code, 10000).what) << int(code);
        EXPECT_FALSE(words.check.empty()) << int(code);
    }
    EXPECT_EQ(vemo::describeBrowseFailure(S7_ERR_NO_MEMORY, 10000).what,
              "its description is larger than this program reads");
    EXPECT_EQ(vemo::describeBrowseFailure(S7_ERR_TIMEOUT, 2500).what, "no answer within 3 s");
}

TEST(ConnectionWords, ALostConnectionNamesItsReasonAndTheNextAttempt) {
    const vemo::SteadyTime now{};
    struct Case {
        const char* rule;
        ConnectionStatus status;
        const char* detail;
        const char* headline;
    };
    const Case cases[] = {
        {"waiting, rounded up",
         {ConnectionState::Lost, "plc", 102, S7_ERR_TIMEOUT, 2, now + 3200ms, 0, {}},
         "Reconnecting in 4 s",
         "Connection lost: no answer within 10 s, reconnecting in 4 s"},
        {"an attempt running",
         {ConnectionState::Lost, "plc", 102, S7_ERR_NOT_CONNECTED, 0, std::nullopt, 0, {}},
         "Reconnecting now",
         "Connection lost: the controller closed the connection, reconnecting now"},
        {"a failed connect",
         {ConnectionState::Disconnected, "plc", 102, S7_ERR_CONNECT, 0, std::nullopt, 0, {}},
         "Connection failed",
         "Connection failed: nothing accepted the connection at this address and port."},
        {"a plain disconnect", {ConnectionState::Disconnected, "plc", 102, S7_OK, 0, std::nullopt, 0, {}}, "", ""},
        {"connected", {ConnectionState::Connected, "plc", 102, S7_OK, 0, std::nullopt, 0, {}}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        const vemo::ConnectionMessage message = vemo::describeConnection(c.status, now);
        EXPECT_EQ(message.detail, c.detail);
        EXPECT_EQ(message.headline, c.headline);
        EXPECT_EQ(message.advice.empty(), std::string(c.headline).empty());
    }
}

// A connect that failed before TCP stood is named by its cause; without
// one (or with a cause this version does not know) the code's words stand.
TEST(ConnectionWords, AFailedConnectNamesItsCause) {
    struct Case {
        std::uint8_t code;
        std::uint8_t cause;
        int systemError;
        const char* what;
    };
    const Case cases[] = {
        {S7_ERR_CONNECT, S7_CAUSE_EMPTY_HOST, 0, "no address given"},
        {S7_ERR_CONNECT, S7_CAUSE_UNKNOWN_HOST, EAI_NONAME, "unknown host"},
        {S7_ERR_CONNECT, S7_CAUSE_LOOKUP, EAI_AGAIN, "the host name could not be looked up"},
        {S7_ERR_CONNECT, S7_CAUSE_REFUSED, ECONNREFUSED, "connection refused"},
        {S7_ERR_CONNECT, S7_CAUSE_NO_ROUTE, EHOSTUNREACH, "no route to the host"},
        {S7_ERR_TIMEOUT, S7_CAUSE_TIMED_OUT, ETIMEDOUT, "connection timed out after 3 s"},
        {S7_ERR_CONNECT, S7_CAUSE_SYSTEM, EACCES, "the connection could not be made (Permission denied)"},
        {S7_ERR_TIMEOUT, S7_CAUSE_NONE, 0, "no answer within 3 s"},
        {S7_ERR_TLS, S7_CAUSE_NONE, 0, "the controller refused the secure connection"},
        {S7_ERR_CONNECT, 200, 0, "nothing accepted the connection at this address and port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const vemo::FailureWords words = vemo::describeConnectFailure(c.code, c.cause, c.systemError, 2500);
        EXPECT_EQ(words.what, c.what);
        EXPECT_FALSE(words.check.empty());
    }
}

// The program sleeps between frames and wakes at the time this gives: a
// time too late leaves a stale countdown on the screen (or the attempt
// waiting), one too early wakes it for nothing.
TEST(ConnectionWords, TheNextTimedChangeIsWhenTheCountdownNextChanges) {
    const vemo::SteadyTime start{};
    const vemo::SteadyTime due = start + 5s;
    const ConnectionStatus lost{ConnectionState::Lost, "plc", 102, S7_ERR_TIMEOUT, 1, due, 1, {}};
    auto headline = [&](vemo::SteadyTime at) { return vemo::describeConnection(lost, at).headline; };
    for (vemo::SteadyTime now = start; now < due; now += 37ms) {
        const std::optional<vemo::SteadyTime> next = vemo::nextTimedChange(lost, now);
        ASSERT_TRUE(next.has_value());
        ASSERT_GT(*next, now);
        ASSERT_LE(*next, due);
        EXPECT_EQ(headline(*next - 1ns), headline(now)) << "no change before it";
        EXPECT_NE(headline(*next), headline(now)) << "a change at it";
    }
    EXPECT_EQ(vemo::nextTimedChange(lost, due), due) << "the attempt is due";
    EXPECT_EQ(vemo::nextTimedChange(lost, due + 3s), due) << "and stays due until reconnectDue takes it";

    const ConnectionStatus still[] = {
        {ConnectionState::Lost, "plc", 102, S7_ERR_TIMEOUT, 1, std::nullopt, 1, {}},  // an attempt running
        {ConnectionState::Connected, "plc", 102, S7_OK, 0, std::nullopt, 1, {}},
        {ConnectionState::Disconnected, "plc", 102, S7_ERR_CONNECT, 0, std::nullopt, 1, {}},
        {ConnectionState::Connecting, "plc", 102, S7_OK, 0, std::nullopt, 1, {}},
    };
    for (const ConnectionStatus& status : still) {
        EXPECT_FALSE(vemo::nextTimedChange(status, start).has_value()) << int(status.state);
    }
}

}  // namespace
