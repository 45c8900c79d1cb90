#!/usr/bin/env python3
"""Randomized checker for `qvsplit split --since`: sets of what changed since earlier sets.

Each case is a small random tree (files of varied names and sizes in nested folders, links to
files) and batches of changes made to it between splits: adds, deletions, size and time changes,
renames, moves, case-only renames of files and folders, files that become folders and folders
that become files, links retargeted, files that become links and links that become files. The
first split plans the whole tree; each later one is made `--since` every set before it, oldest
first. The last batch only deletes; a final split with nothing changed closes the case.

The oracle is a walk of our own (lstat) at every split: path -> kind, size, write time. Comparing
one walk with the one before gives what a set must plan (new and changed files), what its
Deleted.xml must list, and its --json counts. The bytes of every file a set lists (a link's
target) are copied right after its split, and after each set the whole chain is restored into an
empty folder, deletions first, set by set, and compared with the tree.

A failing case is shrunk (unless --no-shrink) to a smaller one that fails the same way, printed
as a row for tests/tools/since_fuzz_cases.json with the shell commands that reproduce it. The rows
of that table are replayed before any random case.

Usage: since_fuzz.py --qvsplit build/qvsplit [--seed S]... [--count N] [--no-shrink]
                     [--case-file FILE] [--replay ROW.json] [--keep] [--tz ZONE]
Exit status 0 when every case holds, 1 otherwise.
"""
import argparse
import copy
import json
import os
import posixpath
import random
import re
import shlex
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..'))
DEFAULT_CASES = os.path.join(HERE, 'since_fuzz_cases.json')
RUN_TIMEOUT = 60
ATTR_DIRECTORY = 0x10
ATTR_REPARSE = 0x400
# A link is planned as an entry of size 0 (its own bytes are not counted; see docs/rules-file.md).
LINK_SIZE = 0
NOTHING = 'nothing changed since'
T0 = 1700000000


def stamp(t):
    return time.strftime('%Y%m%d%H%M%S', time.localtime(t))


def win(path):
    """Windows form of a host path; the names used here need no mapping."""
    return 'C:' + path.replace('/', '\\')


def host(target, name):
    """Where a restore puts an entry, below the restore folder."""
    return target.replace('\\', '/').rstrip('/') + '/' + name


# ----------------------------------------------------------------------------------------------
# Random cases: a tree and batches of operations, generated against a model of the tree

FOLDER_NAMES = ['src', 'Docs', 'docs', 'a b', 'été', 'Über', 'λόγος', 'x-1', 'v.2', 'deep', 'Sub',
                'Old Files', 'ünï']
FILE_NAMES = ['a.txt', 'A.txt', 'read me.md', 'notes.TXT', 'é.txt', 'über-1.dat', 'Ωmega.bin',
              'data.2.csv', 'x', 'Makefile', 'z-z.txt', '.hidden', 'File Name.txt', 'ÄBC.log',
              'πλ.txt', 'v1.0.tar', 'Q', 'q']


class Model:
    """What the tree holds: rel -> {'k': 'd'} or a file or link entry."""

    def __init__(self, entries):
        self.e = {}
        self.used = {}    # rel -> {write time text: what the entry at rel held then}
        for entry in entries:
            self.put(dict(entry))

    def put(self, entry):
        rel = entry['p']
        if 't' in entry:
            self.used.setdefault(rel, {})[stamp(entry['t'])] = held(entry)
        parts = rel.split('/')
        for i in range(1, len(parts)):
            self.e.setdefault('/'.join(parts[:i]), {'p': '/'.join(parts[:i]), 'k': 'd'})
        self.e[rel] = entry

    def time_for(self, rng, rel, t):
        """A write time whose text no entry at rel has had: a change is then always seen, since
        a link's size is always 0 and a file's bytes may change without its size."""
        while stamp(t) in self.used.get(rel, ()):
            t = new_time(rng, t)
        return t

    def clash(self, src, dst):
        """Whether moving src to dst would put there an entry of a time text some other content
        had at that path: the move would then go unseen."""
        for p, e in self.e.items():
            if 't' in e and (p == src or p.startswith(src + '/')):
                had = self.used.get(dst + p[len(src):], {}).get(stamp(e['t']))
                if had is not None and had != held(e):
                    return True
        return False

    def drop(self, rel):
        for p in [p for p in self.e if p == rel or p.startswith(rel + '/')]:
            del self.e[p]

    def move(self, src, dst):
        moved = [(p, e) for p, e in self.e.items() if p == src or p.startswith(src + '/')]
        self.drop(src)
        for p, e in moved:
            e = dict(e, p=dst + p[len(src):])
            self.put(e)

    def of(self, *kinds):
        return sorted(p for p, e in self.e.items() if e['k'] in kinds)

    def folders(self):
        return [''] + self.of('d')

    def free(self, folder, name, rng):
        base, n = name, 1
        while True:
            rel = posixpath.join(folder, name) if folder else name
            if rel not in self.e:
                return rel
            stem, dot, ext = base.partition('.')
            name = '%s-%d%s%s' % (stem or base, n + rng.randrange(9), dot, ext)
            n += 1


