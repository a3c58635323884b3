"""What a new user does first, checked against the real program: the README's
sign-up and administrator examples run exactly as written (then the account
logs in over POP3), the demo's postmaster, a start with the commented example config,
and the files of a first start and a sign-up under umask 022."""
import grp
import os
import poplib
import re
import smtplib
import stat
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import account_client as ac  # noqa: E402
from quorvex_program import SOURCE, ProgramFolder  # noqa: E402
from readme_examples import readme_blocks, run_on_demo_ports  # noqa: E402

EXAMPLE_CONFIG = os.path.join(SOURCE, "data", "config.example.ini")


def pop3_messages(account, password):
    """A POP3 login on the demo's port, printing the number of messages."""
    return ('import poplib\nclient = poplib.POP3("127.0.0.1", 1100, timeout=10)\nclient.user(%r)\n'
            'client.pass_(%r)\nprint("POP3 messages:", client.stat()[0])\nclient.quit()' % (account, password))


SIGNUP = "Creating an account on a headless server"


def test_the_readme_signup_example_runs_as_written(tmp_path):
    lines = run_on_demo_ports(ProgramFolder(tmp_path), readme_blocks(SIGNUP, "python")[0],
                              pop3_messages("alice", "secret"))
    assert len(lines) == 11 and all(line.endswith(" -> +OK") for line in lines[:10]), lines
    assert lines[0] == "SIGNUP#alice -> +OK" and re.fullmatch(r"POP3 messages: \d+", lines[-1])


def test_the_readme_administrator_example_runs_as_written(tmp_path):
    home = ProgramFolder(tmp_path)
    home.set("System", "setup", 0)  # set-up makes "Admin" and writes its password to Admin.password
    signup = readme_blocks(SIGNUP, "python")[0]
    [example] = readme_blocks("Changing and deleting accounts on a headless server", "python")
    # Only alice is made first: the example makes bob itself.
    lines = run_on_demo_ports(home, signup, example, pop3_messages("alice", "n3w-Secret"))
    assert lines[10:] == ["ACCOUNT -> +OK", "RETR alice -> +OK 20971520 octets", "CONF alice -> +OK",
                          ". -> +OK", "CREA bob -> +OK", "DELE bob -> +OK", "QUIT -> +OK bye",
                          "POP3 messages: 1"], lines
    with open(os.path.join(home.path, "mail", "alice", "maillist.ini")) as f:
        assert "Volume=50" in f.read()
    assert not os.path.exists(os.path.join(home.path, "mail", "bob"))


def test_postmaster_of_the_demo_reaches_demo(tmp_path):
    home = ProgramFolder(tmp_path)
    with home.start() as program:
        program.wait_serving()
        with smtplib.SMTP("127.0.0.1", home.smtp, timeout=10) as client:
            client.sendmail("someone@remote.test", ["postmaster@example.test"],
                            b"Subject: for the postmaster\r\n\r\nHello.\r\n")
        client = poplib.POP3("127.0.0.1", home.pop3, timeout=10)
        client.user("demo")
        client.pass_("demo")
        assert b"Subject: for the postmaster" in b"\r\n".join(client.retr(client.stat()[0])[1])
        client.quit()
        # The group itself has no password: nobody logs in as postmaster.
        with pytest.raises(poplib.error_proto):
            refused = poplib.POP3("127.0.0.1", home.pop3, timeout=10)
            refused.user("postmaster")
            refused.pass_("")
        assert program.stop()[0] == 0


