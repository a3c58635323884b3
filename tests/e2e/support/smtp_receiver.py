"""An SMTP server (aiosmtpd) on loopback that stands in for the remote
servers outgoing mail goes to, on a port of the test port allocator."""
import test_ports


def start_controller(handler, attempts=5):
    """(controller, port): `handler` served on 127.0.0.1; another port of
    the allocator when something took one in between."""
    from aiosmtpd.controller import Controller
    for _ in range(attempts):
        port = test_ports.take_one()
        controller = Controller(handler, hostname="127.0.0.1", port=port, ready_timeout=10)
        try:
            controller.start()
        except Exception:
            continue
        return controller, port
    raise AssertionError("no port for the receiving SMTP server")