def held(entry):
    return (entry['k'], entry.get('n'), entry.get('r'), entry.get('to'))


def pick_size(rng, big):
    if big and rng.random() < 0.12:
        return rng.randrange(100000, 900000)
    return rng.choice([0, 1, rng.randrange(2, 200), rng.randrange(200, 4096)])


def link_target(rng, model, at):
    files = model.of('f')
    if not files or rng.random() < 0.08:
        return 'missing-%d' % rng.randrange(100)
    return posixpath.relpath(rng.choice(files), posixpath.dirname(at) or '.')


def gen_tree(rng, big):
    model = Model([])
    for _ in range(rng.randrange(2, 13)):
        parent = rng.choice(model.folders())
        if parent.count('/') < 3:
            rel = model.free(parent, rng.choice(FOLDER_NAMES), rng)
            model.put({'p': rel, 'k': 'd'})
    for _ in range(rng.randrange(10, 81)):
        rel = model.free(rng.choice(model.folders()), rng.choice(FILE_NAMES), rng)
        model.put({'p': rel, 'k': 'f', 'n': pick_size(rng, big), 'r': rng.randrange(1 << 30),
                   't': model.time_for(rng, rel, T0 - rng.randrange(10 ** 8))})
    for _ in range(rng.randrange(1, 5)):
        rel = model.free(rng.choice(model.folders()), rng.choice(['lnk', 'Link', 'to é']), rng)
        model.put({'p': rel, 'k': 'l', 'to': link_target(rng, model, rel),
                   't': model.time_for(rng, rel, T0 - rng.randrange(10 ** 8))})
    return sorted(model.e.values(), key=lambda e: e['p'])


def new_time(rng, old):
    return old + rng.choice([1, 2, 59, 3600, 86400 * 3, -1, -7200, -86400 * 40])


def add_file(rng, model, rel, big, ops):
    op = {'op': 'add', 'p': rel, 'n': pick_size(rng, big), 'r': rng.randrange(1 << 30),
          't': model.time_for(rng, rel, T0 - rng.randrange(10 ** 8))}
    model.put({'p': rel, 'k': 'f', 'n': op['n'], 'r': op['r'], 't': op['t']})
    ops.append(op)


def gen_op(rng, model, big, ops):
    """Appends one random change (one or more operations) to ops and makes it in the model."""
    files, links, folders = model.of('f'), model.of('l'), model.of('d')
    both = files + links
    kind = rng.choice(['add', 'add', 'del', 'grow', 'shrink', 'touch', 'rename', 'move', 'case',
                       'case-dir', 'f2d', 'd2f', 'retarget', 'f2l', 'l2f'])
    if kind == 'add':
        folder = rng.choice(model.folders())
        if rng.random() < 0.3 and folder.count('/') < 3:
            folder = model.free(folder, rng.choice(FOLDER_NAMES), rng)
        add_file(rng, model, model.free(folder, rng.choice(FILE_NAMES), rng), big, ops)
    elif kind == 'del' and both:
        rel = rng.choice(both)
        model.drop(rel)
        ops.append({'op': 'del', 'p': rel})
    elif kind in ('grow', 'shrink') and files:
        rel = rng.choice(files)
        e = model.e[rel]
        n = e['n'] + rng.randrange(1, 3000) if kind == 'grow' else rng.randrange(0, e['n']) if e['n'] else None
        if n is None:
            return
        e.update(n=n, t=model.time_for(rng, rel, new_time(rng, e['t'])))
        model.put(e)
        ops.append({'op': 'resize', 'p': rel, 'n': n, 'r': rng.randrange(1 << 30), 't': e['t']})
    elif kind == 'touch' and both:
        rel = rng.choice(both)
        e = model.e[rel]
        e['t'] = model.time_for(rng, rel, new_time(rng, e['t']))
        model.put(e)
        ops.append({'op': 'touch', 'p': rel, 't': e['t']})
    elif kind in ('rename', 'move') and both:
        rel = rng.choice(both)
        folder = posixpath.dirname(rel) if kind == 'rename' else rng.choice(model.folders())
        name = rng.choice(FILE_NAMES) if kind == 'rename' else posixpath.basename(rel)
        dst = model.free(folder, name, rng)
        if model.clash(rel, dst):
            return
        model.move(rel, dst)
        ops.append({'op': 'mv', 'p': rel, 'to': dst})
    elif kind in ('case', 'case-dir'):
        pool = both if kind == 'case' else folders
        rng.shuffle(pool)
        for rel in pool:
            folder, name = posixpath.split(rel)
            dst = posixpath.join(folder, name.swapcase())
            if dst != rel and dst not in model.e and len(dst) == len(rel) and not model.clash(rel, dst):
                model.move(rel, dst)
                ops.append({'op': 'mv', 'p': rel, 'to': dst})
                return
    elif kind == 'f2d' and [f for f in files if f.count('/') < 3]:
        rel = rng.choice([f for f in files if f.count('/') < 3])
        model.drop(rel)
        ops.append({'op': 'del', 'p': rel})
        for _ in range(rng.randrange(1, 4)):
            add_file(rng, model, model.free(rel, rng.choice(FILE_NAMES), rng), False, ops)
    elif kind == 'd2f' and folders:
        rel = rng.choice(folders)
        model.drop(rel)
        ops.append({'op': 'rmtree', 'p': rel})
        add_file(rng, model, rel, False, ops)
    elif kind in ('retarget', 'f2l') and (links if kind == 'retarget' else files):
        rel = rng.choice(links if kind == 'retarget' else files)
        old = model.e[rel]
        target = link_target(rng, model, rel)
        if kind == 'retarget' and target == old['to']:
            target = 'other-' + target
        op = {'op': 'link', 'p': rel, 'to': target, 't': model.time_for(rng, rel, new_time(rng, old['t']))}
        model.put({'p': rel, 'k': 'l', 'to': target, 't': op['t']})
        ops.append(op)
    elif kind == 'l2f' and links:
        rel = rng.choice(links)
        model.drop(rel)
        ops.append({'op': 'del', 'p': rel})
        add_file(rng, model, rel, False, ops)


