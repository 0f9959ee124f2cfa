// The simulator's program model: which value type each data type is served
// as (read through the client), programs the loader refuses and why, the
// generators that make values move, the built-in machine read whole, and
// the generated shapes: how --generate names them, what their browse yields
// and how large their type descriptions grow.
#include "sim_client.h"

#include "s7_exchange.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace vemo::test;
using vemo::sim::Generator;
using vemo::sim::Program;
using vemo::sim::ProgramError;

// A value as text: numbers in decimal, texts as they are, a controller
// string (an array of bytes: capacity, length, characters) as "[capacity]text".
std::string render(const s7_value* v) {
    if (s7_value_is_array(v)) {
        uint8_t cap = 0;
        char* text = nullptr;
        if (s7_array_get_u8(v, 0, &cap) != 0 || s7_value_string_chars(v, &text) != 0) {
            return "<bad array>";
        }
        std::string out = '[' + std::to_string(cap);
        out += ']';
        out += text;
        s7_free(text);
        return out;
    }
    union {
        bool b;
        uint8_t u8;
        uint16_t u16;
        uint32_t u32;
        uint64_t u64;
        int8_t i8;
        int16_t i16;
        int32_t i32;
        int64_t i64;
        float f32;
        double f64;
    } x{};
    switch (s7_value_type(v)) {
    case S7_TYPE_BOOL: return s7_value_get_bool(v, &x.b) == 0 ? (x.b ? "true" : "false") : "?";
    case S7_TYPE_U8: return s7_value_get_u8(v, &x.u8) == 0 ? std::to_string(x.u8) : "?";
    case S7_TYPE_BITS8: return s7_value_get_bits8(v, &x.u8) == 0 ? std::to_string(x.u8) : "?";
    case S7_TYPE_U16: return s7_value_get_u16(v, &x.u16) == 0 ? std::to_string(x.u16) : "?";
    case S7_TYPE_BITS16: return s7_value_get_bits16(v, &x.u16) == 0 ? std::to_string(x.u16) : "?";
    case S7_TYPE_U32: return s7_value_get_u32(v, &x.u32) == 0 ? std::to_string(x.u32) : "?";
    case S7_TYPE_BITS32: return s7_value_get_bits32(v, &x.u32) == 0 ? std::to_string(x.u32) : "?";
    case S7_TYPE_U64: return s7_value_get_u64(v, &x.u64) == 0 ? std::to_string(x.u64) : "?";
    case S7_TYPE_BITS64: return s7_value_get_bits64(v, &x.u64) == 0 ? std::to_string(x.u64) : "?";
    case S7_TYPE_U64_ALT: return s7_value_get_u64_alt(v, &x.u64) == 0 ? std::to_string(x.u64) : "?";
    case S7_TYPE_I8: return s7_value_get_i8(v, &x.i8) == 0 ? std::to_string(x.i8) : "?";
    case S7_TYPE_I16: return s7_value_get_i16(v, &x.i16) == 0 ? std::to_string(x.i16) : "?";
    case S7_TYPE_I32: return s7_value_get_i32(v, &x.i32) == 0 ? std::to_string(x.i32) : "?";
    case S7_TYPE_I64: return s7_value_get_i64(v, &x.i64) == 0 ? std::to_string(x.i64) : "?";
    case S7_TYPE_I64_ALT: return s7_value_get_i64_alt(v, &x.i64) == 0 ? std::to_string(x.i64) : "?";
    case S7_TYPE_F32: return s7_value_get_f32(v, &x.f32) == 0 ? std::to_string(x.f32) : "?";
    case S7_TYPE_F64: return s7_value_get_f64(v, &x.f64) == 0 ? std::to_string(x.f64) : "?";
    case S7_TYPE_STRING: {
        const char* text = nullptr;
        uint32_t length = 0;
        return s7_value_get_string(v, &text, &length) == 0 ? std::string(text, length) : "?";
    }
    default: return "<type " + std::to_string(s7_value_type(v)) + ">";
    }
}

