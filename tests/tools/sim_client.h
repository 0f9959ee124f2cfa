// What the integration tests share: a controller simulator on a free
// loopback port (real TCP, real TLS 1.3), a client handle that frees itself,
// block and symbol lists that release themselves, all through the library's
// public interface, and a patient wait for the simulator's threads.
#pragma once

#include "Program.h"
#include "Server.h"

#include <vemo/s7browse.h>
#include <vemo/s7client.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace vemo::test {

// Long enough for a TLS handshake on a loaded machine under the sanitizers;
// only faults that stall ever wait it out.
constexpr uint32_t kTimeoutMs = 10000;

struct ClientDeleter {
    void operator()(vemoc_s7_client* c) const { vemoc_s7_client_free(c); }
};
using Client = std::unique_ptr<vemoc_s7_client, ClientDeleter>;

inline Client newClient() {
    Client c(vemoc_s7_client_new());
    if (!c) throw std::bad_alloc();
    return c;
}

inline std::unique_ptr<sim::Server> startSim(sim::Program program, sim::ControllerSettings controller = {},
                                             bool record = false) {
    sim::ServerOptions options;
    options.port = 0;
    options.controller = std::move(controller);
    options.record = record;
    return std::make_unique<sim::Server>(std::move(program), std::move(options));
}

// Waits for something the simulator's threads do on their own time; the
// bound only keeps a failing test from hanging.
template <typename Condition>
bool eventually(Condition condition) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline uint8_t connectTo(vemoc_s7_client* c, const sim::Server& server, uint32_t timeoutMs = kTimeoutMs) {
    return vemoc_s7_client_connect(c, "127.0.0.1", server.port(), timeoutMs);
}

// A block or symbol list from the library, released with its own function.
template <typename List, void (*Release)(List*)>
struct OwnedList {
    List list{};
    OwnedList() = default;
    OwnedList(const OwnedList&) = delete;
    OwnedList& operator=(const OwnedList&) = delete;
    ~OwnedList() { Release(&list); }

    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (uint32_t i = 0; i < list.count; ++i) n.emplace_back(list.items[i].name);
        return n;
    }
    const auto* find(const std::string& name) const {
        for (uint32_t i = 0; i < list.count; ++i) {
            if (name == list.items[i].name) return &list.items[i];
        }
        return static_cast<decltype(&list.items[0])>(nullptr);
    }
};

using Blocks = OwnedList<s7_block_list, s7_block_list_free>;
using Symbols = OwnedList<s7_symbol_list, s7_symbol_list_free>;

inline std::vector<uint32_t> pathOf(const s7_symbol& s) {
    return {s.address.path, s.address.path + s.address.path_count};
}

// Reads the values of `count` addresses in requests of at most the handle's
// item limit, in order; the first failing request's code ends it.
inline uint8_t readAll(vemoc_s7_client* c, const std::vector<const s7_item_address*>& items,
                       std::vector<sim::ValuePtr>& values) {
    values.clear();
    uint32_t limit = 0;
    if (const uint8_t rc = vemoc_s7_client_get_max_read_items(c, &limit); rc != S7_OK) return rc;
    for (size_t at = 0; at < items.size(); at += limit) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(limit, items.size() - at));
        s7_value** got = nullptr;
        if (const uint8_t rc = vemoc_s7_client_read(c, items.data() + at, n, &got); rc != S7_OK) return rc;
        for (uint32_t i = 0; i < n; ++i) values.emplace_back(got[i]);
        s7_free(got);
    }
    return S7_OK;
}

}  // namespace vemo::test
