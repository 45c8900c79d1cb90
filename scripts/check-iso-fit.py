#!/usr/bin/env python3
"""Builds the ISO image of every medium of a media set as a burning program would, and
compares its exact size with the plan's prediction and with the capacity. With --fs tar, packs
every medium into a tar archive with `qvsplit pack --format tar`, reads each back with GNU tar
and compares the archive's size likewise.

For each medium the path list that `xorriso -as mkisofs -graft-points -path-list` takes is
written (one line per entry, "TargetPath/Name=host path"), and xorriso (or genisoimage -udf
for --fs iso-udf) prints the image size in sectors without writing it.

Usage: check-iso-fit.py --media DIR [--fs iso|iso-udf|tar] [--qvsplit PATH] [--capacity-sectors N]
                        [--tolerance PCT]
Prints one row per medium; exit status 1 when an image exceeds the capacity, exceeds the
prediction, or the prediction exceeds the image by more than the tolerance (default: none).
"""
import argparse
import glob
import importlib.util
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET


SECTOR = 2048


def load_plan_checker():
    """check-plan.py, whose path mapping this script shares."""
    spec = importlib.util.spec_from_file_location(
        'check_plan', os.path.join(os.path.dirname(os.path.abspath(__file__)), 'check-plan.py'))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


PLAN = load_plan_checker()
host_bytes = PLAN.host_bytes
cdata = PLAN.cdata


def graft_escape(text):
    return text.replace(b'\\', b'\\\\').replace(b'=', b'\\=')


def path_list(medium, base=None):
    """The graft lines of a medium; with base (bytes), the sources below it are given relative
    to it, for a builder run there (image_sectors' cwd)."""
    lines = []
    for f in ET.parse(medium).getroot().iter('FILE'):
        full = cdata(f, 'FullPath')
        target = cdata(f, 'TargetPath')
        folder = full.endswith('\\*.*')
        if folder:
            full = full[:-4]
        source = host_bytes(full)
        name = source.rstrip(b'/').rsplit(b'/', 1)[-1]
        if base and source.startswith(base.rstrip(b'/') + b'/'):
            source = source[len(base.rstrip(b'/')) + 1:]
        # A file goes into its target folder; a folder kept whole is restored as its target
        # folder (its files and folders go there), as `qvsplit pack` lays the medium out.
        inside = host_bytes(target).strip(b'/')
        if not folder:
            inside += b'/' + name
        inside = inside.lstrip(b'/') or b'/'
        lines.append(graft_escape(inside) + b'=' + graft_escape(source))
    return lines


# xorriso takes a path of at most this many bytes, the whole graft line of a path list
# ("Path string overflow") included.
LINE_MAX = 4094


class LineTooLong(RuntimeError):
    """A medium whose graft lines the builder cannot take: deep paths of long names."""


def image_sectors(lines, fs, cwd=None):
    longest = max((len(line) for line in lines), default=0)
    if longest > LINE_MAX:
        raise LineTooLong('a graft line of %d bytes, more than xorriso takes (%d)' % (longest, LINE_MAX))
    with tempfile.NamedTemporaryFile(suffix='.list', delete=False) as tmp:
        tmp.write(b'\n'.join(lines) + b'\n')
        name = tmp.name
    try:
        if fs == 'iso-udf':
            cmd = ['genisoimage', '-quiet', '-udf', '-R', '-J', '-joliet-long', '-iso-level', '3',
                   '-graft-points', '-path-list', name, '-print-size']
        else:
            cmd = ['xorriso', '-as', 'mkisofs', '-R', '-J', '-joliet-long', '-iso-level', '3',
                   '-graft-points', '-path-list', name, '-print-size']
        # A builder that hangs (genisoimage does on some long link targets) is a failed check.
        out = subprocess.run(cmd, capture_output=True, text=True, errors='replace', timeout=600, cwd=cwd)
        numbers = re.findall(r'^\s*(\d+)\s*$', out.stdout + out.stderr, re.M)
        if not numbers:
            raise RuntimeError('no size from %s: %s' % (cmd[0], (out.stderr or out.stdout)[-300:]))
        return int(numbers[-1])
    finally:
        os.unlink(name)


def tar_sizes(media_dir, qvsplit):
    """Archive bytes and entries of each medium, by medium file name, as pack writes them."""
    with tempfile.TemporaryDirectory() as out:
        done = subprocess.run([qvsplit, 'pack', '--quiet', '--format', 'tar', '--capacity-bytes',
                               str(1 << 60), '--to', out, media_dir], capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError('pack failed: ' + done.stderr[-300:])
        sizes = {}
        for archive in glob.glob(os.path.join(out, '*.tar')):
            listed = subprocess.run(['tar', '-tvf', archive], capture_output=True)
            if listed.returncode != 0:
                raise RuntimeError('tar cannot read %s: %s' % (archive, listed.stderr[-300:]))
            stem = os.path.basename(archive)[:-4]
            size, entries = os.path.getsize(archive), listed.stdout.count(b'\n')
            # The checksum list and the medium notes pack adds are not the plan's entries: their
            # headers and blocks come off (the room for them is the catalogue checker's part).
            for line in listed.stdout.splitlines():
                fields = line.split()
                if fields and fields[-1] in (b'QVSPLIT-SHA256SUMS', b'QVSPLIT-MEDIUM.txt'):
                    size -= 512 + (int(fields[2]) + 511) // 512 * 512
                    entries -= 1
            sizes[stem + '.xml'] = (size, entries)
        return sizes


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--media', required=True)
    ap.add_argument('--fs', default='iso', choices=['iso', 'iso-udf', 'tar'])
    ap.add_argument('--qvsplit', default='qvsplit', help='the program that packs tar archives')
    ap.add_argument('--capacity-sectors', type=int, default=0)
    ap.add_argument('--tolerance', type=float, default=None,
                    help='largest allowed excess of the prediction over the image, in percent')
    args = ap.parse_args()
    media = sorted(glob.glob(os.path.join(args.media, '[Mm]edia*.xml')),
                   key=lambda p: int(re.search(r'(\d+)\.xml$', p).group(1)))
    problems = 0
    worst = None
    archives = tar_sizes(args.media, args.qvsplit) if args.fs == 'tar' else {}
    print('%-12s %8s %12s %12s %12s %8s' % ('medium', 'entries', 'predicted', 'image', 'capacity', 'excess'))
    for m in media:
        info = ET.parse(m).getroot().find('Media/Info')
        predicted = int(info.get('Image_Size', '0'))
        capacity = args.capacity_sectors * SECTOR or int(info.get('Split_Size', '0')) * 1048576
        if args.fs == 'tar':
            image, count = archives[os.path.basename(m)]
            lines = [None] * count
        else:
            lines = path_list(m)
            image = image_sectors(lines, args.fs) * SECTOR
        excess = 100.0 * (predicted - image) / image if image else 0.0
        worst = excess if worst is None else max(worst, excess)
        flag = ''
        if image > capacity:
            flag += ' OVER-CAPACITY'
        if predicted and image > predicted:
            flag += ' OVER-PREDICTION'
        if predicted and args.tolerance is not None and excess > args.tolerance:
            flag += ' PREDICTION-TOO-HIGH'
        problems += 1 if flag else 0
        print('%-12s %8d %12d %12d %12d %7.2f%%%s' % (os.path.basename(m), len(lines), predicted,
                                                       image, capacity, excess, flag))
    print('%d media, %d with problems, largest excess of prediction %.2f%%' %
          (len(media), problems, worst or 0.0))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
