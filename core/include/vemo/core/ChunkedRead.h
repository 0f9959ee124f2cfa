// Reading many variables at once: the controller takes at most its item
// limit per read request, so the addresses go out in chunks of exactly that
// many (the last one shorter), in order, and every value comes back as its
// text and kind - or, for a variable the controller refuses, as its error
// code, and for one whose answer does not fit its data type, as that type
// mismatch, without failing the others. The inspector's refresh and vemo-s7
// read this way.
#pragma once

#include <vemo/s7client.h>
#include <vemo/s7read.h>

#include "vemo/core/ValueFormat.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace vemo {

// The library calls a chunked read makes; tests put recording fakes here.
struct ReadCalls {
    std::uint8_t (*maxReadItems)(const vemoc_s7_client*, std::uint32_t*) = vemoc_s7_client_get_max_read_items;
    std::uint8_t (*read)(vemoc_s7_client*, const s7_item_address* const*, std::uint32_t,
                         s7_item_result**) = vemoc_s7_client_read_each;
};

// One variable of a read: its value, the error code the controller refused
// it with, or what the controller sent instead of a value of its data type.
struct ItemReading {
    ValueText value;                       // empty when refused; the mismatch's text (Mismatch) when mismatched
    ReadValue read;                        // the value's own copy, to show it in another format; none when refused
    std::optional<std::uint64_t> refused;  // the controller's error code for this variable
    std::optional<TypeMismatch> mismatch;  // the answer does not fit the data type: there is no value
};

struct ReadResult {
    enum class Status : std::uint8_t {
        NotRun,       // no read has finished: what a caller holds until readInChunks returns
        Read,         // every value read
        LimitFailed,  // the item limit could not be read; `code` says why
        ReadFailed,   // a read request failed; `code` says why
        NoValues,     // the library answered S7_OK, but with an item limit of 0 or without values
    };

    Status status = Status::NotRun;
    std::uint8_t code = S7_OK;        // the library's code of the failed call
    // One per address, in their order, once Read - or, for a read that was
    // told to stop, one per address of the chunks read; else none.
    std::vector<ItemReading> values;

    bool ok() const { return status == Status::Read; }
};

// Reads `addresses`, whose data types (which decide which values fit and
// how STRING values are shown) are `datatypes`, one for one. The first
// failing call ends the read and drops the values of the chunks before it.
// Throws std::invalid_argument when the two differ in length.
// `goOn`, if given, is asked before every chunk after the first: false ends
// the read there, Read with the values of the chunks read so far (a refresh
// that has used up its time).
ReadResult readInChunks(vemoc_s7_client* client, std::span<const s7_item_address> addresses,
                        std::span<const std::uint8_t> datatypes, const ReadCalls& calls = {},
                        const std::function<bool()>& goOn = {});

}  // namespace vemo
