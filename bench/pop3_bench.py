#!/usr/bin/python3
"""POP3 retrieval benchmark: our server against a stock Dovecot, same run.

A mailbox of 1,000 messages (2 KiB to 200 KiB, mixed) is served by each
server on a loopback port; 20 clients each retrieve every message, and then
20 clients open short sessions (login, STAT, QUIT) for a few seconds. The
clients are a small C program built here (bench/pop3_client.c): it
pipelines RETR and reads 64 KiB at a time, so that the servers, not the
clients, set the pace. For each server the bench prints MB/s, the server's
CPU-seconds for the retrieval and per MB retrieved, and sessions per second.

    bench/pop3_bench.py BUILD_DIR [OTHER_BUILD_DIR ...]

Every BUILD_DIR is built with -DQUORVEX_BUILD_BENCH=ON. With several, each
one's server is measured beside the others and Dovecot, in alternating
order, POP3_BENCH_ROUNDS times (default 3); the last lines give the median
of each figure and the first server's figures against each other's, paired
round by round. Environment: POP3_BENCH_MESSAGES (1000), POP3_BENCH_CLIENTS
(20), POP3_BENCH_ROUNDS.
"""
import os, random, shutil, socket, statistics, subprocess, sys, tempfile, time

MESSAGES = int(os.environ.get('POP3_BENCH_MESSAGES', 1000))
CLIENTS = int(os.environ.get('POP3_BENCH_CLIENTS', 20))
ROUNDS = int(os.environ.get('POP3_BENCH_ROUNDS', 3))
SESSION_SECONDS = 3
HERE = os.path.dirname(os.path.abspath(__file__))
TICKS = os.sysconf('SC_CLK_TCK')

sys.path.insert(0, os.path.join(HERE, '..', 'tests', 'e2e', 'support'))
import test_ports  # noqa: E402  (the tests' port allocator: below the ephemeral range)