TEST(SimValues, EachDataTypeIsServedAsItsValueType) {
    struct Case {
        const char* type;
        const char* value;  // JSON
        uint8_t valueType;
        const char* text;
    };
    const Case cases[] = {
        {"Bool", "true", S7_TYPE_BOOL, "true"},
        {"BBool", "1", S7_TYPE_BOOL, "true"},
        {"Byte", "171", S7_TYPE_BITS8, "171"},
        {"Word", "4660", S7_TYPE_BITS16, "4660"},
        {"DWord", "4294967295", S7_TYPE_BITS32, "4294967295"},
        {"LWord", "18446744073709551615", S7_TYPE_BITS64, "18446744073709551615"},
        {"SInt", "-128", S7_TYPE_I8, "-128"},
        {"Int", "-32768", S7_TYPE_I16, "-32768"},
        {"DInt", "-2147483648", S7_TYPE_I32, "-2147483648"},
        {"LInt", "-9223372036854775808", S7_TYPE_I64, "-9223372036854775808"},
        {"USInt", "255", S7_TYPE_U8, "255"},
        {"UInt", "65535", S7_TYPE_U16, "65535"},
        {"UDInt", "4294967295", S7_TYPE_U32, "4294967295"},
        {"ULInt", "18446744073709551615", S7_TYPE_U64, "18446744073709551615"},
        {"Real", "1.5", S7_TYPE_F32, "1.500000"},
        {"LReal", "-2.25", S7_TYPE_F64, "-2.250000"},
        {"Char", "\"A\"", S7_TYPE_U8, "65"},
        {"WChar", "\"B\"", S7_TYPE_U16, "66"},
        {"String[10]", "\"abc\"", S7_TYPE_U8, "[10]abc"},
        {"String", "\"\"", S7_TYPE_U8, "[254]"},
        {"WString[8]", "\"Straße\"", S7_TYPE_STRING, "Straße"},
        {"Date", "13492", S7_TYPE_U16, "13492"},
        {"Time_Of_Day", "21600000", S7_TYPE_U32, "21600000"},
        {"Time", "-5000", S7_TYPE_I32, "-5000"},
        {"LTime", "1250000000", S7_TYPE_I64_ALT, "1250000000"},
        {"LTOD", "3600000000000", S7_TYPE_U64, "3600000000000"},
        {"LDT", "1796212800000000000", S7_TYPE_U64_ALT, "1796212800000000000"},
        {"S5Time", "4096", S7_TYPE_BITS16, "4096"},
        {"Timer", "4097", S7_TYPE_BITS16, "4097"},
        {"Counter", "999", S7_TYPE_U16, "999"},
    };
    std::string members;
    for (size_t i = 0; i < std::size(cases); ++i) {
        members += std::string(i == 0 ? "" : ",") + R"({"name": "V)" + std::to_string(i) + R"(", "type": ")" +
                   cases[i].type + R"(", "value": )" + cases[i].value + "}";
    }
    const auto server =
        startSim(Program::fromJson(R"({"blocks": [{"name": "DB1", "number": 1, "members": [)" + members + "]}]}"));
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    Blocks blocks;
    ASSERT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);
    Symbols symbols;
    ASSERT_EQ(vemoc_s7_client_browse_block(client.get(), blocks.find("DB1"), &symbols.list), S7_OK);
    ASSERT_EQ(symbols.list.count, std::size(cases)) << "every data type is browsable";
    std::vector<const s7_item_address*> items;
    for (uint32_t i = 0; i < symbols.list.count; ++i) items.push_back(&symbols.list.items[i].address);
    std::vector<vemo::sim::ValuePtr> values;
    ASSERT_EQ(readAll(client.get(), items, values), S7_OK);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].type);
        EXPECT_EQ(s7_value_type(values[i].get()), cases[i].valueType);
        EXPECT_EQ(render(values[i].get()), cases[i].text);
    }
}

