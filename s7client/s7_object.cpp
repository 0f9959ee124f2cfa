#include "s7_object.h"

#include "s7_memory.h"
#include "s7_value_codec.h"

#include <cstring>

namespace {

constexpr uint32_t kU32Max = 0xFFFFFFFFu;

// Room for the first texts of a name list; doubled whenever it fills up.
constexpr uint32_t kNameListInitialCapacity = 16;

// Room for the first attributes, children and relations of an object read.
constexpr uint32_t kElementsInitialCapacity = 4;

// Every reader takes what it allocates from the budget of the decode (null:
// no limit) before it allocates it.
s7_status readObjectAt(s7_cursor* c, uint32_t depth, s7_budget* b, s7_object** out);

// The tagged elements after an object's head, up to and including 0xA2.
s7_status readElements(s7_cursor* c, uint32_t depth, s7_budget* b, s7_object* o) {
    uint32_t attributeRoom = 0;
    uint32_t childRoom = 0;
    uint32_t relationRoom = 0;
    for (;;) {
        if (s7_remaining(c) == 0) {
            return S7_STATUS_BOUNDS;
        }
        const uint8_t tag = *c->cur;
        if (tag == S7_TAG_OBJECT_START) {
            // A child is the whole object form, its own 0xA1 included.
            s7_object* child = nullptr;
            s7_status rc = readObjectAt(c, depth + 1, b, &child);
            if (rc != S7_STATUS_OK) {
                return rc;
            }
            rc = s7_grow_list(&o->children, o->child_count, &childRoom, kElementsInitialCapacity, b);
            if (rc != S7_STATUS_OK) {
                s7_object_free(child);
                return rc;
            }
            o->children[o->child_count++] = child;
            continue;
        }
        ++c->cur;
        switch (tag) {
        case S7_TAG_OBJECT_END: {
            // Attributes were collected in wire order; a repeated identifier
            // keeps its first place and its last value.
            const s7_status rc = s7_entries_keep_last(o->attributes, &o->attribute_count, b);
            // Lists built element by element hold exactly their elements
            // (s7_object_set_attribute and s7_object_add_child grow them by
            // one), and an answer of many small objects keeps no spare room.
            s7_trim_list(&o->attributes, o->attribute_count, &attributeRoom, b);
            s7_trim_list(&o->children, o->child_count, &childRoom, b);
            s7_trim_list(&o->relations, o->relation_count, &relationRoom, b);
            return rc;
        }
        case S7_TAG_ATTRIBUTE: {
            uint32_t id = 0;
            s7_status rc = s7_read_vlq32(c, &id);
            s7_value* value = nullptr;
            if (rc == S7_STATUS_OK) {
                rc = s7_decode_value_within(c, b, &value);
            }
            if (rc != S7_STATUS_OK) {
                return rc;
            }
            rc = s7_grow_list(&o->attributes, o->attribute_count, &attributeRoom, kElementsInitialCapacity, b);
            if (rc != S7_STATUS_OK) {
                s7_value_free(value);
                return rc;
            }
            o->attributes[o->attribute_count++] = s7_entry{id, value};
            break;
        }
        case S7_TAG_RELATION: {
            s7_relation r{};
            s7_status rc = s7_read_vlq32(c, &r.relation_id);
            if (rc == S7_STATUS_OK) {
                rc = s7_read_u32(c, &r.target_id);
            }
            if (rc != S7_STATUS_OK) {
                return rc;
            }
            rc = s7_grow_list(&o->relations, o->relation_count, &relationRoom, kElementsInitialCapacity, b);
            if (rc != S7_STATUS_OK) {
                return rc;
            }
            o->relations[o->relation_count++] = r;
            break;
        }
        case S7_TAG_EMPTY: break;
        case S7_TAG_TYPE_INFO: {
            s7_type_info_list list{};
            const s7_status rc = s7_read_type_info_list_within(c, b, &list);
            if (rc != S7_STATUS_OK) {
                return rc;
            }
            s7_type_info_list_free(&o->type_info);
            o->type_info = list;
            break;
        }
        case S7_TAG_NAME_LIST: {
            s7_name_list names{};
            const s7_status rc = s7_read_name_list_within(c, b, &names);
            if (rc != S7_STATUS_OK) {
                return rc;
            }
            s7_name_list_free(&o->names);
            o->names = names;
            break;
        }
        default: return S7_STATUS_RANGE;
        }
    }
}

s7_status readObjectAt(s7_cursor* c, uint32_t depth, s7_budget* b, s7_object** out) {
    if (depth >= S7_OBJECT_MAX_DEPTH) {
        return S7_STATUS_RANGE;
    }
    uint8_t tag = 0;
    uint32_t objectId = 0;
    uint32_t classId = 0;
    uint32_t classFlags = 0;
    uint32_t attributeId = 0;
    s7_status rc = s7_read_u8(c, &tag);
    if (rc == S7_STATUS_OK && tag != S7_TAG_OBJECT_START) {
        rc = S7_STATUS_RANGE;
    }
    if (rc == S7_STATUS_OK) rc = s7_read_u32(c, &objectId);
    if (rc == S7_STATUS_OK) rc = s7_read_vlq32(c, &classId);
    if (rc == S7_STATUS_OK) rc = s7_read_vlq32(c, &classFlags);
    if (rc == S7_STATUS_OK) rc = s7_read_vlq32(c, &attributeId);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    s7_object* o =
        s7_budget_take(b, sizeof(s7_object)) == S7_STATUS_OK ? s7_object_new(objectId, classId, attributeId) : nullptr;
    if (o == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    o->class_flags = classFlags;
    rc = readElements(c, depth, b, o);
    if (rc != S7_STATUS_OK) {
        s7_object_free(o);
        return rc;
    }
    *out = o;
    return S7_STATUS_OK;
}

uint64_t objectSizeAt(const s7_object* o, uint32_t depth, bool* ok) {
    if (o == nullptr || depth >= S7_OBJECT_MAX_DEPTH) {
        *ok = false;
        return 0;
    }
    uint64_t size = 5 + uint64_t{s7_vlq_size(o->class_id)} + s7_vlq_size(o->class_flags) + s7_vlq_size(o->attribute_id);
    for (uint32_t i = 0; i < o->attribute_count; ++i) {
        const uint32_t valueSize = s7_value_size(o->attributes[i].value);
        if (valueSize == 0) {
            *ok = false;
            return 0;
        }
        size += 1 + uint64_t{s7_vlq_size(o->attributes[i].key)} + valueSize;
    }
    for (uint32_t i = 0; i < o->child_count; ++i) {
        size += objectSizeAt(o->children[i], depth + 1, ok);
    }
    for (uint32_t i = 0; i < o->relation_count; ++i) {
        size += 5 + uint64_t{s7_vlq_size(o->relations[i].relation_id)};
    }
    return size + 1;
}

s7_status writeObjectAt(s7_cursor* c, const s7_object* o, uint32_t depth) {
    if (o == nullptr || depth >= S7_OBJECT_MAX_DEPTH) {
        return S7_STATUS_ARGUMENT;
    }
    s7_status rc = s7_write_u8(c, S7_TAG_OBJECT_START);
    if (rc == S7_STATUS_OK) rc = s7_write_u32(c, o->object_id);
    if (rc == S7_STATUS_OK) rc = s7_write_vlq64(c, o->class_id);
    if (rc == S7_STATUS_OK) rc = s7_write_vlq64(c, o->class_flags);
    if (rc == S7_STATUS_OK) rc = s7_write_vlq64(c, o->attribute_id);
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < o->attribute_count; ++i) {
        rc = s7_write_u8(c, S7_TAG_ATTRIBUTE);
        if (rc == S7_STATUS_OK) rc = s7_write_vlq64(c, o->attributes[i].key);
        if (rc == S7_STATUS_OK) rc = s7_encode_value(c, o->attributes[i].value);
    }
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < o->child_count; ++i) {
        rc = writeObjectAt(c, o->children[i], depth + 1);
    }
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < o->relation_count; ++i) {
        rc = s7_write_u8(c, S7_TAG_RELATION);
        if (rc == S7_STATUS_OK) rc = s7_write_vlq64(c, o->relations[i].relation_id);
        if (rc == S7_STATUS_OK) rc = s7_write_u32(c, o->relations[i].target_id);
    }
    if (rc == S7_STATUS_OK) rc = s7_write_u8(c, S7_TAG_OBJECT_END);
    return rc;
}

}  // namespace

