"""A private Apache for the web tests: its own configuration file, a loopback
port from the test port allocator, worker processes of an unprivileged user
(www-data when the tests run as root), mod_php with FFI allowed in the
folders it serves, started and stopped with deadlines.

    with web_folder() as base, ApacheInstance(base) as apache:
        apache.serve("pages", folder)              # before start: Alias /pages
        apache.start()
        status, headers, body = apache.get("/pages/index.php")
        env = apache.environment()                 # QUORVEX_APACHE_CONF_DIR, QUORVEX_APACHECTL

Configuration files that the installer under test writes go into
`conf_folder` (QUORVEX_APACHE_CONF_DIR), which the instance includes;
`apachectl` (QUORVEX_APACHECTL) is a wrapper that runs this instance's
server binary with its configuration file, so "-t", "-t -D DUMP_RUN_CFG"
and "-k graceful" act on this instance only. When the test fails inside
the `with` block, the error log is printed (pytest shows it with the
failure).
"""
import glob
import grp
import http.client
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
from contextlib import contextmanager

sys.path.insert(0, os.path.dirname(__file__))
import test_ports  # noqa: E402
from quorvex_program import wait_until  # noqa: E402

APACHE_BINARY = "/usr/sbin/apache2"
MODULE_FOLDER = "/usr/lib/apache2/modules"
MIME_TYPES = "/etc/mime.types"

# Modules of a default instance; "php" is the mod_php library found in the
# module folder.
DEFAULT_MODULES = ("mpm_prefork", "authz_core", "alias", "dir", "mime", "headers", "php")

PORT_ATTEMPTS = 3


@contextmanager
def web_folder():
    """A fresh folder below /tmp that the web server's user can reach
    (pytest's own temporary folders sit below a folder only root may enter).
    Removed afterwards."""
    path = tempfile.mkdtemp(prefix="quorvex-web-", dir="/tmp")
    os.chmod(path, 0o755)
    try:
        yield path
    finally:
        shutil.rmtree(path, ignore_errors=True)


def worker_user():
    """(user, group) the workers run as, or None when the tests do not run
    as root (Apache then keeps the invoking user)."""
    if os.geteuid() != 0:
        return None
    for name in ("www-data", "daemon", "nobody"):
        try:
            user = pwd.getpwnam(name)
        except KeyError:
            continue
        return name, grp.getgrgid(user.pw_gid).gr_name
    return None


def php_module():
    found = sorted(glob.glob(os.path.join(MODULE_FOLDER, "libphp*.so")))
    if not found:
        raise RuntimeError("mod_php is not installed (package libapache2-mod-php)")
    return found[-1]


def module_line(name):
    if name == "php":
        return "LoadModule php_module %s" % php_module()
    return "LoadModule %s_module %s/mod_%s.so" % (name, MODULE_FOLDER, name)


