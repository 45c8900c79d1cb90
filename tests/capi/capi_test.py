#!/usr/bin/env python3
"""A caller of the C interface in Python (ctypes, no build step).

Splits a small tree with rules through the library and checks that it plans what
`qvsplit split --json` plans for the same tree (media, their figures, the bytes, what is left
out), then reads a refusal's code and cancels a split from the progress function, and follows the
set it made as `split --since` follows the program's; then, with
POSIX paths and two handles, cuts a big file through one, recovers it, and reads the entries of
each medium.
Usage: capi_test.py LIBQVSPLIT QVSPLIT_PROGRAM
"""
import ctypes as C
import json
import os
import shutil
import subprocess
import sys
import tempfile

QVS_OK, QVS_E_STATE, QVS_E_REFUSED, QVS_E_FAILED, QVS_E_CANCELLED, QVS_E_RANGE = 0, 3, 5, 6, 7, 8
QVS_ANY, QVS_FIRST = 4, 1
QVS_LEFT_OUT_TOO_BIG = 1
QVS_REFUSED_FIRST_SET = 3


class Rule(C.Structure):
    _fields_ = [('source_path', C.c_char_p), ('target_path', C.c_char_p), ('location', C.c_int32),
                ('include', C.c_int32), ('all_together', C.c_int32), ('rule_id', C.c_int32)]


class Options(C.Structure):
    _fields_ = [('struct_size', C.c_uint32), ('split_size_mb', C.c_uint32), ('first_free_mb', C.c_uint32),
                ('method', C.c_uint32), ('type', C.c_uint32), ('volume_id', C.c_char_p), ('label', C.c_char_p),
                ('output_dir', C.c_char_p)]


class Medium(C.Structure):
    _fields_ = [('struct_size', C.c_uint32), ('number', C.c_uint32), ('entries', C.c_uint32),
                ('files', C.c_uint32), ('file_bytes', C.c_int64), ('image_bytes', C.c_int64),
                ('file_name', C.c_char_p)]


class LeftOut(C.Structure):
    _fields_ = [('struct_size', C.c_uint32), ('reason', C.c_uint32), ('size', C.c_int64),
                ('path', C.c_char_p), ('reason_text', C.c_char_p)]


class Refusal(C.Structure):
    _fields_ = [('struct_size', C.c_uint32), ('code', C.c_uint32), ('bytes', C.c_int64),
                ('limit', C.c_int64), ('message', C.c_char_p)]


class Entry(C.Structure):
    _fields_ = [('struct_size', C.c_uint32), ('kind', C.c_uint32), ('part', C.c_uint32),
                ('attributes', C.c_uint32), ('size', C.c_int64), ('source_path', C.c_char_p),
                ('target_path', C.c_char_p), ('name', C.c_char_p), ('write_time', C.c_char_p),
                ('cut_file', C.c_char_p)]


class Changes(C.Structure):
    _fields_ = [('struct_size', C.c_uint32), ('sets', C.c_uint32), ('new_files', C.c_int64),
                ('changed', C.c_int64), ('unchanged', C.c_int64), ('deleted', C.c_int64)]


PROGRESS = C.CFUNCTYPE(C.c_int, C.c_uint32, C.c_uint32, C.c_void_p)


