"""The program with and without its window: a start without a display and
"-service" never map a Qt library; a start on a display (the offscreen Qt
platform here) hands the same process over to QuorvexServerGui, which
serves mail, answers the control socket ("SHOW" from a second start,
"-update") and stops in order on SIGTERM. A second start's message box
ends on a stop signal, and the web component's configuration follows the
ports the listeners start on."""
import os
import signal
import smtplib
import socket
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
from quorvex_program import ProgramFolder, wait_until  # noqa: E402

DISPLAY_ENV = {"DISPLAY": ":424242", "QT_QPA_PLATFORM": "offscreen", "XDG_RUNTIME_DIR": "/tmp"}


def mapped_files(pid):
    with open("/proc/%d/maps" % pid) as f:
        return {line.split()[-1] for line in f if len(line.split()) >= 6}


def qt_libraries(pid):
    return sorted(path for path in mapped_files(pid) if "libQt" in os.path.basename(path))


def program_name(pid):
    with open("/proc/%d/cmdline" % pid, "rb") as f:
        return os.path.basename(f.read().split(b"\0")[0].decode())


def send_command(folder, command):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(10)
    # The instance's control socket, a file in its program folder (reached
    # through a handle on the folder where the path is too long for an
    # address).
    handle = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        s.connect("/proc/self/fd/%d/QuorvexServer.sock" % handle)
    finally:
        os.close(handle)
    s.sendall(command.encode() + b"\n")
    answer = s.makefile("rb").readline()
    s.close()
    return answer.strip().decode()


def test_headless_starts_map_no_qt(tmp_path):
    home = ProgramFolder(tmp_path)
    for arguments in ((), ("-service",)):
        with home.start(*arguments) as program:
            program.wait_serving()
            assert qt_libraries(program.process.pid) == []
            assert program_name(program.process.pid) == "QuorvexServer"
            code, _, _, _ = program.stop()
        assert code == 0


def test_a_display_start_runs_the_window_in_the_same_process(tmp_path):
    home = ProgramFolder(tmp_path)
    home.set("System", "AllHide", 1)
    with home.start(extra_env=DISPLAY_ENV) as program:
        program.wait_serving()
        pid = program.process.pid
        wait_until(lambda: program_name(pid) == "QuorvexServerGui", 20, "the windowed program")
        assert qt_libraries(pid), "the windowed program maps Qt"
        with smtplib.SMTP("127.0.0.1", home.smtp, timeout=10) as client:
            assert client.ehlo("e2e.client")[0] == 250

        # A second start (headless) finds the instance, asks it to show its
        # window and ends.
        second = home.run(timeout=30)
        assert second.returncode == 1
        assert b"Another instance of QuorvexServer is running." in second.stderr
        assert send_command(home.path, "SHOW") == "OK"

        # "-update" makes the window's process reload its settings.
        update = home.run("-update", timeout=30)
        assert update.returncode == 0, update.stderr
        wait_until(lambda: "Settings reloaded from" in home.system_log(), 10, "the reload line")
        assert program.process.poll() is None

        code, seconds, _, _ = program.stop()
    assert code == 0
    assert seconds < 8
    assert "QuorvexServer stops on signal" in home.system_log()
    assert "QuorvexServer stopped." in home.system_log()


def test_a_second_start_with_its_box_open_ends_on_a_stop_signal(tmp_path):
    home = ProgramFolder(tmp_path)
    home.set("System", "AllHide", 1)
    with home.start(extra_env=DISPLAY_ENV) as program:
        program.wait_serving()
        # The second start's "Another instance ..." box waits for an OK; a stop signal ends it.
        home.set("System", "AllHide", 0)
        for number, stop in enumerate((signal.SIGTERM, signal.SIGINT), 1):
            with home.start(extra_env=DISPLAY_ENV) as second:
                wait_until(lambda: home.system_log().count("Another instance of QuorvexServer") == number, 20,
                           "the second start's message")
                assert second.process.poll() is None, "the box waits for its OK"
                second.process.send_signal(stop)
                assert second.process.wait(timeout=10) == -stop
        assert program.process.poll() is None
        code, _, _, _ = program.stop()
    assert code == 0


def test_the_web_component_is_given_the_ports_the_listeners_start_on(tmp_path):
    home = ProgramFolder(tmp_path)
    com = os.path.join(home.path, "QuorvexCOM.ini")  # written before the ports changed
    with open(com, "wb") as f:
        f.write(b"[system]\r\nLanguage=English\r\n[Port]\r\nSMTP=2\r\nPOP3=3\r\nAdmin=4\r\n")
    with home.start() as program:
        program.wait_serving()

        def written():
            with open(com, "rb") as f:
                text = f.read().decode()
            ports = (("SMTP", home.smtp), ("POP3", home.pop3), ("Admin", home.admin))
            return all("%s=%d\r\n" % (key, port) in text for key, port in ports) and text
        assert "Language=English\r\n" in wait_until(written, 10, "the ports in QuorvexCOM.ini")
        code, _, _, _ = program.stop()
    assert code == 0
