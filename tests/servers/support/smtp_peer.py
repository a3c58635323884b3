#!/usr/bin/python3
"""A receiving SMTP server for the outgoing-mail tests (aiosmtpd).

Every accepted message is written to OUT/<n>.eml (the data as received,
dot-unstuffed) with OUT/<n>.json holding the envelope, each file written
under a temporary name and renamed, so a reader never sees half of one.

  smtp_peer.py HOST PORT OUT [--auth USER:PASS] [--reply ADDRESS=CODE]...
               [--hold PREFIX --release FILE]

--reply answers RCPT TO for that address with CODE and a short text.
--hold keeps the DATA reply for recipients starting with PREFIX until FILE
exists (writing OUT/held-<n> when it starts to wait); a message whose
client went away meanwhile is not recorded.
"""
import argparse
import asyncio
import itertools
import json
import os
import signal
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

counter = itertools.count(1)
lock = threading.Lock()


def write_atomic(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.rename(tmp, path)


class Handler:
    def __init__(self, args):
        self.args = args
        self.replies = {}
        for item in args.reply:
            address, code = item.rsplit("=", 1)
            self.replies[address.lower()] = code

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        code = self.replies.get(address.lower())
        if code:
            return f"{code} refused for {address}"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        args = self.args
        if args.hold and any(r.lower().startswith(args.hold) for r in envelope.rcpt_tos):
            with lock:
                n = next(counter)
            write_atomic(os.path.join(args.out, f"held-{n}"), b"")
            while not os.path.exists(args.release):
                await asyncio.sleep(0.01)
            transport = getattr(server, "transport", None)
            if transport is None or transport.is_closing():
                return "451 client gone"
        with lock:
            n = next(counter)
        base = os.path.join(args.out, f"msg-{n}")
        write_atomic(base + ".eml", envelope.original_content or envelope.content)
        write_atomic(base + ".json", json.dumps(
            {"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos}).encode())
        return "250 accepted"


class Authenticator:
    def __init__(self, user, password):
        self.user, self.password = user.encode(), password.encode()

    def __call__(self, server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data.login == self.user \
            and auth_data.password == self.password
        return AuthResult(success=ok)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("out")
    parser.add_argument("--auth")
    parser.add_argument("--reply", action="append", default=[])
    parser.add_argument("--hold")
    parser.add_argument("--release")
    args = parser.parse_args()
    if args.hold:
        args.hold = args.hold.lower()
    kwargs = {}
    if args.auth:
        user, password = args.auth.split(":", 1)
        kwargs = dict(authenticator=Authenticator(user, password), auth_required=True,
                      auth_require_tls=False)
    controller = Controller(Handler(args), hostname=args.host, port=args.port,
                            ready_timeout=10, **kwargs)
    controller.start()
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: done.set())
    signal.signal(signal.SIGINT, lambda *a: done.set())
    done.wait()
    controller.stop()


if __name__ == "__main__":
    main()
