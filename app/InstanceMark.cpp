#include "app/InstanceMark.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "app/StartupChecks.h"
#include "common/Paths.h"

namespace quorvex::app {

namespace {

constexpr std::size_t kMaxCommandLength = 64;

// The address of the socket file in `folder`, and what must stay open
// while it is used: a folder path too long for a socket address is reached
// through this process's descriptor of the folder.
struct ControlAddress {
    UniqueFd folder;
    sockaddr_un address{};
    socklen_t length = 0;
};

std::optional<ControlAddress> AddressIn(const std::string& folder) {
    ControlAddress out;
    std::string path = ControlSocketPath(folder);
    if (path.size() >= sizeof out.address.sun_path) {
        out.folder.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!out.folder.valid()) return std::nullopt;
        path = "/proc/self/fd/" + std::to_string(out.folder.get()) + "/" + std::string(kControlSocketName);
        if (path.size() >= sizeof out.address.sun_path) return std::nullopt;
    }
    out.address.sun_family = AF_UNIX;
    std::memcpy(out.address.sun_path, path.data(), path.size());
    out.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return out;
}

const sockaddr* AsSockaddr(const ControlAddress& a) { return reinterpret_cast<const sockaddr*>(&a.address); }

// The user of the process at the other end of a connected or listening socket.
std::optional<uid_t> PeerUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return std::nullopt;
    return peer.uid;
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

// The name of a user, with its number; the number alone for a user
// without an entry.
std::string UserText(uid_t user) {
    const std::string number = "uid " + std::to_string(user);
    const auto name = LoginNameOf(user);
    return name ? *name + " (" + number + ")" : number;
}

std::string ForeignListenerText(const std::string& socket_path, const std::optional<uid_t>& user) {
    return "what listens at " + socket_path + " is " +
           (user ? "a process of the user " + UserText(*user) : std::string("a process of an unknown user")) +
           ", not of this user, root or the program folder's owner; nothing was sent to it";
}

}  // namespace

std::string ControlSocketPath(const std::string& program_folder) {
    return JoinPath(program_folder, kControlSocketName);
}

std::optional<InstanceMark> InstanceMark::Take(const std::string& program_folder, std::string* error) {
    if (error) error->clear();
    const auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    const std::string path = LockPath(program_folder);
    // Every name below is opened in the folder that was checked, never
    // through a link: another user's link cannot aim the lock elsewhere.
    const UniqueFd folder(::open(program_folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!folder.valid() || ::fstat(folder.get(), &st) != 0) {
        return fail("cannot open " + path + ": " + std::strerror(errno));
    }
    if (std::string unsafe = UnsafeFolderProblem(program_folder, st); !unsafe.empty()) {
        return fail(std::move(unsafe));
    }
    InstanceMark mark;
    mark.lock_.reset(::openat(folder.get(), std::string(kInstanceLockName).c_str(),
                              O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!mark.lock_.valid()) {
        return fail("cannot open " + path + ": " +
                    (errno == ELOOP ? std::string("it is a symbolic link, which is never followed (remove it)")
                                    : std::string(std::strerror(errno))));
    }
    if (::fstat(mark.lock_.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return fail("cannot open " + path + ": it is not a regular file (remove it)");
    }
    if (::flock(mark.lock_.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return std::nullopt;
        return fail("cannot lock " + path + ": " + std::strerror(errno));
    }
    const std::string socket_path = ControlSocketPath(program_folder);
    const std::optional<ControlAddress> address = AddressIn(program_folder);
    if (!address) return fail("cannot name the control socket " + socket_path);
    // The lock is ours, so a socket file already there was left by an
    // instance that is gone. Anything else in its place is not removed.
    const std::string socket_name(kControlSocketName);
    if (::fstatat(folder.get(), socket_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            return fail("cannot make the control socket " + socket_path +
                        ": something that is not a socket is in its place (remove it)");
        }
        if (::unlinkat(folder.get(), socket_name.c_str(), 0) != 0 && errno != ENOENT) {
            return fail("cannot remove the old control socket " + socket_path + ": " + std::strerror(errno));
        }
    } else if (errno != ENOENT) {
        return fail("cannot make the control socket " + socket_path + ": " + std::strerror(errno));
    }
    mark.control_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    // The mode set before bind() is the one the file is made with; bind()
    // makes a new file and follows no link.
    if (!mark.control_.valid() || ::fchmod(mark.control_.get(), 0600) != 0 ||
        ::bind(mark.control_.get(), AsSockaddr(*address), address->length) != 0 ||
        ::listen(mark.control_.get(), 8) != 0) {
        return fail("cannot open the control socket " + socket_path + ": " + std::strerror(errno));
    }
    return mark;
}

std::optional<std::string> InstanceMark::AcceptCommand(std::chrono::milliseconds limit) {
    client_.reset(::accept4(control_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!client_.valid()) return std::nullopt;
    const std::optional<uid_t> peer = PeerUser(client_.get());
    if (!peer || (*peer != ::geteuid() && *peer != 0)) {
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
    UniqueFd fd(::open(LockPath(program_folder).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return false;  // never taken in this folder
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return false;
    return errno == EWOULDBLOCK;
}

std::optional<std::string> SendInstanceCommand(const std::string& program_folder, std::string_view command,
                                               std::chrono::milliseconds limit, std::string* not_sent) {
    if (not_sent != nullptr) not_sent->clear();
    // Only the socket itself is reached, never what a link there names.
    struct stat socket_file {};
    if (::lstat(ControlSocketPath(program_folder).c_str(), &socket_file) != 0 || !S_ISSOCK(socket_file.st_mode)) {
        return std::nullopt;
    }
    const std::optional<ControlAddress> address = AddressIn(program_folder);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!address || !fd.valid() || ::connect(fd.get(), AsSockaddr(*address), address->length) != 0) {
        return std::nullopt;
    }
    // Only an instance of this user, of root or of the folder's owner is
    // told anything.
    struct stat folder {};
    const std::optional<uid_t> peer = PeerUser(fd.get());
    if (!peer || ::stat(program_folder.c_str(), &folder) != 0 ||
        (*peer != ::geteuid() && *peer != 0 && *peer != folder.st_uid)) {
        if (not_sent != nullptr) *not_sent = ForeignListenerText(ControlSocketPath(program_folder), peer);
        return std::nullopt;
    }
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
