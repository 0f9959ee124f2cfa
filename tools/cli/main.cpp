// vemo-s7: look into an S7-1200/1500 controller from a shell or a script.
//
//   vemo-s7 info HOST       controller type and item limit
//   vemo-s7 blocks HOST     data blocks and memory areas
//   vemo-s7 browse HOST     every readable variable with its address
//   vemo-s7 read HOST NAME  current values, once or --watch
//                           (--format iec: the controller's literal forms)
//                           (--reconnect: watch on across a lost connection)
//                           (--keep-going: the values that could be read)
//   vemo-s7 write HOST NAME VALUE...
//                           set variables after a confirmation (or --yes),
//                           in chunks of the item limit, then read them back
//
// Every command checks who answers right after connect, before anything
// else, when asked to: --fingerprint pins the controller's key,
// --known-hosts FILE keeps the keys seen per address (trust on first use).
//
// Names are full symbolic names as browse lists them, or as TIA Portal
// writes them, with quotes ("Conveyor".BeltSpeed).
//
// Exit status: kExitStatus below, which --help shows. Errors are one line
// on standard error each; standard output then holds nothing partial,
// unless read --keep-going asks for the values that could be read.
#include "Output.h"
#include "PlcSession.h"
#include "vemo/core/ConnectionWords.h"
#include "vemo/core/ControllerIdentity.h"
#include "vemo/core/KnownControllers.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/SymbolPath.h"
#include "vemo/core/ValueParse.h"

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#ifndef VEMO_VERSION
#error "VEMO_VERSION must name the program version"
#endif

namespace {

using namespace vemo::cli;

constexpr int kExitUsage = 2;
constexpr int kExitFailed = 3;
constexpr int kExitUnknownName = 4;
constexpr int kExitNotConfirmed = 5;

// The footer of every --help; the README lists the same.
constexpr const char* kExitStatus =
    "Exit status:\n"
    "  0  success\n"
    "  2  usage error: an option or argument that is not valid (a malformed name included); for write also\n"
    "     a value that does not parse for its variable's data type, or no terminal and no --yes\n"
    "  3  the connection or a request failed, a value did not fit its variable's data type, the controller\n"
    "     refused to read or write a variable, or its key was refused or could not be checked\n"
    "  4  a name is not a variable (for --block: not a block) of the controller\n"
    "  5  a write was not confirmed\n";

std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int) { g_interrupted = true; }

struct Options {
    std::string host;
    uint16_t port = 102;
    uint32_t timeoutMs = 10000;
    bool json = false;
    bool csv = false;
    std::vector<std::string> blocks;
    std::string filter;
    std::vector<std::string> names;
    bool watch = false;
    bool reconnect = false;
    bool keepGoing = false;  // read: print what could be read, name what could not
    uint32_t intervalMs = 1000;
    std::vector<std::string> pairs;  // write: NAME VALUE ...
    bool yes = false;
    std::string display;      // read --format: "iec" or "dec"; empty when not given
    std::string fingerprint;  // --fingerprint: the key the controller must present
    std::string knownHosts;   // --known-hosts FILE
    bool acceptNew = false;   // store unknown controllers without asking

    // The value format --format asks for; none without it.
    std::optional<vemo::DisplayFormat> displayFormat() const {
        if (display.empty()) return std::nullopt;
        return vemo::displayFormatByName(display);
    }

    Format format() const { return json ? Format::Json : csv ? Format::Csv : Format::Text; }
};

