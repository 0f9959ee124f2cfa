// Listing and browsing the simulated controller's program through the client
// library: the blocks and the reads that learn their type descriptions, the
// names and item addresses of every member shape a program can declare -
// each address read back from the simulator - the per-connection cache of
// type descriptions, and hostile descriptions: huge counts, and structures
// of types that are missing, behind many unused ones.
#include "sim_client.h"

#include "../support/alloc_hooks.h"
#include "Faults.h"
#include "s7_browse.h"
#include "s7_client.h"
#include "s7_object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace vemo::test;
using vemo::sim::Bytes;
using vemo::sim::ControllerSettings;
using vemo::sim::Program;
using vemo::sim::ReceivedRequest;
using vemo::sim::Server;

constexpr uint16_t kExplore = 1211;
constexpr uint16_t kRead = 1356;

std::unique_ptr<Server> recordingSim(Program program, ControllerSettings controller = {}) {
    return startSim(std::move(program), std::move(controller), true);
}

std::vector<ReceivedRequest> withFunction(const std::vector<ReceivedRequest>& all, uint16_t function) {
    std::vector<ReceivedRequest> out;
    for (const auto& r : all) {
        if (r.function == function) out.push_back(r);
    }
    return out;
}

// The root object an explore body names, and the item count of a read body
// (both right after the body's first byte and target, below 128 here).
uint32_t exploreRoot(const ReceivedRequest& r) {
    return uint32_t{r.body[1]} << 24 | uint32_t{r.body[2]} << 16 | uint32_t{r.body[3]} << 8 | r.body[4];
}
uint32_t readItems(const ReceivedRequest& r) { return r.body[5]; }

const std::vector<std::string> kAreas = {"I", "Q", "M", "S7Timers", "S7Counters"};

// Every shape of member, in one block; Values, Points and the areas carry
// values so that reads show which element an address reaches.
constexpr const char* kShapes = R"json({
  "types": [
    {"name": "Point", "members": [{"name": "X", "type": "Int"}, {"name": "Y", "type": "Int"}]},
    {"name": "Segment", "members": [{"name": "From", "type": "Point"}, {"name": "To", "type": "Point"}]}
  ],
  "blocks": [
    {"name": "DB1", "number": 1, "members": [
      {"name": "Values", "type": "Array[-1..1] of Int", "value": [-7, 0, 7]},
      {"name": "Grid", "type": "Array[1..3, 0..1] of DInt", "value": [10, 11, 20, 21, 30, 31]},
      {"name": "Bits", "type": "Array[0..1, 0..2] of BBool", "value": [true, false, true, false, true, false]},
      {"name": "Points", "type": "Array[0..3] of Point"},
      {"name": "Pairs", "type": "Array[0..1, 5..6] of Point"},
      {"name": "Line", "type": "Segment"},
      {"name": "Cube", "type": "Array[0..1, 0..1, 0..1, 0..1, 0..1, 0..2] of Bool"},
      {"name": "Flags", "type": "Array[0..9] of BBool"}
    ]},
    {"name": "Unknown", "number": 2, "type_info": "none", "members": [{"name": "A", "type": "Int"}]},
    {"name": "Dangling", "number": 3, "type_info": "dangling", "members": [{"name": "A", "type": "Int"}]},
    {"name": "Empty", "number": 4}
  ],
  "areas": {"M": [{"name": "Flag", "type": "Bool", "value": true}, {"name": "Word", "type": "Word", "value": 4660}]}
})json";

