"""Clients from a chosen loopback source address, so that one test can be
several clients of the server (127.0.0.0/8 only)."""
import poplib
import socket


class Pop3From(poplib.POP3):
    """poplib from `source`."""

    def __init__(self, port, source, timeout=10):
        self.source = source
        super().__init__("127.0.0.1", port, timeout=timeout)

    def _create_socket(self, timeout):
        return socket.create_connection((self.host, self.port), timeout, source_address=(self.source, 0))
