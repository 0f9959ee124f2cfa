// vemo-s7-sim: a stand-in for an S7-1200/1500 controller on this machine.
// Serves a program (built in, from a JSON file, or generated) to up to 64
// clients at a time until SIGINT or SIGTERM, closing those that stay silent
// before their first request; SIGUSR1 drops every connection, as a
// controller that loses its network would, and serves on. Its TLS identity
// is made afresh at every start, or read from --cert/--key files that
// --write-identity writes.
#include "Faults.h"
#include "Identity.h"
#include "Program.h"
#include "Server.h"

#include "s7_exchange.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>

using namespace vemo::sim;

namespace {

std::string footer() {
    std::ostringstream s;
    s << "Generated programs (--generate SHAPE):\n"
         "  BLOCKS,MEMBERS, blocks:BLOCKS,MEMBERS\n"
         "      data blocks GenDB1.. of MEMBERS elementary members Tag1.. each: BLOCKS * MEMBERS\n"
         "      symbols (at most 59999 blocks, 65535 members each, a million in all)\n"
         "  array:ELEMENTS\n"
         "      data block ArrayDB with one Array[0..ELEMENTS-1] of DInt: ELEMENTS symbols\n"
         "      ArrayDB.Values[i], each reading i (1 to 1000000)\n"
         "  deep:SYMBOLS,DEPTH\n"
         "      data block DeepDB with symbols DeepDB.L1[i].L2[j]...L<DEPTH>[k].V<n>, DEPTH\n"
         "      levels of arrays of structures: exactly SYMBOLS below 200, within 0.5 %\n"
         "      of it above (1 to 1000000 symbols, DEPTH 1 to 63)\n"
         "The type descriptions travel as one answer, which a client keeps up to 16 MiB;\n"
         "past that it explores them one type at a time. Those of the array and deep\n"
         "shapes stay below 13 KB at any size; the blocks shape's take some 32 bytes a\n"
         "member and pass 16 MiB at about 520000.\n\n";
    s << "Faults (--fault NAME, some with --fault-arg N):\n";
    for (const FaultInfo& f : faultTable()) {
        s << "  " << f.name << std::string(f.name.size() < 24 ? 24 - f.name.size() : 1, ' ') << f.description << "\n";
    }
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vemo-s7-sim: a simulated S7-1200/1500 controller for VEMO S7 Browser"};
    ServerOptions options;
    std::string programFile;
    std::string plcType;
    std::string faultName;
    std::optional<uint64_t> faultArg;
    std::string generate;
    bool verbose = false;
    double idleSeconds = std::chrono::duration<double>(options.idleTimeout).count();
    std::vector<std::string> writeIdentity;
    app.add_option("--host", options.host, "address to listen on")->capture_default_str();
    app.add_option("--port", options.port, "TCP port; 0 picks a free one")->capture_default_str();
    auto* programOpt = app.add_option("--program", programFile, "program file (JSON); default: the built-in machine");
    app.add_option("--plc-type", plcType, "controller type text the session reports");
    app.add_option("--max-read-items", options.controller.maxReadItems,
                   "items per read the controller reports (any 32-bit signed number)")
        ->capture_default_str();
    app.add_option("--session-level", options.controller.sessionLevel,
                   "session level the controller reports (clients refuse 4 and above)")
        ->capture_default_str();
    app.add_option("--fault", faultName, "misbehave on purpose (list below)");
    app.add_option("--fault-arg", faultArg, "the fault's number");
    app.add_option("--generate", generate, "a synthetic program of a SHAPE listed below")->excludes(programOpt);
    app.add_option("--idle-timeout", idleSeconds,
                   "close a connection that sends nothing for SECONDS before its first request; 0: never")
        ->capture_default_str()
        ->type_name("SECONDS");
    auto* certOpt = app.add_option("--cert", options.certificateFile,
                                   "present the certificate in FILE (PEM) instead of one made at start")
                        ->type_name("FILE");
    auto* keyOpt =
        app.add_option("--key", options.keyFile, "the certificate's private key (PEM, unencrypted)")->type_name("FILE");
    certOpt->needs(keyOpt);
    keyOpt->needs(certOpt);
    app.add_option("--write-identity", writeIdentity,
                   "write a new key and a self-signed certificate for it to CERT and KEY (PEM, replacing the files), "
                   "then exit: start with --cert CERT --key KEY to keep that identity across restarts")
        ->expected(2)
        ->type_name("CERT KEY")
        ->excludes(certOpt)
        ->excludes(keyOpt);
    app.add_flag("--verbose", verbose, "log connections and requests to standard error");
    app.footer(footer());
    CLI11_PARSE(app, argc, argv);

    try {
        if (!writeIdentity.empty()) {
            Identity::generate().save(writeIdentity[0], writeIdentity[1]);
            std::cout << "wrote certificate " << writeIdentity[0] << " and key " << writeIdentity[1] << std::endl;
            return 0;
        }
        if (!faultName.empty()) {
            options.controller.fault = Fault::parse(faultName, faultArg);
        } else if (faultArg) {
            throw ProgramError("--fault-arg needs --fault");
        }
        Program program;
        if (!generate.empty()) {
            program = Program::generated(GeneratedShape::parse(generate));
        } else if (!programFile.empty()) {
            program = Program::fromFile(programFile);
        } else {
            program = Program::builtIn();
        }
        options.controller.plcType = plcType;
        if (!(idleSeconds >= 0 && idleSeconds <= 86400)) {
            throw ProgramError("--idle-timeout takes 0 to 86400 seconds");
        }
        options.idleTimeout = std::chrono::milliseconds(std::llround(idleSeconds * 1000.0));
        const auto toStandardError = [](const std::string& line) { std::cerr << "vemo-s7-sim: " << line << std::endl; };
        // Refusals and idle closes are shown even without --verbose.
        options.notice = toStandardError;
        if (verbose) {
            options.log = toStandardError;
        }

        // The signals are taken by sigwait below; every thread the server
        // starts inherits the blocked mask.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);

        Server server(std::move(program), options);
        if (verbose) {
            const Program& served = server.model().program();
            std::cerr << "vemo-s7-sim: " << served.blocks.size() << " data blocks, " << served.types.size()
                      << " types, " << served.symbolCount() << " symbols, type descriptions of "
                      << server.model().typeInfoObjects().size() << " bytes" << std::endl;
        }
        // Clients keep no answer above this size: they read the whole
        // description and let it go, then explore one type at a time.
        if (server.model().typeInfoObjects().size() > S7_RESPONSE_MAX_SIZE) {
            std::cerr << "vemo-s7-sim: the type descriptions take " << server.model().typeInfoObjects().size()
                      << " bytes, more than a client keeps of one answer (" << S7_RESPONSE_MAX_SIZE
                      << "); clients browse them one type at a time" << std::endl;
        }
        // An IPv6 address in brackets, so that the port stays apart from it.
        const bool v6 = server.host().find(':') != std::string::npos;
        std::cout << "listening on " << (v6 ? "[" + server.host() + "]" : server.host()) << ":" << server.port()
                  << std::endl;
        int received = 0;
        for (;;) {
            sigwait(&signals, &received);
            if (received != SIGUSR1) break;
            const size_t dropped = server.dropConnections();
            std::cerr << "vemo-s7-sim: SIGUSR1, dropped " << dropped << (dropped == 1 ? " connection" : " connections")
                      << std::endl;
        }
        if (verbose) {
            std::cerr << "vemo-s7-sim: " << (received == SIGINT ? "SIGINT" : "SIGTERM") << ", stopping" << std::endl;
        }
        server.stop();
    } catch (const std::exception& e) {
        std::cerr << "vemo-s7-sim: error: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
