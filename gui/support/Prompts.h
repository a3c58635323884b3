// The side effects a window has beyond itself, behind small interfaces so
// that every window runs under test without blocking: message boxes and
// questions (Prompts) and file and folder choosers (FileChooser); opening
// in the desktop's program is DesktopOpener's. The Qt implementations are
// the ones the program uses; tests give fakes.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QMessageBox;
class QWidget;

namespace quorvex::gui {

class Prompts {
public:
    virtual ~Prompts() = default;
    // An information box with OK.
    virtual void Information(QWidget* parent, const QString& text) = 0;
    // A warning or error box with OK.
    virtual void Warning(QWidget* parent, const QString& text) = 0;
    // A Yes/No question; No is the default button. True for Yes.
    virtual bool Question(QWidget* parent, const QString& text) = 0;
};

class FileChooser {
public:
    virtual ~FileChooser() = default;
    // A folder, or nothing when the user cancelled.
    virtual std::optional<QString> ChooseFolder(QWidget* parent, const QString& title, const QString& start) = 0;
    // Files to open (several may be picked); empty when cancelled.
    virtual QStringList ChooseFilesToOpen(QWidget* parent, const QString& title, const QString& start) = 0;
};

// The message box QtPrompts shows (not shown yet): the translated product
// name as its caption, the kind's icon and buttons (No the default of a
// question).
enum class PromptKind { kInformation, kWarning, kQuestion };
QMessageBox* MakePromptBox(QWidget* parent, PromptKind kind, const QString& text);

// The implementations of the program: QMessageBox and QFileDialog.
class QtPrompts final : public Prompts {
public:
    void Information(QWidget* parent, const QString& text) override;
    void Warning(QWidget* parent, const QString& text) override;
    bool Question(QWidget* parent, const QString& text) override;
};

class QtFileChooser final : public FileChooser {
public:
    std::optional<QString> ChooseFolder(QWidget* parent, const QString& title, const QString& start) override;
    QStringList ChooseFilesToOpen(QWidget* parent, const QString& title, const QString& start) override;
};

}  // namespace quorvex::gui
