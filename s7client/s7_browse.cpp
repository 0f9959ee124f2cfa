#include "s7_browse.h"

#include <vemo/s7datatype.h>
#include "s7_memory.h"
#include "s7_object.h"
#include "s7_value.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint64_t kU32Max = 0xFFFFFFFFu;

// Every browse request goes out with version byte 2 and the session counter.
constexpr uint8_t kRequestVersion = S7_FRAME_VERSION_2;

// The block list starts with room for 16 and doubles; each data block
// leaves room for the memory areas that follow the data blocks.
constexpr uint32_t kBlockListInitialCapacity = 16;
constexpr uint32_t kAreaCount = S7_AREA_COUNT;
// The symbol list starts with room for 32 and doubles.
constexpr uint32_t kSymbolListInitialCapacity = 32;
// In parts: the list of answers, and the identifiers a pass has still to
// reach, start with room for 16 and double.
constexpr uint32_t kPartListInitialCapacity = 16;
constexpr uint32_t kPendingInitialCapacity = 16;

// Element suffixes: "[-2147483648]" of a one-dimensional array fits 32
// bytes; six dimensions of such values with commas fit 160.
constexpr size_t kSuffixSize = 32;
constexpr size_t kMultiSuffixSize = 160;

// The element data type whose rows of a multi-dimensional array each start
// at a position that is a multiple of 8 (the controller packs its bits by
// the byte).
constexpr uint8_t kPaddedRowDatatype = S7_DATATYPE_BBOOL;
constexpr uint32_t kPaddedRowAlignment = 8;

bool indexOrder(const s7_type_index_entry& a, const s7_type_index_entry& b) {
    return a.id != b.id ? a.id < b.id : a.order < b.order;
}

// The first entry of `id` in a sorted run; null when it has none.
s7_type_index_entry* findIn(s7_type_index_entry* run, uint32_t count, uint32_t id) {
    if (run == nullptr) {
        return nullptr;
    }
    s7_type_index_entry* end = run + count;
    s7_type_index_entry* at = std::lower_bound(run, end, s7_type_index_entry{id, 0, nullptr, 0}, indexOrder);
    return at != end && at->id == id ? at : nullptr;
}

// What the cache knows of `id`, in either run; null when nothing.
s7_type_index_entry* findEntry(const s7_type_info_cache* cache, uint32_t id) {
    s7_type_index_entry* at = findIn(cache->type_index, cache->type_index_count, id);
    return at != nullptr ? at : findIn(cache->recent_index, cache->recent_count, id);
}

