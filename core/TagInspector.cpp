#include "vemo/core/TagInspector.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <limits>
#include <stdexcept>
#include <utility>

#include <vemo/s7datatype.h>
#include "vemo/core/Logger.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/ThreadPool.h"

namespace vemo {

namespace {

// lastRefresh_ before the first refresh: the first update refreshes at once,
// whatever the clock's epoch.
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::min();

// A monotonic clock: a wall clock set back by the operator or by time
// synchronisation would otherwise stall the refresh until it caught up.
std::int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// What a refresh reads, taken on the UI thread: its own copies of the item
// addresses (the rows' symbols may be released while it runs) and the data
// types that decide how each value is shown.
struct TagInspector::Snapshot {
    std::vector<s7_item_address> addresses;
    std::vector<std::uint8_t> datatypes;

    Snapshot() = default;
    ~Snapshot() {
        for (s7_item_address& address : addresses) {
            s7_item_address_release(&address);
        }
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    // False when memory for a copy runs out.
    bool take(const std::vector<InspectorRow>& rows) {
        addresses.reserve(rows.size());
        datatypes.reserve(rows.size());
        for (const InspectorRow& row : rows) {
            s7_item_address copy{};
            if (s7_item_address_copy(&row.tag->address, &copy) != 0) return false;
            addresses.push_back(copy);
            datatypes.push_back(row.tag->datatype);
        }
        return true;
    }
};

TagInspector::TagInspector(PlcConnection& connection, ThreadPool& pool, Hooks hooks)
    : connection_(&connection), hooks_(std::move(hooks)) {
    if (!hooks_.post) {
        throw std::invalid_argument("TagInspector needs a hook that posts to the UI thread");
    }
    if (!hooks_.submit) {
        hooks_.submit = [&pool](std::function<void()> task) { pool.submit(std::move(task)); };
    }
    if (!hooks_.now) {
        hooks_.now = steadyNanoseconds;
    }
    lastRefresh_ = kNever;
}

TagInspector::~TagInspector() = default;

void TagInspector::add(const s7_symbol* tag) {
    if (tag == nullptr) return;
    const bool present =
        std::any_of(rows_.begin(), rows_.end(), [tag](const InspectorRow& row) { return row.tag == tag; });
    if (present) return;
    rows_.push_back(InspectorRow{std::string_view(tag->name != nullptr ? tag->name : ""),
                                 std::string_view(s7_datatype_name(tag->datatype)), std::string(), tag});
    ++generation_;
}

void TagInspector::remove(const s7_symbol* tag) {
    const auto it = std::find_if(rows_.begin(), rows_.end(), [tag](const InspectorRow& row) { return row.tag == tag; });
    if (it == rows_.end()) return;
    rows_.erase(it);
    ++generation_;
}

void TagInspector::clear() {
    if (rows_.empty()) return;
    rows_.clear();
    ++generation_;
}

void TagInspector::update() {
    const std::int64_t now = hooks_.now();
    if (refreshing_ || (lastRefresh_ != kNever && now - lastRefresh_ < kRefreshIntervalNs)) return;
    lastRefresh_ = now;
    if (rows_.empty()) return;

    auto snapshot = std::make_shared<Snapshot>();
    if (!snapshot->take(rows_)) {
        // Out of memory now; the next second tries again.
        return;
    }
    refreshing_ = true;
    try {
        hooks_.submit([connection = connection_, calls = hooks_.calls, post = hooks_.post,
                       alive = std::weak_ptr<int>(alive_), self = this, generation = generation_,
                       snapshot = std::move(snapshot)] {
            ReadResult result;
            try {
                result = refresh(connection, calls, *snapshot);
            } catch (const std::exception&) {
                // The service's lock could not be taken, or memory ran out
                // while formatting: the result stays NotRun and the previous
                // texts stay.
            }
            // The worker never touches the inspector; the UI thread applies
            // the texts if the inspector is still there.
            post([alive, self, generation, result = std::move(result)]() mutable {
                if (alive.expired()) return;
                self->apply(generation, std::move(result));
            });
        });
    } catch (const std::exception& e) {
        // Only a stopped pool refuses work, at the very end of the program.
        refreshing_ = false;
        Logger::log(LogLevel::Warn, "Inspector refresh not started: {}", e.what());
    }
}

ReadResult TagInspector::refresh(PlcConnection* connection, const ReadCalls& calls, const Snapshot& snapshot) {
    // Not connected: the library is not asked, and the result says so.
    ReadResult result;
    connection->withClient([&](vemoc_s7_client* client) {
        if (connection->getState() != ConnectionState::Connected) return;
        result = readInChunks(client, snapshot.addresses, snapshot.datatypes, calls);
    });
    return result;
}

void TagInspector::apply(std::uint64_t generation, ReadResult result) {
    refreshing_ = false;
    // A late result for rows that have changed since, a refresh that did not
    // read, or a result that does not fit the rows: the previous texts stay.
    if (!result.ok() || generation != generation_ || result.values.size() != rows_.size() || result.values.empty()) {
        return;
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        rows_[i].valueText = std::move(result.values[i].text);
    }
}

}  // namespace vemo
