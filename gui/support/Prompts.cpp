#include "gui/support/Prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
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

namespace {

// How long xdg-open is given to say it found no program. It answers at
// once when it has none; where it runs the program itself in the
// foreground, it is left running and the opening counts as done.
constexpr int kOpenerVerdictMs = 1500;

// Runs xdg-open on `target`. False when it cannot be started or ends
// within the verdict time with a failure ("no method available").
bool RunDesktopOpener(const QString& target) {
    auto* opener = new QProcess;
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->start(QStringLiteral("xdg-open"), {target});
    if (!opener->waitForStarted()) {
        delete opener;
        return false;
    }
    if (opener->waitForFinished(kOpenerVerdictMs)) {
        const bool opened = opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
        delete opener;
        return opened;
    }
    QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
    return true;
}

}  // namespace

bool QtDesktopOpener::OpenPath(const QString& path) { return RunDesktopOpener(path); }

bool QtDesktopOpener::OpenUrl(const QString& url) { return RunDesktopOpener(url); }

void OpenOrSayWhere(DesktopOpener& opener, Prompts& prompts, QWidget* parent, const QString& path) {
    if (!opener.OpenPath(path)) prompts.Warning(parent, FormatText(Tr(kTextOpenFailedFormat), {path}));
}

}  // namespace quorvex::gui
