// Variable reads and writes and the object requests over a real connection
// to the test peer: the bytes the controller receives, the all-or-nothing
// success rule of vemoc_s7_client_read, the per-item verdicts of
// vemoc_s7_client_write, and the checks that send nothing.
#include <vemo/s7write.h>

#include "s7_client.h"
#include "s7_memory.h"
#include "s7_request.h"

#include "../support/alloc_hooks.h"
#include "../support/tls_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

using vemo::test::Bytes;
using vemo::test::concat;
using vemo::test::PeerReply;
using vemo::test::TlsPeer;
using vemo::test::TlsPeerOptions;

constexpr uint32_t kTimeoutMs = 3000;

// One response message in frames of the request's version byte, each with
// as many data bytes as the client takes in one; the peer gives it the
// request's sequence number.
PeerReply reply(const Bytes& data, uint8_t version = 2) {
    Bytes message;
    for (size_t at = 0; at < data.size(); at += S7_FRAME_MAX_RECEIVE_DATA) {
        const size_t n = std::min<size_t>(data.size() - at, S7_FRAME_MAX_RECEIVE_DATA);
        message = concat({message,
                          {0x72, version, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)},
                          Bytes(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n))});
    }
    return PeerReply::tls(concat({message, {0x72, version, 0x00, 0x00}})).answering();
}

Bytes responseHeader(uint16_t functionCode) {
    return {0x32, 0x00, 0x00, static_cast<uint8_t>(functionCode >> 8), static_cast<uint8_t>(functionCode), 0x00,
            0x00, 0x00, 0x01};
}

// The data of the request message the peer received: frame head, header and
// trailer stripped (every request here fits one frame).
Bytes requestBody(const Bytes& message) {
    const size_t headSize = 4 + 13;
    return Bytes(message.begin() + headSize, message.end() - 4);
}

const Bytes kTail = {0x00, 0x00, 0x04, 0xE8, 0x89, 0x69, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00,
                     0x89, 0x6A, 0x00, 0x13, 0x00, 0x89, 0x6B, 0x00, 0x04, 0x00, 0x00};

// A handle connected to the peer and ready for requests, as connect leaves
// it: a session over its channel, state connected, an item limit.
struct Connected {
    Connected(uint16_t port, uint32_t maxItems) : client(vemoc_s7_client_new()) {
        rc = vemoc_s7_client_connect(client, "127.0.0.1", port, kTimeoutMs);
        if (rc == S7_OK && client->session == nullptr) {
            client->session = s7_session_new(client->tls);
        }
        client->state = S7_CLIENT_CONNECTED;
        client->max_read_items = maxItems;
    }
    ~Connected() { vemoc_s7_client_free(client); }
    Connected(const Connected&) = delete;
    Connected& operator=(const Connected&) = delete;

    vemoc_s7_client* client;
    uint8_t rc = S7_ERR_ARGUMENT;
};

struct Addresses {
    explicit Addresses(uint32_t n) : items(n), pointers(n) {
        for (uint32_t i = 0; i < n; ++i) {
            items[i] = s7_item_address{201, 1037, nullptr, 0};
            EXPECT_EQ(s7_item_address_push(&items[i], 1000 + i), 0);
            pointers[i] = &items[i];
        }
    }
    ~Addresses() {
        for (auto& a : items) {
            s7_item_address_release(&a);
        }
    }
    std::vector<s7_item_address> items;
    std::vector<const s7_item_address*> pointers;
};

void freeValues(s7_value** values, uint32_t count) {
    for (uint32_t i = 0; values != nullptr && i < count; ++i) {
        s7_value_free(values[i]);
    }
    s7_free(values);
}