// Room in the recent run for `extra` more entries.
s7_status reserveRecent(s7_type_info_cache* cache, uint32_t extra) {
    const uint64_t needed = uint64_t{cache->recent_count} + extra;
    if (uint64_t{cache->known} + extra > kU32Max) {
        return S7_STATUS_NO_MEMORY;
    }
    if (needed <= cache->recent_capacity) {
        return S7_STATUS_OK;
    }
    uint64_t room = uint64_t{cache->recent_capacity} * 2;
    room = room < 16 ? 16 : room;
    room = room < needed ? needed : room;
    room = room > kU32Max ? needed : room;
    auto* grown = static_cast<s7_type_index_entry*>(
        s7_realloc(cache->recent_index, static_cast<size_t>(room) * sizeof(s7_type_index_entry)));
    if (grown == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    cache->recent_index = grown;
    cache->recent_capacity = static_cast<uint32_t>(room);
    return S7_STATUS_OK;
}

// Adds an entry the cache does not know yet to the recent run, in its
// place; reserveRecent has made room.
void insertRecent(s7_type_info_cache* cache, uint32_t id, const s7_object* object) {
    const s7_type_index_entry entry{id, cache->known++, object, 0};
    s7_type_index_entry* run = cache->recent_index;
    s7_type_index_entry* at = std::upper_bound(run, run + cache->recent_count, entry, indexOrder);
    std::memmove(at + 1, at, static_cast<size_t>(run + cache->recent_count - at) * sizeof(s7_type_index_entry));
    *at = entry;
    ++cache->recent_count;
}

// Merges the recent run into the main one once it is longer than the
// square root of the main run (at least 64 entries). When memory for the
// merge runs short, the runs stay as they are: both are searched anyway.
void mergeRecent(s7_type_info_cache* cache) {
    uint64_t root = 1;
    while (root * root < cache->type_index_count) {
        ++root;
    }
    if (cache->recent_count <= (root < 64 ? 64 : root)) {
        return;
    }
    const uint32_t total = cache->type_index_count + cache->recent_count;
    auto* merged = static_cast<s7_type_index_entry*>(s7_malloc(size_t{total} * sizeof(s7_type_index_entry)));
    if (merged == nullptr) {
        return;
    }
    s7_type_index_entry* main = cache->type_index;
    std::merge(main, main + cache->type_index_count, cache->recent_index, cache->recent_index + cache->recent_count,
               merged, indexOrder);
    s7_free(main);
    cache->type_index = merged;
    cache->type_index_count = total;
    cache->recent_count = 0;
}

// The type objects of an explore answer: the children of its first object
// of class 534, else its objects.
void typeObjectsOf(const s7_explore_result* explored, s7_object* const** objects, uint32_t* count) {
    for (uint32_t i = 0; i < explored->object_count; ++i) {
        const s7_object* parent = explored->objects[i];
        if (parent != nullptr && s7_object_class(parent) == S7_BROWSE_TYPE_INFO_CLASS) {
            *objects = s7_object_children(parent);
            *count = s7_object_child_count(parent);
            return;
        }
    }
    *objects = explored->objects;
    *count = explored->object_count;
}

char* copyText(const char* text, size_t length) {
    auto* out = static_cast<char*>(s7_malloc(length + 1));
    if (out != nullptr) {
        if (length != 0) {
            std::memcpy(out, text, length);
        }
        out[length] = '\0';
    }
    return out;
}

// ------------------------------------------------------------- listing

s7_value* buildFilter() {
    s7_value* array = s7_value_new_array(S7_TYPE_U32, S7_FLAG_ARRAY);
    for (uint32_t i = 0; array != nullptr && i < S7_FILTER_ARRAY_LENGTH; ++i) {
        s7_value* zero = s7_value_new_u32(0);
        if (zero == nullptr || s7_array_append(array, zero) != S7_OK) {
            s7_value_free(zero);
            s7_value_free(array);
            array = nullptr;
        }
    }
    s7_value* filter = array != nullptr ? s7_value_new_struct(S7_FILTER_STRUCT) : nullptr;
    if (filter == nullptr) {
        s7_value_free(array);
        return nullptr;
    }
    s7_value* members[] = {s7_value_new_i32(S7_FILTER_MEMBER_A_VALUE), s7_value_new_u32(0), array,
                           s7_value_new_id32(S7_BROWSE_DATABLOCK_CLASS)};
    const uint32_t keys[] = {S7_FILTER_MEMBER_A, S7_FILTER_MEMBER_B, S7_FILTER_MEMBER_ARRAY, S7_FILTER_MEMBER_CLASS};
    bool ok = true;
    for (size_t i = 0; i < sizeof keys / sizeof keys[0]; ++i) {
        if (ok && members[i] != nullptr && s7_struct_set(filter, keys[i], members[i]) == S7_OK) {
            members[i] = nullptr;
        } else {
            ok = false;
        }
        s7_value_free(members[i]);
    }
    if (!ok) {
        s7_value_free(filter);
        return nullptr;
    }
    return filter;
}

struct BlockBuilder {
    s7_block* items = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;

    // Room for the next block and the memory areas after it.
    s7_status reserve() {
        if (count > kU32Max - (kAreaCount + 1)) {
            return S7_STATUS_ARGUMENT;
        }
        // Slots count .. count + kAreaCount.
        return s7_grow_list(&items, count + kAreaCount, &capacity, kBlockListInitialCapacity);
    }

    void release() {
        s7_block_list list{items, count};
        s7_block_list_free(&list);
        *this = BlockBuilder{};
    }
};

// Is this top-level object of the listing a data block with a name? Then
// the name comes back through text/length.
bool isDataBlock(const s7_object* object, const char** text, uint32_t* length) {
    const s7_value* name = nullptr;
    return object != nullptr && s7_object_class(object) == S7_BROWSE_DATABLOCK_CLASS &&
           (s7_object_id(object) & 0xFFFF0000u) == S7_BROWSE_DATABLOCK_ID_BASE &&
           s7_object_find_attribute(object, S7_BROWSE_NAME_ATTRIBUTE, &name) == S7_STATUS_OK &&
           s7_value_get_string(name, text, length) == S7_OK;
}

// Reads attribute 2550 of every data block, `limit` addresses per read, and
// stores each block's type-info identifier.
s7_status readTypeInfoIds(s7_session* session, uint32_t limit, uint32_t timeoutMs,
                          const s7_item_address* const* addresses, BlockBuilder& blocks) {
    const uint32_t count = blocks.count;
    for (uint32_t first = 0; first < count;) {
        const uint32_t n = count - first < limit ? count - first : limit;
        s7_read_result result{};
        const s7_status rc =
            s7_read_variables(session, addresses + first, n, kRequestVersion, true, timeoutMs, &result);
        if (rc != S7_STATUS_OK) {
            return rc;
        }
        // Per-item errors are not reported: a block without an answer keeps
        // type_info_id 0. An item number can only name an address of this
        // read.
        for (uint32_t i = 0; i < result.value_count; ++i) {
            const uint32_t item = result.value_items[i];
            uint32_t id = 0;
            if (item >= 1 && item <= n && s7_value_get_id32(result.values[i], &id) == S7_OK) {
                blocks.items[first + item - 1].type_info_id = id;
            }
        }
        s7_read_result_free(&result);
        first += n;
    }
    return S7_STATUS_OK;
}

// ------------------------------------------------------------- the walk

// Where the walk stands, per structure level below the block: a member
// ("." and its name; its identifier) and, in an array, an element (its
// suffix; its position, and a 1 before a structure's members). At most
// three pieces and three path entries a level, S7_BROWSE_MAX_DEPTH levels.
constexpr uint32_t kEntriesPerLevel = 3;
constexpr uint32_t kMaxNamePieces = 1 + kEntriesPerLevel * S7_BROWSE_MAX_DEPTH;
constexpr uint32_t kMaxPath = kEntriesPerLevel * S7_BROWSE_MAX_DEPTH;

struct Walk {
    const s7_type_info_cache* cache;
    s7_browse_limits limits;
    uint32_t objectId;
    uint32_t attributeId;
    s7_symbol* items = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
    uint32_t visits = 0;
    uint64_t nameBytes = 0;
    // The name and the path of where the walk stands: the block's name,
    // then the pieces each level adds, every one NUL-terminated text that
    // lives while the walk is below it. A name and a path are put together
    // for a symbol only: a member or element that yields nothing costs the
    // same however long the names above it, and all the walk allocates is
    // what it hands out, which the caps bound.
    const char* pieces[kMaxNamePieces] = {};
    uint32_t pieceCount = 0;
    uint32_t path[kMaxPath] = {};
    uint32_t pathCount = 0;

    struct Mark {
        uint32_t pieces;
        uint32_t path;
    };

    const s7_object* findType(uint32_t id) const { return s7_type_info_cache_find(cache, id); }

    // One more member or element handled.
    s7_status visit() {
        if (visits >= limits.max_visits) {
            return S7_STATUS_NO_MEMORY;
        }
        ++visits;
        return S7_STATUS_OK;
    }

    Mark mark() const { return Mark{pieceCount, pathCount}; }
    void restore(Mark m) {
        pieceCount = m.pieces;
        pathCount = m.path;
    }
    // The depth bound keeps both within their room; the checks only make
    // sure of it.
    s7_status push(const char* piece) {
        if (pieceCount == kMaxNamePieces) {
            return S7_STATUS_PROTOCOL;
        }
        pieces[pieceCount++] = piece;
        return S7_STATUS_OK;
    }
    s7_status pushPath(uint32_t entry) {
        if (pathCount == kMaxPath) {
            return S7_STATUS_PROTOCOL;
        }
        path[pathCount++] = entry;
        return S7_STATUS_OK;
    }

    // A symbol where the walk stands.
    s7_status addSymbol(uint8_t datatype) {
        if (count >= limits.max_symbols) {
            return S7_STATUS_NO_MEMORY;
        }
        size_t length = 0;
        for (uint32_t i = 0; i < pieceCount; ++i) {
            length += std::strlen(pieces[i]);
        }
        if (length + 1 > limits.max_name_bytes - nameBytes) {
            return S7_STATUS_NO_MEMORY;
        }
        s7_status rc = s7_grow_list(&items, count, &capacity, kSymbolListInitialCapacity);
        if (rc != S7_STATUS_OK) {
            return rc;
        }
        auto* name = static_cast<char*>(s7_malloc(length + 1));
        auto* entries = static_cast<uint32_t*>(s7_malloc(size_t{pathCount} * sizeof(uint32_t)));
        if (name == nullptr || entries == nullptr) {
            s7_free(name);
            s7_free(entries);
            return S7_STATUS_NO_MEMORY;
        }
        size_t at = 0;
        for (uint32_t i = 0; i < pieceCount; ++i) {
            const size_t n = std::strlen(pieces[i]);
            std::memcpy(name + at, pieces[i], n);
            at += n;
        }
        name[length] = '\0';
        std::memcpy(entries, path, size_t{pathCount} * sizeof(uint32_t));
        items[count] = s7_symbol{datatype, s7_item_address{objectId, attributeId, entries, pathCount}, name};
        ++count;
        nameBytes += length + 1;
        return S7_STATUS_OK;
    }

    void release() {
        s7_symbol_list list{count, items};
        s7_symbol_list_free(&list);
        items = nullptr;
        count = 0;
        capacity = 0;
    }
};

s7_status walkType(Walk& w, const s7_object* type, uint32_t depth);

// One element of an array: a symbol, or the walk of its structure (the
// element's path then gets a 1 before the structure's members).
s7_status walkElement(Walk& w, const s7_type_info_entry& e, const s7_object* structType, const char* suffix,
                      uint32_t position, uint32_t depth) {
    s7_status rc = w.visit();
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    const Walk::Mark mark = w.mark();
    rc = w.push(suffix);
    if (rc == S7_STATUS_OK) {
        rc = w.pushPath(position);
    }
    if (rc == S7_STATUS_OK && structType != nullptr) {
        rc = w.pushPath(1);
    }
    if (rc == S7_STATUS_OK) {
        rc = structType != nullptr ? walkType(w, structType, depth + 1) : w.addSymbol(e.datatype);
    }
    w.restore(mark);
    return rc;
}

// What the elements of an array are walked as: the structure type (null for
// elementary elements). False when no element can yield anything, so the
// array need not be walked at all.
bool elementsYield(const Walk& w, const s7_type_info_entry& e, const s7_object** structType) {
    *structType = nullptr;
    if (e.is_struct) {
        *structType = w.findType(e.struct_ref);
        return *structType != nullptr;
    }
    return s7_datatype_is_browsable(e.datatype);
}

// Elementary elements become exactly one symbol each: an array that would
// overflow the symbol cap is refused before anything is built for it.
s7_status checkElementCount(const Walk& w, const s7_type_info_entry& e, const s7_object* structType) {
    if (structType == nullptr && uint64_t{w.count} + e.element_count > w.limits.max_symbols) {
        return S7_STATUS_NO_MEMORY;
    }
    return S7_STATUS_OK;
}

s7_status walkArray(Walk& w, const s7_type_info_entry& e, uint32_t depth) {
    const s7_object* structType = nullptr;
    if (!elementsYield(w, e, &structType)) {
        return S7_STATUS_OK;
    }
    s7_status rc = checkElementCount(w, e, structType);
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < e.element_count; ++i) {
        char suffix[kSuffixSize];
        const int n =
            std::snprintf(suffix, sizeof suffix, "[%lld]", static_cast<long long>(int64_t{e.lower_bound} + int64_t{i}));
        if (n < 0 || static_cast<size_t>(n) >= sizeof suffix) {
            return S7_STATUS_NO_MEMORY;
        }
        // The path carries the 0-based position, whatever the lower bound.
        rc = walkElement(w, e, structType, suffix, i, depth);
    }
    return rc;
}

