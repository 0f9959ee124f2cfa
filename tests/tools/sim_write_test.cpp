// Writes against the simulated controller: every data type of the built-in
// machine takes a new value and reads it back, on the same connection and on
// the next; a write the controller refuses fails its own item and no other.
#include "sim_client.h"

#include "Controller.h"
#include "Faults.h"

#include <vemo/s7write.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace vemo::test;
using vemo::sim::Bytes;
using vemo::sim::Program;
using vemo::sim::ValuePtr;
namespace errors = vemo::sim::errors;

Bytes encoded(const s7_value* v) {
    Bytes b;
    vemo::sim::Writer(b).value(v);
    return b;
}

ValuePtr controllerString(const std::string& text, uint8_t capacity) {
    ValuePtr a(s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY));
    const auto len = static_cast<uint8_t>(std::min<size_t>(text.size(), capacity));
    s7_array_append(a.get(), s7_value_new_u8(capacity));
    s7_array_append(a.get(), s7_value_new_u8(len));
    for (uint8_t i = 0; i < len; ++i) s7_array_append(a.get(), s7_value_new_u8(static_cast<uint8_t>(text[i])));
    return a;
}

// A value of the same type as `current` and surely another one: integers
// with some bits flipped, floats moved, BOOLs negated, texts replaced.
ValuePtr anotherValue(const s7_value* current, uint8_t datatype, uint32_t capacity) {
    constexpr uint64_t kFlip = 0x5A;
    if (datatype == S7_DATATYPE_STRING) {
        uint8_t n = 0;
        s7_array_get_u8(current, 1, &n);
        return controllerString(n == 1 ? "written" : "w", static_cast<uint8_t>(capacity));
    }
    switch (s7_value_type(current)) {
        // clang-format off
    case S7_TYPE_BOOL: { bool b = false; s7_value_get_bool(current, &b); return ValuePtr(s7_value_new_bool(!b)); }
    case S7_TYPE_U8: { uint8_t x = 0; s7_value_get_u8(current, &x); return ValuePtr(s7_value_new_u8(static_cast<uint8_t>(x ^ kFlip))); }
    case S7_TYPE_U16: { uint16_t x = 0; s7_value_get_u16(current, &x); return ValuePtr(s7_value_new_u16(static_cast<uint16_t>(x ^ kFlip))); }
    case S7_TYPE_U32: { uint32_t x = 0; s7_value_get_u32(current, &x); return ValuePtr(s7_value_new_u32(static_cast<uint32_t>(x ^ kFlip))); }
    case S7_TYPE_U64: { uint64_t x = 0; s7_value_get_u64(current, &x); return ValuePtr(s7_value_new_u64(x ^ (kFlip << 40))); }
    case S7_TYPE_I8: { int8_t x = 0; s7_value_get_i8(current, &x); return ValuePtr(s7_value_new_i8(static_cast<int8_t>(x ^ 0x5A))); }
    case S7_TYPE_I16: { int16_t x = 0; s7_value_get_i16(current, &x); return ValuePtr(s7_value_new_i16(static_cast<int16_t>(x ^ 0x5A))); }
    case S7_TYPE_I32: { int32_t x = 0; s7_value_get_i32(current, &x); return ValuePtr(s7_value_new_i32(x ^ 0x5A)); }
    case S7_TYPE_I64: { int64_t x = 0; s7_value_get_i64(current, &x); return ValuePtr(s7_value_new_i64(x ^ (int64_t{0x5A} << 40))); }
    case S7_TYPE_BITS8: { uint8_t x = 0; s7_value_get_bits8(current, &x); return ValuePtr(s7_value_new_bits8(static_cast<uint8_t>(x ^ kFlip))); }
    case S7_TYPE_BITS16: { uint16_t x = 0; s7_value_get_bits16(current, &x); return ValuePtr(s7_value_new_bits16(static_cast<uint16_t>(x ^ kFlip))); }
    case S7_TYPE_BITS32: { uint32_t x = 0; s7_value_get_bits32(current, &x); return ValuePtr(s7_value_new_bits32(static_cast<uint32_t>(x ^ kFlip))); }
    case S7_TYPE_BITS64: { uint64_t x = 0; s7_value_get_bits64(current, &x); return ValuePtr(s7_value_new_bits64(x ^ (kFlip << 56))); }
    case S7_TYPE_F32: { float x = 0; s7_value_get_f32(current, &x); return ValuePtr(s7_value_new_f32(x + 1234.5f)); }
    case S7_TYPE_F64: { double x = 0; s7_value_get_f64(current, &x); return ValuePtr(s7_value_new_f64(x - 98765.25)); }
    case S7_TYPE_U64_ALT: { uint64_t x = 0; s7_value_get_u64_alt(current, &x); return ValuePtr(s7_value_new_u64_alt(x ^ (kFlip << 32))); }
    case S7_TYPE_I64_ALT: { int64_t x = 0; s7_value_get_i64_alt(current, &x); return ValuePtr(s7_value_new_i64_alt(x ^ (int64_t{0x5A} << 32))); }
    case S7_TYPE_STRING: {
        const char* text = nullptr; uint32_t n = 0; s7_value_get_string(current, &text, &n);
        const std::string next = std::string(text, n) == "written" ? "other" : "written";
        return ValuePtr(s7_value_new_string(next.data(), static_cast<uint32_t>(next.size())));
    }
    default: return nullptr;
        // clang-format on
    }
}

