#include "gui/support/WidgetTranslator.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVariant>
#include <mutex>
#include <string>

#include "common/Translation.h"
#include "gui/support/TextCodec.h"

namespace quorvex::gui {

namespace {

constexpr const char* kKeyProperty = "quorvexKey";
constexpr const char* kTitleKeyProperty = "quorvexTitleKey";
constexpr const char* kTabKeysProperty = "quorvexTabKeys";
constexpr const char* kNoTranslateProperty = "quorvexNoTranslate";

std::mutex g_observer_mutex;
std::function<void(const std::string&)> g_observer;

std::string TranslateObserved(const std::string& english) {
    {
        std::lock_guard lock(g_observer_mutex);
        if (g_observer) g_observer(english);
    }
    return TranslateText(english);
}

// One walk looks the charset up once.
class Lookup {
public:
    Lookup() : charset_(LanguageCharset()) {}

    // The decoded translation, or nothing when the key says "_INVISIBLE_".
    std::optional<QString> operator()(const QString& key) const {
        std::string value = TranslateObserved(key.toStdString());
        if (value == kInvisibleMarker) return std::nullopt;
        if (value.size() > kMaxWindowTextLength) value.resize(kMaxWindowTextLength);
        return DecodeText(value, charset_);
    }

private:
    std::string charset_;
};

// The English key of an object's text: remembered on the first walk.
QString KeyOf(QObject* object, const char* property, const QString& current) {
    const QVariant stored = object->property(property);
    if (stored.isValid()) return stored.toString();
    object->setProperty(property, current);
    return current;
}

void TranslateAction(QAction* action, const Lookup& lookup) {
    if (action->isSeparator() || action->property(kNoTranslateProperty).toBool()) return;
    const QString key = KeyOf(action, kKeyProperty, action->text());
    if (key.isEmpty()) return;
    if (const auto text = lookup(key)) {
        action->setText(*text);
        action->setVisible(true);  // hidden only by an earlier language
    } else {
        action->setText(QString());
        action->setVisible(false);
    }
}

void TranslateMenuWith(QMenu* menu, const Lookup& lookup) {
    for (QAction* action : menu->actions()) {
        TranslateAction(action, lookup);
        if (QMenu* sub = action->menu()) TranslateMenuWith(sub, lookup);
    }
}

void TranslateOne(QWidget* widget, const Lookup& lookup) {
    if (widget->property(kNoTranslateProperty).toBool()) return;
    if (widget->isWindow() && !widget->windowTitle().isEmpty()) {
        const QString key = KeyOf(widget, kTitleKeyProperty, widget->windowTitle());
        widget->setWindowTitle(lookup(key).value_or(QString()));
    }
    auto translate_text = [&](const QString& current, auto&& set) {
        if (current.isEmpty() && !widget->property(kKeyProperty).isValid()) return;
        const QString key = KeyOf(widget, kKeyProperty, current);
        if (key.isEmpty()) return;
        if (const auto text = lookup(key)) {
            set(*text);
        } else {
            set(QString());
            widget->hide();
        }
    };
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->textFormat() != Qt::RichText) translate_text(label->text(), [&](const QString& t) { label->setText(t); });
    } else if (auto* tool = qobject_cast<QToolButton*>(widget); tool && tool->defaultAction()) {
        // Its text is its action's.
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        translate_text(button->text(), [&](const QString& t) { button->setText(t); });
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        translate_text(group->title(), [&](const QString& t) { group->setTitle(t); });
    } else if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
        QStringList current;
        for (int i = 0; i < tabs->count(); ++i) current << tabs->tabText(i);
        QVariant stored = tabs->property(kTabKeysProperty);
        if (!stored.isValid() || stored.toStringList().size() != tabs->count()) {
            tabs->setProperty(kTabKeysProperty, current);
            stored = current;
        }
        const QStringList keys = stored.toStringList();
        for (int i = 0; i < tabs->count(); ++i) tabs->setTabText(i, lookup(keys[i]).value_or(QString()));
    }
    for (QAction* action : widget->actions()) {
        TranslateAction(action, lookup);
        if (QMenu* sub = action->menu()) TranslateMenuWith(sub, lookup);
    }
}

}  // namespace

QString Tr(std::string_view english) {
    return DecodeText(TranslateObserved(std::string(english)), LanguageCharset());
}

QStringList TrList(std::string_view english) { return Tr(english).split(QLatin1Char('|')); }

QString FormatText(const QString& format, std::initializer_list<QString> arguments) {
    QString out;
    auto next = arguments.begin();
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('%') && i + 1 < format.size()) {
            const QChar spec = format[i + 1];
            if (spec == QLatin1Char('%')) {
                out += QLatin1Char('%');
                ++i;
                continue;
            }
            if (spec == QLatin1Char('d') || spec == QLatin1Char('s') || spec == QLatin1Char('u')) {
                if (next != arguments.end()) out += *next++;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

void KeepUntranslated(QObject* object) { object->setProperty(kNoTranslateProperty, true); }

void TranslateWidgetTree(QWidget* root) {
    if (root == nullptr) return;
    const Lookup lookup;
    TranslateOne(root, lookup);
    for (QWidget* child : root->findChildren<QWidget*>()) TranslateOne(child, lookup);
}

void TranslateMenuTree(QMenu* menu) {
    if (menu == nullptr) return;
    const Lookup lookup;
    TranslateMenuWith(menu, lookup);
}

void TranslateMenuBar(QMenuBar* bar) {
    if (bar == nullptr) return;
    const Lookup lookup;
    for (QAction* action : bar->actions()) {
        TranslateAction(action, lookup);
        if (QMenu* sub = action->menu()) TranslateMenuWith(sub, lookup);
    }
}

void SetTranslatedText(QWidget* widget, std::string_view english) {
    const QString key = QString::fromUtf8(english.data(), static_cast<qsizetype>(english.size()));
    widget->setProperty(kKeyProperty, key);
    const Lookup lookup;
    const auto text = lookup(key);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text.value_or(QString()));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text.value_or(QString()));
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(text.value_or(QString()));
    }
    if (!text) widget->hide();
}

void SetTranslatedText(QAction* action, std::string_view english) {
    action->setProperty(kKeyProperty, QString::fromUtf8(english.data(), static_cast<qsizetype>(english.size())));
    TranslateAction(action, Lookup());
}

void ObserveTranslatedTexts(std::function<void(const std::string&)> observer) {
    std::lock_guard lock(g_observer_mutex);
    g_observer = std::move(observer);
}

}  // namespace quorvex::gui
