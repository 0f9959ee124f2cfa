#include "Controller.h"

#include "s7_object.h"
#include "s7_request.h"

#include <algorithm>
#include <cstring>

namespace vemo::sim {

namespace {

// The object around the type objects in the type-info explore.
constexpr uint32_t kTypeInfoContainerId = 0x9F000001u;
// A type-info reference that names no type object (TypeInfoMode::Dangling,
// and the members of the hostile-types fault's structure).
constexpr uint32_t kDanglingTypeInfoId = 0x9FFFFFF0u;
// The hostile-types fault's unused type objects, and the type of its
// array's elements.
constexpr uint32_t kFillerTypeInfoBase = 0x95000000u;
constexpr uint32_t kHostileTypeInfoId = 0x9E000001u;
// Entries and names per block of a type-info or name list: the lists are
// cut into blocks as the controller does, so that readers see block ends.
constexpr size_t kEntriesPerBlock = 64;

// The objects an explore of root 3 lists besides the data blocks; a client
// must skip each of them.
constexpr uint32_t kDecoyWrongId = S7_BROWSE_DATABLOCK_ID_BASE + 0x10001u;    // data-block class, other id range
constexpr uint32_t kDecoyNoName = S7_BROWSE_DATABLOCK_ID_BASE + 0xFFF0u;      // no name attribute
constexpr uint32_t kDecoyNumberName = S7_BROWSE_DATABLOCK_ID_BASE + 0xFFF1u;  // a name that is no string
constexpr uint32_t kDecoyOtherClass = S7_BROWSE_DATABLOCK_ID_BASE + 0xFFF2u;  // a block of another class
constexpr uint32_t kOtherBlockClass = 2575;

struct Malformed {};

// Reads a request body; any shortfall means the client sent something the
// controller cannot read.
class Reader {
public:
    explicit Reader(const Bytes& b) : c_{const_cast<uint8_t*>(b.data()), const_cast<uint8_t*>(b.data()) + b.size()} {}
    // clang-format off
    uint8_t u8() { uint8_t v = 0; check(s7_read_u8(&c_, &v)); return v; }
    uint16_t u16() { uint16_t v = 0; check(s7_read_u16(&c_, &v)); return v; }
    uint32_t u32() { uint32_t v = 0; check(s7_read_u32(&c_, &v)); return v; }
    uint64_t vlq() { uint64_t v = 0; check(s7_read_vlq64(&c_, &v)); return v; }
    // clang-format on
    uint32_t vlq32() {
        const uint64_t v = vlq();
        if (v > 0xFFFFFFFFu) throw Malformed{};
        return static_cast<uint32_t>(v);
    }
    void skip(uint32_t n) { check(s7_skip(&c_, n)); }
    uint32_t left() const { return s7_remaining(&c_); }
    uint8_t peek() const {
        if (left() == 0) throw Malformed{};
        return *c_.cur;
    }
    ValuePtr value() {
        s7_value* v = nullptr;
        check(s7_decode_value(&c_, &v));
        return ValuePtr(v);
    }
    s7_object* object() {
        s7_object* o = nullptr;
        check(s7_read_object(&c_, &o));
        return o;
    }

private:
    static void check(uint8_t rc) {
        if (rc != S7_STATUS_OK) throw Malformed{};
    }
    s7_cursor c_;
};

struct ObjectDeleter {
    void operator()(s7_object* o) const { s7_object_free(o); }
};
using ObjectPtr = std::unique_ptr<s7_object, ObjectDeleter>;

// The end of a read or write answer: the list of the items that failed,
// each with its error code, then the answer's closing zeros.
template <typename Failed>
Bytes finishItemAnswer(Writer& w, const Failed& failed) {
    w.vlq(0);
    for (const auto& [number, code] : failed) {
        w.vlq(number);
        w.vlq(code);
    }
    w.vlq(0);
    w.vlq(0);
    return w.buffer();
}

void header(Writer& w, uint16_t function, uint16_t sequence) {
    w.u8(S7_MARKER_RESPONSE);
    w.u16(0);
    w.u16(function);
    w.u16(0);
    w.u16(sequence);
}

void writeValue(Writer& w, s7_value* v) {
    ValuePtr owned(v);
    if (v == nullptr) throw std::bad_alloc();
    w.value(v);
}

// --------------------------------------------------------------- type info

// One type-info entry: the 12-byte head, then the record of its kind with
// every value little-endian except the big-endian flags word.
struct Entry {
    uint32_t memberId = 0;
    uint8_t datatype = 0;
    uint16_t kind = 2;
    int32_t lowerBound = 0;
    uint32_t elementCount = 0;
    std::array<int32_t, 6> dimLower{};
    std::array<uint32_t, 6> dimCount{};
    uint32_t structRef = 0;
};

void writeEntry(Writer& w, const Entry& e) {
    w.le32(e.memberId);
    w.le32(e.memberId);  // aux id: kept by readers, unused
    w.u8(e.datatype);
    w.u16(static_cast<uint16_t>(e.kind << 12));
    w.u8(0);
    w.le16(0);  // info a
    w.le16(0);  // info b
    w.le32(0);  // info c
    w.le32(0);  // info d
    auto dims = [&] {
        for (int32_t l : e.dimLower) w.le32(static_cast<uint32_t>(l));
        for (uint32_t c : e.dimCount) w.le32(c);
    };
    auto structTail = [&] {
        w.le32(0);  // aux1
        w.le32(0);  // aux0
        w.le32(e.structRef);
        for (int i = 0; i < 4; ++i) w.le32(0);
    };
    switch (e.kind) {
    case 2: break;
    case 3:
        w.le32(static_cast<uint32_t>(e.lowerBound));
        w.le32(e.elementCount);
        break;
    case 4:
        w.le32(0);
        w.le32(e.elementCount);
        dims();
        break;
    case 5:
        w.le32(e.structRef);
        for (int i = 0; i < 4; ++i) w.le32(0);
        break;
    case 6:
        w.le32(static_cast<uint32_t>(e.lowerBound));
        w.le32(e.elementCount);
        structTail();
        break;
    case 7:
        w.le32(0);
        w.le32(e.elementCount);
        dims();
        structTail();
        break;
    default: throw std::logic_error("simulator: no such type-info kind");
    }
}

Entry entryOf(const Program& p, const Member& m) {
    Entry e;
    e.memberId = m.id;
    e.datatype = m.datatype;
    e.structRef = m.isStruct() ? p.types[static_cast<size_t>(m.udt)].typeInfoId : 0;
    if (!m.isArray()) {
        e.kind = m.isStruct() ? 5 : 2;
        return e;
    }
    e.elementCount = static_cast<uint32_t>(m.elementCount());
    if (m.dims.size() == 1) {
        e.kind = m.isStruct() ? 6 : 3;
        e.lowerBound = m.dims[0].lower;
        return e;
    }
    e.kind = m.isStruct() ? 7 : 4;
    // The innermost (last declared, fastest-varying) dimension comes first.
    for (size_t j = 0; j < m.dims.size(); ++j) {
        const Dim& d = m.dims[m.dims.size() - 1 - j];
        e.dimLower[j] = d.lower;
        e.dimCount[j] = d.count;
    }
    return e;
}

// A u16 length written once the block's bytes are known.
size_t openBlock(Writer& w) {
    w.u16(0);
    return w.size();
}
void closeBlock(Writer& w, size_t start, size_t extra) {
    const size_t len = w.size() - start + extra;
    if (len > 0xFFFF) throw std::logic_error("simulator: list block too long");
    w.buffer()[start - 2] = static_cast<uint8_t>(len >> 8);
    w.buffer()[start - 1] = static_cast<uint8_t>(len);
}

void writeTypeInfoList(Writer& w, const std::vector<Entry>& entries) {
    w.u8(S7_TAG_TYPE_INFO);
    if (entries.empty()) {
        // Length 0 ends the list; the four bytes after it are there anyway.
        w.u16(0);
        w.u32(0);
        return;
    }
    // The first block's length also counts the four bytes before its entries.
    size_t start = openBlock(w);
    w.u32(0);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i != 0 && i % kEntriesPerBlock == 0) {
            closeBlock(w, start, 0);
            start = openBlock(w);
        }
        writeEntry(w, entries[i]);
    }
    closeBlock(w, start, 0);
    w.u16(0);
}

