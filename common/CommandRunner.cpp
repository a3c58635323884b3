// Fork, exec and a poll loop that feeds standard input while it drains
// standard output, so a program that writes much before reading cannot
// dead-lock against us.
#include "common/CommandRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "common/Paths.h"
#include "common/UniqueFd.h"

namespace quorvex {

namespace {

bool MakePipe(UniqueFd& read_end, UniqueFd& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end.reset(fds[0]);
    write_end.reset(fds[1]);
    return true;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input, bool capture_errors) {
    CommandResult result;
    if (argv.empty()) return result;
    UniqueFd child_in, to_child, from_child, child_out;
    // Closed by a successful exec; a failed one writes its errno into it,
    // so a program that cannot be started is told apart from one that ran.
    UniqueFd exec_failed_read, exec_failed_write;
    if (!MakePipe(child_in, to_child) || !MakePipe(from_child, child_out) ||
        !MakePipe(exec_failed_read, exec_failed_write))
        return result;

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) return result;
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::dup2(child_in.get(), STDIN_FILENO);
        ::dup2(child_out.get(), STDOUT_FILENO);
        if (capture_errors) ::dup2(child_out.get(), STDERR_FILENO);
        ::execvp(args[0], args.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t ignored = ::write(exec_failed_write.get(), &error, sizeof error);
        ::_exit(127);
    }
    child_in.reset();
    child_out.reset();
    exec_failed_write.reset();
    bool exec_failed = false;
    for (;;) {
        int error = 0;
        const ssize_t n = ::read(exec_failed_read.get(), &error, sizeof error);
        if (n < 0 && errno == EINTR) continue;
        exec_failed = n > 0;
        break;
    }
    exec_failed_read.reset();
    if (exec_failed) to_child.reset();
    // Writes must never block: a child that fills its output pipe while we
    // are stuck writing its input would wait for us forever.
    if (to_child) ::fcntl(to_child.get(), F_SETFL, ::fcntl(to_child.get(), F_GETFL) | O_NONBLOCK);
    if (input.empty()) to_child.reset();

    // A child that stops reading must not kill us with SIGPIPE: writes go
    // through send-like semantics by ignoring the signal for this write.
    std::size_t written = 0;
    for (;;) {
        pollfd fds[2] = {{from_child.get(), POLLIN, 0}, {to_child.get(), POLLOUT, 0}};
        const nfds_t count = to_child ? 2 : 1;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (to_child && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            sigset_t pipe_signal, old;
            sigemptyset(&pipe_signal);
            sigaddset(&pipe_signal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe_signal, &old);
            const ssize_t n = ::write(to_child.get(), input.data() + written, input.size() - written);
            const int write_error = n < 0 ? errno : 0;
            if (write_error == EPIPE) {
                timespec no_wait{};
                sigtimedwait(&pipe_signal, nullptr, &no_wait);  // consume the pending SIGPIPE
            }
            pthread_sigmask(SIG_SETMASK, &old, nullptr);
            if (n > 0) written += static_cast<std::size_t>(n);
            if ((n < 0 && write_error != EINTR && write_error != EAGAIN) || written == input.size()) to_child.reset();
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[65536];
            const ssize_t n = ::read(from_child.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            result.output.append(buffer, static_cast<std::size_t>(n));
        }
    }
    to_child.reset();
    from_child.reset();

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return result;
    }
    if (WIFEXITED(status) && !exec_failed) result.exit_status = WEXITSTATUS(status);
    return result;
}

std::string FindProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        if (folder.empty()) continue;
        std::string candidate = JoinPath(folder, name);
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

CommandRunner DefaultCommandRunner() {
    return [](const std::vector<std::string>& argv) { return RunCommand(argv); };
}

}  // namespace quorvex
