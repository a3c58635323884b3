// The logic of the mail tools on temporary program folders: the user
// report in its four formats, the transfer status lists and actions, the
// deleted-account folders and the administrator's send-mail job.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>

#include "app/ServerSmtpServices.h"
#include "common/Notices.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "gui/logic/DeletedAccounts.h"
#include "gui/logic/SendMailJob.h"
#include "gui/logic/TransferQueue.h"
#include "gui/logic/UserReport.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/provision/AccountProvision.h"
#include "mailmodel/store/MailStore.h"
#include "servers/address/QueueCounters.h"
#include "servers/queue/OutgoingQueue.h"
#include "support/TempFolder.h"

namespace quorvex::gui {
namespace {

using quorvex::testing::TempFolder;

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ProgramFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(home.path());
        MakeFolders(home.File("mail"));
        WriteBytes(home.File("config.ini"), "[System]\r\nDominame=example.test\r\n[Log]\r\nFilePath=" + home.File("log") + "\r\n");
        ProfileFile::ClearCache();
        ReloadSettings();
        ForgetQueueIdReservations();
        Accounts().Load();
    }
    void TearDown() override {
        PublishSettings(std::make_shared<CServerSettings>());
        ProfileFile::ClearCache();
        Accounts().Load();
    }
    bool CreateAccount(const std::string& name, int is_group = 0, int disabled = 0) {
        AccountRecord record;
        record.Password = "pw";
        record.IsGroup = is_group;
        record.Disabled = disabled;
        return SaveAccount(name, record, &notices);
    }
    TempFolder home;
    NullNoticeSink notices;
    OutgoingQueue mail_queue{home.path()};
};

// ---- the report -----------------------------------------------------------

ReportOptions AllColumns(ReportFormat format) {
    ReportOptions options;
    options.columns.fill(true);
    options.format = format;
    options.titles = {"Account", "User Name", "Used Space(K)", "Total Size(M)", "Mail Number", "Last Visit Time",
                      "E-mail hot linkage", "Description"};
    options.time_text = "2026/03/07 10:11:12";
    options.domain = "example.test";
    options.page_template = "<p>%s|%s|100%%</p><table>%s</table>";
    return options;
}

const std::vector<ReportRow> kHostileRows = {
    {"alice", "<b>=1", "1.5", "20", "3", "2026/03/07 10:11:12", "", "x, y"},
    {"bob", "Bob \"B\"", "0.0", "Unlimited", "0", "", "", "line1\r\nline2\tend"},
};

