// Opening a file, folder or address in the desktop's program for it. The
// opener (xdg-open) runs beside the window: the window never waits for it,
// and its verdict, read from its exit status whenever it ends, is handed
// to a callback on the window's thread. A failure is told with the opener's
// own reason.
#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace quorvex::gui {

class Prompts;

// Nothing when the desktop opened it, else the opener's reason. An empty
// verdict is never called.
using OpenVerdict = std::function<void(const std::optional<QString>& failure)>;

class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    // Opens a file or folder with the desktop's program for it.
    virtual void OpenPath(const QString& path, OpenVerdict verdict) = 0;
    // Opens an address (http:, mailto:) in the desktop's browser.
    virtual void OpenUrl(const QString& url, OpenVerdict verdict) = 0;
};

// Opens a file or folder; when the desktop cannot, says "Unable to open:"
// with `named` (the path itself when empty) and the opener's reason, over
// `parent` while it exists (over no window once it has gone).
void OpenPathOrSayWhy(DesktopOpener& opener, Prompts& prompts, QWidget* parent, const QString& path,
                      const QString& named = {});
// The same for an address.
void OpenUrlOrSayWhy(DesktopOpener& opener, Prompts& prompts, QWidget* parent, const QString& url);

// The reason of an opener that ended with `exit_code` (after a crash when
// `crashed`), having written `errors` on its error output; nothing for a
// success. The opener's own last line is its reason where it wrote one.
std::optional<QString> OpenerFailure(const QString& program, bool crashed, int exit_code, const QByteArray& errors);

// The program's opener: `program` (xdg-open) run with the target.
class QtDesktopOpener final : public DesktopOpener {
public:
    explicit QtDesktopOpener(QString program = QStringLiteral("xdg-open")) : program_(std::move(program)) {}
    void OpenPath(const QString& path, OpenVerdict verdict) override;
    void OpenUrl(const QString& url, OpenVerdict verdict) override;

private:
    void Run(const QString& target, OpenVerdict verdict);
    QString program_;
};

}  // namespace quorvex::gui
