"""The one port allocator of the tests (the C++ twin is tests/support/TestPorts.h).

Every test and every helper server a test starts takes its ports here. Ports
come from below the kernel's ephemeral range; a cursor in a state file shared
by every test process and guarded by flock hands each port out once per pass
over the range, and only while nothing holds it for TCP or UDP.
"""
import fcntl
import os
import socket


def port_range():
    """(first, last) of the ports tests may use."""
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            ephemeral_low = int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        ephemeral_low = 32768
    first = 10000 if ephemeral_low > 12000 else 1024
    return first, ephemeral_low - 1


def port_is_free(port):
    """True when the port can be bound on every address for TCP and UDP."""
    for kind in (socket.SOCK_STREAM, socket.SOCK_DGRAM):
        s = socket.socket(socket.AF_INET, kind)
        try:
            if kind == socket.SOCK_STREAM:
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind(("0.0.0.0", port))
        except OSError:
            return False
        finally:
            s.close()
    return True


def state_file():
    return os.environ.get("QUORVEX_TEST_PORT_FILE") or "/tmp/quorvex-test-ports"


def take(count=1):
    """A list of `count` ports handed out to no other test process of this pass."""
    first, last = port_range()
    fd = os.open(state_file(), os.O_RDWR | os.O_CREAT, 0o666)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX)
        text = os.pread(fd, 31, 0).decode("ascii", "replace").strip()
        cursor = int(text) if text.isdigit() else first
        if not first <= cursor <= last:
            cursor = first
        ports = []
        for _ in range(last - first + 1):
            if len(ports) == count:
                break
            port = cursor
            cursor = first if cursor == last else cursor + 1
            if port_is_free(port):
                ports.append(port)
        os.ftruncate(fd, 0)
        os.pwrite(fd, b"%d\n" % cursor, 0)
    finally:
        os.close(fd)
    if len(ports) < count:
        raise RuntimeError("no free test ports left below the ephemeral range")
    return ports


def take_one():
    return take(1)[0]
