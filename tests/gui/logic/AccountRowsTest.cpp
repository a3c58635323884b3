// The account list's rows as data: the cells of an account, the domain
// filter of a refresh, the recipients of a selection and which messages
// "Clear mail" deletes.
#include <gtest/gtest.h>

#include "gui/logic/AccountRows.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex::gui {
namespace {

TEST(AccountRows, CellsOfAnAccount) {
    struct Case {
        int volume;
        int max;
        int disabled;
        std::int64_t bytes;
        std::string size, used, status;
    };
    const Case cases[] = {
        {50, 0, 0, 0, "50", "0.0", "Enable"},
        {50, 1, 0, 1536, "Unlimited", "1.5", "Enable"},  // Max wins over Volume
        {20, 0, 1, 5LL * 1024 * 1024 * 1024, "20", "5242880.0", "Disable"},  // past 4 GiB
    };
    for (const Case& c : cases) {
        AccountRecord record;
        record.Volume = c.volume;
        record.Max = c.max;
        record.Disabled = c.disabled;
        record.UserName = "Alice A";
        record.Comment = "desk 4";
        record.TimeStamp = "2026/03/07 10:11:12";
        const AccountRow row = BuildAccountRow("alice", record, c.bytes, 7, false, RowTexts{});
        EXPECT_EQ(row.cells, (std::vector<std::string>{"alice", "Alice A", c.used, c.size, "7", "2026/03/07 10:11:12",
                                                       c.status, "desk 4"}));
    }
}

TEST(AccountRows, DomainFilter) {
    struct Case {
        const char* name;
        int mode;
        std::optional<std::string> selected;
        bool shown;
    };
    const Case cases[] = {
        {"bob", 0, std::string("a.test"), true},        // one domain: no filter
        {"bob@a.test", 1, std::nullopt, true},          // no selection
        {"bob@a.test", 1, std::string("all domains"), true},
        {"bob@A.TEST", 1, std::string("a.test"), true},
        {"bob@b.test", 1, std::string("a.test"), false},
        {"bob", 1, std::string("a.test"), false},       // no "@" with a domain selected
        {"bob@x@a.test", 1, std::string("a.test"), false},  // the text after the first "@"
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PassesDomainFilter(c.name, c.mode, c.selected, "All Domains"), c.shown) << c.name;
    }
}

TEST(AccountRows, RecipientsOfASelection) {
    EXPECT_EQ(RecipientsFromSelection({"a", "b@x.test"}), "a;b@x.test;");
    EXPECT_EQ(RecipientsFromSelection({}), "");
}

TEST(AccountRows, ClearMailMarksTheTwoFoldersByTheirField) {
    MailboxSnapshot snapshot;
    // The header says one message in folder 0, but the records disagree:
    // the folder field decides, never the position.
    snapshot.Counts = {1, 0};
    auto record = [](int file, int folder, int position) {
        MailboxRecord r;
        r.FileNumber = file;
        r.Folder = static_cast<std::uint16_t>(folder);
        r.Position = position;
        return r;
    };
    snapshot.Records = {record(1, 0, 0), record(2, 1, 0), record(3, 0, 1), record(4, 2, 0), record(5, 0, -1)};
    EXPECT_EQ(MarkAllMessagesForDeletion(snapshot), 3);
    std::vector<int> changes;
    for (const MailboxRecord& r : snapshot.Records) changes.push_back(r.Changes);
    EXPECT_EQ(changes, (std::vector<int>{2, 2, 2, 0, 0}));
}

}  // namespace
}  // namespace quorvex::gui
