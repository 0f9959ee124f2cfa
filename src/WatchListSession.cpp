#include "WatchListSession.h"

#include <string_view>
#include <unordered_map>
#include <utility>

#include "Views/TreeModel.h"
#include "vemo/core/TagInspector.h"

namespace vemo {

WatchListSession::WatchListSession(TagInspector& inspector) : inspector_(&inspector) {}

void WatchListSession::save(const std::filesystem::path& file) {
    WatchList list;
    if (waiting_) {
        // Nothing could be added to the inspector while the list waits.
        list = *waiting_;
    } else {
        // Every row, found in the controller or not: a list opened on the
        // wrong controller is saved whole.
        for (const InspectorRow& row : inspector_->rows()) {
            list.rows.push_back(WatchRow{row.name, std::string(row.typeName), row.format});
        }
    }
    list.write(file);
    path_ = file;
}

std::size_t WatchListSession::rowsToSave() const {
    return waiting_ ? waiting_->rows.size() : inspector_->rows().size();
}

void WatchListSession::open(const std::filesystem::path& file) {
    WatchList list = WatchList::read(file);
    path_ = file;
    waiting_ = std::move(list);
}

std::optional<WatchListSession::Resolved> WatchListSession::resolve(const TreeModel* tree, std::uint64_t browsedOn) {
    if (!waiting_ || tree == nullptr) return std::nullopt;
    const WatchList list = std::move(*waiting_);
    waiting_.reset();
    return fill(list, *tree, browsedOn);
}

WatchListSession::Resolved WatchListSession::fill(const WatchList& list, const TreeModel& tree,
                                                  std::uint64_t browsedOn) {
    // Every row goes in by name, and is found the way a reload finds rows:
    // those the tree lacks stay, marked.
    inspector_->clear();
    inspector_->addUnresolved(list.rows);
    inspector_->rebind([&tree](const std::string& name) { return tree.findSymbol(name); }, browsedOn,
                       [&tree](const std::string& name) { return tree.browseCodeFor(name); });

    // A variable of another type now starts in that type's default; the
    // listed format still holds where the new type offers it. Only such
    // rows differ from the list.
    std::unordered_map<std::string_view, DisplayFormat> listed;
    listed.reserve(list.rows.size());
    for (const WatchRow& row : list.rows) listed.emplace(row.name, row.format);
    std::vector<std::string> retype;
    Resolved found;
    found.rows = list.rows.size();
    for (const InspectorRow& row : inspector_->rows()) {
        if (const auto it = listed.find(row.name); it != listed.end() && it->second != row.format) {
            retype.push_back(row.name);
        }
        if (row.state == RowState::Missing) found.missing.push_back(row.name);
        if (row.state == RowState::Unreadable) found.unreadable.push_back(row.name);
    }
    for (const std::string& name : retype) inspector_->setFormat(name, listed.at(name));
    return found;
}

}  // namespace vemo
