// Request bodies byte for byte (the connect-time messages among them, the
// fixed attribute block and set values in both forms) and the parsing of
// read, get-attribute, create-object, explore and set-values responses.
#include "s7_request.h"

#include "alloc_hooks.h"
#include "bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using vemo::test::Bytes;
using vemo::test::concat;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kTail = {0x00, 0x00, 0x04, 0xE8, 0x89, 0x69, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00,
                     0x89, 0x6A, 0x00, 0x13, 0x00, 0x89, 0x6B, 0x00, 0x04, 0x00, 0x00};

Bytes bytesOf(const s7_body& body) { return Bytes(body.data, body.data + body.length); }

s7_item_address limitAddress(uint32_t entry) {
    s7_item_address a{201, 1037, nullptr, 0};
    EXPECT_EQ(s7_item_address_push(&a, entry), 0);
    return a;
}

TEST(RequestBody, ReadOfOneAddress) {
    s7_item_address a = limitAddress(1000);
    const s7_item_address* items[] = {&a};
    s7_body body{};
    ASSERT_EQ(s7_build_read_request(items, 1, true, 300, &body), S7_OK);
    EXPECT_EQ(bytesOf(body),
              (Bytes{0x34, 0, 0, 0, 0, 0x01, 0x05} + Bytes{0x00, 0x81, 0x49, 0x02, 0x88, 0x0D, 0x87, 0x68} + kTail +
               Bytes{0x82, 0x2C, 0, 0, 0, 0}));
    s7_body_free(&body);
    s7_item_address_release(&a);
}

TEST(RequestBody, LimitsReadOfTheConnectSequence) {
    s7_item_address a = limitAddress(1000);
    s7_item_address b = limitAddress(1001);
    const s7_item_address* items[] = {&a, &b};
    s7_body body{};
    ASSERT_EQ(s7_build_read_request(items, 2, true, 2, &body), S7_OK);
    EXPECT_EQ(body.length, 51u);
    EXPECT_EQ(bytesOf(body),
              (Bytes{0x34, 0, 0, 0, 0, 0x02, 0x0A} + Bytes{0x00, 0x81, 0x49, 0x02, 0x88, 0x0D, 0x87, 0x68} +
               Bytes{0x00, 0x81, 0x49, 0x02, 0x88, 0x0D, 0x87, 0x69} + kTail + Bytes{0x02, 0, 0, 0, 0}));
    s7_body_free(&body);
    // Without the counter the field is simply absent.
    ASSERT_EQ(s7_build_read_request(items, 2, false, 2, &body), S7_OK);
    EXPECT_EQ(body.length, 50u);
    s7_body_free(&body);
    EXPECT_EQ(s7_build_read_request(items, 0, true, 2, &body), S7_ERR_ARGUMENT);
    const s7_item_address* holes[] = {&a, nullptr};
    EXPECT_EQ(s7_build_read_request(holes, 2, true, 2, &body), S7_ERR_ARGUMENT);
    s7_item_address_release(&a);
    s7_item_address_release(&b);
}

TEST(RequestBody, GetAttributeOfTheConnectSequence) {
    s7_body body{};
    ASSERT_EQ(s7_build_get_attribute_request(0x00000391, 1842, true, 1, &body), S7_OK);
    EXPECT_EQ(body.length, 40u);
    EXPECT_EQ(bytesOf(body), (Bytes{0x34, 0x00, 0x00, 0x03, 0x91, 0x20, 0x04, 0x01, 0x8E, 0x32} + kTail +
                              Bytes{0x00, 0x01, 0x01, 0, 0, 0, 0}));
    s7_body_free(&body);
}