void writeNameList(Writer& w, const std::vector<std::string_view>& names) {
    w.u8(S7_TAG_NAME_LIST);
    for (size_t i = 0; i < names.size(); i += kEntriesPerBlock) {
        const size_t start = openBlock(w);
        for (size_t j = i; j < std::min(names.size(), i + kEntriesPerBlock); ++j) {
            w.u8(static_cast<uint8_t>(names[j].size()));
            w.text(names[j]);
            w.u8(0);  // one byte after each name, unused by readers
        }
        closeBlock(w, start, 0);
    }
    w.u16(0);
}

void writeObjectHead(Writer& w, uint32_t id, uint32_t classId) {
    w.u8(S7_TAG_OBJECT_START);
    w.u32(id);
    w.vlq(classId);
    w.vlq(0);
    w.vlq(0);
}

void writeNameAttribute(Writer& w, std::string_view name) {
    w.u8(S7_TAG_ATTRIBUTE);
    w.vlq(S7_BROWSE_NAME_ATTRIBUTE);
    writeValue(w, s7_value_new_string(name.data(), static_cast<uint32_t>(name.size())));
}

void writeTypeObject(Writer& w, const Program& p, uint32_t id, std::string_view name,
                     const std::vector<Member>& members, const std::vector<std::pair<std::string, Entry>>& extra) {
    writeObjectHead(w, id, S7_BROWSE_TYPE_OBJECT_CLASS);
    writeNameAttribute(w, name);
    std::vector<Entry> entries;
    std::vector<std::string_view> names;
    entries.reserve(members.size() + extra.size());
    names.reserve(members.size() + extra.size());
    for (const Member& m : members) {
        entries.push_back(entryOf(p, m));
        names.push_back(m.name);
    }
    for (const auto& [n, e] : extra) {
        entries.push_back(e);
        names.push_back(n);
    }
    writeTypeInfoList(w, entries);
    writeNameList(w, names);
    w.u8(S7_TAG_OBJECT_END);
}

