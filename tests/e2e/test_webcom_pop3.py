"""The POP3 class of QuorvexCOM.so through its C interface against the real
QuorvexServer, checked against what Python's poplib and email packages see
of the same mailbox: mailbox figures, summaries, fetched message files and
their URLs, folders, marks and deletions, downloads, and input that must
never reach the POP3 server."""
import hashlib
import os
import poplib
import re
import shutil
import sys
import time
import urllib.parse
from email.message import EmailMessage

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import webcom_client as wc  # noqa: E402
import webcom_env  # noqa: E402

# A long line, within what the SMTP server stores as one line; longer data
# lines are covered by the unit tests of the data copy.
LONG_LINE = "L" * 3060
poplib._MAXLINE = 20000  # poplib's own line limit (2048) is below the long line of these messages
BIG = bytes(range(256)) * 4096  # 1 MiB with every byte value


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    installation = webcom_env.Installation(tmp_path_factory.mktemp("pop3"))
    yield installation
    installation.stop()


def plain_message(subject, date="Tue, 05 Jun 2001 10:00:00 -0800", extra=""):
    return ("From: Sender <sender@remote.test>\r\nTo: rcpt@example.test\r\nCc: copy@remote.test\r\n"
            "Subject: %s\r\nDate: %s\r\nMessage-ID: <%s@remote.test>\r\n%s\r\n"
            "first line\r\n.x\r\n.\r\n%s\r\nlast line\r\n" % (subject, date, subject.replace(" ", "-"), extra,
                                                              LONG_LINE))


def mime_message(subject):
    message = EmailMessage()
    message["From"] = "sender@remote.test"
    message["To"] = "rcpt@example.test"
    message["Subject"] = subject
    message["Message-ID"] = "<mime-%s@remote.test>" % subject.replace(" ", "-")
    message.set_content("plain text body\n")
    message.add_alternative("<p>html body</p>\n", subtype="html")
    message.add_attachment(b"%PDF small \x00 bytes", maintype="application", subtype="pdf",
                           filename="50%off report.pdf")
    message.add_attachment(BIG, maintype="application", subtype="octet-stream", filename="big.bin")
    return message.as_bytes(policy=message.policy.clone(linesep="\r\n"))


class Pop3:
    """poplib on the same mailbox; RSET before QUIT, so it changes nothing."""

    def __init__(self, site, user, password):
        self.client = poplib.POP3("127.0.0.1", site.folder.pop3, timeout=20)
        self.client.user(user)
        self.client.pass_(password)

    def __enter__(self):
        return self.client

    def __exit__(self, *exc):
        self.client.rset()
        self.client.quit()


def account(site, name, messages):
    site.signup(name, "pw")
    for message in messages:
        site.send(name + "@example.test", message)


def session(site, user, password="pw"):
    pop3 = site.create("QuorvexCOM.POP3")
    pop3.call("Login", user, password)
    assert pop3.get("LastResponse") == "+OK login success"
    return pop3


def file_of(site, url):
    assert url.startswith("/maildata/")
    return os.path.join(site.work_root, urllib.parse.unquote(url[len("/maildata/"):]))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def test_login_permission_and_sessions(site):
    account(site, "sam", [plain_message("one"), plain_message("two")])
    with site.create("QuorvexCOM.POP3") as pop3:
        pop3.call("Login", "sam", "wrong")
        assert (pop3.get("LoginSuccess"), pop3.get("LastResponse")) == (0, "-ERR the password incorrect")
        pop3.call("Login", "sam:10.0.0.9", "pw")
        assert (pop3.get("LoginSuccess"), pop3.get("LastResponse"), pop3.get("Permission")) == \
            (1, "+OK login success", 0)
        assert pop3.get("MailDomain") == "example.test"
        pop3.call("DeleteMail", 3)
        # A second login ends the first session, which commits its deletion.
        pop3.call("Login", "sam", "pw")
        pop3.call("GetMailBoxInfo")
        assert pop3.get("MailCount") == 2
        pop3.call("DeleteMail", 2)
        assert pop3.get("LastResponse").startswith("+OK 2")  # unchanged: still the STAT reply
    # The last release ends the session with QUIT.
    with Pop3(site, "sam", "pw") as client:
        assert client.stat()[0] == 1
    webcom_env.point_at(site, "POP3", webcom_env.test_ports.take_one())
    try:
        with site.create("QuorvexCOM.POP3") as pop3:
            pop3.call("Login", "sam", "pw")
            assert (pop3.get("LoginSuccess"), pop3.get("LastResponse")) == (0, "-ERR connect pop3 server failed")
            pop3.call("GetMailBoxInfo")
            assert pop3.get("LastResponse") == "-ERR socket error"
    finally:
        webcom_env.point_at(site, "POP3", site.folder.pop3)


