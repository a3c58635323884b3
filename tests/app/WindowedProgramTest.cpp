// When a start hands over to the windowed program: only with a display
// that is there.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <fstream>

#include "app/WindowedProgram.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

namespace quorvex::app {
namespace {

using quorvex::testing::ScopedEnv;

TEST(WindowedProgram, OnlyADisplayThatIsThere) {
    quorvex::testing::TempFolder runtime;
    std::ofstream(runtime.File("wayland-7")) << "";
    struct Case {
        std::optional<std::string> display, wayland, platform;
        bool available;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, false},
        {std::string(":987654"), std::nullopt, std::nullopt, false},       // no such X server here
        {std::string("unix:987654.0"), std::nullopt, std::nullopt, false},
        {std::string("other.host:0"), std::nullopt, std::nullopt, true},   // over the network
        {std::string("nonsense"), std::nullopt, std::nullopt, false},
        {std::nullopt, std::string("wayland-7"), std::nullopt, true},
        {std::nullopt, std::string("wayland-8"), std::nullopt, false},
        {std::nullopt, runtime.File("wayland-7"), std::nullopt, true},
        {std::string(":987654"), std::nullopt, std::string("offscreen"), true},  // the platform is named
        {std::nullopt, std::nullopt, std::string("offscreen"), false},
    };
    for (const Case& c : cases) {
        ScopedEnv display("DISPLAY", c.display);
        ScopedEnv wayland("WAYLAND_DISPLAY", c.wayland);
        ScopedEnv platform("QT_QPA_PLATFORM", c.platform);
        ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path());
        EXPECT_EQ(DisplayAvailable(), c.available) << c.display.value_or("-") << " " << c.wayland.value_or("-");
    }
}

}  // namespace
}  // namespace quorvex::app
