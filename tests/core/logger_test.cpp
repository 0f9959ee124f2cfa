// Log lines as they reach standard output and standard error: level tags,
// colours (on terminals only), streams, the caller's name, time stamps, and
// formatting failures that must never reach the caller.
#include "vemo/core/Logger.h"

#include "app_test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using vemo::ColourMode;
using vemo::Logger;
using vemo::LogLevel;
using vemo::test::CapturedStreams;
using vemo::test::LogColours;

// Runs a test in a fixed time zone, restoring the machine's afterwards. The
// lines carry their colours, whatever the test's own streams are; the tests
// of plain lines say so.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
    }
    void TearDown() override {
        if (savedTz_) {
            ::setenv("TZ", savedTz_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    static void useTimeZone(const char* tz) {
        ::setenv("TZ", tz, 1);
        ::tzset();
    }

private:
    std::optional<std::string> savedTz_;
    LogColours colours_{ColourMode::Always};
};

constexpr std::int64_t kSecond = 1'000'000'000;
// 2026-12-06 17:42:55 UTC.
constexpr std::int64_t kDecember6 = 1796578975 * kSecond;
// 2026-07-01 10:00:00 UTC, inside European summer time.
constexpr std::int64_t kJuly1 = 1782900000 * kSecond;

TEST_F(LoggerTest, TimestampIsLocalTimeWithSixDigitMicroseconds) {
    struct Row {
        const char* tz;
        std::int64_t ns;
        const char* expected;
    };
    // POSIX TZ strings need no time-zone database: "CET-1" is UTC+1.
    const Row rows[] = {
        {"UTC0", kDecember6 + 123'456'789, "2026-12-06 17:42:55.123456"},
        {"CET-1", kDecember6 + 123'456'789, "2026-12-06 18:42:55.123456"},
        {"CET-1", kDecember6 + 42'000, "2026-12-06 18:42:55.000042"},
        {"CET-1", kDecember6 + 42'999, "2026-12-06 18:42:55.000042"},  // truncated, not rounded
        {"CET-1", kDecember6 + 999'999'999, "2026-12-06 18:42:55.999999"},
        {"CET-1", kDecember6, "2026-12-06 18:42:55.000000"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", kJuly1, "2026-07-01 12:00:00.000000"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", kDecember6, "2026-12-06 18:42:55.000000"},
        {"UTC0", 0, "1970-01-01 00:00:00.000000"},
        // Before the epoch the fraction still counts forward within its second.
        {"UTC0", -1'000, "1969-12-31 23:59:59.999999"},
    };
    for (const Row& row : rows) {
        useTimeZone(row.tz);
        EXPECT_EQ(Logger::formatTimestamp(row.ns), row.expected) << row.tz << " " << row.ns;
    }
}

TEST_F(LoggerTest, EachLevelHasItsTagColourAndStream) {
    struct Row {
        std::uint8_t level;
        const char* colour;
        const char* tag;
        bool toStandardError;
    };
    const Row rows[] = {
        {0, "\x1b[90m", "[TRACE]", false}, {1, "\x1b[36m", "[DEBUG]", false},  {2, "\x1b[32m", "[INFO ]", false},
        {3, "\x1b[33m", "[WARN ]", false}, {4, "\x1b[31m", "[ERROR]", true},   {5, "\x1b[41m", "[FATAL]", true},
        {9, "\x1b[41m", "[FATAL]", true},  {255, "\x1b[41m", "[FATAL]", true},
    };
    useTimeZone("UTC0");
    // Inside a test the calling function is the fixture's TestBody.
    const std::string caller = "TestBody";
    const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6})");

    for (const Row& row : rows) {
        CapturedStreams streams;
        Logger::log(static_cast<LogLevel>(row.level), "Loaded SVG asset '{}' ({}x{})", "icons/tag.svg", 256, 256);

        const std::string line = row.toStandardError ? streams.err() : streams.out();
        const std::string other = row.toStandardError ? streams.out() : streams.err();
        EXPECT_EQ(other, "") << int(row.level);

        const std::string colour = row.colour;
        ASSERT_GT(line.size(), colour.size() + 26) << int(row.level);
        EXPECT_EQ(line.substr(0, colour.size()), colour) << int(row.level);
        EXPECT_TRUE(std::regex_match(line.substr(colour.size(), 26), stamp)) << line;
        EXPECT_EQ(line.substr(colour.size() + 26), std::string(" ") + row.tag + " <" + caller +
                                                       "> Loaded SVG asset 'icons/tag.svg' (256x256)" + "\x1b[0m\n")
            << int(row.level);
    }
}

TEST_F(LoggerTest, LineCarriesTheCurrentTime) {
    useTimeZone("UTC0");
    auto now = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    CapturedStreams streams;
    const std::string before = Logger::formatTimestamp(now());
    Logger::write(LogLevel::Info, "here", "tick");
    const std::string after = Logger::formatTimestamp(now());

    const std::string stamp = streams.out().substr(5, 26);  // after "ESC[32m"
    // Same fixed-width layout, so text order is time order.
    EXPECT_LE(before, stamp);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(streams.out().substr(31), " [INFO ] <here> tick\x1b[0m\n");
}

TEST_F(LoggerTest, WithoutColoursALineIsPlainText) {
    const LogColours plain(ColourMode::Never);
    useTimeZone("UTC0");
    const std::regex line(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6} \[(INFO |ERROR)\] <here> tick\n)");
    for (const LogLevel level : {LogLevel::Info, LogLevel::Error}) {
        CapturedStreams streams;
        Logger::write(level, "here", "tick");
        const std::string written = level == LogLevel::Error ? streams.err() : streams.out();
        EXPECT_TRUE(std::regex_match(written, line)) << written;
    }
}

// The file descriptor of a standard stream pointed somewhere else for a
// scope; what the program's std::cout and std::cerr write lands there.
class Redirected {
public:
    Redirected(int fd, int target) : fd_(fd), saved_(::dup(fd)) {
        std::cout.flush();
        ::dup2(target, fd_);
    }
    ~Redirected() {
        std::cout.flush();
        ::dup2(saved_, fd_);
        ::close(saved_);
    }
    Redirected(const Redirected&) = delete;
    Redirected& operator=(const Redirected&) = delete;

private:
    int fd_;
    int saved_;
};

// What is waiting to be read on `fd`.
std::string drain(int fd) {
    std::string text;
    char buffer[512];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 1000) == 1 && (p.revents & POLLIN) != 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.find('\n') != std::string::npos) break;
    }
    return text;
}

