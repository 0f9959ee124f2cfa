// vemo-s7 end to end: the real tool against the real simulator over
// loopback, serving a small program whose values the test knows. JSON output
// is parsed, CSV and text are checked line by line. Answers the simulator
// does not give go to the session's read through fake library calls.
#include "Output.h"
#include "PlcSession.h"
#include "app_test_support.h"
#include "fake_reads.h"
#include "fake_writes.h"
#include "loopback_server.h"
#include "process.h"
#include "vemo/core/KnownControllers.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using vemo::test::BackgroundProcess;
using vemo::test::ProcessResult;
using vemo::test::runProcess;

constexpr int kItemLimit = 4;

// Known values of every kind the tool formats, a live counter, and an array
// of ten words to read in more than one chunk at an item limit of 4.
constexpr const char* kProgram = R"json({
  "plc_type": "CPU 1215C DC/DC/DC",
  "blocks": [
    {"name": "Data", "number": 1, "members": [
      {"name": "Flag", "type": "Bool", "value": true},
      {"name": "Text", "type": "String[10]", "value": "abc"},
      {"name": "Ratio", "type": "Real", "value": 0.1},
      {"name": "Big", "type": "LReal", "value": 1e20},
      {"name": "Debt", "type": "DInt", "value": -42},
      {"name": "Ticks", "type": "DInt", "generator": {"kind": "counter", "start": 0, "step": 1, "period_ms": 20}},
      {"name": "Words", "type": "Array[0..9] of Int", "value": [0, 10, 20, 30, 40, 50, 60, 70, 80, 90]},
      {"name": "Pos", "type": "Array[1..2, 0..1] of Int", "value": [1, 2, 3, 4]},
      {"name": "Pause", "type": "Time", "value": -2500},
      {"name": "Day", "type": "Date", "value": 13492},
      {"name": "Shift", "type": "Time_Of_Day", "value": 86400000},
      {"name": "Mask", "type": "Word", "value": 2591},
      {"name": "Letter", "type": "Char", "value": "$"},
      {"name": "Delay", "type": "S5Time", "value": 8483},
      {"name": "Belt Speed", "type": "Real", "value": 2.5},
      {"name": "Say \"Hi\"", "type": "Int", "value": 7}
    ]},
    {"name": "Other", "number": 7, "members": [
      {"name": "Label", "type": "String[20]", "value": "a, \"quoted\" text"},
      {"name": "Control", "type": "String[8]", "value": "a\u0001b\tc"}
    ]}
  ]
})json";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// The key fingerprint of a certificate file, computed as the README shows.
std::string keyFingerprint(const std::string& certFile) {
    const ProcessResult r = runProcess(
        {"/bin/sh", "-c",
         "echo \"SHA256:$(openssl x509 -in '" + certFile +
             "' -pubkey -noout | openssl pkey -pubin -outform DER | openssl dgst -sha256 -binary | openssl base64 | "
             "tr -d '=')\""});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out.substr(0, r.out.find('\n'));
}

class VemoS7 : public ::testing::Test {
protected:
    // The simulator presents the identity in cert.pem and key.pem, written
    // once; other-cert.pem and other-key.pem are another controller's.
    static void SetUpTestSuite() {
        dir_ = std::filesystem::temp_directory_path() / ("vemo_s7_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ / "program.json") << kProgram;
        for (const std::string name : {"", "other-"}) {
            const ProcessResult written =
                runProcess({VEMO_SIM_EXE, "--write-identity", path(name + "cert.pem"), path(name + "key.pem")});
            ASSERT_EQ(written.exitCode, 0) << written.err;
        }
        fingerprint_ = keyFingerprint(path("cert.pem"));
        otherFingerprint_ = keyFingerprint(path("other-cert.pem"));
        sim_ = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{VEMO_SIM_EXE, "--port", "0", "--program", path("program.json"), "--max-read-items",
                                     std::to_string(kItemLimit), "--cert", path("cert.pem"), "--key", path("key.pem")});
        const std::string prefix = "listening on 127.0.0.1:";
        ASSERT_EQ(sim_->firstLine().rfind(prefix, 0), 0u) << sim_->firstLine();
        port_ = sim_->firstLine().substr(prefix.size());
    }
    static std::string path(const std::string& name) { return (dir_ / name).string(); }
    static void TearDownTestSuite() {
        sim_.reset();
        std::filesystem::remove_all(dir_);
    }

