#!/usr/bin/python3
"""Restart cycles under load against the real program, on loopback only:
no acknowledged message may be lost, duplicated or corrupted.

Each cycle starts the program on one program folder (the demo template with
four accounts box1..box4, password demo), checks every mailbox, then runs 20
SMTP senders (smtplib, one connection each, each message to one account or,
one in four, to two) and 4 POP3 clients (poplib, one per account: read every
message, check it, delete it, QUIT) until a random number of messages was
acknowledged in the cycle, and ends the program under that load: every
third cycle with kill -9, the others with SIGTERM.

Every message carries a mark of its own (Message-ID, a header, and a body
made from it), so each copy can be told apart and checked byte for byte.
The ledger counts for each copy (message and account) the deletions a QUIT
confirmed; a QUIT cut off by the end of the program is settled by the next
check (the copy gone: deleted). At each check every copy of a message
acknowledged with 250 must be there or deleted exactly once; a message
whose 250 never came back (the program ended inside its DATA) is retried
with the same mark, so that its extra copy is allowed and counted apart;
a message answered with an error must have left no copy.

    bench/store_durability.py BUILD_DIR [--cycles N] [--seed S]

N is 200 by default. Prints a line for each fault found, a progress line
every tenth of the cycles and a closing line with the counts; exits 1 when
anything was lost, duplicated, corrupted or delivered after a refusal.
"""
import argparse
import collections
import hashlib
import os
import poplib
import random
import shutil
import signal
import smtplib
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "support"))

qp = None  # quorvex_program, once main() has named the build folder
ACCOUNTS = ["box1", "box2", "box3", "box4"]
DOMAIN = "example.test"
PASSWORD = "demo"
SENDERS = 20
# Copies acknowledged and not yet deleted: the senders wait above this, so
# that the readers keep up and each check reads a mailbox of bounded size.
BACKLOG = 200
SOCKET_TIMEOUT = 30
CYCLE_DEADLINE = 30.0  # load time of a cycle at most
STOP_DEADLINE = 60.0
SANITIZER_WORDS = (b"AddressSanitizer", b"LeakSanitizer", b"UndefinedBehaviorSanitizer", b"runtime error:")


# ---------------------------------------------------------------- messages

def body_of(mark, size):
    """The message text of a mark, the same every time it is made."""
    head = ("From: sender@remote.test\r\nTo: %s@%s\r\nSubject: durability %s\r\nMessage-ID: <%s@bench.test>\r\n"
            "X-Bench-Mark: %s\r\n\r\n" % (ACCOUNTS[0], DOMAIN, mark, mark, mark)).encode()
    lines = []
    total = len(head)
    n = 0
    while total < size:
        line = ("%s %06d %s\r\n" % (mark, n, hashlib.sha1(("%s/%d" % (mark, n)).encode()).hexdigest())).encode()
        lines.append(line)
        total += len(line)
        n += 1
    return head + b"".join(lines)


def size_of(mark):
    return int(mark.rsplit("-", 1)[1])


def mark_of(lines):
    for line in lines:
        if not line:
            return None
        if line.lower().startswith(b"x-bench-mark:"):
            return line.split(b":", 1)[1].strip().decode("ascii", "replace")
    return None


def intact(mark, lines):
    """The retrieved copy holds the sent text unchanged (after the headers
    the server puts in front)."""
    try:
        expected = body_of(mark, size_of(mark))
    except (ValueError, IndexError):
        return False
    return (b"\r\n".join(lines) + b"\r\n").endswith(expected)


# ---------------------------------------------------------------- the ledger

class Message:
    def __init__(self, mark, recipients):
        self.mark = mark
        self.recipients = recipients
        self.acknowledged = False
        self.unanswered = False  # an attempt whose DATA got no reply
        self.unanswered_stop = False  # ... when the program was ended with SIGTERM
        self.refused = False     # an attempt answered with an error


