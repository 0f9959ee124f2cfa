// Helpers shared by the application's tests: packages written on the fly,
// captured console streams, and a connection service kept busy on purpose.
#pragma once

#include "vemo/core/AssetPackage.h"
#include "vemo/core/Logger.h"
#include "vemo/core/PlcConnection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace vemo::test {

// Sets an environment variable (or unsets it, with nullopt) for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeText(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The bytes of a VPAK package holding `assets`; the map keeps the names in
// the byte-wise order the reader relies on.
inline std::string makePackage(const std::map<std::string, std::string>& assets) {
    auto put = [](std::string& b, std::size_t at, std::uint64_t v, int width) {
        for (int i = 0; i < width; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    };
    const std::size_t table = 40;
    const std::size_t names = table + 24 * assets.size();
    std::string namesBlob;
    std::string data;
    std::string b(names, '\0');
    b.replace(0, 4, "VPAK");
    put(b, 4, 1, 4);
    put(b, 8, assets.size(), 8);
    put(b, 16, table, 8);
    put(b, 24, names, 8);
    std::size_t i = 0;
    for (const auto& [name, bytes] : assets) {
        put(b, table + 24 * i, namesBlob.size(), 8);
        put(b, table + 24 * i + 16, bytes.size(), 8);
        namesBlob += name;
        namesBlob += '\0';
        ++i;
    }
    if (namesBlob.empty()) namesBlob = std::string(1, '\0');
    const std::size_t dataStart = names + namesBlob.size();
    i = 0;
    for (const auto& [name, bytes] : assets) {
        put(b, table + 24 * i + 8, dataStart + data.size(), 8);
        data += bytes;
        ++i;
    }
    return b + namesBlob + data;
}

// A fresh directory under the test temp directory, removed with the object.
class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::path(::testing::TempDir()) /
                ("vemo_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Loads `assets` into `package` through a file, as the program does.
inline void loadPackage(AssetPackage& package, const std::map<std::string, std::string>& assets) {
    const TempDir dir;
    const std::filesystem::path file = dir.path() / "assets.pak";
    writeText(file, makePackage(assets));
    package.load(file.string());
}

// Log lines with or without colours for a scope, whatever the test's own
// standard streams are; the program's choice (Auto) again afterwards.
class LogColours {
public:
    explicit LogColours(ColourMode mode) { Logger::setColours(mode); }
    ~LogColours() { Logger::setColours(ColourMode::Auto); }
    LogColours(const LogColours&) = delete;
    LogColours& operator=(const LogColours&) = delete;
};

// Redirects std::cout and std::cerr (where the log lines go) into strings.
// Reading while another thread logs is not safe: read after that work is done.
class CapturedStreams {
public:
    CapturedStreams() : oldOut_(std::cout.rdbuf(out_.rdbuf())), oldErr_(std::cerr.rdbuf(err_.rdbuf())) {}
    ~CapturedStreams() {
        std::cout.rdbuf(oldOut_);
        std::cerr.rdbuf(oldErr_);
    }
    CapturedStreams(const CapturedStreams&) = delete;
    CapturedStreams& operator=(const CapturedStreams&) = delete;
    std::string out() const { return out_.str(); }
    std::string err() const { return err_.str(); }

private:
    std::ostringstream out_;
    std::ostringstream err_;
    std::streambuf* oldOut_;
    std::streambuf* oldErr_;
};

// Keeps the service's mutex inside a withClient callable, on a thread of its
// own, until release(): what a long protocol task does.
class HeldClient {
public:
    explicit HeldClient(PlcConnection& service) {
        thread_ = std::thread([this, &service] {
            service.withClient([this](vemoc_s7_client*) {
                std::unique_lock guard(mutex_);
                held_ = true;
                changed_.notify_all();
                changed_.wait(guard, [this] { return released_; });
            });
        });
        std::unique_lock guard(mutex_);
        changed_.wait(guard, [this] { return held_; });
    }
    ~HeldClient() {
        release();
        thread_.join();
    }
    HeldClient(const HeldClient&) = delete;
    HeldClient& operator=(const HeldClient&) = delete;

    void release() {
        std::lock_guard guard(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
    std::thread thread_;
};

}  // namespace vemo::test
