#include "vemo/core/ConnectionWords.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <system_error>

#include <vemo/s7browse.h>
#include <vemo/s7client.h>

namespace vemo {

namespace {

unsigned secondsOf(std::uint32_t timeoutMs) { return (timeoutMs + 999) / 1000; }

// "port 11702", or "the controller's port" when none is known.
std::string portText(std::uint16_t port) {
    return port != 0 ? fmt::format("port {}", port) : std::string("the controller's port");
}

// What to check of the port: the one used, when it is not the usual one.
std::string portAdvice(std::uint16_t port) {
    if (port == 0 || port == 102) return "S7-1200/1500 controllers listen on 102";
    return fmt::format("this connect used port {}; S7-1200/1500 controllers listen on 102", port);
}

// A controller that took the connection and then stopped answering in one
// of the connect's steps: said as such, never as a refusal.
FailureWords silentIn(std::uint8_t step, const FailureContext& context) {
    const unsigned seconds = secondsOf(context.timeoutMs);
    const std::string check =
        "It took the connection, then stopped answering: check that the controller is not overloaded or starting "
        "up, and the network between here and there; then connect again.";
    switch (step) {
    case S7_STEP_ISO:
        return {fmt::format("the device at {} took the connection but did not answer the ISO connection request "
                            "within {} s",
                            portText(context.port), seconds),
                fmt::format("Check that {} is the controller's (S7-1200/1500 controllers listen on 102) and that the "
                            "address is the controller's.",
                            portText(context.port))};
    case S7_STEP_TLS_START:
        return {fmt::format("the controller did not answer the request for a secure connection within {} s", seconds),
                check};
    case S7_STEP_TLS_HANDSHAKE:
        return {fmt::format("the controller did not answer in the TLS handshake within {} s", seconds), check};
    case S7_STEP_SESSION:
        return {fmt::format("the controller did not answer the session set-up within {} s", seconds), check};
    default:
        return {fmt::format("no answer within {} s", seconds),
                fmt::format("Check that the address is the controller's, the network cable and switches, and that no "
                            "firewall holds back {}.",
                            portText(context.port))};
    }
}

}  // namespace

FailureWords describeFailure(std::uint8_t code, std::uint32_t timeoutMs) {
    FailureContext context;
    context.timeoutMs = timeoutMs;
    return describeFailure(code, context);
}

FailureWords describeFailure(std::uint8_t code, const FailureContext& context) {
    const bool inConnect = context.step >= S7_STEP_TCP && context.step < S7_STEP_DONE;
    switch (code) {
    case S7_ERR_ARGUMENT:
        return {"the address or the port is not valid",
                "Enter the controller's IP address or host name and a port from 1 to 65535."};
    case S7_ERR_NO_MEMORY:
        if (context.browsing) {
            return {"the program's type descriptions are larger than the client accepts",
                    "The client takes at most 16 MiB of them in one answer: split the largest data blocks of the "
                    "controller's program into smaller ones."};
        }
        return {"the program ran out of memory", "Close other programs and try again."};
    case S7_ERR_CONNECT:
        return {"nothing accepted the connection at this address and port",
                fmt::format("Check the IP address and the port ({}), that the controller is switched on, and the "
                            "network.",
                            portAdvice(context.port))};
    case S7_ERR_TIMEOUT: return silentIn(inConnect ? context.step : std::uint8_t{S7_STEP_NONE}, context);
    case S7_ERR_PROTOCOL:
        if (context.browsing || context.step == S7_STEP_DONE) {
            // Past the session set-up it is a controller: what it said was
            // not understood, which says nothing about what it is.
            return {"the controller sent an answer the client could not read",
                    "While blocks are browsed, the type descriptions may pass the 16 MiB the client takes: split the "
                    "largest data blocks; else report it with the log."};
        }
        return {"the device answered, but not as an S7-1200/1500 controller does",
                fmt::format("Check that the address and {} are the controller's, not another device's.",
                            portText(context.port))};
    case S7_ERR_TLS:
        if (context.step == S7_STEP_TLS_START) {
            return {"the controller refused to switch to a secure connection",
                    "Check that secure PG/PC and HMI communication (TLS) is enabled in the controller's protection "
                    "settings."};
        }
        return {"the controller refused the secure connection",
                "Check that secure PG/PC and HMI communication (TLS) is enabled in the controller's protection "
                "settings."};
    case S7_ERR_TRANSPORT:
        return {"the connection broke",
                "The controller or the network closed it: check the cable and the controller. If it happens at "
                "every connect, the controller may be serving all the clients it takes: end another client's "
                "connection."};
    case S7_ERR_EXPLORE:
        return {"the controller refused to list its blocks",
                "Check the controller's access protection for clients like this one."};
    case S7_ERR_NOT_CONNECTED:
        return {"the controller closed the connection",
                "It may have been restarted, or it ended the connection on its own: check the controller."};
    case S7_ERR_ENCODE: return {"a request could not be built", "This is a fault of the program: please report it."};
    case S7_ERR_SESSION:
        return {"the controller refused the session",
                "Check the access level the controller grants to HMI and PG/PC clients."};
    case S7_ERR_SESSION_LEVEL:
        return {"the controller's protection level refuses this client",
                "Lower the controller's access protection, or give clients like this one the access level "
                "they need."};
    case S7_ERR_READ:
        return {"the controller refused to read a variable",
                "Check that the variable still exists in the controller's program and may be read."};
    case S7_ERR_TOO_MANY_ITEMS:
        return {"more variables in one request than the controller takes",
                "This is a fault of the program: please report it."};
    case S7_ERR_WRITE:
        return {"the controller refused to write",
                "Check that the controller's protection level allows clients like this one to write."};
    default: return {fmt::format("an unknown failure (code {})", code), ""};
    }
}

FailureWords describeBrowseFailure(std::uint8_t code, std::uint32_t timeoutMs) {
    switch (code) {
    case S7_ERR_NO_MEMORY:
        // Almost always one of the browse's bounds, rarely a full memory.
        return {"its description is larger than this program reads",
                fmt::format("One block may hold at most {} million variables: check the block's array sizes in "
                            "the controller's program, or whether the controller describes it wrongly.",
                            S7_BROWSE_MAX_SYMBOLS / 1000000)};
    case S7_ERR_PROTOCOL:
        return {"the controller's description of it could not be understood",
                "Its structures may nest more than 64 levels deep, or the controller describes it wrongly: check "
                "the block in the controller's program."};
    case S7_ERR_EXPLORE:
        return {"the controller refused to describe it",
                "Check the controller's access protection for clients like this one."};
    default: return describeFailure(code, timeoutMs);
    }
}

FailureWords describeConnectFailure(std::uint8_t code, std::uint8_t cause, int systemError, std::uint32_t timeoutMs) {
    FailureContext context;
    context.timeoutMs = timeoutMs;
    return describeConnectFailure(code, cause, systemError, context);
}

FailureWords describeConnectFailure(std::uint8_t code, std::uint8_t cause, int systemError,
                                    const FailureContext& context) {
    const std::uint32_t timeoutMs = context.timeoutMs;
    switch (cause) {
    case S7_CAUSE_EMPTY_HOST: return {"no address given", "Enter the controller's IP address or host name."};
    case S7_CAUSE_UNKNOWN_HOST:
        return {"unknown host", "Check the spelling of the host name, or enter the controller's IP address instead."};
    case S7_CAUSE_LOOKUP:
        return {"the host name could not be looked up",
                "Check this computer's network connection and name server settings, or enter the controller's IP "
                "address instead."};
    case S7_CAUSE_REFUSED:
        return {"connection refused",
                fmt::format("The address answered, but nothing listens on {}: check the port (S7-1200/1500 controllers "
                            "listen on 102) and that the address is the controller's.",
                            context.port != 0 ? fmt::format("port {}", context.port) : std::string("this port"))};
    case S7_CAUSE_NO_ROUTE:
        return {"no route to the host",
                "Check the address, the network cable, and that this computer's address, subnet mask and gateway "
                "reach the controller's network."};
    case S7_CAUSE_TIMED_OUT:
        return {fmt::format("connection timed out after {} s", (timeoutMs + 999) / 1000),
                fmt::format("Check that the address is the controller's and that it is switched on, the network cable "
                            "and switches, and that no firewall holds back {}.",
                            portText(context.port))};
    case S7_CAUSE_SYSTEM: {
        const std::string said = std::system_category().message(systemError);
        return {fmt::format("the connection could not be made ({})", said.empty() ? "no reason given" : said),
                "Check this computer's network settings."};
    }
    default: return describeFailure(code, context);
    }
}

ConnectionMessage describeConnection(const ConnectionStatus& status, SteadyTime now) {
    if (status.failure == S7_OK) return {};
    FailureContext context;
    context.port = status.port;
    context.step = status.failedStep;
    const FailureWords words = describeFailure(status.failure, context);
    if (status.state == ConnectionState::Lost) {
        std::string when = "reconnecting now";
        if (status.nextAttempt) {
            // Rounded up: "in 0 s" would be a promise already broken.
            const auto left = std::chrono::ceil<std::chrono::seconds>(*status.nextAttempt - now);
            when = fmt::format("reconnecting in {} s", std::max<long long>(left.count(), 0));
        }
        std::string detail = when;
        detail[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(detail[0])));
        return {detail, fmt::format("Connection lost: {}, {}", words.what, when), words.check};
    }
    if (status.state == ConnectionState::Disconnected) {
        return {"Connection failed", fmt::format("Connection failed: {}.", words.what), words.check};
    }
    return {};
}

