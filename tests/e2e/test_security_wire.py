"""Security on the wire: the real QuorvexServer program attacked as a
hostile client would, from several loopback addresses (127.0.0.2 is the
honest client, 127.0.0.3 the attacker), with raw sockets, smtplib, poplib
and a real receiving server (aiosmtpd)."""
import glob
import os
import poplib
import re
import resource
import selectors
import shutil
import smtplib
import socket
import struct
import subprocess
import sys
import threading
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import account_client as ac  # noqa: E402
import test_ports  # noqa: E402
from smtp_receiver import start_controller  # noqa: E402
from loopback_clients import Pop3From  # noqa: E402
from quorvex_program import PROGRAM, SOURCE, ProgramFolder, RunningProgram, relay_to, wait_until  # noqa: E402

HONEST = "127.0.0.2"
ATTACKER = "127.0.0.3"
# The messages here hold lines of 3,069 characters; poplib's own limit is 2,048.
poplib._MAXLINE = 8192


class Home(ProgramFolder):
    """The demo program folder (account demo/demo at example.test) on ports
    of the test port allocator."""

    def pick_ports(self):
        self.smtp, self.pop3, self.admin = test_ports.take(3)
        self.set("Port", "SMTP", self.smtp)
        self.set("Port", "POP3", self.pop3)
        self.set("Port", "Admin", self.admin)

    def account_file(self, account="demo"):
        return os.path.join(self.path, "mail", account, "maillist.ini")


def raw(port, source=HONEST):
    """A line-by-line client on a raw socket bound to `source`."""
    return ac.Connection(port, source=source, timeout=10)


def rest(connection):
    """Every line until the server closes."""
    lines = []
    while (line := connection.read()) is not None:
        lines.append(line)
    return lines


def smtp_from(home, source=HONEST):
    client = smtplib.SMTP("127.0.0.1", home.smtp, timeout=10, source_address=(source, 0))
    client.ehlo("client.test")
    return client


def pop3_messages(home, source=HONEST):
    pop = Pop3From(home.pop3, source)
    pop.user("demo")
    pop.pass_("demo")
    messages = [pop.retr(n + 1)[1] for n in range(pop.stat()[0])]
    pop.quit()
    return messages


def test_over_long_lines_are_one_error_and_never_a_command(tmp_path):
    home = Home(tmp_path)
    with home.start() as program:
        program.wait_serving()
        smtp = raw(home.smtp)
        assert smtp.read().startswith("220 ")
        assert smtp.ask("NOOP " + "x" * 5000 + "HELO evil") == "500 line too long"
        assert smtp.ask("HELO client") == "250 welcome here"
        assert smtp.ask("V" * 3069) == "501 command argument is not acceptable"  # one line, one reply
        smtp.send("QUIT")
        assert rest(smtp) == ["221 SMTP SERVICE CLOSED"]

        pop = raw(home.pop3)
        assert pop.read().startswith("+OK")
        assert pop.ask("y" * 3069) == "-ERR unknown command"
        assert pop.ask("j" * 3069 + "STAT") == "-ERR line too long"
        assert pop.ask("USER demo") == "+OK welcome here"
        assert pop.ask("PASS demo") == "+OK "
        assert pop.ask("NOOP" + "n" * 3064) == "+OK noop"  # 3068 characters
        assert pop.ask("NOOP" + "n" * 3065) == "+OK noop"  # 3069 characters
        assert pop.ask("NOOP" + "n" * 3066) == "-ERR line too long"
        pop.send("QUIT")
        assert rest(pop) == ["+OK bye"]

        for line, reply in [("LOGIN#" + "u" * 3063, "-ERR user name is too long"),
                            ("LOGIN#" + "u" * 3064, "-ERR line too long")]:
            with ac.Connection(home.admin) as c:
                assert c.ask(line) == reply
                assert c.closed()

        # In the message a cut just before a dot keeps the dot.
        body = b"Subject: cut\r\n\r\n" + b"r" * 3069 + b".b\r\n.c\r\n"
        with smtp_from(home) as client:
            assert client.sendmail("someone@remote.test", ["demo@example.test"], body) == {}
        lines = pop3_messages(home)[0]
        assert lines[-3:] == [b"r" * 3069, b".b", b".c"]
        assert program.stop()[0] == 0