    // vemo-s7 COMMAND 127.0.0.1 -p PORT ARGS...
    static ProcessResult tool(const std::string& command, std::vector<std::string> args = {}) {
        std::vector<std::string> argv = {VEMO_S7_EXE, command, "127.0.0.1", "-p", port_};
        argv.insert(argv.end(), args.begin(), args.end());
        return runProcess(argv);
    }
    static json toolJson(const std::string& command, std::vector<std::string> args = {}) {
        args.push_back("--json");
        const ProcessResult r = tool(command, args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return json::parse(r.out);
    }

    static inline std::filesystem::path dir_;
    static inline std::unique_ptr<BackgroundProcess> sim_;
    static inline std::string port_;
    static inline std::string fingerprint_;  // of the simulator's key
    static inline std::string otherFingerprint_;
};

TEST_F(VemoS7, InfoInEveryFormat) {
    ASSERT_EQ(fingerprint_.size(), 50u) << fingerprint_;
    const json j = toolJson("info");
    EXPECT_EQ(
        j, json({{"plc_type", "CPU 1215C DC/DC/DC"}, {"max_read_items", kItemLimit}, {"fingerprint", fingerprint_}}));

    const ProcessResult text = tool("info");
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(lines(text.out), (std::vector<std::string>{"PLC type:        CPU 1215C DC/DC/DC", "Max read items:  4",
                                                         "Fingerprint:     " + fingerprint_}));

    const ProcessResult csv = tool("info", {"--csv"});
    EXPECT_EQ(csv.out, "plc_type,max_read_items,fingerprint\r\nCPU 1215C DC/DC/DC,4," + fingerprint_ + "\r\n");
}

TEST_F(VemoS7, BlocksListDataBlocksThenTheFiveAreas) {
    const json j = toolJson("blocks");
    std::vector<std::string> names;
    for (const json& b : j) {
        names.push_back(b.at("name").get<std::string>());
        EXPECT_TRUE(b.at("object_id").is_number_unsigned());
        EXPECT_TRUE(b.at("type_info_id").is_number_unsigned());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Data", "Other", "I", "Q", "M", "S7Timers", "S7Counters"}));
    EXPECT_EQ(j[0].at("number"), 1);
    EXPECT_EQ(j[1].at("number"), 7);

    const auto text = lines(tool("blocks").out);
    ASSERT_EQ(text.size(), 8u);
    EXPECT_EQ(text[0].rfind("NUMBER", 0), 0u);
    EXPECT_EQ(text[2].rfind("7 ", 0), 0u) << text[2];
    EXPECT_EQ(lines(tool("blocks", {"--csv"}).out).at(0), "number,name,object_id,type_info_id\r");
}

TEST_F(VemoS7, BrowseGivesNamesTypesAndAddresses) {
    const json all = toolJson("browse");
    const json blocks = toolJson("blocks");
    std::map<std::string, json> byName;
    for (const json& v : all) {
        byName[v.at("name").get<std::string>()] = v;
    }
    ASSERT_TRUE(byName.count("Data.Flag"));
    const json& flag = byName["Data.Flag"];
    EXPECT_EQ(flag.at("block"), "Data");
    EXPECT_EQ(flag.at("datatype"), "BOOL");
    EXPECT_EQ(flag.at("datatype_id"), 1);
    EXPECT_EQ(flag.at("address").at("object_id"), blocks[0].at("object_id"));
    EXPECT_EQ(flag.at("address").at("attribute_id"), 2550);
    EXPECT_TRUE(flag.at("address").at("path").is_array());
    for (const char* name : {"Data.Words[0]", "Data.Words[9]", "Data.Pos[1,0]", "Data.Pos[2,1]", "Other.Label"}) {
        EXPECT_TRUE(byName.count(name)) << name;
    }
    EXPECT_EQ(byName["Data.Text"].at("datatype"), "STRING");

    // One block, and the tree view's case-insensitive match.
    const json other = toolJson("browse", {"--block", "Other"});
    ASSERT_EQ(other.size(), 2u);
    EXPECT_EQ(other[0].at("name"), "Other.Label");
    const json filtered = toolJson("browse", {"--filter", "wORDS[1"});
    ASSERT_EQ(filtered.size(), 1u);
    EXPECT_EQ(filtered[0].at("name"), "Data.Words[1]");

    const auto csv = lines(tool("browse", {"--filter", "Data.Words[1]", "--csv"}).out);
    ASSERT_EQ(csv.size(), 2u);
    EXPECT_EQ(csv[0], "block,name,datatype,datatype_id,object_id,attribute_id,path\r");
    // A path of several ids is one quoted field.
    const json& words1 = byName["Data.Words[1]"];
    EXPECT_EQ(csv[1], "Data,Data.Words[1],INT,5," + words1.at("address").at("object_id").dump() + ",2550,\"" +
                          std::to_string(words1.at("address").at("path")[0].get<int>()) + "," +
                          std::to_string(words1.at("address").at("path")[1].get<int>()) + "\"\r");

    const auto text = lines(tool("browse", {"--filter", "Data.Debt"}).out);
    ASSERT_EQ(text.size(), 2u);
    EXPECT_EQ(text[1].rfind("Data.Debt  DINT  0x", 0), 0u) << text[1];
}

TEST_F(VemoS7, ReadFormatsEveryKindOfValue) {
    const std::vector<std::string> names = {"Data.Flag", "Data.Text",   "Data.Ratio",   "Data.Big",
                                            "Data.Debt", "Other.Label", "Other.Control"};
    const json j = toolJson("read", names);
    ASSERT_EQ(j.size(), names.size());
    const json expected = json::parse(R"([
      {"name": "Data.Flag", "datatype": "BOOL", "value": true},
      {"name": "Data.Text", "datatype": "STRING", "value": "abc"},
      {"name": "Data.Ratio", "datatype": "REAL", "value": 0.1},
      {"name": "Data.Big", "datatype": "LREAL", "value": 1e20},
      {"name": "Data.Debt", "datatype": "DINT", "value": -42},
      {"name": "Other.Label", "datatype": "STRING", "value": "a, \"quoted\" text"},
      {"name": "Other.Control", "datatype": "STRING", "value": "a\u0001b\tc"}
    ])");
    EXPECT_EQ(j, expected);

    const ProcessResult csv = tool("read", {"Data.Ratio", "Data.Big", "Other.Label", "--csv"});
    EXPECT_EQ(csv.out,
              "name,datatype,value\r\n"
              "Data.Ratio,REAL,0.1\r\n"
              "Data.Big,LREAL,1e+20\r\n"
              "Other.Label,STRING,\"a, \"\"quoted\"\" text\"\r\n");

    const auto text = lines(tool("read", {"Data.Flag", "Data.Debt"}).out);
    EXPECT_EQ(text, (std::vector<std::string>{"Data.Flag  BOOL  true", "Data.Debt  DINT  -42"}));
}

// --format iec shows the controller's literal forms in text and CSV, and as
// "text" beside the typed value in JSON; without it, or with dec, the
// output is what scripts have parsed all along.
TEST_F(VemoS7, ReadInTheControllersLiteralForms) {
    const std::vector<std::string> names = {"Data.Pause",  "Data.Day",   "Data.Shift", "Data.Mask",
                                            "Data.Letter", "Data.Delay", "Data.Debt",  "Data.Text"};
    const std::vector<std::string> iec = {
        "T#-2S_500MS", "D#2026-12-10", "86400000 (invalid)", "16#0A1F", "'$$'", "S5T#2M_3S", "-42", "abc"};
    const std::vector<std::string> dec = {"-2500", "13492", "86400000", "2591", "36", "8483", "-42", "abc"};

    std::vector<std::string> args = names;
    args.insert(args.end(), {"--format", "iec", "--json"});
    const ProcessResult r = tool("read", args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(j[i].at("text"), iec[i]) << names[i];
        EXPECT_EQ(j[i].at("value").dump(), i + 1 < names.size() ? dec[i] : "\"abc\"") << names[i];
    }
    EXPECT_EQ(toolJson("read", {"Data.Day"}),
              json::parse(R"([{"name": "Data.Day", "datatype": "DATE", "value": 13492}])"))
        << "no \"text\" without --format";

    const struct {
        std::vector<std::string> format;
        const std::vector<std::string>& values;
    } cases[] = {{{}, dec}, {{"--format", "dec"}, dec}, {{"--format", "IEC"}, iec}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format.empty() ? "no --format" : c.format[1]);
        std::vector<std::string> csvArgs = names;
        csvArgs.insert(csvArgs.end(), c.format.begin(), c.format.end());
        csvArgs.push_back("--csv");
        const auto csv = lines(tool("read", csvArgs).out);
        ASSERT_EQ(csv.size(), names.size() + 1);
        EXPECT_EQ(csv[0], "name,datatype,value\r");
        EXPECT_EQ(csv[2], "Data.Day,DATE," + c.values[1] + "\r");
        EXPECT_EQ(csv[5], "Data.Letter,CHAR," + c.values[4] + "\r");

        std::vector<std::string> textArgs = {"Data.Pause", "Data.Mask"};
        textArgs.insert(textArgs.end(), c.format.begin(), c.format.end());
        const ProcessResult text = tool("read", textArgs);
        ASSERT_EQ(text.exitCode, 0) << text.err;
        EXPECT_EQ(lines(text.out),
                  (std::vector<std::string>{"Data.Pause  TIME  " + c.values[0], "Data.Mask   WORD  " + c.values[3]}));
    }

    const ProcessResult wrong = tool("read", {"Data.Day", "--format", "hex"});
    EXPECT_EQ(wrong.exitCode, 2) << "iec and dec only";
    EXPECT_EQ(wrong.out, "");
    const ProcessResult help = runProcess({VEMO_S7_EXE, "read", "--help"});
    EXPECT_NE(help.out.find("--format"), std::string::npos) << help.out;
}

TEST_F(VemoS7, ReadOfMoreNamesThanTheItemLimitKeepsTheirOrder) {
    std::vector<std::string> names;
    for (int i = 9; i >= 0; --i) {
        names.push_back("Data.Words[" + std::to_string(i) + "]");
    }
    names.push_back("Data.Pos[2,0]");
    const json j = toolJson("read", names);
    ASSERT_EQ(j.size(), names.size());
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(j[i].at("name"), names[i]);
        EXPECT_EQ(j[i].at("value"), 90 - 10 * static_cast<int>(i));
    }
    EXPECT_EQ(j[10].at("value"), 3);
}

