// Prompts and a desktop opener that never wait and never open anything,
// for the programs that drive the window without a person (the screenshot
// tool, the benchmark). Questions are answered No.
#pragma once

#include "gui/logic/SettingsSource.h"
#include "gui/support/DesktopOpener.h"
#include "gui/support/DialogTable.h"
#include "gui/support/GuiServices.h"
#include "gui/support/Prompts.h"
#include "mailmodel/account/AccountList.h"

namespace quorvex::gui {

class QuietPrompts final : public Prompts {
public:
    void Information(QWidget*, const QString&) override {}
    void Warning(QWidget*, const QString&) override {}
    bool Question(QWidget*, const QString&) override { return false; }
};

class NoOpener final : public DesktopOpener {
public:
    void OpenPath(const QString&, OpenVerdict verdict) override {
        if (verdict) verdict(std::nullopt);
    }
    void OpenUrl(const QString&, OpenVerdict verdict) override {
        if (verdict) verdict(std::nullopt);
    }
};

// The services of a window nobody answers: no dialog is registered, no
// mail is queued; the settings and accounts are the process's.
struct QuietGui {
    QuietGui() {
        services.prompts = &prompts;
        services.files = &files;
        services.opener = &opener;
        services.dialogs = &dialogs;
        services.settings = &settings;
        services.accounts = &Accounts();
        services.has_queued_mail = [] { return false; };
    }
    QuietGui(const QuietGui&) = delete;
    QuietGui& operator=(const QuietGui&) = delete;

    QuietPrompts prompts;
    NoOpener opener;
    QtFileChooser files;
    DialogTable dialogs;
    PublishedSettings settings;
    GuiServices services;
};

}  // namespace quorvex::gui
