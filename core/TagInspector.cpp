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
// addresses (rows may change while it runs), the data types that decide how
// each value is shown, and which row each address belongs to.
struct TagInspector::Snapshot {
    std::vector<std::vector<std::uint32_t>> paths;
    std::vector<s7_item_address> addresses;  // borrow `paths`
    std::vector<std::uint8_t> datatypes;
    std::vector<std::size_t> rows;

    explicit Snapshot(const std::vector<InspectorRow>& all) {
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (all[i].state == RowState::Missing) continue;
            paths.push_back(all[i].path);
            addresses.push_back(s7_item_address{all[i].objectId, all[i].attributeId, nullptr, 0});
            datatypes.push_back(all[i].datatype);
            rows.push_back(i);
        }
        for (std::size_t k = 0; k < addresses.size(); ++k) {
            addresses[k].path = paths[k].data();
            addresses[k].path_count = static_cast<std::uint32_t>(paths[k].size());
        }
    }
};

namespace {

// Points `row` at `tag`'s variable.
void bindTo(InspectorRow& row, const s7_symbol& tag) {
    row.datatype = tag.datatype;
    row.typeName = s7_datatype_name(tag.datatype);
    row.objectId = tag.address.object_id;
    row.attributeId = tag.address.attribute_id;
    row.path.assign(tag.address.path, tag.address.path + tag.address.path_count);
}

}  // namespace

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
    if (tag == nullptr || tag->name == nullptr) return;
    const std::string_view name(tag->name);
    const bool present =
        std::any_of(rows_.begin(), rows_.end(), [name](const InspectorRow& row) { return row.name == name; });
    if (present) return;
    InspectorRow row;
    row.name = name;
    bindTo(row, *tag);
    rows_.push_back(std::move(row));
    ++generation_;
}

void TagInspector::remove(std::string_view name) {
    const auto it =
        std::find_if(rows_.begin(), rows_.end(), [name](const InspectorRow& row) { return row.name == name; });
    if (it == rows_.end()) return;
    rows_.erase(it);
    ++generation_;
}

void TagInspector::clear() {
    if (rows_.empty()) return;
    rows_.clear();
    ++generation_;
}

void TagInspector::rebind(const std::function<const s7_symbol*(const std::string&)>& find) {
    for (InspectorRow& row : rows_) {
        if (const s7_symbol* tag = find(row.name)) {
            bindTo(row, *tag);
            if (row.state == RowState::Missing) row.state = row.lastGood ? RowState::Stale : RowState::Waiting;
        } else {
            row.state = RowState::Missing;
            row.refusal.reset();
            row.mismatch.reset();
        }
    }
    // A refresh out with the old addresses must not be applied.
    ++generation_;
}

void TagInspector::markStale() {
    for (InspectorRow& row : rows_) {
        if (row.state == RowState::Live) row.state = RowState::Stale;
    }
}

void TagInspector::update() {
    if (connection_->getState() != ConnectionState::Connected) {
        // Lost or closed: what is shown is no longer live.
        markStale();
        return;
    }
    const std::int64_t now = hooks_.now();
    if (refreshing_ || (lastRefresh_ != kNever && now - lastRefresh_ < kRefreshIntervalNs)) return;
    lastRefresh_ = now;

    auto snapshot = std::make_shared<Snapshot>(rows_);
    if (snapshot->rows.empty()) return;
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
                // while formatting: the result stays NotRun and the rows
                // turn stale.
            }
            // The worker never touches the inspector; the UI thread applies
            // the result if the inspector is still there.
            post([alive, self, generation, rows = snapshot->rows, result = std::move(result)]() mutable {
                if (alive.expired()) return;
                self->apply(generation, std::move(rows), std::move(result));
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

void TagInspector::apply(std::uint64_t generation, std::vector<std::size_t> rows, ReadResult result) {
    refreshing_ = false;
    // A late result for rows that have changed since: the next refresh reads
    // them anew.
    if (generation != generation_) return;
    if (!result.ok() || result.values.size() != rows.size()) {
        markStale();
        return;
    }
    const auto readAt = std::chrono::system_clock::now();
    for (std::size_t k = 0; k < rows.size(); ++k) {
        InspectorRow& row = rows_[rows[k]];
        ItemReading& item = result.values[k];
        if (item.refused) {
            row.state = RowState::Refused;
            row.refusal = item.refused;
            row.mismatch.reset();
            continue;
        }
        if (item.mismatch) {
            // Not a value: the last good one and its time stay as they are.
            row.state = RowState::Mismatch;
            row.mismatch = std::move(item.mismatch);
            row.refusal.reset();
            continue;
        }
        row.valueText = std::move(item.value.text);
        row.state = RowState::Live;
        row.refusal.reset();
        row.mismatch.reset();
        row.lastGood = readAt;
    }
}

}  // namespace vemo
