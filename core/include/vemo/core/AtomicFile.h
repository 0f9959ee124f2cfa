// Replacing a file so that whoever reads it sees the old text or the new,
// never half of one: the user's files (vemo/core/UserFiles.h) and the
// inspector's exports are written this way.
#pragma once

#include <filesystem>
#include <string_view>

namespace vemo {

// Writes `text` to a temporary file beside `file`, puts it on disk and
// renames it over `file`, then puts the folder's entry on disk. An existing
// file keeps its permissions; a new one gets `mode` less the process's
// umask. A symbolic link stays as it is and its target is replaced (see
// followLinks). Returns 0, or the errno of the step that failed, in which
// case `file` is as it was and no temporary file is left.
int replaceFile(const std::filesystem::path& file, std::string_view text, unsigned mode = 0600);

// The file that `file` stands for: while it is a symbolic link, the link's
// target (a relative one taken from the link's folder), whether or not the
// target exists yet. A file kept as a link to another place - a settings
// file in a dotfiles repository, a store an administrator hands out - is
// written there, and the link stays: renaming over the link itself would
// replace it with a file of its own and leave the target stale. A loop of
// links is given back as it is (the write then fails as the system says).
std::filesystem::path followLinks(const std::filesystem::path& file);

}  // namespace vemo
