"""QuorvexServer under a service manager: readiness over NOTIFY_SOCKET,
"-install", "-uninstsvr" and "-uninstall" with an injected unit folder and
a stand-in systemctl that records its arguments."""
import os
import pathlib
import socket
import stat
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
from quorvex_program import PROGRAM, ProgramFolder, accepts, run_with_port_taken, started, wait_until  # noqa: E402


def notify_socket(tmp_path):
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    path = str(tmp_path / "notify.sock")
    listener.bind(path)
    listener.settimeout(30)
    return listener, path


def test_readiness_is_sent_only_once_all_three_listeners_accept(tmp_path):
    home = ProgramFolder(tmp_path)
    listener, path = notify_socket(tmp_path)
    listener.settimeout(0.05)
    for attempt in range(3):
        program = home.start("-service", extra_env={"NOTIFY_SOCKET": path})
        message = wait_until(lambda: receive_or_end(listener, program), 30, "readiness")
        if message != "ended":
            break
        # Another process took a port between the pick and the bind.
        assert b"could not be opened" in program.process.communicate()[1]
        home.pick_ports()
    with program:
        assert message == b"READY=1"
        # At the moment of readiness every port already takes connections.
        assert accepts(home.smtp) and accepts(home.pop3) and accepts(home.admin)
        code, seconds, _, _ = program.stop()
        assert wait_until(lambda: receive_or_end(listener, None), 10, "STOPPING=1") == b"STOPPING=1"
    assert code == 0
    assert seconds < 8


def receive_or_end(listener, program):
    """A datagram, "ended" when the program has ended, or None."""
    try:
        return listener.recv(256)
    except socket.timeout:
        if program is not None and program.process.poll() is not None:
            return "ended"
        return None


def test_no_readiness_when_a_listener_cannot_start(tmp_path):
    home = ProgramFolder(tmp_path)
    listener, path = notify_socket(tmp_path)
    result, _ = run_with_port_taken(home, "admin", "-service", extra_env={"NOTIFY_SOCKET": path})
    assert result.returncode != 0
    assert b"Fail to start account server." in result.stderr
    listener.setblocking(False)
    messages = []
    while True:
        try:
            messages.append(listener.recv(256))
        except BlockingIOError:
            break
    assert messages == []  # neither READY=1 nor STOPPING=1


class FakeSystemd:
    """A unit folder and a systemctl stand-in that logs each call; its
    service runs once started when `active`, and never otherwise."""

    def __init__(self, tmp_path, active=True, enable=":"):
        self.units = tmp_path / "units"
        self.units.mkdir()
        self.log = tmp_path / "systemctl.log"
        self.state = tmp_path / "systemctl.state"  # "active" while the stand-in's service runs
        self.script = tmp_path / "systemctl"
        self.script.write_text(
            "#!/bin/sh\n"
            "echo \"$*\" >> '%s'\n"
            # The state queries warn on standard error, as systemctl does
            # after a unit file changed: only their standard output counts.
            "warn() { echo 'Warning: the unit file changed on disk.' >&2; }\n"
            "case \"$1\" in show) warn; echo loaded ;; enable) %s ;;\n"
            "  start) %s ;; stop) rm -f '%s' ;;\n"
            "  is-active) warn; cat '%s' 2>/dev/null || echo inactive ;; esac\n"
            % (self.log, enable, "echo active > '%s'" % self.state if active else ":", self.state, self.state))
        self.script.chmod(self.script.stat().st_mode | stat.S_IXUSR)

    def env(self):
        return {"QUORVEX_SYSTEMD_UNIT_DIR": str(self.units), "QUORVEX_SYSTEMCTL": str(self.script)}

    def calls(self):
        return self.log.read_text().splitlines() if self.log.exists() else []

    def unit(self):
        return self.units / "QuorvexServer.service"


