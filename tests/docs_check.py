#!/usr/bin/env python3
"""Fails when the reference in docs/ falls behind the library.

Every name the built shared library exports (functions and data, from `nm -D --defined-only`)
and every function or variable the public header declares must appear in a table row of some
docs/reference/*.md file as a code span of its own (`name`), every reference file must be
linked from docs/README.md, and every relative link in docs/ must lead to an existing file.
Names documented ahead of their export are allowed.
"""
import argparse
import pathlib
import re
import subprocess
import sys


def exported_names(library):
    out = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                         capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        fields = line.split()
        if len(fields) < 3:
            continue
        kind, name = fields[1], fields[2]
        if kind in ("A", "N"):  # version nodes and debug entries are not exports
            continue
        if name.startswith(("__odr_asan", "__asan", "__tsan", "__ubsan", "__sanitizer")):
            continue  # what a sanitizer build adds beside each exported variable
        names.add(name.split("@", 1)[0])
    return names


def declared_names(header):
    text = pathlib.Path(header).read_text()
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    text = re.sub(r"^\s*#.*$", " ", text, flags=re.M)
    names = set()
    for decl in re.findall(r"\bQOR_API\b([^;{}]*);", text):
        call = re.search(r"([A-Za-z_]\w*)\s*\(", decl)
        if call:
            names.add(call.group(1))
        else:
            names.add(re.findall(r"[A-Za-z_]\w*", decl)[-1])
    return names


def documented_names(docs):
    names = set()
    for page in sorted((docs / "reference").glob("*.md")):
        for line in page.read_text().splitlines():
            if line.lstrip().startswith("|"):
                names.update(re.findall(r"`([A-Za-z_]\w*)`", line))
    return names


def unlinked_pages(docs):
    index = (docs / "README.md").read_text()
    return [page.name for page in sorted((docs / "reference").glob("*.md"))
            if f"reference/{page.name}" not in index]


def broken_links(docs):
    broken = []
    for page in sorted(docs.rglob("*.md")):
        for target in re.findall(r"\]\(([^)#:]+)(?:#[^)]*)?\)", page.read_text()):
            if not (page.parent / target).exists():
                broken.append(f"{page.relative_to(docs)} -> {target}")
    return broken


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--library", help="the built shared library")
    parser.add_argument("--header", required=True)
    parser.add_argument("--docs", required=True)
    args = parser.parse_args()
    docs = pathlib.Path(args.docs)

    wanted = declared_names(args.header)
    if args.library:
        wanted |= exported_names(args.library)
    missing = sorted(wanted - documented_names(docs))
    unlinked = unlinked_pages(docs)
    broken = broken_links(docs)
    for name in missing:
        print(f"not in the reference: {name}")
    for page in unlinked:
        print(f"not linked from docs/README.md: reference/{page}")
    for link in broken:
        print(f"broken link: {link}")
    if missing or unlinked or broken:
        return 1
    print(f"{len(wanted)} names, all in the reference")
    return 0


if __name__ == "__main__":
    sys.exit(main())
