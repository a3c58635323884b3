"""The whole web-mail chain on a freshly set-up program folder: the private
Apache includes the web directories that set-up published, a PHP page in
"mail" logs in through the web-mail component (created through the
registration file that set-up's registration wrote) as a signed-up account
and shows its welcome message, and curl fetches the message's text from
"maildata". The README's web-mail pages, exactly as written, in a real
browser: sign in, the inbox, a message's text and HTML parts, a message
with an attachment composed and sent, the auto-reply text, sign out."""
import email
import email.policy
import os
import poplib
import re
import smtplib
import subprocess
import sys
from email.header import Header
from email.message import EmailMessage
from email.mime.text import MIMEText

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import account_client as ac  # noqa: E402
from apache_instance import ApacheInstance, web_folder  # noqa: E402
from fresh_install import FreshInstall  # noqa: E402
from browser import start_browser  # noqa: E402
from readme_examples import readme_blocks  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.expected_conditions import staleness_of  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402
from webcom_env import HEADER, LIBRARY, PHP_CLASS  # noqa: E402

PAGE = r"""<?php
require __DIR__ . '/QuorvexCOM.php';
$pop3 = new QuorvexCOM('QuorvexCOM.POP3', dirname(__DIR__) . '/ComRegistry.ini');
$pop3->Login($_GET['user'], $_GET['password']);
header('Content-Type: text/plain');
if (!$pop3->LoginSuccess) {
    http_response_code(403);
    echo $pop3->LastResponse, "\n";
    exit;
}
$pop3->GetMailData(1);
echo $pop3->Subject, "\n", $pop3->BodyTxtURL, "\n";
"""


def page_file(home, name, text):
    path = home.file("WebMail", name)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, 0o640)  # the folder gives it the web server's group


def test_a_page_reads_the_welcome_message_through_the_component():
    with web_folder() as base, ApacheInstance(base) as apache:
        apache.start()
        home = FreshInstall(base, apache, component=LIBRARY)
        with home.start() as program:
            program.wait_serving()
            assert "Fail to" not in home.system_log()
            assert ac.signup(home.admin, "reader:127.0.0.1", password="secret")[-1] == "+OK"
            # The PHP class and the declarations it loads, beside the page.
            for source in (PHP_CLASS, HEADER):
                with open(source) as f:
                    page_file(home, os.path.basename(source), f.read())
            page_file(home, "index.php", PAGE)

            status, _, body = apache.get("/mail/?user=reader&password=wrong")
            assert status == 403, body
            status, _, body = apache.wait_for("/mail/?user=reader&password=secret",
                                              lambda s, h, b: s != 404)
            assert status == 200, body + apache.logs().encode()
            subject, url = body.decode().splitlines()
            assert subject == "Welcome to QuorvexServer"
            assert re.fullmatch(r"/maildata/reader/[0-9a-f]{32}/1/body\.txt", url), url  # never a guessable URL

            fetched = subprocess.run(["curl", "-s", "-D", "-", apache.url(url)], capture_output=True, timeout=30)
            head, _, text = fetched.stdout.partition(b"\r\n\r\n")
            assert head.startswith(b"HTTP/1.1 200"), fetched
            assert b"X-Content-Type-Options: nosniff" in head
            assert b"QuorvexServer mail server" in text
            assert program.stop()[0] == 0