// The name suffix of one element of a multi-dimensional array: the
// outermost dimension first.
s7_status multiSuffix(const s7_type_info_entry& e, uint32_t dimensions, const uint64_t* idx, char* out, size_t size) {
    size_t used = 0;
    out[used++] = '[';
    for (uint32_t j = dimensions; j-- > 0;) {
        const long long index = static_cast<long long>(int64_t{e.dim_lower[j]} + static_cast<int64_t>(idx[j]));
        const int n = std::snprintf(out + used, size - used, "%s%lld", j + 1 == dimensions ? "" : ",", index);
        if (n < 0 || static_cast<size_t>(n) >= size - used) {
            return S7_STATUS_NO_MEMORY;
        }
        used += static_cast<size_t>(n);
    }
    if (used + 2 > size) {
        return S7_STATUS_NO_MEMORY;
    }
    out[used++] = ']';
    out[used] = '\0';
    return S7_STATUS_OK;
}

s7_status walkMultiArray(Walk& w, const s7_type_info_entry& e, uint32_t depth) {
    const s7_object* structType = nullptr;
    if (!elementsYield(w, e, &structType)) {
        return S7_STATUS_OK;
    }
    s7_status rc = checkElementCount(w, e, structType);
    uint32_t dimensions = 0;
    for (uint32_t count : e.dim_count) {
        dimensions += count != 0 ? 1 : 0;
    }
    if (dimensions == 0) {
        dimensions = 1;
    }
    uint64_t idx[S7_TYPE_INFO_DIMENSIONS] = {};
    uint64_t position = 0;
    const uint32_t* dims = e.dim_count;
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < e.element_count; ++i) {
        char suffix[kMultiSuffixSize];
        rc = multiSuffix(e, dimensions, idx, suffix, sizeof suffix);
        if (rc != S7_STATUS_OK) {
            return rc;
        }
        if (position > kU32Max) {
            return S7_STATUS_NO_MEMORY;
        }
        rc = walkElement(w, e, structType, suffix, static_cast<uint32_t>(position), depth);
        // Advance the innermost index and carry outwards. Rows of a padded
        // array that do not fill their last byte skip to the next one.
        ++idx[0];
        if (e.datatype == kPaddedRowDatatype && dims[0] != 0 && idx[0] == dims[0] &&
            dims[0] % kPaddedRowAlignment != 0) {
            position += kPaddedRowAlignment - dims[0] % kPaddedRowAlignment;
            idx[0] = 0;
            ++idx[1];
        } else if (dims[0] != 0 && idx[0] == dims[0]) {
            idx[0] = 0;
            ++idx[1];
        }
        for (uint32_t j = 1; j + 1 < S7_TYPE_INFO_DIMENSIONS; ++j) {
            if (dims[j] != 0 && idx[j] == dims[j]) {
                idx[j] = 0;
                ++idx[j + 1];
            }
        }
        ++position;
    }
    return rc;
}

