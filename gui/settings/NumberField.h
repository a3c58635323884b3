// A number field with the range its setting takes. Whatever whole number
// is typed stays in the field as typed (a plain spin box would put the old
// value back without a word); the arrows step only within the range. A
// value outside it is refused when the dialog's OK is pressed, naming the
// field and what it takes.
#pragma once

#include <QSpinBox>

#include "common/SettingRanges.h"

namespace quorvex::gui {

class Prompts;

class NumberField final : public QSpinBox {
    Q_OBJECT
public:
    // `label` is the English text of the field's label (its translation
    // key), used to name the field when its value is refused.
    NumberField(QWidget* parent, const char* name, const NumberRange& range, int value, const char* label);

    const NumberRange& accepted() const { return accepted_; }
    bool InRange() const { return accepted_.Accepts(value()); }
    // "Maximum Tries: 0 is not accepted; enter a whole number from 1 to
    // 1000." in the interface language.
    QString RefusalText() const;

    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;

private:
    NumberRange accepted_;
    const char* label_;
};

// The first field below `area` (in the order they were made) whose value
// is outside its range, or null.
NumberField* FirstOutOfRange(const QWidget& area);

// When a field below `dialog` is outside its range: says so, puts the
// focus there (its text selected) and returns true; the dialog stays open.
bool RefuseOutOfRange(QWidget* dialog, Prompts& prompts);

}  // namespace quorvex::gui
