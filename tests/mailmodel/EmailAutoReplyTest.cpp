// Auto-reply settings on disk and the reply itself, including the rules
// that keep two auto-replying servers from answering each other forever.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "mailmodel/autoreply/EmailAutoReply.h"
#include "support/ScopedProcessState.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using testing::TempFolder;

class EmailAutoReplyTest : public ::testing::Test {
protected:
    testing::ScopedProcessState process_state_;  // restored last
    void SetUp() override {
        SetProgramFolder(folder.path());
        ProfileFile::ClearCache();
        MakeFolders(JoinPath(folder.path(), "mail", "alice"));
        UpdateSettings([&](CServerSettings& s) {
            s.SetProgramFolder(folder.path());
            s.Dominame = "example.test";
            s.DomainNameType = 0;
        });
        delivery.next_temp_number = [this] { return ++numbers; };
        delivery.deliver = [this](std::string_view recipient, const std::string& file) {
            std::string bytes;
            ReadWholeFile(file, bytes);
            sent.emplace_back(std::string(recipient), bytes);
            return true;
        };
        std::ofstream(original, std::ios::binary) << "Subject: question\r\nFrom: bob@remote.org\r\n\r\nhello\r\n";
    }
    void Enable(const std::string& subject, const std::string& body) {
        EmailAutoReply reply;
        ASSERT_TRUE(reply.Load("alice"));
        AutoReplySettings s;
        s.Enable = 1;
        s.Subject = subject;
        s.Body = body;
        reply.SetSettings(s);
        ASSERT_TRUE(reply.Save());
    }
    bool TempFilesLeft() const {
        const std::string smtp = JoinPath(folder.path(), "smtp");
        return FolderExists(smtp) && !std::filesystem::is_empty(smtp);
    }
    TempFolder folder;
    std::string original = folder.File("original.dat");
    AutoReplyDelivery delivery;
    int numbers = 0;
    std::vector<std::pair<std::string, std::string>> sent;
};

TEST_F(EmailAutoReplyTest, SettingsFileRoundTrip) {
    EXPECT_FALSE(EmailAutoReply().Load("../outside"));
    Enable(std::string(256, 's'), "line one\r\nline two");
    const std::string ini = JoinPath(folder.path(), "mail", "alice", "EmailAutoReply.ini");
    EXPECT_EQ(ReadProfileString(ini, "EmailAutoReply", "Body"), "line one\\r\\nline two");
    EXPECT_EQ(ReadProfileString(ini, "EmailAutoReply", "Enable"), "1");
    EmailAutoReply reply;
    ASSERT_TRUE(reply.Load("alice"));
    AutoReplySettings s;
    reply.GetSettings(s);
    EXPECT_EQ(s.Enable, 1);
    EXPECT_EQ(s.Subject, std::string(255, 's'));
    EXPECT_EQ(s.Body, "line one\r\nline two");
    // A lone line break would break the file: refused, nothing written.
    s.Subject = "bad\nsubject";
    reply.SetSettings(s);
    EXPECT_FALSE(reply.Save());
    EXPECT_EQ(ReadProfileString(ini, "EmailAutoReply", "Subject"), std::string(256, 's'));
}

TEST_F(EmailAutoReplyTest, RepliesOffSendNothing) {
    EXPECT_TRUE(EmailAutoReply().SendAutoReply("alice", "bob@remote.org", original, delivery));
    EXPECT_TRUE(sent.empty());
    EXPECT_FALSE(TempFilesLeft());
}

TEST_F(EmailAutoReplyTest, ReplyComesFromTheAccountToTheSender) {
    Enable("Away", "I am away.\r\nBack soon.");
    EXPECT_TRUE(EmailAutoReply().SendAutoReply("alice", "bob@remote.org", original, delivery));
    EXPECT_TRUE(EmailAutoReply().SendAutoReply("alice", "bob@remote.org", original, delivery));
    ASSERT_EQ(sent.size(), 2u);  // every message gets its own reply
    EXPECT_EQ(sent[0].first, "bob@remote.org");
    const std::string& bytes = sent[0].second;
    EXPECT_NE(bytes.find("alice@example.test"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("bob@remote.org"), std::string::npos);
    EXPECT_NE(bytes.find("Away"), std::string::npos);
    EXPECT_FALSE(TempFilesLeft());
}

TEST_F(EmailAutoReplyTest, NeverAnswersBouncesOrAutomaticMail) {
    Enable("Away", "x");
    EXPECT_FALSE(EmailAutoReply().SendAutoReply("alice", "", original, delivery));
    for (const std::string header : {"Auto-Submitted: auto-replied", "Precedence: bulk", "precedence:  List ",
                                     "PRECEDENCE: junk"}) {
        std::ofstream(original, std::ios::binary | std::ios::trunc) << "Subject: s\r\n" << header << "\r\n\r\nbody\r\n";
        EXPECT_TRUE(EmailAutoReply().SendAutoReply("alice", "bob@remote.org", original, delivery)) << header;
    }
    EXPECT_TRUE(sent.empty());
    std::ofstream(original, std::ios::binary | std::ios::trunc)
        << "Subject: s\r\nAuto-Submitted: no\r\n\r\nPrecedence: bulk\r\n";
    EXPECT_TRUE(EmailAutoReply().SendAutoReply("alice", "bob@remote.org", original, delivery));
    EXPECT_EQ(sent.size(), 1u);
}

}  // namespace
}  // namespace quorvex
