#include "scripted_peer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

ScriptedPeer::ScriptedPeer(const uint8_t* data, size_t size, bool closeAfter) : data_(data), closeAfter_(closeAfter) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) {
        return;
    }
    slot_ = s7_socket_new();
    if (slot_ == nullptr) {
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    slot_->handle = fds[0];
    peer_ = fds[1];
    while (size_ < size) {
        const ssize_t n = ::send(peer_, data + size_, size - size_, MSG_NOSIGNAL);
        if (n <= 0) {
            break;  // the buffer is full: the rest is never sent
        }
        size_ += static_cast<size_t>(n);
    }
    if (closeAfter_) {
        ::shutdown(peer_, SHUT_WR);
    }
}

ScriptedPeer::~ScriptedPeer() {
    s7_socket_free(slot_);
    if (peer_ >= 0) {
        ::close(peer_);
    }
}

std::vector<uint8_t> ScriptedPeer::received() {
    std::vector<uint8_t> out;
    uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::recv(peer_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return out;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
}
