// A POP3 server for one end-to-end test: a fresh program folder with
// accounts, the real job table, listener, session and mailbox store on a
// loopback port, and a way to run real mail clients against it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/AtomicFile.h"
#include "common/CommandRunner.h"
#include "common/PasswordDigest.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/store/MailStore.h"
#include "servers/jobs/JobTable.h"
#include "servers/jobs/ServerListener.h"
#include "servers/pop3/Pop3Server.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/TempFolder.h"
#include "tests/support/ScopedProcessState.h"

namespace quorvex::testing {

class Pop3TestServer {
public:
    // `config` holds extra lines for config.ini ("[System]" section lines).
    explicit Pop3TestServer(const std::string& extra_system_keys = "") {
        SetProgramFolder(home_.path());
        AtomicWriteFile(home_.File("config.ini"),
                        "[System]\r\nDominame=example.com\r\n" + extra_system_keys + "[Log]\r\nFilePath=" +
                            home_.File("log") + "\r\n");
        ReloadSettings();
        MakeFolders(home_.File("mail"));
        MakeFolders(home_.File("smtp"));
    }
    ~Pop3TestServer() {
        Stop();
        server_.reset();
    }

    // Stops accepting and waits for every running job to end, so that what
    // the jobs use may go away after this.
    void Stop() {
        ServerRunFlag = 0;
        listener_.reset();
        jobs_.Shutdown();
    }

    void AddAccount(const std::string& name, const std::string& password, const std::string& extra = "") {
        const std::string folder = JoinPath(home_.File("mail"), name);
        MakeFolders(folder);
        AtomicWriteFile(JoinPath(folder, "maillist.ini"),
                        "[System]\r\nPassword=" + HashAccountPassword(password) + "\r\nMax=1\r\n" + extra);
        Accounts().Load();
    }

    // Stores a message (given in its stored, dot-stuffed form) in folder 0.
    void Store(const std::string& account, const std::string& text, int folder = 0) {
        const std::string path = home_.File("incoming-" + std::to_string(++stored_));
        AtomicWriteFile(path, text);
        ASSERT_TRUE(AddMessageToMailbox(account, path, nullptr, folder, true, false));
        std::remove(path.c_str());
    }

    // `before_workers` may add job handlers of its own.
    void Start(const std::function<void(JobTable&, pop3::Pop3Server&)>& before_workers = {}) {
        ServerRunFlag = 1;
        server_ = std::make_unique<pop3::Pop3Server>(jobs_, nullptr);
        server_->InstallHandler();
        if (before_workers) before_workers(jobs_, *server_);
        jobs_.CreateWorkerThreads();
        listener_ = std::make_unique<CPop3Server>(jobs_);
        ASSERT_TRUE(testing::OnTestPort([&](int port) { return listener_->Start(port, "127.0.0.1"); }) > 0);
    }

    int port() const { return listener_->port(); }
    JobTable& jobs() { return jobs_; }
    const TempFolder& home() const { return home_; }
    pop3::Pop3Server& server() { return *server_; }

    // Runs a Python script with Debian's interpreter; argv[1] is the port.
    CommandResult Python(const std::string& script, const std::vector<std::string>& args = {}) {
        std::vector<std::string> argv = {"/usr/bin/python3", "-c", script, std::to_string(port())};
        argv.insert(argv.end(), args.begin(), args.end());
        return ::quorvex::RunCommand(argv);
    }

private:
    ScopedProcessState process_state_;  // restored after everything below has gone
    TempFolder home_;
    JobTable jobs_;
    std::unique_ptr<pop3::Pop3Server> server_;
    std::unique_ptr<CPop3Server> listener_;
    int stored_ = 0;
};

}  // namespace quorvex::testing
