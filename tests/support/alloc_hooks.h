// Test hooks for the library's allocation table: count live blocks and the
// bytes they hold, and fail the N-th allocation on purpose, so that tests can
// prove that an operation leaves nothing behind, survives running out of
// memory at every step and stays within the memory it is allowed.
#pragma once

#include <vemo/s7client.h>

#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

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
    void failFrom(std::size_t n) { fail(n, false); }
    // Allocation number n (counting from 1 after this call) fails and every
    // other one succeeds; 0 turns failing off.
    void failAt(std::size_t n) { fail(n, true); }

    std::size_t live() const {
        std::lock_guard lock(mutex_);
        return live_.size();
    }
    // Bytes the live blocks were asked for, and the most they held at once
    // since the last resetPeak().
    std::size_t heldBytes() const {
        std::lock_guard lock(mutex_);
        return held_;
    }
    std::size_t peakBytes() const {
        std::lock_guard lock(mutex_);
        return peak_;
    }
    void resetPeak() {
        std::lock_guard lock(mutex_);
        peak_ = held_;
    }
    std::size_t calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void fail(std::size_t n, bool once) {
        std::lock_guard lock(mutex_);
        calls_ = 0;
        failFrom_ = n;
        failOnce_ = once;
    }

    static void* alloc(void* ctx, std::size_t size) { return self(ctx)->reallocate(nullptr, size); }
    static void* realloc(void* ctx, void* block, std::size_t size) { return self(ctx)->reallocate(block, size); }
    static void release(void* ctx, void* block) {
        if (block == nullptr) {
            return;
        }
        auto* me = self(ctx);
        std::lock_guard lock(me->mutex_);
        const auto it = me->live_.find(block);
        if (it != me->live_.end()) {
            me->held_ -= it->second;
            me->live_.erase(it);
        }
        std::free(block);
    }
    static CountingAllocator* self(void* ctx) { return static_cast<CountingAllocator*>(ctx); }

    void* reallocate(void* block, std::size_t size) {
        std::lock_guard lock(mutex_);
        ++calls_;
        if (failFrom_ != 0 && (failOnce_ ? calls_ == failFrom_ : calls_ >= failFrom_)) {
            return nullptr;
        }
        // Looked up before the call: the old pointer is not to be used after.
        const auto old = block != nullptr ? live_.find(block) : live_.end();
        void* moved = std::realloc(block, size == 0 ? 1 : size);
        if (moved != nullptr) {
            if (old != live_.end()) {
                held_ -= old->second;
                live_.erase(old);
            }
            live_[moved] = size;
            held_ += size;
            if (held_ > peak_) {
                peak_ = held_;
            }
        }
        return moved;
    }

    mutable std::mutex mutex_;
    std::unordered_map<void*, std::size_t> live_;
    std::size_t held_ = 0;
    std::size_t peak_ = 0;
    std::size_t calls_ = 0;
    std::size_t failFrom_ = 0;
    bool failOnce_ = false;
    s7_alloc_hooks hooks_{alloc, realloc, release, this};
};

}  // namespace vemo::test
