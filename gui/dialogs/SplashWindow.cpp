#include "gui/dialogs/SplashWindow.h"

#include <QApplication>
#include <QEvent>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include "common/Paths.h"

namespace quorvex::gui {

namespace {

bool g_enabled = true;
SplashWindow* g_current = nullptr;

}  // namespace

void SplashWindow::EnableSplash(bool enabled) { g_enabled = enabled; }

SplashWindow* SplashWindow::Current() { return g_current; }

SplashWindow* SplashWindow::ShowSplash(const std::string& program_folder, QWidget* parent) {
    if (!g_enabled || g_current) return nullptr;
    const QPixmap picture(QString::fromStdString(JoinPath(program_folder, "splash.bmp")));
    if (picture.isNull()) return nullptr;
    auto* splash = new SplashWindow(picture);
    const QRect over = parent && parent->isVisible() ? parent->frameGeometry()
                                                      : QGuiApplication::primaryScreen()->availableGeometry();
    splash->move(over.center() - QPoint(picture.width() / 2, picture.height() / 2));
    splash->show();
    QTimer::singleShot(kSplashMilliseconds, splash, &QWidget::close);
    return splash;
}

SplashWindow::SplashWindow(const QPixmap& picture) : QSplashScreen(picture) {
    setObjectName(QStringLiteral("splash"));
    setAttribute(Qt::WA_DeleteOnClose);
    g_current = this;
    qApp->installEventFilter(this);
}

SplashWindow::~SplashWindow() {
    qApp->removeEventFilter(this);
    g_current = nullptr;
}

bool SplashWindow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::NonClientAreaMouseButtonPress:
            close();
            return true;
        default:
            return QSplashScreen::eventFilter(watched, event);
    }
}

}  // namespace quorvex::gui