s7_status walkType(Walk& w, const s7_object* type, uint32_t depth) {
    if (depth >= S7_BROWSE_MAX_DEPTH) {
        return S7_STATUS_PROTOCOL;
    }
    const s7_type_info_list* entries = s7_object_type_info(type);
    const s7_name_list* names = s7_object_names(type);
    const uint32_t n = entries->count < names->count ? entries->count : names->count;
    for (uint32_t i = 0; i < n; ++i) {
        const s7_type_info_entry& e = entries->items[i];
        s7_status rc = w.visit();
        if (rc != S7_STATUS_OK) {
            return rc;
        }
        const s7_object* structType = nullptr;
        const bool yields =
            e.is_array || e.is_multi_array ||
            (e.is_struct ? (structType = w.findType(e.struct_ref)) != nullptr : s7_datatype_is_browsable(e.datatype));
        if (!yields || names->items[i] == nullptr) {
            continue;
        }
        const Walk::Mark mark = w.mark();
        rc = w.push(".");
        if (rc == S7_STATUS_OK) {
            rc = w.push(names->items[i]);
        }
        if (rc == S7_STATUS_OK) {
            rc = w.pushPath(e.member_id);
        }
        if (rc == S7_STATUS_OK) {
            if (e.is_array) {
                rc = walkArray(w, e, depth);
            } else if (e.is_multi_array) {
                rc = walkMultiArray(w, e, depth);
            } else if (e.is_struct) {
                rc = walkType(w, structType, depth + 1);
            } else {
                rc = w.addSymbol(e.datatype);
            }
        }
        w.restore(mark);
        if (rc != S7_STATUS_OK) {
            return rc;
        }
    }
    return S7_STATUS_OK;
}