// The type objects inside the container, and where each one's bytes lie
// (of several with one identifier, the first).
Bytes encodeTypeInfoObjects(const Program& p, const Fault& fault, std::map<uint32_t, TypeObjectSpan>& spans) {
    Bytes out;
    Writer w(out);
    auto emit = [&](uint32_t id, std::string_view name, const std::vector<Member>& members,
                    const std::vector<std::pair<std::string, Entry>>& extra) {
        const size_t start = w.size();
        writeTypeObject(w, p, id, name, members, extra);
        spans.emplace(id, TypeObjectSpan{start, w.size() - start});
    };
    // An object before the container, of another class: the client looks for
    // the first object of class 534.
    writeObjectHead(w, 0x9F000000u, S7_BROWSE_TYPE_OBJECT_CLASS);
    writeNameAttribute(w, "Decoy");
    w.u8(S7_TAG_OBJECT_END);
    if (fault.kind == FaultKind::NoTypeInfoContainer) {
        return out;
    }
    writeObjectHead(w, kTypeInfoContainerId, S7_BROWSE_TYPE_INFO_CLASS);
    if (fault.kind == FaultKind::HostileTypes) {
        // Ahead of the others, so that a client that searches the list in
        // order passes them on every look-up.
        for (uint64_t i = 0; i < fault.arg; ++i) {
            emit(kFillerTypeInfoBase + static_cast<uint32_t>(i), "Filler" + std::to_string(i + 1), {}, {});
        }
        std::vector<std::pair<std::string, Entry>> missing;
        missing.reserve(kHostileMembers);
        for (uint32_t i = 0; i < kHostileMembers; ++i) {
            Entry e;
            e.memberId = kFirstMemberId + i;
            e.datatype = S7_DATATYPE_STRUCT;
            e.kind = 5;
            e.structRef = kDanglingTypeInfoId;
            missing.emplace_back(std::string("M").append(std::to_string(i + 1)), e);
        }
        emit(kHostileTypeInfoId, "HostileType", {}, missing);
    }
    for (const Udt& t : p.types) {
        emit(t.typeInfoId, t.name, t.members, {});
    }
    for (size_t b = 0; b < p.blocks.size(); ++b) {
        const Block& block = p.blocks[b];
        std::vector<std::pair<std::string, Entry>> extra;
        if (b == 0 && fault.kind == FaultKind::SelfReferencingType) {
            Entry self;
            self.memberId = kFirstMemberId + static_cast<uint32_t>(block.members.size());
            self.datatype = S7_DATATYPE_STRUCT;
            self.kind = 5;
            self.structRef = block.typeInfoId;
            extra.emplace_back("Self", self);
        }
        if (b == 0 && fault.kind == FaultKind::HostileCount) {
            Entry hostile;
            hostile.memberId = kFirstMemberId + static_cast<uint32_t>(block.members.size());
            hostile.datatype = S7_DATATYPE_BOOL;
            hostile.kind = 3;
            hostile.elementCount = static_cast<uint32_t>(fault.arg);
            extra.emplace_back("Hostile", hostile);
        }
        if (b == 0 && fault.kind == FaultKind::HostileTypes) {
            Entry hostile;
            hostile.memberId = kFirstMemberId + static_cast<uint32_t>(block.members.size());
            hostile.datatype = S7_DATATYPE_STRUCT;
            hostile.kind = 6;
            hostile.elementCount = kHostileElements;
            hostile.structRef = kHostileTypeInfoId;
            extra.emplace_back("Hostile", hostile);
        }
        emit(block.typeInfoId, block.name, block.members, extra);
    }
    for (const Block& area : p.areas) {
        emit(area.typeInfoId, area.name, area.members, {});
    }
    w.u8(S7_TAG_OBJECT_END);
    return out;
}

