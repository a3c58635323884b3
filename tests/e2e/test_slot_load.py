"""The job slots under load, against the real QuorvexServer program from
several loopback addresses: raw attack sessions that never make progress,
a web-mail front end that names its users, and real clients (smtplib,
poplib) that must still be served. bench/load_attacks.py runs the same
attacks at full size."""
import os
import poplib
import smtplib
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import account_client as ac  # noqa: E402
from loopback_clients import Pop3From  # noqa: E402
from quorvex_program import ProgramFolder, wait_until  # noqa: E402


class Raw(ac.Connection):
    """A line client from `source` that sends `lines` at once; sending to a
    closed connection does nothing."""

    def __init__(self, port, source, lines=()):
        super().__init__(port, source=source, timeout=10)
        for line in lines:
            self.send(line)

    def send(self, line):
        try:
            super().send(line)
        except OSError:
            pass

    def wait_for(self, wanted):
        """Reads up to the line `wanted`; false when the server closed first."""
        while (line := self.read()) not in (wanted, None):
            pass
        return line == wanted

    def gone(self):
        """True once the server has closed the connection; never waits."""
        self.sock.setblocking(False)
        try:
            while self.sock.recv(65536):
                pass
            return True
        except BlockingIOError:
            return False
        except OSError:
            return True
        finally:
            self.sock.settimeout(10)


def served(home):
    """The longer of the times a message takes to be sent with smtplib and
    read back with poplib from 127.0.0.2; None when a client was refused."""
    moments = [time.monotonic()]
    try:
        with smtplib.SMTP("127.0.0.1", home.smtp, timeout=5, source_address=("127.0.0.2", 0)) as client:
            client.sendmail("someone@remote.test", ["demo@example.test"], b"Subject: served\r\n\r\nhello\r\n")
        moments.append(time.monotonic())
        pop = Pop3From(home.pop3, "127.0.0.2", timeout=5)
        pop.user("demo")
        pop.pass_("demo")
        assert pop.stat()[0] >= 1
        pop.quit()
    except (smtplib.SMTPConnectError, poplib.error_proto):
        return None
    return max(moments[1] - moments[0], time.monotonic() - moments[1])


def pacer(sessions, line, every):
    """Sends `line` on every session each `every` seconds until the event
    it returns is set."""
    stop = threading.Event()

    def run():
        while not stop.wait(every):
            for s in sessions:
                s.send(line)
    threading.Thread(target=run, daemon=True).start()
    return stop


def test_few_addresses_keep_a_share_and_web_mail_users_count_as_themselves(tmp_path):
    """90 sessions from two addresses that only send NOOP make the server
    busy: each address is cut to its share of 10, the longest-held first,
    with one log line, and its idle sessions go soon after the attack goes
    quiet. Eleven web-mail sessions from 127.0.0.1, one over a share, that
    name their users' addresses count as those users and stay; real clients
    are served."""
    home = ProgramFolder(tmp_path)
    with home.start() as program:
        program.wait_serving()
        web_mail = [Raw(home.pop3, "127.0.0.1", ["USER demo:10.9.9.%d" % n, "PASS demo"]) for n in range(11)]
        assert all(s.wait_for("+OK ") for s in web_mail)  # logged in
        smtp_attack = [Raw(home.smtp, "127.0.1.1", ["EHLO attacker"]) for _ in range(45)]
        pop3_attack = [Raw(home.pop3, "127.0.1.2", ["USER demo", "PASS demo"]) for _ in range(45)]
        stop = pacer(smtp_attack + pop3_attack + web_mail, "NOOP", 2.0)
        try:
            wait_until(lambda: sum(not s.gone() for s in smtp_attack) <= 10 and
                       sum(not s.gone() for s in pop3_attack) <= 10, 10, "the attack cut to its share")
            assert smtp_attack[0].gone() and not smtp_attack[-1].gone()  # the longest-held went
            assert not any(s.gone() for s in web_mail)
            assert served(home) < 5
        finally:
            stop.set()
        # Quiet: the held addresses' idle sessions go after 10 s, the web-mail users' stay.
        wait_until(lambda: all(s.gone() for s in smtp_attack + pop3_attack), 20, "the attack gone")
        assert not any(s.gone() for s in web_mail)
        program.stop()
    log = home.system_log()
    for address in ("127.0.1.1", "127.0.1.2"):
        assert log.count("job slots: %s holds " % address) == 1, log
    assert "job slots: 127.0.0.1 holds" not in log