// ------------------------------------------------------ types in parts

// The types one block's walk can reach, explored where the cache does not
// know them: a depth-first pass over the structure references, from the
// block's type, that passes each type once (the entries it reached carry
// this pass's mark).
struct TypeFetch {
    s7_session* session;
    uint32_t timeoutMs;
    s7_type_info_cache* cache;
    uint32_t* pending = nullptr;  // identifiers still to reach
    uint32_t pendingCount = 0;
    uint32_t pendingCapacity = 0;
    uint32_t explores = 0;
    uint32_t mark = 0;

    s7_status run(uint32_t root) {
        newMark();
        s7_status rc = push(root);
        while (rc == S7_STATUS_OK && pendingCount != 0) {
            rc = reach(pending[--pendingCount]);
        }
        s7_free(pending);
        return rc;
    }

    void newMark() {
        if (++cache->fetches == 0) {
            // Four billion passes later the marks start again: none may
            // look like the new pass's.
            for (uint32_t i = 0; i < cache->type_index_count; ++i) {
                cache->type_index[i].mark = 0;
            }
            for (uint32_t i = 0; i < cache->recent_count; ++i) {
                cache->recent_index[i].mark = 0;
            }
            cache->fetches = 1;
        }
        mark = cache->fetches;
    }

    s7_status push(uint32_t id) {
        const s7_status rc = s7_grow_list(&pending, pendingCount, &pendingCapacity, kPendingInitialCapacity);
        if (rc == S7_STATUS_OK) {
            pending[pendingCount++] = id;
        }
        return rc;
    }