def raise_open_files(wanted):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < wanted:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(wanted, hard), hard))


def test_trickling_clients_cannot_take_every_slot(tmp_path):
    """300 POP3 and 300 SMTP connections from one address, each sent a byte
    now and then: the address gets its limit of slots and no more, a client
    of another address is served at once by all three servers, and once the
    server is busy the address keeps no more than its share of 10 slots
    although its clients keep trickling. (tests/app/TricklingClientsTest
    runs the same attack with a shortened idle limit until every connection
    is gone.)"""
    raise_open_files(4096)
    home = Home(tmp_path)
    home.set("WebMail", "IP", "127.0.0.1;" + HONEST)
    # Enough slots for one address to make the server busy (80 of 100).
    home.set("System", "MaxConnectionPerIP", 85)
    with home.start() as program:
        program.wait_serving()
        attackers = []
        for port in [home.pop3] * 300 + [home.smtp] * 300:
            s = socket.socket()
            s.bind((ATTACKER, 0))
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", port))
            attackers.append(s)
        selector = selectors.DefaultSelector()
        for s in attackers:
            selector.register(s, selectors.EVENT_READ)
        greeted, closed = set(), set()
        stop = threading.Event()

        def trickle():
            while not stop.is_set():
                for s in attackers:
                    if s not in closed:
                        try:
                            s.send(b"x")
                        except OSError:
                            pass
                stop.wait(1.0)

        def watch(seconds):
            for key, _ in selector.select(timeout=seconds):
                s = key.fileobj
                try:
                    data = s.recv(4096)
                except OSError:
                    data = b""
                if data:
                    greeted.add(s)
                else:
                    closed.add(s)
                    selector.unregister(s)

        trickler = threading.Thread(target=trickle)
        trickler.start()
        try:
            started = time.monotonic()
            smtp = raw(home.smtp, HONEST)
            assert smtp.read().startswith("220 ")
            pop = raw(home.pop3, HONEST)
            assert pop.read().startswith("+OK")
            with ac.Connection(home.admin, source=HONEST) as c:
                assert c.ask("LOGIN#demo#demo") == "+OK"
            assert time.monotonic() - started < 5
            smtp.close()
            pop.close()
            # Busy: the address is cut to its share, the longest-held
            # sessions first, and stays held to it.
            deadline = time.monotonic() + 40
            while "server load normal again" not in home.system_log() and time.monotonic() < deadline:
                watch(0.5)
            while (len(greeted - closed) > 10 or len(greeted | closed) < len(attackers)) and \
                    time.monotonic() < deadline:
                watch(0.5)
            assert trickler.is_alive()
        finally:
            stop.set()
            trickler.join()
        assert len(greeted - closed) <= 10, len(greeted - closed)
        refused = [s for s in attackers if s not in greeted]
        assert all(s in closed for s in refused)
        code, _, _, err = program.stop()
        assert code == 0
        for s in attackers:
            s.close()
    log = home.system_log()
    assert "server busy: " in log and "idle clients are dropped after 10 s" in log
    assert "server load normal again: " in log
    assert log.count("job slots: %s holds " % ATTACKER) == 1, log
    assert b"server busy: " in err


# Every config.ini the project installs (the demo's, the commented example).
SHIPPED_CONFIGURATIONS = sorted(glob.glob(os.path.join(SOURCE, "data", "**", "config*.ini"), recursive=True))


@pytest.mark.parametrize("config", SHIPPED_CONFIGURATIONS, ids=lambda path: os.path.relpath(path, SOURCE))
def test_shipped_settings_are_no_open_relay(tmp_path, config):
    home = Home(tmp_path)  # the demo's accounts, then the shipped settings as they are
    shutil.copy(config, home.config)
    home.pick_ports()
    domain = re.search(rb"^Dominame=(\S+)", open(config, "rb").read(), re.M).group(1).decode()
    with home.start() as program:
        program.wait_serving()
        with smtp_from(home) as client:
            # A sender that names a local account must log in first.
            code, text = client.mail("demo@" + domain)
            assert code == 550 and b"requires smtp authentication" in text
        with smtp_from(home) as client:
            assert client.mail("x@remote.test")[0] == 250
            code, text = client.rcpt("y@elsewhere.test")
            assert code == 550 and (b"relay mail disabled" in text or b"cannot forward mail" in text), text
        _, _, _, err = program.stop()
    assert b"open relay" not in err
    assert "open relay" not in home.system_log()


