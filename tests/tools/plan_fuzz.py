#!/usr/bin/env python3
"""Randomized plan checker for `qvsplit split` and `qvsplit rvx`.

Each case is a small random tree (sparse files around the medium and megabyte boundaries, case
twins of files and folders, awkward names, links, pipes, unreadable folders) with random rules,
given on the command line or in a rules file. The program plans it; an independent model of the
rules (which location maps each file belongs to) and of the media (what must be on which medium,
what may be left out and why, when no plan can exist) checks every media file, the left-out list,
the --json summary and the exit status. Cutting cases also recover the cut files and compare
every file's bytes with a digest taken before the split.

A failing case is shrunk to a small one that fails the same way and printed as a table row for
tests/tools/plan_fuzz_cases.json plus the shell commands that reproduce it. The rows of that table
are replayed before any random case.

Usage: plan_fuzz.py --qvsplit build/qvsplit [--seed S]... [--count N] [--time-budget SEC]
                    [--case-file FILE] [--no-shrink] [--record] [--replay ROW.json] [--keep]
Exit status 0 when every case holds, 1 otherwise.
"""
import argparse
import copy
import hashlib
import importlib.util
import json
import os
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
DEFAULT_CASES = os.path.join(HERE, 'plan_fuzz_cases.json')


def _load_check_plan():
    path = os.path.join(REPO, 'scripts', 'check-plan.py')
    spec = importlib.util.spec_from_file_location('check_plan', path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


CHECK_PLAN = _load_check_plan()
host_bytes = CHECK_PLAN.host_bytes
FORBIDDEN = CHECK_PLAN.FORBIDDEN

MB = 1048576
LOCATIONS = ['First', 'Last', 'All', 'Any', 'NotFirst', 'NotLast']
FIXED = {'First', 'Last', 'All'}
ATTR_DIRECTORY = 0x10
ATTR_REPARSE = 0x400
PART_RE = re.compile(rb'^(.*)\.(\d{14})\.Part(\d+)$')
NO_CAUSE = 'recorded no error message'
RUN_TIMEOUT = 60


# ----------------------------------------------------------------------------------------------
# Names and paths

def fs(text):
    """Host bytes of a name or relative path kept as text (undecodable bytes as surrogates)."""
    return os.fsencode(text)


def win_name(raw):
    """The Windows form of host bytes, as the program maps them: characters Windows forbids
    and bytes that are not UTF-8 become U+F000 plus their value."""
    text = raw.decode('utf-8', 'surrogateescape')
    out = []
    for ch in text:
        cp = ord(ch)
        if 0xDC80 <= cp <= 0xDCFF:
            out.append(chr(0xF000 + cp - 0xDC00))
        elif ch == '/':
            out.append('\\')
        elif cp < 0x80 and cp in FORBIDDEN:
            out.append(chr(0xF000 + cp))
        else:
            out.append(ch)
    return ''.join(out)


def win_pattern(raw):
    """A pattern component: its wildcards stay wildcards."""
    return '*'.join('?'.join(win_name(q) for q in p.split(b'?')) for p in raw.split(b'*'))


def is_pattern(rel):
    last = rel.rsplit('/', 1)[-1]
    return '*' in last or '?' in last


def pattern_matches(pattern, name):
    """Windows wildcard match ignoring case, on the Windows form of the name."""
    rx = ''.join('.*' if c == '*' else '.' if c == '?' else re.escape(c) for c in pattern.lower())
    return re.fullmatch(rx, win_name(name).lower(), re.S) is not None


def join(root, rel):
    return root if rel == '' else root + b'/' + fs(rel)


def parent_of(path):
    return path.rsplit(b'/', 1)[0]


def below(path, folder):
    return path == folder or path.startswith(folder + b'/')


def shell_quote(raw):
    """Bash quoting for arbitrary bytes."""
    if all(32 <= b < 127 for b in raw):
        return shlex.quote(raw.decode())
    out = "$'"
    for b in raw:
        if b == 0x27 or b == 0x5C:
            out += '\\' + chr(b)
        elif 32 <= b < 127:
            out += chr(b)
        else:
            out += '\\x%02x' % b
    return out + "'"


# ----------------------------------------------------------------------------------------------
# Random cases

FOLDER_NAMES = ['Dir', 'dir', 'Sub', 'sub', 'a b', 'ünï', 'x:y', 'st*r', 'n\udcffd', 'deep', 'q"z']
FILE_NAMES = ['a.txt', 'A.TXT', 'b.bin', 'B.BIN', 'c.dat', 'C.Dat', 'sp ace.txt', 'ünï.txt',
              'q:x.txt', 'e*x.dat', 'n\udcffx.bin', 'r?.txt', 'z.txt', 'Z.txt', '1.txt', 'k|.bin',
              'big.bin', 'BIG.bin', 'ctl\x01.txt', 'tab\t.dat']
PATTERNS = ['*.txt', '*.TXT', '*.bin', '?.txt', 'a*.txt', '*.dat', 'B*.BIN', '*.Part1']


def twin(name):
    swapped = name.swapcase()
    return swapped if swapped != name else None


def pick_size(rng, size_mb, cut):
    limit = size_mb * MB
    choices = [0, 1, 100, rng.randrange(1, 200000), limit - 1, limit, limit + 1,
               rng.randrange(1, 4) * MB - 1, MB, MB + 1, rng.randrange(limit // 8 + 1, limit),
               rng.randrange(1, limit // 2 + 2), rng.randrange(limit // 3, limit)]
    if cut:
        choices += [limit + rng.randrange(1, 3 * MB), limit + (size_mb - 20) * MB * rng.randrange(1, 4)]
    else:
        choices += [limit + rng.randrange(1, MB), 2 * limit + 1]
    return max(0, rng.choice(choices))


def gen_tree(rng, size_mb, cut, plain):
    """A list of entries, parents first: folders (d), files (f), links (l), pipes (p)."""
    entries, folders, taken = [], [''], set()

    def add(entry):
        if entry['p'] not in taken:
            taken.add(entry['p'])
            entries.append(entry)
            return True
        return False

    for _ in range(rng.randrange(0, 6)):
        parent = rng.choice(folders)
        name = rng.choice(FOLDER_NAMES)
        rel = name if parent == '' else parent + '/' + name
        if parent.count('/') < 3 and add({'p': rel, 'k': 'd'}):
            folders.append(rel)
            if rng.random() < 0.3 and twin(name):
                trel = twin(name) if parent == '' else parent + '/' + twin(name)
                if add({'p': trel, 'k': 'd'}):
                    folders.append(trel)
    files = []
    for _ in range(rng.randrange(1, 11)):
        parent = rng.choice(folders)
        name = rng.choice(FILE_NAMES)
        rel = name if parent == '' else parent + '/' + name
        entry = {'p': rel, 'k': 'f', 'n': pick_size(rng, size_mb, cut)}
        if cut:
            entry['r'] = rng.randrange(1, 1 << 30)
        if add(entry):
            files.append(rel)
            if rng.random() < 0.35 and twin(name):
                trel = twin(name) if parent == '' else parent + '/' + twin(name)
                other = {'p': trel, 'k': 'f', 'n': pick_size(rng, size_mb, cut)}
                if cut:
                    other['r'] = rng.randrange(1, 1 << 30)
                add(other)
    if not plain:
        for name in rng.sample(['lnkf', 'lnkd', 'loop', 'dot', 'dangl'], rng.randrange(0, 4)):
            parent = rng.choice(folders)
            rel = name if parent == '' else parent + '/' + name
            depth = parent.count('/') + 1 if parent else 0
            up = '../' * depth
            if name == 'lnkf' and files:
                target = up + rng.choice(files)
            elif name == 'lnkd' and len(folders) > 1:
                target = up + rng.choice(folders[1:])
            elif name == 'loop':
                target = '..'
            elif name == 'dot':
                target = '.'
            else:
                target = 'nowhere'
            add({'p': rel, 'k': 'l', 't': target})
        if rng.random() < 0.15:
            parent = rng.choice(folders)
            add({'p': 'pipe' if parent == '' else parent + '/pipe', 'k': 'p'})
        if rng.random() < 0.15:
            parent = rng.choice(folders)
            rel = 'locked' if parent == '' else parent + '/locked'
            if add({'p': rel, 'k': 'd', 'lock': True}):
                add({'p': rel + '/in.txt', 'k': 'f', 'n': 10})
    return entries


def rule_targets(tree):
    """Paths a rule may name: folders, files and links whose last component has no wildcard,
    outside locked folders, and patterns in folders."""
    locked = [e['p'] for e in tree if e.get('lock')]
    inside = lambda p: any(p == l or p.startswith(l + '/') for l in locked)
    names = [e['p'] for e in tree if not is_pattern(e['p']) and not inside(e['p'])]
    folders = [''] + [e['p'] for e in tree if e['k'] == 'd' and not inside(e['p'])]
    return names, folders


def gen_rule_path(rng, tree, cli=False):
    names, folders = rule_targets(tree)
    if cli:
        # The program takes a path argument that names nothing as a usage error; a dangling link
        # names nothing once followed.
        names = [n for n in names if not any(e['p'] == n and e.get('t') == 'nowhere' for e in tree)]
    roll = rng.random()
    if roll < 0.2 or not names:
        folder = rng.choice(folders)
        pat = rng.choice(PATTERNS)
        return pat if folder == '' else folder + '/' + pat
    twins = [n for n in names if twin(n.rsplit('/', 1)[-1]) and
             (n.rsplit('/', 1)[0] + '/' if '/' in n else '') + twin(n.rsplit('/', 1)[-1]) in names]
    if twins and roll < 0.45:
        return rng.choice(twins)
    return rng.choice(names + [''])


def gen_split_case(rng):
    cut = rng.random() < 0.12
    size = rng.choice([21, 22]) if cut else rng.choice([1, 1, 2, 2, 3, 4, 5])
    case = {'mode': 'split', 'size': size, 'tree': gen_tree(rng, size, cut, False),
            'method': 'dirs' if rng.random() < 0.35 else 'files',
            'follow': rng.random() < 0.2, 'first_free': 0, 'cut': cut}
    if rng.random() < 0.15:
        case['first_free'] = rng.randrange(0, size)
    if rng.random() < 0.5:
        cli = {'paths': [], 'first': [], 'last': [], 'all': [], 'exclude': []}
        for _ in range(rng.randrange(1, 3)):
            cli['paths'].append(gen_rule_path(rng, case['tree'], True) if rng.random() < 0.6 else '')
        for key in ('first', 'last', 'all', 'exclude'):
            for _ in range(rng.choice([0, 0, 0, 1, 1, 2])):
                cli[key].append(gen_rule_path(rng, case['tree'], True))
        case['input'] = 'cli'
        case['cli'] = cli
        case['together'] = rng.random() < 0.2
    else:
        rules = []
        for _ in range(rng.randrange(1, 7)):
            include = rng.random() < 0.72 or not rules
            # A path of an earlier rule again, for another location or folder: merged into it.
            again = rules and rng.random() < 0.3
            rules.append({'act': 'INCLUDE' if include else 'EXCLUDE',
                          'loc': rng.choice(LOCATIONS),
                          'path': rng.choice(rules)['path'] if again else gen_rule_path(rng, case['tree']),
                          'tog': include and rng.random() < 0.2,
                          'tgt': rng.choice(['', '', '\\', '\\T', 'X\\y'])})
        if not any(r['act'] == 'INCLUDE' for r in rules):
            rules[0]['act'] = 'INCLUDE'
        case['input'] = 'rules'
        case['rules'] = rules
        case['drive'] = 'D' if rng.random() < 0.3 else 'C'
        case['out_in_tree'] = rng.random() < 0.15
    return case


def gen_rvx_case(rng):
    size = rng.choice([1, 2, 2, 3, 4])
    tree = gen_tree(rng, size, False, True)
    names = [e['p'] for e in tree]
    items = rng.sample(names, min(len(names), rng.randrange(1, 6)))
    rest = [n for n in names if n not in items]
    alls = rng.sample(rest, min(len(rest), rng.choice([0, 0, 1, 1, 2])))
    return {'mode': 'rvx', 'size': size, 'tree': tree,
            'rvx': {'items': items, 'all': alls, 'estimate': rng.random() < 0.5}}


def gen_case(rng):
    return gen_rvx_case(rng) if rng.random() < 0.15 else gen_split_case(rng)


# ----------------------------------------------------------------------------------------------
# Building a case on disk

def fill_random(path, size, seed, part_mb):
    """Real bytes in a sparse file: chunks at its start and end and around every part boundary."""
    rng = random.Random(seed)
    with open(path, 'r+b') as f:
        offsets = {0, max(0, size - 4096)}
        if part_mb > 0:
            k = part_mb * MB
            while k < size:
                offsets.update({k - 2048, k})
                k += part_mb * MB
        for off in sorted(offsets):
            if 0 <= off < size:
                f.seek(off)
                f.write(rng.randbytes(min(4096, size - off)))


def build_tree(case, root):
    os.mkdir(root)
    part_mb = case['size'] - 20
    locked = []
    for e in case['tree']:
        path = join(root, e['p'])
        os.makedirs(parent_of(path), exist_ok=True)
        if e['k'] == 'd':
            os.makedirs(path, exist_ok=True)
            if e.get('lock'):
                locked.append(path)
        elif e['k'] == 'f':
            with open(path, 'wb'):
                pass
            os.truncate(path, e['n'])
            if e.get('r'):
                fill_random(path, e['n'], e['r'], part_mb)
        elif e['k'] == 'l':
            os.symlink(fs(e['t']), path)
        elif e['k'] == 'p':
            os.mkfifo(path)
    return locked


def rules_xml(case, tree_win):
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', '<RulesFile>']
    for i, r in enumerate(case['rules'], 1):
        rel = fs(r['path'])
        if is_pattern(r['path']):
            head, _, pat = rel.rpartition(b'/')
            src = tree_win + ('\\' + win_name(head) if head else '') + '\\' + win_pattern(pat)
        else:
            src = tree_win + ('\\' + win_name(rel) if rel else '')
        esc = lambda s: s.replace('&', '&amp;').replace('<', '&lt;').replace('>', '&gt;')
        lines.append('  <Rule RuleID="%d" Action="%s" AllTogether="%s" Location="%s">' %
                     (i, r['act'], 'TRUE' if r['tog'] else 'FALSE', r['loc']))
        lines.append('    <SourcePath>%s</SourcePath>' % esc(src))
        lines.append('    <TargetPath>%s</TargetPath>' % esc(r['tgt']))
        lines.append('  </Rule>')
    lines.append('</RulesFile>')
    return '\n'.join(lines) + '\n'


# ----------------------------------------------------------------------------------------------
# The model: which paths a rule reaches, and where each must go

class Node:
    __slots__ = ('kind', 'size')

    def __init__(self, kind, size=0):
        self.kind, self.size = kind, size  # file, special, unreadable, loop, dangling


def path_chain(root):
    """Identities of the folders root's path runs through, by name, from / down (root
    excluded): a walk that reached root by this path is inside each of them."""
    ids, path = set(), os.path.dirname(os.path.abspath(root))
    while True:
        try:
            st = os.stat(path)
            ids.add((st.st_dev, st.st_ino))
        except OSError:
            pass
        if path in (b'/', b''):
            return frozenset(ids)
        path = os.path.dirname(path)


def walk_nodes(root, follow, locked, skip, nodes):
    """Everything a walk from root reaches, as the program's walk does: links are entries of
    their own, or followed with no folder entered twice along one path. A path is judged by its
    name alone: a followed link to a folder its path runs through is a loop, kept as the link,
    and a folder met again below such a link is not entered (its files come the first way in)."""
    def visit(path, ancestors):
        try:
            st = os.lstat(path)
        except OSError:
            return
        try:
            if (os.stat(path).st_ino, os.stat(path).st_dev) in skip:
                return  # the output folder, however it is reached
        except OSError:
            pass
        if stat.S_ISLNK(st.st_mode):
            if not follow:
                nodes[path] = Node('file', 0)
                return
            try:
                st = os.stat(path)
            except OSError:
                nodes[path] = Node('dangling')
                return
            if stat.S_ISDIR(st.st_mode) and (st.st_dev, st.st_ino) in ancestors:
                nodes[path] = Node('loop')
                return
        elif follow and stat.S_ISDIR(st.st_mode) and (st.st_dev, st.st_ino) in ancestors:
            return
        if stat.S_ISDIR(st.st_mode):
            if path in locked or (st.st_dev, st.st_ino) in locked:
                nodes[path] = Node('unreadable')
                return
            try:
                names = sorted(os.listdir(path))
            except OSError:
                nodes[path] = Node('unreadable')
                return
            inner = ancestors | {(st.st_dev, st.st_ino)}
            for name in names:
                visit(path + b'/' + name, inner)
        elif stat.S_ISREG(st.st_mode):
            nodes[path] = Node('file', st.st_size)
        else:
            nodes[path] = Node('special')
    visit(root, path_chain(root) if follow else frozenset())


class Rule:
    def __init__(self, include, locs, path, pattern, together, index, group=None, order='', target=''):
        self.include, self.locs, self.path = include, set(locs), path
        self.target = target  # the folder its entries are restored under, as the rule gives it
        self.pattern, self.together, self.index = pattern, together, index
        # The AllTogether group the rule's any-medium files form: the rule's own, or that of
        # the first rule of the same path text, which the later ones are merged into.
        self.group = index if group is None else group
        # Rules are applied in the order of their path texts, and a file already in a map is
        # not added again: of the rules that put a file on any medium, the first in this order
        # decides whether it stays in a group.
        self.order = order

    def restored_in(self, path):
        """The folder of a medium the rule restores the file at path in, lower-cased: its
        target, then the file's folders below the folder that holds the rule's path (the
        pattern's own folder for a pattern)."""
        base = self.path if self.pattern is not None else parent_of(self.path)
        rel = parent_of(path)[len(base):].lstrip(b'/')
        t = self.target[:-1] if self.target.endswith('\\') else self.target
        field = t + '\\' + (win_name(rel) + '\\' if rel else '')
        x = field[:-1] if field.endswith('\\') else field
        if not x.startswith('\\'):
            x = '\\' + x
        return x.lower()

    def covers(self, path):
        if self.pattern is not None:
            return parent_of(path) == self.path and pattern_matches(self.pattern, path.rsplit(b'/', 1)[-1])
        return below(path, self.path)


def model_rules(case, tree):
    rules = []

    def make(include, locs, rel, together, group=None, target=''):
        raw = fs(rel)
        order = '\\' + rel.replace('/', '\\') if rel else ''
        if is_pattern(rel):
            head, _, pat = raw.rpartition(b'/')
            # The files a pattern matches are placed one by one, never as a group.
            rules.append(Rule(include, locs, join(tree, head.decode('utf-8', 'surrogateescape')),
                              pat.decode('utf-8', 'surrogateescape'), False, len(rules), order=order,
                              target=target))
        else:
            rules.append(Rule(include, locs, join(tree, rel), None, together, len(rules), group, order,
                              target))

    if case['input'] == 'cli':
        cli = case['cli']
        for rel in cli['paths']:
            make(True, ['Any'], rel, case.get('together', False))
        for key, loc in (('first', 'First'), ('last', 'Last'), ('all', 'All')):
            for rel in cli[key]:
                make(True, [loc], rel, False)
        for rel in cli['exclude']:
            make(False, LOCATIONS, rel, False)
    else:
        # Rules of the same path text are one rule: the first says whether its files stay
        # together, and the AllTogether of the later ones is not read.
        # An include of a path text that an earlier include puts on every medium adds nothing,
        # whatever is excluded; exclusions are all kept.
        first, everywhere = {}, set()
        for r in case['rules']:
            if r['path'] not in first:
                first[r['path']] = (len(rules), r['tog'])
            group, together = first[r['path']]
            include = r['act'] == 'INCLUDE'
            if include and r['path'] in everywhere:
                continue
            if include and r['loc'] == 'All':
                everywhere.add(r['path'])
            make(include, [r['loc']], r['path'], together and include, group, r['tgt'])
    return rules


class Model:
    """What every plan of a case must satisfy."""

    def __init__(self, case, tree, locked, skip):
        self.case, self.tree = case, tree
        self.rules = model_rules(case, tree)
        self.limit = case['size'] * MB  # a medium holds fewer bytes than this
        self.nodes = {}
        for r in self.rules:
            if not r.include:
                continue
            roots = [r.path]
            if r.pattern is not None:
                try:
                    names = sorted(os.listdir(r.path))
                except OSError:
                    names = []
                roots = [r.path + b'/' + n for n in names if pattern_matches(r.pattern, n)]
            for root in roots:
                walk_nodes(root, case['follow'], locked, skip, self.nodes)
        # path -> {location: folder of the medium, or None when the rules leave it open}
        self.places = {p: self.placements(p) for p in self.nodes}
        self.locs = {p: set(places) for p, places in self.places.items()}
        # A placement dropped or kept by folders the model cannot tell: no verdict on whether
        # a plan exists.
        self.open_drop = any(None in places.values() and len(places) > 1 for places in self.places.values())

    def placements(self, path):
        """Each location the file's maps place it in, with the folder of the medium it is
        restored in there: that of the first rule (by path text) that includes it there, as a map
        takes a file once. The folder is None where rules of other paths disagree and the method
        keeps folders whole (which rule then adds the file is the walk's)."""
        rules = sorted((r for r in self.rules if r.covers(path)), key=lambda r: (r.order, r.index))
        excluded = set()
        for r in rules:
            if not r.include:
                excluded |= r.locs
        places = {}
        for loc in LOCATIONS:
            if loc in excluded:
                continue
            giving = [r for r in rules if r.include and loc in r.locs]
            if not giving:
                continue
            folders = {r.restored_in(path) for r in giving}
            if len(folders) == 1 or self.case.get('method') != 'dirs':
                places[loc] = giving[0].restored_in(path)
            else:
                places[loc] = None
        # A placement on any medium gives way to any other; one that another places on the same
        # medium under the same folder is one entry: every medium holds the first and the last,
        # the first is not the last (nor the other way round).
        if len(places) > 1:
            places.pop('Any', None)
        same = lambda a, b: a in places and b in places and places[a] is not None and places[a] == places[b]
        for general, specific in (('All', 'First'), ('All', 'Last'), ('All', 'NotFirst'), ('All', 'NotLast'),
                                  ('First', 'NotLast'), ('Last', 'NotFirst')):
            if same(general, specific):
                del places[specific]
        return places

    def any_rules(self, path):
        return [r for r in self.rules if r.include and 'Any' in r.locs and r.covers(path)]

    def cut(self, node):
        return self.case['cut'] and node.kind == 'file' and node.size >= self.limit

    def plannable(self, node):
        return node.kind == 'file' and (node.size < self.limit or self.case['cut'])

    def feasible(self):
        """(True, why) when a plan certainly exists, (False, why) when none can exist,
        (None, why) when the model cannot tell."""
        cap = self.limit - 1
        first_free = self.case['first_free'] * MB
        sums = {'All': 0, 'First': 0, 'Last': 0}
        units, groups, total = [], {}, 0
        distinct, planned, unknown = 0, 0, None
        part = max(1, (self.case['size'] - 20) * MB)
        for path, node in self.nodes.items():
            locs = self.locs[path]
            # A loop link or a dangling link is planned as an empty file of its own.
            if not locs or not (self.plannable(node) or node.kind in ('loop', 'dangling')):
                continue
            size = node.size
            planned += 1
            if self.cut(node) and any(r.together for r in self.any_rules(path)):
                unknown = 'the parts of a cut file in an AllTogether group'
            pieces = [part] * (size // part) + [size % part] if self.cut(node) else [size]
            # On one medium the file is there once for each folder it is restored in.
            distinct += size * len(set(self.places[path].values()))
            for loc in locs:
                total += size
                if loc in sums:
                    sums[loc] += size
                elif loc == 'Any':
                    first = min(self.any_rules(path), key=lambda r: r.order, default=None)
                    if first is not None and first.together:
                        groups[first.group] = groups.get(first.group, 0) + size
                    else:
                        units += pieces
                else:
                    units += pieces
        units += list(groups.values())
        if not planned:
            return None, 'nothing to plan'
        for path, node in self.nodes.items():
            if self.locs[path] & FIXED and node.kind == 'file' and not self.plannable(node):
                # Refusing is as right as leaving it out.
                return None, '%s must be on a given medium but is larger than one' % os.fsdecode(path)
        if unknown:
            return None, unknown
        if self.open_drop:
            return None, 'which placements are one entry depends on the rule that adds a file'
        one = distinct + first_free
        if one <= cap:
            return True, 'everything fits on one medium (%d bytes)' % one
        a = sums['All']
        # What is taken whole onto one medium may fill it exactly; what first-fit places must
        # stay below it.
        whole = self.limit
        if a + sums['First'] + first_free > whole:
            return False, 'first-medium set %d + every-medium set %d + free %d is not below %d' % (
                sums['First'], a, first_free, self.limit)
        if a + sums['Last'] > whole:
            return False, 'last-medium set %d + every-medium set %d is not below %d' % (
                sums['Last'], a, self.limit)
        big = max(units) if units else 0
        if units and big + a > cap:
            return False, 'a file or group of %d bytes + every-medium set %d is not below %d' % (
                big, a, self.limit)
        return True, ('first %d, last %d, every-medium %d, largest unit %d: one medium each for '
                      'the first and last sets and one per unit fits' % (sums['First'], sums['Last'], a, big))


# ----------------------------------------------------------------------------------------------
# Running the program

class Runner:
    def __init__(self, qvsplit, work, env):
        self.qvsplit, self.work, self.env = qvsplit, work, env
        self.as_user = []
        if os.geteuid() == 0 and shutil.which('setpriv'):
            self.as_user = ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups']
        self.log = []

    def run(self, args, stdin=None):
        cmd = self.as_user + [self.qvsplit] + args
        self.log.append(args)
        for attempt in range(30):
            try:
                r = subprocess.run(cmd, capture_output=True, env=self.env, cwd=self.work,
                                   timeout=RUN_TIMEOUT, stdin=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                return 124, b'', b'timed out after %d s' % RUN_TIMEOUT
            except OSError:
                r = None
            # The program may be rebuilt while the checker runs: wait for the build to finish.
            if r is not None and not (r.returncode in (126, 127) or b'error while loading shared' in r.stderr):
                return r.returncode, r.stdout, r.stderr
            time.sleep(2)
        return r.returncode, r.stdout, r.stderr


def xml_ok(path):
    r = subprocess.run(['xmllint', '--noout', path], capture_output=True)
    if r.returncode != 0:
        return 'xmllint: ' + r.stderr.decode(errors='replace').strip()[:300]
    return None


def cdata(node, name):
    child = node.find(name)
    return '' if child is None or child.text is None else child.text


def sha(path):
    h = hashlib.sha256()
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 20), b''):
            h.update(block)
    return h.hexdigest()


def snapshot(root):
    """Digest of every regular file below root (links and pipes by kind)."""
    out = {}
    for folder, dirs, files in os.walk(root):
        for name in files + dirs:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            if stat.S_ISREG(st.st_mode):
                out[path] = sha(path)
            elif stat.S_ISLNK(st.st_mode):
                out[path] = 'link:' + os.fsdecode(os.readlink(path))
    return out


class Context:
    """One case on disk: the tree, the output folders, the environment."""

    def __init__(self, case, qvsplit, keep):
        self.case = case
        self.dir = tempfile.mkdtemp(prefix='plan-fuzz-').encode()
        self.keep = keep
        os.chmod(self.dir, 0o755)
        # The tree sits one folder down, so that a link to '..' at its top reaches nothing else.
        os.mkdir(self.dir + b'/w')
        self.tree = self.dir + b'/w/t'
        self.locked = set(build_tree(case, self.tree))
        env = {k: v for k, v in os.environ.items() if not k.startswith('QVSPLIT_')}
        self.drive_root = {}
        if case.get('drive') == 'D':
            env['QVSPLIT_DRIVE_D'] = os.fsdecode(self.dir + b'/w')
            self.drive_root['D'] = self.dir + b'/w'
        self.runner = Runner(qvsplit, self.dir, env)
        self.outs = [self.dir + b'/o1', self.dir + b'/o2']
        if case.get('out_in_tree'):
            self.outs[0] = self.tree + b'/qvout'
        for out in self.outs:
            os.mkdir(out)
        if self.runner.as_user:
            subprocess.run(['chown', '-R', '65534:65534', self.dir], check=True)
        for path in list(self.locked):
            st = os.stat(path)
            self.locked.add((st.st_dev, st.st_ino))  # reached through a link too
            os.chmod(path, 0)

    def host(self, win):
        """Host bytes of a Windows path in a media file."""
        drive = win[0].upper() if len(win) > 1 and win[1] == ':' else 'C'
        raw = host_bytes(win)
        if drive in self.drive_root:
            return self.drive_root[drive] + (b'' if raw == b'/' else raw)
        return raw

    def tree_win(self):
        if self.case.get('drive') == 'D':
            return 'D:\\t'
        return 'C:' + win_name(self.tree)

    def close(self):
        if self.keep:
            print('kept: %s' % os.fsdecode(self.dir))
            return
        for path in [p for p in self.locked if isinstance(p, bytes)]:
            try:
                os.chmod(path, 0o755)
            except OSError:
                pass
        subprocess.run(['chmod', '-R', 'u+rwx', self.dir], capture_output=True)
        shutil.rmtree(self.dir, ignore_errors=True)


def split_args(case, ctx, out, json_flag):
    args = ['split', '--quiet', '--size', str(case['size']), '--fs', 'none', '--out', out]
    if case['method'] != 'files':
        args += ['--method', case['method']]
    if case['follow']:
        args.append('--follow-links')
    if case['first_free']:
        args += ['--first-free', str(case['first_free'])]
    if case['cut']:
        args += ['--cut-big', os.fsdecode(ctx.dir + b'/list.ini'), '--yes']
    if json_flag:
        args.append('--json')
    if case['input'] == 'rules':
        args += ['--rules', os.fsdecode(ctx.dir + b'/rules.xml')]
    else:
        cli = case['cli']
        if case.get('together'):
            args.append('--together')
        for key in ('first', 'last', 'all', 'exclude'):
            for rel in cli[key]:
                args += ['--' + key, os.fsdecode(join(ctx.tree, rel))]
        args += [os.fsdecode(join(ctx.tree, rel)) for rel in cli['paths']]
    return args


def read_media(out, pattern):
    names = [n for n in os.listdir(out) if re.fullmatch(pattern, n)]
    return sorted(names, key=lambda n: int(re.sub(r'\D', '', n)))


class Check:
    def __init__(self):
        self.faults = []

    def fault(self, kind, text):
        self.faults.append((kind, text))


def check_refusal(chk, code, stdout, stderr, out):
    text = (stdout + stderr).decode('utf-8', 'replace')
    if NO_CAUSE in text:
        chk.fault('refusal-no-cause', 'refused with "%s": %s' % (NO_CAUSE, text.strip()[-300:]))
    elif 'qvsplit:' not in text or len(text.strip()) < 12:
        chk.fault('refusal-no-cause', 'refused without a cause: %r' % text.strip()[-300:])
    if os.path.isdir(out) and read_media(out, r'[Mm]edia\d+\.xml'):
        chk.fault('refusal-leftovers', 'refused but media files remain in %s' % out)


def media_entries(chk, ctx, out, names, follow):
    """Parses the media files: per medium its entries expanded to files (path -> size)."""
    media = []
    for i, name in enumerate(names, 1):
        if name != 'Media%d.xml' % i:
            chk.fault('media-names', 'media files are %s' % names)
        path = os.path.join(out, name)
        bad = xml_ok(path)
        if bad:
            chk.fault('xml', '%s: %s' % (name, bad))
            media.append(None)
            continue
        root = ET.parse(path).getroot()
        info = root.find('Media/Info')
        m = {'name': name, 'split': int(info.get('Split_Size', '-1')),
             'size': int(info.get('Media_Size', '-1')),
             'count': int(info.get('Media_NumberFiles', '-1')), 'entries': 0,
             'image': int(info.get('Image_Size')) if info.get('Image_Size') else None,
             'files': [], 'sum': 0, 'nfiles': 0, 'full': {}, 'placed': []}
        for node in root.findall('FILE'):
            m['entries'] += 1
            full = cdata(node, 'FullPath')
            attr = int(cdata(node, 'Attribute') or 0)
            size = int(cdata(node, 'FileSize') or -1)
            target = cdata(node, 'TargetPath')
            m['sum'] += size
            m['full'][full] = size
            if cdata(node, 'Path') + cdata(node, 'Name') != full and not full.endswith('\\*.*'):
                chk.fault('entry-form', '%s: Path + Name is not FullPath %r' % (name, full))
            if attr & ATTR_DIRECTORY and not attr & ATTR_REPARSE:
                folder = ctx.host(full[:-4] if full.endswith('\\*.*') else full)
                found = {}
                walk_nodes(folder, follow, ctx.locked, set(), found)
                total = 0
                for p, n in found.items():
                    # A link the walk keeps as itself (into a loop, or to nothing) is copied as
                    # the link.
                    if n.kind not in ('file', 'loop', 'dangling'):
                        chk.fault('whole-folder', '%s: %s kept whole holds %s (%s), which cannot be copied'
                                  % (name, full, os.fsdecode(p), n.kind))
                        continue
                    m['files'].append((p, n.size, full))
                    # Restored in the folder's own folder, one level down per folder below it.
                    rel = win_name(parent_of(p)[len(folder):].lstrip(b'/'))
                    m['placed'].append((p, (target + '\\' + rel if rel and target != '\\' else
                                            '\\' + rel if rel else target).lower()))
                    total += n.size
                    m['nfiles'] += 1
                if total != size:
                    chk.fault('folder-size', '%s: %s FileSize %d, files below it %d' % (name, full, size, total))
            else:
                host = ctx.host(full)
                try:
                    st = os.stat(host) if follow else os.lstat(host)
                    # A followed link to a folder planned as an entry (not as a folder kept
                    # whole) is a link into a loop, kept as itself.
                    real = 0 if stat.S_ISLNK(st.st_mode) or stat.S_ISDIR(st.st_mode) else st.st_size
                    if real != size:
                        chk.fault('entry-size', '%s: %s FileSize %d, on disk %d' % (name, full, size, real))
                except OSError:
                    if not follow:
                        chk.fault('entry-missing', '%s: %s is planned but does not exist' % (name, full))
                m['files'].append((host, size, full))
                m['placed'].append((host, target.lower()))
                m['nfiles'] += 1
        media.append(m)
    return media


def check_media_figures(chk, case, media, model=None):
    for i, m in enumerate(media, 1):
        if m is None:
            continue
        free = case['first_free'] * MB if i == 1 else 0
        if m['split'] != case['size']:
            chk.fault('figures', '%s: Split_Size %d, asked %d' % (m['name'], m['split'], case['size']))
        if m['size'] > case['size'] * MB:
            chk.fault('over-capacity', '%s: Media_Size %d is above the medium size %d' %
                      (m['name'], m['size'], case['size'] * MB))
        if m['size'] != m['sum'] + free:
            chk.fault('figures', '%s: Media_Size %d, entries %d + free %d' % (m['name'], m['size'], m['sum'], free))
        if m['count'] != m['nfiles']:
            chk.fault('figures', '%s: Media_NumberFiles %d, files of its entries %d' % (m['name'], m['count'], m['nfiles']))
        # A file may be on a medium once for each folder it is restored in there.
        seen = set()
        for host, folder in m['placed']:
            if (host, folder) in seen:
                locs = model.locs.get(host, set()) if model else set()
                kind = 'duplicate-two-maps' if len(locs) > 1 else 'duplicate'
                chk.fault(kind, '%s lists %s twice under %s (its maps: %s)'
                          % (m['name'], os.fsdecode(host), folder, sorted(locs)))
            seen.add((host, folder))


def left_out_list(chk, ctx, out):
    path = os.path.join(out, 'qvsplit-left-out.xml')
    left = {}
    if not os.path.exists(path):
        return left
    bad = xml_ok(path)
    if bad:
        chk.fault('xml', 'qvsplit-left-out.xml: %s' % bad)
        return left
    for e in ET.parse(path).getroot().findall('Entry'):
        if not e.get('Reason'):
            chk.fault('left-out-reason', '%s left out without a reason' % e.text)
        left[ctx.host(e.text or '')] = e.get('Reason', '')
    return left


def origin_of(path):
    m = PART_RE.match(path)
    return m.group(1) if m else None


def check_placements(chk, model, media, left, out_dir):
    """Every path where its location maps say, and nowhere else."""
    n = len(media)
    occ = {}
    for i, m in enumerate(media, 1):
        for host, _, _ in (m['files'] if m else []):
            occ.setdefault(host, []).append(i)
    placed = {}
    for i, m in enumerate(media, 1):
        for host, folder in (m['placed'] if m else []):
            placed.setdefault(host, []).append((i, folder))
    cut_origins = {}
    for host, where in occ.items():
        if below(os.path.realpath(host), os.path.realpath(out_dir)):
            chk.fault('output-planned', '%s: inside the output folder, planned on media %s' % (os.fsdecode(host), where))
            continue
        origin = origin_of(host)
        if host not in model.nodes and origin in model.nodes and model.case['cut']:
            cut_origins.setdefault(origin, []).append((host, where))
            continue
        if host not in model.nodes:
            chk.fault('unselected', '%s planned on media %s but no include rule reaches it' % (os.fsdecode(host), where))
    left_under = lambda p: any(below(p, l) for l in left)
    groups = {}
    for path, node in sorted(model.nodes.items()):
        locs = model.locs[path]
        where = occ.get(path, [])
        name = os.fsdecode(path)
        if not locs:
            if where:
                chk.fault('excluded-planned', '%s is on no location map (excluded or not included) '
                          'but is on media %s' % (name, where))
            continue
        if node.kind in ('special', 'unreadable') or (node.kind == 'file' and not model.plannable(node)):
            if where:
                chk.fault('unplannable-planned', '%s (%s, %d bytes) cannot be planned but is on media %s'
                          % (name, node.kind, node.size, where))
            if not left_under(path):
                chk.fault('left-out-missing', '%s (%s, %d bytes, maps %s) is not listed as left out'
                          % (name, node.kind, node.size, sorted(locs)))
            continue
        if node.kind in ('loop', 'dangling'):
            if not where and not left_under(path):
                chk.fault('link-lost', '%s (%s link, maps %s) is neither planned nor listed as left out'
                          % (name, node.kind, sorted(locs)))
            continue
        if model.cut(node):
            parts = cut_origins.get(path, [])
            if where or not parts:
                chk.fault('cut', '%s (%d bytes, maps %s) should be cut into parts: the file is on media %s, '
                          '%d part entries' % (name, node.size, sorted(locs), where, len(parts)))
            for part, pwhere in parts:
                check_one(chk, os.fsdecode(part), locs, pwhere, n)
            continue
        if path in left:
            chk.fault('left-out-wrongly', '%s (%d bytes, maps %s) fits a medium but is listed as left out: %s'
                      % (name, node.size, sorted(locs), left[path]))
            continue
        check_one(chk, name, locs, where, n)
        check_folders(chk, name, model.places[path], placed.get(path, []), n)
        tog = [r for r in model.any_rules(path) if r.together]
        if locs == {'Any'} and len(model.any_rules(path)) == 1 and tog and where:
            groups.setdefault(tog[0].group, set()).update(where)
    for index, where in groups.items():
        if len(where) > 1:
            chk.fault('together', 'the files of AllTogether rule %d are spread over media %s' % (index + 1, sorted(where)))


def check_one(chk, name, locs, where, n):
    """One file's media against its location maps."""
    uniq = sorted(set(where))
    ask = sorted(locs)
    if not where:
        chk.fault('missing', '%s (maps %s) is on no medium and not listed as left out' % (name, ask))
        return
    if 'All' in locs:
        if uniq != list(range(1, n + 1)):
            chk.fault('location-All', '%s (maps %s) must be on every medium 1..%d, is on %s' % (name, ask, n, where))
        return
    required = set()
    if 'First' in locs:
        required.add(1)
        if 1 not in uniq:
            chk.fault('location-First', '%s (maps %s) must be on medium 1, is on %s' % (name, ask, where))
    if 'Last' in locs:
        required.add(n)
        if n not in uniq:
            chk.fault('location-Last', '%s (maps %s) must be on the last medium %d, is on %s' % (name, ask, n, where))
    free = locs & {'Any', 'NotFirst', 'NotLast'}
    extra = [m for m in uniq if m not in required]
    if not free:
        if extra:
            chk.fault('location-extra', '%s (maps %s) belongs only on %s, is on %s' % (name, ask, sorted(required), where))
        return
    if len(extra) > len(free):
        chk.fault('location-extra', '%s (maps %s) is on more media than its maps allow: %s' % (name, ask, where))
    if free == {'Any'} and not required and len(uniq) != 1:
        chk.fault('location-Any', '%s (maps %s) must be on exactly one medium, is on %s' % (name, ask, where))
    if free == {'NotFirst'} and not required and n > 1 and (len(uniq) != 1 or uniq[0] == 1):
        chk.fault('location-NotFirst', '%s (maps %s) must be on one medium other than 1, is on %s' % (name, ask, where))
    if free == {'NotLast'} and not required and n > 1 and (len(uniq) != 1 or uniq[0] == n):
        chk.fault('location-NotLast', '%s (maps %s) must be on one medium other than the last (%d), is on %s'
                  % (name, ask, n, where))


def check_folders(chk, name, places, placed, n):
    """Each placement under its folder: the fixed ones on their media, and as many entries
    in all as placements (on a single medium, one per folder)."""
    if None in places.values():
        return
    on = lambda medium, folder: (medium, folder) in placed
    for loc, media_of in (('All', range(1, n + 1)), ('First', [1]), ('Last', [n])):
        if loc in places and not all(on(i, places[loc]) for i in media_of):
            chk.fault('placement-lost', '%s must be under %s on media %s (%s), is on %s'
                      % (name, places[loc], list(media_of), loc, sorted(placed)))
    want = len(set(places.values())) if n == 1 else sum(n if loc == 'All' else 1 for loc in places)
    if len(placed) != want:
        chk.fault('placement-count', '%s has %d entries, its placements %s give %d'
                  % (name, len(placed), sorted(places.items()), want))


def check_json(chk, stdout, media, left):
    try:
        text = stdout.decode('utf-8')
    except UnicodeDecodeError as e:
        chk.fault('json-utf8', '--json output is not valid UTF-8: %s' % e)
        return
    try:
        doc = json.loads(text)
    except ValueError as e:
        chk.fault('json', '--json output is not JSON: %s: %r' % (e, text[:200]))
        return
    rows = doc.get('media', [])
    if doc.get('media_count') != len(media) or len(rows) != len(media):
        chk.fault('json', '--json media_count %r with %d rows, %d media files' % (doc.get('media_count'), len(rows), len(media)))
        return
    total = 0
    for row, m in zip(rows, media):
        if m is None:
            continue
        total += m['size']
        got = (row.get('file'), row.get('size'), row.get('files'), row.get('entries'), row.get('image_size'),
               row.get('over_capacity'))
        want = (m['name'], m['size'], m['count'], m['entries'], m['image'] or None, False)
        if got != want:
            chk.fault('json', '--json row %s, media file says %s' % (got, want))
    if any(k.startswith('duplicate') for k, _ in chk.faults):
        return  # a path listed twice makes the total ambiguous; that fault is reported already
    # The total counts each entry once, by its FullPath, however many media hold it.
    distinct = {}
    for m in media:
        distinct.update(m['full'] if m else {})
    if doc.get('total_size') != sum(distinct.values()):
        chk.fault('json', '--json total_size %r, media sizes add up to %d, distinct entries %d'
                  % (doc.get('total_size'), total, sum(distinct.values())))
    if len(doc.get('left_out', [])) != len(left):
        chk.fault('json', '--json lists %d left out, qvsplit-left-out.xml %d' % (len(doc.get('left_out', [])), len(left)))


def media_bytes(out, names):
    result = {}
    for n in names + ['qvsplit-left-out.xml']:
        p = os.path.join(out, n)
        if os.path.exists(p):
            with open(p, 'rb') as f:
                result[n] = f.read()
    return result


def run_split(case, ctx, chk):
    if case['input'] == 'rules':
        with open(ctx.dir + b'/rules.xml', 'w', encoding='utf-8') as f:
            f.write(rules_xml(case, ctx.tree_win()))
    in_tree = case.get('out_in_tree')
    out_b = ctx.outs[0]
    out = os.fsdecode(out_b)
    st = os.stat(out_b)
    skip = {(st.st_ino, st.st_dev)}
    model = Model(case, ctx.tree, ctx.locked, skip)
    before = snapshot(ctx.tree) if case['cut'] else None
    code, stdout, stderr = ctx.runner.run(split_args(case, ctx, out, True))
    if code not in (0, 1):
        chk.fault('exit', 'split exited %d: %s' % (code, (stdout + stderr).decode('utf-8', 'replace')[-400:]))
        return
    ok, why = model.feasible()
    if code == 1:
        check_refusal(chk, code, stdout, stderr, out)
        if ok:
            chk.fault('refused-feasible', 'refused although a plan exists (%s): %s' %
                      (why, (stdout + stderr).decode('utf-8', 'replace').strip()[-400:]))
        if case['cut']:
            check_unchanged(chk, before, snapshot(ctx.tree), 'a refused split')
        return
    names = read_media(out, r'[Mm]edia\d+\.xml') if os.path.isdir(out) else []
    if not names:
        if ok is not None:
            chk.fault('no-media', 'exit 0 but no media files although there is something to plan')
        return
    for stray in ('Last.xml', 'qvsplit-incomplete'):
        if os.path.exists(os.path.join(out, stray)):
            chk.fault('leftovers', '%s remains in the output folder' % stray)
    media = media_entries(chk, ctx, out, names, case['follow'])
    left = left_out_list(chk, ctx, out)
    check_media_figures(chk, case, media, model)
    check_placements(chk, model, media, left, out_b)
    check_json(chk, stdout, media, left)
    if ok is False:
        chk.fault('planned-infeasible', 'exit 0 although no plan can exist (%s)' % why)
    vargs = ['verify', out] + (['--follow-links'] if case['follow'] else [])
    vcode, vout, verr = ctx.runner.run(vargs)
    if vcode != 0:
        chk.fault('verify', 'qvsplit verify right after the split exited %d: %s' %
                  (vcode, (vout + verr).decode('utf-8', 'replace').strip()[-400:]))
    if case['cut']:
        check_recovery(chk, ctx, model, before)
        return
    first = media_bytes(out, names)
    out2 = out if in_tree else os.fsdecode(ctx.outs[1])
    if in_tree:
        shutil.rmtree(out_b)
    code2, o2, e2 = ctx.runner.run(split_args(case, ctx, out2, False))
    second = media_bytes(out2, read_media(out2, r'[Mm]edia\d+\.xml')) if os.path.isdir(out2) else {}
    if code2 != code or first != second:
        diff = sorted(k for k in set(first) | set(second) if first.get(k) != second.get(k))
        chk.fault('nondeterministic', 'the same input twice gave different media (exit %d/%d, differ: %s)'
                  % (code, code2, diff))


def check_unchanged(chk, before, after, when):
    for path, digest in before.items():
        if after.get(path) != digest:
            chk.fault('changed', 'after %s %s changed' % (when, os.fsdecode(path)))


def check_recovery(chk, ctx, model, before):
    """Recovery restores every cut file byte for byte and touches nothing else."""
    cut = {p for p, n in model.nodes.items() if model.locs[p] and model.cut(n)}
    # A file planned under a path through a followed link is cut under every name it has,
    # an excluded one included: it is one file.
    cut_real = {os.path.realpath(p) for p in cut}
    after_split = snapshot(ctx.tree)
    mine = lambda snap: {p: v for p, v in snap.items() if not below(p, ctx.outs[0])}
    after_split = mine(after_split)
    for path, digest in before.items():
        if path not in cut and os.path.realpath(path) not in cut_real and after_split.get(path) != digest:
            chk.fault('cut-wrong-file', '%s changed by the split although it is not cut' % os.fsdecode(path))
    for path in cut:
        # A followed link is cut without being removed: its file is elsewhere.
        if path in after_split and not os.path.islink(path):
            chk.fault('cut', '%s should have been cut but is still there' % os.fsdecode(path))
    lst = ctx.dir + b'/list.ini'
    if not os.path.exists(lst):
        if cut:
            chk.fault('cut', 'no part list written although %d files were cut' % len(cut))
        return
    code, out, err = ctx.runner.run(['recover', '--list', os.fsdecode(lst)] +
                                    (['--drive', 'D'] if model.case.get('drive') == 'D' else []))
    if code != 0:
        chk.fault('recover', 'recover exited %d: %s' % (code, (out + err).decode('utf-8', 'replace').strip()[-300:]))
    after = mine(snapshot(ctx.tree))
    for path, digest in before.items():
        if after.get(path) != digest:
            what = 'missing' if path not in after else 'different bytes'
            chk.fault('recover-bytes', 'after recovery %s: %s%s' % (os.fsdecode(path), what, ' (was cut)' if path in cut else
                                                                   ' (was NOT cut: a case twin?)'))
    extra = sorted(os.fsdecode(p) for p in after if p not in before)
    if extra:
        chk.fault('recover-leftover', 'after recovery %d new files remain: %s' % (len(extra), ', '.join(extra[:3])))


# ----------------------------------------------------------------------------------------------
# rvx

def rvx_size(path):
    st = os.lstat(path)
    if not stat.S_ISDIR(st.st_mode):
        return st.st_size, 1
    files, _, _ = CHECK_PLAN.walk(path, set())
    return sum(files.values()), len(files)


def run_rvx(case, ctx, chk):
    r = case['rvx']
    out = os.fsdecode(ctx.dir + b'/r1')
    args = ['rvx', '--size', str(case['size']), '--fs', 'none', '--out', out]
    for rel in r['all']:
        args += ['--all', os.fsdecode(join(ctx.tree, rel))]
    args += [os.fsdecode(join(ctx.tree, rel)) for rel in r['items']]
    items = {join(ctx.tree, rel): rvx_size(join(ctx.tree, rel)) for rel in r['items']}
    alls = {join(ctx.tree, rel): rvx_size(join(ctx.tree, rel)) for rel in r['all']}
    limit = case['size'] * MB
    a = sum(s for s, _ in alls.values())
    feasible = all(s + a < limit for s, _ in items.values()) and bool(items)
    code, stdout, stderr = ctx.runner.run(args)
    if code not in (0, 1):
        chk.fault('exit', 'rvx exited %d: %s' % (code, (stdout + stderr).decode('utf-8', 'replace')[-400:]))
        return
    if code == 1:
        check_refusal(chk, code, stdout, stderr, out)
        if feasible:
            chk.fault('refused-feasible', 'rvx refused although every item fits beside the every-medium items '
                      '(all %d bytes, largest item %d): %s' % (a, max(s for s, _ in items.values()),
                                                              (stdout + stderr).decode('utf-8', 'replace').strip()[-300:]))
        return
    names = read_media(out, r'media\d+\.xml') if os.path.isdir(out) else []
    if not feasible and items:
        chk.fault('rvx-infeasible', 'rvx succeeded although an item cannot fit beside the every-medium items '
                  '(every-medium %d bytes, items %s, medium %d)' % (a, sorted(s for s, _ in items.values()), limit))
    n = len(names)
    seen = {}
    for i, name in enumerate(names, 1):
        if name != 'media%d.xml' % i:
            chk.fault('media-names', 'rvx media files are %s' % names)
        path = os.path.join(out, name)
        bad = xml_ok(path)
        if bad:
            chk.fault('xml', '%s: %s' % (name, bad))
            continue
        root = ET.parse(path).getroot()
        info = root.find('Media/Info')
        total, count, here = 0, 0, []
        for node in root.findall('FILE'):
            full = cdata(node, 'FullPath')
            host = ctx.host(full[:-4] if full.endswith('\\*.*') else full)
            size = int(cdata(node, 'FileSize') or -1)
            real = rvx_size(host) if os.path.lexists(host) else (-1, 0)
            if size != real[0]:
                chk.fault('entry-size', '%s: %s FileSize %d, on disk %d' % (name, full, size, real[0]))
            total += size
            count += real[1]
            here.append(host)
            seen.setdefault(host, []).append(i)
        if len(here) != len(set(here)):
            chk.fault('duplicate', '%s lists an item twice' % name)
        if int(info.get('Media_Size', '-1')) != total or int(info.get('Media_NumberFiles', '-1')) != count:
            chk.fault('figures', '%s: Media_Size %s Media_NumberFiles %s, entries %d bytes %d files' %
                      (name, info.get('Media_Size'), info.get('Media_NumberFiles'), total, count))
        if total >= limit:
            chk.fault('over-capacity', '%s: %d bytes, not below the medium size %d' % (name, total, limit))
    for path in items:
        if len(seen.get(path, [])) != 1:
            chk.fault('rvx-any', '%s must be on exactly one medium, is on %s' % (os.fsdecode(path), seen.get(path, [])))
    for path in alls:
        if sorted(seen.get(path, [])) != list(range(1, n + 1)):
            chk.fault('rvx-all', '%s (--all, %d bytes) must be on every medium 1..%d, is on %s'
                      % (os.fsdecode(path), alls[path][0], n, seen.get(path, [])))
    if r.get('estimate'):
        eout = os.fsdecode(ctx.dir + b'/r2')
        ecode, eo, ee = ctx.runner.run(args[:6] + [eout] + args[7:] + ['--estimate'])
        text = (eo + ee).decode('utf-8', 'replace')
        m = re.search(r'(\d+) media', text)
        if ecode != 0 or not m or int(m.group(1)) != n:
            chk.fault('rvx-estimate', 'rvx --estimate exit %d says %r, the split wrote %d media' % (ecode, text.strip()[-200:], n))
        if os.path.isdir(eout) and read_media(eout, r'media\d+\.xml'):
            chk.fault('rvx-estimate', 'rvx --estimate left media files in %s' % eout)
    first = media_bytes(out, names)
    out2 = os.fsdecode(ctx.dir + b'/r3')
    ctx.runner.run(args[:6] + [out2] + args[7:])
    second = media_bytes(out2, read_media(out2, r'media\d+\.xml')) if os.path.isdir(out2) else {}
    if first != second:
        chk.fault('nondeterministic', 'rvx twice gave different media files')


# ----------------------------------------------------------------------------------------------
# One case, shrinking, reproduction

def run_case(case, qvsplit, keep=False):
    """Runs one case; returns (faults, commands)."""
    chk = Check()
    ctx = Context(case, qvsplit, keep)
    try:
        if case['mode'] == 'rvx':
            run_rvx(case, ctx, chk)
        else:
            run_split(case, ctx, chk)
    finally:
        ctx.close()
    return chk.faults, ctx.runner.log


def removals(case):
    """Smaller variants of a case, most promising first."""
    tree = case['tree']
    for i in range(len(tree)):
        gone = tree[i]['p']
        c = copy.deepcopy(case)
        gone_below = lambda p: p == gone or p.startswith(gone + '/')
        c['tree'] = [e for e in tree if not gone_below(e['p'])]
        if case['mode'] == 'rvx':
            for key in ('items', 'all'):
                c['rvx'][key] = [p for p in c['rvx'][key] if not gone_below(p)]
        yield c
    if case['mode'] == 'rvx':
        for key in ('items', 'all'):
            for i in range(len(case['rvx'][key])):
                c = copy.deepcopy(case)
                del c['rvx'][key][i]
                yield c
        if case['rvx'].get('estimate'):
            c = copy.deepcopy(case)
            c['rvx']['estimate'] = False
            yield c
    elif case['input'] == 'rules':
        for i in range(len(case['rules'])):
            c = copy.deepcopy(case)
            del c['rules'][i]
            if c['rules']:
                yield c
        for i, r in enumerate(case['rules']):
            if r['tgt'] or r['tog']:
                c = copy.deepcopy(case)
                c['rules'][i]['tgt'], c['rules'][i]['tog'] = '', False
                yield c
    else:
        for key in ('paths', 'first', 'last', 'all', 'exclude'):
            for i in range(len(case['cli'][key])):
                c = copy.deepcopy(case)
                del c['cli'][key][i]
                yield c
    if case['mode'] == 'split':
        for key, plain in (('follow', False), ('method', 'files'), ('together', False), ('first_free', 0),
                           ('cut', False), ('out_in_tree', False), ('drive', 'C')):
            if case.get(key, plain) != plain:
                c = copy.deepcopy(case)
                c[key] = plain
                yield c
    for i, e in enumerate(tree):
        if e['k'] == 'f' and e['n'] > 0:
            for n in (0, e['n'] // 2):
                c = copy.deepcopy(case)
                c['tree'][i]['n'] = n
                yield c
        if e.get('r'):
            c = copy.deepcopy(case)
            del c['tree'][i]['r']
            yield c


def shrink(case, kind, qvsplit, budget_s=90):
    """Greedy: keep any smaller variant that still shows a fault of the same kind."""
    deadline = time.time() + budget_s
    best = case
    progress = True
    while progress and time.time() < deadline:
        progress = False
        for smaller in removals(best):
            if time.time() > deadline:
                break
            faults, _ = run_case(smaller, qvsplit)
            if any(k == kind for k, _ in faults):
                best = smaller
                progress = True
                break
    return best


def repro_shell(case, qvsplit):
    """Shell commands that rebuild the case in $T and run the program as the checker did."""
    lines = ['T=$(mktemp -d)/w/t && mkdir -p "$T" && cd "$T/../.."', 'Q=%s' % shlex.quote(os.path.abspath(qvsplit))]
    for e in case['tree']:
        p = '"$T"/' + shell_quote(fs(e['p']))
        if e['k'] == 'd':
            lines.append('mkdir -p %s' % p)
        elif e['k'] == 'f':
            lines.append('truncate -s %d %s' % (e['n'], p))
            if e.get('r'):
                lines.append('# (random bytes in it: seed %d; only the bytes matter for recovery)' % e['r'])
        elif e['k'] == 'l':
            lines.append('ln -s %s %s' % (shell_quote(fs(e['t'])), p))
        elif e['k'] == 'p':
            lines.append('mkfifo %s' % p)
    for e in case['tree']:
        if e.get('lock'):
            lines.append('chmod 000 "$T"/%s   # then run as a user other than root' % shell_quote(fs(e['p'])))
    if case['mode'] == 'rvx':
        r = case['rvx']
        cmd = '"$Q" rvx --size %d --fs none --out r1' % case['size']
        for rel in r['all']:
            cmd += ' --all "$T"/' + shell_quote(fs(rel)) if rel else ' --all "$T"'
        for rel in r['items']:
            cmd += ' "$T"/' + shell_quote(fs(rel)) if rel else ' "$T"'
        lines.append(cmd)
        return '\n'.join(lines)
    opts = ' --size %d --fs none' % case['size']
    if case['method'] != 'files':
        opts += ' --method ' + case['method']
    if case['follow']:
        opts += ' --follow-links'
    if case['first_free']:
        opts += ' --first-free %d' % case['first_free']
    if case['cut']:
        opts += ' --cut-big list.ini --yes'
    out = '"$T"/qvout' if case.get('out_in_tree') else 'o1'
    if case['input'] == 'rules':
        if case.get('drive') == 'D':
            lines.append('export QVSPLIT_DRIVE_D="$(dirname "$T")"')
            lines.append("cat > rules.xml <<'EOF'")
            lines.append(rules_xml(case, 'D:\\t').rstrip('\n'))
            lines.append('EOF')
        else:
            lines.append("cat > rules.xml <<EOF")
            lines.append(rules_xml(case, 'C:$W').rstrip('\n').replace('\\', '\\\\').replace('C:\\\\$W', 'C:$W'))
            lines.append('EOF')
            lines.insert(2, 'W=$(printf %s "$T" | tr / \'\\\\\')')
        lines.append('"$Q" split%s --out %s --json --rules rules.xml' % (opts, out))
    else:
        cmd = '"$Q" split%s --out %s --json' % (opts, out)
        if case.get('together'):
            cmd += ' --together'
        q = lambda rel: '"$T"/' + shell_quote(fs(rel)) if rel else '"$T"'
        for key in ('first', 'last', 'all', 'exclude'):
            for rel in case['cli'][key]:
                cmd += ' --%s %s' % (key, q(rel))
        for rel in case['cli']['paths']:
            cmd += ' ' + q(rel)
        lines.append(cmd)
    lines.append('"$Q" verify %s%s' % (out, ' --follow-links' if case['follow'] else ''))
    if case['cut']:
        lines.append('"$Q" recover --list list.ini')
    return '\n'.join(lines)


def describe(case):
    return json.dumps(case, ensure_ascii=True, sort_keys=True)


def report(label, case, faults, qvsplit, out=sys.stdout):
    print('FAIL %s' % label, file=out)
    for kind, text in faults[:30]:
        print('  [%s] %s' % (kind, text), file=out)
    if len(faults) > 30:
        print('  ... and %d more' % (len(faults) - 30), file=out)


def print_repro(case, kind, qvsplit):
    print('  minimal case (fault kind %s), as a row for %s:' % (kind, os.path.relpath(DEFAULT_CASES, REPO)))
    print('    ' + json.dumps({'name': 'TODO', 'kind': kind, 'case': case}, ensure_ascii=True, sort_keys=True))
    print('  reproduce:')
    for line in repro_shell(case, qvsplit).split('\n'):
        print('    ' + line)


def load_table(path):
    if not path or not os.path.exists(path):
        return []
    with open(path, encoding='utf-8') as f:
        return json.load(f).get('cases', [])


def save_row(path, row):
    table = {'cases': load_table(path)}
    table['cases'].append(row)
    with open(path, 'w', encoding='utf-8') as f:
        json.dump(table, f, ensure_ascii=True, indent=1, sort_keys=True)
        f.write('\n')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--qvsplit', required=True)
    parser.add_argument('--seed', type=int, action='append',
                        help='random seed (repeatable; default: the fixed CI seeds)')
    parser.add_argument('--count', type=int, default=60, help='random cases per seed')
    parser.add_argument('--time-budget', type=float, default=0,
                        help='stop starting new random cases after this many seconds (0: no limit)')
    parser.add_argument('--case-file', default=DEFAULT_CASES, help='regression rows replayed first')
    parser.add_argument('--no-table', action='store_true', help='do not replay the regression rows')
    parser.add_argument('--no-shrink', action='store_true')
    parser.add_argument('--shrink-budget', type=float, default=90)
    parser.add_argument('--record', action='store_true', help='append each new minimal case to the case file')
    parser.add_argument('--replay', help='run one case given as JSON (a row or a case), or @FILE')
    parser.add_argument('--keep', action='store_true', help='keep the case folders')
    parser.add_argument('--kind', help='with --replay: the fault kind to shrink for')
    args = parser.parse_args()
    qvsplit = os.path.abspath(args.qvsplit)
    if not os.access(qvsplit, os.X_OK):
        print('plan_fuzz: %s is not an executable program' % qvsplit)
        return 2
    passed = failed = 0
    start = time.time()

    if args.replay:
        text = open(args.replay[1:]).read() if args.replay.startswith('@') else args.replay
        row = json.loads(text)
        case = row.get('case', row)
        faults, log = run_case(case, qvsplit, args.keep)
        for cmd in log:
            print('ran: qvsplit ' + ' '.join(shlex.quote(a) for a in cmd))
        if faults:
            report('replayed case', case, faults, qvsplit)
            if not args.no_shrink:
                kind = args.kind or faults[0][0]
                small = shrink(case, kind, qvsplit, args.shrink_budget)
                for k, text in run_case(small, qvsplit)[0]:
                    print('  shrunk: [%s] %s' % (k, text))
                print_repro(small, kind, qvsplit)
                return 1
        print(repro_shell(case, qvsplit))
        print('%d passed, %d failed' % (0 if faults else 1, 1 if faults else 0))
        return 1 if faults else 0

    if not args.no_table:
        for i, row in enumerate(load_table(args.case_file)):
            faults, _ = run_case(row['case'], qvsplit, args.keep)
            label = 'table row %d (%s)' % (i, row.get('name', ''))
            if faults and row.get('open'):
                # A fault known and not mended yet: shown, not counted, until it is.
                print('OPEN %s: %s' % (label, row['open']))
                for k, text in faults:
                    print('  [%s] %s' % (k, text))
                continue
            if faults:
                failed += 1
                report(label, row['case'], faults, qvsplit)
                print('  reproduce:')
                for line in repro_shell(row['case'], qvsplit).split('\n'):
                    print('    ' + line)
            else:
                passed += 1
    seeds = args.seed or [1, 2, 3]
    kinds_seen = set()
    for seed in seeds:
        rng = random.Random(seed)
        for n in range(args.count):
            if args.time_budget and time.time() - start > args.time_budget:
                break
            case = gen_case(rng)
            faults, _ = run_case(case, qvsplit, args.keep)
            if not faults:
                passed += 1
                continue
            failed += 1
            label = 'seed %d case %d' % (seed, n)
            report(label, case, faults, qvsplit)
            fresh = [k for k, _ in faults if k not in kinds_seen]
            kind = fresh[0] if fresh else faults[0][0]
            if args.no_shrink or kind in kinds_seen:
                print('  (not shrunk: %s)' % ('--no-shrink' if args.no_shrink else 'a case of this kind was shrunk already'))
                print('  case: ' + describe(case))
                print('  replay: %s --qvsplit %s --replay %s' % (sys.argv[0], args.qvsplit, shlex.quote(describe(case))))
                continue
            kinds_seen.add(kind)
            small = shrink(case, kind, qvsplit, args.shrink_budget)
            small_faults, _ = run_case(small, qvsplit)
            for k, text in small_faults:
                if k == kind:
                    print('  shrunk: [%s] %s' % (k, text))
            print_repro(small, kind, qvsplit)
            if args.record:
                save_row(args.case_file, {'name': label, 'kind': kind, 'case': small})
    print('plan_fuzz: %d passed, %d failed (%.0f s)' % (passed, failed, time.time() - start))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