    // One type: explored when unknown, then its structure references
    // pushed unless this pass reached them already.
    s7_status reach(uint32_t id) {
        s7_type_index_entry* entry = findEntry(cache, id);
        if (entry == nullptr) {
            const s7_status rc = explore(id);
            if (rc != S7_STATUS_OK) {
                return rc;
            }
            // The answer made the type known, if only as missing.
            entry = findEntry(cache, id);
            if (entry == nullptr) {
                return S7_STATUS_PROTOCOL;
            }
        }
        if (entry->mark == mark) {
            return S7_STATUS_OK;
        }
        entry->mark = mark;
        if (entry->object == nullptr) {
            return S7_STATUS_OK;
        }
        // Last member first onto the stack, so that the types are explored
        // in the order of the members that name them.
        const s7_type_info_list* entries = s7_object_type_info(entry->object);
        for (uint32_t i = entries->count; i-- > 0;) {
            const s7_type_info_entry& e = entries->items[i];
            if (!e.is_struct) {
                continue;
            }
            const s7_type_index_entry* known = findEntry(cache, e.struct_ref);
            if (known != nullptr && known->mark == mark) {
                continue;
            }
            const s7_status rc = push(e.struct_ref);
            if (rc != S7_STATUS_OK) {
                return rc;
            }
        }
        return S7_STATUS_OK;
    }

    // The explore of one type, as the one of root 537 but rooted at the
    // type; its answer goes into the cache, an answer with an error as
    // the note that there is no such type.
    s7_status explore(uint32_t id) {
        if (explores == S7_BROWSE_MAX_TYPE_EXPLORES) {
            return S7_STATUS_NO_MEMORY;
        }
        ++explores;
        const uint64_t left = S7_BROWSE_MAX_TYPE_BYTES - cache->part_bytes;
        if (left == 0) {
            return S7_STATUS_ANSWER_TOO_LARGE;
        }
        const uint32_t most =
            left < S7_RESPONSE_MAX_SIZE ? static_cast<uint32_t>(left) : uint32_t{S7_RESPONSE_MAX_SIZE};
        const s7_explore_request request{id, 0, 1, 0, nullptr, nullptr, 0};
        s7_explore_result explored{};
        uint32_t length = 0;
        s7_status rc = s7_explore_within(session, &request, kRequestVersion, true, timeoutMs, most, &length, &explored);
        if (rc != S7_STATUS_OK) {
            return rc;
        }
        if (explored.return_value != 0) {
            s7_explore_result_free(&explored);
        }
        rc = s7_type_info_cache_add(cache, &explored, length, id);
        if (rc != S7_STATUS_OK) {
            s7_explore_result_free(&explored);
        }
        return rc;
    }
};

}  // namespace