TEST(RequestBody, CreateObjectOfTheConnectSequence) {
    s7_object* o = s7_object_new(211, 287, 0);
    ASSERT_EQ(s7_object_set_attribute(o, 300, s7_value_new_id32(0x80C3C901)), 0);
    ASSERT_EQ(s7_object_add_child(o, s7_object_new(211, 255, 0)), 0);
    s7_value* value = s7_value_new_u32(0);
    const s7_create_request request{285, value, o};
    s7_body body{};
    ASSERT_EQ(s7_build_create_object_request(&request, false, 0, &body), S7_OK);
    EXPECT_EQ(bytesOf(body),
              (Bytes{0x36, 0x00, 0x00, 0x01, 0x1D, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA1, 0x00, 0x00,
                     0x00, 0xD3, 0x82, 0x1F, 0x00, 0x00, 0xA3, 0x82, 0x2C, 0x00, 0x12, 0x80, 0xC3, 0xC9, 0x01,
                     0xA1, 0x00, 0x00, 0x00, 0xD3, 0x81, 0x7F, 0x00, 0x00, 0xA2, 0xA2, 0x00, 0x00, 0x00, 0x00}));
    s7_body_free(&body);
    // The counter sits between the zero word and the object.
    ASSERT_EQ(s7_build_create_object_request(&request, true, 7, &body), S7_OK);
    EXPECT_EQ(body.length, 46u);
    EXPECT_EQ(body.data[12], 0x07);
    EXPECT_EQ(body.data[13], 0xA1);
    s7_body_free(&body);
    // A value that cannot be written is refused before anything is sent.
    s7_value* blobs = s7_value_new_array(S7_TYPE_BLOB, S7_FLAG_ARRAY);
    s7_array_append(blobs, s7_value_new_blob("a", 1));
    const s7_create_request bad{285, blobs, o};
    EXPECT_EQ(s7_build_create_object_request(&bad, false, 0, &body), S7_ERR_ENCODE);
    EXPECT_EQ(body.data, nullptr);
    s7_value_free(blobs);
    s7_value_free(value);
    s7_object_free(o);
}

TEST(RequestBody, ExploreWithTheDataBlockFilter) {
    s7_value* zeros = s7_value_new_array(S7_TYPE_U32, S7_FLAG_ARRAY);
    for (int i = 0; i < 32; ++i) {
        ASSERT_EQ(s7_array_append(zeros, s7_value_new_u32(0)), 0);
    }
    s7_value* filter = s7_value_new_struct(1246);
    ASSERT_EQ(s7_struct_set(filter, 1247, s7_value_new_i32(8)), 0);
    ASSERT_EQ(s7_struct_set(filter, 1249, s7_value_new_u32(0)), 0);
    ASSERT_EQ(s7_struct_set(filter, 1250, zeros), 0);
    ASSERT_EQ(s7_struct_set(filter, 1251, s7_value_new_id32(2574)), 0);
    const uint32_t attributes[] = {233};
    const s7_explore_request request{3, 0, 1, 0, attributes, filter, 1};
    s7_body body{};
    ASSERT_EQ(s7_build_explore_request(&request, true, 5, &body), S7_OK);
    const Bytes filterBytes = Bytes{0x00, 0x17, 0x00, 0x00, 0x04, 0xDE, 0x89, 0x5F, 0x00, 0x08, 0x08,
                                    0x89, 0x61, 0x00, 0x04, 0x00, 0x89, 0x62, 0x10, 0x04, 0x20} +
                              Bytes(32, 0x00) + Bytes{0x89, 0x63, 0x00, 0x12, 0x00, 0x00, 0x0A, 0x0E, 0x00};
    EXPECT_EQ(bytesOf(body), (Bytes{0x34, 0, 0, 0, 3, 0x00, 0x01, 0x01, 0x00, 0x01} + filterBytes +
                              Bytes{0x00, 0x01, 0x81, 0x69, 0x05, 0, 0, 0, 0, 0}));
    s7_body_free(&body);

    // Without filter, attributes and counter: the type-info explore.
    const s7_explore_request plain{537, 0, 1, 0, nullptr, nullptr, 0};
    ASSERT_EQ(s7_build_explore_request(&plain, false, 0, &body), S7_OK);
    EXPECT_EQ(bytesOf(body), (Bytes{0x34, 0, 0, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0}));
    s7_body_free(&body);
    s7_value_free(filter);
}

