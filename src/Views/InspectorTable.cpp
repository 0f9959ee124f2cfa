#include "Views/InspectorTable.h"

#include <pwd.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "Views/InspectorView.h"
#include "vemo/core/Csv.h"
#include "vemo/core/TagInspector.h"

namespace vemo {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Names as people read them: ASCII letters without regard to case, runs of
// digits by their value, everything else by its bytes. Ties (names that
// differ only in case or leading zeros) fall back to the bytes, so the order
// is total and the same every frame.
int compareNames(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t iEnd = i;
            std::size_t jEnd = j;
            while (iEnd < a.size() && isDigit(a[iEnd])) ++iEnd;
            while (jEnd < b.size() && isDigit(b[jEnd])) ++jEnd;
            // Without leading zeros the longer run is the larger number.
            std::size_t iStart = i;
            std::size_t jStart = j;
            while (iStart + 1 < iEnd && a[iStart] == '0') ++iStart;
            while (jStart + 1 < jEnd && b[jStart] == '0') ++jStart;
            if (iEnd - iStart != jEnd - jStart) return iEnd - iStart < jEnd - jStart ? -1 : 1;
            if (const int c = a.substr(iStart, iEnd - iStart).compare(b.substr(jStart, jEnd - jStart)); c != 0) {
                return c;
            }
            i = iEnd;
            j = jEnd;
            continue;
        }
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[j]));
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j ? -1 : 1;
    return a.compare(b);
}

// A row's status in an export: whether its value is live, and if not why.
std::string statusText(const InspectorRow& row) {
    switch (row.state) {
    case RowState::Live: return "live";
    case RowState::Waiting: return "waiting";
    case RowState::Stale: return "stale";
    case RowState::Refused:
    case RowState::Mismatch:
    case RowState::Missing:
    case RowState::Unreadable: break;
    }
    // The words the value column shows instead of a value.
    return valueCellFor(row).text;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "/";
}

std::tm localTm(std::chrono::system_clock::time_point at) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(at));
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

}  // namespace

InspectorTable::InspectorTable(Clock now) { setClock(std::move(now)); }

void InspectorTable::setClock(Clock now) {
    now_ = now ? std::move(now) : [] { return std::chrono::steady_clock::now(); };
}

namespace {

// Whether row a comes before row b in `sort` (which is not None).
bool lessFor(const std::vector<InspectorRow>& rows, InspectorTable::Sort sort, std::size_t a, std::size_t b) {
    const InspectorRow& x = rows[sort.descending ? b : a];
    const InspectorRow& y = rows[sort.descending ? a : b];
    return sort.key == InspectorTable::SortKey::Name ? compareNames(x.name, y.name) < 0 : x.typeName < y.typeName;
}

}  // namespace

void InspectorTable::setSort(Sort sort) {
    if (sort == sort_) return;
    sort_ = sort;
    work_.reset();
}

void InspectorTable::sync(const std::vector<InspectorRow>& rows, std::uint64_t generation,
                          std::chrono::nanoseconds budget) {
    if (generation_ != generation) {
        generation_ = generation;
        work_.reset();
        // Only now can a selected row be gone; names are unique, so a row
        // of the same name is the same row.
        if (!selected_.empty() || !anchor_.empty()) {
            std::unordered_set<std::string, Name, std::equal_to<>> still;
            bool anchored = false;
            for (const InspectorRow& row : rows) {
                if (const auto it = selected_.find(row.name); it != selected_.end()) still.insert(*it);
                anchored = anchored || row.name == anchor_;
            }
            selected_ = std::move(still);
            if (!anchored) anchor_.clear();
        }
    }
    continueSort(rows, budget);
    // Values are compared only while their rows are drawn: what scrolled out
    // of view is forgotten, and starts without a highlight when it comes back.
    std::erase_if(seen_, [](const auto& entry) { return !entry.second.drawn; });
    for (auto& [name, seen] : seen_) seen.drawn = false;
}

bool InspectorTable::shownIsCurrent(std::size_t rows) const {
    return shownGeneration_ && generation_ && *shownGeneration_ == *generation_ && shownSort_ == sort_ &&
           shown_.size() == rows;
}

