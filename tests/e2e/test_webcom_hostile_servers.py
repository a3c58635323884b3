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


class Stream:
    """Takes a connection of the stand-in server over: sends `first`, then
    `chunk` `times` times, `pause` seconds apart, counting what it sent. It
    ends by itself, so that a call which does not stop it ends too and the
    test fails on what it finds instead of hanging."""

    def __init__(self, chunk, times, pause=0.0, first=b""):
        self.chunk, self.times, self.pause, self.first, self.sent = chunk, times, pause, first, 0

    def __call__(self, conn):
        try:
            conn.sendall(self.first)
            for _ in range(self.times):
                conn.sendall(self.chunk)
                self.sent += len(self.chunk)
                time.sleep(self.pause)
        except OSError:
            pass  # the component closed the connection


def pop3_server(verb="", stream=None):
    """The answers of a POP3 server with one message of 100 bytes; the
    command `verb` is given to `stream`."""
    answers = {"PERM": "+OK 0", "LIST": "+OK 1 100", "UIDL": "+OK 1 uid-1"}
    return lambda line: stream if line.startswith(verb + " ") else answers.get(line.split(" ")[0], "+OK")


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

    def serve(key, **peer):
        servers.append(webcom_env.RecordingPeer(**peer))
        quorvex_program.set_ini(loaded.ini, "Port", key, servers[-1].port)

    loaded.serve = serve
    yield loaded
    for server in servers:
        server.close()


@pytest.mark.parametrize("method, verb, line, reply", [
    ("GetMailData", "RETR", b"Subject: endless\r\n\r\n" + b"x" * 998 + b"\r\n", "-ERR message larger than its listed size"),
    ("GetMailInfo", "TOP", b"X-Endless: " + b"x" * 987 + b"\r\n", "-ERR message header too large"),
], ids=["RETR", "TOP"])
def test_a_message_that_never_ends_is_cut_at_its_bound_and_removed(component, method, verb, line, reply):
    flood = Stream(line * 64, 1024, first=b"+OK\r\n")  # 64 MiB and more
    component.serve("POP3", greeting="+OK ready", answer=pop3_server(verb, flood))
    with component.create("QuorvexCOM.POP3") as pop3:
        pop3.call("Login", "alice", "pw")
        assert pop3.get("LoginSuccess") == 1
        pop3.call(method, 1)
        assert pop3.get("LastResponse") == reply
        assert flood.sent < 1024 * len(flood.chunk)  # the component stopped taking it
        assert [name for _, _, names in os.walk(component.work_root) for name in names] == [".owner"]
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
    trickle = Stream(b"+", 200, pause=0.1)  # for 20 s, never a line end
    component.serve(key, greeting=trickle)
    with component.create(progid) as obj:
        started = time.monotonic()
        call(obj)
        took = time.monotonic() - started
        assert obj.get("LastResponse") == reply
        assert trickle.sent > 5  # the line was trickling, not cut off
        assert took < DEADLINE_S + 5, took


def test_only_the_account_logged_in_deletes_or_makes_its_work_folders(component):
    answers = pop3_server()
    special = {"PASS wrong": "-ERR the password incorrect", "STAT": "+OK 1 100"}
    component.serve("POP3", greeting="+OK ready", answer=lambda line: special.get(line) or answers(line))
    bob_files = os.path.join(component.work_root, "bob", "0" * 32, "1")
    os.makedirs(bob_files)
    anonymous = [("CreateUserPath", "bob"), ("CreateUserPath", "x y"), ("Logout", "bob"), ("GetMailData", 1),
                 ("GetMailDataEx", "u"), ("GetMailInfo", 1), ("GetMailInfoEx", "u")]
    with component.create("QuorvexCOM.POP3") as pop3:
        for login, calls, reply in [(None, anonymous, "-ERR not logged in"),
                                    (("bob", "wrong"), anonymous, "-ERR not logged in"),  # refused: logged in as nobody
                                    (("alice:10.0.0.9", "pw"), [("CreateUserPath", "bob"), ("Logout", "bob")],
                                     "-ERR not logged in as this account"),
                                    (None, [("CreateUserPath", "alice"), ("Logout", "ALICE")], "+OK"),
                                    (None, [("GetMailData", 1)], "-ERR not logged in")]:  # its folder is gone
            if login:
                pop3.call("Login", *login)
            for call in calls:
                pop3.call("GetMailBoxInfo")  # a reply of its own before each
                pop3.call(*call)
                assert pop3.get("LastResponse") == reply, call
    assert os.path.isdir(bob_files) and os.listdir(component.work_root) == ["bob"]
    assert open(os.path.dirname(component.ini) + "/comlog.txt", "rb").read().count(b"CreateUserPath for ") == 5


def test_changes_the_server_did_not_commit_are_logged_when_the_object_goes(component, tmp_path):
    component.serve("POP3", greeting="+OK ready", answer=lambda line: "-ERR update failed" if line == "QUIT" else "+OK")
    with component.create("QuorvexCOM.POP3") as pop3:
        pop3.call("Login", "alice", "pw")
    assert "did not commit the changes of alice: -ERR update failed" in (tmp_path / "comlog.txt").read_text()


@pytest.mark.parametrize("named, folder", [("+OK Alice", "Alice"), ("+OK bob", "alice"), ("+OK", "alice")])
def test_the_user_folder_is_named_as_the_server_spells_the_account_logged_in(component, named, folder):
    answers = pop3_server()
    component.serve("POP3", greeting="+OK ready", answer=lambda line: named if line == "NAME" else answers(line))
    with component.create("QuorvexCOM.POP3") as pop3:
        pop3.call("Login", "alice", "pw")
        assert pop3.get("LastResponse") == "+OK login success"
    assert os.listdir(component.work_root) == [folder]
