"""The real QuorvexServer program: start-up, serving, a second instance,
"-update" and shutdown, driven with Python's smtplib and poplib."""
import email
import email.policy
import fcntl
import os
import poplib
import pwd
import shutil
import signal
import smtplib
import socket
import subprocess
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
from fresh_install import read_ini  # noqa: E402
from quorvex_program import PROGRAM, ProgramFolder, run_with_port_taken, started, wait_until  # noqa: E402

MESSAGE = b"From: sender@remote.test\r\nTo: demo@example.test\r\nSubject: first\r\n\r\nHello from the test.\r\n"


def leftovers(root):
    """Temporary files anywhere below the folder."""
    found = []
    for folder, _, files in os.walk(root):
        for name in files:
            if name.startswith("temp_") or name.endswith(".tmp") or ".tmp." in name or name.startswith(".tmp"):
                found.append(os.path.join(folder, name))
    return found


def test_serves_mail_on_its_ports_and_stops_on_sigterm(tmp_path):
    home = ProgramFolder(tmp_path)
    # A message a killed run was receiving (never acknowledged): it goes.
    os.makedirs(os.path.join(home.path, "smtp"), exist_ok=True)
    with open(os.path.join(home.path, "smtp", "temp_smtp_7.dat"), "wb") as left:
        left.write(b"Subject: half\r\n")
    with home.start() as program:
        program.wait_serving()
        assert "Removed 1 temporary message files left by the previous run" in home.system_log()
        # No web directory is published here: the start line names no address.
        assert "] QuorvexServer started successfully." in home.system_log()
        assert "http://" not in home.system_log()

        with smtplib.SMTP("127.0.0.1", home.smtp, timeout=10) as client:
            assert client.ehlo("e2e.client")[0] == 250
            assert client.sendmail("sender@remote.test", ["demo@example.test"], MESSAGE) == {}

        pop = poplib.POP3("127.0.0.1", home.pop3, timeout=10)
        pop.user("demo")
        pop.pass_("demo")
        count, _ = pop.stat()
        assert count == 1
        assert b"Hello from the test." in b"\r\n".join(pop.retr(1)[1])
        pop.quit()

        # The account server's port takes connections too.
        with socket.create_connection(("127.0.0.1", home.admin), timeout=5):
            pass

        code, seconds, _, err = program.stop()
    assert code == 0
    assert seconds < 8
    assert "QuorvexServer stopped." in home.system_log()
    # The terminal shows the start and stop lines too, with the ports.
    lines = [line for line in err.decode().splitlines() if started(line)]
    assert lines == ["QuorvexServer: QuorvexServer started successfully. Listening on all IPv4 "
                     "addresses: SMTP 0.0.0.0:%d, POP3 0.0.0.0:%d, account server 0.0.0.0:%d."
                     % (home.smtp, home.pop3, home.admin)]
    assert err.decode().splitlines()[-1] == "QuorvexServer: QuorvexServer stopped."
    assert leftovers(home.path) == []
    # The ports are free again.
    for port in (home.smtp, home.pop3, home.admin):
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("0.0.0.0", port))
        s.close()


def inbox(home):
    """The messages of "demo", as POP3 RETR gives them."""
    pop = poplib.POP3("127.0.0.1", home.pop3, timeout=10)
    try:
        pop.user("demo")
        pop.pass_("demo")
        return [b"\r\n".join(pop.retr(n)[1]) for n in range(1, pop.stat()[0] + 1)]
    finally:
        pop.quit()


def test_an_auto_reply_reads_as_it_was_typed(tmp_path):
    """The texts of the Email Auto Reply page are stored as UTF-8; the reply
    declares the charset of its bytes and writes no empty header."""
    home = ProgramFolder(tmp_path)
    away = os.path.join(home.path, "mail", "away")
    os.makedirs(away)
    shutil.copy(os.path.join(home.path, "mail", "demo", "maillist.ini"), away)  # password "demo"
    subject, body = "Abwesend bis Montag, Gr\u00fc\u00dfe", "Ich bin nicht da.\r\n\u6211\u4e0d\u5728\u3002"
    with open(os.path.join(away, "EmailAutoReply.ini"), "wb") as f:
        f.write(("[EmailAutoReply]\r\nEnable=1\r\nSubject=%s\r\nBody=%s\r\n"
                 % (subject, body.replace("\r\n", "\\r\\n"))).encode("utf-8"))
    with home.start() as program:
        program.wait_serving()
        with smtplib.SMTP("127.0.0.1", home.smtp, timeout=10) as client:
            client.login("demo", "demo")
            assert client.sendmail("demo@example.test", ["away@example.test"], MESSAGE) == {}
        reply = email.message_from_bytes(wait_until(lambda: inbox(home), what="the auto-reply")[0],
                                         policy=email.policy.default)
        assert program.stop()[0] == 0
    assert reply["Subject"] == subject
    assert reply.get_content().replace("\r\n", "\n") == body.replace("\r\n", "\n")
    assert "Reply-To" not in reply