// A value whose type fits no variable of the member's data type: a BOOL,
// or for one that travels as a BOOL an array of three.
ValuePtr wrongTypeValue(const Member& m) {
    if (findDataType(m.datatype)->wireType != S7_TYPE_BOOL) {
        ValuePtr v(s7_value_new_bool(1));
        if (v == nullptr) throw std::bad_alloc();
        return v;
    }
    ValuePtr array(s7_value_new_array(S7_TYPE_BOOL, S7_FLAG_ARRAY));
    if (array == nullptr) throw std::bad_alloc();
    for (const bool bit : {true, false, true}) {
        s7_value* e = s7_value_new_bool(bit ? 1 : 0);
        if (e == nullptr || s7_array_append(array.get(), e) != 0) {
            s7_value_free(e);
            throw std::bad_alloc();
        }
    }
    return array;
}

Bytes encodeBlockObjects(const Program& p) {
    Bytes out;
    Writer w(out);
    auto block = [&](uint32_t id, uint32_t classId, std::string_view name) {
        writeObjectHead(w, id, classId);
        writeNameAttribute(w, name);
        w.u8(S7_TAG_OBJECT_END);
    };
    block(kDecoyWrongId, S7_BROWSE_DATABLOCK_CLASS, "NotADataBlock");
    for (size_t i = 0; i < p.blocks.size(); ++i) {
        block(p.blocks[i].objectId, S7_BROWSE_DATABLOCK_CLASS, p.blocks[i].name);
        if (i == 0) {
            writeObjectHead(w, kDecoyNoName, S7_BROWSE_DATABLOCK_CLASS);
            w.u8(S7_TAG_OBJECT_END);
            writeObjectHead(w, kDecoyNumberName, S7_BROWSE_DATABLOCK_CLASS);
            w.u8(S7_TAG_ATTRIBUTE);
            w.vlq(S7_BROWSE_NAME_ATTRIBUTE);
            writeValue(w, s7_value_new_u32(7));
            w.u8(S7_TAG_OBJECT_END);
            block(kDecoyOtherClass, kOtherBlockClass, "OtherBlock");
        }
    }
    return out;
}

// One item address of a read or write request.
struct Item {
    uint32_t object = 0;
    uint32_t attribute = 0;
    std::vector<uint32_t> path;
};

// The field count and `count` item addresses; at least one, and the field
// count must add up.
std::vector<Item> readItems(Reader& in, uint32_t count) {
    const uint32_t fields = in.vlq32();
    std::vector<Item> items;
    uint64_t fieldSum = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Item item;
        in.vlq();
        item.object = in.vlq32();
        const uint32_t n = in.vlq32();
        if (n == 0 || n - 1 > in.left()) throw Malformed{};
        item.attribute = in.vlq32();
        for (uint32_t k = 0; k + 1 < n; ++k) item.path.push_back(in.vlq32());
        fieldSum += n + 3;
        items.push_back(std::move(item));
    }
    if (count == 0 || fieldSum != fields) throw Malformed{};
    return items;
}

