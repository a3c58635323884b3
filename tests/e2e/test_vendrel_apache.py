"""The web directory installer Vendrel.so, called through ctypes, against a
private Apache: what the two kinds of directory serve, repeated and removed
publications, unsafe input, and a configuration that Apache refuses."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import native_library  # noqa: E402
from apache_instance import DEFAULT_MODULES, ApacheInstance, web_folder  # noqa: E402

VENDREL = os.path.join(native_library.BUILD, "vdirinstall", "Vendrel.so")

PAGE = b"""<?php
$ffi = FFI::cdef("int abs(int);");
echo "php ", $ffi->abs(-42), "\\n";
"""
SCRIPT_IN_DATA = b'<?php echo "this ran"; ?>\n'


def vendrel(apache, name, folder, document, script):
    result, _ = native_library.call(VENDREL, "Vendrel", name, folder, document, script, env=apache.environment())
    return result


def snippets(apache):
    """{file name: bytes} of the instance's configuration folder."""
    found = {}
    for name in sorted(os.listdir(apache.conf_folder)):
        with open(os.path.join(apache.conf_folder, name), "rb") as f:
            found[name] = f.read()
    return found


def make_folders(base):
    pages = os.path.join(base, "WebMail")
    data = os.path.join(base, "maildata")
    os.makedirs(os.path.join(data, "user", "work"))
    os.makedirs(pages)
    for folder, _, _ in os.walk(base):
        os.chmod(folder, 0o755)
    files = {os.path.join(pages, "index.php"): PAGE, os.path.join(data, "x.php"): SCRIPT_IN_DATA,
             os.path.join(data, "user", "work", "body.html"): b"<script>alert(1)</script>\n"}
    for path, data_bytes in files.items():
        with open(path, "wb") as f:
            f.write(data_bytes)
        os.chmod(path, 0o644)
    return pages, data


def test_script_and_plain_directories_are_served_as_decided():
    with web_folder() as base, ApacheInstance(base) as apache:
        pages, data = make_folders(base)
        apache.start()
        # Twice each: the second call replaces the first.
        for _ in range(2):
            assert vendrel(apache, "mail", pages, "index.php", 1) == 1
            assert vendrel(apache, "maildata", data + "/", "xxx.xxx", 0) == 1
        assert sorted(snippets(apache)) == ["quorvex-mail.conf", "quorvex-maildata.conf"]

        # PHP runs in "mail" (default document, FFI usable).
        status, _, body = apache.wait_for("/mail/", lambda s, h, b: s == 200)
        assert body == b"php 42\n"

        # In "maildata" nothing runs: the script comes back as its bytes,
        # with both protective headers.
        status, headers, body = apache.get("/maildata/x.php")
        assert (status, body) == (200, SCRIPT_IN_DATA)
        assert headers["x-content-type-options"] == "nosniff"
        assert headers["content-security-policy"] == "sandbox"
        status, headers, body = apache.get("/maildata/user/work/body.html")
        assert status == 200 and headers["content-security-policy"] == "sandbox"
        # No folder listing.
        for folder in ("/maildata/", "/maildata/user/", "/maildata/user/work/"):
            status, _, body = apache.get(folder)
            assert status in (403, 404) and b"body.html" not in body and b"work" not in body

        # Removal: the directory is gone once the reload took effect.
        assert vendrel(apache, "maildata", None, None, 0) == 1
        apache.wait_for("/maildata/x.php", lambda s, h, b: s == 404)
        assert sorted(snippets(apache)) == ["quorvex-mail.conf"]
        assert apache.get("/mail/")[0] == 200
        # Removing what is not there is no failure.
        assert vendrel(apache, "maildata", None, None, 0) == 1


def test_unsafe_names_and_folders_write_nothing():
    with web_folder() as base, ApacheInstance(base) as apache:
        pages, _ = make_folders(base)
        apache.start()
        assert vendrel(apache, "mail", pages, "index.php", 1) == 1
        before = snippets(apache)
        refused = [
            ("mail", pages + '"\nAlias /etc "/etc', "index.php", 1),
            ("mail", pages + "\nAlias /x /etc", "index.php", 1),
            ("mail", pages + "/${HOME}", "index.php", 1),
            ("mail", "relative/folder", "index.php", 1),
            ("mail", "/", "index.php", 1),
            ("mail", pages, "index.php\nAlias /x /etc", 1),
            ("mail", pages, "../x.php", 1),
            ("a/b", pages, "index.php", 1),
            ("..", pages, "index.php", 1),
            ("", pages, "index.php", 1),
            ("mail data", pages, "index.php", 1),
            ("x" * 260, pages, "index.php", 1),
            ("a/b", None, None, 0),
        ]
        for name, folder, document, script in refused:
            assert vendrel(apache, name, folder, document, script) == 0, (name, folder, document)
            assert snippets(apache) == before, (name, folder, document)
        assert apache.get("/mail/")[0] == 200

        # No Apache configuration folder (no web server installed): 0.
        missing = dict(apache.environment(), QUORVEX_APACHE_CONF_DIR=os.path.join(base, "no-such-folder"))
        assert native_library.call(VENDREL, "Vendrel", "mail", pages, "index.php", 1, env=missing)[0] == 0
        assert not os.path.exists(missing["QUORVEX_APACHE_CONF_DIR"])


def test_a_configuration_apache_refuses_keeps_the_previous_one_served():
    # Without mod_headers Apache refuses the plain directory's headers.
    modules = tuple(m for m in DEFAULT_MODULES if m != "headers")
    with web_folder() as base, ApacheInstance(base, modules=modules) as apache:
        _, data = make_folders(base)
        apache.start()
        assert vendrel(apache, "maildata", data, "xxx.xxx", 1) == 1
        apache.wait_for("/maildata/x.php", lambda s, h, b: (s, b) == (200, b"this ran"))
        before = snippets(apache)

        result, errors = native_library.call(VENDREL, "Vendrel", "maildata", data, "xxx.xxx", 0,
                                             env=apache.environment())
        assert result == 0
        assert "Header" in errors  # Apache's own complaint is passed on
        assert snippets(apache) == before
        # A new directory that Apache refuses leaves no file behind.
        assert vendrel(apache, "other", data, "xxx.xxx", 0) == 0
        assert snippets(apache) == before
        # The server still runs the previous configuration, and a reload
        # of the files on disk is still accepted.
        apache.reload()
        apache.wait_for("/maildata/x.php", lambda s, h, b: (s, b) == (200, b"this ran"))
        assert apache.get("/other/x.php")[0] == 404
