// The inspector's rows as a watch list: saved to a file, and opened from
// one into the inspector. An opened list names variables, not addresses:
// its rows are found by name in the controller's tree, at once when a tree
// is loaded, else as soon as the next one is (the list waits until then).
// A row whose variable the tree lacks is left out and named to the
// operator; one whose variable changed its data type keeps its format if
// the new type offers it, else starts in the new type's default.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "vemo/core/WatchListFile.h"

namespace vemo {

class TagInspector;
class TreeModel;

class WatchListSession {
public:
    // Works on `inspector`, which must outlive the session.
    explicit WatchListSession(TagInspector& inspector);

    // Writes the inspector's rows (or the list still waiting for a tree) to
    // `file`, which becomes the current list. Throws UserFileError.
    void save(const std::filesystem::path& file);
    // Reads the list in `file`, which becomes the current list and waits
    // for resolve() to put its rows into the inspector in place of the
    // ones there. Throws UserFileError; nothing changes then.
    void open(const std::filesystem::path& file);
    // Every frame, with the tree as it is: a waiting list goes into the
    // inspector once there is a tree. The names it did not find, when it
    // did that now; empty otherwise.
    std::vector<std::string> resolve(const TreeModel* tree);

    // The list saved or opened last; empty for none.
    const std::filesystem::path& path() const { return path_; }
    // A list is waiting for a tree.
    bool waiting() const { return waiting_.has_value(); }
    // How many rows the waiting list has; 0 when none waits.
    std::size_t waitingRows() const { return waiting_ ? waiting_->rows.size() : 0; }

private:
    std::vector<std::string> fill(const WatchList& list, const TreeModel& tree);

    TagInspector* inspector_;
    std::filesystem::path path_;
    std::optional<WatchList> waiting_;
};

}  // namespace vemo