def test_settings_that_make_an_open_relay_say_so(tmp_path):

    for name, key, value, said in [("esmtp", "ESMTP", 0, b"ESMTP=0 with MailServerModel=1"),
                                   ("open", "OpenRelay", 1, b"OpenRelay=1")]:
        home = Home(tmp_path / name)
        home.set("System", "MailServerModel", 1)  # an Internet server, unlike the demo
        home.set("System", key, value)
        with home.start() as program:
            program.wait_serving()
            _, _, _, err = program.stop()
        warnings = [line for line in err.splitlines() if b"open relay" in line]
        assert len(warnings) == 1 and said in warnings[0], err
        assert home.system_log().count("open relay") == 1


def test_disabled_accounts_and_signed_up_admins_get_no_access(tmp_path):
    home = Home(tmp_path)
    ac_text = open(home.account_file(), "rb").read().replace(b"Disabled=0", b"Disabled=1")
    with open(home.account_file(), "wb") as f:
        f.write(ac_text)
    with home.start() as program:
        program.wait_serving()
        with smtp_from(home) as client:
            try:
                client.login("demo", "demo")
                raise AssertionError("a disabled account logged in")
            except smtplib.SMTPAuthenticationError as error:
                assert error.smtp_code == 535 and error.smtp_error == b"authentication failed"
        pop = raw(home.pop3)
        pop.read()
        assert pop.ask("USER demo") == "-ERR the account is disabled"
        for request in ["LOGIN#demo#demo", "UPDATE#demo#demo", "DELETE#demo#demo", "AUTH#demo#demo",
                        "ACCOUNT#demo#demo"]:
            with ac.Connection(home.admin) as c:
                assert c.ask(request) == "-ERR the account is disabled", request
        # Signing up as "admin" gives no administrator rights.
        assert ac.signup(home.admin, "admin", password="pw")[-1] == "+OK"
        with ac.Connection(home.admin) as c:
            assert c.ask("ACCOUNT#admin#pw") == "-ERR illeglar user"
        with ac.TableSession(home.admin, "admin", "pw") as t:
            assert t.login_reply == "+OK"
            assert t.open("demo", "AccountInfo") == "-ERR illegal user operation"
        assert program.stop()[0] == 0
    assert "Permission=0" in open(home.account_file("admin"), encoding="latin-1").read()


def test_password_guessing_is_logged_and_locked(tmp_path):
    home = Home(tmp_path)
    with home.start() as program:
        program.wait_serving()
        # Ten wrong passwords from one address, spread over two protocols.
        for _ in range(5):
            with smtp_from(home, ATTACKER) as client:
                try:
                    client.login("demo", "guess-one")
                except smtplib.SMTPAuthenticationError as error:
                    assert error.smtp_code == 535
                # The failed login left the session as it was: no user to
                # compare a sender with.
                assert client.mail("x@remote.test")[0] == 250
            pop = Pop3From(home.pop3, ATTACKER)
            pop.user("demo")
            try:
                pop.pass_("guess-two")
            except poplib.error_proto as error:
                assert error.args[0] == b"-ERR the password incorrect"
            pop.close()
        # Now even the right password is refused from there, with the
        # usual replies ...
        with smtp_from(home, ATTACKER) as client:
            try:
                client.login("demo", "demo")
                raise AssertionError("a locked address logged in")
            except smtplib.SMTPAuthenticationError as error:
                assert error.smtp_code == 535 and error.smtp_error == b"authentication failed"
        pop = Pop3From(home.pop3, ATTACKER)
        pop.user("demo")
        try:
            pop.pass_("demo")
            raise AssertionError("a locked address logged in")
        except poplib.error_proto as error:
            assert error.args[0] == b"-ERR the password incorrect"
        pop.close()
        # ... while another address logs in as usual.
        with smtp_from(home, HONEST) as client:
            assert client.login("demo", "demo")[0] == 235
        assert pop3_messages(home, HONEST) is not None
        _, _, _, err = program.stop()
    log = home.system_log()
    for service in ("smtp", "pop3"):
        line = "login failed: service=%s address=%s account=demo outcome=wrong-password" % (service, ATTACKER)
        assert log.count(line) == 5, service
        assert err.count(line.encode()) == 5, service
        # The protocol's own log shows it too, beside the session's other lines.
        assert daily_log(home, service + "log").count(ATTACKER + " " + line) == 5, service
    assert log.count("login locked: address=%s " % ATTACKER) == 1
    assert "guess-" not in log and b"guess-" not in err