TEST(SimProgram, ProgramsThatCannotBeServedAreRefusedWithThePlace) {
    auto block = [](const std::string& members) {
        return R"({"blocks": [{"name": "DB1", "number": 1, "members": [)" + members + "]}]}";
    };
    struct Case {
        std::string json;
        const char* message;
    };
    const Case cases[] = {
        {"[1, 2]", "must be a JSON object"},
        {"{\"blocks\": [", "not JSON"},
        {R"({"blocks": [{"name": "DB1", "number": 1e400}]})", "not JSON"},
        {R"({"bloks": []})", "unknown key \"bloks\""},
        {block(R"({"name": "A", "type": "Motor"})"), "DB1.A: unknown data type \"Motor\""},
        {block(R"({"name": "A", "type": "Array[1..0] of Int"})"), "bad array bounds"},
        {block(R"({"name": "A", "type": "Array[0..1,0..1,0..1,0..1,0..1,0..1,0..1] of Int"})"), "1 to 6 dimensions"},
        {block(R"({"name": "A", "type": "Array[0..1000, 0..1000] of Int"})"), "more than a million elements"},
        {block(R"({"name": "A", "type": "Array[0..2] of Int", "value": [1, 2]})"), "one value per array element"},
        {block(R"({"name": "A", "type": "Int", "value": 32768})"), "out of range for INT"},
        {block(R"({"name": "A", "type": "String[300]"})"), "holds 1 to 254 characters"},
        {block(R"({"name": "A", "type": "String[2]", "value": "abc"})"), "longer than the capacity"},
        {block(R"({"name": "A", "type": "String", "generator": {"kind": "ramp"}})"), "only numbers and BOOLs move"},
        {block(R"({"name": "A", "type": "Int", "generator": {"kind": "noise"}})"), "counter, sine, toggle or ramp"},
        {block(R"({"name": "A", "type": "Int"}, {"name": "A", "type": "Bool"})"), "DB1.A: the name is taken"},
        {R"({"blocks": [{"name": "DB1", "number": 60000}]})", "outside 1..59999"},
        {R"({"blocks": [{"name": "A", "number": 1}, {"name": "B", "number": 1}]})", "number 1 is taken"},
        {R"({"types": [{"name": "T", "members": [{"name": "Self", "type": "T"}]}]})",
         "user types must be defined above"},
        {R"({"areas": {"DB": []}})", "has no area \"DB\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        try {
            (void)Program::fromJson(c.json);
            ADD_FAILURE() << "accepted";
        } catch (const ProgramError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST(SimProgram, GeneratorsMoveWithTheTime) {
    Generator counter{Generator::Kind::Counter, 10, 3, 1000};
    EXPECT_EQ(counter.at(0, 0), 10);
    EXPECT_EQ(counter.at(2999, 0), 16) << "a step per whole period";
    Generator toggle{Generator::Kind::Toggle, 0, 0, 500};
    EXPECT_EQ(toggle.at(499, 0), 0);
    EXPECT_EQ(toggle.at(500, 0), 1);
    EXPECT_EQ(toggle.at(1000, 0), 0);
    Generator ramp{Generator::Kind::Ramp, 20, 120, 1000};
    EXPECT_EQ(ramp.at(0, 0), 20);
    EXPECT_EQ(ramp.at(250, 0), 45);
    EXPECT_EQ(ramp.at(1000, 0), 20) << "back to the start each period";
    Generator sine{Generator::Kind::Sine, 2, 5, 1000};
    EXPECT_NEAR(sine.at(250, 0), 7, 1e-9);
    EXPECT_NEAR(sine.at(750, 0), 3, 1e-9);
    // Copies of one variable (array elements, instances of a type) are
    // shifted within the period so that they do not move in step.
    EXPECT_NE(sine.at(0, 1), sine.at(0, 2));
}

TEST(SimProgram, TheBuiltInMachineBrowsesAndReadsWhole) {
    const auto server = startSim(Program::builtIn());
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    Blocks blocks;
    ASSERT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);
    uint64_t symbolCount = 0;
    for (uint32_t b = 0; b < blocks.list.count; ++b) {
        SCOPED_TRACE(blocks.list.items[b].name);
        Symbols symbols;
        ASSERT_EQ(vemoc_s7_client_browse_block(client.get(), &blocks.list.items[b], &symbols.list), S7_OK);
        EXPECT_GT(symbols.list.count, 0u) << "every block and area has variables";
        symbolCount += symbols.list.count;
        std::vector<const s7_item_address*> items;
        for (uint32_t i = 0; i < symbols.list.count; ++i) items.push_back(&symbols.list.items[i].address);
        std::vector<vemo::sim::ValuePtr> values;
        EXPECT_EQ(readAll(client.get(), items, values), S7_OK);
    }
    EXPECT_EQ(symbolCount, server->model().program().symbolCount());
}

// A type is refused where its structures nest deeper than an item address
// reaches and a client walks; at that depth exactly, its deepest variable
// browses and reads.
TEST(SimProgram, StructuresNestAsDeepAsClientsBrowse) {
    // T1 holds a BOOL, each further type the one before; the block holds
    // the last.
    auto chain = [](int depth) {
        std::string types = R"({"name": "T1", "members": [{"name": "x", "type": "Bool", "value": true}]})";
        for (int i = 2; i <= depth; ++i) {
            types += R"(, {"name": "T)" + std::to_string(i) + R"(", "members": [{"name": "x", "type": "T)" +
                     std::to_string(i - 1) + R"("}]})";
        }
        return R"({"types": [)" + types +
               R"(], "blocks": [{"name": "DB", "number": 1, "members": [{"name": "m", "type": "T)" +
               std::to_string(depth) + R"("}]}]})";
    };
    try {
        (void)Program::fromJson(chain(64));
        ADD_FAILURE() << "64 levels accepted";
    } catch (const ProgramError& e) {
        EXPECT_NE(std::string(e.what()).find("type T64: structures nest more than 63 levels deep"), std::string::npos)
            << e.what();
    }

    const auto server = startSim(Program::fromJson(chain(63)));
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    Blocks blocks;
    ASSERT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);
    Symbols symbols;
    ASSERT_EQ(vemoc_s7_client_browse_block(client.get(), &blocks.list.items[0], &symbols.list), S7_OK);
    std::string deepest = "DB.m";
    for (int i = 0; i < 63; ++i) deepest += ".x";
    ASSERT_EQ(symbols.names(), std::vector<std::string>{deepest});
    std::vector<vemo::sim::ValuePtr> values;
    ASSERT_EQ(readAll(client.get(), {&symbols.list.items[0].address}, values), S7_OK);
    bool value = false;
    EXPECT_EQ(s7_value_get_bool(values[0].get(), &value), S7_OK);
    EXPECT_TRUE(value);
}