def test_the_readme_web_mail_pages_work_in_a_browser_as_written(tmp_path):
    with web_folder() as base:
        sessions = os.path.join(base, "sessions")  # PHP's sessions: the test's own
        os.makedirs(sessions)
        os.chmod(sessions, 0o1733)
        with ApacheInstance(base, extra_config='php_admin_value session.save_path "%s"' % sessions) as apache:
            apache.start()
            home = FreshInstall(base, apache, component=LIBRARY)
            with home.start() as program:
                program.wait_serving()
                assert ac.signup(home.admin, "reader:127.0.0.1", password="secret")[-1] == "+OK"
                message = EmailMessage()
                message["From"], message["To"], message["Subject"] = "ann@remote.test", "reader@example.test", \
                    "Both parts"
                message.set_content("The plain text part.\n")
                message.add_alternative("<p id=part>The <b>HTML</b> part.</p>\n", subtype="html")
                # Mail from elsewhere in one-byte charsets, listed and read as written.
                foreign = [("Gr\u00fc\u00dfe aus K\u00f6ln", "iso-8859-1"), ("\u041f\u0440\u0438\u0432\u0435\u0442", "koi8-r")]
                with smtplib.SMTP("127.0.0.1", home.smtp, timeout=10) as client:
                    client.send_message(message)
                    for text, charset in foreign:
                        other = MIMEText(text + " / " + charset + "\n", "plain", charset)
                        other["From"], other["To"], other["Subject"] = "ann@remote.test", "reader@example.test", \
                            Header(text, charset)
                        client.send_message(other)
                for source in (PHP_CLASS, HEADER):
                    with open(source) as f:
                        page_file(home, os.path.basename(source), f.read())
                pages = readme_blocks("A web-mail page in PHP", "php")
                for page in pages:  # each names its file in its first comment
                    page_file(home, re.search(r"// WebMail/(\S+):", page).group(1), page)
                assert len(pages) == 3
                attached = tmp_path / "report.bin"
                attached.write_bytes(b"\x00\xff attached\r\n" * 1000)
                apache.wait_for("/mail/", lambda s, h, b: s == 200)
                browser = start_browser(tmp_path)
                try:
                    wait = WebDriverWait(browser, 30)
                    browser.get(apache.url("/mail/"))
                    for password, title in (("wrong", "Sign in"), ("secret", "Inbox of reader")):
                        wait.until(lambda d: d.find_elements(By.NAME, "user"))[0].send_keys("reader")
                        browser.find_element(By.NAME, "password").send_keys(password)
                        browser.find_element(By.TAG_NAME, "button").click()
                        wait.until(lambda d: d.title == title and "-ERR" in d.page_source or password != "wrong")
                    wait.until(lambda d: d.title == "Inbox of reader")
                    assert [a.text for a in browser.find_elements(By.CSS_SELECTOR, "li a")] == \
                        ["Welcome to QuorvexServer", "Both parts"] + [text for text, _ in foreign]
                    browser.find_element(By.LINK_TEXT, "Both parts").click()
                    wait.until(lambda d: d.title == "Both parts")
                    assert browser.find_element(By.TAG_NAME, "pre").text == "The plain text part."
                    browser.switch_to.frame(browser.find_element(By.TAG_NAME, "iframe"))
                    assert wait.until(lambda d: d.find_elements(By.ID, "part"))[0].text == "The HTML part."
                    browser.switch_to.default_content()
                    for text, charset in foreign:
                        browser.get(apache.url("/mail/"))
                        wait.until(lambda d: d.find_elements(By.LINK_TEXT, text))[0].click()
                        wait.until(lambda d: d.title == text)
                        assert browser.find_element(By.TAG_NAME, "pre").text == text + " / " + charset
                    assert os.listdir(home.file("maildata", "reader"))

                    browser.get(apache.url("/mail/compose.php"))
                    subject, body = "Gr\u00fc\u00dfe aus dem Caf\u00e9", "K\u00e4se, Br\u00f6tchen und Cr\u00e8me br\u00fbl\u00e9e"
                    for name, text in (("to", "reader@example.test"), ("subject", subject), ("body", body),
                                       ("attach", str(attached))):
                        wait.until(lambda d: d.find_elements(By.NAME, name))[0].send_keys(text)
                    browser.find_element(By.TAG_NAME, "button").click()
                    wait.until(lambda d: "+OK send mail successful" in d.page_source)
                    client = poplib.POP3("127.0.0.1", home.pop3, timeout=10)
                    client.user("reader")
                    client.pass_("secret")
                    sent = email.message_from_bytes(b"\r\n".join(client.retr(client.stat()[0])[1]),
                                                    policy=email.policy.default)
                    client.quit()
                    assert sent["Subject"] == subject and sent["From"] == "reader@example.test"
                    assert sent.get_body(preferencelist=("plain",)).get_content_charset() == "iso-8859-1"
                    assert [a.get_payload(decode=True) for a in sent.iter_attachments()] == [attached.read_bytes()]
                    # The inbox lists it, and its page shows it, as typed.
                    browser.get(apache.url("/mail/"))
                    wait.until(lambda d: d.find_elements(By.LINK_TEXT, subject))[0].click()
                    wait.until(lambda d: d.title == subject)
                    assert browser.find_element(By.TAG_NAME, "pre").text == body

                    for load in ("save", "reload"):  # the text as stored, read back by the next page
                        browser.get(apache.url("/mail/autoreply.php"))
                        box = wait.until(lambda d: d.find_elements(By.NAME, "body"))[0]
                        if load == "save":
                            box.clear()
                            box.send_keys("Away until Monday.\nRegards")
                            browser.find_element(By.TAG_NAME, "button").click()
                            wait.until(staleness_of(box))
                    assert box.get_attribute("value") == "Away until Monday.\nRegards"
                    browser.get(apache.url("/mail/"))
                    browser.find_element(By.NAME, "logout").click()
                    wait.until(lambda d: d.title == "Sign in")
                    assert not os.path.exists(home.file("maildata", "reader"))  # the message files are gone
                finally:
                    browser.quit()
                assert program.stop()[0] == 0
