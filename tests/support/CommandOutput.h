// Runs a real command (openssl, md5sum, base64, ...) from a test with an
// argument vector (no shell, so any bytes pass unchanged), feeds it some
// standard input and returns what it wrote to standard output.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

namespace quorvex::testing {

// Standard output of the command, or nothing when it could not be run or
// did not exit with status 0.
inline std::optional<std::string> CommandOutput(const std::vector<std::string>& argv, const std::string& input = "") {
    int to_child[2], from_child[2];
    if (::pipe2(to_child, O_CLOEXEC) != 0) return std::nullopt;
    if (::pipe2(from_child, O_CLOEXEC) != 0) {
        ::close(to_child[0]);
        ::close(to_child[1]);
        return std::nullopt;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(to_child[0], 0);
        ::dup2(from_child[1], 1);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    std::string output;
    std::size_t written = 0;
    int in_fd = to_child[1];
    if (input.empty()) {
        ::close(in_fd);
        in_fd = -1;
    }
    for (;;) {
        pollfd fds[2] = {{from_child[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
        if (::poll(fds, in_fd >= 0 ? 2 : 1, 10000) <= 0) break;
        if (in_fd >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = ::write(in_fd, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n <= 0 || written == input.size()) {
                ::close(in_fd);
                in_fd = -1;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            char buf[4096];
            const ssize_t n = ::read(from_child[0], buf, sizeof buf);
            if (n <= 0) break;
            output.append(buf, static_cast<std::size_t>(n));
        }
    }
    if (in_fd >= 0) ::close(in_fd);
    ::close(from_child[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return output;
}

}  // namespace quorvex::testing
