// Interface translation: lookups with escaped line breaks, empty and
// "_INVISIBLE_" values, limits, the window and menu walks, the shipped
// English file, and the error alert that depends on the translation.
#include <gtest/gtest.h>

#include <map>

#include "common/AtomicFile.h"
#include "common/BoundedString.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/Translation.h"
#include "support/ErrorLogCapture.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

class TranslationTest : public ::testing::Test {
protected:
    TranslationTest() : log_(temp_.path()) {
        log_.UpdateSettings([](CServerSettings& settings) { settings.Language = "Test"; });
        MakeFolders(temp_.File("Language"));
    }
    void WriteLanguage(const std::string& text, const std::string& name = "Test") {
        ASSERT_TRUE(AtomicWriteFile(JoinPath(temp_.File("Language"), name + ".ini"), text));
        ProfileFile::ClearCache();
    }

    testing::TempFolder temp_;
    testing::ErrorLogCapture log_;
};

TEST_F(TranslationTest, LanguageFilePath) {
    EXPECT_EQ(GetLanguageFilePath(), temp_.File("Language/Test.ini"));
    EXPECT_EQ(LanguageFilePath("/opt/q", "English"), "/opt/q/Language/English.ini");
    EXPECT_EQ(LanguageFilePath("/opt/q", "../../etc/x"), "");
    EXPECT_EQ(LanguageFilePath("/opt/q", std::string(300, 'x')), "");
    EXPECT_EQ(log_.Count(kBoundedOverflow), 1u);
}

