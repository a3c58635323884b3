#include "gui/QtFrontEnd.h"

#include <pthread.h>
#include <signal.h>

#include <QApplication>
#include <QMetaObject>

#include "common/Notices.h"
#include "gui/DialogRegistry.h"
#include "gui/frame/MainFrame.h"
#include "gui/support/TextCodec.h"
#include "mailmodel/account/AccountList.h"
#include "servers/queue/OutgoingQueue.h"

namespace quorvex::gui {

QtFrontEnd::QtFrontEnd(int& argc, char** argv) : argc_(argc), argv_(argv) {}

QtFrontEnd::~QtFrontEnd() { DestroyMainWindow(); }

bool QtFrontEnd::CreateMainWindow(app::ProgramHost& host) {
    if (!QApplication::instance()) application_ = std::make_unique<QApplication>(argc_, argv_);
    // Hiding the window to the tray, or closing a dialog, never ends the run.
    QApplication::setQuitOnLastWindowClosed(false);

    services_.prompts = &prompts_;
    services_.files = &files_;
    services_.opener = &opener_;
    services_.dialogs = &dialogs_;
    // The window works on the settings the servers use and on their
    // account list.
    services_.settings = &settings_;
    services_.accounts = &Accounts();
    services_.run_command = DefaultCommandRunner();
    services_.queue = &host.Queue();
    services_.has_queued_mail = [&host] { return host.Queue().HasQueuedMail(); };
    services_.active_jobs = [&host] { return host.ActiveJobCount(); };
    services_.active_deliveries = [&host] { return host.Queue().ActiveDeliveries(); };
    // The servers start right after the window, on these ports.
    const SettingsSnapshot settings = settings_.Current();
    services_.ports_in_use = {settings->SMTPPort, settings->POP3Port, settings->AdminPort};
    RegisterDialogs(dialogs_, services_);

    frame_ = std::make_unique<MainFrame>(services_, &host, ProcessNoticeBus());
    // The window has decided: the loop ends (quit() would ask the windows
    // to close once more).
    QObject::connect(frame_.get(), &MainFrame::QuitRequested, qApp, [] { QCoreApplication::exit(0); },
                     Qt::QueuedConnection);

    signal_watch_ = std::make_unique<QSocketNotifier>(host.StopSignalDescriptor(), QSocketNotifier::Read);
    QObject::connect(signal_watch_.get(), &QSocketNotifier::activated, frame_.get(), [this, &host] {
        if (host.TakeStopSignal()) frame_->ForceQuit();
    });
    if (host.ControlSocketDescriptor() >= 0) {
        control_watch_ = std::make_unique<QSocketNotifier>(host.ControlSocketDescriptor(), QSocketNotifier::Read);
        QObject::connect(control_watch_.get(), &QSocketNotifier::activated, frame_.get(), [this, &host] {
            switch (host.ServeControlCommand()) {
                case app::ControlAction::kStop: frame_->ForceQuit(); break;
                case app::ControlAction::kShow: frame_->ShowFromOutside(); break;
                case app::ControlAction::kSettingsReloaded: frame_->commands().FollowSettingsInForce(); break;
                case app::ControlAction::kNone: break;
            }
        });
    }
    // The desktop session ends: the program shuts down in order (a program
    // set up as a service then hands over to the service).
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, frame_.get(), [this] { frame_->ForceQuit(); });
    frame_->StartUp();
    return true;
}

void QtFrontEnd::RunMessageLoop() {
    if (frame_) QApplication::exec();
}

void QtFrontEnd::ShowMessage(std::string_view text) {
    // From any thread: the box is raised on the window's thread, and the
    // caller goes on at once.
    QMetaObject::invokeMethod(
        qApp,
        [this, message = FromFileText(text)] {
            if (frame_) prompts_.Information(frame_.get(), message);
        },
        Qt::QueuedConnection);
}

void QtFrontEnd::ShowMessageAndWait(std::string_view text) {
    // No window and no server run yet, so nothing needs an orderly stop:
    // SIGTERM and SIGINT (a pending one too) end the process at once, also
    // while the box waits for its OK.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    if (!QApplication::instance()) application_ = std::make_unique<QApplication>(argc_, argv_);
    prompts_.Information(nullptr, FromFileText(text));
}

void QtFrontEnd::DestroyMainWindow() {
    signal_watch_.reset();
    control_watch_.reset();
    frame_.reset();
}

}  // namespace quorvex::gui
