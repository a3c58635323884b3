#!/usr/bin/python3
"""Web-mail sending benchmark: a compose page's upload and send through
QuorvexCOM.so's C interface (ctypes) against the real QuorvexServer on
loopback ports, compared with the server taking the same message from
Python's smtplib.

Each run uploads a multipart/form-data body with a 10 MiB attachment
(StartUpload: the body copied and split into field and upload files),
fills the message from the form (Set methods, AddAttach) and sends it
(SendMail: compose, SMTP dialogue, the server's 250 after its durable
store). The message the server stored is then sent again with smtplib,
as the server-alone reference. Prints the upload parser's MB/s and the
times from the request body to the server's 250, median and best.

    bench/webcom_send_bench.py BUILD_DIR [RUNS]

The program folder (mailboxes and compose folders) is made in $TMPDIR;
set it to a tmpfs folder (TMPDIR=/dev/shm) to leave the disk out of the
figures.
"""
import os
import poplib
import smtplib
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "support"))

ATTACHMENT = 10 * 1024 * 1024


def stored_message(site):
    """The last message of rcpt's mailbox without the trace lines the server
    adds (Return-Path, Received), i.e. the message the component sent; the
    mailbox is emptied."""
    client = poplib.POP3("127.0.0.1", site.folder.pop3, timeout=60)
    poplib._MAXLINE = 1 << 20
    client.user("rcpt")
    client.pass_("pw")
    count = client.stat()[0]
    lines = client.retr(count)[1]
    for n in range(1, count + 1):
        client.dele(n)
    client.quit()
    # "Return-Path:", "Received: from ..." and its folded "\tby ..." line.
    while lines and (lines[0].startswith((b"Return-Path:", b"Received:")) or lines[0].startswith(b"\t")):
        lines.pop(0)
    return b"\r\n".join(lines) + b"\r\n"


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    os.environ["QUORVEX_BUILD_DIR"] = os.path.abspath(sys.argv[1])
    os.environ.setdefault("QUORVEX_SOURCE_DIR", os.path.join(HERE, ".."))
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    import webcom_client as wc  # noqa: E402
    import webcom_env  # noqa: E402  (reads the build folder at import)

    body = wc.form_data(fields=[("to", "rcpt@example.test"), ("subject", "ten megabytes"),
                                ("body", "The data is attached.\r\n")],
                        files=[("attach", "data.bin", os.urandom(ATTACHMENT))])
    with tempfile.TemporaryDirectory(prefix="webcom-send-bench-") as root:
        site = webcom_env.Installation(root)
        try:
            site.signup("bench", "pw")
            site.signup("rcpt", "pw")
            parse_ms, send_ms, smtplib_ms = [], [], []
            for _ in range(runs):
                smtp = site.create("QuorvexCOM.SMTP")
                smtp.call("CreateUserPath", "bench:127.0.0.1")
                smtp.put("From", "bench@example.test")
                request = wc.Request(body)
                started = time.perf_counter()
                smtp.call("StartUpload", request)
                parsed = time.perf_counter()
                for method, field in (("SetTo", "to"), ("SetSubject", "subject"), ("SetBody", "body")):
                    smtp.call(method, field)
                smtp.call("AddAttach", "attach")
                smtp.call("SendMail")
                sent = time.perf_counter()
                assert smtp.get("LastResponse") == "+OK send mail successful", smtp.get("LastResponse")
                smtp.release()
                parse_ms.append((parsed - started) * 1000)
                send_ms.append((sent - started) * 1000)

                message = stored_message(site)
                with smtplib.SMTP("127.0.0.1", site.folder.smtp, timeout=60) as client:
                    started = time.perf_counter()
                    client.sendmail("bench@example.test", ["rcpt@example.test"], message)
                    smtplib_ms.append((time.perf_counter() - started) * 1000)
                stored_message(site)
            megabytes = len(body) / 1e6
            print("web-mail send benchmark: %.1f MB request body, %d runs" % (megabytes, runs))
            print("%-40s %9s %9s" % ("", "median", "best"))
            print("%-40s %9.0f %9.0f" % ("upload parser, MB/s", megabytes / (statistics.median(parse_ms) / 1000),
                                          megabytes / (min(parse_ms) / 1000)))
            print("%-40s %9.1f %9.1f" % ("request body to 250 (component), ms", statistics.median(send_ms),
                                          min(send_ms)))
            print("%-40s %9.1f %9.1f" % ("same message by smtplib (server), ms", statistics.median(smtplib_ms),
                                          min(smtplib_ms)))
            print("%-40s %9.2f" % ("ratio component / server", statistics.median(send_ms) /
                                   statistics.median(smtplib_ms)))
        finally:
            site.stop()


if __name__ == "__main__":
    main()
