#!/usr/bin/python3
"""The login guard under a flood of failing addresses, against the real
program on loopback only.

Each run starts a fresh program folder (the demo template: domain
example.test, account demo/demo) on ports of the tests' port allocator, with
127.0.0.8 as its web-mail front end. The guard follows 10,000 addresses.

  ipv4     10,000 sources of 127.20.0.0/16 fail one POP3 login each (real
           connections, each bound to its own loopback address), then 10
           more sources of that /16 fail once
  ipv6     the front end forwards 20,000 /64s of 2001:db8:7::/48 (POP3
           "USER demo:<address>", the line the web-mail component sends for
           a browser's address), each failing once, then 10 more /64s
  memory   the front end forwards 100,000 IPv4 addresses failing once each
  networks=N  the front end forwards 10,000 IPv4 addresses failing once
           each (the table is full), then one address of each of N /24s
           of 100.0.0.0/8 failing 10 times (N networks locked), then one
           address of each of 10,000 other /24s (20.0.0.0/8) that never
           failed logs in with the right password, one after another: the
           line says how many of them were refused

After the flood, each of these logs in with the right password at its first
try, and the first line says whether it got in: POP3 from 127.0.0.9, SMTP
AUTH from 127.0.0.10, a web-mail user at 192.0.2.77 through the front end
(a reported address only: nothing is sent to it) and the account server's
LOGIN# from the front end (the only peers the account server serves). Then a new address (127.30.0.1, or a forwarded
2001:db8:99::1) guesses 10 wrong passwords and tries the right one: the
second line says whether it was refused. The program's resident memory is
taken before and after the flood.

    bench/guard_flood.py BUILD_DIR [ipv4|ipv6|memory|networks=N ...]
"""
import concurrent.futures
import os
import poplib
import resource
import smtplib
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "support"))
import account_client as ac  # noqa: E402
from loopback_clients import Pop3From  # noqa: E402

FRONT = "127.0.0.8"
WORKERS = 24
WRONG = b"-ERR the password incorrect"


