#!/usr/bin/env python3
"""Randomized checker for `qvsplit check` and `qvsplit restore`, and their table of bad media.

Each random case is a small tree (names with odd bytes, backslashes and newlines, names that
differ only in case, links, a file of three names (hard links), empty folders, folders deeper
than eight levels, files with set modes and write times, and sometimes
a file larger than a medium, cut into parts). It is split, packed into ISO images or tar
archives, and the media are given to `check` and then to `restore` in a random order and in one
to three runs, some runs killed midway. The oracle is a walk of our own taken before the split
(which cuts big files in place): each path's kind, SHA-256 (hashlib), link target, mode and
write time. After every run, each file under its final name must be whole and right; after the
last, the restored tree must equal the walk, and a further run must find everything there.

The table of bad media is run with every invocation: a flipped byte, an image without its
volume descriptors, a cut-short archive, a medium of another set, a medium given twice, a list that does not match its medium's notes, and
crafted archives whose paths climb out of the destination or lead through a link.

Usage: restore_fuzz.py --qvsplit build/qvsplit [--seed S]... [--count N] [--keep]
Exit status 0 when every case holds, 1 otherwise.
"""
import argparse
import hashlib
import io
import json
import os
import random
import re
import shutil
import signal
import stat
import subprocess
import sys
import tarfile
import tempfile
import time

RUN_TIMEOUT = 300


def run(qvsplit, args, **kw):
    return subprocess.run([qvsplit] + args, capture_output=True, text=True, errors='replace',
                          timeout=RUN_TIMEOUT, **kw)


def walk(root, keep_empty_folders):
    """path relative to root -> ('file', sha256, mode, mtime) | ('link', target) | ('dir',)."""
    found = {}
    for folder, dirs, files in os.walk(root):
        rel_folder = os.path.relpath(folder, root)
        for name in dirs + files:
            full = os.path.join(folder, name)
            rel = os.path.normpath(os.path.join(rel_folder, name))
            st = os.lstat(full)
            if stat.S_ISLNK(st.st_mode):
                found[rel] = ('link', os.readlink(full))
            elif stat.S_ISDIR(st.st_mode):
                found[rel] = ('dir',)
            elif stat.S_ISREG(st.st_mode):
                with open(full, 'rb') as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
                found[rel] = ('file', digest, stat.S_IMODE(st.st_mode), int(st.st_mtime))
    if not keep_empty_folders:
        # Planned file by file, a folder is there only on the way to what it holds.
        holders = set()
        for rel, what in found.items():
            if what[0] != 'dir':
                parent = os.path.dirname(rel)
                while parent:
                    holders.add(parent)
                    parent = os.path.dirname(parent)
        found = {rel: what for rel, what in found.items() if what[0] != 'dir' or rel in holders}
    return found


def wrong_files(expected, root):
    """Files under their final names that are not whole and right (after any run)."""
    problems = []
    for rel, what in walk(root, True).items():
        if rel.split(os.sep)[0] == '.qvsplit-restore' or what[0] != 'file':
            continue
        want = expected.get(rel)
        if not want or want[0] != 'file' or want[1] != what[1]:
            problems.append('%r stands under its final name but is not the file of the set' % rel)
    return problems


def compare(expected, root):
    got = walk(root, True)
    problems = []
    if '.qvsplit-restore' in got:
        problems.append('the working folder stayed after a complete restore')
    got = {rel: what for rel, what in got.items() if rel.split(os.sep)[0] != '.qvsplit-restore'}
    for rel in sorted(set(expected) | set(got)):
        want, have = expected.get(rel), got.get(rel)
        if want == have:
            continue
        if want and have and want[0] == have[0] == 'dir':
            continue
        problems.append('%r: expected %r, restored %r' % (rel, want, have))
    return problems[:20]


