// The single-instance mark: a lock on "QuorvexServer.lock" in the program
// folder, held for the whole run, and a local control socket through which
// later starts reach the running instance ("-update", "-install", a second
// start). The socket is the file "QuorvexServer.sock" beside the lock. The
// mark is taken only in a folder that no user but its owner and root can
// write to (UnsafeFolderProblem), so no other user can put a file, a
// folder or a link at either name; the names are opened without following
// links all the same, and the socket file itself is owner-only. Each side also checks the other's user: the
// instance listens only to its own user and root, a later start talks only
// to its own user, root or the folder's owner.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/UniqueFd.h"

namespace quorvex::app {

inline constexpr std::string_view kInstanceLockName = "QuorvexServer.lock";

// Commands of the control socket, one line each; the answer is "OK", or
// for UPDATE "ERR " and why the settings in use were kept.
inline constexpr std::string_view kCommandUpdate = "UPDATE";  // reload the settings
inline constexpr std::string_view kCommandStop = "STOP";      // shut down
inline constexpr std::string_view kCommandShow = "SHOW";      // a second start: show the window

inline constexpr std::string_view kAnswerOk = "OK";
inline constexpr std::string_view kAnswerRefusedPrefix = "ERR ";
// An answer line is cut to this many bytes.
inline constexpr std::size_t kMaxAnswerLength = 4096;

inline constexpr std::string_view kControlSocketName = "QuorvexServer.sock";

// The control socket's path in a program folder.
std::string ControlSocketPath(const std::string& program_folder);

class InstanceMark {
public:
    // Takes the mark. Nothing, with `*error` empty, when another process
    // holds it; nothing with a reason when the folder is not safe or the
    // lock file or the socket cannot be made (a link, a folder or any
    // other file in place of either is left as it is). A socket file left
    // by an instance that was killed is replaced.
    static std::optional<InstanceMark> Take(const std::string& program_folder, std::string* error);

    // The listening control socket (non-blocking), for the main loop's poll.
    int control_socket() const { return control_.get(); }

    // Accepts one waiting connection and reads its command line (waiting at
    // most `limit` for it). Nothing when no command came or the peer is not
    // allowed. The connection is kept open for Reply.
    std::optional<std::string> AcceptCommand(std::chrono::milliseconds limit);
    // Answers the command taken last (one line of at most kMaxAnswerLength
    // bytes) and closes its connection.
    void Reply(std::string_view answer);

private:
    InstanceMark() = default;
    UniqueFd lock_;
    UniqueFd control_;
    UniqueFd client_;
};

// True when a process holds the mark of the folder.
bool InstanceRunning(const std::string& program_folder);

// Sends one command to the running instance and waits at most `limit` for
// its answer line. Nothing when no instance answers, or when what listens
// is a process of another user than this one, root or the folder's owner
// (the command is then never sent, and `not_sent`, when given, says whose
// process listens and that nothing was sent; it is empty otherwise).
std::optional<std::string> SendInstanceCommand(const std::string& program_folder, std::string_view command,
                                               std::chrono::milliseconds limit, std::string* not_sent = nullptr);

// Waits until no process holds the mark, at most `limit`. True when free.
bool WaitForInstanceEnd(const std::string& program_folder, std::chrono::milliseconds limit);

}  // namespace quorvex::app
