"""`cmake --install --prefix` into a temporary folder, watched with strace:
nothing is written outside the prefix, the unit template names the installed
program and passes systemd's own check, and the installed program, started
from another folder, finds its schema and language files in the prefix (no
path of the source tree is compiled into it)."""
import os
import re
import shutil
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
from quorvex_program import SOURCE, ProgramFolder, RunningProgram  # noqa: E402

BUILD = os.path.realpath(os.environ.get("QUORVEX_BUILD_DIR", ""))

# System calls that write to the path(s) they name, and which argument
# strings are not written paths (the target of a symbolic link).
WRITING_CALLS = {"mkdir", "mkdirat", "rename", "renameat", "renameat2", "unlink", "unlinkat", "rmdir", "symlink",
                 "symlinkat", "link", "linkat", "chmod", "fchmodat", "chown", "lchown", "fchownat", "utimensat",
                 "truncate", "creat"}
OPENING_CALLS = {"open", "openat", "openat2"}
CALL = re.compile(r"^(\w+)\((.*)\)\s+=\s+(-?\d+)")
STRING = re.compile(r'"((?:[^"\\]|\\.)*)"')


class InstalledProgram(RunningProgram):
    """The installed program run on `folder` from the working folder `cwd`."""

    def __init__(self, folder, program, cwd):
        self.program, self.cwd = program, cwd
        super().__init__(folder, ("-service",), None)

    def launch(self):
        self.process = subprocess.Popen([self.program, *self.arguments], cwd=self.cwd, env=self.folder.environment(),
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def written_paths(trace_files):
    """Every path a successful system call of the traces wrote to."""
    paths = set()
    for name in trace_files:
        with open(name, encoding="latin-1") as f:
            for line in f:
                match = CALL.match(line)
                if not match or int(match.group(3)) < 0:
                    continue
                call, arguments = match.group(1), match.group(2)
                strings = STRING.findall(arguments)
                if call in OPENING_CALLS:
                    if strings and re.search(r"O_WRONLY|O_RDWR|O_CREAT|O_TRUNC", arguments):
                        paths.add(strings[0])
                elif call in WRITING_CALLS:
                    paths.update(strings[1:] if call.startswith("symlink") else strings)
    return paths


@pytest.fixture(scope="module")
def installed(tmp_path_factory):
    if shutil.which("strace") is None:
        pytest.fail("strace is not installed (packaging/apt/test-build.txt)")
    base = tmp_path_factory.mktemp("install")
    prefix = os.path.join(str(base), "prefix")
    elsewhere = os.path.join(str(base), "elsewhere")
    traces = os.path.join(str(base), "traces")
    os.makedirs(elsewhere)
    os.makedirs(traces)
    run = subprocess.run(["strace", "-f", "-ff", "-qq", "-e", "trace=%file", "-o", os.path.join(traces, "t"),
                          "cmake", "--install", BUILD, "--prefix", prefix],
                         cwd=elsewhere, capture_output=True, timeout=600)
    assert run.returncode == 0, run.stderr.decode("latin-1")
    written = written_paths(os.path.join(traces, name) for name in os.listdir(traces))
    return prefix, elsewhere, written


def test_nothing_is_written_outside_the_prefix(installed):
    prefix, elsewhere, written = installed
    absolute = {os.path.normpath(os.path.join(elsewhere, path)) for path in written}
    # CMake's own record of what it installed is the one file it keeps in
    # the build tree.
    allowed = {os.path.join(BUILD, "install_manifest.txt")}
    outside = sorted(p for p in absolute - allowed if not (p + "/").startswith(prefix + "/") and p != "/dev/null")
    assert outside == []
    assert os.path.join(prefix, "bin", "QuorvexServer") in absolute  # the trace saw the install


def test_the_unit_template_names_the_installed_program_and_passes_systemd_verify(installed):
    prefix, _, _ = installed
    unit = os.path.join(prefix, "lib", "systemd", "system", "quorvex.service")
    with open(unit) as f:
        text = f.read()
    lines = set(text.splitlines())
    assert "ExecStart=%s/bin/QuorvexServer -service" % prefix in lines
    for expected in ["User=quorvex", "StateDirectory=quorvex", "Environment=QUORVEX_HOME=/var/lib/quorvex",
                     "AmbientCapabilities=CAP_NET_BIND_SERVICE", "CapabilityBoundingSet=CAP_NET_BIND_SERVICE",
                     "NoNewPrivileges=yes", "ProtectSystem=strict", "ProtectHome=yes", "PrivateTmp=yes",
                     "UMask=0077"]:
        assert expected in lines
    assert "@" not in text.replace("multi-user.target", "")  # every placeholder filled in
    verify = subprocess.run(["systemd-analyze", "verify", "--man=no", unit], capture_output=True, timeout=120)
    assert verify.returncode == 0, verify.stderr.decode("latin-1")
    assert b"quorvex.service" not in verify.stderr


def test_no_source_path_is_in_the_program(installed):
    prefix, elsewhere, _ = installed
    program = os.path.join(prefix, "bin", "QuorvexServer")
    rodata = os.path.join(elsewhere, "rodata")
    subprocess.run(["objcopy", "-O", "binary", "--only-section=.rodata", program, rodata], check=True)
    with open(rodata, "rb") as f:
        texts = f.read()
    with open(program, "rb") as f:
        if b"__asan_init" in f.read():
            # The sanitizers keep the source locations of their reports.
            pytest.skip("a sanitizer build carries source paths for its reports")
    for tree in {os.path.realpath(SOURCE), BUILD}:
        assert tree.encode() not in texts


def test_the_installed_program_finds_its_schema_and_language_files(installed, tmp_path):
    prefix, _, _ = installed
    # A language only the prefix has: its start line shows that the
    # installed language files were used.
    with open(os.path.join(prefix, "share", "quorvex", "Language", "Testish.ini"), "w") as f:
        f.write("[Info]\ncharset=iso-8859-1\n[String]\n"
                "QuorvexServer started successfully.=Testish: up.\n")
    home = ProgramFolder(tmp_path)
    assert not os.path.exists(os.path.join(home.path, "schema.sql"))
    assert not os.path.exists(os.path.join(home.path, "Language"))
    home.set("System", "Language", "Testish")
    cwd = os.path.join(str(tmp_path), "somewhere-else")
    os.makedirs(cwd)
    with InstalledProgram(home, os.path.join(prefix, "bin", "QuorvexServer"), cwd) as program:
        program.wait_serving()
        assert program.stop()[0] == 0
    assert "] Testish: up." in home.system_log()
    # The mail database was made from the installed schema.
    assert os.path.getsize(os.path.join(home.path, "db", "db.sqlite")) > 0
