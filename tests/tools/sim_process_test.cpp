// The vemo-s7-sim program as a user starts it: the ready line with the port
// it picked, its options reaching the controller a client sees, a clean end
// on SIGTERM and SIGINT, dropped connections on SIGUSR1, quiet connections
// closed after --idle-timeout, and clear errors with a non-zero exit for a
// port in use, a program it cannot load and arguments it does not take. Its
// identity, kept in files it writes, is what the client's fingerprints say,
// as openssl computes them.
#include "sim_process.h"
#include "loopback_server.h"
#include "process.h"
#include "s7_iso.h"
#include "sim_client.h"

#include <vemo/s7identity.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace vemo::test;

const std::string kSim = VEMO_SIM;

// A certificate and key the simulator wrote into a temporary folder of
// their own, gone with the test.
class IdentityFiles {
public:
    explicit IdentityFiles(const std::string& name)
        : dir_(fs::temp_directory_path() / ("vemo-sim-test-" + std::to_string(::getpid()) + "-" + name)) {
        fs::create_directories(dir_);
        written = runProcess({kSim, "--write-identity", cert(), key()});
    }
    ~IdentityFiles() { fs::remove_all(dir_); }
    IdentityFiles(const IdentityFiles&) = delete;
    IdentityFiles& operator=(const IdentityFiles&) = delete;
    std::string cert() const { return (dir_ / "cert.pem").string(); }
    std::string key() const { return (dir_ / "key.pem").string(); }
    ProcessResult written;

private:
    fs::path dir_;
};

using Digest = std::array<uint8_t, S7_FINGERPRINT_SIZE>;

// The digest openssl prints in hex after the last '=', colons or not;
// zeros when there is none.
Digest opensslDigest(const std::string& command) {
    const ProcessResult r = runProcess({"/bin/sh", "-c", command});
    EXPECT_EQ(r.exitCode, 0) << command << "\n" << r.err;
    std::string hex;
    for (const char c : r.out.substr(r.out.rfind('=') + 1)) {
        if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
    }
    Digest d{};
    EXPECT_EQ(hex.size(), 2 * d.size()) << r.out;
    for (size_t i = 0; i < d.size() && 2 * i + 1 < hex.size(); ++i) {
        d[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    }
    return d;
}

Digest digestOf(const uint8_t* bytes) {
    Digest d;
    std::memcpy(d.data(), bytes, d.size());
    return d;
}

// The identity a client sees of a simulator started with these arguments.
s7_identity identitySeen(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kSim, "--port", "0"};
    argv.insert(argv.end(), args.begin(), args.end());
    BackgroundProcess sim(argv);
    const uint16_t port = listeningPort(sim.firstLine());
    EXPECT_NE(port, 0) << sim.firstLine();
    const Client client = newClient();
    s7_identity identity{};
    EXPECT_EQ(vemoc_s7_client_connect(client.get(), "127.0.0.1", port, kTimeoutMs), S7_OK);
    EXPECT_EQ(vemoc_s7_client_get_identity(client.get(), &identity), S7_OK);
    EXPECT_EQ(sim.stop(SIGTERM), 0);
    return identity;
}

// The fingerprints are those of the certificate and of its public key as
// openssl computes them from the files, on every start with them; without
// them each start makes an identity of its own.
TEST(SimProcess, AnIdentityWrittenOnceIsPresentedOnEveryStart) {
    const IdentityFiles files("identity");
    ASSERT_EQ(files.written.exitCode, 0) << files.written.err;
    struct stat keyStat {};
    ASSERT_EQ(::stat(files.key().c_str(), &keyStat), 0);
    EXPECT_EQ(keyStat.st_mode & 0777, 0600u) << "the private key is its owner's only";

    const Digest certificate = opensslDigest("openssl x509 -fingerprint -sha256 -noout -in '" + files.cert() + "'");
    const Digest publicKey = opensslDigest("openssl x509 -pubkey -noout -in '" + files.cert() +
                                           "' | openssl pkey -pubin -outform DER | openssl dgst -sha256");
    for (int start = 1; start <= 2; ++start) {
        SCOPED_TRACE(start);
        const s7_identity seen = identitySeen({"--cert", files.cert(), "--key", files.key()});
        EXPECT_EQ(digestOf(seen.certificate_sha256), certificate);
        EXPECT_EQ(digestOf(seen.public_key_sha256), publicKey);
    }

    const s7_identity fresh1 = identitySeen({});
    const s7_identity fresh2 = identitySeen({});
    EXPECT_NE(digestOf(fresh1.public_key_sha256), digestOf(fresh2.public_key_sha256));
    EXPECT_NE(digestOf(fresh1.public_key_sha256), publicKey);
}

