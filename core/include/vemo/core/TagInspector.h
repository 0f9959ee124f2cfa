// The list of tags the operator watches, and its periodic refresh.
//
// Rows are added from the tree view and removed from the inspector view, all
// on the UI thread. Once a second, on a steady beat, and never while the
// previous refresh is still out, update() hands a snapshot of the rows to
// the pool's worker, which reads their values under the connection service's lock, in
// chunks of the controller's item limit (readInChunks), and posts the
// results back to the UI thread through the post hook. A table too large
// for one beat is read in rounds (kRowsPerRound, kRoundBudgetNs), each
// going on where the last stopped; lastRound() says how much one read. A result is applied
// only if the rows have not changed since the snapshot (the generation
// counter says so).
//
// A row keeps its last good value when a refresh fails or the connection is
// lost: it turns stale (the views dim it) and remembers when that value was
// read. A variable the controller refuses shows the controller's error code
// in its row while the others go on refreshing; so does one whose answer does
// not fit its data type, with what the controller sent instead: that answer
// is no value, so it never takes the place of the last good one.
//
// Rows own their names and item addresses: they outlive the tree's symbol
// lists. When the tree loads anew (after a reconnect, say), rebind() finds
// each row's variable again by name; a variable no longer there leaves its
// row marked missing, one in a block that could not be browsed marks it
// unreadable. Either way the row stays, with its name, type and format, and
// the next browse that finds the variable brings it back. Rows of a watch
// list are added by name (addUnresolved) and found the same way.
//
// An item address means something only to the controller whose browse gave
// it, so every row remembers the connection it was resolved on and is read
// only on that connection (PlcConnection::withConnection). After any new
// connection - a reconnect, a connect to the same controller or to another
// one - the rows wait, dimmed, until the next browse finds them again by
// name: a value read from one controller never shows against a row
// resolved on another. Rows are added only from a browse of the live
// connection. When the controller changes, forgetValues() drops what the
// rows showed of the previous one; their names and formats stay.
//
// The inspector knows no UI toolkit: whoever builds it says how a result
// reaches the UI thread (the program's main window passes the toolkit's
// dispatch to the main thread).
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vemo/core/ChunkedRead.h"
#include "vemo/core/ChunkedWrite.h"
#include "vemo/core/OwnedLists.h"
#include "vemo/s7browse.h"
#include "vemo/s7write.h"

namespace vemo {

class PlcConnection;
class ThreadPool;
struct WatchRow;

enum class RowState : std::uint8_t {
    Waiting,     // added, no value read yet
    Live,        // the last refresh read its value
    Stale,       // the last refresh failed, or the connection is lost: the text is the last good value
    Refused,     // the controller refused to read it: `refusal` says with what code
    Mismatch,    // the controller's answer does not fit the data type: `mismatch` says what it sent
    Missing,     // the controller's program has no variable of that name any more
    Unreadable,  // the block it would be in could not be browsed: `browseFailure` says with what code
};

// What the last write to a row did.
enum class WriteState : std::uint8_t {
    None,         // never written
    Pending,      // sent to the worker, not answered yet
    Written,      // the controller took it; the value shown is the one read back
    Failed,       // not written: `writeNote` says why
    Unconfirmed,  // the request went out, its answer never came: the value may have been written
};

// An item address's path, kept in the row itself up to kInline entries (the
// paths of a data block's members and array elements are that short), on
// the heap beyond: a million rows need no million small allocations.
class ItemPath {
public:
    static constexpr std::size_t kInline = 4;

    ItemPath() = default;
    ItemPath(const ItemPath& other) { assign(other.begin(), other.end()); }
    ItemPath& operator=(const ItemPath& other) {
        if (this != &other) assign(other.begin(), other.end());
        return *this;
    }
    ItemPath(ItemPath&&) noexcept = default;
    ItemPath& operator=(ItemPath&&) noexcept = default;
    ~ItemPath() = default;

