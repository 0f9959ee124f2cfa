#include "vemo/core/PlcConnection.h"

namespace vemo {

PlcConnection* PlcConnection::instance() {
    static PlcConnection connection;
    return &connection;
}

PlcConnection::PlcConnection() : client_(vemoc_s7_client_new()) {}

PlcConnection::~PlcConnection() {
    std::lock_guard guard(lock_);
    vemoc_s7_client_free(client_);
}

std::uint8_t PlcConnection::connect(const std::string& host, std::uint16_t port) {
    state_.store(ConnectionState::Connecting);
    std::lock_guard guard(lock_);
    // A handle that could not be allocated is null: the library answers
    // S7_ERR_ARGUMENT for it.
    const std::uint8_t rc = vemoc_s7_client_connect(client_, host.c_str(), port, kConnectTimeoutMs);
    {
        // Written before the state turns Connected, so whoever sees Connected
        // reads the type of that connection.
        std::lock_guard textGuard(plcTypeLock_);
        if (rc == S7_OK) {
            plcType_ = vemoc_s7_client_get_plc_type(client_);
        } else {
            plcType_.clear();
        }
    }
    state_.store(rc == S7_OK ? ConnectionState::Connected : ConnectionState::Disconnected);
    return rc;
}

void PlcConnection::disconnect() {
    state_.store(ConnectionState::Disconnected);
    std::lock_guard guard(lock_);
    vemoc_s7_client_disconnect(client_);
}

void PlcConnection::withClient(const std::function<void(vemoc_s7_client*)>& fn) {
    std::lock_guard guard(lock_);
    vemoc_s7_client* client = client_;
    fn(client);
}

std::string PlcConnection::getPlcType() const {
    std::lock_guard guard(plcTypeLock_);
    return plcType_;
}

}  // namespace vemo
