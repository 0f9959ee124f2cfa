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
// umask. Returns 0, or the errno of the step that failed, in which case
// `file` is as it was and no temporary file is left.
int replaceFile(const std::filesystem::path& file, std::string_view text, unsigned mode = 0600);

}  // namespace vemo
