#include "gui/settings/NumberField.h"

#include <QLineEdit>
#include <algorithm>

#include "gui/settings/SettingsStrings.h"
#include "gui/support/FieldFocus.h"
#include "gui/support/Prompts.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {

// The field takes any number about as wide as its range's numbers (and the
// value it shows first), so a number just outside the range can be typed
// and is then refused with its reason, while the field keeps its size.
constexpr int kTypedLow = -9999;
constexpr int kTypedHigh = 99999;

}  // namespace

NumberField::NumberField(QWidget* parent, const char* name, const NumberRange& range, int value, const char* label)
    : QSpinBox(parent), accepted_(range), label_(label) {
    setObjectName(QString::fromLatin1(name));
    setRange(static_cast<int>(std::min<long long>({range.Lowest(), kTypedLow, value})),
             static_cast<int>(std::max<long long>({range.high, kTypedHigh, value})));
    setValue(value);
    setMinimumWidth(90);
}

QString NumberField::RefusalText() const {
    return FormatText(Tr(kTextNumberRefusedFormat), {Tr(label_).trimmed(), QString::number(value()),
                                                     QString::fromStdString(accepted_.Expected())});
}

void NumberField::stepBy(int steps) {
    const long long next = static_cast<long long>(value()) + steps;
    setValue(static_cast<int>(std::clamp(next, accepted_.Lowest(), accepted_.high)));
}

QAbstractSpinBox::StepEnabled NumberField::stepEnabled() const {
    StepEnabled enabled = StepNone;
    if (value() < accepted_.high) enabled |= StepUpEnabled;
    if (value() > accepted_.Lowest()) enabled |= StepDownEnabled;
    return enabled;
}

std::optional<FieldRefusal> OutOfRange(const QWidget& area) {
    for (NumberField* field : area.findChildren<NumberField*>()) {
        if (!field->InRange()) return FieldRefusal{field->RefusalText(), field};
    }
    return std::nullopt;
}

void ShowRefusal(QWidget* dialog, Prompts& prompts, const FieldRefusal& refusal) {
    RevealField(refusal.field);
    prompts.Warning(dialog, refusal.text);
    FocusField(refusal.field);
}

bool RefuseOutOfRange(QWidget* dialog, Prompts& prompts) {
    const auto refusal = OutOfRange(*dialog);
    if (refusal) ShowRefusal(dialog, prompts, *refusal);
    return refusal.has_value();
}

}  // namespace quorvex::gui
