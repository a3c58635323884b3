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

DEADLINE_S = 1.0
# A hostile server stops after this much, so that a call which does not
# stop it ends too, and the test fails on what it finds instead of hanging.
MAX_FLOOD = 64 << 20
MAX_TRICKLE_S = 20.0
POP3_ANSWERS = {"PERM": "+OK 0", "LIST": "+OK 1 100", "UIDL": "+OK 1 uid-1", "QUIT": "+OK bye"}


class HostileServer(webcom_env.LoopbackServer):
    """A POP3 greeting when `greet`; lines answered with "+OK" (some with
    POP3_ANSWERS); after `after` lines, `behave(server, conn)` instead."""

    def __init__(self, behave=None, after=0, greet=False):
        self.behave, self.after, self.greet, self.sent = behave, after, greet, 0
        super().__init__()

    def handle(self, conn):
        try:
            if self.greet:
                self.send(conn, b"+OK ready\r\n")
            buffer, count = b"", 0
            while self.behave is None or count < self.after:
                if b"\r\n" not in buffer:
                    chunk = conn.recv(65536)
                    if not chunk:
                        return
                    buffer += chunk
                    continue
                line, buffer = buffer.split(b"\r\n", 1)
                count += 1
                self.send(conn, (POP3_ANSWERS.get(line.split(b" ")[0].decode().upper(), "+OK") + "\r\n").encode())
            self.behave(self, conn)
        except OSError:
            pass  # the component closed the connection

    def send(self, conn, data):
        conn.sendall(data)
        self.sent += len(data)

    def flood(self, conn, line):
        while self.sent < MAX_FLOOD:
            self.send(conn, line * 64)

    def trickle(self, conn):
        """A byte every 0.1 s, never a line end."""
        until = time.monotonic() + MAX_TRICKLE_S
        while time.monotonic() < until:
            self.send(conn, b"+")
            time.sleep(0.1)


@pytest.fixture
def component(tmp_path):
    library = tmp_path / "QuorvexCOM.so"
    shutil.copy(os.path.join(quorvex_program.BUILD, "tests", "QuorvexCOMTimed.so"), library)
    loaded = wc.Component(str(library))
    loaded.lib.QvxSetLineDeadlineForTesting(int(DEADLINE_S * 1000))
    loaded.work_root = str(tmp_path / "maildata")
    loaded.ini = str(tmp_path / "QuorvexCOM.ini")
    with open(loaded.ini, "w", newline="") as f:
        f.write("[system]\r\nPOP3WorkPath=%s\r\nWebWorkPath=%s\r\n[Port]\r\n" % (loaded.work_root, tmp_path / "websmtp"))
    servers = []

    def serve(key, *args):
        servers.append(HostileServer(*args))
        quorvex_program.set_ini(loaded.ini, "Port", key, servers[-1].port)
        return servers[-1]

    loaded.serve = serve
    yield loaded
    for server in servers:
        server.close()


@pytest.mark.parametrize("method, line, reply", [
    ("GetMailData", b"Subject: endless\r\n\r\n" + b"x" * 998 + b"\r\n", "-ERR message larger than its listed size"),
    ("GetMailInfo", b"X-Endless: " + b"x" * 987 + b"\r\n", "-ERR message header too large"),
], ids=["RETR", "TOP"])
def test_a_message_that_never_ends_is_cut_at_its_bound_and_removed(component, method, line, reply):
    # USER, PASS, PERM, LIST, UIDL, READ (and REPL, FORW before TOP) answered, then the data.
    server = component.serve("POP3", lambda s, c: s.send(c, b"+OK\r\n") or s.flood(c, line),
                             6 if method == "GetMailData" else 8, True)
    with component.create("QuorvexCOM.POP3") as pop3:
        pop3.call("Login", "alice", "pw")
        assert pop3.get("LoginSuccess") == 1
        pop3.call(method, 1)
        assert pop3.get("LastResponse") == reply
        assert server.sent < MAX_FLOOD  # the component stopped taking it, not the server sending it
        assert [name for _, _, names in os.walk(component.work_root) for name in names] == []
        pop3.call("GetMailBoxInfo")  # nothing more is taken from that server
        assert pop3.get("LastResponse") == "-ERR socket error"


def send_mail(smtp):
    smtp.call("CreateUserPath", "alice:127.0.0.1")
    smtp.put("From", "alice@example.test")
    smtp.put("To", "bob@example.test")
    smtp.call("SendMail")


@pytest.mark.parametrize("progid, key, call, reply", [
    ("QuorvexCOM.POP3", "POP3", lambda o: o.call("Login", "alice", "pw"), "-ERR socket error"),
    ("QuorvexCOM.Admin", "Admin", lambda o: o.call("Login", "alice", "pw"), "-ERR sock error"),
    ("QuorvexCOM.SMTP", "SMTP", send_mail, "-ERR socket error"),
], ids=["POP3 Login", "Admin Login", "SMTP SendMail"])
def test_a_reply_line_trickled_past_its_deadline_ends_the_call(component, progid, key, call, reply):
    server = component.serve(key, HostileServer.trickle)
    with component.create(progid) as obj:
        started = time.monotonic()
        call(obj)
        took = time.monotonic() - started
        assert obj.get("LastResponse") == reply
        assert server.sent > 5  # the line was trickling, not cut off
        assert took < DEADLINE_S + 5, took  # the server went on trickling for 20 s


def test_logout_deletes_only_the_work_folder_of_the_account_logged_in(component):
    component.serve("POP3", None, 0, True)
    with component.create("QuorvexCOM.POP3") as pop3:
        for name in ("alice", "bob"):
            pop3.call("CreateUserPath", name)
        pop3.call("Logout", "bob")
        assert pop3.get("LastResponse") == "-ERR not logged in"
        pop3.call("Login", "alice:10.0.0.9", "pw")
        pop3.call("Logout", "bob")
        assert pop3.get("LastResponse") == "-ERR not logged in as this account"
        pop3.call("Logout", "ALICE")
        assert sorted(os.listdir(component.work_root)) == ["bob"]
