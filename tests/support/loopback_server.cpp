#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vemo::test {

namespace {

// Binds a listening socket on address:port and returns it with the port.
int listenOn(const std::string& address, uint16_t port, int backlog, uint16_t& boundPort) {
    sockaddr_storage ss{};
    socklen_t len = 0;
    int family = AF_INET;
    if (address.find(':') != std::string::npos) {
        family = AF_INET6;
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&ss);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(port);
        if (inet_pton(AF_INET6, address.c_str(), &a6->sin6_addr) != 1) {
            throw std::runtime_error("bad address " + address);
        }
        len = sizeof(sockaddr_in6);
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&ss);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(port);
        if (inet_pton(AF_INET, address.c_str(), &a4->sin_addr) != 1) {
            throw std::runtime_error("bad address " + address);
        }
        len = sizeof(sockaddr_in);
    }
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(fd, backlog) != 0) {
        ::close(fd);
        throw std::runtime_error(std::string("bind/listen failed: ") + std::strerror(errno));
    }
    len = sizeof ss;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
    boundPort = family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port)
                                   : ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    return fd;
}

}  // namespace

LoopbackServer::LoopbackServer(Script script, const std::string& address, uint16_t port, int backlog) {
    listenFd_ = listenOn(address, port, backlog, port_);
    if (!script) {
        return;
    }
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    thread_ = std::thread([fd = listenFd_, stop = stopPipe_[0], script = std::move(script)] {
        // Waits for the client, or for the server's end when none comes.
        pollfd pfd[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
        if (::poll(pfd, 2, 10000) <= 0 || (pfd[0].revents & POLLIN) == 0) {
            return;
        }
        int conn = ::accept(fd, nullptr, nullptr);
        if (conn < 0) {
            return;
        }
        script(conn);
        ::close(conn);
    });
}

LoopbackServer::~LoopbackServer() {
    if (stopPipe_[1] >= 0) {
        const char wake = 1;
        (void)!::write(stopPipe_[1], &wake, 1);
    }
    join();
    for (int fd : {listenFd_, stopPipe_[0], stopPipe_[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void LoopbackServer::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

Bytes LoopbackServer::readExact(int fd, size_t n, int timeoutMs) {
    Bytes out;
    out.reserve(n);
    uint8_t buf[4096];
    while (out.size() < n) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0) {
            break;
        }
        const size_t want = std::min(sizeof buf, n - out.size());
        const ssize_t got = ::recv(fd, buf, want, 0);
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

void LoopbackServer::writeAll(int fd, const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

bool LoopbackServer::waitForClose(int fd, int timeoutMs) {
    uint8_t buf[256];
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0) {
            return false;
        }
        const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
        if (got <= 0) {
            return true;
        }
    }
}

int listenSocket(const std::string& address, uint16_t port, int backlog, uint16_t& boundPort) {
    return listenOn(address, port, backlog, boundPort);
}

uint16_t unusedPort() {
    uint16_t port = 0;
    int fd = listenOn("127.0.0.1", 0, 1, port);
    ::close(fd);
    return port;
}

}  // namespace vemo::test