def pop3_reply(home, user, password, source):
    """The server's answer to PASS after USER, from `source`."""
    pop = Pop3From(home.pop3, source)
    pop.user(user)
    try:
        return pop.pass_(password)
    except poplib.error_proto as error:
        return error.args[0]
    finally:
        pop.close()


def test_a_forwarded_address_is_throttled_and_the_front_ends_other_users_are_not(tmp_path):
    """127.0.0.1 is the web-mail front end: guesses it forwards for one user's
    address lock that address on every service, while its other users, its
    own requests and a client of its own address log in as usual."""
    home = Home(tmp_path)
    front_end = "127.0.0.1"

    def pop3_login(user, password, source=front_end):
        return pop3_reply(home, user, password, source)

    with home.start() as program:
        program.wait_serving()
        for _ in range(10):
            assert pop3_login("demo:10.9.9.9", "guess") == b"-ERR the password incorrect"
        assert pop3_login("demo:10.9.9.9", "demo") == b"-ERR the password incorrect"
        with raw(home.admin, front_end) as c:
            assert c.ask("LOGIN#demo:10.9.9.9#demo") == "-ERR password incorrect"
        assert pop3_login("demo:10.9.9.8", "demo").startswith(b"+OK")
        assert pop3_login("demo", "demo").startswith(b"+OK")
        assert pop3_login("demo:10.9.9.9", "demo", HONEST).startswith(b"+OK")  # not a front end: its own address
        assert ac.login(home.admin, "demo:10.9.9.8", "demo")[0] == "+OK"
        assert program.stop()[0] == 0
    log = home.system_log()
    line = "login failed: service=pop3 address=10.9.9.9 via=127.0.0.1 account=demo outcome=wrong-password"
    assert log.count(line) == 10
    assert log.count("login locked: address=10.9.9.9 via=127.0.0.1 failures=10 ") == 1
    assert "address=127.0.0.1 " not in log


def test_a_full_login_table_still_locks_new_addresses(tmp_path):
    """With 20 addresses followed (10,000 made small) and all of them locked, a new
    address is locked by its tenth wrong password, and its /24 with it; another
    network's client logs in."""
    home = Home(tmp_path)
    home.set("WebMail", "IP", "127.0.0.1;127.0.0.9")
    capacity = 20
    with home.start(extra_env={"QUORVEX_CLIENT_TABLE_SIZE": str(capacity)}) as program:
        program.wait_serving()
        for n in range(capacity):
            for _ in range(10):
                with raw(home.admin, "127.0.0.1") as c:
                    assert c.ask("LOGIN#demo:10.8.0.%d#guess" % n) == "-ERR password incorrect"
        for _ in range(10):
            assert pop3_reply(home, "demo", "guess", "127.0.0.5") == b"-ERR the password incorrect"
        assert pop3_reply(home, "demo", "demo", "127.0.0.5") == b"-ERR the password incorrect"
        with smtp_from(home, "127.0.0.7") as client, pytest.raises(smtplib.SMTPAuthenticationError):
            client.login("demo", "demo")
        with raw(home.admin, "127.0.0.9") as c:
            assert c.ask("LOGIN#demo#demo") == "-ERR password incorrect"
        assert pop3_reply(home, "demo", "demo", "127.0.1.5").startswith(b"+OK")
        assert program.stop()[0] == 0
    log = home.system_log()
    assert log.count("login locked: address=10.8.0.") == capacity
    assert log.count("login locked: address=127.0.0.5 failures=10 within=300s refused for 300s, "
                     "counted with its network 127.0.0.0/24 beyond the %d addresses followed" % capacity) == 1