TEST(SimList, BlocksInProgramOrderThenTheAreasWithTheDecoysLeftOut) {
    const auto server = recordingSim(Program::builtIn());
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    server->clearRequests();
    Blocks blocks;
    ASSERT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);

    std::vector<std::string> expected = {"Conveyor", "Tank", "Recipes"};
    expected.insert(expected.end(), kAreas.begin(), kAreas.end());
    EXPECT_EQ(blocks.names(), expected) << "the simulator lists four objects a client must skip";
    const Program& program = server->model().program();
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(blocks.list.items[i].number, i + 1);
        EXPECT_EQ(blocks.list.items[i].object_id, 0x8A0E0000u + i + 1);
        EXPECT_EQ(blocks.list.items[i].type_info_id, program.blocks[i].typeInfoId);
    }
    const auto received = server->requests();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].function, kExplore);
    EXPECT_EQ(exploreRoot(received[0]), 3u);
    EXPECT_EQ(received[1].function, kRead);
    EXPECT_EQ(readItems(received[1]), 3u);
}

TEST(SimList, WithoutDataBlocksOnlyTheAreasAndNoRead) {
    const auto server = recordingSim(Program::fromJson("{}"));
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    server->clearRequests();
    Blocks blocks;
    ASSERT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);
    EXPECT_EQ(blocks.names(), kAreas);
    const std::vector<uint32_t> numbers = {80, 81, 82, 84, 83};
    for (uint32_t i = 0; i < blocks.list.count; ++i) EXPECT_EQ(blocks.list.items[i].number, numbers[i]);
    EXPECT_EQ(server->requests().size(), 1u) << "the explore, and no read";
}

TEST(SimList, TypeDescriptionsAreReadInBatchesOfTheItemLimit) {
    ControllerSettings settings;
    settings.maxReadItems = 16;
    const auto server = recordingSim(Program::generated(33, 1), settings);
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    server->clearRequests();
    Blocks blocks;
    ASSERT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);

    const auto reads = withFunction(server->requests(), kRead);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(readItems(reads[0]), 16u);
    EXPECT_EQ(readItems(reads[1]), 16u);
    EXPECT_EQ(readItems(reads[2]), 1u);
    // Each answer's items land on the blocks of their own batch.
    ASSERT_EQ(blocks.list.count, 33u + 5u);
    const Program& program = server->model().program();
    for (uint32_t i = 0; i < 33; ++i) {
        EXPECT_EQ(blocks.list.items[i].type_info_id, program.blocks[i].typeInfoId) << blocks.list.items[i].name;
    }
}

struct Expected {
    const char* name;
    std::vector<uint32_t> path;
};

