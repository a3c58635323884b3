// Translation of what the window shows. Every text is written in English
// and looked up in the language file (common/Translation.h) with the
// English text as the key; the value is decoded from the file's charset.
// The walkers translate a whole widget tree (every level: Qt nests controls
// in group boxes and layouts) and whole menus, and remember each English
// key on the widget or action, so a second walk after a language change
// starts again from English. "_INVISIBLE_" hides the element.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

class QObject;
class QWidget;
class QMenu;
class QMenuBar;
class QAction;

namespace quorvex::gui {

// The translation of an English text, decoded for display.
QString Tr(std::string_view english);

// A "|"-joined list text, translated as one key and split.
QStringList TrList(std::string_view english);

// Fills the "%d", "%u" and "%s" of a (translated) format in order with the
// given texts; "%%" is a percent sign. Any other '%' stays as it is. A
// translation can so never make the program read an argument it was not
// given.
QString FormatText(const QString& format, std::initializer_list<QString> arguments);

// Marks a widget or action whose text is data, or is translated by its
// owner (a user count, a date, the tool-bar texts): the walkers leave it
// alone.
void KeepUntranslated(QObject* object);

// Translates the widget's window title and the texts of the widget and all
// of its descendants: labels, buttons, group-box titles, tab titles and the
// widget's own actions.
void TranslateWidgetTree(QWidget* root);

// Translates every action of a menu (and its submenus), each looked up by
// its whole text: access key "&" and the shortcut text after a TAB
// included. Actions marked "_INVISIBLE_" are hidden.
void TranslateMenuTree(QMenu* menu);
void TranslateMenuBar(QMenuBar* bar);

// Sets a widget's or an action's English text and translates it at once;
// later walks use the English key.
void SetTranslatedText(QWidget* widget, std::string_view english);
void SetTranslatedText(QAction* action, std::string_view english);

// Hands every English text looked up from now on (by Tr, TrList and the
// walkers) to `observer`; an empty one stops it. The screenshot tool
// builds its pseudo-translation from what the windows really look up.
void ObserveTranslatedTexts(std::function<void(const std::string&)> observer);

}  // namespace quorvex::gui
