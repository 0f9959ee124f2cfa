#include "vemo/core/PlcConnection.h"

#include <utility>

#include "vemo/core/ConnectionWords.h"
#include "vemo/core/Logger.h"

namespace vemo {

namespace {

using namespace std::chrono_literals;

std::string describe(std::uint8_t code) {
    return fmt::format("{} ({})", describeFailure(code, PlcConnection::kConnectTimeoutMs).what, s7_result_name(code));
}

}  // namespace

std::chrono::seconds PlcConnection::reconnectDelay(unsigned attempt) {
    constexpr std::chrono::seconds kDelays[] = {1s, 2s, 4s, 8s, 16s};
    return attempt < std::size(kDelays) ? kDelays[attempt] : 30s;
}

PlcConnection* PlcConnection::instance() {
    static PlcConnection connection;
    return &connection;
}

PlcConnection::PlcConnection(std::function<SteadyTime()> now) : now_(std::move(now)), client_(vemoc_s7_client_new()) {}

PlcConnection::~PlcConnection() {
    std::lock_guard guard(lock_);
    vemoc_s7_client_free(client_);
}

std::uint8_t PlcConnection::connect(const std::string& host, std::uint16_t port) {
    {
        std::lock_guard statusGuard(statusLock_);
        status_ = ConnectionStatus{ConnectionState::Connecting, host, port, S7_OK, 0, std::nullopt};
        wanted_.store(true);
        state_.store(ConnectionState::Connecting);
    }
    std::lock_guard held(lock_);
    return connectLocked(true);
}

std::uint8_t PlcConnection::reconnect() {
    if (!wanted_.load()) return S7_ERR_NOT_CONNECTED;
    std::lock_guard held(lock_);
    return connectLocked(false);
}

std::uint8_t PlcConnection::connectLocked(bool byOperator) {
    std::string host;
    std::uint16_t port = 0;
    {
        std::lock_guard statusGuard(statusLock_);
        host = status_.host;
        port = status_.port;
    }
    // A handle that could not be allocated is null: the library answers
    // S7_ERR_ARGUMENT for it.
    const std::uint8_t rc = vemoc_s7_client_connect(client_, host.c_str(), port, kConnectTimeoutMs);
    std::lock_guard statusGuard(statusLock_);
    if (!wanted_.load()) {
        // The operator disconnected while this connect ran (and cut it
        // short): the state already says Disconnected.
        vemoc_s7_client_disconnect(client_);
        return rc;
    }
    // The type is written before the state turns Connected, so whoever sees
    // Connected reads the type of that connection.
    if (rc == S7_OK) {
        plcType_ = vemoc_s7_client_get_plc_type(client_);
        status_.failure = S7_OK;
        status_.attempts = 0;
        status_.nextAttempt.reset();
        writesAllowed_.store(false);
        status_.state = ConnectionState::Connected;
        Logger::log(LogLevel::Info, "Connected to {}:{} ({})", host, port, plcType_);
    } else if (byOperator) {
        plcType_.clear();
        status_.failure = rc;
        status_.state = ConnectionState::Disconnected;
        wanted_.store(false);
        Logger::log(LogLevel::Error, "Connecting to {}:{} failed: {}", host, port, describe(rc));
    } else {
        status_.failure = rc;
        // The loss waited reconnectDelay(0) for attempt 1; attempt n failed
        // waits reconnectDelay(n) for the next.
        const std::chrono::seconds delay = reconnectDelay(++status_.attempts);
        status_.nextAttempt = now_() + delay;
        Logger::log(LogLevel::Warn, "Reconnect attempt {} to {}:{} failed: {}; next in {} s", status_.attempts, host,
                    port, describe(rc), delay.count());
    }
    state_.store(status_.state);
    return rc;
}

void PlcConnection::disconnect() {
    {
        std::lock_guard statusGuard(statusLock_);
        if (wanted_.load() || status_.state != ConnectionState::Disconnected) {
            Logger::log(LogLevel::Info, "Disconnected from {}:{} by the operator", status_.host, status_.port);
        }
        wanted_.store(false);
        writesAllowed_.store(false);
        status_.state = ConnectionState::Disconnected;
        status_.failure = S7_OK;
        status_.attempts = 0;
        status_.nextAttempt.reset();
        state_.store(ConnectionState::Disconnected);
    }
    // A call in flight, even against a stalled controller, returns at once;
    // the UI thread never waits for it.
    vemoc_s7_client_abort(client_);
    std::unique_lock held(lock_, std::try_to_lock);
    if (held.owns_lock()) {
        vemoc_s7_client_disconnect(client_);
    }
}

bool PlcConnection::reconnectDue() {
    std::lock_guard statusGuard(statusLock_);
    if (status_.state != ConnectionState::Lost || !wanted_.load() || !status_.nextAttempt ||
        now_() < *status_.nextAttempt) {
        return false;
    }
    status_.nextAttempt.reset();  // running from now on
    return true;
}

void PlcConnection::withClient(const std::function<void(vemoc_s7_client*)>& fn) {
    std::lock_guard held(lock_);
    if (!wanted_.load() && vemoc_s7_client_get_state(client_) == S7_CLIENT_CONNECTED) {
        // A disconnect that found the handle busy.
        vemoc_s7_client_disconnect(client_);
    }
    fn(client_);
    settle();
}

void PlcConnection::settle() {
    const bool open = vemoc_s7_client_get_state(client_) == S7_CLIENT_CONNECTED;
    if (!wanted_.load()) {
        if (open) vemoc_s7_client_disconnect(client_);
        return;
    }
    if (open || state_.load() != ConnectionState::Connected) return;
    std::lock_guard statusGuard(statusLock_);
    if (!wanted_.load() || status_.state != ConnectionState::Connected) return;
    status_.state = ConnectionState::Lost;
    status_.failure = vemoc_s7_client_get_loss(client_);
    status_.attempts = 0;
    const std::chrono::seconds delay = reconnectDelay(0);
    status_.nextAttempt = now_() + delay;
    state_.store(ConnectionState::Lost);
    Logger::log(LogLevel::Warn, "Connection to {}:{} lost: {}; reconnecting in {} s", status_.host, status_.port,
                describe(status_.failure), delay.count());
}

ConnectionStatus PlcConnection::status() const {
    std::lock_guard statusGuard(statusLock_);
    return status_;
}

void PlcConnection::allowWrites(bool allowed) {
    writesAllowed_.store(allowed && state_.load() == ConnectionState::Connected);
}

std::string PlcConnection::getPlcType() const {
    std::lock_guard statusGuard(statusLock_);
    return plcType_;
}

}  // namespace vemo