def make_messages(folder):
    rng = random.Random(7)
    os.makedirs(folder)
    for i in range(MESSAGES):
        size = rng.choice([2048, 8192, 32768, 100000, 204800]) if i % 10 else rng.randint(2048, 204800)
        head = 'From: a@bench.test\r\nTo: reader@bench.test\r\nSubject: message %d\r\nMessage-ID: <%d@bench>\r\n\r\n' % (i, i)
        line = ('x' * 76) + '\r\n'
        body = line * max(1, (size - len(head)) // len(line))
        with open(os.path.join(folder, '%05d.eml' % i), 'w', newline='') as f:
            f.write(head + body)


def build_client(work):
    binary = os.path.join(work, 'pop3_client')
    subprocess.run(['cc', '-O2', '-Wall', '-o', binary, os.path.join(HERE, 'pop3_client.c')], check=True)
    return binary


def cpu_seconds(root_pid):
    """CPU time of a process and every descendant, those already reaped
    included (user + system, own + waited-for children)."""
    parents, times = {}, {}
    for name in os.listdir('/proc'):
        if not name.isdigit():
            continue
        try:
            with open('/proc/%s/stat' % name) as f:
                fields = f.read().rsplit(')', 1)[1].split()
        except OSError:
            continue
        pid = int(name)
        parents[pid] = int(fields[1])
        times[pid] = sum(int(v) for v in fields[11:15])
    total = 0
    for pid, ticks in times.items():
        p = pid
        while p not in (0, 1) and p != root_pid:
            p = parents.get(p, 0)
        if p == root_pid:
            total += ticks
    return total / TICKS


def run_clients(client, port, mode):
    procs = [subprocess.Popen([client, str(port), 'reader', 'bench', *mode], stdout=subprocess.PIPE)
             for _ in range(CLIENTS)]
    results = []
    for p in procs:
        out, _ = p.communicate()
        if p.returncode != 0:
            raise RuntimeError('a client failed against port %d' % port)
        results.append(int(out))
    return sum(results)


def measure(client, server):
    """(MB/s, server CPU-s, CPU-s per MB, sessions/s) of one server."""
    cpu_before, start = cpu_seconds(server['pid']), time.monotonic()
    total = run_clients(client, server['port'], ['retrieve'])
    elapsed, cpu = time.monotonic() - start, cpu_seconds(server['pid']) - cpu_before
    sessions = run_clients(client, server['port'], ['sessions', str(SESSION_SECONDS)]) / SESSION_SECONDS
    mb = total / 1e6
    return mb / elapsed, cpu, cpu / mb, sessions


def start_dovecot(work, port, messages):
    mail = os.path.join(work, 'mail', 'reader')
    for sub in ('new', 'cur', 'tmp'):
        os.makedirs(os.path.join(mail, sub))
    for name in sorted(os.listdir(messages)):
        with open(os.path.join(messages, name), 'rb') as f:
            text = f.read().replace(b'\r\n', b'\n')
        with open(os.path.join(mail, 'cur', name + ':2,'), 'wb') as f:
            f.write(text)
    with open(os.path.join(work, 'passwd'), 'w') as f:
        f.write('reader:{PLAIN}bench::::::\n')
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
    deadline = time.monotonic() + 10
    while True:
        try:
            socket.create_connection(('127.0.0.1', port)).close()
            return
        except OSError:
            if time.monotonic() > deadline:
                raise RuntimeError('server on port %d did not start' % port)
            time.sleep(0.02)


def start_ours(build, work, port, messages):
    process = subprocess.Popen([os.path.join(build, 'bench', 'bench_pop3_server'), work, str(port), messages],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    if process.stdout.readline().strip() != b'ready':
        raise RuntimeError('the server of %s did not start' % build)
    return process


def main():
    builds = [os.path.abspath(b) for b in sys.argv[1:]] or [os.path.abspath('build/bench')]
    work = tempfile.mkdtemp(prefix='pop3-bench-')
    os.chmod(work, 0o755)  # Dovecot's unprivileged processes walk into it
    processes = []
    try:
        messages = os.path.join(work, 'messages')
        make_messages(messages)
        client = build_client(work)
        ports = test_ports.take(len(builds) + 1)
        servers = []
        for i, build in enumerate(builds):
            name = 'Quorvex' if len(builds) == 1 else 'Quorvex:%s' % os.path.relpath(build)
            process = start_ours(build, os.path.join(work, 'home%d' % i), ports[i], messages)
            processes.append(process)
            servers.append({'name': name, 'port': ports[i], 'pid': process.pid, 'runs': []})
        dovecot = start_dovecot(os.path.join(work, 'dovecot'), ports[-1], messages)
        processes.append(dovecot)
        servers.append({'name': 'Dovecot', 'port': ports[-1], 'pid': dovecot.pid, 'runs': []})
        wait_for(ports[-1])
        for server in servers:  # let each build its caches and indexes once
            run_clients(client, server['port'], ['retrieve'])
        width = max(len(s['name']) for s in servers)
        line = '%-*s %8.1f MB/s  server %6.2f CPU-s  %7.2f CPU-ms/MB  %7.0f sessions/s'
        for round_number in range(ROUNDS):
            order = servers if round_number % 2 == 0 else servers[::-1]
            for server in order:
                run = measure(client, server)
                server['runs'].append(run)
                print(line % (width, server['name'], run[0], run[1], run[2] * 1000, run[3]), flush=True)
        print('median of %d rounds:' % ROUNDS)
        for server in servers:
            figures = [statistics.median(column) for column in zip(*server['runs'])]
            print(line % (width, server['name'], figures[0], figures[1], figures[2] * 1000, figures[3]))
        # Paired by round: the first server's CPU per MB and MB/s against each other's.
        first = servers[0]
        for other in servers[1:]:
            cpu = [a[2] / b[2] for a, b in zip(first['runs'], other['runs'])]
            speed = [a[0] / b[0] for a, b in zip(first['runs'], other['runs'])]
            print('%s against %s: %.2fx the CPU per MB (less in %d of %d rounds), %.2fx the MB/s (medians)' %
                  (first['name'], other['name'], statistics.median(cpu), sum(r < 1 for r in cpu), ROUNDS,
                   statistics.median(speed)))
    finally:
        for process in processes:
            if process.stdin:
                process.stdin.close()
            else:
                process.terminate()
            process.wait()
        if os.environ.get('KEEP'):
            print('kept', work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
