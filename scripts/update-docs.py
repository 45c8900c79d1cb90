#!/usr/bin/env python3
"""Fills the option blocks of docs/program.md from the program's own descriptions of its
commands, the ones --help and the manual page are written from.

Usage: scripts/update-docs.py [--check] [--qvsplit build/qvsplit]

Each command's section holds a pair of lines
    <!-- BEGIN options: split -->
    <!-- END options: split -->
and everything between them is replaced by what 'qvsplit --generate markdown' gives for that
command. With --check nothing is written: the exit status is 1 when a block differs (or is
missing), naming it.
"""
import argparse
import os
import re
import subprocess
import sys

BLOCK = re.compile(r"<!-- BEGIN options: ([a-z]+) -->\n.*?<!-- END options: \1 -->\n", re.S)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--qvsplit", default="build/qvsplit")
    parser.add_argument("--doc", default=os.path.join(os.path.dirname(__file__), "..", "docs", "program.md"))
    args = parser.parse_args()

    made = subprocess.run([args.qvsplit, "--generate", "markdown"], check=True,
                          capture_output=True, text=True).stdout
    blocks = {m.group(1): m.group(0) for m in BLOCK.finditer(made)}
    if not blocks:
        sys.exit("update-docs: the program gave no option blocks")
    with open(args.doc, encoding="utf-8") as f:
        doc = f.read()

    found = set()

    def replace(m):
        found.add(m.group(1))
        return blocks.get(m.group(1), m.group(0))

    updated = BLOCK.sub(replace, doc)
    problems = [f"no block for '{c}' in {args.doc}" for c in sorted(set(blocks) - found)]
    problems += [f"a block for '{c}', which is no command" for c in sorted(found - set(blocks))]
    if args.check:
        for name in sorted(found & set(blocks)):
            theirs = re.search(rf"<!-- BEGIN options: {name} -->\n.*?<!-- END options: {name} -->\n", doc, re.S)
            if theirs.group(0) != blocks[name]:
                problems.append(f"the block of '{name}' differs from the program's: run scripts/update-docs.py")
    elif updated != doc:
        with open(args.doc, "w", encoding="utf-8") as f:
            f.write(updated)
    for p in problems:
        print("update-docs: " + p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