void InspectorTable::startSort(const std::vector<InspectorRow>& rows) {
    SortWork work;
    work.from.resize(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) work.from[i] = static_cast<std::uint32_t>(i);
    work.to.resize(rows.size());
    work.j = std::min<std::size_t>(1, rows.size());
    work_ = std::move(work);
}

void InspectorTable::continueSort(const std::vector<InspectorRow>& rows, std::chrono::nanoseconds budget) {
    if (sort_.key == SortKey::None || shownIsCurrent(rows.size())) return;
    if (!work_ || work_->from.size() != rows.size()) startSort(rows);
    const auto until = std::chrono::steady_clock::now() + budget;
    SortWork& w = *work_;
    const std::size_t n = w.from.size();
    const Sort sort = sort_;
    std::size_t steps = 0;
    while (w.width < n) {
        const std::size_t mid = std::min(w.lo + w.width, n);
        const std::size_t hi = std::min(w.lo + 2 * w.width, n);
        while (w.k < hi) {
            if (w.i < mid && (w.j >= hi || !lessFor(rows, sort, w.from[w.j], w.from[w.i]))) {
                w.to[w.k++] = w.from[w.i++];
            } else {
                w.to[w.k++] = w.from[w.j++];
            }
            // The clock is asked now and then: asking it costs more than a step.
            if (++steps % 1024 == 0 && std::chrono::steady_clock::now() >= until) return;
        }
        w.lo = hi;
        if (w.lo >= n) {
            std::swap(w.from, w.to);
            w.width *= 2;
            w.lo = 0;
        }
        w.i = w.lo;
        w.j = std::min(w.lo + w.width, n);
        w.k = w.lo;
    }
    shown_ = std::move(w.from);
    shownGeneration_ = generation_;
    shownSort_ = sort_;
    work_.reset();
}

std::size_t InspectorTable::rowAt(std::size_t position) const {
    if (sort_.key == SortKey::None || !shownGeneration_ || shownGeneration_ != generation_ || shownSort_ != sort_ ||
        position >= shown_.size()) {
        return position;
    }
    return shown_[position];
}

template <typename Each>
void InspectorTable::forEachShown(const std::vector<InspectorRow>& rows, Each each) const {
    if (sort_.key == SortKey::None) {
        for (std::size_t i = 0; i < rows.size(); ++i) each(i);
    } else if (shownIsCurrent(rows.size())) {
        for (const std::uint32_t i : shown_) each(i);
    } else {
        for (const std::size_t i : order(rows)) each(i);
    }
}

std::vector<std::size_t> InspectorTable::order(const std::vector<InspectorRow>& rows) const {
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (sort_.key == SortKey::None) return order;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return lessFor(rows, sort_, a, b); });
    return order;
}

void InspectorTable::click(const std::vector<InspectorRow>& rows, const std::string& name, bool toggle, bool extend) {
    if (extend && !anchor_.empty()) {
        // Where the two rows are shown, and which rows lie between.
        std::vector<std::size_t> shown;
        shown.reserve(rows.size());
        forEachShown(rows, [&](std::size_t i) { shown.push_back(i); });
        const auto at = [&](std::string_view n) {
            return std::find_if(shown.begin(), shown.end(), [&](std::size_t i) { return rows[i].name == n; });
        };
        auto from = at(anchor_);
        auto to = at(name);
        if (from != shown.end() && to != shown.end()) {
            if (to < from) std::swap(from, to);
            if (!toggle) selected_.clear();
            for (auto it = from; it <= to; ++it) selected_.insert(rows[*it].name);
            return;
        }
    }
    anchor_ = name;
    if (!toggle) {
        selected_.clear();
        selected_.insert(name);
    } else if (const auto it = selected_.find(name); it != selected_.end()) {
        selected_.erase(it);
    } else {
        selected_.insert(name);
    }
}

void InspectorTable::selectAll(const std::vector<InspectorRow>& rows) {
    selected_.reserve(rows.size());
    for (const InspectorRow& row : rows) selected_.insert(row.name);
}

void InspectorTable::clearSelection() {
    selected_.clear();
    anchor_.clear();
}

void InspectorTable::deselect(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        selected_.erase(name);
        if (name == anchor_) anchor_.clear();
    }
}

std::vector<std::string> InspectorTable::selected(const std::vector<InspectorRow>& rows) const {
    std::vector<std::string> names;
    if (selected_.empty()) return names;
    names.reserve(selected_.size());
    forEachShown(rows, [&](std::size_t i) {
        if (isSelected(rows[i].name)) names.push_back(rows[i].name);
    });
    return names;
}

