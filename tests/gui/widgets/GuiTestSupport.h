// What the widget tests share: fakes of the injected prompts, chooser and
// desktop opener that record what they were asked and answer as told, a
// temporary program folder published as the settings of the process, and
// a wait for a condition with a deadline that keeps Qt's events going, and
// Python as the real client of a check.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/ServerSmtpServices.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "gui/logic/LogFiles.h"
#include "gui/logic/SettingsSource.h"
#include "gui/support/DesktopOpener.h"
#include "gui/support/DialogTable.h"
#include "gui/support/GuiServices.h"
#include "gui/support/Prompts.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/provision/AccountProvision.h"
#include "servers/queue/OutgoingQueue.h"
#include "support/TempFolder.h"

namespace quorvex::gui::testing {

using quorvex::testing::TempFolder;

// Runs `code` with python3 (at most a minute), `argument` as its first
// argument, and gives its exit status, -1 where it did not exit normally.
// What it prints goes nowhere; its complaints go to standard error.
inline int RunPython(const std::string& code, const std::string& argument = "") {
    const std::string command = "timeout 60 /usr/bin/python3 -c '" + code + "' '" + argument + "' >/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class FakePrompts final : public Prompts {
public:
    struct Shown {
        std::string kind;  // "information", "warning", "question"
        QString text;
    };
    void Information(QWidget*, const QString& text) override { shown.push_back({"information", text}); }
    void Warning(QWidget*, const QString& text) override { shown.push_back({"warning", text}); }
    bool Question(QWidget*, const QString& text) override {
        shown.push_back({"question", text});
        if (answers.empty()) return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    bool Saw(const QString& text) const {
        for (const Shown& s : shown) {
            if (s.text == text) return true;
        }
        return false;
    }
    std::vector<Shown> shown;
    std::deque<bool> answers;  // for the questions, in order; none left: No
};

class FakeChooser final : public FileChooser {
public:
    std::optional<QString> ChooseFolder(QWidget*, const QString&, const QString&) override { return folder; }
    QStringList ChooseFilesToOpen(QWidget*, const QString&, const QString&) override { return files; }
    std::optional<QString> folder;
    QStringList files;
};

// Records what it is asked to open and gives the verdict `failure` (none:
// opened) at once or, when `deferred`, only at Finish, as an opener that
// takes its time does.
class FakeOpener final : public DesktopOpener {
public:
    void OpenPath(const QString& path, OpenVerdict verdict) override {
        paths.push_back(path);
        Tell(std::move(verdict));
    }
    void OpenUrl(const QString& url, OpenVerdict verdict) override {
        urls.push_back(url);
        Tell(std::move(verdict));
    }
    void Finish() {
        for (OpenVerdict& verdict : std::exchange(pending, {})) {
            if (verdict) verdict(failure);
        }
    }
    std::vector<QString> paths;
    std::vector<QString> urls;
    std::optional<QString> failure;
    bool deferred = false;
    std::vector<OpenVerdict> pending;

private:
    void Tell(OpenVerdict verdict) {
        pending.push_back(std::move(verdict));
        if (!deferred) Finish();
    }
};

// Waits (running Qt's events) until `condition` holds, at most `limit_ms`.
inline bool WaitFor(const std::function<bool()>& condition, int limit_ms = 5000) {
    return QTest::qWaitFor(condition, limit_ms);
}

// The child of `root` named `name`; a missing one fails the test.
template <typename T>
T* Find(QWidget& root, const char* name) {
    T* child = root.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// A mouse click on the button named `name` (none where it is missing: the
// lookup has failed the test).
inline void Click(QWidget& root, const char* name) {
    if (auto* button = Find<QAbstractButton>(root, name)) QTest::mouseClick(button, Qt::LeftButton);
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A program folder of its own for each test, with the services faked.
class GuiFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(home.path());
        MakeFolders(home.File("mail"));
        MakeFolders(home.File("Language"));
        WriteFile(home.File("Language/English.ini"), "[Info]\r\ncharset=iso-8859-1\r\n[String]\r\n");
        UseConfig("");
        services.prompts = &prompts;
        services.files = &chooser;
        services.opener = &opener;
        services.dialogs = &dialogs;
        services.settings = &published;
        services.accounts = &Accounts();
        services.run_command = [this](const std::vector<std::string>& argv) {
            commands.push_back(argv);
            return CommandResult{0, ""};
        };
        services.queue = &mail_queue;
        services.has_queued_mail = [this] { return mail_queued; };
        services.active_jobs = [] { return 0; };
        services.active_deliveries = [] { return 0; };
    }
    void TearDown() override {
        PublishSettings(std::make_shared<CServerSettings>());
        Accounts().Load();
    }

    // config.ini with the basics and `extra` lines of [System].
    void UseConfig(const std::string& extra_system, const std::string& more_sections = "") {
        WriteFile(home.File("config.ini"), "[System]\r\nDominame=example.test\r\nLanguage=English\r\n" + extra_system +
                                               "[Log]\r\nFilePath=" + home.File("log") + "\r\n" + more_sections);
        ProfileFile::ClearCache();
        ReloadSettings();
        Accounts().Load();
    }

    std::string SystemLog() const { return ReadFile(LogFilePath(LogKind::kSystem, home.File("log"), std::time({}))); }

    // Creates an account through the account services (which notify).
    bool CreateAccount(const std::string& name, const std::function<void(AccountRecord&)>& edit = {}) {
        AccountRecord record;
        record.Password = "pw";
        if (edit) edit(record);
        return SaveAccount(name, record);
    }

    TempFolder home;
    OutgoingQueue mail_queue{home.path()};
    NullNoticeSink notices;
    smtp::ServerSmtpServices directory{notices, mail_queue};
    FakePrompts prompts;
    FakeChooser chooser;
    FakeOpener opener;
    DialogTable dialogs;
    PublishedSettings published;
    GuiServices services;
    std::vector<std::vector<std::string>> commands;
    bool mail_queued = false;
};

}  // namespace quorvex::gui::testing