def daily_log(home, prefix):
    text = ""
    folder = os.path.join(home.path, "log")
    for name in sorted(os.listdir(folder)):
        if name.startswith(prefix):
            with open(os.path.join(folder, name), "rb") as f:
                text += f.read().decode("latin-1")
    return text


def test_a_full_daily_log_says_so_and_failed_logins_still_reach_standard_error(tmp_path):
    home = Home(tmp_path)
    home.set("Log", "MaxLogLine", 3)
    with home.start() as program:
        program.wait_serving()
        for _ in range(4):
            pop = Pop3From(home.pop3, ATTACKER)
            pop.user("demo")
            with pytest.raises(poplib.error_proto):
                pop.pass_("guess")
            pop.close()
        _, _, _, err = program.stop()
    # The system log fills first (the start's lines): the POP3 log's note
    # then promises standard error only.
    for prefix in ("pop3log", "syslog"):
        assert daily_log(home, prefix).endswith(" is full ([Log] MaxLogLine=3 lines a day): further lines of this day "
                                                "are not written to it. Failed logins and login locks still go to "
                                                "standard error.\r\n"), prefix
    assert err.count(b"login failed: service=pop3 address=%s " % ATTACKER.encode()) == 4
    assert err.count(b"QuorvexServer: The POP3 log ") == 1 and err.count(b"QuorvexServer: The system log ") == 1


def test_one_connection_carries_several_transactions(tmp_path):
    home = Home(tmp_path)
    with home.start() as program:
        program.wait_serving()
        with smtp_from(home) as client:
            for sender in ("a@remote.test", "b@remote.test"):
                assert client.sendmail(sender, ["demo@example.test"], b"Subject: %s\r\n\r\nx\r\n" % sender.encode()) == {}
            assert client.mail("c@remote.test")[0] == 250
            assert client.rset()[0] == 250
            assert client.sendmail("d@remote.test", ["demo@example.test"], b"Subject: d\r\n\r\nx\r\n") == {}
        # An authenticated session sends as its user only.
        with smtp_from(home) as client:
            client.login("demo", "demo")
            assert client.sendmail("demo@example.test", ["demo@example.test"], b"Subject: own\r\n\r\nx\r\n") == {}
            code, text = client.mail("other@remote.test")
            assert code == 550 and b"is different from esmtp user demo@example.test" in text
        # ...with the whole address: the same name at another domain is another sender.
        with smtp_from(home) as client:
            client.login("demo", "demo")
            code, text = client.mail("demo@other.test")
            assert code == 550 and b"demo@other.test is different from esmtp user demo@example.test" in text
        assert len(pop3_messages(home)) == 4
        assert program.stop()[0] == 0


def write_full_index(home, account, count):
    """An index of `count` ten-byte messages in folder 0 (the format the
    mailbox store reads: a 21,520-byte header, then 36-byte records), and
    their message files (the folder is believed over the index)."""
    header = bytearray(21520)
    struct.pack_into("<iiii", header, 0, 1, count, count, count)
    struct.pack_into("<ii", header, 16, count, 10 * count)
    for folder in (0, 1):
        struct.pack_into("<HHH", header, 16 + 84 * folder + 74, folder, 1, 0xFFFF)
    records = b"".join(struct.pack("<iiiIiHHHH8x", i, i, i + 1, i + 1, 10, 0, 0, 0, 0) for i in range(count))
    with open(os.path.join(home.path, "mail", account, "mailinfo.dat"), "wb") as f:
        f.write(bytes(header) + records)
    for i in range(count):
        with open(os.path.join(home.path, "mail", account, "%d.eml" % (i + 1)), "wb") as f:
            f.write(b"Subject:\r\n")  # ten bytes, as recorded


