// The controller's end of a connection played from a fuzz input: a local
// socket pair whose one end sits in a socket slot, as a connected socket
// does, and whose other end has already been given every byte the input
// says the controller sent, then either closed or left silent. Reads with a
// time-out of 0 see exactly that: the bytes, then the end of the stream or
// a time-out, without waiting for anything.
#pragma once

#include "s7_socket.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class ScriptedPeer {
public:
    ScriptedPeer(const uint8_t* data, size_t size, bool closeAfter);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // Null when the pair could not be made (out of descriptors).
    s7_socket* slot() const { return slot_; }
    // The bytes the peer holds for the client: the input, or as much of it
    // as the socket buffer took.
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    bool closed() const { return closeAfter_; }
    // What the client has sent so far.
    std::vector<uint8_t> received();

private:
    s7_socket* slot_ = nullptr;
    int peer_ = -1;
    const uint8_t* data_;
    size_t size_ = 0;
    bool closeAfter_;
};