TEST(RequestBody, BuildersLeaveNothingWhenMemoryRunsOut) {
    vemo::test::CountingAllocator alloc;
    s7_item_address a{201, 1037, nullptr, 0};
    const s7_item_address* items[] = {&a};
    alloc.failFrom(1);
    s7_body body{};
    EXPECT_EQ(s7_build_read_request(items, 1, true, 1, &body), S7_ERR_NO_MEMORY);
    EXPECT_EQ(body.data, nullptr);
    EXPECT_EQ(s7_build_get_attribute_request(1, 2, false, 0, &body), S7_ERR_NO_MEMORY);
    alloc.failFrom(0);
    EXPECT_EQ(alloc.live(), 0u);
}

// ------------------------------------------------------------ responses

Bytes header(uint16_t functionCode) {
    return {0x32, 0x00, 0x00, static_cast<uint8_t>(functionCode >> 8), static_cast<uint8_t>(functionCode), 0x00,
            0x00, 0x00, 0x04};
}

TEST(ResponseHeader, ReadsFunctionCodeAndSequence) {
    Bytes b = header(1356);
    s7_cursor c{b.data(), b.data() + b.size()};
    s7_response_header h{};
    ASSERT_EQ(s7_read_response_header(&c, &h), S7_OK);
    EXPECT_EQ(h.first_byte, 0x32);
    EXPECT_EQ(h.function_code, 1356);
    EXPECT_EQ(h.sequence, 4);
    EXPECT_EQ(c.cur, c.end);
    Bytes cut(b.begin(), b.end() - 1);
    s7_cursor short_{cut.data(), cut.data() + cut.size()};
    h.function_code = 77;
    EXPECT_EQ(s7_read_response_header(&short_, &h), S7_ERR_PROTOCOL);
    EXPECT_EQ(h.function_code, 77);
    EXPECT_EQ(s7_read_response_header(nullptr, &h), S7_ERR_ARGUMENT);
}

const Bytes kTwoValues =
    header(1356) + Bytes{0x00, 0x00, 0x01, 0x00, 0x08, 0x20, 0x02, 0x00, 0x04, 0x10, 0x00, 0x00, 0x00};

TEST(ReadResponse, ValuesErrorsAndItemNumbers) {
    s7_read_result r{};
    ASSERT_EQ(s7_parse_read_response(kTwoValues.data(), static_cast<uint32_t>(kTwoValues.size()), &r), S7_OK);
    EXPECT_EQ(r.return_value, 0u);
    ASSERT_EQ(r.value_count, 2u);
    EXPECT_EQ(r.value_items[0], 1u);
    EXPECT_EQ(r.value_items[1], 2u);
    int32_t limit = 0;
    EXPECT_EQ(s7_value_get_i32(r.values[0], &limit), 0);
    EXPECT_EQ(limit, 32);
    EXPECT_EQ(r.error_count, 0u);
    s7_read_result_free(&r);

    const Bytes withError =
        header(1356) + Bytes{0x00, 0x81, 0x00, 0x01, 0x00, 0x02, 0x07, 0x00, 0x02, 0x81, 0x80, 0x00, 0x00, 0x05};
    ASSERT_EQ(s7_parse_read_response(withError.data(), static_cast<uint32_t>(withError.size()), &r), S7_OK);
    EXPECT_EQ(r.return_value, 128u);
    EXPECT_EQ(r.value_count, 1u);
    ASSERT_EQ(r.error_count, 1u);
    EXPECT_EQ(r.error_items[0], 2u);
    EXPECT_EQ(r.error_codes[0], 16384u);
    EXPECT_EQ(r.final_field, 5u);
    s7_read_result_free(&r);
}

