// Browse: the walk of type-info objects into symbol names and item
// addresses (over a cache made from wire bytes, no connection needed), the
// bounds that keep a hostile type description from exhausting memory, and
// the listing and the per-connection cache against the test peer: the
// requests sent, the decoys skipped, and memory at every allocation.
#include "s7_browse.h"
#include "s7_client.h"
#include "s7_memory.h"
#include "s7_object.h"

#include "../support/alloc_hooks.h"
#include "../support/tls_peer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using vemo::test::Bytes;
using vemo::test::CountingAllocator;
using vemo::test::PeerReply;
using vemo::test::PeerSession;
using vemo::test::TlsPeer;
using vemo::test::TlsPeerOptions;

constexpr uint32_t kTimeoutMs = 3000;
constexpr uint32_t kDb1 = 0x8A0E0001;
constexpr uint8_t kInt = 5;      // a browsable elementary type
constexpr uint8_t kHidden = 13;  // a type the browse does not list
constexpr uint8_t kBbool = 40;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}
Bytes be32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}
Bytes zeros(size_t n) { return Bytes(n, 0); }

// --- type-info entries in their wire form (head, then the kind's record)

Bytes head(uint32_t member, uint8_t datatype, uint16_t kind) {
    return le32(member) + le32(0) + Bytes{datatype, static_cast<uint8_t>(kind << 4), 0x00, 0x00};
}
Bytes elementary(uint32_t member, uint8_t datatype) { return head(member, datatype, 1) + zeros(4); }
Bytes array1(uint32_t member, uint8_t datatype, int32_t lower, uint32_t count) {
    return head(member, datatype, 3) + zeros(12) + le32(static_cast<uint32_t>(lower)) + le32(count);
}
Bytes structure(uint32_t member, uint32_t ref) { return head(member, 0, 5) + zeros(12) + le32(ref) + zeros(16); }
Bytes structArray(uint32_t member, uint32_t ref, int32_t lower, uint32_t count) {
    return head(member, 0, 6) + zeros(12) + le32(static_cast<uint32_t>(lower)) + le32(count) + zeros(8) + le32(ref) +
           zeros(16);
}
Bytes multiArray(uint32_t member, uint8_t datatype, uint32_t count, std::vector<uint32_t> dims,
                 std::vector<int32_t> lowers) {
    dims.resize(6);
    lowers.resize(6);
    Bytes b = head(member, datatype, 4) + zeros(12) + le32(0) + le32(count);
    for (int32_t l : lowers) {
        b = b + le32(static_cast<uint32_t>(l));
    }
    for (uint32_t d : dims) {
        b = b + le32(d);
    }
    return b;
}

using Members = std::vector<std::pair<std::string, Bytes>>;

// A type-info object: its entries under 0xAB, their names under 0xAC.
Bytes typeObject(uint32_t id, const Members& members) {
    Bytes entries;
    Bytes names;
    for (const auto& [name, entry] : members) {
        entries = entries + entry;
        names.push_back(static_cast<uint8_t>(name.size()));
        names.insert(names.end(), name.begin(), name.end());
        names.push_back(0x00);
    }
    const size_t listLength = entries.size() + 4;
    // Each list ends with a block length of 0; an empty name list is just that.
    if (!names.empty()) {
        names = Bytes{static_cast<uint8_t>(names.size() >> 8), static_cast<uint8_t>(names.size())} + names;
    }
    return Bytes{0xA1} + be32(id) +
           Bytes{0x00, 0x00, 0x00, 0xAB, static_cast<uint8_t>(listLength >> 8), static_cast<uint8_t>(listLength)} +
           zeros(4) + entries + Bytes{0x00, 0x00, 0xAC} + names + Bytes{0x00, 0x00, 0xA2};
}

// The object of class 534 whose children are the type-info objects.
Bytes typeInfoParent(const Bytes& children) {
    return Bytes{0xA1, 0x00, 0x00, 0x02, 0x19, 0x84, 0x16, 0x00, 0x00} + children + Bytes{0xA2};
}

// A cache as the first browse of a connection leaves it, from wire bytes.
struct Cache {
    explicit Cache(Bytes parentBytes) {
        s7_cursor c{parentBytes.data(), parentBytes.data() + parentBytes.size()};
        s7_object* parent = nullptr;
        EXPECT_EQ(s7_read_object(&c, &parent), 0);
        s7_explore_result explored{};
        explored.objects = static_cast<s7_object**>(s7_malloc(sizeof(s7_object*)));
        explored.objects[0] = parent;
        explored.object_count = 1;
        EXPECT_EQ(s7_type_info_cache_fill(&cache, &explored, parent), S7_STATUS_OK);
    }
    ~Cache() { s7_type_info_cache_free(&cache); }
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;
    s7_type_info_cache cache{};
};

