#include "app/InstanceMark.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <future>

#include "support/TempFolder.h"

namespace quorvex::app {
namespace {

using namespace std::chrono_literals;
using testing::TempFolder;

TEST(InstanceMarkTest, OneHolderPerFolder) {
    TempFolder one, two;
    std::string error;
    auto first = InstanceMark::Take(one.path(), &error);
    ASSERT_TRUE(first) << error;
    EXPECT_TRUE(InstanceRunning(one.path()));
    EXPECT_FALSE(InstanceRunning(two.path()));

    auto second = InstanceMark::Take(one.path(), &error);
    EXPECT_FALSE(second);
    EXPECT_EQ(error, "");  // held, not broken

    auto other = InstanceMark::Take(two.path(), &error);
    EXPECT_TRUE(other) << error;
    EXPECT_EQ(std::filesystem::status(ControlSocketPath(one.path())).permissions(), std::filesystem::perms(0600));

    first.reset();
    EXPECT_FALSE(InstanceRunning(one.path()));
    EXPECT_TRUE(WaitForInstanceEnd(one.path(), 1s));
    EXPECT_TRUE(InstanceMark::Take(one.path(), &error)) << error;
}

TEST(InstanceMarkTest, CommandsReachTheHolderAndItsAnswerComesBack) {
    TempFolder temp;  // below it a folder whose path is too long for a socket address
    const std::string folder = temp.File(std::string(120, 'f'));
    std::filesystem::create_directory(folder);
    std::string error;
    auto mark = InstanceMark::Take(folder, &error);
    ASSERT_TRUE(mark) << error;
    auto sent = std::async(std::launch::async, [&] { return SendInstanceCommand(folder, kCommandUpdate, 10s); });
    std::optional<std::string> command;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!command && std::chrono::steady_clock::now() < deadline) command = mark->AcceptCommand(1s);
    ASSERT_EQ(command, std::string(kCommandUpdate));
    mark->Reply("OK");
    EXPECT_EQ(sent.get(), std::string("OK"));

    TempFolder empty;
    std::string not_sent = "left over";
    EXPECT_FALSE(SendInstanceCommand(empty.path(), kCommandStop, 1s, &not_sent));
    EXPECT_EQ(not_sent, "");  // nobody listens: no foreign listener to name
}

// A process of user nobody holding the abstract name a hash of the folder once gave the channel, and
// listening on the socket file's path (made by root), neither stops the start nor hears a command.
TEST(InstanceMarkTest, AnotherUsersProcessNeitherStopsTheStartNorHearsCommands) {
    if (::geteuid() != 0) GTEST_SKIP() << "a process of another user needs root";
    TempFolder folder;
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : std::filesystem::canonical(folder.path()).string()) hash = (hash ^ c) * 1099511628211ull;
    sockaddr_un old_name{AF_UNIX, {}}, file{AF_UNIX, {}};
    const int length = std::snprintf(old_name.sun_path + 1, 40, "QuorvexServer-%016llx", static_cast<unsigned long long>(hash));
    std::snprintf(file.sun_path, sizeof file.sun_path, "%s", ControlSocketPath(folder.path()).c_str());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const int a = ::socket(AF_UNIX, SOCK_STREAM, 0), b = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::bind(a, reinterpret_cast<sockaddr*>(&old_name), offsetof(sockaddr_un, sun_path) + 1 + length) != 0 ||
            ::bind(b, reinterpret_cast<sockaddr*>(&file), sizeof file) != 0 || ::setgid(65534) != 0 ||
            ::setuid(65534) != 0 || ::listen(a, 8) != 0 || ::listen(b, 8) != 0 || ::write(ready[1], "r", 1) != 1)
            ::_exit(2);
        for (int c;;)
            if ((c = ::accept(b, nullptr, nullptr)) >= 0 && ::write(c, "OK\n", 3) == 3) ::close(c);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    std::string not_sent;
    EXPECT_FALSE(SendInstanceCommand(folder.path(), kCommandStop, 2s, &not_sent));
    EXPECT_EQ(not_sent, "what listens at " + ControlSocketPath(folder.path()) +
                            " is a process of the user nobody (uid 65534), not of this user, root or the program "
                            "folder's owner; nothing was sent to it");
    std::string error;
    EXPECT_TRUE(InstanceMark::Take(folder.path(), &error)) << error;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST(InstanceMarkTest, ALockFileThatCannotBeMadeIsAnErrorNotAnInstance) {
    std::string error;
    EXPECT_FALSE(InstanceMark::Take("/nonexistent/quorvex/folder", &error));
    EXPECT_NE(error.find("QuorvexServer.lock"), std::string::npos) << error;
}

// What another user could once put at the lock's or the socket's name
// stops the start with a reason and is left as it is: no link is followed.
// A folder others may write to is refused before anything is made in it.
TEST(InstanceMarkTest, NoLinkIsFollowedAndNoUnsafeFolderTaken) {
    const struct {
        const char* name;
        const char* expected;  // a part of the reason
    } rows[] = {
        {"link at the lock", "QuorvexServer.lock: it is a symbolic link"},
        {"fifo at the lock", "QuorvexServer.lock: it is not a regular file"},
        {"link at the socket", "QuorvexServer.sock: something that is not a socket"},
        {"group-writable folder", ", mode 0770) can be written by other users"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder folder;
        const std::string target = folder.File("elsewhere");
        const std::string lock = folder.File(std::string(kInstanceLockName));
        const std::string socket = ControlSocketPath(folder.path());
        const std::string name = row.name;
        int made = 0;
        if (name == "link at the lock") made = ::symlink(target.c_str(), lock.c_str());
        if (name == "fifo at the lock") made = ::mkfifo(lock.c_str(), 0600);
        if (name == "link at the socket") made = ::symlink(target.c_str(), socket.c_str());
        if (name == "group-writable folder") made = ::chmod(folder.path().c_str(), 0770);
        ASSERT_EQ(made, 0);
        std::string error;
        EXPECT_FALSE(InstanceMark::Take(folder.path(), &error));
        EXPECT_NE(error.find(row.expected), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(target));
        EXPECT_FALSE(InstanceRunning(folder.path()));  // a fifo does not block it
    }
    // A later start does not follow a link at the socket's name either.
    TempFolder running, linked;
    std::string error;
    auto mark = InstanceMark::Take(running.path(), &error);
    ASSERT_TRUE(mark) << error;
    ASSERT_EQ(::symlink(ControlSocketPath(running.path()).c_str(), ControlSocketPath(linked.path()).c_str()), 0);
    auto sent = std::async(std::launch::async, [&] { return SendInstanceCommand(linked.path(), kCommandStop, 2s); });
    std::optional<std::string> heard;
    while (!heard && sent.wait_for(0s) != std::future_status::ready) {
        pollfd p{mark->control_socket(), POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) heard = mark->AcceptCommand(1s);
    }
    EXPECT_FALSE(heard);
    if (heard) mark->Reply("OK");
    EXPECT_FALSE(sent.get());
}

}  // namespace
}  // namespace quorvex::app