def test_stops_on_sigint_with_a_session_open(tmp_path):
    home = ProgramFolder(tmp_path)
    with home.start() as program:
        program.wait_serving()
        idle = poplib.POP3("127.0.0.1", home.pop3, timeout=10)  # stays open through the stop
        program.process.send_signal(signal.SIGINT)
        code, seconds, _, _ = program.stop()
        idle.sock.close()
    assert code == 0
    assert seconds < 8


def test_a_second_instance_is_refused(tmp_path):
    home = ProgramFolder(tmp_path)
    with home.start() as program:
        program.wait_serving()
        second = home.run()
        assert second.returncode != 0
        assert b"Another instance of QuorvexServer is running." in second.stderr
        # The first one still serves.
        with smtplib.SMTP("127.0.0.1", home.smtp, timeout=10) as client:
            assert client.ehlo("e2e.client")[0] == 250
        assert program.stop()[0] == 0


def greeting(port):
    client = smtplib.SMTP(timeout=10)
    code, text = client.connect("127.0.0.1", port)
    client.quit()
    return code, text


def test_update_makes_the_running_instance_reload_its_settings(tmp_path):
    home = ProgramFolder(tmp_path)
    home.set("System", "HideWelcomeMessage", "1")
    home.set("System", "WelcomeMessage", "first greeting")
    with home.start() as program:
        program.wait_serving()
        assert greeting(home.smtp) == (220, b"first greeting")

        home.set("System", "WelcomeMessage", "second greeting")
        update = home.run("-UPDATE")
        assert update.returncode == 0, update.stderr
        assert greeting(home.smtp) == (220, b"second greeting")
        done = "Settings reloaded from %s." % home.config
        assert update.stdout.decode() == "QuorvexServer: %s\n" % done
        assert done in home.system_log()

        # A new port: taken, and said to come at the next start.
        old_pop3, new_pop3 = home.pop3, max(home.smtp, home.pop3, home.admin) + 1
        home.set("Port", "POP3", new_pop3)
        update = home.run("-update")
        assert update.returncode == 0, update.stderr
        done = "Settings reloaded from %s. The new ports take effect at the next start: POP3 %d (in use: %d)." % (
            home.config, new_pop3, old_pop3)
        assert update.stdout.decode() == "QuorvexServer: %s\n" % done
        assert done in home.system_log()
        home.set("Port", "POP3", old_pop3)

        # A value its key cannot take: refused, the files left as they were.
        def files():
            paths = [home.config, os.path.join(home.path, "QuorvexCOM.ini"),
                     os.path.join(home.path, "WebMail", "Language.txt")]
            return [open(path, "rb").read() if os.path.exists(path) else None for path in paths]
        for key, value, sound, said in [
                ("MaxMailSize", "10MB", "-1", 'the value "10MB", which is not -1 (no limit)'),
                ("SocketIdleTimeout", "2147483647", "10",
                 'the value "2147483647", which is not a whole number from 1 to 525600.'),
                ("Language", "German", "English",
                 'the value "German", which is not a language with a file in %s/Language' % home.path)]:
            home.set("System", key, value)
            edited = files()
            update = home.run("-update")
            assert update.returncode != 0
            assert ("gives [System] %s " % key + said).encode() in update.stderr
            assert b"keeps the settings in use." in update.stderr
            # The instance's system log has the reason too, in one line.
            assert [line for line in home.system_log().splitlines() if "gives [System] %s " % key + said in line
                    and line.endswith("Nothing was reloaded: a running instance keeps the settings in use.")]
            assert files() == edited
            home.set("System", key, sound)
        assert program.stop()[0] == 0