def gen_case(rng):
    size = rng.choice([50, 50, 50, 1, 2])
    big = size < 50
    tree = gen_tree(rng, big)
    model = Model(tree)
    batches = []
    for _ in range(2):
        ops = []
        for _ in range(rng.randrange(1, 13)):
            gen_op(rng, model, big, ops)
        batches.append(ops)
    both = model.of('f', 'l')
    gone = rng.sample(both, min(len(both), rng.randrange(1, 4)))
    batches.append([{'op': 'del', 'p': rel} for rel in gone])
    return {'size': size, 'tree': tree, 'batches': batches}


# ----------------------------------------------------------------------------------------------
# The tree on disk

def write_bytes(path, n, seed, keep=0):
    """Fills path to n bytes: small files wholly random, larger ones sparse with random blocks."""
    rng = random.Random(seed)
    with open(path, 'r+b' if keep else 'wb') as f:
        f.truncate(n)
        if n <= 8192:
            f.seek(keep)
            f.write(rng.randbytes(n - keep))
            return
        for at in sorted({keep, rng.randrange(keep, n), max(keep, n - 512)}):
            f.seek(at)
            f.write(rng.randbytes(min(512, n - at)))


class OpFailed(Exception):
    pass


def apply_op(root, op):
    path = os.path.join(root, op['p'])
    kind = op['op']
    if kind in ('add', 'link', 'mv'):
        dst = os.path.join(root, op['to']) if kind == 'mv' else path
        if kind == 'mv' and not os.path.lexists(path):
            raise OpFailed('%s does not exist' % op['p'])
        if os.path.lexists(dst) and (kind != 'link' or os.path.isdir(dst) and not os.path.islink(dst)):
            raise OpFailed('%s exists' % dst)
        try:
            os.makedirs(os.path.dirname(dst), exist_ok=True)
        except (FileExistsError, NotADirectoryError):
            raise OpFailed('a file stands where the folder of %s goes' % dst)
        if kind == 'mv':
            os.rename(path, dst)
        elif kind == 'add':
            write_bytes(path, op['n'], op['r'])
            os.utime(path, (op['t'], op['t']))
        else:
            if os.path.lexists(path):
                os.unlink(path)
            os.symlink(op['to'], path)
            os.utime(path, (op['t'], op['t']), follow_symlinks=False)
        return
    if not os.path.lexists(path):
        raise OpFailed('%s does not exist' % op['p'])
    is_dir = os.path.isdir(path) and not os.path.islink(path)
    if kind == 'rmtree':
        if not is_dir:
            raise OpFailed('%s is no folder' % op['p'])
        shutil.rmtree(path)
    elif is_dir:
        raise OpFailed('%s is a folder' % op['p'])
    elif kind == 'del':
        os.unlink(path)
    elif kind == 'resize':
        if os.path.islink(path):
            raise OpFailed('%s is a link' % op['p'])
        old = os.lstat(path).st_size
        write_bytes(path, op['n'], op['r'], keep=min(old, op['n']) or 0) if op['n'] > old else \
            os.truncate(path, op['n'])
        os.utime(path, (op['t'], op['t']))
    elif kind == 'touch':
        os.utime(path, (op['t'], op['t']), follow_symlinks=False)


def build_tree(root, tree):
    os.mkdir(root)
    for e in tree:
        if e['k'] == 'd':
            os.makedirs(os.path.join(root, e['p']), exist_ok=True)
        else:
            apply_op(root, dict(e, op='add' if e['k'] == 'f' else 'link'))