def test_install_writes_and_enables_the_unit(tmp_path):
    home = ProgramFolder(tmp_path)
    systemd = FakeSystemd(tmp_path, active=False)
    # Run from a desktop's terminal, on a folder that never said AutoRun.
    config = pathlib.Path(home.config)
    config.write_bytes(config.read_bytes().replace(b"AutoRun=0\r\n", b""))
    result = home.run("-install", extra_env=dict(systemd.env(), DISPLAY=":0", QT_QPA_PLATFORM="offscreen"))
    # One line says what was done; a service that never runs fails the
    # installation.
    assert result.returncode == 1, result.stderr
    done = ("QuorvexServer: The service unit %s for %s was written and enabled; the service did not start "
            "(systemctl status QuorvexServer.service tells why).\n" % (systemd.unit(), home.path))
    assert result.stderr.decode().endswith(done)
    assert done.split(": ", 1)[1].rstrip("\n") in home.system_log()
    text = systemd.unit().read_text()
    assert 'ExecStart="%s" -service\n' % os.path.realpath(PROGRAM) in text
    assert 'Environment="QUORVEX_HOME=%s"\n' % home.path in text
    assert "Type=notify\n" in text
    calls = systemd.calls()
    assert "daemon-reload" in calls
    assert "enable QuorvexServer.service" in calls
    assert "start --no-block QuorvexServer.service" in calls
    # A system service: nothing of a desktop user's.
    assert b"NTService=1" in config.read_bytes() and b"AutoRun=0" in config.read_bytes()
    assert not os.path.exists(os.path.join(home.path, "xdg-config", "autostart"))
    if os.path.exists("/usr/bin/systemd-analyze"):
        verify = subprocess.run(["/usr/bin/systemd-analyze", "verify", "--man=no", str(systemd.unit())],
                                capture_output=True)
        assert b"QuorvexServer.service:" not in verify.stderr, verify.stderr


def test_a_failed_install_names_the_command_and_its_answer(tmp_path):
    home = ProgramFolder(tmp_path)
    systemd = FakeSystemd(tmp_path, enable="echo 'Failed to enable unit: Unit file is masked.' >&2; exit 1")
    result = home.run("-install", extra_env=systemd.env())
    assert result.returncode == 1
    assert result.stderr.decode().endswith(
        "QuorvexServer: The service could not be installed in %s: the command \"systemctl enable "
        "QuorvexServer.service\" failed (exit status 1): Failed to enable unit: Unit file is masked.\n" % systemd.units)
    assert not systemd.unit().exists()


def test_uninstsvr_stops_the_running_instance_removes_the_unit_and_runs(tmp_path):
    home = ProgramFolder(tmp_path)
    systemd = FakeSystemd(tmp_path)
    assert home.run("-install", extra_env=systemd.env()).returncode == 0
    with home.start() as first:
        first.wait_serving()
        with home.start("-uninstsvr", extra_env=systemd.env()) as second:
            # The first instance is asked to stop and ends cleanly.
            assert first.process.wait(timeout=20) == 0
            second.wait_serving()
            assert not systemd.unit().exists()
            calls = systemd.calls()
            assert "stop --no-block QuorvexServer.service" in calls
            assert "disable QuorvexServer.service" in calls
            with open(home.config, "rb") as f:
                assert b"RunAsService=0" in f.read()
            assert second.stop()[0] == 0


def test_uninstall_removes_the_service_and_marks_set_up_undone(tmp_path):
    home = ProgramFolder(tmp_path)
    systemd = FakeSystemd(tmp_path)
    home.set("System", "setup", "1")
    assert home.run("-install", extra_env=systemd.env()).returncode == 0
    # Another program folder's autostart entry of the same name stays.
    foreign = pathlib.Path(home.path, "xdg-config", "autostart", "QuorvexServer.desktop")
    foreign.parent.mkdir(parents=True)
    foreign.write_text("[Desktop Entry]\nType=Application\nPath=/srv/other-quorvex\n")
    result = home.run("-uninstall", extra_env=systemd.env())
    assert result.returncode == 0, result.stderr
    assert ": removed the service unit %s; kept the autostart entry %s (it starts another program folder); marked " \
           "the set-up" % (systemd.unit(), foreign) in result.stdout.decode()
    assert foreign.exists()
    assert not systemd.unit().exists()
    assert "disable QuorvexServer.service" in systemd.calls()
    with open(home.config, "rb") as f:
        text = f.read()
    assert b"setup=0" in text and b"RunAsService=0" in text
    # Mail and accounts stay.
    assert os.path.exists(os.path.join(home.path, "mail", "demo", "maillist.ini"))
    # Nothing is running afterwards: a fresh start takes the ports.
    with home.start() as program:
        program.wait_serving()
        assert program.stop()[0] == 0


def test_a_start_set_to_run_as_a_service_hands_the_run_to_systemd(tmp_path):
    home = ProgramFolder(tmp_path)
    systemd = FakeSystemd(tmp_path, active=False)
    home.set("System", "RunAsService", "1")
    result = home.run(extra_env=systemd.env())
    calls = systemd.calls()
    assert "stop --no-block QuorvexServer.service" in calls
    assert "start --no-block QuorvexServer.service" in calls
    # The stand-in never reports the service active: the start failed.
    assert result.returncode != 0
    assert not started(home.system_log())