def load(path):
    lib = C.CDLL(path)
    handle = C.c_void_p
    for name, args in (('qvs_create', [C.POINTER(handle)]), ('qvs_free', [handle]),
                       ('qvs_set_progress', [handle, PROGRESS, C.c_void_p]),
                       ('qvs_setup_rules', [handle, C.POINTER(Rule), C.c_size_t, C.c_size_t, C.POINTER(Options)]),
                       ('qvs_run', [handle, C.POINTER(C.c_uint32)]),
                       ('qvs_media_count', [handle, C.POINTER(C.c_uint32)]),
                       ('qvs_get_medium', [handle, C.c_uint32, C.POINTER(Medium)]),
                       ('qvs_planned_bytes', [handle, C.POINTER(C.c_int64)]),
                       ('qvs_left_out_count', [handle, C.POINTER(C.c_uint32)]),
                       ('qvs_get_left_out', [handle, C.c_uint32, C.POINTER(LeftOut)]),
                       ('qvs_get_refusal', [handle, C.POINTER(Refusal)]),
                       ('qvs_set_cutting', [handle, C.c_int, C.c_uint32, C.c_char_p]),
                       ('qvs_recover', [handle, C.c_char, C.c_char_p]),
                       ('qvs_error_count', [handle, C.POINTER(C.c_uint32)]),
                       ('qvs_get_error', [handle, C.c_uint32, C.POINTER(C.c_char_p)]),
                       ('qvs_cut_file_count', [handle, C.POINTER(C.c_uint32)]),
                       ('qvs_entry_count', [handle, C.c_uint32, C.POINTER(C.c_uint32)]),
                       ('qvs_get_entry', [handle, C.c_uint32, C.c_uint32, C.POINTER(Entry)]),
                       ('qvs_add_since', [handle, C.c_char_p]),
                       ('qvs_get_changes', [handle, C.POINTER(Changes)]),
                       ('qvs_deleted_count', [handle, C.POINTER(C.c_uint32)]),
                       ('qvs_get_deleted', [handle, C.c_uint32, C.POINTER(C.c_char_p)])):
        fn = getattr(lib, name)
        fn.argtypes = args
        fn.restype = None if name == 'qvs_free' else C.c_int
    lib.qvs_status_text.argtypes = [C.c_int]
    lib.qvs_status_text.restype = C.c_char_p
    return lib


class Split:
    def __init__(self, lib):
        self.lib = lib
        self.h = C.c_void_p()
        assert lib.qvs_create(C.byref(self.h)) == QVS_OK

    def close(self):
        self.lib.qvs_free(self.h)

    def setup(self, rules, out, size_mb):
        array = (Rule * len(rules))(*[Rule(os.fsencode(path), b'', loc, 1, 0, i + 1)
                                      for i, (path, loc) in enumerate(rules)])
        opts = Options(C.sizeof(Options), size_mb, 0, 0, 0, b'VOL', b'Backup', os.fsencode(out))
        return self.lib.qvs_setup_rules(self.h, array, len(rules), C.sizeof(Rule), C.byref(opts))

    def run(self):
        media = C.c_uint32()
        return self.lib.qvs_run(self.h, C.byref(media)), media.value

    def media(self):
        count = C.c_uint32()
        assert self.lib.qvs_media_count(self.h, C.byref(count)) == QVS_OK
        out = []
        for i in range(count.value):
            m = Medium(struct_size=C.sizeof(Medium))
            assert self.lib.qvs_get_medium(self.h, i, C.byref(m)) == QVS_OK
            out.append({'file': m.file_name.decode(), 'entries': m.entries, 'files': m.files,
                        'size': m.file_bytes})
        return out

    def planned(self):
        total = C.c_int64()
        assert self.lib.qvs_planned_bytes(self.h, C.byref(total)) == QVS_OK
        return total.value

    def left_out(self):
        count = C.c_uint32()
        assert self.lib.qvs_left_out_count(self.h, C.byref(count)) == QVS_OK
        out = []
        for i in range(count.value):
            e = LeftOut(struct_size=C.sizeof(LeftOut))
            assert self.lib.qvs_get_left_out(self.h, i, C.byref(e)) == QVS_OK
            out.append((os.path.basename(e.path.replace(b'\\', b'/')).decode(), e.size, e.reason))
        return out

    def entries(self):
        """Every entry of every medium: (medium, name, part, size, cut file)."""
        out = []
        for m in range(len(self.media())):
            count = C.c_uint32()
            assert self.lib.qvs_entry_count(self.h, m, C.byref(count)) == QVS_OK
            for i in range(count.value):
                e = Entry(struct_size=C.sizeof(Entry))
                assert self.lib.qvs_get_entry(self.h, m, i, C.byref(e)) == QVS_OK
                out.append((m, os.path.basename(e.source_path), e.part, e.size, e.cut_file))
        return out

    def errors(self):
        count = C.c_uint32()
        assert self.lib.qvs_error_count(self.h, C.byref(count)) == QVS_OK
        out = []
        for i in range(count.value):
            text = C.c_char_p()
            assert self.lib.qvs_get_error(self.h, i, C.byref(text)) == QVS_OK
            out.append(text.value)
        return out

    def refusal(self):
        r = Refusal(struct_size=C.sizeof(Refusal))
        status = self.lib.qvs_get_refusal(self.h, C.byref(r))
        return (r.code, r.bytes, r.limit) if status == QVS_OK else None