    void assign(const std::uint32_t* first, const std::uint32_t* last);
    const std::uint32_t* data() const { return heap_ ? heap_.get() : inline_.data(); }
    std::uint32_t* data() { return heap_ ? heap_.get() : inline_.data(); }
    const std::uint32_t* begin() const { return data(); }
    const std::uint32_t* end() const { return data() + size_; }
    std::uint32_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool operator==(const ItemPath& other) const { return std::equal(begin(), end(), other.begin(), other.end()); }

private:
    std::array<std::uint32_t, kInline> inline_{};
    std::uint32_t size_ = 0;
    std::unique_ptr<std::uint32_t[]> heap_;  // only for a path longer than kInline
};

struct InspectorRow {
    std::string name;           // the tag's full name; the row's identity
    std::string_view typeName;  // s7_datatype_name of the tag's data type; static text
    std::uint8_t datatype = 0;
    DisplayFormat format = DisplayFormat::Dec;  // how the value column shows it: defaultFormat(datatype) when added
    RowState state = RowState::Waiting;
    WriteState writeState = WriteState::None;
    ReadValue value;  // the last good value itself, shown in `format`; none until the first one
    std::optional<std::uint64_t> refusal;  // while Refused: the controller's error code
    std::optional<TypeMismatch> mismatch;  // while Mismatch: what was sent for the data type
    std::uint8_t browseFailure = 0;        // while Unreadable: the result code of its block's browse
    // When `value` was read, in wall-clock time; nullopt before the first value.
    std::optional<std::chrono::system_clock::time_point> lastGood;
    std::string writeNote;  // the last write's outcome in words; empty before the first
    // Where the variable is read: the item address's identifiers and path.
    std::uint32_t objectId = 0;
    std::uint32_t attributeId = 0;
    ItemPath path;
    // The connection whose browse gave the address (PlcConnection::connectionId).
    std::uint64_t connection = 0;
};

class TagInspector {
public:
    // The beat of the refresh: one starts every interval, counted from the
    // first, as long as update() is called in time; one that starts late
    // does not shift the next. After a pause of more than an interval (a
    // refresh that took long, no rows, no connection) the beat starts anew.
    static constexpr std::int64_t kRefreshIntervalNs = 1'000'000'000;

    // Where the inspector's work runs, where its results go and what time it
    // is. post has no default; submit defaults to the pool's worker, now to
    // a monotonic clock in nanoseconds, calls to the library's.
    struct Hooks {
        std::function<void(std::function<void()>)> submit;  // runs the refresh on the worker
        std::function<void(std::function<void()>)> post;    // runs the result on the UI thread
        std::function<std::int64_t()> now;                  // nanoseconds
        ReadCalls calls;
        std::uint8_t (*write)(vemoc_s7_client*, const s7_item_address* const*, const s7_value* const*, std::uint32_t,
                              s7_write_result**) = vemoc_s7_client_write;
    };

    // An inspector over the given service and pool, which must outlive every
    // refresh it starts (stop the pool first). Throws std::invalid_argument
    // without a post hook; other empty hooks take their defaults.
    TagInspector(PlcConnection& connection, ThreadPool& pool, Hooks hooks);
    ~TagInspector();
    TagInspector(const TagInspector&) = delete;
    TagInspector& operator=(const TagInspector&) = delete;

    // Appends a row for `tag`, browsed on connection `browsedOn` (the
    // current one when not given), unless a row has its name already. Only
    // a variable of the live connection is taken: false, and nothing added,
    // while not connected, for a browse of another connection, and for
    // null. The row copies what it needs: `tag` may go away.
    bool add(const s7_symbol* tag, std::optional<std::uint64_t> browsedOn = std::nullopt);
    // The same for many tags, in their order, in time linear in the rows
    // and tags (a whole array of a hundred thousand elements at once).
    // Returns how many rows were added.
    std::size_t add(std::span<const s7_symbol* const> tags, std::optional<std::uint64_t> browsedOn = std::nullopt);
    // Removes the row of that name, keeping the order of the others.
    void remove(std::string_view name);
    // Removes the rows of these names, keeping the order of the others, in
    // one pass over the rows (time linear in rows and names, one change of
    // the generation). Names without a row are passed over. Returns how
    // many rows were removed.
    std::size_t remove(std::span<const std::string> names);
    // Removes every row. A large list is released on the worker: freeing a
    // million rows takes longer than a frame.
    void clear();
    // Appends a row for each variable named by `rows` (full name, data type
    // name, format) that no row has yet, in their order: known by name only,
    // marked missing and read nowhere until rebind() finds its variable.
    // Returns how many rows were added.
    std::size_t addUnresolved(const std::vector<WatchRow>& rows);
    // Finds every row's variable again through `find` (by full name; null:
    // there is none), after the symbols were loaded anew on connection
    // `browsedOn` (the current one when not given); the rows are read on
    // that connection from now on. A row `find` does not find is missing,
    // or unreadable when `browseFailure` gives the failed browse's code of
    // the block it would be in (S7_OK, or no function: the block was read).
    void rebind(const std::function<const s7_symbol*(const std::string&)>& find,
                std::optional<std::uint64_t> browsedOn = std::nullopt,
                const std::function<std::uint8_t(const std::string&)>& browseFailure = {});
    // Drops every row's value, refusal, mismatch and write outcome - what it
    // showed of the controller before - keeping names and formats; the rows
    // wait for their first value again.
    void forgetValues();
    const std::vector<InspectorRow>& rows() const { return rows_; }
    // Shows the named row in `format`, or in the format of that name ("IEC",
    // "hex"). Only the formats its data type offers (formatsFor) are taken:
    // false, and nothing changed, for another one, an unknown name or no
    // such row. A row shows its kept value in the new format at once.
    bool setFormat(std::string_view name, DisplayFormat format);
    bool setFormat(std::string_view name, std::string_view formatName);
    // Changes with every add, every remove that removed a row, every clear
    // of a non-empty list, every rebind and every forgetValues.
    std::uint64_t generation() const { return generation_; }
    bool refreshing() const { return refreshing_; }

