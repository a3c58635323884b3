// The main window's decisions without widgets: tray clicks and the lock,
// the close choice, the domain selector, the log notices and the user
// manual.
#include <gtest/gtest.h>

#include <set>

#include "app/WebMailLanguage.h"
#include "gui/logic/FrameLogic.h"

namespace quorvex::gui {
namespace {

using Click = TrayStateMachine::Click;

TEST(TrayStateMachine, ClicksLockAndGate) {
    struct Step {
        const char* what;
        std::function<void(TrayStateMachine&)> act;
        bool visible;
        Click expected;
    };
    // A fresh window without AutoLock; each step acts, then clicks.
    TrayStateMachine tray(false);
    const Step steps[] = {
        {"visible window hides", [](TrayStateMachine&) {}, true, Click::kHide},
        {"hidden window shows", [](TrayStateMachine&) {}, false, Click::kShow},
        {"a minimize without AutoLock keeps it unlocked", [](TrayStateMachine& t) { t.OnMinimized(); }, false, Click::kShow},
        {"the lock command asks for the password", [](TrayStateMachine& t) { t.Lock(); }, false, Click::kAskPassword},
        {"while the gate is open clicks do nothing", [](TrayStateMachine& t) { t.OnGateOpened(); }, false, Click::kIgnore},
        {"a cancelled gate stays locked", [](TrayStateMachine& t) { t.OnGateClosed(false); }, false, Click::kAskPassword},
        {"a correct password unlocks", [](TrayStateMachine& t) { t.OnGateOpened(); t.OnGateClosed(true); }, false, Click::kShow},
        {"AutoLock locks on minimize", [](TrayStateMachine& t) { t.SetAutoLock(true); t.OnMinimized(); }, false, Click::kAskPassword},
        {"a visible window hides even when locked", [](TrayStateMachine&) {}, true, Click::kHide},
    };
    for (const Step& step : steps) {
        step.act(tray);
        EXPECT_EQ(tray.OnClick(step.visible), step.expected) << step.what;
    }
    EXPECT_TRUE(TrayStateMachine(true).locked()) << "AutoLock starts locked";
}

TEST(CloseDecision, ChoiceQueuedMailAndAnswer) {
    struct Case {
        bool accepted;
        int choice;
        bool queued;
        bool answer;
        CloseDecision expected;
        bool asked;
    };
    const Case cases[] = {
        {false, 1, true, true, CloseDecision::kStay, false},
        {true, 0, true, true, CloseDecision::kHide, false},
        {true, 1, false, false, CloseDecision::kQuit, false},
        {true, 1, true, false, CloseDecision::kStay, true},
        {true, 1, true, true, CloseDecision::kQuit, true},
    };
    for (const Case& c : cases) {
        bool asked = false;
        const auto decision = DecideClose(c.accepted, c.choice, [&] { return c.queued; }, [&] {
            asked = true;
            return c.answer;
        });
        EXPECT_EQ(decision, c.expected) << c.accepted << c.choice << c.queued << c.answer;
        EXPECT_EQ(asked, c.asked);
    }
}

TEST(DomainSelector, ItemsAndReselection) {
    const auto items = DomainSelectorItems("All Domains", {"a.test", "B.test"});
    EXPECT_EQ(items, (std::vector<std::string>{"All Domains", "a.test", "B.test"}));
    struct Case {
        std::string old_text;
        int old_index;
        int expected;
    };
    const Case cases[] = {
        {"b.TEST", 0, 2},     // by name, ignoring case
        {"gone.test", 1, 1},  // else the old position
        {"gone.test", 7, 0},  // else the first entry
        {"", -1, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ReselectDomain(items, c.old_text, c.old_index), c.expected) << c.old_text;
}

TEST(LogNotices, AFailedLoginIsShownOnce) {
    const std::pair<const char*, bool> cases[] = {
        {"POP3 WebMail login failed: service=pop3 address=127.0.0.1 account=bob outcome=wrong-password", true},
        {"SMTP 10.0.0.7 login failed: service=smtp address=10.0.0.7 account=bob outcome=unknown-account", true},
        {"POP3 10.0.0.7 USER bob", false},
        {"POP3 10.0.0.7 RETR login failed: service=pop3", false},  // client text after the command
        {"login failed: service=pop3 address=10.0.0.7 account=bob", false},  // the guard's own line
        {"SMTP  login failed: service=smtp", false},
    };
    for (const auto& [notice, repeats] : cases) EXPECT_EQ(RepeatsFailedLogin(notice), repeats) << notice;
}

TEST(UserManual, FirstExistingFileAndSafeLanguage) {
    struct Case {
        std::string language;
        std::set<std::string> files;
        std::string expected;
    };
    const Case cases[] = {
        {"ChineseGB", {"/p/Language/ChineseGB.doc", "/p/Language/ChineseGB.htm"}, "/p/Language/ChineseGB.doc"},
        {"ChineseGB", {"/p/Language/English.chm"}, "/p/Language/English.chm"},
        {"../../etc/x", {"/p/Language/English.chm"}, "/p/Language/English.chm"},  // never leaves the folder
        {"French", {}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindUserManual("/p", c.language, [&](const std::string& path) { return c.files.count(path) != 0; }),
                  c.expected)
            << c.language;
    }
}

TEST(WebMailLanguage, IncludeLineAndNameRule) {
    EXPECT_EQ(app::WebMailLanguageLine("ChineseGB"), "<!-- #include file=\"language\\ChineseGB.txt\" -->");
    for (const char* bad : {"", "../x", "a b", "x\"y", "x/y", "\xe4\xb8\xad"}) {
        EXPECT_EQ(app::SafeLanguageName(bad), "English") << bad;
    }
    EXPECT_EQ(app::SafeLanguageName(std::string(64, 'a')), std::string(64, 'a'));
    EXPECT_EQ(app::SafeLanguageName(std::string(65, 'a')), "English");
}

}  // namespace
}  // namespace quorvex::gui
