// A real Dovecot POP3 server for one test: its own configuration, a
// passwd-file with one user and a maildir in a temporary folder, listening
// on 127.0.0.1 at a port of the test port allocator. Started as a plain foreground process and
// stopped by its own pid when the object goes.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/AtomicFile.h"
#include "common/CommandRunner.h"
#include "common/Paths.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/TempFolder.h"

namespace quorvex::testing {

class DovecotServer {
public:
    DovecotServer(std::string user, std::string password) : user_(std::move(user)) {
        // Dovecot's processes drop to unprivileged users: they must be
        // able to walk into the folder.
        ::chmod(folder_.path().c_str(), 0755);
        for (const char* sub : {"new", "cur", "tmp"}) MakeFolders(JoinPath(Maildir(), sub), 0755);
        AtomicWriteFile(folder_.File("passwd"), user_ + ":{PLAIN}" + password + "::::::\n", 0644);
    }

    // Puts a message (LF or CR LF lines) into the user's maildir.
    void AddMessage(const std::string& text) {
        const std::string name = std::to_string(++added_) + ".test:2,";
        AtomicWriteFile(JoinPath(Maildir(), "cur", name), text, 0644);
    }

    // Starts the server and waits until it accepts connections; a start
    // that finds its port taken starts again on another one.
    bool Start() {
        RunCommand({"chown", "-R", "nobody:nogroup", folder_.File("mail")});
        port_ = OnTestPort([this](int port) {
            WriteConfiguration(port);
            auto process = std::make_unique<ChildProcess>(
                std::vector<std::string>{"/usr/sbin/dovecot", "-F", "-c", folder_.File("dovecot.conf")});
            if (!process->started() || !WaitForTcpServer(port, *process)) return false;
            process_ = std::move(process);
            return true;
        });
        return port_ > 0;
    }

    // Messages in the maildir now (after deletions committed by QUIT).
    int MessageCount() const {
        int count = 0;
        for (const char* sub : {"new", "cur"}) {
            for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(JoinPath(Maildir(), sub))) {
                ++count;
            }
        }
        return count;
    }

    // The port it listens on once started.
    int port() const { return port_; }

private:
    std::string Maildir() const { return JoinPath(folder_.File("mail"), user_); }

    void WriteConfiguration(int port) {
        AtomicWriteFile(folder_.File("dovecot.conf"),
                        "base_dir = " + folder_.File("run") + "\n"
                        "state_dir = " + folder_.File("state") + "\n"
                        "log_path = " + folder_.File("dovecot.log") + "\n"
                        "protocols = pop3\nlisten = 127.0.0.1\nssl = no\ndisable_plaintext_auth = no\n"
                        "auth_mechanisms = plain\nfirst_valid_uid = 1\n"
                        "default_internal_user = dovecot\ndefault_login_user = dovenull\n"
                        "mail_location = maildir:" + folder_.File("mail") + "/%u\n"
                        "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " + folder_.File("passwd") + "\n}\n"
                        "userdb {\n  driver = passwd-file\n  args = " + folder_.File("passwd") + "\n"
                        "  default_fields = uid=nobody gid=nogroup home=" + folder_.File("mail") + "/%u\n}\n"
                        "service pop3-login {\n  inet_listener pop3 {\n    address = 127.0.0.1\n    port = " +
                            std::to_string(port) + "\n  }\n}\n"
                        "service imap-login {\n  inet_listener imap {\n    port = 0\n  }\n}\n",
                        0644);
    }

    TempFolder folder_;
    std::string user_;
    int port_ = 0;
    int added_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace quorvex::testing
