#!/usr/bin/env python3
"""Checks that every text a program translates has its entry in the program's
catalogue, with a version in each language, and that no entry is left over.

A translated text is a string literal (adjacent literals joined) inside the
arguments of a call to one of the functions that look texts up: CatalogText
itself and the programs' short names for it. The literals are read from the
UTF-8 sources as written, and so are the catalogues (suite/LOCALE/*.LNG,
installed as code page 850 by the build). The form file's quoted texts count
as used: its captions and list headings are looked up when it is loaded.

usage: check_catalogues.py SOURCE_DIR
"""
import pathlib
import re
import sys

# Catalogue -> (folders whose sources look texts up in it, names of the
# functions that do the looking up, files of the suite whose quoted texts
# are looked up).
CATALOGUES = {
    "suite/LOCALE/REPQUOTA.LNG": (["app", "console", "config"], ["CatalogText", "Cat", "Title", "Titles"],
                                  ["suite/FORMS/REPQUOTA.JPN"]),
    "suite/LOCALE/KITPRINT.LNG": (["tools/kitprint"], ["Text"], []),
}

LANGUAGES = ("Galician", "Aranese", "Spanish")


def catalogue_items(text):
    """The items of a catalogue: a quoted item runs to the next quote, any
    other ends at a comma or a line end; blanks before an item are skipped."""
    items = []
    at = 0
    n = len(text)
    while True:
        while at < n and text[at] in " \r\n":
            at += 1
        if at >= n or text[at] == "\x1a":
            return items
        if text[at] == '"':
            end = text.find('"', at + 1)
            if end < 0:
                end = n
            items.append(text[at + 1:end])
            at = end + 1
            while at < n and text[at] not in ",\r\n":
                at += 1
        else:
            end = at
            while end < n and text[end] not in ",\r\n":
                end += 1
            items.append(text[at:end].replace("\t", ""))
            at = end
        if at < n and text[at] == ",":
            at += 1


LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"(?:_cp)?')
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\", "'": "'"}


def unescape(body):
    return re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), m.group(0)), body)


def call_arguments(source, start):
    """The text between the parenthesis at `start` and its partner."""
    depth = 0
    at = start
    while at < len(source):
        c = source[at]
        if c == '"':
            m = LITERAL.match(source, at)
            at = m.end() if m else at + 1
            continue
        if c == "'":
            end = source.find("'", at + 2 if source[at + 1:at + 2] == "\\" else at + 1)
            at = end + 1 if end >= 0 else at + 1
            continue
        if c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
            if depth == 0:
                return source[start + 1:at]
        at += 1
    return source[start + 1:]


def looked_up_texts(source, names):
    """Each literal text passed to one of `names`: adjacent literals joined."""
    call = re.compile(r"\b(?:" + "|".join(names) + r")\s*\(")
    texts = []
    for m in call.finditer(source):
        arguments = call_arguments(source, m.end() - 1)
        # Adjacent literals (separated by blanks only) are one text.
        joined = None
        last_end = None
        for lit in LITERAL.finditer(arguments):
            if joined is not None and arguments[last_end:lit.start()].strip() == "":
                joined += unescape(lit.group(1))
            else:
                if joined is not None:
                    texts.append(joined)
                joined = unescape(lit.group(1))
            last_end = lit.end()
        if joined is not None:
            texts.append(joined)
    return texts


def without_comments(source):
    # Comments may quote texts; string literals keep their "//".
    out = []
    at = 0
    while at < len(source):
        if source.startswith("//", at):
            end = source.find("\n", at)
            at = len(source) if end < 0 else end
            continue
        if source.startswith("/*", at):
            end = source.find("*/", at)
            at = len(source) if end < 0 else end + 2
            continue
        if source[at] == '"':
            m = LITERAL.match(source, at)
            if m:
                out.append(m.group(0))
                at = m.end()
                continue
        out.append(source[at])
        at += 1
    return "".join(out)


def main(argv):
    root = pathlib.Path(argv[1])
    faults = []
    for catalogue, (folders, names, suite_files) in CATALOGUES.items():
        items = catalogue_items((root / catalogue).read_text(encoding="utf-8"))
        if len(items) % 4:
            faults.append(f"{catalogue}: {len(items)} items, not whole entries of four")
        entries = {}
        for k in range(0, len(items) - len(items) % 4, 4):
            key, *versions = items[k:k + 4]
            if key in entries:
                faults.append(f"{catalogue}: {key!r} has two entries (only the first is used)")
                continue
            entries[key] = versions
            for language, version in zip(LANGUAGES, versions):
                if not version:
                    faults.append(f"{catalogue}: {key!r} has no {language} text")
        used = {}
        for folder in folders:
            for source in sorted((root / folder).glob("*")):
                if source.suffix not in (".cpp", ".h") or source.stem.endswith("_test") or \
                        source.name.endswith("_fixture.h") or source.name.startswith("test_"):
                    continue
                text = without_comments(source.read_text(encoding="utf-8"))
                for looked_up in looked_up_texts(text, names):
                    used.setdefault(looked_up, source.relative_to(root).as_posix())
        for suite_file in suite_files:
            for line in (root / suite_file).read_text(encoding="utf-8").splitlines():
                if line.startswith("'"):
                    continue  # a comment line
                for quoted in re.findall(r'"([^"]*)"', line):
                    if quoted and not re.fullmatch(r"[0-9a-fA-F,=]*", quoted):
                        used.setdefault(quoted, suite_file)
        for text, where in sorted(used.items()):
            if text not in entries:
                faults.append(f"{where}: {text!r} has no entry in {catalogue}")
        for key in entries:
            if key not in used:
                faults.append(f"{catalogue}: {key!r} is looked up nowhere")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
