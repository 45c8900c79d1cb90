#!/usr/bin/env python3
"""Checks a media set that `qvsplit split` wrote against the tree it was made from.

Every regular file and symbolic link under the selected paths must be planned exactly once
(or be listed as left out, with a reason), every medium's figures must match the disk, no
medium may hold more than its size, every media file must be well-formed XML, and
`qvsplit verify` must find nothing changed.

Usage: check-plan.py --qvsplit PROGRAM --media DIR [--size MB] PATH...
Exit status 0 when everything holds, 1 otherwise; the problems are printed.
"""
import argparse
import os
import shutil
import stat
import subprocess
import sys
import xml.etree.ElementTree as ET

MB = 1048576
FORBIDDEN = set(b'\\*?:"<>|') | set(range(1, 32))
ATTR_DIRECTORY = 0x10
ATTR_REPARSE = 0x400


def host_bytes(win_path):
    """The host path (bytes) of a Windows path the program planned on a drive rooted at /."""
    rest = win_path[2:] if len(win_path) > 1 and win_path[1] == ':' else win_path
    out = bytearray()
    for ch in rest:
        cp = ord(ch)
        if ch == '\\':
            out += b'/'
        elif 0xF000 <= cp <= 0xF0FF and ((cp - 0xF000) in FORBIDDEN or cp - 0xF000 >= 0x80):
            out.append(cp - 0xF000)  # a character Windows forbids, or a byte that is not UTF-8
        else:
            out += ch.encode('utf-8', 'surrogatepass')
    return bytes(out) or b'/'


def cdata(node, name):
    child = node.find(name)
    return '' if child is None or child.text is None else child.text


def walk(root, skip):
    """Regular files and links below root (links not followed), folders that cannot be
    read, and entries that are neither (pipes, sockets, devices)."""
    files, unreadable, special = {}, set(), set()
    stack = [root]
    while stack:
        folder = stack.pop()
        if folder in skip:
            continue
        try:
            names = os.listdir(folder)
        except OSError:
            unreadable.add(folder)
            continue
        for name in names:
            path = os.path.join(folder, name)
            try:
                st = os.lstat(path)
            except OSError:
                continue
            if stat.S_ISLNK(st.st_mode):
                files[path] = 0
            elif stat.S_ISDIR(st.st_mode):
                stack.append(path)
            elif stat.S_ISREG(st.st_mode):
                files[path] = st.st_size
            else:
                special.add(path)
    return files, unreadable, special


def below(path, folder):
    return path == folder or path.startswith(folder.rstrip(b'/') + b'/')


