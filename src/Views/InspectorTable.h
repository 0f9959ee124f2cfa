// What the inspector's table keeps besides the rows themselves, without a
// window: the order it shows them in, which of them the operator selected,
// which values changed a moment ago, and the rows as text for the clipboard
// and for a CSV file.
//
// The order is the view's own: the TagInspector keeps its rows in the order
// they were added, which its refresh relies on, and the table sorts indices
// into them. A row's value therefore never leaves its row, whatever the
// order, and a row added while the table is sorted takes its place at once.
// Rows are known by name, which is unique among them.
//
// Nothing here walks every row in every frame: a table of a million rows
// costs a frame only what it draws. The order shown is sorted anew only when
// the rows or the sort change, a slice per frame (kSortBudget), the rows
// shown in the order they were added in until it is done; the selection is
// checked against the rows only when they change; and values are watched
// for changes only in the rows drawn.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "vemo/core/ValueFormat.h"

namespace vemo {

struct InspectorRow;

class InspectorTable {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // How long a changed value's cell stays highlighted, fading out in
    // kFadeSteps steps. Each step is a frame of its own, and twenty values
    // that change every second would keep a smooth fade drawing all the
    // time: one step, on for kFade and then off, keeps the window at rest.
    static constexpr std::chrono::milliseconds kFade{500};
    static constexpr int kFadeSteps = 1;

    enum class SortKey { None, Name, Type };
    struct Sort {
        SortKey key = SortKey::None;  // None: the order the rows were added in
        bool descending = false;
        bool operator==(const Sort&) const = default;
    };

    // `now` is the clock the highlights fade by; the steady clock without it.
    explicit InspectorTable(Clock now = {});
    void setClock(Clock now);

    // How long a frame goes on sorting the rows anew.
    static constexpr std::chrono::milliseconds kSortBudget{6};

    // Once per frame, before drawing, with the inspector's rows and their
    // generation (TagInspector::generation): when that changed, forgets the
    // selected rows that are gone and sorts anew; goes on sorting for up to
    // `budget` (at least a thousand steps of it); forgets the values of rows
    // not drawn in the last frame.
    void sync(const std::vector<InspectorRow>& rows, std::uint64_t generation,
              std::chrono::nanoseconds budget = kSortBudget);

    void setSort(Sort sort);
    // Sorts the rows of the last sync for up to `budget`, when they are not
    // shown sorted yet: what sync does, for a sort set after it.
    void continueSort(const std::vector<InspectorRow>& rows, std::chrono::nanoseconds budget = kSortBudget);
    Sort sort() const { return sort_; }
    // Indices into `rows`, in the order of the sort, at once. Names sort as
    // people read them: letters without regard to case, digits by their
    // number ("Motor2" before "Motor10", "[9]" before "[10]"). Rows that
    // sort alike keep the order they were added in.
    std::vector<std::size_t> order(const std::vector<InspectorRow>& rows) const;
    // The index into the rows of the one shown at `position`: in the order
    // of the sort once sync has done it for these rows, until then in the
    // order they were added in.
    std::size_t rowAt(std::size_t position) const;
    // Whether the rows are still being sorted (and shown as added).
    bool sorting() const { return work_.has_value(); }

    // A click on the row named `name`: alone it selects just that row;
    // `toggle` (Ctrl) adds or removes it; `extend` (Shift) selects the rows
    // from the last row clicked without Shift to this one, in the order
    // shown, instead of the selection, or in addition to it with `toggle`.
    void click(const std::vector<InspectorRow>& rows, const std::string& name, bool toggle, bool extend);
    void selectAll(const std::vector<InspectorRow>& rows);
    void clearSelection();
    // Takes these rows out of the selection (they were removed).
    void deselect(const std::vector<std::string>& names);
    bool isSelected(std::string_view name) const { return selected_.find(name) != selected_.end(); }
    // How many rows are selected, as of the last sync.
    std::size_t selectedCount() const { return selected_.size(); }
    // The names of the selected rows, in the order shown.
    std::vector<std::string> selected(const std::vector<InspectorRow>& rows) const;

    // While drawing `row`: how strongly its value cell is highlighted, 1
    // when its value changed since the row was last drawn (not its first
    // value), fading to 0 over kFade in steps.
    float highlight(const InspectorRow& row);
    // The same for the row of that name as it was last drawn; 0 for a row
    // not drawn lately.
    float highlight(std::string_view name) const;
    // When the next highlight step of a row drawn falls due: the window has
    // to be drawn then. nullopt while nothing fades.
    std::optional<std::chrono::steady_clock::time_point> nextHighlightStep() const;

    // The selected rows as a spreadsheet takes them from the clipboard: one
    // line each, in the order shown, with name, type, format and the value
    // as shown, separated by tabs; quoted as in CSV where a field holds a
    // tab, a line break or a quote. `header` adds the columns' titles first.
    std::string copyText(const std::vector<InspectorRow>& rows, bool header) const;
    // Every row in the order shown as CSV (RFC 4180): a header line, then
    // name, datatype, format, the last good value in the row's format, its
    // status ("live", "waiting", "stale", or why there is no live value)
    // and when that value was read (localIsoTime; empty before the first).
    std::string csvText(const std::vector<InspectorRow>& rows) const;

private:
    struct Seen {
        ReadValue value;
        bool changed = false;
        bool drawn = true;  // drawn since the last sync
        std::chrono::steady_clock::time_point changedAt;
    };
    // A bottom-up merge sort of row indices that stops when its time is up
    // and goes on from there in the next frame; stable, as merging takes
    // the earlier run's row of two alike.
    struct SortWork {
        std::vector<std::uint32_t> from;
        std::vector<std::uint32_t> to;
        std::size_t width = 1;  // of the sorted runs being merged in pairs
        std::size_t lo = 0;     // where the pair being merged starts
        std::size_t i = 0;      // next of the first run
        std::size_t j = 0;      // next of the second run
        std::size_t k = 0;      // next place in `to`
    };
    struct Name {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };

    // The shown order, for the rows named by the generation and for the sort.
    bool shownIsCurrent(std::size_t rows) const;
    void startSort(const std::vector<InspectorRow>& rows);
    // Calls `each` with the index of every row in the order shown.
    template <typename Each>
    void forEachShown(const std::vector<InspectorRow>& rows, Each each) const;

    Clock now_;
    Sort sort_;
    std::unordered_set<std::string, Name, std::equal_to<>> selected_;
    std::string anchor_;  // the row Shift+click extends from; empty: none
    std::map<std::string, Seen, std::less<>> seen_;  // the rows drawn lately
    std::optional<std::uint64_t> generation_;        // of the rows of the last sync
    std::optional<SortWork> work_;
    std::vector<std::uint32_t> shown_;  // the sorted order, once done
    std::optional<std::uint64_t> shownGeneration_;
    Sort shownSort_;
};

// "2026-12-10T14:03:22.123+01:00": local time with milliseconds and the
// offset from UTC, as ISO 8601 writes it.
std::string localIsoTime(std::chrono::system_clock::time_point at);
// What the export offers as a file name: "~/vemo-watch-20261210-140322.csv".
std::string defaultExportName(std::chrono::system_clock::time_point at);
// The file an export writes to for the name typed: "~" and "~/..." are in
// the home folder, and so is a relative name (the program has no folder the
// operator would know). Empty for an empty name.
std::filesystem::path exportPath(std::string_view typed);

}  // namespace vemo
