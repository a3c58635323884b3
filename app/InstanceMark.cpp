#include "app/InstanceMark.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/Paths.h"

namespace quorvex::app {

namespace {

constexpr std::size_t kMaxCommandLength = 64;

std::string CanonicalFolder(const std::string& folder) {
    char* real = ::realpath(folder.c_str(), nullptr);
    if (!real) return folder;
    std::string out(real);
    std::free(real);
    return out;
}

sockaddr_un AbstractAddress(const std::string& name, socklen_t& length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays NUL: the abstract namespace.
    const std::size_t n = std::min(name.size(), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, name.data(), n);
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    return address;
}

std::string LockPath(const std::string& folder) { return JoinPath(folder, kInstanceLockName); }

// True when the wait for `events` on `fd` ended with them before `deadline`.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

// Reads up to LF; false on time-out, close or a line over `max_length`.
bool ReadLine(int fd, std::string& line, std::size_t max_length, std::chrono::steady_clock::time_point deadline) {
    line.clear();
    for (;;) {
        if (!WaitFor(fd, POLLIN, deadline)) return false;
        char buffer[kMaxCommandLength];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        line.append(buffer, static_cast<std::size_t>(n));
        if (const auto lf = line.find('\n'); lf != std::string::npos) {
            line.resize(lf);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        if (line.size() > max_length) return false;
    }
}

void SendAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

std::string ControlSocketName(const std::string& program_folder) {
    // FNV-1a over the canonical folder path: short, fixed and the same for
    // every process that names the folder in any spelling.
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : CanonicalFolder(program_folder)) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "QuorvexServer-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

std::optional<InstanceMark> InstanceMark::Take(const std::string& program_folder, std::string* error) {
    if (error) error->clear();
    const std::string path = LockPath(program_folder);
    InstanceMark mark;
    mark.lock_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!mark.lock_.valid()) {
        if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (::flock(mark.lock_.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && error) *error = "cannot lock " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    mark.control_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    socklen_t length = 0;
    const sockaddr_un address = AbstractAddress(ControlSocketName(program_folder), length);
    if (!mark.control_.valid() || ::bind(mark.control_.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::listen(mark.control_.get(), 8) != 0) {
        // The lock is ours, so whoever holds the name is a process that
        // outlived its lock: that is another instance all the same.
        if (errno != EADDRINUSE && error) *error = std::string("cannot open the control socket: ") + std::strerror(errno);
        return std::nullopt;
    }
    return mark;
}

std::optional<std::string> InstanceMark::AcceptCommand(std::chrono::milliseconds limit) {
    client_.reset(::accept4(control_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!client_.valid()) return std::nullopt;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(client_.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
        (peer.uid != ::geteuid() && peer.uid != 0)) {
        client_.reset();
        return std::nullopt;
    }
    std::string line;
    if (!ReadLine(client_.get(), line, kMaxCommandLength, std::chrono::steady_clock::now() + limit)) {
        client_.reset();
        return std::nullopt;
    }
    return line;
}

void InstanceMark::Reply(std::string_view answer) {
    if (!client_.valid()) return;
    // One line: a line break inside the answer (a path may hold one) would end it early.
    std::string line(answer.substr(0, kMaxAnswerLength));
    for (char& c : line) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    SendAll(client_.get(), line + "\n");
    client_.reset();
}

bool InstanceRunning(const std::string& program_folder) {
    UniqueFd fd(::open(LockPath(program_folder).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;  // never taken in this folder
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return false;
    return errno == EWOULDBLOCK;
}

std::optional<std::string> SendInstanceCommand(const std::string& program_folder, std::string_view command,
                                               std::chrono::milliseconds limit) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return std::nullopt;
    socklen_t length = 0;
    const sockaddr_un address = AbstractAddress(ControlSocketName(program_folder), length);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) return std::nullopt;
    SendAll(fd.get(), std::string(command) + "\n");
    std::string answer;
    if (!ReadLine(fd.get(), answer, kMaxAnswerLength + 2, std::chrono::steady_clock::now() + limit)) {
        return std::nullopt;
    }
    return answer;
}

bool WaitForInstanceEnd(const std::string& program_folder, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (InstanceRunning(program_folder)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace quorvex::app