class Ledger:
    def __init__(self):
        self.lock = threading.Lock()
        self.arrived = threading.Condition(self.lock)
        self.messages = {}
        self.deleted = collections.Counter()      # (mark, account): deletions a QUIT confirmed
        self.unsettled = collections.Counter()    # (mark, account): deletions whose QUIT got no reply
        self.acknowledged = 0
        self.backlog = 0  # copies acknowledged, not yet deleted
        self.cycle_acknowledged = 0
        self.retrievals = 0
        self.quit_refused = 0
        self.logins_refused = 0
        self.login_refusals = collections.Counter()  # their replies
        self.refusal_texts = collections.Counter()  # QUIT replies other than +OK: deletions asked for
        self.corrupted = set()
        self.unreadable = 0
        self.lost = set()
        self.duplicated = set()
        self.allowed_duplicates = set()
        self.duplicates_after_stop = set()  # of those, with a DATA cut by a SIGTERM
        self.refused_delivered = set()

    def new(self, mark, recipients):
        with self.lock:
            message = Message(mark, recipients)
            self.messages[mark] = message
            return message

    def answered(self, message, code, stopped=False):
        with self.lock:
            if code == 250:
                message.acknowledged = True
                self.acknowledged += 1
                self.backlog += len(message.recipients)
                self.cycle_acknowledged += 1
                self.arrived.notify_all()
            elif code is None:
                message.unanswered = True
                message.unanswered_stop |= stopped
            else:
                message.refused = True

    def wait_for_room(self, down, timeout):
        with self.lock:
            self.arrived.wait_for(lambda: self.backlog < BACKLOG or down.is_set(), timeout)

    def wait_for_mail(self, seen, down, timeout):
        """Waits until more was acknowledged than `seen`, or the program goes down."""
        with self.lock:
            self.arrived.wait_for(lambda: self.acknowledged != seen or down.is_set(), timeout)
            return self.acknowledged

    def settle(self, present):
        """After a restart: a deletion whose QUIT got no reply was done when
        the copy is gone."""
        with self.lock:
            for key, count in self.unsettled.items():
                if present.get(key, 0) == 0:
                    self.deleted[key] += count
                    self.backlog -= count
            self.unsettled.clear()

    def judge(self, present, cycle):
        """Checks every copy against what the clients were told; returns
        the lines of faults found for the first time."""
        found = []
        with self.lock:
            for message in self.messages.values():
                for account in message.recipients:
                    key = (message.mark, account)
                    total = self.deleted[key] + present.get(key, 0)
                    if message.acknowledged and total == 0 and key not in self.lost:
                        self.lost.add(key)
                        found.append("cycle %d: acknowledged %s for %s lost" % (cycle, message.mark, account))
                    if total > 1:
                        if message.unanswered:
                            self.allowed_duplicates.add(key)
                            if message.unanswered_stop:
                                self.duplicates_after_stop.add(key)
                        elif key not in self.duplicated:
                            self.duplicated.add(key)
                            found.append("cycle %d: %s for %s there %d times" % (cycle, message.mark, account, total))
                    if total > 0 and not message.acknowledged and not message.unanswered and message.refused \
                            and key not in self.refused_delivered:
                        self.refused_delivered.add(key)
                        found.append("cycle %d: refused %s delivered to %s" % (cycle, message.mark, account))
        return found


# ---------------------------------------------------------------- clients

class Cycle:
    """What the clients of one cycle share."""

    def __init__(self, home, ledger):
        self.read = set()  # the accounts whose reader finished a session in this cycle (under ledger.lock)
        self.smtp = home.smtp
        self.pop3 = home.pop3
        self.ledger = ledger
        self.down = threading.Event()   # the program is being ended: failures are expected
        self.violently = False          # ... with kill -9 (set before `down`)
        self.errors = collections.Counter()  # failures while the program was up