TEST(ClientRead, PlacesTheValuesByItemNumberAndSendsTheLimitsBody) {
    TlsPeerOptions options;
    // Item 2 is listed first: each value still goes to its own item.
    options.replies = {reply(concat(
        {responseHeader(1356), {0x00, 0x00, 0x02, 0x00, 0x08, 0x10, 0x01, 0x00, 0x08, 0x20, 0x00, 0x00, 0x00}}))};
    TlsPeer peer(options);
    {
        Connected c(peer.port(), 16);
        ASSERT_EQ(c.rc, S7_OK);
        Addresses a(2);
        s7_value** values = nullptr;
        ASSERT_EQ(vemoc_s7_client_read(c.client, a.pointers.data(), 2, &values), S7_OK);
        int32_t first = 0;
        int32_t second = 0;
        EXPECT_EQ(s7_value_get_i32(values[0], &first), 0);
        EXPECT_EQ(s7_value_get_i32(values[1], &second), 0);
        EXPECT_EQ(first, 32) << "item 1";
        EXPECT_EQ(second, 16) << "item 2";
        freeValues(values, 2);
    }
    peer.join();
    ASSERT_EQ(peer.log().messages.size(), 1u);
    const Bytes& message = peer.log().messages[0].bytes;
    EXPECT_EQ(Bytes(message.begin() + 4, message.begin() + 9), (Bytes{0x31, 0x00, 0x00, 0x05, 0x4C}))
        << "function 1356";
    // Version 2; counter B advanced to 3 (connect's get attribute and
    // limits read took 1 and 2).
    EXPECT_EQ(message[1], 0x02);
    EXPECT_EQ(requestBody(message), concat({{0x34, 0x00, 0x00, 0x00, 0x00, 0x02, 0x0A},
                                            {0x00, 0x81, 0x49, 0x02, 0x88, 0x0D, 0x87, 0x68},
                                            {0x00, 0x81, 0x49, 0x02, 0x88, 0x0D, 0x87, 0x69},
                                            kTail,
                                            {0x03, 0x00, 0x00, 0x00, 0x00}}));
}

TEST(ClientRead, ChecksThatFailSendNothing) {
    TlsPeer peer;
    {
        Connected c(peer.port(), 2);
        ASSERT_EQ(c.rc, S7_OK);
        Addresses a(3);
        s7_value** values = reinterpret_cast<s7_value**>(&peer);  // must be cleared
        EXPECT_EQ(vemoc_s7_client_read(c.client, a.pointers.data(), 3, &values), S7_ERR_TOO_MANY_ITEMS);
        EXPECT_EQ(values, nullptr);
        EXPECT_EQ(vemoc_s7_client_read(c.client, a.pointers.data(), 0, &values), S7_ERR_ARGUMENT);
        EXPECT_EQ(vemoc_s7_client_read(c.client, nullptr, 1, &values), S7_ERR_ARGUMENT);
        EXPECT_EQ(vemoc_s7_client_read(nullptr, a.pointers.data(), 1, &values), S7_ERR_ARGUMENT);
        EXPECT_EQ(vemoc_s7_client_read(c.client, a.pointers.data(), 1, nullptr), S7_ERR_ARGUMENT);
        const s7_item_address* holes[] = {a.pointers[0], nullptr};
        EXPECT_EQ(vemoc_s7_client_read(c.client, holes, 2, &values), S7_ERR_ARGUMENT);
        c.client->state = S7_CLIENT_CONNECTING;
        EXPECT_EQ(vemoc_s7_client_read(c.client, a.pointers.data(), 1, &values), S7_ERR_NOT_CONNECTED);
    }
    vemoc_s7_client* fresh = vemoc_s7_client_new();
    Addresses one(1);
    s7_value** values = nullptr;
    EXPECT_EQ(vemoc_s7_client_read(fresh, one.pointers.data(), 1, &values), S7_ERR_NOT_CONNECTED);
    vemoc_s7_client_free(fresh);
    peer.join();
    EXPECT_TRUE(peer.log().messages.empty());
}

