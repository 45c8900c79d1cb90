#!/usr/bin/env python3
"""The program's help, its manual page, docs/program.md and the shell completions tell of the
same options, and the installed files are where man and the shells look.

Usage: cli_docs_test.py --qvsplit build/qvsplit --build-dir build

Each command's options are read from what 'qvsplit COMMAND --help' prints, and checked
against the parser (each is accepted, another command's is refused), the manual page as man
renders it, the command's section of docs/program.md, and the completions as bash runs them.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what, file=sys.stderr)


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, stdin=subprocess.DEVNULL, **kw)


def commands_of(overview):
    block = overview.split("Commands:\n", 1)[1].split("\n\n", 1)[0]
    return [m.group(1) for m in re.finditer(r"^  ([a-z]+) ", block, re.M)]


def options_of(help_text):
    """{flag: value name or ''} from the Options block of a command's help."""
    options = {}
    block = help_text.split("\nOptions:\n", 1)[1]
    for m in re.finditer(r"^  (-h, )?(--[a-z-]+)(?: ([A-Z_.]+))?", block, re.M):
        if m.group(2) != "--help":
            options[m.group(2)] = m.group(3) or ""
    return options


def man_text(page):
    env = dict(os.environ, MANWIDTH="200", MAN_KEEP_FORMATTING="0")
    r = run(["man", "-l", page], env=env)
    check(r.returncode == 0, f"man -l {page} fails: {r.stderr}")
    return re.sub(r".\x08", "", r.stdout)


def sections(text, heading, end):
    """{command: its text}, each from a heading naming it to the next heading or 'end'."""
    found = {}
    parts = re.split(heading, text, flags=re.M)
    for name, body in zip(parts[1::2], parts[2::2]):
        found[name] = body.split(end, 1)[0]
    return found


def bash_complete(script, words, cwd):
    """COMPREPLY for the command line 'words', the last being the word completed."""
    driver = 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]}-1)); ' \
             '_qvsplit; printf "%s\\n" "${COMPREPLY[@]}"'
    r = run(["bash", "--norc", "--noprofile", "-c", driver, "bash", script] + words, cwd=cwd)
    check(r.returncode == 0, f"completion of {words} fails: {r.stderr}")
    return sorted(x for x in r.stdout.split("\n") if x)


