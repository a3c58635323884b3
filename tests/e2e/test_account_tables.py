"""Table sessions through the real listener: every table, the files that
delivery and collection read, and the rights of each login level on its own
and on another domain."""
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import account_client as ac  # noqa: E402

ACCOUNTS = {
    "user@a.test": ac.account_ini("upw", 0),
    "other@a.test": ac.account_ini("opw", 0),
    "admin@a.test": ac.account_ini("apw", 1),
    "boss@a.test": ac.account_ini("bpw", 2),
    "user@b.test": ac.account_ini("bupw", 0),
    "admin@b.test": ac.account_ini("bapw", 1),
}
LOGINS = {"mail": ("user@a.test", "upw"), "domain": ("admin@a.test", "apw"), "system": ("boss@a.test", "bpw")}


@pytest.fixture
def server():
    with ac.TestServer(ac.MULTI_DOMAIN, ACCOUNTS) as s:
        yield s


def test_session_grammar(server):
    with ac.TableSession(server.port, "user@a.test", "upw") as t:
        assert t.login_reply == "+OK"
        assert t.cmd("GETCOUNT") == "-ERR command 'open' should be loaded first."
        assert t.conn.closed()
    with ac.TableSession(server.port, "user@a.test", "upw") as t:
        assert t.cmd("quit") == "+OK "
    with ac.TableSession(server.port, "user@a.test", "upw") as t:
        assert t.cmd("OPEN user@a.test POP3Info") == "-ERR unknow parameters"
        assert t.conn.closed()
    with ac.TableSession(server.port, "user@a.test", "upw") as t:
        assert t.open("user@a.test", "NoSuchTable") == "-ERR unknown parameters"
    with ac.Connection(server.port) as c:
        assert c.ask("auth#user@a.test#upw") == "+OK"


def test_remote_boxes_forwarding_filters_and_auto_reply(server):
    home = server.account_folder("user@a.test")
    with ac.TableSession(server.port, "user@a.test", "upw") as t:
        assert t.open("user@a.test", "POP3Info") == "+OK "
        for line in ["Value POP3Server, pop.x.test", "Value POP3Account, bob", "Value POP3Password, s3cret",
                     "Value LeaveCopy, 1", "AddNew"]:
            assert t.cmd(line) == "+OK "
        assert t.cmd("GetCount") == "+OK 1"
        assert t.cmd("GetData 0") == "-ERR Getdata failed"
        assert t.cmd("GetData 2") == "-ERR Getdata failed"
        assert t.cmd("Value POP3Server") == "+OK pop.x.test"
        assert t.cmd("Value Nothing") == "-ERR invalid value name"
        assert t.cmd("Value Nothing, 1") == "-ERR invalid value name "
        assert t.cmd("MoveUp 1") == "-ERR unknown command"
        assert t.cmd("Update") == "+OK "
        assert t.cmd("CLOSE") == "+OK closed"
        assert t.open("user@a.test", "ForwardInfo") == "+OK "
        assert t.cmd("AddNew") == "-ERR Add new failed"
        for line in ["Value EmailAddress, fw@else.test", "AddNew", "Value Enable, 1", "Value LeaveCopy, 0", "Update"]:
            assert t.cmd(line) == "+OK "
        assert t.open("user@a.test", "EmailFilterInfo") == "+OK "
        for line in ["Value Subject, spam", "Value Enable, 257", "Value FolderDeliverTo, 3", "AddNew",
                     "Value Subject, ads", "AddNew", "MoveUp 1", "MoveDown 2", "MoveUp 2", "Update"]:
            assert t.cmd(line) == "+OK ", line
        assert t.cmd("GetData 2") == "+OK "
        assert t.cmd("Value Subject") == "+OK spam"
        assert t.cmd("Value Enable") == "+OK 1"
        assert t.open("user@a.test", "AutoReplyInfo") == "+OK "
        assert t.cmd("GetCount") == "-ERR unknown command"
        for line in ["Value Enable, 1", "Value Subject, Away", "Value Body, line one\\r\\nline two", "Update"]:
            assert t.cmd(line) == "+OK "
        assert t.cmd("Value Body") == "+OK line one\\r\\nline two"
        # Changes without Update are dropped.
        assert t.open("user@a.test", "ForwardInfo") == "+OK "
        assert t.cmd("Value EmailAddress, lost@x.test") == "+OK "
        assert t.cmd("AddNew") == "+OK "
        assert t.cmd("QUIT") == "+OK bye"
    ini = server.read("mail", "user@a.test", "maillist.ini")
    assert "pop.x.test" in ini and "s3cret" not in ini  # the password is stored scrambled
    assert "fw@else.test" in ini and "lost@x.test" not in ini
    assert "EnableForwardMailAddresses=1" in ini
    rules = server.read("mail", "user@a.test", "EmailFilter.ini")
    assert rules.index("ads") < rules.index("spam")
    reply = server.read("mail", "user@a.test", "EmailAutoReply.ini")
    assert "Subject=Away" in reply and "line one\\r\\nline two" in reply
    assert os.path.isdir(home)


