// The hand-over from the headless program to the windowed one. A start
// that would show the window (no switch, or "-uninstsvr") on a desktop
// (DISPLAY or WAYLAND_DISPLAY set) replaces this process with
// QuorvexServerGui, the same program with its administration window: the
// headless program itself never loads the window library.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvex::app {

inline constexpr std::string_view kWindowedProgramName = "QuorvexServerGui";

// True when the environment names a display that is there to open a
// window on: a Wayland socket that exists, an X display whose local socket
// exists (or on another host), or any display when QT_QPA_PLATFORM names
// the window system itself. A stale DISPLAY keeps the program headless
// instead of ending it.
bool DisplayAvailable();

// Where the windowed program is: beside this program's file, else in the
// installed helper folder. Empty when there is none.
std::string WindowedProgramPath();

// Runs the windowed program in place of this process with the same
// arguments (and QUORVEX_HOME set to this program's folder, so both run on
// one folder). Returns only when that failed, after a line on standard
// error; the caller then runs headless.
void ExecWindowedProgram(const std::vector<std::string>& arguments);

}  // namespace quorvex::app