// The variable an item address leads to, when it leads to one.
std::optional<Leaf> resolveItem(const Program& p, const Item& item) {
    const Block* block = p.findBlock(item.object);
    if (block == nullptr) return std::nullopt;
    const uint32_t content = block->isArea() ? S7_BROWSE_AREA_ATTRIBUTE : S7_BROWSE_DATABLOCK_ATTRIBUTE;
    if (item.attribute != content) return std::nullopt;
    return p.resolve(*block, item.path.data(), static_cast<uint32_t>(item.path.size()));
}

WrittenValues::Key keyOf(const Item& item) {
    WrittenValues::Key key{item.object};
    key.insert(key.end(), item.path.begin(), item.path.end());
    return key;
}

// Whether a written value has the form the variable's values travel in:
// the wire type of its data type, one value; a STRING as the U8 array of
// capacity, length and characters, with the variable's capacity.
bool fits(const Member& m, const s7_value* v) {
    const DataType* dt = findDataType(m.datatype);
    if (dt == nullptr || v == nullptr || s7_value_is_struct(v)) return false;
    if (m.datatype == S7_DATATYPE_STRING) {
        const uint32_t n = s7_array_count(v);
        uint8_t c = 0;
        uint8_t l = 0;
        return s7_value_is_array(v) && s7_value_type(v) == S7_TYPE_U8 && s7_array_get_u8(v, 0, &c) == 0 &&
               s7_array_get_u8(v, 1, &l) == 0 && c == m.capacity && l <= c && n == uint32_t{l} + 2;
    }
    return !s7_value_is_array(v) && s7_value_type(v) == dt->wireType;
}

}  // namespace

ValuePtr sessionVersionValue(const std::string& plcType) {
    ValuePtr s(s7_value_new_struct(S7_SESSION_SERVER_STRUCT));
    auto set = [&](uint32_t key, s7_value* v) {
        if (v == nullptr || s == nullptr || s7_struct_set(s.get(), key, v) != 0) {
            s7_value_free(v);
            throw std::bad_alloc();
        }
    };
    set(S7_SESSION_PLC_TYPE_MEMBER, s7_value_new_string(plcType.data(), static_cast<uint32_t>(plcType.size())));
    set(320, s7_value_new_string("V3.1", 4));
    set(321, s7_value_new_u32(1));
    return s;
}

Model::Model(Program program, ControllerSettings settings)
    : program_(std::move(program)),
      settings_(std::move(settings)),
      plcType_(settings_.plcType.empty() ? program_.plcType : settings_.plcType) {
    blockObjects_ = encodeBlockObjects(program_);
    typeInfoObjects_ = encodeTypeInfoObjects(program_, settings_.fault, typeObjectSpans_);
}

std::span<const uint8_t> Model::typeObject(uint32_t id) const {
    const auto it = typeObjectSpans_.find(id);
    if (it == typeObjectSpans_.end()) return {};
    return std::span<const uint8_t>(typeInfoObjects_).subspan(it->second.offset, it->second.length);
}

Session::Session(const Model& model, uint32_t sessionId, std::function<int64_t()> clockMs)
    : model_(model), sessionId_(sessionId), clockMs_(std::move(clockMs)) {}

Step Session::stepOf(const Request& r) const {
    switch (r.function) {
    case S7_FN_CREATE_OBJECT: return Step::Create;
    case S7_FN_SET_VALUES: return Step::SetValues;
    case S7_FN_GET_ATTRIBUTE: {
        try {
            Reader in(r.body);
            in.skip(1);
            const uint32_t object = in.u32();
            in.skip(3);
            if (object == sessionId_ && in.vlq() == S7_SESSION_LEVEL_ATTRIBUTE) return Step::GetLevel;
        } catch (const Malformed&) {
        }
        return Step::Request;
    }
    case S7_FN_READ_VARIABLES: {
        try {
            Reader in(r.body);
            in.skip(5);
            if (in.vlq() >= 1) {
                in.vlq();
                in.vlq();
                if (in.vlq() == S7_LIMITS_OBJECT) return Step::Limits;
            }
        } catch (const Malformed&) {
        }
        return Step::Request;
    }
    default: return Step::Request;
    }
}

