// The SMTP server end to end: the real listener, job table, session and
// mailbox store on loopback, driven by clients nobody here wrote (Python
// smtplib, swaks) and by raw bytes where a real client would tidy them up.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>

#include "common/AccountName.h"
#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/PasswordDigest.h"
#include "common/ProfileFile.h"
#include "common/RunFlag.h"
#include "common/ServerSettings.h"
#include "common/TextHelpers.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/store/MailStore.h"
#include "servers/jobs/JobTable.h"
#include "servers/jobs/ServerListener.h"
#include "servers/queue/OutgoingQueue.h"
#include "servers/smtp/SmtpCommand.h"
#include "servers/smtp/SmtpConnection.h"
#include "app/ServerSmtpServices.h"
#include "servers/support/LoopbackPeer.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/RecordedActivity.h"
#include "tests/support/TestPorts.h"
#include "servers/support/SmtpTestFiles.h"
#include "support/TempFolder.h"
#include "tests/support/ScopedProcessState.h"

namespace quorvex::smtp {
namespace {

using testing::Slurp;
using testing::TempFolder;

struct RunResult {
    int status = -1;
    std::string output;
};

// Runs a command with a deadline (the coreutils `timeout`), collecting its
// output.
RunResult RunCommand(const std::string& command, const std::string& output_file) {
    const std::string line = "timeout 120 " + command + " >" + output_file + " 2>&1";
    RunResult result;
    const int status = std::system(line.c_str());
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.output = Slurp(output_file);
    return result;
}

class SmtpEndToEnd : public ::testing::Test {
protected:
    quorvex::testing::ScopedProcessState process_state_;  // restored last
    void SetUp() override {
        SetProgramFolder(folder.path());
        ProfileFile::ClearCache();
        MakeFolders(JoinPath(folder.path(), "mail"));
        AddAccount("alice", "secret");
        AddAccount("admin", "adminpw");
        Accounts().Load();
        UpdateSettings([&](CServerSettings& s) {
            s = CServerSettings{};
            s.SetProgramFolder(folder.path());
            s.LogFilePath = JoinPath(folder.path(), "log");
            s.Dominame = "example.test";
        });
        ServerRunFlag = 1;
        services = std::make_unique<ServerSmtpServices>(notices, queue);
        jobs.SetHandler(JOB_SMTP, [this](Job& job) {
            const ConnectionClient client(job.client.HostText(), job.from_web_mail);
            RunSmtpConnection(job.socket.get(), client, *services, limits);
        });
        jobs.CreateWorkerThreads();
        ASSERT_TRUE(testing::OnTestPort([&](int port) { return listener.Start(port, "127.0.0.1"); }) > 0);
        port = std::to_string(listener.port());
    }
    void TearDown() override {
        listener.Stop();
        jobs.Shutdown();
    }

    void AddAccount(const std::string& name, const std::string& password) {
        const std::string dir = JoinPath(folder.path(), "mail", name);
        MakeFolders(dir);
        ProfileFile(JoinPath(dir, "maillist.ini")).Edit([&](IniDocument& doc) {
            return doc.Set("System", "Password", HashAccountPassword(password)) && doc.Set("System", "Max", "1");
        });
    }

    // Every message in the account's inbox, unscrambled, without the trace
    // header this server puts in front.
    std::vector<std::string> Inbox(const std::string& account) {
        MailboxSnapshot snapshot;
        EXPECT_TRUE(LoadMailboxIndexLocked(account, snapshot));
        std::vector<std::string> messages;
        const auto key = MailStoreKey(account);
        for (int i = 0; i < snapshot.Counts[0]; ++i) {
            std::string bytes = Slurp(*GetMailFilePath(account, snapshot.Records[i].FileNumber));
            for (char& c : bytes) c = static_cast<char>(c ^ key);
            const auto end = bytes.find(" SMTP; ");
            messages.push_back(end == std::string::npos ? bytes : bytes.substr(bytes.find("\r\n", end) + 2));
        }
        return messages;
    }

