#!/usr/bin/python3
"""Slot attacks against the real program, on loopback only.

Each attack runs against a fresh program folder (the demo template: domain
example.test, account demo/demo) on ports of the tests' port allocator:

  noop      100 sessions that send a complete SMTP NOOP every 5 s
  data      100 sessions that send a line of message data every 5 s
  pop3noop  100 POP3 sessions that send NOOP every 5 s after their login
            (each from two addresses, 50 each, and from 127.0.0.1 alone)
  trickle   2,000 connections from 127.0.2.1-50 (40 each) to SMTP, one byte
            every 5 s and never a line end
  trickle-pop3, trickle-admin
            the same from 127.0.0.1 to POP3 and to the account server

An attack connection that the server closes comes back at once. While an
attack runs, 5 new clients of another address per service (smtplib, poplib,
the account server's LOGIN#) must be served within 5 s, and a client that
sends real mail and one that reads its mailbox, both at a normal pace, must
never be cut. Then the attack stops sending and reconnecting (its sockets
stay open) and the time until the server has closed all of them is taken.
One line per attack:

    bench/load_attacks.py BUILD_DIR [ATTACK ...]
"""
import collections
import heapq
import os
import poplib
import resource
import selectors
import smtplib
import socket
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "support"))
import account_client as ac  # noqa: E402
from loopback_clients import Pop3From  # noqa: E402

PROBE = "127.0.0.9"     # the new clients
NORMAL = "127.0.0.10"   # the clients at a normal pace
FRONT = "127.0.0.8"     # a second web-mail front end: the account server's new clients
PACE = 5.0              # seconds between an attacker's sends
SETTLE = 12.0           # attack time before the first new client
PROBES = 5
GONE_LIMIT = 90.0

TWO_ADDRESSES = ["127.0.1.1"] * 50 + ["127.0.1.2"] * 50
LOCAL_ONLY = ["127.0.0.1"] * 100
FIFTY = ["127.0.2.%d" % (1 + i % 50) for i in range(2000)]
LOCAL_2000 = ["127.0.0.1"] * 2000

SMTP_NOOP = (b"EHLO attacker\r\n", b"NOOP\r\n")
SMTP_DATA = (b"EHLO attacker\r\nMAIL FROM:<a@remote.test>\r\nRCPT TO:<demo@example.test>\r\nDATA\r\n",
             b"a line of message text\r\n")
POP3_NOOP = (b"USER demo\r\nPASS demo\r\n", b"NOOP\r\n")
TRICKLE = (b"", b"x")

ATTACKS = {
    "noop": [("smtp", TWO_ADDRESSES, SMTP_NOOP), ("smtp", LOCAL_ONLY, SMTP_NOOP)],
    "data": [("smtp", TWO_ADDRESSES, SMTP_DATA), ("smtp", LOCAL_ONLY, SMTP_DATA)],
    "pop3noop": [("pop3", TWO_ADDRESSES, POP3_NOOP), ("pop3", LOCAL_ONLY, POP3_NOOP)],
    "trickle": [("smtp", FIFTY, TRICKLE)],
    "trickle-pop3": [("pop3", LOCAL_2000, TRICKLE)],
    "trickle-admin": [("admin", LOCAL_2000, TRICKLE)],
}