extern "C" {

void s7_block_list_free(s7_block_list* blocks) {
    if (blocks == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < blocks->count; ++i) {
        s7_free(blocks->items[i].name);
    }
    s7_free(blocks->items);
    *blocks = s7_block_list{};
}

void s7_symbol_list_free(s7_symbol_list* symbols) {
    if (symbols == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < symbols->count; ++i) {
        s7_item_address_release(&symbols->items[i].address);
        s7_free(symbols->items[i].name);
    }
    s7_free(symbols->items);
    *symbols = s7_symbol_list{};
}

s7_status s7_type_info_cache_fill(s7_type_info_cache* cache, const s7_explore_result* explored,
                                  const s7_object* parent) {
    if (cache == nullptr || explored == nullptr || parent == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    const uint32_t count = s7_object_child_count(parent);
    s7_object* const* objects = s7_object_children(parent);
    s7_type_index_entry* index = nullptr;
    uint32_t indexed = 0;
    if (count != 0) {
        index = static_cast<s7_type_index_entry*>(s7_malloc(size_t{count} * sizeof(s7_type_index_entry)));
        if (index == nullptr) {
            return S7_STATUS_NO_MEMORY;
        }
        for (uint32_t i = 0; i < count; ++i) {
            if (objects[i] != nullptr) {
                index[indexed++] = s7_type_index_entry{s7_object_id(objects[i]), i, objects[i], 0};
            }
        }
        // By position among equal identifiers too: the first object with an
        // identifier is the one a lookup finds.
        std::sort(index, index + indexed, indexOrder);
    }
    *cache = s7_type_info_cache{};
    cache->valid = 1;
    cache->explore_result = *explored;
    cache->type_objects = objects;
    cache->type_object_count = count;
    cache->type_index = index;
    cache->type_index_count = indexed;
    cache->known = indexed;
    return S7_STATUS_OK;
}

s7_status s7_type_info_cache_add(s7_type_info_cache* cache, const s7_explore_result* explored, uint32_t length,
                                 uint32_t requested) {
    if (cache == nullptr || explored == nullptr || cache->valid != 1 || cache->in_parts != 1) {
        return S7_STATUS_ARGUMENT;
    }
    s7_object* const* objects = nullptr;
    uint32_t count = 0;
    typeObjectsOf(explored, &objects, &count);
    // All the room first: once the answer is the cache's, nothing fails.
    s7_status rc = S7_STATUS_OK;
    if (explored->object_count != 0) {
        rc = s7_grow_list(&cache->parts, cache->part_count, &cache->part_capacity, kPartListInitialCapacity);
    }
    if (rc == S7_STATUS_OK) {
        rc = count == kU32Max ? S7_STATUS_NO_MEMORY : reserveRecent(cache, count + 1);
    }
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    cache->part_bytes += length;
    if (explored->object_count != 0) {
        cache->parts[cache->part_count++] = *explored;
    } else {
        s7_explore_result empty = *explored;
        s7_explore_result_free(&empty);
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (objects[i] != nullptr && findEntry(cache, s7_object_id(objects[i])) == nullptr) {
            insertRecent(cache, s7_object_id(objects[i]), objects[i]);
        }
    }
    // Asked and not answered: the controller has no such type.
    if (findEntry(cache, requested) == nullptr) {
        insertRecent(cache, requested, nullptr);
    }
    mergeRecent(cache);
    return S7_STATUS_OK;
}

const s7_object* s7_type_info_cache_find(const s7_type_info_cache* cache, uint32_t id) {
    if (cache == nullptr) {
        return nullptr;
    }
    const s7_type_index_entry* at = findEntry(cache, id);
    return at != nullptr ? at->object : nullptr;
}

void s7_type_info_cache_free(s7_type_info_cache* cache) {
    if (cache == nullptr) {
        return;
    }
    if (cache->valid == 1) {
        s7_explore_result_free(&cache->explore_result);
    }
    for (uint32_t i = 0; i < cache->part_count; ++i) {
        s7_explore_result_free(&cache->parts[i]);
    }
    s7_free(cache->parts);
    s7_free(cache->type_index);
    s7_free(cache->recent_index);
    *cache = s7_type_info_cache{};
}

s7_status s7_list_datablocks(s7_session* session, uint32_t max_read_items, uint32_t timeout_ms, s7_block_list* blocks) {
    if (session == nullptr || blocks == nullptr || max_read_items == 0) {
        return S7_STATUS_ARGUMENT;
    }
    s7_value* filter = buildFilter();
    if (filter == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    const uint32_t nameAttribute = S7_BROWSE_NAME_ATTRIBUTE;
    const s7_explore_request request{S7_BROWSE_DATABLOCK_ROOT, 0, 1, 0, &nameAttribute, filter, 1};
    s7_explore_result explored{};
    s7_status rc = s7_explore(session, &request, kRequestVersion, true, timeout_ms, &explored);
    s7_value_free(filter);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    if (explored.return_value != 0) {
        s7_explore_result_free(&explored);
        return S7_STATUS_EXPLORE;
    }

    *blocks = s7_block_list{};
    BlockBuilder list;
    s7_item_address* addresses = nullptr;
    const s7_item_address** pointers = nullptr;
    if (explored.object_count != 0) {
        addresses = static_cast<s7_item_address*>(s7_calloc(size_t{explored.object_count} * sizeof(s7_item_address)));
        pointers = static_cast<const s7_item_address**>(
            s7_calloc(size_t{explored.object_count} * sizeof(const s7_item_address*)));
        if (addresses == nullptr || pointers == nullptr) {
            rc = S7_STATUS_NO_MEMORY;
        }
    }
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < explored.object_count; ++i) {
        const s7_object* object = explored.objects[i];
        const char* text = nullptr;
        uint32_t length = 0;
        // Anything that is not a named data block is passed over.
        if (!isDataBlock(object, &text, &length)) {
            continue;
        }
        rc = list.reserve();
        if (rc != S7_STATUS_OK) {
            break;
        }
        char* name = copyText(text, length);
        s7_item_address* address = &addresses[list.count];
        *address = s7_item_address{s7_object_id(object), S7_BROWSE_DATABLOCK_ATTRIBUTE, nullptr, 0};
        if (name == nullptr || s7_item_address_push(address, 1) != S7_OK) {
            s7_free(name);
            rc = S7_STATUS_NO_MEMORY;
            break;
        }
        pointers[list.count] = address;
        list.items[list.count++] = s7_block{s7_object_id(object) & 0xFFFFu, s7_object_id(object), 0, name};
    }
    s7_explore_result_free(&explored);

    if (rc == S7_STATUS_OK && list.count != 0) {
        rc = readTypeInfoIds(session, max_read_items, timeout_ms, pointers, list);
    }
    for (uint32_t i = 0; addresses != nullptr && i < list.count; ++i) {
        s7_item_address_release(&addresses[i]);
    }
    s7_free(addresses);
    s7_free(pointers);

    if (rc == S7_STATUS_OK) {
        // reserve() left room for the areas after the last data block; an
        // empty list gets its room here.
        rc = list.count == 0 ? list.reserve() : S7_STATUS_OK;
    }
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < kAreaCount; ++i) {
        const s7_area& area = s7_memory_areas[i];
        char* name = copyText(area.name, std::strlen(area.name));
        if (name == nullptr) {
            rc = S7_STATUS_NO_MEMORY;
            break;
        }
        list.items[list.count++] = s7_block{area.code, area.code, area.type_info_id, name};
    }
    if (rc != S7_STATUS_OK) {
        list.release();
        return rc;
    }
    *blocks = s7_block_list{list.items, list.count};
    return S7_STATUS_OK;
}

s7_status s7_load_type_info(s7_session* session, uint32_t timeout_ms, s7_type_info_cache* cache) {
    if (session == nullptr || cache == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    if (cache->valid == 1) {
        return S7_STATUS_OK;
    }
    const s7_explore_request request{S7_BROWSE_TYPE_INFO_ROOT, 0, 1, 0, nullptr, nullptr, 0};
    s7_explore_result explored{};
    const s7_status rc = s7_explore(session, &request, kRequestVersion, true, timeout_ms, &explored);
    if (rc == S7_STATUS_ANSWER_TOO_LARGE) {
        // A program too large to describe in one answer: its types come one
        // at a time, as browses need them.
        *cache = s7_type_info_cache{};
        cache->valid = 1;
        cache->in_parts = 1;
        return S7_STATUS_OK;
    }
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    if (explored.return_value != 0) {
        s7_explore_result_free(&explored);
        return S7_STATUS_EXPLORE;
    }
    for (uint32_t i = 0; i < explored.object_count; ++i) {
        const s7_object* parent = explored.objects[i];
        if (s7_object_class(parent) == S7_BROWSE_TYPE_INFO_CLASS) {
            const s7_status filled = s7_type_info_cache_fill(cache, &explored, parent);
            if (filled != S7_STATUS_OK) {
                s7_explore_result_free(&explored);
            }
            return filled;
        }
    }
    s7_explore_result_free(&explored);
    return S7_STATUS_PROTOCOL;
}

s7_status s7_fetch_block_types(s7_session* session, uint32_t timeout_ms, const s7_block* block,
                               s7_type_info_cache* cache) {
    if (session == nullptr || block == nullptr || cache == nullptr || cache->valid != 1) {
        return S7_STATUS_ARGUMENT;
    }
    // Identifier 0 means the controller named no type for the block.
    if (cache->in_parts != 1 || block->type_info_id == 0) {
        return S7_STATUS_OK;
    }
    return TypeFetch{session, timeout_ms, cache}.run(block->type_info_id);
}

s7_status s7_browse_block(const s7_block* block, const s7_type_info_cache* cache, s7_symbol_list* symbols) {
    return s7_browse_block_limited(block, cache, nullptr, symbols);
}

s7_status s7_browse_block_limited(const s7_block* block, const s7_type_info_cache* cache,
                                  const s7_browse_limits* limits, s7_symbol_list* symbols) {
    if (block == nullptr || cache == nullptr || symbols == nullptr || block->name == nullptr || cache->valid != 1) {
        return S7_STATUS_ARGUMENT;
    }
    *symbols = s7_symbol_list{};
    // Identifier 0 means the controller named no type for the block.
    const s7_object* type = block->type_info_id != 0 ? s7_type_info_cache_find(cache, block->type_info_id) : nullptr;
    if (type == nullptr) {
        return S7_STATUS_OK;
    }
    Walk w{cache,
           limits != nullptr ? *limits
                             : s7_browse_limits{S7_BROWSE_MAX_SYMBOLS, S7_BROWSE_MAX_VISITS, S7_BROWSE_MAX_NAME_BYTES},
           block->object_id,
           block->object_id >= S7_BROWSE_DATABLOCK_ID_BASE ? uint32_t{S7_BROWSE_DATABLOCK_ATTRIBUTE}
                                                           : uint32_t{S7_BROWSE_AREA_ATTRIBUTE}};
    w.push(block->name);
    const s7_status rc = walkType(w, type, 0);
    if (rc != S7_STATUS_OK) {
        w.release();
        return rc;
    }
    *symbols = s7_symbol_list{w.count, w.items};
    return S7_STATUS_OK;
}

}  // extern "C"
