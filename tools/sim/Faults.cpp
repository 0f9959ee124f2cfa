#include "Faults.h"

#include <stdexcept>

namespace vemo::sim {

namespace {

struct StepName {
    const char* name;
    Step step;
    const char* what;
};

constexpr StepName kSteps[] = {
    {"cr", Step::ConnectRequest, "the COTP connection request"},
    {"tls-start", Step::TlsStart, "the TLS-start request"},
    {"handshake", Step::Handshake, "the TLS ClientHello"},
    {"create", Step::Create, "the create-object request of session set-up"},
    {"set-values", Step::SetValues, "the set-values request of session set-up"},
    {"get-level", Step::GetLevel, "the read of the session level (attribute 1842)"},
    {"limits", Step::Limits, "the limits read"},
    {"request", Step::Request, "the N-th request after the handshake (--fault-arg N, default 1)"},
};

// The faults that act at one step, each with every step of kSteps.
struct StepFault {
    const char* prefix;
    FaultKind kind;
};

constexpr StepFault kStepFaults[] = {
    {"close-at-", FaultKind::CloseAt},
    {"stall-at-", FaultKind::StallAt},
    {"flood-at-", FaultKind::FloodAt},
    {"trickle-at-", FaultKind::TrickleAt},
};

std::string describe(FaultKind kind, const char* what) {
    const std::string flood = std::to_string(kFloodInterval.count());
    const std::string trickle = std::to_string(kTrickleInterval.count());
    switch (kind) {
    case FaultKind::CloseAt: return std::string("close the connection on ") + what;
    case FaultKind::StallAt: return std::string("never answer ") + what;
    case FaultKind::FloodAt: return "send an empty data frame every " + flood + " ms instead of answering " + what;
    case FaultKind::TrickleAt:
        return std::string("from ") + what + " on, send every byte on its own, " + trickle + " ms apart";
    default: return what;
    }
}

struct Simple {
    const char* name;
    FaultKind kind;
    bool needsArg;
    const char* what;
};

constexpr Simple kSimple[] = {
    {"delay", FaultKind::Delay, true, "answer everything --fault-arg N milliseconds late"},
    {"tls12-only", FaultKind::Tls12Only, false, "speak TLS 1.2 only"},
    {"tls-start-error", FaultKind::TlsStartError, false, "set bit 62 of the TLS-start reply's return value"},
    {"level-signed", FaultKind::LevelSigned, false, "send the session level as a signed 32-bit value"},
    {"limits-unsigned", FaultKind::LimitsUnsigned, false, "send the read-item limit as an unsigned 32-bit value"},
    {"limits-only-aux", FaultKind::LimitsOnlyAux, false, "answer the limits read with item 2 only"},
    {"limits-error", FaultKind::LimitsError, false, "answer the limits read with a non-zero return value"},
    {"limits-error-entry", FaultKind::LimitsErrorEntry, false, "add an error entry to the limits reply"},
    {"set-values-error-entry", FaultKind::SetValuesErrorEntry, false,
     "add an error entry to the set-values reply of session set-up"},
    {"create-incomplete", FaultKind::CreateIncomplete, false,
     "create the session object without attribute 306 (no controller type)"},
    {"explore-error", FaultKind::ExploreError, false,
     "answer explores with an error return value; --fault-arg 3 or 537 limits it to that root"},
    {"no-type-info-container", FaultKind::NoTypeInfoContainer, false,
     "leave the object of class 534 out of the type-info explore"},
    {"read-error-entry", FaultKind::ReadErrorEntry, false,
     "give the first item of every read after connect an error entry instead of its value"},
    {"wrong-version", FaultKind::WrongVersion, false,
     "answer with the other protocol version byte, from request --fault-arg N (default 1) on"},
    {"oversized-frame", FaultKind::OversizedFrame, false,
     "answer with a frame of 1975 data bytes, from request --fault-arg N (default 1) on"},
    {"self-referencing-type", FaultKind::SelfReferencingType, false,
     "give the first data block a member whose structure type is the block's own"},
    {"hostile-count", FaultKind::HostileCount, false,
     "give the first data block an array of --fault-arg N elements (default 4294967295)"},
    {"hostile-types", FaultKind::HostileTypes, false,
     "add --fault-arg N (default 1000, at most 100000) unused type descriptions, and give the first data block "
     "an array Hostile of 4000 structures of 3998 members whose types are missing: a browse of it looks up a "
     "missing type some 16 million times"},
    {"wrong-type", FaultKind::WrongType, false,
     "answer every variable read with a value of the wrong type: a BOOL, and three BOOLs in an array for a "
     "variable that is a BOOL"},
    {"refuse-write", FaultKind::RefuseWrite, false,
     "refuse item --fault-arg N (default 1) of every write with an error entry (0x8109) and write the others"},
    {"double-answer", FaultKind::DoubleAnswer, false,
     "send every answer twice, the copy in a TLS record of its own, from request --fault-arg N (default 1) on"},
};

}  // namespace

Fault Fault::parse(std::string_view name, std::optional<uint64_t> arg) {
    Fault f;
    f.arg = arg.value_or(0);
    for (const StepFault& sf : kStepFaults) {
        const std::string_view p(sf.prefix);
        if (name.substr(0, p.size()) != p) {
            continue;
        }
        for (const StepName& s : kSteps) {
            if (name.substr(p.size()) == s.name) {
                f.kind = sf.kind;
                f.step = s.step;
                return f;
            }
        }
    }
    for (const Simple& s : kSimple) {
        if (name == s.name) {
            if (s.needsArg && !arg) {
                throw std::invalid_argument("fault " + std::string(name) + " needs --fault-arg");
            }
            f.kind = s.kind;
            if (f.kind == FaultKind::HostileCount) {
                // The count travels as a 32-bit field of the type description.
                if (arg && *arg > 0xFFFFFFFFu) {
                    throw std::invalid_argument("fault hostile-count takes a count of at most 4294967295");
                }
                f.arg = arg.value_or(0xFFFFFFFFu);
            }
            if (f.kind == FaultKind::HostileTypes) {
                if (arg && *arg > kMaxHostileFillers) {
                    throw std::invalid_argument("fault hostile-types takes at most " +
                                                std::to_string(kMaxHostileFillers) + " unused type descriptions");
                }
                f.arg = arg.value_or(kDefaultHostileFillers);
            }
            return f;
        }
    }
    throw std::invalid_argument("unknown fault \"" + std::string(name) + "\" (see --help)");
}

const std::vector<FaultInfo>& faultTable() {
    static const std::vector<FaultInfo> table = [] {
        std::vector<FaultInfo> t;
        for (const StepFault& sf : kStepFaults) {
            for (const StepName& s : kSteps) {
                t.push_back({std::string(sf.prefix) + s.name, describe(sf.kind, s.what)});
            }
        }
        for (const Simple& s : kSimple) {
            t.push_back({s.name, s.what});
        }
        return t;
    }();
    return table;
}

}  // namespace vemo::sim
