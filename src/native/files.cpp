// Files read whole and written whole (see files.hpp).
#include "files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace orvane {
namespace {

// The process's umask, read without changing it: umask(2) can only be read
// by setting it, which would race with every thread creating a file.
mode_t current_umask() {
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buf[4096];
        ssize_t got;
        do got = ::read(fd, buf, sizeof buf - 1); while (got < 0 && errno == EINTR);
        ::close(fd);
        if (got > 0) {
            buf[got] = '\0';
            if (const char* at = std::strstr(buf, "\nUmask:")) return mode_t(std::strtoul(at + 7, nullptr, 8));
        }
    }
    static std::mutex lock;  // no /proc: read it the old way, one thread at a time
    const std::lock_guard<std::mutex> held(lock);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

}  // namespace

FileText read_regular_file(const std::string& path, std::size_t limit) {
    FileText out;
    int fd;
    // O_NONBLOCK: opening a FIFO must not wait for a writer; no effect on regular files.
    do fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY); while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        out.err = errno;
        return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        out.err = errno;
    } else if (S_ISDIR(st.st_mode)) {
        out.err = EISDIR;
    } else if (!S_ISREG(st.st_mode)) {
        out.refused = "not a regular file (a device, a pipe or a socket)";
    } else if (std::size_t(st.st_size) > limit) {
        out.refused = "larger than " + std::to_string(limit >> 20) + " MiB, more than a Touchstone file holds";
    } else {
        out.text.reserve(std::size_t(st.st_size));
        char chunk[1 << 16];
        for (;;) {
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;  // a signal (Ctrl-C) for the main thread
            if (got < 0) {
                out.err = errno;
                break;
            }
            if (got == 0) break;
            out.text.append(chunk, std::size_t(got));
            if (out.text.size() > limit) {  // grew while being read
                out.refused = "larger than " + std::to_string(limit >> 20) + " MiB, more than a Touchstone file holds";
                break;
            }
        }
    }
    ::close(fd);
    if (out.err || !out.refused.empty()) out.text.clear();
    return out;
}

int write_whole(const std::string& path, const std::string& text) {
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() > 200) name = "orvane_ex";  // room for the suffix within NAME_MAX
    const std::string pattern = folder + name + ".XXXXXX.part";
    std::vector<char> temp(pattern.begin(), pattern.end());
    temp.push_back('\0');
    const int fd = ::mkstemps(temp.data(), 5);
    if (fd < 0) return errno;
    // mkstemp makes the file private (0600); the result gets a new file's usual mode.
    int err = ::fchmod(fd, 0666 & ~current_umask()) == 0 ? 0 : errno;
    for (std::size_t done = 0; !err && done < text.size();) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno != EINTR) err = errno;
        if (put > 0) done += std::size_t(put);
    }
    // A failing close can report a write the file system deferred (NFS, quotas);
    // EINTR from close leaves the descriptor closed on Linux, nothing to retry.
    if (::close(fd) != 0 && errno != EINTR && !err) err = errno;
    if (!err && std::rename(temp.data(), path.c_str()) != 0) err = errno;
    if (err) ::unlink(temp.data());
    return err;
}

}  // namespace orvane
