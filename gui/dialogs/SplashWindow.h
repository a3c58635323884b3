// The start-up picture: "splash.bmp" of the program folder, centred over
// the main window for 1750 ms; any key or mouse press closes it at once.
// A missing or unreadable picture shows nothing. One at a time.
#pragma once

#include <QSplashScreen>
#include <string>

namespace quorvex::gui {

inline constexpr int kSplashMilliseconds = 1750;

class SplashWindow final : public QSplashScreen {
    Q_OBJECT
public:
    // Whether ShowSplash shows anything (on by default).
    static void EnableSplash(bool enabled);
    // Shows the picture of `program_folder` over `parent`; null when there
    // is nothing to show or a splash is already up.
    static SplashWindow* ShowSplash(const std::string& program_folder, QWidget* parent);
    static SplashWindow* Current();

    ~SplashWindow() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit SplashWindow(const QPixmap& picture);
};

}  // namespace quorvex::gui
