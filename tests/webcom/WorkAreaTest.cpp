// The POP3 class's work area: user and work folder names, the URLs of
// message files, and which files Download may hand out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "common/FileSteps.h"
#include "common/Paths.h"
#include "support/TempFolder.h"
#include "webcom/pop3/FileDownload.h"
#include "webcom/pop3/MailDataUrl.h"
#include "webcom/pop3/WorkFolders.h"

namespace quorvex::webcom::pop3 {
namespace {

using namespace std::string_literals;
using testing::TempFolder;
namespace fs = std::filesystem;

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
}

TEST(WorkFolders, UserFolderNamesOnlyFromValidAccountNames) {
    const struct {
        std::string text;
        std::optional<std::string> folder;
    } cases[] = {
        {"alice", "alice"},
        {"alice:192.0.2.7", "alice"},
        {"john.smith@example.test:10.0.0.1", "john.smith@example.test"},
        {"john-smith@example.test", "john-smith@example.test"},
        {"a/b", std::nullopt},
        {"..", std::nullopt},
        {"..:1.2.3.4", std::nullopt},
        {"", std::nullopt},
        {":1.2.3.4", std::nullopt},
        {"bob\r\nx", std::nullopt},
        {"a\\b", std::nullopt},
        {"a\0b"s, std::nullopt},
        {std::string(77, 'n'), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(UserFolderName(c.text), c.folder) << c.text;
}

TEST(WorkFolders, LogoutAndCreateUserPathActOnlyOnTheAccountLoggedIn) {
    using A = UserFolderAction;
    const struct {
        std::string text;
        std::string logged_in;
        UserFolderAction action;
    } cases[] = {
        {"alice", "alice", A::kOwn},
        {"ALICE:192.0.2.7", "alice", A::kOwn},
        {"alice:" + std::string(4090, '1'), "alice", A::kOwn},  // 4,096 characters
        {"alice:" + std::string(4091, '1'), "alice", A::kIgnore},
        {"alice", "", A::kNotLoggedIn},
        {"bob", "alice", A::kOtherAccount},
        {"alice2", "alice", A::kOtherAccount},
        {"..", "alice", A::kIllegalAccount},
    };
    for (const auto& c : cases) EXPECT_EQ(DecideUserFolderCall(c.text, c.logged_in), c.action) << c.text.substr(0, 20);
}

TEST(WorkFolders, ResetLeavesOneUnguessableWorkFolderAndLoginFindsIt) {
    TempFolder root;
    const std::string first = ResetUserFolder(root.path(), "alice");
    EXPECT_EQ(Entries(root.File("alice")), std::vector{fs::path(first).filename().string()});
    const std::string second = ResetUserFolder(root.path(), "alice");
    const auto entries = Entries(root.File("alice"));
    ASSERT_EQ(entries, std::vector{fs::path(second).filename().string()});
    EXPECT_NE(first, second);
    EXPECT_TRUE(IsWorkFolderName(entries[0])) << entries[0];
    EXPECT_EQ(ChooseWorkFolder(root.path(), "alice"), second);
    EXPECT_EQ(fs::status(root.File("alice")).permissions() & fs::perms::others_write, fs::perms::none);

    std::set<std::string> names;
    for (int i = 0; i < 100; ++i) names.insert(NewWorkFolderName());
    EXPECT_EQ(names.size(), 100u);
}

TEST(WorkFolders, WithoutAWorkFolderLoginMakesOneAndNeverWritesIntoTheUserFolder) {
    TempFolder root, elsewhere;
    fs::create_directories(root.File("bob/1"));  // message folders of a guessable name
    fs::create_directories(root.File("bob/_2"));
    fs::create_directories(root.File("bob/0123456789ABCDEF0123456789ABCDEF"));
    fs::create_directory_symlink(elsewhere.path(), root.File("bob/0123456789abcdef0123456789abcdef"));
    std::ofstream(root.File("bob/fedcba9876543210fedcba9876543210"));
    const std::string made = ChooseWorkFolder(root.path(), "bob");
    EXPECT_EQ(fs::path(made).parent_path(), root.File("bob"));
    EXPECT_TRUE(IsWorkFolderName(fs::path(made).filename().string())) << made;
    EXPECT_TRUE(fs::is_directory(made));
    EXPECT_EQ(ChooseWorkFolder(root.path(), "bob"), made);
    std::ofstream(elsewhere.File("keep"));
    fs::create_directory_symlink(elsewhere.path(), root.File("eve"));
    DeleteUserFolder(root.path(), "bob");  // links go as links
    DeleteUserFolder(root.path(), "eve");
    EXPECT_FALSE(fs::exists(root.File("bob")));
    EXPECT_TRUE(fs::exists(elsewhere.File("keep")));
}

TEST(WorkFolders, OnlyTheOwnersWorkFolderIsTakenOrDeleted) {
    // The owner file's text (none without one; with `link` a link to a file of that text).
    const struct {
        const char* account;
        std::optional<std::string> owner;
        bool own, link = false;
    } cases[] = {
        {"john-doe", "John-Doe", true},
        {"john-doe", "john.doe", false},
        {"john-doe", std::nullopt, false},     // the earlier name of john.doe's folder as well
        {"alice", std::nullopt, true},         // no other account had this name before
        {"john.doe-2", std::nullopt, true},    // a name no earlier folder had
        {"alice", "alice", false, true},
    };
    for (const auto& c : cases) {
        TempFolder root;
        const std::string work = root.File(std::string(c.account) + "/0123456789abcdef0123456789abcdef");
        fs::create_directories(work);
        if (c.owner) std::ofstream(c.link ? root.File("elsewhere") : JoinPath(work, kOwnerFileName)) << *c.owner;
        if (c.link) fs::create_symlink(root.File("elsewhere"), JoinPath(work, kOwnerFileName));
        EXPECT_EQ(ChooseWorkFolder(root.path(), c.account) == work, c.own) << c.account;
        DeleteUserFolder(root.path(), c.account);
        EXPECT_EQ(fs::exists(work), !c.own) << c.account;
    }
    TempFolder root;
    const std::string made = ResetUserFolder(root.path(), "mary-ann");
    EXPECT_EQ(ChooseWorkFolder(root.path(), "mary-ann"), made);
    const quorvex::fs::ScopedStepWatcher failing(
        [](quorvex::fs::Step step, std::string_view) { return step == quorvex::fs::Step::kRename ? EIO : 0; });
    EXPECT_FALSE(fs::exists(ResetUserFolder(root.path(), "carol")));  // no folder of no owner stays
}

TEST(WorkFolders, LogoutCleansTheFoldersOfEverySpellingOfTheAccount) {
    TempFolder root;
    ResetUserFolder(root.path(), "Alice");
    // As an earlier version named them, from the logins' spellings; ALICE's is not Alice's.
    for (const std::string owner : {"alice", "ALICE", "alice2"}) {
        fs::create_directories(root.File(owner + "/0123456789abcdef0123456789abcdef"));
        std::ofstream(root.File(owner + "/0123456789abcdef0123456789abcdef/.owner")) << (owner == "ALICE" ? "eve" : owner);
    }
    DeleteUserFolder(root.path(), "Alice");
    EXPECT_EQ(Entries(root.path()).size(), 2u);  // ALICE and alice2 are left
    EXPECT_TRUE(fs::exists(root.File("ALICE")) && fs::exists(root.File("alice2")));
}

TEST(MailDataUrl, RelativePathsAndEncodedUrls) {
    EXPECT_EQ(RelativeToRoot("/srv/maildata/alice/t/1/mail.eml", "/srv/maildata/"), "alice/t/1/mail.eml");
    EXPECT_EQ(RelativeToRoot("/elsewhere/x", "/srv/maildata/"), "/elsewhere/x");
    const struct {
        const char* relative;
        const char* url;
    } cases[] = {
        {"alice/t/1/mail.eml", "/maildata/alice/t/1/mail.eml"},
        {"a/t/1/50%off.pdf", "/maildata/a/t/1/50%25off.pdf"},
        {"a/t/1/my file#1?.txt", "/maildata/a/t/1/my%20file%231%3F.txt"},
        {"a/t/1/\"x'<y>.html", "/maildata/a/t/1/%22x%27%3Cy%3E.html"},
        {"a/t/1/\xe4.txt", "/maildata/a/t/1/%E4.txt"},
        {"", "/maildata/"},
    };
    for (const auto& c : cases) EXPECT_EQ(MailDataUrl(c.relative), c.url) << c.relative;
}

class Downloads : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(library.File("maildata/alice/t/1"));
        std::ofstream(library.File("maildata/alice/t/1/report.pdf"), std::ios::binary) << "PDF\0bytes"s;
        std::ofstream(library.File("config.ini")) << "[System]\r\nPassword=secret\r\n";
        std::ofstream(outside.File("secret.txt")) << "secret";
        fs::create_symlink(outside.File("secret.txt"), library.File("maildata/alice/t/1/link.txt"));
        fs::create_symlink(library.File("config.ini"), library.File("maildata/alice/t/1/config-link"));
    }
    std::optional<ServableFile> Open(std::string_view name) {
        return OpenServableFile(library.path(), name, library.File("maildata"));
    }

    TempFolder library, outside;
};

TEST_F(Downloads, OnlyRegularFilesInsideTheWorkRoot) {
    for (const char* name : {"/maildata/alice/t/1/report.pdf", "\\maildata\\alice\\t\\1\\report.pdf"}) {
        auto file = Open(name);
        ASSERT_TRUE(file) << name;
        EXPECT_EQ(file->name, "report.pdf");
    }
    const std::string refused[] = {
        "\\..\\config.ini", "/config.ini", "/maildata/../config.ini", "/maildata/alice/t/1/../../../../config.ini",
        "/maildata/alice/t/1/link.txt", "/maildata/alice/t/1/config-link", "/maildata/alice/t/1",
        "/maildata/alice/t/1/missing.pdf", "/maildata", "/maildata/alice/t/1/report.pdf\0.txt"s, "/../../etc/passwd",
    };
    for (const std::string& name : refused) EXPECT_FALSE(Open(name)) << name;
    EXPECT_FALSE(OpenServableFile(library.path(), "/maildata/alice/t/1/report.pdf", ""));
}

class RecordingResponse : public IResponse {
public:
    Status SetContentType(const std::string& type) override {
        content_type = type;
        return kOk;
    }
    Status AddHeader(const std::string& name, const std::string& value) override {
        headers.emplace_back(name, value);
        return refuse_header ? kFailed : kOk;
    }
    Status BinaryWrite(std::string_view data) override {
        writes.emplace_back(data);
        return kOk;
    }
    std::string content_type;
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::string> writes;
    bool refuse_header = false;
};

TEST_F(Downloads, FileGoesOutInBlocksAfterItsHeaders) {
    const std::string big(200000, 'z');
    std::ofstream(library.File("maildata/alice/t/1/big.bin"), std::ios::binary) << big;
    auto file = Open("/maildata/alice/t/1/big.bin");
    ASSERT_TRUE(file);
    RecordingResponse response;
    ASSERT_TRUE(SendFile(response, *file));
    EXPECT_EQ(response.content_type, "application/octet-stream");
    ASSERT_EQ(response.headers.size(), 1u);
    EXPECT_EQ(response.headers[0].first, "Content-Disposition");
    EXPECT_EQ(response.headers[0].second, "attachment; filename=\"big.bin\"");
    EXPECT_GT(response.writes.size(), 1u);
    std::string joined;
    for (const auto& w : response.writes) joined += w;
    EXPECT_EQ(joined, big);

    auto again = Open("/maildata/alice/t/1/report.pdf");
    RecordingResponse refusing;
    refusing.refuse_header = true;
    EXPECT_TRUE(SendFile(refusing, *again));
    EXPECT_TRUE(refusing.writes.empty());
    std::string bytes;
    auto third = Open("/maildata/alice/t/1/report.pdf");
    ASSERT_TRUE(ReadFile(*third, bytes));
    EXPECT_EQ(bytes, "PDF\0bytes"s);
}

TEST(FileDownload, DispositionCannotCarryAnotherHeader) {
    const struct {
        std::string name;
        const char* value;
    } cases[] = {
        {"report.pdf", "attachment; filename=\"report.pdf\""},
        {"a\"b\\c.txt", "attachment; filename=\"a\\\"b\\\\c.txt\""},
        {"x\r\nSet-Cookie: a=b.txt", "attachment; filename=\"xSet-Cookie: a=b.txt\""},
        {"t\tab\x7f.txt", "attachment; filename=\"tab.txt\""},
        {"caf\xc3\xa9.txt", "attachment; filename=\"caf\xc3\xa9.txt\"; filename*=UTF-8''caf%C3%A9.txt"},
        {"caf\xe9.txt", "attachment; filename=\"caf\xef\xbf\xbd.txt\"; filename*=UTF-8''caf%EF%BF%BD.txt"},  // no UTF-8
    };
    for (const auto& c : cases) EXPECT_EQ(AttachmentDisposition(c.name), c.value) << c.name;
}

}  // namespace
}  // namespace quorvex::webcom::pop3
