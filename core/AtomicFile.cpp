#include "vemo/core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace vemo {

namespace {

// Writes all of the text; false with errno set on failure.
bool writeAll(int fd, std::string_view text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A temporary file beside `file`, made for writing only by this call:
// another writer (in this process or another one) gets another name.
int createTemporary(const std::filesystem::path& file, unsigned mode, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = file.string() + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

std::filesystem::path followLinks(const std::filesystem::path& file) {
    // The kernel's own limit on links followed in one path.
    constexpr int kMaxLinks = 40;
    std::filesystem::path path = file;
    for (int followed = 0; followed < kMaxLinks; ++followed) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) return path;
        const std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error) return path;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return file;
}

int replaceFile(const std::filesystem::path& link, std::string_view text, unsigned mode) {
    const std::filesystem::path file = followLinks(link);
    std::string temporary;
    const int fd = createTemporary(file, mode, temporary);
    if (fd < 0) return errno;
    struct stat old {};
    bool ok = (::stat(file.c_str(), &old) != 0 || ::fchmod(fd, old.st_mode & 07777) == 0) && writeAll(fd, text) &&
              ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), file.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return error;
    }
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

}  // namespace vemo