def zsh_complete(zsh, fpath, cwd, rows):
    """Types each command line and a Tab into an interactive zsh on a pseudo-terminal; checks
    that what it lists holds the words expected and none of those it must not offer."""
    import pty
    import select
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(cwd)
        os.execv(zsh, [zsh, "-f", "-i"])

    def read_until(marks, limit=20.0):
        out, end = "", time.time() + limit
        while time.time() < end and not all(m in out for m in marks):
            ready, _, _ = select.select([fd], [], [], 0.2)
            if ready:
                try:
                    out += os.read(fd, 65536).decode(errors="replace")
                except OSError:
                    break
                # The terminal's escape sequences (bold, cursor moves) are not what it lists.
                out = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", out)
        return out

    try:
        os.write(fd, f"PS1='> '; fpath=({fpath} $fpath); autoload -Uz compinit; compinit -u -D; print ready\n".encode())
        read_until(["ready\r\n"])
        for line, present, absent in rows:
            os.write(fd, line.encode() + b"\t")
            out = read_until(present)
            check(all(w in out for w in present) and not any(w in out for w in absent),
                  f"zsh completes '{line}' with {present}, not {absent}: {out[-300:]!r}")
            os.write(fd, b"\x15")  # the line is killed for the next one
            time.sleep(0.2)
    finally:
        os.kill(pid, 9)
        os.waitpid(pid, 0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--qvsplit", required=True)
    parser.add_argument("--build-dir", required=True)
    args = parser.parse_args()
    qv = os.path.abspath(args.qvsplit)
    args.build_dir = os.path.abspath(args.build_dir)

    overview = run([qv, "--help"])
    check(overview.returncode == 0, "qvsplit --help exits 0")
    commands = commands_of(overview.stdout)
    check(len(commands) >= 11, f"the overview lists the commands: {commands}")
    helps = {}
    for c in commands:
        a, b = run([qv, c, "--help"]), run([qv, "help", c])
        check(a.returncode == 0 and b.returncode == 0, f"help of {c} exits 0")
        check(a.stdout == b.stdout, f"'qvsplit help {c}' is '{c} --help'")
        helps[c] = options_of(a.stdout)
        check(all(len(line) <= 79 for line in a.stdout.split("\n")), f"help of {c} fits 79 columns")
    everything = {flag for opts in helps.values() for flag in opts}

    # The parser takes exactly the options the help lists.
    with tempfile.TemporaryDirectory() as tmp:
        for c, opts in helps.items():
            for flag, value in opts.items():
                argv = [qv, c, flag] + (["1"] if value else []) + [os.path.join(tmp, "none")]
                r = run(argv, cwd=tmp, timeout=60)
                check("unknown option" not in r.stderr and "needs a value" not in r.stderr,
                      f"{c} takes {flag} as its help says: {r.stderr.strip()}")
            for flag in sorted(everything - set(opts)):
                r = run([qv, c, flag, "1"], cwd=tmp)
                check(r.returncode == 2 and "unknown option" in r.stderr, f"{c} refuses {flag}, which its help does not list")

    # --version names the version CMake builds.
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        version = re.search(r"project\(QvSplit VERSION ([0-9.]+)", f.read()).group(1)
    r = run([qv, "--version"])
    check(r.returncode == 0 and r.stdout.startswith(f"qvsplit {version}\n"), f"--version says qvsplit {version}: {r.stdout}")
    for argv, text in [(["help", "nosuch"], "unknown command"), (["--version", "x"], "--version takes nothing"),
                       (["--generate", "html"], "--generate takes")]:
        r = run([qv] + argv)
        check(r.returncode == 2 and text in r.stderr, f"{argv} is a usage error saying '{text}': {r.stderr}")

    # The manual page: well-formed for groff, every command and its options in its section.
    page = os.path.join(args.build_dir, "qvsplit.1")
    r = run(["groff", "-man", "-Tutf8", "-ww", "-z", page])
    check(r.returncode == 0 and not r.stderr, f"groff reads the page without a warning: {r.stderr}")
    text = man_text(page)
    in_page = sections(text, r"^   qvsplit ([a-z]+)\n", "\nOPTIONS\n")
    check(sorted(in_page) == sorted(commands), f"the page has a section per command: {sorted(in_page)}")
    for c, opts in helps.items():
        body = in_page.get(c, "")
        listed = {m.group(1) for m in re.finditer(r"^       (--[a-z-]+)", body, re.M)}
        check(listed == set(opts), f"the page's options of {c} are its help's: {sorted(listed ^ set(opts))}")
        for flag, value in opts.items():
            check(re.search(rf"^       {re.escape(flag)}{' ' + value if value else ''}(\s|$)", body, re.M) is not None,
                  f"the page shows '{flag} {value}' under {c}")
    for section in ["EXIT STATUS", "ENVIRONMENT", "FILES", "EXAMPLES"]:
        check(f"\n{section}\n" in text, f"the page has {section}")
    # Options copied from the page are typed as they must be: plain ASCII hyphens.
    check("\u2010" not in text and "\u2212" not in text, "no typographic hyphen or minus on the page")

    # docs/program.md: a section per command, each option of its help in it, blocks up to date.
    with open(os.path.join(SOURCE, "docs", "program.md"), encoding="utf-8") as f:
        docs = sections(f.read(), r"^## qvsplit ([a-z]+)\s*$", "\n## ")
    for c, opts in helps.items():
        body = docs.get(c, "")
        check(body != "", f"docs/program.md has a section '## qvsplit {c}'")
        for flag, value in opts.items():
            check(f"`{flag}{' ' + value if value else ''}`" in body, f"docs/program.md shows `{flag} {value}` under {c}")
    r = run([sys.executable, os.path.join(SOURCE, "scripts", "update-docs.py"), "--check", "--qvsplit", qv])
    check(r.returncode == 0, f"docs/program.md's option blocks are the program's: {r.stderr}")

    # bash: each command's options, the values of those that take words, folders for folders.
    script = os.path.join(args.build_dir, "completions", "qvsplit.bash")
    with tempfile.TemporaryDirectory() as tmp:
        for d in ["dir one", "dir2"]:
            os.mkdir(os.path.join(tmp, d))
        for f in ["file1", "file two"]:
            open(os.path.join(tmp, f), "w").close()
        for c, opts in helps.items():
            got = bash_complete(script, ["qvsplit", c, "--"], tmp)
            check(got == sorted(set(opts) | {"--help"}), f"bash offers the options of {c}: {got}")
        rows = [
            (["qvsplit", "sp"], ["split"]),
            (["qvsplit", "re"], ["recover", "report", "restore"]),
            (["qvsplit", "help", "ch"], ["check"]),
            (["qvsplit", "split", "--size", "d"], ["dvd", "dvd-dl"]),
            (["qvsplit", "split", "--size", "=", "b"], ["bd", "bd-dl"]),
            (["qvsplit", "split", "--fs", ""], ["iso", "iso-udf", "none", "tar"]),
            (["qvsplit", "split", "--method", ""], ["dirs", "files"]),
            (["qvsplit", "pack", "--format", ""], ["iso", "list", "tar"]),
            (["qvsplit", "split", "--out", "d"], ["dir one", "dir2"]),
            (["qvsplit", "restore", "--to", ""], ["dir one", "dir2"]),
            (["qvsplit", "report", "--out", "fi"], ["file two", "file1"]),
            (["qvsplit", "split", "--label", ""], []),
            (["qvsplit", "show", "f"], ["file two", "file1"]),
            (["qvsplit", "--generate", "complete-"], ["complete-bash", "complete-zsh"]),
        ]
        for words, expected in rows:
            got = bash_complete(script, words, tmp)
            check(got == sorted(expected), f"bash completes {words} to {expected}: {got}")

    # zsh: the script parses, and every command's options are in its block.
    zsh_script = os.path.join(args.build_dir, "completions", "_qvsplit")
    with open(zsh_script) as f:
        zsh_text = f.read()
    blocks = dict(re.findall(r"^        ([a-z]+)\)\n(.*?);;$", zsh_text, re.M | re.S))
    for c, opts in helps.items():
        listed = set(re.findall(r"'\*(--[a-z-]+)", blocks.get(c, "")))
        check(listed == set(opts), f"zsh completes the options of {c}: {sorted(listed ^ set(opts))}")
    zsh = shutil.which("zsh")
    if zsh:
        r = run([zsh, "-n", zsh_script])
        check(r.returncode == 0, f"zsh reads its completion: {r.stderr}")
        with tempfile.TemporaryDirectory() as tmp:
            os.mkdir(os.path.join(tmp, "dir2"))
            open(os.path.join(tmp, "file1"), "w").close()
            zsh_complete(zsh, os.path.dirname(zsh_script), tmp, [
                ("qvsplit split --si", ["--since", "--size", "medium size in MB"], []),
                ("qvsplit split --size ", ["bd-dl", "dvd-dl"], ["file1"]),
                ("qvsplit pack --format ", ["iso", "list", "tar"], ["file1"]),
                ("qvsplit split --out ", ["dir2/"], ["file1"]),
                ("qvsplit help rep", ["report"], []),
            ])

    # Installed: man finds the page, bash-completion and zsh find their files.
    with tempfile.TemporaryDirectory() as prefix:
        r = run(["cmake", "--install", args.build_dir, "--prefix", prefix])
        check(r.returncode == 0, f"cmake --install: {r.stderr}")
        installed = {
            "share/man/man1/qvsplit.1": page,
            "share/bash-completion/completions/qvsplit": script,
            "share/zsh/site-functions/_qvsplit": zsh_script,
        }
        for rel, made in installed.items():
            path = os.path.join(prefix, rel)
            check(os.path.isfile(path) and open(path).read() == open(made).read(), f"{rel} is installed")
        r = run(["man", "-w", "qvsplit"], env=dict(os.environ, MANPATH=os.path.join(prefix, "share", "man")))
        check(r.stdout.strip() == os.path.join(prefix, "share/man/man1/qvsplit.1"), f"man -w finds the page: {r.stdout}{r.stderr}")
        loader = "/usr/share/bash-completion/bash_completion"
        if os.path.exists(loader):
            r = run(["bash", "--norc", "-c", f"source {loader}; __load_completion qvsplit; complete -p qvsplit"],
                    env=dict(os.environ, XDG_DATA_DIRS=os.path.join(prefix, "share")))
            check("_qvsplit" in r.stdout, f"bash-completion loads the installed completion: {r.stdout}{r.stderr}")
        if zsh:
            r = run([zsh, "-f", "-c", f"fpath=({prefix}/share/zsh/site-functions $fpath); autoload -Uz compinit; "
                                      "compinit -u -D; print -r -- $_comps[qvsplit]"])
            check(r.stdout.strip() == "_qvsplit", f"zsh's compinit takes the installed completion: {r.stdout}{r.stderr}")

    if failures:
        print(f"{len(failures)} check(s) failed", file=sys.stderr)
        return 1
    print("help, manual page, docs and completions agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