using vemo::sim::GeneratedShape;

TEST(SimGenerate, TheShapesOfTheCommandLineAreReadOrRefused) {
    using Kind = GeneratedShape::Kind;
    struct Good {
        const char* text;
        GeneratedShape shape;
    };
    const Good good[] = {
        {"200,500", {Kind::Blocks, 200, 500}},
        {"blocks:200,500", {Kind::Blocks, 200, 500}},
        {"0,0", {Kind::Blocks, 0, 0}},  // the factory refuses the numbers, not the reader
        {"array:1000000", {Kind::Array, 1000000, 0}},
        {"array:4294967295", {Kind::Array, 4294967295u, 0}},
        {"deep:100000,10", {Kind::Deep, 100000, 10}},
    };
    for (const Good& g : good) {
        SCOPED_TRACE(g.text);
        EXPECT_EQ(GeneratedShape::parse(g.text), g.shape);
    }
    const char* bad[] = {
        "",         "200",        "200,",        ",500",      "200,500,1",    "-1,5",
        "+1,5",     " 1,5",       "1, 5",        "1,5 ",      "4294967296,1", "blocks:200",
        "blocks:",  "array:",     "array",       "array:1,2", "array:-1",     "array:4294967296",
        "deep:100", "deep:100,",  "deep:,3",     "deep",      "Array:5",      "tree:5,2",
        ":200,500", "array:0x10", "deep:1e5,10",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        try {
            (void)GeneratedShape::parse(text);
            ADD_FAILURE() << "accepted";
        } catch (const ProgramError& e) {
            EXPECT_NE(std::string(e.what()).find("--generate takes BLOCKS,MEMBERS, blocks:BLOCKS,MEMBERS, "
                                                 "array:ELEMENTS or deep:SYMBOLS,DEPTH"),
                      std::string::npos)
                << e.what();
        }
    }
    // Numbers the reader takes and the shapes do not.
    struct OutOfRange {
        const char* text;
        const char* message;
    };
    const OutOfRange outOfRange[] = {
        {"60000,1", "at most 59999 blocks"},
        {"blocks:1,0", "1 to 65535 members per block"},
        {"2000,1000", "at most 1000000 members in all"},
        {"array:0", "array: 1 to 1000000 elements"},
        {"array:1000001", "array: 1 to 1000000 elements"},
        {"deep:0,3", "deep: 1 to 1000000 symbols"},
        {"deep:1000001,3", "deep: 1 to 1000000 symbols"},
        {"deep:100,0", "deep: a depth of 1 to 63"},
        {"deep:100,64", "deep: a depth of 1 to 63"},
    };
    for (const OutOfRange& o : outOfRange) {
        SCOPED_TRACE(o.text);
        try {
            (void)Program::generated(GeneratedShape::parse(o.text));
            ADD_FAILURE() << "accepted";
        } catch (const ProgramError& e) {
            EXPECT_NE(std::string(e.what()).find(o.message), std::string::npos) << e.what();
        }
    }
}

