"""Runs the real QuorvexServer program on a temporary program folder.

The folder is made from the demo template (data/demo: domain example.test,
account "demo" with password "demo"), with ports of the test port allocator
written into its config.ini. Every wait has a deadline; nothing sleeps a fixed time.
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_ports  # noqa: E402

BUILD = os.environ.get("QUORVEX_BUILD_DIR", "")
SOURCE = os.environ.get("QUORVEX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..", ".."))
PROGRAM = os.path.join(BUILD, "app", "QuorvexServer")
DEMO = os.path.join(SOURCE, "data", "demo")

# The system log's start line: naming the web-mail address where it is
# published, or not.
STARTED_LINES = ("/mail start successfully.", "QuorvexServer started successfully.")


def started(log):
    """True when the log holds a start line."""
    return any(line in log for line in STARTED_LINES)


def wait_until(condition, timeout=20.0, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def set_ini(path, section, key, value):
    """Sets one key of an INI file (CR LF lines, names without case)."""
    with open(path, "rb") as f:
        lines = f.read().decode("latin-1").splitlines()
    out, current, done = [], None, False
    for line in lines:
        stripped = line.strip()
        if stripped.startswith("[") and stripped.endswith("]"):
            if current is not None and current.lower() == section.lower() and not done:
                out.append("%s=%s" % (key, value))
                done = True
            current = stripped[1:-1]
        elif current is not None and current.lower() == section.lower() and \
                stripped.split("=", 1)[0].strip().lower() == key.lower():
            if not done:
                out.append("%s=%s" % (key, value))
                done = True
            continue
        out.append(line)
    if not done:
        if current is None or current.lower() != section.lower():
            out.append("[%s]" % section)
        out.append("%s=%s" % (key, value))
    with open(path, "wb") as f:
        f.write(("\r\n".join(out) + "\r\n").encode("latin-1"))


class ProgramFolder:
    """A program folder made from the demo template in `root`."""

    def __init__(self, root):
        self.path = os.path.join(str(root), "home")
        shutil.copytree(DEMO, self.path)
        # The program starts only in a folder no other user may write to,
        # whatever umask the template was checked out with.
        os.chmod(self.path, os.stat(self.path).st_mode & 0o7755)
        self.config = os.path.join(self.path, "config.ini")
        # The system's ODBC files are the test's own: a data source of the
        # machine's /etc/odbc.ini would win over the folder's own odbc.ini.
        self.odbc = os.path.join(str(root), "odbc")
        os.makedirs(self.odbc, exist_ok=True)
        shutil.copy("/etc/odbcinst.ini", os.path.join(self.odbc, "odbcinst.ini"))
        open(os.path.join(self.odbc, "odbc.ini"), "a").close()
        self.pick_ports()

    def pick_ports(self):
        self.smtp, self.pop3, self.admin = test_ports.take(3)
        self.set("Port", "SMTP", self.smtp)
        self.set("Port", "POP3", self.pop3)
        self.set("Port", "Admin", self.admin)

    def set(self, section, key, value):
        set_ini(self.config, section, key, value)

    def environment(self, extra=None):
        env = dict(os.environ)
        env["QUORVEX_HOME"] = self.path
        # Desktop files and the user registry go below the test's folder.
        env["XDG_CONFIG_HOME"] = os.path.join(self.path, "xdg-config")
        env["HOME"] = self.path
        env["ODBCSYSINI"] = self.odbc
        # ...and publishes web directories: nowhere outside the test.
        env["QUORVEX_APACHE_CONF_DIR"] = os.path.join(self.odbc, "no-web-server")
        env.pop("NOTIFY_SOCKET", None)
        # Headless unless a test asks for a display: a start on a desktop
        # would hand over to the windowed program.
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        if extra:
            env.update(extra)
        return env

    def run(self, *arguments, extra_env=None, timeout=60):
        """Runs the program to its end; returns the completed process."""
        return subprocess.run([PROGRAM, *arguments], env=self.environment(extra_env), capture_output=True,
                              timeout=timeout)

    def start(self, *arguments, extra_env=None, **popen):
        """`popen`: more arguments of subprocess.Popen (user=, group=)."""
        return RunningProgram(self, arguments, extra_env, popen)

    def queued_records(self):
        """How many messages the outgoing queue holds."""
        folder = os.path.join(self.path, "smtp")
        count = 0
        for name in os.listdir(folder) if os.path.isdir(folder) else []:
            if name.endswith(".ini") and name[:-4].isdigit():
                try:
                    with open(os.path.join(folder, name), "rb") as f:
                        count += b"MailFile=mail" in f.read()
                except FileNotFoundError:  # sent and removed since the listing
                    pass
        return count

    def system_log(self):
        text = ""
        folder = os.path.join(self.path, "log")
        if os.path.isdir(folder):
            for name in sorted(os.listdir(folder)):
                if name.startswith("syslog"):
                    with open(os.path.join(folder, name), "rb") as f:
                        text += f.read().decode("latin-1")
        return text


def relay_to(home, port):
    """Sends the folder's outgoing mail to a relay on 127.0.0.1:`port`.
    Nothing beyond loopback: no DNS server is ever asked in relay mode. The
    demo delivers locally only: the folder becomes an Internet server."""
    home.set("System", "MailServerModel", "1")
    home.set("System", "MailRelayTo", "1")
    home.set("System", "RelayServer", "127.0.0.1")
    home.set("System", "RelayPort", port)
    home.set("System", "DNS", "127.0.0.1")
    home.set("System", "DNSSecondary", "127.0.0.1")


class RunningProgram:
    # Another process may take a port between the pick and the program's
    # bind; the program then ends with its port message and is started
    # again on fresh ports.
    PORT_ATTEMPTS = 3

    def __init__(self, folder, arguments, extra_env, popen=None):
        self.folder = folder
        self.arguments = arguments
        self.extra_env = extra_env
        self.popen = popen or {}
        self.launch()

    def launch(self):
        self.process = subprocess.Popen([PROGRAM, *self.arguments], env=self.folder.environment(self.extra_env),
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, **self.popen)

    def wait_serving(self, timeout=30.0):
        for attempt in range(self.PORT_ATTEMPTS):
            ended = []

            def ready():
                if self.process.poll() is not None:
                    ended.append(self.process.communicate())
                    return True
                return all(accepts(p) for p in (self.folder.smtp, self.folder.pop3, self.folder.admin))
            wait_until(ready, timeout, "the three listeners")
            if not ended:
                return self
            out, err = ended[0]
            if b"could not be opened" not in err or attempt + 1 == self.PORT_ATTEMPTS:
                raise AssertionError("the program ended early: %r" % ((out, err),))
            self.folder.pick_ports()
            self.launch()
        return self

    def stop(self, timeout=10.0):
        """SIGTERM; returns (exit code, seconds it took, stdout, stderr)."""
        started = time.monotonic()
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        out, err = self.process.communicate(timeout=timeout)
        return self.process.returncode, time.monotonic() - started, out, err

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.communicate()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()


def run_with_port_taken(home, which, *arguments, extra_env=None):
    """Runs the program while a listening socket holds its port `which`
    ("smtp", "pop3" or "admin"). Starts again on fresh ports when another
    process took one of the others in the meantime."""
    for attempt in range(3):
        port = getattr(home, which)
        blocker = socket.socket()
        blocker.bind(("127.0.0.1", port))
        blocker.listen(1)
        try:
            result = home.run(*arguments, extra_env=extra_env, timeout=30)
        finally:
            blocker.close()
        others = [getattr(home, name) for name in ("smtp", "pop3", "admin") if name != which]
        if attempt < 2 and any(("port %d could not be opened" % p).encode() in result.stderr for p in others):
            home.pick_ports()
            continue
        return result, port
