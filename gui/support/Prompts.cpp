#include "gui/support/Prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <memory>

#include "gui/support/GuiStrings.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

QMessageBox* MakePromptBox(QWidget* parent, PromptKind kind, const QString& text) {
    auto* box = new QMessageBox(parent);
    box->setWindowTitle(Tr("QuorvexServer"));
    box->setText(text);
    switch (kind) {
        case PromptKind::kInformation:
            box->setIcon(QMessageBox::Information);
            break;
        case PromptKind::kWarning:
            box->setIcon(QMessageBox::Warning);
            break;
        case PromptKind::kQuestion:
            box->setIcon(QMessageBox::Question);
            box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box->setDefaultButton(QMessageBox::No);
            break;
    }
    return box;
}

namespace {

int RunPromptBox(QWidget* parent, PromptKind kind, const QString& text) {
    const std::unique_ptr<QMessageBox> box(MakePromptBox(parent, kind, text));
    return box->exec();
}

}  // namespace

void QtPrompts::Information(QWidget* parent, const QString& text) {
    RunPromptBox(parent, PromptKind::kInformation, text);
}

void QtPrompts::Warning(QWidget* parent, const QString& text) { RunPromptBox(parent, PromptKind::kWarning, text); }

bool QtPrompts::Question(QWidget* parent, const QString& text) {
    return RunPromptBox(parent, PromptKind::kQuestion, text) == QMessageBox::Yes;
}

std::optional<QString> QtFileChooser::ChooseFolder(QWidget* parent, const QString& title, const QString& start) {
    const QString folder = QFileDialog::getExistingDirectory(parent, title, start);
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

QStringList QtFileChooser::ChooseFilesToOpen(QWidget* parent, const QString& title, const QString& start) {
    return QFileDialog::getOpenFileNames(parent, title, start);
}

}  // namespace quorvex::gui
