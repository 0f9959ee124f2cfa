// The values one vemoc_s7_client_read hands out, released together however
// the reader's scope ends: every value, then the array that holds them.
#pragma once

#include <vemo/s7read.h>
#include <vemo/s7value.h>

#include <cstddef>

namespace vemo {

class ReadValues {
public:
    ReadValues(s7_value** values, std::size_t count) : values_(values), count_(count) {}
    ~ReadValues() {
        if (values_ == nullptr) return;
        for (std::size_t i = 0; i < count_; ++i) {
            s7_value_free(values_[i]);
        }
        s7_free(values_);
    }
    ReadValues(const ReadValues&) = delete;
    ReadValues& operator=(const ReadValues&) = delete;

    const s7_value* operator[](std::size_t i) const { return values_[i]; }

private:
    s7_value** values_;
    std::size_t count_;
};

}  // namespace vemo
