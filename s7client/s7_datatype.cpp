#include "s7_datatype.h"

#include <array>

namespace {

struct Range {
    uint8_t first;
    uint8_t last;
};

// The data types whose elementary members the browse lists: the plain
// variables, strings, pointers, timers and counters of the classic kinds, the
// 64-bit and unsigned types, the date and time types, and the system object
// types (hardware, organisation blocks, connections, data blocks) that read
// like a plain identifier. Alarms, IEC timer and counter structures, BCD
// types and variants are left out.
constexpr Range kBrowsable[] = {
    {1, 12},    {14, 14},   {19, 20},   {22, 24},   {28, 29},   {40, 40},   {48, 55},   {61, 62},
    {64, 67},   {96, 96},   {128, 130}, {132, 132}, {134, 134}, {144, 156}, {160, 164}, {168, 171},
    {173, 175}, {192, 193}, {195, 197}, {208, 210},
};

constexpr std::array<bool, 256> makeTable() {
    std::array<bool, 256> table{};
    for (const Range& r : kBrowsable) {
        for (unsigned id = r.first; id <= r.last; ++id) {
            table[id] = true;
        }
    }
    return table;
}

constexpr std::array<bool, 256> kTable = makeTable();

} // namespace

extern "C" bool s7_datatype_is_browsable(uint32_t datatype) { return kTable[datatype & 0xFFu]; }
