#include "vemo/core/PlcConnection.h"

#include <utility>

#include "vemo/core/ConnectionWords.h"
#include "vemo/core/Logger.h"

namespace vemo {

namespace {

using namespace std::chrono_literals;

std::string describe(std::uint8_t code, std::uint16_t port, std::uint8_t step) {
    FailureContext context;
    context.port = port;
    context.step = step;
    return fmt::format("{} ({})", describeFailure(code, context).what, s7_result_name(code));
}

}  // namespace

std::chrono::seconds PlcConnection::reconnectDelay(unsigned attempt) {
    constexpr std::chrono::seconds kDelays[] = {1s, 2s, 4s, 8s, 16s};
    return attempt < std::size(kDelays) ? kDelays[attempt] : 30s;
}

PlcConnection* PlcConnection::instance() {
    static PlcConnection connection(std::chrono::steady_clock::now, &KnownControllers::defaultPath);
    return &connection;
}

PlcConnection::PlcConnection(std::function<SteadyTime()> now, StoreLocation knownControllers)
    : now_(std::move(now)), store_(std::move(knownControllers)), client_(vemoc_s7_client_new()) {
    // Told on the worker, inside the library's connect; read by the views
    // while the connect runs.
    vemoc_s7_client_set_connect_progress(
        client_,
        [](void* context, std::uint8_t step) {
            auto* self = static_cast<PlcConnection*>(context);
            self->stepSince_.store(self->now_().time_since_epoch().count());
            self->connectStep_.store(step);
            if (const CallWatcher watcher = self->callWatcher_.load()) watcher();
        },
        this);
}

PlcConnection::~PlcConnection() {
    std::lock_guard guard(lock_);
    vemoc_s7_client_free(client_);
}

std::uint64_t PlcConnection::beginRequest(const std::string& host, std::uint16_t port) {
    ++request_;
    ConnectionStatus next;
    next.state = ConnectionState::Connecting;
    next.host = host;
    next.port = port;
    // The last connection's number and identity stay until a new one is made.
    next.connection = status_.connection;
    next.trust = std::move(status_.trust);
    status_ = std::move(next);
    wanted_.store(true);
    state_.store(ConnectionState::Connecting);
    return request_;
}

void PlcConnection::requestConnect(const std::string& host, std::uint16_t port, const Submit& submit) {
    {
        std::lock_guard statusGuard(statusLock_);
        beginRequest(host, port);
        pending_ = true;
        // The task out takes this request up when its attempt is over.
        if (runner_) return;
        runner_ = true;
    }
    try {
        submit([this] { runConnects(); });
    } catch (...) {
        std::lock_guard statusGuard(statusLock_);
        runner_ = false;
        pending_ = false;
        wanted_.store(false);
        status_.state = ConnectionState::Disconnected;
        state_.store(ConnectionState::Disconnected);
        throw;
    }
}

void PlcConnection::runConnects() {
    for (;;) {
        std::uint64_t request = 0;
        {
            std::lock_guard statusGuard(statusLock_);
            if (!pending_) {
                runner_ = false;
                return;
            }
            pending_ = false;
            request = request_;
        }
        try {
            std::lock_guard held(lock_);
            attemptLocked(request, true);
        } catch (...) {
            // Only the mutex can fail here; the next request gets a task of
            // its own.
            std::lock_guard statusGuard(statusLock_);
            runner_ = false;
            throw;
        }
    }
}

std::uint8_t PlcConnection::connect(const std::string& host, std::uint16_t port) {
    std::uint64_t request = 0;
    {
        std::lock_guard statusGuard(statusLock_);
        request = beginRequest(host, port);
        // This call makes the attempt itself.
        pending_ = false;
    }
    std::lock_guard held(lock_);
    return attemptLocked(request, true);
}

std::uint8_t PlcConnection::reconnect() {
    if (!wanted_.load()) return S7_ERR_NOT_CONNECTED;
    std::uint64_t request = 0;
    {
        std::lock_guard statusGuard(statusLock_);
        request = request_;
    }
    std::lock_guard held(lock_);
    return attemptLocked(request, false);
}

std::uint8_t PlcConnection::attemptLocked(std::uint64_t request, bool byOperator) {
    std::string host;
    std::uint16_t port = 0;
    {
        std::lock_guard statusGuard(statusLock_);
        // Cancelled or replaced while it waited for the handle: never made.
        if (request != request_ || !wanted_.load()) return S7_ERR_NOT_CONNECTED;
        host = status_.host;
        port = status_.port;
        attempting_ = request;
    }
    // A handle that could not be allocated is null: the library answers
    // S7_ERR_ARGUMENT for it.
    const std::uint8_t rc = vemoc_s7_client_connect(client_, host.c_str(), port, kConnectTimeoutMs);
    connectStep_.store(S7_STEP_NONE);
    const std::uint8_t step = vemoc_s7_client_get_connect_step(client_);
    // Checked before anyone may use the connection; the store is read and
    // written here, on the worker, never on the UI thread.
    bool current = false;
    {
        std::lock_guard statusGuard(statusLock_);
        attempting_ = 0;
        current = request == request_ && wanted_.load();
    }
    const ControllerTrust trust = rc == S7_OK && current ? checkTrust(host, port) : ControllerTrust{};
    std::lock_guard statusGuard(statusLock_);
    if (request != request_ || !wanted_.load()) {
        // The operator cancelled this attempt or asked for another one while
        // it ran: whatever it made is of no use to anyone.
        vemoc_s7_client_disconnect(client_);
        if (rc == S7_OK) Logger::log(LogLevel::Info, "Connection to {}:{} closed: no longer wanted", host, port);
        return rc;
    }
    // The type and the identity are written before the state turns
    // Connected, so whoever sees Connected reads those of that connection.
    if (rc == S7_OK) {
        plcType_ = vemoc_s7_client_get_plc_type(client_);
        status_.failure = S7_OK;
        status_.failedStep = S7_STEP_NONE;
        status_.attempts = 0;
        status_.nextAttempt.reset();
        // The waits grow on until this connection has stood a while; the
        // operator's own connect starts them afresh.
        if (byOperator) backoff_ = 0;
        reconnected_ = !byOperator;
        connectedAt_ = now_();
        status_.trust = trust;
        status_.connection = connectionId_.fetch_add(1) + 1;
        writesAllowed_.store(false);
        const bool changed = trust.verdict == ControllerTrust::Verdict::Changed;
        const bool held = changed || trust.verdict == ControllerTrust::Verdict::NotVerified;
        status_.state = held ? ConnectionState::Held : ConnectionState::Connected;
        Logger::log(LogLevel::Info, "Connected to {}:{} ({}){}", host, port, plcType_,
                    changed ? ", held: the controller presents another key than the one on record"
                    : held  ? ", held: its key cannot be checked"
                            : "");
    } else if (byOperator) {
        plcType_.clear();
        status_.failure = rc;
        status_.failedStep = step;
        status_.trust = ControllerTrust{};
        status_.state = ConnectionState::Disconnected;
        wanted_.store(false);
        Logger::log(LogLevel::Error, "Connecting to {}:{} failed: {}", host, port, describe(rc, port, step));
    } else {
        status_.failure = rc;
        status_.failedStep = step;
        ++status_.attempts;
        // Each failed attempt waits one step longer for the next.
        const std::chrono::seconds delay = reconnectDelay(++backoff_);
        status_.nextAttempt = now_() + delay;
        Logger::log(LogLevel::Warn, "Reconnect attempt {} to {}:{} failed: {}; next in {} s", status_.attempts, host,
                    port, describe(rc, port, step), delay.count());
    }
    state_.store(status_.state);
    return rc;
}

ControllerTrust PlcConnection::checkTrust(const std::string& host, std::uint16_t port) {
    ControllerTrust trust;
    trust.identity = identityOf(client_);
    if (!store_) return trust;
    using Verdict = ControllerTrust::Verdict;
    // What cannot be compared fails closed: the connection is held as for a
    // changed key, and the operator decides.
    if (!trust.identity) {
        trust.verdict = Verdict::NotVerified;
        trust.problem = "the controller presented no identity";
        Logger::log(LogLevel::Warn, "The controller at {}:{} is not verified: {}", host, port, trust.problem);
        return trust;
    }
    // Keyed by the address connected to, not by the spelling of the host:
    // "localhost", "127.1" and "127.0.0.1" are one controller. The host as
    // typed is what the messages show.
    const std::string& address = trust.identity->address.empty() ? host : trust.identity->address;
    std::optional<KnownControllers> store;
    Recognition seen;
    try {
        // Compared before anything is written: a store that can be read but
        // not written still tells a changed key.
        store.emplace(store_());
        seen = store->lookup(address, port, trust.identity->key);
    } catch (const std::exception& e) {
        // Damaged, too new, unreadable or nowhere: never reset behind the
        // user's back, and never taken as "nothing on record".
        trust.verdict = Verdict::NotVerified;
        trust.problem = e.what();
        Logger::log(LogLevel::Warn, "The controller at {}:{} is not verified: {}", host, port, trust.problem);
        return trust;
    }
    if (seen.verdict != Recognition::Verdict::Changed) {
        try {
            // Under the store's lock it is compared again: another process
            // may have stored another key meanwhile.
            seen = store->remember(address, port, trust.identity->key);
        } catch (const std::exception& e) {
            // A new controller whose key cannot be stored: trusted on this
            // first use all the same, and the user is told.
            trust.problem = e.what();
        }
    }
    switch (seen.verdict) {
    case Recognition::Verdict::Unknown:
        trust.verdict = Verdict::New;
        if (trust.problem.empty()) {
            Logger::log(LogLevel::Info, "New controller at {}:{}: key {} stored in {}", host, port,
                        trust.identity->key.text(), store->path().string());
        } else {
            Logger::log(LogLevel::Warn, "New controller at {}:{}: key {} not stored: {}", host, port,
                        trust.identity->key.text(), trust.problem);
        }
        break;
    case Recognition::Verdict::Same:
        trust.verdict = Verdict::Known;
        if (!seen.notUpdated.empty()) {
            Logger::log(LogLevel::Warn, "The controller at {}:{} is known; its last seen is not updated: {}", host,
                        port, seen.notUpdated);
        }
        break;
    case Recognition::Verdict::Changed:
        trust.verdict = Verdict::Changed;
        trust.problem.clear();
        trust.known = std::move(seen.known);
        Logger::log(LogLevel::Warn, "The controller at {}:{} presents key {}, on record is {} (first seen {})", host,
                    port, trust.identity->key.text(), trust.known->key.text(),
                    KnownControllers::timeText(trust.known->firstSeen));
        break;
    }
    return trust;
}

bool PlcConnection::acceptIdentity(std::uint64_t connection) {
    std::lock_guard held(lock_);
    std::string host;
    std::uint16_t port = 0;
    std::optional<ControllerIdentity> identity;
    {
        std::lock_guard statusGuard(statusLock_);
        if (status_.state != ConnectionState::Held || status_.connection != connection || !status_.trust.identity) {
            return false;
        }
        host = status_.host;
        port = status_.port;
        identity = status_.trust.identity;
    }
    ControllerTrust trust;
    trust.identity = identity;
    try {
        KnownControllers store(store_());
        store.remember(identity->address.empty() ? host : identity->address, port, identity->key,
                       KnownControllers::IfChanged::Replace);
        trust.verdict = ControllerTrust::Verdict::Known;
        Logger::log(LogLevel::Warn, "New key {} of the controller at {}:{} accepted by the operator and stored",
                    identity->key.text(), host, port);
    } catch (const std::exception& e) {
        trust.verdict = ControllerTrust::Verdict::NotVerified;
        trust.problem = e.what();
        Logger::log(LogLevel::Warn, "New key of the controller at {}:{} accepted, but not stored: {}", host, port,
                    trust.problem);
    }
    std::lock_guard statusGuard(statusLock_);
    // Disconnected while the store was written: nothing to use any more.
    if (status_.state != ConnectionState::Held || status_.connection != connection) return false;
    status_.trust = std::move(trust);
    status_.state = ConnectionState::Connected;
    state_.store(ConnectionState::Connected);
    return true;
}

void PlcConnection::disconnect() {
    {
        std::lock_guard statusGuard(statusLock_);
        if (wanted_.load() || status_.state != ConnectionState::Disconnected) {
            Logger::log(LogLevel::Info, "Disconnected from {}:{} by the operator{}", status_.host, status_.port,
                        status_.state == ConnectionState::Connecting ? " (the connect was cancelled)" : "");
        }
        // Every attempt under way or waiting is history from now on.
        ++request_;
        pending_ = false;
        wanted_.store(false);
        writesAllowed_.store(false);
        status_.state = ConnectionState::Disconnected;
        status_.failure = S7_OK;
        status_.failedStep = S7_STEP_NONE;
        status_.attempts = 0;
        status_.nextAttempt.reset();
        backoff_ = 0;
        state_.store(ConnectionState::Disconnected);
    }
    // A call in flight, even against a stalled controller, returns at once;
    // the UI thread never waits for it.
    vemoc_s7_client_abort(client_);
    std::unique_lock held(lock_, std::try_to_lock);
    if (held.owns_lock()) {
        vemoc_s7_client_disconnect(client_);
    }
}

void PlcConnection::cutAbandoned() {
    // Under the status lock: the worker cannot begin the next attempt (it
    // takes that lock first), so the cut never reaches a wanted one.
    std::lock_guard statusGuard(statusLock_);
    const bool abandoned = attempting_ != 0 && (attempting_ != request_ || !wanted_.load());
    if (abandoned) vemoc_s7_client_abort(client_);
}

bool PlcConnection::reconnectDue() {
    std::lock_guard statusGuard(statusLock_);
    if (status_.state != ConnectionState::Lost || !wanted_.load() || !status_.nextAttempt ||
        now_() < *status_.nextAttempt) {
        return false;
    }
    status_.nextAttempt.reset();  // running from now on
    return true;
}

void PlcConnection::withClient(const std::function<void(vemoc_s7_client*)>& fn) {
    std::lock_guard held(lock_);
    runLocked(fn);
}

bool PlcConnection::withConnection(std::uint64_t connection, const std::function<void(vemoc_s7_client*)>& fn) {
    std::lock_guard held(lock_);
    // Connections are made only under the mutex: what is checked here holds
    // until fn returns.
    if (connection != connectionId_.load() || state_.load() == ConnectionState::Held) return false;
    runLocked(fn);
    return true;
}

void PlcConnection::runLocked(const std::function<void(vemoc_s7_client*)>& fn) {
    if (!wanted_.load() && vemoc_s7_client_get_state(client_) == S7_CLIENT_CONNECTED) {
        // A disconnect that found the handle busy.
        vemoc_s7_client_disconnect(client_);
    }
    callSince_.store(now_().time_since_epoch().count());
    if (const CallWatcher watcher = callWatcher_.load()) watcher();
    try {
        fn(client_);
    } catch (...) {
        callSince_.store(kNoCall);
        throw;
    }
    callSince_.store(kNoCall);
    settle();
}

PlcConnection::ConnectProgress PlcConnection::connectProgress() const {
    ConnectProgress progress;
    progress.step = connectStep_.load();
    progress.since = SteadyTime(SteadyTime::duration(stepSince_.load()));
    return progress;
}

std::optional<SteadyTime> PlcConnection::waitingSince() const {
    const SteadyTime::rep since = callSince_.load();
    if (since == kNoCall) return std::nullopt;
    return SteadyTime(SteadyTime::duration(since));
}

bool PlcConnection::notAnswering(SteadyTime now) const {
    const std::optional<SteadyTime> since = waitingSince();
    return since && now - *since > kNotAnsweringAfter;
}

void PlcConnection::settle() {
    noteDiscardedAnswers();
    const bool open = vemoc_s7_client_get_state(client_) == S7_CLIENT_CONNECTED;
    if (!wanted_.load()) {
        if (open) vemoc_s7_client_disconnect(client_);
        return;
    }
    if (open || state_.load() != ConnectionState::Connected) return;
    std::lock_guard statusGuard(statusLock_);
    if (!wanted_.load() || status_.state != ConnectionState::Connected) return;
    status_.state = ConnectionState::Lost;
    status_.failure = vemoc_s7_client_get_loss(client_);
    status_.failedStep = S7_STEP_DONE;
    status_.attempts = 0;
    // A connection that broke soon after it was made most likely breaks the
    // same way again: the wait grows at every round instead of starting
    // afresh, so that such a controller is not hammered every second.
    const SteadyTime now = now_();
    backoff_ = reconnected_ && now - connectedAt_ < kSteadyAfter ? backoff_ + 1 : 0;
    const std::chrono::seconds delay = reconnectDelay(backoff_);
    status_.nextAttempt = now + delay;
    state_.store(ConnectionState::Lost);
    Logger::log(LogLevel::Warn, "Connection to {}:{} lost: {}; reconnecting in {} s", status_.host, status_.port,
                describe(status_.failure, status_.port, S7_STEP_DONE), delay.count());
}

void PlcConnection::noteDiscardedAnswers() {
    // The library counts afresh from every connect.
    const std::uint32_t discarded = vemoc_s7_client_get_discarded_answers(client_);
    if (discarded < discardedLogged_) discardedLogged_ = 0;
    if (discarded == discardedLogged_) return;
    const std::uint32_t more = discarded - discardedLogged_;
    discardedLogged_ = discarded;
    std::string host;
    std::uint16_t port = 0;
    {
        std::lock_guard statusGuard(statusLock_);
        host = status_.host;
        port = status_.port;
    }
    Logger::log(LogLevel::Warn,
                "The controller at {}:{} answered an earlier request again: {} such answer{} let go ({} on this "
                "connection)",
                host, port, more, more == 1 ? "" : "s", discarded);
}

ConnectionStatus PlcConnection::status() const {
    std::lock_guard statusGuard(statusLock_);
    return status_;
}

void PlcConnection::allowWrites(bool allowed) {
    writesAllowed_.store(allowed && state_.load() == ConnectionState::Connected);
}

std::string PlcConnection::getPlcType() const {
    std::lock_guard statusGuard(statusLock_);
    return plcType_;
}

}  // namespace vemo
