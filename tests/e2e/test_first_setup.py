"""First-run set-up of the real QuorvexServer program on a folder that was
never set up: files, keys and modes, the administrator account and its
password file, the ODBC data source, the welcome message (Python email, in
three time zones), the web directories in a private Apache; then a start
after an upgrade, "-uninstall", and the failures set-up reports."""
import email
import email.policy
import email.utils
import os
import poplib
import re
import shutil
import smtplib
import sqlite3
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import account_client as ac  # noqa: E402
from apache_instance import DEFAULT_MODULES, ApacheInstance, web_folder  # noqa: E402
from fresh_install import FreshInstall, read_ini  # noqa: E402
from quorvex_program import PROGRAM, ProgramFolder, accepts, wait_until  # noqa: E402

WEB_GROUP = "www-data"
LANGUAGE_LINE = b'<!-- #include file="language\\English.txt" -->'
DESKTOP_ENTRY = ("Desktop", "QuorvexServer.desktop")
# A display the window can open on (Qt's offscreen platform).
DISPLAY_ENV = {"DISPLAY": ":424242", "QT_QPA_PLATFORM": "offscreen", "XDG_RUNTIME_DIR": "/tmp"}
AUTOSTART_ENTRY = (".config", "autostart", "QuorvexServer.desktop")


def installed(home, *arguments, env=None):
    """Starts the program, waits until it serves, stops it; returns its
    standard error."""
    with home.start(*arguments, extra_env=env) as program:
        program.wait_serving()
        code, _, _, err = program.stop()
    assert code == 0, err
    return err.decode("latin-1")


def welcome_offset(home):
    raw = home.read("Welcome.inbox")
    message = email.message_from_bytes(raw, policy=email.policy.default)
    return email.utils.parsedate_tz(message["Date"])[9]


def user_file(home, parts):
    return os.path.join(home.user_home, *parts)


def pop3_messages(home, user, password):
    client = poplib.POP3("127.0.0.1", home.pop3, timeout=20)
    try:
        client.user(user)
        client.pass_(password)
        count, _ = client.stat()
        return [b"\r\n".join(client.retr(i + 1)[1]) for i in range(count)]
    finally:
        client.quit()


