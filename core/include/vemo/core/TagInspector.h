// The list of tags the operator watches, and its periodic refresh.
//
// Rows are added from the tree view and removed from the inspector view, all
// on the UI thread. At most once a second, and never while the previous
// refresh is still out, update() hands a snapshot of the rows to the pool's
// worker, which reads every value under the connection service's lock, in
// chunks of the controller's item limit (readInChunks), and posts the texts
// back to the UI thread through the post hook. A result is applied only if
// the rows have not changed since the snapshot (the generation counter says
// so); otherwise, and after any failure, the previous texts stay.
//
// The inspector knows no UI toolkit: whoever builds it says how a result
// reaches the UI thread (the program's main window passes the toolkit's
// dispatch to the main thread).
//
// Rows borrow the s7_symbol records of the tree view's loaded symbol lists
// (name and identity). The refresh does not: its snapshot holds copies of the
// item addresses, so a reload of the tree while a read is out cannot make the
// worker read a released record.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vemo/core/ChunkedRead.h"
#include "vemo/s7browse.h"

namespace vemo {

class PlcConnection;
class ThreadPool;

struct InspectorRow {
    std::string_view name;           // the tag's full name, a view into its s7_symbol (NUL-terminated there)
    std::string_view typeName;       // s7_datatype_name of the tag's data type; static text
    std::string valueText;           // the last value read; empty until the first successful refresh
    const s7_symbol* tag = nullptr;  // identity of the row; not owned
};

class TagInspector {
public:
    // The shortest time between the starts of two refreshes.
    static constexpr std::int64_t kRefreshIntervalNs = 1'000'000'000;

    // Where the inspector's work runs, where its results go and what time it
    // is. post has no default; submit defaults to the pool's worker, now to
    // a monotonic clock in nanoseconds, calls to the library's.
    struct Hooks {
        std::function<void(std::function<void()>)> submit;  // runs the refresh on the worker
        std::function<void(std::function<void()>)> post;    // runs the result on the UI thread
        std::function<std::int64_t()> now;                  // nanoseconds
        ReadCalls calls;
    };

    // An inspector over the given service and pool, which must outlive every
    // refresh it starts (stop the pool first). Throws std::invalid_argument
    // without a post hook; other empty hooks take their defaults.
    TagInspector(PlcConnection& connection, ThreadPool& pool, Hooks hooks);
    ~TagInspector();
    TagInspector(const TagInspector&) = delete;
    TagInspector& operator=(const TagInspector&) = delete;

    // Appends a row for `tag` unless a row has that tag already. Null is ignored.
    void add(const s7_symbol* tag);
    // Removes the row of `tag`, keeping the order of the others.
    void remove(const s7_symbol* tag);
    // Removes every row.
    void clear();
    const std::vector<InspectorRow>& rows() const { return rows_; }
    // Changes with every add, every remove that removed a row and every clear
    // of a non-empty list.
    std::uint64_t generation() const { return generation_; }
    bool refreshing() const { return refreshing_; }

    // Once per frame: starts a refresh when one is due.
    void update();

private:
    struct Snapshot;

    void apply(std::uint64_t generation, ReadResult result);
    static ReadResult refresh(PlcConnection* connection, const ReadCalls& calls, const Snapshot& snapshot);

    PlcConnection* connection_;
    Hooks hooks_;
    std::vector<InspectorRow> rows_;
    std::int64_t lastRefresh_ = 0;
    std::uint64_t generation_ = 0;
    bool refreshing_ = false;
    // Expires with the inspector: a result posted after it is gone is dropped.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace vemo
