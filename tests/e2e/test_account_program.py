"""The account server inside the real QuorvexServer program: a web-mail
sign-up, a password change through the account server, and Python's poplib
against the same program accepting the new password and refusing the old."""
import os
import poplib
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import account_client as ac  # noqa: E402
from quorvex_program import ProgramFolder  # noqa: E402


def test_sign_up_and_password_change_reach_pop3(tmp_path):
    home = ProgramFolder(tmp_path)
    home.set("WebMail", "IP", "127.0.0.1")
    with home.start() as program:
        program.wait_serving()
        assert ac.signup(home.admin, "webuser:127.0.0.1", password="one", user_name="Web User")[-1] == "+OK"
        assert os.path.isdir(os.path.join(home.path, "mail", "webuser"))
        assert ac.pop3_count(home.pop3, "webuser", "one") == 1
        assert ac.update(home.admin, "webuser", "one", password="two", user_name="Web User")[-1] == "+OK"
        assert ac.pop3_count(home.pop3, "webuser", "two") == 1
        with pytest.raises(poplib.error_proto):
            ac.pop3_count(home.pop3, "webuser", "one")
        assert ac.delete(home.admin, "webuser", "two") == ["+OK", "+OK"]
        assert not os.path.exists(os.path.join(home.path, "mail", "webuser"))
        code, _, _, _ = program.stop()
    assert code == 0
