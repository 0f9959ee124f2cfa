// The whole browse against a controller that answers from the input: the
// listing (explore of the data blocks, reads of their type references),
// the type-info explore into the cache - in one answer, or in parts, the
// types each block reaches explored one at a time - and the walk of every
// listed block into symbols. Besides surviving, the walk must stay within
// its bounds: what it hands out within the symbol and name caps, and what
// it allocates on the way within what its visit cap allows. Run it with a
// low -timeout and -rss_limit_mb (scripts/fuzz does): a type graph that
// makes the walk slow or greedy is a finding too.
//
// Input: the first byte's low seven bits are the controller's read-item
// limit (0 counts as 1); its top bit makes the session keep at most
// kPartLimit bytes of an answer, so that longer type descriptions are
// explored in parts, a type per request. Then one answer per request, in
// the order the browse sends them, each a u16 big-endian length and the
// response body after its 9-byte header (which the controller here writes
// with the request's function code and sequence number, as a controller
// does). A request past the last answer finds the connection closed.
#include "s7_browse.h"
#include "s7_exchange.h"
#include "s7_memory.h"
#include "s7_object.h"
#include "s7_protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Bounds small enough that a browse at its caps takes milliseconds; the
// public ones are the same rules at a larger scale.
constexpr s7_browse_limits kLimits{2048, 8192, 128 * 1024};

// All a walk may allocate is what it hands out: the names, within their
// cap, and per symbol its path (at most three entries for each of
// S7_BROWSE_MAX_DEPTH levels) and its share of the list, which doubles as
// it grows. Members and elements that yield nothing cost no memory at all,
// however many there are and however long the names above them.
constexpr uint64_t kBytesPerSymbol = 3 * S7_BROWSE_MAX_DEPTH * sizeof(uint32_t) + 4 * sizeof(s7_symbol);

// The longest answer kept when the input asks for types in parts.
constexpr uint32_t kPartLimit = 512;

// Every byte the library asks for, counted.
uint64_t allocated = 0;

void* countedAlloc(void*, size_t size) {
    allocated += size;
    return std::malloc(size == 0 ? 1 : size);
}
void* countedRealloc(void*, void* block, size_t size) {
    allocated += size;
    return std::realloc(block, size == 0 ? 1 : size);
}
void countedFree(void*, void* block) { std::free(block); }
const s7_alloc_hooks kHooks{countedAlloc, countedRealloc, countedFree, nullptr};

// The controller's side of the session: answers each request message with
// the next answer of the input, framed as controllers frame them.
struct ScriptedController {
    const uint8_t* next;
    const uint8_t* end;
    std::vector<uint8_t> pending;  // of the current answer, not yet read
    size_t at = 0;
    uint16_t function = 0;
    uint16_t sequence = 0;
    bool inMessage = false;

    static s7_status write(void* context, const uint8_t* data, uint32_t len, uint32_t) {
        auto* self = static_cast<ScriptedController*>(context);
        if (len < S7_FRAME_HEAD_SIZE) {
            std::abort();  // the exchange writes whole frames
        }
        const uint32_t frameData = (uint32_t{data[2]} << 8) | data[3];
        if (!self->inMessage) {
            // The request header: marker, 2 bytes, function, 2 bytes, sequence.
            self->function = static_cast<uint16_t>((data[7] << 8) | data[8]);
            self->sequence = static_cast<uint16_t>((data[11] << 8) | data[12]);
            self->inMessage = true;
        }
        if (len == S7_FRAME_HEAD_SIZE + frameData + S7_FRAME_TRAILER_SIZE) {
            self->inMessage = false;
            self->answer(data[1]);
        }
        return S7_STATUS_OK;
    }

    static s7_status read(void* context, uint8_t* buffer, uint32_t capacity, int32_t* count, uint32_t) {
        auto* self = static_cast<ScriptedController*>(context);
        *count = 0;
        const size_t n = std::min<size_t>(capacity, self->pending.size() - self->at);
        if (n == 0) {
            return S7_STATUS_NOT_CONNECTED;
        }
        std::memcpy(buffer, self->pending.data() + self->at, n);
        self->at += n;
        *count = static_cast<int32_t>(n);
        return S7_STATUS_OK;
    }

