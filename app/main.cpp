// QuorvexServer: the mail server program.
//   QuorvexServer              run; on a desktop with the administration window
//                              (QuorvexServerGui takes over the process)
//   QuorvexServer -service     run under systemd (readiness by sd_notify)
//   QuorvexServer -install     install, enable and start the systemd service
//   QuorvexServer -uninstsvr   remove the service, then run
//   QuorvexServer -uninstall   remove the service and what set-up installed
//   QuorvexServer -update      make the running instance reload config.ini
#include <string>
#include <vector>

#include "app/QuorvexServerApp.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    quorvex::app::CQuorvexServerApp app;
    return app.Run(arguments);
}
