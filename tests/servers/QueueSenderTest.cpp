// The outgoing queue with its sender threads against a real receiving
// server (aiosmtpd as relay on loopback): retries after the interval,
// non-delivery reports into a local mailbox, the undelivered folder, the
// delivery log, damaged records, and a delivery run killed half-way.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include "app/ServerSmtpServices.h"
#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/PasswordDigest.h"
#include "common/ProfileFile.h"
#include "common/RunFlag.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/store/MailStore.h"
#include "servers/outgoing/DomainDelivery.h"
#include "servers/queue/DeliveryLog.h"
#include "servers/queue/OutgoingQueue.h"
#include "servers/queue/QueueRecord.h"
#include "servers/queue/SenderThreads.h"
#include "servers/queue/UndeliveredFolder.h"
#include "tests/servers/support/SmtpPeer.h"
#include "tests/support/TempFolder.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using testing::ReadFileBytes;
using testing::SmtpPeer;
using testing::WaitUntil;

void ResetQueueState() {
    std::lock_guard guard(QueueLock());
    ScanRange() = {};
    Retries() = RetryRing{};
}

// Settings of a program folder whose outgoing mail all goes to a relay on
// loopback at `relay_port`.
void UseFolderWithRelay(const std::string& folder, int relay_port, int max_tries) {
    SetProgramFolder(folder);
    ProfileFile::ClearCache();
    UpdateSettings([&](CServerSettings& s) {
        s = CServerSettings{};
        s.SetProgramFolder(folder);
        s.LogFilePath = JoinPath(folder, "log");
        s.Dominame = "quorvex.test";
        s.DNS = "127.0.0.1";
        s.DNSSecondary = "127.0.0.1";
        s.MailRelayTo = 1;
        s.RelayServer = "127.0.0.1";
        s.RelayPort = relay_port;
        s.MaxTries = max_tries;
    });
}

outgoing::DomainDeliveryOptions LoopbackOptions() {
    auto options = outgoing::DeliveryOptionsFromSettings(Settings());
    options.fallback_dns_servers.clear();
    options.client.timeouts = {100, 100};
    return options;
}

std::string PythonEmailSummary(const std::string& path) {
    const std::string command =
        "/usr/bin/python3 -c \"import email,sys; from email import policy; "
        "m=email.message_from_binary_file(open(sys.argv[1],'rb'),policy=policy.default); "
        "print(m['From']); print(m['To']); print(m['Subject']); "
        "print([p.get_filename() for p in m.iter_attachments()]); "
        "print(m.get_body(('plain',)).get_content().replace(chr(13),'').replace(chr(10),' '))\" " +
        path;
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
        ::pclose(pipe);
    }
    return output;
}

class QueueSenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetQueueState();
        ServerRunFlag = 1;
    }
    void TearDown() override {
        EXPECT_TRUE(StopSenderThreads(10s));
        ServerRunFlag = 0;
        ResetQueueState();
        UpdateSettings([](CServerSettings& s) { s = CServerSettings{}; });
    }
    void AddAccount(const std::string& name) {
        const std::string dir = JoinPath(folder.path(), "mail", name);
        MakeFolders(dir);
        ProfileFile(JoinPath(dir, "maillist.ini")).Edit([&](IniDocument& doc) {
            return doc.Set("System", "Password", HashAccountPassword("pw")) && doc.Set("System", "Max", "1");
        });
    }
    std::string Message(const std::string& name, const std::string& subject) {
        const std::string path = folder.File(name);
        std::ofstream(path, std::ios::binary) << "From: a@quorvex.test\r\nSubject: " << subject << "\r\n\r\nbody\r\n";
        return path;
    }
    std::vector<std::string> Inbox(const std::string& account) {
        MailboxSnapshot snapshot;
        std::vector<std::string> files;
        if (!LoadMailboxIndexLocked(account, snapshot)) return files;
        const auto key = MailStoreKey(account);
        for (int i = 0; i < snapshot.Counts[0]; ++i) {
            std::string bytes = ReadFileBytes(*GetMailFilePath(account, snapshot.Records[i].FileNumber));
            for (char& c : bytes) c = static_cast<char>(c ^ key);
            const std::string plain = folder.File("inbox" + std::to_string(i) + ".eml");
            AtomicWriteFile(plain, bytes);
            files.push_back(plain);
        }
        return files;
    }

    testing::TempFolder folder;
    NullNoticeSink notices;  // outlives the sender threads, stopped in TearDown
};