def test_mailbox_figures_and_summaries(site):
    account(site, "pat", [plain_message("plain one"), plain_message("plain two")])
    with Pop3(site, "pat", "pw") as client:
        count, octets = client.stat()
        size_reply = client._shortcmd("SIZE").decode()
        used_reply = client._shortcmd("USED 0").decode()
        list_reply = client.list(2).decode()
        uid = client.uidl(2).decode().split()[2]
    with session(site, "pat") as pop3:
        pop3.call("GetMailBoxInfo")
        assert pop3.get("LastResponse") == "+OK %d %d" % (count, octets)
        assert pop3.get("MailCount") == count == 3
        assert "+OK %d %d" % (pop3.get("MailBoxSize"), pop3.get("MailBoxSizeUsed")) == size_reply
        assert pop3.get("InboxUsed") == int(used_reply.split()[2])
        assert pop3.get("InboxRead") == 0
        pop3.call("GetMailInfo", 2)
        assert pop3.get("LastResponse") == "+OK %d %d" % (count, octets)  # left as it was
        assert pop3.get("Size") == int(list_reply.split()[2])
        assert pop3.get("UID") == uid
        assert (pop3.get("Subject"), pop3.get("From"), pop3.get("To"), pop3.get("Cc"), pop3.get("MessageID")) == \
            ("plain one", "Sender <sender@remote.test>", "rcpt@example.test", "copy@remote.test",
             "<plain-one@remote.test>")
        assert (pop3.get("IsRead"), pop3.get("ReplySign"), pop3.get("IsForward"), pop3.get("Reply")) == (0, 0, 0, "")
        pop3.call("GetMailInfo", 99)
        assert pop3.get("LastResponse") == "-ERR no this message"


@pytest.mark.parametrize("date, shown", [
    ("Tue, 05 Jun 2001 10:00:00 -0800", "2001-06-06 02:00:00"),
    ("Tue, 05 Jun 2001 10:00:00 +0000 (UTC-08:00)", "2001-06-05 18:00:00"),
    ("05 Jun 2001 10:00:00 GMT", "2001-06-05 18:00:00"),
    ("Tue, 05 Jun 2001 10:00:00", "2001-06-05 10:00:00"),
    ("sometime last week", "sometime last week"),
])
def test_dates_in_local_time(site, date, shown):
    name = "date%d" % abs(hash(date))
    account(site, name, [plain_message("dated", date=date)])
    saved = os.environ.get("TZ")
    os.environ["TZ"] = "CST-8"  # eight hours east of UTC, no daylight time
    time.tzset()
    try:
        with session(site, name) as pop3:
            pop3.call("GetMailInfo", 2)
            assert pop3.get("Date") == shown
            pop3.call("GetMailData", 2)
            assert pop3.get("Date") == shown
    finally:
        if saved is None:
            os.environ.pop("TZ")
        else:
            os.environ["TZ"] = saved
        time.tzset()


