#!/usr/bin/python3
"""Figures of the mailbox store and of delivery, against the real program on
loopback only (smtplib and poplib as the clients). Each scenario runs on a
fresh program folder made from the demo template (domain example.test,
password "demo" for every account) and prints one line "<scenario>: <figure>":

  older index put back
            5 messages, a copy of mailinfo.dat taken, 20 more acknowledged;
            the copy put back with the server stopped, or while it runs
            (then restarted, with or without a delivery in between): how
            many of the 20 the mailbox lists after the restart, and how
            many bodies stay in the folder unlisted
  UID seen before
            10 messages, a client that keeps mail sees their UIDL texts, the
            newest 6 are deleted, the index removed and rebuilt, 6 new ones
            arrive: how many of them come under a UIDL text seen before; and
            30 concurrent deliveries of mixed sizes, then a rebuild: how many
            UIDL texts name another message than before
  deleted messages back
            80 messages delivered concurrently, a POP3 session deletes 40
            (every other one), the index is removed and rebuilt under the
            open session, QUIT: how many of the 40 are still listed after a
            "+OK" (a "-ERR" acknowledges none)
  queued copies
            three tries of a transaction to a remote address and a local
            recipient whose store fails (its index damaged, answered 451);
            and three tries to that recipient alone with MailsCopyTo naming
            a remote address: how many copies left through the queue (a
            receiving server on loopback is the relay)
  refused messages read
            100 messages to [ann, bob], bob's store failing, ann's POP3
            client polling meanwhile: how many of the refused messages it
            downloaded
  take-back
            alice's body numbers set 10 ahead of her UIDs (as numbers passed
            over leave them), 12 messages acknowledged, then a transaction to
            [alice, carol, dave, bob] with bob's store failing; alice's index
            is removed right after her copy is listed, so that the take-back
            meets a rebuilt index: how many acknowledged messages of alice
            are gone (6 tries)

    bench/store_faults.py BUILD_DIR [SCENARIO ...]

SCENARIO is one of: putback uid dele queue read takeback (all by default).
"""
import os
import poplib
import random
import shutil
import smtplib
import socket
import struct
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "support"))
from smtp_receiver import start_controller  # noqa: E402

qp = None  # quorvex_program, once main() has named the build folder
PASSWORD = "demo"
DOMAIN = "example.test"
INDEX = "mailinfo.dat"
# Offset of the last body number in the index's header (little-endian).
LAST_FILE_NUMBER_AT = 12
TIMEOUT = 60


# ---------------------------------------------------------------- messages