def test_the_demo_banner_shows_the_folders_ports_and_its_commands_work(tmp_path):
    home = ProgramFolder(tmp_path)  # the demo template, its ports moved
    banner = subprocess.run(["bash", os.path.join(SOURCE, "scripts", "demo-banner.sh"), home.path],
                            capture_output=True, text=True, check=True).stdout
    assert "SMTP port %d, POP3 port %d, account server port %d," % (home.smtp, home.pop3, home.admin) in banner
    assert "local delivery only" in banner
    commands = banner.split("send a first message and read it:\n", 1)[1].split("\n\n", 1)[0]
    with home.start("-service") as program:
        program.wait_serving()
        run = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", commands], capture_output=True, text=True,
                             timeout=60)
        assert run.returncode == 0 and "My first message through Quorvex." in run.stdout, run.stderr
        assert run.stderr == ""  # no progress meter among the message's lines
        # The published login sends nowhere but here.
        client = smtplib.SMTP("127.0.0.1", home.smtp, timeout=10)
        client.login("demo", "demo")
        client.mail("demo@example.test")
        assert client.rcpt("someone@elsewhere.test") == (550, b"it is a LAN mail server and cannot forward mail.")
        client.close()
        assert program.stop()[0] == 0


def private_paths(home, before):
    """(path, mode, group) of everything below the folder made since `before`."""
    made = []
    for folder, folders, files in os.walk(home.path):
        for name in folders + files:
            path = os.path.join(folder, name)
            if path not in before:
                st = os.lstat(path)
                made.append((os.path.relpath(path, home.path), stat.S_IMODE(st.st_mode), st.st_gid))
    return made


def test_a_first_start_with_the_example_config_and_umask_022_writes_private_files(tmp_path):
    # The commented example config as a new installation uses it: set-up
    # runs at this first start.
    home = ProgramFolder(tmp_path)
    with open(EXAMPLE_CONFIG, "rb") as f:
        example = f.read()
    with open(home.config, "wb") as f:
        f.write(example)
    os.chmod(home.config, 0o644)  # as a copy with umask 022 leaves it
    home.pick_ports()
    before = {os.path.join(folder, name) for folder, folders, files in os.walk(home.path) for name in folders + files}
    old = os.umask(0o022)
    try:
        program = home.start()
    finally:
        os.umask(old)
    with program:
        program.wait_serving()
        with smtplib.SMTP("127.0.0.1", home.smtp, timeout=10) as client:
            assert client.ehlo("first.client")[0] == 250
        assert ac.signup(home.admin, "carol", password="pw")[-1] == "+OK"
        assert ac.pop3_count(home.pop3, "carol", "pw") >= 1
        _, _, _, err = program.stop()
    # The settings hold the example's domain.
    with open(home.config, "rb") as f:
        assert b"Dominame=example.test" in f.read()
    # One warning names the config.ini that others can read.
    warnings = [line for line in err.decode().splitlines() if "Warning: other users can read" in line]
    assert len(warnings) == 1 and home.config in warnings[0]

    # The web server's few files and folders are its group's (never
    # everybody's); everything else the program wrote is its owner's alone.
    web_shared = {"QuorvexCOM.ini", "comlog.txt", "maildata", "websmtp", "WebMail", os.path.join("WebMail",
                                                                                                "Language.txt")}
    made = private_paths(home, before)
    assert any(path.startswith(os.path.join("mail", "carol")) for path, _, _ in made)
    for path, mode, _ in made:
        assert mode & 0o007 == 0, (path, oct(mode))
        if path not in web_shared:
            assert mode & 0o077 == 0, (path, oct(mode))
    com = [(mode, gid) for path, mode, gid in made if path == "QuorvexCOM.ini"]
    assert com and com[0][0] & 0o040  # the web server's group reads it


def test_no_warning_when_the_files_are_private(tmp_path):
    home = ProgramFolder(tmp_path)
    for folder, _, files in os.walk(home.path):
        for name in files:
            os.chmod(os.path.join(folder, name), 0o600)
    with home.start() as program:
        program.wait_serving()
        _, _, _, err = program.stop()
    assert b"other users can read" not in err
    assert "other users can read" not in home.system_log()
    # The web-mail component's configuration, made at this start (the demo
    # is set up already), is readable by the web server's group.
    st = os.stat(os.path.join(home.path, "QuorvexCOM.ini"))
    assert stat.S_IMODE(st.st_mode) == 0o640
    assert grp.getgrgid(st.st_gid).gr_name == "www-data"