TEST_F(VemoS7, FailuresExitWithTheirCodeAndPrintNothingPartial) {
    struct Row {
        const char* what;
        std::vector<std::string> argv;
        int exitCode;
        std::string errStart;
    };
    // A port where nothing listens: a simulator started and stopped.
    std::string stoppedPort;
    {
        BackgroundProcess stopped({VEMO_SIM_EXE, "--port", "0"});
        stoppedPort = stopped.firstLine().substr(stopped.firstLine().rfind(':') + 1);
        ASSERT_EQ(stopped.stop(SIGTERM), 0);
    }
    const std::vector<Row> rows = {
        {"unknown member", {VEMO_S7_EXE, "read", "127.0.0.1", "-p", port_, "Data.Flag", "Data.Nope"}, 4, ""},
        {"unknown block", {VEMO_S7_EXE, "read", "127.0.0.1", "-p", port_, "Nope.Flag"}, 4, ""},
        {"structure, not a variable", {VEMO_S7_EXE, "read", "127.0.0.1", "-p", port_, "Data.Words"}, 4, ""},
        {"browse of an unknown block",
         {VEMO_S7_EXE, "browse", "127.0.0.1", "-p", port_, "--block", "Data", "--block", "Nope"},
         4,
         "no block named Nope"},
        {"stopped simulator",
         {VEMO_S7_EXE, "read", "127.0.0.1", "-p", stoppedPort, "Data.Flag"},
         3,
         "connect failed: 127.0.0.1:" + stoppedPort + ": connection refused (S7_ERR_CONNECT 3)"},
        {"no subcommand", {VEMO_S7_EXE}, 2, ""},
        {"unknown option", {VEMO_S7_EXE, "info", "127.0.0.1", "--bogus"}, 2, ""},
        {"port out of range", {VEMO_S7_EXE, "info", "127.0.0.1", "-p", "70000"}, 2, ""},
        {"watch interval without watch", {VEMO_S7_EXE, "read", "127.0.0.1", "X.y", "--interval", "5"}, 2, ""},
        {"reconnect without watch", {VEMO_S7_EXE, "read", "127.0.0.1", "X.y", "--reconnect"}, 2, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const ProcessResult r = runProcess(row.argv);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(r.err.empty());
        if (!row.errStart.empty()) {
            EXPECT_EQ(r.err, row.errStart + "\n");
        }
        if (row.exitCode == 4) {
            EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
        }
    }
}

// Each way a connect fails before the controller is reached is named, the
// library's code beside it.
TEST_F(VemoS7, AFailedConnectNamesItsCause) {
    // Listens, but never answers the connection request.
    const vemo::test::LoopbackServer silent(nullptr);
    const std::string silentPort = std::to_string(silent.port());
    const std::string refusedPort = std::to_string(vemo::test::unusedPort());
    const struct {
        std::string host;
        std::string port;
        std::string err;
    } cases[] = {
        {"127.0.0.1", refusedPort,
         "connect failed: 127.0.0.1:" + refusedPort + ": connection refused (S7_ERR_CONNECT 3)"},
        {"no-such-host.invalid", "102", "connect failed: no-such-host.invalid:102: unknown host (S7_ERR_CONNECT 3)"},
        {"", "102", "connect failed: no address given (S7_ERR_CONNECT 3)"},
        {"127.0.0.1", silentPort,
         "connect failed: 127.0.0.1:" + silentPort + ": the device at port " + silentPort +
             " took the connection but did not answer the ISO connection request within 1 s (S7_ERR_TIMEOUT 4)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        const ProcessResult r = runProcess({VEMO_S7_EXE, "read", c.host, "-p", c.port, "-t", "300", "Data.Flag"});
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err + "\n");
    }
}

// A request that fails after the connect is named in words, the code beside
// them, never by its code alone.
TEST_F(VemoS7, AFailedRequestIsNamedInWords) {
    // Takes the connection, then never answers the listing of the blocks
    // (the simulator's fifth request).
    BackgroundProcess stalled({VEMO_SIM_EXE, "--port", "0", "--fault", "stall-at-request", "--fault-arg", "5"});
    const std::string port = stalled.firstLine().substr(stalled.firstLine().rfind(':') + 1);
    const ProcessResult r = runProcess({VEMO_S7_EXE, "blocks", "127.0.0.1", "-p", port, "-t", "300"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "list blocks failed: no answer within 1 s (S7_ERR_TIMEOUT 4)\n");
}

// Names as TIA Portal writes them read the variables browse lists, shown
// by their browse names; a malformed one stops the command before it
// connects, saying what is wrong.
TEST_F(VemoS7, QuotedNamesReadTheVariablesTheyName) {
    const json j = toolJson("read", {"\"Data\".Debt", "\"Data\".Pos[2, 1]", "\"Data\".\"Belt Speed\"",
                                     "Data.\"Say \"\"Hi\"\"\"", "Data.Belt Speed"});
    EXPECT_EQ(j, json::parse(R"([
      {"name": "Data.Debt", "datatype": "DINT", "value": -42},
      {"name": "Data.Pos[2,1]", "datatype": "INT", "value": 4},
      {"name": "Data.Belt Speed", "datatype": "REAL", "value": 2.5},
      {"name": "Data.Say \"Hi\"", "datatype": "INT", "value": 7},
      {"name": "Data.Belt Speed", "datatype": "REAL", "value": 2.5}
    ])"));

    const std::pair<std::string, std::string> malformed[] = {
        {"\"Data.Debt", "not a variable name: '\"Data.Debt': the quote at character 1 is not closed"},
        {"\"Data\"Debt",
         "not a variable name: '\"Data\"Debt': unexpected 'D' at character 7: a '.' or '[' must come next"},
        {"\"Data\".Pos[x]",
         "not a variable name: '\"Data\".Pos[x]': the index 'x' at character 12 is not a whole number"},
    };
    for (const auto& [name, err] : malformed) {
        SCOPED_TRACE(name);
        // Port 1: a command that tried to connect would fail with exit 3.
        const ProcessResult r = runProcess({VEMO_S7_EXE, "read", "127.0.0.1", "-p", "1", "Data.Flag", name});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, err + "\n");
    }
}

// Every unknown name is named. A plain read then prints nothing; with
// --keep-going the others print, and the exit status still says 4.
TEST_F(VemoS7, UnknownNamesAreNamedAndKeepGoingPrintsTheOthers) {
    const std::string nope = "read failed: Data.Nope: no such variable\n";
    const std::string nix = "read failed: Other.Nix: no such variable\n";
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string out;
        std::string err;
    } cases[] = {
        {{"Data.Debt", "Data.Nope", "\"Other\".Nix"}, 4, "", nope + nix},
        {{"Data.Debt", "Data.Nope", "Data.Flag", "--keep-going"},
         4,
         "Data.Debt  DINT  -42\nData.Flag  BOOL  true\n",
         nope},
        {{"Data.Nope", "Data.Flag", "--keep-going", "--json"},
         4,
         R"([{"datatype":"BOOL","name":"Data.Flag","value":true}])"
         "\n",
         nope},
        {{"Data.Nope", "Other.Nix", "--keep-going", "--csv"}, 4, "name,datatype,value\r\n", nope + nix},
        {{"Data.Debt", "Data.Flag", "--keep-going"}, 0, "Data.Debt  DINT  -42\nData.Flag  BOOL  true\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const ProcessResult r = tool("read", c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(tool("read", {"Data.Debt", "--keep-going", "--watch"}).exitCode, 2) << "a watch fails as a whole";
}

// --help of the tool and of every command ends with the exit status list,
// word for word as the README has it; --version names the version.
TEST(VemoS7Help, ListsTheExitStatusAndTheVersion) {
    std::ifstream file(VEMO_README);
    std::stringstream readme;
    readme << file.rdbuf();
    std::string footer;
    for (const std::vector<std::string>& argv : {std::vector<std::string>{VEMO_S7_EXE, "--help"},
                                                 {VEMO_S7_EXE, "read", "--help"},
                                                 {VEMO_S7_EXE, "write", "--help"},
                                                 {VEMO_S7_EXE, "info", "--help"}}) {
        SCOPED_TRACE(argv.at(1));
        const ProcessResult r = runProcess(argv);
        EXPECT_EQ(r.exitCode, 0);
        const std::size_t at = r.out.find("Exit status:\n");
        ASSERT_NE(at, std::string::npos) << r.out;
        const std::string found = r.out.substr(at);
        for (const char* code : {"\n  0  success\n", "\n  2  usage error", "\n  3  the connection or a request failed",
                                 "\n  4  a name is not a variable", "\n  5  a write was not confirmed\n"}) {
            EXPECT_NE(found.find(code), std::string::npos) << code;
        }
        if (footer.empty()) footer = found.substr(0, found.find("\n\n") + 1);
        EXPECT_EQ(found.rfind(footer, 0), 0u) << "the same list everywhere";
    }
    EXPECT_NE(readme.str().find("```text\n" + footer + "```\n"), std::string::npos) << footer;

    const ProcessResult version = runProcess({VEMO_S7_EXE, "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, std::string("vemo-s7 ") + VEMO_VERSION + "\n");
}

TEST_F(VemoS7, ABlockThatFailsToBrowseFailsWhatNeedsItAndNothingElse) {
    // The first data block, Data, holds a member of its own type: its browse
    // fails, the one of Other does not.
    BackgroundProcess faulty({VEMO_SIM_EXE, "--port", "0", "--program", (dir_ / "program.json").string(), "--fault",
                              "self-referencing-type"});
    const std::string port = faulty.firstLine().substr(faulty.firstLine().rfind(':') + 1);
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin() + 1, {"127.0.0.1", "-p", port});
        args.insert(args.begin(), VEMO_S7_EXE);
        return runProcess(args);
    };

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"browse"}, {"browse", "--block", "Data"}, {"read", "Other.Label", "Data.Flag"}}) {
        const ProcessResult r = run(args);
        EXPECT_EQ(r.exitCode, 3) << args.back();
        EXPECT_EQ(r.err, "browse failed: the controller sent an answer the client could not read (S7_ERR_PROTOCOL 5)\n")
            << args.back();
        EXPECT_EQ(r.out, "") << args.back();
    }

    const ProcessResult read = run({"read", "Other.Label"});
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(read.out, "Other.Label  STRING  a, \"quoted\" text\n");
    const ProcessResult browse = run({"browse", "--block", "Other", "--filter", "Label", "--csv"});
    EXPECT_EQ(browse.exitCode, 0) << browse.err;
    EXPECT_EQ(lines(browse.out).at(1).rfind("Other,Other.Label,STRING,", 0), 0u) << browse.out;
}

