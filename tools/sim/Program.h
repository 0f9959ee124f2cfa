// The program the simulated controller runs: user data types, data blocks
// and the five memory areas, each a list of members with their data type,
// array bounds and value (a constant or a live generator). Loaded from JSON,
// built in (a small machine), or generated for load tests. A program is
// immutable once built; values that move are computed from the time.
#pragma once

#include "Wire.h"

#include "s7_protocol.h"

#include <vemo/s7datatype.h>

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vemo::sim {

// A program that cannot be loaded; the message names the place.
class ProgramError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An elementary data type the simulator can hold: its name in programs,
// its identifier and the value type its values travel as.
struct DataType {
    std::string_view name;
    uint8_t id;
    uint8_t wireType;
};

// Every elementary data type of programs, in a fixed order.
const std::vector<DataType>& dataTypes();
const DataType* findDataType(std::string_view name);  // case-insensitive
const DataType* findDataType(uint8_t id);

// A constant from the program: integer, unsigned, float or text.
struct Scalar {
    enum class Kind { Int, UInt, Float, Text } kind = Kind::Int;
    int64_t i = 0;
    uint64_t u = 0;
    double f = 0;
    std::string text;
};

// A value that moves with the time since the simulator started, or (Index,
// for generated programs) stands still at the number of the array element.
struct Generator {
    enum class Kind { None, Counter, Sine, Toggle, Ramp, Index } kind = Kind::None;
    double a = 0;  // counter: start; sine: amplitude; ramp: from; index: added to the element number
    double b = 0;  // counter: step;  sine: offset;    ramp: to
    int64_t periodMs = 1000;
    // Index gives `a` here; makeValue adds the element number.
    double at(int64_t nowMs, uint64_t phaseSeed) const;
};

// One dimension of an array, as declared: Array[lower..lower+count-1].
struct Dim {
    int32_t lower = 0;
    uint32_t count = 0;
};

struct Member {
    std::string name;
    uint32_t id = 0;             // the path element of the member's item address
    uint8_t datatype = 0;        // elementary type, or S7_DATATYPE_STRUCT
    int udt = -1;                // index of the user data type when a structure
    uint32_t capacity = 0;       // STRING / WSTRING: characters it can hold
    std::vector<Dim> dims;       // outermost first; empty for a single value
    std::vector<Scalar> values;  // one per element, or one for all, or none (zero)
    Generator generator;

    bool isArray() const { return !dims.empty(); }
    bool isStruct() const { return udt >= 0; }
    uint64_t elementCount() const;
};

struct Udt {
    std::string name;
    uint32_t typeInfoId = 0;
    std::vector<Member> members;
};

// Whether a block reports its type-info object: normally; not at all (the
// read of its reference gives an error entry); or with a reference that
// names no type object.
enum class TypeInfoMode { Normal, None, Dangling };

struct Block {
    std::string name;
    uint32_t number = 0;      // data blocks: 1..59999; areas: 80..84
    uint32_t objectId = 0;    // 0x8A0E0000 + number, or the area code
    uint32_t typeInfoId = 0;  // the type object describing the members
    TypeInfoMode typeInfo = TypeInfoMode::Normal;
    std::vector<Member> members;

    bool isArea() const { return objectId < S7_BROWSE_DATABLOCK_ID_BASE; }
};

// A variable an item address leads to: an elementary member (of a block or
// of a structure) and the element of it when it is an array.
struct Leaf {
    const Member* member = nullptr;
    uint64_t element = 0;
    uint64_t seed = 0;  // differs per instance, so that copies do not move in step
};

// The shape of a generated program, as --generate names it:
//   BLOCKS,MEMBERS or blocks:BLOCKS,MEMBERS  flat data blocks (Program::generated)
//   array:ELEMENTS                           one DINT array (Program::generatedArray)
//   deep:SYMBOLS,DEPTH                       nested structures (Program::generatedDeep)
struct GeneratedShape {
    enum class Kind { Blocks, Array, Deep } kind = Kind::Blocks;
    uint32_t first = 0;   // blocks, elements or symbols
    uint32_t second = 0;  // members per block or depth; 0 for an array

    // Reads the text of --generate; throws ProgramError when it is none of
    // the forms above. The numbers' ranges are the factories' to check.
    static GeneratedShape parse(std::string_view text);
    bool operator==(const GeneratedShape&) const = default;
};

struct Program {
    std::string plcType = "CPU 1516-3 PN/DP";
    std::vector<Udt> types;
    std::vector<Block> blocks;               // data blocks in program order
    std::array<Block, S7_AREA_COUNT> areas;  // I, Q, M, S7Timers, S7Counters

    // Parses the JSON program format (see README); throws ProgramError.
    static Program fromJson(std::string_view text);
    static Program fromFile(const std::string& path);
    // The built-in small machine.
    static Program builtIn();
    // `blocks` data blocks GenDB1.. of `members` elementary members each.
    static Program generated(uint32_t blocks, uint32_t members);
    // Data block ArrayDB with one member Values: Array[0..elements-1] of
    // DInt, element i reading i; 1 to a million elements.
    static Program generatedArray(uint32_t elements);
    // Data block DeepDB whose symbols lie `depth` structures deep: member L1
    // is an array of structures whose member L2 is an array of structures
    // ... down to L<depth>, whose structures hold elementary members V1...
    // Symbols are named DeepDB.L1[i].L2[j]...L<depth>[k].V<n>. Their count
    // is `symbols` exactly below 200 and within 0.5 % of it above; 1 to a
    // million symbols, a depth of 1 to 63.
    static Program generatedDeep(uint32_t symbols, uint32_t depth);
    static Program generated(const GeneratedShape& shape);

    // The block or area with this object identifier.
    const Block* findBlock(uint32_t objectId) const;
    const Udt* findType(uint32_t typeInfoId) const;
    // Follows an item address's path below a block; nullopt when it leads
    // to no elementary variable.
    std::optional<Leaf> resolve(const Block& block, const uint32_t* path, uint32_t count) const;
    // Symbols a full browse of every block and area yields.
    uint64_t symbolCount() const;
};

// The JSON text of the built-in program.
const char* builtInProgramJson();

// The value of a variable at `nowMs`, as the controller sends it.
ValuePtr makeValue(const Leaf& leaf, int64_t nowMs);

// Member identifiers of a type count from here; path [1] under attribute
// 2550 reads a block's type-info reference, so no member may have id 1.
constexpr uint32_t kFirstMemberId = 10;

// Array positions: the path element of element `element` (0-based, first
// index slowest), and back. Rows of a multi-dimensional BBOOL array start at
// multiples of 8, as the controller packs them in bytes.
uint64_t positionOf(const Member& m, uint64_t element);
std::optional<uint64_t> elementAt(const Member& m, uint64_t position);

}  // namespace vemo::sim