def test_fetched_messages_are_what_a_pop3_client_receives(site):
    account(site, "quinn", [plain_message("plain"), mime_message("mime"),
                            "Subject: html only\r\nContent-Type: text/html\r\n\r\n<b>x</b>\r\n"])
    with Pop3(site, "quinn", "pw") as client:
        retrieved = {n: b"\r\n".join(client.retr(n)[1]) + b"\r\n" for n in (2, 3, 4)}
    with site.create("QuorvexCOM.POP3") as pop3:
        pop3.call("CreateUserPath", "quinn:127.0.0.1")
        pop3.call("Login", "quinn:127.0.0.1", "pw")

        pop3.call("GetMailData", 2)
        assert pop3.get("LastResponse") == "+OK Read Mail Successful"
        mail = read(file_of(site, pop3.get("EmailURL")))
        assert mail == retrieved[2]
        assert b"\r\n.x\r\n.\r\n" + LONG_LINE.encode() + b"\r\n" in mail  # unstuffed, long line whole
        assert read(file_of(site, pop3.get("HeaderURL"))) == mail.split(b"\r\n\r\n")[0] + b"\r\n"
        assert pop3.get("BodyHtmlURL") == ""
        assert read(file_of(site, pop3.get("BodyTxtURL"))).startswith(b"first line\r\n.x\r\n")
        assert pop3.get("Body").startswith("first line\r\n.x\r\n.\r\n")
        assert (pop3.get("AttachCount"), pop3.get("Subject"), pop3.get("IsRead")) == (0, "plain", 0)

        pop3.call("GetMailData", 3)
        assert read(file_of(site, pop3.get("EmailURL"))) == retrieved[3]
        assert read(file_of(site, pop3.get("BodyTxtURL"))) == b"plain text body\r\n"
        assert read(file_of(site, pop3.get("BodyHtmlURL"))) == b"<p>html body</p>\r\n"
        assert pop3.get("AttachCount") == 2
        found = {}
        for index in (1, 2):
            pop3.call("GetAttachInfo", index)
            found[pop3.get("AttachFileName")] = (pop3.get("AttachURL"), read(file_of(site, pop3.get("AttachURL"))))
        assert found["50%off report.pdf"][1] == b"%PDF small \x00 bytes"
        assert found["50%off report.pdf"][0].endswith("/50%25off%20report.pdf")
        assert hashlib.sha256(found["big.bin"][1]).digest() == hashlib.sha256(BIG).digest()
        for index in (0, 3):
            pop3.call("GetAttachInfo", index)
            assert (pop3.get("AttachURL"), pop3.get("AttachFileName")) == ("/maildata/", "")

        pop3.call("GetMailData", 4)
        assert pop3.get("BodyTxtURL") == "/maildata/"
        assert read(file_of(site, pop3.get("BodyHtmlURL"))) == b"<b>x</b>\r\n"
        pop3.call("GetMailData", 9)
        assert pop3.get("LastResponse") == "-ERR no this message"


