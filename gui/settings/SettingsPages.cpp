#include "gui/settings/SettingsPages.h"

namespace quorvex::gui {

SettingsPage::SettingsPage(CServerSettings& settings, const GuiServices& services, QWidget* parent)
    : QWidget(parent), settings_(settings), services_(services) {}

std::optional<FieldRefusal> SettingsPage::Refusal() const { return OutOfRange(*this); }

void SettingsPage::showEvent(QShowEvent* event) {
    shown_ = true;
    QWidget::showEvent(event);
}

}  // namespace quorvex::gui