class Attack(threading.Thread):
    """Non-blocking attack connections in one selector: each sends its
    opening bytes, then its repeated bytes every `pace` seconds, reads and
    drops what the server sends and reconnects when the server closes (at
    once, or `comeback` seconds later)."""

    def __init__(self, port, sources, script, pace=PACE, comeback=0.0):
        super().__init__(daemon=True)
        self.port, self.sources, (self.opening, self.repeat) = port, sources, script
        self.pace, self.comeback = pace, comeback
        self.returning = collections.deque()  # (time, source) of closed connections
        self.selector = selectors.DefaultSelector()
        self.sockets = {}       # socket -> source
        self.due = []           # (time, serial, socket)
        self.serial = 0
        self.stopping = threading.Event()
        self.stopped = threading.Event()
        self.closed_by_server = 0
        self.lock = threading.Lock()

    def open(self, source):
        s = socket.socket()
        s.setblocking(False)
        try:
            s.bind((source, 0))
            s.connect_ex(("127.0.0.1", self.port))
        except OSError:
            s.close()
            return
        self.sockets[s] = source
        self.selector.register(s, selectors.EVENT_READ)
        opening = self.opening(source) if callable(self.opening) else self.opening
        if opening:
            self.send(s, opening)
        self.serial += 1
        heapq.heappush(self.due, (time.monotonic() + self.pace, self.serial, s))

    def send(self, s, data):
        try:
            s.send(data)
        except OSError:
            pass

    def gone(self, s):
        self.selector.unregister(s)
        source = self.sockets.pop(s)
        s.close()
        with self.lock:
            self.closed_by_server += 1
        if self.stopping.is_set():
            return
        if self.comeback:
            self.returning.append((time.monotonic() + self.comeback, source))
        else:
            self.open(source)

    def read_all(self):
        """Reads and drops what the server sent; notes the connections it closed."""
        for key, _ in self.selector.select(timeout=0.2):
            s = key.fileobj
            try:
                data = s.recv(65536)
            except BlockingIOError:
                continue
            except OSError:
                data = b""
            if not data:
                self.gone(s)

    def run(self):
        for source in self.sources:
            self.open(source)
        while not self.stopping.is_set():
            self.read_all()
            now = time.monotonic()
            while self.returning and self.returning[0][0] <= now:
                self.open(self.returning.popleft()[1])
            while self.due and self.due[0][0] <= now:
                _, _, s = heapq.heappop(self.due)
                if s in self.sockets:
                    self.send(s, self.repeat)
                    self.serial += 1
                    heapq.heappush(self.due, (now + self.pace, self.serial, s))
        self.stopped.set()

    def stop_and_time_drain(self):
        """Stops sending and reconnecting; seconds until the server closed
        every connection (GONE_LIMIT when some are still open then), and how
        many were open when the attack stopped."""
        self.stopping.set()
        self.stopped.wait()
        started = time.monotonic()
        open_at_stop = len(self.sockets)
        while self.sockets and time.monotonic() - started < GONE_LIMIT:
            self.read_all()
        took = time.monotonic() - started if not self.sockets else GONE_LIMIT
        for s in list(self.sockets):
            s.close()
        return took, open_at_stop


def serve_smtp(home):
    with smtplib.SMTP("127.0.0.1", home.smtp, timeout=5, source_address=(PROBE, 0)) as client:
        client.ehlo("probe.test")
        client.sendmail("probe@remote.test", ["demo@example.test"], b"Subject: probe\r\n\r\nhello\r\n")


def serve_pop3(home):
    client = Pop3From(home.pop3, PROBE, timeout=5)
    client.user("demo")
    client.pass_("demo")
    client.stat()
    client.quit()


def serve_admin(home):
    with ac.Connection(home.admin, source=FRONT, timeout=5) as c:
        lines = [c.ask("LOGIN#demo#demo")]
        while lines[-1] is not None and not lines[-1].startswith("LEAVECOPY#"):
            lines.append(c.read())
        if lines[0] != "+OK" or lines[-1] is None:
            raise OSError("answered %r" % lines)


def probe(serve, home, results, failures):
    """PROBES new clients, one every 2 s; each result is its time or None."""
    for _ in range(PROBES):
        started = time.monotonic()
        try:
            serve(home)
            took = time.monotonic() - started
            results.append(took if took <= 5.0 else None)
            if took > 5.0:
                failures.append("%s took %.1f s" % (serve.__name__, took))
        except (OSError, smtplib.SMTPException, poplib.error_proto) as error:
            results.append(None)
            failures.append("%s after %.1f s: %s" % (serve.__name__, time.monotonic() - started, error))
        time.sleep(max(0.0, 2.0 - (time.monotonic() - started)))


def probe_services(home):
    """New clients of the three services side by side (probe): what was
    served ("smtp 5/5 pop3 5/5 admin 5/5"), the slowest served and the
    failures."""
    results = {"smtp": [], "pop3": [], "admin": []}
    failures = []
    probes = [threading.Thread(target=probe, args=(serve, home, results[name], failures))
              for name, serve in (("smtp", serve_smtp), ("pop3", serve_pop3), ("admin", serve_admin))]
    for t in probes:
        t.start()
    for t in probes:
        t.join()
    served = " ".join("%s %d/%d" % (name, sum(r is not None for r in rs), len(rs)) for name, rs in results.items())
    slowest = max((r for rs in results.values() for r in rs if r is not None), default=0.0)
    return served, slowest, failures