TEST(ReadResponse, ManyValuesGrowTheLists) {
    Bytes b = header(1356) + Bytes{0x00, 0x00};
    for (uint8_t i = 1; i <= 20; ++i) {
        b = b + Bytes{i, 0x00, 0x02, i};
    }
    b = b + Bytes{0x00, 0x00, 0x00};
    s7_read_result r{};
    ASSERT_EQ(s7_parse_read_response(b.data(), static_cast<uint32_t>(b.size()), &r), S7_OK);
    ASSERT_EQ(r.value_count, 20u);
    uint8_t v = 0;
    EXPECT_EQ(s7_value_get_u8(r.values[19], &v), 0);
    EXPECT_EQ(v, 20);
    s7_read_result_free(&r);
}

TEST(ReadResponse, EveryTruncationIsAProtocolErrorWithNothingLeft) {
    vemo::test::CountingAllocator alloc;
    for (size_t cut = 0; cut < kTwoValues.size(); ++cut) {
        s7_read_result r{};
        r.value_count = 99;
        EXPECT_EQ(s7_parse_read_response(kTwoValues.data(), static_cast<uint32_t>(cut), &r), S7_ERR_PROTOCOL)
            << "cut at " << cut;
        EXPECT_EQ(r.value_count, 0u);
        EXPECT_EQ(r.values, nullptr);
    }
    Bytes wrongFunction = kTwoValues;
    wrongFunction[4] = 0x4D;
    s7_read_result r{};
    EXPECT_EQ(s7_parse_read_response(wrongFunction.data(), static_cast<uint32_t>(wrongFunction.size()), &r),
              S7_ERR_PROTOCOL);
    EXPECT_EQ(s7_parse_read_response(nullptr, 0, &r), S7_ERR_PROTOCOL);
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(ReadResponse, RunningOutOfMemoryIsReportedAsSuch) {
    vemo::test::CountingAllocator alloc;
    size_t n = 1;
    for (;; ++n) {
        alloc.failFrom(n);
        s7_read_result r{};
        const uint8_t rc = s7_parse_read_response(kTwoValues.data(), static_cast<uint32_t>(kTwoValues.size()), &r);
        if (rc == S7_OK) {
            s7_read_result_free(&r);
            break;
        }
        EXPECT_EQ(rc, S7_ERR_NO_MEMORY) << "allocation " << n;
        EXPECT_EQ(r.values, nullptr);
        EXPECT_EQ(alloc.live(), 0u) << "allocation " << n;
    }
    alloc.failFrom(0);
    EXPECT_GE(n, 3u);
}

const Bytes kExploreHead = header(1211) + Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x05};

// An array value of `count` elements of `type`, each the bytes `element`.
Bytes arrayValue(uint8_t type, uint32_t count, const Bytes& element) {
    Bytes b = {0x10, type};
    uint8_t groups[5];
    int n = 0;
    for (uint32_t v = count; n == 0 || v != 0; v >>= 7) {
        groups[n++] = static_cast<uint8_t>(v & 0x7F);
    }
    while (n > 1) {
        b.push_back(groups[--n] | 0x80);
    }
    b.push_back(groups[0]);
    b.reserve(b.size() + size_t{count} * element.size());
    for (uint32_t i = 0; i < count; ++i) {
        b.insert(b.end(), element.begin(), element.end());
    }
    return b;
}

