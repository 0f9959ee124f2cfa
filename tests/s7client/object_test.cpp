// Objects and item addresses: building, the tagged wire form both ways, name
// lists, and what a hostile object cannot do.
#include "s7_object.h"

#include "s7_memory.h"

#include "alloc_hooks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes writeAddress(const s7_item_address& a) {
    Bytes out(s7_item_address_size(&a));
    s7_cursor c{out.data(), out.data() + out.size()};
    EXPECT_EQ(s7_write_item_address(&c, &a), S7_STATUS_OK);
    EXPECT_EQ(c.cur, c.end);
    return out;
}

TEST(ItemAddress, LimitAddressWireForm) {
    s7_item_address a{201, 1037, nullptr, 0};
    ASSERT_EQ(s7_item_address_push(&a, 1000), 0);
    EXPECT_EQ(writeAddress(a), (Bytes{0x00, 0x81, 0x49, 0x02, 0x88, 0x0D, 0x87, 0x68}));
    s7_item_address_release(&a);
    EXPECT_EQ(a.path, nullptr);
    EXPECT_EQ(a.path_count, 0u);
    EXPECT_EQ(a.object_id, 0u);
    s7_item_address_release(nullptr);
}

TEST(ItemAddress, CopyIsDeepAndAllOrNothing) {
    vemo::test::CountingAllocator alloc;
    s7_item_address a{0x8A0E0001, 2550, nullptr, 0};
    for (uint32_t id : {5u, 0u, 1u, 0xFFFFFFFFu}) {
        ASSERT_EQ(s7_item_address_push(&a, id), 0);
    }
    s7_item_address copy{};
    ASSERT_EQ(s7_item_address_copy(&a, &copy), 0);
    EXPECT_NE(copy.path, a.path);
    EXPECT_EQ(writeAddress(copy), writeAddress(a));
    s7_item_address_release(&copy);

    // Memory running out at each push leaves the output untouched.
    for (size_t n = 1; n <= 4; ++n) {
        alloc.failFrom(n);
        s7_item_address target{1, 2, nullptr, 0};
        EXPECT_EQ(s7_item_address_copy(&a, &target), 2) << n;
        EXPECT_EQ(target.object_id, 1u);
        EXPECT_EQ(target.path, nullptr);
    }
    alloc.failFrom(1);
    EXPECT_EQ(s7_item_address_push(&a, 9), 2);
    EXPECT_EQ(a.path_count, 4u);
    alloc.failFrom(0);
    s7_item_address_release(&a);
    EXPECT_EQ(alloc.live(), 0u);
    EXPECT_EQ(s7_item_address_push(nullptr, 1), 1);
    EXPECT_EQ(s7_item_address_copy(nullptr, &copy), 1);
}

// The session object of the connect sequence: 211/287 with attribute 300 and
// one child 211/255.
s7_object* sessionObject() {
    s7_object* o = s7_object_new(211, 287, 0);
    s7_object_set_attribute(o, 300, s7_value_new_id32(0x80C3C901));
    s7_object_add_child(o, s7_object_new(211, 255, 0));
    return o;
}

const Bytes kSessionObjectBytes = {0xA1, 0x00, 0x00, 0x00, 0xD3, 0x82, 0x1F, 0x00, 0x00, 0xA3,
                                   0x82, 0x2C, 0x00, 0x12, 0x80, 0xC3, 0xC9, 0x01, 0xA1, 0x00,
                                   0x00, 0x00, 0xD3, 0x81, 0x7F, 0x00, 0x00, 0xA2, 0xA2};

Bytes writeObject(const s7_object* o) {
    Bytes out(s7_object_size(o));
    s7_cursor c{out.data(), out.data() + out.size()};
    EXPECT_EQ(s7_write_object(&c, o), S7_STATUS_OK);
    EXPECT_EQ(c.cur, c.end) << "size and writer disagree";
    return out;
}

struct Read {
    uint8_t rc = 0;
    s7_object* object = nullptr;
    size_t consumed = 0;
    ~Read() { s7_object_free(object); }
};

void readObject(Bytes bytes, Read& out) {
    s7_cursor c{bytes.data(), bytes.data() + bytes.size()};
    out.rc = s7_read_object(&c, &out.object);
    out.consumed = static_cast<size_t>(c.cur - bytes.data());
}

TEST(ObjectWire, SessionObjectWritesAsTheControllerExpects) {
    s7_object* o = sessionObject();
    EXPECT_EQ(s7_object_size(o), kSessionObjectBytes.size());
    EXPECT_EQ(writeObject(o), kSessionObjectBytes);
    s7_object_free(o);
}