ConnectionMessage describeTrust(const ConnectionStatus& status) {
    using Verdict = ControllerTrust::Verdict;
    const bool live = status.state == ConnectionState::Connected || status.state == ConnectionState::Held;
    if (!live) return {};
    const ControllerTrust& trust = status.trust;
    const std::string address = addressText(status.host, status.port);
    switch (trust.verdict) {
    case Verdict::New:
        if (!trust.problem.empty()) {
            return {"",
                    fmt::format("New controller: first connection to {}; its key {} could not be stored: {}.", address,
                                trust.identity ? trust.identity->key.text() : std::string("(none)"), trust.problem),
                    "It is not known the next time either, and a different key there is not reported until it "
                    "is stored: make the store writable, then connect again."};
        }
        return {"",
                fmt::format("New controller: first connection to {}; its key {} is now stored as known.", address,
                            trust.identity ? trust.identity->key.text() : std::string("(none)")),
                "From now on a different key at this address is reported before anything is read. Compare the "
                "fingerprint with the controller's own if you want to be sure it is the right one."};
    case Verdict::Changed:
        return {
            "",
            fmt::format("Connection held: the controller at {} presents another key than the one on record.", address),
            "Nothing is read from or written to it until you decide: disconnect, or trust the new key."};
    case Verdict::NotVerified:
        return {"", fmt::format("Controller not verified: {}.", trust.problem),
                "The store of known controllers was left as it is and nothing was stored: repair or remove the file, "
                "then connect again."};
    case Verdict::None:
    case Verdict::Known: break;
    }
    return {};
}

