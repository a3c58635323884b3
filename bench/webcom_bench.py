#!/usr/bin/python3
"""Web-mail page benchmark: a page's typical work through QuorvexCOM.so's C
interface (ctypes) against the real QuorvexServer on loopback ports.

The mailbox holds 20 small messages and one 1 MB message with two
attachments. Each run is one page: log in (CreateUserPath, Login), the
mailbox figures, 20 message summaries, fetching the 1 MB message into its
work folder (RETR, mail.eml, MIME split into body and attachment files),
log out (Logout removes the work files; the release ends the session with
QUIT, on which the server durably commits the read marks of the session).
Prints milliseconds per step, median and 99th percentile over the runs.

    bench/webcom_bench.py BUILD_DIR [RUNS]

The program folder (mailboxes and the work root) is made in $TMPDIR; set
it to a tmpfs folder (TMPDIR=/dev/shm) to leave the disk out of the figures.
"""
import os
import statistics
import sys
import tempfile
import time
from email.message import EmailMessage

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "support"))

SUMMARIES = 20


def big_message():
    message = EmailMessage()
    message["From"] = "sender@remote.test"
    message["To"] = "bench@example.test"
    message["Subject"] = "one megabyte"
    message.set_content("The report and the data are attached.\n" * 20)
    message.add_attachment(os.urandom(450 * 1024), maintype="application", subtype="pdf", filename="report.pdf")
    message.add_attachment(os.urandom(300 * 1024), maintype="application", subtype="zip", filename="data.zip")
    return message.as_bytes(policy=message.policy.clone(linesep="\r\n"))


def small_message(n):
    return ("From: Sender %d <sender@remote.test>\r\nTo: bench@example.test\r\nSubject: message %d\r\n"
            "Date: Tue, 05 Jun 2001 10:00:00 -0800\r\nMessage-ID: <%d@remote.test>\r\n\r\n" % (n, n, n)
            + ("x" * 76 + "\r\n") * 25)


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    os.environ["QUORVEX_BUILD_DIR"] = os.path.abspath(sys.argv[1])
    os.environ.setdefault("QUORVEX_SOURCE_DIR", os.path.join(HERE, ".."))
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    import webcom_env  # noqa: E402  (reads the build folder at import)

    with tempfile.TemporaryDirectory(prefix="webcom-bench-") as root:
        site = webcom_env.Installation(root)
        try:
            site.signup("bench", "pw")
            for n in range(SUMMARIES):
                site.send("bench@example.test", small_message(n))
            site.send("bench@example.test", big_message())
            big = SUMMARIES + 2  # after the welcome message and the small ones
            steps = {name: [] for name in ("login", "mailbox info", "20 summaries", "fetch 1 MB", "Logout",
                                           "release (QUIT)", "page")}
            for _ in range(runs):
                started = time.perf_counter()
                marks = [started]
                pop3 = site.create("QuorvexCOM.POP3")
                pop3.call("CreateUserPath", "bench:127.0.0.1")
                pop3.call("Login", "bench:127.0.0.1", "pw")
                marks.append(time.perf_counter())
                pop3.call("GetMailBoxInfo")
                marks.append(time.perf_counter())
                for n in range(2, 2 + SUMMARIES):
                    pop3.call("GetMailInfo", n)
                marks.append(time.perf_counter())
                pop3.call("GetMailData", big)
                marks.append(time.perf_counter())
                assert pop3.get("LastResponse") == "+OK Read Mail Successful" and pop3.get("AttachCount") == 2
                pop3.call("Logout", "bench")
                marks.append(time.perf_counter())
                pop3.release()
                marks.append(time.perf_counter())
                for name, begin, end in zip(list(steps)[:6], marks, marks[1:]):
                    steps[name].append((end - begin) * 1000)
                steps["page"].append((marks[-1] - started) * 1000)
            print("webcom page benchmark, %d runs (milliseconds)" % runs)
            print("%-14s %8s %8s" % ("step", "median", "p99"))
            for name, values in steps.items():
                print("%-14s %8.2f %8.2f" % (name, statistics.median(values), percentile(values, 0.99)))
        finally:
            site.stop()


if __name__ == "__main__":
    main()