class ApacheInstance:
    def __init__(self, root, modules=DEFAULT_MODULES, extra_config=""):
        self.root = os.path.join(str(root), "apache")
        self.conf_folder = os.path.join(self.root, "conf.d")
        self.config = os.path.join(self.root, "httpd.conf")
        self.error_log_path = os.path.join(self.root, "logs", "error.log")
        self.output_path = os.path.join(self.root, "logs", "server-output.log")
        self.pid_file = os.path.join(self.root, "run", "httpd.pid")
        self.apachectl = os.path.join(self.root, "apachectl")
        self.modules = tuple(modules)
        self.extra_config = extra_config
        self.served = []  # (url path, folder, script)
        self.process = None
        self.port = None
        for folder in (self.conf_folder, os.path.dirname(self.error_log_path), os.path.dirname(self.pid_file),
                       os.path.join(self.root, "htdocs")):
            os.makedirs(folder, exist_ok=True)
        os.chmod(self.root, 0o755)
        self.write_wrapper()

    # --- configuration -------------------------------------------------

    def serve(self, url_name, folder, script=True):
        """Publishes `folder` as /<url_name> (PHP pages with FFI when
        `script`); takes effect at the next start or reload."""
        self.served.append((url_name, folder, script))
        if self.process is not None:
            self.write_config()

    def write_wrapper(self):
        with open(self.apachectl, "w") as f:
            f.write("#!/bin/sh\n"
                    "# apachectl of the private test instance: its own binary and configuration only.\n"
                    "unset LD_PRELOAD\n"
                    "exec %s -f %s \"$@\"\n" % (APACHE_BINARY, self.config))
        os.chmod(self.apachectl, 0o755)

    def write_config(self):
        lines = [
            'ServerRoot "%s"' % self.root,
            'PidFile "%s"' % self.pid_file,
            'Mutex file:%s default' % os.path.dirname(self.pid_file),
            'ErrorLog "%s"' % self.error_log_path,
            "LogLevel warn",
            "Listen 127.0.0.1:%d" % self.port,
            "ServerName 127.0.0.1",
            "Timeout 30",
            "StartServers 2",
            "MaxRequestWorkers 16",
        ]
        user = worker_user()
        if user:
            lines += ["User %s" % user[0], "Group %s" % user[1]]
        lines += [module_line(name) for name in self.modules]
        lines += [
            'TypesConfig "%s"' % MIME_TYPES,
            'DocumentRoot "%s"' % os.path.join(self.root, "htdocs"),
            "<Directory />",
            "    AllowOverride None",
            "    Require all denied",
            "</Directory>",
            # An empty document root: a path that nothing serves is a 404.
            '<Directory "%s">' % os.path.join(self.root, "htdocs"),
            "    Require all granted",
            "</Directory>",
        ]
        if "php" in self.modules:
            lines += ['<FilesMatch ".+\\.php$">', "    SetHandler application/x-httpd-php", "</FilesMatch>"]
        for url_name, folder, script in self.served:
            lines += ['Alias /%s "%s"' % (url_name, folder), '<Directory "%s">' % folder,
                      "    Options None", "    Require all granted"]
            if script and "php" in self.modules:
                # As in the installer's "mail" directory: FFI for the pages,
                # multipart bodies left for the component to read.
                lines += ["    php_admin_value ffi.enable 1",
                          '    <If "%{HTTP:Content-Type} =~ m#^multipart/form-data#i">',
                          "        php_admin_flag enable_post_data_reading off",
                          "    </If>"]
            lines += ["</Directory>"]
        if self.extra_config:
            lines.append(self.extra_config)
        lines.append('IncludeOptional "%s/*.conf"' % self.conf_folder)
        with open(self.config, "w") as f:
            f.write("\n".join(lines) + "\n")

    def environment(self):
        """The installer's variables pointed at this instance."""
        return {"QUORVEX_APACHE_CONF_DIR": self.conf_folder, "QUORVEX_APACHECTL": self.apachectl}

    # --- running -------------------------------------------------------

    def start(self, timeout=20.0):
        for attempt in range(PORT_ATTEMPTS):
            self.port = test_ports.take_one()
            self.write_config()
            check = subprocess.run([self.apachectl, "-t"], capture_output=True, timeout=timeout)
            if check.returncode != 0:
                raise AssertionError("the test configuration is refused: %r" % (check.stderr,))
            env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
            with open(self.output_path, "ab") as output:
                self.process = subprocess.Popen([APACHE_BINARY, "-f", self.config, "-D", "FOREGROUND"], env=env,
                                                stdout=output, stderr=output, start_new_session=True)
            ended = []

            def ready():
                if self.process.poll() is not None:
                    ended.append(self.process.returncode)
                    return True
                return os.path.exists(self.pid_file) and self.accepts()
            try:
                wait_until(ready, timeout, "the private Apache on port %d" % self.port)
            except AssertionError:
                self.kill()
                raise AssertionError("the private Apache did not start:\n" + self.logs())
            if not ended:
                return self
            self.process = None
            if "Address already in use" not in self.logs() or attempt + 1 == PORT_ATTEMPTS:
                raise AssertionError("the private Apache ended at start:\n" + self.logs())
        return self

    def accepts(self):
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                return True
        except OSError:
            return False

    def stop(self, timeout=20.0):
        """SIGTERM to the server; waits for it and its workers to end."""
        if self.process is None:
            return
        def ended():
            # A SIGTERM that arrives while Apache is between the two halves
            # of a graceful restart (the program reloads it after writing
            # its web directories) is lost: it is sent again until the
            # server goes.
            if self.process.poll() is not None:
                return True
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=1.0)
                return True
            except subprocess.TimeoutExpired:
                return False
        try:
            wait_until(ended, timeout, "the private Apache to stop")
            wait_until(lambda: not self.group_alive(), timeout, "the Apache workers to end")
        except (subprocess.TimeoutExpired, AssertionError):
            self.kill()
            raise AssertionError("the private Apache did not stop within %.0f s:\n%s" % (timeout, self.logs()))
        finally:
            self.process = None

    def group_alive(self):
        try:
            os.killpg(self.process.pid, 0)
            return True
        except ProcessLookupError:
            return False
        except PermissionError:
            return True

    def kill(self):
        """Ends the server and its workers at once (its own process group)."""
        if self.process is None:
            return
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait()

    def reload(self, timeout=20.0):
        """Graceful restart through the wrapper, as the installer does it."""
        result = subprocess.run([self.apachectl, "-k", "graceful"], capture_output=True, timeout=timeout)
        assert result.returncode == 0, result.stderr

    # --- requests ------------------------------------------------------

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def get(self, path, timeout=10.0):
        """(status, headers as a dict with lower-case names, body bytes)."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request("GET", path)
            response = connection.getresponse()
            return response.status, {k.lower(): v for k, v in response.getheaders()}, response.read()
        finally:
            connection.close()

    def wait_for(self, path, predicate, timeout=20.0):
        """Requests `path` until predicate(status, headers, body) holds (a
        graceful reload takes effect a moment after it was asked for)."""
        seen = []

        def check():
            answer = self.get(path)
            seen[:] = [answer]
            return predicate(*answer)
        try:
            wait_until(check, timeout, "GET %s to change" % path)
        except AssertionError:
            raise AssertionError("GET %s: last answer %r\n%s" % (path, seen[0][:2] if seen else None, self.logs()))
        return seen[0]

    # --- diagnostics ---------------------------------------------------

    def logs(self):
        text = ""
        for path in (self.error_log_path, self.output_path):
            if os.path.exists(path):
                with open(path, "rb") as f:
                    text += "--- %s\n%s" % (path, f.read().decode("utf-8", "replace"))
        return text

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, tb):
        if exc_type is not None:
            print(self.logs())
            self.kill()
        else:
            self.stop()