namespace {

constexpr auto kFadeStep = InspectorTable::kFade / InspectorTable::kFadeSteps;

}  // namespace

float InspectorTable::highlight(const InspectorRow& row) {
    const auto now = now_();
    auto it = seen_.find(row.name);
    if (it == seen_.end()) {
        seen_.emplace(row.name, Seen{row.value, false, true, {}});
        return 0.0f;
    }
    Seen& seen = it->second;
    seen.drawn = true;
    if (seen.value.present && row.value.present && !(seen.value == row.value)) {
        seen.changed = true;
        seen.changedAt = now;
    }
    if (!(seen.value == row.value)) seen.value = row.value;
    if (!seen.changed) return 0.0f;
    const auto elapsed = now - seen.changedAt;
    if (elapsed >= kFade) {
        seen.changed = false;
        return 0.0f;
    }
    const auto step = elapsed / kFadeStep;
    return 1.0f - static_cast<float>(step) / static_cast<float>(kFadeSteps);
}

float InspectorTable::highlight(std::string_view name) const {
    const auto it = seen_.find(name);
    if (it == seen_.end() || !it->second.changed) return 0.0f;
    const auto elapsed = now_() - it->second.changedAt;
    if (elapsed >= kFade) return 0.0f;
    const auto step = elapsed / kFadeStep;
    return 1.0f - static_cast<float>(step) / static_cast<float>(kFadeSteps);
}

std::optional<std::chrono::steady_clock::time_point> InspectorTable::nextHighlightStep() const {
    const auto now = now_();
    std::optional<std::chrono::steady_clock::time_point> next;
    for (const auto& [name, seen] : seen_) {
        if (!seen.changed || now - seen.changedAt >= kFade) continue;
        const auto at = seen.changedAt + (((now - seen.changedAt) / kFadeStep) + 1) * kFadeStep;
        if (!next || at < *next) next = at;
    }
    return next;
}

std::string InspectorTable::copyText(const std::vector<InspectorRow>& rows, bool header) const {
    std::string text = header ? csvJoin({"Name", "Type", "Format", "Value"}, '\t') + "\n" : std::string();
    forEachShown(rows, [&](std::size_t i) {
        const InspectorRow& row = rows[i];
        if (!isSelected(row.name)) return;
        text += csvJoin({row.name, std::string(row.typeName), std::string(displayFormatName(row.format)),
                         valueCellFor(row).text},
                        '\t') +
                "\n";
    });
    return text;
}

std::string InspectorTable::csvText(const std::vector<InspectorRow>& rows) const {
    std::string text = csvLine({"name", "datatype", "format", "value", "status", "read_at"});
    forEachShown(rows, [&](std::size_t i) {
        const InspectorRow& row = rows[i];
        text += csvLine({row.name, std::string(row.typeName), std::string(displayFormatName(row.format)),
                         row.lastGood ? formatValue(row.value, row.datatype, row.format).text : std::string(),
                         statusText(row), row.lastGood ? localIsoTime(*row.lastGood) : std::string()});
    });
    return text;
}

std::string localIsoTime(std::chrono::system_clock::time_point at) {
    const std::tm local = localTm(at);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(at - std::chrono::floor<std::chrono::seconds>(at))
            .count();
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff / 60;
    const long minutes = offset < 0 ? -offset : offset;
    return fmt::format("{}.{:03}{}{:02}:{:02}", text, ms, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

std::string defaultExportName(std::chrono::system_clock::time_point at) {
    const std::tm local = localTm(at);
    char text[64];
    std::strftime(text, sizeof text, "~/vemo-watch-%Y%m%d-%H%M%S.csv", &local);
    return text;
}

std::filesystem::path exportPath(std::string_view typed) {
    std::string name(typed);
    // Spaces around a pasted name are not part of it.
    const auto first = name.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    name = name.substr(first, name.find_last_not_of(" \t") - first + 1);
    const std::filesystem::path home = homeFolder();
    if (name == "~") return home;
    if (name.starts_with("~/")) return home / name.substr(2);
    const std::filesystem::path path(name);
    return path.is_absolute() ? path : home / path;
}

}  // namespace vemo