def test_downloads_serve_only_files_of_the_work_root(site):
    account(site, "una", [mime_message("download")])
    with session(site, "una") as pop3:
        pop3.call("GetMailData", 2)
        for index in (1, 2):
            pop3.call("GetAttachInfo", index)
            if pop3.get("AttachFileName") == "big.bin":
                break
        name = urllib.parse.unquote(pop3.get("AttachURL"))
        response = wc.Response()
        pop3.call("Download", name, response)
        assert pop3.get("LastResponse") == "+OK"
        assert response.content_type == "application/octet-stream"
        assert response.headers == [("Content-Disposition", 'attachment; filename="big.bin"')]
        assert response.body == BIG and len(response.writes) > 1
        response = wc.Response()
        pop3.call("Download", name.replace("/", "\\"), response)
        assert response.body == BIG
        assert pop3.get("ReadBinFromFile", name) == BIG

        with open(os.path.join(site.path, "outside.txt"), "w") as f:
            f.write("not for the web")
        os.symlink(os.path.join(site.path, "outside.txt"), file_of(site, pop3.get("EmailURL")) + ".link")
        for bad in ["\\..\\config.ini", "/config.ini", "/../../../etc/passwd", name + "/../../../../../config.ini",
                    "/mail/una/maillist.ini", urllib.parse.unquote(pop3.get("EmailURL")) + ".link", "/maildata",
                    name + "\0"]:
            response = wc.Response()
            pop3.call("Download", bad, response)
            assert (pop3.get("LastResponse"), response.writes, response.headers) == ("-ERR download error", [], []), bad
            assert pop3.get("ReadBinFromFile", bad) is None
            assert pop3.get("LastResponse") == "-ERR download error"
        for not_a_response in [5, "text", wc.Request(b"body")]:
            pop3.call("Download", name, not_a_response)
            assert pop3.get("LastResponse") == "-ERR download error"
        # Nothing of it for an object of another account, or of none.
        account(site, "una2", [])
        with session(site, "una2") as other, site.create("QuorvexCOM.POP3") as anonymous:
            for reader in (other, anonymous):
                response = wc.Response()
                reader.call("Download", name, response)
                assert (reader.get("LastResponse"), response.writes) == ("-ERR download error", [])
                assert reader.get("ReadBinFromFile", name) is None


def test_folders_marks_and_deletions_take_effect_at_quit(site):
    account(site, "rita", [plain_message("m2", extra="Reply-To: back2@remote.test\r\n"),
                           plain_message("m3", extra="Reply-To: back3@remote.test\r\n"), plain_message("m4")])
    with Pop3(site, "rita", "pw") as client:
        uids = {int(n): u.decode() for n, u in (line.split() for line in client.uidl()[1])}
    with session(site, "rita") as pop3:
        pop3.call("MoveToFolder", uids[3])
        assert pop3.get("LastResponse") == "+OK"
        pop3.call("SetReplySign", 1, uids[2], 0)
        assert pop3.last_status == wc.S_OK
        pop3.call("SetForwardSign", 1, uids[4], 0)
        pop3.call("SetReadSign", 1, uids[4], 0)
        pop3.call("MoveToFolder", "nobody.example.test.quorvexserver.999")
        assert pop3.get("LastResponse") == "-ERR message has gone!"

    with session(site, "rita") as pop3:
        pop3.call("GetMailBoxInfo")
        assert (pop3.get("MailCount"), pop3.get("InboxRead")) == (3, 1)
        pop3.call("GetMailInfo", 2)
        assert (pop3.get("ReplySign"), pop3.get("IsReply"), pop3.get("ForwardSign")) == (1, 1, 0)
        assert pop3.get("Reply") == ""  # only messages of folder 1 show it
        pop3.call("GetMailInfo", 3)  # the former message 4
        assert (pop3.get("Subject"), pop3.get("IsForward"), pop3.get("IsRead")) == ("m4", 1, 1)
        pop3.call("GetMailInfoEx", uids[3])
        assert (pop3.get("LastResponse"), pop3.get("Subject"), pop3.get("UID")) == ("+OK", "m3", uids[3])
        assert pop3.get("Reply") == "back3@remote.test"
        pop3.call("GetMailData", 2)
        assert (pop3.get("Subject"), pop3.get("Reply")) == ("m2", "back3@remote.test")  # left as it was
        pop3.call("GetMailDataEx", uids[3])
        assert pop3.get("LastResponse") == "+OK Read Mail Successful"
        assert "/_1/mail.eml" in pop3.get("EmailURL")
        pop3.call("SetReadSign", 1, uids[3], 7)
        assert (pop3.last_status, pop3.get("LastResponse")) == (wc.S_FALSE, "-ERR invalid parameter")
        pop3.call("SetReadSign", 1, uids[3], 1)
        assert pop3.last_status == wc.S_OK and pop3.get("LastResponse").startswith("+OK")
        pop3.call("DeleteMailByUID", "nobody.example.test.quorvexserver.999")
        assert pop3.get("LastResponse") == "-ERR unfound this message"
        pop3.call("DeleteMailEx", uids[3])
        assert pop3.get("LastResponse") == "+OK"
        pop3.call("DeleteMailByUID", uids[2])
        pop3.call("GetRemotePOP3")
        assert pop3.get("LastResponse").startswith("+OK")

    with session(site, "rita") as pop3:
        pop3.call("GetMailInfoEx", uids[3])
        assert pop3.get("LastResponse") == "-ERR unfound this message"
        pop3.call("MoveToInbox", uids[3])
        assert pop3.get("LastResponse") == "-ERR message has gone!"
    with Pop3(site, "rita", "pw") as client:
        assert client.stat()[0] == 2  # the welcome message and m4