def upload(client, seconds):
    """Message text from an smtplib client at 200 KB/s for `seconds`; the reply to its end."""
    with client:
        for command in ("EHLO up", "MAIL FROM:<up@remote.test>", "RCPT TO:<demo@example.test>", "DATA"):
            client.docmd(command)
        end, pace = time.monotonic() + seconds, threading.Event()
        while time.monotonic() < end:
            client.send((b"y" * 78 + b"\r\n") * 256)
            pace.wait(0.1)
        client.send(b".\r\n")
        return client.getreply()[0]


def slow_reader(home, source):
    """A POP3 client with a 1 KB receive buffer that asks for the first
    message and reads none of it: the server's send waits for it."""
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024)
    s.bind((source, 0))
    s.connect(("127.0.0.1", home.pop3))
    s.sendall(b"USER demo\r\nPASS demo\r\nRETR 1\r\n")
    return s


def reset_by_server(s):
    """True once the server has closed the connection, whose unread reply
    keeps its end from being seen: what is sent to it then is answered by
    a reset, and the connection is no longer established. Never waits."""
    try:
        s.send(b"NOOP\r\n")
    except OSError:
        return True
    return s.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 1)[0] != 1  # TCP_ESTABLISHED


def test_a_full_table_makes_room_for_a_new_address_or_refuses_at_once(tmp_path):
    """100 SMTP sessions from 25 addresses, each sending a line of message
    text every 2 s, fill every slot: a new connection is refused at
    once (SMTP 421, POP3 -ERR), never left waiting. Once they trickled past
    the window, a new client closes the slowest: a quiet session and a
    reader blocked in the server's send, never an upload."""
    home = ProgramFolder(tmp_path)
    with home.start() as program:
        program.wait_serving()
        with smtplib.SMTP("127.0.0.1", home.smtp, timeout=30) as client:
            client.sendmail("big@remote.test", ["demo@example.test"], b"Subject: big\r\n\r\n" + b"z" * (8 << 20))
        envelope = ["EHLO attacker", "MAIL FROM:<a@remote.test>", "RCPT TO:<demo@example.test>", "DATA"]
        # A last session may find the table full until those of the
        # start-up check have ended.
        attack = [wait_until(lambda: (s := Raw(home.smtp, "127.0.2.%d" % (1 + n % 25), envelope))
                             .wait_for("354 send the mail data, end with . ") and s, 10, "attack session %d" % n)
                  for n in range(100)]
        stop = pacer(attack, "x" * 78, 2.0)
        try:
            started = time.monotonic()
            assert Raw(home.smtp, "127.0.0.3").read() == "421 too many connections, try again later"
            assert Raw(home.pop3, "127.0.0.3").read() == "-ERR too many connections, try again later"
            assert time.monotonic() - started < 2
            assert wait_until(lambda: served(home), 20, "a new client served") < 5
            quiet = Raw(home.pop3, "127.0.0.4", ["USER demo", "PASS demo"])
            assert quiet.wait_for("+OK ")
            slow = slow_reader(home, "127.0.0.5")
            uploaded = []
            client = smtplib.SMTP("127.0.0.1", home.smtp, timeout=10, source_address=("127.0.0.4", 0))
            uploader = threading.Thread(target=lambda: uploaded.append(upload(client, 8)))
            uploader.start()
            wait_until(lambda: served(home) and quiet.gone(), 10, "the quiet session closed for room")
            assert served(home)
            uploader.join()
            assert uploaded == [250]
            # Sessions of one slot each, kept open, fill the table again until one needs room.
            holders = []
            wait_until(lambda: holders.append(Raw(home.pop3, "127.0.7.%d" % (1 + len(holders) % 250))) or
                       (holders[-1].read() is not None and reset_by_server(slow)), 15, "the blocked reader closed for room")
        finally:
            stop.set()
        for s in attack:
            s.close()
        program.stop()
    log = home.system_log()
    assert log.count("new connections are refused (first 127.0.0.3)") == 1, log
    assert log.count("the session idle longest is closed for each new connection") == 1, log