    std::string Python(const std::string& args) {
        const RunResult r = RunCommand("/usr/bin/python3 " + std::string(QUORVEX_SOURCE_DIR) +
                                    "/tests/e2e/support/smtp_clients.py " + args,
                                folder.File("python.out"));
        EXPECT_EQ(r.status, 0) << r.output;
        return r.output;
    }

    RunResult Swaks(const std::string& args) {
        return RunCommand("swaks --server 127.0.0.1:" + port + " --helo e2e.client " + args, folder.File("swaks.out"));
    }

    std::string WriteFile(const std::string& name, const std::string& bytes) {
        const std::string path = folder.File(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    bool SmtpFolderHasTempFiles() {
        if (!FolderExists(queue.folder())) return false;
        for (const auto& entry : std::filesystem::directory_iterator(queue.folder())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("temp_", 0) == 0 || name.rfind("staged_", 0) == 0) return true;
        }
        return false;
    }

    TempFolder folder;
    NullNoticeSink notices;
    OutgoingQueue queue{folder.path()};
    std::unique_ptr<ServerSmtpServices> services;
    JobTable jobs;
    CSmtpServer listener{jobs};
    std::string port;
    ConnectionLimits limits;
};

TEST_F(SmtpEndToEnd, SmtplibMessagesArriveByteForByte) {
    std::string text = "Subject: bytes\r\nFrom: x@remote.org\r\n\r\n";
    text += "8-bit: \xc3\xa9\xff\x80\r\n";
    text += std::string(998, 'a') + "\r\n";
    text += std::string(5000, 'b') + "\r\n";
    text += ".leading dot\r\n..two dots\r\nend\r\n";
    quorvex::testing::RecordedActivity activity;
    limits.activity = &activity;
    Python("send " + port + " x@remote.org alice@example.test " + WriteFile("m.eml", text));
    // The slot was told every byte either way: the text, and the replies.
    ASSERT_TRUE(quorvex::testing::WaitUntil([&] { return jobs.ActiveJobCount() == 0; }));
    EXPECT_GT(activity.received, text.size());
    EXPECT_GT(activity.sent, 0u);
    const auto inbox = Inbox("alice");
    ASSERT_EQ(inbox.size(), 1u);
    // smtplib stuffs the leading dots; stored files keep the stuffed form,
    // and the 5000-byte line is kept in two pieces.
    std::string expected = "Subject: bytes\r\nFrom: x@remote.org\r\n\r\n8-bit: \xc3\xa9\xff\x80\r\n" +
                           std::string(998, 'a') + "\r\n" + std::string(3069, 'b') + "\r\n" +
                           std::string(5000 - 3069, 'b') + "\r\n..leading dot\r\n...two dots\r\nend\r\n";
    EXPECT_EQ(inbox[0], expected);
    EXPECT_FALSE(SmtpFolderHasTempFiles());
}

TEST_F(SmtpEndToEnd, SmtplibAuthLoginRelaysToTheQueue) {
    Python("send " + port + " alice@example.test friend@elsewhere.org " + WriteFile("m.eml", "Subject: out\r\n\r\nhi\r\n") +
           " alice secret");
    const std::string record = queue.RecordPath(1);
    EXPECT_EQ(ReadProfileString(record, "Info", "DestAddr"), "friend@elsewhere.org");
    EXPECT_EQ(ReadProfileString(record, "Info", "ReplyAddr"), "alice@example.test");
    const std::string queued = Slurp(queue.MessagePath(1));
    EXPECT_NE(queued.find("\r\n\r\nhi\r\n"), std::string::npos);
    EXPECT_EQ(queued.rfind("Return-Path: <alice@example.test>\r\n", 0), 0u);
    // The wrong password is refused.
    const RunResult r = RunCommand("/usr/bin/python3 " + std::string(QUORVEX_SOURCE_DIR) +
                                "/tests/e2e/support/smtp_clients.py send " + port +
                                " alice@example.test friend@elsewhere.org " + folder.File("m.eml") + " alice wrong",
                            folder.File("bad.out"));
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("535"), std::string::npos) << r.output;
}

TEST_F(SmtpEndToEnd, SwaksDialogues) {
    struct Case {
        std::string name;
        std::function<void(CServerSettings&)> settings;
        std::string args;
        std::vector<std::string> expected;  // lines the transcript must hold
        bool delivered;
    };
    const std::vector<Case> cases = {
        {"ehlo and a local delivery", nullptr, "--from x@remote.org --to alice@example.test",
         {"<-  250-AUTH=LOGIN", "<-  250 AUTH LOGIN", "<-  354 send the mail data, end with . ", "<-  250 "}, true},
        {"relay refused", nullptr, "--from x@remote.org --to y@elsewhere.org",
         {"<** 550 x@remote.org relay mail disabled and this mail server requires smtp authentication."
          "(from \"x@remote.org\" to \"y@elsewhere.org\" via \"example.test\") "},
         false},
        {"relay allowed after auth", nullptr,
         "--from alice@example.test --to y@elsewhere.org --auth LOGIN --auth-user alice --auth-password secret",
         {"<-  235 OK", "<-  250 "}, false},
        {"unknown user", nullptr, "--from x@remote.org --to ghost@example.test",
         {"<** 550 ghost@example.test is absent."}, false},
        {"unknown user with catch-all", [](CServerSettings& s) { s.EnableCatchAll = 1; },
         "--from x@remote.org --to ghost@example.test", {"<-  250 "}, false},
        {"too many recipients", [](CServerSettings& s) { s.MaxRcpts = 1; },
         "--from x@remote.org --to alice@example.test,admin@example.test", {"<** 452 too many receiver", "<-  250 "},
         true},
        {"message too big", [](CServerSettings& s) { s.MaxMailSize = 2000; },
         "--from x@remote.org --to alice@example.test --body " + std::string(3000, 'z'),
         {"<** 552 x@remote.org mail size too big"}, false},
        {"sender block list", [](CServerSettings& s) {
             s.EmailFilterEnable = 1;
             s.FromList = {"@spam.example"};
         },
         "--from x@remote.org --to alice@example.test --header 'From: boss@spam.example'",
         {"<** 554 Email from \"@spam.example\" is blocked by this mail server."}, false},
        {"client address block list", [](CServerSettings& s) {
             s.IPBlockEnable = 1;
             s.IPList = {"127.0.0.1-127.0.0.9"};
         },
         "--from x@remote.org --to alice@example.test", {"421 127.0.0.1 is blocked by this mail server."}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateSettings([&](CServerSettings& s) {
            s.EnableCatchAll = 0;
            s.MaxRcpts = 20;
            s.MaxMailSize = -1;
            s.EmailFilterEnable = 0;
            s.IPBlockEnable = 0;
            if (c.settings) c.settings(s);
        });
        const std::size_t before = Inbox("alice").size();
        const RunResult r = Swaks(c.args);
        for (const auto& line : c.expected) EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
        EXPECT_EQ(Inbox("alice").size(), before + (c.delivered ? 1 : 0));
    }
    EXPECT_EQ(Inbox("admin").size(), 1u);  // the catch-all case
    EXPECT_FALSE(SmtpFolderHasTempFiles());
}

// Raw bytes: a client that ends lines in ways the servers after us might
// read differently must not get a second transaction through.
TEST_F(SmtpEndToEnd, SmugglingStaysInsideOneMessage) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(listener.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string dialogue =
        "HELO raw\r\nMAIL FROM:<x@remote.org>\r\nRCPT TO:<alice@example.test>\r\nDATA\r\n"
        "Subject: one\r\n\r\nA\n.\nMAIL FROM:<x@remote.org>\r\nRCPT TO:<admin@example.test>\r\nDATA\r\n"
        "B\r\n.\nC\n.\r\nD\r\n.\r\nQUIT\r\n";
    ASSERT_EQ(::send(fd, dialogue.data(), dialogue.size(), MSG_NOSIGNAL), static_cast<ssize_t>(dialogue.size()));
    std::string replies;
    char block[4096];
    for (ssize_t n; (n = ::recv(fd, block, sizeof block, 0)) > 0;) replies.append(block, static_cast<std::size_t>(n));
    ::close(fd);
    EXPECT_EQ(replies.substr(replies.find("\r\n") + 2),
              "250 welcome here\r\n250 OK\r\n250 OK\r\n354 send the mail data, end with . \r\n250 \r\n"
              "221 SMTP SERVICE CLOSED\r\n");
    const auto inbox = Inbox("alice");
    ASSERT_EQ(inbox.size(), 1u);
    EXPECT_EQ(inbox[0],
              "Subject: one\r\n\r\nA\r\n..\r\nMAIL FROM:<x@remote.org>\r\nRCPT TO:<admin@example.test>\r\nDATA\r\n"
              "B\r\n..\r\nC\r\n..\r\nD\r\n");
    EXPECT_TRUE(Inbox("admin").empty());
}

TEST_F(SmtpEndToEnd, GroupsAndAutoReplies) {
    // A group that lists itself and alice twice; alice answers automatically.
    const std::string team = JoinPath(folder.path(), "mail", "team");
    MakeFolders(team);
    ProfileFile(JoinPath(team, "maillist.ini")).Edit([](IniDocument& doc) {
        return doc.Set("System", "IsGroup", "1") && doc.Set("EmailGroup", "Count", "3") &&
               doc.Set("EmailGroup", "Member1", "team") && doc.Set("EmailGroup", "Member2", "alice") &&
               doc.Set("EmailGroup", "Member3", "Alice@example.test");
    });
    ProfileFile(JoinPath(folder.path(), "mail", "alice", "EmailAutoReply.ini")).Edit([](IniDocument& doc) {
        return doc.Set("EmailAutoReply", "Enable", "1") && doc.Set("EmailAutoReply", "Subject", "Away") &&
               doc.Set("EmailAutoReply", "Body", "Back on Monday.");
    });
    Accounts().Load();
    const RunResult group = Swaks("--from bob@remote.org --to team@example.test");
    EXPECT_NE(group.output.find("<-  250 "), std::string::npos) << group.output;
    EXPECT_EQ(Inbox("alice").size(), 1u);
    const RunResult direct = Swaks("--from bob@remote.org --to alice@example.test");
    EXPECT_NE(direct.output.find("<-  250 "), std::string::npos) << direct.output;
    ASSERT_EQ(Inbox("alice").size(), 2u);
    // The direct message was answered, from alice, with an empty envelope
    // sender; the group's copy was not (the recipient was the group).
    EXPECT_EQ(ReadProfileString(queue.RecordPath(1), "Info", "DestAddr"), "bob@remote.org");
    EXPECT_EQ(ReadProfileString(queue.RecordPath(1), "Info", "ReplyAddr"), "");
    EXPECT_NE(Slurp(queue.MessagePath(1)).find("alice@example.test"), std::string::npos);
    EXPECT_FALSE(FileExists(queue.RecordPath(2)));
    // A bounce (empty sender) gets no answer.
    const RunResult bounce = Swaks("--from '<>' --to alice@example.test");
    EXPECT_NE(bounce.output.find("MAIL FROM:<>"), std::string::npos) << bounce.output;
    EXPECT_EQ(Inbox("alice").size(), 3u);
    EXPECT_FALSE(FileExists(queue.RecordPath(2)));
    EXPECT_FALSE(SmtpFolderHasTempFiles());
}

// A "user#host" login hands the whole session to the SMTP server on host,
// which then answers the credentials itself.
TEST_F(SmtpEndToEnd, MailProxyHandsTheSessionOver) {
    UpdateSettings([](CServerSettings& s) { s.MailProxy = 1; });
    std::vector<std::string> heard;
    testing::LoopbackPeer upstream([&](int fd) {
        testing::LoopbackPeer::Send(fd, "220 upstream ready\r\n");
        const std::vector<std::string> answers = {"250-upstream\r\n250 AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n",
                                                  "334 UGFzc3dvcmQ6\r\n", "235 upstream welcomes joe\r\n",
                                                  "221 upstream bye\r\n"};
        std::string line;
        for (const auto& answer : answers) {
            if (!testing::LoopbackPeer::ReadLine(fd, line)) return;
            heard.push_back(line);
            testing::LoopbackPeer::Send(fd, answer);
        }
    });
    limits.proxy_port = upstream.port();
    const RunResult r = Swaks("--quit-after AUTH --auth LOGIN --auth-user 'joe#127.0.0.1' --auth-password pw");
    upstream.Join();
    EXPECT_NE(r.output.find("<-  235 upstream welcomes joe"), std::string::npos) << r.output;
    ASSERT_EQ(heard.size(), 5u);
    EXPECT_EQ(heard[0].rfind("EHLO ", 0), 0u);
    EXPECT_EQ(heard[1], "AUTH LOGIN\r\n");
    EXPECT_EQ(heard[2], "am9l\r\n");  // joe
    EXPECT_EQ(heard[3], "cHc=\r\n");  // pw
    EXPECT_EQ(heard[4], "QUIT\r\n");
}

// A recipient over its quota refuses the message for all: wherever it
// stands among the recipients, nobody gets a copy, so the sender's bounce or
// retry neither loses nor duplicates one.
TEST_F(SmtpEndToEnd, FullMailboxRefusesTheMessageForEveryRecipient) {
    AddAccount("bob", "pw");
    AddAccount("carol", "pw");
    ProfileFile(JoinPath(folder.path(), "mail", "carol", "maillist.ini")).Edit([](IniDocument& doc) {
        return doc.Set("System", "Max", "0") && doc.Set("System", "Volume", "0");
    });
    Accounts().Load();
    for (const std::string to : {"carol;alice", "alice;carol", "carol;alice;bob", "alice;carol;bob",
                                 "alice;bob;carol"}) {
        SCOPED_TRACE(to);
        std::string addresses;
        for (const auto& name : SplitList(to)) addresses += (addresses.empty() ? "" : ",") + name + "@example.test";
        const RunResult r = Swaks("--from x@remote.org --to " + addresses);
        EXPECT_NE(r.output.find("<** 552 carol@example.test mailbox full"), std::string::npos) << r.output;
        EXPECT_TRUE(Inbox("alice").empty());
        EXPECT_TRUE(Inbox("bob").empty());
    }
    // A store that fails after alice's (carol's index is damaged) takes
    // alice's copy back: the client's retry will not duplicate it.
    ProfileFile(JoinPath(folder.path(), "mail", "carol", "maillist.ini")).Edit([](IniDocument& doc) {
        return doc.Set("System", "Max", "1");
    });
    Accounts().Load();
    std::ofstream(JoinPath(folder.path(), "mail", "carol", std::string(kMailboxIndexFile))) << "garbage";
    const RunResult r = Swaks("--from x@remote.org --to alice@example.test,carol@example.test");
    EXPECT_NE(r.output.find("<** 451 "), std::string::npos) << r.output;
    EXPECT_TRUE(Inbox("alice").empty());
    EXPECT_FALSE(SmtpFolderHasTempFiles());
}

TEST_F(SmtpEndToEnd, TwentyMegabyteMessage) {
    std::string text = "Subject: big\r\n\r\n";
    const std::string line = std::string(76, 'x') + "\r\n";
    while (text.size() < 20 * 1024 * 1024) text += line;
    Python("send " + port + " x@remote.org alice@example.test " + WriteFile("big.eml", text));
    const auto inbox = Inbox("alice");
    ASSERT_EQ(inbox.size(), 1u);
    EXPECT_TRUE(inbox[0] == text);
}

TEST_F(SmtpEndToEnd, FiftyParallelSendersStoreEveryMessageOnce) {
    const std::string out = Python("load " + port + " 50 2000 alice@example.test");
    EXPECT_NE(out.find("done 2000"), std::string::npos) << out;
    const auto inbox = Inbox("alice");
    ASSERT_EQ(inbox.size(), 2000u);
    std::set<std::string> subjects;
    for (const auto& m : inbox) subjects.insert(m.substr(0, m.find("\r\n")));
    EXPECT_EQ(subjects.size(), 2000u);
    EXPECT_FALSE(SmtpFolderHasTempFiles());
}

}  // namespace
}  // namespace quorvex::smtp