def walk(root):
    """The oracle's record of the tree: rel -> (kind, size, write time text, mtime)."""
    out = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            rel = os.path.relpath(path, root).replace(os.sep, '/')
            if stat.S_ISLNK(st.st_mode):
                out[rel] = ('link', LINK_SIZE, stamp(int(st.st_mtime)), int(st.st_mtime))
            elif stat.S_ISREG(st.st_mode):
                out[rel] = ('file', st.st_size, stamp(int(st.st_mtime)), int(st.st_mtime))
    return out


def contents(root):
    """Bytes of every file and target of every link below root (folders left aside)."""
    out = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, root)
            if os.path.islink(path):
                out[rel] = 'link -> ' + os.readlink(path)
            elif os.path.isfile(path):
                with open(path, 'rb') as f:
                    out[rel] = f.read()
    return out


# The comparison of two walks on cases worked out by hand: (previous, current, new, changed,
# unchanged, deleted), a record being (kind, size, write time).
DIFF_ROWS = [
    ({'a': ('file', 1, 'T1')}, {'a': ('file', 1, 'T1')}, '', '', 'a', ''),
    ({'a': ('file', 1, 'T1')}, {'a': ('file', 2, 'T1')}, '', 'a', '', ''),
    ({'a': ('file', 1, 'T1')}, {'a': ('file', 1, 'T2')}, '', 'a', '', ''),
    ({'a': ('file', 0, 'T1')}, {'a': ('link', 0, 'T1')}, 'a', '', '', 'a'),
    ({'a': ('link', 0, 'T1')}, {'a': ('file', 0, 'T1')}, 'a', '', '', 'a'),
    ({'a': ('file', 1, 'T1')}, {'A': ('file', 1, 'T1')}, 'A', '', '', 'a'),
    ({'a': ('file', 1, 'T1')}, {'a/b': ('file', 1, 'T1')}, 'a/b', '', '', 'a'),
    ({'a/b': ('file', 1, 'T1'), 'c': ('link', 0, 'T3')}, {'a': ('file', 1, 'T1'), 'c': ('link', 0, 'T3')},
     'a', '', 'c', 'a/b'),
    ({}, {'x': ('file', 5, 'T1')}, 'x', '', '', ''),
    ({'x': ('file', 5, 'T1')}, {}, '', '', '', 'x'),
]


def self_test_diff():
    bad = 0
    for prev, cur, *want in DIFF_ROWS:
        got = diff_kinds(prev, cur)
        want = tuple(set(w.split()) for w in want)
        if got != want:
            bad += 1
            print('FAIL oracle: %s -> %s: expected %s, got %s' % (prev, cur, want, got))
    return bad


def diff_kinds(prev, cur):
    new = {p for p in cur if p not in prev or prev[p][0] != cur[p][0]}
    changed = {p for p in cur if p not in new and prev[p][1:3] != cur[p][1:3]}
    unchanged = set(cur) - new - changed
    deleted = {p for p in prev if p not in cur or prev[p][0] != cur[p][0]}
    return new, changed, unchanged, deleted


# ----------------------------------------------------------------------------------------------
# Running the program and checking a set