TEST_F(VemoS7, WatchRepeatsUntilInterruptedWithRisingCounterValues) {
    BackgroundProcess watch({VEMO_S7_EXE, "read", "127.0.0.1", "-p", port_, "Data.Ticks", "Data.Debt", "--watch",
                             "--interval", "50", "--json"});
    std::vector<std::string> rounds = {watch.firstLine()};
    for (int tries = 0; tries < 100 && rounds.size() < 4; ++tries) {
        for (const std::string& line : lines(watch.readOutput(200))) {
            rounds.push_back(line);
        }
    }
    EXPECT_EQ(watch.stop(SIGINT), 0) << "an interrupt ends the watch cleanly";
    ASSERT_GE(rounds.size(), 4u);

    long long previous = -1;
    for (const std::string& line : rounds) {
        if (line.empty()) {
            continue;  // a round cut by the interrupt prints nothing partial
        }
        const json round = json::parse(line);
        ASSERT_EQ(round.size(), 2u) << line;
        EXPECT_TRUE(round[0].at("time").is_string());
        EXPECT_EQ(round[1].at("value"), -42);
        const long long ticks = round[0].at("value").get<long long>();
        EXPECT_GT(ticks, previous) << "the counter rises from round to round";
        previous = ticks;
    }
}

// A watch across a simulator that goes away and comes back on the same
// port: with --reconnect it says so on standard error and goes on printing
// values; without, the loss ends it with exit 3.
TEST_F(VemoS7, WatchAcrossASimulatorRestart) {
    const std::vector<std::string> simArgs = {"--program", (dir_ / "program.json").string()};
    auto startSim = [&](const std::string& port) {
        std::vector<std::string> argv = {VEMO_SIM_EXE, "--port", port};
        argv.insert(argv.end(), simArgs.begin(), simArgs.end());
        return std::make_unique<BackgroundProcess>(argv);
    };
    for (const bool reconnect : {true, false}) {
        SCOPED_TRACE(reconnect ? "--reconnect" : "no --reconnect");
        auto sim = startSim("0");
        const std::string port = sim->firstLine().substr(sim->firstLine().rfind(':') + 1);
        std::vector<std::string> argv = {VEMO_S7_EXE,  "read",    "127.0.0.1",  "-p", port,
                                         "Data.Ticks", "--watch", "--interval", "50", "--json"};
        if (reconnect) {
            argv.push_back("--reconnect");
        }
        BackgroundProcess watch(argv, 10000, BackgroundProcess::Errors::Captured);
        ASSERT_FALSE(watch.firstLine().empty());
        ASSERT_EQ(sim->stop(SIGTERM), 0);
        sim.reset();

        if (!reconnect) {
            watch.readOutput(10000);  // until it ends
            EXPECT_EQ(watch.stop(SIGINT), 3);
            EXPECT_NE(watch.errorLine(1000).find("read failed: "), std::string::npos);
            continue;
        }
        const std::string lost = watch.errorLine(10000);
        EXPECT_NE(lost.find(" connection lost: "), std::string::npos) << lost;
        EXPECT_NE(watch.errorLine(10000).find(" reconnecting in 1 s (attempt 1)"), std::string::npos);
        watch.readOutput(200);  // the rounds before the loss

        sim = startSim(port);
        ASSERT_FALSE(sim->firstLine().empty()) << "the port is free again";
        // Attempt 1 may have come before the simulator was back.
        std::string line;
        for (int i = 0; i < 6 && line.find(" reconnected") == std::string::npos; ++i) {
            line = watch.errorLine(20000);
        }
        EXPECT_NE(line.find(" reconnected"), std::string::npos) << line;
        std::vector<std::string> after;
        for (int tries = 0; tries < 50 && after.empty(); ++tries) {
            after = lines(watch.readOutput(200));
        }
        EXPECT_EQ(watch.stop(SIGINT), 0);
        ASSERT_FALSE(after.empty()) << "values come again after the reconnect";
        EXPECT_TRUE(json::parse(after.front())[0].at("value").is_number()) << after.front();
    }
}

