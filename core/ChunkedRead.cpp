#include "vemo/core/ChunkedRead.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>

namespace vemo {

namespace {

// Releases the results of one read, each value and the array.
struct ItemResultsFree {
    std::uint32_t count;
    void operator()(s7_item_result* results) const { s7_item_results_free(results, count); }
};

ReadResult failed(ReadResult::Status status, std::uint8_t code) {
    ReadResult result;
    result.status = status;
    result.code = code;
    return result;
}

}  // namespace

ReadResult readInChunks(vemoc_s7_client* client, std::span<const s7_item_address> addresses,
                        std::span<const std::uint8_t> datatypes, const ReadCalls& calls,
                        const std::function<bool()>& goOn) {
    if (addresses.size() != datatypes.size()) {
        throw std::invalid_argument("readInChunks: one data type per address");
    }
    std::uint32_t limit = 0;
    if (const std::uint8_t code = calls.maxReadItems(client, &limit); code != S7_OK) {
        return failed(ReadResult::Status::LimitFailed, code);
    }
    if (limit == 0) return failed(ReadResult::Status::NoValues, S7_OK);

    std::vector<const s7_item_address*> items;
    items.reserve(addresses.size());
    for (const s7_item_address& address : addresses) {
        items.push_back(&address);
    }
    ReadResult result;
    result.values.reserve(items.size());
    for (std::size_t start = 0; start < items.size(); start += limit) {
        if (start > 0 && goOn && !goOn()) break;
        const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(limit, items.size() - start));
        s7_item_result* each = nullptr;
        if (const std::uint8_t code = calls.read(client, items.data() + start, count, &each); code != S7_OK) {
            return failed(ReadResult::Status::ReadFailed, code);
        }
        if (each == nullptr) return failed(ReadResult::Status::NoValues, S7_OK);
        const std::unique_ptr<s7_item_result, ItemResultsFree> owned(each, ItemResultsFree{count});
        for (std::uint32_t i = 0; i < count; ++i) {
            if (each[i].value == nullptr) {
                result.values.push_back(ItemReading{{}, {}, each[i].error, std::nullopt});
            } else {
                // The copy outlives the library's value, freed with this chunk.
                const std::uint8_t datatype = datatypes[start + i];
                ReadValue read = ReadValue::of(each[i].value);
                ValueText text = formatValue(read, datatype, DisplayFormat::Dec);
                std::optional<TypeMismatch> mismatch = typeMismatch(read, datatype);
                result.values.push_back(
                    ItemReading{std::move(text), std::move(read), std::nullopt, std::move(mismatch)});
            }
        }
    }
    result.status = ReadResult::Status::Read;
    return result;
}

}  // namespace vemo