def test_full_mailbox_is_permanent_and_a_refused_web_mail_account_delivers_nothing(tmp_path):
    home = Home(tmp_path)
    write_full_index(home, "demo", 10239)
    with home.start() as program:
        program.wait_serving()
        with smtp_from(home) as client:
            try:
                client.sendmail("x@remote.test", ["demo@example.test"], b"Subject: full\r\n\r\nx\r\n")
                raise AssertionError("accepted for a full mailbox")
            except smtplib.SMTPDataError as error:
                assert error.smtp_code == 552 and error.smtp_error == b"too many messages in this mail box."
        # A web-mail front end (127.0.0.1) naming no account for its copy
        # is refused before anything reaches a recipient.
        webmail = raw(home.smtp, "127.0.0.1")
        webmail.read()
        assert webmail.ask("HELO ghost:192.0.2.9:1:0") == "250 welcome here"
        assert webmail.ask("MAIL FROM:<x@remote.test>") == "550 ghost is absent."
        assert rest(webmail) == []
        assert program.stop()[0] == 0
    assert os.path.getsize(os.path.join(home.path, "mail", "demo", "mailinfo.dat")) == 21520 + 36 * 10239


def mount_namespace_refusal(tmp_path):
    """Why a private mount namespace with a tmpfs cannot be had here (the
    output of the attempt), or None when it can."""
    target = os.path.join(str(tmp_path), "namespace-probe")
    os.makedirs(target, exist_ok=True)
    try:
        probe = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c",
                                'mount -t tmpfs -o size=16k quorvex-probe "$1"', "sh", target],
                               capture_output=True, timeout=30)
    except FileNotFoundError:
        return "unshare is not installed"
    if probe.returncode == 0:
        return None
    return (probe.stderr or probe.stdout).decode("latin-1").strip() or "exit status %d" % probe.returncode


def start_on_full_disk(home, folder=None):
    """The program with a folder (its queue folder by default) on a tiny
    file system of its own (a tmpfs mounted in a private mount namespace),
    holding what the folder held."""
    queue = folder or os.path.join(home.path, "smtp")
    os.makedirs(queue, exist_ok=True)
    script = ('cp -a "$1" "$1.before" && mount -t tmpfs -o size=256k quorvex-full "$1" && '
              'cp -a "$1.before/." "$1" && rm -rf "$1.before" && exec "$2" -service')
    program = RunningProgram.__new__(RunningProgram)
    program.folder, program.arguments, program.extra_env = home, ("-service",), None
    program.process = subprocess.Popen(["unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh",
                                        queue, PROGRAM], env=home.environment(), stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE)
    return program


def test_a_full_disk_is_a_temporary_failure(tmp_path):
    # The tiny disk is a tmpfs in a private mount namespace: root (as in
    # CI) or a system that lets this user make one.
    refusal = mount_namespace_refusal(tmp_path)
    if refusal is not None:
        pytest.skip("mount namespaces are not available here (%s)" % refusal)
    home = Home(tmp_path)
    with start_on_full_disk(home) as program:
        program.wait_serving()
        big = b"Subject: big\r\n\r\n" + (b"z" * 998 + b"\r\n") * 600  # 600 kB, more than the disk holds
        with smtp_from(home) as client:
            try:
                client.sendmail("x@remote.test", ["demo@example.test"], big)
                raise AssertionError("accepted without room on the disk")
            except smtplib.SMTPDataError as error:
                assert error.smtp_code == 452 and error.smtp_error == b"insufficient system storage"
            # Nothing was kept: the next message fits and is delivered.
            assert client.sendmail("x@remote.test", ["demo@example.test"], b"Subject: small\r\n\r\nx\r\n") == {}
        messages = pop3_messages(home)
        assert len(messages) == 1 and b"Subject: small" in messages[0]
        assert program.stop()[0] == 0


def test_deleting_mail_commits_on_a_full_disk_and_frees_it(tmp_path):
    refusal = mount_namespace_refusal(tmp_path)
    if refusal is not None:
        pytest.skip("mount namespaces are not available here (%s)" % refusal)
    home = Home(tmp_path)
    folder = os.path.join(home.path, "mail", "demo")
    with start_on_full_disk(home, folder) as program:
        program.wait_serving()
        piece = b"Subject: fill\r\n\r\n" + (b"f" * 998 + b"\r\n") * 12
        with smtp_from(home) as client:
            for _ in range(5):
                assert client.sendmail("x@remote.test", ["demo@example.test"], piece) == {}
        # Whatever room is left goes to a file written inside the program's
        # mount namespace: the disk is full to the last block.
        filled = subprocess.run(["nsenter", "-t", str(program.process.pid), "-m", "--", "sh", "-c",
                                 'cat /dev/zero > "$1/filler"', "sh", folder], capture_output=True, timeout=60)
        assert b"No space left" in filled.stderr, filled.stderr
        with smtp_from(home) as client, pytest.raises(smtplib.SMTPDataError) as refused:
            client.sendmail("x@remote.test", ["demo@example.test"], b"Subject: small\r\n\r\nx\r\n")
        assert refused.value.smtp_code in (451, 452)
        pop = Pop3From(home.pop3, HONEST)
        pop.user("demo")
        pop.pass_("demo")
        for n in range(pop.stat()[0]):
            pop.dele(n + 1)
        assert pop.quit().startswith(b"+OK")
        # The space came back: new mail is taken again.
        with smtp_from(home) as client:
            assert client.sendmail("x@remote.test", ["demo@example.test"], piece) == {}
        assert len(pop3_messages(home)) == 1
        assert program.stop()[0] == 0


