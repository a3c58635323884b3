#!/usr/bin/python3
"""Attacks that trickle real progress into every job slot, and real clients
that must outlast them, against the real program on loopback only.

  data      100 SMTP sessions from 10 addresses (10 each) inside DATA, each
            sending an 80-byte line of message text every 2 s
  data-50   the same from 50 addresses (2 each)
  pop3read  100 POP3 sessions from 10 addresses (10 each), each reading a
            1 KB message every 2 s
  slowread  100 POP3 sessions from 10 addresses (10 each) with a 1 KB
            receive buffer: RETR of a 20 MB message, then 2 KB read every
            30 s (the server's send waits for them)
  ehlo      100 SMTP sessions from 10 addresses with a 1 KB receive buffer
            that pipeline 20,000 EHLO lines before any login, then read
            2 KB every 30 s
  data-100  100 SMTP sessions from 100 addresses (one slot each) inside
            DATA, each sending an 80-byte line every 8 s
  front     100 POP3 users of the web-mail front end, each naming its own
            address, logged in and sending NOOP every 8 s

Each run gives the real clients of 127.0.0.10 their slots first, alone or
beside a quiet POP3 session of that address (logged in, then silent):

  upload    20 MB of message text by SMTP at 200 KB/s
  download  10 messages of 1 MB by POP3, read at 200 KB/s
  reader    a 100 KB message read by POP3 every 8 s while the others run
  top       headers and 200 lines of the 100 KB message (TOP) over and
            over, read at 9.5 KB/s
  listing   LIST and UIDL of 200 messages over and over, read at 30 KB/s

Then the attack fills the table (a connection the server closes comes back
a second later). After SETTLE seconds of attack, 5 new clients per service
from 127.0.0.9 (smtplib, poplib, the account server's LOGIN#), one every
2 s, must each be served within 5 s. One line per run, each attack run
once alone and once with the quiet session (--quiet: with it only), RUNS
times over:

    bench/pace_attacks.py BUILD_DIR [ATTACK ...] [--runs N] [--quiet]
"""
import os
import poplib
import itertools
import resource
import shutil
import smtplib
import socket
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "support"))
import load_attacks as la  # noqa: E402
from loopback_clients import Pop3From  # noqa: E402

qp = None  # quorvex_program, once main() has named the build folder
NORMAL = "127.0.0.10"
RATE = 200 * 1024  # bytes a second
SETTLE = 12.0      # longer than the window a session is judged by
LINE = b"x" * 78 + b"\r\n"
UPLOAD = 20 * 1024 * 1024

TEN = ["127.0.3.%d" % (1 + i % 10) for i in range(100)]
FIFTY = ["127.0.4.%d" % (1 + i % 50) for i in range(100)]
HUNDRED = ["127.0.5.%d" % (1 + i) for i in range(100)]
SMTP_DATA = (la.SMTP_DATA[0], LINE)
POP3_READ = (b"USER demo\r\nPASS demo\r\n", b"RETR 1\r\n")
SLOW_RETR = b"USER slow\r\nPASS demo\r\nRETR 1\r\n"
EHLOS = b"EHLO attacker\r\n" * 20000
FORWARDED = itertools.count(1)
FRONT_USERS = (lambda source: b"USER demo:127.0.6.%d\r\nPASS demo\r\n" % next(FORWARDED), b"NOOP\r\n")

# name: (service, sources, script, seconds between sends, slow reader)
ATTACKS = {
    "data": ("smtp", TEN, SMTP_DATA, 2.0, False),
    "data-50": ("smtp", FIFTY, SMTP_DATA, 2.0, False),
    "pop3read": ("pop3", TEN, POP3_READ, 2.0, False),
    "slowread": ("pop3", TEN, (SLOW_RETR, None), 30.0, True),
    "ehlo": ("smtp", TEN, (EHLOS, None), 30.0, True),
    "data-100": ("smtp", HUNDRED, (la.SMTP_DATA[0], LINE), 8.0, False),
    "front": ("pop3", [la.FRONT] * 100, FRONT_USERS, 8.0, False),
}


