"""The Admin class of QuorvexCOM.so through its C interface against the real
QuorvexServer: the one-shot account dialogues checked on disk and with
Python's poplib, the record-set session on the account tables, and input
that must be refused before anything reaches the account server."""
import os
import poplib
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import account_client  # noqa: E402
import webcom_client as wc  # noqa: E402
import webcom_env  # noqa: E402

FIELDS = {"UserName": "Alice Example", "Comment": "first note", "POP3Server": "pop.remote.test",
          "POP3Account": "al", "POP3Mail": "alice@elsewhere.test", "POP3Password": "remote-pw"}


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    # A domain administrator, as the system administrator makes one (a
    # sign-up never does); its password is stored in clear, which a login
    # accepts like the digest.
    installation = webcom_env.Installation(tmp_path_factory.mktemp("admin"), accounts={
        "admin": "[System]\r\nPassword=boss\r\nPermission=1\r\n"})
    yield installation
    installation.stop()


def pop3_count(site, user, password):
    return account_client.pop3_count(site.folder.pop3, user, password)


def signup(site, account, password, **fields):
    with site.create("QuorvexCOM.Admin") as admin:
        admin.put("Password", password)
        for name, value in fields.items():
            admin.put(name, value)
        admin.put("LeaveCopy", 0)
        admin.call("Signup", account)
        assert (admin.last_status, admin.get("LastResponse")) == (wc.S_OK, "+OK ")


def test_signup_login_modify_and_destroy(site):
    signup(site, "alice:192.0.2.7", "first", **FIELDS)
    ini = site.account_file("alice")
    assert "UserName=Alice Example" in ini and "Comment=first note" in ini and "InterMail=alice@elsewhere.test" in ini
    assert "POP3Server1=pop.remote.test" in ini and "Password=first" not in ini

    with site.create("QuorvexCOM.Admin") as admin:
        admin.call("Login", "alice:192.0.2.7", "first")
        assert (admin.last_status, admin.get("LastResponse"), admin.get("LoginSuccess")) == (wc.S_OK, "+OK ", 1)
        assert {name: admin.get(name) for name in FIELDS} == FIELDS
        assert admin.get("LeaveCopy") == 0
        # Changing only the comment keeps the password the user logged in with.
        admin.put("Comment", "second note")
        admin.call("Modify", "alice", "first")
        assert (admin.last_status, admin.get("LastResponse")) == (wc.S_OK, "+OK ")
    assert "Comment=second note" in site.account_file("alice")
    assert pop3_count(site, "alice", "first") == 1  # the welcome message

    with site.create("QuorvexCOM.Admin") as admin:
        admin.call("Login", "alice", "first")
        admin.put("Password", "second")
        admin.call("Modify", "alice", "first")
        assert admin.get("LastResponse") == "+OK "
        admin.call("Login", "alice", "first")
        assert (admin.last_status, admin.get("LastResponse"), admin.get("LoginSuccess")) == \
            (wc.S_FALSE, "-ERR password incorrect", 0)
    assert pop3_count(site, "alice", "second") == 1
    with pytest.raises(poplib.error_proto):
        pop3_count(site, "alice", "first")

    with site.create("QuorvexCOM.Admin") as admin:
        admin.call("Destroy", "alice", "wrong")
        assert (admin.last_status, admin.get("LastResponse")) == (wc.S_FALSE, "-ERR password incorrect")
        admin.call("Destroy", "alice", "second")
        assert (admin.last_status, admin.get("LastResponse")) == (wc.S_OK, "+OK ")
    assert not os.path.exists(os.path.join(site.path, "mail", "alice"))
    with pytest.raises(poplib.error_proto):
        pop3_count(site, "alice", "second")


def test_server_refusals_reach_last_response(site):
    signup(site, "carol", "pw")
    with site.create("QuorvexCOM.Admin") as admin:
        admin.put("Password", "pw")
        admin.call("Signup", "carol")
        assert (admin.last_status, admin.get("LastResponse")) == (wc.S_FALSE, "-ERR The user account already exists.")
        admin.call("Signup", "has space")
        assert admin.get("LastResponse") == "-ERR the account including some illegal letter"
        admin.call("Login", "nobody", "pw")
        assert (admin.last_status, admin.get("LastResponse"), admin.get("LoginSuccess")) == \
            (wc.S_FALSE, "-ERR no such user", 0)
        # A field the server refuses by its length ends the sign-up.
        admin.put("UserName", "u" * 300)
        admin.call("Signup", "dave")
        assert (admin.last_status, admin.get("LastResponse")) == (wc.S_FALSE, "-ERR username error")
    assert not os.path.exists(os.path.join(site.path, "mail", "dave"))


