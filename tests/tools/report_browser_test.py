#!/usr/bin/env python3
"""The report page in a real browser: a small tree is split, its report made, and the page
loaded in headless Chromium with a search in its address (report.html#q=TEXT). The DOM the
browser built must name the medium that 'qvsplit where' names for a file, and show hostile
names as text: no element of a name's markup exists, and no script but the page's own.

Exits 77 (skipped) when no Chromium is installed; run as root it needs --no-sandbox, which it
always passes.
"""

import argparse
import html.parser
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile

SKIP = 77


def find_browser():
    for name in (os.environ.get('QVSPLIT_CHROMIUM'), 'chromium', 'chromium-browser', 'google-chrome'):
        if name and shutil.which(name):
            return shutil.which(name)
    return None


class Dom(html.parser.HTMLParser):
    """The parts of the page the test reads: hits, chips, scripts, and any <img>."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.hits = []        # (data-medium, path text)
        self.chips = []       # data-medium of each medium the search names
        self.tags = {}        # tag name -> count
        self.summary = ''
        self.render_ms = None
        self._in = None       # what text is being collected
        self._hit = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.tags[tag] = self.tags.get(tag, 0) + 1
        if tag == 'html' and 'data-render-ms' in a:
            self.render_ms = float(a['data-render-ms'])
        cls = a.get('class') or ''
        if tag == 'li' and 'hit' in cls.split():
            self._hit = [a.get('data-medium'), '']
        elif tag == 'li' and 'data-medium' in a:
            self.chips.append(a['data-medium'])
        elif tag == 'span' and cls == 'p' and self._hit is not None:
            self._in = 'path'
        elif tag == 'p' and a.get('id') == 'result-summary':
            self._in = 'summary'

    def handle_endtag(self, tag):
        if tag == 'span' and self._in == 'path':
            self._in = None
        elif tag == 'p' and self._in == 'summary':
            self._in = None
        elif tag == 'li' and self._hit is not None:
            self.hits.append(tuple(self._hit))
            self._hit = None

    def handle_data(self, data):
        if self._in == 'path':
            self._hit[1] += data
        elif self._in == 'summary':
            self.summary += data


def run(cmd, timeout=120, what='', **kw):
    """Runs cmd in its own process group, killed whole when it overstays."""
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True, **kw)
    try:
        out, err = p.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.communicate()
        raise SystemExit('timed out after %d s%s: %s' % (timeout, what, ' '.join(cmd)))
    return p.returncode, out, err


def load(browser, page, query, profile):
    url = 'file://' + page + '#q=' + query
    code, out, err = run([browser, '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
                          '--disable-dev-shm-usage', '--user-data-dir=' + profile, '--dump-dom', url], timeout=45,
                         what=' (a dialog the page opened, alert() say, holds the browser)')
    if code != 0 or not out:
        raise SystemExit('%s ended with %d:\n%s' % (browser, code, err.decode(errors='replace')[-2000:]))
    dom = Dom()
    dom.feed(out.decode('utf-8'))
    return dom, out.decode('utf-8')


def make_tree(root):
    def file(rel, size=0, content=None):
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            if content is not None:
                f.write(content)
            else:
                f.truncate(size)
    for i in range(1, 6):
        file('docs/a%d.bin' % i, 1000000)
    file('photos/Holiday-2023.jpg', 1500000)
    file('photos/<script>alert(1)</script>', content=b'x')      # a folder "<script>alert(1)<" and its file
    file('photos/<img src=x onerror=alert(2)>', content=b'x')
    file('photos/q"uo&te', content=b'x')
    file('photos/rlo\u202etxt.exe', content=b'x')  # reorders what follows it
    file('photos/csi\u009b2J', content=b'x')        # a C1 control


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--qvsplit', required=True)
    args = ap.parse_args()
    browser = find_browser()
    if not browser:
        print('SKIP: no Chromium installed (apt-get install chromium)')
        return SKIP
    work = tempfile.mkdtemp(prefix='qvsplit-report-browser-')
    try:
        tree, out = os.path.join(work, 'tree'), os.path.join(work, 'media')
        make_tree(tree)
        code, o, e = run([args.qvsplit, 'split', '--quiet', '--size', '2', '--out', out, tree])
        if code != 0:
            raise SystemExit('split failed: %s' % e.decode(errors='replace'))
        page = os.path.join(work, 'report.html')
        code, o, e = run([args.qvsplit, 'report', '--out', page, out])
        if code != 0:
            raise SystemExit('report failed: %s' % e.decode(errors='replace'))
        profile = os.path.join(work, 'profile')
        failures = []

        # A search for part of a name, in another letter case, names the medium where does.
        code, o, e = run([args.qvsplit, 'where', '--json', out, 'holiday'])
        want = json.loads(o.decode())
        if len(want) != 1:
            raise SystemExit('where found %r' % want)
        want_holiday = want[0]
        dom, text = load(browser, page, 'HOLIDAY', profile)
        got = [(m, p) for m, p in dom.hits]
        if got != [(want[0]['medium'], want[0]['path'])]:
            failures.append('search HOLIDAY: page shows %r, where says %r (summary %r)' % (got, want, dom.summary))
        if dom.chips != [want[0]['medium']]:
            failures.append('search HOLIDAY: media named %r' % dom.chips)
        if dom.render_ms is None:
            failures.append('the page did not finish its first render')
        else:
            print('first render: %.1f ms' % dom.render_ms)

        # Hostile names are found as text, on the media where names them, and nothing of their
        # markup became an element or a script.
        code, o, e = run([args.qvsplit, 'where', '--json', out, 'alert'])
        want = sorted((w['medium'], w['path']) for w in json.loads(o.decode()))
        dom, text = load(browser, page, 'alert', profile)
        if sorted(dom.hits) != want or len(want) != 2:
            failures.append('search alert: page shows %r, where says %r' % (sorted(dom.hits), want))
        if dom.tags.get('img') or dom.tags.get('script', 0) != 2:
            failures.append('elements made of names: %d img, %d script' % (dom.tags.get('img', 0), dom.tags.get('script', 0)))
        if '<script>alert' in text or 'onerror="' in text:
            failures.append('raw markup of a name in the DOM')
        dom, text = load(browser, page, 'uo%26te', profile)
        if [p for _, p in dom.hits] != [os.path.join(tree, 'photos', 'q"uo&te')]:
            failures.append('search uo&te: %r' % dom.hits)

        # A character that reorders text, or a C1 control, is shown as the program shows it on a
        # terminal: the page holds neither as itself.
        for needle, shown in (('rlo', 'rlo\\u202Etxt.exe'), ('csi', 'csi\\u009B2J')):
            dom, text = load(browser, page, needle, profile)
            if [p for _, p in dom.hits] != [os.path.join(tree, 'photos', shown)]:
                failures.append('search %s: page shows %r' % (needle, dom.hits))
            if '\u202e' in text or '\u009b' in text:
                failures.append('search %s: a character that reorders or controls text in the page as itself' % needle)

        # A text no path holds names no medium.
        dom, text = load(browser, page, 'no-such-name', profile)
        if dom.hits or 'No medium holds' not in dom.summary:
            failures.append('search for nothing: %r, %r' % (dom.hits, dom.summary))

        # The catalogue on a disc marks the disc it is on.
        if shutil.which('osirrox'):
            medium = want_holiday['medium']
            number = medium[len('Media'):-len('.xml')]
            images = os.path.join(work, 'images')
            code, o, e = run([args.qvsplit, 'pack', '--quiet', '--format', 'iso', '--to', images, out])
            disc = os.path.join(work, 'disc')
            if code == 0:
                code, o, e = run(['osirrox', '-indev', os.path.join(images, 'Media%s.iso' % number), '-extract', '/', disc])
            if code != 0:
                failures.append('pack or osirrox failed: %s' % e.decode(errors='replace')[-1000:])
            else:
                dom, text = load(browser, os.path.join(disc, 'QVSPLIT-CATALOG.html'), 'holiday', profile)
                if 'This disc is Medium %s of ' % number not in text or '%s (this disc)' % medium not in text:
                    failures.append('the catalogue on %s does not mark its disc' % medium)
        else:
            print('osirrox not installed: the catalogue on a disc is not checked')

        for f in failures:
            print('FAIL: ' + f)
        print('%s: %d failures' % (os.path.basename(sys.argv[0]), len(failures)))
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
