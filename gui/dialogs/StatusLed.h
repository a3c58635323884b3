// The activity indicator of the status bar: a small lamp of one of four
// colours, round or square, bright, dark or grey, that can flash. The state
// logic (LedState) is separate from the drawing.
#pragma once

#include <QTimer>
#include <QWidget>

namespace quorvex::gui {

class LedState {
public:
    enum Colour { kRed = 0, kGreen = 1, kYellow = 2, kBlue = 3 };
    enum State { kBright = 0, kDark = 1, kGrey = 2 };
    enum Shape { kRound = 0, kSquare = 1 };

    void Set(Colour colour, State state, Shape shape) {
        colour_ = colour;
        state_ = state;
        shape_ = shape;
    }
    // A nonzero period starts flashing (bright first) unless it flashes
    // already: true when it started. Zero stops and shows dark.
    bool Flash(int period_ms);
    // One timer tick while flashing: dark becomes bright, anything else dark.
    void Tick() { state_ = state_ == kDark ? kBright : kDark; }

    Colour colour() const { return colour_; }
    State state() const { return state_; }
    Shape shape() const { return shape_; }
    bool flashing() const { return period_ms_ != 0; }
    int period_ms() const { return period_ms_; }

private:
    Colour colour_ = kRed;
    State state_ = kDark;
    Shape shape_ = kRound;
    int period_ms_ = 0;
};

class StatusLed final : public QWidget {
    Q_OBJECT
public:
    explicit StatusLed(QWidget* parent = nullptr);

    void Set(LedState::Colour colour, LedState::State state, LedState::Shape shape);
    void Flash(int period_ms);
    const LedState& state() const { return state_; }

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    LedState state_;
    QTimer timer_;
};

}  // namespace quorvex::gui
