"""Runs the real QuorvexServer program on a temporary program folder.

The folder is made from the demo template (data/demo: domain example.test,
account "demo" with password "demo"), with free loopback ports written into
its config.ini. Every wait has a deadline; nothing sleeps a fixed time.
"""
import os
import shutil
import signal
import socket
import subprocess
import time

BUILD = os.environ.get("QUORVEX_BUILD_DIR", "")
SOURCE = os.environ.get("QUORVEX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..", ".."))
PROGRAM = os.path.join(BUILD, "app", "QuorvexServer")
DEMO = os.path.join(SOURCE, "data", "demo")


def free_ports(count):
    """Ports the kernel just handed out on 127.0.0.1 (closed again)."""
    holders, ports = [], []
    for _ in range(count):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        holders.append(s)
        ports.append(s.getsockname()[1])
    for s in holders:
        s.close()
    return ports


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
        self.config = os.path.join(self.path, "config.ini")
        self.smtp, self.pop3, self.admin = free_ports(3)
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
        env.pop("NOTIFY_SOCKET", None)
        if extra:
            env.update(extra)
        return env

    def run(self, *arguments, extra_env=None, timeout=60):
        """Runs the program to its end; returns the completed process."""
        return subprocess.run([PROGRAM, *arguments], env=self.environment(extra_env), capture_output=True,
                              timeout=timeout)

    def start(self, *arguments, extra_env=None):
        return RunningProgram(self, arguments, extra_env)

    def system_log(self):
        text = ""
        folder = os.path.join(self.path, "log")
        if os.path.isdir(folder):
            for name in sorted(os.listdir(folder)):
                if name.startswith("syslog"):
                    with open(os.path.join(folder, name), "rb") as f:
                        text += f.read().decode("latin-1")
        return text


class RunningProgram:
    def __init__(self, folder, arguments, extra_env):
        self.folder = folder
        self.process = subprocess.Popen([PROGRAM, *arguments], env=folder.environment(extra_env),
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def wait_serving(self, timeout=30.0):
        def ready():
            if self.process.poll() is not None:
                raise AssertionError("the program ended early: %r" % (self.process.communicate(),))
            return all(accepts(p) for p in (self.folder.smtp, self.folder.pop3, self.folder.admin))
        wait_until(ready, timeout, "the three listeners")
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
