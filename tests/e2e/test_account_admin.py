"""Domain administrator (ACCOUNT#) and system administrator (SYSADMIN#)
sessions through the real listener."""
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import account_client as ac  # noqa: E402

ACCOUNTS = {
    "user@a.test": ac.account_ini("upw", 0, volume=3),
    "admin@a.test": ac.account_ini("apw", 1, volume=5),
    "boss@a.test": ac.account_ini("bpw", 2, volume=7),
    "user@b.test": ac.account_ini("bupw", 0),
}


@pytest.fixture
def server():
    with ac.TestServer(ac.MULTI_DOMAIN, ACCOUNTS) as s:
        yield s


def test_domain_administrator_commands(server):
    with ac.AdminSession(server.port, "ACCOUNT", "user@a.test", "upw") as a:
        assert a.login_reply == "-ERR illeglar user"
    with ac.AdminSession(server.port, "ACCOUNT", "admin@a.test", "apw") as a:
        assert a.login_reply == "+OK"
        assert a.cmd("STAT") == "+OK 3 %d" % ((3 + 5 + 7) * 1048576)
        status, rows = a.listing("LIST")
        assert status == "+OK 3 %d" % ((3 + 5 + 7) * 1048576)
        assert sorted(r.split()[1] for r in rows) == ["admin@a.test", "boss@a.test", "user@a.test"]
        assert [r.split()[0] for r in rows] == ["1", "2", "3"]
        assert a.listing("LIST 2")[1] == []
        assert a.cmd("noop") == "+OK noop"
        assert a.cmd("SIZE user@a.test") == "+OK 3 0"
        assert a.cmd("WHAT") == "-ERR unknown command"
        assert a.cmd("CREA new@a.test") == "+OK "
        assert a.cmd("CONF new@a.test") == "+OK "
        for line in ["SIZE 50", "USER New Person", "FORW fw@x.test extra", "ENFW 1", "LVCP 0", "PASS np two"]:
            a.conn.send(line)
        assert a.cmd(".") == "+OK "
        status, rows = a.listing("RETR new@a.test")
        assert status == "+OK %d octets" % (50 * 1048576)
        assert rows[0] == "USER New Person" and rows[2] == "SIZE 50"
        assert rows[7:] == ["COMM ", "ENFW 1", "FORW fw@x.test", "LVCP 0"]
        assert a.cmd("DELE new@a.test") == "+OK "
        assert not os.path.exists(server.account_folder("new@a.test"))
        assert a.cmd("QUIT") == "+OK bye"
    with ac.AdminSession(server.port, "ACCOUNT", "admin@a.test", "apw") as a:
        assert a.cmd("RETR user@b.test") == "-ERR illeglar user name"
        assert a.conn.closed()
    with ac.AdminSession(server.port, "ACCOUNT", "admin@a.test", "apw") as a:
        assert a.cmd("CREA x@b.test") == "-ERR illeglar user name"
    with ac.AdminSession(server.port, "ACCOUNT", "admin@a.test", "apw") as a:
        assert a.cmd("CREA user@a.test") == "-ERR account already exists"
    with ac.AdminSession(server.port, "ACCOUNT", "admin@a.test", "apw") as a:
        assert a.cmd("DELE boss@a.test") == "-ERR Delete failed"
    assert os.path.isdir(server.account_folder("boss@a.test"))
    assert ac.login(server.port, "new@a.test", "np")[0] == "-ERR no such user"


def test_create_refused_by_the_domain_limit_is_reported():
    config = ac.MULTI_DOMAIN + "DNAccount1=1\r\n"
    with ac.TestServer(config, {"admin@a.test": ac.account_ini("apw", 1)}) as s:
        with ac.AdminSession(s.port, "ACCOUNT", "admin@a.test", "apw") as a:
            assert a.cmd("CREA more@a.test") == "-ERR Create account failed"
        assert not os.path.exists(s.account_folder("more@a.test"))


def test_system_administrator_commands(server):
    with ac.AdminSession(server.port, "SYSADMIN", "administrator", "wrong") as a:
        assert a.login_reply == "-ERR illeglar user"
    assert "administrator" in server.system_log()
    # Only the password whose digest is stored is accepted, not the digest.
    with ac.AdminSession(server.port, "SYSADMIN", "administrator", "Wm4TqR8sLpZ2vYc7NbKd0x") as a:
        assert a.login_reply == "-ERR illeglar user"
    with ac.AdminSession(server.port, "SYSADMIN", "administrator", "") as a:  # the window's, never the network's
        assert a.login_reply == "-ERR illeglar user"
    with ac.AdminSession(server.port, "SYSADMIN", "boss@a.test", "bpw") as a:
        assert a.login_reply == "-ERR illeglar user"
    config = server.read("config.ini")
    assert "Password=" not in config.split("[Log]")[0]


def test_system_administrator_session():
    # The digest of a known password, as the server stores account passwords.
    with ac.TestServer(ac.MULTI_DOMAIN) as probe:
        assert ac.signup(probe.port, "p@a.test", password="adminpw")[-1] == "+OK"
        digest = ac.login(probe.port, "p@a.test", "adminpw")[1][len("PASSWORD#"):]
    config = ac.MULTI_DOMAIN.replace("[System]\r\n", "[System]\r\nPassword=%s\r\n" % digest)
    with ac.TestServer(config) as s:
        with ac.AdminSession(s.port, "SYSADMIN", "Administrator:10.0.0.1", "adminpw") as a:
            assert a.login_reply == "+OK"
            assert a.cmd("STAT") == "+OK 2"
            assert a.listing("LIST") == ("+OK 2", ["1 a.test", "2 b.test"])
            assert a.listing("LIST 0 1") == ("+OK 2", ["1 a.test"])
            assert a.cmd("INST c.test") == "+OK "
            assert a.cmd("INST c.test") == "-ERR Add new failed"
            assert a.cmd("INST ../bad") == "-ERR Add new failed"
            assert a.cmd("STAT") == "+OK 3"
            assert "c.test" not in s.read("config.ini")
            assert a.cmd("DELE a.test") == "+OK"
            assert "DN2=c.test" in s.read("config.ini")
            assert a.cmd("PASS newer") == "+OK "
            assert a.cmd("PASS ") == "-ERR Update failed" and a.conn.closed()  # no empty password
        with ac.AdminSession(s.port, "SYSADMIN", "administrator", "adminpw") as a:
            assert a.login_reply == "-ERR illeglar user"
        with ac.AdminSession(s.port, "SYSADMIN", "administrator", "newer") as a:
            assert a.login_reply == "+OK"
            assert a.cmd("DELE " + "d" * 261) == "-ERR domain is too long"
            assert a.conn.closed()
        # A password is stored only when a login line can carry it.
        for password, reply in (("a#b", "-ERR the password including some illegal letter"),
                                ("p" * 499, "-ERR password is too long"), ("p" * 498, "+OK ")):
            with ac.AdminSession(s.port, "SYSADMIN", "administrator", "newer") as a:
                assert a.cmd("PASS " + password) == reply
        with ac.AdminSession(s.port, "SYSADMIN", "administrator", "p" * 498) as a:
            assert a.login_reply == "+OK"