TEST(ClientRead, AnythingButACompleteSuccessFailsTheWholeRead) {
    struct Case {
        const char* rule;
        Bytes body;  // after the response header
        uint8_t expected;
    };
    const Case cases[] = {
        {"an error entry fails the read even with both values present",
         {0x00, 0x00, 0x01, 0x00, 0x02, 0x01, 0x02, 0x00, 0x02, 0x02, 0x00, 0x02, 0x81, 0x00, 0x00, 0x00},
         S7_ERR_READ},
        {"a non-zero return value",
         {0x00, 0x05, 0x01, 0x00, 0x02, 0x01, 0x02, 0x00, 0x02, 0x02, 0x00, 0x00, 0x00},
         S7_ERR_READ},
        {"fewer values than items", {0x00, 0x00, 0x01, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00}, S7_ERR_READ},
        {"more values than items",
         {0x00, 0x00, 0x01, 0x00, 0x02, 0x01, 0x02, 0x00, 0x02, 0x02, 0x03, 0x00, 0x02, 0x03, 0x00, 0x00, 0x00},
         S7_ERR_READ},
        {"no values", {0x00, 0x00, 0x00, 0x00, 0x00}, S7_ERR_READ},
        {"a value that does not decode", {0x00, 0x00, 0x01, 0x00, 0x16, 0x00, 0x00, 0x00}, S7_ERR_PROTOCOL},
        {"a body cut short", {0x00, 0x00, 0x01, 0x00, 0x02}, S7_ERR_PROTOCOL},
    };
    vemo::test::CountingAllocator alloc;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        options.replies = {reply(concat({responseHeader(1356), c.body}))};
        TlsPeer peer(options);
        {
            Connected link(peer.port(), 16);
            ASSERT_EQ(link.rc, S7_OK);
            Addresses a(2);
            s7_value** values = nullptr;
            EXPECT_EQ(vemoc_s7_client_read(link.client, a.pointers.data(), 2, &values), c.expected);
            EXPECT_EQ(values, nullptr);
        }
        peer.join();
    }
    EXPECT_EQ(alloc.live(), 0u);
}

