// The inspector's rows as a watch list: saved to a file, and opened from
// one into the inspector. An opened list names variables, not addresses:
// its rows are found by name in the controller's tree, at once when a tree
// is loaded, else as soon as the next one is (the list waits until then).
// A row whose variable the tree lacks stays in the list, marked as not in
// the controller (or as in a block that could not be read), is saved with
// it, and comes back to life with the next tree that has it - after a
// connect to the right controller, say. One whose variable changed its
// data type keeps its format if the new type offers it, else starts in the
// new type's default.
#pragma once

#include <cstdint>
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
    // What putting a list into the inspector found: the names the tree
    // lacks, and those in blocks whose browse failed, all kept as rows.
    struct Resolved {
        std::size_t rows = 0;  // how many the list had
        std::vector<std::string> missing;
        std::vector<std::string> unreadable;
    };

    // Works on `inspector`, which must outlive the session.
    explicit WatchListSession(TagInspector& inspector);

    // Writes the inspector's rows (or the list still waiting for a tree) to
    // `file`, which becomes the current list. Throws UserFileError.
    void save(const std::filesystem::path& file);
    // Reads the list in `file`, which becomes the current list and waits
    // for resolve() to put its rows into the inspector in place of the
    // ones there. Throws UserFileError; nothing changes then.
    void open(const std::filesystem::path& file);
    // Every frame, with the tree as it is and the connection it was loaded
    // on: a waiting list goes into the inspector once there is a tree. What
    // that found, when it did that now; nullopt otherwise.
    std::optional<Resolved> resolve(const TreeModel* tree, std::uint64_t browsedOn);

    // The list saved or opened last; empty for none.
    const std::filesystem::path& path() const { return path_; }
    // A list is waiting for a tree.
    bool waiting() const { return waiting_.has_value(); }
    // How many rows the waiting list has; 0 when none waits.
    std::size_t waitingRows() const { return waiting_ ? waiting_->rows.size() : 0; }
    // How many rows save() writes now.
    std::size_t rowsToSave() const;

private:
    Resolved fill(const WatchList& list, const TreeModel& tree, std::uint64_t browsedOn);

    TagInspector* inspector_;
    std::filesystem::path path_;
    std::optional<WatchList> waiting_;
};

}  // namespace vemo