@pytest.mark.parametrize("name, calls", [("ford1", ("CreateUserPath", "Login")), ("ford2", ("Login",)),
                                         ("ford3", ("Login", "CreateUserPath"))])
def test_fetched_mail_lands_only_in_the_random_work_folder_whatever_the_order_of_calls(site, name, calls):
    account(site, name, [plain_message("w")])
    user_folder = os.path.join(site.work_root, name)
    with site.create("QuorvexCOM.POP3") as pop3:
        for method in calls:
            pop3.call(method, *((name + ":127.0.0.1", "pw") if method == "Login" else (name,)))
        pop3.call("GetMailData", 2)
        work = os.listdir(user_folder)
        assert len(work) == 1 and re.fullmatch("[0-9a-f]{32}", work[0]), work
        assert pop3.get("EmailURL") == "/maildata/%s/%s/2/mail.eml" % (name, work[0])


def test_work_folders(site):
    # Signed up both, john.smith and john-smith never share a folder: neither
    # reads the other's files, and the Logout of one leaves the other's.
    names, urls = ("john.smith", "john-smith"), []
    for name in names:
        account(site, name, [plain_message("for " + name)])
    with session(site, names[0] + ":127.0.0.1") as pop3, session(site, names[1] + ":127.0.0.1") as other:
        for name, page in zip(names, (pop3, other)):
            page.call("CreateUserPath", name + ":127.0.0.1")
            assert page.get("LastResponse") == "+OK"
            page.call("GetMailData", 2)
            urls.append(urllib.parse.unquote(page.get("EmailURL")))
            assert urls[-1].startswith("/maildata/%s/" % name)
            assert b"for " + name.encode() in page.get("ReadBinFromFile", urls[-1])
        assert pop3.get("ReadBinFromFile", urls[1]) is None and other.get("ReadBinFromFile", urls[0]) is None
        other.call("Logout", "john-smith")
        assert other.get("LastResponse") == "+OK" and b"for john.smith" in read(file_of(site, urls[0]))

        user_folder = os.path.join(site.work_root, "john.smith")
        first = os.listdir(user_folder)
        pop3.call("CreateUserPath", "john.smith:127.0.0.1")
        second = os.listdir(user_folder)
        assert len(first) == len(second) == 1 and first != second
        sentinel = os.path.join(site.work_root, "a", "keep")
        os.makedirs(sentinel)
        for bad in ["a/b", "..", "../john.smith", "x\r\ny", "", "n" * 5000]:
            for method in ("CreateUserPath", "Logout"):
                pop3.call("GetMailBoxInfo")  # "+OK" and the figures before each
                pop3.call(method, bad)
                reply, ignored = pop3.get("LastResponse"), method == "Logout" and len(bad) > 4096
                assert reply.startswith("+OK ") if ignored else reply == "-ERR illegal account", (method, bad)
        assert os.path.isdir(sentinel) and os.listdir(user_folder) == second
        pop3.call("Logout", "john.smith")
        assert not os.path.exists(user_folder)


