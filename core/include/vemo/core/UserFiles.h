// The files the program keeps for its user (settings, watch lists, the
// known controllers): where they live and how they are read and written.
//
// They live in the user's XDG folders (userFolder). Each is read whole and
// replaced whole and atomically: a temporary file in the same folder,
// flushed to disk, renamed over the old one, so a reader - or the program
// after a crash - sees either the old or the new file, never half of one.
// Every failure is a UserFileError whose text starts with the file's path
// and says what is wrong with it (where in the text, for one that does not
// parse); nothing else is thrown, so that no file can stop the program.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace vemo {

class UserFileError : public std::runtime_error {
public:
    enum class Kind {
        Unreadable,  // the file exists but cannot be read
        Damaged,     // not what it should be: not JSON, or not the format
        TooNew,      // a format version newer than this program reads
        Unwritable,  // the folder or the file cannot be written
    };
    UserFileError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// $<variable> when it holds an absolute path, else <home>/<underHome>
// (XDG's rule: a relative value is ignored). The home folder is $HOME, or
// the user's entry in the password database when HOME is unset or empty.
// Throws UserFileError (Unwritable) naming `variable` when there is no home
// folder to fall back on.
std::filesystem::path userFolder(const char* variable, const std::filesystem::path& underHome);

// The user's home folder as userFolder finds it; empty when there is none.
std::filesystem::path homeFolder();

// The file's bytes; nullopt when it does not exist. Throws UserFileError
// (Unreadable) for anything else that keeps it from being read.
std::optional<std::string> readUserFile(const std::filesystem::path& file);

// Makes the folder and the missing ones above it, for this user only.
// Throws UserFileError (Unwritable).
void makeUserFolder(const std::filesystem::path& folder);

// Replaces the file's content with `text` atomically (see above); the file
// keeps its permissions, and its folder is made if need be. A symbolic link
// is written through: its target is replaced and the link stays
// (followLinks). Throws UserFileError (Unwritable); the old file is then as
// it was.
void replaceUserFile(const std::filesystem::path& file, const std::string& text);

}  // namespace vemo