TEST(SimBrowse, EveryMemberShapeGetsItsNameAndAddressAndReadsBack) {
    const auto server = startSim(Program::fromJson(kShapes));
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    Blocks blocks;
    ASSERT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);
    Symbols db1;
    ASSERT_EQ(vemoc_s7_client_browse_block(client.get(), blocks.find("DB1"), &db1.list), S7_OK);

    // Member ids count from 10 in declaration order; element positions from 0.
    const Expected cases[] = {
        // A lower bound of -1: the name shows the index, the path the position.
        {"DB1.Values[-1]", {10, 0}},
        {"DB1.Values[0]", {10, 1}},
        {"DB1.Values[1]", {10, 2}},
        // Two dimensions: the outer index first in the name, positions in a row.
        {"DB1.Grid[1,0]", {11, 0}},
        {"DB1.Grid[1,1]", {11, 1}},
        {"DB1.Grid[2,0]", {11, 2}},
        {"DB1.Grid[2,1]", {11, 3}},
        {"DB1.Grid[3,0]", {11, 4}},
        {"DB1.Grid[3,1]", {11, 5}},
        // Rows of packed bits start on a byte: 0, 1, 2, then 8, 9, 10.
        {"DB1.Bits[0,0]", {12, 0}},
        {"DB1.Bits[0,2]", {12, 2}},
        {"DB1.Bits[1,0]", {12, 8}},
        {"DB1.Bits[1,2]", {12, 10}},
        // An element of an array of structures is entered through 1.
        {"DB1.Points[0].X", {13, 0, 1, 10}},
        {"DB1.Points[2].Y", {13, 2, 1, 11}},
        {"DB1.Pairs[0,5].X", {14, 0, 1, 10}},
        {"DB1.Pairs[1,6].Y", {14, 3, 1, 11}},
        // Nested structures: one member id per level.
        {"DB1.Line.From.X", {15, 10, 10}},
        {"DB1.Line.To.Y", {15, 11, 11}},
        // Six dimensions, the innermost fastest.
        {"DB1.Cube[0,0,0,0,0,0]", {16, 0}},
        {"DB1.Cube[0,0,0,0,0,2]", {16, 2}},
        {"DB1.Cube[0,0,0,0,1,0]", {16, 3}},
        {"DB1.Cube[1,1,1,1,1,2]", {16, 95}},
        // A single row of packed bits has no padding.
        {"DB1.Flags[9]", {17, 9}},
    };
    for (const Expected& e : cases) {
        SCOPED_TRACE(e.name);
        const s7_symbol* s = db1.find(e.name);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->address.object_id, 0x8A0E0001u);
        EXPECT_EQ(s->address.attribute_id, 2550u);
        EXPECT_EQ(pathOf(*s), e.path);
    }
    EXPECT_EQ(db1.list.count, 3u + 6 + 6 + 8 + 8 + 4 + 96 + 10);
    EXPECT_EQ(db1.list.items[0].datatype, 5) << "INT";
    EXPECT_EQ(db1.find("DB1.Bits[1,1]")->datatype, 40) << "BBOOL";

    // Every address the browse made leads to a variable of the simulator.
    std::vector<const s7_item_address*> items;
    for (uint32_t i = 0; i < db1.list.count; ++i) items.push_back(&db1.list.items[i].address);
    std::vector<vemo::sim::ValuePtr> values;
    ASSERT_EQ(readAll(client.get(), items, values), S7_OK);
    auto valueOf = [&](const char* name) { return values[static_cast<size_t>(db1.find(name) - db1.list.items)].get(); };
    int16_t i16 = 0;
    EXPECT_EQ(s7_value_get_i16(valueOf("DB1.Values[-1]"), &i16), 0);
    EXPECT_EQ(i16, -7);
    EXPECT_EQ(s7_value_get_i16(valueOf("DB1.Values[1]"), &i16), 0);
    EXPECT_EQ(i16, 7);
    int32_t i32 = 0;
    EXPECT_EQ(s7_value_get_i32(valueOf("DB1.Grid[2,1]"), &i32), 0);
    EXPECT_EQ(i32, 21);
    bool bit = false;
    EXPECT_EQ(s7_value_get_bool(valueOf("DB1.Bits[1,1]"), &bit), 0);
    EXPECT_TRUE(bit) << "position 9 is the fifth element";

    // Memory areas are read under their own attribute.
    Symbols m;
    ASSERT_EQ(vemoc_s7_client_browse_block(client.get(), blocks.find("M"), &m.list), S7_OK);
    ASSERT_EQ(m.names(), (std::vector<std::string>{"M.Flag", "M.Word"}));
    EXPECT_EQ(m.list.items[0].address.object_id, 82u);
    EXPECT_EQ(m.list.items[0].address.attribute_id, 3736u);
    ASSERT_EQ(readAll(client.get(), {&m.list.items[0].address, &m.list.items[1].address}, values), S7_OK);
    EXPECT_EQ(s7_value_get_bool(values[0].get(), &bit), 0);
    EXPECT_TRUE(bit);
}

TEST(SimBrowse, BlocksWithoutAKnownTypeDescriptionBrowseToNothing) {
    const auto server = startSim(Program::fromJson(kShapes));
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    Blocks blocks;
    ASSERT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);
    EXPECT_EQ(blocks.find("Unknown")->type_info_id, 0u) << "its reference read gives an error entry";
    EXPECT_NE(blocks.find("Dangling")->type_info_id, 0u);
    for (const char* name : {"Unknown", "Dangling", "Empty", "I"}) {
        SCOPED_TRACE(name);
        Symbols symbols;
        EXPECT_EQ(vemoc_s7_client_browse_block(client.get(), blocks.find(name), &symbols.list), S7_OK);
        EXPECT_EQ(symbols.list.count, 0u);
    }
}