TEST(ObjectWire, ReadsEveryElementKind) {
    // Head 0x8A0E0001 class 2574 flags 0 attribute 0; a relation, an empty
    // element, an attribute, a name list, a type-info list, a child, end.
    const Bytes body = Bytes{0xA1, 0x8A, 0x0E, 0x00, 0x01, 0x94, 0x0E, 0x00, 0x00} +
                       Bytes{0xA4, 0x05, 0x00, 0x00, 0x01, 0x00} + Bytes{0xA7} +
                       Bytes{0xA3, 0x81, 0x69, 0x00, 0x15, 0x03, 'D', 'B', '1'} +
                       Bytes{0xAC, 0x00, 0x04, 0x02, 'a', 'b', 0x00, 0x00, 0x00} + Bytes{0xAB, 0x00, 0x00, 0, 0, 0, 0} +
                       Bytes{0xA1, 0, 0, 0, 2, 0x01, 0x00, 0x00, 0xA2} + Bytes{0xA2};
    Read r;
    readObject(body + Bytes{0xFF}, r);
    ASSERT_EQ(r.rc, S7_STATUS_OK);
    EXPECT_EQ(r.consumed, body.size());
    const s7_object* o = r.object;
    EXPECT_EQ(s7_object_id(o), 0x8A0E0001u);
    EXPECT_EQ(s7_object_class(o), 2574u);
    ASSERT_EQ(o->relation_count, 1u);
    EXPECT_EQ(o->relations[0].relation_id, 5u);
    EXPECT_EQ(o->relations[0].target_id, 256u);
    const s7_value* name = nullptr;
    ASSERT_EQ(s7_object_find_attribute(o, 233, &name), 0);
    const char* text = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(s7_value_get_string(name, &text, &length), 0);
    EXPECT_EQ(std::string(text, length), "DB1");
    ASSERT_EQ(s7_object_names(o)->count, 1u);
    EXPECT_STREQ(s7_object_names(o)->items[0], "ab");
    EXPECT_EQ(s7_object_type_info(o)->count, 0u);
    ASSERT_EQ(s7_object_child_count(o), 1u);
    EXPECT_EQ(s7_object_id(s7_object_children(o)[0]), 2u);
}

TEST(ObjectWire, RoundTripKeepsAttributesChildrenAndRelations) {
    s7_object* o = sessionObject();
    s7_object_set_attribute(o, 1, s7_value_new_string("x", 1));
    o->relations = static_cast<s7_relation*>(s7_malloc(sizeof(s7_relation)));
    o->relations[0] = s7_relation{0xFFFFFFFF, 42};
    o->relation_count = 1;
    const Bytes first = writeObject(o);
    Read r;
    readObject(first, r);
    ASSERT_EQ(r.rc, S7_STATUS_OK);
    EXPECT_EQ(writeObject(r.object), first);
    s7_object_free(o);
}

TEST(ObjectWire, RepeatedAttributeKeepsTheSecondValue) {
    const Bytes body = {0xA1, 0,    0,    0,    1,    0x01, 0x00, 0x00, 0xA3, 0x07, 0x00, 0x02,
                        0x01, 0xA3, 0x08, 0x00, 0x02, 0x05, 0xA3, 0x07, 0x00, 0x02, 0x02, 0xA2};
    Read r;
    readObject(body, r);
    ASSERT_EQ(r.rc, S7_STATUS_OK);
    ASSERT_EQ(r.object->attribute_count, 2u);
    EXPECT_EQ(r.object->attributes[0].key, 7u);
    uint8_t v = 0;
    EXPECT_EQ(s7_value_get_u8(r.object->attributes[0].value, &v), 0);
    EXPECT_EQ(v, 2);
}