def test_a_fresh_folder_becomes_a_working_installation():
    with web_folder() as base, ApacheInstance(base) as apache:
        apache.start()
        home = FreshInstall(base, apache)
        with home.start(extra_env={"TZ": "<-0330>3:30"}) as program:
            program.wait_serving()
            # The web mail is published: the start line names its address.
            assert "/mail start successfully." in home.system_log()

            # Folders and files, their modes and the web server's group.
            owner_only = {"mail": 0o700, "smtp": 0o700, "undelivered": 0o700, "Admin.password": 0o600}
            for name, mode in owner_only.items():
                assert home.mode(name)[0] == mode, name
            shared = {"maildata": 0o2770, "websmtp": 0o2770, "WebMail": 0o2750, "WebMail/Language.txt": 0o640,
                      "QuorvexCOM.ini": 0o640, "comlog.txt": 0o660, ".": 0o710}
            for name, mode in shared.items():
                assert home.mode(name) == (mode, WEB_GROUP), name
            for folder, names, files in os.walk(home.path):
                for name in names + files:
                    assert not os.lstat(os.path.join(folder, name)).st_mode & 0o002, name
            assert home.read("WebMail", "Language.txt") == LANGUAGE_LINE

            com = read_ini(home.file("QuorvexCOM.ini"))
            assert {key: com[("system", key)] for key in ("smtpserveraddr", "pop3serveraddr", "adminserveraddr")} \
                == dict.fromkeys(("smtpserveraddr", "pop3serveraddr", "adminserveraddr"), "127.0.0.1")
            assert com[("system", "webworkpath")] == home.file("websmtp")
            assert com[("system", "pop3workpath")] == home.file("maildata")
            assert com[("system", "dominame")] == "example.test"
            assert com[("system", "language")] == "English"
            assert (com[("port", "pop3")], com[("port", "smtp")], com[("port", "admin")]) == \
                (str(home.pop3), str(home.smtp), str(home.admin))
            config = read_ini(home.config)
            assert (config[("system", "setup")], config[("system", "version")]) == ("1", "5.3")
            assert config[("webmail", "ip")] == "127.0.0.1"
            # Without a display no desktop concern is touched.
            assert config[("system", "autorun")] == "0"
            assert not os.path.exists(user_file(home, DESKTOP_ENTRY))
            assert not os.path.exists(user_file(home, AUTOSTART_ENTRY))
            assert home.fixture_calls() == ["DllRegisterServer"]

            # The administrator: a random password in an owner-only file,
            # named in the log, working over the account server and POP3.
            password = home.read("Admin.password").decode()
            assert re.fullmatch(r"[A-Za-z0-9]{20}\n", password)
            password = password.strip()
            assert "its password is in %s." % home.file("Admin.password") in home.system_log()
            assert ac.login(home.admin, "Admin", password)[0] == "+OK"
            assert ac.login(home.admin, "Admin", "")[0] != "+OK"
            with ac.AdminSession(home.admin, "ACCOUNT", "Admin", password) as session:
                assert session.login_reply == "+OK"
            admin = read_ini(home.file("mail", "Admin", "maillist.ini"))
            assert [admin[("system", k)] for k in ("username", "comment", "volume", "max", "disabled", "permission")] \
                == ["Admin", "Administrator", "20", "1", "0", "2"]
            assert len(pop3_messages(home, "Admin", password)) == 1

            # The welcome message, and a signed-up account receives it.
            raw = home.read("Welcome.inbox")
            assert raw.startswith(b"Received: from WelcomeEmail (localhost [127.0.0.1])\r\n\tby example.test ")
            assert raw.endswith(b"\r\n") and b"\n" not in raw.replace(b"\r\n", b"")
            welcome = email.message_from_bytes(raw, policy=email.policy.default)
            assert (welcome["From"], welcome["To"], welcome["Subject"], welcome["X-Mailer"]) == \
                ("admin@example.test", "newuser@example.test", "Welcome to QuorvexServer", "QuorvexServer")
            assert welcome_offset(home) == -(3 * 3600 + 30 * 60)
            assert ac.signup(home.admin, "newbie:127.0.0.1", password="pw")[-1] == "+OK"
            [received] = pop3_messages(home, "newbie", "pw")
            assert email.message_from_bytes(received)["Subject"] == "Welcome to QuorvexServer"

            # The data source is the folder's own (nothing machine-wide) and
            # reaches the program's database.
            assert os.path.getsize(os.path.join(home.odbc, "odbc.ini")) == 0
            odbc = dict(home.odbc_environment(), ODBCINI=home.file("odbc.ini"))
            listed = subprocess.run(["odbcinst", "-q", "-s"], env=odbc, capture_output=True, text=True)
            assert listed.stdout.split() == ["[QuorvexServer]"]
            assert home.mode("odbc.ini")[0] == 0o600
            query = subprocess.run(["isql", "-b", "-d,", "QuorvexServer"], input="select count(*) from mailfolder;\n",
                                   env=odbc, capture_output=True, text=True, timeout=30)
            assert query.returncode == 0 and query.stdout.strip().isdigit(), query

            # Apache serves what set-up published: pages run in "mail", the
            # work folder's files come back as they are.
            assert sorted(os.listdir(apache.conf_folder)) == ["quorvex-mail.conf", "quorvex-maildata.conf"]
            page = home.file("WebMail", "index.php")
            with open(page, "w") as f:
                f.write('<?php echo "pages of ", basename(__DIR__);')
            os.chmod(page, 0o640)
            os.makedirs(home.file("maildata", "newbie"))
            with open(home.file("maildata", "newbie", "body.html"), "w") as f:
                f.write("<p>hello</p>")
            os.chmod(home.file("maildata", "newbie", "body.html"), 0o640)
            apache.wait_for("/mail/", lambda s, h, b: (s, b) == (200, b"pages of WebMail"))
            status, headers, body = apache.get("/maildata/newbie/body.html")
            assert (status, body, headers["content-security-policy"]) == (200, b"<p>hello</p>", "sandbox")
            code, _, _, err = program.stop()
        assert code == 0
        for text in (err.decode("latin-1"), home.system_log(), home.read("log", "quorvexlog.txt").decode("latin-1")
                     if os.path.exists(home.file("log", "quorvexlog.txt")) else ""):
            assert password not in text