TEST(SimBrowse, TypeDescriptionsAreFetchedOncePerConnection) {
    const auto server = recordingSim(Program::fromJson(kShapes));
    const Client client = newClient();
    auto browseAll = [&] {
        Blocks blocks;
        ASSERT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);
        server->clearRequests();
        for (uint32_t i = 0; i < blocks.list.count; ++i) {
            Symbols symbols;
            ASSERT_EQ(vemoc_s7_client_browse_block(client.get(), &blocks.list.items[i], &symbols.list), S7_OK);
            if (i == 0) {
                const auto received = server->requests();
                ASSERT_EQ(received.size(), 1u);
                EXPECT_EQ(received[0].function, kExplore);
                EXPECT_EQ(exploreRoot(received[0]), 537u);
                server->clearRequests();
            }
        }
        EXPECT_TRUE(server->requests().empty()) << "later browses send nothing";
    };
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    browseAll();
    // A new connection forgets them: the program may have changed.
    vemoc_s7_client_disconnect(client.get());
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    browseAll();
}

// Every symbol of every listed block: name, data type and address.
std::vector<std::string> browseEverything(vemoc_s7_client* c, const Blocks& blocks) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < blocks.list.count; ++i) {
        Symbols symbols;
        EXPECT_EQ(vemoc_s7_client_browse_block(c, &blocks.list.items[i], &symbols.list), S7_OK)
            << blocks.list.items[i].name;
        for (uint32_t k = 0; k < symbols.list.count; ++k) {
            const s7_symbol& s = symbols.list.items[k];
            std::string line = std::string(s.name) + " " + std::to_string(s.datatype) + " " +
                               std::to_string(s.address.object_id) + "/" + std::to_string(s.address.attribute_id);
            for (const uint32_t p : pathOf(s)) line += "/" + std::to_string(p);
            out.push_back(std::move(line));
        }
    }
    return out;
}

// A program whose type descriptions are longer than the client keeps of
// one answer (the bound lowered from 16 MiB so that the program stays
// small): the one answer is read and let go, then each browse explores the
// types its block needs, each type once, and the symbols are those of a
// client that took the one answer.
TEST(SimBrowse, AProgramTooLargeForOneAnswerBrowsesTypeByType) {
    struct Case {
        const char* name;
        Program program;
        uint32_t limit;
    };
    Case cases[] = {
        {"every member shape, structures in structures", Program::fromJson(kShapes), 1024},
        {"60 blocks of 100 members", Program::generated(60, 100), 8 * 1024},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto server = recordingSim(std::move(c.program));
        const vemo::sim::Model& model = server->model();
        const Program& program = model.program();
        ASSERT_GT(model.typeInfoObjects().size(), c.limit);

        const Client whole = newClient();
        ASSERT_EQ(connectTo(whole.get(), *server), S7_OK);
        Blocks wholeBlocks;
        ASSERT_EQ(vemoc_s7_client_list_datablocks(whole.get(), &wholeBlocks.list), S7_OK);
        const std::vector<std::string> expected = browseEverything(whole.get(), wholeBlocks);
        ASSERT_FALSE(expected.empty());

        const Client parts = newClient();
        ASSERT_EQ(connectTo(parts.get(), *server), S7_OK);
        parts->session->response_limit = c.limit;
        Blocks blocks;
        ASSERT_EQ(vemoc_s7_client_list_datablocks(parts.get(), &blocks.list), S7_OK);
        server->clearRequests();
        EXPECT_EQ(browseEverything(parts.get(), blocks), expected);
        EXPECT_EQ(parts->type_info_cache.in_parts, 1);
        EXPECT_EQ(vemoc_s7_client_get_state(parts.get()), S7_CLIENT_CONNECTED);

        // The one explore of root 537, then one per type a block reaches:
        // every type of the program (each is used), and each listed block's
        // and area's own, a dangling one included.
        const auto received = server->requests();
        ASSERT_FALSE(received.empty());
        EXPECT_EQ(exploreRoot(received[0]), 537u);
        std::vector<uint32_t> roots;
        for (size_t i = 1; i < received.size(); ++i) {
            ASSERT_EQ(received[i].function, kExplore);
            roots.push_back(exploreRoot(received[i]));
            const std::span<const uint8_t> type = model.typeObject(roots.back());
            EXPECT_LE(type.size(), c.limit) << roots.back();
        }
        std::vector<uint32_t> unique = roots;
        std::sort(unique.begin(), unique.end());
        EXPECT_EQ(std::unique(unique.begin(), unique.end()), unique.end()) << "no type is explored twice";
        std::vector<uint32_t> reached;
        for (const auto& t : program.types) reached.push_back(t.typeInfoId);
        for (uint32_t i = 0; i < blocks.list.count; ++i) {
            if (blocks.list.items[i].type_info_id != 0) reached.push_back(blocks.list.items[i].type_info_id);
        }
        std::sort(reached.begin(), reached.end());
        reached.erase(std::unique(reached.begin(), reached.end()), reached.end());
        EXPECT_EQ(unique, reached);

        // Known now: browsing again sends nothing.
        server->clearRequests();
        EXPECT_EQ(browseEverything(parts.get(), blocks), expected);
        EXPECT_TRUE(server->requests().empty());
    }
}