TEST(ObjectWire, MalformedObjectsAreRefused) {
    struct Row {
        const char* name;
        Bytes bytes;
        uint8_t rc;
    };
    const Bytes head = {0xA1, 0, 0, 0, 1, 0x01, 0x00, 0x00};
    const std::vector<Row> rows = {
        {"not an object tag", {0xA2, 0, 0, 0, 1, 1, 0, 0, 0xA2}, S7_STATUS_RANGE},
        {"head cut", {0xA1, 0, 0, 0, 1, 0x01, 0x00}, S7_STATUS_BOUNDS},
        {"no end tag", head, S7_STATUS_BOUNDS},
        {"unknown tag", head + Bytes{0xA5, 0xA2}, S7_STATUS_RANGE},
        {"relation above 32 bits", head + Bytes{0xA4, 0x90, 0x80, 0x80, 0x80, 0x00, 0, 0, 0, 1, 0xA2}, S7_STATUS_RANGE},
        {"relation target cut", head + Bytes{0xA4, 0x01, 0, 0}, S7_STATUS_BOUNDS},
        {"bad attribute value", head + Bytes{0xA3, 0x01, 0x40, 0x02, 0x00, 0xA2}, S7_STATUS_RANGE},
        {"type-info list cut", head + Bytes{0xAB, 0x00, 0x1C, 0, 0, 0, 0, 1, 2}, S7_STATUS_BOUNDS},
        {"name text past the end", head + Bytes{0xAC, 0x00, 0x05, 0x09, 'a', 'b'}, S7_STATUS_BOUNDS},
        {"bad child", head + Bytes{0xA1, 0, 0, 0, 2, 0x01, 0x00, 0x00, 0x00, 0xA2, 0xA2}, S7_STATUS_RANGE},
    };
    vemo::test::CountingAllocator alloc;
    for (const Row& row : rows) {
        Read r;
        readObject(row.bytes, r);
        EXPECT_EQ(r.rc, row.rc) << row.name;
        EXPECT_EQ(r.object, nullptr) << row.name;
    }
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(NameList, BlocksOfEntriesEndAtAZeroLength) {
    struct Row {
        const char* name;
        Bytes bytes;
        std::vector<std::string> texts;
        size_t consumed;
    };
    const std::vector<Row> rows = {
        {"zero length ends at once", {0x00, 0x00, 0x03, 'a'}, {}, 2},
        {"two blocks", {0x00, 0x04, 0x02, 'a', 'b', 0xFF, 0x00, 0x02, 0x00, 0xFF, 0x00, 0x00}, {"ab", ""}, 12},
        {"entries until the length is covered",
         {0x00, 0x05, 0x01, 'x', 0x00, 0x01, 'y', 0x00, 0x00, 0x00},
         {"x", "y"},
         10},
    };
    for (const Row& row : rows) {
        Bytes b = row.bytes;
        s7_cursor c{b.data(), b.data() + b.size()};
        s7_name_list names{};
        ASSERT_EQ(s7_read_name_list(&c, &names), S7_STATUS_OK) << row.name;
        ASSERT_EQ(names.count, row.texts.size()) << row.name;
        for (size_t i = 0; i < row.texts.size(); ++i) {
            EXPECT_EQ(names.items[i], row.texts[i]) << row.name;
        }
        EXPECT_EQ(static_cast<size_t>(c.cur - b.data()), row.consumed) << row.name;
        s7_name_list_free(&names);
    }
}

TEST(NameList, ATextLongerThanTheBodyFailsAndFreesEverything) {
    vemo::test::CountingAllocator alloc;
    Bytes b = {0x00, 0x0A, 0x01, 'a', 0x00, 0x20, 'b', 'c'};
    s7_cursor c{b.data(), b.data() + b.size()};
    s7_name_list names{};
    EXPECT_EQ(s7_read_name_list(&c, &names), S7_STATUS_BOUNDS);
    EXPECT_EQ(names.count, 0u);
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(ObjectBuild, SetAttributeReplacesAndListsGrow) {
    vemo::test::CountingAllocator alloc;
    s7_object* o = s7_object_new(1, 2, 3);
    ASSERT_EQ(s7_object_set_attribute(o, 5, s7_value_new_u8(1)), 0);
    ASSERT_EQ(s7_object_set_attribute(o, 5, s7_value_new_u8(2)), 0);
    EXPECT_EQ(o->attribute_count, 1u);
    const s7_value* v = nullptr;
    uint8_t u = 0;
    ASSERT_EQ(s7_object_find_attribute(o, 5, &v), 0);
    EXPECT_EQ(s7_value_get_u8(v, &u), 0);
    EXPECT_EQ(u, 2);
    EXPECT_NE(s7_object_find_attribute(o, 6, &v), 0);
    EXPECT_EQ(s7_object_set_attribute(o, 5, nullptr), 1);
    EXPECT_EQ(s7_object_add_child(o, nullptr), 1);
    s7_value* kept = s7_value_new_u8(3);
    alloc.failFrom(1);
    EXPECT_EQ(s7_object_set_attribute(o, 6, kept), 2);  // the caller keeps the value
    alloc.failFrom(0);
    s7_value_free(kept);
    s7_object_free(o);
    s7_object_free(nullptr);
    EXPECT_EQ(s7_object_id(nullptr), 0u);
    EXPECT_EQ(s7_object_children(nullptr), nullptr);
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(ObjectHostile, DeepNestingFailsCleanly) {
    vemo::test::CountingAllocator alloc;
    Bytes b;
    for (int i = 0; i < 100000; ++i) {
        const Bytes level = {0xA1, 0, 0, 0, 1, 0x01, 0x00, 0x00};
        b.insert(b.end(), level.begin(), level.end());
    }
    Read r;
    readObject(b, r);
    EXPECT_EQ(r.rc, S7_STATUS_RANGE);
    EXPECT_EQ(r.object, nullptr);
    EXPECT_EQ(alloc.live(), 0u);
}

// One type-info entry of kind 1: the 12-byte head and a 4-byte record.
Bytes elementaryEntry(uint8_t member) {
    return {member, 0, 0, 0, 0, 0, 0, 0, 0x05, 0x10, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00};
}

TEST(ObjectMemory, TheBudgetCoversEveryBlockAReadAllocates) {
    vemo::test::CountingAllocator alloc;
    // Attributes (one repeated), five relations (past the first room), a
    // name list, a two-entry type-info list and a child with an attribute.
    Bytes body = Bytes{0xA1, 0x8A, 0x0E, 0x00, 0x01, 0x94, 0x0E, 0x00, 0x00} +
                 Bytes{0xA3, 0x81, 0x69, 0x00, 0x15, 0x03, 'D', 'B', '1'} + Bytes{0xA3, 0x07, 0x00, 0x02, 0x01} +
                 Bytes{0xA3, 0x07, 0x00, 0x02, 0x02};
    for (uint8_t i = 1; i <= 5; ++i) {
        body = body + Bytes{0xA4, i, 0x00, 0x00, 0x01, 0x00};
    }
    body = body + Bytes{0xAC, 0x00, 0x07, 0x02, 'a', 'b', 0x00, 0x01, 'c', 0x00, 0x00, 0x00} +
           Bytes{0xAB, 0x00, 0x24, 0, 0, 0, 0} + elementaryEntry(1) + elementaryEntry(2) + Bytes{0x00, 0x00} +
           Bytes{0xA1, 0, 0, 0, 2, 0x01, 0x00, 0x00, 0xA3, 0x05, 0x00, 0x04, 0x09, 0xA2} + Bytes{0xA2};
    const auto readWith = [&](uint64_t left) {
        s7_budget budget{left};
        Bytes copy = body;
        s7_cursor c{copy.data(), copy.data() + copy.size()};
        s7_object* o = nullptr;
        const s7_status rc = s7_read_object_within(&c, &budget, &o);
        if (rc == S7_STATUS_OK) {
            EXPECT_EQ(o->attribute_count, 2u);
            EXPECT_EQ(o->relation_count, 5u);
            EXPECT_EQ(o->names.count, 2u);
            EXPECT_EQ(o->type_info.count, 2u);
            EXPECT_EQ(o->child_count, 1u);
        }
        s7_object_free(o);
        return rc;
    };
    // The least budget the read succeeds with, by bisection.
    uint64_t low = 0;
    uint64_t high = s7_budget_for(body.size()).left;
    ASSERT_EQ(readWith(high), S7_STATUS_OK);
    while (low < high) {
        const uint64_t mid = low + (high - low) / 2;
        if (readWith(mid) == S7_STATUS_OK) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    // Every block was taken from it: the read never held more.
    alloc.resetPeak();
    ASSERT_EQ(readWith(low), S7_STATUS_OK);
    EXPECT_LE(alloc.peakBytes(), low);
    EXPECT_EQ(readWith(low - 1), S7_STATUS_NO_MEMORY);
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(ObjectMemory, ReadingBuildsAllOrNothingWhenAllocationsFail) {
    vemo::test::CountingAllocator alloc;
    const Bytes body = kSessionObjectBytes;
    size_t n = 1;
    for (;; ++n) {
        alloc.failFrom(n);
        Read r;
        readObject(body, r);
        if (r.rc == S7_STATUS_OK) {
            break;
        }
        EXPECT_EQ(r.rc, S7_STATUS_NO_MEMORY) << "allocation " << n;
        EXPECT_EQ(r.object, nullptr);
        EXPECT_EQ(alloc.live(), 0u) << "allocation " << n;
    }
    alloc.failFrom(0);
    EXPECT_GE(n, 5u);
}

}  // namespace
