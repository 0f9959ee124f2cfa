// Writing many variables at once: the controller takes at most its item
// limit per request, writes included, so the values go out in chunks of
// exactly that many (the last one shorter), in order, each chunk one
// request, and no value is ever sent twice. Every variable comes back with
// what became of it - written, refused with the controller's code, perhaps
// written (its request failed after it may have reached the controller) or
// not written (its request was never sent). vemo-s7 write and the
// inspector's write go this way.
#pragma once

#include <vemo/s7client.h>
#include <vemo/s7read.h>
#include <vemo/s7write.h>

#include <cstdint>
#include <span>
#include <vector>

namespace vemo {

// The library calls a chunked write makes; tests put recording fakes here.
// The controller states one item limit, which bounds writes as it bounds
// reads (the library refuses a longer write with S7_ERR_TOO_MANY_ITEMS).
struct WriteCalls {
    std::uint8_t (*maxItems)(const vemoc_s7_client*, std::uint32_t*) = vemoc_s7_client_get_max_read_items;
    std::uint8_t (*write)(vemoc_s7_client*, const s7_item_address* const*, const s7_value* const*, std::uint32_t,
                          s7_write_result**) = vemoc_s7_client_write;
};

// What became of one variable of a chunked write.
enum class ItemOutcome : std::uint8_t {
    NotWritten,    // its request was never sent: an earlier one failed, or the library refused it unsent
    Written,       // the controller confirmed it
    Refused,       // the controller refused it: `error` says with what code
    MayBeWritten,  // its request failed after it may have reached the controller: nobody knows
};

struct ItemWrite {
    ItemOutcome outcome = ItemOutcome::NotWritten;
    std::uint64_t error = 0;  // while Refused: the controller's error code
};

struct WriteResult {
    enum class Status : std::uint8_t {
        NotRun,       // no write has finished: what a caller holds until writeInChunks returns
        Answered,     // every request answered; items may still be refused
        LimitFailed,  // the item limit could not be read; `code` says why; nothing sent
        WriteFailed,  // a request failed; `code` says why
        NoResults,    // the library answered S7_OK, but with an item limit of 0 or without results
    };

    Status status = Status::NotRun;
    std::uint8_t code = S7_OK;     // the library's code of the failed call
    std::vector<ItemWrite> items;  // one per variable, in their order, whatever the status (once run)

    bool ok() const { return status == Status::Answered; }
    // Whether the controller confirmed every variable.
    bool allWritten() const;
};

// Writes values[i] to addresses[i]. The first failing request ends the
// write: the chunks before it stand as the controller answered them, its
// own variables may have been written unless the library refused it before
// sending (a write it cannot encode, for one), the later ones are not sent.
// Throws std::invalid_argument when the two differ in length.
WriteResult writeInChunks(vemoc_s7_client* client, std::span<const s7_item_address> addresses,
                          std::span<const s7_value* const> values, const WriteCalls& calls = {});

}  // namespace vemo
