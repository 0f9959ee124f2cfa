// Console logging: one line per call, on standard output for the levels
// Trace to Warn and on standard error for Error and Fatal.
//
//   Logger::log(LogLevel::Trace, "Loaded SVG asset '{}' ({}x{})", name, w, h);
//
// writes
//
//   ESC[90m2026-12-06 18:42:55.123456 [TRACE] <calling function> Loaded ...ESC[0m
//
// to a terminal, and the same line without the colour sequences to a file or
// a pipe, where they would only be noise (each stream is looked at on its
// own, as each line is written). The format string is checked at compile
// time; the calling function is taken from the call site automatically.
// There is no filtering, and logging never throws into the caller.
#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vemo {

// Values above Fatal are written as Fatal.
enum class LogLevel : std::uint8_t {
    Trace = 0,
    Debug = 1,
    Info = 2,
    Warn = 3,
    Error = 4,
    Fatal = 5,
};

// The call site of a log call. Converting from a LogLevel captures the
// caller's function name, because default arguments are evaluated where the
// conversion happens: in the caller's expression. The compiler built-in is
// used rather than std::source_location, which clang 14 cannot provide with
// the GNU standard library of this platform; GCC and clang both have it.
struct LogContext {
    // Deliberately implicit: call sites write just the level.
    LogContext(LogLevel lvl, const char* callingFunction = __builtin_FUNCTION())
        : level(lvl), function(callingFunction) {}

    LogLevel level;
    const char* function;
};

// Whether lines carry their level's colour.
enum class ColourMode : std::uint8_t {
    Auto,    // only on a stream that is a terminal (the default)
    Always,
    Never,
};

class Logger {
public:
    template <typename... Args>
    static void log(LogContext context, fmt::format_string<Args...> format, Args&&... args) noexcept {
        // fmt 9 takes the arguments as lvalues; named parameters are lvalues.
        logFormatted(context, format, fmt::make_format_args(args...));
    }

    // Writes one line for `level` with `location` between angle brackets.
    static void write(LogLevel level, std::string_view location, std::string_view message);

    // For the whole process, from any thread; Auto until set.
    static void setColours(ColourMode mode);

    // "YYYY-MM-DD HH:MM:SS.uuuuuu" in the machine's local time zone, or
    // "Invalid time" when the instant cannot be shown.
    static std::string formatTimestamp(std::int64_t nanosecondsSinceEpoch);

private:
    static void logFormatted(const LogContext& context, fmt::string_view format, fmt::format_args args) noexcept;
};

}  // namespace vemo