// The structures a symbol lies in: one per dot beyond the block's.
size_t levelsOf(const std::string& name) { return static_cast<size_t>(std::count(name.begin(), name.end(), '.')) - 1; }

TEST(SimGenerate, EachShapeBrowsesToTheSymbolsItPromisesAndTheyRead) {
    struct Case {
        const char* shape;
        uint64_t symbols;
        size_t levels;                   // of every symbol
        size_t pathLength;               // of every symbol's item address
        std::vector<std::string> names;  // the first, the last, and others that must be there
    };
    const Case cases[] = {
        {"blocks:2,3", 6, 0, 1, {"GenDB1.Tag1", "GenDB2.Tag3"}},
        {"array:50", 50, 0, 2, {"ArrayDB.Values[0]", "ArrayDB.Values[49]", "ArrayDB.Values[17]"}},
        {"deep:1,1", 1, 1, 4, {"DeepDB.L1[0].V1", "DeepDB.L1[0].V1"}},
        // Below 200 exactly: two arrays of one structure and one of two, 150
        // members at the bottom.
        {"deep:300,3",
         300,
         3,
         10,
         {"DeepDB.L1[0].L2[0].L3[0].V1", "DeepDB.L1[1].L2[0].L3[0].V150", "DeepDB.L1[1].L2[0].L3[0].V1"}},
        // 32 * 156 = 4992: within 0.5 %.
        {"deep:5000,10",
         4992,
         10,
         31,
         {"DeepDB.L1[0].L2[0].L3[0].L4[0].L5[0].L6[0].L7[0].L8[0].L9[0].L10[0].V1",
          "DeepDB.L1[1].L2[1].L3[1].L4[1].L5[1].L6[0].L7[0].L8[0].L9[0].L10[0].V156"}},
        // As deep as a client walks.
        {"deep:20,63", 20, 63, 190, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shape);
        const auto server = startSim(Program::generated(GeneratedShape::parse(c.shape)));
        EXPECT_EQ(server->model().program().symbolCount(), c.symbols);
        const Client client = newClient();
        ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
        Blocks blocks;
        ASSERT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);
        std::vector<std::string> names;
        std::vector<vemo::sim::ValuePtr> values;
        for (uint32_t b = 0; b < blocks.list.count; ++b) {
            Symbols symbols;
            ASSERT_EQ(vemoc_s7_client_browse_block(client.get(), &blocks.list.items[b], &symbols.list), S7_OK);
            std::vector<const s7_item_address*> sample;
            for (uint32_t i = 0; i < symbols.list.count; ++i) {
                const s7_symbol& s = symbols.list.items[i];
                names.emplace_back(s.name);
                ASSERT_EQ(levelsOf(s.name), c.levels) << s.name;
                ASSERT_EQ(s.address.path_count, c.pathLength) << s.name;
                if (i < 40 || i + 1 == symbols.list.count) sample.push_back(&s.address);
            }
            // The variables are there to be read: the first ones and the last.
            ASSERT_EQ(readAll(client.get(), sample, values), S7_OK);
            for (size_t i = 0; i < values.size(); ++i) EXPECT_NE(values[i], nullptr);
            if (std::string(c.shape).rfind("array:", 0) == 0 && b == 0) {
                for (size_t i = 0; i + 1 < values.size(); ++i) {
                    int32_t v = -1;
                    EXPECT_EQ(s7_value_get_i32(values[i].get(), &v), 0);
                    EXPECT_EQ(v, static_cast<int32_t>(i)) << "each element reads its number";
                }
                int32_t last = -1;
                EXPECT_EQ(s7_value_get_i32(values.back().get(), &last), 0);
                EXPECT_EQ(last, static_cast<int32_t>(symbols.list.count - 1));
            }
        }
        ASSERT_EQ(names.size(), c.symbols);
        if (c.names.size() >= 2) {
            EXPECT_EQ(names.front(), c.names[0]);
            EXPECT_EQ(names.back(), c.names[1]);
        }
        for (const std::string& n : c.names) {
            EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
        }
    }
}