// What the strict read and the per-item read make of one answer to a read
// of two items, U8 values 0x01 for item 1 and 0x02 for item 2 when given.
// Either way the connection stays: the answer refused the request, not the
// connection.
TEST(ClientRead, ItemNumbersDecideWhereEveryValueGoesInBothReads) {
    const Bytes value1 = {0x01, 0x00, 0x02, 0x01};              // item 1, flags, U8, 0x01
    const Bytes value2 = {0x02, 0x00, 0x02, 0x02};              // item 2 = 0x02
    const Bytes value3 = {0x03, 0x00, 0x02, 0x03};              // item 3, not asked for
    const Bytes noErrors = {0x00, 0x00, 0x00};                  // end of values, end of errors, final field
    const Bytes error2 = {0x00, 0x02, 0x81, 0x01, 0x00, 0x00};  // end of values, item 2: error 0x81, end, final
    constexpr uint8_t kMissing = 0xFF;
    struct Case {
        const char* rule;
        Bytes body;  // after the response header
        uint8_t strict;
        uint8_t each;
        uint8_t first;    // value of item 1 in both reads (kMissing: none)
        uint8_t second;   // value of item 2 in the per-item read (kMissing: none)
        uint64_t error2;  // the per-item read's error code for item 2
    };
    const Case cases[] = {
        {"in order", concat({{0x00, 0x00}, value1, value2, noErrors}), S7_OK, S7_OK, 0x01, 0x02, 0},
        {"swapped", concat({{0x00, 0x00}, value2, value1, noErrors}), S7_OK, S7_OK, 0x01, 0x02, 0},
        {"an item twice", concat({{0x00, 0x00}, value1, value1, noErrors}), S7_ERR_READ, S7_ERR_READ, kMissing,
         kMissing, 0},
        {"an item missing", concat({{0x00, 0x00}, value1, noErrors}), S7_ERR_READ, S7_ERR_READ, kMissing, kMissing, 0},
        {"a number not asked for", concat({{0x00, 0x00}, value1, value3, noErrors}), S7_ERR_READ, S7_ERR_READ, kMissing,
         kMissing, 0},
        {"an extra number", concat({{0x00, 0x00}, value1, value2, value3, noErrors}), S7_ERR_READ, S7_ERR_READ,
         kMissing, kMissing, 0},
        {"an error entry for item 2", concat({{0x00, 0x00}, value1, error2}), S7_ERR_READ, S7_OK, 0x01, kMissing, 0x81},
        {"an item with a value and an error", concat({{0x00, 0x00}, value1, value2, error2}), S7_ERR_READ, S7_ERR_READ,
         kMissing, kMissing, 0},
        {"a non-zero return value, every item answered", concat({{0x00, 0x05}, value1, value2, noErrors}), S7_ERR_READ,
         S7_OK, 0x01, 0x02, 0},
        {"a non-zero return value, nothing answered",
         {0x00, 0x05, 0x00, 0x00, 0x00},
         S7_ERR_READ,
         S7_ERR_READ,
         kMissing,
         kMissing,
         0},
    };
    vemo::test::CountingAllocator alloc;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        options.replies = {reply(concat({responseHeader(1356), c.body})),
                           reply(concat({responseHeader(1356), c.body}))};
        TlsPeer peer(options);
        {
            Connected link(peer.port(), 16);
            ASSERT_EQ(link.rc, S7_OK);
            Addresses a(2);
            s7_value** values = nullptr;
            ASSERT_EQ(vemoc_s7_client_read(link.client, a.pointers.data(), 2, &values), c.strict);
            if (c.strict == S7_OK) {
                uint8_t v = 0;
                EXPECT_EQ(s7_value_get_u8(values[0], &v), S7_OK);
                EXPECT_EQ(v, c.first);
                freeValues(values, 2);
            }
            s7_item_result* results = nullptr;
            ASSERT_EQ(vemoc_s7_client_read_each(link.client, a.pointers.data(), 2, &results), c.each);
            if (c.each == S7_OK) {
                uint8_t v = kMissing;
                s7_value_get_u8(results[0].value, &v);
                EXPECT_EQ(v, c.first);
                EXPECT_EQ(results[0].error, 0u);
                v = kMissing;
                s7_value_get_u8(results[1].value, &v);
                EXPECT_EQ(v, c.second);
                EXPECT_EQ(results[1].error, c.error2);
                s7_item_results_free(results, 2);
            } else {
                EXPECT_EQ(results, nullptr);
            }
            EXPECT_EQ(vemoc_s7_client_get_state(link.client), S7_CLIENT_CONNECTED);
        }
        peer.join();
    }
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(ClientRead, AResponseToAnotherFunctionIsAProtocolError) {
    TlsPeerOptions options;
    options.replies = {reply(concat({responseHeader(1211), {0x00, 0x00, 0x01, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00}}))};
    TlsPeer peer(options);
    {
        Connected c(peer.port(), 16);
        ASSERT_EQ(c.rc, S7_OK);
        Addresses a(1);
        s7_value** values = nullptr;
        EXPECT_EQ(vemoc_s7_client_read(c.client, a.pointers.data(), 1, &values), S7_ERR_PROTOCOL);
    }
    peer.join();
}

// An answer whose values would take more memory than any answer of its
// length may - 30 000 empty strings, 65 bytes of heap for each byte - fails
// the read as out of memory; the connection stays, and the next read of
// the same item is answered as usual.
TEST(ClientRead, AnAnswerPastItsMemoryBudgetFailsAloneAndLeavesNothing) {
    Bytes strings = {0x01, 0x10, 0x15, 0x81, 0xEA, 0x30};  // item 1, array of 30 000 strings
    strings.insert(strings.end(), 30000, 0x00);
    TlsPeerOptions options;
    options.replies = {reply(concat({responseHeader(1356), {0x00, 0x00}, strings, {0x00, 0x00, 0x00}})),
                       reply(concat({responseHeader(1356), {0x00, 0x00, 0x01, 0x00, 0x02, 0x07, 0x00, 0x00, 0x00}}))};
    vemo::test::CountingAllocator alloc;
    TlsPeer peer(options);
    {
        Connected c(peer.port(), 16);
        ASSERT_EQ(c.rc, S7_OK);
        Addresses a(1);
        s7_value** values = nullptr;
        EXPECT_EQ(vemoc_s7_client_read(c.client, a.pointers.data(), 1, &values), S7_ERR_NO_MEMORY);
        EXPECT_EQ(values, nullptr);
        EXPECT_EQ(vemoc_s7_client_get_state(c.client), S7_CLIENT_CONNECTED);
        ASSERT_EQ(vemoc_s7_client_read(c.client, a.pointers.data(), 1, &values), S7_OK);
        uint8_t v = 0;
        EXPECT_EQ(s7_value_get_u8(values[0], &v), S7_OK);
        EXPECT_EQ(v, 7);
        freeValues(values, 1);
    }
    peer.join();
    EXPECT_EQ(alloc.live(), 0u);
}

