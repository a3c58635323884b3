#!/usr/bin/python3
"""Fails when a source file includes from a folder it must not depend on,
or does itself what a helper with one home does.

The layers, lowest first: common < mailmodel < servers < accountserver <
app. smsgate is a client library of its own beside common. webcom and
vdirinstall sit on the layers they use, gui on the whole program; nothing
includes any of those three from outside. tests/ may include every layer,
bench/ every layer and tests/; nothing outside them includes either.

Inside every top folder the subfolders form no cycle: two of them never
include each other, even through a third. Files directly in a top folder
(its public face: the C header, the exports) stand above its subfolders
and take no part in that check. An include is resolved the way the
compiler finds it (beside the including file first, then from the include
roots), so "../servers/X.h" and a bare "X.h" count like any other.

Some helpers have one home, and C++ code elsewhere must use it instead of
the system calls beneath: letter case common/AsciiCase (never the C
library's locale-dependent tolower, toupper, strcasecmp ...), shared
libraries common/SharedLibrary (never dlopen, dlsym, dlclose), temporary
files common/TemporaryFile (never mkstemp and the like; an atomic write
makes its own, recognisable, in common/AtomicFile), flushes to disk
common/FileSteps (never fsync, fdatasync and the like, so that a test's
watcher sees every one). Nowhere but
common/AsciiCase may define a case helper of its own (a function or named
lambda such as Lower, ToUpper, StartsWithNoCase) or turn a letter's case by
arithmetic ('A' .. 'Z' with +32 or - 'A' + 'a').

Usage: check_layering.py SOURCE_DIR. Prints one line per fault and exits
1, or exits 0 silently.
"""
import os
import re
import sys

# What each top folder may include besides itself.
PRODUCT = {
    "common": set(),
    "smsgate": set(),
    "mailmodel": {"common"},
    "servers": {"common", "smsgate", "mailmodel"},
    "accountserver": {"common", "smsgate", "mailmodel", "servers"},
    "app": {"common", "smsgate", "mailmodel", "servers", "accountserver"},
    "webcom": {"common", "mailmodel"},
    "vdirinstall": {"common"},
    "gui": {"common", "smsgate", "mailmodel", "servers", "accountserver", "app"},
}
ALLOWED = dict(PRODUCT, tests=set(PRODUCT), bench=set(PRODUCT) | {"tests"})
# Folders the build adds to the include path, after the including file's own.
INCLUDE_ROOTS = {top: [""] for top in PRODUCT}
INCLUDE_ROOTS.update(tests=["", "tests", "tests/gui"], bench=["", "tests"])

SOURCE_ENDINGS = (".h", ".hpp", ".c", ".cc", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
CPP_ENDINGS = (".h", ".hpp", ".cc", ".cpp")
CASE_HOME = {"common/AsciiCase.h", "common/AsciiCase.cpp"}
# System calls that only a helper's home may make: (calls, home files, what to use).
ONE_HOME = [
    (re.compile(r"\b(tolower|toupper|towlower|towupper|strcasecmp|strncasecmp|strcasestr|strcasecmp_l|"
                r"strncasecmp_l|stricmp|strnicmp|_stricmp)\b"), CASE_HOME, "letter case goes through common/AsciiCase"),
    (re.compile(r"\b(dlopen|dlmopen|dlsym|dlvsym|dlclose)\b"), {"common/SharedLibrary.cpp"},
     "libraries are loaded through common/SharedLibrary"),
    (re.compile(r"\b(mkstemp|mkostemp|mkstemps|mkostemps|tmpfile|tmpnam|tempnam)\b"),
     {"common/TemporaryFile.cpp", "common/AtomicFile.cpp"}, "temporary files are made through common/TemporaryFile"),
    (re.compile(r"\b(fsync|fdatasync|syncfs|sync_file_range)\b"), {"common/FileSteps.cpp"},
     "flushes go through common/FileSteps"),
]
# A function definition or a named lambda, with its name.
DEFINITION = re.compile(r"(?:^|[;{}])\s*(?:template\s*<[^;{}]*>\s*)?(?:[\w:<>,*&]+\s+)+[*&]*(?P<name>\w+)\s*"
                        r"\([^;{}()]*(?:\([^;{}()]*\)[^;{}()]*)*\)\s*(?:const\s*)?(?:noexcept\s*)?(?:->\s*[\w:<>]+\s*)?\{"
                        r"|\b(?:auto|const\s+auto)\s+(?P<lambda>\w+)\s*=\s*\[")
CASE_NAME = re.compile(r"(lower|upper)(case|cased|ed)?$|nocase|ignorecase|caseinsensitive|caseless|casefold")
LETTER_PAIR = re.compile(r"'([A-Za-z])'\s*[-+]\s*'([A-Za-z])'")
SHIFT_32 = re.compile(r"'[AZaz]'.*[-+]\s*32\b|[-+]\s*32\b.*'[AZaz]'")
COMMENT_OR_TEXT = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])+\'', re.S)


