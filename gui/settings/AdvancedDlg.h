// The advanced sheet ("Advanced"): five tabbed pages over a copy of the
// settings window's working copy. OK writes the pages that were shown (and
// what their option dialogs changed) into the settings window's working
// copy; Cancel drops all of it. Nothing is saved here.
#pragma once

#include <QDialog>

#include "common/ServerSettings.h"
#include "gui/support/GuiServices.h"

class QTabWidget;

namespace quorvex::gui {

class SettingsPage;

class AdvancedDlg final : public QDialog {
    Q_OBJECT
public:
    AdvancedDlg(CServerSettings& target, const GuiServices& services, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return tabs_; }
    // Refuses, naming the field, a value a shown page cannot keep.
    void accept() override;

private:
    const GuiServices& services_;
    CServerSettings& target_;
    CServerSettings sheet_;
    QTabWidget* tabs_;
    std::vector<SettingsPage*> pages_;
};

}  // namespace quorvex::gui