def test_hostile_texts_never_reach_the_server(site):
    peer = webcom_env.RecordingPeer(answer=lambda line: "+OK 1 1", greeting="+OK ready")
    try:
        webcom_env.point_at(site, "POP3", peer.port)
        with site.create("QuorvexCOM.POP3") as pop3:
            for user, password, reply in [("a\r\nDELE 1", "pw", "-ERR the text holds a line break"),
                                          ("a", "pw\nDELE 1", "-ERR the text holds a line break"),
                                          ("a\0b", "pw", "-ERR the text holds a NUL byte"),
                                          ("u" * 10000, "pw", "-ERR user name is too long"),
                                          ("a", "p" * 256, "-ERR password is too long"),
                                          ("a/b", "pw", "-ERR illegal account")]:
                pop3.call("Login", user, password)
                assert (pop3.get("LastResponse"), pop3.get("LoginSuccess")) == (reply, 0)
            assert peer.connections == 0
            pop3.call("Login", "victim", "pw")
            assert pop3.get("LoginSuccess") == 1
            sent = list(peer.lines)
            assert sent == ["USER victim", "PASS pw", "PERM", "NAME"]
            for uid in ["u\r\nDELE 1", "u\nQUIT", "u\0x", "u" * 10000]:
                for method in ("DeleteMailByUID", "DeleteMailEx", "MoveToInbox", "MoveToFolder", "GetMailInfoEx",
                               "GetMailDataEx"):
                    pop3.call(method, uid)
                    assert pop3.get("LastResponse").startswith("-ERR "), (method, uid)
                for method in ("SetReplySign", "SetForwardSign", "SetReadSign"):
                    pop3.call(method, 1, uid, 0)
                    assert pop3.last_status == wc.S_FALSE
            assert peer.lines == sent  # not one line went out
    finally:
        peer.close()
        webcom_env.point_at(site, "POP3", site.folder.pop3)


def test_one_account_has_one_user_folder_whatever_case_its_logins_use(site):
    account(site, "Ulla", [plain_message("for Ulla")])
    with session(site, "ULLA:127.0.0.1") as pop3:
        pop3.call("GetMailData", 1)
        assert urllib.parse.unquote(pop3.get("EmailURL")).startswith("/maildata/Ulla/")
    assert [name for name in os.listdir(site.work_root) if name.lower() == "ulla"] == ["Ulla"]
    with session(site, "uLLa") as pop3:
        pop3.call("Logout", "ULLA")
    assert "Ulla" not in os.listdir(site.work_root)


def forward(component, path):
    """LastResponse of a page of `component` that sends vic the file at `path`."""
    smtp = component.create("QuorvexCOM.SMTP")
    smtp.call("CreateUserPath", "vic:192.0.2.66")
    for name, value in (("From", "vic@example.test"), ("To", "vic@example.test"), ("Attachment", path + ";")):
        smtp.put(name, value)
    smtp.call("SendMail")
    return smtp.get("LastResponse")


def test_a_page_without_the_accounts_login_cannot_send_its_fetched_files(site):
    account(site, "vic", [mime_message("private")])
    with session(site, "vic") as pop3:
        pop3.call("GetMailData", 2)  # after the welcome message
        pop3.call("GetAttachInfo", 1)
        fetched = file_of(site, pop3.get("AttachURL"))
        content = read(fetched)
        # Another copy of the library is another process's component: vic never logged in there.
        shutil.copy(site.library, os.path.join(site.path, "Stranger.so"))
        shutil.copy(site.ini, os.path.join(site.path, "Stranger.ini"))
        stranger = wc.Component(os.path.join(site.path, "Stranger.so"))
        assert forward(stranger, fetched) == "-ERR attachment not allowed"
        assert forward(site, fetched) == "+OK send mail successful"  # the page of vic's own login
        # Logged out, its files are no longer the page's to send, even where they are again.
        pop3.call("Logout", "vic")
        os.makedirs(os.path.dirname(fetched))
        with open(fetched, "wb") as f:
            f.write(content)
        assert forward(site, fetched) == "-ERR attachment not allowed"