// A controller answered a DINT with BOOLs: the read names the variable and
// what was sent, and no value of the round is printed (main prints the
// message and exits 3, as for every failed read).
// Writes change the simulator's values, so each case gets a simulator of
// its own, serving the same program (and a fault when the case asks).
struct WriteSim {
    explicit WriteSim(const std::filesystem::path& program, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {VEMO_SIM_EXE, "--port", "0", "--program", program.string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        process = std::make_unique<BackgroundProcess>(argv);
        const std::string prefix = "listening on 127.0.0.1:";
        EXPECT_EQ(process->firstLine().rfind(prefix, 0), 0u) << process->firstLine();
        port = process->firstLine().substr(prefix.size());
    }
    ProcessResult tool(const std::string& command, std::vector<std::string> args) const {
        std::vector<std::string> argv = {VEMO_S7_EXE, command, "127.0.0.1", "-p", port};
        argv.insert(argv.end(), args.begin(), args.end());
        return runProcess(argv);
    }
    std::unique_ptr<BackgroundProcess> process;
    std::string port;
};

TEST_F(VemoS7, WriteSetsEveryVariableThenReadsThemBack) {
    const WriteSim sim(dir_ / "program.json");
    const ProcessResult w = sim.tool("write", {"Data.Debt", "16#7F", "Data.Flag", "FALSE", "Data.Text", "'x$'y'",
                                               "Data.Words[3]", "-5", "Data.Ratio", "-2e3", "--yes", "--json"});
    ASSERT_EQ(w.exitCode, 0) << w.err;
    EXPECT_EQ(w.err, "");
    const json expected = json::parse(R"([
      {"name": "Data.Debt", "datatype": "DINT", "value": 127},
      {"name": "Data.Flag", "datatype": "BOOL", "value": false},
      {"name": "Data.Text", "datatype": "STRING", "value": "x'y"},
      {"name": "Data.Words[3]", "datatype": "INT", "value": -5},
      {"name": "Data.Ratio", "datatype": "REAL", "value": -2000}
    ])");
    EXPECT_EQ(json::parse(w.out), expected) << "the values read back after the write";
    // The controller keeps them; the neighbours stay as they were.
    const ProcessResult r = sim.tool("read", {"Data.Debt", "Data.Words[2]", "Data.Words[3]"});
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{"Data.Debt      DINT  127", "Data.Words[2]  INT   20",
                                                      "Data.Words[3]  INT   -5"}));
}

// A negative infinity is a value, not a cluster of options, wherever it
// stands among the pairs.
TEST_F(VemoS7, MinusInfIsAValueToWrite) {
    const WriteSim sim(dir_ / "program.json");
    for (const char* text : {"-inf", "-INF"}) {
        SCOPED_TRACE(text);
        const ProcessResult w = sim.tool("write", {"Data.Ratio", text, "Data.Debt", "7", "--yes"});
        ASSERT_EQ(w.exitCode, 0) << w.err;
        EXPECT_EQ(lines(sim.tool("read", {"Data.Ratio"}).out), (std::vector<std::string>{"Data.Ratio  REAL  -inf"}));
        ASSERT_EQ(sim.tool("write", {"Data.Ratio", "1.5", "--yes"}).exitCode, 0);
    }
    // For another data type it is refused as any wrong value is.
    const ProcessResult w = sim.tool("write", {"Data.Debt", "-inf", "--yes"});
    EXPECT_EQ(w.exitCode, 2);
    EXPECT_EQ(w.err, "Data.Debt: -inf is not a DINT number\n");
}

// Nothing is written unless every pair parses, every name resolves and the
// write is confirmed; the value stays -42.
TEST_F(VemoS7, WriteRefusesBeforeWritingAnything) {
    const WriteSim sim(dir_ / "program.json");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string err;
    };
    const Case cases[] = {
        {{"Data.Debt", "7", "--yes", "Data.Flag"}, 2, "write takes NAME VALUE pairs; the last name has no value\n"},
        {{"Data.Debt", "7"}, 2, "not writing without --yes: there is no terminal to confirm on\n"},
        {{"Data.Debt", "7", "Data.Text", "'far too long'", "--yes"},
         2,
         "Data.Text: 'far too long' has 12 characters; the STRING holds 10\n"},
        {{"Data.Debt", "7", "Data.Flag", "maybe", "--yes"}, 2, "Data.Flag: maybe is not a BOOL (TRUE, FALSE, 1 or 0)\n"},
        {{"Data.Debt", "7", "Data.Nothing", "1", "--yes"}, 4, "write failed: Data.Nothing: no such variable\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        const ProcessResult w = sim.tool("write", c.args);
        EXPECT_EQ(w.exitCode, c.exitCode);
        EXPECT_EQ(w.err, c.err);
        EXPECT_EQ(w.out, "");
        EXPECT_EQ(lines(sim.tool("read", {"Data.Debt"}).out), (std::vector<std::string>{"Data.Debt  DINT  -42"}));
    }
}

TEST_F(VemoS7, AVariableTheControllerRefusesFailsTheWriteAndShowsWhatItHolds) {
    const WriteSim sim(dir_ / "program.json", {"--fault", "refuse-write", "--fault-arg", "2"});
    const ProcessResult w = sim.tool("write", {"Data.Debt", "7", "Data.Flag", "FALSE", "--yes"});
    EXPECT_EQ(w.exitCode, 3);
    EXPECT_EQ(w.err, "write refused: Data.Flag: error 16#8109\n");
    EXPECT_EQ(lines(w.out), (std::vector<std::string>{"Data.Debt  DINT  7", "Data.Flag  BOOL  true"}));
}

// 25 values against a controller that takes 20 items per request: two
// requests, every variable written once. Refusing item 2 of every request
// refuses the 2nd and the 22nd variable, and only those.
TEST_F(VemoS7, AWriteOfMoreValuesThanTheItemLimitGoesInChunks) {
    struct Pair {
        std::string name;
        std::string value;
        json written;
        json before;
    };
    std::vector<Pair> pairs;
    for (int i = 0; i < 10; ++i) {
        const std::string name = "Data.Words[" + std::to_string(i) + "]";
        pairs.push_back({name, std::to_string(100 + i), 100 + i, 10 * i});
    }
    const std::pair<const char*, int> positions[] = {{"[1,0]", 1}, {"[1,1]", 2}, {"[2,0]", 3}, {"[2,1]", 4}};
    for (const auto& [index, before] : positions) pairs.push_back({std::string("Data.Pos") + index, "-9", -9, before});
    pairs.push_back({"Data.Debt", "7", 7, -42});
    pairs.push_back({"Data.Flag", "FALSE", false, true});
    pairs.push_back({"Data.Ratio", "0.5", 0.5, 0.1});
    pairs.push_back({"Data.Big", "2.5", 2.5, 1e20});
    pairs.push_back({"Data.Pause", "1000", 1000, -2500});
    pairs.push_back({"Data.Mask", "16#00FF", 255, 2591});
    pairs.push_back({"Data.Letter", "'B'", 66, 36});
    pairs.push_back({"Data.Day", "13000", 13000, 13492});
    pairs.push_back({"Data.Shift", "21600000", 21600000, 86400000});
    pairs.push_back({"Data.Delay", "S5T#2s", 512, 8483});
    pairs.push_back({"Data.Belt Speed", "3.5", 3.5, 2.5});
    ASSERT_EQ(pairs.size(), 25u);
    std::vector<std::string> args;
    for (const Pair& p : pairs) {
        args.push_back(p.name);
        args.push_back(p.value);
    }
    args.push_back("--yes");
    args.push_back("--json");

    for (const bool refusing : {false, true}) {
        SCOPED_TRACE(refusing ? "item 2 of every request refused" : "all written");
        std::vector<std::string> options = {"--max-read-items", "20"};
        if (refusing) options.insert(options.end(), {"--fault", "refuse-write", "--fault-arg", "2"});
        const WriteSim sim(dir_ / "program.json", options);
        const ProcessResult w = sim.tool("write", args);
        EXPECT_EQ(w.exitCode, refusing ? 3 : 0) << w.err;
        EXPECT_EQ(w.err, refusing ? "write refused: Data.Words[1]: error 16#8109\n"
                                    "write refused: Data.Day: error 16#8109\n"
                                  : "");
        const json back = json::parse(w.out);
        ASSERT_EQ(back.size(), pairs.size());
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            SCOPED_TRACE(pairs[i].name);
            EXPECT_EQ(back[i].at("name"), pairs[i].name);
            const bool refused = refusing && (i == 1 || i == 21);
            EXPECT_EQ(back[i].at("value"), refused ? pairs[i].before : pairs[i].written) << "the value read back";
        }
    }
}

