// The domain table: its operations in both modes, clamping on load, and
// what a save leaves in config.ini, QuorvexCOM.ini and the published
// settings.
#include <gtest/gtest.h>

#include <fstream>

#include "common/AtomicFile.h"
#include "common/DomainTable.h"
#include "common/IniDocument.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "support/TempFolder.h"
#include "tests/support/ScopedProcessState.h"

namespace quorvex {
namespace {

using testing::TempFolder;

class DomainTableTest : public ::testing::Test {
protected:
    quorvex::testing::ScopedProcessState process_state_;  // restored last
    void SetUp() override {
        ProfileFile::ClearCache();
        Publish("");
    }

    // Publishes a record of this folder loaded from `config`.
    void Publish(const std::string& config) {
        std::ofstream(temp_.File("config.ini"), std::ios::binary) << config;
        auto settings = std::make_shared<CServerSettings>();
        settings->SetProgramFolder(temp_.path());
        settings->Load();
        settings->LogFilePath = temp_.File("log");
        PublishSettings(settings);
    }
    IniDocument Read(const std::string& name) {
        std::string text;
        ReadWholeFile(temp_.File(name), text);
        return IniDocument::Parse(text);
    }
    static DomainRecord Named(const std::string& name) {
        DomainRecord record;
        record.Name = name;
        return record;
    }

    TempFolder temp_;
};

TEST_F(DomainTableTest, SingleDomainModeHoldsExactlyOneRecord) {
    Publish("[System]\r\nDomainNameType=0\r\nDominame=Main.Test\r\nDefaultVolume=50\r\n"
            "[DomainName]\r\nDomainMaxAccount=10\r\n");
    DomainTable table;
    table.Load(DomainTable::kModeFromSettings);
    ASSERT_EQ(table.GetCount(), 1);
    EXPECT_EQ(table.records()[0].Name, "Main.Test");
    EXPECT_EQ(table.records()[0].MaxAccounts, 10);
    EXPECT_EQ(table.records()[0].MaxSpace, -1);
    EXPECT_EQ(table.records()[0].MailboxDefaultSize, 50);
    EXPECT_EQ(table.Add(Named("other.test")), 0);
    EXPECT_EQ(table.Delete(0), 0);
    EXPECT_EQ(table.GetCount(), 1);

    DomainRecord renamed = Named("renamed.test");
    renamed.MaxSpace = 500;
    ASSERT_EQ(table.Set(0, renamed), 1);
    ASSERT_EQ(table.Save(), 1);
    const IniDocument config = Read("config.ini");
    EXPECT_EQ(config.Find("System", "Dominame"), "renamed.test");
    EXPECT_EQ(config.Find("DomainName", "DomainMaxSpace"), "500");
    EXPECT_EQ(Read("QuorvexCOM.ini").Find("system", "Dominame"), "renamed.test");
    EXPECT_EQ(Settings()->Dominame, "renamed.test");
    EXPECT_EQ(Settings()->Domains.records()[0].MaxSpace, 500);
}

TEST_F(DomainTableTest, LoadClampsTheCount) {
    const struct {
        const char* count;
        int loaded;
    } cases[] = {{"600", 500}, {"-3", 0}, {"2", 2}};
    for (const auto& c : cases) {
        std::string config = "[DomainName]\r\nCount=" + std::string(c.count) + "\r\n";
        for (int i = 1; i <= 600; ++i) config += "DN" + std::to_string(i) + "=d" + std::to_string(i) + ".test\r\n";
        Publish(config);
        DomainTable table;
        table.Load(DomainTable::kMultiDomain);
        EXPECT_EQ(table.GetCount(), c.loaded) << c.count;
    }
}

TEST_F(DomainTableTest, MultiDomainOperations) {
    Publish("[System]\r\nDomainNameType=1\r\nDefaultVolume=30\r\n"
            "[DomainName]\r\nCount=3\r\nDN1=a.test\r\nDN2=B.Test\r\nDNAccount2=5\r\nDN3=c.test\r\n");
    DomainTable table;
    table.Load(DomainTable::kModeFromSettings);
    ASSERT_EQ(table.GetCount(), 3);
    EXPECT_EQ(table.records()[0].MailboxDefaultSize, 30);
    EXPECT_EQ(table.Find("b.TEST"), 1);
    EXPECT_EQ(table.Find("d.test"), -1);
    DomainRecord out;
    EXPECT_EQ(table.Get(3, out), 0);
    EXPECT_EQ(table.Set(-1, out), 0);
    ASSERT_EQ(table.Get(1, out), 1);
    EXPECT_EQ(out.MaxAccounts, 5);

    ASSERT_EQ(table.Delete(0), 1);
    EXPECT_EQ(table.Find("b.test"), 0);
    EXPECT_EQ(table.Find("c.test"), 1);
    EXPECT_EQ(table.Delete(2), 0);

    // Names are cut at 256 characters when read.
    Publish("[DomainName]\r\nCount=1\r\nDN1=" + std::string(300, 'x') + "\r\n");
    DomainTable cut;
    cut.Load(DomainTable::kMultiDomain);
    ASSERT_EQ(cut.GetCount(), 1);
    EXPECT_EQ(cut.records()[0].Name, std::string(256, 'x'));
}

TEST_F(DomainTableTest, ShrinkingKeepsHigherKeysUnread) {
    std::string config = "[System]\r\nDomainNameType=1\r\n[DomainName]\r\nCount=5\r\n";
    for (int i = 1; i <= 5; ++i) config += "DN" + std::to_string(i) + "=d" + std::to_string(i) + ".test\r\n";
    Publish(config);
    DomainTable table;
    table.Load(DomainTable::kModeFromSettings);
    table.Delete(4);
    table.Delete(3);
    ASSERT_EQ(table.Save(), 1);
    const IniDocument saved = Read("config.ini");
    EXPECT_EQ(saved.Find("DomainName", "Count"), "3");
    EXPECT_EQ(saved.Find("DomainName", "DN5"), "d5.test");
    EXPECT_EQ(saved.Find("DomainName", "DNAccount3"), "-1");
    EXPECT_EQ(Settings()->Domains.GetCount(), 3);
    EXPECT_EQ(Settings()->Domains.Find("d4.test"), -1);
}

TEST_F(DomainTableTest, RefusesAFiveHundredAndFirstDomain) {
    Publish("[System]\r\nDomainNameType=1\r\n");
    DomainTable table;
    table.Load(DomainTable::kModeFromSettings);
    for (int i = 0; i < kMaxDomains; ++i) ASSERT_EQ(table.Add(Named("d" + std::to_string(i))), 1);
    EXPECT_EQ(table.Add(Named("one.more")), 0);
    EXPECT_EQ(table.GetCount(), kMaxDomains);
}

}  // namespace
}  // namespace quorvex
