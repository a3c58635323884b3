#!/usr/bin/python3
"""Attacks that trickle real progress into every job slot, and real clients
that must outlast them, against the real program on loopback only.

  data      100 SMTP sessions from 10 addresses (10 each) inside DATA, each
            sending an 80-byte line of message text every 2 s
  data-50   the same from 50 addresses (2 each)
  pop3read  100 POP3 sessions from 10 addresses (10 each), each reading a
            1 KB message every 2 s

Each run gives the real clients of 127.0.0.10 their slots first, alone or
beside a quiet POP3 session of that address (logged in, then silent):

  upload    20 MB of message text by SMTP at 200 KB/s
  download  10 messages of 1 MB by POP3, read at 200 KB/s
  reader    a 100 KB message read by POP3 every 8 s while the others run

Then the attack fills the table (a connection the server closes comes back
a second later). After SETTLE seconds of attack, 5 new clients per service
from 127.0.0.9 (smtplib, poplib, the account server's LOGIN#), one every
2 s, must each be served within 5 s. One line per run, each attack run
once alone and once with the quiet session, RUNS times over:

    bench/pace_attacks.py BUILD_DIR [ATTACK ...] [--runs N]
"""
import os
import poplib
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
SMTP_DATA = (la.SMTP_DATA[0], LINE)
POP3_READ = (b"USER demo\r\nPASS demo\r\n", b"RETR 1\r\n")

ATTACKS = {
    "data": ("smtp", TEN, SMTP_DATA),
    "data-50": ("smtp", FIFTY, SMTP_DATA),
    "pop3read": ("pop3", TEN, POP3_READ),
}


class Cut(Exception):
    pass


def text_of(size):
    """A message of about `size` bytes."""
    return b"Subject: %d bytes\r\n\r\n" % size + LINE * max(1, size // len(LINE))


def pace(started, done):
    """Waits until `done` bytes are due at RATE since `started`."""
    ahead = started + done / RATE - time.monotonic()
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
        self.sock.sendall(b"RETR %d\r\n" % number)
        started, got = time.monotonic(), len(self.rest)
        while not self.rest.endswith(b"\r\n.\r\n"):
            self.rest = self.rest[-4:]
            got += self.more()
            pace(started, got)
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
    """Accounts "bulk" and "reader" (password demo) beside demo, all with
    room for what the run sends them."""
    demo = os.path.join(home.path, "mail", "demo", "maillist.ini")
    for name in ("bulk", "reader"):
        folder = os.path.join(home.path, "mail", name)
        os.makedirs(folder)
        shutil.copy(demo, folder)
        qp.set_ini(os.path.join(folder, "maillist.ini"), "System", "UserName", name)
    for name in ("demo", "bulk", "reader"):
        qp.set_ini(os.path.join(home.path, "mail", name, "maillist.ini"), "System", "Volume", "1000")


def deliver(home):
    """The 1 KB message the POP3 attack reads, the reader's 100 KB one and
    the ten of 1 MB."""
    with smtplib.SMTP("127.0.0.1", home.smtp, timeout=60) as client:
        client.sendmail("setup@remote.test", ["demo@example.test"], text_of(1024))
        client.sendmail("setup@remote.test", ["reader@example.test"], text_of(100 * 1024))
        for _ in range(10):
            client.sendmail("setup@remote.test", ["bulk@example.test"], text_of(1000 * 1000))


def run(name, with_quiet):
    service, sources, script = ATTACKS[name]
    with tempfile.TemporaryDirectory() as root:
        home = qp.ProgramFolder(root)
        home.set("WebMail", "IP", "127.0.0.1;" + la.FRONT)
        prepare(home)
        with home.start() as program:
            program.wait_serving()
            deliver(home)
            stop = threading.Event()
            works = [upload, download, reader] + ([quiet] if with_quiet else [])
            clients = [Client(work, home, stop) for work in works]
            for client in clients:
                client.start()
                client.ready.wait(30)
            port = {"smtp": home.smtp, "pop3": home.pop3}[service]
            attack = la.Attack(port, sources, script, pace=2.0, comeback=1.0)
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
            for with_quiet in (False, True):
                run(name, with_quiet)


if __name__ == "__main__":
    main()