// Two U8 values, 0x11 for item 1 and 0x22 for item 2.
struct TwoValues {
    TwoValues() : values{s7_value_new_u8(0x11), s7_value_new_u8(0x22)} {}
    ~TwoValues() {
        for (s7_value* v : values) {
            s7_value_free(v);
        }
    }
    TwoValues(const TwoValues&) = delete;
    TwoValues& operator=(const TwoValues&) = delete;
    const s7_value* const* data() const { return values; }
    s7_value* values[2];
};

TEST(ClientWrite, SendsTheAddressesThenTheNumberedValuesInOneSetValuesRequest) {
    TlsPeerOptions options;
    options.replies = {reply(concat({responseHeader(1346), {0x00, 0x00, 0x00, 0x00}}))};
    TlsPeer peer(options);
    {
        Connected c(peer.port(), 16);
        ASSERT_EQ(c.rc, S7_OK);
        Addresses a(2);
        TwoValues v;
        s7_write_result* results = nullptr;
        ASSERT_EQ(vemoc_s7_client_write(c.client, a.pointers.data(), v.data(), 2, &results), S7_OK);
        ASSERT_NE(results, nullptr);
        EXPECT_EQ(results[0].error, 0u);
        EXPECT_EQ(results[1].error, 0u);
        s7_write_results_free(results);
    }
    peer.join();
    ASSERT_EQ(peer.log().messages.size(), 1u);
    const Bytes& message = peer.log().messages[0].bytes;
    EXPECT_EQ(message[1], 0x02) << "version 2";
    EXPECT_EQ(Bytes(message.begin() + 4, message.begin() + 9), (Bytes{0x31, 0x00, 0x00, 0x05, 0x42}))
        << "function 1346";
    // Object 0: the variables go by address. Two items, 10 address fields,
    // each value under its item number, the separator, the tail, counter 1
    // (no set-values request went out with a counter before).
    EXPECT_EQ(requestBody(message), concat({{0x34, 0x00, 0x00, 0x00, 0x00, 0x02, 0x0A},
                                            {0x00, 0x81, 0x49, 0x02, 0x88, 0x0D, 0x87, 0x68},
                                            {0x00, 0x81, 0x49, 0x02, 0x88, 0x0D, 0x87, 0x69},
                                            {0x01, 0x00, 0x02, 0x11},
                                            {0x02, 0x00, 0x02, 0x22},
                                            {0x00},
                                            kTail,
                                            {0x01, 0x00, 0x00, 0x00, 0x00}}));
}