def test_update_by_root_keeps_the_files_of_a_service_user_and_says_whether_it_took():
    if os.geteuid() != 0:
        pytest.skip("runs the server as another user")
    user = pwd.getpwnam("nobody")
    root = tempfile.mkdtemp(prefix="quorvex-owner-")
    try:
        os.chmod(root, 0o711)
        home = ProgramFolder(root)
        subprocess.run(["chmod", "-R", "a+rX", home.odbc], check=True)
        subprocess.run(["chown", "-R", "%d:%d" % (user.pw_uid, user.pw_gid), home.path], check=True)
        home.set("System", "HideWelcomeMessage", "1")
        with home.start(user=user.pw_uid, group=user.pw_gid) as program:
            program.wait_serving()
            names = ["config.ini", "EmailFilter.ini", "QuorvexCOM.ini"]

            def owners():
                return {name: (st.st_uid, st.st_gid, st.st_mode)
                        for name in names for st in [os.stat(os.path.join(home.path, name))]}
            before = owners()
            assert all(uid == user.pw_uid for uid, _, _ in before.values()), before
            home.set("System", "WelcomeMessage", "from root")
            update = home.run("-update")
            assert update.returncode == 0, update.stderr
            assert owners() == before
            assert greeting(home.smtp) == (220, b"from root")

            # A file the service cannot read: the update says so and fails.
            os.chown(os.path.join(home.path, "EmailFilter.ini"), 0, 0)
            home.set("System", "WelcomeMessage", "never read")
            update = home.run("-update")
            assert update.returncode != 0
            assert b"did not reload its settings: The settings file %s/EmailFilter.ini cannot be read (Permission " \
                b"denied for user nobody); the settings in use are kept." % home.path.encode() in update.stderr
            assert greeting(home.smtp) == (220, b"from root")
            assert program.stop()[0] == 0
    finally:
        shutil.rmtree(root)


def test_web_mail_follows_a_new_language_on_update_and_at_the_next_start(tmp_path):
    home = ProgramFolder(tmp_path)
    com = os.path.join(home.path, "QuorvexCOM.ini")
    os.mkdir(os.path.join(home.path, "Language"))
    for name in ("German", "ChineseGB"):
        open(os.path.join(home.path, "Language", name + ".ini"), "w").close()
    with home.start() as program:
        program.wait_serving()
        home.set("System", "Language", "German")
        assert home.run("-update").returncode == 0
        assert read_ini(com)[("system", "language")] == "German"
        assert program.stop()[0] == 0
    home.set("System", "Language", "ChineseGB")
    with home.start() as program:
        program.wait_serving()
        assert read_ini(com)[("system", "language")] == "ChineseGB"
        assert program.stop()[0] == 0


def test_update_names_another_users_listener_and_sends_it_nothing(tmp_path):
    if os.geteuid() != 0:
        pytest.skip("a listener of another user needs root")
    home = ProgramFolder(tmp_path)
    lock = open(os.path.join(home.path, "QuorvexServer.lock"), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)  # an instance seems to run
    path = os.path.join(home.path, "QuorvexServer.sock")
    listener = subprocess.Popen([sys.executable, "-c", "import os, socket, sys; s = socket.socket(socket.AF_UNIX); "
                                 "s.bind(sys.argv[1]); os.setgid(65534); os.setuid(65534); s.listen(); print(flush=True); "
                                 "s.accept()[0].recv(64)", path], stdout=subprocess.PIPE)
    try:
        listener.stdout.readline()
        update = home.run("-update")
        assert update.returncode != 0
        assert update.stderr.decode().endswith(
            "The settings were not reloaded: what listens at %s is a process of the user nobody (uid 65534), not of "
            "this user, root or the program folder's owner; nothing was sent to it.\n" % path)
    finally:
        listener.kill()
        lock.close()


def test_update_without_a_running_instance_says_so_and_fails(tmp_path):
    home = ProgramFolder(tmp_path)
    result = home.run("-update")
    assert result.returncode != 0
    assert b"No instance of QuorvexServer runs in" in result.stderr
    assert not os.path.exists(os.path.join(home.path, "log", "syslog"))
    assert not started(home.system_log())


def test_a_missing_schema_names_every_folder_looked_in(tmp_path):
    home = ProgramFolder(tmp_path)
    # A copy of the program with no installed data folder near it.
    program = os.path.join(str(tmp_path), "lone", "bin", "QuorvexServer")
    os.makedirs(os.path.dirname(program))
    shutil.copy(PROGRAM, program)
    result = subprocess.run([program, "-service"], env=home.environment(), capture_output=True, timeout=60)
    assert result.returncode != 0
    assert ("cannot read the database schema schema.sql (not found in %s or %s/lone/share/quorvex or "
            "%s/share/quorvex). Not started." % (home.path, tmp_path, tmp_path)).encode() in result.stderr