def test_account_list_and_domain_tables(server):
    with ac.TableSession(server.port, "admin@a.test", "apw") as t:
        assert t.open("a.test", "AccountListInfo") == "+OK "
        assert t.cmd("GetCount") == "+OK 4"
        assert t.cmd("Value MaxCount") == "+OK -1"
        for line in ["Value Account, new@a.test", "Value Size, 7", "AddNew"]:
            assert t.cmd(line) == "+OK "
        assert t.cmd("Value Account, x@b.test") == "+OK "
        assert t.cmd("AddNew") == "-ERR Add new failed"
        assert t.cmd("Value Account, ../x@a.test") == "+OK "
        assert t.cmd("AddNew") == "-ERR Add new failed"
        position = int(t.cmd("Find NEW@a.test").split()[1])
        assert t.cmd("GetData %d" % (position + 1)) == "+OK "
        assert t.cmd("Value Account") == "+OK new@a.test"
        assert os.path.isdir(server.account_folder("new@a.test"))
        assert "Volume=7" in server.read("mail", "new@a.test", "maillist.ini")
        # A system administrator's account is out of a domain administrator's reach.
        boss = int(t.cmd("Find boss@a.test").split()[1])
        assert t.cmd("Delete %d" % (boss + 1)) == "-ERR Delete failed"
        assert t.cmd("Delete %d" % (position + 1)) == "+OK "
        assert not os.path.exists(server.account_folder("new@a.test"))
        assert os.path.isdir(server.account_folder("boss@a.test"))
    with ac.TableSession(server.port, "boss@a.test", "bpw") as t:
        assert t.open("", "DomainInfo") == "+OK "
        assert t.cmd("Value MultipleDomain") == "+OK 1"
        assert t.cmd("GetCount") == "+OK 2"
        for line in ["Value Domain, c.test", "Value MaxCount, 5", "AddNew"]:
            assert t.cmd(line) == "+OK "
        assert t.cmd("AddNew") == "-ERR Add new failed"  # already there
        assert t.cmd("Value MaxSpace, -5") == "-ERR invalid value name "  # config.ini could not take it
        assert t.cmd("Value Domain, ../evil") == "+OK "
        assert t.cmd("AddNew") == "-ERR Add new failed"
        assert t.cmd("Find C.TEST") == "+OK 2"
        assert t.cmd("Update") == "+OK "
    assert "DN3=c.test" in server.read("config.ini")
    # The server adopted the stored table: sign-up in the new domain works.
    assert ac.signup(server.port, "z@c.test", password="p")[-1] == "+OK"