// Names that are no variable, or a block that is none (exit 4); one line
// per name.
class UnknownName : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A command line that cannot be carried out as given (exit 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The user answered the confirmation with anything but yes (exit 5).
class NotConfirmed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The controller's key is not the one expected, or not trusted (exit 3).
class IdentityRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void addConnectionOptions(CLI::App* cmd, Options& o) {
    cmd->add_option("HOST", o.host, "IPv4/IPv6 address or host name of the controller")->required();
    cmd->add_option("-p,--port", o.port, "TCP port")->check(CLI::Range(1, 65535))->capture_default_str();
    cmd->add_option("-t,--timeout", o.timeoutMs,
                    "time-out in milliseconds: each request ends within it, a connect within 4 times it")
        ->check(CLI::Range(1u, 3600000u))
        ->capture_default_str();
    const CLI::Validator keyFingerprint(
        [](const std::string& text) {
            return vemo::Fingerprint::parse(text) ? std::string()
                                                  : "not a key fingerprint as info prints it: SHA256: and 43 "
                                                    "base64 characters";
        },
        "SHA256:...");
    auto* pin = cmd->add_option("--fingerprint", o.fingerprint,
                                "refuse the controller unless its key fingerprint is this one (as info prints it)")
                    ->check(keyFingerprint);
    auto* known =
        cmd->add_option("--known-hosts", o.knownHosts,
                        "check the controller's key against FILE and keep it there: an unknown controller is "
                        "stored (asked on a terminal, else refused without --accept-new), a changed key refused; the "
                        "program keeps its own in ~/.local/share/vemo-s7-browser/known-controllers.json")
            ->type_name("FILE")
            ->excludes(pin);
    cmd->add_flag("--accept-new", o.acceptNew, "with --known-hosts, store an unknown controller without asking")
        ->needs(known);
}

void addFormatOptions(CLI::App* cmd, Options& o, bool csv) {
    auto* json = cmd->add_flag("--json", o.json, "print JSON");
    if (csv) {
        cmd->add_flag("--csv", o.csv, "print CSV (RFC 4180) with a header line")->excludes(json);
    }
}

// A progress line on standard error, only when a person watches it.
std::function<void(size_t, size_t)> progressLine() {
    if (isatty(STDERR_FILENO) == 0) {
        return {};
    }
    return [](size_t done, size_t total) {
        std::fprintf(stderr, "\rbrowsing blocks: %zu/%zu", done, total);
        if (done == total) {
            std::fputs("\r\033[K", stderr);
        }
        std::fflush(stderr);
    };
}

// The names as typed, in the browse's form; a name that is none is a usage
// error, found before anything is asked of the controller.
std::vector<vemo::SymbolName> parseNames(const std::vector<std::string>& texts) {
    std::vector<vemo::SymbolName> names;
    for (const std::string& text : texts) {
        vemo::SymbolName name = vemo::parseSymbolName(text);
        if (!name) throw UsageError(fmt::format("not a variable name: '{}': {}", text, name.error));
        names.push_back(std::move(name));
    }
    return names;
}

// "read failed: Conveyor.Nope: no such variable"
std::string noSuchVariable(const std::string& step, const std::string& name) {
    return fmt::format("{} failed: {}: no such variable", step, name);
}

// The variables of `names` in their order, and the names that are no
// variable. Only the blocks the names live in are browsed.
struct Resolved {
    std::vector<Variable> variables;
    std::vector<std::string> unknown;
};

Resolved resolveEach(PlcSession& session, const std::vector<vemo::SymbolName>& names) {
    std::vector<std::string> blocks;
    for (const vemo::SymbolName& name : names) {
        if (std::find(blocks.begin(), blocks.end(), name.block) == blocks.end()) {
            blocks.push_back(name.block);
        }
    }
    const auto all = session.browse(blocks, progressLine());
    std::map<std::string, const Variable*> byName;
    for (const auto& v : all) {
        byName.emplace(v.name, &v);
    }
    Resolved resolved;
    for (const vemo::SymbolName& name : names) {
        const auto it = byName.find(name.name);
        if (it == byName.end()) {
            resolved.unknown.push_back(name.name);
        } else {
            resolved.variables.push_back(*it->second);
        }
    }
    return resolved;
}

// Every name a variable, or UnknownName naming each that is not.
std::vector<Variable> resolve(PlcSession& session, const std::vector<vemo::SymbolName>& names,
                              const std::string& step) {
    Resolved resolved = resolveEach(session, names);
    if (!resolved.unknown.empty()) {
        std::string lines;
        for (const std::string& name : resolved.unknown) {
            if (!lines.empty()) lines += '\n';
            lines += noSuchVariable(step, name);
        }
        throw UnknownName(lines);
    }
    return std::move(resolved.variables);
}

// Waits in steps short enough to notice an interrupt soon, the last step
// no longer than what is left: an interval of 1 ms is 1 ms, not a step.
void sleepUnlessInterrupted(uint32_t ms) {
    constexpr std::chrono::milliseconds kStep{20};
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (auto now = std::chrono::steady_clock::now(); !g_interrupted && now < until;
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kStep, until - now));
    }
}

// Asks on the terminal. Anything but "y" or "yes" declines, so that a
// stray Enter does nothing.
bool answeredYes(const std::string& question) {
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer == "y" || answer == "yes";
}

