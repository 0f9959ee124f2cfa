// Byte strings as the tests write them: what a peer sends or must receive.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace vemo::test {

using Bytes = std::vector<uint8_t>;

// The parts one after the other.
inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

}  // namespace vemo::test