class Refused(Exception):
    pass


class NormalClients(threading.Thread):
    """A client sending real mail and one reading the mailbox, each command
    half a second after the last answer. Counts sessions, sessions cut after
    their greeting, and connections refused (tried again a second later)."""

    def __init__(self, home):
        super().__init__(daemon=True)
        self.home = home
        self.stop = threading.Event()
        self.mails = self.reads = self.refused = 0
        self.cuts = []

    def send_mail(self):
        body = b"Subject: normal pace\r\n\r\n" + (b"x" * 76 + b"\r\n") * 200
        try:
            c = smtplib.SMTP("127.0.0.1", self.home.smtp, timeout=30, source_address=(NORMAL, 0))
        except (OSError, smtplib.SMTPException) as error:
            raise Refused(error)
        with c:
            for step in (lambda: c.ehlo("normal.test"), lambda: c.mail("normal@remote.test"),
                         lambda: c.rcpt("demo@example.test"), lambda: c.data(body)):
                time.sleep(0.5)
                code = step()[0]
                if code >= 400:
                    raise smtplib.SMTPException("reply %d" % code)
        self.mails += 1

    def read_mailbox(self):
        try:
            c = Pop3From(self.home.pop3, NORMAL, timeout=30)
        except (OSError, poplib.error_proto) as error:
            raise Refused(error)
        for step in (lambda: c.user("demo"), lambda: c.pass_("demo"), c.stat, c.list, c.uidl):
            time.sleep(0.5)
            step()
        count = c.stat()[0]
        for n in range(1, min(count, 3) + 1):
            time.sleep(0.5)
            c.retr(n)
            c.dele(n)
        c.quit()
        self.reads += 1

    def run(self):
        while not self.stop.is_set():
            for session in (self.send_mail, self.read_mailbox):
                try:
                    session()
                except Refused:
                    self.refused += 1
                    self.stop.wait(1.0)
                except (OSError, smtplib.SMTPException, poplib.error_proto) as error:
                    self.cuts.append("%s: %s" % (session.__name__, error))


def run_attack(build, service, sources, script):
    os.environ["QUORVEX_BUILD_DIR"] = build
    from quorvex_program import ProgramFolder  # noqa: E402
    with tempfile.TemporaryDirectory() as root:
        home = ProgramFolder(root)
        home.set("WebMail", "IP", "127.0.0.1;" + FRONT)
        with home.start() as program:
            program.wait_serving()
            port = {"smtp": home.smtp, "pop3": home.pop3, "admin": home.admin}[service]
            attack = Attack(port, sources, script)
            normal = NormalClients(home)
            attack.start()
            normal.start()
            started = time.monotonic()
            time.sleep(SETTLE)
            served, worst, failures = probe_services(home)
            normal.stop.set()
            normal.join()
            attack_time = time.monotonic() - started
            drain, open_at_stop = attack.stop_and_time_drain()
            program.stop(timeout=30)
    where = "127.0.0.1" if set(sources) == {"127.0.0.1"} else "%d addresses" % len(set(sources))
    print("%-5s %4d from %-12s new clients served within 5 s: %s (slowest %.2f s); normal pace for %.0f s: "
          "%d mails, %d mailbox reads, %d cut, %d refused%s; attack connections closed by the server during the "
          "attack %d, open when it stopped %d, all gone %s"
          % (service, len(sources), where, served, worst, attack_time, normal.mails, normal.reads,
             len(normal.cuts), normal.refused, (" (" + "; ".join(normal.cuts[:3]) + ")") if normal.cuts else "",
             attack.closed_by_server, open_at_stop,
             "%.1f s after" % drain if drain < GONE_LIMIT else "NOT within %d s" % GONE_LIMIT), flush=True)
    for failure in failures:
        print("    not served: %s" % failure, flush=True)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    names = sys.argv[2:] or list(ATTACKS)
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(max(soft, 16384), hard), hard))
    for name in names:
        for service, sources, script in ATTACKS[name]:
            print("%s: " % name, end="", flush=True)
            run_attack(build, service, sources, script)


if __name__ == "__main__":
    main()
