#!/usr/bin/env python3
"""Randomized fit checker: every medium planned for a file system fits, as the real image or
archive is built.

Each case is a random recipe of small trees, each stressing one term of the allocation models:
empty and tiny files, sizes around multiples of 512 and 2,048 bytes, folders whose names differ
only in letter case, deep chains, folders of 0 to hundreds of entries, long and multi-byte names,
names that are not UTF-8, links with long or non-ASCII targets, hard links and empty folders. It
is planned at a small medium (1 to 6 MB) for `iso`, `iso-udf` or `tar`, with `split` (file by
file or folders kept whole) or `rvx`. Every medium is then built as a burning program or `pack`
builds it (xorriso, genisoimage -udf, `qvsplit pack --format tar`) and must fit both its medium
and the plan's prediction. One split case in three for `iso` or `tar` keeps room for the
catalogue files as a user's split does (by default for `iso`, with `--catalog` for `tar`); its
media are also packed by `qvsplit pack` with the catalogue, and every image or archive must fit
its medium and carry the catalogue, unless the split said it kept no room; half of those put
the first term's folder on every medium as well.

A failing case prints its recipe as a row for tests/tools/fit_fuzz_cases.json; the rows there are
replayed before any random case.

Usage: fit_fuzz.py --qvsplit build/qvsplit [--seed S]... [--count N] [--keep] [--replay ROW]
Exit status 0 when every medium fits, 1 otherwise.
"""
import argparse
import importlib.util
import json
import os
import random
import shutil
import subprocess
import sys
import tarfile
import tempfile
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..'))
DEFAULT_CASES = os.path.join(HERE, 'fit_fuzz_cases.json')


def _load_fit_checker():
    spec = importlib.util.spec_from_file_location('check_iso_fit', os.path.join(REPO, 'scripts', 'check-iso-fit.py'))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


FIT = _load_fit_checker()

# Pieces of names: ASCII, accented, CJK, and outside the BMP (two UTF-16 units).
ALPHABETS = ['abcdefghij', 'ÄÖÜéèàçñ', '名前文件夹資料', '😀🎵🌍']
TERMS = ['tiny', 'blocks', 'case-twins', 'chain', 'wide', 'long-names', 'not-utf8', 'links', 'hard-links',
         'empty-folders', 'sparse']


def random_name(rng, length, fs):
    # genisoimage writes Joliet names in UCS-2 and aborts on a character beyond it.
    alphabet = rng.choice(ALPHABETS[:3] if fs == 'iso-udf' else ALPHABETS)
    name = ''.join(rng.choice(alphabet) for _ in range(length))
    # At most 255 bytes, as Linux file systems hold, with room for a number after it.
    while len(name.encode('utf-8')) > 248:
        name = name[:-1]
    return name


def random_recipe(rng):
    """A list of terms with their parameters; the tree is made from it alone."""
    recipe = []
    for _ in range(rng.randint(1, 4)):
        term = rng.choice(TERMS)
        recipe.append({'term': term, 'count': rng.randint(1, 400), 'seed': rng.randint(0, 10**9)})
    case = {
        'recipe': recipe,
        'size': rng.randint(1, 6),
        'fs': rng.choice(['iso', 'iso', 'iso-udf', 'tar', 'tar']),
        'command': rng.choice(['files', 'dirs', 'rvx']),
    }
    # Drawn from the recipe rather than the seed's sequence, so that a seed's cases stay as they were.
    case['catalog'] = case['fs'] in ('iso', 'tar') and case['command'] != 'rvx' and recipe[0]['seed'] % 3 == 0
    if case['catalog']:
        case['size'] = 1  # full media, where the catalogue must have its room
        # The first term's folder on every medium half the time: its rows are on every medium's
        # list, once per medium.
        case['every'] = len(recipe) > 1 and recipe[0]['seed'] % 2 == 0
    return case


def write(path, size=0):
    with open(path, 'wb') as f:
        if size:
            f.truncate(size)


