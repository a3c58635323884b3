"""Peer checks of the MIME library, the stored-message parser and the composer.

Messages our composer writes are read by Python's email package and
unpacked by munpack; messages Python's email package writes are read by our
parser and our entity loader; encoded words agree with email.header both
ways. Our side is driven through the test-only mime_tool program, which
prints every byte string as hex.
"""
import email
import email.header
import email.policy
import json
import os
import random
import shutil
import subprocess
import tempfile
from email.header import Header
from email.message import EmailMessage
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText

import pytest

BUILD = os.environ.get("QUORVEX_BUILD_DIR", "")
TOOL = os.path.join(BUILD, "tests", "mime_tool")
CRLF = email.policy.default.clone(linesep="\r\n")


def tool(*args):
    done = subprocess.run([TOOL, *args], capture_output=True, timeout=60)
    assert done.returncode == 0, (args, done.returncode, done.stderr)
    return json.loads(done.stdout)


def unhex(text):
    return bytes.fromhex(text)


def unstuff(stored):
    """The message as it travels: a dot that starts a line is undoubled."""
    lines = stored.split(b"\r\n")
    return b"\r\n".join(line[1:] if line.startswith(b".") else line for line in lines)


@pytest.fixture
def folder():
    path = tempfile.mkdtemp(prefix="quorvex-mime-")
    yield path
    shutil.rmtree(path, ignore_errors=True)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def read(path):
    with open(path, "rb") as f:
        return f.read()


def compose(folder, body, attachments=(), charset="utf-8", **fields):
    body_file = write(os.path.join(folder, "body.in"), body)
    out = os.path.join(folder, "composed.eml")
    args = ["compose", out, body_file, "--charset", charset]
    for key, value in fields.items():
        args += ["--" + key, value]
    if attachments:
        args += ["--attach", ";".join(attachments)]
    assert tool(*args)["result"] == 1
    return read(out)


# ---- our composer, read by real peers ---------------------------------------

def test_composed_message_reads_back_in_python_email(folder):
    rng = random.Random(7)
    binary = bytes(rng.randrange(256) for _ in range(70001))
    text_file = b"line one\r\n.starts with a dot\r\nlast\r\n"
    paths = [write(os.path.join(folder, "blob.bin"), binary), write(os.path.join(folder, "notes.txt"), text_file),
             write(os.path.join(folder, "empty.dat"), b"")]
    subject = "Gr\u00fc\u00dfe \u4f60\u597d " + "long " * 60
    body = "Hello \u00e9t\u00e9\r\n.a dot line\r\n..two\r\nend\r\n".encode("utf-8")
    stored = compose(folder, body, paths, subject=subject, to="Ann <ann@example.com>; bob@example.com",
                     cc='"Smith, Carl" <carl@example.com>', **{"from": "sender@example.com"})
    assert b"\n." not in stored.replace(b"\r\n..", b""), "every line-leading dot is doubled"
    assert max(len(line) for line in stored.split(b"\r\n\r\n", 1)[0].split(b"\r\n")) <= 998
    msg = email.message_from_bytes(unstuff(stored), policy=email.policy.default)
    assert str(msg["Subject"]) == subject
    assert [a.addr_spec for a in msg["To"].addresses] == ["ann@example.com", "bob@example.com"]
    assert [a.display_name for a in msg["Cc"].addresses] == ["Smith, Carl"]
    assert msg.get_content_type() == "multipart/mixed"
    assert msg.get_body(preferencelist=("plain",)).get_content().encode("utf-8") == body
    got = {part.get_filename(): part.get_content() for part in msg.iter_attachments()}
    assert got == {"blob.bin": binary, "notes.txt": text_file, "empty.dat": b""}
    for part in msg.walk():
        assert not part.defects, (part.get_content_type(), part.defects)