// The refusal of a controller whose key is not the one on record.
IdentityRefused keyChanged(const Options& o, const vemo::KnownController& known, const vemo::Fingerprint& presented) {
    return IdentityRefused(fmt::format(
        "refused: the controller at {} port {} presents key {}, but {} has {} for it (first seen {}, last seen {}): "
        "another controller, a new key or someone in between; if its key changed on purpose, remove its entry "
        "from that file",
        o.host, o.port, presented.text(), o.knownHosts, known.key.text(),
        vemo::KnownControllers::timeText(known.firstSeen), vemo::KnownControllers::timeText(known.lastSeen)));
}

// Trust on first use: the same key as before goes on (its last seen
// updated), a changed key is refused, an unknown controller is stored -
// after asking on a terminal, at once with --accept-new, and refused
// otherwise, as a script cannot have checked it.
//
// Entries are keyed by the address connected to, so that "localhost",
// "127.1" and "127.0.0.1" are one controller; the messages name the host as
// typed.
void checkKnownHosts(const Options& o, const vemo::ControllerIdentity& identity) {
    const vemo::Fingerprint& presented = identity.key;
    const std::string& address = identity.address.empty() ? o.host : identity.address;
    vemo::KnownControllers store(o.knownHosts);
    const vemo::Recognition seen = store.lookup(address, o.port, presented);
    if (seen.verdict == vemo::Recognition::Verdict::Changed) throw keyChanged(o, *seen.known, presented);
    if (seen.verdict == vemo::Recognition::Verdict::Unknown && !o.acceptNew) {
        const std::string unknown = fmt::format("the controller at {} port {} is not in {}; its key fingerprint is {}",
                                                o.host, o.port, o.knownHosts, presented.text());
        if (isatty(STDIN_FILENO) == 0) {
            throw IdentityRefused("refused: " + unknown + "; --accept-new stores it without asking");
        }
        std::cerr << fmt::format("The controller at {} port {} is not in {}.\nIts key fingerprint is {}.\n", o.host,
                                 o.port, o.knownHosts, presented.text());
        if (!answeredYes("Trust it and store its key?")) throw IdentityRefused("refused: " + unknown);
    }
    // Stores or updates under the store's lock; another process may have
    // stored another key meanwhile.
    const vemo::Recognition stored = store.remember(address, o.port, presented);
    if (stored.verdict == vemo::Recognition::Verdict::Changed) throw keyChanged(o, *stored.known, presented);
    if (stored.verdict == vemo::Recognition::Verdict::Unknown) {
        std::cerr << fmt::format("stored the key of the controller at {} port {} in {}: {}\n", o.host, o.port,
                                 o.knownHosts, presented.text());
    }
}

// Right after every connect (reconnects too), before anything is listed,
// browsed, read or written: the controller is the expected one.
void checkIdentity(const PlcSession& session, const Options& o) {
    if (o.fingerprint.empty() && o.knownHosts.empty()) return;
    const std::optional<vemo::ControllerIdentity> identity = session.identity();
    if (!identity) throw StepError{"identity", S7_ERR_NOT_CONNECTED};
    if (!o.fingerprint.empty()) {
        const vemo::Fingerprint expected = *vemo::Fingerprint::parse(o.fingerprint);
        if (identity->key != expected) {
            throw IdentityRefused(
                fmt::format("refused: the controller at {} port {} presents key {}, not the expected {}", o.host,
                            o.port, identity->key.text(), expected.text()));
        }
        return;
    }
    checkKnownHosts(o, *identity);
}

void connectChecked(PlcSession& session, const Options& o) {
    session.connect(o.host, o.port, o.timeoutMs);
    checkIdentity(session, o);
}

// A line on standard error about the connection during a watch, stamped
// like the values so that a log of both reads in order.
void connectionNote(const std::string& text) { std::cerr << localTimestamp() << " " << text << "\n" << std::flush; }

// Connects again after a loss, with the program's growing waits, until it
// succeeds (true) or the user interrupts (false).
bool reconnectUntilInterrupted(PlcSession& session, const Options& o) {
    for (unsigned attempt = 0; !g_interrupted; ++attempt) {
        const std::chrono::seconds delay = vemo::PlcConnection::reconnectDelay(attempt);
        connectionNote(fmt::format("reconnecting in {} s (attempt {})", delay.count(), attempt + 1));
        sleepUnlessInterrupted(static_cast<uint32_t>(std::chrono::milliseconds(delay).count()));
        if (g_interrupted) {
            break;
        }
        try {
            connectChecked(session, o);
            connectionNote("reconnected");
            return true;
        } catch (const StepError& e) {
            const std::string what = e.words.empty() ? vemo::describeFailure(e.code, o.timeoutMs).what : e.words;
            connectionNote(fmt::format("attempt {} failed: {} ({})", attempt + 1, what, s7_result_name(e.code)));
        }
    }
    return false;
}