TEST_F(QueueSenderTest, RetriesReportsAndParks) {
    SmtpPeer peer("127.0.0.1", 0, folder.File("peer"),
                  {"--reply", "later@remote.test=450", "--reply", "never@remote.test=550", "--reply",
                   "never2@remote.test=550"});
    ASSERT_TRUE(peer.started());
    UseFolderWithRelay(folder.path(), peer.port(), 2);
    MakeFolders(JoinPath(folder.path(), "mail"));
    AddAccount("alice");
    Accounts().Load();

    std::mutex mutex;
    std::map<std::string, std::vector<std::chrono::steady_clock::time_point>> attempts;
    SenderOptions options;
    options.thread_count = 4;
    options.retry_interval_ms = 300;
    options.deliver = [&](std::string_view recipient, std::string_view sender, const std::string& file,
                          std::string& outcome) {
        {
            std::lock_guard guard(mutex);
            attempts[std::string(recipient)].push_back(std::chrono::steady_clock::now());
        }
        return outgoing::DeliverToDomain(recipient, sender, file, outcome, LoopbackOptions());
    };
    options.notices = &notices;
    options.deliver_locally = [&](std::string_view recipient, const std::string& report) {
        return smtp::DeliverReportLocally(notices, recipient, report);
    };

    // A temporary refusal (450) is tried 5 times, then reported to the
    // local sender; a permanent one (550) "MaxTries" (2) times. A report
    // for an unknown local sender and mail without a sender are parked.
    ASSERT_GT(EnqueueOutgoingMail(Message("a", "later"), "later@remote.test", "alice@quorvex.test"), 0);
    ASSERT_GT(EnqueueOutgoingMail(Message("b", "never"), "never@remote.test", "ghost@quorvex.test"), 0);
    ASSERT_GT(EnqueueOutgoingMail(Message("c", "never2"), "never2@remote.test", ""), 0);
    ASSERT_GT(EnqueueOutgoingMail(Message("d", "ok"), "ok@remote.test", "alice@quorvex.test"), 0);
    StartSenderThreads(options);

    ASSERT_TRUE(WaitUntil([&] { return !HasQueuedMail() && ActiveDeliveryCount() == 0; }, 30s));
    ASSERT_TRUE(StopSenderThreads(10s));

    std::lock_guard guard(mutex);
    ASSERT_EQ(attempts["later@remote.test"].size(), 5u);
    const auto& later = attempts["later@remote.test"];
    for (std::size_t i = 1; i < later.size(); ++i) EXPECT_GE(later[i] - later[i - 1], 300ms) << i;
    EXPECT_EQ(attempts["never@remote.test"].size(), 2u);
    EXPECT_EQ(attempts["never2@remote.test"].size(), 2u);
    EXPECT_EQ(attempts["ok@remote.test"].size(), 1u);
    ASSERT_EQ(peer.Messages().size(), 1u);
    EXPECT_NE(ReadFileBytes(peer.Messages()[0]).find("Subject: ok"), std::string::npos);

    // The report in alice's mailbox, as Python's email package reads it.
    const auto inbox = Inbox("alice");
    ASSERT_EQ(inbox.size(), 1u);
    const std::string summary = PythonEmailSummary(inbox[0]);
    EXPECT_NE(summary.find("MAILER-DAEMON@quorvex.test\nalice@quorvex.test\nUndelivered mail\n['original_email.eml']"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("When you sent mail to  later@remote.test, the server said:  450 refused"),
              std::string::npos)
        << summary;

    // Two parked items: the report for the unknown sender, and the
    // sender-less message itself (no report for it).
    std::map<std::string, std::string> parked;  // recipient -> parked message
    for (int n : {100, 101}) {
        const auto record = ReadQueueRecord(UndeliveredRecordPath(n));
        ASSERT_TRUE(record) << n;
        parked[RecordValue(*record, "DestAddr")] =
            ReadFileBytes(JoinPath(UndeliveredFolder(), RecordValue(*record, "MailFile")));
        EXPECT_EQ(RecordValue(*record, "Times"), "2");
        EXPECT_EQ(RecordValue(*record, "LastResponse").rfind("550 refused", 0), 0u);
    }
    EXPECT_NE(parked["never@remote.test"].find("Undelivered mail"), std::string::npos);
    EXPECT_NE(parked["never2@remote.test"].find("Subject: never2"), std::string::npos);
    EXPECT_FALSE(FileExists(UndeliveredRecordPath(102)));

    // The delivery log: one success, three failures, nothing for retries.
    const std::string log = ReadFileBytes(DeliveryLogPath(JoinPath(folder.path(), "log"), std::time(nullptr)));
    EXPECT_EQ(ReadProfileInt(DeliveryLogPath(JoinPath(folder.path(), "log"), std::time(nullptr)), "System", "MsgCount", 0), 4);
    EXPECT_NE(log.find("LastResponse=SUCCESS"), std::string::npos);

    // A parked message sent again is a new item with its tries at zero.
    ASSERT_TRUE(ResendUndelivered(101));
    EXPECT_FALSE(FileExists(UndeliveredRecordPath(101)));
    EXPECT_TRUE(HasQueuedMail());
    ASSERT_TRUE(DeleteUndelivered(100));
    EXPECT_FALSE(FileExists(UndeliveredRecordPath(100)));
}

TEST_F(QueueSenderTest, DamagedRecordIsMovedAsideAndSendingGoesOn) {
    SmtpPeer peer("127.0.0.1", 0, folder.File("peer"));
    ASSERT_TRUE(peer.started());
    UseFolderWithRelay(folder.path(), peer.port(), 2);
    MakeFolders(QueueFolder());
    // Record 1 names a message file that is not there; record 2 has no
    // recipient; record 3 is cancelled (no MailFile) and stays untouched.
    ASSERT_TRUE(AtomicWriteFile(QueueRecordPath(1), "[Info]\r\nDestAddr=x@remote.test\r\nMailFile=mail1.dat\r\nTimes=0\r\n"));
    ASSERT_TRUE(AtomicWriteFile(QueueRecordPath(2), "[Info]\r\nMailFile=mail2.dat\r\nTimes=0\r\n"));
    ASSERT_TRUE(AtomicWriteFile(JoinPath(QueueFolder(), "mail2.dat"), "x"));
    ASSERT_TRUE(AtomicWriteFile(QueueRecordPath(3), "[Info]\r\nDestAddr=y@remote.test\r\nTimes=0\r\n"));
    ProfileFile(JoinPath(QueueFolder(), "index.ini")).WriteString("Max", "internet_send", "3");
    ASSERT_EQ(EnqueueOutgoingMail(Message("m", "fine"), "fine@remote.test", "a@quorvex.test"), 4);

    SenderOptions options;
    options.thread_count = 2;
    options.deliver = [](std::string_view r, std::string_view s, const std::string& f, std::string& o) {
        return outgoing::DeliverToDomain(r, s, f, o, LoopbackOptions());
    };
    options.notices = &notices;
    StartSenderThreads(options);
    ASSERT_TRUE(WaitUntil([&] { return peer.Messages().size() == 1 && !HasQueuedMail(); }, 20s));
    EXPECT_TRUE(FileExists(JoinPath(QueueFolder(), "damaged", "1.ini")));
    EXPECT_TRUE(FileExists(JoinPath(QueueFolder(), "damaged", "2.ini")));
    EXPECT_TRUE(FileExists(JoinPath(QueueFolder(), "damaged", "mail2.dat")));
    EXPECT_TRUE(FileExists(QueueRecordPath(3)));
    EXPECT_FALSE(FileExists(QueueRecordPath(4)));
}

TEST(QueueRecords, RetryRecordReplacesItsOriginalAtStartUp) {
    testing::TempFolder folder;
    SetProgramFolder(folder.path());
    ResetQueueState();
    const std::string message = folder.File("m");
    std::ofstream(message, std::ios::binary) << "Subject: x\r\n\r\nx\r\n";
    ASSERT_EQ(EnqueueOutgoingMail(message, "a@remote.test", "s@quorvex.test"), 1);
    const std::string first = QueueRecordPath(1);
    // A crash after the retry record was written, before the old one went.
    ASSERT_EQ(EnqueueOutgoingMail(JoinPath(QueueFolder(), "mail1.dat"), "", "", &first, 1), 2);
    ASSERT_EQ(EnqueueOutgoingMail(message, "b@remote.test", "s@quorvex.test"), 3);
    ResetQueueState();
    RebuildQueueScanRange();
    EXPECT_FALSE(FileExists(first));
    EXPECT_FALSE(FileExists(JoinPath(QueueFolder(), "mail1.dat")));
    const auto retry = ReadQueueRecord(QueueRecordPath(2));
    ASSERT_TRUE(retry);
    EXPECT_EQ(RecordValue(*retry, "DestAddr"), "a@remote.test");
    EXPECT_EQ(RecordValue(*retry, "MailFile"), "mail2.dat");
    EXPECT_EQ(ScanRange().low, 2);
    EXPECT_EQ(ScanRange().high, 3);
    ResetQueueState();
}

TEST(DeliveryLogFile, AppendsCountsAndWrapsAtTheBound) {
    testing::TempFolder folder;
    const std::time_t now = std::time(nullptr);
    const std::string path = DeliveryLogPath(folder.path(), now);
    DeliveryLogRecord record{"2026/01/01 00:00:00", "d@remote.test", "r@quorvex.test", "/q/mail1.dat", 1, "x"};
    bool written = false;
    for (int i = 1; i <= 3; ++i) {
        record.last_response = "line " + std::to_string(i) + "\r\nsecond";
        EXPECT_FALSE(WriteDeliveryLog(folder.path(), 3, record, now, now, &written));
        EXPECT_TRUE(written);
    }
    EXPECT_EQ(ReadProfileInt(path, "System", "MsgCount", 0), 3);
    EXPECT_EQ(ReadProfileString(path, "2", "LastResponse"), "line 2\\r\\nsecond");
    // The bound reached: numbering starts again and overwrites section 1.
    record.last_response = "SUCCESS";
    EXPECT_TRUE(WriteDeliveryLog(folder.path(), 3, record, now, now, &written));
    ProfileFile::ClearCache();
    EXPECT_EQ(ReadProfileInt(path, "System", "MsgCount", 0), 1);
    EXPECT_EQ(ReadProfileString(path, "1", "LastResponse"), "SUCCESS");
    EXPECT_EQ(ReadProfileString(path, "3", "LastResponse"), "line 3\\r\\nsecond");
    const auto doc = ReadQueueRecord(path);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->SectionNames().size(), 4u);
    EXPECT_EQ(doc->KeyNames("1"),
              (std::vector<std::string>{"BeginTime", "DestAddr", "ReplyAddr", "MailFile", "EndTime", "Times", "LastResponse"}));
}

