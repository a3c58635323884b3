"""A PHP script on the command line (PHP's FFI) uses the component the way a
web-mail page does: through the shipped PHP class, which creates objects
through the registration file, against the real QuorvexServer."""
import os
import shutil
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import webcom_env  # noqa: E402

SCRIPT = r"""<?php
require $argv[1] . '/QuorvexCOM.php';
QuorvexCOM::$registry = $argv[2];
$pop3 = new QuorvexCOM('QuorvexCOM.POP3');
$pop3->Login('vera:127.0.0.1', 'pw');
$pop3->CreateUserPath('vera:127.0.0.1');
$pop3->GetMailData(2);
printf("%s|%d|%s|%s\n", $pop3->LastResponse, $pop3->LoginSuccess, $pop3->Subject, trim($pop3->Body));
$pop3->GetAttachInfo(1);
echo $pop3->AttachFileName, "\n";
$pop3->Download(rawurldecode($pop3->AttachURL), new QuorvexResponse());
echo "\n", $pop3->LastResponse, "|";
$pop3->Download('/x', new QuorvexRequest());  // a request is no response
echo $pop3->LastResponse, "\n";
$admin = new QuorvexCOM('QuorvexCOM.Admin.1');
$admin->AuthLogin('vera', 'pw');
$admin->Open('vera', 'AutoReplyInfo');
$admin->propertyPut('Value', 'Subject', 'away');
echo $admin->LastResponse, "|", $admin->Value('Subject'), "|", $admin->lastStatus(), "\n";
try {
    $admin->NoSuchMember();
} catch (QuorvexCOMException $e) {
    printf("%08X\n", $e->getCode() & 0xFFFFFFFF);
}
"""


def test_php_page_reads_mail_through_the_registration_file(tmp_path):
    if not shutil.which("php"):
        pytest.fail("php (php8.2-cli) is not installed; packaging/apt/test-webcom.txt lists it")
    site = webcom_env.Installation(tmp_path)
    try:
        assert site.component.register() == 0
        pages = os.path.join(site.path, "WebMail")
        os.makedirs(pages)
        shutil.copy(webcom_env.PHP_CLASS, pages)
        shutil.copy(webcom_env.HEADER, pages)
        script = tmp_path / "page.php"
        script.write_text(SCRIPT)
        site.signup("vera", "pw")
        site.send("vera@example.test", "Subject: from php\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                  "--b\r\nContent-Type: text/plain\r\n\r\nhello page\r\n--b\r\n"
                  "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"a.bin\"\r\n"
                  "Content-Transfer-Encoding: base64\r\n\r\nAAECAw==\r\n--b--\r\n")
        result = subprocess.run(["php", "-d", "display_errors=stderr", str(script), pages,
                                 os.path.join(site.path, "ComRegistry.ini")],
                                capture_output=True, timeout=60)
        assert result.returncode == 0, result.stderr.decode("latin-1")
        lines = result.stdout.split(b"\n")
        assert lines[0] == b"+OK Read Mail Successful|1|from php|hello page"
        assert lines[1] == b"a.bin"
        assert lines[2] == b"\x00\x01\x02\x03"  # the attachment as the download wrote it
        assert lines[3] == b"+OK|-ERR download error"
        assert lines[4] == b"+OK |away|0"
        assert lines[5] == b"80020006"
    finally:
        site.stop()