def make_tree(rng, root, big):
    os.makedirs(root)
    names = ['a.txt', 'B.bin', 'sp ace', 'back\\slash', 'new\nline', 'odd\x01\xff'.encode('latin-1'),
             'été.txt', 'x' * 120]
    folders = [root]
    for i in range(rng.randint(1, 5)):
        parent = rng.choice(folders)
        folder = os.path.join(parent, rng.choice(['d%d' % i, 'Dir %d' % i, 'ü%d' % i]))
        os.makedirs(folder, exist_ok=True)
        folders.append(folder)
    for i in range(rng.randint(3, 25)):
        folder = rng.choice(folders)
        name = rng.choice(names)
        if isinstance(name, bytes):
            path = os.path.join(os.fsencode(folder), name + b'%d' % i)
        else:
            path = os.path.join(folder, '%d-%s' % (i, name))
        with open(path, 'wb') as f:
            f.write(rng.randbytes(rng.choice([0, 1, 100, 4096, 70000, 300000])))
        os.chmod(path, rng.choice([0o644, 0o600, 0o755, 0o444]))
        t = rng.randint(900000000, 1700000000)
        os.utime(path, (t, t))
    # Names that differ only in case, a link to a file, a dangling link, an empty folder.
    with open(os.path.join(root, 'Case.txt'), 'w') as f:
        f.write('upper')
    with open(os.path.join(root, 'case.txt'), 'w') as f:
        f.write('lower')
    os.symlink('Case.txt', os.path.join(root, 'link'))
    # A file of three names (hard links): an image holds its data once, as the plan counts it.
    with open(os.path.join(root, 'linked'), 'wb') as f:
        f.write(rng.randbytes(rng.choice([1000, 400000])))
    os.link(os.path.join(root, 'linked'), os.path.join(root, 'linked2'))
    os.link(os.path.join(root, 'linked'), os.path.join(root, 'linked3'))
    os.symlink('../nowhere', os.path.join(root, 'dangling'))
    os.makedirs(os.path.join(root, 'empty', 'inner'))
    # Deeper than the eight levels of ISO 9660.
    deep = os.path.join(root, *['deep%d' % i for i in range(rng.randint(8, 11))])
    os.makedirs(deep)
    with open(os.path.join(deep, 'bottom'), 'wb') as f:
        f.write(rng.randbytes(1000))
    if big:
        with open(os.path.join(root, 'big.bin'), 'wb') as f:
            f.write(rng.randbytes(big))


def inside(tree):
    """Where pack puts a tree given as a path to split: under its own name at the medium's root."""
    return os.path.basename(tree)