def test_an_upgrade_sets_up_again_and_uninstall_removes_what_set_up_added():
    with web_folder() as base, ApacheInstance(base) as apache:
        apache.start()
        home = FreshInstall(base, apache)
        installed(home)
        kept = {name: home.read(*name) for name in [("Admin.password",), ("mail", "Admin", "maillist.ini")]}
        odbc_ini = open(os.path.join(home.odbc, "odbc.ini"), "rb").read()

        # What a new version's set-up replaces, changed by hand.
        for folder in ("maildata", "websmtp"):
            with open(home.file(folder, "left-over"), "w") as f:
                f.write("x")
        for name in ("Welcome.inbox", "WebMail/Language.txt"):
            with open(home.file(name), "w") as f:
                f.write("old")
        home.set("system", "Version", "5.2")
        home.set("WebMail", "IP", "10.0.0.5")
        installed(home, env={"TZ": "<+08>-8"})
        assert {name: home.read(*name) for name in kept} == kept
        assert os.listdir(home.file("maildata")) == [] and os.listdir(home.file("websmtp")) == []
        assert home.read("Welcome.inbox").startswith(b"Received: from WelcomeEmail")
        assert welcome_offset(home) == 8 * 3600
        assert home.read("WebMail", "Language.txt") == LANGUAGE_LINE
        config = read_ini(home.config)
        assert (config[("system", "version")], config[("webmail", "ip")]) == ("5.3", "127.0.0.1;10.0.0.5")
        assert home.fixture_calls() == ["DllRegisterServer", "DllRegisterServer"]
        assert open(os.path.join(home.odbc, "odbc.ini"), "rb").read() == odbc_ini

        # A start of the same version sets nothing up; the settings' own
        # rewrite of QuorvexCOM.ini keeps it readable for the web server.
        with open(home.file("Welcome.inbox"), "w") as f:
            f.write("edited by the administrator")
        with open(home.file("maildata", "kept"), "w") as f:
            f.write("x")
        inode = os.stat(home.file("QuorvexCOM.ini")).st_ino
        installed(home)
        assert home.read("Welcome.inbox") == b"edited by the administrator"
        assert os.listdir(home.file("maildata")) == ["kept"]
        assert os.stat(home.file("QuorvexCOM.ini")).st_ino != inode
        assert home.mode("QuorvexCOM.ini") == (0o640, WEB_GROUP)

        removal = home.run("-uninstall")
        assert removal.returncode == 0, removal.stderr
        assert os.listdir(apache.conf_folder) == []
        assert home.fixture_calls()[-1] == "DllUnregisterServer"
        config = read_ini(home.config)
        assert (config[("system", "setup")], config[("system", "runasservice")]) == ("0", "0")
        # Mail, accounts, folders and the data source stay.
        assert {name: home.read(*name) for name in kept} == kept
        for name in ("mail", "maildata", "websmtp", "WebMail", "Welcome.inbox", "QuorvexCOM.ini"):
            assert os.path.exists(home.file(name)), name
        assert open(os.path.join(home.odbc, "odbc.ini"), "rb").read() == odbc_ini


