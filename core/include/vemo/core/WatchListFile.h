// A watch list: the inspector's rows kept in a file of the operator's
// choosing, to be opened again on another day or against another
// controller with the same program. A row is kept by the variable's full
// name, its data type when it was saved and the format it was shown in; its
// address is not, since the controller's program may have moved it.
//
//   {"version": 1, "rows": [
//     {"name": "Conveyor.BottleCount", "type": "DINT", "format": "DEC"},
//     {"name": "Tank.Valve", "type": "WORD", "format": "BIN"}]}
//
// A controller may send a name that is not UTF-8, which JSON cannot hold:
// it is kept byte for byte in hexadecimal beside a readable form, and read
// back exactly (so the row finds its variable again):
//
//     {"name": "Tank.<U+FFFD>", "nameBytes": "54616e6b2eff", ...}
//
// A file that cannot be read as a watch list is a UserFileError naming the
// file and what is wrong with it; a newer format version is refused rather
// than misread.
#pragma once

#include "vemo/core/UserFiles.h"
#include "vemo/core/ValueFormat.h"

#include <filesystem>
#include <string>
#include <vector>

namespace vemo {

struct WatchRow {
    std::string name;  // the variable's full name
    std::string type;  // its data type's name when saved ("DINT"); informative
    DisplayFormat format = DisplayFormat::Dec;

    bool operator==(const WatchRow&) const = default;
};

struct WatchList {
    static constexpr int kFormatVersion = 1;

    std::vector<WatchRow> rows;

    bool operator==(const WatchList&) const = default;

    // $XDG_DATA_HOME/vemo-s7-browser/watch-lists, or under ~/.local/share:
    // where the program offers to keep watch lists. Throws UserFileError
    // (Unwritable) when there is no home folder.
    static std::filesystem::path defaultFolder();

    // Throws UserFileError; a missing file is Unreadable ("does not
    // exist"), as the operator named it.
    static WatchList read(const std::filesystem::path& file);
    // Writes the list to `file` atomically, making its folder if need be.
    // Throws UserFileError.
    void write(const std::filesystem::path& file) const;
};

}  // namespace vemo