extern "C" {

s7_object* s7_object_new(uint32_t object_id, uint32_t class_id, uint32_t attribute_id) {
    auto* o = static_cast<s7_object*>(s7_calloc(sizeof(s7_object)));
    if (o != nullptr) {
        o->object_id = object_id;
        o->class_id = class_id;
        o->attribute_id = attribute_id;
    }
    return o;
}

void s7_object_free(s7_object* object) {
    if (object == nullptr) {
        return;
    }
    s7_entries_free(object->attributes, object->attribute_count);
    for (uint32_t i = 0; i < object->child_count; ++i) {
        s7_object_free(object->children[i]);
    }
    s7_free(object->children);
    s7_free(object->relations);
    s7_type_info_list_free(&object->type_info);
    s7_name_list_free(&object->names);
    std::memset(object, 0, sizeof *object);
    s7_free(object);
}

s7_status s7_object_set_attribute(s7_object* object, uint32_t id, s7_value* value) {
    if (object == nullptr || value == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    for (uint32_t i = 0; i < object->attribute_count; ++i) {
        s7_entry& e = object->attributes[i];
        if (e.key == id) {
            if (e.value != value) {
                s7_value_free(e.value);
                e.value = value;
            }
            return S7_STATUS_OK;
        }
    }
    const s7_status rc = s7_grow_list_one(&object->attributes, object->attribute_count);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    object->attributes[object->attribute_count++] = s7_entry{id, value};
    return S7_STATUS_OK;
}

s7_status s7_object_add_child(s7_object* object, s7_object* child) {
    if (object == nullptr || child == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    const s7_status rc = s7_grow_list_one(&object->children, object->child_count);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    object->children[object->child_count++] = child;
    return S7_STATUS_OK;
}

s7_status s7_object_find_attribute(const s7_object* object, uint32_t id, const s7_value** value) {
    if (object == nullptr || value == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    for (uint32_t i = 0; i < object->attribute_count; ++i) {
        if (object->attributes[i].key == id) {
            *value = object->attributes[i].value;
            return S7_STATUS_OK;
        }
    }
    return S7_STATUS_ARGUMENT;
}

uint32_t s7_object_id(const s7_object* object) { return object != nullptr ? object->object_id : 0; }
uint32_t s7_object_class(const s7_object* object) { return object != nullptr ? object->class_id : 0; }
uint32_t s7_object_child_count(const s7_object* object) { return object != nullptr ? object->child_count : 0; }
s7_object* const* s7_object_children(const s7_object* object) { return object != nullptr ? object->children : nullptr; }
const s7_type_info_list* s7_object_type_info(const s7_object* object) {
    return object != nullptr ? &object->type_info : nullptr;
}
const s7_name_list* s7_object_names(const s7_object* object) { return object != nullptr ? &object->names : nullptr; }

uint32_t s7_object_size(const s7_object* object) {
    bool ok = true;
    const uint64_t size = objectSizeAt(object, 0, &ok);
    return ok && size <= kU32Max ? static_cast<uint32_t>(size) : 0;
}

s7_status s7_write_object(s7_cursor* c, const s7_object* object) { return writeObjectAt(c, object, 0); }

s7_status s7_read_object(s7_cursor* c, s7_object** object) {
    if (c == nullptr || object == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_budget budget = s7_budget_for(s7_remaining(c));
    return readObjectAt(c, 0, &budget, object);
}

s7_status s7_read_object_within(s7_cursor* c, s7_budget* budget, s7_object** object) {
    if (c == nullptr || object == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    return readObjectAt(c, 0, budget, object);
}

s7_status s7_read_name_list(s7_cursor* c, s7_name_list* names) {
    if (c == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_budget budget = s7_budget_for(s7_remaining(c));
    return s7_read_name_list_within(c, &budget, names);
}

s7_status s7_read_name_list_within(s7_cursor* c, s7_budget* budget, s7_name_list* names) {
    if (c == nullptr || names == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_name_list list{};
    uint32_t room = 0;
    s7_status rc = S7_STATUS_OK;
    for (;;) {
        uint16_t length = 0;
        rc = s7_read_u16(c, &length);
        if (rc != S7_STATUS_OK || length == 0) {
            break;
        }
        // Each entry is a length byte, the text and one byte that is not
        // used; a block's entries are read until they cover its length.
        const uint8_t* blockStart = c->cur;
        while (rc == S7_STATUS_OK && c->cur - blockStart < length) {
            uint8_t n = 0;
            rc = s7_read_u8(c, &n);
            if (rc != S7_STATUS_OK) {
                break;
            }
            if (s7_remaining(c) < uint32_t{n} + 1) {
                rc = S7_STATUS_BOUNDS;
                break;
            }
            rc = s7_grow_list(&list.items, list.count, &room, kNameListInitialCapacity, budget);
            if (rc != S7_STATUS_OK) {
                break;
            }
            auto* text = static_cast<char*>(s7_budget_malloc(budget, size_t{n} + 1));
            if (text == nullptr) {
                rc = S7_STATUS_NO_MEMORY;
                break;
            }
            std::memcpy(text, c->cur, n);
            text[n] = '\0';
            list.items[list.count++] = text;
            c->cur += n + 1;
        }
        if (rc != S7_STATUS_OK) {
            break;
        }
    }
    if (rc != S7_STATUS_OK) {
        s7_name_list_free(&list);
        return rc;
    }
    s7_trim_list(&list.items, list.count, &room, budget);
    *names = list;
    return S7_STATUS_OK;
}

void s7_name_list_free(s7_name_list* names) {
    if (names == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < names->count; ++i) {
        s7_free(names->items[i]);
    }
    s7_free(names->items);
    *names = s7_name_list{};
}

// ---------------------------------------------------------------- item addresses

uint8_t s7_item_address_push(s7_item_address* address, uint32_t id) {
    if (address == nullptr) {
        return S7_ERR_ARGUMENT;
    }
    const s7_status rc = s7_grow_list_one(&address->path, address->path_count);
    if (rc != S7_STATUS_OK) {
        return s7_result(rc);
    }
    address->path[address->path_count++] = id;
    return S7_OK;
}

uint8_t s7_item_address_copy(const s7_item_address* address, s7_item_address* copy) {
    if (address == nullptr || copy == nullptr) {
        return S7_ERR_ARGUMENT;
    }
    s7_item_address made{address->object_id, address->attribute_id, nullptr, 0};
    for (uint32_t i = 0; i < address->path_count; ++i) {
        const uint8_t rc = s7_item_address_push(&made, address->path[i]);
        if (rc != S7_OK) {
            s7_item_address_release(&made);
            return rc;
        }
    }
    *copy = made;
    return S7_OK;
}

void s7_item_address_release(s7_item_address* address) {
    if (address == nullptr) {
        return;
    }
    s7_free(address->path);
    *address = s7_item_address{};
}

uint32_t s7_item_address_size(const s7_item_address* address) {
    if (address == nullptr) {
        return 0;
    }
    uint64_t size = 1 + uint64_t{s7_vlq_size(address->object_id)} + s7_vlq_size(uint64_t{address->path_count} + 1) +
                    s7_vlq_size(address->attribute_id);
    for (uint32_t i = 0; i < address->path_count; ++i) {
        size += s7_vlq_size(address->path[i]);
    }
    return size <= kU32Max ? static_cast<uint32_t>(size) : 0;
}

s7_status s7_write_item_address(s7_cursor* c, const s7_item_address* address) {
    if (address == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_status rc = s7_write_vlq64(c, 0);
    if (rc == S7_STATUS_OK) rc = s7_write_vlq64(c, address->object_id);
    if (rc == S7_STATUS_OK) rc = s7_write_vlq64(c, uint64_t{address->path_count} + 1);
    if (rc == S7_STATUS_OK) rc = s7_write_vlq64(c, address->attribute_id);
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < address->path_count; ++i) {
        rc = s7_write_vlq64(c, address->path[i]);
    }
    return rc;
}

}  // extern "C"