def test_a_desktop_set_up_leaves_a_system_data_source_alone():
    with web_folder() as base, ApacheInstance(base) as apache:
        apache.start()
        home = FreshInstall(base, apache)
        chosen = os.path.join(base, "chosen.sqlite")
        own = "[QuorvexServer]\nDriver=SQLite3\nDatabase=%s\n" % chosen
        system = os.path.join(home.odbc, "odbc.ini")
        with open(system, "w") as f:
            f.write(own)
        err = installed(home, env=dict(DISPLAY_ENV, TZ="<-0030>0:30"))

        # The administrator's machine-wide entry is used as it is, the
        # folder gets none, and its database got the tables.
        with open(system) as f:
            assert f.read() == own
        assert not os.path.exists(home.file("odbc.ini")) and not os.path.exists(home.file("db", "db.sqlite"))
        with sqlite3.connect(chosen) as database:
            assert database.execute("select count(*) from mailfolder").fetchone() == (0,)
        assert "Warning: the ODBC" not in err
        # With the window: the desktop and autostart entries, autostart on.
        # Both start QuorvexServer (which opens the window) on this folder,
        # also when the windowed program wrote them.
        with open(user_file(home, DESKTOP_ENTRY)) as f:
            entry = f.read()
        exec_line = "\nExec=env QUORVEX_HOME=%s %s\n" % (home.path, PROGRAM)
        assert exec_line in entry and "\nPath=%s\n" % home.path in entry
        with open(user_file(home, AUTOSTART_ENTRY)) as f:
            assert exec_line in f.read()
        config = read_ini(home.config)
        assert (config[("system", "autorun")], config[("system", "runasservice")]) == ("1", "0")
        assert welcome_offset(home) == -30 * 60

        removal = home.run("-uninstall")
        assert removal.returncode == 0
        assert removal.stdout.decode() == (
            "QuorvexServer: Uninstalled from %s: unregistered the web-mail component %s; removed the autostart entry "
            "%s; removed the desktop entry %s; marked the set-up as not done ([system] setup=0); the web directories "
            "mail and maildata are not published any more. Mail and accounts stay.\n"
            % (home.path, home.file("QuorvexCOM.so"), user_file(home, AUTOSTART_ENTRY), user_file(home, DESKTOP_ENTRY)))
        assert not os.path.exists(user_file(home, DESKTOP_ENTRY))
        assert not os.path.exists(user_file(home, AUTOSTART_ENTRY))


def test_set_up_failures_are_reported_and_the_service_goes_on():
    with web_folder() as base, ApacheInstance(base) as apache:
        apache.start()
        home = FreshInstall(base, apache)
        os.unlink(home.file("Vendrel.so"))
        err = installed(home, "-service", env=dict(DISPLAY_ENV, QUORVEX_COM_FIXTURE_STATUS="-1"))

        assert "browser.\nQuorvexServer: The web directory installer %s is missing.\n" % home.file("Vendrel.so") in err
        for text in ("Fail to set up virtual directory. User can not apply account through browser.",
                     "Fail to register COM component."):
            assert "QuorvexServer: " + text in err
            assert "] " + text in home.system_log()
        assert os.listdir(apache.conf_folder) == []
        assert home.read("WebMail", "Language.txt") == LANGUAGE_LINE
        assert read_ini(home.file("QuorvexCOM.ini"))[("system", "language")] == "English"
        # Run by the service manager: nothing of a desktop user's.
        assert read_ini(home.config)[("system", "autorun")] == "0"
        assert read_ini(home.config)[("system", "setup")] == "1"
        assert not os.path.exists(user_file(home, DESKTOP_ENTRY))
        assert not os.path.exists(user_file(home, AUTOSTART_ENTRY))


