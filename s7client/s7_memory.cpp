#include "s7_memory.h"

#include <cstdlib>
#include <cstring>

namespace {

void* defaultAlloc(void*, size_t size) { return std::malloc(size); }
void* defaultRealloc(void*, void* block, size_t size) { return std::realloc(block, size); }
void defaultFree(void*, void* block) { std::free(block); }

const s7_alloc_hooks kDefaultHooks = {defaultAlloc, defaultRealloc, defaultFree, nullptr};

const s7_alloc_hooks* g_hooks = &kDefaultHooks;

}  // namespace

extern "C" {

void s7_set_alloc_hooks(const s7_alloc_hooks* hooks) { g_hooks = hooks != nullptr ? hooks : &kDefaultHooks; }

void* s7_malloc(size_t size) { return g_hooks->alloc(g_hooks->context, size); }

void* s7_realloc(void* block, size_t size) { return g_hooks->realloc(g_hooks->context, block, size); }

void s7_free(void* block) { g_hooks->free(g_hooks->context, block); }

void* s7_calloc(size_t size) {
    void* block = s7_malloc(size);
    if (block != nullptr) {
        std::memset(block, 0, size);
    }
    return block;
}

s7_budget s7_budget_for(uint64_t input_bytes) {
    constexpr uint64_t kMost = (UINT64_MAX - S7_BUDGET_BASE) / S7_BUDGET_PER_BYTE;
    return s7_budget{input_bytes > kMost ? UINT64_MAX : input_bytes * S7_BUDGET_PER_BYTE + S7_BUDGET_BASE};
}

s7_status s7_budget_take(s7_budget* budget, uint64_t bytes) {
    if (budget == nullptr) {
        return S7_STATUS_OK;
    }
    if (bytes > budget->left) {
        return S7_STATUS_NO_MEMORY;
    }
    budget->left -= bytes;
    return S7_STATUS_OK;
}

void s7_budget_give(s7_budget* budget, uint64_t bytes) {
    if (budget != nullptr) {
        budget->left += bytes;
    }
}

void* s7_budget_malloc(s7_budget* budget, size_t size) {
    return s7_budget_take(budget, size) == S7_STATUS_OK ? s7_malloc(size) : nullptr;
}

s7_status s7_grow(void** items, uint32_t count, uint32_t* capacity, size_t element_size, uint32_t initial) {
    return s7_grow_within(items, count, capacity, element_size, initial, nullptr);
}

s7_status s7_grow_within(void** items, uint32_t count, uint32_t* capacity, size_t element_size, uint32_t initial,
                         s7_budget* budget) {
    if (count < *capacity) {
        return S7_STATUS_OK;
    }
    const uint64_t grown = *capacity == 0 ? uint64_t{initial} : uint64_t{*capacity} * 2;
    if (grown > UINT32_MAX || grown <= count) {
        return S7_STATUS_NO_MEMORY;
    }
    if (s7_budget_take(budget, (grown - *capacity) * element_size) != S7_STATUS_OK) {
        return S7_STATUS_NO_MEMORY;
    }
    void* moved = s7_realloc(*items, static_cast<size_t>(grown) * element_size);
    if (moved == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    *items = moved;
    *capacity = static_cast<uint32_t>(grown);
    return S7_STATUS_OK;
}

void s7_trim_within(void** items, uint32_t count, uint32_t* capacity, size_t element_size, s7_budget* budget) {
    // A list past half its room keeps it: it holds at most twice its
    // elements, as any doubling list does, and costs no reallocation.
    if (count >= *capacity - count) {
        return;
    }
    if (count == 0) {
        s7_free(*items);
        *items = nullptr;
    } else {
        void* cut = s7_realloc(*items, size_t{count} * element_size);
        if (cut == nullptr) {
            return;
        }
        *items = cut;
    }
    s7_budget_give(budget, uint64_t{*capacity - count} * element_size);
    *capacity = count;
}

s7_status s7_grow_one(void** items, uint32_t count, size_t element_size) {
    if (count == UINT32_MAX) {
        return S7_STATUS_ARGUMENT;
    }
    void* moved = s7_realloc(*items, (size_t{count} + 1) * element_size);
    if (moved == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    *items = moved;
    return S7_STATUS_OK;
}

}  // extern "C"