// What a write of two items makes of the controller's answer. A refused
// request or a doubtful verdict fails the call; a refused item does not.
// The connection stays either way.
TEST(ClientWrite, EachItemGetsTheControllersVerdictOrTheWholeWriteFails) {
    struct Case {
        const char* rule;
        uint16_t function;
        Bytes body;  // after the response header
        uint8_t expected;
        uint64_t error1;
        uint64_t error2;
    };
    const Case cases[] = {
        {"both written", 1346, {0x00, 0x00, 0x00, 0x00}, S7_OK, 0, 0},
        {"item 2 refused", 1346, {0x00, 0x00, 0x02, 0x81, 0x01, 0x00, 0x00}, S7_OK, 0, 0x81},
        {"both refused, item 2 named first",
         1346,
         {0x00, 0x00, 0x02, 0x05, 0x01, 0x8A, 0x00, 0x00, 0x00},
         S7_OK,
         0x500,
         0x05},
        {"a non-zero return value beside the per-item errors",
         1346,
         {0x00, 0x13, 0x01, 0x07, 0x00, 0x00},
         S7_OK,
         0x07,
         0},
        {"a non-zero return value and no item named", 1346, {0x00, 0x13, 0x00, 0x00}, S7_ERR_WRITE, 0, 0},
        {"an item not asked for", 1346, {0x00, 0x00, 0x03, 0x05, 0x00, 0x00}, S7_ERR_WRITE, 0, 0},
        {"item number 1 twice", 1346, {0x00, 0x00, 0x01, 0x05, 0x01, 0x06, 0x00, 0x00}, S7_ERR_WRITE, 0, 0},
        {"an error entry with code 0", 1346, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00}, S7_ERR_WRITE, 0, 0},
        {"a body cut short", 1346, {0x00, 0x00, 0x01}, S7_ERR_PROTOCOL, 0, 0},
        {"an answer to another function", 1356, {0x00, 0x00, 0x00, 0x00}, S7_ERR_PROTOCOL, 0, 0},
    };
    vemo::test::CountingAllocator alloc;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        options.replies = {reply(concat({responseHeader(c.function), c.body}))};
        TlsPeer peer(options);
        {
            Connected link(peer.port(), 16);
            ASSERT_EQ(link.rc, S7_OK);
            Addresses a(2);
            TwoValues v;
            s7_write_result* results = nullptr;
            ASSERT_EQ(vemoc_s7_client_write(link.client, a.pointers.data(), v.data(), 2, &results), c.expected);
            if (c.expected == S7_OK) {
                ASSERT_NE(results, nullptr);
                EXPECT_EQ(results[0].error, c.error1);
                EXPECT_EQ(results[1].error, c.error2);
                s7_write_results_free(results);
            } else {
                EXPECT_EQ(results, nullptr);
            }
            EXPECT_EQ(vemoc_s7_client_get_state(link.client), S7_CLIENT_CONNECTED);
        }
        peer.join();
    }
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(ClientWrite, ChecksThatFailSendNothing) {
    TlsPeer peer;
    {
        Connected c(peer.port(), 1);
        ASSERT_EQ(c.rc, S7_OK);
        Addresses a(2);
        TwoValues v;
        s7_write_result* results = reinterpret_cast<s7_write_result*>(&peer);  // must be cleared
        EXPECT_EQ(vemoc_s7_client_write(c.client, a.pointers.data(), v.data(), 2, &results), S7_ERR_TOO_MANY_ITEMS)
            << "more than the item limit";
        EXPECT_EQ(results, nullptr);
        const s7_item_address* noItem[] = {nullptr};
        const s7_value* noValue[] = {nullptr};
        struct Case {
            const char* rule;
            vemoc_s7_client* client;
            const s7_item_address* const* items;
            const s7_value* const* values;
            uint32_t count;
            s7_write_result** out;
        };
        const Case cases[] = {
            {"no handle", nullptr, a.pointers.data(), v.data(), 1, &results},
            {"no items", c.client, nullptr, v.data(), 1, &results},
            {"no values", c.client, a.pointers.data(), nullptr, 1, &results},
            {"no output", c.client, a.pointers.data(), v.data(), 1, nullptr},
            {"count 0", c.client, a.pointers.data(), v.data(), 0, &results},
            {"a null item", c.client, noItem, v.data(), 1, &results},
            {"a null value", c.client, a.pointers.data(), noValue, 1, &results},
        };
        for (const Case& k : cases) {
            SCOPED_TRACE(k.rule);
            EXPECT_EQ(vemoc_s7_client_write(k.client, k.items, k.values, k.count, k.out), S7_ERR_ARGUMENT);
        }
        c.client->state = S7_CLIENT_CONNECTING;
        EXPECT_EQ(vemoc_s7_client_write(c.client, a.pointers.data(), v.data(), 1, &results), S7_ERR_NOT_CONNECTED);
    }
    peer.join();
    EXPECT_TRUE(peer.log().messages.empty());
}