// Reads every interval until interrupted. A failure ends the watch (exit 3)
// unless it lost the connection and --reconnect asks to carry on: then the
// names are looked up afresh after the reconnect, since the controller may
// have been given another program meanwhile.
void watch(PlcSession& session, const Options& o, const std::vector<vemo::SymbolName>& names,
           std::vector<Variable> variables) {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    bool resolved = true;
    for (bool first = true; !g_interrupted;) {
        try {
            if (!resolved) {
                variables = resolve(session, names, "read");
                resolved = true;
            }
            const auto values = session.readValues(variables);
            std::cout << formatRead(o.format(), variables, values, localTimestamp(), first, o.displayFormat())
                      << std::flush;
            first = false;
        } catch (const StepError& e) {
            if (!o.reconnect || session.connected()) {
                throw;
            }
            const uint8_t loss = session.loss() != S7_OK ? session.loss() : e.code;
            connectionNote(fmt::format("connection lost: {} ({})", vemo::describeFailure(loss, o.timeoutMs).what,
                                       s7_result_name(loss)));
            resolved = false;
            if (!reconnectUntilInterrupted(session, o)) {
                break;
            }
            continue;
        }
        sleepUnlessInterrupted(o.intervalMs);
    }
}

// Shows what is about to change and asks.
bool confirmed(const Options& o, const std::vector<Variable>& variables, const std::vector<vemo::ValueText>& current,
               const std::vector<std::string>& next) {
    std::cerr << fmt::format("Write to the controller at {} port {}:\n", o.host, o.port);
    for (std::size_t i = 0; i < variables.size(); ++i) {
        std::cerr << fmt::format("  {}  {}  {} -> {}\n", variables[i].name, s7_datatype_name(variables[i].datatype),
                                 current[i].text, next[i]);
    }
    return answeredYes("Write these values?");
}

// Writes only what was confirmed and only when every value parsed: a typo
// in the last pair must not leave the first ones written.
int write(PlcSession& session, const Options& o, const std::vector<vemo::SymbolName>& names) {
    const std::vector<Variable> variables = resolve(session, names, "write");
    std::vector<vemo::ParsedValue> parsed;
    std::vector<std::string> next;
    for (std::size_t i = 0; i < variables.size(); ++i) {
        const Variable& v = variables[i];
        vemo::ParsedValue p = vemo::parseValue(o.pairs[2 * i + 1], v.datatype, session.capacityOf(v));
        if (!p) throw UsageError(fmt::format("{}: {}", v.name, p.error));
        next.push_back(vemo::formatValue(p.value.get(), v.datatype));
        parsed.push_back(std::move(p));
    }
    // A DATE_AND_TIME goes back in the form the controller sends it in (a
    // byte block or one 64-bit integer): one read of those tells.
    std::vector<Variable> dates;
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < variables.size(); ++i) {
        if (variables[i].datatype != S7_DATATYPE_DATE_AND_TIME) continue;
        dates.push_back(variables[i]);
        at.push_back(i);
    }
    if (!dates.empty()) {
        const std::vector<ItemRead> current = session.readEach(dates);
        for (std::size_t k = 0; k < dates.size(); ++k) {
            vemo::OwnedValue& value = parsed[at[k]].value;
            value = vemo::inFormOf(std::move(value), S7_DATATYPE_DATE_AND_TIME, current[k].value);
            if (value == nullptr) throw std::bad_alloc();
        }
    }
    if (!o.yes) {
        const std::vector<vemo::ValueText> current = session.read(variables);
        if (!confirmed(o, variables, current, next)) throw NotConfirmed("nothing written");
    }
    std::vector<const s7_value*> values;
    for (const vemo::ParsedValue& p : parsed) values.push_back(p.value.get());
    const vemo::WriteResult result = session.write(variables, values);
    for (const std::string& note : writeNotes(variables, result)) std::cerr << note << "\n";
    // A failed request leaves some values unknown: nothing is read back,
    // and the failure is the last line.
    if (result.status == vemo::WriteResult::Status::WriteFailed) throw StepError{"write", result.code};
    if (!result.ok()) throw std::runtime_error("write failed: the library answered without results");
    // What the controller holds now, refused variables included.
    std::cout << formatRead(o.format(), variables, session.readValues(variables), "", true) << std::flush;
    return result.allWritten() ? 0 : kExitFailed;
}