class Sender:
    """One SMTP client; its message still to be acknowledged goes again,
    under the same mark, in the next cycle."""

    def __init__(self, number, rng, ledger):
        self.number = number
        self.rng = rng
        self.ledger = ledger
        self.sequence = 0
        self.pending = None
        self.cycle = None

    def next_message(self):
        if self.pending is None:
            self.sequence += 1
            size = self.rng.choice([300, 800, 2000, 6000, 20000, 70000]) + self.rng.randrange(200)
            recipients = self.rng.sample(ACCOUNTS, 2 if self.rng.random() < 0.25 else 1)
            mark = "s%02d-%06d-%d" % (self.number, self.sequence, size)
            self.pending = self.ledger.new(mark, recipients)
        return self.pending

    def run_cycle(self, cycle):
        self.cycle = cycle
        thread = threading.Thread(target=self.work, daemon=True)
        thread.start()
        return thread

    def work(self):
        cycle = self.cycle
        client = None
        failures = 0
        while not cycle.down.is_set() and failures < 3:
            try:
                if client is None:
                    client = smtplib.SMTP("127.0.0.1", cycle.smtp, timeout=SOCKET_TIMEOUT)
                    client.ehlo("durability.test")
                self.ledger.wait_for_room(cycle.down, CYCLE_DEADLINE)
                message = self.next_message()
                if client.mail("sender@remote.test")[0] != 250 or \
                        any(client.rcpt("%s@%s" % (r, DOMAIN))[0] not in (250, 251) for r in message.recipients):
                    client.rset()
                    self.ledger.answered(message, 0)
                    failures += 1
                    continue
            except (OSError, smtplib.SMTPException):
                client = None
                failures += 0 if cycle.down.is_set() else 1
                continue
            # The text, then its end, then the reply: a message whose end
            # went out and whose reply never came may be kept; one cut
            # before its end may not. (No line of the text begins with a
            # dot, so it goes unstuffed.)
            text = body_of(message.mark, size_of(message.mark))
            try:
                code = client.docmd("DATA")[0]
                if code != 354:
                    self.ledger.answered(message, code)
                    failures += 1
                    continue
                client.send(text + b".\r\n")
            except (OSError, smtplib.SMTPException):
                self.ledger.answered(message, 0)
                client = None
                failures += 0 if cycle.down.is_set() else 1
                continue
            try:
                code = client.getreply()[0]
            except (OSError, smtplib.SMTPException):
                self.ledger.answered(message, None, stopped=cycle.down.is_set() and not cycle.violently)
                client = None
                if not cycle.down.is_set():
                    cycle.errors["SMTP reply missing while the program was up"] += 1
                    failures += 1
                continue
            self.ledger.answered(message, code)
            if code == 250:
                self.pending = None
            elif code >= 500:
                self.pending = None
                cycle.errors["SMTP %d" % code] += 1
            else:
                cycle.errors["SMTP %d" % code] += 1
                failures += 1
        if client is not None:
            try:
                client.quit()
            except (OSError, smtplib.SMTPException):
                pass


def reply_text(error):
    text = error.args[0] if error.args else ""
    return text.decode("latin-1") if isinstance(text, bytes) else str(text)


def cut_off(error):
    """poplib's error for a connection the server closed (not a reply)."""
    return reply_text(error) == "-ERR EOF"


def read_mailbox(port, account, ledger, delete, limit=None):
    """One POP3 session: retrieves (and deletes) the account's messages,
    checks each; returns the copies present as a Counter of (mark, account).
    A QUIT answered +OK confirms the deletions; one without a reply leaves
    them for the next check to settle."""
    client = poplib.POP3("127.0.0.1", port, timeout=SOCKET_TIMEOUT)
    try:
        client.user(account)
        client.pass_(PASSWORD)
    except poplib.error_proto as error:
        client.close()
        if cut_off(error):
            raise
        with ledger.lock:
            ledger.logins_refused += 1
            ledger.login_refusals[reply_text(error)] += 1
        return None
    present = collections.Counter()
    taken = []
    listed = client.uidl()[1]
    for entry in listed[:limit] if limit else listed:
        number = int(entry.split()[0])
        try:
            lines = client.retr(number)[1]
        except poplib.error_proto as error:
            if cut_off(error):
                raise
            with ledger.lock:
                ledger.unreadable += 1
            continue
        mark = mark_of(lines)
        with ledger.lock:
            ledger.retrievals += 1
            if mark is None or mark not in ledger.messages or not intact(mark, lines):
                ledger.corrupted.add(mark or "copy without a mark in %s" % account)
                continue
        key = (mark, account)
        present[key] += 1
        if delete:
            client.dele(number)
            taken.append(key)
    try:
        reply = client.quit()
    except poplib.error_proto as error:
        if not cut_off(error):  # the deletions were refused
            with ledger.lock:
                ledger.quit_refused += 1
                ledger.refusal_texts[reply_text(error)] += len(taken)
            return present
        reply = None
    except OSError:
        reply = None
    with ledger.lock:
        for key in taken:
            if reply is not None:
                ledger.deleted[key] += 1
                ledger.backlog -= 1
            else:
                ledger.unsettled[key] += 1
        ledger.arrived.notify_all()
    return present


