// QuorvexServerGui: the mail server with its administration window. The
// headless QuorvexServer hands a start on a desktop over to this program;
// it takes the same switches and runs the same application object, with the
// window's message loop in place of the headless one.
#include <string>
#include <vector>

#include "app/QuorvexServerApp.h"
#include "gui/QtFrontEnd.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    quorvex::app::CQuorvexServerApp app(std::make_unique<quorvex::gui::QtFrontEnd>(argc, argv));
    return app.Run(arguments);
}