// A write the controller leaves unanswered ends at the handle's time-out
// and takes the connection with it: whether the values were written is
// unknown, and the stream no longer matches requests to answers.
TEST(ClientWrite, NoAnswerEndsAtTheDeadlineAndDisconnects) {
    constexpr uint32_t kShortMs = 300;
    TlsPeerOptions options;
    options.silentAt = vemo::test::PeerStep::Request;
    TlsPeer peer(options);
    vemoc_s7_client* client = vemoc_s7_client_new();
    ASSERT_EQ(vemoc_s7_client_connect(client, "127.0.0.1", peer.port(), kShortMs), S7_OK);
    Addresses a(1);
    TwoValues v;
    s7_write_result* results = nullptr;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(vemoc_s7_client_write(client, a.pointers.data(), v.data(), 1, &results), S7_ERR_TIMEOUT);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(kShortMs));
    EXPECT_LT(took, std::chrono::milliseconds(5 * kShortMs));
    EXPECT_EQ(results, nullptr);
    EXPECT_EQ(vemoc_s7_client_get_state(client), S7_CLIENT_DISCONNECTED);
    EXPECT_EQ(vemoc_s7_client_get_loss(client), S7_ERR_TIMEOUT);
    vemoc_s7_client_free(client);
    peer.join();
}

