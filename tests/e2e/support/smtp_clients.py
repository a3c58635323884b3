"""Real SMTP clients for the SMTP server's end-to-end tests.

Run by the C++ end-to-end test with Debian's interpreter:
  smtp_clients.py send PORT SENDER RECIPIENT FILE [USER PASSWORD]
  smtp_clients.py load PORT THREADS MESSAGES RECIPIENT
Prints one line per result; exits non-zero when a message was refused.
"""
import smtplib
import sys
import threading


def send(port, sender, recipient, path, user=None, password=None):
    with open(path, "rb") as f:
        data = f.read()
    with smtplib.SMTP("127.0.0.1", int(port), timeout=60) as client:
        client.ehlo("e2e.client")
        if user is not None:
            login(client, user, password)
        refused = client.sendmail(sender, [recipient], data)
    print("sent", len(data), "refused", len(refused))


def login(client, user, password):
    answers = iter([user, password])
    client.auth("LOGIN", lambda challenge=None: next(answers), initial_response_ok=False)


def load(port, threads, messages, recipient):
    threads, messages = int(threads), int(messages)
    failures = []
    counter = iter(range(messages))
    lock = threading.Lock()

    def worker():
        with smtplib.SMTP("127.0.0.1", int(port), timeout=120) as client:
            client.ehlo("load.client")
            while True:
                with lock:
                    n = next(counter, None)
                if n is None:
                    return
                body = ("Subject: load %d\r\n\r\nmessage number %d\r\n" % (n, n)).encode()
                try:
                    client.sendmail("sender@remote.org", [recipient], body)
                except Exception as error:  # collected and reported below
                    failures.append("%d %r" % (n, error))

    pool = [threading.Thread(target=worker) for _ in range(threads)]
    for t in pool:
        t.start()
    for t in pool:
        t.join()
    for failure in failures:
        print("failed", failure)
    print("done", messages - len(failures))
    return 1 if failures else 0


def main():
    command = sys.argv[1]
    if command == "send":
        send(*sys.argv[2:])
        return 0
    if command == "load":
        return load(*sys.argv[2:])
    print("unknown command", command)
    return 2


if __name__ == "__main__":
    sys.exit(main())
