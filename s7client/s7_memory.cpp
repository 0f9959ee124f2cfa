#include "s7_memory.h"

#include <cstdlib>
#include <cstring>

namespace {

void* defaultAlloc(void*, size_t size) { return std::malloc(size); }
void* defaultRealloc(void*, void* block, size_t size) { return std::realloc(block, size); }
void defaultFree(void*, void* block) { std::free(block); }

const s7_alloc_hooks kDefaultHooks = {defaultAlloc, defaultRealloc, defaultFree, nullptr};

const s7_alloc_hooks* g_hooks = &kDefaultHooks;

} // namespace

extern "C" {

void s7_set_alloc_hooks(const s7_alloc_hooks* hooks) {
    g_hooks = hooks != nullptr ? hooks : &kDefaultHooks;
}

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

} // extern "C"