def make_term(root, spec, fs):
    """Makes one term's tree under root/<index>-<term>."""
    rng = random.Random(spec['seed'])
    n = spec['count']
    base = root
    os.makedirs(base, exist_ok=True)
    term = spec['term']
    if term == 'tiny':
        for i in range(n):
            write(os.path.join(base, 't%d' % i), rng.randint(0, 3))
    elif term == 'blocks':
        for i in range(min(n, 120)):
            unit = rng.choice([512, 2048])
            write(os.path.join(base, 'b%d' % i), max(0, unit * rng.randint(1, 40) + rng.choice([-1, 0, 1])))
    elif term == 'case-twins':
        for i in range(min(n, 200)):
            for name in ('Twin%d' % i, 'twin%d' % i):
                os.mkdir(os.path.join(base, name))
                write(os.path.join(base, name, 'x'), rng.randint(0, 2))
    elif term == 'chain':
        path = base
        # genisoimage -udf makes no folder deeper than six ("Directories too deep").
        for i in range(min(n, 3 if fs == 'iso-udf' else 60)):
            path = os.path.join(path, random_name(rng, rng.randint(1, 20), fs) + str(i))
            os.mkdir(path)
            if rng.random() < 0.5:
                write(os.path.join(path, 'f%d' % i), rng.randint(0, 3000))
    elif term == 'wide':
        for f in range(rng.randint(1, 3)):
            folder = os.path.join(base, 'w%d' % f)
            os.mkdir(folder)
            for i in range(rng.randint(0, n)):
                write(os.path.join(folder, '%s-%d' % (random_name(rng, rng.randint(1, 40), fs), i)), rng.randint(0, 100))
    elif term == 'long-names':
        for i in range(min(n, 150)):
            folder = os.path.join(base, random_name(rng, rng.randint(50, 120), fs) + str(i))
            os.mkdir(folder)
            write(os.path.join(folder, random_name(rng, rng.randint(60, 200), fs)), rng.randint(0, 5000))
    elif term == 'not-utf8':
        for i in range(min(n, 200)):
            raw = b'n%d-' % i + bytes([rng.choice([0xe9, 0xff, 0x80, 0xc3])]) * rng.randint(1, 30)
            write(os.path.join(os.fsencode(base), raw), rng.randint(0, 700))
    elif term == 'links':
        for i in range(min(n, 300)):
            length = rng.choice([1, 50, 99, 100, 101, 300, 1000, 1023, 1024, 1025, 1100])
            # genisoimage (1.1.11) never ends on some longer targets of many short names.
            if fs == 'iso-udf':
                length = min(length, 250)
            target = ''.join(rng.choice('abc/') for _ in range(length))
            if rng.random() < 0.3:
                target = random_name(rng, max(1, length // 3), fs)
            os.symlink(target, os.path.join(base, 'l%d' % i))
    elif term == 'hard-links':
        for i in range(min(n, 100)):
            first = os.path.join(base, 'h%d' % i)
            write(first, rng.randint(0, 9000))
            for j in range(rng.randint(1, 3)):
                os.link(first, os.path.join(base, 'h%d-%d' % (i, j)))
    elif term == 'empty-folders':
        for i in range(min(n, 300)):
            os.makedirs(os.path.join(base, 'e%d' % i, 'inner' * rng.randint(0, 3) or 'x'))
    elif term == 'sparse':
        for i in range(min(n, 12)):
            write(os.path.join(base, 's%d' % i), rng.randint(1, 900) * 1024 + rng.randint(0, 2047))


def make_tree(root, case):
    for index, spec in enumerate(case['recipe']):
        # genisoimage aborts on a name that is not UTF-8 ("Incorrectly encoded string").
        if spec['term'] == 'not-utf8' and case['fs'] == 'iso-udf':
            continue
        make_term(os.path.join(root, '%d-%s' % (index, spec['term'])), spec, case['fs'])


def check_case(qvsplit, case, work):
    """Problems found (empty when every medium fits)."""
    tree = os.path.join(work, 'tree')
    os.makedirs(tree)
    make_tree(tree, case)
    if not os.listdir(tree):
        return []  # every term was one this file system's builder cannot take
    out = os.path.join(work, 'media')
    fs = case['fs']
    if case['command'] == 'rvx':
        items = sorted(os.path.join(tree, name) for name in os.listdir(tree))
        args = ['rvx', '--quiet', '--size', str(case['size']), '--fs', fs, '--out', out] + items
    elif case.get('catalog'):
        args = ['split', '--quiet', '--method', case['command'], '--size', str(case['size']), '--fs', fs, '--out', out,
                tree] + (['--catalog'] if fs == 'tar' else [])
        first = os.path.join(tree, '0-' + case['recipe'][0]['term'])
        if case.get('every') and os.path.isdir(first):
            args += ['--all', first]
    else:
        # The plan of the files alone, which the images built here hold: no room for a catalogue.
        args = ['split', '--quiet', '--no-catalog', '--method', case['command'], '--size', str(case['size']),
                '--fs', fs, '--out', out, tree]
    done = subprocess.run([qvsplit] + args, capture_output=True, text=True, errors='replace', timeout=300)
    if done.returncode == 1:
        return []  # refused: nothing to build (whether a refusal is right is the plan checker's part)
    if done.returncode != 0:
        return ['%s exited %d: %s' % (args[0], done.returncode, done.stderr[-400:])]
    media = sorted(f for f in os.listdir(out) if f.lower().startswith('media') and f.endswith('.xml'))
    archives = FIT.tar_sizes(out, qvsplit) if fs == 'tar' else {}
    problems = []
    for name in media:
        info = ET.parse(os.path.join(out, name)).getroot().find('Media/Info')
        predicted = int(info.get('Image_Size', '0'))
        capacity = int(info.get('Split_Size', '0')) * 1048576
        if fs == 'tar':
            built = archives[name][0]
        else:
            # Sources below the tree are given from it, which keeps deep paths within what
            # xorriso takes.
            lines = FIT.path_list(os.path.join(out, name), base=os.fsencode(tree))
            try:
                built = FIT.image_sectors(lines, fs, cwd=tree) * FIT.SECTOR
            except FIT.LineTooLong as e:
                print('NOTE: %s not checked: %s' % (name, e))
                continue
        if built > capacity:
            problems.append('%s: built %d bytes, more than the medium (%d)' % (name, built, capacity))
        if built > predicted:
            problems.append('%s: built %d bytes, more than predicted (%d)' % (name, built, predicted))
    if case.get('catalog'):
        problems += check_catalogue(qvsplit, fs, out, work, 'no room kept for the catalogue' in done.stderr)
    return problems


def holds_catalogue(path, fs):
    if fs == 'tar':
        with tarfile.open(path) as archive:
            return 'QVSPLIT-CATALOG.txt.gz' in archive.getnames()
    listed = subprocess.run(['xorriso', '-indev', path, '-find', '/', '-name', 'QVSPLIT-CATALOG.txt.gz'],
                            capture_output=True, text=True, errors='replace', timeout=300)
    return 'QVSPLIT-CATALOG.txt.gz' in listed.stdout


def check_catalogue(qvsplit, fs, out, work, noRoom):
    """Packs the plan with the catalogue files: every image or archive fits its medium and carries
    them, unless the split kept no room (then pack leaves them off where they do not fit)."""
    packed = os.path.join(work, 'packed')
    args = [qvsplit, 'pack', '--quiet', '--format', fs, '--to', packed, out] + (['--catalog'] if fs == 'tar' else [])
    done = subprocess.run(args, capture_output=True, text=True, errors='replace', timeout=600)
    if done.returncode != 0 and 'address mismatch' in done.stderr:
        # libisofs (1.5.4) fails to write some folders of many long link targets ("Calculated/
        # written tree end address mismatch"; xorriso alike). When the images fail without the
        # catalogue too, that is the builder's fault, not the catalogue's.
        plain = subprocess.run([qvsplit, 'pack', '--quiet', '--no-catalog', '--format', fs, '--to', packed + '-plain', out],
                               capture_output=True, text=True, errors='replace', timeout=600)
        if plain.returncode != 0 and 'address mismatch' in plain.stderr:
            print('NOTE: libisofs cannot write a medium of this plan, with or without the catalogue')
            return []
    if done.returncode != 0:
        return ['pack with the catalogue exited %d: %s' % (done.returncode, done.stderr[-400:])]
    problems = []
    for name in sorted(os.listdir(out)):
        if not (name.lower().startswith('media') and name.endswith('.xml')):
            continue
        capacity = int(ET.parse(os.path.join(out, name)).getroot().find('Media/Info').get('Split_Size', '0')) * 1048576
        built = os.path.join(packed, name[:-4] + '.' + fs)
        if not os.path.exists(built):
            problems.append('%s: pack made no %s' % (name, os.path.basename(built)))
            continue
        if os.path.getsize(built) > capacity:
            problems.append('%s: packed with the catalogue, %d bytes, more than the medium (%d)' %
                            (name, os.path.getsize(built), capacity))
        if not noRoom and not holds_catalogue(built, fs):
            problems.append('%s: the plan kept room for the catalogue, but %s does not carry it' % (name, built))
    return problems


def run_case(qvsplit, case, label, keep):
    work = tempfile.mkdtemp(prefix='fit-fuzz-')
    try:
        problems = check_case(qvsplit, case, work)
    except (RuntimeError, OSError, subprocess.SubprocessError) as e:
        problems = ['could not be checked: %s' % e]
    finally:
        if keep:
            print('kept %s' % work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    for p in problems:
        print('FAIL %s: %s' % (label, p))
    if problems:
        print('row: %s' % json.dumps(case, ensure_ascii=False))
    sys.stdout.flush()
    return not problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--qvsplit', required=True)
    ap.add_argument('--seed', type=int, action='append')
    ap.add_argument('--count', type=int, default=20)
    ap.add_argument('--case-file', default=DEFAULT_CASES)
    ap.add_argument('--keep', action='store_true')
    ap.add_argument('--replay', help='one case as a JSON row (no table, no random cases)')
    args = ap.parse_args()
    if not shutil.which('xorriso') or not shutil.which('tar'):
        print('xorriso and tar are needed')
        return 77
    qvsplit = os.path.abspath(args.qvsplit)
    has_udf = shutil.which('genisoimage') is not None
    ok = True
    if args.replay:
        cases = [('replay', json.loads(args.replay))]
    else:
        with open(args.case_file, encoding='utf-8') as table:
            cases = [('row %d' % i, row) for i, row in enumerate(json.load(table))]
    for seed in [] if args.replay else args.seed or [1]:
        rng = random.Random(seed)
        cases += [('seed %d case %d' % (seed, i), random_recipe(rng)) for i in range(args.count)]
    for label, case in cases:
        if case['fs'] == 'iso-udf' and not has_udf:
            continue
        ok = run_case(qvsplit, case, label, args.keep) and ok
    print('%d cases, %s' % (len(cases), 'every medium fits' if ok else 'FAILURES'))
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
