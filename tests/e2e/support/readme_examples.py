"""The README's examples, exactly as written: the code blocks of a section,
and a run of the real program on the demo's own ports (2525, 1100, 8011,
those the examples name) in a network namespace of its own, where those
ports are free whatever else runs on this machine."""
import os
import re
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from quorvex_program import PROGRAM, SOURCE  # noqa: E402

README = os.path.join(SOURCE, "README.md")


def readme_blocks(section, language):
    """The code blocks in `language` of the README's section titled `section`."""
    with open(README) as f:
        text = f.read().split("\n### " + section + "\n", 1)[1].split("\n## ", 1)[0].split("\n### ", 1)[0]
    return re.findall(r"```%s\n(.*?)```" % language, text, re.S)


# Starts the program, then runs each Python text given in turn in the
# program folder, printing what it printed.
IN_NAMESPACE = r'''
import os, socket, subprocess, sys, time
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
program = subprocess.Popen([sys.argv[1], "-service"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
deadline = time.monotonic() + 60
while True:
    try:
        socket.create_connection(("127.0.0.1", 8011), timeout=1).close()
        break
    except OSError:
        if time.monotonic() > deadline or program.poll() is not None:
            sys.exit("the demo program did not start")
        time.sleep(0.02)
try:
    for code in sys.argv[2:]:
        run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60,
                             cwd=os.environ["QUORVEX_HOME"])
        print(run.stdout + run.stderr, end="")
finally:
    program.terminate()
    program.wait(30)
'''


def run_on_demo_ports(home, *codes):
    """The output lines of the Python `codes`, run one after the other
    against the program of the folder `home` on the demo's ports."""
    for key, port in (("SMTP", 2525), ("POP3", 1100), ("Admin", 8011)):
        home.set("Port", key, port)
    try:
        run = subprocess.run(["unshare", "--net", sys.executable, "-c", IN_NAMESPACE, PROGRAM, *codes],
                             env=home.environment(), capture_output=True, text=True, timeout=300)
    except FileNotFoundError:
        pytest.skip("unshare is not installed")
    if "unshare failed" in run.stderr:
        pytest.skip("network namespaces are not available here (%s)" % run.stderr.strip())
    assert run.returncode == 0, run.stderr
    return run.stdout.splitlines()