def test_record_set_session_on_the_account_tables(site):
    signup(site, "erin", "pw")
    with site.create("QuorvexCOM.Admin") as admin:
        admin.call("Open", "admin", "AutoReplyInfo")
        assert (admin.last_status, admin.get("LastResponse")) == (wc.S_FALSE, "-ERR connect to server failed")
        admin.call("AuthLogin", "admin", "boss")
        assert (admin.last_status, admin.get("LastResponse"), admin.get("LoginSuccess")) == (wc.S_OK, "+OK ", 1)

        admin.call("Open", "admin", "AutoReplyInfo")
        assert admin.get("LastResponse") == "+OK "
        admin.put("Value", "Body", "line one\r\nline two\nline three")
        admin.call("Update")
        assert admin.get("LastResponse") == "+OK "
        assert admin.call("Value", "Body") == "line one\r\nline two\r\nline three"
        stored = site.account_file("admin", "EmailAutoReply.ini")
        assert "Body=line one\\r\\nline two\\r\\nline three" in stored
        # A value whose line the server could not take whole is never sent.
        admin.put("Value", "Body", "x" * 3056)
        assert (admin.last_status, admin.get("LastResponse")) == (wc.S_FALSE, "-ERR command is too long")
        assert admin.call("Value", "Body") == "line one\r\nline two\r\nline three"
        admin.put("Value", "Subject", "s" * 3052)  # the longest line the server reads whole
        assert admin.get("LastResponse") == "+OK "
        assert len(admin.call("Value", "Subject")) == 256

        admin.call("Open", "admin", "ForwardInfo")
        assert admin.get("Count") == 0
        admin.put("Value", "EmailAddress", "fwd@remote.test")
        admin.call("AddNew")
        assert admin.get("LastResponse") == "+OK "
        admin.call("GetData", 1)
        assert admin.call("Value", "EmailAddress") == "fwd@remote.test"
        admin.call("Update")
        assert admin.get("Count") == 1
        admin.call("Delete", 1)
        assert admin.get("Count") == 0

        admin.call("Open", "admin", "FilterInfo")
        for subject in ("first", "second"):
            admin.put("Value", "Subject", subject)
            admin.call("AddNew")
            assert admin.get("LastResponse") == "+OK "
        admin.put("Value", "Subject", "first, edited")
        admin.call("Edit", 1)
        admin.call("MoveDown", 1)
        admin.call("MoveUp", 2)
        admin.call("MoveDown", 1)
        admin.call("Update")
        admin.call("GetData", 2)
        assert admin.call("Value", "Subject") == "first, edited"
        rules = site.account_file("admin", "EmailFilter.ini")
        assert rules.index("second") < rules.index("first, edited")

        admin.call("Open", "example.test", "AccountListInfo")
        position = admin.get("Find", "erin")
        assert position >= 1
        admin.call("GetData", position)
        assert admin.call("Value", "Account") == "erin"
        assert admin.get("Find", "nobody-here") == 0  # "+OK -1" plus one
        admin.call("MoveUp", 1)
        assert admin.get("LastResponse") == "-ERR unknown command"  # a table without that command
        assert admin.get("Find", "x\r\ny") is None
        assert admin.get("LastResponse") == "-ERR the text holds a line break"
        for call in [("Open", "admin\r\nQUIT", "POP3Info"), ("Open", "x" * 10000, "POP3Info")]:
            admin.call(*call)
            assert admin.last_status == wc.S_FALSE and admin.get("LastResponse").startswith("-ERR "), call
        assert admin.get("Value", "Account\nQUIT") is None
        assert admin.get("LastResponse") == "-ERR the text holds a line break"
        assert admin.get("Count") >= 3  # the session went on undisturbed
        admin.call("Close")
        admin.call("Open", "admin", "ForwardInfo")
        assert admin.get("LastResponse") == "-ERR connect to server failed"