def check_case(qvsplit, rng, work, case):
    tree = os.path.join(work, 'tree')
    # A file larger than a medium of 22 MB, cut into parts of 2 MB over two or three media.
    # Parts are 2 MiB at --size 22: a file of a whole number of them ends with an empty part.
    big = rng.choice([0, 0, 22 * 1048576 + rng.randint(1, 4 * 1048576), 44 * 1048576 + rng.randint(1, 999999),
                      2 * 1048576 * rng.randint(11, 14)])
    make_tree(rng, tree, big)
    method = rng.choice(['files', 'dirs'])
    fmt = rng.choice(['iso', 'tar'])
    expected = walk(tree, method == 'dirs')
    plan = os.path.join(work, 'plan')
    args = ['split', '--quiet', '--method', method, '--fs', fmt, '--out', plan]
    if big:
        # Parts of 2 MB on media of 22 MB.
        args += ['--size', '22', '--cut-big', os.path.join(work, 'parts.ini'), '--yes']
    else:
        args += ['--size', str(rng.choice([1, 2]))]
    done = run(qvsplit, args + [tree])
    if done.returncode != 0:
        return ['split exited %d: %s' % (done.returncode, done.stderr[-400:])]
    media_dir = os.path.join(work, 'media')
    done = run(qvsplit, ['pack', '--quiet', '--format', fmt, '--to', media_dir, plan])
    if done.returncode != 0:
        return ['pack exited %d: %s' % (done.returncode, done.stderr[-400:])]
    media = sorted(os.path.join(media_dir, m) for m in os.listdir(media_dir) if m.endswith('.' + fmt))
    # Each image or archive stays within what the plan predicted for it (the room kept for the
    # catalogue, the list and the notes included); a plan without room may add their blocks.
    problems = []
    for path in media:
        name = os.path.splitext(os.path.basename(path))[0] + '.xml'
        with open(os.path.join(plan, name), encoding='utf-8', errors='replace') as f:
            predicted = int(re.search(r'Image_Size="(\d+)"', f.read()).group(1))
        slack = 0 if not big else 16 * 2048
        if os.path.getsize(path) > predicted + slack:
            problems.append('%s: %d bytes, more than the plan predicted (%d)' % (os.path.basename(path), os.path.getsize(path), predicted))
    expected = {os.path.join(inside(tree), rel): what for rel, what in expected.items()}
    # The folders on the way to the tree are made too.
    parent = inside(tree)
    while parent:
        expected[parent] = ('dir',)
        parent = os.path.dirname(parent)
    # A medium of a plan without room (files cut) may go without its list and notes: the
    # plan holds them, and check and restore take them from there.
    with_plan = ['--plan', plan] if big else []
    done = run(qvsplit, ['check', '--json', '--quiet'] + with_plan + media)
    if done.returncode != 0:
        return ['check of fresh media exited %d: %s' % (done.returncode, done.stdout[-600:])]
    to = os.path.join(work, 'restored')
    order = media[:]
    rng.shuffle(order)
    cuts = sorted(rng.sample(range(1, len(order)), rng.randint(0, min(2, len(order) - 1)))) if len(order) > 1 else []
    runs = [order[a:b] for a, b in zip([0] + cuts, cuts + [len(order)])]
    for i, batch in enumerate(runs):
        if rng.random() < 0.3:
            # Killed midway: what stands under a final name must be right all the same.
            child = subprocess.Popen([qvsplit, 'restore', '--quiet', '--to', to] + with_plan + batch,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0.0, 0.2))
            child.send_signal(signal.SIGKILL)
            child.wait()
            problems += ['after a killed run: ' + p for p in wrong_files(expected, to)]
        done = run(qvsplit, ['restore', '--quiet', '--json', '--to', to] + with_plan + batch)
        if done.returncode != 0:
            problems.append('restore run %d of %s exited %d: %s %s' % (i + 1, [os.path.basename(m) for m in batch],
                                                                      done.returncode, done.stdout[-800:], done.stderr[-300:]))
        problems += ['after run %d: ' % (i + 1) + p for p in wrong_files(expected, to)]
        if i + 1 < len(runs) and big and '"waiting": []' in done.stdout:
            problems.append('run %d names nothing still to come' % (i + 1))
    problems += compare(expected, to)
    again = run(qvsplit, ['restore', '--quiet', '--json', '--to', to] + with_plan + media)
    if again.returncode != 0 or json.loads(again.stdout).get('restored') != 0:
        problems.append('a run over a complete restore: exit %d, %s' % (again.returncode, again.stdout[-400:]))
    return problems


# The table of bad media: each row makes its media from a good set and says what must happen.

def good_set(qvsplit, work, name, fmt, size='2'):
    rng = random.Random(name)
    tree = os.path.join(work, name)
    os.makedirs(tree)
    for i in range(12):
        with open(os.path.join(tree, 'f%02d' % i), 'wb') as f:
            f.write(rng.randbytes(150000))
    plan = os.path.join(work, name + '-plan')
    out = os.path.join(work, name + '-media')
    assert run(qvsplit, ['split', '--quiet', '--size', size, '--fs', fmt, '--out', plan, tree]).returncode == 0
    assert run(qvsplit, ['pack', '--quiet', '--format', fmt, '--to', out, plan]).returncode == 0
    return sorted(os.path.join(out, m) for m in os.listdir(out) if m.endswith('.' + fmt)), tree


def tar_members(path):
    with tarfile.open(path, format=tarfile.PAX_FORMAT) as t:
        return [(m, t.extractfile(m).read() if m.isfile() else None) for m in t.getmembers()]


def write_tar(path, members):
    with tarfile.open(path, 'w', format=tarfile.PAX_FORMAT) as t:
        for member, data in members:
            t.addfile(member, io.BytesIO(data) if data is not None else None)


def member(name, data=None, link=None):
    m = tarfile.TarInfo(name)
    if link is not None:
        m.type, m.linkname = tarfile.SYMTYPE, link
    elif data is None:
        m.type = tarfile.DIRTYPE
    else:
        m.size = len(data)
    m.mtime = 1600000000
    return m


