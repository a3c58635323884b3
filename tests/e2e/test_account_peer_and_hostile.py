"""The peer gate and hostile input: refused peers get one line, and thousands
of malformed requests never crash the server or change a file."""
import hashlib
import os
import random
import socket
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import account_client as ac  # noqa: E402


def tree_digest(root):
    digest = hashlib.sha256()
    for folder, dirs, files in sorted(os.walk(root)):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            digest.update(path.encode())
            with open(path, "rb") as f:
                digest.update(f.read())
    return digest.hexdigest()


def test_peer_outside_the_web_mail_list_is_refused():
    with ac.TestServer(ac.SINGLE_DOMAIN) as s:
        for first in ["LOGIN#a#b", "SIGNUP#x", ""]:
            with ac.Connection(s.port, source="127.0.0.5") as c:
                assert c.ask(first) == "-ERR illeglar connection"
                assert c.closed()
        assert not os.listdir(os.path.join(s.home, "mail"))
        assert "127.0.0.5" in s.system_log()


def random_line(rng):
    kind = rng.randrange(10)
    prefixes = ["SIGNUP#", "LOGIN#", "UPDATE#", "DELETE#", "ACCOUNT#", "SYSADMIN#", "AUTH#", "auth#", ""]
    prefix = rng.choice(prefixes)
    if kind == 0:
        body = "x" * rng.choice([259, 260, 261, 521, 522, 3068, 3069, 3070, 9000])
    elif kind == 1:
        body = "".join(chr(rng.randrange(1, 256)) for _ in range(rng.randrange(40))).replace("\n", "")
    elif kind == 2:
        body = "a\0b#c"
    elif kind == 3:
        body = "../../etc#x"
    elif kind == 4:
        body = "alice#wrong"
    elif kind == 5:
        body = "alice:1.2.3.4#" + "9" * 40
    else:
        body = "".join(rng.choice("ab#:@/\\ .%") for _ in range(rng.randrange(20)))
    return (prefix + body).encode("latin-1")


def test_ten_thousand_malformed_requests_change_nothing():
    accounts = {"alice": ac.account_ini("secret", permission=0)}
    with ac.TestServer(ac.SINGLE_DOMAIN, accounts) as s:
        before = tree_digest(s.home)
        rng = random.Random(11)
        lines = [random_line(rng) for _ in range(4000)]
        # 4,000 first lines on connections of their own, and 6,000 malformed
        # commands pipelined into one signed-in table session.
        commands = [b"OPEN alice, POP3Info"]
        words = [b"GetData ", b"Delete ", b"Edit ", b"MoveUp ", b"Value ", b"Find ", b"Value Enable, ", b"Value x"]
        for _ in range(6000):
            w = rng.choice(words)
            tail = rng.choice([b"99999999999999999999", b"-1", b"0", b"\0", b"x" * 5000, b""])
            commands.append(w + tail)
        failures = []
        chunks = [lines[i::8] for i in range(8)]

        def send_all(chunk):
            for line in chunk:
                try:
                    with ac.Connection(s.port) as c:
                        c.send(line)
                        c.sock.shutdown(socket.SHUT_WR)
                        while c.read() is not None:
                            pass
                except ConnectionResetError:
                    pass  # the server ended the request with input still unread
                except OSError as error:
                    failures.append(repr(error))

        threads = [threading.Thread(target=send_all, args=(chunk,)) for chunk in chunks]
        for t in threads:
            t.start()
        # The front end's own address is soon locked by the wrong passwords
        # among the lines: the session and the last login forward a user's.
        with ac.Connection(s.port) as c:
            c.send(b"AUTH#alice:192.0.2.50#secret")
            assert c.read() == "+OK"
            c.sock.sendall(b"".join(line + b"\r\n" for line in commands) + b"QUIT\r\n")
            replies = []
            while True:
                line = c.read()
                if line is None:
                    break
                replies.append(line)
        for t in threads:
            t.join()
        assert not failures
        assert replies[0] == "+OK " and replies[-1] == "+OK bye"
        assert all(r.startswith("+OK") or r.startswith("-ERR") for r in replies)
        assert tree_digest(s.home) == before
        # Still serving.
        assert ac.login(s.port, "alice:192.0.2.50", "secret")[0] == "+OK"
        assert s.process.poll() is None