TEST(SimProcess, ListensOnAFreePortAndEndsCleanlyOnSigtermAndSigint) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        BackgroundProcess sim({kSim, "--port", "0"});
        const uint16_t port = listeningPort(sim.firstLine());
        ASSERT_NE(port, 0) << sim.firstLine();

        const Client client = newClient();
        ASSERT_EQ(vemoc_s7_client_connect(client.get(), "127.0.0.1", port, kTimeoutMs), S7_OK);
        EXPECT_STREQ(vemoc_s7_client_get_plc_type(client.get()), "CPU 1516-3 PN/DP") << "the built-in machine";
        // A client still connected does not hold the simulator up.
        EXPECT_EQ(sim.stop(signal), 0);
    }
}

TEST(SimProcess, Sigusr1DropsEveryConnectionSaysSoAndServesOn) {
    BackgroundProcess sim({kSim, "--port", "0"}, 10000, BackgroundProcess::Errors::Captured);
    const uint16_t port = listeningPort(sim.firstLine());
    ASSERT_NE(port, 0) << sim.firstLine();
    const Client client = newClient();
    ASSERT_EQ(vemoc_s7_client_connect(client.get(), "127.0.0.1", port, kTimeoutMs), S7_OK);

    ASSERT_EQ(::kill(sim.pid(), SIGUSR1), 0);
    EXPECT_EQ(sim.errorLine(kTimeoutMs), "vemo-s7-sim: SIGUSR1, dropped 1 connection");
    Blocks lost;
    EXPECT_EQ(vemoc_s7_client_list_datablocks(client.get(), &lost.list), S7_ERR_NOT_CONNECTED);

    // Still listening: the handle connects again and is served.
    ASSERT_EQ(vemoc_s7_client_connect(client.get(), "127.0.0.1", port, kTimeoutMs), S7_OK);
    Blocks blocks;
    EXPECT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);
    EXPECT_EQ(blocks.list.count, 3u + 5u);
    EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(SimProcess, AQuietConnectionIsClosedAfterTheIdleTimeOutAndSaysSoEvenWithoutVerbose) {
    BackgroundProcess sim({kSim, "--port", "0", "--idle-timeout", "0.5"}, 10000, BackgroundProcess::Errors::Captured);
    const uint16_t port = listeningPort(sim.firstLine());
    ASSERT_NE(port, 0) << sim.firstLine();
    s7_iso_transport* quiet = s7_iso_transport_new(nullptr);
    ASSERT_NE(quiet, nullptr);
    EXPECT_EQ(s7_iso_connect(quiet, "127.0.0.1", port, kTimeoutMs), S7_STATUS_OK);
    EXPECT_TRUE(LoopbackServer::waitForClose(quiet->socket->handle, 20000)) << "still open";
    s7_iso_transport_free(quiet);
    EXPECT_EQ(sim.errorLine(kTimeoutMs),
              "vemo-s7-sim: connection 1: closed, nothing received for 0.5 s before its first request");
    EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(SimProcess, AnIPv6AddressIsShownInBracketsAndServed) {
    BackgroundProcess sim({kSim, "--host", "::1", "--port", "0"});
    std::smatch m;
    const std::string line = sim.firstLine();
    if (!std::regex_match(line, m, std::regex(R"(listening on \[::1\]:([0-9]{1,5}))"))) {
        sim.stop(SIGTERM);
        GTEST_SKIP() << "no IPv6 loopback on this machine: " << line;
    }
    const Client client = newClient();
    ASSERT_EQ(vemoc_s7_client_connect(client.get(), "::1", static_cast<uint16_t>(std::stoi(m[1])), kTimeoutMs), S7_OK);
    EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(SimProcess, OptionsReachTheControllerAClientSees) {
    const TempFile program("program.json", R"({"plc_type": "CPU 1215C", "blocks": [
        {"name": "Line", "number": 7, "members": [{"name": "Speed", "type": "Real"}]}]})");
    struct Case {
        std::vector<std::string> args;
        std::function<void(vemoc_s7_client*, uint16_t port)> check;
    };
    const Case cases[] = {
        {{"--plc-type", "CPU 1211C", "--max-read-items", "7"},
         [](vemoc_s7_client* c, uint16_t port) {
             ASSERT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", port, kTimeoutMs), S7_OK);
             EXPECT_STREQ(vemoc_s7_client_get_plc_type(c), "CPU 1211C");
             uint32_t items = 0;
             EXPECT_EQ(vemoc_s7_client_get_max_read_items(c, &items), S7_OK);
             EXPECT_EQ(items, 7u);
         }},
        {{"--session-level", "4"},
         [](vemoc_s7_client* c, uint16_t port) {
             EXPECT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", port, kTimeoutMs), S7_ERR_SESSION_LEVEL);
         }},
        {{"--program", program.path()},
         [](vemoc_s7_client* c, uint16_t port) {
             ASSERT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", port, kTimeoutMs), S7_OK);
             EXPECT_STREQ(vemoc_s7_client_get_plc_type(c), "CPU 1215C");
             Blocks blocks;
             ASSERT_EQ(vemoc_s7_client_list_datablocks(c, &blocks.list), S7_OK);
             EXPECT_EQ(blocks.names(), (std::vector<std::string>{"Line", "I", "Q", "M", "S7Timers", "S7Counters"}));
             EXPECT_EQ(blocks.list.items[0].number, 7u);
         }},
        {{"--generate", "3,4", "--verbose"},
         [](vemoc_s7_client* c, uint16_t port) {
             ASSERT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", port, kTimeoutMs), S7_OK);
             Blocks blocks;
             ASSERT_EQ(vemoc_s7_client_list_datablocks(c, &blocks.list), S7_OK);
             EXPECT_EQ(blocks.list.count, 3u + 5u);
             Symbols symbols;
             ASSERT_EQ(vemoc_s7_client_browse_block(c, blocks.find("GenDB2"), &symbols.list), S7_OK);
             EXPECT_EQ(symbols.names(),
                       (std::vector<std::string>{"GenDB2.Tag1", "GenDB2.Tag2", "GenDB2.Tag3", "GenDB2.Tag4"}));
         }},
        {{"--generate", "deep:3,2"},
         [](vemoc_s7_client* c, uint16_t port) {
             ASSERT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", port, kTimeoutMs), S7_OK);
             Blocks blocks;
             ASSERT_EQ(vemoc_s7_client_list_datablocks(c, &blocks.list), S7_OK);
             Symbols symbols;
             ASSERT_EQ(vemoc_s7_client_browse_block(c, blocks.find("DeepDB"), &symbols.list), S7_OK);
             EXPECT_EQ(symbols.names(), (std::vector<std::string>{"DeepDB.L1[0].L2[0].V1", "DeepDB.L1[0].L2[0].V2",
                                                                  "DeepDB.L1[0].L2[0].V3"}));
         }},
        {{"--fault", "close-at-request", "--fault-arg", "5"},
         [](vemoc_s7_client* c, uint16_t port) {
             ASSERT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", port, kTimeoutMs), S7_OK);
             Blocks blocks;
             EXPECT_EQ(vemoc_s7_client_list_datablocks(c, &blocks.list), S7_ERR_NOT_CONNECTED);
         }},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {kSim, "--port", "0"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.args.front());
        BackgroundProcess sim(argv);
        const uint16_t port = listeningPort(sim.firstLine());
        ASSERT_NE(port, 0) << sim.firstLine();
        const Client client = newClient();
        c.check(client.get(), port);
        EXPECT_EQ(sim.stop(SIGTERM), 0);
    }
}

