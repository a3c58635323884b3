"""A program folder that has never been set up, for the first-run tests.

The folder holds only a config.ini (domain example.test, loopback ports from
the test port allocator) and, as an installation puts them there, the web
directory installer Vendrel.so and a web-mail component (the registration
test fixture, or the real library). Everything set-up touches outside the
folder is pointed below the test's own folder: HOME and the XDG folders
(desktop and autostart entries), the system's ODBC ini files (a copy of the
system's driver list, no data source) and the web server's configuration (a private
Apache). The program runs without a display unless asked otherwise.
"""
import grp
import os
import shutil
import stat
import sys

sys.path.insert(0, os.path.dirname(__file__))
import test_ports  # noqa: E402
from quorvex_program import ProgramFolder  # noqa: E402

BUILD = os.environ.get("QUORVEX_BUILD_DIR", "")
VENDREL = os.path.join(BUILD, "vdirinstall", "Vendrel.so")
COM_FIXTURE = os.path.join(BUILD, "tests", "libcom_fixture_full.so")


class FreshInstall(ProgramFolder):
    # Runs like a ProgramFolder, but is not made from the demo template.
    def __init__(self, base, apache, component=COM_FIXTURE, config=None):
        """`base`: a folder the web server may enter; `apache`: the private
        ApacheInstance whose configuration folder the installer writes to."""
        self.base = str(base)
        self.path = os.path.join(self.base, "home")
        os.makedirs(self.path)
        os.chmod(self.path, 0o700)  # set-up lets the web server in
        self.config = os.path.join(self.path, "config.ini")
        with open(self.config, "wb") as f:
            f.write(b"[System]\r\nDominame=example.test\r\n")
        for section, key, value in config or []:
            self.set(section, key, value)
        self.pick_ports()
        if VENDREL:
            shutil.copy(VENDREL, os.path.join(self.path, "Vendrel.so"))
        if component:
            shutil.copy(component, os.path.join(self.path, "QuorvexCOM.so"))
        self.odbc = os.path.join(self.base, "odbc")
        os.makedirs(self.odbc)
        shutil.copy("/etc/odbcinst.ini", os.path.join(self.odbc, "odbcinst.ini"))
        open(os.path.join(self.odbc, "odbc.ini"), "w").close()
        self.user_home = os.path.join(self.base, "user")
        self.fixture_log = os.path.join(self.base, "fixture.log")
        self.apache = apache

    def pick_ports(self):
        self.smtp, self.pop3, self.admin = test_ports.take(3)
        self.set("Port", "SMTP", self.smtp)
        self.set("Port", "POP3", self.pop3)
        self.set("Port", "Admin", self.admin)

    def file(self, *names):
        return os.path.join(self.path, *names)

    def read(self, *names):
        with open(self.file(*names), "rb") as f:
            return f.read()

    def environment(self, extra=None):
        env = {k: v for k, v in os.environ.items()
               if k not in ("NOTIFY_SOCKET", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LD_PRELOAD")}
        env.update({
            "QUORVEX_HOME": self.path,
            "HOME": self.user_home,
            "XDG_CONFIG_HOME": os.path.join(self.user_home, ".config"),
            "ODBCSYSINI": self.odbc,
            "QUORVEX_COM_FIXTURE_LOG": self.fixture_log,
            "TZ": "UTC0",
        })
        env.update(self.apache.environment())
        env.update(extra or {})
        return env

    def odbc_environment(self):
        return {k: v for k, v in self.environment().items() if k in ("ODBCSYSINI", "ODBCINI", "HOME", "PATH")}

    def fixture_calls(self):
        if not os.path.exists(self.fixture_log):
            return []
        with open(self.fixture_log) as f:
            return f.read().split()

    def mode(self, *names):
        """(permission bits, group name) of a file or folder."""
        st = os.lstat(self.file(*names))
        return stat.S_IMODE(st.st_mode), grp.getgrgid(st.st_gid).gr_name


def read_ini(path):
    """{(section, key): value} with lower-case names, as the profile layer reads them."""
    values, section = {}, ""
    with open(path, "rb") as f:
        for line in f.read().decode("latin-1").splitlines():
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1].lower()
            elif "=" in line:
                key, value = line.split("=", 1)
                values.setdefault((section, key.strip().lower()), value)
    return values
