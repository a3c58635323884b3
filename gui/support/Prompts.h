// The side effects a window has beyond itself, behind small interfaces so
// that every window runs under test without blocking: message boxes and
// questions (Prompts), file and folder choosers (FileChooser) and opening a
// file, folder or address in the desktop's program for it (DesktopOpener).
// The Qt implementations are the ones the program uses; tests give fakes.
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

class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    // Opens a file or folder with the desktop's program for it. False when
    // the desktop has no program for it (or none could be started).
    virtual bool OpenPath(const QString& path) = 0;
    // Opens an address (http:, mailto:) in the desktop's browser.
    virtual bool OpenUrl(const QString& url) = 0;
};

// Opens a file or folder with the desktop's program for it; where the
// desktop cannot, says so and names the path, so the administrator can
// find the file.
void OpenOrSayWhere(DesktopOpener& opener, Prompts& prompts, QWidget* parent, const QString& path);

// The message box QtPrompts shows (not shown yet): the translated product
// name as its caption, the kind's icon and buttons (No the default of a
// question).
enum class PromptKind { kInformation, kWarning, kQuestion };
QMessageBox* MakePromptBox(QWidget* parent, PromptKind kind, const QString& text);

// The implementations of the program: QMessageBox, QFileDialog and
// xdg-open.
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

class QtDesktopOpener final : public DesktopOpener {
public:
    bool OpenPath(const QString& path) override;
    bool OpenUrl(const QString& url) override;
};

}  // namespace quorvex::gui
