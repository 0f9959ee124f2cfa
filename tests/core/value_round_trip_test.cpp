// Every data type from a controller and back: each variable of a program
// that holds one of every elementary type is read and shown in its default
// format; that text, parsed as the engineer would type it, is written into a
// second controller whose variables are all zero, and read back there. The
// two must show the same. Display texts, parsing, the value codec, the
// library's write and the simulator's store meet here.
#include "vemo/core/Browse.h"
#include "vemo/core/ChunkedRead.h"
#include "vemo/core/ValueFormat.h"
#include "vemo/core/ValueParse.h"

#include "Program.h"
#include "Server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <vemo/s7write.h>

#include <fstream>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace {

using vemo::sim::Program;

std::string programText() {
    std::ifstream in(VEMO_EVERY_TYPE_PROGRAM);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The same program with every value taken out: every variable reads 0 or
// empty.
Program zeroed() {
    nlohmann::json program = nlohmann::json::parse(programText());
    for (auto& block : program["blocks"]) {
        for (auto& member : block["members"]) member.erase("value");
    }
    return Program::fromJson(program.dump());
}

// A connected handle to an in-process simulator serving `program`.
class Controller {
public:
    explicit Controller(Program program) : client_(vemoc_s7_client_new()) {
        vemo::sim::ServerOptions options;
        options.port = 0;
        server_ = std::make_unique<vemo::sim::Server>(std::move(program), options);
        rc_ = vemoc_s7_client_connect(client_, "127.0.0.1", server_->port(), 10000);
    }
    ~Controller() { vemoc_s7_client_free(client_); }
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    std::uint8_t connected() const { return rc_; }
    vemoc_s7_client* client() const { return client_; }
    const Program& program() const { return server_->model().program(); }

    // The symbols of block "Types".
    std::vector<vemo::BrowsedBlock> browse(vemo::BlockList& blocks) {
        const vemo::ClientAccess access = [this](const vemo::ClientCall& call) { call(client_); };
        EXPECT_EQ(vemo::listBlocks(access, blocks), S7_OK);
        return vemo::browseBlocks(access, blocks, {"Types"});
    }

    // One variable's reading.
    vemo::ItemReading read(const s7_symbol& symbol) {
        vemo::ReadResult result = vemo::readInChunks(client_, std::span(&symbol.address, 1),
                                                     std::span(&symbol.datatype, 1));
        EXPECT_TRUE(result.ok()) << symbol.name;
        return result.ok() ? std::move(result.values.at(0)) : vemo::ItemReading{};
    }

private:
    vemoc_s7_client* client_;
    std::unique_ptr<vemo::sim::Server> server_;
    std::uint8_t rc_ = S7_ERR_CONNECT;
};

TEST(ValueRoundTrip, EveryDataTypeShownParsedWrittenAndReadBackShowsTheSame) {
    Controller source(Program::fromJson(programText()));
    Controller target(zeroed());
    ASSERT_EQ(source.connected(), S7_OK);
    ASSERT_EQ(target.connected(), S7_OK);
    vemo::BlockList sourceBlocks;
    vemo::BlockList targetBlocks;
    const std::vector<vemo::BrowsedBlock> from = source.browse(sourceBlocks);
    const std::vector<vemo::BrowsedBlock> to = target.browse(targetBlocks);
    ASSERT_EQ(from.size(), 1u);
    ASSERT_EQ(to.size(), 1u);
    ASSERT_EQ(from[0].symbols.size(), to[0].symbols.size());
    const auto& members = source.program().blocks.at(0).members;
    ASSERT_EQ(from[0].symbols.size(), members.size());

    std::size_t differed = 0;
    for (std::uint32_t i = 0; i < from[0].symbols.size(); ++i) {
        const s7_symbol& symbol = from[0].symbols[i];
        SCOPED_TRACE(symbol.name);
        const vemo::DisplayFormat format = vemo::defaultFormat(symbol.datatype);
        const std::string shown = vemo::formatValue(source.read(symbol).read, symbol.datatype, format).text;
        const std::string before = vemo::formatValue(target.read(to[0].symbols[i]).read, symbol.datatype, format).text;
        differed += shown != before ? 1 : 0;

        vemo::ParsedValue parsed = vemo::parseValue(shown, symbol.datatype, members[i].capacity);
        ASSERT_TRUE(parsed) << shown << ": " << parsed.error;
        const s7_item_address* items[] = {&to[0].symbols[i].address};
        const s7_value* values[] = {parsed.value.get()};
        s7_write_result* results = nullptr;
        ASSERT_EQ(vemoc_s7_client_write(target.client(), items, values, 1, &results), S7_OK);
        EXPECT_EQ(results[0].error, 0u) << shown;
        s7_write_results_free(results);

        EXPECT_EQ(vemo::formatValue(target.read(to[0].symbols[i]).read, symbol.datatype, format).text, shown);
    }
    // Only BBOOL false and the like read the same before the write.
    EXPECT_GE(differed, from[0].symbols.size() - 2);
}

}  // namespace
