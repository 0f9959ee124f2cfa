// Reads the input as a type-info list (the bytes after an 0xAB tag). A
// failed read leaves the list empty; a successful one holds entries whose
// kind is the top of their flags word and whose flags fit their kind.
#include "s7_type_info.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> in(data, data + size);
    s7_cursor c{in.data(), in.data() + in.size()};
    s7_type_info_list list{};
    if (s7_read_type_info_list(&c, &list) != S7_STATUS_OK) {
        if (list.count != 0 || list.items != nullptr) {
            std::abort();
        }
        return 0;
    }
    // Every entry took its 12-byte head and at least 4 record bytes.
    if (uint64_t{list.count} * 16 > in.size()) {
        std::abort();
    }
    for (uint32_t i = 0; i < list.count; ++i) {
        const s7_type_info_entry& e = list.items[i];
        if (e.kind != (e.kind_flags >> 12) || e.is_array + e.is_multi_array > 1) {
            std::abort();
        }
    }
    s7_type_info_list_free(&list);
    return 0;
}
