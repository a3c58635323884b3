"""A client of the account server's line protocol, for the end-to-end tests.

Every connection carries one request named by its first line; replies are
CR LF lines beginning "+OK" or "-ERR". The helpers below speak the requests
as a web-mail front end does and return the server's lines untouched.
"""
import os
import poplib
import socket
import subprocess
import tempfile

ACCOUNT_TAGS = ["PASSWORD#", "USERNAME#", "COMMENT#", "POP3SERVER#", "POP3ACCOUNT#",
                "POP3MAIL#", "POP3PASSWORD#", "LEAVECOPY#"]


class _ClosedOnExit:
    """A `with` block closes the object (its close()) on the way out."""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Connection(_ClosedOnExit):
    """One connection to the account server."""

    def __init__(self, port, source="127.0.0.1", timeout=20):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout,
                                             source_address=(source, 0))
        self.buffer = b""

    def send(self, line):
        data = line if isinstance(line, bytes) else line.encode("latin-1")
        self.sock.sendall(data + b"\r\n")

    def read(self):
        """The next line without CR LF, or None when the server closed."""
        while b"\r\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                return None
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line.decode("latin-1")

    def ask(self, line):
        self.send(line)
        return self.read()

    def closed(self):
        """True when the server has closed the connection (nothing more to read)."""
        return self.read() is None

    def close(self):
        self.sock.close()


def pop3_count(port, user, password):
    """The number of messages a POP3 login of the account sees (poplib)."""
    client = poplib.POP3("127.0.0.1", port, timeout=20)
    try:
        client.user(user)
        client.pass_(password)
        return client.stat()[0]
    finally:
        client.quit()


def account_lines(password="", user_name="", comment="", pop3_server="", pop3_account="",
                  contact="", pop3_password="", leave_copy=0):
    values = [password, user_name, comment, pop3_server, pop3_account, contact, pop3_password,
              str(leave_copy)]
    return [tag + value for tag, value in zip(ACCOUNT_TAGS, values)]


def _send_account(port, first_line, **values):
    """The first line, then (once it is accepted) the account lines and
    QUIT, stopping at the first refusal; every reply line in order."""
    with Connection(port) as c:
        replies = [c.ask(first_line)]
        if replies[-1] != "+OK":
            return replies
        for line in account_lines(**values) + ["QUIT"]:
            replies.append(c.ask(line))
            if replies[-1] is None or replies[-1].startswith("-ERR"):
                break
        return replies


def signup(port, account, **values):
    """Runs a whole sign-up; returns every reply line in order."""
    return _send_account(port, "SIGNUP#" + account, **values)


def login(port, account, password):
    """The reply lines of a login (first reply, eight tagged lines, final +OK)."""
    with Connection(port) as c:
        first = c.ask("LOGIN#%s#%s" % (account, password))
        if first != "+OK":
            return [first]
        lines = [first]
        for _ in range(9):
            lines.append(c.read())
        return lines


def update(port, account, current_password, **values):
    """Runs a whole update of an account's values; every reply line in order."""
    return _send_account(port, "UPDATE#%s#%s" % (account, current_password), **values)


def delete(port, account, password, closing="QUIT"):
    with Connection(port) as c:
        replies = [c.ask("DELETE#%s#%s" % (account, password))]
        if replies[-1] == "+OK":
            replies.append(c.ask(closing))
        return replies


class TableSession(_ClosedOnExit):
    """An AUTH# session: log in once, then open tables and send commands."""

    def __init__(self, port, account, password):
        self.conn = Connection(port)
        self.login_reply = self.conn.ask("AUTH#%s#%s" % (account, password))

    def cmd(self, line):
        return self.conn.ask(line)

    def open(self, argument, table):
        return self.cmd("OPEN %s, %s" % (argument, table))

    def close(self):
        self.conn.close()


class AdminSession(_ClosedOnExit):
    """An ACCOUNT# or SYSADMIN# session."""

    def __init__(self, port, kind, account, password):
        self.conn = Connection(port)
        self.login_reply = self.conn.ask("%s#%s#%s" % (kind, account, password))

    def cmd(self, line):
        return self.conn.ask(line)

    def listing(self, line):
        """A command answered by a status line, data lines and "."."""
        status = self.conn.ask(line)
        lines = []
        if status is not None and status.startswith("+OK"):
            while True:
                row = self.conn.read()
                if row is None or row == ".":
                    break
                lines.append(row)
        return status, lines

    def close(self):
        self.conn.close()


def build_dir():
    return os.environ.get("QUORVEX_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "..", "build"))


class TestServer:
    """The account-server and POP3 listeners of a fresh program folder."""

    def __init__(self, config, accounts=None):
        self.temp = tempfile.TemporaryDirectory(prefix="quorvex-acct-")
        self.home = os.path.join(self.temp.name, "home")
        self.logs = os.path.join(self.temp.name, "log")
        os.makedirs(os.path.join(self.home, "mail"))
        os.makedirs(self.logs)
        config = config + "[Log]\r\nFilePath=%s\r\n" % self.logs
        with open(os.path.join(self.home, "config.ini"), "w", newline="") as f:
            f.write(config)
        for name, ini in (accounts or {}).items():
            folder = os.path.join(self.home, "mail", name)
            os.makedirs(folder)
            with open(os.path.join(folder, "maillist.ini"), "w", newline="") as f:
                f.write(ini)
        program = os.path.join(build_dir(), "tests", "account_test_server")
        self.process = subprocess.Popen([program, self.home], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        words = self.process.stdout.readline().decode().split()
        if len(words) != 4:
            self.stop()
            raise RuntimeError("the test server did not start")
        self.port, self.pop3_port = int(words[1]), int(words[3])

    def account_folder(self, name):
        return os.path.join(self.home, "mail", name)

    def read(self, *parts):
        with open(os.path.join(self.home, *parts), "rb") as f:
            return f.read().decode("latin-1")

    def system_log(self):
        text = ""
        for name in sorted(os.listdir(self.logs)):
            if name.startswith("syslog"):
                with open(os.path.join(self.logs, name), "rb") as f:
                    text += f.read().decode("latin-1")
        return text

    def stop(self):
        """Ends the server; its exit status (non-zero after a sanitizer
        report) is kept in returncode."""
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.returncode = self.process.returncode
        self.temp.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        if exc[0] is None:
            assert self.returncode == 0, "the test server exited with %d" % self.returncode


SINGLE_DOMAIN = "[System]\r\nDominame=example.test\r\nDomainNameType=0\r\n[WebMail]\r\nIP=127.0.0.1\r\n"

MULTI_DOMAIN = ("[System]\r\nDominame=a.test\r\nDomainNameType=1\r\n[WebMail]\r\nIP=127.0.0.1\r\n"
                "[DomainName]\r\nCount=2\r\nDN1=a.test\r\nDN2=b.test\r\n")


def account_ini(password, permission=0, volume=20):
    """A settings file with a plain stored password (the server accepts the
    stored text itself as the password)."""
    return ("[System]\r\nPassword=%s\r\nVolume=%d\r\nPermission=%d\r\nDisabled=0\r\n"
            % (password, volume, permission))
