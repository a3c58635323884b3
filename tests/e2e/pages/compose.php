<?php
/*
 * The compose page of the browser tests: the form, and on POST the whole
 * send through QuorvexCOM.SMTP, as a web-mail page does it. The account
 * and its sender address come as hidden fields of the form; the result is
 * shown in elements the test reads. With "?tab=N" the page waits, once
 * its form is uploaded, until two pages have got that far ("barrier" in
 * this folder), so that two sends of one account overlap for certain.
 */
require __DIR__ . '/QuorvexCOM.php';

if ($_SERVER['REQUEST_METHOD'] !== 'POST') {
    $tab = isset($_GET['tab']) ? '?tab=' . (int)$_GET['tab'] : '';
    ?>
<!DOCTYPE html>
<html><body>
<form id="compose" method="post" action="compose.php<?= $tab ?>" enctype="multipart/form-data">
  <input type="hidden" name="user" value="alice">
  <input type="hidden" name="from" value="Alice &lt;alice@example.test&gt;">
  <input name="to" id="to">
  <input name="subject" id="subject">
  <textarea name="body" id="body"></textarea>
  <input type="file" name="attach" id="attach">
  <button id="send">Send</button>
</form>
</body></html>
    <?php
    exit;
}

$smtp = new QuorvexCOM('QuorvexCOM.SMTP');
$smtp->CreateUserPath('alice:' . $_SERVER['REMOTE_ADDR']);
$smtp->StartUpload(new QuorvexRequest());
$uploaded = $smtp->lastStatus();
$user = $smtp->GetFieldValue('user');
if (isset($_GET['tab'])) {
    touch(__DIR__ . '/barrier/' . (int)$_GET['tab'] . '.ready');
    $deadline = microtime(true) + 30;
    while (count(glob(__DIR__ . '/barrier/*.ready')) < 2 && microtime(true) < $deadline) {
        usleep(20000);
    }
}
$smtp->SetFrom('from');
$smtp->SetTo('to');
$smtp->SetSubject('subject');
$smtp->SetBody('body');
$smtp->AddAttach('attach');
$smtp->SaveMessage = 1;
$smtp->SendMail();
?>
<!DOCTYPE html>
<html><body>
<p id="result"><?= htmlspecialchars($smtp->LastResponse) ?></p>
<p id="upload"><?= $uploaded ?></p>
<p id="user"><?= htmlspecialchars($user) ?></p>
<p id="messageid"><?= htmlspecialchars($smtp->MessageID) ?></p>
<p id="uid"><?= htmlspecialchars($smtp->UID) ?></p>
<p id="size"><?= (int)$smtp->Size ?></p>
</body></html>
