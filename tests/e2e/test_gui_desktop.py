"""The window on a desktop (Xvfb, the openbox window manager, Qt's xcb
platform, driven with xdotool), without a tray and with one (trayer): a
locked window asks for the administrator password however it comes back
and stays unusable until the password is given, and so does a dialog open
when it locked. The tools come from packaging/apt/test-gui.txt."""
import os
import subprocess
import sys
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
from quorvex_program import ProgramFolder, wait_until  # noqa: E402
from test_gui_program import send_command  # noqa: E402

# HashAccountPassword("secret", 1): the administrator password "secret".
SECRET_DIGEST = "0WR/CTo.jxR.o15hUyHYb/"


class Desktop:
    """Xvfb on a free display number (it picks one itself) and openbox."""

    def __init__(self, runtime):
        os.mkdir(runtime, 0o700)
        read, write = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0",
                                        "1280x1024x24"], pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as number:
            self.display = ":" + number.readline().strip()
        self.env = {"DISPLAY": self.display, "QT_QPA_PLATFORM": "xcb", "XDG_RUNTIME_DIR": str(runtime)}
        self.manager = subprocess.Popen(["openbox", "--sm-disable"], env=dict(os.environ, **self.env),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: "window id" in self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"), 20,
                   "the window manager")
        self.tray = None

    def start_tray(self):
        # trayer's panel now and then stays unmapped when it starts while
        # the window manager is still settling: it is started again until
        # its window shows.
        started = [0.0]

        def shown():
            if self.tray is not None and time.monotonic() - started[0] > 5:
                self.tray.terminate()
                self.tray.wait(timeout=10)
                self.tray = None
            if self.tray is None:
                self.tray = subprocess.Popen(["trayer", "--edge", "top"], env=dict(os.environ, **self.env),
                                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                started[0] = time.monotonic()
            return self.run("xdotool", "search", "--onlyvisible", "--class", "trayer")
        wait_until(shown, 60, "the tray")

    def run(self, *command):
        done = subprocess.run(command, env=dict(os.environ, **self.env), capture_output=True, timeout=20)
        return done.stdout.decode(errors="replace")

    def windows(self, name, visible=True):
        """Ids of the windows whose whole title is `name`."""
        return self.run("xdotool", "search", *(["--onlyvisible"] * visible), "--name", "^%s$" % name).split()

    def viewable(self, window):
        return "IsViewable" in self.run("xwininfo", "-id", window)


@pytest.fixture
def desktop(tmp_path):
    screen = Desktop(tmp_path / "runtime")
    yield screen
    for process in filter(None, (screen.tray, screen.manager, screen.server)):
        process.terminate()
        process.wait(timeout=10)


def test_a_locked_window_asks_for_the_password_however_it_comes_back(tmp_path, desktop):
    home = ProgramFolder(tmp_path)
    home.set("System", "AutoLock", 1)  # starts locked: minimised, no tray here
    home.set("System", "Password", SECRET_DIGEST)
    with home.start(extra_env=desktop.env) as program:
        program.wait_serving()
        title = " QuorvexServer 5.3"
        frame = wait_until(lambda: desktop.windows(title, visible=False), 30, "the main window")[0]
        wait_until(lambda: not desktop.viewable(frame), 10, "the minimised start")
        ways_back = [
            ("the window manager activates it", lambda: desktop.run("xdotool", "windowactivate", frame)),
            ("it is un-minimised", lambda: desktop.run("xdotool", "windowmap", frame)),
            ("a second start asks to show it", lambda: send_command(home.path, "SHOW")),
        ]
        for way, bring_back in ways_back:
            bring_back()
            gate = wait_until(lambda: desktop.windows("Log on"), 20, "the Log on dialog when " + way)[0]
            desktop.run("xdotool", "windowactivate", "--sync", gate, "key", "Escape")
            wait_until(lambda: not desktop.windows("Log on") and not desktop.viewable(frame), 20,
                       "the window down again after a cancelled Log on when " + way)

        # The password opens it; then it answers its keys (Insert: a new account).
        desktop.run("xdotool", "windowactivate", frame)
        gate = wait_until(lambda: desktop.windows("Log on"), 20, "the Log on dialog")[0]
        desktop.run("xdotool", "windowactivate", "--sync", gate, "type", "secret")
        desktop.run("xdotool", "key", "Return")
        wait_until(lambda: not desktop.windows("Log on") and desktop.viewable(frame), 20, "the unlocked window")
        assert not desktop.windows("Account")
        desktop.run("xdotool", "windowactivate", "--sync", frame, "key", "Insert")
        wait_until(lambda: desktop.windows("Account"), 20, "the new-account sheet")
        assert program.process.poll() is None


def test_a_dialog_open_when_the_window_locks_goes_with_it(tmp_path, desktop):
    desktop.start_tray()
    home = ProgramFolder(tmp_path)
    home.set("System", "AutoLock", 1)  # no password set: the empty one opens it
    with home.start(extra_env=desktop.env) as program:
        program.wait_serving()

        def log_on():
            send_command(home.path, "SHOW")
            gate = wait_until(lambda: desktop.windows("Log on"), 30, "the Log on dialog")[0]
            desktop.run("xdotool", "windowactivate", "--sync", gate, "key", "Return")
            return wait_until(lambda: desktop.windows(" QuorvexServer 5.3"), 20, "the window, unlocked")[0]
        frame = log_on()
        desktop.run("xdotool", "windowactivate", "--sync", frame, "key", "Insert")
        sheet = wait_until(lambda: desktop.windows("Account"), 20, "the new-account sheet")[0]
        desktop.run("xdotool", "windowactivate", "--sync", sheet, "type", "intruder")
        desktop.run("xdotool", "windowminimize", frame)  # it locks, and goes to the tray
        wait_until(lambda: not desktop.viewable(frame) and not desktop.windows("Account"), 20, "all out of sight")
        assert "Iconic" not in desktop.run("xprop", "-id", frame, "WM_STATE"), "in the tray, not minimised"
        for bring_back in ("windowactivate", "windowmap"):
            desktop.run("xdotool", bring_back, sheet)
            desktop.run("xdotool", "key", "Return")  # the sheet's OK, were it there
        log_on()
        assert not desktop.windows("Account") and not os.path.exists(os.path.join(home.path, "mail", "intruder"))