Bytes Session::respond(const Request& r) {
    Bytes out;
    Writer w(out);
    header(w, r.function, r.sequence);
    const size_t bodyStart = out.size();
    const uint8_t first = r.body.empty() ? 0 : r.body[0];
    const uint32_t expected = created_ ? sessionId_ : uint32_t{S7_SESSION_INITIAL_ID};
    try {
        if (r.sessionId != expected) {
            w.u8(first);
            w.vlq(errors::kWrongSession);
            w.u32(0);
            return out;
        }
        switch (r.function) {
        case S7_FN_CREATE_OBJECT: return create(r, w);
        case S7_FN_SET_VALUES: return setValues(r, w);
        case S7_FN_GET_ATTRIBUTE: return getAttribute(r, w);
        case S7_FN_READ_VARIABLES: return read(r, w);
        case S7_FN_EXPLORE: return explore(r, w);
        default: break;
        }
        w.u8(first);
        w.vlq(errors::kUnknownObject);
        w.u32(0);
    } catch (const Malformed&) {
        out.resize(bodyStart);
        w.u8(first);
        w.vlq(errors::kMalformed);
        w.u32(0);
    }
    return out;
}

Bytes Session::create(const Request& r, Writer& w) {
    Reader in(r.body);
    const uint8_t first = in.u8();
    const uint32_t target = in.u32();
    const ValuePtr value = in.value();
    in.u32();
    if (in.peek() != S7_TAG_OBJECT_START) in.vlq();  // the counter, when sent
    const ObjectPtr object(in.object());
    w.u8(first);
    if (target != S7_SESSION_CREATE_TARGET || s7_object_class(object.get()) != S7_SESSION_CLASS) {
        w.vlq(errors::kUnknownObject);
        w.u8(0);
        return w.buffer();
    }
    w.vlq(0);
    w.u8(1);
    w.vlq(sessionId_);
    const ObjectPtr reply(s7_object_new(sessionId_, S7_SESSION_CLASS, 0));
    if (reply == nullptr) throw std::bad_alloc();
    if (model_.settings().fault.kind != FaultKind::CreateIncomplete) {
        ValuePtr version = sessionVersionValue(model_.plcType());
        sentSessionVersion_.clear();
        Writer(sentSessionVersion_).value(version.get());
        if (s7_object_set_attribute(reply.get(), S7_SESSION_SERVER_ATTRIBUTE, version.get()) != 0) {
            throw std::bad_alloc();
        }
        version.release();
    }
    const uint32_t size = s7_object_size(reply.get());
    const size_t at = w.size();
    w.buffer().resize(at + size);
    s7_cursor c{w.buffer().data() + at, w.buffer().data() + at + size};
    if (s7_write_object(&c, reply.get()) != S7_STATUS_OK) throw std::logic_error("simulator: session object");
    w.u32(0);
    created_ = true;
    return w.buffer();
}

Bytes Session::setValues(const Request& r, Writer& w) {
    Reader in(r.body);
    const uint8_t first = in.u8();
    const uint32_t object = in.u32();
    if (object == 0) return writeVariables(r, w);
    const uint32_t count = in.vlq32();
    bool ok = object == sessionId_ && count == 1 && in.vlq32() == count;
    std::vector<uint32_t> attributes;
    for (uint32_t i = 0; ok && i < count; ++i) attributes.push_back(in.vlq32());
    for (uint32_t i = 0; ok && i < count; ++i) {
        const uint32_t item = in.vlq32();
        const ValuePtr value = in.value();
        // The client must write back the structure exactly as it received it.
        // A value the codec cannot write (the reader takes some the writer
        // refuses) is no copy of it: a refusal, not an error of ours.
        Bytes echoed;
        if (s7_value_size(value.get()) != 0) Writer(echoed).value(value.get());
        ok = item == i + 1 && attributes[i] == S7_SESSION_SERVER_ATTRIBUTE && !echoed.empty() &&
             echoed == sentSessionVersion_;
    }
    w.u8(first);
    w.vlq(0);
    if (!ok || model_.settings().fault.kind == FaultKind::SetValuesErrorEntry) {
        w.vlq(1);
        w.vlq(ok ? errors::kInjected : errors::kBadAddress);
    }
    w.vlq(0);
    w.vlq(0);
    return w.buffer();
}

