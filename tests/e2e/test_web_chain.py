"""The whole web-mail chain on a freshly set-up program folder: the private
Apache includes the web directories that set-up published, a PHP page in
"mail" logs in through the web-mail component (created through the
registration file that set-up's registration wrote) as a signed-up account
and shows its welcome message, and curl fetches the message's text from
"maildata"."""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import account_client as ac  # noqa: E402
from apache_instance import ApacheInstance, web_folder  # noqa: E402
from fresh_install import FreshInstall  # noqa: E402
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
            assert re.fullmatch(r"/maildata/reader/.+/body\.txt", url), url

            fetched = subprocess.run(["curl", "-s", "-D", "-", apache.url(url)], capture_output=True, timeout=30)
            head, _, text = fetched.stdout.partition(b"\r\n\r\n")
            assert head.startswith(b"HTTP/1.1 200"), fetched
            assert b"X-Content-Type-Options: nosniff" in head
            assert b"QuorvexServer mail server" in text
            assert program.stop()[0] == 0