TEST_F(TranslationTest, TranslateText) {
    WriteLanguage(
        "[String]\r\n"
        "OK=Bien\r\n"
        "First line\\r\\nSecond line=Erste\\r\\nZweite\r\n"
        "Empty=\r\n"
        "Hidden=_INVISIBLE_\r\n");
    struct Case {
        std::string text, want;
    } cases[] = {
        {"OK", "Bien"},
        {"ok", "Bien"},  // keys compare without regard to case, as profile keys do
        {"Cancel", "Cancel"},
        {"First line\r\nSecond line", "Erste\r\nZweite"},
        {"Empty", "Empty"},
        {"Hidden", "_INVISIBLE_"},  // only windows and menus act on the marker
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(TranslateText(c.text), c.want) << c.text;
}

TEST_F(TranslationTest, MissingFileAndLanguageChangeTakeEffectAtOnce) {
    EXPECT_EQ(TranslateText("OK"), "OK");  // no file yet
    WriteLanguage("[String]\r\nOK=Bien\r\n");
    EXPECT_EQ(TranslateText("OK"), "Bien");
    WriteLanguage("[String]\r\nOK=Gut\r\n", "Other");
    log_.UpdateSettings([](CServerSettings& settings) { settings.Language = "Other"; });
    EXPECT_EQ(TranslateText("OK"), "Gut");

    EXPECT_EQ(TranslateText("OK", temp_.File("Language/Test.ini")), "Bien");
    EXPECT_EQ(TranslateText("OK"), "Gut");
}

TEST_F(TranslationTest, LimitsOfTextsAndValues) {
    const std::string long_value(5000, 'v');
    WriteLanguage("[String]\r\nLong=" + long_value + "\r\n");
    EXPECT_EQ(TranslateText("Long"), std::string(kMaxTextLength, 'v'));

    // A given text is looked up with its first 4096 characters only.
    WriteLanguage("[String]\r\n" + std::string(4096, 'k') + "=found\r\n");
    EXPECT_EQ(TranslateText(std::string(5000, 'k')), "found");
    EXPECT_EQ(log_.Count(kBoundedOverflow), 1u);
}

TEST_F(TranslationTest, StringResources) {
    WriteLanguage("[String]\r\nFail to register COM component.=Registrierung fehlgeschlagen.\r\n");
    RegisterStringResource(32845, "Fail to register COM component.");
    RegisterStringResource(32846, std::string(5000, 'r'));
    EXPECT_EQ(LoadStringResource(32845), "Fail to register COM component.");
    EXPECT_EQ(TranslateStringResource(32845), "Registrierung fehlgeschlagen.");
    EXPECT_EQ(LoadTranslatedString(32845), "Registrierung fehlgeschlagen.");
    EXPECT_EQ(TranslateStringResource(32846).size(), kMaxTextLength);
    EXPECT_EQ(LoadTranslatedString(32846).size(), 5000u);
    EXPECT_EQ(TranslateStringResource(1), "");
}

TEST_F(TranslationTest, Charset) {
    EXPECT_EQ(LanguageCharset(), "iso-8859-1");
    WriteLanguage("[Info]\r\ncharset=gb2312\r\n");
    EXPECT_EQ(LanguageCharset(), "gb2312");
}

// A window of a toolkit-free tree, enough to check the walk.
class FakeWindow final : public TranslatableWindow {
public:
    explicit FakeWindow(std::string text) : text_(std::move(text)) {}
    std::string Text() const override { return text_; }
    void SetText(const std::string& text) override { text_ = text; }
    void Hide() override { hidden_ = true; }
    std::vector<std::unique_ptr<TranslatableWindow>> Children() override {
        std::vector<std::unique_ptr<TranslatableWindow>> views;
        for (auto& child : children_) views.push_back(std::make_unique<View>(*child));
        return views;
    }
    FakeWindow& Add(std::string text) { return *children_.emplace_back(std::make_unique<FakeWindow>(std::move(text))); }

    std::string text_;
    bool hidden_ = false;
    std::vector<std::unique_ptr<FakeWindow>> children_;

private:
    // A non-owning handle, as a toolkit adapter hands out.
    class View final : public TranslatableWindow {
    public:
        explicit View(FakeWindow& window) : window_(window) {}
        std::string Text() const override { return window_.Text(); }
        void SetText(const std::string& text) override { window_.SetText(text); }
        void Hide() override { window_.Hide(); }
        std::vector<std::unique_ptr<TranslatableWindow>> Children() override { return window_.Children(); }

    private:
        FakeWindow& window_;
    };
};

TEST_F(TranslationTest, TranslateWindowTouchesTheWindowAndDirectChildrenOnly) {
    WriteLanguage(
        "[String]\r\n"
        "Settings=Einstellungen\r\n"
        "Dialog=_INVISIBLE_\r\n"
        "Port=Anschluss\r\n"
        "Two\\r\\nLines=Zwei\\r\\nZeilen\r\n"
        "Kept=\r\n");
    FakeWindow dialog("Dialog");
    dialog.Add("Settings");
    dialog.Add("Two\r\nLines");
    dialog.Add("Kept");
    FakeWindow& group = dialog.Add("Group");
    group.Add("Port");
    TranslateWindow(&dialog);
    EXPECT_EQ(dialog.text_, "");
    EXPECT_TRUE(dialog.hidden_);
    EXPECT_EQ(dialog.children_[0]->text_, "Einstellungen");  // still translated under a hidden parent
    EXPECT_EQ(dialog.children_[1]->text_, "Zwei\r\nZeilen");
    EXPECT_EQ(dialog.children_[2]->text_, "Kept");
    EXPECT_EQ(group.children_[0]->text_, "Port");  // a grandchild is not translated
    TranslateWindow(nullptr);
}

// A menu tree with command ids, enough to check the walk and removals.
class FakeMenu final : public TranslatableMenu {
public:
    struct Item {
        std::string text;
        int command;
        std::shared_ptr<FakeMenu> submenu;
    };
    std::vector<Item> items;

    int ItemCount() const override { return static_cast<int>(items.size()); }
    std::string ItemText(int position) const override { return items[position].text; }
    void SetItemText(int position, const std::string& text) override { items[position].text = text; }
    int ItemCommand(int position) const override { return items[position].command; }
    std::unique_ptr<TranslatableMenu> Submenu(int position) override {
        if (!items[position].submenu) return nullptr;
        return std::make_unique<Proxy>(items[position].submenu);
    }
    void RemoveCommand(int command) override {
        std::erase_if(items, [command](const Item& item) { return item.command == command; });
    }

private:
    class Proxy final : public TranslatableMenu {
    public:
        explicit Proxy(std::shared_ptr<FakeMenu> menu) : menu_(std::move(menu)) {}
        int ItemCount() const override { return menu_->ItemCount(); }
        std::string ItemText(int position) const override { return menu_->ItemText(position); }
        void SetItemText(int position, const std::string& text) override { menu_->SetItemText(position, text); }
        int ItemCommand(int position) const override { return menu_->ItemCommand(position); }
        std::unique_ptr<TranslatableMenu> Submenu(int position) override { return menu_->Submenu(position); }
        void RemoveCommand(int command) override { menu_->RemoveCommand(command); }

    private:
        std::shared_ptr<FakeMenu> menu_;
    };
};

TEST_F(TranslationTest, TranslateMenu) {
    WriteLanguage(
        "[String]\r\n"
        "&File=&Datei\r\n"
        "E&xit\tAlt+F4=&Beenden\tAlt+F4\r\n"
        "Exit=never used: the item text holds the access key\r\n"
        "&Tools=_INVISIBLE_\r\n"
        "Backup=_INVISIBLE_\r\n"
        "Restore=_INVISIBLE_\r\n"
        "&Help=\r\n");
    auto tools = std::make_shared<FakeMenu>();
    tools->items = {{"Backup", 11, nullptr}, {"Restore", 12, nullptr}};
    auto file = std::make_shared<FakeMenu>();
    file->items = {{"E&xit\tAlt+F4", 21, nullptr}, {"", 0, nullptr}, {"&Tools", 22, tools}};
    FakeMenu bar;
    bar.items = {{"&File", 1, file}, {"&Help", 2, nullptr}, {"Backup", 3, nullptr}};
    TranslateMenu(&bar);

    ASSERT_EQ(bar.items.size(), 2u);  // "Backup" removed after the walk
    EXPECT_EQ(bar.items[0].text, "&Datei");
    EXPECT_EQ(bar.items[1].text, "&Help");
    ASSERT_EQ(file->items.size(), 2u);
    EXPECT_EQ(file->items[0].text, "&Beenden\tAlt+F4");
    EXPECT_EQ(file->items[1].text, "");  // separator untouched
    EXPECT_TRUE(tools->items.empty());   // a submenu whose items are all hidden loses them all
}

TEST_F(TranslationTest, ShippedEnglishFileLeavesTextsAlone) {
    const std::string shipped = JoinPath(QUORVEX_SOURCE_DIR, "data", "Language", "English.ini");
    ASSERT_TRUE(FileExists(shipped));
    EXPECT_EQ(LanguageCharset(shipped), "iso-8859-1");
    EXPECT_EQ(TranslateText("QuorvexServer", shipped), "QuorvexServer");
    EXPECT_EQ(TranslateText("Line one\r\nLine two", shipped), "Line one\r\nLine two");
}

}  // namespace
}  // namespace quorvex
