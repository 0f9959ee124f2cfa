#include "vemo/core/TagInspector.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <vemo/s7datatype.h>

#include "vemo/core/ConnectionWords.h"
#include "vemo/core/Logger.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/ThreadPool.h"
#include "vemo/core/ValueParse.h"
#include "vemo/core/WatchListFile.h"

namespace vemo {

namespace {

// Whether the row has an address to read: not while the last browse lacked
// its variable.
bool resolved(const InspectorRow& row) { return row.state != RowState::Missing && row.state != RowState::Unreadable; }

// The data type of that name ("DINT"); nullopt for a name no type has.
std::optional<std::uint8_t> datatypeNamed(std::string_view name) {
    static const std::unordered_map<std::string_view, std::uint8_t> byName = [] {
        std::unordered_map<std::string_view, std::uint8_t> map;
        for (unsigned id = 0; id < 256; ++id) map.emplace(s7_datatype_name(id), static_cast<std::uint8_t>(id));
        return map;
    }();
    const auto it = byName.find(name);
    return it == byName.end() ? std::nullopt : std::optional<std::uint8_t>(it->second);
}

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

void ItemPath::assign(const std::uint32_t* first, const std::uint32_t* last) {
    const auto count = static_cast<std::size_t>(last - first);
    if (count <= kInline) {
        // `first` may point into this path itself.
        std::array<std::uint32_t, kInline> copy{};
        std::copy(first, last, copy.begin());
        heap_.reset();
        inline_ = copy;
    } else {
        auto heap = std::make_unique<std::uint32_t[]>(count);
        std::copy(first, last, heap.get());
        heap_ = std::move(heap);
    }
    size_ = static_cast<std::uint32_t>(count);
}

namespace {

// Up to this many rows are freed on the UI thread, in a fraction of a frame;
// freeing more is work for the worker.
constexpr std::size_t kFreeHere = 1000;

// A set of names for one add: open addressing in one array, as a million
// nodes of a node-based set would each be an allocation. The names are
// borrowed and must stay where they are while the set is used.
class NameSet {
public:
    explicit NameSet(std::size_t most) {
        std::size_t size = 16;
        while (size < 2 * most) size *= 2;
        slots_.resize(most > 0 ? size : 0);
    }
    // False when the name is in the set already.
    bool insert(std::string_view name) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = std::hash<std::string_view>{}(name) & mask;; i = (i + 1) & mask) {
            std::string_view& slot = slots_[i];
            if (slot.data() == nullptr) {
                slot = name;
                ++count_;
                return true;
            }
            if (slot == name) return false;
        }
    }
    bool contains(std::string_view name) const {
        if (slots_.empty()) return false;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = std::hash<std::string_view>{}(name) & mask;; i = (i + 1) & mask) {
            if (slots_[i].data() == nullptr) return false;
            if (slots_[i] == name) return true;
        }
    }
    std::size_t size() const { return count_; }

private:
    std::vector<std::string_view> slots_;  // a null view: empty; never more than half full
    std::size_t count_ = 0;
};

// Whether a refresh on connection `live` reads the row.
bool readableOn(const InspectorRow& row, std::uint64_t live) { return resolved(row) && row.connection == live; }

}  // namespace

// What one round of the refresh reads, taken on the UI thread: its own
// copies of the item addresses (rows may change while it runs), the data
// types that decide how each value is shown, and which row each address
// belongs to. At most kRowsPerRound rows, from `start` on, wrapping round
// to the first: a round takes the same short time on the UI thread however
// many rows there are.
struct TagInspector::Snapshot {
    std::uint64_t connection;  // the one connection these addresses are read on
    std::vector<ItemPath> paths;
    std::vector<s7_item_address> addresses;  // borrow `paths`
    std::vector<std::uint8_t> datatypes;
    std::vector<std::size_t> rows;
    std::size_t readable;  // rows resolved on `connection`, read in this round or not

