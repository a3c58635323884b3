#include <QGridLayout>
#include <QGroupBox>
#include <QListWidget>
#include <QVBoxLayout>

#include "gui/settings/FormWidgets.h"
#include "gui/settings/OptionDialogs.h"
#include "gui/settings/SettingsPages.h"
#include "gui/settings/SettingsStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {

std::vector<std::string> Lines(const QListWidget* list) {
    std::vector<std::string> entries;
    for (int i = 0; i < list->count() && i < kMaxBlockListEntries; ++i) {
        entries.push_back(SingleLine(ToFileText(list->item(i)->text())).substr(0, kMaxBlockEntryLength));
    }
    return entries;
}

}  // namespace

EmailFilterPage::List EmailFilterPage::MakeList(const char* prefix, const char* title,
                                                const std::vector<std::string>& entries, int enabled, bool sender) {
    const std::string name(prefix);
    List list{MakeCheck(this, (name + "Enable").c_str(), title, enabled), new QListWidget(this),
              MakeButton(this, (name + "Add").c_str(), "Add"), MakeButton(this, (name + "Edit").c_str(), "Edit"),
              MakeButton(this, (name + "Delete").c_str(), "Delete")};
    list.lines->setObjectName(QString::fromStdString(name + "List"));
    for (const std::string& entry : entries) list.lines->addItem(FromFileText(entry));
    const auto kind = sender ? BlockEntryDlg::Kind::kSender : BlockEntryDlg::Kind::kIp;
    QListWidget* lines = list.lines;
    auto edit = [this, lines, kind](int row) {
        QListWidgetItem* item = row < 0 ? nullptr : lines->item(row);
        BlockEntryDlg dialog(kind, item ? item->text() : QString(), *services_.prompts, this);
        if (dialog.exec() != QDialog::Accepted || dialog.text().isEmpty()) return;
        if (item) {
            item->setText(dialog.text());
        } else if (lines->count() < kMaxBlockListEntries) {
            lines->addItem(dialog.text());
        }
        ApplyRules();
    };
    connect(list.add, &QPushButton::clicked, this, [edit] { edit(-1); });
    connect(list.edit, &QPushButton::clicked, this, [lines, edit] {
        if (lines->currentRow() >= 0) edit(lines->currentRow());
    });
    connect(lines, &QListWidget::itemDoubleClicked, this, [lines, edit](QListWidgetItem* item) { edit(lines->row(item)); });
    connect(list.remove, &QPushButton::clicked, this, [this, lines] {
        const int row = lines->currentRow();
        if (row < 0 || !services_.prompts->Question(this, Tr(kTextDeleteEntryQuestion))) return;
        delete lines->takeItem(row);
        ApplyRules();
    });
    connect(list.enable, &QCheckBox::toggled, this, &EmailFilterPage::ApplyRules);
    return list;
}

EmailFilterPage::EmailFilterPage(CServerSettings& settings, const GuiServices& services, QWidget* parent)
    : SettingsPage(settings, services, parent),
      senders_(MakeList("sender", "Email Filter List", settings.FromList, settings.EmailFilterEnable, true)),
      addresses_(MakeList("ip", "IP Address Block List", settings.IPList, settings.IPBlockEnable, false)) {
    setObjectName(QStringLiteral("emailFilterPage"));
    auto* layout = new QVBoxLayout(this);
    for (const List* list : {&senders_, &addresses_}) {
        auto* box = new QGroupBox(this);
        auto* grid = new QGridLayout(box);
        grid->addWidget(list->enable, 0, 0, 1, 2);
        grid->addWidget(list->lines, 1, 0, 4, 1);
        grid->addWidget(list->add, 1, 1);
        grid->addWidget(list->edit, 2, 1);
        grid->addWidget(list->remove, 3, 1);
        grid->setRowStretch(4, 1);
        list->lines->setMinimumHeight(90);
        layout->addWidget(box);
    }
    ApplyRules();
}

void EmailFilterPage::ApplyRules() {
    for (const List* list : {&senders_, &addresses_}) {
        const bool on = list->enable->isChecked();
        list->lines->setEnabled(on);
        // A full list takes no more entries, so none is dropped on saving.
        list->add->setEnabled(on && list->lines->count() < kMaxBlockListEntries);
        list->edit->setEnabled(on);
        list->remove->setEnabled(on);
    }
}

void EmailFilterPage::Store(CServerSettings& settings) const {
    settings.EmailFilterEnable = senders_.enable->isChecked() ? 1 : 0;
    settings.IPBlockEnable = addresses_.enable->isChecked() ? 1 : 0;
    settings.FromList = Lines(senders_.lines);
    settings.IPList = Lines(addresses_.lines);
}

}  // namespace quorvex::gui
