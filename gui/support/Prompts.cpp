#include "gui/support/Prompts.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {

// Message boxes carry the product name as their caption, translated.
QString Caption() { return Tr("QuorvexServer"); }

}  // namespace

void QtPrompts::Information(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, Caption(), text);
}

void QtPrompts::Warning(QWidget* parent, const QString& text) { QMessageBox::warning(parent, Caption(), text); }

bool QtPrompts::Question(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, Caption(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

std::optional<QString> QtFileChooser::ChooseFolder(QWidget* parent, const QString& title, const QString& start) {
    const QString folder = QFileDialog::getExistingDirectory(parent, title, start);
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

QStringList QtFileChooser::ChooseFilesToOpen(QWidget* parent, const QString& title, const QString& start) {
    return QFileDialog::getOpenFileNames(parent, title, start);
}

bool QtDesktopOpener::OpenPath(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool QtDesktopOpener::OpenUrl(const QString& url) { return QDesktopServices::openUrl(QUrl(url)); }

}  // namespace quorvex::gui