// Writes `count` values in requests of at most the handle's item limit;
// every item must be written.
void writeAll(vemoc_s7_client* c, const std::vector<const s7_item_address*>& items,
              const std::vector<const s7_value*>& values) {
    uint32_t limit = 0;
    ASSERT_EQ(vemoc_s7_client_get_max_read_items(c, &limit), S7_OK);
    for (size_t at = 0; at < items.size(); at += limit) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(limit, items.size() - at));
        s7_write_result* results = nullptr;
        ASSERT_EQ(vemoc_s7_client_write(c, items.data() + at, values.data() + at, n, &results), S7_OK);
        for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(results[i].error, 0u) << "item " << at + i;
        s7_write_results_free(results);
    }
}

TEST(SimWrite, EveryVariableOfTheBuiltInMachineReadsBackWhatWasWritten) {
    const auto server = startSim(Program::builtIn());
    const Client c = newClient();
    ASSERT_EQ(connectTo(c.get(), *server), S7_OK);
    Blocks blocks;
    ASSERT_EQ(vemoc_s7_client_list_datablocks(c.get(), &blocks.list), S7_OK);
    std::vector<Symbols> symbols(blocks.list.count);
    std::vector<const s7_item_address*> items;
    std::vector<uint8_t> datatypes;
    for (uint32_t b = 0; b < blocks.list.count; ++b) {
        ASSERT_EQ(vemoc_s7_client_browse_block(c.get(), &blocks.list.items[b], &symbols[b].list), S7_OK);
        for (uint32_t i = 0; i < symbols[b].list.count; ++i) {
            items.push_back(&symbols[b].list.items[i].address);
            datatypes.push_back(symbols[b].list.items[i].datatype);
        }
    }
    std::vector<ValuePtr> before;
    ASSERT_EQ(readAll(c.get(), items, before), S7_OK);
    std::vector<ValuePtr> next;
    std::vector<const s7_value*> values;
    std::set<uint8_t> covered;
    for (size_t i = 0; i < items.size(); ++i) {
        // The capacity of a STRING is the first byte of what it reads as.
        uint8_t cap = 0;
        if (datatypes[i] == S7_DATATYPE_STRING) {
            ASSERT_EQ(s7_array_get_u8(before[i].get(), 0, &cap), S7_OK);
        }
        next.push_back(anotherValue(before[i].get(), datatypes[i], cap));
        ASSERT_NE(next.back(), nullptr) << "symbol " << i << " of data type " << int(datatypes[i]);
        ASSERT_NE(encoded(next.back().get()), encoded(before[i].get())) << "symbol " << i;
        values.push_back(next.back().get());
        covered.insert(datatypes[i]);
    }
    // The machine holds most data types: BOOLs, numbers of every width,
    // times and both kinds of text.
    EXPECT_GE(covered.size(), 20u);
    for (const uint8_t datatype : {S7_DATATYPE_BOOL, S7_DATATYPE_LREAL, S7_DATATYPE_STRING, S7_DATATYPE_WSTRING}) {
        EXPECT_EQ(covered.count(datatype), 1u) << int(datatype);
    }

    ASSERT_NO_FATAL_FAILURE(writeAll(c.get(), items, values));
    // Generators stand still once written, and the values are the
    // controller's, not the connection's.
    const Client other = newClient();
    ASSERT_EQ(connectTo(other.get(), *server), S7_OK);
    for (vemoc_s7_client* reader : {c.get(), other.get()}) {
        std::vector<ValuePtr> after;
        ASSERT_EQ(readAll(reader, items, after), S7_OK);
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(encoded(after[i].get()), encoded(values[i])) << "symbol " << i;
        }
    }
}