class SlowReaders(threading.Thread):
    """Attack connections with a 1 KB receive buffer: each sends its
    opening as fast as the server takes it, and takes 2 KB of what the
    server sends every `pace` seconds; one the server is seen to close comes
    back a second later."""

    def __init__(self, port, sources, opening, pace):
        super().__init__(daemon=True)
        self.port, self.sources, self.opening, self.pace = port, sources, opening, pace
        self.sockets = {}
        self.unsent = {}
        self.returning = []
        self.stopping = threading.Event()
        self.stopped = threading.Event()
        self.closed_by_server = 0

    def open(self, source):
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024)
        s.bind((source, 0))
        s.settimeout(10)
        try:
            s.connect(("127.0.0.1", self.port))
        except OSError:
            s.close()
            self.returning.append((time.monotonic() + 1.0, source))
            return
        s.setblocking(False)
        self.sockets[s] = source
        self.unsent[s] = self.opening

    def push(self, s):
        """More of the opening; False when the server closed."""
        try:
            sent = s.send(self.unsent[s])
        except BlockingIOError:
            return True
        except OSError:
            return False
        self.unsent[s] = self.unsent[s][sent:]
        return True

    def take(self, s):
        """2 KB, or less when no more is there; False when the server closed."""
        got = 0
        while got < 2048:
            try:
                data = s.recv(2048 - got)
            except BlockingIOError:
                return True
            except OSError:
                return False
            if not data:
                return False
            got += len(data)
        return True

    def run(self):
        for source in self.sources:
            self.open(source)
        next_take = time.monotonic() + self.pace
        while not self.stopping.wait(0.5):
            taking = time.monotonic() >= next_take
            if taking:
                next_take += self.pace
            for s in list(self.sockets):
                if not (self.push(s) if self.unsent[s] else True) or (taking and not self.take(s)):
                    self.returning.append((time.monotonic() + 1.0, self.sockets.pop(s)))
                    del self.unsent[s]
                    s.close()
                    self.closed_by_server += 1
            now = time.monotonic()
            due = [source for when, source in self.returning if when <= now]
            self.returning = [(when, source) for when, source in self.returning if when > now]
            for source in due:
                self.open(source)
        for s in self.sockets:
            s.close()
        self.stopped.set()


class Cut(Exception):
    pass


def text_of(size):
    """A message of about `size` bytes."""
    return b"Subject: %d bytes\r\n\r\n" % size + LINE * max(1, size // len(LINE))


def pace(started, done, rate=RATE):
    """Waits until `done` bytes are due at `rate` since `started`."""
    ahead = started + done / rate - time.monotonic()
    if ahead > 0:
        time.sleep(ahead)


def upload(home, ready, stop):
    started = time.monotonic()
    with smtplib.SMTP("127.0.0.1", home.smtp, timeout=30, source_address=(NORMAL, 0)) as client:
        client.ehlo("normal.test")
        client.mail("normal@remote.test")
        client.rcpt("demo@example.test")
        if client.docmd("DATA")[0] != 354:
            raise Cut("DATA refused")
        ready.set()
        started, sent, piece = time.monotonic(), 0, LINE * 256
        while sent < UPLOAD:
            client.send(piece)
            sent += len(piece)
            pace(started, sent)
        client.send(b".\r\n")
        code = client.getreply()[0]
    if code != 250:
        raise Cut("reply %d to the end of the text" % code)
    return "20 MB in %.0f s" % (time.monotonic() - started)


class Pop3Lines:
    """A POP3 client on a raw socket with a small receive buffer, whose
    message reads keep to RATE: the server's writes wait for it."""

    def __init__(self, port, user):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 * 1024)
        self.sock.settimeout(30)
        self.sock.bind((NORMAL, 0))
        self.sock.connect(("127.0.0.1", port))
        self.rest = b""
        for line in (None, b"USER %s" % user, b"PASS demo"):
            if line:
                self.sock.sendall(line + b"\r\n")
            if not self.line().startswith(b"+OK"):
                raise Cut("login refused")

    def more(self):
        data = self.sock.recv(16384)
        if not data:
            raise Cut("closed by the server")
        self.rest += data
        return len(data)

    def line(self):
        while b"\r\n" not in self.rest:
            self.more()
        line, self.rest = self.rest.split(b"\r\n", 1)
        return line

    def retr(self, number):
        return self.multiline(b"RETR %d" % number, RATE)

    def multiline(self, command, rate):
        """Sends `command`, reads its multi-line answer at `rate`; its size."""
        self.sock.sendall(command + b"\r\n")
        started, got = time.monotonic(), len(self.rest)
        while not self.rest.endswith(b"\r\n.\r\n"):
            self.rest = self.rest[-4:]
            got += self.more()
            pace(started, got, rate)
        self.rest = b""
        return got