def reader(cycle, account):
    seen = -1
    failures = 0
    while not cycle.down.is_set() and failures < 3:
        try:
            read_mailbox(cycle.pop3, account, cycle.ledger, delete=True, limit=40)
            with cycle.ledger.lock:
                cycle.read.add(account)
                cycle.ledger.arrived.notify_all()
        except (OSError, poplib.error_proto, EOFError):
            if not cycle.down.is_set():
                cycle.errors["POP3 cut while the program was up"] += 1
                failures += 1
            continue
        seen = cycle.ledger.wait_for_mail(seen, cycle.down, 1.0)


# ---------------------------------------------------------------- the program

def prepare(home):
    demo = os.path.join(home.path, "mail", "demo", "maillist.ini")
    for name in ACCOUNTS:
        folder = os.path.join(home.path, "mail", name)
        os.makedirs(folder)
        shutil.copy(demo, folder)
        qp.set_ini(os.path.join(folder, "maillist.ini"), "System", "UserName", name)
        qp.set_ini(os.path.join(folder, "maillist.ini"), "System", "Volume", "1000")


def check(home, ledger, cycle):
    """Reads every mailbox without deleting; settles the cut deletions and
    judges the copies. The lines of new faults."""
    present = collections.Counter()
    for account in ACCOUNTS:
        found = None
        for _ in range(3):
            try:
                found = read_mailbox(home.pop3, account, ledger, delete=False)
            except (OSError, poplib.error_proto):
                found = None
            if found is not None:
                break
        if found is None:
            return ["cycle %d: the check could not log in to %s" % (cycle, account)]
        present.update(found)
    ledger.settle(present)
    return ledger.judge(present, cycle)