// A variable the controller refuses to read: --keep-going names it with the
// controller's error and prints the others (exit 3); a plain read fails.
TEST_F(VemoS7, KeepGoingNamesAVariableTheControllerRefusesToRead) {
    // Refuses the first item of every read. The listing of the blocks reads
    // too: the first block, Data, comes without its type and browses empty,
    // so the variables read here are Other's.
    const WriteSim sim(dir_ / "program.json", {"--fault", "read-error-entry"});
    const ProcessResult each = sim.tool("read", {"Other.Control", "Other.Label", "--keep-going"});
    EXPECT_EQ(each.exitCode, 3);
    EXPECT_EQ(each.out, "Other.Label  STRING  a, \"quoted\" text\n");
    EXPECT_EQ(each.err, "read failed: Other.Control: refused by the controller (error 16#8109)\n");

    const ProcessResult whole = sim.tool("read", {"Other.Control", "Other.Label"});
    EXPECT_EQ(whole.exitCode, 3);
    EXPECT_EQ(whole.out, "");
}

// Runs a program on a terminal of its own, answering `answer` and a line
// end once it has printed `prompt`; what the terminal showed and the exit
// status (-1 when it did not exit normally or the prompt never came).
struct TerminalRun {
    int exitCode = -1;
    std::string shown;
};

TerminalRun runOnTerminal(const std::vector<std::string>& argv, const std::string& prompt, const std::string& answer) {
    TerminalRun run;
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) return run;
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    bool answered = false;
    for (;;) {
        pollfd p{terminal, POLLIN, 0};
        if (::poll(&p, 1, 20000) != 1) break;
        char buffer[512];
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the program has closed the terminal
        run.shown.append(buffer, static_cast<size_t>(n));
        if (!answered && run.shown.find(prompt) != std::string::npos) {
            const std::string line = answer + "\n";
            EXPECT_EQ(::write(terminal, line.data(), line.size()), static_cast<ssize_t>(line.size()));
            answered = true;
        }
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (answered && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    return run;
}

TEST_F(VemoS7, OnATerminalOnlyAYesWrites) {
    struct Case {
        const char* answer;
        int exitCode;
        const char* after;
    };
    const Case cases[] = {
        {"y", 0, "Data.Debt  DINT  7"},   {"YES", 0, "Data.Debt  DINT  7"},          {"", 5, "Data.Debt  DINT  -42"},
        {"n", 5, "Data.Debt  DINT  -42"}, {"yes please", 5, "Data.Debt  DINT  -42"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("answer '") + c.answer + "'");
        const WriteSim sim(dir_ / "program.json");
        const TerminalRun run =
            runOnTerminal({VEMO_S7_EXE, "write", "127.0.0.1", "-p", sim.port, "Data.Debt", "7", "Data.Text", "'new'"},
                          "Write these values? [y/N] ", c.answer);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.shown;
        // The prompt names the controller and each variable's current and
        // new value.
        EXPECT_NE(run.shown.find("Write to the controller at 127.0.0.1 port " + sim.port + ":"), std::string::npos)
            << run.shown;
        EXPECT_NE(run.shown.find("Data.Debt  DINT  -42 -> 7"), std::string::npos) << run.shown;
        EXPECT_NE(run.shown.find("Data.Text  STRING  abc -> new"), std::string::npos) << run.shown;
        EXPECT_EQ(lines(sim.tool("read", {"Data.Debt"}).out), (std::vector<std::string>{c.after}));
    }
}
// A pinned key is checked right after connect: any other refuses the
// controller before anything is read or written.
TEST_F(VemoS7, APinnedKeyLetsOnlyThatControllerThrough) {
    const WriteSim sim(dir_ / "program.json", {"--cert", path("cert.pem"), "--key", path("key.pem")});
    const std::string refused = "refused: the controller at 127.0.0.1 port " + sim.port + " presents key " +
                                fingerprint_ + ", not the expected " + otherFingerprint_ + "\n";
    struct Case {
        std::string command;
        std::vector<std::string> args;
        int exitCode;
        std::string out;
        std::string err;  // not compared when empty and the exit code is 2
    };
    const Case cases[] = {
        {"read", {"Data.Debt", "--fingerprint", fingerprint_}, 0, "Data.Debt  DINT  -42\n", ""},
        {"read", {"Data.Debt", "--fingerprint", otherFingerprint_}, 3, "", refused},
        {"write", {"Data.Debt", "7", "--yes", "--fingerprint", otherFingerprint_}, 3, "", refused},
        {"info", {"--fingerprint", otherFingerprint_}, 3, "", refused},
        {"read", {"Data.Debt", "--fingerprint", fingerprint_ + "="}, 2, "", ""},
        {"read", {"Data.Debt", "--fingerprint", fingerprint_, "--known-hosts", path("pinned.json")}, 2, "", ""},
        {"read", {"Data.Debt", "--accept-new"}, 2, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command + " " + c.args.back());
        const ProcessResult r = sim.tool(c.command, c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(r.out, c.out);
        if (c.exitCode != 2 || !c.err.empty()) {
            EXPECT_EQ(r.err, c.err);
        }
    }
    EXPECT_EQ(lines(sim.tool("read", {"Data.Debt"}).out), (std::vector<std::string>{"Data.Debt  DINT  -42"}))
        << "the refused write wrote nothing";
}

// A simulator on `port` ("0": a free one) with the identity `prefix`cert.pem.
std::unique_ptr<BackgroundProcess> identifiedSim(const std::filesystem::path& dir, const std::string& port,
                                                 const std::string& prefix) {
    return std::make_unique<BackgroundProcess>(std::vector<std::string>{
        VEMO_SIM_EXE, "--port", port, "--program", (dir / "program.json").string(), "--cert",
        (dir / (prefix + "cert.pem")).string(), "--key", (dir / (prefix + "key.pem")).string()});
}

std::string portOf(const BackgroundProcess& sim) { return sim.firstLine().substr(sim.firstLine().rfind(':') + 1); }

// Trust on first use from a script: an unknown controller is refused
// unless --accept-new stores it; the same key then goes through quietly;
// after the simulator restarted as another controller on the same port,
// its key is refused, --accept-new or not, and the store keeps the first.
TEST_F(VemoS7, KnownHostsKeepTheFirstKeyAndRefuseAnother) {
    const std::string store = path("known-script.json");
    auto sim = identifiedSim(dir_, "0", "");
    const std::string port = portOf(*sim);
    const auto read = [&](std::vector<std::string> extra) {
        std::vector<std::string> argv = {VEMO_S7_EXE, "read",      "127.0.0.1",     "-p",
                                         port,        "Data.Debt", "--known-hosts", store};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return runProcess(argv);
    };
    const std::string controller = "the controller at 127.0.0.1 port " + port;

    ProcessResult r = read({});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "refused: " + controller + " is not in " + store + "; its key fingerprint is " + fingerprint_ +
                         "; --accept-new stores it without asking\n");
    EXPECT_FALSE(std::filesystem::exists(store));

    r = read({"--accept-new"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Data.Debt  DINT  -42\n");
    EXPECT_EQ(r.err, "stored the key of " + controller + " in " + store + ": " + fingerprint_ + "\n");
    const std::vector<vemo::KnownController> stored = vemo::KnownControllers(store).entries();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].host, "127.0.0.1");
    EXPECT_EQ(std::to_string(stored[0].port), port);
    EXPECT_EQ(stored[0].key.text(), fingerprint_);

    r = read({});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "") << "a known controller goes through quietly";

    ASSERT_EQ(sim->stop(SIGTERM), 0);
    sim = identifiedSim(dir_, port, "other-");
    ASSERT_FALSE(sim->firstLine().empty()) << "the port is free again";
    const std::vector<vemo::KnownController> before = vemo::KnownControllers(store).entries();
    for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"--accept-new"}}) {
        r = read(extra);
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("refused: " + controller + " presents key " + otherFingerprint_ + ", but " + store +
                                  " has " + fingerprint_ + " for it (first seen " +
                                  vemo::KnownControllers::timeText(before[0].firstSeen) + ", last seen " +
                                  vemo::KnownControllers::timeText(before[0].lastSeen) + "): ",
                              0),
                  0u)
            << r.err;
        EXPECT_EQ(vemo::KnownControllers(store).entries(), before);
    }
}