class Checker:
    def __init__(self, args):
        self.args = args
        self.problems = []
        self.planned = {}  # host path -> medium
        self.media = 0

    def problem(self, text):
        self.problems.append(text)

    def media_files(self):
        names = [n for n in os.listdir(self.args.media)
                 if (n.startswith('Media') or n.startswith('media')) and n.endswith('.xml')
                 and n[5:-4].isdigit()]
        return sorted(names, key=lambda n: int(n[5:-4]))

    def check_xml(self, path):
        if shutil.which('xmllint'):
            r = subprocess.run(['xmllint', '--noout', path], capture_output=True)
            if r.returncode != 0:
                self.problem('%s: xmllint: %s' % (path, r.stderr.decode(errors='replace').strip()))
                return None
        try:
            return ET.parse(path).getroot()
        except ET.ParseError as e:
            self.problem('%s: not well-formed: %s' % (path, e))
            return None

    def plan(self, host, medium, size):
        if host in self.planned:
            self.problem('%s planned twice (%s and %s)' % (os.fsdecode(host), self.planned[host], medium))
        self.planned[host] = medium
        return size

    def check_file(self, node, medium):
        host = host_bytes(cdata(node, 'FullPath'))
        size = int(cdata(node, 'FileSize') or -1)
        attr = int(cdata(node, 'Attribute') or 0)
        full = cdata(node, 'FullPath')
        if cdata(node, 'Path') + cdata(node, 'Name') != full:
            self.problem('%s: Path + Name is not FullPath' % full)
        try:
            st = os.lstat(host)
        except OSError:
            self.problem('%s: planned, but %s does not exist' % (full, os.fsdecode(host)))
            return 0, 1
        real = 0 if stat.S_ISLNK(st.st_mode) else st.st_size
        if stat.S_ISLNK(st.st_mode) != bool(attr & ATTR_REPARSE):
            self.problem('%s: link attribute %#x does not match the disk' % (full, attr))
        if size != real:
            self.problem('%s: FileSize %d, on disk %d' % (full, size, real))
        self.plan(host, medium, size)
        return size, 1

    def check_folder(self, node, medium):
        full = cdata(node, 'FullPath')
        folder = host_bytes(full[:-4] if full.endswith('\\*.*') else full)
        files, unreadable, special = walk(folder, set())
        total = 0
        for path, size in files.items():
            total += self.plan(path, medium, size)
        for path in sorted(unreadable | special):
            self.problem('%s: inside a folder kept whole but cannot be copied' % os.fsdecode(path))
        size = int(cdata(node, 'FileSize') or -1)
        if size != total:
            self.problem('%s: FileSize %d, files below it on disk %d' % (full, size, total))
        return size, len(files)

    def check_media(self):
        names = self.media_files()
        if not names:
            self.problem('no media files in %s' % self.args.media)
        for name in names:
            root = self.check_xml(os.path.join(self.args.media, name))
            if root is None:
                continue
            self.media += 1
            info = root.find('Media/Info')
            split_mb = int(info.get('Split_Size'))
            media_size = int(info.get('Media_Size'))
            media_files = int(info.get('Media_NumberFiles', '0'))
            size_sum, count = 0, 0
            for node in root.findall('FILE'):
                attr = int(cdata(node, 'Attribute') or 0)
                whole = attr & ATTR_DIRECTORY and not attr & ATTR_REPARSE
                size, n = (self.check_folder if whole else self.check_file)(node, name)
                size_sum += size
                count += n
            if self.args.size and split_mb != self.args.size:
                self.problem('%s: Split_Size %d, expected %d' % (name, split_mb, self.args.size))
            if media_size < size_sum:
                self.problem('%s: Media_Size %d below its entries %d' % (name, media_size, size_sum))
            if media_size > split_mb * MB:
                self.problem('%s: Media_Size %d above the medium size %d' % (name, media_size, split_mb * MB))
            if media_files and media_files != count:
                self.problem('%s: Media_NumberFiles %d, entries count %d' % (name, media_files, count))

    def left_out(self):
        path = os.path.join(self.args.media, 'qvsplit-left-out.xml')
        out = {}
        if os.path.exists(path):
            root = self.check_xml(path)
            for e in ([] if root is None else root.findall('Entry')):
                if not e.get('Reason'):
                    self.problem('%s left out without a reason' % e.text)
                out[host_bytes(e.text or '')] = e.get('Reason', '')
        return out

    def check_tree(self):
        left = self.left_out()
        media = os.fsencode(os.path.abspath(self.args.media))
        for root in self.args.paths:
            files, unreadable, special = walk(os.fsencode(os.path.abspath(root)), {media})
            for path in sorted(unreadable | special):
                if path not in left:
                    self.problem('%s: cannot be planned, yet is not listed as left out' % os.fsdecode(path))
            for path in sorted(files):
                if path in self.planned or path in left:
                    continue
                if any(below(path, f) for f in left):
                    continue
                self.problem('%s: on no medium and not listed as left out' % os.fsdecode(path))
        for path in left:
            if path in self.planned:
                self.problem('%s: listed as left out but planned' % os.fsdecode(path))

    def check_verify(self):
        r = subprocess.run([self.args.qvsplit, 'verify', self.args.media], capture_output=True)
        if r.returncode != 0:
            self.problem('qvsplit verify right after the split: exit %d\n%s' %
                         (r.returncode, r.stdout.decode(errors='replace')[-2000:]))

    def run(self):
        self.check_media()
        self.check_tree()
        self.check_verify()
        for p in self.problems[:200]:
            print('check-plan: ' + p)
        if len(self.problems) > 200:
            print('check-plan: ... and %d more' % (len(self.problems) - 200))
        print('check-plan: %d media, %d entries planned, %d problems' %
              (self.media, len(self.planned), len(self.problems)))
        return 1 if self.problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--qvsplit', required=True)
    parser.add_argument('--media', required=True)
    parser.add_argument('--size', type=int, default=0)
    parser.add_argument('paths', nargs='+')
    return Checker(parser.parse_args()).run()


if __name__ == '__main__':
    sys.exit(main())