TEST(SimBrowse, HostileElementCountsFailInBoundedMemory) {
    for (const uint64_t count : {uint64_t{0xFFFFFFFF}, uint64_t{S7_BROWSE_MAX_SYMBOLS} + 1}) {
        SCOPED_TRACE(count);
        ControllerSettings settings;
        settings.fault = vemo::sim::Fault::parse("hostile-count", count);
        const auto server = startSim(Program::builtIn(), settings);
        const Client client = newClient();
        ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
        Blocks blocks;
        ASSERT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);

        CountingAllocator hooks;
        Symbols symbols;
        EXPECT_EQ(vemoc_s7_client_browse_block(client.get(), &blocks.list.items[0], &symbols.list), S7_ERR_NO_MEMORY);
        EXPECT_EQ(symbols.list.count, 0u);
        // Fetching and decoding the descriptions takes some thousand blocks;
        // building the elements would take one or more per element.
        EXPECT_LT(hooks.calls(), 100000u);

        // The rest of the program still browses on the same connection.
        Symbols tank;
        EXPECT_EQ(vemoc_s7_client_browse_block(client.get(), &blocks.list.items[1], &tank.list), S7_OK);
        EXPECT_GT(tank.list.count, 0u);
    }
}

// The hostile-types answer as the client's cache holds it after a browse:
// the fillers, and a first block whose member Hostile is an array of 4000
// structures of 3998 members of missing types. A low visit cap shows the
// walk goes into it; the whole walk, 16 million look-ups of those types,
// ends with the block's own variables and nothing for Hostile.
TEST(SimBrowse, HostileTypesHideStructuresOfMissingTypesBehindUnusedOnes) {
    constexpr uint64_t kFillers = 7;
    ControllerSettings settings;
    settings.fault = vemo::sim::Fault::parse("hostile-types", kFillers);
    const auto server = startSim(Program::builtIn(), settings);
    const Program& program = server->model().program();
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    Blocks blocks;
    ASSERT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);
    Symbols tank;
    ASSERT_EQ(vemoc_s7_client_browse_block(client.get(), blocks.find("Tank"), &tank.list), S7_OK);
    EXPECT_GT(tank.list.count, 0u) << "the other blocks browse as ever";
    const s7_type_info_cache& cache = client->type_info_cache;
    ASSERT_EQ(cache.valid, 1);

    // The program's types, blocks and areas, the fillers and the hostile
    // structure's type.
    EXPECT_EQ(cache.type_object_count, program.types.size() + program.blocks.size() + 5 + kFillers + 1);
    auto find = [&](uint32_t id) -> const s7_object* {
        for (uint32_t i = 0; i < cache.type_object_count; ++i) {
            if (s7_object_id(cache.type_objects[i]) == id) return cache.type_objects[i];
        }
        return nullptr;
    };
    const s7_object* first = find(blocks.list.items[0].type_info_id);
    ASSERT_NE(first, nullptr);
    const s7_type_info_list* entries = s7_object_type_info(first);
    const s7_name_list* names = s7_object_names(first);
    ASSERT_EQ(entries->count, program.blocks[0].members.size() + 1);
    ASSERT_EQ(names->count, entries->count);
    EXPECT_STREQ(names->items[names->count - 1], "Hostile");
    const s7_type_info_entry& hostile = entries->items[entries->count - 1];
    EXPECT_TRUE(hostile.is_array && hostile.is_struct);
    EXPECT_EQ(hostile.element_count, vemo::sim::kHostileElements);
    const s7_object* element = find(hostile.struct_ref);
    ASSERT_NE(element, nullptr);
    const s7_type_info_list* members = s7_object_type_info(element);
    ASSERT_EQ(members->count, vemo::sim::kHostileMembers);
    for (uint32_t i = 0; i < members->count; ++i) {
        ASSERT_TRUE(members->items[i].is_struct && !members->items[i].is_array) << i;
        ASSERT_EQ(find(members->items[i].struct_ref), nullptr) << i << ": its type is missing";
    }
    // Within a cap of 100 000 visits the first block's walk runs out in
    // Hostile's elements; without the fault it ends long before.
    const s7_browse_limits limits{S7_BROWSE_MAX_SYMBOLS, 100000, S7_BROWSE_MAX_NAME_BYTES};
    s7_symbol_list symbols{};
    EXPECT_EQ(s7_browse_block_limited(&blocks.list.items[0], &cache, &limits, &symbols), S7_STATUS_NO_MEMORY);
    EXPECT_EQ(symbols.count, 0u);
    const auto sound = startSim(Program::builtIn());
    const Client soundClient = newClient();
    ASSERT_EQ(connectTo(soundClient.get(), *sound), S7_OK);
    Blocks soundBlocks;
    ASSERT_EQ(vemoc_s7_client_list_datablocks(soundClient.get(), &soundBlocks.list), S7_OK);
    Symbols warmUp;
    ASSERT_EQ(vemoc_s7_client_browse_block(soundClient.get(), &soundBlocks.list.items[1], &warmUp.list), S7_OK);
    EXPECT_EQ(s7_browse_block_limited(&soundBlocks.list.items[0], &soundClient->type_info_cache, &limits, &symbols),
              S7_STATUS_OK);
    EXPECT_GT(symbols.count, 0u);
    s7_symbol_list_free(&symbols);
    Symbols whole;
    ASSERT_EQ(vemoc_s7_client_browse_block(client.get(), &blocks.list.items[0], &whole.list), S7_OK);
    Symbols soundWhole;
    ASSERT_EQ(vemoc_s7_client_browse_block(soundClient.get(), &soundBlocks.list.items[0], &soundWhole.list), S7_OK);
    EXPECT_EQ(whole.list.count, soundWhole.list.count);

    // With the default thousand fillers the answer stays some 240 KB.
    ControllerSettings defaults;
    defaults.fault = vemo::sim::Fault::parse("hostile-types", std::nullopt);
    const vemo::sim::Model model(Program::builtIn(), defaults);
    EXPECT_LT(model.typeInfoObjects().size(), 256u * 1024);
}

}  // namespace