// A store that can be read but not written (one an administrator hands
// out, on a read-only mount): the key on record needs no write and goes
// through, another key is refused, an unknown one cannot be stored. The
// lock file's place is taken by a folder: the tests run as root, whom a
// read-only mode does not stop.
TEST_F(VemoS7, AStoreThatCannotBeWrittenStillChecksTheKey) {
    const std::string store = path("known-read-only.json");
    const ProcessResult stored = tool("read", {"Data.Debt", "--known-hosts", store, "--accept-new"});
    ASSERT_EQ(stored.exitCode, 0) << stored.err;
    std::filesystem::remove(store + ".lock");
    std::filesystem::create_directory(store + ".lock");
    const std::string pinned = vemo::test::readText(store);

    ProcessResult r = tool("read", {"Data.Debt", "--known-hosts", store});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Data.Debt  DINT  -42\n");
    EXPECT_EQ(r.err, "");

    const std::string other = path("known-read-only-other.json");
    std::string text = pinned;
    text.replace(text.find(fingerprint_), fingerprint_.size(), otherFingerprint_);
    std::ofstream(other) << text;
    std::filesystem::create_directory(other + ".lock");
    r = tool("read", {"Data.Debt", "--known-hosts", other});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("refused: the controller at 127.0.0.1 port " + port_ + " presents key " + fingerprint_, 0),
              0u)
        << r.err;

    const std::string empty = path("known-read-only-empty.json");
    std::ofstream(empty) << "";
    std::filesystem::create_directory(empty + ".lock");
    r = tool("read", {"Data.Debt", "--known-hosts", empty, "--accept-new"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find(empty + ".lock: the lock cannot be made"), std::string::npos) << r.err;
    EXPECT_EQ(vemo::test::readText(store), pinned);
}

// Files the tool cannot take: a number too large for a double is the
// store's fault, named with its place; a file size limit is a failed write,
// reported, with no temporary file left (SIGXFSZ once ended the tool).
TEST_F(VemoS7, AStoreThatCannotBeReadOrWrittenIsReported) {
    const std::string overflow = path("known-overflow.json");
    std::ofstream(overflow) << R"({"version": 1, "controllers": [{"port": 1e400}]})";
    ProcessResult r = tool("info", {"--known-hosts", overflow});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "error: " + overflow + ": the number 1e400 at byte 41 is too large to be read\n");

    const std::filesystem::path folder = dir_ / "size-limit";
    std::filesystem::create_directories(folder);
    const std::string limited = (folder / "known.json").string();
    r = runProcess({"/bin/sh", "-c", "ulimit -f 0 && exec \"$0\" \"$@\"", VEMO_S7_EXE, "info", "127.0.0.1", "-p", port_,
                    "--known-hosts", limited, "--accept-new"});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(r.err, "error: " + limited + ": cannot be written: File too large\n");
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(folder)) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"known.json.lock"}) << "no temporary file";
}

// Entries are keyed by the address connected to: the controller stored as
// "localhost" is known as "127.1" and "127.0.0.1", and the messages name the
// host as typed.
TEST_F(VemoS7, EverySpellingOfAnAddressIsOneKnownHost) {
    const std::string store = path("known-spellings.json");
    const auto read = [&](const std::string& host, std::vector<std::string> extra) {
        std::vector<std::string> argv = {VEMO_S7_EXE, "read", host, "-p", port_, "Data.Debt", "--known-hosts", store};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return runProcess(argv);
    };
    ProcessResult r = read("localhost", {"--accept-new"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "stored the key of the controller at localhost port " + port_ + " in " + store + ": " +
                         fingerprint_ + "\n");
    for (const std::string host : {"127.1", "127.0.0.1", "localhost"}) {
        r = read(host, {});
        EXPECT_EQ(r.exitCode, 0) << host << ": " << r.err;
        EXPECT_EQ(r.err, "") << host;
    }
    const std::vector<vemo::KnownController> stored = vemo::KnownControllers(store).entries();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].host, "127.0.0.1");
}

// On a terminal an unknown controller is shown with its fingerprint and
// stored only on a yes.
TEST_F(VemoS7, OnATerminalAnUnknownControllerIsStoredOnlyOnAYes) {
    const struct {
        const char* answer;
        int exitCode;
        size_t stored;
    } cases[] = {{"y", 0, 1}, {"n", 3, 0}, {"", 3, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("answer '") + c.answer + "'");
        const std::string store = path(std::string("known-terminal-") + c.answer + ".json");
        const TerminalRun run =
            runOnTerminal({VEMO_S7_EXE, "read", "127.0.0.1", "-p", port_, "Data.Debt", "--known-hosts", store},
                          "Trust it and store its key? [y/N] ", c.answer);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.shown;
        EXPECT_NE(run.shown.find("Its key fingerprint is " + fingerprint_ + "."), std::string::npos) << run.shown;
        EXPECT_EQ(vemo::KnownControllers(store).entries().size(), c.stored);
    }
}