TEST(ReadResponse, ALargeArrayAnswerTakesLittleMoreThanItsElements) {
    vemo::test::CountingAllocator alloc;
    struct Item {
        uint8_t type;
        uint32_t count;
        Bytes element;
        uint32_t width;  // bytes of an element in memory
    };
    // Four megabytes of answer: the densest form (one-byte VLQs of 64-bit
    // elements) among DINTs, REALs and BOOLs.
    const Item items[] = {{S7_TYPE_U64, 1000000, {0x05}, 8},
                          {S7_TYPE_I32, 500000, {0x81, 0x00}, 4},
                          {S7_TYPE_F32, 250000, {0x3F, 0x80, 0x00, 0x00}, 4},
                          {S7_TYPE_BOOL, 1000000, {0x01}, 1}};
    Bytes answer = header(1356) + Bytes{0x00, 0x00};
    size_t elementBytes = 0;
    for (uint8_t i = 0; i < 4; ++i) {
        answer = answer + Bytes{static_cast<uint8_t>(i + 1)} + arrayValue(items[i].type, items[i].count, items[i].element);
        elementBytes += size_t{items[i].count} * items[i].width;
    }
    answer = answer + Bytes{0x00, 0x00, 0x00};
    alloc.resetPeak();
    s7_read_result r{};
    ASSERT_EQ(s7_parse_read_response(answer.data(), static_cast<uint32_t>(answer.size()), &r), S7_OK);
    // The elements' own bytes, four array values and the first room of the
    // result's lists.
    EXPECT_LE(alloc.peakBytes(), elementBytes + 1024);
    ASSERT_EQ(r.value_count, 4u);
    uint64_t u64 = 0;
    int32_t i32 = 0;
    float f32 = 0;
    bool b = false;
    EXPECT_EQ(s7_array_get_u64(r.values[0], 999999, &u64), 0);
    EXPECT_EQ(s7_array_get_i32(r.values[1], 499999, &i32), 0);
    EXPECT_EQ(s7_array_get_f32(r.values[2], 249999, &f32), 0);
    EXPECT_EQ(s7_array_get_bool(r.values[3], 999999, &b), 0);
    EXPECT_EQ(u64, 5u);
    EXPECT_EQ(i32, 128);
    EXPECT_EQ(f32, 1.0f);
    EXPECT_TRUE(b);
    s7_read_result_free(&r);
    EXPECT_EQ(alloc.live(), 0u);
}

// 50 000 empty strings: a 48-byte value, its entry and a one-byte text
// for every byte of the answer, past what any answer may take.
const Bytes kEmptyStrings = arrayValue(S7_TYPE_STRING, 50000, {0x00});

TEST(Responses, AnAnswerPastItsBudgetIsOutOfMemoryAndLeavesNothing) {
    vemo::test::CountingAllocator alloc;
    const Bytes read = header(1356) + Bytes{0x00, 0x00, 0x01} + kEmptyStrings + Bytes{0x00, 0x00, 0x00};
    s7_read_result readResult{};
    readResult.value_count = 7;
    EXPECT_EQ(s7_parse_read_response(read.data(), static_cast<uint32_t>(read.size()), &readResult), S7_ERR_NO_MEMORY);
    EXPECT_EQ(readResult.value_count, 0u);
    EXPECT_EQ(readResult.values, nullptr);

    const Bytes attribute = header(1414) + Bytes{0x00, 0x00, 0x00} + kEmptyStrings + Bytes{0x00};
    s7_attribute_result attributeResult{};
    EXPECT_EQ(s7_parse_attribute_response(attribute.data(), static_cast<uint32_t>(attribute.size()), &attributeResult),
              S7_ERR_NO_MEMORY);
    EXPECT_EQ(attributeResult.value, nullptr);

    // The budget is the whole answer's: spread over objects, the strings
    // still do not fit.
    Bytes explore = kExploreHead;
    const Bytes strings = arrayValue(S7_TYPE_STRING, 5000, {0x00});
    for (int i = 0; i < 10; ++i) {
        explore = explore + Bytes{0xA1, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0xA3, 0x07} + strings + Bytes{0xA2};
    }
    explore = explore + Bytes{0x00};
    s7_explore_result exploreResult{};
    EXPECT_EQ(s7_parse_explore_response(explore.data(), static_cast<uint32_t>(explore.size()), &exploreResult),
              S7_ERR_NO_MEMORY);
    EXPECT_EQ(exploreResult.objects, nullptr);
    EXPECT_EQ(alloc.live(), 0u);
}

const Bytes kObject = {0xA1, 0x00, 0x00, 0x02, 0x19, 0x84, 0x16, 0x00, 0x00, 0xA2};