def test_account_info_values_and_permissions(server):
    with ac.TableSession(server.port, "user@a.test", "upw") as t:
        assert t.open("user@a.test", "AccountInfo") == "+OK "
        assert t.cmd("Value Enable") == "+OK 1"
        assert t.cmd("Value Size, 500") == "-ERR invalid value name "
        assert t.cmd("Value Permission, 2") == "-ERR invalid value name "
        assert t.cmd("Value Used, 1") == "-ERR invalid value name "
        assert t.cmd("Value Comment, hello") == "+OK "
        assert t.cmd("Value Password, newpw") == "+OK "
        digest = t.cmd("Value Password")[4:]
        assert digest and digest != "newpw"
        assert t.cmd("Update") == "+OK "
    assert ac.login(server.port, "user@a.test", "newpw")[0] == "+OK"
    with ac.TableSession(server.port, "admin@a.test", "apw") as t:
        assert t.open("other@a.test", "AccountInfo") == "+OK "
        assert t.cmd("Value Permission, 2") == "+OK "  # answered, but not above his own level
        assert t.cmd("Value Permission") == "+OK 0"
        assert t.cmd("Value Permission, 1") == "+OK "
        assert t.cmd("Value Group, 1") == "+OK "
        assert t.cmd("Value Group") == "+OK 1"
        assert t.cmd("Update") == "+OK "
        assert t.open("admin@a.test", "AccountInfo") == "+OK "
        assert t.cmd("Value Permission, 2") == "+OK "
        assert t.cmd("Update") == "+OK "
    ini = server.read("mail", "other@a.test", "maillist.ini")
    assert "Permission=1" in ini and "IsGroup=0" in ini
    assert "Permission=1" in server.read("mail", "admin@a.test", "maillist.ini")


# (login level, table, argument, allowed)
RIGHTS = [
    ("mail", "POP3Info", "user@a.test", True),
    ("mail", "ForwardInfo", "other@a.test", False),
    ("mail", "FilterInfo", "user@b.test", False),
    ("mail", "AutoReplyInfo", "user", False),
    ("mail", "AccountInfo", "USER@A.TEST", True),
    ("mail", "AccountListInfo", "a.test", False),
    ("mail", "DomainInfo", "", False),
    ("domain", "POP3Info", "other@a.test", True),
    ("domain", "ForwardInfo", "user@b.test", False),
    ("domain", "FilterInfo", "user", False),           # a plain name reaches no other domain
    ("domain", "AutoReplyInfo", "boss@a.test", False),  # a higher level
    ("domain", "AccountInfo", "user@a.test", True),
    ("domain", "AccountInfo", "admin@b.test", False),
    ("domain", "AccountListInfo", "a.test", True),
    ("domain", "AccountListInfo", "b.test", False),
    ("domain", "AccountListInfo", "x@b.test", False),
    ("domain", "DomainInfo", "", False),
    ("system", "POP3Info", "user@b.test", True),
    ("system", "AccountInfo", "admin@b.test", True),
    ("system", "AccountListInfo", "b.test", True),
    ("system", "DomainInfo", "", True),
    ("system", "ForwardInfo", "../../etc", None),
    ("system", "FilterInfo", "ghost@a.test", None),
]


@pytest.fixture(scope="module")
def rights_server():
    # Opening a table changes nothing, so the rights cases share one server.
    with ac.TestServer(ac.MULTI_DOMAIN, ACCOUNTS) as s:
        yield s


@pytest.mark.parametrize("level,table,argument,allowed", RIGHTS)
def test_rights(rights_server, level, table, argument, allowed):
    server = rights_server
    account, password = LOGINS[level]
    with ac.TableSession(server.port, account, password) as t:
        reply = t.open(argument, table)
        if allowed is None:
            assert reply == "-ERR open database failed"
        else:
            assert reply == ("+OK " if allowed else "-ERR illegal user operation")
        if reply != "+OK ":
            assert t.conn.closed()
    assert not os.path.exists(os.path.join(server.home, "etc"))
    assert not os.path.exists(server.account_folder("ghost@a.test"))
