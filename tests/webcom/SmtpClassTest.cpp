// The SMTP class against a scripted SMTP peer on loopback: the exact
// command lines it sends, the message it composes, what it does with each
// reply, the LastResponse gate, the fields it refuses, and which files it
// makes and removes.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <mutex>
#include <thread>

#include "ComCall.h"
#include "WebcomTestEnvironment.h"
#include "common/AsciiCase.h"
#include "common/ProfileFile.h"
#include "common/net/PeerAddress.h"
#include "common/net/SocketIo.h"
#include "support/TempFolder.h"
#include "support/TestPorts.h"
#include "webcom/smtp/CSMTP.h"

namespace quorvex::webcom {
namespace {

using namespace std::string_literals;
using namespace testing;
using quorvex::testing::TempFolder;
namespace fs = std::filesystem;

// A stand-in SMTP server on a port of the test port allocator. It greets,
// records every command line and the message data, and answers each
// command with the reply its script names for the verb ("greeting",
// "HELO", "MAIL", "RCPT", "DATA", "." for the end of the data, "QUIT"),
// or else with the usual positive reply; kClose closes the connection
// instead of answering.
constexpr const char* kClose = "<close>";

class ScriptedSmtpPeer {
public:
    using Script = std::map<std::string, std::string>;
    explicit ScriptedSmtpPeer(Script script = {}) : script_(std::move(script)) {
        for (int attempt = 0; attempt < 5 && !listener_; ++attempt) {
            port_ = quorvex::testing::TakeTestPort();
            const auto address = PeerAddress::FromNumeric("127.0.0.1", port_);
            UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            const int on = 1;
            ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            if (address && ::bind(fd.get(), address->get(), address->length()) == 0 &&
                ::listen(fd.get(), 4) == 0)
                listener_ = std::move(fd);
        }
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedSmtpPeer() {
        stop_ = true;
        thread_.join();
    }

    int port() const { return port_; }
    int connections() const { return connections_; }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::string data() {
        std::lock_guard lock(mutex_);
        return data_;
    }
    // Waits until the dialogue in progress has ended.
    void WaitIdle() {
        for (int i = 0; i < 500 && busy_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

private:
    // The reply to send, or nothing to close the connection.
    std::optional<std::string> ReplyTo(const std::string& verb, const char* usual) {
        const auto found = script_.find(verb);
        const std::string reply = found != script_.end() ? found->second : usual;
        if (reply == kClose) return std::nullopt;
        return reply + "\r\n";
    }
    // Sends the reply; false when the dialogue ends here.
    bool Answer(int fd, const std::string& verb, const char* usual) {
        const auto reply = ReplyTo(verb, usual);
        return reply && SendBuffer(fd, *reply) && reply->starts_with(std::string_view(usual).substr(0, 3));
    }

    void Serve() {
        while (!stop_) {
            pollfd p{listener_.get(), POLLIN, 0};
            if (::poll(&p, 1, 50) != 1) continue;
            UniqueFd client(::accept(listener_.get(), nullptr, nullptr));
            if (!client) continue;
            busy_ = true;
            ++connections_;
            Talk(client.get());
            busy_ = false;
        }
    }

    void Talk(int fd) {
        constexpr SocketTimeouts kPeerTimeouts{100, 50};
        if (!Answer(fd, "greeting", "220 ESMTP test")) return;
        std::string line;
        while (HasLine(ReceiveLine(fd, line, 1 << 20, kPeerTimeouts))) {
            line.resize(line.size() - std::min<std::size_t>(line.size(), 2));
            {
                std::lock_guard lock(mutex_);
                lines_.push_back(line);
            }
            const std::string verb = line.substr(0, 4);
            if (!Answer(fd, verb, verb == "DATA" ? "354 go ahead" : verb == "QUIT" ? "221 bye" : "250 OK")) return;
            if (verb == "QUIT") return;
            if (verb != "DATA") continue;
            std::string data;
            std::string piece;
            while (!data.ends_with("\r\n.\r\n") && data != ".\r\n") {
                if (ReceiveWithTimeout(fd, piece, 1 << 16, ReceiveMode::kNormal, kPeerTimeouts) != IoStatus::kOk) return;
                data += piece;
            }
            {
                std::lock_guard lock(mutex_);
                data_ = data.substr(0, data.size() - 3);  // without the final ".\r\n"
            }
            if (!Answer(fd, ".", "250 OK")) return;
        }
    }

    std::map<std::string, std::string> script_;
    UniqueFd listener_;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> busy_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::string data_;
};

// The web server's request object over a byte string.
class BodyRequest final : public IRequest {
public:
    explicit BodyRequest(std::string body) : body_(std::move(body)) {}
    Status TotalBytes(std::int64_t& total) override {
        total = static_cast<std::int64_t>(body_.size());
        return kOk;
    }
    Status BinaryRead(void* buffer, std::int64_t& count) override {
        const std::size_t n = std::min(static_cast<std::size_t>(count), body_.size() - offset_);
        std::memcpy(buffer, body_.data() + offset_, n);
        offset_ += n;
        count = static_cast<std::int64_t>(n);
        return kOk;
    }
    QvxValue AsValue() {
        request_ = QvxRequest{this, &Total, &Read};
        return QvxValue{kValueRequest, 0, nullptr, 0, &request_};
    }

private:
    static int32_t Total(void* ctx, int64_t* total) { return static_cast<BodyRequest*>(ctx)->TotalBytes(*total); }
    static int32_t Read(void* ctx, void* buffer, int64_t* count) {
        return static_cast<BodyRequest*>(ctx)->BinaryRead(buffer, *count);
    }
    std::string body_;
    std::size_t offset_ = 0;
    QvxRequest request_{};
};

std::string FormBody(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& file_field,
                     const std::string& file_name, const std::string& content) {
    const std::string b = "--XyZ";
    std::string body;
    for (const auto& [name, value] : fields)
        body += b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    body += b + "\r\nContent-Disposition: form-data; name=\"" + file_field + "\"; filename=\"" + file_name +
            "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n";
    return body + b + "--\r\n";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The header block of a message, unfolded, one field per entry.
std::vector<std::string> HeaderFields(const std::string& message) {
    std::vector<std::string> fields;
    const std::string head = message.substr(0, message.find("\r\n\r\n") + 2);
    for (std::size_t at = 0; at < head.size();) {
        const std::size_t end = head.find("\r\n", at);
        const std::string line = head.substr(at, end - at);
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !fields.empty())
            fields.back() += line;
        else
            fields.push_back(line);
        at = end + 2;
    }
    return fields;
}

bool HasField(const std::string& message, std::string_view name) {
    for (const std::string& field : HeaderFields(message))
        if (field.size() > name.size() && field[name.size()] == ':' && StartsWithNoCase(field, name))
            return true;
    return false;
}

class SmtpClassTest : public ::testing::Test {
protected:
    void SetUp() override { Configure(peer_port_placeholder_); }
    void TearDown() override {
        fs::remove(ini());
        ProfileFile::ClearCache();
    }
    static std::string ini() { return JoinPath(quorvex::testing::WebcomLibraryFolder(), "QuorvexCOM.ini"); }
    // Points the component at `port` and at this test's work roots.
    void Configure(int port) {
        std::ofstream(ini(), std::ios::binary) << "[system]\r\nSMTPServerAddr=127.0.0.1\r\nWebWorkPath="
                                               << websmtp() << "\r\nPOP3WorkPath=" << maildata() << "\r\n[Port]\r\nSMTP="
                                               << port << "\r\n";
        ProfileFile::ClearCache();
    }
    std::string websmtp() const { return work.File("websmtp"); }
    std::string maildata() const { return work.File("maildata"); }

    static void Put(CSMTP& smtp, std::string_view name, std::string_view value) {
        ASSERT_EQ(Invoke(smtp, name, kPropertyPut, {Text(value)}).status, kOk) << name;
    }
    static std::string Get(CSMTP& smtp, std::string_view name) { return AsText(Invoke(smtp, name, kPropertyGet).value); }
    static Status Method(CSMTP& smtp, std::string_view name, std::vector<QvxValue> args = {}) {
        return Invoke(smtp, name, kMethod, std::move(args)).status;
    }
    // An object that has made its compose folder for bob.
    static void Start(CSMTP& smtp, std::string_view user = "bob:127.0.0.1") {
        Method(smtp, "CreateUserPath", {Text(user)});
        Put(smtp, "From", "bob@example.test");
        Put(smtp, "To", "ann@example.test");
    }

    TempFolder work;
    AccountLogins logins;
    int peer_port_placeholder_ = 1;
};

TEST_F(SmtpClassTest, CommandLinesAndTheComposedMessage) {
    ScriptedSmtpPeer peer(ScriptedSmtpPeer::Script{{".", "250 bob.example.test.quorvexserver.7"}});
    Configure(peer.port());
    CSMTP smtp{quorvex::testing::TestLibrary(), logins};
    ASSERT_EQ(Method(smtp, "CreateUserPath", {Text("bob:127.0.0.1")}), kOk);
    EXPECT_EQ(Get(smtp, "SMTPUserPath"), JoinPath(websmtp(), "bob"));
    ASSERT_EQ(Invoke(smtp, "SaveMessage", kPropertyPut, {Integer(1)}).status, kOk);
    Put(smtp, "From", "\"Bob B\" <bob@example.test>");
    Put(smtp, "To", "\"Smith; Ann\" <ann@example.test>,, carl@example.test");
    Put(smtp, "Cc", "'O,Brien' <obrien@example.test>;");
    Put(smtp, "Bcc", " hidden@example.test ");
    Put(smtp, "Subject", "Hello");
    Put(smtp, "Reply", "reply@example.test");
    const std::string body = "first\r\n.\r\nRCPT TO:<evil@example.test>\r\n..two\r\nQUIT\r\nlast";
    Put(smtp, "Body", body);
    ASSERT_EQ(Method(smtp, "SendMail"), kOk);
    EXPECT_EQ(Get(smtp, "LastResponse"), "+OK send mail successful");
    EXPECT_EQ(Get(smtp, "UID"), "bob.example.test.quorvexserver.7");
    peer.WaitIdle();
    EXPECT_EQ(peer.lines(), (std::vector<std::string>{"HELO bob:127.0.0.1:1:0", "MAIL FROM:<bob@example.test>",
                                                      "RCPT TO:<ann@example.test>", "RCPT TO:<carl@example.test>",
                                                      "RCPT TO:<obrien@example.test>", "RCPT TO:<hidden@example.test>",
                                                      "DATA", "QUIT"}));
    const std::string data = peer.data();
    EXPECT_EQ(Invoke(smtp, "Size", kPropertyGet).value.i4, static_cast<std::int32_t>(data.size()));
    // The stored form: every line that begins with a dot has it doubled, so
    // no body line ends the data early, and the data ends with the last line.
    EXPECT_NE(data.find("\r\n..\r\nRCPT TO:<evil@example.test>\r\n...two\r\nQUIT\r\nlast\r\n"), std::string::npos)
        << data;
    EXPECT_TRUE(data.ends_with("last\r\n"));
    const std::string message_id = Get(smtp, "MessageID");
    EXPECT_TRUE(message_id.starts_with("<") && message_id.ends_with(">")) << message_id;
    const auto fields = HeaderFields(data);
    EXPECT_NE(std::find(fields.begin(), fields.end(), "Message-ID: " + message_id), fields.end()) << data;
    EXPECT_NE(std::find(fields.begin(), fields.end(), "Reply-to: reply@example.test"), fields.end()) << data;
    EXPECT_NE(std::find(fields.begin(), fields.end(), "Subject: Hello"), fields.end()) << data;
    EXPECT_FALSE(HasField(data, "Bcc"));
    EXPECT_EQ(data.find("hidden"), std::string::npos);
    // The compose folder is gone once nothing is left in it.
    EXPECT_FALSE(fs::exists(JoinPath(websmtp(), "bob")));
}

TEST_F(SmtpClassTest, ReplyToAndFromFollowFromUid) {
    const struct {
        const char* from_uid;
        const char* reply;
        const char* from_field;          // expected header value
        std::optional<std::string> reply_to;  // expected header value, or none
    } cases[] = {
        {"", "", "bob@example.test", std::nullopt},
        {"", "r@example.test", "bob@example.test", "r@example.test"},
        {"alias@example.test", "", "alias@example.test", std::nullopt},
        {"alias@example.test", "r@example.test", "alias@example.test", "alias@example.test"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.from_uid) + "|" + c.reply);
        ScriptedSmtpPeer peer;
        Configure(peer.port());
        CSMTP smtp{quorvex::testing::TestLibrary(), logins};
        Start(smtp);
        Put(smtp, "FromUID", c.from_uid);
        Put(smtp, "Reply", c.reply);
        Method(smtp, "SendMail");
        ASSERT_EQ(Get(smtp, "LastResponse"), "+OK send mail successful");
        peer.WaitIdle();
        EXPECT_EQ(peer.lines()[1], "MAIL FROM:<bob@example.test>");  // the envelope keeps From
        const auto fields = HeaderFields(peer.data());
        EXPECT_NE(std::find(fields.begin(), fields.end(), "From: "s + c.from_field), fields.end()) << peer.data();
        if (c.reply_to)
            EXPECT_NE(std::find(fields.begin(), fields.end(), "Reply-to: " + *c.reply_to), fields.end()) << peer.data();
        else
            EXPECT_FALSE(HasField(peer.data(), "Reply-to"));
    }
}

TEST_F(SmtpClassTest, RepliesWithTheWrongCodeEndTheCall) {
    const struct {
        const char* verb;
        const char* reply;
        std::size_t lines_sent;
        bool accepted;
    } cases[] = {
        {"greeting", "554 go away", 0, false},
        {"HELO", "501 computer name is too long", 1, false},
        {"MAIL", "550 illegal connection", 2, false},
        {"RCPT", "550 no such user", 3, false},
        {"DATA", "554 no mail receiver", 4, false},
        {".", "552 bob@example.test mail size too big", 4, false},
        {"QUIT", "500 what", 5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.verb);
        ScriptedSmtpPeer peer(ScriptedSmtpPeer::Script{{c.verb, c.reply}});
        Configure(peer.port());
        CSMTP smtp{quorvex::testing::TestLibrary(), logins};
        Start(smtp);
        BodyRequest request(FormBody({}, "attach", "a.txt", "attached"));
        ASSERT_EQ(Method(smtp, "StartUpload", {request.AsValue()}), kOk);
        Method(smtp, "AddAttach", {Text("attach")});
        const std::string upload = Get(smtp, "Attachment").substr(0, Get(smtp, "Attachment").size() - 1);
        ASSERT_TRUE(fs::exists(upload));
        Method(smtp, "SendMail");
        EXPECT_EQ(Get(smtp, "LastResponse"), "-ERR "s + c.reply);
        peer.WaitIdle();
        EXPECT_EQ(peer.lines().size(), c.lines_sent);
        // The upload stays for another try unless the server took the message;
        // the message file goes in any case.
        EXPECT_EQ(fs::exists(upload), !c.accepted);
        std::size_t message_files = 0;
        for (const auto& entry : fs::directory_iterator(JoinPath(websmtp(), "bob")))
            message_files += entry.path().extension() == ".eml";
        EXPECT_EQ(message_files, 0u);
        // The gate: nothing more is sent.
        Method(smtp, "SendMail");
        peer.WaitIdle();
        EXPECT_EQ(peer.connections(), 1);
    }
}

TEST_F(SmtpClassTest, FinalReplyGivesTheUid) {
    for (const auto& [reply, uid] : {std::pair{"250 abc", "abc"}, {"250-abc", ""}, {"250 ", ""}, {"250", ""}}) {
        ScriptedSmtpPeer peer(ScriptedSmtpPeer::Script{{".", reply}});
        Configure(peer.port());
        CSMTP smtp{quorvex::testing::TestLibrary(), logins};
        Start(smtp);
        Method(smtp, "SendMail");
        EXPECT_EQ(Get(smtp, "LastResponse"), "+OK send mail successful") << reply;
        EXPECT_EQ(Get(smtp, "UID"), uid) << reply;
    }
}

TEST_F(SmtpClassTest, RefusedFieldsKeepTheirValueAndCloseTheGate) {
    ScriptedSmtpPeer peer;
    Configure(peer.port());
    const struct {
        const char* field;
        std::string value;
        const char* refusal;
    } cases[] = {
        {"To", std::string(4096, 't'), "-ERR to too long"},
        {"Cc", std::string(4096, 'c'), "-ERR cc too long"},
        {"Bcc", std::string(4096, 'b'), "-ERR bcc too long"},
        {"From", std::string(4096, 'f'), "-ERR from too long"},
        {"FromUID", std::string(4096, 'u'), "-ERR from too long"},
        {"Subject", std::string(4096, 's'), "-ERR subject too long"},
        {"ContentType", std::string(4096, 'y'), "-ERR ContentType too long"},
        {"Reply", std::string(4096, 'r'), "-ERR reply address is too long"},
        {"Attachment", std::string(4096, 'a'), "-ERR attachment too long"},
        {"Body", std::string(2097152, 'x'), "-ERR body too long"},
        {"To", "ann@example.test\r\nRCPT TO:<evil@example.test>", "-ERR the text holds a line break"},
        {"From", "bob@example.test\nX", "-ERR the text holds a line break"},
        {"Subject", "Hi\r\nBcc: evil@example.test", "-ERR the text holds a line break"},
        {"Reply", "r@example.test\rX-Evil: 1", "-ERR the text holds a line break"},
        {"ContentType", "text/html\r\nX-Evil: 1", "-ERR the text holds a line break"},
        {"Attachment", "a\nb;", "-ERR the text holds a line break"},
        {"Cc", "c@example.test\0x"s, "-ERR the text holds a NUL byte"},
        {"Body", "line\r\nline\0cut"s, "-ERR the text holds a NUL byte"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.value.substr(0, 30));
        CSMTP smtp{quorvex::testing::TestLibrary(), logins};
        Start(smtp);
        Put(smtp, c.field, c.value);
        EXPECT_EQ(Get(smtp, "LastResponse"), c.refusal);
        if (std::string_view(c.field) == "To") {
            EXPECT_EQ(Get(smtp, "To"), "ann@example.test");
        }
        Put(smtp, "To", "carl@example.test");  // a later valid value does not open the gate
        Method(smtp, "SendMail");
        EXPECT_EQ(Get(smtp, "LastResponse"), c.refusal);
    }
    // The longest values are taken; a body keeps its line breaks.
    CSMTP smtp{quorvex::testing::TestLibrary(), logins};
    Start(smtp);
    Put(smtp, "Subject", std::string(4095, 's'));
    Put(smtp, "Body", "a\r\nb\nc" + std::string(2097151 - 6, 'x'));
    EXPECT_EQ(Get(smtp, "LastResponse"), "+OK ");
    EXPECT_EQ(Get(smtp, "Body").size(), 2097151u);
    peer.WaitIdle();
    EXPECT_EQ(peer.connections(), 0);
}

TEST_F(SmtpClassTest, UserTextsThatNameNoAccountTouchNothing) {
    ScriptedSmtpPeer peer;
    Configure(peer.port());
    const struct {
        std::string user;
        const char* refusal;
    } cases[] = {
        {"..", "-ERR illegal account"},
        {"../x:127.0.0.1", "-ERR illegal account"},
        {"a/b", "-ERR illegal account"},
        {"", "-ERR illegal account"},
        {":127.0.0.1", "-ERR illegal account"},
        {std::string(77, 'n'), "-ERR illegal account"},
        {"bob:127.0.0.1\r\nMAIL FROM:<x@y>", "-ERR the text holds a line break"},
        {"bob\0x"s, "-ERR the text holds a NUL byte"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user);
        CSMTP smtp{quorvex::testing::TestLibrary(), logins};
        Method(smtp, "CreateUserPath", {Text(c.user)});
        EXPECT_EQ(Get(smtp, "LastResponse"), c.refusal);
        EXPECT_EQ(Get(smtp, "SMTPUserPath"), "");
        Put(smtp, "To", "ann@example.test");
        Method(smtp, "SendMail");
    }
    CSMTP no_user{quorvex::testing::TestLibrary(), logins};
    Put(no_user, "To", "ann@example.test");
    Method(no_user, "SendMail");
    EXPECT_EQ(Get(no_user, "LastResponse"), "-ERR illegal account");
    EXPECT_FALSE(fs::exists(websmtp()));
    EXPECT_FALSE(fs::exists(work.File("x")));
    peer.WaitIdle();
    EXPECT_EQ(peer.connections(), 0);
}

TEST_F(SmtpClassTest, AttachmentsOnlyFromTheAccountsWorkFolders) {
    const std::string work_folder = JoinPath(maildata(), "bob/0123");
    fs::create_directories(JoinPath(work_folder, "1"));
    const std::string fetched = JoinPath(work_folder, "1/report.pdf");
    std::ofstream(fetched) << "PDF";
    fs::create_symlink(JoinPath(work_folder, "1"), JoinPath(work_folder, "linked"));
    fs::create_symlink(fetched, JoinPath(work_folder, "1/link.pdf"));
    fs::create_directories(JoinPath(maildata(), "bob/0123x1"));  // a name the work folder's begins
    std::ofstream(JoinPath(maildata(), "bob/0123x1/report.pdf")) << "not fetched by bob";
    fs::create_directories(JoinPath(maildata(), "bob/4567/1"));
    std::ofstream(JoinPath(maildata(), "bob/4567/1/old.pdf")) << "old";
    fs::create_directories(JoinPath(maildata(), "carl/89ab/1"));
    std::ofstream(JoinPath(maildata(), "carl/89ab/1/carl.pdf")) << "carl's";
    logins.Record("carl", JoinPath(maildata(), "carl/89ab"));
    fs::create_directories(JoinPath(websmtp(), "eve/x/f"));
    const std::string others = JoinPath(websmtp(), "eve/x/f/secret.txt");
    std::ofstream(others) << "eve's";
    const std::string config = JoinPath(quorvex::testing::WebcomLibraryFolder(), "config.ini");
    std::ofstream(config) << "[System]\r\nPassword=x\r\n";
    fs::create_directories(JoinPath(websmtp(), "bob"));
    fs::create_symlink(config, JoinPath(websmtp(), "bob/link.ini"));

    ScriptedSmtpPeer peer;
    Configure(peer.port());
    const auto refused_with = [&](const std::string& attachment) {
        CSMTP smtp{quorvex::testing::TestLibrary(), logins};
        Start(smtp);
        Put(smtp, "Attachment", attachment + ";");
        Method(smtp, "SendMail");
        return Get(smtp, "LastResponse") == "-ERR attachment not allowed";
    };
    // Without a login of bob's in this process his fetched files are not his page's to send.
    EXPECT_TRUE(refused_with(fetched));
    logins.Record("Bob", work_folder);
    for (const std::string& refused :
         std::vector<std::string>{config, "/etc/passwd", others, JoinPath(websmtp(), "bob/link.ini"), JoinPath(websmtp(), "bob"),
          JoinPath(websmtp(), "bob/missing.pdf"), JoinPath(websmtp(), "bob/../eve/x/f/secret.txt"),
          JoinPath(maildata(), "bob/0123/../0123/1/report.pdf"), JoinPath(maildata(), "bob/0123/1/./report.pdf"),
          JoinPath(maildata(), "bob/0123//1/report.pdf"), JoinPath(work_folder, "linked/report.pdf"),
          JoinPath(work_folder, "1/link.pdf"), JoinPath(work_folder, "1"), JoinPath(maildata(), "bob/4567/1/old.pdf"),
          JoinPath(maildata(), "bob/0123x1/report.pdf"),
          JoinPath(maildata(), "carl/89ab/1/carl.pdf")}) {
        EXPECT_TRUE(refused_with(refused)) << refused;
    }
    EXPECT_EQ(peer.connections(), 0);
    EXPECT_TRUE(fs::exists(config) && fs::exists(others));

    // A file of the work folder of bob's login is attached and kept.
    CSMTP smtp{quorvex::testing::TestLibrary(), logins};
    Start(smtp);
    Put(smtp, "Attachment", fetched + ";;");
    Method(smtp, "SendMail");
    EXPECT_EQ(Get(smtp, "LastResponse"), "+OK send mail successful");
    peer.WaitIdle();
    EXPECT_NE(peer.data().find("filename=\"report.pdf\""), std::string::npos);
    EXPECT_NE(peer.data().find("UERG"), std::string::npos);  // "PDF" in Base64
    EXPECT_TRUE(fs::exists(fetched));
    // Once bob logged out, no longer.
    logins.Forget("BOB");
    EXPECT_TRUE(refused_with(fetched));
    fs::remove(config);
}

TEST_F(SmtpClassTest, UploadedFormFillsTheMessage) {
    ScriptedSmtpPeer peer;
    Configure(peer.port());
    CSMTP smtp{quorvex::testing::TestLibrary(), logins};
    Method(smtp, "CreateUserPath", {Text("bob:127.0.0.1")});
    const std::string attached = "bin\0ary\r\n."s + std::string(5000, 'L');
    BodyRequest request(FormBody({{"to", "ann@example.test"}, {"from", "bob@example.test"}, {"subject", "Form"},
                                  {"body", "Hello\r\nfrom the form"}, {"big", std::string(4096, 'x')}},
                                 "attach", "C:\\docs\\data.bin", attached));
    ASSERT_EQ(Method(smtp, "StartUpload", {request.AsValue()}), kOk);
    EXPECT_EQ(AsText(Invoke(smtp, "GetFieldValue", kPropertyGet, {Text("subject")}).value), "Form");
    for (const auto& [method, field] : {std::pair{"SetTo", "to"}, {"SetFrom", "from"}, {"SetSubject", "subject"},
                                        {"SetBody", "body"}})
        Method(smtp, method, {Text(field)});
    Method(smtp, "SetCc", {Text("no-such-field")});
    EXPECT_EQ(Get(smtp, "To"), "ann@example.test");
    EXPECT_EQ(Get(smtp, "Subject"), "Form");
    EXPECT_EQ(Get(smtp, "Body"), "Hello\r\nfrom the form");
    EXPECT_EQ(Get(smtp, "Cc"), "");
    Method(smtp, "AddAttach", {Text("attach")});
    Method(smtp, "AddAttach", {Text("subject")});  // a plain field has no file
    const std::string list = Get(smtp, "Attachment");
    EXPECT_TRUE(list.ends_with("/attach/data.bin;")) << list;
    EXPECT_EQ(ReadAll(list.substr(0, list.size() - 1)), attached);
    EXPECT_EQ(Get(smtp, "LastResponse"), "+OK ");
    Method(smtp, "SendMail");
    EXPECT_EQ(Get(smtp, "LastResponse"), "+OK send mail successful");
    peer.WaitIdle();
    EXPECT_NE(peer.data().find("filename=\"data.bin\""), std::string::npos);
    EXPECT_FALSE(fs::exists(JoinPath(websmtp(), "bob")));

    // A value over its field's limit is refused like a put.
    CSMTP limited{quorvex::testing::TestLibrary(), logins};
    Method(limited, "CreateUserPath", {Text("bob:127.0.0.1")});
    BodyRequest again(FormBody({{"big", std::string(4096, 'x')}}, "attach", "", ""));
    Method(limited, "StartUpload", {again.AsValue()});
    Method(limited, "AddAttach", {Text("attach")});  // no file was chosen
    EXPECT_EQ(Get(limited, "Attachment"), "");
    Method(limited, "SetSubject", {Text("big")});
    EXPECT_EQ(Get(limited, "LastResponse"), "-ERR subject too long");
}

TEST_F(SmtpClassTest, UploadsThatFailCloseTheGate) {
    ScriptedSmtpPeer peer;
    Configure(peer.port());
    CSMTP smtp{quorvex::testing::TestLibrary(), logins};
    Start(smtp);
    // Something that is not a request object: nothing to parse.
    EXPECT_EQ(Method(smtp, "StartUpload", {Text("not a request")}), kOk);
    EXPECT_EQ(Get(smtp, "LastResponse"), "+OK ");
    Invoke(smtp, "SetMaxFileSize", kMethod, {Integer(100)});
    BodyRequest request(FormBody({}, "attach", "a.bin", std::string(200, 'a')));
    EXPECT_EQ(Method(smtp, "StartUpload", {request.AsValue()}), kFalse);
    EXPECT_EQ(Get(smtp, "LastResponse"), "-ERR upload failed");
    Method(smtp, "SendMail");
    EXPECT_EQ(peer.connections(), 0);

    CSMTP no_folder{quorvex::testing::TestLibrary(), logins};
    BodyRequest form(FormBody({}, "attach", "a.bin", "a"));
    EXPECT_EQ(Method(no_folder, "StartUpload", {form.AsValue()}), kFalse);
}

TEST_F(SmtpClassTest, TwoPagesOfOneAccountKeepTheirOwnFiles) {
    ScriptedSmtpPeer peer;
    Configure(peer.port());
    CSMTP first{quorvex::testing::TestLibrary(), logins}, second{quorvex::testing::TestLibrary(), logins};
    Start(first);
    Start(second);
    BodyRequest one(FormBody({{"to", "1"}}, "attach", "one.txt", "first page"));
    BodyRequest two(FormBody({{"to", "2"}}, "attach", "two.txt", "second page"));
    ASSERT_EQ(Method(first, "StartUpload", {one.AsValue()}), kOk);
    ASSERT_EQ(Method(second, "StartUpload", {two.AsValue()}), kOk);
    Method(first, "AddAttach", {Text("attach")});
    Method(second, "AddAttach", {Text("attach")});
    EXPECT_EQ(AsText(Invoke(first, "GetFieldValue", kPropertyGet, {Text("to")}).value), "1");
    EXPECT_EQ(AsText(Invoke(second, "GetFieldValue", kPropertyGet, {Text("to")}).value), "2");

    Method(first, "SendMail");
    ASSERT_EQ(Get(first, "LastResponse"), "+OK send mail successful");
    peer.WaitIdle();
    EXPECT_NE(peer.data().find("one.txt"), std::string::npos);
    EXPECT_EQ(peer.data().find("two.txt"), std::string::npos);
    const std::string second_upload = Get(second, "Attachment");
    EXPECT_TRUE(fs::exists(second_upload.substr(0, second_upload.size() - 1)));

    Method(second, "SendMail");
    ASSERT_EQ(Get(second, "LastResponse"), "+OK send mail successful");
    peer.WaitIdle();
    EXPECT_NE(peer.data().find("two.txt"), std::string::npos);
    EXPECT_FALSE(fs::exists(JoinPath(websmtp(), "bob")));
}

TEST_F(SmtpClassTest, AFailedSendLeavesTheUploadsForTheNextTry) {
    CSMTP first{quorvex::testing::TestLibrary(), logins};
    {
        ScriptedSmtpPeer refusing(ScriptedSmtpPeer::Script{{"RCPT", "451 try later"}});
        Configure(refusing.port());
        Start(first);
        BodyRequest form(FormBody({}, "attach", "keep.txt", "kept"));
        Method(first, "StartUpload", {form.AsValue()});
        Method(first, "AddAttach", {Text("attach")});
        Method(first, "SendMail");
        ASSERT_EQ(Get(first, "LastResponse"), "-ERR 451 try later");
    }
    // A new object names the same upload and sends it; then it is gone.
    ScriptedSmtpPeer peer;
    Configure(peer.port());
    CSMTP retry{quorvex::testing::TestLibrary(), logins};
    Start(retry);
    const std::string list = Get(first, "Attachment");
    Put(retry, "Attachment", list);
    Method(retry, "SendMail");
    ASSERT_EQ(Get(retry, "LastResponse"), "+OK send mail successful");
    peer.WaitIdle();
    EXPECT_NE(peer.data().find("keep.txt"), std::string::npos);
    EXPECT_FALSE(fs::exists(list.substr(0, list.size() - 1)));
}

TEST_F(SmtpClassTest, ServersThatCannotBeReached) {
    const int unused_port = quorvex::testing::TakeTestPort();
    for (const int port : {unused_port, 70000}) {
        Configure(port);
        CSMTP smtp{quorvex::testing::TestLibrary(), logins};
        Start(smtp);
        Method(smtp, "SendMail");
        EXPECT_EQ(Get(smtp, "LastResponse"), "-ERR connect smtp server failed") << port;
    }
    // A server that closes after its greeting.
    ScriptedSmtpPeer closing(ScriptedSmtpPeer::Script{{"HELO", kClose}});
    Configure(closing.port());
    CSMTP smtp{quorvex::testing::TestLibrary(), logins};
    Start(smtp);
    Method(smtp, "SendMail");
    EXPECT_EQ(Get(smtp, "LastResponse"), "-ERR socket error");
}

}  // namespace
}  // namespace quorvex::webcom
