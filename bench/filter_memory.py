#!/usr/bin/python3
"""Peak memory of the server while large messages pass the database filter.

Runs BUILD_DIR/app/QuorvexServer on a fresh demo program folder with the
database filter on (a fresh database sends every message to the inbox),
sends six 100 MB messages at once through SMTP (Python's smtplib, one
session each, on loopback), checks that all six reached the inbox and
prints the server's peak resident memory (VmHWM) and the time taken.

    bench/filter_memory.py BUILD_DIR [EXECUTE_SP_FIRST]

EXECUTE_SP_FIRST is 1 by default (the filter reads at most the first
4 MiB of a message) or 0 (it reads the whole message).
Environment: FILTER_BENCH_MESSAGES (6), FILTER_BENCH_MB (100).
"""
import os, poplib, re, shutil, smtplib, subprocess, sys, tempfile, threading, time

HERE = os.path.dirname(os.path.abspath(__file__))
MESSAGES = int(os.environ.get('FILTER_BENCH_MESSAGES', 6))
MEGABYTES = int(os.environ.get('FILTER_BENCH_MB', 100))


def message(number):
    head = ('From: x@remote.test\r\nTo: demo@example.test\r\nSubject: big %d\r\n'
            'Date: Mon, 1 Jan 2024 00:00:00 +0000\r\n\r\n' % number).encode()
    line = b'see http://host%d.example.org/page and more text to fill the line ' % number + b'y' * 40 + b'\r\n'
    return head + line * (MEGABYTES * 1000 * 1000 // len(line))


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else 'build/release')
    first = sys.argv[2] if len(sys.argv) > 2 else '1'
    os.environ['QUORVEX_BUILD_DIR'] = build
    os.environ['QUORVEX_SOURCE_DIR'] = os.path.join(HERE, '..')
    sys.path.insert(0, os.path.join(HERE, '..', 'tests', 'e2e', 'support'))
    import quorvex_program  # noqa: E402  (the tests' program folder and port allocator)

    root = tempfile.mkdtemp(prefix='filter-bench-')
    try:
        home = quorvex_program.ProgramFolder(root)
        home.set('System', 'ExecuteSP', '1')
        home.set('System', 'ExecuteSPFirst', first)
        quorvex_program.set_ini(os.path.join(home.path, 'mail', 'demo', 'maillist.ini'), 'System', 'Volume',
                                str(2 * MESSAGES * MEGABYTES))
        with home.start('-service') as program:
            program.wait_serving()
            errors = []

            def send(number):
                try:
                    with smtplib.SMTP('127.0.0.1', home.smtp, timeout=600) as client:
                        client.sendmail('x@remote.test', ['demo@example.test'], message(number))
                except (OSError, smtplib.SMTPException) as error:
                    errors.append(error)

            start = time.monotonic()
            senders = [threading.Thread(target=send, args=(n,)) for n in range(MESSAGES)]
            for sender in senders:
                sender.start()
            for sender in senders:
                sender.join()
            elapsed = time.monotonic() - start
            with open('/proc/%d/status' % program.process.pid) as f:
                peak_kb = int(re.search(r'VmHWM:\s+(\d+)', f.read()).group(1))
            reader = poplib.POP3('127.0.0.1', home.pop3)
            reader.user('demo')
            reader.pass_('demo')
            count = reader.stat()[0]
            reader.quit()
            program.stop()
        print('%s ExecuteSPFirst=%s: %d x %d MB in %.1f s, %d in the inbox, %d failed; peak memory %.0f MB' %
              (os.path.relpath(build), first, MESSAGES, MEGABYTES, elapsed, count, len(errors), peak_kb / 1024))
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == '__main__':
    main()
