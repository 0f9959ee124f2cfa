#include "vemo/core/ChunkedWrite.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace vemo {

namespace {

struct WriteResultsFree {
    void operator()(s7_write_result* results) const { s7_write_results_free(results); }
};

// Codes the library gives only before it sends anything: the controller
// never saw the request. Any other failure may have come after the request
// went out - no answer, a broken connection, an answer that could not be
// read or that refused the request without saying which item - so the
// controller may have written its values.
bool failedUnsent(std::uint8_t code) {
    return code == S7_ERR_ARGUMENT || code == S7_ERR_TOO_MANY_ITEMS || code == S7_ERR_ENCODE;
}

}  // namespace

bool WriteResult::allWritten() const {
    return ok() && std::all_of(items.begin(), items.end(),
                               [](const ItemWrite& item) { return item.outcome == ItemOutcome::Written; });
}

WriteResult writeInChunks(vemoc_s7_client* client, std::span<const s7_item_address> addresses,
                          std::span<const s7_value* const> values, const WriteCalls& calls) {
    if (addresses.size() != values.size()) {
        throw std::invalid_argument("writeInChunks: one value per address");
    }
    WriteResult result;
    result.items.assign(addresses.size(), ItemWrite{});
    std::uint32_t limit = 0;
    if (const std::uint8_t code = calls.maxItems(client, &limit); code != S7_OK) {
        result.status = WriteResult::Status::LimitFailed;
        result.code = code;
        return result;
    }
    if (limit == 0) {
        result.status = WriteResult::Status::NoResults;
        return result;
    }

    std::vector<const s7_item_address*> items;
    items.reserve(addresses.size());
    for (const s7_item_address& address : addresses) items.push_back(&address);
    for (std::size_t start = 0; start < items.size(); start += limit) {
        const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(limit, items.size() - start));
        const auto chunk = std::span(result.items).subspan(start, count);
        s7_write_result* each = nullptr;
        const std::uint8_t code = calls.write(client, items.data() + start, values.data() + start, count, &each);
        const std::unique_ptr<s7_write_result, WriteResultsFree> owned(each);
        if (code != S7_OK || each == nullptr) {
            // Never sent again: a value the controller took would be
            // written twice. The chunks after this one are not sent.
            const bool unsent = code != S7_OK && failedUnsent(code);
            for (ItemWrite& item : chunk) item.outcome = unsent ? ItemOutcome::NotWritten : ItemOutcome::MayBeWritten;
            result.status = code != S7_OK ? WriteResult::Status::WriteFailed : WriteResult::Status::NoResults;
            result.code = code;
            return result;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            chunk[i] = each[i].error == 0 ? ItemWrite{ItemOutcome::Written, 0}
                                          : ItemWrite{ItemOutcome::Refused, each[i].error};
        }
    }
    result.status = WriteResult::Status::Answered;
    return result;
}

}  // namespace vemo
