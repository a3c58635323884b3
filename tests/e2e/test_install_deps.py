"""scripts/install-deps.sh against a fake apt-get and dpkg-query in a folder
standing for the root: only the run lists without --with-tests; the test
packages installed while a policy-rc.d forbids every service start; the
policy that was there before put back; what the install enabled disabled
again, and nothing else touched."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
from quorvex_program import SOURCE  # noqa: E402

SCRIPT = os.path.join(SOURCE, "scripts", "install-deps.sh")
APT = os.path.join(SOURCE, "packaging", "apt")

FAKE_APT_GET = r'''#!/bin/sh
# Records each call with the policy in force, and "installs" a mail server
# that enables its services the way Debian's maintainer scripts do.
policy="$QUORVEX_INSTALL_ROOT/usr/sbin/policy-rc.d"
verdict=none
[ -x "$policy" ] && { "$policy" postfix start; verdict=$?; }
echo "$verdict $*" >> "$FAKE_LOG"
case " $* " in
  *" postfix "*)
    ln -s /lib/systemd/system/postfix.service "$QUORVEX_INSTALL_ROOT/etc/systemd/system/multi-user.target.wants/postfix.service"
    ln -s ../init.d/postfix "$QUORVEX_INSTALL_ROOT/etc/rc2.d/S01postfix"
    mkdir -p "$QUORVEX_INSTALL_ROOT/etc/systemd/system/timers.target.wants"
    ln -s /lib/systemd/system/logrotate.timer "$QUORVEX_INSTALL_ROOT/etc/systemd/system/timers.target.wants/" ;;
esac
'''


def packages(*lists):
    names = set()
    for name in lists:
        with open(os.path.join(APT, name)) as f:
            names.update(line.split("#")[0].strip() for line in f)
    return names - {""}


def run_script(tmp_path, *arguments):
    root = tmp_path / "root"
    wants = root / "etc" / "systemd" / "system" / "multi-user.target.wants"
    wants.mkdir(parents=True)
    (root / "etc" / "rc2.d").mkdir(parents=True)
    (root / "usr" / "sbin").mkdir(parents=True)
    # What the machine had before: the administrator's own policy and an
    # enabled service of its own.
    (root / "usr" / "sbin" / "policy-rc.d").write_text("#!/bin/sh\nexit 0  # the administrator's\n")
    os.chmod(root / "usr" / "sbin" / "policy-rc.d", 0o755)
    os.symlink("/lib/systemd/system/ssh.service", wants / "ssh.service")
    fake = tmp_path / "bin"
    fake.mkdir()
    (fake / "apt-get").write_text(FAKE_APT_GET)
    (fake / "dpkg-query").write_text("#!/bin/sh\nexit 1\n")  # nothing is installed
    for tool in ("apt-get", "dpkg-query"):
        os.chmod(fake / tool, 0o755)
    log = tmp_path / "apt.log"
    env = dict(os.environ, PATH="%s:%s" % (fake, os.environ["PATH"]), QUORVEX_INSTALL_ROOT=str(root),
               FAKE_LOG=str(log))
    result = subprocess.run(["bash", SCRIPT, *arguments], env=env, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    calls = [line.split() for line in log.read_text().splitlines()]
    return root, calls, result.stdout


def test_the_run_command_installs_only_what_building_and_running_need(tmp_path):
    _, calls, _ = run_script(tmp_path)
    run_lists = [n for n in os.listdir(APT) if not n.startswith("test-")]
    installs = [call for call in calls if "install" in call]
    assert len(installs) == 1
    installed = {word for word in installs[0][1:] if not word.startswith("-") and word != "install"}
    assert installed == packages(*run_lists)
    assert not installed & {"postfix", "dovecot-pop3d", "postgresql", "dnsmasq-base", "swaks", "apache2"}


def test_test_packages_are_installed_without_starting_or_enabling_services(tmp_path):
    root, calls, out = run_script(tmp_path, "--with-tests")
    installs = [call for call in calls if "install" in call]
    assert len(installs) == 2
    # The run lists under the administrator's policy, the test lists under
    # one that forbids every start.
    assert installs[0][0] == "0" and installs[1][0] == "101"
    assert "postfix" in installs[1] and "postfix" not in installs[0]
    policy = root / "usr" / "sbin" / "policy-rc.d"
    assert policy.read_text() == "#!/bin/sh\nexit 0  # the administrator's\n"
    assert os.access(policy, os.X_OK)
    wants = root / "etc" / "systemd" / "system" / "multi-user.target.wants"
    assert sorted(os.listdir(wants)) == ["ssh.service"]
    assert os.listdir(root / "etc" / "rc2.d") == []
    # A timer starts no server: it stays enabled.
    assert os.listdir(root / "etc" / "systemd" / "system" / "timers.target.wants") == ["logrotate.timer"]
    assert "Disabled the service postfix.service" in out