    Snapshot(const std::vector<InspectorRow>& all, std::uint64_t live, std::size_t start, std::size_t readableRows)
        : connection(live), readable(readableRows) {
        const std::size_t n = all.size();
        const std::size_t take = std::min(readable, kRowsPerRound);
        paths.reserve(take);
        addresses.reserve(take);
        datatypes.reserve(take);
        rows.reserve(take);
        for (std::size_t k = 0; k < n && rows.size() < take; ++k) {
            const std::size_t i = (start + k) % n;
            if (!readableOn(all[i], live)) continue;
            paths.push_back(all[i].path);
            addresses.push_back(s7_item_address{all[i].objectId, all[i].attributeId, nullptr, 0});
            datatypes.push_back(all[i].datatype);
            rows.push_back(i);
        }
        for (std::size_t k = 0; k < addresses.size(); ++k) {
            addresses[k].path = paths[k].data();
            addresses[k].path_count = paths[k].size();
        }
    }
};

namespace {

// Points `row` at `tag`'s variable.
void bindTo(InspectorRow& row, const s7_symbol& tag) {
    // A variable that now has another data type starts over in that type's
    // default format, as a newly added one.
    if (row.datatype != tag.datatype) row.format = defaultFormat(tag.datatype);
    row.datatype = tag.datatype;
    row.typeName = s7_datatype_name(tag.datatype);
    row.objectId = tag.address.object_id;
    row.attributeId = tag.address.attribute_id;
    row.path.assign(tag.address.path, tag.address.path + tag.address.path_count);
}

// One variable's reading into its row: a value, a refusal or a mismatch.
void applyReading(InspectorRow& row, ItemReading& item, std::chrono::system_clock::time_point readAt) {
    if (item.refused) {
        row.state = RowState::Refused;
        row.refusal = item.refused;
        row.mismatch.reset();
        return;
    }
    if (item.mismatch) {
        // Not a value: the last good one and its time stay as they are.
        row.state = RowState::Mismatch;
        row.mismatch = std::move(item.mismatch);
        row.refusal.reset();
        return;
    }
    row.value = std::move(item.read);
    row.state = RowState::Live;
    row.refusal.reset();
    row.mismatch.reset();
    row.lastGood = readAt;
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

bool TagInspector::add(const s7_symbol* tag, std::optional<std::uint64_t> browsedOn) {
    return add(std::span<const s7_symbol* const>(&tag, 1), browsedOn) > 0;
}

std::size_t TagInspector::add(std::span<const s7_symbol* const> tags, std::optional<std::uint64_t> browsedOn) {
    const std::uint64_t live = connection_->connectionId();
    if (connection_->getState() != ConnectionState::Connected || browsedOn.value_or(live) != live) return 0;
    // Room for every tag first: the set looks at the rows' names in place.
    if (rows_.capacity() < rows_.size() + tags.size()) {
        rows_.reserve(std::max(rows_.size() + tags.size(), rows_.capacity() * 2));
    }
    // A few tags are looked for among the rows as they are: a set of a
    // million names for one tag double-clicked would take longer.
    constexpr std::size_t kLookUpEach = 4;
    const bool few = tags.size() <= kLookUpEach;
    NameSet present(few ? 0 : rows_.size() + tags.size());
    if (!few) {
        for (const InspectorRow& row : rows_) present.insert(row.name);
    }
    const auto isNew = [&](std::string_view name) {
        if (!few) return present.insert(name);
        return std::none_of(rows_.begin(), rows_.end(), [name](const InspectorRow& row) { return row.name == name; });
    };
    const std::size_t before = rows_.size();
    for (const s7_symbol* tag : tags) {
        if (tag == nullptr || tag->name == nullptr || !isNew(tag->name)) continue;
        InspectorRow row;
        row.name = tag->name;
        bindTo(row, *tag);
        row.format = defaultFormat(tag->datatype);
        row.connection = live;
        rows_.push_back(std::move(row));
    }
    if (rows_.size() != before) ++generation_;
    return rows_.size() - before;
}

void TagInspector::remove(std::string_view name) {
    const auto it =
        std::find_if(rows_.begin(), rows_.end(), [name](const InspectorRow& row) { return row.name == name; });
    if (it == rows_.end()) return;
    rows_.erase(it);
    ++generation_;
}

std::size_t TagInspector::remove(std::span<const std::string> names) {
    if (names.empty() || rows_.empty()) return 0;
    NameSet gone(names.size());
    for (const std::string& name : names) gone.insert(name);
    if (names.size() <= kFreeHere) {
        // A few rows go where they are, the rows after them moving up.
        const std::size_t removed =
            std::erase_if(rows_, [&gone](const InspectorRow& row) { return gone.contains(row.name); });
        if (removed > 0) ++generation_;
        return removed;
    }
    // The rows that stay move into a list of their own, in their order; the
    // others are freed with the old list, on the worker.
    std::vector<InspectorRow> kept;
    kept.reserve(rows_.size() - std::min(rows_.size(), gone.size()));
    for (InspectorRow& row : rows_) {
        if (!gone.contains(row.name)) kept.push_back(std::move(row));
    }
    const std::size_t removed = rows_.size() - kept.size();
    if (removed == 0) return 0;
    release(std::exchange(rows_, std::move(kept)));
    ++generation_;
    return removed;
}

void TagInspector::clear() {
    if (rows_.empty()) return;
    lastRound_ = {};
    release(std::exchange(rows_, {}));
    ++generation_;
}

std::size_t TagInspector::addUnresolved(const std::vector<WatchRow>& listed) {
    // Room for every row first: the set looks at the rows' names in place.
    const std::size_t before = rows_.size();
    rows_.reserve(before + listed.size());
    NameSet present(before + listed.size());
    for (const InspectorRow& row : rows_) present.insert(row.name);
    for (const WatchRow& wanted : listed) {
        if (wanted.name.empty() || present.contains(wanted.name)) continue;
        InspectorRow row;
        row.name = wanted.name;
        // The type as listed, so that a variable found with it keeps the
        // listed format; a name no type has is saved back as unknown.
        row.datatype = datatypeNamed(wanted.type).value_or(datatypeNamed("UNKNOWN").value_or(0));
        row.typeName = s7_datatype_name(row.datatype);
        row.format = wanted.format;
        row.state = RowState::Missing;
        rows_.push_back(std::move(row));
        present.insert(rows_.back().name);
    }
    if (rows_.size() != before) ++generation_;
    return rows_.size() - before;
}

void TagInspector::release(std::vector<InspectorRow> rows) {
    if (rows.size() <= kFreeHere) return;
    try {
        hooks_.submit([rows = std::make_shared<std::vector<InspectorRow>>(std::move(rows))]() mutable { rows.reset(); });
    } catch (const std::exception&) {
        // A stopped pool, at the very end: the rows go here after all.
    }
}

void TagInspector::rebind(const std::function<const s7_symbol*(const std::string&)>& find,
                          std::optional<std::uint64_t> browsedOn,
                          const std::function<std::uint8_t(const std::string&)>& browseFailure) {
    const std::uint64_t connection = browsedOn.value_or(connection_->connectionId());
    for (InspectorRow& row : rows_) {
        row.connection = connection;
        if (const s7_symbol* tag = find(row.name)) {
            bindTo(row, *tag);
            if (!resolved(row)) row.state = row.lastGood ? RowState::Stale : RowState::Waiting;
            row.browseFailure = S7_OK;
        } else {
            // Not found is not gone when the block could not be browsed:
            // the row says which it is.
            row.browseFailure = browseFailure ? browseFailure(row.name) : std::uint8_t{S7_OK};
            row.state = row.browseFailure != S7_OK ? RowState::Unreadable : RowState::Missing;
            row.refusal.reset();
            row.mismatch.reset();
        }
    }
    // A refresh out with the old addresses must not be applied.
    ++generation_;
}

void TagInspector::forgetValues() {
    for (InspectorRow& row : rows_) {
        row.value = ReadValue{};
        row.lastGood.reset();
        row.refusal.reset();
        row.mismatch.reset();
        if (resolved(row)) row.state = RowState::Waiting;
        row.writeState = WriteState::None;
        row.writeNote.clear();
    }
    // A refresh or write out for the previous controller must not land.
    ++generation_;
}

bool TagInspector::setFormat(std::string_view name, DisplayFormat format) {
    const auto it =
        std::find_if(rows_.begin(), rows_.end(), [name](const InspectorRow& row) { return row.name == name; });
    if (it == rows_.end()) return false;
    const std::vector<DisplayFormat> offered = formatsFor(it->datatype);
    if (std::find(offered.begin(), offered.end(), format) == offered.end()) return false;
    it->format = format;
    return true;
}

bool TagInspector::setFormat(std::string_view name, std::string_view formatName) {
    const std::optional<DisplayFormat> format = displayFormatByName(formatName);
    return format && setFormat(name, *format);
}

void TagInspector::markStale(std::optional<std::uint64_t> except) {
    if (staleMarked_ && staleGeneration_ == generation_ && staleExcept_ == except) return;
    staleMarked_ = true;
    staleGeneration_ = generation_;
    staleExcept_ = except;
    for (InspectorRow& row : rows_) {
        if (except && row.connection == *except) continue;
        if (row.state == RowState::Live || row.state == RowState::Waiting) row.state = RowState::Stale;
    }
}

std::optional<std::int64_t> TagInspector::nextRefreshIn() const {
    if (refreshing_ || rows_.empty() || connection_->getState() != ConnectionState::Connected) return std::nullopt;
    if (lastRefresh_ == kNever) return 0;
    return std::max<std::int64_t>(lastRefresh_ + kRefreshIntervalNs - hooks_.now(), 0);
}

void TagInspector::update() {
    if (connection_->getState() != ConnectionState::Connected) {
        // Lost, closed or held: what is shown is no longer live, and nothing
        // is read.
        markStale();
        lastRound_ = {};
        return;
    }
    // Rows of an earlier connection wait for the browse that finds them again.
    const std::uint64_t live = connection_->connectionId();
    markStale(live);
    const std::int64_t now = hooks_.now();
    if (refreshing_ || (lastRefresh_ != kNever && now - lastRefresh_ < kRefreshIntervalNs)) return;
    // On the beat: a frame that comes a little late (the loop wakes in whole
    // milliseconds, and draws first) must not delay every later refresh.
    const bool onBeat = lastRefresh_ != kNever && now - lastRefresh_ < 2 * kRefreshIntervalNs;
    lastRefresh_ = onBeat ? lastRefresh_ + kRefreshIntervalNs : now;

    if (cursor_ >= rows_.size()) cursor_ = 0;
    if (!readableFor_ || *readableFor_ != std::pair(generation_, live)) {
        readable_ = static_cast<std::size_t>(
            std::count_if(rows_.begin(), rows_.end(), [live](const InspectorRow& row) { return readableOn(row, live); }));
        readableFor_ = std::pair(generation_, live);
    }
    auto snapshot = std::make_shared<Snapshot>(rows_, live, cursor_, readable_);
    if (snapshot->rows.empty()) return;
    refreshing_ = true;
    try {
        hooks_.submit([connection = connection_, calls = hooks_.calls, post = hooks_.post, now = hooks_.now,
                       alive = std::weak_ptr<int>(alive_), self = this, generation = generation_,
                       snapshot = std::move(snapshot)] {
            ReadResult result;
            try {
                // Reads until the round's time is up, and leaves the rest
                // to the next beat.
                const std::int64_t start = now();
                result = refresh(connection, calls, *snapshot, [&] { return now() - start < kRoundBudgetNs; });
            } catch (const std::exception&) {
                // The service's lock could not be taken, or memory ran out
                // while formatting: the result stays NotRun and the rows
                // turn stale.
            }
            // The worker never touches the inspector; the UI thread applies
            // the result if the inspector is still there.
            post([alive, self, generation, readOn = snapshot->connection, readable = snapshot->readable,
                  rows = std::move(snapshot->rows), result = std::move(result)]() mutable {
                if (alive.expired()) return;
                self->apply(generation, readOn, readable, std::move(rows), std::move(result));
            });
        });
    } catch (const std::exception& e) {
        // Only a stopped pool refuses work, at the very end of the program.
        refreshing_ = false;
        Logger::log(LogLevel::Warn, "Inspector refresh not started: {}", e.what());
    }
}

ReadResult TagInspector::refresh(PlcConnection* connection, const ReadCalls& calls, const Snapshot& snapshot,
                                 const std::function<bool()>& goOn) {
    // Not connected: the library is not asked, and the result says so.
    ReadResult result;
    connection->withConnection(snapshot.connection, [&](vemoc_s7_client* client) {
        if (connection->getState() != ConnectionState::Connected) return;
        result = readInChunks(client, snapshot.addresses, snapshot.datatypes, calls, goOn);
    });
    return result;
}

void TagInspector::apply(std::uint64_t generation, std::uint64_t readOn, std::size_t readable,
                         std::vector<std::size_t> rows, ReadResult result) {
    refreshing_ = false;
    // A late result for rows that have changed since: the next refresh reads
    // them anew.
    if (generation != generation_) return;
    if (!result.ok() || result.values.size() > rows.size()) {
        lastRound_ = {};
        markStale();
        return;
    }
    // Rows of the connection the last marking spared stay as it left them;
    // any others set live here have to be looked at again.
    if (staleExcept_ != readOn) staleMarked_ = false;
    const auto readAt = std::chrono::system_clock::now();
    const std::size_t read = result.values.size();
    for (std::size_t k = 0; k < read; ++k) {
        applyReading(rows_[rows[k]], result.values[k], readAt);
    }
    lastRound_ = Round{read, readable};
    // The next round begins after the last row read, so that a table too
    // large for one beat is read all through; one that was read whole is
    // read from its first row again, in the table's order.
    if (read >= readable) {
        cursor_ = 0;
    } else if (read > 0) {
        cursor_ = rows[read - 1] + 1;
    }
}

bool TagInspector::writesAllowed() const { return connection_->writesAllowed(); }

bool TagInspector::notAnswering() const { return connection_->notAnswering(connection_->now()); }

std::string TagInspector::controllerAddress() const {
    const ConnectionStatus status = connection_->status();
    return fmt::format("{}:{}", status.host, status.port);
}

// What a write gives back to the UI thread.
struct TagInspector::WriteDone {
    bool notAllowed = false;       // the permission was gone when the worker got to it
    WriteResult written;           // the chunked write's; NotRun when not made (no connection)
    ReadResult readBack;           // after a write the controller took
    std::uint64_t connection = 0;  // the connection it was made on
};

std::string TagInspector::write(std::string_view name, OwnedValue value) {
    if (!connection_->writesAllowed()) return "writing is not allowed on this connection";
    const auto it = std::find_if(rows_.begin(), rows_.end(), [&](const InspectorRow& r) { return r.name == name; });
    if (it == rows_.end()) return "no such variable in the inspector";
    if (it->state == RowState::Missing) return "the controller's program has no variable of this name any more";
    if (it->state == RowState::Unreadable) return "the block of this variable could not be read from the controller";
    if (it->connection != connection_->connectionId() || connection_->getState() != ConnectionState::Connected) {
        return "the variable is not found on the live connection yet";
    }
    if (it->writeState == WriteState::Pending) return "a write to this variable is still out";
    // Back in the form the controller sends it in, where it has a choice.
    value = inFormOf(std::move(value), it->datatype, it->value);
    if (value == nullptr) return "no value to write";

    // The worker's own copies: the row may go while the write runs.
    auto path = std::make_shared<std::vector<std::uint32_t>>(it->path.begin(), it->path.end());
    const s7_item_address address{it->objectId, it->attributeId, nullptr, 0};
    std::shared_ptr<s7_value> shared(value.release(), ValueRelease{});
    it->writeState = WriteState::Pending;
    it->writeNote = "writing...";
    try {
        hooks_.submit([connection = connection_, calls = hooks_.calls, write = hooks_.write, post = hooks_.post,
                       alive = std::weak_ptr<int>(alive_), self = this, rowName = it->name, datatype = it->datatype,
                       bound = it->connection, path, address, shared] {
            WriteDone done;
            done.connection = bound;
            try {
                // Only on the connection whose browse gave the address.
                connection->withConnection(bound, [&](vemoc_s7_client* client) {
                    if (connection->getState() != ConnectionState::Connected) return;
                    if (!connection->writesAllowed()) {
                        done.notAllowed = true;
                        return;
                    }
                    s7_item_address item = address;
                    item.path = path->data();
                    item.path_count = static_cast<std::uint32_t>(path->size());
                    const s7_value* values[] = {shared.get()};
                    // The chunked write, as vemo-s7's: one path for one row
                    // or many, each value sent once.
                    done.written =
                        writeInChunks(client, std::span(&item, 1), values, WriteCalls{calls.maxReadItems, write});
                    if (!done.written.allWritten()) return;
                    const std::uint8_t datatypes[] = {datatype};
                    done.readBack = readInChunks(client, std::span(&item, 1), datatypes, calls);
                });
            } catch (const std::exception&) {
                // The service's lock could not be taken: reported as not
                // connected, nothing was sent.
            }
            post([alive, self, rowName, done = std::move(done)]() mutable {
                if (alive.expired()) return;
                self->finishWrite(rowName, std::move(done));
            });
        });
    } catch (const std::exception& e) {
        it->writeState = WriteState::Failed;
        it->writeNote = "not written: the program is shutting down";
        Logger::log(LogLevel::Warn, "Write not started: {}", e.what());
        return it->writeNote;
    }
    return {};
}

void TagInspector::finishWrite(const std::string& name, WriteDone done) {
    const auto it = std::find_if(rows_.begin(), rows_.end(), [&](const InspectorRow& r) { return r.name == name; });
    if (it == rows_.end()) return;
    InspectorRow& row = *it;
    const std::string when = fmt::format(
        "{:%H:%M:%S}", fmt::localtime(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now())));
    row.writeState = WriteState::Failed;
    const WriteResult& written = done.written;
    const ItemWrite item = written.items.empty() ? ItemWrite{} : written.items.front();
    // Nothing was sent without a connection to send it on.
    const std::uint8_t code =
        written.status == WriteResult::Status::NotRun ? std::uint8_t{S7_ERR_NOT_CONNECTED} : written.code;
    const std::string why = code != S7_OK ? describeFailure(code, PlcConnection::kConnectTimeoutMs).what
                                          : std::string("the library answered without a result");
    if (done.notAllowed) {
        row.writeNote = "not written: writing was turned off before it was sent";
    } else if (item.outcome == ItemOutcome::NotWritten) {
        row.writeNote = fmt::format("not written: {}", why);
        Logger::log(LogLevel::Warn, "Writing {} failed: {} ({})", name, s7_result_name(code), code);
    } else if (item.outcome == ItemOutcome::MayBeWritten) {
        // The request went out and no answer came back: the controller may
        // hold the new value or the old one.
        row.writeState = WriteState::Unconfirmed;
        row.writeNote = fmt::format("may have been written: {}", why);
        Logger::log(LogLevel::Warn, "Writing {} not confirmed: {} ({})", name, s7_result_name(code), code);
    } else if (item.outcome == ItemOutcome::Refused) {
        row.writeNote = fmt::format("not written: the controller refused it (16#{:04X})", item.error);
        Logger::log(LogLevel::Warn, "Writing {} refused by the controller: 16#{:04X}", name, item.error);
    } else {
        row.writeState = WriteState::Written;
        Logger::log(LogLevel::Info, "Wrote {}", name);
        // A value read back from a controller the row no longer belongs to
        // is not shown.
        if (done.readBack.ok() && done.readBack.values.size() == 1 && row.connection == done.connection) {
            staleMarked_ = false;
            applyReading(row, done.readBack.values[0], std::chrono::system_clock::now());
            row.writeNote = fmt::format("written at {}, value read back", when);
        } else {
            row.writeNote = fmt::format("written at {}; reading it back failed", when);
        }
    }
}

}  // namespace vemo
