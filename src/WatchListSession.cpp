#include "WatchListSession.h"

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
        for (const InspectorRow& row : inspector_->rows()) {
            list.rows.push_back(WatchRow{row.name, std::string(row.typeName), row.format});
        }
    }
    list.write(file);
    path_ = file;
}

void WatchListSession::open(const std::filesystem::path& file) {
    WatchList list = WatchList::read(file);
    path_ = file;
    waiting_ = std::move(list);
}

std::vector<std::string> WatchListSession::resolve(const TreeModel* tree) {
    if (!waiting_ || tree == nullptr) return {};
    const WatchList list = std::move(*waiting_);
    waiting_.reset();
    return fill(list, *tree);
}

std::vector<std::string> WatchListSession::fill(const WatchList& list, const TreeModel& tree) {
    std::vector<std::string> missing;
    inspector_->clear();
    for (const WatchRow& row : list.rows) {
        const s7_symbol* symbol = tree.findSymbol(row.name);
        if (symbol == nullptr) {
            missing.push_back(row.name);
            continue;
        }
        inspector_->add(symbol);
        // Refused, and the row keeps its type's default, when the variable
        // is of another type now.
        inspector_->setFormat(row.name, row.format);
    }
    return missing;
}

}  // namespace vemo
