// Records the seeds of fuzz_sim_request: the client library runs one real
// session against the simulator (connect, list the blocks, browse them, read,
// write, read back) and the request messages the simulator received are
// written to the folder named on the command line, as the plaintext a
// connection decrypts:
//
//   connect              the messages of the session set-up
//   NN-FUNCTION          the set-up, then the session's NN-th later message
//   session              every message of the session, in order
//
// Later messages need the set-up before them: without the create request a
// session answers everything with a session error. Run it again when the
// client's requests change, into fuzz/corpus/sim_request/: scripts/fuzz
// keeps these named seeds and minimizes what the fuzzer adds around them.
#include "Controller.h"
#include "Program.h"
#include "Server.h"

#include <vemo/s7browse.h>
#include <vemo/s7client.h>
#include <vemo/s7read.h>
#include <vemo/s7write.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using vemo::sim::Bytes;

struct ClientDeleter {
    void operator()(vemoc_s7_client* c) const { vemoc_s7_client_free(c); }
};

std::string functionName(uint16_t fn) {
    switch (fn) {
    case S7_FN_EXPLORE: return "explore";
    case S7_FN_CREATE_OBJECT: return "create";
    case S7_FN_SET_VALUES: return "set-values";
    case S7_FN_READ_VARIABLES: return "read";
    case S7_FN_GET_ATTRIBUTE: return "get-attribute";
    default: return "function-" + std::to_string(fn);
    }
}

bool check(uint8_t rc, const char* step) {
    if (rc != S7_OK) {
        std::fprintf(stderr, "record_sim_requests: %s failed: %s\n", step, s7_result_name(rc));
        return false;
    }
    return true;
}

// The client's session: every step a user of the browser takes once.
bool runSession(vemoc_s7_client* c, uint16_t port, size_t& afterConnect, const vemo::sim::Server& server) {
    if (!check(vemoc_s7_client_connect(c, "127.0.0.1", port, 10000), "connect")) return false;
    afterConnect = server.requests().size();
    s7_block_list blocks{};
    if (!check(vemoc_s7_client_list_datablocks(c, &blocks), "list")) return false;
    std::vector<s7_symbol_list> symbols(blocks.count);
    bool ok = true;
    for (uint32_t b = 0; ok && b < blocks.count; ++b) {
        ok = check(vemoc_s7_client_browse_block(c, &blocks.items[b], &symbols[b]), "browse");
    }
    // A read of a few variables of each block, then one as long as the
    // controller allows, then writes of an INT and a STRING and a read of
    // both back.
    uint32_t limit = 0;
    ok = ok && check(vemoc_s7_client_get_max_read_items(c, &limit), "limit");
    std::vector<const s7_item_address*> all;
    const s7_symbol* anInt = nullptr;
    const s7_symbol* aString = nullptr;
    for (const s7_symbol_list& list : symbols) {
        std::vector<const s7_item_address*> few;
        for (uint32_t i = 0; i < list.count; ++i) {
            const s7_symbol& s = list.items[i];
            all.push_back(&s.address);
            if (i < 3) few.push_back(&s.address);
            if (anInt == nullptr && s.datatype == S7_DATATYPE_INT) anInt = &s;
            if (aString == nullptr && s.datatype == S7_DATATYPE_STRING) aString = &s;
        }
        s7_value** values = nullptr;
        if (ok && !few.empty()) {
            ok = check(vemoc_s7_client_read(c, few.data(), static_cast<uint32_t>(few.size()), &values), "read");
            for (size_t i = 0; ok && i < few.size(); ++i) s7_value_free(values[i]);
            s7_free(values);
        }
    }
    if (ok && all.size() >= limit) {
        s7_value** values = nullptr;
        ok = check(vemoc_s7_client_read(c, all.data(), limit, &values), "long read");
        for (uint32_t i = 0; ok && i < limit; ++i) s7_value_free(values[i]);
        s7_free(values);
    }
    if (ok && anInt != nullptr && aString != nullptr) {
        const std::string text = "seed";
        vemo::sim::ValuePtr string(s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY));
        s7_value** current = nullptr;
        ok = check(vemoc_s7_client_read(c, std::vector{&aString->address}.data(), 1, &current), "read string");
        uint8_t capacity = 0;
        if (ok) {
            s7_array_get_u8(current[0], 0, &capacity);
            s7_value_free(current[0]);
            s7_free(current);
        }
        s7_array_append(string.get(), s7_value_new_u8(capacity));
        s7_array_append(string.get(), s7_value_new_u8(static_cast<uint8_t>(text.size())));
        for (const char ch : text) s7_array_append(string.get(), s7_value_new_u8(static_cast<uint8_t>(ch)));
        const vemo::sim::ValuePtr number(s7_value_new_i16(-1234));
        const std::vector<const s7_item_address*> items = {&anInt->address, &aString->address};
        const std::vector<const s7_value*> values = {number.get(), string.get()};
        s7_write_result* results = nullptr;
        ok = ok && check(vemoc_s7_client_write(c, items.data(), values.data(), 2, &results), "write");
        s7_write_results_free(results);
        s7_value** back = nullptr;
        ok = ok && check(vemoc_s7_client_read(c, items.data(), 2, &back), "read back");
        for (uint32_t i = 0; ok && i < 2; ++i) s7_value_free(back[i]);
        s7_free(back);
    }
    for (s7_symbol_list& list : symbols) s7_symbol_list_free(&list);
    s7_block_list_free(&blocks);
    vemoc_s7_client_disconnect(c);
    return ok;
}

bool save(const std::filesystem::path& file, const std::vector<const Bytes*>& messages) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const Bytes* m : messages) out.write(reinterpret_cast<const char*>(m->data()), static_cast<long>(m->size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: record_sim_requests FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    vemo::sim::ServerOptions options;
    options.port = 0;
    options.record = true;
    vemo::sim::Server server(vemo::sim::Program::builtIn(), options);
    const std::unique_ptr<vemoc_s7_client, ClientDeleter> client(vemoc_s7_client_new());
    size_t afterConnect = 0;
    if (!client || !runSession(client.get(), server.port(), afterConnect, server)) return 1;
    server.stop();

    const std::vector<vemo::sim::ReceivedRequest> received = server.requests();
    std::vector<const Bytes*> setup;
    std::vector<const Bytes*> everything;
    for (size_t i = 0; i < received.size(); ++i) {
        everything.push_back(&received[i].message);
        if (i < afterConnect) setup.push_back(&received[i].message);
    }
    bool ok = save(folder / "connect", setup) && save(folder / "session", everything);
    for (size_t i = afterConnect; ok && i < received.size(); ++i) {
        std::vector<const Bytes*> messages = setup;
        messages.push_back(&received[i].message);
        char number[8];
        std::snprintf(number, sizeof number, "%02zu", i - afterConnect + 1);
        ok = save(folder / (std::string(number) + "-" + functionName(received[i].function)), messages);
    }
    std::printf("recorded %zu requests, %zu of them the set-up\n", received.size(), afterConnect);
    return ok ? 0 : 1;
}
