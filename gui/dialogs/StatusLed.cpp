#include "gui/dialogs/StatusLed.h"

#include <QPainter>

namespace quorvex::gui {

bool LedState::Flash(int period_ms) {
    if (period_ms == 0) {
        period_ms_ = 0;
        state_ = kDark;
        return false;
    }
    if (period_ms_ != 0) return false;
    period_ms_ = period_ms;
    state_ = kBright;
    return true;
}

StatusLed::StatusLed(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("activityLed"));
    setFixedSize(16, 16);
    connect(&timer_, &QTimer::timeout, this, [this] {
        state_.Tick();
        update();
    });
}

void StatusLed::Set(LedState::Colour colour, LedState::State state, LedState::Shape shape) {
    state_.Set(colour, state, shape);
    update();
}

void StatusLed::Flash(int period_ms) {
    if (period_ms == 0) {
        state_.Flash(0);
        timer_.stop();
    } else if (state_.Flash(period_ms)) {
        timer_.start(period_ms);
    }
    update();
}

void StatusLed::paintEvent(QPaintEvent*) {
    static const QColor kBrightColours[] = {QColor(0xFF, 0x20, 0x20), QColor(0x20, 0xE0, 0x20),
                                            QColor(0xFF, 0xE0, 0x20), QColor(0x30, 0x60, 0xFF)};
    QColor colour = kBrightColours[state_.colour()];
    if (state_.state() == LedState::kDark) colour = colour.darker(300);
    if (state_.state() == LedState::kGrey) colour = QColor(0x90, 0x90, 0x90);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour.darker(160), 1));
    painter.setBrush(colour);
    const QRectF cell = QRectF(0, 0, 14, 14).translated((width() - 14) / 2.0, (height() - 14) / 2.0);
    if (state_.shape() == LedState::kRound) {
        painter.drawEllipse(cell);
    } else {
        painter.drawRect(cell);
    }
}

}  // namespace quorvex::gui