TEST(SimProcess, APortInUseIsAClearErrorAndANonZeroExit) {
    const auto taken = startSim(vemo::sim::Program::fromJson("{}"));
    const std::string port = std::to_string(taken->port());
    const ProcessResult r = runProcess({kSim, "--port", port});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(r.out, "") << "never ready";
    EXPECT_NE(r.err.find("cannot listen on 127.0.0.1:" + port + ": Address already in use"), std::string::npos)
        << r.err;
}

TEST(SimProcess, WhatCannotBeServedIsAnErrorBeforeListening) {
    const TempFile notJson("bad.json", R"({"blocks": [)");
    const TempFile unknownType("unknown.json", R"({"blocks": [{"name": "DB1", "number": 1,
        "members": [{"name": "A", "type": "Motor"}]}]})");
    const IdentityFiles one("one");
    const IdentityFiles other("other");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--program", "/nonexistent/program.json"}, "/nonexistent/program.json: cannot be read"},
        {{"--program", notJson.path()}, notJson.path() + ": not JSON"},
        {{"--program", unknownType.path()}, unknownType.path() + ": block DB1.A: unknown data type \"Motor\""},
        {{"--generate", "200"}, "--generate takes BLOCKS,MEMBERS"},
        {{"--generate", "2000,1000"}, "at most 1000000 members in all"},
        {{"--fault", "explode"}, "unknown fault \"explode\""},
        {{"--fault", "delay"}, "fault delay needs --fault-arg"},
        {{"--fault-arg", "3"}, "--fault-arg needs --fault"},
        {{"--idle-timeout", "-1"}, "--idle-timeout takes 0 to 86400 seconds"},
        {{"--cert", "/nonexistent/cert.pem", "--key", one.key()},
         "certificate /nonexistent/cert.pem: cannot be read: No such file or directory"},
        {{"--cert", notJson.path(), "--key", one.key()}, "certificate " + notJson.path() + ": holds no PEM certificate"},
        {{"--cert", one.cert(), "--key", one.cert()}, "key " + one.cert() + ": holds no unencrypted PEM private key"},
        {{"--cert", one.cert(), "--key", other.key()},
         "key " + other.key() + ": is not the key of the certificate in " + one.cert()},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {kSim, "--port", "0"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.message);
        const ProcessResult r = runProcess(argv);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "") << "never ready";
        EXPECT_EQ(r.err.rfind("vemo-s7-sim: error: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

}  // namespace