def end_program(program, violently):
    """kill -9 or SIGTERM; (clean, seconds, stderr)."""
    started = time.monotonic()
    if violently:
        program.process.send_signal(signal.SIGKILL)
        _, err = program.process.communicate(timeout=STOP_DEADLINE)
        return True, time.monotonic() - started, err
    try:
        code, _, _, err = program.stop(timeout=STOP_DEADLINE)
    except Exception:  # noqa: BLE001 - a stop that hangs is counted, then ended
        program.process.kill()
        _, err = program.process.communicate(timeout=STOP_DEADLINE)
        return False, time.monotonic() - started, err
    return code == 0, time.monotonic() - started, err


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("build")
    parser.add_argument("--cycles", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    options = parser.parse_args()
    os.environ["QUORVEX_BUILD_DIR"] = os.path.abspath(options.build)
    global qp
    import quorvex_program as qp  # reads the build folder when imported

    rng = random.Random(options.seed)
    ledger = Ledger()
    senders = [Sender(n, random.Random(rng.random()), ledger) for n in range(SENDERS)]
    faults = []
    kills = stops = unclean = sanitizer = 0
    slowest_stop = 0.0
    errors = collections.Counter()
    root = tempfile.mkdtemp(prefix="store-durability-")
    started = time.monotonic()
    try:
        home = qp.ProgramFolder(root)
        prepare(home)
        for cycle_number in range(1, options.cycles + 2):
            program = home.start()
            try:
                program.wait_serving(timeout=60)
                found = check(home, ledger, cycle_number)
                for line in found:
                    print(line, flush=True)
                faults += found
                if cycle_number > options.cycles:
                    clean, _, err = end_program(program, False)
                    unclean += not clean
                    if any(word in err for word in SANITIZER_WORDS):
                        sanitizer += 1
                        print("last stop: sanitizer report:\n%s" % err.decode("latin-1")[-4000:], flush=True)
                    break
                cycle = Cycle(home, ledger)
                with ledger.lock:
                    ledger.cycle_acknowledged = 0
                threads = [sender.run_cycle(cycle) for sender in senders]
                threads += [threading.Thread(target=reader, args=(cycle, account), daemon=True)
                            for account in ACCOUNTS]
                for thread in threads[SENDERS:]:
                    thread.start()
                # Ended at a random point of the load, once every reader
                # has had a session.
                target = rng.randrange(5, 120)
                with ledger.lock:
                    ledger.arrived.wait_for(
                        lambda: ledger.cycle_acknowledged >= target and len(cycle.read) == len(ACCOUNTS),
                        CYCLE_DEADLINE)
                violently = cycle_number % 3 == 0
                cycle.violently = violently
                cycle.down.set()
                with ledger.lock:
                    ledger.arrived.notify_all()
                clean, took, err = end_program(program, violently)
                kills += violently
                stops += not violently
                unclean += not clean
                slowest_stop = max(slowest_stop, 0.0 if violently else took)
                if any(word in err for word in SANITIZER_WORDS):
                    sanitizer += 1
                    print("cycle %d: sanitizer report:\n%s" % (cycle_number, err.decode("latin-1")[-4000:]),
                          flush=True)
                for thread in threads:
                    thread.join(SOCKET_TIMEOUT * 2)
                errors.update(cycle.errors)
            finally:
                program.kill()
            if options.cycles >= 10 and cycle_number % (options.cycles // 10) == 0:
                print("%d cycles, %.0f s, %d acknowledged" % (cycle_number, time.monotonic() - started,
                                                               ledger.acknowledged), flush=True)
    finally:
        shutil.rmtree(root, ignore_errors=True)

    elapsed = time.monotonic() - started
    copies = sum(len(m.recipients) for m in ledger.messages.values() if m.acknowledged)
    unanswered = sum(1 for m in ledger.messages.values() if m.unanswered and not m.acknowledged)
    for text, count in sorted(ledger.refusal_texts.items()):
        print("QUIT answered %r after %d deletions" % (text, count), flush=True)
    for text, count in sorted(ledger.login_refusals.items()):
        print("login answered %r: %d" % (text, count), flush=True)
    for what, count in sorted(errors.items()):
        print("while the program was up: %s: %d" % (what, count), flush=True)
    cycles = kills + stops
    print("cycles %d (kill -9 %d, SIGTERM %d, unclean ends %d, slowest SIGTERM %.1f s, sanitizer reports %d), "
          "%.2f s a cycle: " % (cycles, kills, stops, unclean, slowest_stop, sanitizer, elapsed / max(1, cycles))
          + "acknowledged %d messages (%d copies), copies read %d (checks included), deleted %d; "
          % (ledger.acknowledged, copies, ledger.retrievals, sum(ledger.deleted.values()))
          + "lost %d, duplicated %d, corrupted %d, unreadable %d, delivered after a refusal %d; "
          % (len(ledger.lost), len(ledger.duplicated), len(ledger.corrupted), ledger.unreadable,
             len(ledger.refused_delivered))
          + "duplicates of unacknowledged messages %d (%d cut by a SIGTERM), never acknowledged %d, "
          "QUIT refused %d, logins refused %d"
          % (len(ledger.allowed_duplicates), len(ledger.duplicates_after_stop), unanswered, ledger.quit_refused,
             ledger.logins_refused), flush=True)
    bad = ledger.lost or ledger.duplicated or ledger.corrupted or ledger.refused_delivered or ledger.unreadable
    return 1 if bad or faults or sanitizer else 0


if __name__ == "__main__":
    sys.exit(main())
