// Loads the input as a simulator program file. A file the loader refuses
// must say why (a ProgramError with a message, no other exception); one it
// takes must be servable as it stands: its type descriptions and object
// lists encode, and every variable - the first and the last element of each
// array, down through the structures - resolves from its item address and
// has a value the value codec writes.
#include "Controller.h"
#include "Program.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

using namespace vemo::sim;

// Variables looked at per input: a few types that each hold the one before
// twice would otherwise have the walk visit billions.
constexpr int kLeafBudget = 4096;

struct Walk {
    const Program& program;
    const Block& block;
    std::vector<uint32_t> path;
    int budget = kLeafBudget;

    void members(const std::vector<Member>& list) {
        for (const Member& m : list) {
            if (budget <= 0) return;
            path.push_back(m.id);
            if (!m.isArray()) {
                member(m, 0);
            } else {
                member(m, 0);
                if (m.elementCount() > 1) member(m, m.elementCount() - 1);
            }
            path.pop_back();
        }
    }

    void member(const Member& m, uint64_t element) {
        if (m.isArray()) {
            const uint64_t position = positionOf(m, element);
            if (position > UINT32_MAX || elementAt(m, position) != element) std::abort();
            path.push_back(static_cast<uint32_t>(position));
        }
        if (m.isStruct()) {
            // An element of an array of structures is entered through 1.
            if (m.isArray()) path.push_back(1);
            members(program.types[static_cast<size_t>(m.udt)].members);
            if (m.isArray()) path.pop_back();
        } else {
            leaf(m, element);
        }
        if (m.isArray()) path.pop_back();
    }

    void leaf(const Member& m, uint64_t element) {
        --budget;
        const std::optional<Leaf> found = program.resolve(block, path.data(), static_cast<uint32_t>(path.size()));
        if (!found || found->member != &m || found->element != element) std::abort();
        Bytes encoded;
        Writer(encoded).value(makeValue(*found, 1234567).get());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Program program;
    try {
        program = Program::fromJson(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const ProgramError& e) {
        if (std::strlen(e.what()) == 0) std::abort();
        return 0;
    }
    const Model model(std::move(program), {});
    const Program& served = model.program();
    served.symbolCount();
    for (const Block& block : served.blocks) {
        Walk{served, block, {}}.members(block.members);
    }
    for (const Block& area : served.areas) {
        Walk{served, area, {}}.members(area.members);
    }
    return 0;
}
