"""Calling an exported C function of a library built here through ctypes.

The call runs in a short helper process of Debian's interpreter, so each
call gets its own environment (the installer reads its folders from the
environment) and, in the sanitizer build, the sanitizer runtime that a
library built with it needs is preloaded there and nowhere else.
"""
import json
import os
import subprocess

BUILD = os.environ.get("QUORVEX_BUILD_DIR", "")

CALLER = r"""
import ctypes, json, sys
library = ctypes.CDLL(sys.argv[1])
function = getattr(library, sys.argv[2])
arguments = json.loads(sys.argv[3])
types, values = [], []
for value in arguments:
    if isinstance(value, int):
        types.append(ctypes.c_int); values.append(value)
    else:
        types.append(ctypes.c_char_p); values.append(None if value is None else value.encode("latin-1"))
function.argtypes = types
function.restype = ctypes.c_int
print(function(*values))
"""


def sanitizer_build():
    try:
        with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
            return "QUORVEX_SANITIZE:BOOL=ON" in f.read()
    except OSError:
        return False


def sanitizer_environment():
    """What a process that loads a sanitizer-built library needs."""
    if not sanitizer_build():
        return {}
    runtimes = []
    for name in ("libasan.so", "libubsan.so"):
        path = subprocess.run(["gcc", "-print-file-name=" + name], capture_output=True, text=True).stdout.strip()
        runtimes.append(path)
    return {"LD_PRELOAD": ":".join(runtimes), "ASAN_OPTIONS": "detect_leaks=0"}


def call(library, function, *arguments, env=None, timeout=60):
    """function(*arguments) of the library: ints become int, texts and None
    become char* (latin-1 bytes). Returns (int result, standard error text)."""
    environment = dict(os.environ)
    environment.update(env or {})
    environment.update(sanitizer_environment())
    done = subprocess.run(["/usr/bin/python3", "-c", CALLER, library, function, json.dumps(list(arguments))],
                          env=environment, capture_output=True, text=True, timeout=timeout)
    if done.returncode != 0:
        raise AssertionError("%s(%r) crashed: %s" % (function, arguments, done.stderr))
    return int(done.stdout.strip()), done.stderr