TEST(SimGenerate, LargeShapesComeCloseToTheAskedCountInSmallTypeDescriptions) {
    // Counted and encoded, not browsed. The deep shape promises the count
    // exactly below 200 and within 0.5 % above; its descriptions, like the
    // array's, stay far below what a client takes in one answer.
    constexpr size_t kSmall = 64 * 1024;
    static_assert(kSmall < S7_RESPONSE_MAX_SIZE);
    for (const uint32_t n : {1u, 1000u, 1000000u}) {
        SCOPED_TRACE(n);
        const vemo::sim::Model model(Program::generatedArray(n), {});
        EXPECT_EQ(model.program().symbolCount(), n);
        EXPECT_LT(model.typeInfoObjects().size(), kSmall);
    }
    for (const uint32_t depth : {1u, 2u, 3u, 5u, 10u, 20u, 40u, 63u}) {
        for (const uint32_t symbols :
             {1u, 2u, 99u, 100u, 101u, 199u, 200u, 201u, 999u, 4097u, 65537u, 100000u, 123457u, 999999u, 1000000u}) {
            SCOPED_TRACE(std::to_string(symbols) + " symbols at depth " + std::to_string(depth));
            const vemo::sim::Model model(Program::generatedDeep(symbols, depth), {});
            const uint64_t got = model.program().symbolCount();
            if (symbols < 200) {
                EXPECT_EQ(got, symbols);
            } else {
                EXPECT_LE(got > symbols ? got - symbols : symbols - got, symbols / 200);
            }
            EXPECT_LT(model.typeInfoObjects().size(), kSmall);
            EXPECT_EQ(model.program().types.size(), depth) << "one type per level";
        }
    }
    // The flat shape the browse benchmark uses takes some 32 bytes a member
    // and still fits.
    const vemo::sim::Model flat(Program::generated(200, 500), {});
    EXPECT_EQ(flat.program().symbolCount(), 100000u);
    EXPECT_LT(flat.typeInfoObjects().size(), S7_RESPONSE_MAX_SIZE);
}

}  // namespace