TEST_F(ProgramFolderTest, ReportFormatsQuoteAndEscapeWhatUsersTyped) {
    struct Case {
        ReportFormat format;
        std::string expected;
    };
    const Case cases[] = {
        {ReportFormat::kCsv,
         "alice,<b>=1,1.5,20,3,2026/03/07 10:11:12,<alice@example.test>,\"x, y\"\r\n"
         "bob,\"Bob \"\"B\"\"\",0.0,Unlimited,0,,<bob@example.test>,\"line1\r\nline2\tend\"\r\n"},
        {ReportFormat::kText,
         "alice\t<b>=1\t1.5\t20\t3\t2026/03/07 10:11:12\t<alice@example.test>\tx, y\r\n"
         "bob\tBob \"B\"\t0.0\tUnlimited\t0\t\t<bob@example.test>\tline1  line2 end\r\n"},
        {ReportFormat::kIni,
         "[User1]\r\nAccount=alice\r\nUser Name=<b>=1\r\nUsed Space(K)=1.5\r\nTotal Size(M)=20\r\nMail Number=3\r\n"
         "Last Visit Time=2026/03/07 10:11:12\r\nE-mail hot linkage=<alice@example.test>\r\nDescription=x, y\r\n"
         "[User2]\r\nAccount=bob\r\nUser Name=Bob \"B\"\r\nUsed Space(K)=0.0\r\nTotal Size(M)=Unlimited\r\n"
         "Mail Number=0\r\nLast Visit Time=\r\nE-mail hot linkage=<bob@example.test>\r\nDescription=line1  line2 end\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatReport(AllColumns(c.format), kHostileRows), c.expected);

    // Python's csv module reads the values back as they were, 8 per row.
    const std::string csv_file = home.File("report.csv");
    WriteBytes(csv_file, FormatReport(AllColumns(ReportFormat::kCsv), kHostileRows));
    const std::string check =
        "/usr/bin/python3 -c 'import csv,sys; rows=list(csv.reader(open(sys.argv[1], newline=\"\"))); "
        "assert [len(r) for r in rows]==[8,8], rows; assert rows[0][7]==\"x, y\", rows; "
        "assert rows[1][1]==\"Bob \\\"B\\\"\" and rows[1][7]==\"line1\\r\\nline2\\tend\", rows' " + csv_file;
    EXPECT_EQ(std::system(check.c_str()), 0) << check;

    const std::string page = FormatReport(AllColumns(ReportFormat::kHtml), kHostileRows);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_NE(page.find("<td>&lt;b&gt;=1</td>"), std::string::npos);
    EXPECT_NE(page.find("<td>Bob &quot;B&quot;</td>"), std::string::npos);
    EXPECT_NE(page.find("<td>&nbsp;</td>"), std::string::npos) << "the empty Last Visit of bob";
    EXPECT_NE(page.find("<td><a href=\"mailto:alice@example.test\">&lt;alice@example.test&gt; </a></td>"),
              std::string::npos);
    EXPECT_EQ(page.rfind("<p>iso-8859-1|2026/03/07 10:11:12|100%</p><table><tr>\n<td><font color=white>Account", 0), 0u);
}

TEST_F(ProgramFolderTest, ReportColumnsAndFreshFiles) {
    ReportOptions none = AllColumns(ReportFormat::kCsv);
    none.columns.fill(false);
    EXPECT_EQ(FormatReport(none, kHostileRows), "\r\n\r\n") << "one empty line per account";
    ReportOptions multi = AllColumns(ReportFormat::kText);
    multi.columns.fill(false);
    multi.columns[6] = true;
    multi.multi_domain = true;
    EXPECT_EQ(FormatReport(multi, {{"a@b.test"}}), "<a@b.test>\r\n");

    // An earlier, longer report leaves nothing behind.
    const std::string folder = home.File("report");
    std::vector<ReportRow> five(5, kHostileRows[0]);
    ASSERT_EQ(WriteReport(folder, AllColumns(ReportFormat::kIni), five), JoinPath(folder, "report.ini"));
    struct stat written {};
    ASSERT_EQ(::stat(JoinPath(folder, "report.ini").c_str(), &written), 0);
    EXPECT_EQ(written.st_mode & 0777, 0600u) << "owner-only";
    ASSERT_FALSE(WriteReport(folder, AllColumns(ReportFormat::kIni), {kHostileRows[0]}).empty());
    const std::string ini = ReadBytes(JoinPath(folder, "report.ini"));
    EXPECT_NE(ini.find("[User1]"), std::string::npos);
    EXPECT_EQ(ini.find("[User2]"), std::string::npos);
}

TEST(ReportFields, CsvField) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain", "plain"},         {"", ""},
        {"=SUM(A1)", "'=SUM(A1)"},  {"+1", "'+1"},
        {"-1", "'-1"},              {"@x", "'@x"},
        {" edge", "\" edge\""},     {"a\"b", "\"a\"\"b\""},
        {"=a,b", "\"'=a,b\""},
    };
    for (const auto& [value, field] : cases) EXPECT_EQ(CsvField(value), field) << value;
}

// ---- the transfer status --------------------------------------------------

