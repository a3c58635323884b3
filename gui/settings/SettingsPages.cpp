#include "gui/settings/SettingsPages.h"

#include "gui/settings/NumberField.h"

namespace quorvex::gui {

SettingsPage::SettingsPage(CServerSettings& settings, const GuiServices& services, QWidget* parent)
    : QWidget(parent), settings_(settings), services_(services) {}

std::optional<PageRefusal> SettingsPage::Refusal() const {
    NumberField* field = FirstOutOfRange(*this);
    if (field == nullptr) return std::nullopt;
    return PageRefusal{field->RefusalText(), field};
}

void SettingsPage::showEvent(QShowEvent* event) {
    shown_ = true;
    QWidget::showEvent(event);
}

}  // namespace quorvex::gui