    // Once per frame: starts a refresh of the rows resolved on the live
    // connection when one is due; marks the rows stale that cannot be read
    // (all of them while not connected). Costs nothing per row in a frame
    // without a refresh or a change of the connection.
    void update();
    // A refresh reads at most kRowsPerRound rows, and stops between two
    // requests once it has read for kRoundBudgetNs: a table larger than one
    // beat can read is read in rounds, each beat going on where the last
    // one stopped, and the worker is free again for the next beat.
    static constexpr std::size_t kRowsPerRound = 50'000;
    static constexpr std::int64_t kRoundBudgetNs = 700'000'000;
    // What the last refresh that came back read: `read` of the `readable`
    // rows (those resolved on the live connection). complete() once one
    // round reads them all.
    struct Round {
        std::size_t read = 0;
        std::size_t readable = 0;
        bool complete() const { return read >= readable; }
    };
    const Round& lastRound() const { return lastRound_; }
    // Nanoseconds from now until update() starts the next refresh (0 when
    // the next update does): while rows wait for it on a standing
    // connection. nullopt while a refresh is out (its result is posted),
    // without rows, or without a connection: then nothing is due by the
    // clock alone.
    std::optional<std::int64_t> nextRefreshIn() const;

    // Writes `value` to the variable of the row named `name` on the worker,
    // under the service's lock, then reads it back: the row's value becomes
    // the one read back and its write state and note say how it went. The
    // permission is checked again under the lock, so a write confirmed just
    // before the operator turned writing off (or the connection changed) is
    // not sent. Returns why nothing was sent - writing is not allowed on
    // this connection, no row has that name, its variable is gone from the
    // program, its block could not be read, it is not resolved on the live
    // connection, a write to it is
    // still out - or an empty text. Takes the
    // value in every case.
    std::string write(std::string_view name, OwnedValue value);
    // Whether the operator allows writing on the connection at hand, and
    // that connection's "host:port" as a confirmation names it.
    bool writesAllowed() const;
    // The controller keeps a read waiting past PlcConnection::kNotAnsweringAfter:
    // the values shown may be out of date.
    bool notAnswering() const;
    std::string controllerAddress() const;

private:
    struct Snapshot;

    struct WriteDone;

    void apply(std::uint64_t generation, std::uint64_t readOn, std::size_t readable, std::vector<std::size_t> rows,
               ReadResult result);
    // Hands rows no longer wanted to the worker to be freed there.
    void release(std::vector<InspectorRow> rows);
    void finishWrite(const std::string& name, WriteDone done);
    // Live and waiting rows turn stale, but those read on `except`.
    void markStale(std::optional<std::uint64_t> except = std::nullopt);
    static ReadResult refresh(PlcConnection* connection, const ReadCalls& calls, const Snapshot& snapshot,
                              const std::function<bool()>& goOn);

    PlcConnection* connection_;
    Hooks hooks_;
    std::vector<InspectorRow> rows_;
    std::int64_t lastRefresh_ = 0;
    std::uint64_t generation_ = 0;
    bool refreshing_ = false;
    // Where the next round of the refresh starts: the row after the last
    // one read.
    std::size_t cursor_ = 0;
    Round lastRound_;
    // The last markStale that ran, and for which rows: another one finds
    // nothing to do until the rows change (the generation), a result sets
    // rows live again, or it is asked for other rows. A frame then does not
    // walk a million rows to find none.
    bool staleMarked_ = false;
    std::uint64_t staleGeneration_ = 0;
    std::optional<std::uint64_t> staleExcept_;
    // How many rows are resolved on the live connection, counted once per
    // change of the rows or of the connection.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> readableFor_;  // generation, connection
    std::size_t readable_ = 0;
    // Expires with the inspector: a result posted after it is gone is dropped.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace vemo