def test_connect_and_raw_lines(site):
    signup(site, "frank", "pw")
    with site.create("QuorvexCOM.Admin") as admin:
        admin.call("Connect", "127.0.0.1")
        assert (admin.last_status, admin.get("LastResponse")) == (wc.S_FALSE, "-ERR the command string is invalid")
        assert admin.get("RecvResponse") is None  # no session
        admin.call("Connect", "127.0.0.1:%d" % site.folder.admin)
        assert (admin.last_status, admin.get("LastResponse"), admin.get("LoginSuccess")) == (wc.S_OK, "+OK ", 0)
        admin.call("SendCommand", "AUTH#frank#pw")
        assert admin.get("LastResponse") == "+OK "
        assert admin.get("RecvResponse") == "+OK"
        admin.call("Open", "frank", "POP3Info")
        assert admin.get("Count") == 0
        admin.call("SendCommand", "QUIT\r\nOPEN frank, ForwardInfo")
        assert admin.get("LastResponse") == "-ERR the text holds a line break"
        admin.call("SendCommand", "GETCOUNT")
        assert admin.get("RecvResponse") == "+OK 0"  # the refused line never reached the server
        admin.call("Connect", "127.0.0.1:%d" % webcom_env.test_ports.take_one())
        assert (admin.last_status, admin.get("LastResponse")) == (wc.S_FALSE, "-ERR connect admin server failed")


BAD_TEXTS = ["bob\r\nDELETE#bob#pw", "bob\nx", "bob\0x", "x" * 10000]


@pytest.mark.parametrize("bad", BAD_TEXTS, ids=["crlf", "lf", "nul", "long"])
def test_hostile_texts_are_refused_before_anything_is_sent(site, bad):
    peer = webcom_env.RecordingPeer()
    try:
        webcom_env.point_at(site, "Admin", peer.port)
        with site.create("QuorvexCOM.Admin") as admin:
            admin.put("LeaveCopy", 1)
            calls = [("Login", bad, "pw"), ("Login", "bob", bad), ("Destroy", bad, "pw"), ("Destroy", "bob", bad),
                     ("Modify", bad, "pw"), ("Modify", "bob", bad), ("Signup", bad), ("AuthLogin", bad, "pw"),
                     ("AuthLogin", "bob", bad), ("Login", "b#ob", "pw"), ("Signup", "a/b"), ("Signup", "..")]
            for call in calls:
                admin.call(*call)
                assert admin.last_status == wc.S_FALSE, call[0]
                assert admin.get("LastResponse").startswith("-ERR "), call[0]
            for field in FIELDS:
                admin.put(field, bad)
                if len(bad) > 4096:
                    assert admin.get("LastResponse") == "-ERR the text is too long"
                    continue
                for call in [("Modify", "bob", "pw"), ("Signup", "bob")]:
                    admin.call(*call)
                    assert admin.get("LastResponse").startswith("-ERR "), (field, call)
                admin.put(field, "")
        assert peer.connections == 0 and peer.lines == []
    finally:
        peer.close()
        webcom_env.point_at(site, "Admin", site.folder.admin)


def test_replies_are_read_as_the_dialogues_define_them(site):
    answers = {"LOGIN#blank#pw": "+OK ",
               "LOGIN#short#pw": ("+OK\r\nPASSWORD#digest\r\nUSERNAME#Short Name",),
               "AUTH#table#pw": "+OK", "FIND a": "+OK 0", "FIND b": "-ERR nothing", "GETCOUNT": "+ok 5"}
    peer = webcom_env.RecordingPeer(answer=lambda line: answers.get(line, "-ERR unexpected"))
    try:
        webcom_env.point_at(site, "Admin", peer.port)
        with site.create("QuorvexCOM.Admin") as admin:
            admin.call("Login", "blank", "pw")  # the whole line must be "+OK"
            assert (admin.last_status, admin.get("LastResponse"), admin.get("LoginSuccess")) == (wc.S_FALSE, "+OK ", 0)
            admin.call("Login", "short", "pw")  # the tag list ends early
            assert (admin.last_status, admin.get("LastResponse"), admin.get("LoginSuccess")) == \
                (wc.S_FALSE, "-ERR sock error", 1)
            assert admin.get("UserName") == "Short Name"
            admin.call("AuthLogin", "table", "pw")
            assert (admin.get("Find", "a"), admin.get("Find", "b"), admin.get("Count")) == (1, None, 5)
            assert admin.get("LastResponse") == "+ok 5"
    finally:
        peer.close()
        webcom_env.point_at(site, "Admin", site.folder.admin)
