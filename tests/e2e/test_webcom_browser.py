"""Web-mail sending in a real browser: a private Apache with mod_php serves
a compose page that drives QuorvexCOM.so through PHP's FFI and the shipped
PHP class; headless Chromium, driven by Selenium, fills the form and
uploads a file; the mailbox of the real QuorvexServer receives the message
with the file's bytes unchanged. Two tabs of one account sending at once
both deliver their own attachments."""
import email
import email.policy
import hashlib
import os
import poplib
import random
import shutil
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import apache_instance  # noqa: E402
import webcom_env  # noqa: E402
from browser import start_browser  # noqa: E402

from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

PAGES = os.path.join(os.path.dirname(__file__), "pages")
MIB = 1 << 20
poplib._MAXLINE = 20000


def attachment_file(folder, name, seed):
    """3 MiB of random bytes with NUL bytes, lines of 10,000 bytes and a
    line holding only a dot."""
    data = bytearray(random.Random(seed).randbytes(3 * MIB))
    data[1000:1064] = b"\x00" * 64
    data[5000:15002] = b"\n" + b"L" * 10000 + b"\n"
    data[20000:20005] = b"\r\n.\r\n"
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
    return path, hashlib.sha256(data).hexdigest()


@pytest.fixture(scope="module")
def site():
    with apache_instance.web_folder() as root:
        installation = webcom_env.Installation(root)
        try:
            assert installation.component.register() == 0
            # The web server's user writes the compose folders.
            websmtp = os.path.join(root, "websmtp")
            pages = os.path.join(root, "pages")
            for folder in (websmtp, os.path.join(pages, "barrier")):
                os.makedirs(folder)
                os.chmod(folder, 0o777)
            webcom_env.quorvex_program.set_ini(installation.ini, "system", "WebWorkPath", websmtp)
            os.chmod(installation.ini, 0o644)  # as set-up leaves it: readable by the web server
            for name in ("compose.php",):
                shutil.copy(os.path.join(PAGES, name), pages)
            shutil.copy(webcom_env.PHP_CLASS, pages)
            shutil.copy(webcom_env.HEADER, pages)
            for account in ("alice", "bob"):
                installation.signup(account, "pw")
            # The PHP class finds the registration file through the environment.
            apache = apache_instance.ApacheInstance(
                root, modules=apache_instance.DEFAULT_MODULES + ("env",),
                extra_config="SetEnv QUORVEX_COM_REGISTRY %s" % os.path.join(installation.path, "ComRegistry.ini"))
            apache.serve("mail", pages)
            apache.start()
            installation.pages = pages
            installation.files = os.path.join(root, "files")
            os.makedirs(installation.files)
            installation.url = "http://127.0.0.1:%d/mail/compose.php" % apache.port
            try:
                yield installation
            finally:
                apache.stop()
        finally:
            installation.stop()


@pytest.fixture
def browser(tmp_path):
    # Pages that wait for each other must not block the driver.
    driver = start_browser(tmp_path, page_load_strategy="none")
    try:
        yield driver
    finally:
        driver.quit()


def fill(driver, url, to, subject, body, path):
    driver.get(url)
    WebDriverWait(driver, 30).until(lambda d: d.find_elements(By.ID, "attach"))
    driver.find_element(By.ID, "to").send_keys(to)
    driver.find_element(By.ID, "subject").send_keys(subject)
    driver.find_element(By.ID, "body").send_keys(body)
    driver.find_element(By.ID, "attach").send_keys(path)


def submit(driver):
    # Submitted from a timer, so that the call returns at once.
    driver.execute_script("setTimeout(function () { document.getElementById('compose').submit(); }, 0);")


def result(driver):
    WebDriverWait(driver, 60).until(lambda d: d.find_elements(By.ID, "result"))
    return {name: driver.find_element(By.ID, name).text for name in ("result", "upload", "user", "messageid", "uid")}


def inbox(site, account):
    client = poplib.POP3("127.0.0.1", site.folder.pop3, timeout=30)
    try:
        client.user(account)
        client.pass_("pw")
        return [email.message_from_bytes(b"\r\n".join(client.retr(n)[1]), policy=email.policy.default)
                for n in range(1, client.stat()[0] + 1)]
    finally:
        client.quit()


def attachments(message):
    return {part.get_filename(): hashlib.sha256(part.get_payload(decode=True)).hexdigest()
            for part in message.iter_attachments()}


def test_a_browser_upload_arrives_with_identical_bytes(site, browser):
    path, digest = attachment_file(site.files, "measurements.bin", 1)
    fill(browser, site.url, "Bob <bob@example.test>", "Measurements", "Hello Bob,\n.\nthe data is attached.", path)
    submit(browser)
    shown = result(browser)
    assert shown["result"] == "+OK send mail successful", shown
    assert (shown["upload"], shown["user"]) == ("0", "alice")
    assert shown["uid"].startswith("alice.example.test.quorvexserver.")
    got = inbox(site, "bob")[-1]
    assert got["Message-ID"] == shown["messageid"]
    assert (got["From"], got["To"], got["Subject"]) == ("Alice <alice@example.test>", "Bob <bob@example.test>",
                                                        "Measurements")
    assert got.get_body(preferencelist=("plain",)).get_content().replace("\r\n", "\n").rstrip("\n") == \
        "Hello Bob,\n.\nthe data is attached."
    assert attachments(got) == {"measurements.bin": digest}
    # Nothing of the send is left in the compose folders.
    assert not os.listdir(os.path.join(os.path.dirname(site.pages), "websmtp"))


def test_two_tabs_of_one_account_send_at_once(site, browser):
    before = len(inbox(site, "bob"))
    files = [attachment_file(site.files, "tab%d.bin" % n, 10 + n) for n in (1, 2)]
    tabs = [browser.current_window_handle]
    browser.switch_to.new_window("tab")
    tabs.append(browser.current_window_handle)
    for n, handle in enumerate(tabs, 1):
        browser.switch_to.window(handle)
        fill(browser, site.url + "?tab=%d" % n, "bob@example.test", "tab %d" % n, "from tab %d" % n, files[n - 1][0])
    # Both forms go up together; each page waits until the other's upload is
    # in before it sends.
    for handle in tabs:
        browser.switch_to.window(handle)
        submit(browser)
    for handle in tabs:
        browser.switch_to.window(handle)
        assert result(browser)["result"] == "+OK send mail successful"
    received = {m["Subject"]: attachments(m) for m in inbox(site, "bob")[before:]}
    assert received == {"tab %d" % n: {"tab%d.bin" % n: files[n - 1][1]} for n in (1, 2)}
