"""The web-mail component against hostile servers, through its C interface:
a POP3 server whose message never ends, servers that trickle a reply a
byte at a time, and Logout of the work folders. The component is its test
build, whose line deadline is shortened to one second."""
import os
import shutil
import sys
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import quorvex_program  # noqa: E402
import webcom_client as wc  # noqa: E402
import webcom_env  # noqa: E402

TIMED_LIBRARY = os.path.join(quorvex_program.BUILD, "tests", "QuorvexCOMTimed.so")
DEADLINE_S = 1.0
# A hostile server stops after this much, so a call that does not stop it
# ends too (and the test fails on what it found instead of hanging).
MAX_FLOOD = 64 << 20
MAX_TRICKLE_S = 20.0


class HostileServer(webcom_env.LoopbackServer):
    """Every connection is served by `talk(server, conn, lines)`, where
    `lines` yields the client's lines."""

    def __init__(self, talk):
        self.talk = talk
        self.sent = 0
        super().__init__()

    def handle(self, conn):
        try:
            self.talk(self, conn, self._lines(conn))
        except OSError:
            pass  # the component closed the connection

    @staticmethod
    def _lines(conn):
        buffer = b""
        while True:
            while b"\r\n" not in buffer:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                buffer += chunk
            line, buffer = buffer.split(b"\r\n", 1)
            yield line.decode("latin-1")

    def send(self, conn, data):
        conn.sendall(data)
        self.sent += len(data)

    def flood(self, conn, line):
        while self.sent < MAX_FLOOD:
            self.send(conn, line * 64)

    def trickle(self, conn, text):
        """A byte every 0.1 s, never a line end."""
        data = text.encode()
        until = time.monotonic() + MAX_TRICKLE_S
        while time.monotonic() < until:
            self.send(conn, data[:1])
            data = data[1:] or b"x"
            time.sleep(0.1)


def pop3_server(server, conn, lines, on_data=None):
    """A POP3 server that accepts any login; RETR and TOP go to `on_data`."""
    server.send(conn, b"+OK ready\r\n")
    answers = {"PERM": "+OK 0", "LIST": "+OK 1 100", "UIDL": "+OK 1 uid-1", "READ": "+OK 1 0", "REPL": "+OK 1 0",
               "FORW": "+OK 1 0", "QUIT": "+OK bye"}
    for line in lines:
        word = line.split(" ")[0].upper()
        if word in ("RETR", "TOP") and on_data:
            server.send(conn, b"+OK data follows\r\n")
            on_data(server, conn)
            return
        server.send(conn, (answers.get(word, "+OK") + "\r\n").encode())
        if word == "QUIT":
            return


@pytest.fixture
def component(tmp_path):
    library = tmp_path / "QuorvexCOM.so"
    shutil.copy(TIMED_LIBRARY, library)
    loaded = wc.Component(str(library))
    loaded.lib.QvxSetLineDeadlineForTesting(int(DEADLINE_S * 1000))
    loaded.work_root = str(tmp_path / "maildata")
    loaded.ini = str(tmp_path / "QuorvexCOM.ini")
    with open(loaded.ini, "w", newline="") as f:
        f.write("[system]\r\nPOP3ServerAddr=127.0.0.1\r\nAdminServerAddr=127.0.0.1\r\nSMTPServerAddr=127.0.0.1\r\n"
                "POP3WorkPath=%s\r\nWebWorkPath=%s\r\n[Port]\r\n" % (loaded.work_root, tmp_path / "websmtp"))
    return loaded


def serve(component, key, talk):
    server = HostileServer(talk)
    quorvex_program.set_ini(component.ini, "Port", key, server.port)
    return server


def files_below(folder):
    return [name for _, _, names in os.walk(folder) for name in names]


@pytest.mark.parametrize("method, line, reply", [
    ("GetMailData", b"Subject: endless\r\n\r\n" + b"x" * 998 + b"\r\n", "-ERR message larger than its listed size"),
    ("GetMailInfo", b"X-Endless: " + b"x" * 987 + b"\r\n", "-ERR message header too large"),
], ids=["RETR", "TOP"])
def test_a_message_that_never_ends_is_cut_at_its_bound_and_removed(component, method, line, reply):
    server = serve(component, "POP3", lambda s, c, lines: pop3_server(s, c, lines, lambda s, c: s.flood(c, line)))
    try:
        with component.create("QuorvexCOM.POP3") as pop3:
            pop3.call("Login", "alice", "pw")
            assert pop3.get("LoginSuccess") == 1
            pop3.call(method, 1)
            assert pop3.get("LastResponse") == reply
            assert server.sent < MAX_FLOOD  # the component stopped reading, the server did not stop sending
            assert files_below(component.work_root) == []
            pop3.call("GetMailBoxInfo")  # the session is over: nothing more is taken from that server
            assert pop3.get("LastResponse") == "-ERR socket error"
    finally:
        server.close()


def admin_login(server, conn, lines):
    next(lines)
    server.trickle(conn, "+OK")


def smtp_greeting(server, conn, lines):
    server.trickle(conn, "220 slow")


def pop3_greeting(server, conn, lines):
    server.trickle(conn, "+OK slow")


def send_mail(smtp):
    smtp.call("CreateUserPath", "alice:127.0.0.1")
    smtp.put("From", "alice@example.test")
    smtp.put("To", "bob@example.test")
    smtp.call("SendMail")


@pytest.mark.parametrize("progid, key, talk, call, reply", [
    ("QuorvexCOM.POP3", "POP3", pop3_greeting, lambda o: o.call("Login", "alice", "pw"), "-ERR socket error"),
    ("QuorvexCOM.Admin", "Admin", admin_login, lambda o: o.call("Login", "alice", "pw"), "-ERR sock error"),
    ("QuorvexCOM.SMTP", "SMTP", smtp_greeting, send_mail, "-ERR socket error"),
], ids=["POP3 Login", "Admin Login", "SMTP SendMail"])
def test_a_reply_line_trickled_past_its_deadline_ends_the_call(component, progid, key, talk, call, reply):
    server = serve(component, key, talk)
    try:
        with component.create(progid) as obj:
            started = time.monotonic()
            call(obj)
            took = time.monotonic() - started
            assert obj.get("LastResponse") == reply
            assert server.sent > 5  # the line was trickling, not cut off
            assert took < DEADLINE_S + 5, took  # the server kept trickling for 20 s
    finally:
        server.close()


def test_logout_deletes_only_the_work_folder_of_the_account_logged_in(component):
    server = serve(component, "POP3", pop3_server)
    try:
        def folder(name):
            return os.path.join(component.work_root, name)

        with component.create("QuorvexCOM.POP3") as pop3:
            for name in ("alice", "bob"):
                pop3.call("CreateUserPath", name)
            pop3.call("Logout", "bob")  # never logged in
            assert pop3.get("LastResponse") == "-ERR not logged in"
            pop3.call("Login", "alice:10.0.0.9", "pw")
            pop3.call("Logout", "bob")
            assert pop3.get("LastResponse") == "-ERR not logged in as this account"
            pop3.call("Logout", "alice:" + "1" * 4091)  # 4,097 characters: ignored
            assert pop3.get("LastResponse") == "-ERR not logged in as this account"
            assert os.path.isdir(folder("alice")) and os.path.isdir(folder("bob"))
            pop3.call("Logout", "ALICE")
            assert not os.path.exists(folder("alice")) and os.path.isdir(folder("bob"))
    finally:
        server.close()