struct Symbol {
    std::string name;
    std::vector<uint32_t> path;
    uint8_t datatype;
    bool operator==(const Symbol&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Symbol& s) {
    os << s.name << " [";
    for (uint32_t p : s.path) {
        os << p << ' ';
    }
    return os << "] " << int(s.datatype);
}

struct Browsed {
    uint8_t rc = 0;
    std::vector<Symbol> symbols;
    uint32_t attribute = 0;
    bool empty = false;
};

Browsed browse(const Cache& cache, s7_block block, const s7_browse_limits* limits = nullptr) {
    s7_symbol_list list{7, reinterpret_cast<s7_symbol*>(&block)};  // must be cleared
    Browsed out;
    out.rc = s7_browse_block_limited(&block, &cache.cache, limits, &list);
    out.empty = list.count == 0 && list.items == nullptr;
    for (uint32_t i = 0; i < list.count; ++i) {
        const s7_symbol& s = list.items[i];
        EXPECT_EQ(s.address.object_id, block.object_id);
        out.attribute = s.address.attribute_id;
        out.symbols.push_back(
            {s.name, std::vector<uint32_t>(s.address.path, s.address.path + s.address.path_count), s.datatype});
    }
    s7_symbol_list_free(&list);
    return out;
}

s7_block db1(uint32_t typeInfoId = 100) { return s7_block{1, kDb1, typeInfoId, const_cast<char*>("DB1")}; }

TEST(BrowseWalk, NamesAndPathsOfMembersStructuresAndArrays) {
    const Cache cache(typeInfoParent(typeObject(100, {{"Speed", elementary(10, kInt)},
                                                      {"Values", array1(11, kInt, -1, 3)},
                                                      {"Motor", structure(12, 200)},
                                                      {"Axes", structArray(13, 200, 1, 3)},
                                                      {"Grid", multiArray(14, kInt, 6, {2, 3}, {0, 1})},
                                                      {"Bits", multiArray(15, kBbool, 6, {3, 2}, {})},
                                                      {"Secret", elementary(16, kHidden)},
                                                      {"Ghost", structure(17, 999)},
                                                      {"HiddenArray", array1(18, kHidden, 0, 1000)}}) +
                                     typeObject(200, {{"On", elementary(21, 1)}, {"Rpm", elementary(22, kInt)}})));
    const Browsed b = browse(cache, db1());
    ASSERT_EQ(b.rc, S7_OK);
    EXPECT_EQ(b.attribute, 2550u) << "data blocks are read through attribute 2550";
    const std::vector<Symbol> expected = {
        {"DB1.Speed", {10}, kInt},
        // The index in the name starts at the lower bound; the path holds
        // the 0-based position.
        {"DB1.Values[-1]", {11, 0}, kInt},
        {"DB1.Values[0]", {11, 1}, kInt},
        {"DB1.Values[1]", {11, 2}, kInt},
        {"DB1.Motor.On", {12, 21}, 1},
        {"DB1.Motor.Rpm", {12, 22}, kInt},
        // Elements of a structure array: position, then 1, then the members.
        {"DB1.Axes[1].On", {13, 0, 1, 21}, 1},
        {"DB1.Axes[1].Rpm", {13, 0, 1, 22}, kInt},
        {"DB1.Axes[2].On", {13, 1, 1, 21}, 1},
        {"DB1.Axes[2].Rpm", {13, 1, 1, 22}, kInt},
        {"DB1.Axes[3].On", {13, 2, 1, 21}, 1},
        {"DB1.Axes[3].Rpm", {13, 2, 1, 22}, kInt},
        // Outermost dimension first in the name, innermost varies fastest.
        {"DB1.Grid[1,0]", {14, 0}, kInt},
        {"DB1.Grid[1,1]", {14, 1}, kInt},
        {"DB1.Grid[2,0]", {14, 2}, kInt},
        {"DB1.Grid[2,1]", {14, 3}, kInt},
        {"DB1.Grid[3,0]", {14, 4}, kInt},
        {"DB1.Grid[3,1]", {14, 5}, kInt},
        // Rows of bits start at multiples of 8.
        {"DB1.Bits[0,0]", {15, 0}, kBbool},
        {"DB1.Bits[0,1]", {15, 1}, kBbool},
        {"DB1.Bits[0,2]", {15, 2}, kBbool},
        {"DB1.Bits[1,0]", {15, 8}, kBbool},
        {"DB1.Bits[1,1]", {15, 9}, kBbool},
        {"DB1.Bits[1,2]", {15, 10}, kBbool},
    };
    EXPECT_EQ(b.symbols, expected);
}

TEST(BrowseWalk, RowsOfBitsThatFillWholeBytesAndOtherTypesRunWithoutGaps) {
    const Cache cache(typeInfoParent(typeObject(
        100, {{"Full", multiArray(1, kBbool, 4, {8, 2}, {})}, {"Plain", multiArray(2, kInt, 6, {3, 2}, {})}})));
    const Browsed b = browse(cache, db1());
    ASSERT_EQ(b.rc, S7_OK);
    std::vector<uint32_t> full;
    std::vector<uint32_t> plain;
    for (const Symbol& s : b.symbols) {
        (s.path[0] == 1 ? full : plain).push_back(s.path[1]);
    }
    EXPECT_EQ(full, (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(plain, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
}

TEST(BrowseWalk, MemoryAreasUseTheirOwnAttribute) {
    const Cache cache(typeInfoParent(typeObject(0x90030000, {{"Flag", elementary(3, 1)}})));
    const Browsed b = browse(cache, s7_block{82, 82, 0x90030000, const_cast<char*>("M")});
    ASSERT_EQ(b.rc, S7_OK);
    ASSERT_EQ(b.symbols.size(), 1u);
    EXPECT_EQ(b.symbols[0], (Symbol{"M.Flag", {3}, 1}));
    EXPECT_EQ(b.attribute, 3736u);
}

TEST(BrowseWalk, BlocksWithoutAKnownTypeAreEmptyAndTheWalkStopsAtDepth64) {
    const Cache cache(typeInfoParent(typeObject(100, {{"A", elementary(1, kInt)}}) +
                                     typeObject(300, {{"A", elementary(1, kInt)}, {"Self", structure(2, 300)}})));
    struct Case {
        const char* rule;
        uint32_t typeInfoId;
        uint8_t expected;
    };
    const Case cases[] = {
        {"type-info id 0", 0, S7_OK},
        {"an id no type object has", 12345, S7_OK},
        {"a structure that contains itself", 300, S7_ERR_PROTOCOL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        const Browsed b = browse(cache, db1(c.typeInfoId));
        EXPECT_EQ(b.rc, c.expected);
        EXPECT_TRUE(b.empty);
    }
    s7_type_info_cache invalid{};
    s7_symbol_list list{};
    const s7_block block = db1();
    EXPECT_EQ(s7_browse_block(&block, &invalid, &list), S7_ERR_ARGUMENT) << "a cache that was never filled";
}

TEST(BrowseWalk, StructureTypesAreFoundAmongThousandsAndTheFirstOfTwoWithOneIdCounts) {
    // Filler types first, so that a lookup that scanned would pass them all;
    // identifiers that share their low bits, the largest one, and two
    // objects that claim the same identifier.
    Bytes types;
    for (uint32_t id = 1000; id < 3000; ++id) {
        types = types + typeObject(id << 16, {});
    }
    types = types + typeObject(0xFFFFFFFF, {{"Top", elementary(31, kInt)}}) +
            typeObject(7, {{"First", elementary(32, kInt)}}) + typeObject(7, {{"Second", elementary(33, kInt)}}) +
            typeObject(2000u << 16 | 1, {{"Near", elementary(34, kInt)}});
    const Cache cache(typeInfoParent(typeObject(100, {{"A", structure(10, 0xFFFFFFFF)},
                                                      {"B", structure(11, 7)},
                                                      {"C", structure(12, 2000u << 16 | 1)},
                                                      {"Gone", structure(13, 3000u << 16)},
                                                      {"D", structure(14, 2999u << 16)}}) +
                                     types));
    const Browsed b = browse(cache, db1());
    ASSERT_EQ(b.rc, S7_OK);
    const std::vector<Symbol> expected = {
        {"DB1.A.Top", {10, 31}, kInt}, {"DB1.B.First", {11, 32}, kInt}, {"DB1.C.Near", {12, 34}, kInt}};
    EXPECT_EQ(b.symbols, expected) << "a missing type (Gone) and an empty one (D) yield nothing";
}

TEST(BrowseWalk, IdentifiersPickedToCollideInAHashAreIndexedInReasonableTime) {
    // Multiples of the inverse of the Fibonacci hashing constant: each of
    // them times the constant is a small number, so a table hashed that way
    // puts them all into one run of slots, and filling it takes some n^2/2
    // probes - many minutes here, where ctest gives up. A sorted index takes
    // well under a second.
    constexpr uint32_t kCount = 1u << 19;
    uint32_t inverse = 1;
    for (int i = 0; i < 5; ++i) {
        inverse *= 2 - 2654435769u * inverse;  // Newton's step, 2-adic
    }
    ASSERT_EQ(inverse * 2654435769u, 1u);
    const Bytes empty = typeObject(0, {});
    Bytes parent = typeInfoParent({});
    parent.pop_back();
    parent.reserve(parent.size() + size_t{kCount} * empty.size() + 1);
    for (uint32_t k = 1; k <= kCount; ++k) {
        Bytes object = empty;
        const Bytes id = be32(k * inverse);
        std::copy(id.begin(), id.end(), object.begin() + 1);
        parent.insert(parent.end(), object.begin(), object.end());
    }
    parent.push_back(0xA2);
    const Cache cache(parent);
    ASSERT_EQ(cache.cache.type_object_count, kCount);
    for (uint32_t k = 1; k <= kCount; ++k) {
        const s7_object* found = s7_type_info_cache_find(&cache.cache, k * inverse);
        ASSERT_NE(found, nullptr) << k;
        ASSERT_EQ(s7_object_id(found), k * inverse);
    }
    EXPECT_EQ(s7_type_info_cache_find(&cache.cache, 0), nullptr);
    EXPECT_EQ(s7_type_info_cache_find(&cache.cache, (kCount + 1) * inverse), nullptr);
}

TEST(BrowseBounds, HostileCountsFailWithoutExhaustingMemory) {
    struct Case {
        const char* rule;
        Bytes entry;
        std::optional<s7_browse_limits> limits;  // none: the public bounds
    };
    const Case cases[] = {
        // Refused before a single element is built, under the public bounds.
        {"a one-dimensional array of 4 billion elements", array1(1, kInt, 0, 0xFFFFFFFF), std::nullopt},
        {"a multi-dimensional array of 4 billion elements", multiArray(1, kBbool, 0xFFFFFFFF, {0xFFFF, 0xFFFF}, {}),
         std::nullopt},
        {"more elements than symbols remain", array1(1, kInt, 0, S7_BROWSE_MAX_SYMBOLS + 1), std::nullopt},
        // Bounds made small to show the rule without building millions.
        {"an array of structures past the symbol cap", structArray(1, 200, 0, 6), s7_browse_limits{10, 1000, 1u << 20}},
        {"elements of an empty structure past the visit cap", structArray(1, 201, 0, 0xFFFFFFFF),
         s7_browse_limits{10, 1000, 1u << 20}},
        {"names past the name-byte cap", array1(1, kInt, 0, 100), s7_browse_limits{1000, 1000, 400}},
    };
    CountingAllocator hooks;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        const Cache cache(typeInfoParent(typeObject(100, {{"Big", c.entry}}) +
                                         typeObject(200, {{"A", elementary(1, kInt)}, {"B", elementary(2, kInt)}}) +
                                         typeObject(201, {})));
        const Browsed b = browse(cache, db1(), c.limits ? &*c.limits : nullptr);
        EXPECT_EQ(b.rc, S7_ERR_NO_MEMORY);
        EXPECT_TRUE(b.empty);
    }
    EXPECT_EQ(hooks.live(), 0u);

    // Right at the caps the browse still succeeds.
    const Cache cache(typeInfoParent(typeObject(100, {{"V", array1(1, kInt, 0, 10)}})));
    const s7_browse_limits exact{10, 11, 10 * sizeof "DB1.V[0]"};
    const Browsed b = browse(cache, db1(), &exact);
    EXPECT_EQ(b.rc, S7_OK);
    EXPECT_EQ(b.symbols.size(), 10u);
}

TEST(BrowseBounds, WhatYieldsNothingCostsNothingHoweverLongTheNamesAboveIt) {
    // Every level: 100 elements of an empty structure, then the next level
    // under a name of 255 bytes, down to the depth limit. Had the walk put
    // together the name and path of each element it visits, it would copy
    // all the names above it each time: some 50 MB here, and with 250 000
    // elements a level, within the public visit cap, hundreds of gigabytes.
    CountingAllocator hooks;
    const Cache cache(typeInfoParent(
        typeObject(100, {{"Empty", structArray(1, 200, 0, 100)}, {std::string(255, 'x'), structure(2, 100)}}) +
        typeObject(200, {})));
    const size_t before = hooks.calls();
    const Browsed b = browse(cache, db1());
    EXPECT_EQ(b.rc, S7_ERR_PROTOCOL) << "64 levels deep";
    EXPECT_TRUE(b.empty);
    EXPECT_EQ(hooks.calls(), before) << "nothing was allocated for the 6 000 elements and 64 names";
}

// ------------------------------------------------------------ over a connection

// One response message in frames of version 2, with the request's sequence
// number.
PeerReply reply(uint16_t function, const Bytes& body) {
    Bytes data = Bytes{0x32, 0x00, 0x00, static_cast<uint8_t>(function >> 8), static_cast<uint8_t>(function), 0x00,
                       0x00, 0x00, 0x01} +
                 body;
    Bytes out;
    for (size_t pos = 0; pos < data.size(); pos += 987) {
        const size_t n = std::min<size_t>(987, data.size() - pos);
        out = out + Bytes{0x72, 0x02, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)} +
              Bytes(data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + n));
    }
    return PeerReply::tls(out + Bytes{0x72, 0x02, 0x00, 0x00}).answering();
}

// An explore reply: return value, head, the objects, an end byte.
PeerReply exploreReply(const Bytes& objects, uint8_t returnValue = 0) {
    return reply(1211, Bytes{0x00, returnValue, 0x00, 0x00, 0x00, 0x00, 0x00} + objects + Bytes{0x00});
}

Bytes nameAttribute(const std::string& name) {
    Bytes b = {0xA3, 0x81, 0x69, 0x00, 0x15, static_cast<uint8_t>(name.size())};
    b.insert(b.end(), name.begin(), name.end());
    return b;
}

// An object of the data-block listing: identifier, class, attributes.
Bytes listed(uint32_t id, uint32_t classId, const Bytes& attributes) {
    Bytes cls = classId == 2574 ? Bytes{0x94, 0x0E} : Bytes{0x01};
    return Bytes{0xA1} + be32(id) + cls + Bytes{0x00, 0x00} + attributes + Bytes{0xA2};
}

// A read reply that gives items `from` to `items` the type-info id
// `first + i - 1`, then the values in `extra`.
PeerReply typeIdReply(uint32_t items, uint32_t first, uint32_t from = 1, const Bytes& extra = {}) {
    Bytes body = {0x00, 0x00};
    for (uint32_t i = from; i <= items; ++i) {
        body = body + Bytes{static_cast<uint8_t>(i), 0x00, 0x12} + be32(first + i - 1);
    }
    return reply(1356, body + extra + Bytes{0x00, 0x00, 0x00});
}

// Number of item addresses in a read request message.
uint32_t readItemCount(const Bytes& message) { return message[4 + 13 + 5]; }
uint16_t functionOf(const Bytes& message) { return static_cast<uint16_t>((message[7] << 8) | message[8]); }

TlsPeerOptions scripted(std::vector<PeerReply> replies, int32_t maxReadItems = 16) {
    TlsPeerOptions options;
    PeerSession session;
    session.limitsBody = {0x00, 0x00, 0x01, 0x00, 0x08, static_cast<uint8_t>(maxReadItems), 0x00, 0x00, 0x00};
    options.session = session;
    options.replies = std::move(replies);
    return options;
}

struct Client {
    explicit Client(uint16_t port) : c(vemoc_s7_client_new()) {
        rc = vemoc_s7_client_connect(c, "127.0.0.1", port, kTimeoutMs);
    }
    ~Client() { vemoc_s7_client_free(c); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    vemoc_s7_client* c;
    uint8_t rc;
};

std::vector<std::string> names(const s7_block_list& list) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < list.count; ++i) {
        out.emplace_back(list.items[i].name);
    }
    return out;
}

const std::vector<std::string> kAreas = {"I", "Q", "M", "S7Timers", "S7Counters"};

TEST(ListDatablocks, WithoutDataBlocksOnlyTheFiveAreasAndNoRead) {
    TlsPeer peer(scripted({exploreReply({})}));
    {
        Client client(peer.port());
        ASSERT_EQ(client.rc, S7_OK);
        s7_block_list list{};
        ASSERT_EQ(vemoc_s7_client_list_datablocks(client.c, &list), S7_OK);
        EXPECT_EQ(names(list), kAreas);
        const uint32_t numbers[] = {80, 81, 82, 84, 83};
        const uint32_t typeIds[] = {0x90010000, 0x90020000, 0x90030000, 0x90050000, 0x90060000};
        for (uint32_t i = 0; i < list.count; ++i) {
            EXPECT_EQ(list.items[i].number, numbers[i]);
            EXPECT_EQ(list.items[i].object_id, numbers[i]);
            EXPECT_EQ(list.items[i].type_info_id, typeIds[i]);
        }
        s7_block_list_free(&list);
        EXPECT_EQ(list.items, nullptr);
    }
    peer.join();
    ASSERT_EQ(peer.log().messages.size(), 1u) << "one explore, no read";
    // Explore of root 3 with the filter structure 1246 and attribute 233;
    // counter B 3 after connect.
    Bytes filterArray = {0x89, 0x62, 0x10, 0x04, 0x20};
    filterArray.resize(filterArray.size() + 32, 0x00);
    const Bytes expected = Bytes{0x34, 0x00, 0x00, 0x00, 0x03, 0x00, 0x01, 0x01, 0x00, 0x01, 0x00, 0x17, 0x00,
                                 0x00, 0x04, 0xDE, 0x89, 0x5F, 0x00, 0x08, 0x08, 0x89, 0x61, 0x00, 0x04, 0x00} +
                           filterArray + Bytes{0x89, 0x63, 0x00, 0x12, 0x00, 0x00, 0x0A, 0x0E, 0x00, 0x00,
                                               0x01, 0x81, 0x69, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00};
    const Bytes& message = peer.log().messages[0].bytes;
    EXPECT_EQ(Bytes(message.begin() + 17, message.end() - 4), expected);
}

TEST(ListDatablocks, ReadsTypeIdsInBatchesOfTheItemLimitAndSkipsDecoys) {
    Bytes objects;
    for (uint32_t i = 1; i <= 33; ++i) {
        objects = objects + listed(0x8A0E0000 + i, 2574, nameAttribute("DB" + std::to_string(i)));
        if (i == 2) {
            // Decoys among the data blocks.
            objects = objects + listed(0x8A0F0007, 2574, nameAttribute("WrongId")) + listed(0x8A0E0008, 2574, {}) +
                      listed(0x8A0E0009, 2574, Bytes{0xA3, 0x81, 0x69, 0x00, 0x04, 0x07}) +
                      listed(0x8A0E000A, 1, nameAttribute("OtherClass"));
        }
    }
    // The last read carries one address; its answer also names an item 2
    // and gives item 1 a second value of another type. Both are ignored.
    const PeerReply last = reply(1356, Bytes{0x00, 0x00, 0x01, 0x00, 0x12} + be32(5033) + Bytes{0x02, 0x00, 0x12} +
                                           be32(1) + Bytes{0x01, 0x00, 0x04, 0x07, 0x00, 0x00, 0x00});
    // The first read names an item 17 it was not asked for; the second
    // leaves its item 1 (block 17) unanswered, so block 17 keeps 0: an item
    // number never reaches past the read it came in.
    TlsPeer peer(scripted({exploreReply(objects), typeIdReply(16, 5001, 1, Bytes{0x11, 0x00, 0x12} + be32(9999)),
                           typeIdReply(16, 5017, 2), last}));
    {
        Client client(peer.port());
        ASSERT_EQ(client.rc, S7_OK);
        s7_block_list list{};
        ASSERT_EQ(vemoc_s7_client_list_datablocks(client.c, &list), S7_OK);
        ASSERT_EQ(list.count, 38u);
        for (uint32_t i = 0; i < 33; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(std::string(list.items[i].name), "DB" + std::to_string(i + 1));
            EXPECT_EQ(list.items[i].number, i + 1);
            EXPECT_EQ(list.items[i].object_id, 0x8A0E0001 + i);
            EXPECT_EQ(list.items[i].type_info_id, i == 16 ? 0 : 5001 + i);
        }
        const std::vector<std::string> all = names(list);
        EXPECT_EQ(std::vector<std::string>(all.begin() + 33, all.end()), kAreas);
        s7_block_list_free(&list);
    }
    peer.join();
    const auto& messages = peer.log().messages;
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(functionOf(messages[1].bytes), 1356);
    EXPECT_EQ(readItemCount(messages[1].bytes), 16u);
    EXPECT_EQ(readItemCount(messages[2].bytes), 16u);
    EXPECT_EQ(readItemCount(messages[3].bytes), 1u);
    // The one address of the last read: block 33, attribute 2550, path [1].
    const Bytes& tail = messages[3].bytes;
    EXPECT_EQ(Bytes(tail.begin() + 24, tail.begin() + 34),
              (Bytes{0x00, 0x88, 0xD0, 0xB8, 0x80, 0x21, 0x02, 0x93, 0x76, 0x01}));
}

TEST(ListDatablocks, FailuresHandOutNothing) {
    struct Case {
        const char* rule;
        std::vector<PeerReply> replies;
        uint8_t expected;
        bool untouched;  // the failure came before the explore was answered
    };
    const Bytes oneBlock = listed(0x8A0E0001, 2574, nameAttribute("DB1"));
    const Case cases[] = {
        {"an explore answered with an error", {exploreReply({}, 0x05)}, S7_ERR_EXPLORE, true},
        {"an explore reply that does not decode", {reply(1211, {0x00, 0x00, 0x00})}, S7_ERR_PROTOCOL, true},
        {"the read of the type ids fails", {exploreReply(oneBlock), reply(1211, {0x00})}, S7_ERR_PROTOCOL, false},
        {"the controller closes during the read",
         {exploreReply(oneBlock), PeerReply::closeNotify()},
         S7_ERR_NOT_CONNECTED,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeer peer(scripted(c.replies));
        Client client(peer.port());
        ASSERT_EQ(client.rc, S7_OK);
        s7_block sentinel{};
        s7_block_list list{&sentinel, 9};
        EXPECT_EQ(vemoc_s7_client_list_datablocks(client.c, &list), c.expected);
        if (c.untouched) {
            EXPECT_EQ(list.items, &sentinel);
            EXPECT_EQ(list.count, 9u);
        } else {
            EXPECT_EQ(list.items, nullptr);
            EXPECT_EQ(list.count, 0u);
        }
    }
}

// The explore reply of root 537: decoys, then the object of class 534.
PeerReply typeInfoReply() {
    return exploreReply(listed(0x00000010, 1, {}) +
                        typeInfoParent(typeObject(100, {{"Speed", elementary(10, kInt)}}) +
                                       typeObject(200, {{"On", elementary(1, 1)}, {"Off", elementary(2, 1)}})));
}

TEST(BrowseBlock, TheFirstBrowseFillsTheCacheAndLaterOnesSendNothing) {
    TlsPeer peer(scripted({typeInfoReply()}, 16));
    TlsPeer second(scripted({typeInfoReply()}, 16));
    {
        Client client(peer.port());
        ASSERT_EQ(client.rc, S7_OK);
        s7_symbol_list symbols{};
        s7_block block = db1(100);
        ASSERT_EQ(vemoc_s7_client_browse_block(client.c, &block, &symbols), S7_OK);
        ASSERT_EQ(symbols.count, 1u);
        EXPECT_STREQ(symbols.items[0].name, "DB1.Speed");
        s7_symbol_list_free(&symbols);
        block.type_info_id = 200;
        ASSERT_EQ(vemoc_s7_client_browse_block(client.c, &block, &symbols), S7_OK);
        EXPECT_EQ(symbols.count, 2u);
        s7_symbol_list_free(&symbols);
        EXPECT_EQ(client.c->type_info_cache.valid, 1);

        // A new connection starts without the cache.
        ASSERT_EQ(vemoc_s7_client_connect(client.c, "127.0.0.1", second.port(), kTimeoutMs), S7_OK);
        EXPECT_EQ(client.c->type_info_cache.valid, 0);
        ASSERT_EQ(vemoc_s7_client_browse_block(client.c, &block, &symbols), S7_OK);
        EXPECT_EQ(symbols.count, 2u);
        s7_symbol_list_free(&symbols);
        vemoc_s7_client_disconnect(client.c);
        EXPECT_EQ(client.c->type_info_cache.valid, 0);
    }
    peer.join();
    second.join();
    for (const TlsPeer* p : {&peer, &second}) {
        ASSERT_EQ(p->log().messages.size(), 1u) << "one explore per connection";
        const Bytes& m = p->log().messages[0].bytes;
        EXPECT_EQ(Bytes(m.begin() + 17, m.end() - 4),
                  (Bytes{0x34, 0x00, 0x00, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x03, 0, 0, 0, 0, 0}))
            << "explore of root 537, no filter, no attributes, counter B 3";
    }
}

TEST(BrowseBlock, FailuresLeaveTheListEmptyAndTheCacheUnfilled) {
    struct Case {
        const char* rule;
        PeerReply reply;
        uint8_t expected;
    };
    const Case cases[] = {
        {"the type-info explore answered with an error", exploreReply({}, 0x03), S7_ERR_EXPLORE},
        {"no object of class 534", exploreReply(listed(0x10, 1, {})), S7_ERR_PROTOCOL},
        {"the controller closes", PeerReply::close(), S7_ERR_NOT_CONNECTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeer peer(scripted({c.reply}));
        Client client(peer.port());
        ASSERT_EQ(client.rc, S7_OK);
        s7_block block = db1(100);
        s7_symbol_list symbols{3, reinterpret_cast<s7_symbol*>(&block)};
        EXPECT_EQ(vemoc_s7_client_browse_block(client.c, &block, &symbols), c.expected);
        EXPECT_EQ(symbols.count, 0u);
        EXPECT_EQ(symbols.items, nullptr);
        EXPECT_EQ(client.c->type_info_cache.valid, 0);
    }
}

// ------------------------------------------------------- types in parts

// The bytes of an explore answer around `objects`: the 9-byte header, the
// return value and head, the objects, the end byte.
size_t exploreAnswerLength(const Bytes& objects) { return 9 + 7 + objects.size() + 1; }

// The body of an explore request of one root with the browse's options and
// counter B `counter` (below 128).
Bytes exploreOf(uint32_t root, uint8_t counter) {
    return Bytes{0x34} + be32(root) + Bytes{0x00, 0x01, 0x01, 0x00, 0x00, 0x00, counter, 0, 0, 0, 0, 0};
}
Bytes bodyOf(const Bytes& message) { return Bytes(message.begin() + 17, message.end() - 4); }

// A block's type, a structure it names three times, a structure the
// controller does not have; and filler types that make the one answer of
// all of them longer than the connection keeps.
const Bytes kPartBlockType = typeObject(100, {{"Speed", elementary(10, kInt)},
                                              {"Motor", structure(12, 200)},
                                              {"Ghost", structure(13, 999)},
                                              {"Axes", structArray(14, 200, 0, 2)},
                                              {"Spare", structure(15, 200)}});
const Bytes kPartMotorType = typeObject(200, {{"On", elementary(21, 1)}, {"Rpm", elementary(22, kInt)}});
constexpr uint32_t kPartLimit = 400;

Bytes partWholeAnswer() {
    Bytes fillers;
    for (uint32_t id = 1000; id < 1040; ++id) {
        fillers = fillers + typeObject(id, {});
    }
    return typeInfoParent(kPartBlockType + kPartMotorType + fillers);
}

TEST(BrowseBlock, TypesTooLongForOneAnswerAreExploredOneAtATimeAsBrowsesNeedThem) {
    const Bytes whole = partWholeAnswer();
    // The extra type 301 comes along in the answer for 300, which the
    // controller does not have.
    const Bytes other = typeObject(301, {{"X", elementary(1, kInt)}});
    ASSERT_GT(exploreAnswerLength(whole), kPartLimit);
    for (const Bytes* part : {&kPartBlockType, &kPartMotorType, &other}) {
        ASSERT_LE(exploreAnswerLength(*part), kPartLimit);
    }
    // Type 200 comes in the form of the one answer, as the child of an
    // object of class 534 behind a decoy; the others as objects of their own.
    TlsPeer peer(scripted({exploreReply(whole), exploreReply(kPartBlockType),
                           exploreReply(listed(200, 1, {}) + typeInfoParent(kPartMotorType)), exploreReply({}, 0x05),
                           exploreReply(other)}));
    {
        Client client(peer.port());
        ASSERT_EQ(client.rc, S7_OK);
        client.c->session->response_limit = kPartLimit;
        auto browseOf = [&](uint32_t typeInfoId) {
            s7_block block = db1(typeInfoId);
            s7_symbol_list list{};
            EXPECT_EQ(vemoc_s7_client_browse_block(client.c, &block, &list), S7_OK);
            std::vector<std::string> out;
            for (uint32_t i = 0; i < list.count; ++i) {
                out.emplace_back(list.items[i].name);
            }
            s7_symbol_list_free(&list);
            return out;
        };
        EXPECT_EQ(browseOf(100), (std::vector<std::string>{"DB1.Speed", "DB1.Motor.On", "DB1.Motor.Rpm",
                                                           "DB1.Axes[0].On", "DB1.Axes[0].Rpm", "DB1.Axes[1].On",
                                                           "DB1.Axes[1].Rpm", "DB1.Spare.On", "DB1.Spare.Rpm"}));
        EXPECT_EQ(client.c->type_info_cache.in_parts, 1);
        EXPECT_EQ(peer.log().messages.size(), 4u) << "the one answer, then types 100, 200 and 999, each once";
        EXPECT_EQ(browseOf(200), (std::vector<std::string>{"DB1.On", "DB1.Rpm"})) << "known: nothing sent";
        EXPECT_TRUE(browseOf(300).empty());
        EXPECT_EQ(browseOf(301), (std::vector<std::string>{"DB1.X"}));
        EXPECT_TRUE(browseOf(300).empty());
        EXPECT_TRUE(browseOf(999).empty());
        EXPECT_EQ(vemoc_s7_client_get_state(client.c), S7_CLIENT_CONNECTED);
    }
    peer.join();
    const auto& messages = peer.log().messages;
    ASSERT_EQ(messages.size(), 5u) << "no type is asked for twice";
    const uint32_t roots[] = {537, 100, 200, 999, 300};
    for (size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(bodyOf(messages[i].bytes), exploreOf(roots[i], static_cast<uint8_t>(3 + i))) << roots[i];
    }
}

TEST(BrowseBlock, FailuresOfAPartLeaveTheListEmptyAndTheRestToBrowse) {
    struct Case {
        const char* rule;
        PeerReply reply;
        uint8_t expected;
        bool connected;  // afterwards
    };
    Members many;
    for (uint32_t i = 0; i < 40; ++i) {
        many.emplace_back("M" + std::to_string(i), elementary(i + 10, kInt));
    }
    ASSERT_GT(exploreAnswerLength(typeObject(100, many)), kPartLimit);
    const Case cases[] = {
        {"a part too long to keep", exploreReply(typeObject(100, many)), S7_ERR_NO_MEMORY, true},
        {"a part that does not decode", exploreReply(Bytes{0xA1, 0x00}), S7_ERR_PROTOCOL, true},
        {"the controller closes", PeerReply::close(), S7_ERR_NOT_CONNECTED, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeer peer(scripted({exploreReply(partWholeAnswer()), c.reply, exploreReply(kPartMotorType)}));
        {
            Client client(peer.port());
            ASSERT_EQ(client.rc, S7_OK);
            client.c->session->response_limit = kPartLimit;
            s7_block block = db1(100);
            s7_symbol_list symbols{3, reinterpret_cast<s7_symbol*>(&block)};
            EXPECT_EQ(vemoc_s7_client_browse_block(client.c, &block, &symbols), c.expected);
            EXPECT_EQ(symbols.count, 0u);
            EXPECT_EQ(symbols.items, nullptr);
            ASSERT_EQ(vemoc_s7_client_get_state(client.c), c.connected ? S7_CLIENT_CONNECTED : S7_CLIENT_DISCONNECTED);
            if (c.connected) {
                // Another block still browses on the same connection.
                block.type_info_id = 200;
                EXPECT_EQ(vemoc_s7_client_browse_block(client.c, &block, &symbols), S7_OK);
                EXPECT_EQ(symbols.count, 2u);
                s7_symbol_list_free(&symbols);
            }
        }
        peer.join();
    }
}

// The index of a cache that goes in parts, over many answers in an order
// of identifiers that is neither rising nor falling: every type is found,
// every type the controller said it lacks is known to be missing, the
// first of two with one identifier counts, and nothing else is found.
TEST(BrowseParts, TheIndexFindsEveryTypeOfThousandsOfAnswers) {
    CountingAllocator hooks;
    s7_type_info_cache cache{};
    cache.valid = 1;
    cache.in_parts = 1;
    constexpr uint32_t kTypes = 5000;
    std::vector<uint32_t> ids;
    for (uint32_t k = 0; k < kTypes; ++k) {
        ids.push_back((k * 2654435761u) | 1u);  // odd: even identifiers stay unknown
    }
    for (uint32_t k = 0; k < kTypes; ++k) {
        s7_explore_result answer{};
        if (k % 7 != 3) {
            const Bytes bytes = typeObject(ids[k], {{"A", elementary(k, kInt)}});
            s7_cursor c{const_cast<uint8_t*>(bytes.data()), const_cast<uint8_t*>(bytes.data()) + bytes.size()};
            s7_object* object = nullptr;
            ASSERT_EQ(s7_read_object(&c, &object), S7_STATUS_OK);
            answer.objects = static_cast<s7_object**>(s7_malloc(sizeof(s7_object*)));
            answer.objects[0] = object;
            answer.object_count = 1;
        }
        ASSERT_EQ(s7_type_info_cache_add(&cache, &answer, 40, ids[k]), S7_STATUS_OK) << k;
    }
    // A second object with a known identifier does not replace the first.
    const Bytes again = typeObject(ids[0], {});
    s7_cursor c{const_cast<uint8_t*>(again.data()), const_cast<uint8_t*>(again.data()) + again.size()};
    s7_explore_result answer{};
    answer.objects = static_cast<s7_object**>(s7_malloc(sizeof(s7_object*)));
    answer.object_count = 1;
    ASSERT_EQ(s7_read_object(&c, &answer.objects[0]), S7_STATUS_OK);
    ASSERT_EQ(s7_type_info_cache_add(&cache, &answer, 40, 2), S7_STATUS_OK);

    EXPECT_EQ(cache.part_bytes, uint64_t{kTypes + 1} * 40);
    for (uint32_t k = 0; k < kTypes; ++k) {
        const s7_object* found = s7_type_info_cache_find(&cache, ids[k]);
        if (k % 7 == 3) {
            ASSERT_EQ(found, nullptr) << k;
        } else {
            ASSERT_NE(found, nullptr) << k;
            ASSERT_EQ(s7_object_id(found), ids[k]);
            ASSERT_EQ(s7_object_type_info(found)->count, 1u) << k;
        }
        ASSERT_EQ(s7_type_info_cache_find(&cache, ids[k] + 1), nullptr);
    }
    EXPECT_LT(cache.recent_count, 100u) << "the recent run was merged into the main one";
    s7_type_info_cache_free(&cache);
    EXPECT_EQ(hooks.live(), 0u);
}

TEST(BrowseBlock, ArgumentsAndConnectionAreCheckedFirst) {
    vemoc_s7_client* c = vemoc_s7_client_new();
    s7_block block = db1();
    s7_block_list blocks{};
    s7_symbol_list symbols{};
    EXPECT_EQ(vemoc_s7_client_list_datablocks(c, &blocks), S7_ERR_NOT_CONNECTED);
    EXPECT_EQ(vemoc_s7_client_browse_block(c, &block, &symbols), S7_ERR_NOT_CONNECTED);
    EXPECT_EQ(vemoc_s7_client_list_datablocks(nullptr, &blocks), S7_ERR_ARGUMENT);
    EXPECT_EQ(vemoc_s7_client_list_datablocks(c, nullptr), S7_ERR_ARGUMENT);
    EXPECT_EQ(vemoc_s7_client_browse_block(nullptr, &block, &symbols), S7_ERR_ARGUMENT);
    EXPECT_EQ(vemoc_s7_client_browse_block(c, nullptr, &symbols), S7_ERR_ARGUMENT);
    EXPECT_EQ(vemoc_s7_client_browse_block(c, &block, nullptr), S7_ERR_ARGUMENT);
    s7_block_list_free(nullptr);
    s7_symbol_list_free(nullptr);
    vemoc_s7_client_free(c);
}

TEST(BrowseMemory, ConnectListAndBrowseSurviveEveryAllocationFailure) {
    CountingAllocator hooks;
    const Bytes blocks =
        listed(0x8A0E0001, 2574, nameAttribute("DB1")) + listed(0x8A0E0002, 2574, nameAttribute("DB2"));
    const std::vector<PeerReply> replies = {exploreReply(blocks), typeIdReply(2, 100), typeInfoReply()};
    for (size_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        TlsPeer peer(scripted(replies));
        vemoc_s7_client* c = vemoc_s7_client_new();
        ASSERT_NE(c, nullptr);
        s7_block_list list{};
        s7_symbol_list symbols{};
        hooks.failFrom(n);
        uint8_t rc = vemoc_s7_client_connect(c, "127.0.0.1", peer.port(), kTimeoutMs);
        uint8_t step = 0;
        if (rc == S7_OK) {
            step = 1;
            rc = vemoc_s7_client_list_datablocks(c, &list);
        }
        if (rc == S7_OK) {
            step = 2;
            rc = vemoc_s7_client_browse_block(c, &list.items[0], &symbols);
        }
        const bool reached = hooks.calls() >= n;
        hooks.failFrom(0);
        if (rc != S7_OK) {
            EXPECT_TRUE(reached) << "only a failed allocation may fail here, code " << int(rc);
            EXPECT_EQ(symbols.items, nullptr);
            EXPECT_EQ(symbols.count, 0u);
            if (step == 1) {
                EXPECT_EQ(list.items, nullptr) << "a failed listing hands out no blocks";
            }
        }
        s7_symbol_list_free(&symbols);
        s7_block_list_free(&list);
        vemoc_s7_client_free(c);
        EXPECT_EQ(hooks.live(), 0u);
        if (!reached) {
            EXPECT_EQ(rc, S7_OK);
            EXPECT_EQ(step, 2);
            break;
        }
    }
}

TEST(BrowseMemory, BrowsingInPartsSurvivesEveryAllocationFailure) {
    CountingAllocator hooks;
    const std::vector<PeerReply> replies = {exploreReply(partWholeAnswer()), exploreReply(kPartBlockType),
                                            exploreReply(kPartMotorType), exploreReply({}, 0x05)};
    for (size_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        TlsPeer peer(scripted(replies));
        vemoc_s7_client* c = vemoc_s7_client_new();
        ASSERT_NE(c, nullptr);
        s7_symbol_list symbols{};
        // Failures from the browse on: connect has its own test.
        uint8_t rc = vemoc_s7_client_connect(c, "127.0.0.1", peer.port(), kTimeoutMs);
        ASSERT_EQ(rc, S7_OK);
        c->session->response_limit = kPartLimit;
        hooks.failFrom(n);
        s7_block block = db1(100);
        rc = vemoc_s7_client_browse_block(c, &block, &symbols);
        const bool reached = hooks.calls() >= n;
        hooks.failFrom(0);
        ASSERT_TRUE(rc == S7_OK || reached) << "only a failed allocation may fail here, code " << int(rc);
        if (rc != S7_OK) {
            EXPECT_EQ(symbols.items, nullptr);
            EXPECT_EQ(symbols.count, 0u);
        }
        const uint32_t count = symbols.count;
        s7_symbol_list_free(&symbols);
        vemoc_s7_client_free(c);
        EXPECT_EQ(hooks.live(), 0u);
        if (!reached) {
            EXPECT_EQ(rc, S7_OK);
            EXPECT_EQ(count, 9u);
            EXPECT_GT(n, 20u) << "the browse allocates for the answers, the index and the symbols";
            break;
        }
    }
}

}  // namespace