def test_an_unprivileged_first_start_says_why_a_step_failed():
    # Neither root nor in the web server's group: the group change and the
    # web server's configuration are refused; the component fails.
    with web_folder() as base, ApacheInstance(base) as apache:
        home = FreshInstall(base, apache)
        subprocess.run(["chown", "-R", "nobody", home.path], check=True)
        program = subprocess.Popen(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", PROGRAM],
                                   env=dict(home.environment(), QUORVEX_COM_FIXTURE_STATUS="-1"),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            wait_until(lambda: program.poll() is not None or accepts(home.admin), 30, "the listeners")
        finally:
            program.terminate()
            err = program.communicate(timeout=30)[1].decode()
        assert ("Fail to register COM component.\nQuorvexServer: DllRegisterServer of %s failed with status "
                "0xFFFFFFFF.\n" % home.file("QuorvexCOM.so")) in err, err
        assert ('browser.\nQuorvexServer: Giving %s to the group "www-data" was refused: Operation not permitted (a '
                "process that is not root may only give its files to a group it is a member of). The web server's "
                "configuration could not be changed (CreateVirtualRoot: writing %s/quorvex-mail.conf): Permission "
                "denied.\n" % (home.file("maildata"), apache.conf_folder)) in err, err


@pytest.mark.parametrize("missing,module,directive,enable,published", [
    ("headers", "mod_headers", "Header", "a2enmod headers", ["quorvex-mail.conf"]),
    ("php", "mod_php", "php_admin_value", "apt-get install libapache2-mod-php", [])])
def test_a_web_directory_that_apache_refuses_is_reported(missing, module, directive, enable, published):
    # Without mod_headers Apache refuses the work folder's directory (the
    # pages stay published), without mod_php the pages' one, which is never
    # served as source: set-up says so, naming the module.
    modules = tuple(m for m in DEFAULT_MODULES if m != missing)
    with web_folder() as base, ApacheInstance(base, modules=modules) as apache:
        apache.start()
        home = FreshInstall(base, apache)
        err = installed(home)
        text = ("Fail to set up virtual directory. User can not apply account through browser.\nQuorvexServer: The "
                "web server lacks the module %s (Apache: Invalid command '%s'); enable it (%s) and run the set-up "
                "again." % (module, directive, enable))
        assert "QuorvexServer: " + text in err
        assert "] " + text.split("\nQuorvexServer: ")[1] in home.system_log()
        assert os.listdir(apache.conf_folder) == published


def test_two_program_folders_keep_their_own_databases(tmp_path):
    # Two fresh folders on one machine (one system ODBC folder, as /etc),
    # started one after the other: each start's statement and each message
    # land in that folder's own database and mailbox.
    system = tmp_path / "etc"
    system.mkdir()
    shutil.copy("/etc/odbcinst.ini", system / "odbcinst.ini")
    (system / "odbc.ini").write_text("")
    homes = {}
    for name in ("first", "second", "again"):
        home = homes[name] = homes.get("second") if name == "again" else ProgramFolder(tmp_path / name)
        home.set("system", "setup", "0")
        home.set("Database", "Count", "1")
        home.set("Database", "SQL1", "insert into receipts (messageid, account) values ('%s', 'demo')" % name)
        if name == "again":
            # A machine-wide entry, as an earlier set-up wrote it for the
            # first folder, wins, and the second folder's start says so.
            (system / "odbc.ini").write_text("[QuorvexServer]\nDriver=SQLite3\nDatabase=%s\n" %
                                             os.path.join(homes["first"].path, "db", "db.sqlite"))
        with home.start(extra_env={"ODBCSYSINI": str(system)}) as program:
            program.wait_serving()
            with smtplib.SMTP("127.0.0.1", home.smtp, timeout=10) as client:
                client.sendmail("ann@remote.test", ["demo@example.test"],
                                b"Subject: for %s\r\n\r\nx\r\n" % name.encode())
            assert ("Subject: for " + name).encode() in pop3_messages(home, "demo", "demo")[-1]
            _, _, _, err = program.stop()
        assert b"already exists" not in err and (b"Warning: the ODBC" in err) == (name == "again"), err
    assert "names the database %s of the program folder %s" % (os.path.join(homes["first"].path, "db", "db.sqlite"),
                                                               homes["first"].path) in homes["again"].system_log()
    for name, rows in (("first", [("again",), ("first",)]), ("second", [("second",)])):
        with sqlite3.connect(os.path.join(homes[name].path, "db", "db.sqlite")) as database:
            assert database.execute("select messageid from receipts order by messageid").fetchall() == rows
