// Small builders shared by the settings window's pages and dialogs: a
// number field with its range, a one-line text field with its length, and
// reading a field back as INI-safe text.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <string>

#include "gui/logic/SettingsRules.h"
#include "gui/settings/NumberField.h"
#include "gui/support/TextCodec.h"

namespace quorvex::gui {

// `label` is the English text of the field's label.
inline NumberField* MakeNumberField(QWidget* parent, const char* name, const NumberRange& range, int value,
                                    const char* label) {
    return new NumberField(parent, name, range, value, label);
}

inline QLineEdit* MakeTextField(QWidget* parent, const char* name, const std::string& value, int max_length) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setMaxLength(max_length);
    field->setText(FromFileText(value));
    return field;
}

inline QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* text, int value) {
    auto* check = new QCheckBox(QString::fromLatin1(text), parent);
    check->setObjectName(QString::fromLatin1(name));
    check->setChecked(value != 0);
    return check;
}

inline QPushButton* MakeButton(QWidget* parent, const char* name, const char* text) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

inline QLabel* MakeLabel(QWidget* parent, const char* text) { return new QLabel(QString::fromLatin1(text), parent); }

// The field's text as the file keeps it, on one line.
inline std::string FieldText(const QLineEdit* field) { return SingleLine(ToFileText(field->text())); }

}  // namespace quorvex::gui