// Three items per write; the middle one is the case's, the outer two are
// sound and must be written whatever happens to it.
TEST(SimWrite, ARefusedItemFailsAloneWithItsErrorCode) {
    struct Case {
        const char* rule;
        const char* fault;  // nullptr: a sound controller
        std::optional<uint64_t> arg;
        enum class Middle { Sound, WrongType, LongString, WrongCapacity, NoVariable } middle;
        uint64_t error;
    };
    using M = Case::Middle;
    const Case cases[] = {
        {"a sound write", nullptr, {}, M::Sound, 0},
        {"a value of another type", nullptr, {}, M::WrongType, errors::kWrongType},
        {"a string longer than its capacity", nullptr, {}, M::LongString, errors::kWrongType},
        {"a string of another capacity", nullptr, {}, M::WrongCapacity, errors::kWrongType},
        {"an address that leads to no variable", nullptr, {}, M::NoVariable, errors::kBadAddress},
        {"refuse-write 2", "refuse-write", 2, M::Sound, errors::kInjected},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.rule);
        vemo::sim::ControllerSettings settings;
        if (k.fault != nullptr) settings.fault = vemo::sim::Fault::parse(k.fault, k.arg);
        const auto server = startSim(Program::builtIn(), settings);
        const Client c = newClient();
        ASSERT_EQ(connectTo(c.get(), *server), S7_OK);
        Blocks blocks;
        ASSERT_EQ(vemoc_s7_client_list_datablocks(c.get(), &blocks.list), S7_OK);
        // The first INT and the first STRING of the machine.
        std::vector<Symbols> symbols(blocks.list.count);
        const s7_symbol* anInt = nullptr;
        const s7_symbol* aString = nullptr;
        for (uint32_t b = 0; b < blocks.list.count; ++b) {
            ASSERT_EQ(vemoc_s7_client_browse_block(c.get(), &blocks.list.items[b], &symbols[b].list), S7_OK);
            for (uint32_t i = 0; i < symbols[b].list.count; ++i) {
                const s7_symbol& s = symbols[b].list.items[i];
                if (anInt == nullptr && s.datatype == S7_DATATYPE_INT) anInt = &s;
                if (aString == nullptr && s.datatype == S7_DATATYPE_STRING) aString = &s;
            }
        }
        ASSERT_TRUE(anInt != nullptr && aString != nullptr);
        std::vector<ValuePtr> current;
        ASSERT_EQ(readAll(c.get(), {&aString->address}, current), S7_OK);
        uint8_t capacity = 0;
        ASSERT_EQ(s7_array_get_u8(current[0].get(), 0, &capacity), S7_OK);

        s7_item_address nowhere{anInt->address.object_id, anInt->address.attribute_id, nullptr, 0};
        ASSERT_EQ(s7_item_address_push(&nowhere, 0xFFFFFF), S7_OK);
        ValuePtr middle;
        const s7_item_address* middleAddress = &aString->address;
        switch (k.middle) {
        case M::Sound: middle = controllerString("ok", capacity); break;
        case M::WrongType: middle = ValuePtr(s7_value_new_i16(7)); break;
        case M::LongString:
            // A length byte past the capacity, with as many characters.
            middle = ValuePtr(s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY));
            s7_array_append(middle.get(), s7_value_new_u8(capacity));
            s7_array_append(middle.get(), s7_value_new_u8(static_cast<uint8_t>(capacity + 1)));
            for (uint32_t i = 0; i <= capacity; ++i) s7_array_append(middle.get(), s7_value_new_u8('x'));
            break;
        case M::WrongCapacity: middle = controllerString("ok", static_cast<uint8_t>(capacity + 1)); break;
        case M::NoVariable:
            middle = ValuePtr(s7_value_new_i16(7));
            middleAddress = &nowhere;
            break;
        }
        const ValuePtr first(s7_value_new_i16(1111));
        const ValuePtr third(s7_value_new_i16(3333));
        // Items 1 and 3 both write the INT: the later one wins.
        const s7_item_address* items[] = {&anInt->address, middleAddress, &anInt->address};
        const s7_value* values[] = {first.get(), middle.get(), third.get()};
        s7_write_result* results = nullptr;
        ASSERT_EQ(vemoc_s7_client_write(c.get(), items, values, 3, &results), S7_OK);
        EXPECT_EQ(results[0].error, 0u);
        EXPECT_EQ(results[1].error, k.error);
        EXPECT_EQ(results[2].error, 0u);
        s7_write_results_free(results);
        s7_item_address_release(&nowhere);

        std::vector<ValuePtr> after;
        ASSERT_EQ(readAll(c.get(), {&anInt->address, &aString->address}, after), S7_OK);
        EXPECT_EQ(encoded(after[0].get()), encoded(third.get()));
        EXPECT_EQ(encoded(after[1].get()) == encoded(middle.get()), k.middle == M::Sound && k.error == 0)
            << "only a sound, unrefused string is stored";
    }
}

}  // namespace
