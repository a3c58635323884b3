#!/usr/bin/python3
"""POP3 retrieval benchmark: our server against a stock Dovecot, same run.

A mailbox of 1,000 messages (2 KiB to 200 KiB, mixed) is served by both
servers on loopback ports; 20 clients each retrieve every message, and
then 20 clients open short sessions (login, STAT, QUIT) for a few
seconds. Prints MB/s and sessions per second for each server.

    bench/pop3_bench.py BUILD_DIR      (BUILD_DIR built with -DQUORVEX_BUILD_BENCH=ON)
"""
import multiprocessing, os, random, shutil, socket, subprocess, sys, tempfile, time

MESSAGES = int(os.environ.get('POP3_BENCH_MESSAGES', 1000))
CLIENTS = int(os.environ.get('POP3_BENCH_CLIENTS', 20))
SESSION_SECONDS = 3


sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e', 'support'))
import test_ports  # noqa: E402  (the tests' port allocator: below the ephemeral range)


def make_messages(folder):
    rng = random.Random(7)
    os.makedirs(folder)
    for i in range(MESSAGES):
        size = rng.choice([2048, 8192, 32768, 100000, 204800]) if i % 10 else rng.randint(2048, 204800)
        head = 'From: a@bench.test\r\nTo: bench@bench.test\r\nSubject: message %d\r\nMessage-ID: <%d@bench>\r\n\r\n' % (i, i)
        line = ('x' * 76) + '\r\n'
        body = line * max(1, (size - len(head)) // len(line))
        with open(os.path.join(folder, '%05d.eml' % i), 'w', newline='') as f:
            f.write(head + body)


class Client:
    """A minimal POP3 client: as little work per byte as possible, so that
    the servers, not the clients, set the pace."""

    def __init__(self, port):
        self.s = socket.create_connection(('127.0.0.1', port))
        self.buf = bytearray()
        self.line()

    def fill(self):
        chunk = self.s.recv(1 << 20)
        if not chunk:
            raise EOFError
        self.buf += chunk

    def line(self):
        while (end := self.buf.find(b'\r\n')) < 0:
            self.fill()
        line = bytes(self.buf[:end])
        del self.buf[:end + 2]
        return line

    def cmd(self, text):
        self.s.sendall(text.encode() + b'\r\n')
        return self.line()

    def multiline(self):
        scanned = 0  # only new bytes are searched for the end line
        while (end := self.buf.find(b'\r\n.\r\n', max(0, scanned - 4))) < 0:
            scanned = len(self.buf)
            self.fill()
        size = end + 2
        del self.buf[:end + 5]
        return size


def retrieve_all(port):
    c = Client(port)
    c.cmd('USER bench'); c.cmd('PASS bench')
    count = int(c.cmd('STAT').split()[1])
    got = 0
    for n in range(1, count + 1):
        if not c.cmd('RETR %d' % n).startswith(b'+OK'):
            raise RuntimeError('RETR failed')
        got += c.multiline()
    c.cmd('QUIT')
    return got


def short_sessions(port):
    deadline, done = time.time() + SESSION_SECONDS, 0
    while time.time() < deadline:
        c = Client(port)
        c.cmd('USER bench'); c.cmd('PASS bench'); c.cmd('STAT'); c.cmd('QUIT')
        c.s.close()
        done += 1
    return done


def measure(name, port):
    with multiprocessing.Pool(CLIENTS) as pool:
        start = time.time()
        total = sum(pool.map(retrieve_all, [port] * CLIENTS))
        elapsed = time.time() - start
        sessions = sum(pool.map(short_sessions, [port] * CLIENTS)) / SESSION_SECONDS
    print('%-9s %8.1f MB/s  (%d MB in %.2f s)   %7.0f sessions/s' %
          (name, total / elapsed / 1e6, total / 1e6, elapsed, sessions))


def start_dovecot(work, port, messages):
    mail = os.path.join(work, 'mail', 'bench')
    for sub in ('new', 'cur', 'tmp'):
        os.makedirs(os.path.join(mail, sub))
    for name in sorted(os.listdir(messages)):
        with open(os.path.join(messages, name), 'rb') as f:
            text = f.read().replace(b'\r\n', b'\n')
        with open(os.path.join(mail, 'cur', name + ':2,'), 'wb') as f:
            f.write(text)
    with open(os.path.join(work, 'passwd'), 'w') as f:
        f.write('bench:{PLAIN}bench::::::\n')
    conf = os.path.join(work, 'dovecot.conf')
    with open(conf, 'w') as f:
        f.write(f'''base_dir = {work}/run
state_dir = {work}/state
log_path = {work}/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
first_valid_uid = 1
default_internal_user = dovecot
default_login_user = dovenull
mail_location = maildir:{work}/mail/%u
mail_max_userip_connections = 1000
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {work}/passwd
}}
userdb {{
  driver = passwd-file
  args = {work}/passwd
  default_fields = uid=nobody gid=nogroup home={work}/mail/%u
}}
service pop3-login {{
  inet_listener pop3 {{
    address = 127.0.0.1
    port = {port}
  }}
}}
service imap-login {{
  inet_listener imap {{
    port = 0
  }}
}}
''')
    os.chmod(work, 0o755)
    subprocess.run(['chown', '-R', 'nobody:nogroup', os.path.join(work, 'mail')], check=True)
    return subprocess.Popen(['/usr/sbin/dovecot', '-F', '-c', conf])


def wait_for(port):
    for _ in range(500):
        try:
            socket.create_connection(('127.0.0.1', port)).close()
            return
        except OSError:
            time.sleep(0.02)
    raise RuntimeError('server on port %d did not start' % port)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else 'build/bench'
    work = tempfile.mkdtemp(prefix='pop3-bench-')
    os.chmod(work, 0o755)  # Dovecot's unprivileged processes walk into it
    ours = dovecot = None
    try:
        messages = os.path.join(work, 'messages')
        make_messages(messages)
        our_port, dovecot_port = test_ports.take(2)
        ours = subprocess.Popen([os.path.join(build, 'bench', 'bench_pop3_server'), os.path.join(work, 'home'),
                                 str(our_port), messages], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        if ours.stdout.readline().strip() != b'ready':
            raise RuntimeError('our server did not start')
        dovecot = start_dovecot(os.path.join(work, 'dovecot'), dovecot_port, messages)
        wait_for(dovecot_port)
        retrieve_all(dovecot_port)  # let both build their caches and indexes once
        retrieve_all(our_port)
        measure('Quorvex', our_port)
        measure('Dovecot', dovecot_port)
    finally:
        if ours:
            ours.stdin.close()
            ours.wait()
        if dovecot:
            dovecot.terminate()
            dovecot.wait()
        if os.environ.get('KEEP'):
            print('kept', work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