// The delivery run of the crash test, in a process of its own: started by
// the test below with the folder and relay port in its environment.
TEST(QueueCrashDriver, Run) {
    const char* home = std::getenv("QUORVEX_QUEUE_DRIVER_HOME");
    const char* port = std::getenv("QUORVEX_QUEUE_DRIVER_PORT");
    if (home == nullptr || port == nullptr) GTEST_SKIP() << "only run by QueueCrashTest";
    UseFolderWithRelay(home, std::atoi(port), 20);
    ServerRunFlag = 1;
    SenderOptions options;
    options.thread_count = 4;
    // An attempt cut off by the kill counts as a try: it is retried.
    options.retry_interval_ms = 200;
    options.deliver = [](std::string_view r, std::string_view s, const std::string& f, std::string& o) {
        auto delivery = LoopbackOptions();
        delivery.client.timeouts = {100, 600};
        return outgoing::DeliverToDomain(r, s, f, o, delivery);
    };
    NullNoticeSink notices;
    options.notices = &notices;
    StartSenderThreads(options);
    EXPECT_TRUE(WaitUntil([] { return !HasQueuedMail() && ActiveDeliveryCount() == 0; }, 60s));
    StopSenderThreads(10s);
    ServerRunFlag = 0;
}

class DriverProcess {
public:
    DriverProcess(const std::string& home, int port) {
        std::vector<std::string> env_text{"QUORVEX_QUEUE_DRIVER_HOME=" + home,
                                          "QUORVEX_QUEUE_DRIVER_PORT=" + std::to_string(port)};
        std::vector<char*> env;
        for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
        for (auto& e : env_text) env.push_back(e.data());
        env.push_back(nullptr);
        std::string exe = "/proc/self/exe";
        std::string filter = "--gtest_filter=QueueCrashDriver.Run";
        char* argv[] = {exe.data(), filter.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, env.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~DriverProcess() { Kill(); }
    bool started() const { return pid_ > 0; }
    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // The exit status once the process ended within the limit, else -1.
    int Wait(std::chrono::milliseconds limit) {
        int status = 0;
        if (pid_ <= 0) return -1;
        if (!WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit)) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
};

// Queue records naming a message file.
int QueuedRecords() {
    int count = 0;
    for (int id = 1; id < 100; ++id) {
        const auto record = ReadQueueRecord(QueueRecordPath(id));
        count += record && !RecordValue(*record, "MailFile").empty();
    }
    return count;
}

TEST(QueueCrashTest, KilledDeliveryRunDeliversEveryMessageExactlyOnce) {
    testing::TempFolder folder;
    const std::string release = folder.File("release");
    SmtpPeer peer("127.0.0.1", 0, folder.File("peer"), {"--hold", "hold", "--release", release});
    ASSERT_TRUE(peer.started());
    SetProgramFolder(folder.path());
    ResetQueueState();
    const std::string message = folder.File("m");
    std::set<std::string> recipients;
    for (int i = 0; i < 12; ++i) {
        const std::string recipient = (i % 4 == 0 ? "hold" : "user") + std::to_string(i) + "@remote.test";
        std::ofstream(message, std::ios::binary | std::ios::trunc) << "Subject: " << recipient << "\r\n\r\nbody\r\n";
        ASSERT_GT(EnqueueOutgoingMail(message, recipient, "s@quorvex.test"), 0);
        recipients.insert(recipient);
    }
    ResetQueueState();
    {
        // First run: the held messages reach the server, which keeps its
        // answer back; the run is killed meanwhile.
        DriverProcess driver(folder.path(), peer.port());
        ASSERT_TRUE(driver.started());
        // Killed once only the held messages are in flight (the others
        // are accepted and their records gone).
        ASSERT_TRUE(WaitUntil([&] { return peer.HeldCount() == 3 && peer.Messages().size() == 9 && QueuedRecords() == 3; },
                              30s))
            << peer.HeldCount() << " " << peer.Messages().size();
        driver.Kill();
    }
    std::ofstream(release) << "go";
    EXPECT_TRUE(HasQueuedMail());
    {
        DriverProcess driver(folder.path(), peer.port());
        ASSERT_TRUE(driver.started());
        EXPECT_EQ(driver.Wait(60s), 0);
    }
    EXPECT_FALSE(HasQueuedMail());
    std::multiset<std::string> received;
    for (const std::string& path : peer.Messages()) {
        const std::string bytes = ReadFileBytes(path);
        received.insert(bytes.substr(9, bytes.find("\r\n") - 9));
    }
    EXPECT_EQ(received, std::multiset<std::string>(recipients.begin(), recipients.end()));
}

}  // namespace
}  // namespace quorvex