// A set-values request in address form: each value goes to the variable its
// item address leads to, when the value fits it. Every item is judged on
// its own; the ones refused are listed with their error code.
Bytes Session::writeVariables(const Request& r, Writer& w) {
    Reader in(r.body);
    const uint8_t first = in.u8();
    in.u32();
    const uint32_t count = in.vlq32();
    const std::vector<Item> items = readItems(in, count);
    std::vector<ValuePtr> values;
    for (uint32_t i = 0; i < count; ++i) {
        if (in.vlq32() != i + 1) throw Malformed{};
        values.push_back(in.value());
    }
    if (in.u8() != 0 || in.left() < s7_request_tail_size() + 4) throw Malformed{};

    const ControllerSettings& s = model_.settings();
    w.u8(first);
    // The same limit as for reads; the client has learned no other.
    if (s.maxReadItems >= 1 && count > static_cast<uint32_t>(s.maxReadItems)) {
        w.vlq(errors::kTooManyItems);
        w.vlq(0);
        w.vlq(0);
        return w.buffer();
    }
    std::vector<std::pair<uint32_t, uint64_t>> failed;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t number = i + 1;
        const std::optional<Leaf> leaf = resolveItem(model_.program(), items[i]);
        if (s.fault.kind == FaultKind::RefuseWrite && number == (s.fault.arg == 0 ? 1 : s.fault.arg)) {
            failed.emplace_back(number, errors::kInjected);
        } else if (!leaf) {
            failed.emplace_back(number, errors::kBadAddress);
        } else if (!fits(*leaf->member, values[i].get()) || s7_value_size(values[i].get()) == 0) {
            // Stored is what later reads answer with: it must be writable.
            failed.emplace_back(number, errors::kWrongType);
        } else {
            Bytes encoded;
            Writer(encoded).value(values[i].get());
            model_.written().store(keyOf(items[i]), std::move(encoded));
        }
    }
    return finishItemAnswer(w, failed);
}

Bytes Session::getAttribute(const Request& r, Writer& w) {
    Reader in(r.body);
    const uint8_t first = in.u8();
    const uint32_t object = in.u32();
    in.skip(3);
    const uint32_t attribute = in.vlq32();
    w.u8(first);
    if (object != sessionId_ || attribute != S7_SESSION_LEVEL_ATTRIBUTE) {
        w.vlq(errors::kUnknownObject);
        w.u8(0);
        writeValue(w, s7_value_new_null());
        w.vlq(0);
        return w.buffer();
    }
    w.vlq(0);
    w.u8(0);
    const uint32_t level = model_.settings().sessionLevel;
    writeValue(w, model_.settings().fault.kind == FaultKind::LevelSigned ? s7_value_new_i32(static_cast<int32_t>(level))
                                                                         : s7_value_new_u32(level));
    w.vlq(0);
    return w.buffer();
}