def message(mark, size=600):
    """A message of about `size` bytes that names its mark in a header."""
    head = ("From: bench@remote.test\r\nTo: someone@%s\r\nSubject: %s\r\nMessage-ID: <%s@bench.test>\r\n"
            "X-Bench-Mark: %s\r\n\r\n" % (DOMAIN, mark, mark, mark)).encode()
    line = ("%s " % mark).encode() * 8 + b"\r\n"
    return head + line * max(1, (size - len(head)) // len(line))


def mark_of(lines):
    for line in lines:
        if line.lower().startswith(b"x-bench-mark:"):
            return line.split(b":", 1)[1].strip().decode("ascii", "replace")
        if not line:
            break
    return None


def transact(home, recipients, text, sender="bench@remote.test", login=False):
    """One SMTP transaction; the reply code that ended it (0: no reply)."""
    try:
        with smtplib.SMTP("127.0.0.1", home.smtp, timeout=TIMEOUT) as client:
            client.ehlo("bench.test")
            if login:
                client.login("demo", PASSWORD)
            code = client.mail(sender)[0]
            if code != 250:
                return code
            for recipient in recipients:
                code = client.rcpt(recipient)[0]
                if code not in (250, 251):
                    return code
            return client.data(text)[0]
    except smtplib.SMTPResponseException as error:
        return error.smtp_code
    except (OSError, smtplib.SMTPException):
        return 0


def deliver_all(home, account, marks, sizes=None, threads=1):
    """Delivers one message per mark to `account`, `threads` at a time
    (all of them started together); the marks acknowledged with 250."""
    acknowledged = []
    lock = threading.Lock()
    start = threading.Barrier(min(threads, len(marks)) or 1)

    def work(chunk):
        try:
            start.wait(TIMEOUT)
        except threading.BrokenBarrierError:
            pass
        for mark in chunk:
            size = sizes[mark] if sizes else 600
            if transact(home, ["%s@%s" % (account, DOMAIN)], message(mark, size)) == 250:
                with lock:
                    acknowledged.append(mark)

    chunks = [marks[i::threads] for i in range(threads)]
    pool = [threading.Thread(target=work, args=(chunk,), daemon=True) for chunk in chunks if chunk]
    for t in pool:
        t.start()
    for t in pool:
        t.join(TIMEOUT * 4)
    return acknowledged


def mixed_sizes(marks, seed):
    rng = random.Random(seed)
    return {mark: rng.choice([600, 4000, 30000, 200000, 900000]) + rng.randrange(500) for mark in marks}


# ---------------------------------------------------------------- POP3

def pop3(home, account):
    client = poplib.POP3("127.0.0.1", home.pop3, timeout=TIMEOUT)
    client.user(account)
    client.pass_(PASSWORD)
    return client


def uidl_marks(client):
    """[(number, UIDL text, mark)] of the open session's messages, the marks
    read with TOP."""
    found = []
    for entry in client.uidl()[1]:
        number, uid = entry.decode("ascii", "replace").split(None, 1)
        found.append((int(number), uid, mark_of(client.top(int(number), 0)[1])))
    return found


def listing(home, account):
    """The mailbox as a new session sees it: [(number, UIDL text, mark)]."""
    client = pop3(home, account)
    try:
        return uidl_marks(client)
    finally:
        client.quit()


def marks_listed(home, account):
    return [mark for _, _, mark in listing(home, account)]


# ---------------------------------------------------------------- program folders

def add_accounts(home, names):
    """Accounts beside demo (password demo), each with room for 1000 MB."""
    demo = os.path.join(home.path, "mail", "demo", "maillist.ini")
    for name in names:
        folder = os.path.join(home.path, "mail", name)
        os.makedirs(folder, exist_ok=True)
        shutil.copy(demo, folder)
        qp.set_ini(os.path.join(folder, "maillist.ini"), "System", "UserName", name)
        qp.set_ini(os.path.join(folder, "maillist.ini"), "System", "Volume", "1000")


def index_path(home, account):
    return os.path.join(home.path, "mail", account, INDEX)


def damage_index(home, account):
    """An index nobody can parse: the account's store is refused (451) until
    the index is rebuilt."""
    with open(index_path(home, account), "wb") as f:
        f.write(b"not a mailbox index\r\n" * 8)


def remove_index(home, account):
    os.unlink(index_path(home, account))


def stamp(path):
    try:
        st = os.stat(path)
        return (st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)
    except FileNotFoundError:
        return None


def advance_body_numbers(home, account, by):
    """Sets the index's last body number `by` ahead, so that the account's
    next bodies are numbered that far ahead of their UIDs. Written under
    another name and renamed into place, as the program writes it."""
    path = index_path(home, account)
    with open(path, "rb") as f:
        data = bytearray(f.read())
    last, = struct.unpack_from("<i", data, LAST_FILE_NUMBER_AT)
    struct.pack_into("<i", data, LAST_FILE_NUMBER_AT, last + by)
    with open(path + ".bench", "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.rename(path + ".bench", path)


class Folder:
    """A fresh program folder with the accounts named; its program started."""

    def __init__(self, accounts, settings=()):
        self.root = tempfile.mkdtemp(prefix="store-faults-")
        self.home = qp.ProgramFolder(self.root)
        add_accounts(self.home, accounts)
        for section, key, value in settings:
            self.home.set(section, key, value)
        self.program = None

    def start(self):
        self.program = self.home.start()
        self.program.wait_serving()
        return self.home

    def stop(self):
        """SIGTERM; an unclean end (a sanitizer's report, say) is shown."""
        if self.program:
            code, _, _, err = self.program.stop(timeout=60)
            self.program = None
            if code != 0:
                print("    the program ended with %d: %s" % (code, err.decode("latin-1")[-2000:]), flush=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.program:
            self.program.kill()
        shutil.rmtree(self.root, ignore_errors=True)


def say(scenario, figure):
    print("%s: %s" % (scenario, figure), flush=True)


# ---------------------------------------------------------------- 1. older index put back

def scenario_putback():
    cases = [("stopped", "server stopped"), ("running", "put back while it runs, then restarted"),
             ("delivery", "put back while it runs, one delivery, then restarted")]
    with Folder([name for name, _ in cases]) as folder:
        home = folder.start()
        later = {}
        for name, _ in cases:
            deliver_all(home, name, ["%s-first-%d" % (name, i) for i in range(5)])
            shutil.copyfile(index_path(home, name), index_path(home, name) + ".old")
            later[name] = deliver_all(home, name, ["%s-later-%d" % (name, i) for i in range(20)])

        def put_back(name):
            shutil.copyfile(index_path(home, name) + ".old", index_path(home, name))

        put_back("running")
        put_back("delivery")
        deliver_all(home, "delivery", ["delivery-after"])
        folder.stop()
        put_back("stopped")
        home = folder.start()
        for name, words in cases:
            marks = marks_listed(home, name)
            visible = sum(1 for mark in later[name] if mark in set(marks))
            unlisted = len(body_numbers(os.path.join(home.path, "mail", name))) - len(marks)
            say("acknowledged messages visible after an older mailinfo.dat is put back (%s)" % words,
                "%d of %d (bodies left unlisted: %d)" % (visible, len(later[name]), unlisted))
        folder.stop()


# ---------------------------------------------------------------- 2. a UID given twice

def scenario_uid():
    with Folder(["keeper", "crowd"]) as folder:
        home = folder.start()
        first = ["keeper-%d" % i for i in range(10)]
        deliver_all(home, "keeper", first)
        seen = {uid for _, uid, _ in listing(home, "keeper")}
        # Another client deletes the newest 6.
        client = pop3(home, "keeper")
        for number, _, mark in uidl_marks(client):
            if mark in first[4:]:
                client.dele(number)
        client.quit()
        remove_index(home, "keeper")
        listing(home, "keeper")  # the first open rebuilds it from the 4 bodies left
        new = deliver_all(home, "keeper", ["keeper-new-%d" % i for i in range(6)])
        reused = sum(1 for _, uid, mark in listing(home, "keeper") if mark in new and uid in seen)
        say("new messages under a UID seen before (10 messages, newest 6 deleted, index removed and rebuilt, "
            "6 new)", "%d of %d" % (reused, len(new)))

        marks = ["crowd-%d" % i for i in range(30)]
        deliver_all(home, "crowd", marks, mixed_sizes(marks, 30), threads=30)
        before = {uid: mark for _, uid, mark in listing(home, "crowd")}
        remove_index(home, "crowd")
        after = {uid: mark for _, uid, mark in listing(home, "crowd")}
        other = sum(1 for uid, mark in after.items() if uid in before and before[uid] != mark)
        say("UIDL texts naming another message than before (30 concurrent deliveries of mixed sizes, "
            "then a rebuild)", "%d of %d" % (other, len(before)))
        folder.stop()


# ---------------------------------------------------------------- 3. DELE under a rebuild

def scenario_dele():
    with Folder(["reader"]) as folder:
        home = folder.start()
        marks = ["reader-%d" % i for i in range(80)]
        deliver_all(home, "reader", marks, mixed_sizes(marks, 80), threads=20)
        client = pop3(home, "reader")
        deleted = []
        for number, _, mark in uidl_marks(client)[::2][:40]:
            if client.dele(number).startswith(b"+OK"):
                deleted.append(mark)
        remove_index(home, "reader")
        # Another session opens the mailbox: the index is rebuilt under the
        # open one (when it is refused, the QUIT's commit rebuilds it).
        try:
            listing(home, "reader")
        except poplib.error_proto:
            pass
        try:
            quit_reply = client.quit().decode("latin-1")
        except poplib.error_proto as error:
            quit_reply = error.args[0].decode("latin-1") if isinstance(error.args[0], bytes) else str(error)
            client.close()
        listed = set(marks_listed(home, "reader"))
        back = sum(1 for mark in deleted if mark in listed)
        if quit_reply.startswith("+OK"):
            figure = "%d of %d (QUIT: %s)" % (back, len(deleted), quit_reply)
        else:
            figure = "0 of %d acknowledged (QUIT: %s; still listed: %d)" % (len(deleted), quit_reply, back)
        say("deleted messages back after a rebuild under an open session", figure)
        folder.stop()


# ---------------------------------------------------------------- 4. queued copies

class Receiver:
    """The relay: counts the messages the queue hands it."""

    def __init__(self):
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
        return "250 accepted"


def start_receiver():
    receiver = Receiver()
    controller, port = start_controller(receiver)
    return receiver, controller, port


def queued_after_refusals(receiver, port, recipients, settings):
    """Three tries refused for bob; the copies the queue took (sent on to
    the receiver, or still waiting after a minute) and the replies."""
    with Folder(["bob"], settings) as folder:
        qp.relay_to(folder.home, port)
        folder.home.set("System", "NextTryInterval", "0")
        home = folder.start()
        damage_index(home, "bob")
        before = receiver.count
        replies = [transact(home, recipients, message("refused-%d" % i), sender="demo@%s" % DOMAIN, login=True)
                   for i in range(3)]
        try:
            qp.wait_until(lambda: home.queued_records() == 0, 60, "an empty queue")
        except AssertionError:
            pass
        copies = receiver.count - before + home.queued_records()
        folder.stop()
    return copies, replies


def scenario_queue():
    receiver, controller, port = start_receiver()
    try:
        copies, replies = queued_after_refusals(receiver, port, ["remote@other.test", "bob@%s" % DOMAIN], ())
        say("queued copies after three refused tries (remote@other.test and bob, whose store fails)",
            "%d (replies %s)" % (copies, " ".join(map(str, replies))))
        copies, replies = queued_after_refusals(
            receiver, port, ["bob@%s" % DOMAIN],
            [("System", "EnableMailsCopyTo", "1"), ("System", "MailsCopyTo", "archive@other.test")])
        say("queued copies after three refused tries (bob, whose store fails, with MailsCopyTo archive@other.test)",
            "%d (replies %s)" % (copies, " ".join(map(str, replies))))
    finally:
        controller.stop()


# ---------------------------------------------------------------- 4. refused copies read

def scenario_read():
    with Folder(["ann", "bob"]) as folder:
        home = folder.start()
        damage_index(home, "bob")
        done = threading.Event()
        downloaded = set()
        polls = [0]

        def poll():
            client = pop3(home, "ann")
            try:
                for number, _, _ in uidl_marks(client):
                    try:
                        mark = mark_of(client.retr(number)[1])
                    except poplib.error_proto:  # taken back in between
                        continue
                    if mark:
                        downloaded.add(mark)
            finally:
                client.quit()
            polls[0] += 1

        def poller():
            deadline = time.monotonic() + 600
            while not done.is_set() and time.monotonic() < deadline:
                try:
                    poll()
                except (OSError, poplib.error_proto):
                    pass

        thread = threading.Thread(target=poller, daemon=True)
        thread.start()
        replies = {}
        for i in range(100):
            code = transact(home, ["ann@%s" % DOMAIN, "bob@%s" % DOMAIN], message("refused-%d" % i, 2000))
            replies[code] = replies.get(code, 0) + 1
        done.set()
        thread.join(TIMEOUT)
        poll()
        read = len([m for m in downloaded if m.startswith("refused-")])
        say("refused messages read by another recipient (100 to [ann, bob], bob's store failing, ann polling)",
            "%d of 100 (replies %s; %d polls)" % (read, ", ".join("%d x %d" % (n, c) for c, n in
                                                                   sorted(replies.items())), polls[0]))
        folder.stop()


# ---------------------------------------------------------------- 4. take-back after a rebuild

def body_numbers(folder):
    numbers = []
    for name in os.listdir(folder):
        if name.endswith(".eml") and name[:-4].isdigit():
            numbers.append(int(name[:-4]))
    return numbers


def remove_index_after_next_store(home, account, finished):
    """Waits (until `finished`) for a new body of `account` and the index
    write that lists it, then removes the index. True when it did."""
    folder = os.path.join(home.path, "mail", account)
    path = index_path(home, account)
    highest = max(body_numbers(folder), default=0)
    before = stamp(path)
    deadline = time.monotonic() + TIMEOUT
    new_body = False
    while not finished.is_set() and time.monotonic() < deadline:
        if not new_body:
            new_body = max(body_numbers(folder), default=0) > highest
        if new_body and stamp(path) not in (before, None):
            os.unlink(path)
            return True
        time.sleep(0.0002)
    return False


def scenario_takeback():
    tries = 6
    with Folder(["alice", "bob", "carol", "dave"]) as folder:
        home = folder.start()
        acknowledged = deliver_all(home, "alice", ["alice-first-%d" % i for i in range(5)])
        damage_index(home, "bob")
        big = 8 * 1024 * 1024
        rebuilt = replies_451 = 0
        refused = []
        for attempt in range(tries):
            advance_body_numbers(home, "alice", 10)
            acknowledged += deliver_all(home, "alice", ["alice-%d-%d" % (attempt, i) for i in range(12)])
            finished = threading.Event()
            outcome = []
            watcher = threading.Thread(
                target=lambda: outcome.append(remove_index_after_next_store(home, "alice", finished)), daemon=True)
            watcher.start()
            mark = "refused-%d" % attempt
            refused.append(mark)
            code = transact(home, ["%s@%s" % (name, DOMAIN) for name in ("alice", "carol", "dave", "bob")],
                            message(mark, big))
            finished.set()
            watcher.join(TIMEOUT)
            rebuilt += bool(outcome and outcome[0])
            replies_451 += code == 451
        listed = set(marks_listed(home, "alice"))
        gone = sum(1 for mark in acknowledged if mark not in listed)
        kept = sum(1 for mark in refused if mark in listed)
        say("acknowledged messages deleted by a take-back (alice's index rebuilt between store and take-back)",
            "%d of %d (%d of %d tries answered 451, the index was rebuilt in between in %d; refused copies "
            "left in alice's mailbox: %d)" % (gone, len(acknowledged), replies_451, tries, rebuilt, kept))
        folder.stop()


SCENARIOS = {
    "putback": scenario_putback,
    "uid": scenario_uid,
    "dele": scenario_dele,
    "queue": scenario_queue,
    "read": scenario_read,
    "takeback": scenario_takeback,
}


def main():
    arguments = sys.argv[1:]
    if not arguments or any(name not in SCENARIOS for name in arguments[1:]):
        sys.exit(__doc__)
    os.environ["QUORVEX_BUILD_DIR"] = os.path.abspath(arguments[0])
    global qp
    import quorvex_program as qp  # reads the build folder when imported
    socket.setdefaulttimeout(TIMEOUT)
    for name in arguments[1:] or list(SCENARIOS):
        SCENARIOS[name]()
    return 0


if __name__ == "__main__":
    sys.exit(main())