TEST_F(ProgramFolderTest, TransferListsAndDeletesOnlyInsideTheQueue) {
    const std::string queue = home.File("smtp");
    MakeFolders(queue);
    WriteBytes(home.File("victim"), "keep me");
    WriteBytes(JoinPath(queue, "mail7.dat"), "message");
    WriteBytes(JoinPath(queue, "7.ini"),
               "[Info]\r\nDestAddr=x@remote.test\r\nReplyAddr=a@example.test\r\nMailFile=mail7.dat\r\nTimes=2\r\n"
               "BeginTime=2026-03-07 10:00:00\r\nLastResponse=451 busy\\r\\nsecond line\r\n");
    WriteBytes(JoinPath(queue, "8.ini"), "[Info]\r\nDestAddr=y@remote.test\r\nMailFile=../victim\r\n");
    WriteBytes(JoinPath(queue, "9.ini"), "[Info]\r\nDestAddr=z@remote.test\r\nMailFile=\r\n");  // nothing to send
    WriteBytes(JoinPath(queue, "10.ini"), "[Info]\r\nDestAddr=w@remote.test\r\nMailFile=.\r\n");
    WriteBytes(JoinPath(queue, "index.ini"), "[System]\r\nMailFile=counter\r\n");

    const std::vector<TransferRow> rows = ReadTransferRows(mail_queue, TransferMode::kInTransfer);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].number, 7);
    EXPECT_EQ(rows[0].from, "a@example.test");
    EXPECT_EQ(rows[0].to, "x@remote.test");
    EXPECT_EQ(rows[0].tries, "2");
    EXPECT_EQ(rows[0].last_response, "451 busy");
    EXPECT_EQ(rows[1].number, 8);
    EXPECT_EQ(rows[2].number, 10);

    EXPECT_EQ(DeleteTransferItems(mail_queue, TransferMode::kInTransfer, {7, 8, 10, 55}), 3);
    EXPECT_EQ(ReadBytes(home.File("victim")), "keep me");
    EXPECT_TRUE(std::filesystem::is_directory(queue)) << "MailFile \".\" names no file to delete";
    EXPECT_FALSE(FileExists(JoinPath(queue, "mail7.dat")));
    for (const char* gone : {"7.ini", "8.ini", "10.ini"}) EXPECT_FALSE(FileExists(JoinPath(queue, gone))) << gone;
    EXPECT_TRUE(ReadTransferRows(mail_queue, TransferMode::kInTransfer).empty());
}

TEST_F(ProgramFolderTest, ParkedMailIsQueuedAgainOrDeleted) {
    const std::string parked = home.File("undelivered");
    MakeFolders(parked);
    for (int n : {100, 101}) {
        WriteBytes(JoinPath(parked, "undelivered" + std::to_string(n) + ".dat"), "Subject: s\r\n\r\nbody\r\n");
        WriteBytes(JoinPath(parked, std::to_string(n) + ".ini"),
                   "[Info]\r\nDestAddr=p" + std::to_string(n) + "@remote.test\r\nReplyAddr=a@example.test\r\nMailFile=undelivered" +
                       std::to_string(n) + ".dat\r\nTimes=5\r\n");
    }
    WriteBytes(JoinPath(parked, "index.ini"), "[System]\r\nNextFileID=102\r\n");
    ASSERT_EQ(ReadTransferRows(mail_queue, TransferMode::kUndelivered).size(), 2u);

    EXPECT_TRUE(ResendParkedItems(mail_queue, {100}).empty());
    EXPECT_EQ(DeleteTransferItems(mail_queue, TransferMode::kUndelivered, {101}), 1);
    EXPECT_TRUE(ReadTransferRows(mail_queue, TransferMode::kUndelivered).empty());
    const std::vector<TransferRow> queued = ReadTransferRows(mail_queue, TransferMode::kInTransfer);
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].to, "p100@remote.test");
    EXPECT_EQ(queued[0].tries, "0") << "a new item";
    EXPECT_FALSE(FileExists(JoinPath(parked, "undelivered101.dat")));
}

// ---- deleted accounts -----------------------------------------------------

TEST_F(ProgramFolderTest, DeletedAccountsRestoreNeverReplaces) {
    const std::string mail = home.File("mail");
    ASSERT_TRUE(CreateAccount("bob"));
    for (const char* folder : {"_alice", "_bob", "_carol", "__x", "_bad name"}) MakeFolders(JoinPath(mail, folder));
    WriteBytes(JoinPath(mail, "_alice/maillist.ini"), "[System]\r\nUserName=Alice A\r\n");
    WriteBytes(JoinPath(mail, "_alice/1.eml"), "mail");
    MakeFolders(JoinPath(mail, "carol"));  // an empty folder, no account
    WriteBytes(JoinPath(mail, "_file"), "not a folder");
    ASSERT_EQ(::symlink(home.path().c_str(), JoinPath(mail, "_link").c_str()), 0);

    const std::vector<DeletedAccount> listed = ListDeletedAccounts();
    std::vector<std::string> names;
    for (const DeletedAccount& entry : listed) names.push_back(entry.folder);
    EXPECT_EQ(names, (std::vector<std::string>{"__x", "_alice", "_bad name", "_bob", "_carol"}));
    EXPECT_EQ(listed[1].user_name, "Alice A");

    const std::pair<const char*, RestoreResult> cases[] = {
        {"_alice", RestoreResult::kRestored},      {"_bob", RestoreResult::kNameTaken},
        {"_carol", RestoreResult::kNameTaken},     {"__x", RestoreResult::kInvalidName},
        {"_bad name", RestoreResult::kInvalidName}, {"_file", RestoreResult::kNotDeleted},
        {"_link", RestoreResult::kNotDeleted},     {"_../x", RestoreResult::kNotDeleted},
    };
    for (const auto& [folder, result] : cases) {
        EXPECT_EQ(RestoreDeletedAccount(folder, Settings()->Domains, Accounts()), result) << folder;
    }
    EXPECT_TRUE(Accounts().Exists("alice"));
    EXPECT_EQ(ReadBytes(JoinPath(mail, "alice/1.eml")), "mail");
    EXPECT_TRUE(std::filesystem::is_directory(JoinPath(mail, "_bob"))) << "left as it was";
    EXPECT_TRUE(std::filesystem::is_directory(JoinPath(mail, "_carol")));

    EXPECT_TRUE(RemoveDeletedAccount("_bob"));
    EXPECT_FALSE(std::filesystem::exists(JoinPath(mail, "_bob")));
    EXPECT_FALSE(RemoveDeletedAccount("_link"));
    EXPECT_FALSE(RemoveDeletedAccount("bob"));
    EXPECT_TRUE(FileExists(home.File("config.ini")));
    EXPECT_TRUE(Accounts().Exists("bob"));
}

