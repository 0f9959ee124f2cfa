// Socket layer on POSIX sockets.
//
// Two choices differ from a select()-based design on purpose: waits use
// poll(), which has no FD_SETSIZE limit (select writes past its fd_set for
// descriptors >= 1024), and sends use MSG_NOSIGNAL, so a controller that
// closed the connection gives a result code instead of killing the process
// with SIGPIPE.
//
// A shut-down from another thread and the owner's close meet without a lock:
// the shut-down announces itself in `shutting_down` before it reads the
// handle, and close takes the handle out of the slot before it waits for no
// shut-down to be in progress. Either the shut-down sees no handle, or close
// waits until its shutdown() call has returned; a socket number is never
// shut down after it was closed (and perhaps handed out again).
#include "s7_socket.h"

#include "s7_memory.h"

#include <cerrno>
#include <climits>
#include <cstdio>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr s7_socket_handle kInvalid = -1;

bool wouldBlock(int err) { return err == EWOULDBLOCK || err == EAGAIN || err == EINPROGRESS; }

// A controller that resets the connection has closed it, just as one that
// sends FIN: both end the conversation, neither is a local fault.

void closeHandle(s7_socket_handle h) {
    if (h != kInvalid) {
        ::close(h);
    }
}

s7_socket_handle loadHandle(const s7_socket* slot) { return __atomic_load_n(&slot->handle, __ATOMIC_SEQ_CST); }

void storeHandle(s7_socket* slot, s7_socket_handle h) { __atomic_store_n(&slot->handle, h, __ATOMIC_SEQ_CST); }

bool wasShutDown(const s7_socket* slot) { return __atomic_load_n(&slot->aborted, __ATOMIC_SEQ_CST) != 0; }

// The wait of `timeout_ms` cut to what is left before the slot's deadline:
// S7_STATUS_TIMEOUT when nothing is left, S7_STATUS_CLOSED after a
// shut-down.
s7_status waitSlot(const s7_socket* slot, s7_socket_handle h, s7_socket_direction direction, uint32_t timeout_ms) {
    if (wasShutDown(slot)) {
        return S7_STATUS_CLOSED;
    }
    uint32_t wait = timeout_ms;
    if (slot->deadline_ms != 0) {
        const int64_t left = slot->deadline_ms - s7_clock_ms();
        if (left <= 0) {
            return S7_STATUS_TIMEOUT;
        }
        if (left < wait) {
            wait = static_cast<uint32_t>(left);
        }
    }
    return s7_socket_wait(h, direction, wait);
}

