// A number field with the range its setting takes. Whatever whole number
// is typed stays in the field as typed (a plain spin box would put the old
// value back without a word); the arrows step only within the range. A
// value outside it is refused when the dialog's OK is pressed, naming the
// field and what it takes.
#pragma once

#include <QSpinBox>
#include <optional>

#include "common/SettingRanges.h"

namespace quorvex::gui {

class Prompts;

class NumberField final : public QSpinBox {
    Q_OBJECT
public:
    // `label` is the English text of the field's label (its translation
    // key), used to name the field when its value is refused.
    NumberField(QWidget* parent, const char* name, const NumberRange& range, int value, const char* label);

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

// Why the values shown in a dialog cannot be kept, and the field to correct.
struct FieldRefusal {
    QString text;
    QAbstractSpinBox* field;
};

// The refusal of the first field below `area` (in the order they were
// made) whose value is outside its range; nothing when every one is in it.
std::optional<FieldRefusal> OutOfRange(const QWidget& area);

// Brings the field's tab page to the front, says why over `dialog` and puts
// the focus on the field, its text selected; the dialog stays open.
void ShowRefusal(QWidget* dialog, Prompts& prompts, const FieldRefusal& refusal);

// When a field below `dialog` is outside its range: ShowRefusal, and true.
bool RefuseOutOfRange(QWidget* dialog, Prompts& prompts);

}  // namespace quorvex::gui