def unit_of(relative):
    """The subfolder of its top folder a path lies in; None for a file of the top folder itself."""
    parts = relative.split("/")
    return "/".join(parts[:2]) if len(parts) > 2 else None


def resolve(root, relative, target):
    """The path (relative to root) the compiler would take for an include, or None."""
    top = relative.split("/")[0]
    folders = [os.path.dirname(relative)] + INCLUDE_ROOTS[top]
    for folder in folders:
        candidate = os.path.normpath(os.path.join(folder, target))
        if not candidate.startswith("..") and os.path.isfile(os.path.join(root, candidate)):
            return candidate.replace(os.sep, "/")
    return None


def without_comments_and_texts(source):
    """The source with comments and string literals blanked; character literals
    stay (case arithmetic is written with them), line numbers too."""
    def blank(match):
        text = match.group(0)
        if text.startswith("'"):
            return text
        return re.sub(r"[^\n]", " ", text)
    return COMMENT_OR_TEXT.sub(blank, source)


def helper_faults(relative, source):
    """Calls that belong to a helper's home, and case helpers of a file's own."""
    if not relative.endswith(CPP_ENDINGS):
        return []  # C sources cannot use the C++ homes
    faults = []
    code = without_comments_and_texts(source)

    def where(offset):
        return "%s:%d" % (relative, code.count("\n", 0, offset) + 1)

    for calls, homes, advice in ONE_HOME:
        if relative not in homes:
            for match in calls.finditer(code):
                faults.append("%s: calls %s: %s" % (where(match.start()), match.group(1), advice))
    if relative in CASE_HOME:
        return faults
    for match in DEFINITION.finditer(code):
        name = match.group("name") or match.group("lambda")
        if CASE_NAME.search(name.lower()):
            start = match.start("name") if match.group("name") else match.start("lambda")
            faults.append("%s: defines the case helper %s: use common/AsciiCase" % (where(start), name))
    for number, line in enumerate(code.split("\n"), 1):
        same_letter = any(a != b and a.lower() == b.lower() for a, b in LETTER_PAIR.findall(line))
        if same_letter or SHIFT_32.search(line):
            faults.append("%s:%d: turns letter case by arithmetic: use common/AsciiCase" % (relative, number))
    return faults


def main(root):
    faults = []
    edges = {}  # unit -> {unit of the same top folder: first include line}
    for top in sorted(ALLOWED):
        for folder, subfolders, files in os.walk(os.path.join(root, top)):
            subfolders.sort()
            for name in sorted(files):
                if not name.endswith(SOURCE_ENDINGS):
                    continue
                relative = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
                with open(os.path.join(root, relative), encoding="utf-8", errors="replace") as text:
                    source = text.read()
                faults.extend(helper_faults(relative, source))
                for number, line in enumerate(source.split("\n"), 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target = resolve(root, relative, match.group(1))
                    if target is None:
                        continue  # a system, third-party or generated header
                    target_top = target.split("/")[0]
                    source_unit, target_unit = unit_of(relative), unit_of(target)
                    where = '%s:%d: includes "%s"' % (relative, number, match.group(1))
                    if target_top != top and target_top not in ALLOWED.get(top, set()):
                        faults.append("%s: %s/ may not include from %s/" % (where, top, target_top))
                    elif target_top == top and source_unit and target_unit and source_unit != target_unit:
                        edges.setdefault(source_unit, {}).setdefault(target_unit, where)

    # A cycle between units of one top folder: report each edge that lies on one.
    def reaches(start, goal):
        seen, todo = set(), [start]
        while todo:
            unit = todo.pop()
            if unit == goal:
                return True
            if unit not in seen:
                seen.add(unit)
                todo.extend(edges.get(unit, {}))
        return False

    for source_unit, targets in sorted(edges.items()):
        for target_unit, where in sorted(targets.items()):
            if reaches(target_unit, source_unit):
                faults.append("%s: %s/ and %s/ include each other" % (where, source_unit, target_unit))

    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
