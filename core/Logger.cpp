#include "vemo/core/Logger.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <exception>
#include <iostream>
#include <ostream>

namespace vemo {

namespace {

struct LevelStyle {
    const char* tag;     // always seven characters, so messages line up
    const char* colour;  // ANSI sequence written before the line
    bool toStandardError;
};

constexpr LevelStyle kStyles[] = {
    {"[TRACE]", "\x1b[90m", false},  // bright black
    {"[DEBUG]", "\x1b[36m", false},  // cyan
    {"[INFO ]", "\x1b[32m", false},  // green
    {"[WARN ]", "\x1b[33m", false},  // yellow
    {"[ERROR]", "\x1b[31m", true},   // red
    {"[FATAL]", "\x1b[41m", true},   // red background
};
constexpr std::size_t kLastStyle = std::size(kStyles) - 1;

constexpr const char* kReset = "\x1b[0m";

std::atomic<ColourMode> g_colours{ColourMode::Auto};

bool colouredOn(int fileDescriptor) {
    switch (g_colours.load(std::memory_order_relaxed)) {
    case ColourMode::Always: return true;
    case ColourMode::Never: return false;
    case ColourMode::Auto: break;
    }
    return isatty(fileDescriptor) == 1;
}

std::int64_t nowNanoseconds() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string Logger::formatTimestamp(std::int64_t nanosecondsSinceEpoch) {
    constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
    try {
        // Split into whole seconds and the part within the second, rounding
        // towards the past so that instants before 1970 still get a
        // non-negative fraction of the right second.
        std::int64_t seconds = nanosecondsSinceEpoch / kNanosPerSecond;
        std::int64_t within = nanosecondsSinceEpoch % kNanosPerSecond;
        if (within < 0) {
            within += kNanosPerSecond;
            --seconds;
        }
        const auto t = static_cast<std::time_t>(seconds);
        std::tm local{};
        if (localtime_r(&t, &local) == nullptr) {
            return "Invalid time";
        }
        char text[64];
        const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
        if (length == 0) {
            return "Invalid time";
        }
        return fmt::format("{}.{:06}", std::string_view(text, length), within / 1000);
    } catch (const std::exception&) {
        return "Invalid time";
    }
}

void Logger::write(LogLevel level, std::string_view location, std::string_view message) {
    const LevelStyle& style = kStyles[std::min<std::size_t>(static_cast<std::uint8_t>(level), kLastStyle)];
    const std::string line =
        fmt::format("{} {} <{}> {}", formatTimestamp(nowNanoseconds()), style.tag, location, message);
    // One insertion chain per line: lines of two threads may interleave,
    // but no lock is taken on the hot path of either thread.
    // Flushed at once: standard output is block-buffered when it goes to a
    // file or a pipe, and a log that lags behind the program (or dies with
    // it) hides what happened last.
    std::ostream& out = style.toStandardError ? std::cerr : std::cout;
    if (colouredOn(style.toStandardError ? STDERR_FILENO : STDOUT_FILENO)) {
        out << style.colour << line << kReset << '\n' << std::flush;
    } else {
        out << line << '\n' << std::flush;
    }
}

void Logger::setColours(ColourMode mode) { g_colours.store(mode, std::memory_order_relaxed); }

void Logger::logFormatted(const LogContext& context, fmt::string_view format, fmt::format_args args) noexcept {
    try {
        const std::string message = fmt::vformat(format, args);
        write(context.level, context.function, message);
    } catch (const std::exception& e) {
        std::cerr << "Failed to format log message: " << e.what() << std::endl;
    } catch (...) {
        // A formatter of some user type threw something that is not a
        // standard exception; the caller must still not see it.
        std::cerr << "Failed to format log message: unknown exception" << std::endl;
    }
}

}  // namespace vemo
