"""Outgoing mail through the real QuorvexServer program: a message for
another domain, sent with smtplib, leaves through the queue to a real
receiving server (aiosmtpd) acting as relay; the program killed during a
delivery run delivers every message exactly once after its restart."""
import asyncio
import os
import smtplib
import sys
import threading


sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
from smtp_receiver import start_controller  # noqa: E402
from quorvex_program import ProgramFolder, relay_to, wait_until  # noqa: E402


class Receiver:
    """Records accepted messages; holds back the DATA reply for recipients
    starting with "hold" until released. The release comes only after the
    sending program was killed, so a message held back is never counted:
    its client never heard the 250. (Asking the transport whether the client
    is gone races with the event loop noticing the closed connection.)"""

    def __init__(self):
        self.messages = []
        self.held = 0
        self.release = threading.Event()
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        if any(r.startswith("hold") for r in envelope.rcpt_tos):
            with self.lock:
                self.held += 1
            if not self.release.is_set():
                while not self.release.is_set():
                    await asyncio.sleep(0.01)
                return "451 client gone"
        with self.lock:
            self.messages.append((envelope.mail_from, list(envelope.rcpt_tos), envelope.original_content))
        return "250 accepted"


def start_receiver():
    receiver = Receiver()
    controller, port = start_controller(receiver)
    return receiver, controller, port


def relay_folder(tmp_path, port):
    home = ProgramFolder(tmp_path)
    relay_to(home, port)
    home.set("System", "NextTryInterval", "0")
    return home


def send(home, recipients, subject):
    body = ("From: demo@example.test\r\nSubject: %s\r\n\r\n.leading dot\r\nbody\r\n" % subject).encode()
    with smtplib.SMTP("127.0.0.1", home.smtp, timeout=10) as client:
        client.ehlo("e2e.client")
        client.login("demo", "demo")
        assert client.sendmail("demo@example.test", recipients, body) == {}
    return body


def test_remote_mail_leaves_through_the_relay_unchanged(tmp_path):
    receiver, controller, port = start_receiver()
    try:
        home = relay_folder(tmp_path, port)
        with home.start() as program:
            program.wait_serving()
            body = send(home, ["friend@remote.test"], "outgoing")
            wait_until(lambda: receiver.messages, 30, "the relayed message")
            wait_until(lambda: home.queued_records() == 0, 10, "an empty queue")
            assert program.stop()[0] == 0
        mail_from, rcpt_tos, content = receiver.messages[0]
        assert mail_from == "demo@example.test"
        assert rcpt_tos == ["friend@remote.test"]
        assert content.endswith(body), content
        logs = os.listdir(os.path.join(home.path, "log"))
        assert any(name.startswith("Internetsendlog") for name in logs)
    finally:
        controller.stop()


def test_killed_delivery_run_delivers_each_message_once(tmp_path):
    receiver, controller, port = start_receiver()
    try:
        home = relay_folder(tmp_path, port)
        recipients = ["hold1@remote.test", "a@remote.test", "hold2@remote.test", "b@remote.test", "c@remote.test"]
        with home.start() as program:
            program.wait_serving()
            for r in recipients:
                send(home, [r], r)
            # Killed while only the held messages are in flight.
            wait_until(lambda: receiver.held == 2 and len(receiver.messages) == 3 and home.queued_records() == 2,
                       30, "three deliveries and two held ones")
            program.kill()
        receiver.release.set()
        with home.start() as program:
            program.wait_serving()
            wait_until(lambda: home.queued_records() == 0 and len(receiver.messages) >= 5, 60, "the queue to empty")
            assert program.stop()[0] == 0
        delivered = sorted(r for _, rcpts, _ in receiver.messages for r in rcpts)
        assert delivered == sorted(recipients)
    finally:
        controller.stop()
