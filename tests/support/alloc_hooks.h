// Test hooks for the library's allocation table: count live blocks and fail
// the N-th allocation on purpose, so that tests can prove that an operation
// leaves nothing behind and survives running out of memory at every step.
#pragma once

#include <vemo/s7client.h>

#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

namespace vemo::test {

class CountingAllocator {
public:
    // Installs itself as the library's hook table until destroyed.
    CountingAllocator() { s7_set_alloc_hooks(&hooks_); }
    ~CountingAllocator() { s7_set_alloc_hooks(nullptr); }
    CountingAllocator(const CountingAllocator&) = delete;
    CountingAllocator& operator=(const CountingAllocator&) = delete;

    // Allocation number n (counting from 1 after this call) and every later
    // one fail; 0 turns failing off.
    void failFrom(std::size_t n) {
        std::lock_guard lock(mutex_);
        calls_ = 0;
        failFrom_ = n;
    }

    std::size_t live() const {
        std::lock_guard lock(mutex_);
        return live_.size();
    }
    std::size_t calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    static void* alloc(void* ctx, std::size_t size) { return self(ctx)->reallocate(nullptr, size); }
    static void* realloc(void* ctx, void* block, std::size_t size) { return self(ctx)->reallocate(block, size); }
    static void release(void* ctx, void* block) {
        if (block == nullptr) {
            return;
        }
        auto* me = self(ctx);
        std::lock_guard lock(me->mutex_);
        me->live_.erase(block);
        std::free(block);
    }
    static CountingAllocator* self(void* ctx) { return static_cast<CountingAllocator*>(ctx); }

    void* reallocate(void* block, std::size_t size) {
        std::lock_guard lock(mutex_);
        ++calls_;
        if (failFrom_ != 0 && calls_ >= failFrom_) {
            return nullptr;
        }
        void* moved = std::realloc(block, size == 0 ? 1 : size);
        if (moved != nullptr) {
            live_.erase(block);
            live_.insert(moved);
        }
        return moved;
    }

    mutable std::mutex mutex_;
    std::unordered_set<void*> live_;
    std::size_t calls_ = 0;
    std::size_t failFrom_ = 0;
    s7_alloc_hooks hooks_{alloc, realloc, release, this};
};

}  // namespace vemo::test