    void answer(uint8_t version) {
        pending.clear();
        at = 0;
        if (end - next < 2) {
            return;  // no answer left: the connection is closed
        }
        size_t length = (size_t{next[0]} << 8) | next[1];
        next += 2;
        length = std::min<size_t>(length, static_cast<size_t>(end - next));
        std::vector<uint8_t> message = {S7_MARKER_RESPONSE,
                                        0x00,
                                        0x00,
                                        static_cast<uint8_t>(function >> 8),
                                        static_cast<uint8_t>(function),
                                        0x00,
                                        0x00,
                                        static_cast<uint8_t>(sequence >> 8),
                                        static_cast<uint8_t>(sequence)};
        message.insert(message.end(), next, next + length);
        next += length;
        for (size_t pos = 0; pos < message.size(); pos += S7_FRAME_MAX_RECEIVE_DATA) {
            const size_t n = std::min<size_t>(S7_FRAME_MAX_RECEIVE_DATA, message.size() - pos);
            const uint8_t head[4] = {S7_FRAME_START, version, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
            pending.insert(pending.end(), head, head + 4);
            pending.insert(pending.end(), message.begin() + static_cast<std::ptrdiff_t>(pos),
                           message.begin() + static_cast<std::ptrdiff_t>(pos + n));
        }
        const uint8_t trailer[4] = {S7_FRAME_START, version, 0x00, 0x00};
        pending.insert(pending.end(), trailer, trailer + 4);
    }
};

void browse(const s7_block& block, const s7_type_info_cache& cache) {
    s7_symbol_list symbols{};
    allocated = 0;
    const s7_status rc = s7_browse_block_limited(&block, &cache, &kLimits, &symbols);
    if (allocated > kLimits.max_name_bytes + uint64_t{kLimits.max_symbols} * kBytesPerSymbol) {
        std::fprintf(stderr, "fuzz_browse: the walk of %s allocated %llu bytes\n", block.name,
                     static_cast<unsigned long long>(allocated));
        std::abort();  // the walk did work its caps do not account for
    }
    if (rc != S7_STATUS_OK) {
        if (symbols.count != 0 || symbols.items != nullptr) {
            std::abort();
        }
        return;
    }
    if (symbols.count > kLimits.max_symbols) {
        std::abort();
    }
    const size_t prefix = std::strlen(block.name);
    uint64_t nameBytes = 0;
    for (uint32_t i = 0; i < symbols.count; ++i) {
        const s7_symbol& s = symbols.items[i];
        nameBytes += std::strlen(s.name) + 1;
        if (std::strncmp(s.name, block.name, prefix) != 0 || s.address.object_id != block.object_id ||
            s.address.path_count == 0) {
            std::abort();
        }
    }
    if (nameBytes > kLimits.max_name_bytes) {
        std::abort();
    }
    s7_symbol_list_free(&symbols);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool hooked = (s7_set_alloc_hooks(&kHooks), true);
    (void)hooked;
    if (size == 0) {
        return 0;
    }
    const uint32_t maxReadItems = (data[0] & 0x7F) == 0 ? 1 : data[0] & 0x7Fu;
    const bool inParts = (data[0] & 0x80) != 0;
    ScriptedController controller{data + 1, data + size, {}};
    const s7_link link{ScriptedController::write, ScriptedController::read, &controller, nullptr};
    s7_session* session = s7_session_new_over(&link);
    if (session == nullptr) {
        std::abort();
    }
    if (inParts) {
        session->response_limit = kPartLimit;
    }
    s7_block_list blocks{};
    const s7_status listed = s7_list_datablocks(session, maxReadItems, 1000, &blocks);
    if (listed == S7_STATUS_OK) {
        // The data blocks in the controller's order, then the five areas.
        if (blocks.count < S7_AREA_COUNT) {
            std::abort();
        }
        for (uint32_t i = 0; i < blocks.count; ++i) {
            const bool area = i >= blocks.count - S7_AREA_COUNT;
            const s7_block& b = blocks.items[i];
            if (b.name == nullptr ||
                (area ? std::strcmp(b.name, s7_memory_areas[i - (blocks.count - S7_AREA_COUNT)].name) != 0
                      : b.number != (b.object_id & 0xFFFF) || b.object_id < S7_BROWSE_DATABLOCK_ID_BASE)) {
                std::abort();
            }
        }
    } else if (blocks.items != nullptr || blocks.count != 0) {
        std::abort();
    }
    s7_type_info_cache cache{};
    if (listed == S7_STATUS_OK && s7_load_type_info(session, 1000, &cache) == S7_STATUS_OK) {
        for (uint32_t i = 0; i < blocks.count; ++i) {
            // In parts the types of the block come first; a part that fails
            // leaves the others to browse.
            if (s7_fetch_block_types(session, 1000, &blocks.items[i], &cache) == S7_STATUS_OK) {
                browse(blocks.items[i], cache);
            }
            if (cache.part_bytes > S7_BROWSE_MAX_TYPE_BYTES || (cache.in_parts == 0 && cache.part_count != 0)) {
                std::abort();
            }
        }
    }
    s7_type_info_cache_free(&cache);
    s7_block_list_free(&blocks);
    s7_session_free(session);
    return 0;
}