TEST(ExploreResponse, ObjectsUntilAByteOtherThanA1) {
    struct Row {
        const char* name;
        Bytes bytes;
        uint8_t rc;
        uint32_t objects;
    };
    const std::vector<Row> rows = {
        {"no objects", kExploreHead + Bytes{0x00}, S7_OK, 0},
        {"two objects", kExploreHead + kObject + kObject + Bytes{0x00, 0x00, 0x00}, S7_OK, 2},
        {"ends after the head", kExploreHead, S7_ERR_PROTOCOL, 0},
        {"ends after an object", kExploreHead + kObject, S7_ERR_PROTOCOL, 0},
        {"broken object", kExploreHead + kObject + Bytes{0xA1, 0x00}, S7_ERR_PROTOCOL, 0},
        {"head cut", header(1211) + Bytes{0x00, 0x00, 0x00}, S7_ERR_PROTOCOL, 0},
        {"another function", header(1356) + Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x05, 0x00}, S7_ERR_PROTOCOL, 0},
    };
    vemo::test::CountingAllocator alloc;
    for (const Row& row : rows) {
        s7_explore_result r{};
        EXPECT_EQ(s7_parse_explore_response(row.bytes.data(), static_cast<uint32_t>(row.bytes.size()), &r), row.rc)
            << row.name;
        EXPECT_EQ(r.object_count, row.objects) << row.name;
        if (row.rc == S7_OK) {
            EXPECT_EQ(r.head_word, 7u);
            EXPECT_EQ(r.head_vlq, 5u);
            if (r.object_count != 0) {
                EXPECT_EQ(s7_object_class(r.objects[1]), 534u);
            }
        } else {
            EXPECT_EQ(r.objects, nullptr) << row.name;
        }
        s7_explore_result_free(&r);
    }
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(ExploreResponse, DeeplyNestedObjectsFailCleanly) {
    vemo::test::CountingAllocator alloc;
    const Bytes level{0xA1, 0, 0, 0, 1, 0x01, 0x00, 0x00};
    Bytes b = kExploreHead;
    b.reserve(b.size() + 100000 * level.size());
    for (int i = 0; i < 100000; ++i) {
        b.insert(b.end(), level.begin(), level.end());
    }
    s7_explore_result r{};
    EXPECT_EQ(s7_parse_explore_response(b.data(), static_cast<uint32_t>(b.size()), &r), S7_ERR_PROTOCOL);
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(ExploreResponse, ManySmallTypeInfoObjectsKeepNoSpareRoom) {
    vemo::test::CountingAllocator alloc;
    // 3000 type-info objects of one elementary member each, the shortest a
    // browse meets: 34 bytes each.
    const Bytes typeObject = {0xA1, 0x90, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0xAB, 0x00, 0x14, 0, 0, 0, 0,
                              0x01, 0,    0,    0,    0,    0,    0,    0,    0x05, 0x10, 0x00, 0x00, 0x01, 0x00,
                              0x02, 0x00, 0x00, 0x00, 0xA2};
    Bytes b = kExploreHead;
    for (int i = 0; i < 3000; ++i) {
        b = b + typeObject;
    }
    b = b + Bytes{0x00};
    alloc.resetPeak();
    s7_explore_result r{};
    ASSERT_EQ(s7_parse_explore_response(b.data(), static_cast<uint32_t>(b.size()), &r), S7_OK);
    ASSERT_EQ(r.object_count, 3000u);
    EXPECT_EQ(s7_object_type_info(r.objects[2999])->count, 1u);
    // An object record, one type-info entry and a slot in the list of
    // objects for each: with the first room of 16 entries kept, ten times
    // as much.
    EXPECT_LE(alloc.peakBytes(), 3000 * (sizeof(s7_object) + sizeof(s7_type_info_entry) + 2 * sizeof(s7_object*)));
    s7_explore_result_free(&r);
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(CreateResponse, IdentifiersAndTheObject) {
    struct Row {
        const char* name;
        Bytes bytes;
        uint8_t rc;
    };
    const Bytes head = header(1226) + Bytes{0x00, 0x00};
    const std::vector<Row> rows = {
        {"one identifier", head + Bytes{0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F} + kObject, S7_OK},
        {"count missing", head, S7_ERR_ENCODE},
        {"identifier missing", head + Bytes{0x02, 0x01}, S7_ERR_ENCODE},
        {"identifier above 32 bits", head + Bytes{0x01, 0x90, 0x80, 0x80, 0x80, 0x00} + kObject, S7_ERR_ENCODE},
        {"object missing", head + Bytes{0x01, 0x05}, S7_ERR_PROTOCOL},
        {"not an object", head + Bytes{0x01, 0x05, 0x00}, S7_ERR_PROTOCOL},
        {"object cut", head + Bytes{0x01, 0x05, 0xA1, 0x00}, S7_ERR_PROTOCOL},
        {"return value cut", header(1226) + Bytes{0x00, 0x81}, S7_ERR_PROTOCOL},
    };
    vemo::test::CountingAllocator alloc;
    for (const Row& row : rows) {
        s7_create_result r{};
        EXPECT_EQ(s7_parse_create_response(row.bytes.data(), static_cast<uint32_t>(row.bytes.size()), &r), row.rc)
            << row.name;
        if (row.rc == S7_OK) {
            ASSERT_EQ(r.object_id_count, 1u);
            EXPECT_EQ(r.object_ids[0], 0xFFFFFFFFu);
            EXPECT_EQ(s7_object_id(r.object), 537u);
        } else {
            EXPECT_EQ(r.object, nullptr) << row.name;
            EXPECT_EQ(r.object_ids, nullptr) << row.name;
        }
        s7_create_result_free(&r);
    }
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(AttributeResponse, OneValueBetweenFirstByteAndFinalField) {
    const Bytes ok = header(1414) + Bytes{0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x09};
    s7_attribute_result r{};
    ASSERT_EQ(s7_parse_attribute_response(ok.data(), static_cast<uint32_t>(ok.size()), &r), S7_OK);
    uint32_t level = 0;
    EXPECT_EQ(s7_value_get_u32(r.value, &level), 0);
    EXPECT_EQ(level, 3u);
    EXPECT_EQ(r.final_field, 9u);
    s7_attribute_result_free(&r);
    for (size_t cut = 0; cut < ok.size(); ++cut) {
        EXPECT_EQ(s7_parse_attribute_response(ok.data(), static_cast<uint32_t>(cut), &r), S7_ERR_PROTOCOL);
        EXPECT_EQ(r.value, nullptr);
    }
}

TEST(RequestTail, IsTheFixedAttributeBlock) {
    const Bytes expected = {0x00, 0x00, 0x04, 0xE8, 0x89, 0x69, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00,
                            0x89, 0x6A, 0x00, 0x13, 0x00, 0x89, 0x6B, 0x00, 0x04, 0x00, 0x00};
    ASSERT_EQ(expected, kTail);
    ASSERT_EQ(s7_request_tail_size(), 23u);
    Bytes b(23);
    s7_cursor c{b.data(), b.data() + b.size()};
    ASSERT_EQ(s7_write_request_tail(&c), S7_STATUS_OK);
    EXPECT_EQ(b, expected);
    EXPECT_EQ(s7_remaining(&c), 0u);

    Bytes shortBuf(22, 0xEE);
    c = s7_cursor{shortBuf.data(), shortBuf.data() + shortBuf.size()};
    EXPECT_EQ(s7_write_request_tail(&c), S7_STATUS_BOUNDS);
    EXPECT_EQ(shortBuf, Bytes(22, 0xEE));
    EXPECT_EQ(s7_write_request_tail(nullptr), S7_STATUS_BOUNDS);
}

TEST(SetValues, BodiesInObjectAndAddressForm) {
    s7_value* value = s7_value_new_u32(7);
    const s7_value* values[] = {value};
    const uint32_t attribute = 306;
    s7_body body{};
    const s7_set_request objectForm{0x391, nullptr, &attribute, values, 1};
    ASSERT_EQ(s7_build_set_request(&objectForm, true, 5, &body), S7_STATUS_OK);
    EXPECT_EQ(Bytes(body.data, body.data + body.length),
              concat({{0x34, 0x00, 0x00, 0x03, 0x91, 0x01, 0x01, 0x82, 0x32, 0x01, 0x00, 0x04, 0x07, 0x00},
                      kTail,
                      {0x05, 0x00, 0x00, 0x00, 0x00}}));
    s7_body_free(&body);

    s7_item_address address{201, 1037, nullptr, 0};
    ASSERT_EQ(s7_item_address_push(&address, 1000), S7_OK);
    const s7_item_address* addresses[] = {&address};
    s7_value* minusOne = s7_value_new_i32(-1);
    const s7_value* signedValues[] = {minusOne};
    const s7_set_request addressForm{0, addresses, nullptr, signedValues, 1};
    ASSERT_EQ(s7_build_set_request(&addressForm, false, 0, &body), S7_STATUS_OK);
    EXPECT_EQ(Bytes(body.data, body.data + body.length),
              concat({{0x34, 0x00, 0x00, 0x00, 0x00, 0x01, 0x05, 0x00, 0x81, 0x49,
                       0x02, 0x88, 0x0D, 0x87, 0x68, 0x01, 0x00, 0x08, 0x7F, 0x00},
                      kTail,
                      {0x00, 0x00, 0x00, 0x00}}));
    s7_body_free(&body);

    const s7_set_request empty{0x391, nullptr, &attribute, values, 0};
    EXPECT_EQ(s7_build_set_request(&empty, false, 0, &body), S7_STATUS_ARGUMENT);
    const s7_set_request noAddresses{0, nullptr, &attribute, values, 1};
    EXPECT_EQ(s7_build_set_request(&noAddresses, false, 0, &body), S7_STATUS_ARGUMENT);
    EXPECT_EQ(body.data, nullptr);
    s7_item_address_release(&address);
    s7_value_free(minusOne);
    s7_value_free(value);
}

TEST(SetValues, ResponsesParseIntoTheResultOrFailWhole) {
    const Bytes header = {0x32, 0x00, 0x00, 0x05, 0x42, 0x00, 0x00, 0x00, 0x02};
    Bytes nineErrors = {0x00, 0x00};
    for (uint8_t i = 1; i <= 9; ++i) {
        nineErrors.insert(nineErrors.end(), {i, static_cast<uint8_t>(0x10 + i)});
    }
    nineErrors.insert(nineErrors.end(), {0x00, 0x07});
    struct Case {
        const char* rule;
        Bytes response;
        s7_status expected;
        uint32_t errors;
    };
    const Case cases[] = {
        {"success", concat({header, {0x00, 0x00, 0x00, 0x00}}), S7_STATUS_OK, 0},
        {"nine error entries grow the lists past 8", concat({header, nineErrors}), S7_STATUS_OK, 9},
        {"another function code", concat({{0x32, 0x00, 0x00, 0x05, 0x4C, 0x00, 0x00, 0x00, 0x02}, {0, 0, 0, 0}}),
         S7_STATUS_PROTOCOL, 0},
        {"an empty response", {}, S7_STATUS_PROTOCOL, 0},
        {"a header cut short", {0x32, 0x00, 0x00, 0x05}, S7_STATUS_PROTOCOL, 0},
        {"an error list cut short", concat({header, {0x00, 0x00, 0x01}}), S7_STATUS_PROTOCOL, 0},
        {"no final field", concat({header, {0x00, 0x00, 0x00}}), S7_STATUS_PROTOCOL, 0},
    };
    vemo::test::CountingAllocator hooks;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        s7_set_result result{};
        EXPECT_EQ(s7_parse_set_response(c.response.data(), static_cast<uint32_t>(c.response.size()), &result),
                  c.expected);
        EXPECT_EQ(result.error_count, c.errors);
        if (c.errors == 9) {
            EXPECT_EQ(result.error_items[8], 9u);
            EXPECT_EQ(result.error_codes[8], 0x19u);
            EXPECT_EQ(result.final_field, 7u);
        }
        s7_set_result_free(&result);
    }
    EXPECT_EQ(hooks.live(), 0u);
}

}  // namespace