// A controller that answers every request twice: each read still gets its
// own answer (2, 4, 6 - not the one before), a write's second answer does
// not stand in for the read-back, and the handle counts what it let go.
// The second copy comes in the same TLS record as the first, or in one of
// its own (which the client reads on the next request).
TEST(ClientExchange, AControllerThatAnswersTwiceIsMatchedRequestByRequest) {
    auto readAnswer = [](uint8_t value) {
        return reply(concat({responseHeader(1356), {0x00, 0x00, 0x01, 0x00, 0x08, value, 0x00, 0x00, 0x00}})).bytes;
    };
    const Bytes writeAnswer = reply(concat({responseHeader(1346), {0x00, 0x00, 0x00, 0x00}})).bytes;
    struct Case {
        const char* rule;
        bool ownRecord;
    };
    const Case cases[] = {{"the copy in the same record", false}, {"the copy in a record of its own", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        auto twice = [&](const Bytes& message) {
            const Bytes both = concat({message, message});
            return (c.ownRecord ? PeerReply::paced(both, message.size(), 0) : PeerReply::tls(both)).answering();
        };
        TlsPeerOptions options;
        options.replies = {twice(readAnswer(2)), twice(readAnswer(4)), twice(readAnswer(6)), twice(writeAnswer),
                           twice(readAnswer(8))};
        TlsPeer peer(options);
        {
            Connected link(peer.port(), 16);
            ASSERT_EQ(link.rc, S7_OK);
            EXPECT_EQ(vemoc_s7_client_get_discarded_answers(link.client), 0u);
            Addresses a(1);
            auto readOne = [&]() -> int32_t {
                s7_value** values = nullptr;
                const uint8_t rc = vemoc_s7_client_read(link.client, a.pointers.data(), 1, &values);
                EXPECT_EQ(rc, S7_OK);
                int32_t v = -1;
                if (rc == S7_OK) {
                    EXPECT_EQ(s7_value_get_i32(values[0], &v), 0);
                }
                freeValues(values, 1);
                return v;
            };
            EXPECT_EQ(readOne(), 2);
            EXPECT_EQ(readOne(), 4);
            EXPECT_EQ(readOne(), 6);
            s7_value* value = s7_value_new_i32(8);
            const s7_value* values[] = {value};
            s7_write_result* results = nullptr;
            EXPECT_EQ(vemoc_s7_client_write(link.client, a.pointers.data(), values, 1, &results), S7_OK);
            s7_write_results_free(results);
            s7_value_free(value);
            EXPECT_EQ(readOne(), 8) << "the read-back after the write";
            EXPECT_EQ(vemoc_s7_client_get_state(link.client), S7_CLIENT_CONNECTED);
            // The copy of the last answer is still on its way (or unread).
            EXPECT_EQ(vemoc_s7_client_get_discarded_answers(link.client), 4u);
            vemoc_s7_client_disconnect(link.client);
            EXPECT_EQ(vemoc_s7_client_get_discarded_answers(link.client), 4u) << "kept until the next connect";
        }
        peer.join();
        EXPECT_EQ(peer.log().messages.size(), 5u);
    }
    EXPECT_EQ(vemoc_s7_client_get_discarded_answers(nullptr), 0u);
}

TEST(ObjectRequests, ExploreSendsItsBodyAndParsesTheObjects) {
    const Bytes object = {0xA1, 0x00, 0x00, 0x02, 0x19, 0x84, 0x16, 0x00, 0x00, 0xA2};
    struct Case {
        const char* rule;
        Bytes body;
        uint8_t expected;
        uint32_t objects;
    };
    const Bytes head = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const Case cases[] = {
        {"a byte other than 0xA1 after the head: no objects", concat({head, {0x00}}), S7_OK, 0},
        {"one object, then the end", concat({head, object, {0x55}}), S7_OK, 1},
        {"the body ends right after the head", head, S7_ERR_PROTOCOL, 0},
        {"the body ends right after an object", concat({head, object}), S7_ERR_PROTOCOL, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        options.replies = {reply(concat({responseHeader(1211), c.body}))};
        TlsPeer peer(options);
        {
            Connected link(peer.port(), 16);
            ASSERT_EQ(link.rc, S7_OK);
            const s7_explore_request request{537, 0, 1, 0, nullptr, nullptr, 0};
            s7_explore_result result{};
            EXPECT_EQ(s7_explore(link.client->session, &request, 2, true, kTimeoutMs, &result), c.expected);
            EXPECT_EQ(result.object_count, c.objects);
            s7_explore_result_free(&result);
        }
        peer.join();
        ASSERT_EQ(peer.log().messages.size(), 1u);
        EXPECT_EQ(requestBody(peer.log().messages[0].bytes),
                  (Bytes{0x34, 0x00, 0x00, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x03, 0, 0, 0, 0, 0}))
            << "counter B 3: connect's get attribute and limits read took 1 and 2";
    }
}

TEST(ObjectRequests, GetAttributeAndCreateObjectRoundTrip) {
    TlsPeerOptions options;
    options.replies = {
        reply(concat({responseHeader(1414), {0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x00}})),
        reply(concat({responseHeader(1226),
                      {0x00, 0x00, 0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0xA1, 0x00, 0x00, 0x00, 0xD3, 0x82, 0x1F, 0x00,
                       0x00, 0xA2}}),
              1),
    };
    TlsPeer peer(options);
    {
        Connected link(peer.port(), 16);
        ASSERT_EQ(link.rc, S7_OK);
        s7_attribute_result attribute{};
        ASSERT_EQ(s7_get_attribute(link.client->session, 0x391, 1842, 2, true, kTimeoutMs, &attribute), S7_OK);
        uint32_t level = 0;
        EXPECT_EQ(s7_value_get_u32(attribute.value, &level), 0);
        EXPECT_EQ(level, 3u);
        s7_attribute_result_free(&attribute);

        s7_object* o = s7_object_new(211, 287, 0);
        s7_value* value = s7_value_new_u32(0);
        const s7_create_request request{285, value, o};
        s7_create_result created{};
        ASSERT_EQ(s7_create_object(link.client->session, &request, 1, false, kTimeoutMs, &created), S7_OK);
        ASSERT_EQ(created.object_id_count, 1u);
        EXPECT_EQ(created.object_ids[0], 0xFFFFFFFFu);
        EXPECT_EQ(s7_object_class(created.object), 287u);
        s7_create_result_free(&created);
        s7_value_free(value);
        s7_object_free(o);
    }
    peer.join();
    ASSERT_EQ(peer.log().messages.size(), 2u);
    EXPECT_EQ(requestBody(peer.log().messages[0].bytes),
              concat({{0x34, 0x00, 0x00, 0x03, 0x91, 0x20, 0x04, 0x01, 0x8E, 0x32},
                      kTail,
                      {0x00, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00}}))
        << "counter B 3: connect's get attribute and limits read took 1 and 2";
    // The create-object request goes out with version byte 1 and no counter.
    const Bytes& create = peer.log().messages[1].bytes;
    EXPECT_EQ(create[1], 0x01);
    EXPECT_EQ(requestBody(create),
              (Bytes{0x36, 0x00, 0x00, 0x01, 0x1D, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA1,
                     0x00, 0x00, 0x00, 0xD3, 0x82, 0x1F, 0x00, 0x00, 0xA2, 0x00, 0x00, 0x00, 0x00}));
}

}  // namespace