Bytes Session::read(const Request& r, Writer& w) {
    Reader in(r.body);
    const uint8_t first = in.u8();
    in.u32();
    const uint32_t count = in.vlq32();
    const std::vector<Item> items = readItems(in, count);
    if (in.left() < s7_request_tail_size() + 4) throw Malformed{};

    const ControllerSettings& s = model_.settings();
    const FaultKind fault = s.fault.kind;
    const bool limits = items.front().object == S7_LIMITS_OBJECT;
    // The limit the client has learned: what was sent, or its fallback.
    const bool limitUsable =
        s.maxReadItems >= 1 && fault != FaultKind::LimitsUnsigned && fault != FaultKind::LimitsOnlyAux;
    const uint32_t limit = limitUsable ? static_cast<uint32_t>(s.maxReadItems) : 16;

    w.u8(first);
    if ((limits && fault == FaultKind::LimitsError) || (!limits && count > limit)) {
        w.vlq(limits ? errors::kInjected : errors::kTooManyItems);
        w.vlq(0);
        w.vlq(0);
        w.vlq(0);
        return w.buffer();
    }
    w.vlq(0);
    std::vector<std::pair<uint32_t, uint64_t>> failed;
    const int64_t now = clockMs_();
    const Program& p = model_.program();
    for (uint32_t i = 0; i < count; ++i) {
        const Item& item = items[i];
        const uint32_t number = i + 1;
        if (!limits && i == 0 && fault == FaultKind::ReadErrorEntry) {
            failed.emplace_back(number, errors::kInjected);
            continue;
        }
        if (item.object == S7_LIMITS_OBJECT && item.attribute == S7_LIMITS_ATTRIBUTE && item.path.size() == 1 &&
            (item.path[0] == S7_LIMIT_READ_ITEMS || item.path[0] == S7_LIMIT_AUX_ITEMS)) {
            if (item.path[0] == S7_LIMIT_READ_ITEMS) {
                if (fault == FaultKind::LimitsOnlyAux) continue;
                w.vlq(number);
                writeValue(w, fault == FaultKind::LimitsUnsigned
                                  ? s7_value_new_u32(static_cast<uint32_t>(s.maxReadItems))
                                  : s7_value_new_i32(s.maxReadItems));
            } else if (fault == FaultKind::LimitsErrorEntry) {
                failed.emplace_back(number, errors::kInjected);
            } else {
                w.vlq(number);
                writeValue(w, s7_value_new_i32(s.auxItemLimit));
            }
            continue;
        }
        const Block* block = p.findBlock(item.object);
        if (block != nullptr && !block->isArea() && item.attribute == S7_BROWSE_DATABLOCK_ATTRIBUTE &&
            item.path.size() == 1 && item.path[0] == 1) {
            if (block->typeInfo == TypeInfoMode::None) {
                failed.emplace_back(number, errors::kUnknownObject);
                continue;
            }
            w.vlq(number);
            writeValue(w, s7_value_new_id32(block->typeInfo == TypeInfoMode::Dangling ? kDanglingTypeInfoId
                                                                                      : block->typeInfoId));
            continue;
        }
        const std::optional<Leaf> leaf = resolveItem(p, item);
        if (!leaf) {
            failed.emplace_back(number, errors::kBadAddress);
            continue;
        }
        w.vlq(number);
        if (fault == FaultKind::WrongType) {
            w.value(wrongTypeValue(*leaf->member).get());
        } else if (const std::optional<Bytes> written = model_.written().find(keyOf(item))) {
            w.bytes(written->data(), written->size());
        } else {
            w.value(makeValue(*leaf, now).get());
        }
    }
    return finishItemAnswer(w, failed);
}

Bytes Session::explore(const Request& r, Writer& w) {
    Reader in(r.body);
    const uint8_t first = in.u8();
    const uint32_t root = in.u32();
    in.vlq();    // explore id
    in.skip(3);  // option A, 1, option B
    if (in.peek() == 1) {
        in.skip(1);
        in.value();  // the filter: the objects below the roots are already what it asks for
    }
    if (in.u8() != 0) throw Malformed{};
    const uint32_t attributes = in.vlq32();
    for (uint32_t i = 0; i < attributes; ++i) in.vlq();

    const Fault& fault = model_.settings().fault;
    const bool injected = fault.kind == FaultKind::ExploreError && (fault.arg == 0 || fault.arg == root);
    // Besides the two roots, every type object can be explored on its own:
    // a client that cannot take all of them in one answer asks for them
    // one at a time.
    const std::span<const uint8_t> typeObject = model_.typeObject(root);
    const bool known = root == S7_BROWSE_DATABLOCK_ROOT || root == S7_BROWSE_TYPE_INFO_ROOT || !typeObject.empty();
    w.u8(first);
    w.vlq(injected ? errors::kInjected : known ? 0 : errors::kUnknownObject);
    w.u32(0);
    w.vlq(0);
    if (!injected && root == S7_BROWSE_DATABLOCK_ROOT) {
        w.bytes(model_.blockObjects().data(), model_.blockObjects().size());
    } else if (!injected && root == S7_BROWSE_TYPE_INFO_ROOT) {
        w.bytes(model_.typeInfoObjects().data(), model_.typeInfoObjects().size());
    } else if (!injected && !typeObject.empty()) {
        w.bytes(typeObject.data(), typeObject.size());
    }
    // The end of the object list, then the body's closing fields.
    w.u8(0);
    w.u32(0);
    return w.buffer();
}

void WrittenValues::store(Key key, Bytes encoded) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_[std::move(key)] = std::move(encoded);
}

std::optional<Bytes> WrittenValues::find(const Key& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

}  // namespace vemo::sim
