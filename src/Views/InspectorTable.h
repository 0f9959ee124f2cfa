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
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <map>
#include <set>
#include <string>
#include <string_view>
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

    // Once per frame, before drawing, with the inspector's rows: starts the
    // highlight of every value that changed since the last call (not of a
    // first value) and forgets rows that are gone, selected or not.
    void sync(const std::vector<InspectorRow>& rows);

    void setSort(Sort sort) { sort_ = sort; }
    Sort sort() const { return sort_; }
    // Indices into `rows`, in the order shown. Names sort as people read
    // them: letters without regard to case, digits by their number
    // ("Motor2" before "Motor10", "[9]" before "[10]"). Rows that sort
    // alike keep the order they were added in.
    std::vector<std::size_t> order(const std::vector<InspectorRow>& rows) const;

    // A click on the row named `name`: alone it selects just that row;
    // `toggle` (Ctrl) adds or removes it; `extend` (Shift) selects the rows
    // from the last row clicked without Shift to this one, in the order
    // shown, instead of the selection, or in addition to it with `toggle`.
    void click(const std::vector<InspectorRow>& rows, const std::string& name, bool toggle, bool extend);
    void selectAll(const std::vector<InspectorRow>& rows);
    void clearSelection();
    bool isSelected(std::string_view name) const { return selected_.find(name) != selected_.end(); }
    // How many rows are selected, as of the last sync.
    std::size_t selectedCount() const { return selected_.size(); }
    // The names of the selected rows, in the order shown.
    std::vector<std::string> selected(const std::vector<InspectorRow>& rows) const;

    // How strongly the row's value cell is highlighted: 1 when its value
    // just changed, fading to 0 over kFade in steps.
    float highlight(std::string_view name) const;
    // When the next highlight step falls due: the window has to be drawn
    // then. nullopt while nothing fades.
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
        std::chrono::steady_clock::time_point changedAt;
    };

    Clock now_;
    Sort sort_;
    std::set<std::string, std::less<>> selected_;
    std::string anchor_;  // the row Shift+click extends from; empty: none
    std::map<std::string, Seen, std::less<>> seen_;
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