std::string addressText(const std::string& host, std::uint16_t port) {
    return host.find(':') != std::string::npos ? fmt::format("[{}]:{}", host, port) : fmt::format("{}:{}", host, port);
}

std::string seenText(WallTime time) {
    std::string text = KnownControllers::timeText(time);
    // "2026-12-10T08:00:00Z" as it is read aloud.
    if (text.size() == 20 && text[10] == 'T' && text[19] == 'Z') {
        text[10] = ' ';
        text.replace(19, 1, " UTC");
    }
    return text;
}

std::optional<SteadyTime> nextTimedChange(const ConnectionStatus& status, SteadyTime now) {
    if (status.state != ConnectionState::Lost || !status.nextAttempt) return std::nullopt;
    const SteadyTime due = *status.nextAttempt;
    if (now >= due) return due;
    // "in n s" with n the time left rounded up: it turns n - 1 when exactly
    // n - 1 seconds are left.
    const auto shown = std::chrono::ceil<std::chrono::seconds>(due - now);
    return due - (shown - std::chrono::seconds(1));
}

std::string connectStepText(std::uint8_t step) {
    switch (step) {
    case S7_STEP_TCP: return "TCP connection";
    case S7_STEP_ISO: return "ISO connection";
    case S7_STEP_TLS_START: return "TLS start";
    case S7_STEP_TLS_HANDSHAKE: return "TLS handshake";
    case S7_STEP_SESSION: return "session set-up";
    case S7_STEP_DONE: return "connected";
    default: return "starting";
    }
}

std::string notAnsweringText(SteadyTime since, SteadyTime now) {
    if (now - since <= PlcConnection::kNotAnsweringAfter) return {};
    return fmt::format("not answering ({} s)", std::chrono::floor<std::chrono::seconds>(now - since).count());
}

std::string connectingText(std::uint8_t step, SteadyTime since, SteadyTime now) {
    const std::string silent = notAnsweringText(since, now);
    // "…": the step is under way.
    if (silent.empty()) return connectStepText(step) + "\u2026";
    return fmt::format("{}: {}", connectStepText(step), silent);
}

SteadyTime nextNotAnsweringChange(SteadyTime since, SteadyTime now) {
    const SteadyTime first = since + PlcConnection::kNotAnsweringAfter + std::chrono::nanoseconds(1);
    if (now < first) return first;
    return since + std::chrono::floor<std::chrono::seconds>(now - since) + std::chrono::seconds(1);
}

std::string listingFailedText(std::uint8_t code, const std::string& address, std::uint16_t port, bool byOperator) {
    if (byOperator) return fmt::format("Listing the blocks of {} stopped: you disconnected.", address);
    FailureContext context;
    context.port = port;
    context.step = S7_STEP_DONE;
    context.browsing = true;
    const FailureWords words = describeFailure(code, context);
    return fmt::format("Listing the blocks of {} failed: {}. {}", address, words.what, words.check);
}

std::string browseFailuresText(std::size_t failed, std::size_t total, const std::string& firstName,
                               std::uint8_t firstCode, std::uint16_t port) {
    if (failed == 0) return {};
    FailureContext context;
    context.port = port;
    context.step = S7_STEP_DONE;
    context.browsing = true;
    return fmt::format("Browsing {} of {} blocks failed; the first, {}: {} ({})", failed, total, firstName,
                       describeFailure(firstCode, context).what, s7_result_name(firstCode));
}

}  // namespace vemo