// Where a line goes decides whether it is coloured: a person at a terminal
// reads colours, a file or a pipe would only keep the escape sequences.
TEST(LoggerColours, OnlyATerminalGetsColours) {
    const LogColours automatic(ColourMode::Auto);
    struct Sink {
        const char* what;
        int write;
        int read;
        bool coloured;
    };
    std::vector<Sink> sinks;

    char fileName[] = "/tmp/vemo-logger-XXXXXX";
    const int file = ::mkstemp(fileName);
    ASSERT_GE(file, 0);
    ::unlink(fileName);
    const int fileReader = ::open(("/proc/self/fd/" + std::to_string(file)).c_str(), O_RDONLY);
    ASSERT_GE(fileReader, 0);
    sinks.push_back({"a file", file, fileReader, false});

    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    sinks.push_back({"a pipe", pipeEnds[1], pipeEnds[0], false});

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0) << "no pseudo-terminal";
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    sinks.push_back({"a terminal", terminal, master, true});

    for (const Sink& sink : sinks) {
        for (const LogLevel level : {LogLevel::Warn, LogLevel::Error}) {
            const bool toError = level == LogLevel::Error;
            SCOPED_TRACE(std::string(sink.what) + (toError ? " as standard error" : " as standard output"));
            {
                const Redirected redirected(toError ? STDERR_FILENO : STDOUT_FILENO, sink.write);
                Logger::write(level, "here", "tick");
            }
            const std::string line = drain(sink.read);
            ASSERT_NE(line.find("<here> tick"), std::string::npos) << line;
            const std::string colour = toError ? "\x1b[31m" : "\x1b[33m";
            EXPECT_EQ(line.rfind(colour, 0) == 0, sink.coloured) << line;
            EXPECT_EQ(line.find('\x1b') != std::string::npos, sink.coloured) << line;
        }
    }
    for (const int fd : {file, fileReader, pipeEnds[0], pipeEnds[1], master, terminal}) ::close(fd);
}

// A stream buffer that remembers how much of its text had been flushed.
class FlushRecorder : public std::stringbuf {
public:
    std::size_t flushed = 0;

protected:
    int sync() override {
        flushed = str().size();
        return 0;
    }
};

TEST_F(LoggerTest, EveryLineIsFlushedAsItIsWritten) {
    // Standard output to a file or a pipe is block-buffered: without a flush
    // the last state changes before a crash or a kill never reach the log.
    FlushRecorder out;
    std::streambuf* const old = std::cout.rdbuf(&out);
    Logger::write(LogLevel::Info, "here", "connected");
    Logger::write(LogLevel::Warn, "here", "connection lost");
    std::cout.rdbuf(old);
    EXPECT_NE(out.str().find("connection lost"), std::string::npos);
    EXPECT_EQ(out.flushed, out.str().size());
}

TEST_F(LoggerTest, BracesInArgumentsAreWrittenUnchanged) {
    CapturedStreams streams;
    Logger::log(LogLevel::Info, "{}", "{} {0} {:x} }{");
    Logger::log(LogLevel::Error, "name '{}'", "DB1.{weird}");
    EXPECT_NE(streams.out().find("> {} {0} {:x} }{\x1b[0m\n"), std::string::npos) << streams.out();
    EXPECT_NE(streams.err().find("> name 'DB1.{weird}'\x1b[0m\n"), std::string::npos) << streams.err();
}

struct Throws {
    int kind;  // 0: a standard exception, 1: something else
};

}  // namespace

template <>
struct fmt::formatter<Throws> : fmt::formatter<int> {
    template <typename Context>
    auto format(const Throws& t, [[maybe_unused]] Context& ctx) const -> decltype(ctx.out()) {
        if (t.kind == 0) throw std::runtime_error("formatter gave up");
        throw 42;
    }
};

namespace {

TEST_F(LoggerTest, FormattingFailureIsReportedOnStandardErrorAndSwallowed) {
    struct Row {
        const char* what;
        void (*logIt)();
        std::string expected;
    };
    const Row rows[] = {
        {"standard exception", [] { Logger::log(LogLevel::Info, "value {}", Throws{0}); },
         "Failed to format log message: formatter gave up\n"},
        {"other exception", [] { Logger::log(LogLevel::Info, "value {}", Throws{1}); },
         "Failed to format log message: unknown exception\n"},
        // A negative dynamic width is only detectable at run time.
        {"negative width", [] { Logger::log(LogLevel::Info, "{:{}}", "x", -1); },
         "Failed to format log message: negative width\n"},
    };
    for (const Row& row : rows) {
        CapturedStreams streams;
        EXPECT_NO_THROW(row.logIt()) << row.what;
        EXPECT_EQ(streams.err(), row.expected) << row.what;
        EXPECT_EQ(streams.out(), "") << row.what;
    }
}

}  // namespace