bool setNonBlocking(s7_socket_handle h) {
    int flags = ::fcntl(h, F_GETFL, 0);
    return flags >= 0 && ::fcntl(h, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool setNoDelay(s7_socket_handle h) {
    int one = 1;
    return ::setsockopt(h, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0;
}

// Why the last connect failed: its caller learns more than the result code
// (a refused port and an unreachable network are both S7_STATUS_CONNECT).
void noteCause(s7_socket* slot, uint8_t cause, int systemError) {
    slot->connect_cause = cause;
    slot->connect_error = systemError;
}

}  // namespace

extern "C" {

s7_socket_handle s7_socket_invalid(void) { return kInvalid; }

// Milliseconds of the monotonic clock (the C++ clocks would tie the
// library to the C++ runtime, and C programs link it too).
int64_t s7_clock_ms(void) {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

s7_socket* s7_socket_new(void) {
    // POSIX sockets need no process-wide start-up.
    auto* slot = static_cast<s7_socket*>(s7_calloc(sizeof(s7_socket)));
    if (slot != nullptr) {
        slot->handle = kInvalid;
    }
    return slot;
}

void s7_socket_close(s7_socket* slot) {
    if (slot == nullptr) {
        return;
    }
    const s7_socket_handle h = __atomic_exchange_n(&slot->handle, kInvalid, __ATOMIC_SEQ_CST);
    while (__atomic_load_n(&slot->shutting_down, __ATOMIC_SEQ_CST) != 0) {
        // A shut-down is inside shutdown() on this socket: a few instructions.
        sched_yield();
    }
    closeHandle(h);
}

void s7_socket_shut_down(s7_socket* slot) {
    if (slot == nullptr) {
        return;
    }
    __atomic_add_fetch(&slot->shutting_down, 1, __ATOMIC_SEQ_CST);
    __atomic_store_n(&slot->aborted, 1, __ATOMIC_SEQ_CST);
    const s7_socket_handle h = loadHandle(slot);
    if (h != kInvalid) {
        ::shutdown(h, SHUT_RDWR);
    }
    __atomic_sub_fetch(&slot->shutting_down, 1, __ATOMIC_SEQ_CST);
}

void s7_socket_begin_operation(s7_socket* slot, uint64_t limit_ms) {
    if (slot == nullptr) {
        return;
    }
    __atomic_store_n(&slot->aborted, 0, __ATOMIC_SEQ_CST);
    slot->operation_deadline_ms = limit_ms != 0 ? s7_clock_ms() + static_cast<int64_t>(limit_ms) : 0;
    slot->deadline_ms = slot->operation_deadline_ms;
}

void s7_socket_begin_request(s7_socket* slot, uint32_t limit_ms) {
    if (slot == nullptr) {
        return;
    }
    const int64_t request = s7_clock_ms() + limit_ms;
    const int64_t operation = slot->operation_deadline_ms;
    slot->deadline_ms = operation != 0 && operation < request ? operation : request;
}

void s7_socket_extend_request(s7_socket* slot, uint32_t limit_ms) {
    if (slot == nullptr || slot->deadline_ms == 0) {
        return;
    }
    const int64_t extended = slot->deadline_ms + limit_ms;
    const int64_t operation = slot->operation_deadline_ms;
    slot->deadline_ms = operation != 0 && operation < extended ? operation : extended;
}

void s7_socket_end_operation(s7_socket* slot) {
    if (slot != nullptr) {
        slot->operation_deadline_ms = 0;
        slot->deadline_ms = 0;
    }
}

void s7_socket_free(s7_socket* slot) {
    if (slot != nullptr) {
        s7_socket_close(slot);
        s7_free(slot);
    }
}

s7_status s7_socket_wait(s7_socket_handle handle, enum s7_socket_direction direction, uint32_t timeout_ms) {
    const int64_t deadline = s7_clock_ms() + timeout_ms;
    pollfd pfd{};
    pfd.fd = handle;
    pfd.events = direction == S7_SOCKET_READ ? POLLIN : POLLOUT;
    for (;;) {
        const int64_t left = deadline - s7_clock_ms();
        const int wait = left <= 0 ? 0 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
        const int rc = ::poll(&pfd, 1, wait);
        if (rc > 0) {
            // Error and hang-up states count as ready: the following
            // recv/send/getsockopt reports what happened.
            return S7_STATUS_OK;
        }
        if (rc == 0) {
            return S7_STATUS_TIMEOUT;
        }
        if (errno != EINTR) {
            return S7_STATUS_SOCKET;
        }
        // A signal interrupted the wait: wait for the rest of the time-out.
    }
}

uint8_t s7_socket_cause_of_error(int system_error) {
    switch (system_error) {
    case ECONNREFUSED: return S7_CAUSE_REFUSED;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
#ifdef EHOSTDOWN
    case EHOSTDOWN:
#endif
        return S7_CAUSE_NO_ROUTE;
    case ETIMEDOUT: return S7_CAUSE_TIMED_OUT;
    default: return S7_CAUSE_SYSTEM;
    }
}

uint8_t s7_socket_cause_of_lookup(int lookup_error) {
    switch (lookup_error) {
    case EAI_NONAME:
#if defined(EAI_NODATA) && EAI_NODATA != EAI_NONAME
    // The name exists, but has no address to connect to.
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return S7_CAUSE_UNKNOWN_HOST;
    default: return S7_CAUSE_LOOKUP;
    }
}

s7_status s7_socket_connect_list(s7_socket* slot, const struct addrinfo* list, uint32_t timeout_ms) {
    if (slot == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_socket_close(slot);
    noteCause(slot, S7_CAUSE_NONE, 0);
    s7_status pending = S7_STATUS_CONNECT;
    // An address no socket could be made for was not tried: it names the
    // cause only while no address was.
    bool attempted = false;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (wasShutDown(slot)) {
            noteCause(slot, S7_CAUSE_NONE, 0);
            return S7_STATUS_CLOSED;
        }
        const s7_socket_handle h = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (h == kInvalid) {
            if (!attempted) {
                noteCause(slot, S7_CAUSE_SYSTEM, errno);
            }
            continue;
        }
        // In the slot from the start, so that a shut-down reaches a connect
        // that is still waiting.
        storeHandle(slot, h);
        if (!setNonBlocking(h)) {
            if (!attempted) {
                noteCause(slot, S7_CAUSE_SYSTEM, errno);
            }
            s7_socket_close(slot);
            continue;
        }
        attempted = true;
        int rc = ::connect(h, ai->ai_addr, ai->ai_addrlen);
        if (rc != 0 && (wouldBlock(errno) || errno == EINTR)) {
            // The connection completes in the background; an interrupted
            // connect does too.
            const s7_status waited = waitSlot(slot, h, S7_SOCKET_WRITE, timeout_ms);
            if (waited != S7_STATUS_OK) {
                pending = waited;
                if (waited == S7_STATUS_TIMEOUT) {
                    noteCause(slot, S7_CAUSE_TIMED_OUT, ETIMEDOUT);
                } else if (waited == S7_STATUS_SOCKET) {
                    noteCause(slot, S7_CAUSE_SYSTEM, errno);
                } else {
                    noteCause(slot, S7_CAUSE_NONE, 0);  // shut down from another thread
                }
                s7_socket_close(slot);
                continue;
            }
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(h, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
                err = errno;
            }
            if (err != 0) {
                pending = S7_STATUS_CONNECT;
                noteCause(slot, s7_socket_cause_of_error(err), err);
                s7_socket_close(slot);
                continue;
            }
            rc = 0;
        }
        if (rc != 0) {
            // Failed at once, without waiting (a local port may refuse so).
            pending = S7_STATUS_CONNECT;
            noteCause(slot, s7_socket_cause_of_error(errno), errno);
            s7_socket_close(slot);
            continue;
        }
        // Requests and replies are small frames that wait for each other:
        // never hold one back to coalesce it with the next.
        if (!setNoDelay(h)) {
            s7_socket_close(slot);
            return S7_STATUS_SOCKET;
        }
        noteCause(slot, S7_CAUSE_NONE, 0);
        return S7_STATUS_OK;
    }
    return pending;
}

s7_status s7_socket_connect(s7_socket* slot, const char* host, uint16_t port, uint32_t timeout_ms) {
    if (slot == nullptr || host == nullptr || port == 0) {
        return S7_STATUS_ARGUMENT;
    }
    s7_socket_close(slot);
    // The system's lookup would call an empty name unknown; it is a missing one.
    if (host[0] == '\0') {
        noteCause(slot, S7_CAUSE_EMPTY_HOST, 0);
        return S7_STATUS_RESOLVE;
    }

    char service[16];
    std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    const int looked = ::getaddrinfo(host, service, &hints, &list);
    if (looked != 0 || list == nullptr) {
        noteCause(slot, looked != 0 ? s7_socket_cause_of_lookup(looked) : uint8_t{S7_CAUSE_UNKNOWN_HOST}, looked);
        return S7_STATUS_RESOLVE;
    }
    const s7_status rc = s7_socket_connect_list(slot, list, timeout_ms);
    ::freeaddrinfo(list);
    return rc;
}

s7_status s7_socket_peer_address(const s7_socket* slot, char* text, size_t capacity) {
    if (slot == nullptr || text == nullptr || capacity == 0) {
        return S7_STATUS_ARGUMENT;
    }
    text[0] = '\0';
    if (slot->handle == kInvalid) {
        return S7_STATUS_CLOSED;
    }
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(slot->handle, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        return S7_STATUS_SOCKET;
    }
    // NI_NUMERICHOST: the address itself, no lookup (and no allocation).
    const int rc =
        ::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), length, text,
                      static_cast<socklen_t>(capacity > INT_MAX ? INT_MAX : capacity), nullptr, 0, NI_NUMERICHOST);
    if (rc != 0) {
        text[0] = '\0';
        return rc == EAI_OVERFLOW ? S7_STATUS_ARGUMENT : S7_STATUS_SOCKET;
    }
    return S7_STATUS_OK;
}

s7_status s7_socket_recv_exact(s7_socket* slot, void* buffer, uint32_t len, uint32_t* received, uint32_t timeout_ms) {
    if (slot == nullptr || buffer == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint32_t got = 0;
    s7_status rc = S7_STATUS_OK;
    while (got < len) {
        if (slot->handle == kInvalid) {
            rc = S7_STATUS_CLOSED;
            break;
        }
        rc = waitSlot(slot, slot->handle, S7_SOCKET_READ, timeout_ms);
        if (rc != S7_STATUS_OK) {
            break;
        }
        const ssize_t n = ::recv(slot->handle, bytes + got, len - got, 0);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            continue;
        }
        if (n == 0) {
            rc = S7_STATUS_CLOSED;
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        rc = wouldBlock(errno) ? S7_STATUS_TIMEOUT : (errno == ECONNRESET ? S7_STATUS_CLOSED : S7_STATUS_SOCKET);
        break;
    }
    if (received != nullptr) {
        *received = got;
    }
    return rc;
}

s7_status s7_socket_send_all(s7_socket* slot, const void* data, uint32_t len, uint32_t timeout_ms) {
    if (slot == nullptr || data == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    if (slot->handle == kInvalid) {
        return S7_STATUS_CLOSED;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t sent = 0;
    while (sent < len) {
        const s7_status rc = waitSlot(slot, slot->handle, S7_SOCKET_WRITE, timeout_ms);
        if (rc != S7_STATUS_OK) {
            return rc;
        }
        const ssize_t n = ::send(slot->handle, bytes + sent, len - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<uint32_t>(n);
        } else if (n == 0) {
            return S7_STATUS_CLOSED;
        } else if (!wouldBlock(errno) && errno != EINTR) {
            return (errno == EPIPE || errno == ECONNRESET) ? S7_STATUS_CLOSED : S7_STATUS_SOCKET;
        }
    }
    return S7_STATUS_OK;
}

}  // extern "C"