// ---- sending mail ---------------------------------------------------------

TEST(SendMailRecipients, Parse) {
    struct Case {
        const char* text;
        bool single;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"alice;bob;", true, {"alice@example.test", "bob@example.test"}},
        {" alice ; ;x@other.test", true, {"alice@example.test", "x@other.test"}},
        {"alice@a.test;bob", false, {"alice@a.test", "bob"}},
        {";;", true, {}},
        {"", true, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseRecipients(c.text, c.single, "example.test"), c.expected) << c.text;
}

TEST_F(ProgramFolderTest, SendMailJobDeliversAndReportsRefusals) {
    ASSERT_TRUE(CreateAccount("alice"));
    ASSERT_TRUE(CreateAccount("bob"));
    ASSERT_TRUE(CreateAccount("team", 1));
    ASSERT_TRUE(CreateAccount("closed", 0, 1));
    smtp::ServerSmtpServices directory(notices, mail_queue);
    const int alice_before = GetMailboxMessageCount("alice");

    SendMailRequest request;
    request.program_folder = home.path();
    request.sender = "admin@example.test";
    request.subject = "hello";
    request.body = "text";
    request.recipients = ParseRecipients("alice;closed;", true, "example.test");
    request.to_header = "alice@example.test;closed@example.test;";
    std::atomic<int> done{0};
    SendMailResult result = SendMailJob(directory, Accounts(), request).Run(done);
    EXPECT_TRUE(result.compose_error.empty());
    EXPECT_EQ(result.delivered, 1);
    ASSERT_EQ(result.refused.size(), 1u);
    EXPECT_EQ(result.refused[0].address, "closed@example.test");
    EXPECT_FALSE(result.refused[0].reply.empty());
    EXPECT_EQ(GetMailboxMessageCount("alice"), alice_before + 1);

    // "All": every account that is not a group, straight into its inbox.
    request.all_accounts = true;
    SendMailJob all(directory, Accounts(), request);
    EXPECT_EQ(all.Total(), 3);
    done = 0;
    result = all.Run(done);
    EXPECT_EQ(result.delivered, 3);
    EXPECT_EQ(done.load(), 3);
    EXPECT_EQ(GetMailboxMessageCount("alice"), alice_before + 2);

    // An attachment that cannot be read stops the job before anything is sent.
    request.attachments = {home.File("missing.bin")};
    result = SendMailJob(directory, Accounts(), request).Run(done);
    EXPECT_EQ(result.compose_error, home.File("missing.bin"));
    EXPECT_EQ(GetMailboxMessageCount("alice"), alice_before + 2);
    // No composed file is left in the queue folder.
    EXPECT_TRUE(ReadTransferRows(mail_queue, TransferMode::kInTransfer).empty());
    for (const auto& entry : std::filesystem::directory_iterator(home.File("smtp"))) {
        EXPECT_EQ(entry.path().filename().string().rfind("tempMail", 0), std::string::npos) << entry.path();
    }
}

}  // namespace
}  // namespace quorvex::gui
