"""The real QuorvexServer on a temporary program folder with a copy of the
web-mail component beside it, as set-up leaves an installation: the
library, its QuorvexCOM.ini naming the server's ports, and the work root
"maildata" below the same folder.

In the sanitizer build CTest preloads the sanitizer runtime into Python
(so the sanitized library can be loaded) and names the options the
server itself runs with in QUORVEX_CHILD_ASAN_OPTIONS.
"""
import os
import shutil
import smtplib
import socket
import sys
import threading

sys.path.insert(0, os.path.dirname(__file__))
import account_client  # noqa: E402
import quorvex_program  # noqa: E402
import test_ports  # noqa: E402
import webcom_client  # noqa: E402

LIBRARY = os.path.join(quorvex_program.BUILD, "webcom", "QuorvexCOM.so")
HEADER = os.path.join(quorvex_program.SOURCE, "webcom", "QuorvexCOM.h")
PHP_CLASS = os.path.join(quorvex_program.SOURCE, "webcom", "php", "QuorvexCOM.php")
DOMAIN = "example.test"


def child_environment():
    """Environment additions for programs the tests start."""
    extra = {}
    if os.environ.get("LD_PRELOAD"):
        extra["LD_PRELOAD"] = ""
        extra["ASAN_OPTIONS"] = os.environ.get("QUORVEX_CHILD_ASAN_OPTIONS", "")
    return extra


def sanitized():
    return bool(os.environ.get("QUORVEX_CHILD_ASAN_OPTIONS"))


def write_com_ini(path, folder, extra=""):
    with open(path, "w", newline="") as f:
        f.write("[system]\r\nAdminServerAddr=127.0.0.1\r\nPOP3ServerAddr=127.0.0.1\r\n"
                "SMTPServerAddr=127.0.0.1\r\nDominame=%s\r\n%s"
                "[Port]\r\nSMTP=%d\r\nPOP3=%d\r\nAdmin=%d\r\n"
                % (DOMAIN, extra, folder.smtp, folder.pop3, folder.admin))


class Installation:
    """A running server and a loaded component in one program folder."""

    def __init__(self, root, library_name="QuorvexCOM.so", accounts=None):
        """`accounts`: account name -> maillist.ini text, made before the
        server starts (administrators, whom no sign-up makes)."""
        self.folder = quorvex_program.ProgramFolder(root)
        self.path = self.folder.path
        for name, ini in (accounts or {}).items():
            os.makedirs(os.path.join(self.path, "mail", name))
            with open(os.path.join(self.path, "mail", name, "maillist.ini"), "w", newline="") as f:
                f.write(ini)
        self.program = self.folder.start(extra_env=child_environment()).wait_serving()
        self.library = os.path.join(self.path, library_name)
        shutil.copy(LIBRARY, self.library)
        self.ini = os.path.splitext(self.library)[0] + ".ini"
        write_com_ini(self.ini, self.folder)
        self.work_root = os.path.join(self.path, "maildata")
        self.component = webcom_client.Component(self.library)

    def create(self, progid):
        return self.component.create(progid)

    def signup(self, account, password):
        """Signs the account up as a web user of its own would: one client
        address makes at most 10 accounts an hour."""
        self.signups = getattr(self, "signups", 0) + 1
        forwarded = "%s:192.0.2.%d" % (account, self.signups)
        replies = account_client.signup(self.folder.admin, forwarded, password=password)
        assert replies[-1] == "+OK", replies

    def send(self, recipient, message):
        data = message if isinstance(message, bytes) else message.encode("latin-1")
        with smtplib.SMTP("127.0.0.1", self.folder.smtp, timeout=30) as client:
            assert client.sendmail("sender@remote.test", [recipient], data) == {}

    def account_file(self, account, name="maillist.ini"):
        with open(os.path.join(self.path, "mail", account, name), "rb") as f:
            return f.read().decode("latin-1")

    def stop(self):
        code, _, _, err = self.program.stop(timeout=30)
        assert code == 0, err.decode("latin-1", "replace")[-3000:]


class RecordingPeer:
    """A stand-in server on a loopback port: it records every line it
    receives and answers each with `answer(line)` (None: no answer; a
    one-element tuple: that answer, then the connection closes); QUIT is
    answered and closes the connection. A greeting, when given, is sent
    first on every connection. A greeting or an answer that is a function
    takes the connection over: it is called with the socket, and the
    connection closes when it returns."""

    def __init__(self, answer=lambda line: "+OK", greeting=None):
        self.answer = answer
        self.greeting = greeting
        self.lines = []
        self.connections = 0
        for _ in range(5):
            self.port = test_ports.take_one()
            self.listener = socket.socket()
            try:
                self.listener.bind(("127.0.0.1", self.port))
                break
            except OSError:
                self.listener.close()
        self.listener.listen(8)
        self.listener.settimeout(0.2)
        self.running = True
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while self.running:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                continue
            self.connections += 1
            threading.Thread(target=self._talk, args=(conn,), daemon=True).start()

    def _talk(self, conn):
        with conn:
            conn.settimeout(10)
            if callable(self.greeting):
                return self.greeting(conn)
            if self.greeting is not None:
                conn.sendall(self.greeting.encode("latin-1") + b"\r\n")
            buffer = b""
            while True:
                try:
                    chunk = conn.recv(65536)
                except OSError:
                    return
                if not chunk:
                    return
                buffer += chunk
                while b"\r\n" in buffer:
                    line, buffer = buffer.split(b"\r\n", 1)
                    text = line.decode("latin-1")
                    self.lines.append(text)
                    reply = self.answer(text)
                    if callable(reply):
                        return reply(conn)
                    close = isinstance(reply, tuple)
                    if close:
                        reply = reply[0]
                    if reply is not None:
                        conn.sendall(reply.encode("latin-1") + b"\r\n")
                    if close or text.upper() == "QUIT":
                        return

    def close(self):
        self.running = False
        self.thread.join()
        self.listener.close()


def point_at(installation, section_key, port):
    """Points one server entry of the component's ini at another port
    ("POP3", "Admin" or "SMTP")."""
    quorvex_program.set_ini(installation.ini, "Port", section_key, port)