class Receiver:
    def __init__(self):
        self.contents = []

    async def handle_DATA(self, server, session, envelope):
        self.contents.append(envelope.original_content)
        return "250 accepted"


def test_what_goes_out_is_clean(tmp_path):
    receiver = Receiver()
    controller, port = start_controller(receiver)
    try:
        home = Home(tmp_path)
        relay_to(home, port)
        with home.start() as program:
            program.wait_serving()
            # A bare CR in HELO never reaches a stored header.
            client = raw(home.smtp)
            client.read()
            for command, reply in [("HELO evil\rX-Forged yes", "250 welcome here"), ("MAIL FROM:<x@remote.test>", "250 OK"),
                                   ("RCPT TO:<demo@example.test>", "250 OK"),
                                   ("DATA", "354 send the mail data, end with . "),
                                   ("Subject: helo\r\n\r\nx\r\n.", "250 "), ("QUIT", "221 SMTP SERVICE CLOSED")]:
                assert client.ask(command) == reply, command
            client.close()
            received = [line for line in pop3_messages(home)[0] if line.startswith(b"Received:")]
            assert received == [b"Received: from evil?X-Forged yes (unknown [%s])" % HONEST.encode()]
            # Bare CRs in stored mail leave as CR LF; a dot that then begins
            # a line is stuffed, so it arrives whole.
            with smtp_from(home) as client:
                client.login("demo", "demo")
                body = b"Subject: out\r\n\r\nfirst\rsecond\r\nthird\r.fourth\r\n"
                assert client.sendmail("demo@example.test", ["friend@remote.test"], body) == {}
            wait_until(lambda: receiver.contents, 30, "the relayed message")
            assert program.stop()[0] == 0
        content = receiver.contents[0]
        assert re.search(rb"\r(?!\n)|(?<!\r)\n", content) is None, content
        assert content.endswith(b"Subject: out\r\n\r\nfirst\r\nsecond\r\nthird\r\n.fourth\r\n"), content
    finally:
        controller.stop()


def test_new_account_names_are_plain_and_old_ones_keep_working(tmp_path):
    home = Home(tmp_path)
    old = os.path.join(home.path, "mail", "old name")
    os.makedirs(old)
    with open(home.account_file(), "rb") as f:
        demo = f.read()
    with open(os.path.join(old, "maillist.ini"), "wb") as f:
        f.write(demo)  # the demo account's password, "demo"
    with home.start() as program:
        program.wait_serving()
        refused = "-ERR the account including some illegal letter"
        for name, reply in [("ab\0cd", refused), ("a..b", refused), (".x", refused), ("x.", refused),
                            ("caf\xe9", refused), ("n" * 77, "-ERR user name is too long"),
                            ("_x", "-ERR The user account already exists."), ("jo.smith_2-x", "+OK")]:
            replies = ac.signup(home.admin, name, password="pw")
            assert replies[0] == reply, name
            assert (replies[-1] == "+OK" and len(replies) == 10) == (reply == "+OK"), name
        assert not os.path.exists(os.path.join(home.path, "mail", "ab"))
        # An existing account with a name that would not be taken today
        # still logs in.
        pop = Pop3From(home.pop3, HONEST)
        pop.user("old name")
        assert pop.pass_("demo").startswith(b"+OK")
        pop.quit()
        assert ac.login(home.admin, "old name", "demo")[0] == "+OK"
        assert program.stop()[0] == 0