// read --keep-going: the values that could be read on standard output,
// each variable that could not be named on standard error. Exit 4 when a
// name is no variable, else 3 when a variable could not be read.
int readWhatCan(PlcSession& session, const Options& o, const std::vector<vemo::SymbolName>& names) {
    const Resolved resolved = resolveEach(session, names);
    for (const std::string& name : resolved.unknown) std::cerr << noSuchVariable("read", name) << "\n";
    std::vector<Variable> read;
    std::vector<vemo::ReadValue> values;
    bool failed = false;
    if (!resolved.variables.empty()) {
        std::vector<ItemRead> items = session.readEach(resolved.variables);
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (!items[i].failure.empty()) {
                std::cerr << fmt::format("read failed: {}: {}\n", resolved.variables[i].name, items[i].failure);
                failed = true;
                continue;
            }
            read.push_back(resolved.variables[i]);
            values.push_back(std::move(items[i].value));
        }
    }
    std::cout << formatRead(o.format(), read, values, "", true, o.displayFormat()) << std::flush;
    return !resolved.unknown.empty() ? kExitUnknownName : failed ? kExitFailed : 0;
}

int run(const std::string& command, const Options& o) {
    PlcSession session;
    std::vector<std::string> texts = o.names;
    if (command == "write") {
        if (o.pairs.size() % 2 != 0) throw UsageError("write takes NAME VALUE pairs; the last name has no value");
        if (!o.yes && isatty(STDIN_FILENO) == 0) {
            throw UsageError("not writing without --yes: there is no terminal to confirm on");
        }
        for (std::size_t i = 0; i < o.pairs.size(); i += 2) texts.push_back(o.pairs[i]);
    }
    const std::vector<vemo::SymbolName> names = parseNames(texts);
    // A store that cannot be read stops us before the controller is asked.
    if (!o.knownHosts.empty()) vemo::KnownControllers(o.knownHosts).entries();
    connectChecked(session, o);
    if (command == "write") return write(session, o, names);
    std::string out;
    if (command == "info") {
        const std::optional<vemo::ControllerIdentity> identity = session.identity();
        if (!identity) throw StepError{"identity", S7_ERR_NOT_CONNECTED};
        out = formatInfo(o.format(), session.plcType(), session.maxReadItems(), identity->key.text());
    } else if (command == "blocks") {
        out = formatBlocks(o.format(), session.blocks());
    } else if (command == "browse") {
        // A misspelt --block would otherwise list nothing and look like an
        // empty block.
        for (const auto& name : o.blocks) {
            const auto& blocks = session.blocks();
            if (std::none_of(blocks.begin(), blocks.end(), [&](const Block& b) { return b.name == name; })) {
                throw UnknownName("no block named " + name);
            }
        }
        auto variables = session.browse(o.blocks, progressLine());
        if (!o.filter.empty()) {
            std::erase_if(variables, [&](const Variable& v) { return !vemo::containsIgnoreCase(v.name, o.filter); });
        }
        out = formatBrowse(o.format(), variables);
    } else if (o.keepGoing) {
        return readWhatCan(session, o, names);
    } else if (!o.watch) {
        const auto variables = resolve(session, names, "read");
        out = formatRead(o.format(), variables, session.readValues(variables), "", true, o.displayFormat());
    } else {
        watch(session, o, names, resolve(session, names, "read"));
    }
    std::cout << out << std::flush;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Browse and read S7-1200/1500 controllers from a terminal or a script.", "vemo-s7"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("vemo-s7 ") + VEMO_VERSION, "print the version and exit");
    // Before the commands are added: each takes it over for its own --help.
    app.footer(kExitStatus);
    Options o;

    auto* info = app.add_subcommand("info", "Print the controller type, its item limit and its key fingerprint");
    addConnectionOptions(info, o);
    addFormatOptions(info, o, true);

    auto* blocks =
        app.add_subcommand("blocks", "List the data blocks, then the memory areas I, Q, M, S7Timers, S7Counters");
    addConnectionOptions(blocks, o);
    addFormatOptions(blocks, o, true);

    auto* browse = app.add_subcommand("browse", "List every readable variable with its type and item address");
    addConnectionOptions(browse, o);
    browse->add_option("--block", o.blocks, "only this block (repeatable)");
    browse->add_option("--filter", o.filter, "only names containing TEXT (case-insensitive)");
    addFormatOptions(browse, o, true);

    auto* read = app.add_subcommand("read", "Read variables by their full symbolic names");
    addConnectionOptions(read, o);
    read->add_option("NAME", o.names,
                     "full symbolic name, e.g. DB1.Motor.Speed, or as TIA Portal writes it: \"Conveyor\".BeltSpeed, "
                     "\"Conveyor\".\"Belt Speed\"")
        ->required();
    auto* watch = read->add_flag("--watch", o.watch, "read again every interval until interrupted");
    read->add_option("--interval", o.intervalMs, "milliseconds between reads with --watch")
        ->needs(watch)
        ->check(CLI::Range(1u, 86400000u))
        ->capture_default_str();
    read->add_flag("--reconnect", o.reconnect,
                   "with --watch, connect again after a lost connection (waits 1, 2, 4, 8, 16, then 30 s) and watch on")
        ->needs(watch);
    read->add_flag("--keep-going", o.keepGoing,
                   "print the values that could be read and name each variable that could not on standard error, "
                   "rather than failing as a whole (the exit status still says so)")
        ->excludes(watch);
    read->add_option("--format", o.display,
                     "value text: iec for the controller's literal forms (T#1S_500MS, D#2026-12-10, 16#0A1F, 'A'), "
                     "dec for plain numbers (the default); with --json the values stay typed and \"text\" holds "
                     "the formatted text")
        ->check(CLI::IsMember({"iec", "dec"}, CLI::ignore_case));
    addFormatOptions(read, o, true);

    auto* write = app.add_subcommand(
        "write", "Write variables after showing their current and new values and asking (or with --yes), then read "
                 "them back. Values: 42, -7, 16#FF, 2#1010, TRUE, 1.5, T#2s, LT#1S_5NS, S5T#2s, D#2026-12-10, "
                 "TOD#06:00:00.000, LDT#2026-12-10-12:34:56.123456789, 'A', WCHAR#'x', 'text' ($' for a quote)");
    addConnectionOptions(write, o);
    write->add_option("NAME VALUE", o.pairs, "full symbolic name (as read takes it) and the value to write, repeatable")
        ->required()
        ->expected(2, -1);
    write->add_flag("--yes", o.yes, "write without asking (required when standard input is no terminal)");
    addFormatOptions(write, o, true);

    // A negative infinity is a value, but CLI11 reads "-inf" as the short
    // options -i, -n and -f. write has no such options: there the word
    // goes on with a blank in front, which CLI11 leaves to the positionals
    // and the value parser trims. After "--" everything is a value anyway.
    std::vector<std::string> args(argv, argv + argc);
    const auto subcommand =
        std::find_if(args.begin() + 1, args.end(), [](const std::string& a) { return a.empty() || a[0] != '-'; });
    if (subcommand != args.end() && *subcommand == "write") {
        for (auto it = subcommand + 1; it != args.end() && *it != "--"; ++it) {
            std::string lower = *it;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            if (lower == "-inf") it->insert(0, " ");
        }
    }
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());

    try {
        app.parse(argc, pointers.data());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    // Under a file size limit, writing the known-hosts store past it would
    // end the tool by this signal and leave its temporary file; ignored, the
    // write fails with EFBIG, which is reported and cleaned up like any
    // other failed write.
    std::signal(SIGXFSZ, SIG_IGN);
    const std::string command = app.get_subcommands().front()->get_name();
    try {
        return run(command, o);
    } catch (const StepError& e) {
        std::cerr << e.message() << "\n";
        return kExitFailed;
    } catch (const ValueMismatch& e) {
        std::cerr << e.what() << "\n";
        return kExitFailed;
    } catch (const UnknownName& e) {
        std::cerr << e.what() << "\n";
        return kExitUnknownName;
    } catch (const UsageError& e) {
        std::cerr << e.what() << "\n";
        return kExitUsage;
    } catch (const NotConfirmed& e) {
        std::cerr << e.what() << "\n";
        return kExitNotConfirmed;
    } catch (const IdentityRefused& e) {
        std::cerr << e.what() << "\n";
        return kExitFailed;
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        return kExitFailed;
    }
}
