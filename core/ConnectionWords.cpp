#include "vemo/core/ConnectionWords.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

#include <vemo/s7client.h>

namespace vemo {

FailureWords describeFailure(std::uint8_t code, std::uint32_t timeoutMs) {
    switch (code) {
    case S7_ERR_ARGUMENT:
        return {"the address or the port is not valid",
                "Enter the controller's IP address or host name and a port from 1 to 65535."};
    case S7_ERR_NO_MEMORY: return {"the program ran out of memory", "Close other programs and try again."};
    case S7_ERR_CONNECT:
        return {"nothing accepted the connection at this address and port",
                "Check the IP address and the port (S7-1200/1500 controllers listen on 102), that the controller "
                "is switched on, and the network between here and there."};
    case S7_ERR_TIMEOUT:
        return {fmt::format("no answer within {} s", (timeoutMs + 999) / 1000),
                "Check that the address is the controller's, the network cable and switches, and that no firewall "
                "holds back port 102."};
    case S7_ERR_PROTOCOL:
        return {"the device answered, but not as an S7-1200/1500 controller does",
                "Check that the address and the port are the controller's, not another device's."};
    case S7_ERR_TLS:
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

ConnectionMessage describeConnection(const ConnectionStatus& status, SteadyTime now) {
    if (status.failure == S7_OK) return {};
    const FailureWords words = describeFailure(status.failure, PlcConnection::kConnectTimeoutMs);
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

std::optional<SteadyTime> nextTimedChange(const ConnectionStatus& status, SteadyTime now) {
    if (status.state != ConnectionState::Lost || !status.nextAttempt) return std::nullopt;
    const SteadyTime due = *status.nextAttempt;
    if (now >= due) return due;
    // "in n s" with n the time left rounded up: it turns n - 1 when exactly
    // n - 1 seconds are left.
    const auto shown = std::chrono::ceil<std::chrono::seconds>(due - now);
    return due - (shown - std::chrono::seconds(1));
}

}  // namespace vemo