def test_composed_message_unpacks_with_munpack(folder):
    rng = random.Random(11)
    binary = bytes(rng.randrange(256) for _ in range(20000))
    pdf = b"%PDF-1.4\n" + bytes(rng.randrange(256) for _ in range(3000))
    paths = [write(os.path.join(folder, "image.bin"), binary), write(os.path.join(folder, "paper.pdf"), pdf)]
    stored = compose(folder, b"see attached\r\n", paths, subject="files", to="a@example.com",
                     **{"from": "b@example.com"})
    message = write(os.path.join(folder, "wire.eml"), unstuff(stored))
    out = os.path.join(folder, "unpacked")
    os.mkdir(out)
    done = subprocess.run(["munpack", "-q", "-C", out, message], capture_output=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert read(os.path.join(out, "image.bin")) == binary
    assert read(os.path.join(out, "paper.pdf")) == pdf


def test_single_part_message_and_8bit_headers(folder):
    body = "Cz\u0119\u015b\u0107\r\n".encode("utf-8")
    stored = compose(folder, body, subject="\u00dcber", to='"J\u00fcrgen" <j@example.com>',
                     **{"from": "\u00c5sa <asa@example.com>"})
    header = stored.split(b"\r\n\r\n", 1)[0]
    assert all(b < 128 for b in header), "no raw 8-bit byte in the header"
    msg = email.message_from_bytes(unstuff(stored), policy=email.policy.default)
    assert str(msg["Subject"]) == "\u00dcber"
    assert msg["To"].addresses[0].display_name == "J\u00fcrgen"
    assert msg["From"].addresses[0].display_name == "\u00c5sa"
    assert msg.get_content_charset() == "utf-8"
    assert msg.get_content().encode("utf-8") == body


# ---- Python's messages, read by our parser and entity loader ----------------

def python_nested_message(rng):
    plain = "Plain text \u00e9\u00e8 with a long line " + "word " * 40 + "\n.dot\n"
    html = "<html><body><p>HTML \u00e9</p><img src=\"cid:logo@x\"></body></html>\n"
    binary = bytes(rng.randrange(256) for _ in range(5000))
    qp_text = ("caf\u00e9 = tea\n" * 30).encode("latin-1")
    msg = EmailMessage(policy=CRLF)
    msg["From"] = "Ann <ann@example.com>"
    msg["To"] = "bob@example.com"
    msg["Subject"] = "Nested \u4f60\u597d"
    msg.set_content(plain, cte="quoted-printable")
    msg.add_alternative(html, subtype="html", cte="base64")
    msg.add_attachment(binary, maintype="application", subtype="octet-stream", filename="data.bin")
    msg.add_attachment(qp_text, maintype="text", subtype="plain", filename="menu.txt", cte="quoted-printable")
    return msg, plain, html, binary, qp_text


def test_python_nested_message_parses_into_the_same_files(folder):
    msg, plain, html, binary, qp_text = python_nested_message(random.Random(3))
    wire = msg.as_bytes(policy=CRLF)
    assert b"multipart/alternative" in wire and b"multipart/mixed" in wire
    write(os.path.join(folder, "mail.eml"), wire)
    result = tool("parse", folder, "mail.eml")
    assert result["result"] == 0
    assert unhex(result["subject"]) == "Nested \u4f60\u597d".encode("utf-8")
    crlf = plain.replace("\n", "\r\n").encode("utf-8")
    assert unhex(result["body_text"]) == crlf
    assert read(unhex(result["text_path"]).decode()) == crlf
    assert read(unhex(result["html_path"]).decode()) == html.replace("\n", "\r\n").encode("utf-8").replace(
        b'src="cid:', b'src="')
    attachments = {os.path.basename(unhex(p).decode()): read(unhex(p).decode()) for p in result["attachments"]}
    assert attachments == {"data.bin": binary, "menu.txt": qp_text}


def test_python_nested_message_loads_into_the_same_entities(folder):
    msg, plain, html, binary, qp_text = python_nested_message(random.Random(5))
    path = write(os.path.join(folder, "mail.eml"), msg.as_bytes(policy=CRLF))
    result = tool("load", path)
    parts = [(unhex(p["type"]).split(b";")[0], unhex(p["filename"]), unhex(p["content"])) for p in result["parts"]]
    assert parts == [
        (b"text/plain", b"", plain.replace("\n", "\r\n").encode("utf-8")),
        (b"text/html", b"", html.replace("\n", "\r\n").encode("utf-8")),
        (b"application/octet-stream", b"data.bin", binary),
        (b"text/plain", b"menu.txt", qp_text),
    ]


@pytest.mark.parametrize("charset,text", [
    ("utf-8", "Sch\u00f6ne Gr\u00fc\u00dfe aus K\u00f6ln"),
    ("gb2312", "\u4f60\u597d\uff0c\u4e16\u754c \u90ae\u4ef6\u6d4b\u8bd5"),
    ("iso-8859-1", "caf\u00e9 cr\u00e8me br\u00fbl\u00e9e"),
])
def test_encoded_subjects_from_python(folder, charset, text):
    msg = MIMEMultipart()
    msg["Subject"] = Header(text, charset)
    msg["From"] = "a@example.com"
    msg.attach(MIMEText("body text\n", "plain", "us-ascii"))
    attachment = MIMEApplication(b"\x00\x01binary\xff", Name="a.bin")
    attachment["Content-Disposition"] = 'attachment; filename="a.bin"'
    msg.attach(attachment)
    wire = msg.as_bytes(policy=email.policy.compat32.clone(linesep="\r\n"))
    write(os.path.join(folder, "mail.eml"), wire)
    parsed = tool("parse", folder, "mail.eml")
    assert unhex(parsed["subject"]) == text.encode(charset)
    assert unhex(parsed["body_text"]).rstrip(b"\r\n") == b"body text"
    assert [read(unhex(p).decode()) for p in parsed["attachments"]] == [b"\x00\x01binary\xff"]
    loaded = tool("load", os.path.join(folder, "mail.eml"))
    assert unhex(loaded["subject"]) == text.encode(charset)
    # The charset name as Python wrote it (its gb2312 is "eucgb2312_cn").
    written = email.header.decode_header(msg["Subject"].encode())[0][1]
    assert unhex(loaded["subject_charset"]).decode().lower() == written


# ---- encoded words against email.header --------------------------------------

WORD_CASES = [
    ("utf-8", "B", "\u4f60\u597d\u4e16\u754c"),
    ("utf-8", "Q", "caf\u00e9 au lait"),
    ("gb2312", "B", "\u90ae\u4ef6" * 40),
    ("iso-8859-1", "Q", "na\u00efve = r\u00e9sum\u00e9? _under_"),
    ("iso-8859-1", "B", "\u00e9" * 100),
    ("utf-8", "Q", "x" * 200 + "\u00e9"),
]


@pytest.mark.parametrize("charset,letter,text", WORD_CASES)
def test_our_encoded_words_decode_in_python(charset, letter, text):
    raw = text.encode(charset)
    encoded = subprocess.run([TOOL, "ew-encode", letter, charset, raw.hex()], capture_output=True,
                             timeout=60, check=True).stdout.decode("ascii").rstrip("\n")
    words = encoded.split(" ")
    assert all(len(w) <= 75 for w in words), words
    assert all(w.startswith("=?%s?%s?" % (charset, letter)) and w.endswith("?=") for w in words)
    pieces = email.header.decode_header(encoded)
    assert b"".join(p for p, _ in pieces) == raw
    assert {c for _, c in pieces} == {charset}
    assert "".join(str(email.header.make_header(email.header.decode_header(w))) for w in words) == text


@pytest.mark.parametrize("charset,letter,text", WORD_CASES)
def test_python_encoded_words_decode_here(charset, letter, text):
    encoded = Header(text, charset, maxlinelen=76).encode()
    result = tool("ew-decode", encoded)
    assert unhex(result["bytes"]) == text.encode(charset)
    assert unhex(result["charset"]).decode().lower() == email.header.decode_header(encoded)[0][1]