// A reconnect is checked as the first connect was: a watch whose simulator
// came back as another controller ends, refusing it.
TEST_F(VemoS7, AWatchRefusesAnotherControllerAfterAReconnect) {
    const std::string store = path("known-watch.json");
    auto sim = identifiedSim(dir_, "0", "");
    const std::string port = portOf(*sim);
    BackgroundProcess watch({VEMO_S7_EXE, "read", "127.0.0.1", "-p", port, "Data.Ticks", "--watch", "--interval", "50",
                             "--reconnect", "--known-hosts", store, "--accept-new"},
                            10000, BackgroundProcess::Errors::Captured);
    ASSERT_FALSE(watch.firstLine().empty());
    EXPECT_NE(watch.errorLine(10000).find("stored the key of "), std::string::npos);
    ASSERT_EQ(sim->stop(SIGTERM), 0);
    sim = identifiedSim(dir_, port, "other-");
    ASSERT_FALSE(sim->firstLine().empty()) << "the port is free again";

    std::string line;
    for (int i = 0; i < 8 && line.rfind("refused: ", 0) != 0; ++i) {
        line = watch.errorLine(20000);
    }
    EXPECT_EQ(line.rfind("refused: the controller at 127.0.0.1 port " + port + " presents key " + otherFingerprint_, 0),
              0u)
        << line;
    watch.readOutput(10000);  // until it ends
    EXPECT_EQ(watch.stop(SIGINT), 3);
}

TEST(VemoS7Session, AMismatchedAnswerFailsTheReadNamingTheVariable) {
    using vemo::test::FakeReads;
    FakeReads::reset();
    vemo::cli::PlcSession session(vemo::ReadCalls{&FakeReads::maxReadItems, &FakeReads::read});
    std::vector<vemo::cli::Variable> variables;
    for (const char* name : {"DB1.Speed", "DB1.Count", "DB1.Level"}) {
        const auto objectId = static_cast<uint32_t>(variables.size() + 1);
        variables.push_back({"DB1", name, S7_DATATYPE_DINT, objectId, 2550, {objectId + 9}});
    }
    std::vector<std::string> texts;
    for (const vemo::ValueText& v : session.read(variables)) texts.push_back(v.text);
    ASSERT_EQ(texts, (std::vector<std::string>{"100", "200", "300"}));

    FakeReads::mismatchedObject = 2;
    try {
        session.read(variables);
        ADD_FAILURE() << "a mismatched answer read as a value";
    } catch (const vemo::cli::ValueMismatch& e) {
        EXPECT_STREQ(e.what(), "read failed: DB1.Count: type mismatch: BOOL array for DINT");
    }

    // Nor does JSON turn such a text into a number or a boolean.
    EXPECT_TRUE(vemo::cli::jsonValue({"type mismatch: BOOL array for DINT", vemo::ValueKind::Mismatch}).is_null());
}

// The per-item read behind --keep-going: a refused and a mismatched
// variable fail alone, saying why, the others keep their values.
TEST(VemoS7Session, APerItemReadFailsOnlyTheVariablesItCannotRead) {
    using vemo::test::FakeReads;
    FakeReads::reset();
    FakeReads::limit = 2;
    FakeReads::refusedObject = 2;
    FakeReads::mismatchedObject = 3;
    vemo::cli::PlcSession session(vemo::ReadCalls{&FakeReads::maxReadItems, &FakeReads::read});
    std::vector<vemo::cli::Variable> variables;
    for (const char* name : {"DB1.Speed", "DB1.Count", "DB1.Level", "DB1.Mode"}) {
        const auto objectId = static_cast<uint32_t>(variables.size() + 1);
        variables.push_back({"DB1", name, S7_DATATYPE_DINT, objectId, 2550, {objectId + 9}});
    }
    const std::vector<vemo::cli::ItemRead> reads = session.readEach(variables);
    ASSERT_EQ(reads.size(), variables.size());
    const std::pair<const char*, const char*> expected[] = {
        {"100", ""},
        {"", "refused by the controller (error 16#8104)"},
        {"", "type mismatch: BOOL array for DINT"},
        {"400", ""},
    };
    for (std::size_t i = 0; i < reads.size(); ++i) {
        SCOPED_TRACE(variables[i].name);
        EXPECT_EQ(reads[i].failure, expected[i].second);
        if (reads[i].failure.empty()) {
            EXPECT_EQ(vemo::formatValue(reads[i].value, S7_DATATYPE_DINT, vemo::DisplayFormat::Dec).text,
                      expected[i].first);
        }
    }
    EXPECT_EQ(FakeReads::requests.size(), 2u) << "in chunks of the item limit";
    EXPECT_THROW(session.readValues(variables), vemo::cli::StepError) << "the strict read still fails as a whole";
}

// A request that fails midway: the variables of the chunks before it stand
// as the controller answered, those of the failed request may have been
// written, the later ones were never sent - and every one is named.
TEST(VemoS7Session, AWriteSaysWhatBecameOfEveryVariable) {
    using vemo::test::FakeWrites;
    FakeWrites::reset();
    FakeWrites::limit = 2;
    FakeWrites::refusedObject = 1;
    vemo::cli::PlcSession session({}, FakeWrites::calls());
    std::vector<vemo::cli::Variable> variables;
    std::vector<s7_value*> owned;
    for (const char* name : {"DB1.A", "DB1.B", "DB1.C", "DB1.D", "DB1.E"}) {
        const auto objectId = static_cast<uint32_t>(variables.size() + 1);
        variables.push_back({"DB1", name, S7_DATATYPE_DINT, objectId, 2550, {objectId + 9}});
        owned.push_back(s7_value_new_i32(static_cast<int32_t>(objectId)));
    }
    const std::vector<const s7_value*> values(owned.begin(), owned.end());

    const vemo::WriteResult answered = session.write(variables, values);
    EXPECT_TRUE(answered.ok());
    EXPECT_EQ(vemo::cli::writeNotes(variables, answered),
              (std::vector<std::string>{"write refused: DB1.A: error 16#8104"}))
        << "when every request was answered, only refusals are named";

    FakeWrites::requests.clear();
    FakeWrites::failingWrite = 1;
    const vemo::WriteResult failed = session.write(variables, values);
    EXPECT_EQ(failed.status, vemo::WriteResult::Status::WriteFailed);
    EXPECT_EQ(failed.code, S7_ERR_TIMEOUT);
    EXPECT_EQ(vemo::cli::writeNotes(variables, failed),
              (std::vector<std::string>{"write refused: DB1.A: error 16#8104", "written: DB1.B",
                                        "may have been written: DB1.C", "may have been written: DB1.D",
                                        "not written: DB1.E"}));
    EXPECT_EQ(FakeWrites::requests.size(), 2u) << "nothing sent after the failed request, nothing twice";
    for (s7_value* v : owned) s7_value_free(v);
}

// Names and texts come from the controller: whatever bytes they hold, the// Names and texts come from the controller: whatever bytes they hold, the
// output stays valid JSON and valid CSV.
TEST(VemoS7Output, ControllerTextsStayValidJsonAndCsv) {
    EXPECT_EQ(vemo::cli::dumpJson(json("ok\xff\x01")), "\"ok\xEF\xBF\xBD\\u0001\"")
        << "invalid UTF-8 becomes U+FFFD, control characters are escaped";

    const struct {
        std::string field;
        std::string csv;
    } rows[] = {
        {"plain", "plain"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {" padded ", "\" padded \""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(vemo::cli::csvField(row.field), row.csv) << row.field;
    }
    EXPECT_EQ(vemo::cli::csvLine({"a", "b,c"}), "a,\"b,c\"\r\n");
}

}  // namespace