def flood_sources(count):
    """`count` distinct sources of 127.20.0.0/16, 250 to a /24."""
    return [("127.20.%d.%d" % (n // 250, n % 250 + 1), "demo") for n in range(count)]


def forwarded_64s(first, count):
    """`count` /64s of 2001:db8:7::/48, forwarded by the front end."""
    return [(FRONT, "demo:2001:db8:7:%x::1" % n) for n in range(first, first + count)]


def forwarded_ipv4(count):
    return [(FRONT, "demo:10.%d.%d.%d" % (n >> 16, n >> 8 & 255, n & 255)) for n in range(count)]


def forwarded_networks(first, count, times):
    """One address of each of `count` /24s of first.0.0.0/8, forwarded by
    the front end, each `times` times in a row."""
    return [(FRONT, "demo:%d.%d.%d.1" % (first, n >> 8, n & 255)) for n in range(count) for _ in range(times)]


def pop3_login(port, source, user, password):
    """The server's answer to PASS (or the first refusal before it)."""
    with socket.create_connection(("127.0.0.1", port), timeout=30, source_address=(source, 0)) as s:
        f = s.makefile("rb")
        reply = f.readline()
        for line in (b"USER " + user.encode() + b"\r\n", b"PASS " + password + b"\r\n"):
            if not reply.startswith(b"+OK"):
                break
            s.sendall(line)
            reply = f.readline()
        s.sendall(b"QUIT\r\n")
        return reply.rstrip(b"\r\n")


def flood(home, clients):
    """Each client fails one POP3 login; the seconds taken and the answers
    other than the wrong-password reply."""
    started = time.monotonic()
    others = {}
    with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
        for reply in pool.map(lambda c: pop3_login(home.pop3, c[0], c[1], b"wrong"), clients):
            if reply != WRONG:
                others[reply] = others.get(reply, 0) + 1
    return time.monotonic() - started, others


def probe_pop3(home):
    client = Pop3From(home.pop3, "127.0.0.9", timeout=10)
    client.user("demo")
    client.pass_("demo")
    client.quit()


def probe_smtp(home):
    with smtplib.SMTP("127.0.0.1", home.smtp, timeout=10, source_address=("127.0.0.10", 0)) as client:
        client.ehlo("probe.test")
        client.login("demo", "demo")


def probe_web_mail(home):
    client = Pop3From(home.pop3, FRONT, timeout=10)
    client.user("demo:192.0.2.77")
    client.pass_("demo")
    client.quit()


def probe_account_server(home):
    with ac.Connection(home.admin, source=FRONT, timeout=10) as c:
        reply = c.ask("LOGIN#demo#demo")
        if reply != "+OK":
            raise OSError(reply)


PROBES = (("pop3 127.0.0.9", probe_pop3), ("smtp-auth 127.0.0.10", probe_smtp),
          ("web-mail 192.0.2.77 via " + FRONT, probe_web_mail), ("account-server " + FRONT, probe_account_server))


def probe_all(home):
    results = []
    for name, probe in PROBES:
        try:
            probe(home)
            results.append("%s in" % name)
        except (OSError, smtplib.SMTPException, poplib.error_proto) as error:
            results.append("%s REFUSED (%s)" % (name, error))
    return results


def guesser_refused(home, source, user):
    """10 wrong passwords from a new client, then the right one: whether
    the right one was refused."""
    for _ in range(10):
        pop3_login(home.pop3, source, user, b"wrong")
    return pop3_login(home.pop3, source, user, b"demo") == WRONG


def resident_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def start(home, log):
    """The program with its standard output and error in `log` (a pipe
    would fill with 20,000 failed-login lines and hold the server)."""
    from quorvex_program import PROGRAM, RunningProgram

    class Program(RunningProgram):
        def launch(self):
            self.process = subprocess.Popen([PROGRAM], env=self.folder.environment(), stdout=log, stderr=log)

    return Program(home, (), None).wait_serving()


RUNS = {
    "ipv4": (flood_sources(10000), flood_sources(10010)[10000:], ("127.30.0.1", "demo")),
    "ipv6": (forwarded_64s(0, 20000), forwarded_64s(20000, 10), (FRONT, "demo:2001:db8:99::1")),
    "memory": (forwarded_ipv4(100000), [], (FRONT, "demo:192.0.2.200")),
}


def with_program(build, stop_timeout, body):
    """Runs `body(home, program)` against a fresh program folder that
    trusts the front end; returns its result and the log's lock lines, all
    and those counted with their network, once the program stopped."""
    os.environ["QUORVEX_BUILD_DIR"] = build
    from quorvex_program import ProgramFolder
    with tempfile.TemporaryDirectory() as root:
        home = ProgramFolder(root)
        home.set("WebMail", "IP", "127.0.0.1;" + FRONT)
        with open(os.path.join(root, "program.log"), "wb") as log, start(home, log) as program:
            result = body(home, program)
            program.stop(timeout=stop_timeout)
        with open(os.path.join(root, "program.log"), "rb") as f:
            locks = [line for line in f if b"login locked:" in line]
    return result, locks, [line for line in locks if b"counted with its network" in line]


def run(build, name):
    fill, more, guesser = RUNS[name]

    def body(home, program):
        before = resident_kb(program.process.pid)
        took, others = flood(home, fill)
        _, more_others = flood(home, more)
        after = resident_kb(program.process.pid)
        return before, took, {**others, **more_others}, after, probe_all(home), guesser_refused(home, *guesser)

    (before, took, others, after, probes, refused), locks, by_network = with_program(build, 30, body)
    print("%s: %d clients failed once in %.1f s (%.0f a second), then %d more; other answers: %s; "
          "resident memory %.1f MB before, %.1f MB after; locks logged %d (of networks %d%s)"
          % (name, len(fill), took, len(fill) / took, len(more), others or "none",
             before / 1024, after / 1024, len(locks), len(by_network),
             ": " + by_network[0].decode("latin-1").strip() if by_network else ""), flush=True)
    print("    first try: " + "; ".join(probes), flush=True)
    print("    a new client's right password after 10 wrong ones (%s): %s"
          % (guesser[1].split(":", 1)[1] if ":" in guesser[1] else guesser[0], "refused" if refused else "TAKEN"),
          flush=True)


def networks_run(build, networks):
    def body(home, program):
        filled, fill_others = flood(home, forwarded_ipv4(10000))
        took, others = flood(home, forwarded_networks(100, networks, 10))
        refused = 0
        answers = {}
        started = time.monotonic()
        for source, user in forwarded_networks(20, 10000, 1):
            reply = pop3_login(home.pop3, source, user, b"demo")
            if reply == WRONG:
                refused += 1
            elif not reply.startswith(b"+OK"):
                answers[reply] = answers.get(reply, 0) + 1
        return filled, took, {**fill_others, **others}, refused, answers, time.monotonic() - started

    (filled, took, others, refused, answers, probed), locks, by_network = with_program(build, 60, body)
    print("networks=%d: 10,000 clients filled the table in %.1f s, then %d /24s failed 10 times each in %.1f s "
          "(%.0f failures a second); other answers: %s; locks logged %d (of networks %d)"
          % (networks, filled, networks, took, networks * 10 / took, others or "none",
             len(locks), len(by_network)), flush=True)
    print("    10,000 clients of other /24s that never failed, at their first right password (%.1f s): "
          "%d refused (%.3f %%); other answers: %s" % (probed, refused, refused / 100.0, answers or "none"),
          flush=True)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(max(soft, 16384), hard), hard))
    for name in sys.argv[2:] or ["ipv4", "ipv6"]:
        if name.startswith("networks="):
            networks_run(build, int(name.split("=", 1)[1]))
        else:
            run(build, name)


if __name__ == "__main__":
    main()
