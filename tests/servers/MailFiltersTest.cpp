// Mail filter rules, their file, the database filter's parameters and
// verdicts, and the order in which the filters run.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/db/MailDatabase.h"
#include "servers/filters/EmailFilter.h"
#include "servers/filters/MailFilters.h"
#include "app/ServerFilterServices.h"
#include "support/TempFolder.h"
#include "tests/support/ScopedProcessState.h"

namespace quorvex {
namespace {

using testing::TempFolder;

class FakeFilterServices : public FilterServices {
public:
    CServerSettings settings;
    std::optional<FilterSummary> summary = FilterSummary{"Boss <boss@corp.example>", "Quarterly REPORT", "Mon, 7 Dec 2026",
                                                         "boss@corp.example", 1234, 0};
    std::optional<MessageLinks> links = MessageLinks{};
    std::optional<std::string> answer = std::string("inbox");
    std::vector<std::pair<int, std::string>> stored;  // folder, subject
    std::vector<DatabaseFilterParams> asked;
    std::vector<std::string> sms, syslog;
    std::string comment = "13800000000";
    bool sms_ok = true;

    std::shared_ptr<const CServerSettings> Settings() override { return std::make_shared<CServerSettings>(settings); }
    std::optional<FilterSummary> ReadSummary(const std::string&, std::string_view) override {
        ++summaries_read;
        return summary;
    }
    int summaries_read = 0;
    std::optional<MessageLinks> ReadLinks(const std::string&, std::size_t) override { return links; }
    void RecordInFolder(std::string_view, int folder, std::string_view uid, const FilterSummary& s) override {
        recorded.emplace_back(folder, std::string(uid) + " " + s.subject);
    }
    std::vector<std::pair<int, std::string>> recorded;  // folder, "uid subject"
    std::optional<std::string> RunProcedure(const DatabaseFilterParams& params) override {
        asked.push_back(params);
        return answer;
    }
    std::string AccountComment(std::string_view) override { return comment; }
    bool SendSms(std::string_view number, std::string_view text) override {
        sms.push_back(std::string(number) + " " + std::string(text));
        return sms_ok;
    }
    void WriteSystemLog(std::string_view text) override { syslog.emplace_back(text); }
};

class MailFiltersTest : public ::testing::Test {
protected:
    quorvex::testing::ScopedProcessState process_state_;  // restored last
    void SetUp() override {
        SetProgramFolder(folder.path());
        // The log folder of an earlier test's settings must not stay.
        UpdateSettings([&](CServerSettings& s) {
            s.SetProgramFolder(folder.path());
            s.LogFilePath.clear();
        });
        ProfileFile::ClearCache();
        MakeFolders(JoinPath(folder.path(), "mail", "alice"));
        MakeFolders(JoinPath(folder.path(), "mail", "system"));
        Accounts().Load();
        std::ofstream(file) << "Subject: x\r\n\r\nbody\r\n";
    }
    void Rules(const std::string& account, const std::vector<FilterRule>& rules) {
        std::filesystem::remove(JoinPath(folder.path(), "mail", account, "EmailFilter.ini"));
        ProfileFile::ClearCache();
        CEmailFilter filter;
        ASSERT_TRUE(filter.Load(account));
        for (const auto& r : rules) ASSERT_TRUE(filter.AddRule(r));
        ASSERT_TRUE(filter.Save());
    }
    // The decision, then what delivery does with it: the folder copy stored
    // as UID 9, and the steps after the commit.
    FilterOutcome Apply() {
        decision = DecideMailFilters(services, "alice", file);
        if (decision.folder) services.stored.emplace_back(*decision.folder, decision.summary.subject);
        CompleteMailFilters(services, "alice", decision, decision.folder ? "9" : "");
        return decision.outcome;
    }
    FilterDecision decision;
    TempFolder folder;
    std::string file = folder.File("m.dat");
    FakeFilterServices services;
};

FilterRule Rule(std::string subject, int subject_compare, std::string from, int deliver, int folder = 2) {
    FilterRule r;
    r.Subject = std::move(subject);
    r.SubjectCompare = static_cast<unsigned char>(subject_compare);
    r.From = std::move(from);
    r.EmailDeliver = static_cast<unsigned char>(deliver);
    r.FolderDeliverTo = static_cast<unsigned char>(folder);
    r.Enable = 1;
    return r;
}

TEST(FilterRule, MatchingTable) {
    struct Case {
        FilterRule rule;
        bool matches;
    };
    FilterRule disabled = Rule("report", 0, "", 1);
    disabled.Enable = 0;
    const std::vector<Case> cases = {
        {Rule("report", 0, "", 1), true},
        {Rule("report", 1, "", 1), false},        // subject test off, no test left
        {Rule("report", 0, "BOSS@", 1), true},    // both tests hold
        {Rule("report", 0, "intern@", 1), false}, // one of two fails
        {Rule("", 0, "corp.example", 0), true},
        {Rule("", 0, "", 0), false},
        {disabled, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule.Subject + "/" + c.rule.From);
        EXPECT_EQ(c.rule.Matches("Quarterly REPORT", "Boss <boss@corp.example>"), c.matches);
    }
}

TEST_F(MailFiltersTest, RuleFileRoundTripAndEditing) {
    Rules("alice", {Rule("a", 0, "", 0, 7), Rule("", 0, "b@x", 1)});
    CEmailFilter filter;
    ASSERT_TRUE(filter.Load("alice"));
    ASSERT_EQ(filter.GetCount(), 2);
    FilterRule r;
    ASSERT_TRUE(filter.GetRule(0, r));
    EXPECT_EQ(r.Subject, "a");
    EXPECT_EQ(r.FolderDeliverTo, 7);
    EXPECT_TRUE(filter.MoveRuleUp(0));
    EXPECT_TRUE(filter.MoveRuleDown(1));
    EXPECT_TRUE(filter.MoveRuleUp(1));
    ASSERT_TRUE(filter.GetRule(0, r));
    EXPECT_EQ(r.From, "b@x");
    EXPECT_FALSE(filter.GetRule(2, r));
    EXPECT_FALSE(filter.AddRule(Rule("", 0, "", 0)));
    EXPECT_TRUE(filter.DeleteRule(0));
    EXPECT_EQ(filter.GetCount(), 1);
    EXPECT_FALSE(filter.SetRule(1, r));
    r.Subject = "line\r\nbreak";
    ASSERT_TRUE(filter.SetRule(0, r));
    EXPECT_FALSE(filter.Save());  // never written with a line break
    // A file claiming 150 rules gives 100.
    ProfileFile ini(JoinPath(folder.path(), "mail", "alice", "EmailFilter.ini"));
    ini.Edit([](IniDocument& doc) {
        bool ok = doc.Set("EmailFilter", "Count", "150");
        for (int n = 1; n <= 150 && ok; ++n) ok = doc.Set("EmailFilter", "Subject" + std::to_string(n), "s");
        return ok;
    });
    ASSERT_TRUE(filter.Load("alice"));
    EXPECT_EQ(filter.GetCount(), 100);
}

TEST_F(MailFiltersTest, AccountRulesDropOrStore) {
    Rules("alice", {Rule("report", 0, "", 1)});
    EXPECT_EQ(Apply(), FilterOutcome::kTaken);
    EXPECT_TRUE(services.stored.empty());
    Rules("alice", {Rule("nothing", 0, "", 1), Rule("quarterly", 0, "", 0, 6)});
    EXPECT_EQ(Apply(), FilterOutcome::kTaken);
    EXPECT_EQ(services.stored, (std::vector<std::pair<int, std::string>>{{6, "Quarterly REPORT"}}));
    // The database record names the copy as stored.
    EXPECT_EQ(services.recorded, (std::vector<std::pair<int, std::string>>{{6, "9 Quarterly REPORT"}}));
}

TEST_F(MailFiltersTest, SystemRulesAndJunk) {
    Rules("system", {Rule("report", 0, "", 0, 5)});
    services.settings.EnableSystemFilter = 1;
    services.settings.EmailFilterSystem = "system";
    EXPECT_EQ(Apply(), FilterOutcome::kTaken);
    EXPECT_EQ(services.stored.back().first, 5);
    // Junk: anti-spam on, no system rules, a spam-flagged message.
    services.settings.EnableSystemFilter = 0;
    services.settings.AntiSpamEnable = 1;
    services.summary->flags = 1;
    EXPECT_EQ(Apply(), FilterOutcome::kTaken);
    EXPECT_EQ(services.stored.back(), (std::pair<int, std::string>{4, "[SPAM]Quarterly REPORT"}));
    services.summary->flags = 0;
    EXPECT_EQ(Apply(), FilterOutcome::kInbox);
}

// Delivery skips the filters (and keeps the message in memory) only where
// they would not have looked at the message anyway.
TEST_F(MailFiltersTest, FiltersMayTakeExactlyWhenTheyWouldReadTheMessage) {
    const struct {
        const char* what;
        std::function<void(CServerSettings&)> setup;
        bool may_take;
    } cases[] = {
        {"nothing set up", [](CServerSettings&) {}, false},
        {"account rules", [this](CServerSettings&) { Rules("alice", {Rule("x", 0, "", 1)}); }, true},
        {"empty rule file", [this](CServerSettings&) { Rules("alice", {}); }, false},
        {"system rules",
         [this](CServerSettings& s) {
             Rules("system", {Rule("x", 0, "", 1)});
             s.EnableSystemFilter = 1;
             s.EmailFilterSystem = "system";
         },
         true},
        {"system rules switched off",
         [this](CServerSettings& s) {
             Rules("system", {Rule("x", 0, "", 1)});
             s.EmailFilterSystem = "system";
         },
         false},
        {"system filter without rules",
         [](CServerSettings& s) {
             s.EnableSystemFilter = 1;
             s.EmailFilterSystem = "system";
         },
         false},
        {"junk folder", [](CServerSettings& s) { s.AntiSpamEnable = 1; }, true},
        {"database filter", [](CServerSettings& s) { s.ExecuteSP = 1; }, true},
        {"short message", [](CServerSettings& s) { s.ShortMessageEnable = 1; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rules("alice", {});
        Rules("system", {});
        services = FakeFilterServices();
        c.setup(services.settings);
        EXPECT_EQ(MailFiltersMayTake(services.settings, "alice"), c.may_take);
        Apply();
        EXPECT_EQ(services.summaries_read > 0, c.may_take);
    }
}

TEST_F(MailFiltersTest, DatabaseVerdicts) {
    services.settings.ExecuteSP = 1;
    struct Case {
        std::optional<std::string> answer;
        bool taken;
        int held;
    };
    const std::vector<Case> cases = {
        {"  InBox  ", false, 0}, {"DELETE now", true, 0}, {"maybe", true, 1}, {"", true, 1}, {std::nullopt, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.value_or("(error)"));
        services.stored.clear();
        services.answer = c.answer;
        EXPECT_EQ(Apply() == FilterOutcome::kTaken, c.taken);
        EXPECT_EQ(services.stored.size(), static_cast<std::size_t>(c.held));
        if (c.held) {
            EXPECT_EQ(services.stored[0].first, kHeldFolder);
        }
    }
    const DatabaseFilterParams& p = services.asked.back();
    EXPECT_EQ(p.From, "boss@corp.example");
    EXPECT_EQ(p.To, "alice@" + services.settings.Dominame);
    EXPECT_EQ(p.Size, 1234);
    // No date: dropped without asking; unreadable message: dropped.
    const std::size_t asked = services.asked.size();
    services.stored.clear();
    services.summary->date.clear();
    EXPECT_EQ(Apply(), FilterOutcome::kTaken);
    services.summary->date = "x";
    services.links.reset();
    EXPECT_EQ(Apply(), FilterOutcome::kTaken);
    EXPECT_EQ(services.asked.size(), asked);
    EXPECT_TRUE(services.stored.empty());
}

// A filter that files a message only decides: delivery stages the copy
// with the others and fails when it cannot be stored, and the database
// record waits for the commit.
TEST_F(MailFiltersTest, FolderCopiesAreDecidedNotStored) {
    struct Case {
        std::string name;
        std::function<void()> setup;
        int folder;
    };
    const std::vector<Case> cases = {
        {"account rule files the message", [&] { Rules("alice", {Rule("report", 0, "", 0, 6)}); }, 6},
        {"system junk folder",
         [&] {
             services.settings.AntiSpamEnable = 1;
             services.summary->flags = 1;
         },
         kJunkFolder},
        {"database holds the message", [&] { services.settings.ExecuteSP = 1; services.answer = "hold"; }, kHeldFolder},
        {"database error holds the message", [&] { services.settings.ExecuteSP = 1; services.answer.reset(); },
         kHeldFolder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rules("alice", {});
        services.settings = CServerSettings{};
        services.summary->flags = 0;
        services.answer = "inbox";
        c.setup();
        const FilterDecision d = DecideMailFilters(services, "alice", file);
        EXPECT_EQ(d.outcome, FilterOutcome::kTaken);
        EXPECT_EQ(d.folder, c.folder);
    }
    // A rule that drops the message still takes it: nothing to store.
    services.settings = CServerSettings{};
    Rules("alice", {Rule("report", 0, "", 1)});
    EXPECT_EQ(Apply(), FilterOutcome::kTaken);
    EXPECT_EQ(decision.folder, std::nullopt);
}

TEST(DatabaseFilter, LinkHostsAndAttachments) {
    std::string hosts;
    CollectLinkHosts("see http://a.example/x and http://b.example:80 and HTTP://c.example and http://a.example?q", hosts);
    CollectLinkHosts("<a href=\"http://d.example\">", hosts);
    EXPECT_EQ(hosts, "a.example|b.example|d.example|");
    std::string long_hosts;
    for (int i = 0; i < 200; ++i) CollectLinkHosts("http://host" + std::to_string(i) + ".example/", long_hosts);
    EXPECT_LT(long_hosts.size(), 999u);
    std::string names;
    for (int i = 0; i < 50; ++i) CollectAttachmentName("file" + std::to_string(i) + ".pdf", names);
    EXPECT_LT(names.size(), 254u);
    EXPECT_EQ(names.substr(0, 19), "file0.pdf|file1.pdf");
}

TEST_F(MailFiltersTest, ShortMessageWhenNothingTookTheMessage) {
    services.settings.ShortMessageEnable = 1;
    EXPECT_EQ(Apply(), FilterOutcome::kInbox);
    EXPECT_EQ(services.sms, (std::vector<std::string>{
                                "13800000000 [Email] Subject: Quarterly REPORT From: Boss <boss@corp.example>"}));
    EXPECT_EQ(services.syslog, (std::vector<std::string>{"[Email] Subject: Quarterly REPORT From: Boss <boss@corp.example>"}));
    services.sms_ok = false;
    EXPECT_EQ(Apply(), FilterOutcome::kInbox);
    EXPECT_EQ(services.syslog.size(), 1u);
}

// The database filter's statement on SQLite: a stored SELECT in the
// procedures table, run with the eight inputs bound in order.
TEST_F(MailFiltersTest, StoredStatementOnSqlite) {
    MakeFolders(JoinPath(folder.path(), "db"));
    ServerFilterServices services;
    DatabaseFilterParams params;
    params.From = "boss@spam.example";
    params.Size = 42;
    // No table yet: a database error, which holds the message and goes to
    // the main log.
    EXPECT_EQ(services.RunProcedure(params), std::nullopt);
    std::string log;
    ASSERT_TRUE(ReadWholeFile(JoinPath(folder.path(), "log", "quorvexlog.txt"), log));
    EXPECT_NE(log.find(" Error number: 0\t"), std::string::npos) << log;
    EXPECT_EQ(log.find("database filter"), std::string::npos) << log;
    {
        db::Connection connection;
        ASSERT_TRUE(OpenMailDatabase(connection, {}).ok());
        ASSERT_TRUE(connection.Execute("CREATE TABLE StoredProcedures (Name TEXT, Body TEXT)").ok());
        ASSERT_TRUE(connection
                        .Execute("INSERT INTO StoredProcedures (Name, Body) VALUES (?, ?)",
                                 {std::string("sp_QuorvexServer"),
                                  std::string("SELECT CASE WHEN ? LIKE '%@spam.example' THEN ' Delete ' ELSE 'inbox' "
                                              "END || substr(? || ? || ? || ? || ? || ? || ?, 1, 0)")})
                        .ok());
    }
    const auto answer = services.RunProcedure(params);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(InterpretProcedureAnswer(answer), DatabaseVerdict::kDrop);
    params.From = "friend@corp.example";
    EXPECT_EQ(InterpretProcedureAnswer(services.RunProcedure(params)), DatabaseVerdict::kInbox);
}

// A database made from the shipped schema has the filter's statement:
// with the database filter on, a message goes to the inbox instead of
// being held because the statement is missing.
TEST_F(MailFiltersTest, FreshDatabaseSendsMessagesToTheInbox) {
    const db::Status created = CreateMailDatabase(std::string(QUORVEX_SOURCE_DIR) + "/data/schema.sql", {});
    ASSERT_TRUE(created) << created.error;
    ServerFilterServices real;
    DatabaseFilterParams params;
    params.From = "boss@corp.example";
    params.To = "alice@example.test";
    params.Subject = "it's \"quoted\"";
    params.Size = 1234;
    params.Date = "Mon, 7 Dec 2026 10:00:00 +0000";
    const auto answer = real.RunProcedure(params);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(InterpretProcedureAnswer(answer), DatabaseVerdict::kInbox);
    // The whole filter run on the real services leaves the message for the
    // inbox.
    UpdateSettings([](CServerSettings& s) { s.ExecuteSP = 1; });
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        << "From: Boss <boss@corp.example>\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\nSubject: hi\r\n\r\nbody\r\n";
    const FilterDecision d = DecideMailFilters(real, "alice", file);
    EXPECT_EQ(d.outcome, FilterOutcome::kInbox);
    EXPECT_EQ(d.folder, std::nullopt);
}

}  // namespace
}  // namespace quorvex
