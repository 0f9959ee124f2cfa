// Starting the real vemo-s7-sim from a test: a program file in the temporary
// directory that is gone with the test, and the port the simulator's ready
// line names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include <unistd.h>

namespace vemo::test {

class TempFile {
public:
    TempFile(const std::string& name, const std::string& content)
        : path_(std::filesystem::temp_directory_path() / ("vemo-sim-test-" + std::to_string(::getpid()) + "-" + name)) {
        std::ofstream(path_) << content;
    }
    ~TempFile() { std::filesystem::remove(path_); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    std::string path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// The port of a "listening on 127.0.0.1:PORT" line, 0 when the line is not one.
inline uint16_t listeningPort(const std::string& line) {
    std::smatch m;
    if (!std::regex_match(line, m, std::regex(R"(listening on 127\.0\.0\.1:([0-9]{1,5}))"))) return 0;
    return static_cast<uint16_t>(std::stoi(m[1]));
}

}  // namespace vemo::test