def crafted(path, entries, medium, media, set_id='0123456789abcdef'):
    """A tar archive with its own checksum list and notes, as pack makes them, holding entries."""
    files = [(n, d) for n, d, l in entries if d is not None and l is None]
    notes = ('# QvSplit medium: the set it belongs to, for qvsplit restore\nset %s\nmedium %d of %d\nfiles %d\n'
             % (set_id, medium, media, len(files) + 1)).encode()
    sums = ''.join('%s  %s\n' % (hashlib.sha256(d).hexdigest(), n) for n, d in files + [('QVSPLIT-MEDIUM.txt', notes)])
    members = [(member(n, d, l), d) for n, d, l in entries]
    members += [(member('QVSPLIT-MEDIUM.txt', notes), notes), (member('QVSPLIT-SHA256SUMS', sums.encode()), sums.encode())]
    write_tar(path, members)


def faults(qvsplit, work):
    problems = []

    def expect(label, done, status, *texts):
        out = done.stdout + done.stderr
        if done.returncode != status:
            problems.append('%s: exit %d, not %d: %s' % (label, done.returncode, status, out[-600:]))
        for text in texts:
            if text not in out:
                problems.append('%s: %r not said: %s' % (label, text, out[-600:]))

    iso, iso_tree = good_set(qvsplit, work, 'one', 'iso')
    tar, _ = good_set(qvsplit, work, 'two', 'tar')
    other, _ = good_set(qvsplit, work, 'three', 'tar')
    # A flipped byte in a file's data: check names the file and the medium; restore leaves it out.
    bad = os.path.join(work, 'flipped.iso')
    shutil.copy(iso[0], bad)
    lba = subprocess.run(['xorriso', '-indev', bad, '-find', '/', '-name', 'f00', '-exec', 'report_lba', '--'],
                         capture_output=True, text=True).stdout
    line = [l for l in lba.splitlines() if 'f00' in l]
    if line:
        block = int(line[0].split(',')[1])
        with open(bad, 'r+b') as f:
            f.seek(block * 2048 + 77)
            byte = f.read(1)
            f.seek(block * 2048 + 77)
            f.write(bytes([byte[0] ^ 0x20]))
        expect('flipped byte, check', run(qvsplit, ['check', '--quiet', bad]), 1, 'flipped.iso', 'changed', 'f00')
        to = os.path.join(work, 'to-flipped')
        expect('flipped byte, restore', run(qvsplit, ['restore', '--quiet', '--to', to, bad]), 1, 'changed', 'f00')
        if any(name == 'f00' for _, _, names in os.walk(to) for name in names):
            problems.append('flipped byte: the changed file was restored')
    else:
        problems.append('xorriso did not find f00 in %s' % bad)
    # An image whose volume descriptors are gone is no medium at all.
    broken = os.path.join(work, 'broken.iso')
    shutil.copy(iso[0], broken)
    with open(broken, 'r+b') as f:
        f.seek(16 * 2048)
        f.write(bytes(4 * 2048))
    expect('corrupt image, check', run(qvsplit, ['check', '--quiet', broken]), 1, 'broken.iso: neither an ISO image nor a tar archive')
    to = os.path.join(work, 'to-broken')
    expect('corrupt image, restore', run(qvsplit, ['restore', '--quiet', '--to', to, broken]), 1, 'neither an ISO image')
    # A cut-short archive: its list is gone with its end; check names the damage, restore keeps
    # nothing of it; with the plan's copy of the list, check names what is missing.
    short = os.path.join(work, 'Media1.tar')
    with open(tar[0], 'rb') as f, open(short, 'wb') as g:
        g.write(f.read(os.path.getsize(tar[0]) // 2))
    expect('cut-short archive, check', run(qvsplit, ['check', '--quiet', short]), 1, 'Truncated tar archive')
    expect('cut-short archive, check --plan', run(qvsplit, ['check', '--quiet', '--plan', os.path.join(work, 'two-plan'), short]),
           1, 'missing', 'unreadable')
    to = os.path.join(work, 'to-short')
    expect('cut-short archive, restore', run(qvsplit, ['restore', '--quiet', '--to', to, short]), 1, 'nothing of it was restored')
    if any(files for _, _, files in os.walk(to)):
        problems.append('cut-short archive: files were restored from it')
    # A medium of another set, and a medium given twice.
    to = os.path.join(work, 'to-mixed')
    expect('another set', run(qvsplit, ['restore', '--quiet', '--to', to, tar[0], other[0]]), 1, 'a medium of another set')
    to = os.path.join(work, 'to-twice')
    copy = os.path.join(work, 'copy.tar')
    shutil.copy(tar[0], copy)
    expect('given twice', run(qvsplit, ['restore', '--quiet', '--to', to, tar[0], copy]), 1, 'medium 1 was given twice')
    # A list that no longer matches the medium's notes (a line taken out).
    altered = os.path.join(work, 'altered.tar')
    members = tar_members(tar[0])
    members = [(m, d) if m.name != 'QVSPLIT-SHA256SUMS' else (m, b''.join(d.splitlines(True)[1:])) for m, d in members]
    for m, d in members:
        if d is not None:
            m.size = len(d)
    write_tar(altered, members)
    to = os.path.join(work, 'to-altered')
    expect('altered list', run(qvsplit, ['restore', '--quiet', '--to', to, altered]), 1, 'does not match its description')
    # Paths that climb out, and a file written through a link that leads out.
    outside = os.path.join(work, 'outside')
    os.makedirs(outside)
    first, second = os.path.join(work, 'climb1.tar'), os.path.join(work, 'climb2.tar')
    crafted(first, [('../escaped', b'x', None), ('/abs/escaped', b'y', None), ('ok/kept', b'z', None),
                    ('ok/out', None, outside)], 1, 2)
    crafted(second, [('ok/out/through', b'w', None)], 2, 2)
    to = os.path.join(work, 'to-climb')
    done = run(qvsplit, ['restore', '--quiet', '--to', to, first, second])
    expect('climbing paths', done, 1, 'climbs out', 'is a link')
    for escaped in [os.path.join(work, 'escaped'), os.path.join(outside, 'through'), '/abs/escaped']:
        if os.path.lexists(escaped):
            problems.append('%s was written outside the destination' % escaped)
    if not os.path.exists(os.path.join(to, 'ok', 'kept')):
        problems.append('climbing paths: the good file beside them was not restored')
    # A chain of sets restored in order: the later set's deletions are applied.
    chain = os.path.join(work, 'chain')
    os.makedirs(os.path.join(chain, 'sub'))
    for name in ('keep', 'gone', 'sub/changed', 'sub/gone too'):
        with open(os.path.join(chain, name), 'w') as f:
            f.write('first ' + name)
    assert run(qvsplit, ['split', '--quiet', '--size', '1', '--fs', 'tar', '--out', os.path.join(work, 'chain-a'), chain]).returncode == 0
    assert run(qvsplit, ['pack', '--quiet', '--format', 'tar', '--to', os.path.join(work, 'chain-a-media'),
                         os.path.join(work, 'chain-a')]).returncode == 0
    os.remove(os.path.join(chain, 'gone'))
    os.remove(os.path.join(chain, 'sub', 'gone too'))
    with open(os.path.join(chain, 'sub', 'changed'), 'w') as f:
        f.write('second, longer')
    done = run(qvsplit, ['split', '--quiet', '--size', '1', '--fs', 'tar', '--since', os.path.join(work, 'chain-a'),
                         '--out', os.path.join(work, 'chain-b'), chain])
    assert done.returncode == 0, done.stderr
    assert run(qvsplit, ['pack', '--quiet', '--format', 'tar', '--to', os.path.join(work, 'chain-b-media'),
                         os.path.join(work, 'chain-b')]).returncode == 0
    to = os.path.join(work, 'to-chain')
    for step in ('chain-a-media', 'chain-b-media'):
        folder = os.path.join(work, step)
        expect('chain ' + step, run(qvsplit, ['restore', '--quiet', '--to', to] +
                                    sorted(os.path.join(folder, m) for m in os.listdir(folder) if m.endswith('.tar'))), 0)
    problems += ['chain: ' + p for p in compare(walk(chain, False), os.path.join(to, 'chain'))]
    # A new split into a plan's folder takes the old lists beside the plan away with its media.
    plan = os.path.join(work, 'one-plan')
    if not os.path.exists(os.path.join(plan, 'Media1.SHA256SUMS')):
        problems.append('pack wrote no copy of the list beside the plan')
    assert run(qvsplit, ['split', '--quiet', '--size', '700', '--out', plan, iso_tree]).returncode == 0
    stale = [n for n in os.listdir(plan) if n.endswith('.SHA256SUMS')]
    if stale:
        problems.append('a new split left the lists of the old media beside it: %s' % stale)
    # A file of exactly 30 parts of 1 MiB, so that its 31st part is empty; and a restore killed
    # again and again around the moment it joins it: the next run finishes it, the file is
    # whole with its time, and no working folder stays behind.
    cut_tree = os.path.join(work, 'cut')
    os.makedirs(cut_tree)
    big = random.Random('cut').randbytes(30 * 1024 * 1024)
    with open(os.path.join(cut_tree, 'big.bin'), 'wb') as f:
        f.write(big)
    os.utime(os.path.join(cut_tree, 'big.bin'), (1500000000, 1500000000))
    assert run(qvsplit, ['split', '--quiet', '--size', '21', '--fs', 'tar', '--yes', '--cut-big',
                         os.path.join(work, 'cut.ini'), '--out', os.path.join(work, 'cut-plan'), cut_tree]).returncode == 0
    assert run(qvsplit, ['pack', '--quiet', '--format', 'tar', '--to', os.path.join(work, 'cut-media'),
                         os.path.join(work, 'cut-plan')]).returncode == 0
    cut_media = sorted(os.path.join(work, 'cut-media', m) for m in os.listdir(os.path.join(work, 'cut-media')) if m.endswith('.tar'))
    to = os.path.join(work, 'to-cut')
    started = time.time()
    run(qvsplit, ['restore', '--quiet', '--to', to] + cut_media)
    whole = time.time() - started
    rng = random.Random(7)
    for attempt in range(25):
        shutil.rmtree(to)
        child = subprocess.Popen([qvsplit, 'restore', '--quiet', '--to', to] + cut_media,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0.6, 1.0) * whole)
        child.send_signal(signal.SIGKILL)
        child.wait()
        done = run(qvsplit, ['restore', '--quiet', '--to', to] + cut_media)
        joined = os.path.join(to, 'cut', 'big.bin')
        if done.returncode != 0 or os.path.exists(os.path.join(to, '.qvsplit-restore')) or \
                not os.path.exists(joined) or os.path.getmtime(joined) != 1500000000:
            problems.append('killed while joining (attempt %d): exit %d, working folder %s, %s' % (
                attempt, done.returncode, 'stayed' if os.path.exists(os.path.join(to, '.qvsplit-restore')) else 'gone',
                (done.stdout + done.stderr)[-300:]))
            break
        with open(joined, 'rb') as f:
            if f.read() != big:
                problems.append('killed while joining (attempt %d): the joined file differs' % attempt)
                break
    # The media check out whole as sha256sum itself reads their lists.
    extracted = os.path.join(work, 'extracted')
    os.makedirs(extracted)
    subprocess.run(['tar', '-xf', tar[0], '-C', extracted], check=True)
    done = subprocess.run(['sha256sum', '--strict', '--quiet', '-c', 'QVSPLIT-SHA256SUMS'], cwd=extracted,
                          capture_output=True, text=True)
    if done.returncode != 0:
        problems.append('sha256sum -c on an extracted archive: %s' % (done.stdout + done.stderr)[-400:])
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--qvsplit', required=True)
    ap.add_argument('--seed', type=int, action='append')
    ap.add_argument('--count', type=int, default=10)
    ap.add_argument('--keep', action='store_true', help='keep the work folder of a failing case')
    args = ap.parse_args()
    qvsplit = os.path.abspath(args.qvsplit)
    for tool in ('xorriso', 'tar', 'sha256sum'):
        if not shutil.which(tool):
            print('SKIP: %s is not installed' % tool)
            return 77
    failed = 0
    work = tempfile.mkdtemp(prefix='qvsplit-restore-fuzz-')
    try:
        problems = faults(qvsplit, work)
        for p in problems:
            print('FAIL bad media: %s' % p)
        failed += bool(problems)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    cases = 0
    for seed in args.seed or [1]:
        rng = random.Random(seed)
        for index in range(args.count):
            work = tempfile.mkdtemp(prefix='qvsplit-restore-fuzz-')
            problems = check_case(qvsplit, rng, work, index)
            cases += 1
            if problems:
                failed += 1
                print('FAIL seed %d case %d (%s):' % (seed, index, work if args.keep else 'removed'))
                for p in problems:
                    print('  ' + p)
            if not (problems and args.keep):
                shutil.rmtree(work, ignore_errors=True)
    print('%d random cases and the table of bad media: %s' % (cases, 'all hold' if not failed else '%d failed' % failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
