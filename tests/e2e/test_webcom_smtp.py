"""The SMTP class of QuorvexCOM.so through its C interface against the real
QuorvexServer: messages composed from uploaded forms are read back with
poplib and Python's email package (header fields, no Bcc, Reply-To,
Message-ID, attachments byte for byte, a body that tries to end the data
early), the sent copy and the draft of the web-mail HELO, and the uploads
that stay after a failed send and go after a successful one."""
import email
import email.policy
import hashlib
import os
import poplib
import random
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import webcom_client as wc  # noqa: E402
import webcom_env  # noqa: E402

poplib._MAXLINE = 20000  # the attachments' Base64 lines are short, but a plain body line may be long
DOMAIN = webcom_env.DOMAIN


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    installation = webcom_env.Installation(tmp_path_factory.mktemp("smtp"))
    for account in ("alice", "bob", "carl", "dave", "mallory"):
        installation.signup(account, "pw")
    yield installation
    installation.stop()


def binary(size, seed):
    """Random bytes with NUL bytes, CR LF and lone LF lines, a line of a
    "." alone and a line of 10,000 bytes."""
    data = random.Random(seed).randbytes(size)
    return data[:size // 2] + b"\r\n.\r\n" + b"L" * 10000 + b"\n" + b"\x00" * 64 + data[size // 2:]


def messages(site, account):
    """Every message of the account's inbox, parsed, newest last."""
    client = poplib.POP3("127.0.0.1", site.folder.pop3, timeout=30)
    try:
        client.user(account)
        client.pass_("pw")
        count = client.stat()[0]
        return [email.message_from_bytes(b"\r\n".join(client.retr(n)[1]), policy=email.policy.default)
                for n in range(1, count + 1)]
    finally:
        client.quit()


def attachments(message):
    return {part.get_filename(): hashlib.sha256(part.get_payload(decode=True)).hexdigest()
            for part in message.iter_attachments()}


def compose(site, user="alice:127.0.0.1", **fields):
    smtp = site.create("QuorvexCOM.SMTP")
    smtp.call("CreateUserPath", user)
    for name, value in fields.items():
        smtp.put(name, value)
    return smtp


def upload(smtp, fields=(), files=()):
    smtp.call("StartUpload", wc.Request(wc.form_data(fields, files)))
    assert smtp.last_status == wc.S_OK, smtp.get("LastResponse")
    for field, _, _ in files:
        smtp.call("AddAttach", field)


def test_a_form_upload_arrives_whole(site):
    report, photo = binary(300000, 1), binary(70000, 2)
    body = "Hello Bob,\r\n.\r\nRCPT TO:<mallory@%s>\r\nQUIT\r\n..and the rest\r\nAlice" % DOMAIN
    smtp = compose(site, Bcc="dave@%s" % DOMAIN, Reply="replies@%s" % DOMAIN)
    upload(smtp, fields=[("from", "Alice <alice@%s>" % DOMAIN), ("to", '"Bob; B, Jr" <bob@%s>' % DOMAIN),
                         ("cc", "carl@%s" % DOMAIN), ("subject", "Quarterly report"), ("body", body)],
           files=[("report", "C:\\Users\\alice\\report.bin", report), ("photo", "photo.jpg", photo)])
    for method, field in (("SetFrom", "from"), ("SetTo", "to"), ("SetCc", "cc"), ("SetSubject", "subject"),
                          ("SetBody", "body")):
        smtp.call(method, field)
    uploads = smtp.get("Attachment").split(";")[:-1]
    assert [os.path.basename(path) for path in uploads] == ["report.bin", "photo.jpg"]
    smtp.call("SendMail")
    assert smtp.get("LastResponse") == "+OK send mail successful"
    message_id = smtp.get("MessageID")
    assert not any(os.path.exists(path) for path in uploads)
    assert not os.path.exists(smtp.get("SMTPUserPath"))

    for account in ("bob", "carl", "dave"):
        got = messages(site, account)[-1]
        assert got["Message-ID"] == message_id, account
        assert got["From"] == "Alice <alice@%s>" % DOMAIN
        assert got["To"] == '"Bob; B, Jr" <bob@%s>' % DOMAIN
        assert got["Cc"] == "carl@%s" % DOMAIN
        assert got["Reply-To"] == "replies@%s" % DOMAIN
        assert got["Subject"] == "Quarterly report"
        assert "Bcc" not in got and "dave" not in str(got["To"]) + str(got["Cc"])
        text = got.get_body(preferencelist=("plain",)).get_content()
        assert text.replace("\r\n", "\n").rstrip("\n") == body.replace("\r\n", "\n")
        assert attachments(got) == {"report.bin": hashlib.sha256(report).hexdigest(),
                                    "photo.jpg": hashlib.sha256(photo).hexdigest()}
    # The body's "RCPT TO:" line never became a command.
    assert all(m["Message-ID"] != message_id for m in messages(site, "mallory"))


@pytest.mark.parametrize("subject,declared", [("Gr\u00fc\u00dfe \u2013 caf\u00e9 \u2713", "utf-8"),
                                              ("Gr\u00fc\u00dfe aus K\u00f6ln", "iso-8859-1")])
def test_text_the_page_posts_reads_as_it_was_typed(site, subject, declared):
    """Browsers post UTF-8: the message carries it in the language's charset
    where every character fits, else in UTF-8, and declares which."""
    body, name = subject + "\r\nAlice", "Bericht Gr\u00f6\u00dfe.txt"
    smtp = compose(site, From="alice@%s" % DOMAIN, To="bob@%s" % DOMAIN)
    upload(smtp, fields=[("subject", subject.encode()), ("body", body.encode())],
           files=[("file", name.encode(), b"data")])
    smtp.call("SetSubject", "subject")
    smtp.call("SetBody", "body")
    smtp.call("SendMail")
    assert smtp.get("LastResponse") == "+OK send mail successful"
    got = messages(site, "bob")[-1]
    assert got["Subject"] == subject
    text = got.get_body(preferencelist=("plain",))
    assert (text.get_content_charset(), text.get_content().replace("\r\n", "\n")) == (declared, body.replace("\r\n", "\n"))
    assert attachments(got) == {name: hashlib.sha256(b"data").hexdigest()}


@pytest.mark.parametrize("user", ["alice:127.0.0.1", "alice:::1"])  # a browser on IPv4 or on IPv6
def test_the_sent_copy_and_the_draft(site, user):
    before = len(messages(site, "bob"))
    copies = {}
    for save_message, save_draft in ((1, 0), (0, 1)):
        smtp = compose(site, user, From="alice@%s" % DOMAIN, To="bob@%s" % DOMAIN,
                       Subject="copy %d %d" % (save_message, save_draft), Body="kept")
        smtp.put("SaveMessage", save_message)
        smtp.put("SaveDraft", save_draft)
        smtp.call("SendMail")
        assert smtp.get("LastResponse") == "+OK send mail successful"
        assert smtp.get("UID").startswith("alice.%s.quorvexserver." % DOMAIN)
        copies[smtp.get("UID")] = (smtp.get("MessageID"), "copy %d %d" % (save_message, save_draft))
    # The message went out; the draft did not.
    received = messages(site, "bob")[before:]
    assert [m["Subject"] for m in received] == ["copy 1 0"]
    # Both are in alice's second folder under the unique id the send returned.
    with site.create("QuorvexCOM.POP3") as pop3:
        pop3.call("Login", "alice", "pw")
        for uid, (message_id, subject) in copies.items():
            pop3.call("GetMailInfoEx", uid)
            assert (pop3.get("LastResponse"), pop3.get("Subject")) == ("+OK", subject)
            assert pop3.get("MessageID") == message_id


def test_uploads_stay_after_a_failed_send_for_the_next_try(site):
    content = binary(50000, 3)
    smtp = compose(site, From="alice@%s" % DOMAIN, To="bob@%s" % DOMAIN, Subject="second try")
    upload(smtp, files=[("attach", "kept.bin", content)])
    webcom_env.point_at(site, "SMTP", webcom_env.test_ports.take_one())
    try:
        smtp.call("SendMail")
        assert smtp.get("LastResponse") == "-ERR connect smtp server failed"
    finally:
        webcom_env.point_at(site, "SMTP", site.folder.smtp)
    listed = smtp.get("Attachment")
    assert os.path.exists(listed[:-1])
    # The gate holds this object; a new one sends the same upload.
    smtp.call("SendMail")
    assert smtp.get("LastResponse") == "-ERR connect smtp server failed"
    retry = compose(site, From="alice@%s" % DOMAIN, To="bob@%s" % DOMAIN, Subject="second try", Attachment=listed)
    retry.call("SendMail")
    assert retry.get("LastResponse") == "+OK send mail successful"
    assert not os.path.exists(listed[:-1])
    assert attachments(messages(site, "bob")[-1]) == {"kept.bin": hashlib.sha256(content).hexdigest()}


def test_two_pages_of_one_account_send_their_own_attachments(site):
    before = len(messages(site, "bob"))
    pages = []
    for n in (1, 2):
        smtp = compose(site, From="alice@%s" % DOMAIN, To="bob@%s" % DOMAIN, Subject="page %d" % n)
        upload(smtp, fields=[("note", "page %d" % n)], files=[("attach", "same-name.bin", binary(40000, 10 + n))])
        pages.append(smtp)
    # Both forms are uploaded before either page sends.
    assert [p.get("GetFieldValue", "note") for p in pages] == ["page 1", "page 2"]
    for smtp in pages:
        smtp.call("SendMail")
        assert smtp.get("LastResponse") == "+OK send mail successful"
    received = {m["Subject"]: attachments(m) for m in messages(site, "bob")[before:]}
    assert received == {"page %d" % n: {"same-name.bin": hashlib.sha256(binary(40000, 10 + n)).hexdigest()}
                        for n in (1, 2)}


def test_requests_that_must_not_reach_the_server(site):
    cases = [
        ({"To": "bob@%s\r\nRCPT TO:<mallory@%s>" % (DOMAIN, DOMAIN)}, "-ERR the text holds a line break"),
        ({"Subject": "x\r\nBcc: mallory@%s" % DOMAIN}, "-ERR the text holds a line break"),
        ({"Attachment": os.path.join(site.path, "config.ini") + ";"}, "-ERR attachment not allowed"),
        ({"To": "x" * 4096}, "-ERR to too long"),
    ]
    before = len(messages(site, "mallory"))
    for fields, refusal in cases:
        smtp = compose(site, From="alice@%s" % DOMAIN, **fields)
        smtp.call("SendMail")
        assert smtp.get("LastResponse") == refusal, fields
    for user in ("../alice:127.0.0.1", "alice/x:127.0.0.1", ".."):
        smtp = site.create("QuorvexCOM.SMTP")
        smtp.call("CreateUserPath", user)
        assert smtp.get("LastResponse") == "-ERR illegal account"
        assert smtp.get("SMTPUserPath") == ""
    assert len(messages(site, "mallory")) == before
    assert os.path.exists(os.path.join(site.path, "config.ini"))