def test_a_taken_port_is_reported_and_ends_the_program(tmp_path):
    home = ProgramFolder(tmp_path)
    result, port = run_with_port_taken(home, "pop3")
    assert result.returncode != 0
    assert b"Fail to start POP3 service." in result.stderr
    assert ("port %d" % port).encode() in result.stderr
    assert "Fail to start POP3 service." in home.system_log()


@pytest.mark.parametrize("case", ["missing", "unreadable", "bad port", "unwritable folder"])
def test_a_bad_program_folder_is_refused_without_writing(tmp_path, case):
    home = ProgramFolder(tmp_path)
    if case == "missing":
        os.remove(home.config)
    elif case == "unreadable":
        os.remove(home.config)
        os.mkdir(home.config)  # opens, but reads fail, for root too
    elif case == "bad port":  # in a folder that never said AutoRun, whose default is not written either
        home.set("Port", "SMTP", "twenty-five")
        with open(home.config, "rb") as f:
            config = f.read().replace(b"AutoRun=0\r\n", b"")
        with open(home.config, "wb") as f:
            f.write(config)
    if case == "unwritable folder" and os.geteuid() == 0:
        pytest.skip("root writes every folder")
    before = {}
    for name in os.listdir(home.path):
        full = os.path.join(home.path, name)
        if os.path.isfile(full) and os.access(full, os.R_OK):
            with open(full, "rb") as f:
                before[name] = f.read()
    names_before = sorted(os.listdir(home.path))
    if case == "unwritable folder":
        os.chmod(home.path, 0o500)
    try:
        result = home.run(timeout=30)
    finally:
        os.chmod(home.path, 0o700)
    assert result.returncode != 0
    expected = {"missing": b"does not exist", "unreadable": b"cannot be read",
                "bad port": b"[Port] SMTP", "unwritable folder": b"cannot be written"}[case]
    assert expected in result.stderr
    assert (home.config.encode() in result.stderr) or (home.path.encode() in result.stderr)
    assert sorted(os.listdir(home.path)) == names_before
    for name, data in before.items():
        with open(os.path.join(home.path, name), "rb") as f:
            assert f.read() == data, name


def test_an_internal_fault_at_start_up_is_logged_and_ends_the_program(tmp_path):
    home = ProgramFolder(tmp_path)
    home.set("system", "TestTryCatch", "1")
    result = home.run(timeout=30)
    assert result.returncode != 0
    assert b"FATAL ERROR!!!" in result.stderr
    with open(os.path.join(home.path, "log", "quorvexlog.txt"), "rb") as f:
        assert b"TestTryCatch" in f.read()
    assert not started(home.system_log())


def test_a_start_without_its_mail_database_ends_with_the_reason(tmp_path):
    home = ProgramFolder(tmp_path)
    os.makedirs(os.path.join(home.path, "db"))
    with open(os.path.join(home.path, "db", "db.sqlite"), "wb") as f:
        f.write(b"this is no database" * 100)
    result = home.run(timeout=30)
    assert result.returncode != 0
    assert b"The mail database (ODBC data source QuorvexServer) could not be opened or created: " in result.stderr
    assert b"Not started." in result.stderr
    assert not started(home.system_log())


def test_mail_stays_when_the_mailbox_index_is_set_aside(tmp_path):
    home = ProgramFolder(tmp_path)
    index = os.path.join(home.path, "mail", "demo", "mailinfo.dat")
    messages = [MESSAGE.replace(b"first", b"message %d" % n) for n in range(4)]
    for sent in (messages[:3], messages[3:]):
        with home.start() as program:
            program.wait_serving()
            with smtplib.SMTP("127.0.0.1", home.smtp, timeout=10) as client:
                for text in sent:
                    assert client.sendmail("sender@remote.test", ["demo@example.test"], text) == {}
            received = inbox(home)
            assert program.stop()[0] == 0
        os.rename(index, index + ".aside")
    assert [text[text.index(b"From: "):] for text in received] == [text.rstrip(b"\r\n") for text in messages]
    with open(os.path.join(home.path, "log", "quorvexlog.txt"), "rb") as f:
        log = f.read()
    assert b"demo, message files found listed in a new one: 3\r\n" in log and b"leftover" not in log