def main():
    lib = load(sys.argv[1])
    program = sys.argv[2]
    work = tempfile.mkdtemp(prefix='qvsplit-capi-')
    failures = []

    def check(what, got, want):
        if got != want:
            failures.append('%s: got %r, want %r' % (what, got, want))

    try:
        data = os.path.join(work, 'data')
        os.makedirs(os.path.join(data, 'sub'))
        for rel, size in (('a.bin', 300000), ('sub/b.bin', 600000), ('c.bin', 700000), ('big.bin', 3000000)):
            with open(os.path.join(data, rel), 'wb') as f:
                f.truncate(size)

        # The same plan as the program's.
        cli = json.loads(subprocess.run([program, 'split', '--json', '--size', '1', '--out',
                                         os.path.join(work, 'cli'), data],
                                        check=True, capture_output=True, text=True).stdout)
        split = Split(lib)
        os.mkdir(os.path.join(work, 'lib'))
        check('setup', split.setup([(data, QVS_ANY)], os.path.join(work, 'lib'), 1), QVS_OK)
        status, media = split.run()
        check('run', status, QVS_OK)
        check('media count', media, cli['media_count'])
        check('media', split.media(), [{k: m[k] for k in ('file', 'entries', 'files', 'size')} for m in cli['media']])
        check('planned bytes', split.planned(), cli['total_size'])
        check('left out', split.left_out(),
              [(os.path.basename(e['path']), e['size'], QVS_LEFT_OUT_TOO_BIG) for e in cli['left_out']])
        check('no refusal', split.refusal(), None)

        # A refusal: the first-medium set is larger than a medium.
        os.mkdir(os.path.join(work, 'refused'))
        check('setup', split.setup([(data + '/sub', QVS_FIRST), (data + '/c.bin', QVS_FIRST)],
                                   os.path.join(work, 'refused'), 1), QVS_OK)
        check('refused run', split.run(), (QVS_E_REFUSED, 0))
        refusal = split.refusal()
        check('refusal code', refusal and refusal[0], QVS_REFUSED_FIRST_SET)

        # The progress function stops the split at its third call.
        calls = []

        def progress(code, value, user):
            calls.append(code)
            return 1 if len(calls) >= 3 else 0
        callback = PROGRESS(progress)  # kept alive while the split runs
        lib.qvs_set_progress(split.h, callback, None)
        os.mkdir(os.path.join(work, 'cancel'))
        check('setup', split.setup([(data, QVS_ANY)], os.path.join(work, 'cancel'), 1), QVS_OK)
        check('cancelled run', split.run()[0], QVS_E_CANCELLED)
        check('progress calls', len(calls), 3)
        check('status text', lib.qvs_status_text(QVS_E_CANCELLED), b'cancelled')
        split.close()

        # A set that follows the library's set, with POSIX paths, finds what split --since finds
        # following the program's set of the same tree: a file grown, one added, one deleted.
        with open(os.path.join(data, 'a.bin'), 'r+b') as f:
            f.truncate(300001)
        with open(os.path.join(data, 'new.bin'), 'wb') as f:
            f.write(b'new')
        os.remove(os.path.join(data, 'sub', 'b.bin'))
        cli_since = json.loads(subprocess.run([program, 'split', '--json', '--size', '1', '--since',
                                               os.path.join(work, 'cli'), '--out', os.path.join(work, 'cli-since'), data],
                                              check=True, capture_output=True, text=True).stdout)['since']
        follower = Split(lib)
        check('add since', lib.qvs_add_since(follower.h, os.fsencode(os.path.join(work, 'lib'))), QVS_OK)
        os.mkdir(os.path.join(work, 'lib-since'))
        check('setup since', follower.setup([(data, QVS_ANY)], os.path.join(work, 'lib-since'), 1), QVS_OK)
        check('run since', follower.run()[0], QVS_OK)
        changes = Changes(struct_size=C.sizeof(Changes))
        check('changes', lib.qvs_get_changes(follower.h, C.byref(changes)), QVS_OK)
        check('counts', (changes.sets, changes.new_files, changes.changed, changes.unchanged, changes.deleted),
              (1, cli_since['new'], cli_since['changed'], cli_since['unchanged'], cli_since['deleted']))
        check('counts as made', (changes.new_files, changes.changed, changes.deleted), (1, 1, 1))
        deleted = C.c_char_p()
        check('deleted path', (lib.qvs_get_deleted(follower.h, 0, C.byref(deleted)), deleted.value),
              (QVS_OK, os.fsencode(os.path.join(data, 'sub', 'b.bin'))))
        check('planned', sorted(os.path.basename(e[1]) for e in follower.entries()), [b'a.bin', b'new.bin'])
        follower.close()

        # Two handles, POSIX paths: a cuts, b (cutting off) leaves its big file out, and the
        # part list naming parts on disk is not started over by either.
        cut = os.path.join(work, 'cut')
        os.mkdir(cut)
        original = os.urandom(2 * 1048576 + 5)
        with open(os.path.join(cut, 'big.bin'), 'wb') as f:
            f.write(original)
        parts = os.fsencode(os.path.join(work, 'parts.ini'))
        a, b = Split(lib), Split(lib)
        check('b never set up', b.run()[0], QVS_E_STATE)
        check('b reports its own state only', (b.refusal(), len(b.errors())), (None, 1))
        check('cutting on', lib.qvs_set_cutting(a.h, 1, 21, parts), QVS_OK)
        for name in ('a-out', 'b-out'):
            os.mkdir(os.path.join(work, name))
        check('setup a', a.setup([(cut, QVS_ANY)], os.path.join(work, 'a-out'), 2), QVS_OK)
        check('run a', a.run()[0], QVS_OK)
        check('big file cut', os.path.exists(os.path.join(cut, 'big.bin')), False)
        cut_parts = sorted((p, size, f) for _, _, p, size, f in a.entries())
        check('parts listed', cut_parts, [(1, 1048576, os.fsencode(os.path.join(cut, 'big.bin'))),
                                          (2, 1048576, os.fsencode(os.path.join(cut, 'big.bin'))),
                                          (3, 5, os.fsencode(os.path.join(cut, 'big.bin')))])
        check('setup b', b.setup([(data, QVS_ANY)], os.path.join(work, 'b-out'), 1), QVS_OK)
        check('run b', b.run()[0], QVS_OK)
        check('b cut nothing', [e[2] for e in b.entries() if e[2]], [])
        check('b left its big file out', [e[0] for e in b.left_out()], ['big.bin'])
        check('list kept by b', lib.qvs_set_cutting(b.h, 1, 21, parts), QVS_E_FAILED)
        check('list kept by a', lib.qvs_set_cutting(a.h, 1, 21, parts), QVS_E_FAILED)
        check('recover', lib.qvs_recover(a.h, b'C', parts), QVS_OK)
        with open(os.path.join(cut, 'big.bin'), 'rb') as f:
            check('recovered bytes', f.read() == original, True)
        check('recover again', lib.qvs_recover(a.h, b'C', parts), QVS_E_FAILED)
        check('error names the file', any(b'big.bin' in e for e in a.errors()), True)
        a.close()
        b.close()
    finally:
        shutil.rmtree(work)
    for failure in failures:
        print('capi_test.py: ' + failure)
    if failures:
        return 1
    print('capi_test.py: the library plans what qvsplit split --json plans, and --since; refusal and cancel read back')
    return 0


if __name__ == '__main__':
    sys.exit(main())