def download(home, ready, stop):
    client = Pop3Lines(home.pop3, b"bulk")
    ready.set()
    started = time.monotonic()
    total = sum(client.retr(n) for n in range(1, 11))
    client.sock.close()
    return "%d MB in %.0f s" % (total // 1000000, time.monotonic() - started)


def reader(home, ready, stop):
    client = Pop3From(home.pop3, NORMAL, timeout=30)
    client.user("reader")
    client.pass_("demo")
    ready.set()
    reads = 0
    while not stop.is_set():
        started = time.monotonic()
        client.retr(1)
        reads += 1
        stop.wait(8.0 - (time.monotonic() - started))
    client.quit()
    return "%d reads of 100 KB" % reads


def paced_commands(user, commands, rate):
    """A client that sends `commands` over and over, each answer read at `rate`."""
    def work(home, ready, stop):
        client = Pop3Lines(home.pop3, user)
        ready.set()
        started, got = time.monotonic(), 0
        while not stop.is_set():
            for command in commands:
                got += client.multiline(command, rate)
        client.sock.close()
        return "%d KB in %.0f s" % (got // 1024, time.monotonic() - started)
    return work


top = paced_commands(b"reader", [b"TOP 1 200"], 9.5 * 1024)
top.__name__ = "top"
listing = paced_commands(b"lister", [b"LIST", b"UIDL"], 30 * 1024)
listing.__name__ = "listing"


def quiet(home, ready, stop):
    """Logs in, then says nothing; when the server closed it."""
    client = Pop3From(home.pop3, NORMAL, timeout=None)
    client.user("demo")
    client.pass_("demo")
    started = time.monotonic()
    ready.set()
    client.sock.settimeout(1.0)
    while not stop.is_set():
        try:
            if not client.sock.recv(1):
                return "closed after %.0f s" % (time.monotonic() - started)
        except socket.timeout:
            pass
    return "never closed"


class Client(threading.Thread):
    """One of the clients of 127.0.0.10; `outcome` tells what became of it."""

    def __init__(self, work, home, stop):
        super().__init__(daemon=True)
        self.work, self.home, self.stop = work, home, stop
        self.ready = threading.Event()
        self.outcome = "not started"

    def run(self):
        started = time.monotonic()
        try:
            self.outcome = self.work(self.home, self.ready, self.stop)
        except (OSError, EOFError, Cut, smtplib.SMTPException, poplib.error_proto) as error:
            self.outcome = "CUT after %.0f s (%s)" % (time.monotonic() - started, error)
            self.ready.set()


def prepare(home):
    """Accounts "bulk", "reader", "lister" and "slow" (password demo) beside
    demo, all with room for what the run sends them."""
    demo = os.path.join(home.path, "mail", "demo", "maillist.ini")
    for name in ("bulk", "reader", "lister", "slow"):
        folder = os.path.join(home.path, "mail", name)
        os.makedirs(folder)
        shutil.copy(demo, folder)
        qp.set_ini(os.path.join(folder, "maillist.ini"), "System", "UserName", name)
    for name in ("demo", "bulk", "reader", "lister", "slow"):
        qp.set_ini(os.path.join(home.path, "mail", name, "maillist.ini"), "System", "Volume", "1000")


def deliver(home):
    """The 1 KB message the POP3 attack reads, the reader's 100 KB one, the
    ten of 1 MB, 200 small ones to list and the 20 MB one of the slow
    readers."""
    with smtplib.SMTP("127.0.0.1", home.smtp, timeout=60) as client:
        client.sendmail("setup@remote.test", ["demo@example.test"], text_of(1024))
        client.sendmail("setup@remote.test", ["reader@example.test"], text_of(100 * 1024))
        for _ in range(10):
            client.sendmail("setup@remote.test", ["bulk@example.test"], text_of(1000 * 1000))
        for _ in range(200):
            client.sendmail("setup@remote.test", ["lister@example.test"], text_of(100))
        client.sendmail("setup@remote.test", ["slow@example.test"], text_of(20 * 1024 * 1024))


def run(name, with_quiet):
    service, sources, script, every, slow = ATTACKS[name]
    with tempfile.TemporaryDirectory() as root:
        home = qp.ProgramFolder(root)
        home.set("WebMail", "IP", "127.0.0.1;" + la.FRONT)
        prepare(home)
        with home.start() as program:
            program.wait_serving()
            deliver(home)
            stop = threading.Event()
            works = [upload, download, reader, top, listing] + ([quiet] if with_quiet else [])
            clients = [Client(work, home, stop) for work in works]
            for client in clients:
                client.start()
                client.ready.wait(30)
            port = {"smtp": home.smtp, "pop3": home.pop3}[service]
            if slow:
                attack = SlowReaders(port, sources, script[0], every)
            else:
                attack = la.Attack(port, sources, script, pace=every, comeback=1.0)
            attack.start()
            time.sleep(SETTLE)
            served, slowest, failures = la.probe_services(home)
            for client in clients[:2]:
                client.join()
            stop.set()
            for client in clients[2:]:
                client.join()
            attack.stopping.set()
            attack.stopped.wait()
            program.stop(timeout=30)
    print("%-8s %-5s new clients served within 5 s: %s (slowest %.2f s); %s; attack connections closed %d"
          % (name, "quiet" if with_quiet else "alone", served, slowest,
             ", ".join("%s: %s" % (work.__name__, client.outcome) for work, client in zip(works, clients)),
             attack.closed_by_server), flush=True)
    for failure in failures:
        print("    not served: %s" % failure, flush=True)


def main():
    arguments = sys.argv[1:]
    runs = 1
    variants = (False, True)
    if "--quiet" in arguments:
        arguments.remove("--quiet")
        variants = (True,)
    if "--runs" in arguments:
        at = arguments.index("--runs")
        runs = int(arguments[at + 1])
        del arguments[at:at + 2]
    if not arguments:
        sys.exit(__doc__)
    os.environ["QUORVEX_BUILD_DIR"] = os.path.abspath(arguments[0])
    global qp
    import quorvex_program as qp  # reads the build folder when imported
    names = arguments[1:] or list(ATTACKS)
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(max(soft, 16384), hard), hard))
    for _ in range(runs):
        for name in names:
            for with_quiet in variants:
                run(name, with_quiet)


if __name__ == "__main__":
    main()