class Runner:
    def __init__(self, qvsplit, cwd, env):
        self.qvsplit, self.cwd, self.env, self.log = qvsplit, cwd, env, []

    def run(self, args):
        self.log.append(args)
        r = None
        for _ in range(30):
            try:
                r = subprocess.run([self.qvsplit] + args, capture_output=True, env=self.env, cwd=self.cwd,
                                   timeout=RUN_TIMEOUT, stdin=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                return 124, '', 'timed out after %d s' % RUN_TIMEOUT
            except OSError:
                r = None
            # The program may be rebuilt while the checker runs: wait for the build to finish.
            if r is not None and not (r.returncode in (126, 127) or b'error while loading shared' in r.stderr):
                return r.returncode, r.stdout.decode('utf-8', 'replace'), r.stderr.decode('utf-8', 'replace')
            time.sleep(2)
        return (127, '', 'could not run') if r is None else (r.returncode, '', r.stderr.decode('utf-8', 'replace'))


def text_of(node, name):
    child = node.find(name)
    return '' if child is None or child.text is None else child.text


def media_names(out):
    names = [n for n in os.listdir(out) if re.fullmatch(r'[Mm]edia\d+\.xml', n)] if os.path.isdir(out) else []
    return sorted(names, key=lambda n: int(re.sub(r'\D', '', n)))


class Case:
    def __init__(self, case, qvsplit, env, keep):
        self.case, self.keep = case, keep
        self.dir = tempfile.mkdtemp(prefix='since-fuzz-')
        self.tree = os.path.join(self.dir, 't')
        self.runner = Runner(qvsplit, self.dir, env)
        self.sets = []        # per set: (out folder, [(TargetPath, Name, kind, stored)], [(TargetPath, Name)])
        self.faults = []
        self.skipped = []

    def fault(self, kind, text):
        self.faults.append((kind, text))

    def expected_place(self, rel):
        folder, name = posixpath.split(rel)
        return '\\' + '\\'.join(['t'] + (folder.split('/') if folder else [])), name

    def full_path(self, rel):
        return win(self.tree + '/' + rel)

    def split(self, step, chain, prev, cur, json_flag=True):
        """Makes and checks one set: its folder, None when nothing changed, False when refused."""
        out = os.path.join(self.dir, 's%d' % step)
        args = ['split', '--quiet', '--size', str(self.case['size']), '--out', out]
        for s in chain:
            args += ['--since', s]
        if json_flag:
            args.append('--json')
        code, stdout, stderr = self.runner.run(args + [self.tree])
        label = 'set %d' % step
        if code != 0:
            self.fault('exit' if chain else 'exit-whole-set', '%s: exit %d: %s'
                       % (label, code, stderr.strip()[-300:] or stdout.strip()[-300:]))
            return False
        if prev is None:
            new, changed, unchanged, deleted = set(cur), set(), set(), set()
        else:
            new, changed, unchanged, deleted = diff_kinds(prev, cur)
        names = media_names(out)
        deleted_xml = os.path.join(out, 'Deleted.xml')
        if not new and not changed and not deleted:
            if NOTHING not in stdout + stderr:
                self.fault('nothing-message', '%s: nothing changed but no "%s" line: %r'
                           % (label, NOTHING, (stdout + stderr).strip()[-300:]))
            if names or os.path.exists(deleted_xml):
                self.fault('nothing-files', '%s: nothing changed but it wrote %s'
                           % (label, names + (['Deleted.xml'] if os.path.exists(deleted_xml) else [])))
            return None
        planned = self.check_media(label, out, names, new | changed, cur)
        listed = self.check_deleted(label, deleted_xml, deleted)
        if json_flag and prev is not None:
            self.check_json(label, stdout, chain, new, changed, unchanged, deleted)
        self.sets.append((out, planned, listed))
        return out

    def check_media(self, label, out, names, want, cur):
        if not want and names:
            self.fault('media-without-change', '%s: only deletions, yet it wrote %s' % (label, names))
        if want and not names:
            self.fault('no-media', '%s: no media files although %d files are new or changed' % (label, len(want)))
        planned, seen = [], {}
        prefix = self.full_path('')
        store = out + '.store'
        os.mkdir(store)
        for i, name in enumerate(names, 1):
            if name != 'Media%d.xml' % i:
                self.fault('media-names', '%s: media files are %s' % (label, names))
            try:
                root = ET.parse(os.path.join(out, name)).getroot()
            except ET.ParseError as exc:
                self.fault('xml', '%s: %s: %s' % (label, name, exc))
                continue
            for node in root.iter('FILE'):
                full = text_of(node, 'FullPath')
                attr = int(text_of(node, 'Attribute') or '0', 0)
                if not full.startswith(prefix):
                    self.fault('foreign-entry', '%s: %s lists %s, outside the tree' % (label, name, full))
                    continue
                rel = full[len(prefix):].replace('\\', '/')
                if rel in seen:
                    self.fault('duplicate', '%s: %s is on %s and %s' % (label, rel, seen[rel], name))
                    continue
                seen[rel] = name
                if attr & ATTR_DIRECTORY and not attr & ATTR_REPARSE:
                    self.fault('folder-entry', '%s: %s lists the folder %s' % (label, name, rel))
                    continue
                if rel not in want:
                    why = 'unchanged' if rel in cur else 'not in the tree'
                    self.fault('planned-' + why.replace(' ', '-'), '%s: %s plans %s, which is %s'
                               % (label, name, rel, why))
                    continue
                kind, size, when, _ = cur[rel]
                got = (int(text_of(node, 'FileSize') or -1), text_of(node, 'WriteTime'),
                       'link' if attr & ATTR_REPARSE else 'file')
                if got != (size, when, kind):
                    self.fault('record', '%s: %s: expected size %d, time %s, %s; got size %d, time %s, %s'
                               % (label, rel, size, when, kind, *got))
                place = (text_of(node, 'TargetPath'), text_of(node, 'Name'))
                if place != self.expected_place(rel):
                    self.fault('target', '%s: %s restores to %s, expected %s' % (label, rel, place,
                                                                                self.expected_place(rel)))
                path = os.path.join(self.tree, rel)
                if os.path.islink(path):
                    stored = ('link', os.readlink(path))
                else:
                    stored = ('file', os.path.join(store, str(len(planned))))
                    shutil.copyfile(path, stored[1])
                planned.append(place + stored)
        missing = sorted(want - set(seen))
        if missing:
            self.fault('missed', '%s: %d new or changed files are on no medium: %s'
                       % (label, len(missing), missing[:8]))
        return planned

    def check_deleted(self, label, path, deleted):
        if not os.path.exists(path):
            if deleted:
                self.fault('deleted-missing', '%s: no Deleted.xml, expected %s' % (label, sorted(deleted)[:8]))
            return []
        try:
            root = ET.parse(path).getroot()
        except ET.ParseError as exc:
            self.fault('xml', '%s: Deleted.xml: %s' % (label, exc))
            return []
        if root.tag != 'Deleted':
            self.fault('xml', '%s: Deleted.xml has the root <%s>' % (label, root.tag))
        listed, got = [], {}
        for node in root.findall('FILE'):
            full = text_of(node, 'FullPath')
            place = (text_of(node, 'TargetPath'), text_of(node, 'Name'))
            listed.append(place)
            got[full] = got.get(full, 0) + 1
            rel = full[len(self.full_path('')):].replace('\\', '/')
            if rel in deleted and place != self.expected_place(rel):
                self.fault('deleted-target', '%s: Deleted.xml places %s at %s, expected %s'
                           % (label, rel, place, self.expected_place(rel)))
        want = {self.full_path(rel) for rel in deleted}
        if set(got) != want:
            self.fault('deleted', '%s: Deleted.xml lists %s too many and misses %s'
                       % (label, sorted(set(got) - want)[:8], sorted(want - set(got))[:8]))
        twice = [p for p, n in got.items() if n > 1]
        if twice:
            self.fault('deleted', '%s: Deleted.xml lists twice %s' % (label, twice[:8]))
        return listed

    def check_json(self, label, stdout, chain, new, changed, unchanged, deleted):
        try:
            since = json.loads(stdout)['since']
        except (ValueError, KeyError, TypeError) as exc:
            self.fault('json', '%s: no "since" object in the JSON (%s): %r' % (label, exc, stdout[:300]))
            return
        want = {'new': len(new), 'changed': len(changed), 'unchanged': len(unchanged), 'deleted': len(deleted)}
        got = {k: since.get(k) for k in want}
        if got != want:
            self.fault('json-counts', '%s: expected %s, got %s' % (label, want, got))
        if not isinstance(since.get('sets'), list) or len(since['sets']) != len(chain):
            self.fault('json-sets', '%s: "sets" is %r for a chain of %d' % (label, since.get('sets'), len(chain)))

    def restore(self, label):
        """Restores every set so far into an empty folder and compares it with the tree."""
        dest = tempfile.mkdtemp(prefix='restore-', dir=self.dir)
        try:
            for n, (out, planned, listed) in enumerate(self.sets, 1):
                for target, name in listed:
                    path = host(target, name)
                    at = dest + path
                    if os.path.islink(at) or os.path.isfile(at):
                        os.unlink(at)
                    else:
                        self.fault('restore', '%s: set %d deletes %s, which the restore does not hold'
                                   % (label, n, path))
                for target, name, kind, stored in planned:
                    at = dest + host(target, name)
                    if not self.make_room(label, n, dest, at):
                        continue
                    if kind == 'link':
                        os.symlink(stored, at)
                    else:
                        shutil.copyfile(stored, at)
            got, want = contents(os.path.join(dest, 't')), contents(self.tree)
            if got != want:
                bad = sorted(k for k in set(got) | set(want) if got.get(k) != want.get(k))
                self.fault('restore', '%s: the restored chain differs from the tree at %d paths: %s'
                           % (label, len(bad), ['%s (restored %s, tree %s)' % (k, brief(got.get(k)),
                                                brief(want.get(k))) for k in bad[:6]]))
        finally:
            shutil.rmtree(dest, ignore_errors=True)

    def make_room(self, label, n, dest, at):
        """Clears the way for a restored file: parents made, an empty folder in its place removed."""
        folder = os.path.dirname(at)
        probe = folder
        while probe != dest and not os.path.lexists(probe):
            probe = os.path.dirname(probe)
        if probe != dest and not os.path.isdir(probe):
            self.fault('restore', '%s: set %d restores %s, but %s is a file there'
                       % (label, n, at[len(dest):], probe[len(dest):]))
            return False
        os.makedirs(folder, exist_ok=True)
        if os.path.isdir(at) and not os.path.islink(at):
            if any(files for _, _, files in os.walk(at)):
                self.fault('restore', '%s: set %d restores %s over a folder that holds files'
                           % (label, n, at[len(dest):]))
                return False
            shutil.rmtree(at)
        elif os.path.lexists(at):
            os.unlink(at)
        return True

    def close(self):
        if self.keep:
            print('kept: %s' % self.dir)
        else:
            shutil.rmtree(self.dir, ignore_errors=True)


def brief(value):
    if value is None:
        return 'nothing'
    if isinstance(value, str):
        return value
    return '%d bytes' % len(value)


def run_case(case, qvsplit, env, keep=False, lenient=False, full=False):
    """Runs one case; returns (faults, commands). With full, every set is a whole set of its
    own, restored alone: the oracle's own test on the program without --since."""
    c = Case(case, qvsplit, env, keep)
    try:
        build_tree(c.tree, case['tree'])
        prev = walk(c.tree)
        if not c.split(1, [], None, prev):
            return c.faults, c.runner.log
        c.restore('set 1')
        for step, batch in enumerate(case['batches'], 2):
            for op in batch:
                try:
                    apply_op(c.tree, op)
                except OpFailed as exc:
                    c.skipped.append('%s (%s)' % (json.dumps(op, ensure_ascii=False), exc))
            cur = walk(c.tree)
            if full:
                c.sets = []
            # A refused set records nothing: the next is checked against the last one made.
            if c.split(step, [s[0] for s in c.sets], None if full else prev, cur) is not False:
                prev = cur
            if not c.faults:
                c.restore('set %d' % step)
        if full:
            return c.faults, c.runner.log
        chain = [s[0] for s in c.sets]
        c.split(len(case['batches']) + 2, chain, prev, prev, json_flag=False)
        # Set by set planning is the only way a set since others can be made.
        out = os.path.join(c.dir, 'dirs')
        code, stdout, stderr = c.runner.run(['split', '--quiet', '--size', str(case['size']), '--out', out,
                                            '--method', 'dirs', '--since', chain[0], c.tree])
        if code == 0 or media_names(out):
            c.fault('dirs-since', '--method dirs with --since: exit %d, media %s' % (code, media_names(out)))
        if c.skipped and not lenient:
            c.fault('case', 'operations that could not be made: %s' % c.skipped[:4])
    finally:
        c.close()
    return c.faults, c.runner.log


# ----------------------------------------------------------------------------------------------
# Shrinking and reproduction

def smaller_cases(case):
    for b, batch in enumerate(case['batches']):
        c = copy.deepcopy(case)
        del c['batches'][b]
        yield c
    for b, batch in enumerate(case['batches']):
        for i in range(len(batch)):
            c = copy.deepcopy(case)
            del c['batches'][b][i]
            yield c
    # Parts of the tree, halves first, then quarters, down to single entries (with what is below).
    tree = case['tree']
    step = len(tree) // 2
    while step >= 1:
        for at in range(0, len(tree), step):
            gone = [e['p'] for e in tree[at:at + step]]
            c = copy.deepcopy(case)
            c['tree'] = [x for x in tree if not any(x['p'] == g or x['p'].startswith(g + '/') for g in gone)]
            if any(x['k'] != 'd' for x in c['tree']):
                yield c
        step //= 2


def shrink(case, kind, qvsplit, env, budget_s):
    deadline, best, progress = time.time() + budget_s, case, True
    while progress and time.time() < deadline:
        progress = False
        for smaller in smaller_cases(best):
            if time.time() > deadline:
                break
            if any(k == kind for k, _ in run_case(smaller, qvsplit, env, lenient=True)[0]):
                best, progress = smaller, True
                break
    return best


def op_shell(op):
    """Shell lines that make one operation (a file's bytes are random here: only sizes and times
    matter for a plan)."""
    q = lambda rel: '"$D"/t/' + shlex.quote(rel) if rel else '"$D"/t'
    kind = op['op']
    if kind == 'add':
        make = ('truncate -s %d %s' % (op['n'], q(op['p']))) if op['n'] > 8192 else \
            'head -c %d /dev/urandom > %s' % (op['n'], q(op['p']))
        return ['mkdir -p %s' % q(posixpath.dirname(op['p'])), make, 'touch -d @%d %s' % (op['t'], q(op['p']))]
    if kind == 'link':
        return ['mkdir -p %s' % q(posixpath.dirname(op['p'])), 'ln -sfn %s %s' % (shlex.quote(op['to']), q(op['p'])),
                'touch -h -d @%d %s' % (op['t'], q(op['p']))]
    if kind == 'mv':
        return ['mkdir -p %s' % q(posixpath.dirname(op['to'])), 'mv -T %s %s' % (q(op['p']), q(op['to']))]
    if kind == 'resize':
        return ['truncate -s %d %s' % (op['n'], q(op['p'])), 'touch -d @%d %s' % (op['t'], q(op['p']))]
    if kind == 'touch':
        return ['touch -h -d @%d %s' % (op['t'], q(op['p']))]
    return ['rm -r %s' % q(op['p'])] if kind == 'rmtree' else ['rm %s' % q(op['p'])]


def repro_shell(case, qvsplit):
    tz = os.environ.get('TZ')
    lines = ['D=$(mktemp -d) && cd "$D" && mkdir t', 'Q=%s' % shlex.quote(qvsplit)]
    if tz:
        lines.append('export TZ=%s' % shlex.quote(tz))
    made = {''}
    for e in case['tree']:
        if e['k'] == 'd':
            lines.append('mkdir -p "$D"/t/%s' % shlex.quote(e['p']))
            made.add(e['p'])
        else:
            lines += [line for line in op_shell(dict(e, op='add' if e['k'] == 'f' else 'link'))
                      if not (line.startswith('mkdir') and posixpath.dirname(e['p']) in made)]
    opts = '--quiet --size %d' % case['size']
    lines.append('"$Q" split %s --out "$D"/s1 "$D"/t' % opts)
    since = ''
    for step, batch in enumerate(case['batches'], 2):
        for op in batch:
            lines += op_shell(op)
        since += ' --since "$D"/s%d' % (step - 1)
        lines.append('"$Q" split %s --json --out "$D"/s%d%s "$D"/t' % (opts, step, since))
    since += ' --since "$D"/s%d' % (len(case['batches']) + 1)
    lines.append('"$Q" split %s --out "$D"/s%d%s "$D"/t   # nothing changed'
                 % (opts, len(case['batches']) + 2, since))
    return '\n'.join(lines)


def report(label, faults):
    print('FAIL %s' % label)
    for kind, text in faults[:20]:
        print('  [%s] %s' % (kind, text))
    if len(faults) > 20:
        print('  ... and %d more' % (len(faults) - 20))


def print_repro(case, kind, qvsplit):
    print('  case (fault kind %s), as a row for %s:' % (kind, os.path.relpath(DEFAULT_CASES, REPO)))
    print('    ' + json.dumps({'name': 'TODO', 'case': case}, ensure_ascii=True, sort_keys=True))
    print('  reproduce:')
    for line in repro_shell(case, qvsplit).split('\n'):
        print('    ' + line)


def load_table(path):
    if not path or not os.path.exists(path):
        return []
    with open(path, encoding='utf-8') as f:
        return json.load(f).get('cases', [])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--qvsplit', required=True)
    parser.add_argument('--seed', type=int, action='append', help='random seed (repeatable; default 1 and 2)')
    parser.add_argument('--count', type=int, default=30, help='random cases per seed')
    parser.add_argument('--case-file', default=DEFAULT_CASES, help='regression rows replayed first')
    parser.add_argument('--no-table', action='store_true', help='do not replay the regression rows')
    parser.add_argument('--no-shrink', action='store_true')
    parser.add_argument('--shrink-budget', type=float, default=90)
    parser.add_argument('--replay', help='run one case given as JSON (a row or a case), or @FILE')
    parser.add_argument('--keep', action='store_true', help='keep the case folders')
    parser.add_argument('--self-test', action='store_true',
                        help='test the oracle: its comparison table, then every set of each case as a '
                             'whole set restored alone (no --since)')
    parser.add_argument('--tz', default='Europe/Berlin',
                        help='time zone of the program and the walk (empty: as inherited)')
    args = parser.parse_args()
    qvsplit = os.path.abspath(args.qvsplit)
    if not os.access(qvsplit, os.X_OK):
        print('since_fuzz: %s is not an executable program' % qvsplit)
        return 2
    # Write times are local times: a zone away from UTC shows one taken in the wrong zone.
    if args.tz and os.path.exists(os.path.join('/usr/share/zoneinfo', args.tz)):
        os.environ['TZ'] = args.tz
        time.tzset()
    env = {k: v for k, v in os.environ.items() if not k.startswith('QVSPLIT_')}
    passed = failed = 0
    start = time.time()

    def one(label, case, shrinkable, lenient=False):
        nonlocal passed, failed
        faults, _ = run_case(case, qvsplit, env, args.keep, lenient, full=args.self_test)
        if not faults:
            passed += 1
            return
        failed += 1
        report(label, faults)
        if shrinkable and not args.no_shrink and not args.self_test:
            kind = faults[0][0]
            small = shrink(case, kind, qvsplit, env, args.shrink_budget)
            for k, text in run_case(small, qvsplit, env, lenient=True)[0]:
                print('  shrunk: [%s] %s' % (k, text))
            case = small
        print_repro(case, faults[0][0], qvsplit)

    if args.self_test:
        failed += self_test_diff()
        passed += len(DIFF_ROWS) - failed
    if args.replay:
        text = open(args.replay[1:]).read() if args.replay.startswith('@') else args.replay
        row = json.loads(text)
        one('replayed case', row.get('case', row), True, lenient=True)
    else:
        if not args.no_table:
            for i, row in enumerate(load_table(args.case_file)):
                label = 'table row %d (%s)' % (i, row.get('name', ''))
                if row.get('open') and not args.self_test:
                    # A fault known and not mended yet: shown, not counted, until it is.
                    faults, _ = run_case(row['case'], qvsplit, env, args.keep, full=args.self_test)
                    print('%s %s: %s' % ('OPEN' if faults else 'MENDED (drop its "open")', label, row['open']))
                    for k, text in faults[:6]:
                        print('  [%s] %s' % (k, text))
                    continue
                one(label, row['case'], False)
        for seed in args.seed or [1, 2]:
            rng = random.Random(seed)
            for n in range(args.count):
                one('seed %d case %d' % (seed, n), gen_case(rng), True)
    print('since_fuzz: %d passed, %d failed (%.0f s)' % (passed, failed, time.time() - start))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
