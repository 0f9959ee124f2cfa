#include "s7_session_setup.h"

#include "s7_memory.h"
#include "s7_object.h"
#include "s7_value_codec.h"

#include <cstring>

namespace {

// Create object goes out with version byte 1, everything after it with 2.
constexpr uint8_t kCreateVersion = S7_FRAME_VERSION_1;
constexpr uint8_t kRequestVersion = S7_FRAME_VERSION_2;

// The object that create object asks the controller to make.
s7_object* buildSessionObject() {
    s7_object* object = s7_object_new(S7_SESSION_OBJECT_ID, S7_SESSION_CLASS, 0);
    s7_value* type = s7_value_new_id32(S7_SESSION_TYPE_VALUE);
    s7_object* child = s7_object_new(S7_SESSION_OBJECT_ID, S7_SESSION_CHILD_CLASS, 0);
    bool ok = object != nullptr && type != nullptr && child != nullptr;
    if (ok) {
        ok = s7_object_set_attribute(object, S7_SESSION_TYPE_ATTRIBUTE, type) == S7_STATUS_OK;
        if (ok) {
            type = nullptr;
            ok = s7_object_add_child(object, child) == S7_STATUS_OK;
            if (ok) {
                child = nullptr;
            }
        }
    }
    s7_value_free(type);
    s7_object_free(child);
    if (!ok) {
        s7_object_free(object);
        return nullptr;
    }
    return object;
}

// Copies the controller type text out of attribute 306's member 319. The
// buffer is cleared first, so it is empty when the member is no string.
void copyPlcType(const s7_value* member, char* out, size_t capacity) {
    if (out == nullptr || capacity == 0) {
        return;
    }
    std::memset(out, 0, capacity);
    const char* text = nullptr;
    uint32_t length = 0;
    if (s7_value_type(member) != S7_TYPE_STRING || s7_value_get_string(member, &text, &length) != S7_OK ||
        text == nullptr) {
        return;
    }
    const size_t n = length < capacity - 1 ? length : capacity - 1;
    std::memcpy(out, text, n);
}

}  // namespace

extern "C" {

s7_status s7_session_setup(s7_session* session, uint32_t timeout_ms, char* plc_type, size_t capacity) {
    if (session == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_status rc = S7_STATUS_OK;
    s7_create_result created{};
    s7_set_result set{};
    s7_attribute_result level{};
    const s7_value* serverSession = nullptr;
    const s7_value* plcTypeMember = nullptr;
    uint32_t levelValue = 0;

    {
        s7_object* object = buildSessionObject();
        s7_value* target = s7_value_new_u32(0);
        if (object == nullptr || target == nullptr) {
            rc = S7_STATUS_NO_MEMORY;
        } else {
            const s7_create_request request{S7_SESSION_CREATE_TARGET, target, object};
            rc = s7_create_object(session, &request, kCreateVersion, false, timeout_ms, &created);
        }
        s7_value_free(target);
        s7_object_free(object);
    }
    if (rc != S7_STATUS_OK) {
        goto out;
    }
    // The controller's return value is not judged here: a reply that names
    // the new session and carries its object is what counts.
    if (created.object_id_count == 0 || created.object == nullptr ||
        s7_object_find_attribute(created.object, S7_SESSION_SERVER_ATTRIBUTE, &serverSession) != S7_STATUS_OK ||
        s7_struct_find(serverSession, S7_SESSION_PLC_TYPE_MEMBER, &plcTypeMember) != S7_OK) {
        rc = S7_STATUS_SESSION;
        goto out;
    }
    copyPlcType(plcTypeMember, plc_type, capacity);
    session->session_id = created.object_ids[0];

    {
        // Attribute 306 goes back to the controller exactly as it came.
        const uint32_t attribute = S7_SESSION_SERVER_ATTRIBUTE;
        const s7_set_request request{session->session_id, nullptr, &attribute, &serverSession, 1};
        rc = s7_set_values(session, &request, kRequestVersion, false, timeout_ms, &set);
    }
    s7_create_result_free(&created);  // attribute 306 belonged to it
    if (rc != S7_STATUS_OK) {
        goto out;
    }
    if (set.return_value != 0 || set.error_count != 0) {
        rc = S7_STATUS_SESSION;
        goto out;
    }

    rc = s7_get_attribute(session, session->session_id, S7_SESSION_LEVEL_ATTRIBUTE, kRequestVersion, true, timeout_ms,
                          &level);
    if (rc != S7_STATUS_OK) {
        goto out;
    }
    if (level.return_value != 0 || s7_value_get_u32(level.value, &levelValue) != S7_OK) {
        rc = S7_STATUS_SESSION;
        goto out;
    }
    if (levelValue >= S7_SESSION_LEVEL_LIMIT) {
        rc = S7_STATUS_SESSION_LEVEL;
    }

out:
    s7_create_result_free(&created);
    s7_set_result_free(&set);
    s7_attribute_result_free(&level);
    return rc;
}

s7_status s7_read_limits(s7_session* session, uint32_t timeout_ms, uint32_t* max_read_items, uint32_t* aux_item_limit) {
    if (session == nullptr || max_read_items == nullptr || aux_item_limit == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_item_address addresses[2] = {{S7_LIMITS_OBJECT, S7_LIMITS_ATTRIBUTE, nullptr, 0},
                                    {S7_LIMITS_OBJECT, S7_LIMITS_ATTRIBUTE, nullptr, 0}};
    const s7_item_address* items[2] = {&addresses[0], &addresses[1]};
    s7_read_result result{};
    int32_t limits[2] = {0, 0};
    // Pushing onto an empty path can only fail for want of memory.
    s7_status rc = s7_item_address_push(&addresses[0], S7_LIMIT_READ_ITEMS) == S7_OK &&
                           s7_item_address_push(&addresses[1], S7_LIMIT_AUX_ITEMS) == S7_OK
                       ? S7_STATUS_OK
                       : S7_STATUS_NO_MEMORY;
    if (rc == S7_STATUS_OK) {
        rc = s7_read_variables(session, items, 2, kRequestVersion, true, timeout_ms, &result);
    }
    if (rc == S7_STATUS_OK && (result.return_value != 0 || result.error_count != 0)) {
        rc = S7_STATUS_SESSION;
    }
    if (rc == S7_STATUS_OK) {
        // Values are matched by item number, not by position; anything but
        // a scalar signed 32-bit value counts as missing.
        for (uint32_t i = 0; i < result.value_count; ++i) {
            const uint32_t item = result.value_items[i];
            int32_t v = 0;
            if ((item == 1 || item == 2) && s7_value_get_i32(result.values[i], &v) == S7_OK) {
                limits[item - 1] = v;
            }
        }
        *max_read_items = limits[0] >= 1 ? static_cast<uint32_t>(limits[0]) : uint32_t{S7_DEFAULT_ITEM_LIMIT};
        *aux_item_limit = limits[1] >= 1 ? static_cast<uint32_t>(limits[1]) : uint32_t{S7_DEFAULT_ITEM_LIMIT};
    }
    s7_read_result_free(&result);
    s7_item_address_release(&addresses[0]);
    s7_item_address_release(&addresses[1]);
    return rc;
}

}  // extern "C"
