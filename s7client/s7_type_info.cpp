#include "s7_type_info.h"

#include "s7_memory.h"

#include <cstddef>
#include <cstring>

namespace {

// Room for the first entries of a list; doubled whenever it fills up. Every
// entry takes at least 16 bytes of input, so the array never outgrows what
// the body holds.
constexpr uint32_t kInitialCapacity = 16;

// The head every entry starts with: two identifiers, data type, flags word
// and one more byte.
constexpr uint32_t kHeadSize = 12;

// Little-endian reads over bytes whose presence the caller has checked.
struct LeReader {
    const uint8_t* p;

    uint16_t u16() {
        const uint16_t v = static_cast<uint16_t>(p[0] | (p[1] << 8));
        p += 2;
        return v;
    }
    uint32_t u32() {
        const uint32_t v = uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
        p += 4;
        return v;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
};

void readDimensions(LeReader& r, s7_type_info_entry& e) {
    for (int32_t& lower : e.dim_lower) {
        lower = r.i32();
    }
    for (uint32_t& count : e.dim_count) {
        count = r.u32();
    }
}

void readStructPart(LeReader& r, s7_type_info_entry& e) {
    e.struct_ref = r.u32();
    for (uint32_t& word : e.struct_words) {
        word = r.u32();
    }
}

// The four values that open every record but those of kinds 1 and 8.
void readCommon(LeReader& r, s7_type_info_entry& e) {
    e.info_a = r.u16();
    e.info_b = r.u16();
    e.info_c = r.u32();
    e.info_d = r.u32();
}

s7_status readEntry(s7_cursor* c, s7_type_info_entry* e) {
    if (s7_remaining(c) < kHeadSize) {
        return S7_STATUS_BOUNDS;
    }
    LeReader r{c->cur};
    s7_type_info_entry head{};
    head.member_id = r.u32();
    head.aux_id = r.u32();
    head.datatype = r.p[0];
    // The flags word is the one big-endian value inside an entry.
    head.kind_flags = static_cast<uint16_t>((r.p[1] << 8) | r.p[2]);
    head.aux_byte = r.p[3];
    s7_cursor rest{c->cur + kHeadSize, c->end};
    const s7_status rc = s7_read_type_info_record(&rest, static_cast<uint16_t>(head.kind_flags >> 12), &head);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    c->cur = rest.cur;
    *e = head;
    return S7_STATUS_OK;
}

}  // namespace

extern "C" {

uint32_t s7_type_info_record_size(uint16_t kind) {
    static const uint32_t kSizes[16] = {104, 4, 12, 20, 68, 32, 48, 96, 4, 12, 20, 68, 32, 48, 96, 40};
    return kind < 16 ? kSizes[kind] : 0;
}

s7_status s7_read_type_info_record(s7_cursor* c, uint16_t kind, s7_type_info_entry* entry) {
    if (c == nullptr || entry == nullptr || kind > 15) {
        return S7_STATUS_ARGUMENT;
    }
    const uint32_t size = s7_type_info_record_size(kind);
    if (s7_remaining(c) < size) {
        return S7_STATUS_BOUNDS;
    }
    s7_type_info_entry e = *entry;
    constexpr size_t kRecordStart = offsetof(s7_type_info_entry, kind);
    std::memset(reinterpret_cast<uint8_t*>(&e) + kRecordStart, 0, sizeof e - kRecordStart);
    e.kind = kind;
    LeReader r{c->cur};
    // Kinds 9-14 are laid out like kinds 2-7.
    const uint16_t layout = kind >= 9 && kind <= 14 ? static_cast<uint16_t>(kind - 7) : kind;
    switch (layout) {
    case 1:
        e.info_d = r.u16();
        e.info_c = r.u16();
        break;
    case 8:
        e.info_c = r.u16();
        e.info_d = r.u16();
        break;
    case 2: readCommon(r, e); break;
    case 3:
        readCommon(r, e);
        e.lower_bound = r.i32();
        e.element_count = r.u32();
        e.is_array = 1;
        break;
    case 4:
        readCommon(r, e);
        e.lower_bound = r.i32();
        e.element_count = r.u32();
        readDimensions(r, e);
        e.is_multi_array = 1;
        break;
    case 5:
        readCommon(r, e);
        readStructPart(r, e);
        e.is_struct = 1;
        break;
    case 15:
        readCommon(r, e);
        readStructPart(r, e);
        e.aux2 = r.u32();
        e.aux3 = r.u32();
        e.is_struct = 1;
        break;
    case 6:
        readCommon(r, e);
        e.lower_bound = r.i32();
        e.element_count = r.u32();
        e.aux1 = r.u32();
        e.aux0 = r.u32();
        readStructPart(r, e);
        e.is_struct = 1;
        e.is_array = 1;
        break;
    case 7:
        readCommon(r, e);
        e.lower_bound = r.i32();
        e.element_count = r.u32();
        readDimensions(r, e);
        e.aux1 = r.u32();
        e.aux0 = r.u32();
        readStructPart(r, e);
        e.is_struct = 1;
        e.is_multi_array = 1;
        break;
    default:  // 0
        readCommon(r, e);
        readStructPart(r, e);
        e.aux2 = r.u32();
        e.aux3 = r.u32();
        e.element_count = r.u32();
        e.aux4 = r.u32();
        e.aux5 = r.u32();
        e.aux6 = r.u32();
        readDimensions(r, e);
        e.is_struct = 1;
        e.is_multi_array = 1;
        break;
    }
    c->cur += size;
    *entry = e;
    return S7_STATUS_OK;
}

s7_status s7_read_type_info_list(s7_cursor* c, s7_type_info_list* list) {
    if (c == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_budget budget = s7_budget_for(s7_remaining(c));
    return s7_read_type_info_list_within(c, &budget, list);
}

s7_status s7_read_type_info_list_within(s7_cursor* c, s7_budget* budget, s7_type_info_list* list) {
    if (c == nullptr || list == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    *list = s7_type_info_list{};
    s7_type_info_entry* items = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
    s7_status rc = S7_STATUS_OK;

    // The first block's length counts the four bytes after it as well as its
    // entries; later blocks count only their entries. Both are measured from
    // just after the length field.
    uint16_t length = 0;
    const uint8_t* blockStart = nullptr;
    if (s7_read_u16(c, &length) == S7_STATUS_OK) {
        blockStart = c->cur;
        rc = s7_skip(c, 4) == S7_STATUS_OK ? S7_STATUS_OK : S7_STATUS_BOUNDS;
    } else {
        rc = S7_STATUS_BOUNDS;
    }
    while (rc == S7_STATUS_OK && length != 0) {
        // An entry is read whole even when it runs past its block's end; the
        // next length follows wherever it ended.
        while (rc == S7_STATUS_OK && c->cur - blockStart < length) {
            rc = s7_grow_list(&items, count, &capacity, kInitialCapacity, budget);
            if (rc != S7_STATUS_OK) {
                break;
            }
            rc = readEntry(c, &items[count]);
            if (rc == S7_STATUS_OK) {
                ++count;
            }
        }
        if (rc == S7_STATUS_OK) {
            rc = s7_read_u16(c, &length) == S7_STATUS_OK ? S7_STATUS_OK : S7_STATUS_BOUNDS;
            blockStart = c->cur;
        }
    }

    if (rc != S7_STATUS_OK) {
        s7_free(items);
        return rc;
    }
    // A browse reads one list per data block and structure, many of them
    // short: none keeps the room of its first 16 entries.
    s7_trim_list(&items, count, &capacity, budget);
    list->count = count;
    list->items = items;
    return S7_STATUS_OK;
}

void s7_type_info_list_free(s7_type_info_list* list) {
    if (list == nullptr) {
        return;
    }
    s7_free(list->items);
    *list = s7_type_info_list{};
}

}  // extern "C"
