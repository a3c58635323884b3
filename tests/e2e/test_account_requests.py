"""Sign-up, login, update and delete through the real account-server listener,
checked on disk and with Python's poplib against the same server's POP3 port."""
import os
import poplib
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import account_client as ac  # noqa: E402


@pytest.fixture
def server():
    with ac.TestServer(ac.SINGLE_DOMAIN) as s:
        yield s


def pop3_login(server, user, password):
    client = poplib.POP3("127.0.0.1", server.pop3_port, timeout=20)
    try:
        client.user(user)
        client.pass_(password)
        count, _ = client.stat()
        return count
    finally:
        client.quit()


def test_signup_login_and_pop3_with_changed_password(server):
    replies = ac.signup(server.port, "alice:192.0.2.7", password="first", user_name="Alice A",
                        comment="note", pop3_server="pop.remote.test", pop3_account="al",
                        contact="alice@elsewhere.test", pop3_password="rpw", leave_copy=1)
    assert replies == ["+OK"] * 10
    ini = server.read("mail", "alice", "maillist.ini")
    assert "UserName=Alice A" in ini and "InterMail=alice@elsewhere.test" in ini
    assert "POP3Server1=pop.remote.test" in ini or "pop.remote.test" in ini
    assert "first" not in ini  # only the digest is stored

    lines = ac.login(server.port, "alice:192.0.2.7", "first")
    assert lines[0] == "+OK" and lines[-1] == "+OK"
    assert lines[2:9] == ["USERNAME#Alice A", "COMMENT#note", "POP3SERVER#pop.remote.test",
                          "POP3ACCOUNT#al", "POP3MAIL#alice@elsewhere.test", "POP3PASSWORD#rpw",
                          "LEAVECOPY#1"]
    digest = lines[1][len("PASSWORD#"):]
    assert digest and digest != "first"
    # The stored digest is accepted as the password too.
    assert ac.login(server.port, "alice", digest)[0] == "+OK"

    assert pop3_login(server, "alice", "first") == 1  # the welcome message
    assert ac.update(server.port, "alice", "first", password="second", user_name="Alice B")[-1] == "+OK"
    assert pop3_login(server, "alice", "second") == 1
    with pytest.raises(poplib.error_proto):
        pop3_login(server, "alice", "first")
    assert ac.login(server.port, "alice", "first") == ["-ERR password incorrect"]
    assert "alice" in server.system_log() and "127.0.0.1" in server.system_log()


def test_signup_refusals_keep_their_texts(server):
    assert ac.signup(server.port, "has space") == ["-ERR the account including some illegal letter"]
    assert ac.signup(server.port, "a@b") == ["-ERR the account including some illegal letter"]
    assert ac.signup(server.port, "") == ["-ERR the account is empty"]
    assert ac.signup(server.port, "x" * 261) == ["-ERR user name is too long"]
    with ac.Connection(server.port) as c:
        assert c.ask("signup#bob") == "-ERR unknown command"
    # Tagged lines: 260 characters pass, 261 are too long, a wrong tag is missing.
    with ac.Connection(server.port) as c:
        assert c.ask("SIGNUP#bob") == "+OK"
        assert c.ask("PASSWORD#" + "p" * 251) == "+OK"
        assert c.ask("USERNAME#" + "u" * 252) == "-ERR user name is too long"
        assert c.closed()
    with ac.Connection(server.port) as c:
        assert c.ask("SIGNUP#bob") == "+OK"
        assert c.ask("PASSWORD#x") == "+OK"
        assert c.ask("NAME#x") == "-ERR no user name"
    assert not os.path.exists(server.account_folder("bob"))
    # A name over 76 characters is refused before the dialogue.
    long_name = "n" * 100
    assert ac.signup(server.port, long_name, password="p") == ["-ERR user name is too long"]
    assert not os.path.exists(server.account_folder(long_name))
    assert ac.signup(server.port, "carol", password="p")[-1] == "+OK"
    assert ac.signup(server.port, "CAROL", password="q") == ["-ERR The user account already exists."]
    assert ac.login(server.port, "carol", "q") == ["-ERR password incorrect"]


def test_admin_signup_is_a_mail_account_once(server):
    # Signing up never makes an administrator.
    assert ac.signup(server.port, "Admin", password="pw")[-1] == "+OK"
    assert "Permission=0" in server.read("mail", "Admin", "maillist.ini")
    with ac.Connection(server.port) as c:
        assert c.ask("ACCOUNT#Admin#pw") == "-ERR illeglar user"
    # A second sign-up of the name cannot take it over.
    assert ac.signup(server.port, "admin", password="other") == ["-ERR The user account already exists."]
    assert ac.login(server.port, "admin", "other") == ["-ERR password incorrect"]


def test_login_failures_and_delete(server):
    assert ac.login(server.port, "nobody", "x") == ["-ERR no such user"]
    with ac.Connection(server.port) as c:
        assert c.ask("LOGIN#nopassword") == "-ERR no password"
    assert ac.signup(server.port, "dave", password="pw")[-1] == "+OK"
    lines = ac.login(server.port, "dave", "pw")
    assert lines[4:9] == ["POP3SERVER#", "POP3ACCOUNT#", "POP3MAIL#", "POP3PASSWORD#", "LEAVECOPY#0"]
    assert ac.delete(server.port, "dave", "pw", closing="quit") == ["+OK", "-ERR abnormal quit"]
    assert os.path.isdir(server.account_folder("dave"))
    assert ac.delete(server.port, "dave", "pw", closing="QUIT now") == ["+OK", "+OK"]
    assert not os.path.exists(server.account_folder("dave"))
    assert ac.login(server.port, "dave", "pw") == ["-ERR no such user"]
    log = server.system_log()
    assert "nobody" in log and "127.0.0.1" in log


def test_signup_closed_and_disabled_accounts():
    config = ac.SINGLE_DOMAIN.replace("[System]\r\n", "[System]\r\nEnableSignUp=0\r\n")
    with ac.TestServer(config) as s:
        assert ac.signup(s.port, "has space") == ["-ERR register service closed"]
    config = ac.SINGLE_DOMAIN.replace("[System]\r\n", "[System]\r\nNeedAuthorized=1\r\n")
    with ac.TestServer(config) as s:
        assert ac.signup(s.port, "erin", password="pw")[-1] == "+OK"
        assert "Disabled=1" in s.read("mail", "erin", "maillist.ini")


def test_multi_domain_signup():
    with ac.TestServer(ac.MULTI_DOMAIN) as s:
        assert ac.signup(s.port, "plain") == ["-ERR no mail domain name"]
        assert ac.signup(s.port, "x@c.test") == ["-ERR mail domain name doesn't exist"]
        assert ac.signup(s.port, "@a.test") == ["-ERR the account is empty"]
        assert ac.signup(s.port, "x@a.test", password="pw")[-1] == "+OK"
        assert os.path.isdir(s.account_folder("x@a.test"))
