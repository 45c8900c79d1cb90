#!/usr/bin/env python3
"""The report page in a real browser: small trees are split, their reports made, and the pages
loaded in headless Chromium, with a search in the address (report.html#q=TEXT) read back from
the DOM the browser built, and driven through the DevTools protocol on a pipe for the rest:
searches by words and patterns against a walk of the tree, the medium chips, the folder tree,
the rows of a medium, the folder spread, the filters, CSV export, the print sleeves, and the
same page with its data compressed. Hostile names must stay text: no element of a name's
markup exists, no script but the page's own, and no character that reorders text reaches the
screen raw.

Exits 77 (skipped) when no Chromium is installed; run as root it needs --no-sandbox, which it
always passes.
"""

import argparse
import base64
import csv
import fcntl
import fnmatch
import gzip
import html.parser
import io
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

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
                          '--disable-dev-shm-usage', '--user-data-dir=' + profile,
                          # A page that unpacks its data renders once that is done.
                          '--virtual-time-budget=20000', '--dump-dom', url], timeout=45,
                         what=' (a dialog the page opened, alert() say, holds the browser)')
    if code != 0 or not out:
        raise SystemExit('%s ended with %d:\n%s' % (browser, code, err.decode(errors='replace')[-2000:]))
    dom = Dom()
    dom.feed(out.decode('utf-8'))
    return dom, out.decode('utf-8')


class Browser:
    """Headless Chromium driven over the DevTools protocol on a pipe (fds 3 and 4)."""

    threw = 0  # sessions in which the page threw
    started = 0

    def __init__(self, browser, profile):
        to_r, to_w = os.pipe()
        from_r, from_w = os.pipe()
        # Out of the way of 3 and 4 before they are made there in the child.
        hi_r, hi_w = fcntl.fcntl(to_r, fcntl.F_DUPFD_CLOEXEC, 10), fcntl.fcntl(from_w, fcntl.F_DUPFD_CLOEXEC, 10)
        for fd in (to_r, from_w):
            os.close(fd)
        null = os.open(os.devnull, os.O_RDWR)
        acts = [(os.POSIX_SPAWN_DUP2, null, 0), (os.POSIX_SPAWN_DUP2, null, 1), (os.POSIX_SPAWN_DUP2, null, 2),
                (os.POSIX_SPAWN_DUP2, hi_r, 3), (os.POSIX_SPAWN_DUP2, hi_w, 4)]
        args = [browser, '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-dev-shm-usage',
                '--user-data-dir=%s-%d' % (profile, Browser.started), '--remote-debugging-pipe', 'about:blank']
        Browser.started += 1  # each with a profile of its own: one killed leaves its lock behind
        self.pid = os.posix_spawn(browser, args, os.environ, file_actions=acts, setsid=True)
        for fd in (hi_r, hi_w, null):
            os.close(fd)
        self.w, self.r, self.buf, self.next_id, self.session = to_w, from_r, b'', 0, None
        self.errors = []  # what the page threw and did not catch

    def close(self):
        if self.errors:
            print('FAIL: the page threw: %s' % ' | '.join(e.splitlines()[0] for e in self.errors))
            Browser.threw += 1
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        os.waitpid(self.pid, 0)
        os.close(self.w)
        os.close(self.r)

    def call(self, method, timeout=60, **params):
        self.next_id += 1
        msg = {'id': self.next_id, 'method': method, 'params': params}
        if self.session and not method.startswith('Target.'):
            msg['sessionId'] = self.session
        os.write(self.w, json.dumps(msg).encode() + b'\0')
        end = time.monotonic() + timeout
        while True:
            while b'\0' not in self.buf:
                left = end - time.monotonic()
                if left <= 0 or not select.select([self.r], [], [], left)[0]:
                    raise SystemExit('the browser did not answer %s in %d s' % (method, timeout))
                chunk = os.read(self.r, 1 << 20)
                if not chunk:
                    raise SystemExit('the browser ended during %s' % method)
                self.buf += chunk
            line, self.buf = self.buf.split(b'\0', 1)
            reply = json.loads(line)
            if reply.get('method') == 'Runtime.exceptionThrown':
                self.errors.append(reply['params']['exceptionDetails'].get('exception', {}).get('description', '?'))
            if reply.get('id') == self.next_id:
                if 'error' in reply:
                    raise SystemExit('%s: %s' % (method, reply['error']))
                return reply.get('result', {})

    def open(self, url):
        target = self.call('Target.createTarget', url='about:blank')['targetId']
        self.session = self.call('Target.attachToTarget', targetId=target, flatten=True)['sessionId']
        self.call('Page.enable')
        self.call('Runtime.enable')
        self.call('Page.navigate', url=url)

    def js(self, expression, timeout=60):
        r = self.call('Runtime.evaluate', timeout=timeout, expression=expression, awaitPromise=True, returnByValue=True)
        if 'exceptionDetails' in r:
            raise SystemExit('script failed: %s' % json.dumps(r['exceptionDetails'])[:1500])
        return r['result'].get('value')

    def rendered(self, timeout=60):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            v = self.js("document.documentElement && document.documentElement.getAttribute('data-render-ms')")
            if v is not None:
                return float(v)
            time.sleep(0.05)
        raise SystemExit('the page did not render in %d s' % timeout)


# Helpers the checks call in the page, kept apart from the page's own script.
PAGE_HELPERS = r"""
window.T = {
  sleep: function (ms) { return new Promise(function (r) { setTimeout(r, ms); }); },
  type: async function (selector, value) {
    var e = document.querySelector(selector);
    e.value = value;
    e.dispatchEvent(new Event('input', { bubbles: true }));
    e.dispatchEvent(new Event('change', { bubbles: true }));
    await T.sleep(450);
  },
  hits: function () {
    for (;;) {
      var more = document.querySelector('#results button.more');
      if (!more || more.hidden) break;
      more.click();
    }
    return Array.from(document.querySelectorAll('#results li.hit')).map(function (li) {
      return [li.getAttribute('data-medium'), li.querySelector('span.p').textContent,
              Array.from(li.querySelectorAll('mark')).map(function (m) { return m.textContent; })];
    });
  },
  chips: function () {
    return Array.from(document.querySelectorAll('#results ul.chips li[data-medium]')).map(function (c) {
      return [c.getAttribute('data-medium'), c.textContent];
    });
  },
  // Opens the medium's view and the folders of the tree down to path; the folder's own items.
  openFolder: function (medium, path) {
    document.querySelector('#media tr[data-medium="' + medium + '"] button.open').click();
    return T.items(medium, path);
  },
  // Opens the folders of the open medium's tree down to path; the folder's own items.
  items: function (medium, path) {
    for (var guard = 0; guard < 100; ++guard) {
      var next = Array.from(document.querySelectorAll('#medium-view li.dir')).filter(function (li) {
        var p = li.getAttribute('data-path');
        return li.querySelector('.tw').getAttribute('aria-expanded') !== 'true' && (p === path || path.indexOf(p + '/') === 0);
      })[0];
      if (!next) break;
      next.querySelector('.tw').click();
    }
    var li = Array.from(document.querySelectorAll('#medium-view li.dir')).filter(function (l) {
      return l.getAttribute('data-path') === path;
    })[0];
    if (!li) return null;
    var ul = li.querySelector(':scope > ul');
    var names = function (cls) {
      return Array.from(ul.querySelectorAll(':scope > li.' + cls + ' > span.p')).map(function (s) { return s.textContent; });
    };
    return { dirs: names('dir'), files: names('file'), figures: li.querySelector(':scope > span.n').textContent,
             more: ul.querySelectorAll(':scope > li.more').length };
  },
  showMore: function () { document.querySelector('#medium-view li.more button').click(); },
  rows: function () {
    var t = document.querySelector('#medium-view table.rows');
    return { count: Number(t.getAttribute('data-rows')), cells: Array.from(t.querySelectorAll('tbody tr')).map(function (tr) {
      return Array.from(tr.children).map(function (td) { return td.textContent; }); }) };
  },
  // The text of the CSV the next export would download.
  csv: async function (selector) {
    var blob = null, urls = URL.createObjectURL, click = HTMLAnchorElement.prototype.click;
    URL.createObjectURL = function (b) { blob = b; return 'about:blank'; };
    HTMLAnchorElement.prototype.click = function () {};
    try { document.querySelector(selector).click(); } finally {
      URL.createObjectURL = urls;
      HTMLAnchorElement.prototype.click = click;
    }
    return blob ? await blob.text() : null;
  }
};
"""

# Characters that reorder or hide text: never on screen as themselves.
REORDERING = ['\u202a', '\u202b', '\u202c', '\u202d', '\u202e', '\u2066', '\u2067', '\u2068', '\u2069', '\u200e',
              '\u200f', '\u2028', '\u2029']


def page_session(browser, profile, url):
    """A browser with url loaded, rendered and the helpers in place."""
    b = Browser(browser, profile)
    try:
        b.open(url)
        b.rendered()
        b.js(PAGE_HELPERS)
    except BaseException:
        b.close()
        raise
    return b


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
    file('photos/evil\u202etxt.exe\u202c.doc', content=b'x')          # reads as "evilcod.exe.txt" if shown raw
    file('photos/=SUM(1+1)', content=b'x')                              # a formula to a spreadsheet
    file('photos/rlo\u202etxt.exe', content=b'x')  # reorders what follows it
    file('photos/csi\u009b2J', content=b'x')        # a C1 control


# A tree shaped like /usr/share: documentation, manual pages, macros, data written in 2020, and
# one folder of 250 icons.
SHARE_PACKAGES = ['bash', 'bash-builtins', 'coreutils', 'grep', 'sed', 'tar', 'gzip', 'm4', 'autoconf']
OLD = time.mktime((2020, 1, 15, 12, 0, 0, 0, 0, -1))
NEW = time.mktime((2024, 6, 1, 12, 30, 5, 0, 0, -1))


def make_share(root):
    def file(rel, size, when):
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.truncate(size)
        os.utime(path, (when, when))
    for k, pkg in enumerate(SHARE_PACKAGES):
        file('doc/%s/copyright' % pkg, 1500 + k, NEW)
        file('doc/%s/changelog.Debian.gz' % pkg, 20000 + k, NEW)
        file('man/man1/%s.1.gz' % pkg, 3000 + k, NEW)
        if k % 2 == 0:
            file('aclocal/%s.m4' % pkg, 4000 + k, NEW)
        for j in range(4):
            file('%s/data%d.bin' % (pkg, j), 300000 + 1000 * j + k, OLD)
    file('man/man1/ls.1.gz', 2500, NEW)
    file('man/man1/lsattr.1.gz', 2600, NEW)
    file('man/man8/lsblk.8.gz', 2700, NEW)
    file('doc/bash/COPYING', 35000, NEW)
    for j in range(250):
        file('icons/hicolor/icon%03d.png' % j, 100 + j, NEW)


def matches(query, path):
    """The page's search, from its help text: every word in the path, ignoring case; a word with
    * or ? a pattern of the whole name, or with / of the end of the path (all of it from a leading /)."""
    p = path.lower()
    for w in query.lower().split():
        if '*' in w or '?' in w:
            rx = fnmatch.translate(w)
            if w.startswith('/'):
                ok = re.match(rx, p)
            elif '/' in w:
                ok = re.search('(?:^|/)' + rx, p)
            else:
                ok = re.match(rx, p.rsplit('/', 1)[1])
            if not ok:
                return False
        elif w not in p:
            return False
    return True


SEARCHES = [
    # (query, the fewest hits the tree gives it)
    ('bash copyright', 2),
    ('COPYRIGHT Bash', 2),
    ('*.m4', 5),
    ('man1/ls*', 2),
    ('an1/ls*', 0),                 # a pattern's folder is a whole name
    ('doc/*/copyright', 9),
    ('?ed*', 2),
    ('data3 GZIP', 1),
    ('icon2??.png hicolor', 50),
    ('/nowhere/*', 0),
    ('copyright zz-nothing', 0),
]


def check_searches(b, where):
    failures = []
    for query, least in SEARCHES:
        b.js('T.type("#q", %s)' % json.dumps(query))
        got = b.js('T.hits()')
        want = sorted(p for p in where if matches(query, p))
        if len(want) < least:
            failures.append('search %r: the tree gives only %d paths' % (query, len(want)))
        if sorted(h[1] for h in got) != want:
            failures.append('search %r: page shows %d paths, the walk %d: %r' % (query, len(got), len(want),
                                                                               sorted(set(h[1] for h in got) ^ set(want))[:6]))
        wrong = [h for h in got if where.get(h[1]) != h[0]]
        if wrong:
            failures.append('search %r: hits on other media than where names: %r' % (query, wrong[:3]))
        for medium, path, marks in got:
            marked = ''.join(marks).lower()
            words = query.lower().split()
            if any(('*' not in w and '?' not in w and w not in marked) for w in words):
                failures.append('search %r: %s marks %r' % (query, path, marks))
                break
            pattern = [w for w in words if '*' in w or '?' in w]
            if pattern and not (marks and path.lower().endswith(marks[-1].lower())):
                failures.append('search %r: %s marks %r, not the end of the path' % (query, path, marks))
                break
        summary = b.js('document.getElementById("result-summary").textContent')
        if not want and 'No medium holds' not in summary:
            failures.append('search %r: summary %r' % (query, summary))
        if b.js('location.hash') != '#q=' + b.js('encodeURIComponent(%s)' % json.dumps(query)):
            failures.append('search %r: the address does not follow it' % query)
    return failures


def check_chips(b, where):
    """A click on a medium's chip shows only its matches; a second click all again."""
    failures = []
    b.js('T.type("#q", "data1")')
    want = sorted(p for p in where if 'data1' in p.lower())
    chips = b.js('T.chips()')
    per = {}
    for p in want:
        per[where[p]] = per.get(where[p], 0) + 1
    if sorted(c[0] for c in chips) != sorted(per) or len(per) < 2:
        return ['chips %r for media %r' % (chips, per)]
    for medium, _ in chips:
        b.js('document.querySelector(\'#results li[data-medium="%s"][role=button]\').click()' % medium)
        got = b.js('T.hits()')
        if sorted(h[1] for h in got) != sorted(p for p in want if where[p] == medium):
            failures.append('chip %s shows %r' % (medium, [h[1] for h in got]))
        b.js('document.querySelector(\'#results li[data-medium="%s"][role=button]\').click()' % medium)
        if len(b.js('T.hits()')) != len(want):
            failures.append('a second click on chip %s does not show every match again' % medium)
    return failures


def on_medium(where, medium):
    return [p for p, m in where.items() if m == medium]


def check_tree(b, where, tree):
    """Each folder opened in a medium's tree lists its folders and files on that medium."""
    failures = []
    media = sorted(set(where.values()))
    icons = os.path.join(tree, 'icons', 'hicolor')
    most = max(media, key=lambda m: sum(1 for p in on_medium(where, m) if p.startswith(icons + '/')))
    rows = [(where[os.path.join(tree, 'doc', 'bash', 'copyright')], os.path.join(tree, 'doc', 'bash')),
            (where[os.path.join(tree, 'doc', 'bash', 'copyright')], os.path.join(tree, 'doc')),
            (where[os.path.join(tree, 'man', 'man1', 'ls.1.gz')], os.path.join(tree, 'man')),
            (most, icons)] + [(m, tree) for m in media]
    for medium, folder in rows:
        files = [p for p in on_medium(where, medium) if p.startswith(folder + '/')]
        own = sorted(os.path.basename(p) for p in files if os.path.dirname(p) == folder)
        subs = sorted(set(p[len(folder) + 1:].split('/')[0] for p in files if os.path.dirname(p) != folder))
        got = b.js('T.openFolder(%s, %s)' % (json.dumps(medium), json.dumps(folder)))
        if got is None:
            if files and folder != tree:
                failures.append('tree of %s: no folder %s' % (medium, folder))
            continue
        if got['more']:
            if len(got['files']) + len(got['dirs']) != 200:
                failures.append('tree of %s: %s shows %d items before "more"' % (medium, folder, len(got['files'])))
            b.js('T.showMore()')
            got = b.js('T.items(%s, %s)' % (json.dumps(medium), json.dumps(folder)))
        if sorted(got['files']) != own or sorted(got['dirs']) != subs:
            failures.append('tree of %s, %s: files %r folders %r, the walk %r %r' % (medium, folder, got['files'][:5],
                                                                                 got['dirs'], own[:5], subs))
        if not got['figures'].startswith('%d file' % len(files)):
            failures.append('tree of %s, %s says %r for %d files' % (medium, folder, got['figures'], len(files)))
    # A match leads to its folder in its medium's tree.
    # (the last icon of the fullest folder lies past the first 200 items)
    last_icon = max(os.path.basename(p) for p in on_medium(where, most) if p.startswith(icons + '/'))
    for name in ('lsblk', 'gzip/data2', last_icon):
        b.js('T.type("#q", %s)' % json.dumps(name))
        b.js('document.querySelector("#results li.hit button.go").click()')
        got = b.js('[document.getElementById("medium-view").getAttribute("data-medium"),'
                   ' Array.from(document.querySelectorAll("#medium-view li.found")).map(function (l) {'
                   '  return l.getAttribute("data-path") || l.querySelector(".p").textContent; })]')
        path = [p for p in where if name in p][0]
        if got != [where[path], [os.path.dirname(path), os.path.basename(path)]]:
            failures.append('the match %s leads to %r' % (path, got))
    if sum(1 for p in on_medium(where, most) if p.startswith(icons + '/')) <= 200:
        failures.append('the icons are spread over media: no folder of more than a page in the tree')
    return failures


def check_rows(b, where):
    """The rows of the fullest medium: counted, filtered, sorted, and any page reached by number."""
    failures = []
    medium = max(set(where.values()), key=lambda m: len(on_medium(where, m)))
    paths = on_medium(where, medium)
    b.js('document.querySelector(\'#media tr[data-medium="%s"] button.open\').click()' % medium)
    rows = b.js('T.rows()')
    if rows['count'] != len(paths) or len(rows['cells']) != min(100, len(paths)) or len(paths) <= 200:
        failures.append('%s: %d rows, %d shown; %d files on it' % (medium, rows['count'], len(rows['cells']), len(paths)))
    for text in ['icon1', '*.png', 'hicolor icon2?1', '']:
        b.js('T.type("#medium-view input.filter", %s)' % json.dumps(text))
        got = b.js('T.rows()')['count']
        want = sum(1 for p in paths if matches(text, p))
        if got != want:
            failures.append('%s filtered by %r: %d rows, the walk %d' % (medium, text, got, want))
    b.js('var s = document.querySelector("#medium-view select.sort"); s.value = "path"; s.dispatchEvent(new Event("change"))')
    b.js('var n = document.querySelector("#medium-view input.pageno"); n.value = "3"; n.dispatchEvent(new Event("change"))')
    first = b.js('T.rows()')['cells'][0][0]
    if first != sorted(paths, key=str.lower)[200]:
        failures.append('%s by path, page 3 begins with %r, not %r' % (medium, first, sorted(paths, key=str.lower)[200]))
    b.js('var s = document.querySelector("#medium-view select.sort"); s.value = "size"; s.dispatchEvent(new Event("change"))')
    sizes = [int(c[1].replace(',', '')) for c in b.js('T.rows()')['cells']]
    if sizes != sorted(sizes, reverse=True) or sizes[0] != max(os.path.getsize(p) for p in paths):
        failures.append('%s by size: %r' % (medium, sizes[:5]))
    return failures


def check_spread(b, where, tree):
    """The folder search names the media holding a folder's files, with how many on each."""
    b.js('T.type("#fq", "share/DOC")')
    folder = os.path.join(tree, 'doc')
    got = b.js('[document.querySelector("#spread .spread-summary").getAttribute("data-path"), Array.from('
               'document.querySelectorAll("#spread table.spread tr[data-medium]")).map(function (r) {'
               ' return [r.getAttribute("data-medium"), Number(r.getAttribute("data-files"))]; })]')
    want = {}
    for p, m in where.items():
        if p.startswith(folder + '/'):
            want[m] = want.get(m, 0) + 1
    if got[0] != folder or dict(got[1]) != want:
        return ['folder %s: page says %r, the walk %r' % (folder, got, want)]
    return []


FILTERS = [
    # (types, size from, to, written from, to, words, the rule)
    ('gz', '', '', '', '', '', lambda p, size, year: p.endswith('.gz')),
    ('png, .M4', '', '', '', '', 'a', lambda p, size, year: p.endswith(('.png', '.m4')) and 'a' in p.lower()),
    ('*.Debian.gz', '', '', '', '', '', lambda p, size, year: p.endswith('.Debian.gz')),
    ('', '300k', '', '', '', '', lambda p, size, year: size >= 300 * 1024),
    ('', '', '2k', '', '', 'copyright', lambda p, size, year: size <= 2048 and 'copyright' in p),
    ('', '', '', '2020-01-01', '2020-12-31', '', lambda p, size, year: year == 2020),
    ('', '', '', '2021-01-01', '', 'bash', lambda p, size, year: year >= 2021 and 'bash' in p),
]


def check_filters(b, where):
    failures = []
    for types, low, high, since, until, words, rule in FILTERS:
        b.js('["#f-type", "#f-min", "#f-max", "#f-from", "#f-to"].forEach(function (s, k) {'
             ' document.querySelector(s).value = %s[k]; })' % json.dumps([types, low, high, since, until]))
        b.js('T.type("#q", %s)' % json.dumps(words))
        got = sorted(h[1] for h in b.js('T.hits()'))
        want = sorted(p for p in where if rule(p, os.path.getsize(p), time.localtime(os.path.getmtime(p)).tm_year))
        if got != want:
            failures.append('filter %r: page %d paths, the walk %d' % ((types, low, high, since, until, words), len(got), len(want)))
    b.js('["#f-type", "#f-min", "#f-max", "#f-from", "#f-to"].forEach(function (s) { document.querySelector(s).value = ""; })')
    return failures


def check_csv(b, where):
    b.js('T.type("#q", "bash copyright")')
    text = b.js('T.csv("#results button.export")')
    if not text:
        return ['no CSV made of the matches']
    rows = list(csv.reader(io.StringIO(text.lstrip('\ufeff'))))
    want = sorted(p for p in where if matches('bash copyright', p))
    got = sorted((r[2], r[4], r[5]) for r in rows[1:])
    expected = sorted((p, str(os.path.getsize(p)), time.strftime('%Y-%m-%d %H:%M:%S', time.localtime(os.path.getmtime(p))))
                      for p in want)
    if rows[0][:6] != ['medium', 'medium file', 'path', 'name', 'bytes', 'written'] or got != expected:
        return ['CSV of the matches: %r, expected %r' % (rows, expected)]
    return []


def check_print(b, media, set_name, where):
    """Printed, the page is a sleeve per medium: its number, the set, what is on it; no controls."""
    failures = []
    b.call('Emulation.setEmulatedMedia', media='print')
    b.js('T.sleep(100)')
    got = b.js('[getComputedStyle(document.getElementById("search")).display,'
               ' getComputedStyle(document.getElementById("overview")).display,'
               ' Array.from(document.querySelectorAll("#sleeves .sleeve")).map(function (s) {'
               '  return [s.querySelector(".set").textContent, s.querySelector("h2").textContent, s.innerText,'
               '          getComputedStyle(s).display]; })]')
    b.call('Emulation.setEmulatedMedia', media='')
    if got[0] != 'none' or got[1] != 'none':
        failures.append('printed, the search and the table show: %r' % got[:2])
    if len(got[2]) != len(media):
        return failures + ['printed: %d sleeves for %d media' % (len(got[2]), len(media))]
    for k, (name, (set_text, title, text, display)) in enumerate(zip(media, got[2])):
        largest = max(on_medium(where, name), key=os.path.getsize) if where else None
        if set_text != set_name or title != 'Medium %d of %d' % (k + 1, len(media)) or display == 'none' or \
                (largest and largest not in text):
            failures.append('sleeve %d: %r %r (shown: %s), largest file %s' % (k + 1, set_text, title, display, largest))
    if b.js('getComputedStyle(document.getElementById("sleeves")).display') != 'none':
        failures.append('the sleeves show on the screen')
    return failures


def check_keys_and_colours(b):
    failures = []
    if b.js('document.activeElement.id') != 'q':
        failures.append('the search box has no focus on load')
    key = dict(type='keyDown', key='/', code='Slash', text='/', windowsVirtualKeyCode=191)
    b.js('document.activeElement.blur(); document.getElementById("q").value = "man"')
    b.call('Input.dispatchKeyEvent', **key)
    b.call('Input.dispatchKeyEvent', type='keyUp', key='/', code='Slash', windowsVirtualKeyCode=191)
    if b.js('[document.activeElement.id, document.getElementById("q").value]') != ['q', 'man']:
        failures.append('"/" does not lead to the search box')
    b.js('document.getElementById("fq").focus()')
    b.call('Input.dispatchKeyEvent', **key)
    b.call('Input.dispatchKeyEvent', type='keyUp', key='/', code='Slash', windowsVirtualKeyCode=191)
    if b.js('[document.activeElement.id, document.getElementById("fq").value]') != ['fq', '/']:
        failures.append('"/" typed in the folder box left it')
    b.call('Emulation.setEmulatedMedia', features=[{'name': 'prefers-color-scheme', 'value': 'dark'}])
    dark = b.js('getComputedStyle(document.body).backgroundColor')
    b.call('Emulation.setEmulatedMedia', features=[{'name': 'prefers-color-scheme', 'value': 'light'}])
    light = b.js('getComputedStyle(document.body).backgroundColor')
    level = lambda c: sum(int(v) for v in re.findall(r'\d+', c)[:3])
    if not level(dark) < 150 < level(light):
        failures.append('dark colours: %s, light: %s' % (dark, light))
    return failures


def plan_label(out):
    """The label a split gave its set, from the record beside its media files."""
    text = open(os.path.join(out, 'qvsplit-plan.xml'), encoding='utf-8').read()
    return re.search(r'Label="([^"]*)"', text).group(1)


def packed_copy(page, copy, edit=None):
    """The page with its data block edited and given as base64 of its gzip stream, as a page of
    a large set carries it."""
    text = open(page, encoding='utf-8').read()
    m = re.search(r'<script type="application/json" id="qvsplit-data">(.*?)</script>', text, re.S)
    data = m.group(1)
    if edit:
        d = json.loads(data)
        edit(d)
        data = json.dumps(d).replace('<', '\\u003c').replace('>', '\\u003e').replace('&', '\\u0026')
    packed = base64.b64encode(gzip.compress(data.encode('utf-8'))).decode()
    with open(copy, 'w', encoding='utf-8') as f:
        f.write(text[:m.start()] + '<script type="application/octet-stream" id="qvsplit-data-gz">' + packed +
                '</script>' + text[m.end():])


def share_checks(browser, qvsplit, work, profile):
    """The searches, browsing, filters, export and print view on a tree shaped like /usr/share."""
    tree, out, page = os.path.join(work, 'share'), os.path.join(work, 'share-media'), os.path.join(work, 'share.html')
    make_share(tree)
    for cmd in ([qvsplit, 'split', '--quiet', '--size', '2', '--out', out, tree], [qvsplit, 'report', '--out', page, out]):
        code, o, e = run(cmd)
        if code != 0:
            raise SystemExit('%s failed: %s' % (cmd[1], e.decode(errors='replace')))
    code, o, e = run([qvsplit, 'where', '--json', out, tree])
    where = {w['path']: w['medium'] for w in json.loads(o.decode())}
    walked = sorted(os.path.join(d, f) for d, _, names in os.walk(tree) for f in names)
    if sorted(where) != walked:
        raise SystemExit('where names %d files of the %d walked' % (len(where), len(walked)))
    media = sorted(set(where.values()), key=lambda m: int(re.sub(r'\D', '', m)))
    failures = []
    b = page_session(browser, profile, 'file://' + page)
    try:
        for check in (lambda: check_keys_and_colours(b), lambda: check_searches(b, where), lambda: check_chips(b, where),
                      lambda: check_tree(b, where, tree), lambda: check_rows(b, where), lambda: check_spread(b, where, tree),
                      lambda: check_filters(b, where), lambda: check_csv(b, where),
                      lambda: check_print(b, media, plan_label(out), where)):
            failures += check()
    finally:
        b.close()
    # The same page with its data compressed shows the same.
    packed = os.path.join(work, 'share-packed.html')
    packed_copy(page, packed)
    b = page_session(browser, profile, 'file://' + packed)
    try:
        failures += ['compressed: ' + f for f in check_searches(b, where)]
        if b.js('document.getElementById("loading").hidden') is not True:
            failures.append('compressed: "Loading" still shows')
    finally:
        b.close()
    # A browser that cannot unpack it says so.
    b = Browser(browser, profile)
    try:
        b.open('about:blank')
        b.call('Page.addScriptToEvaluateOnNewDocument', source='delete window.DecompressionStream;')
        b.call('Page.navigate', url='file://' + packed)
        said, end = '', time.monotonic() + 30
        while 'cannot unpack' not in said and time.monotonic() < end:
            time.sleep(0.1)
            said = b.js('document.getElementById("loading") ? document.getElementById("loading").innerText : ""')
        if 'cannot unpack' not in said or b.js('document.documentElement.getAttribute("data-render-ms")') is not None:
            failures.append('without DecompressionStream the page says %r' % said)
    finally:
        b.close()
    return failures


def hostile_checks(browser, page, profile, tree, out):
    """Names that reorder text or look like formulas, in every view; and the page as a disc's,
    with a label and a left-out entry of unknown size, compressed."""
    failures = []
    evil = os.path.join(tree, 'photos', 'evil\u202etxt.exe\u202c.doc')
    shown = evil.replace('\u202e', '\\u202E').replace('\u202c', '\\u202C')
    b = page_session(browser, profile, 'file://' + page)
    try:
        b.js('T.type("#q", "EVIL")')
        hits = b.js('T.hits()')
        if [h[1] for h in hits] != [shown]:
            failures.append('search evil: %r, not %r' % (hits, shown))
        medium = hits[0][0] if hits else ''
        items = b.js('T.openFolder(%s, %s)' % (json.dumps(medium), json.dumps(os.path.dirname(evil))))
        if not items or os.path.basename(shown) not in items['files']:
            failures.append('tree of photos: %r' % items)
        b.js('T.type("#medium-view input.filter", "evil")')
        written = time.strftime('%Y-%m-%d %H:%M', time.localtime(os.path.getmtime(evil)))
        if b.js('T.rows()')['cells'] != [[shown, '1', written, '/tree/photos/' + os.path.basename(shown)]]:
            failures.append('rows of photos filtered: %r' % b.js('T.rows()')['cells'])
        b.js('T.type("#fq", "photos")')
        b.call('Emulation.setEmulatedMedia', media='print')
        b.js('T.sleep(100)')
        text = b.js('document.body.innerText')
        b.call('Emulation.setEmulatedMedia', media='')
        text += b.js('document.body.innerText + document.title')
        raw = [c for c in REORDERING if c in text]
        if raw:
            failures.append('characters that reorder text reach the screen: %r' % raw)
        b.js('T.type("#q", "=sum")')
        rows = list(csv.reader(io.StringIO(b.js('T.csv("#results button.export")').lstrip('\ufeff'))))
        if len(rows) != 2 or rows[1][3] != "'=SUM(1+1)":
            failures.append('CSV of =SUM(1+1): %r' % rows)
        b.js('T.type("#q", "alert")')
        tags = b.js('[document.querySelectorAll("img").length, document.querySelectorAll("script").length, document.title]')
        if tags[0] or tags[1] != 2 or 'pwned' in tags[2]:
            failures.append('elements made of names: %r' % tags)
    finally:
        b.close()

    def as_disc(d):
        d['label'] = 'QV20261210-0130'
        d['here'] = d['media'][-1]['number']
        d['leftOut'] = [{'path': '/gone/away', 'size': None, 'reason': 'cannot be read'}]
    copy = os.path.join(os.path.dirname(page), 'disc-packed.html')
    packed_copy(page, copy, as_disc)
    b = page_session(browser, profile, 'file://' + copy)
    try:
        got = b.js('[document.title, document.getElementById("subtitle").textContent, document.getElementById("leftout").innerText,'
                   ' document.querySelector("#media thead").innerText, document.getElementById("planinfo").innerText]')
        if 'QV20261210-0130' not in got[0] or 'QV20261210-0130' not in got[1] or out in got[1] or 'Media folder' in got[4]:
            failures.append('a disc of a labelled set names %r / %r' % (got[0], got[1]))
        if '(size unknown)' not in got[2] or '0 B' in got[2]:
            failures.append('left out with unknown size: %r' % got[2])
        if 'Planned fill' not in got[3] or 'Planned free' not in got[3]:
            failures.append('a disc\'s figures are not said to be planned: %r' % got[3])
        n = b.js('document.querySelectorAll("#media tbody tr").length')
        failures += ['disc: ' + f for f in check_print(b, [None] * n, 'QV20261210-0130', {})]
    finally:
        b.close()
    return failures


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
                # Its figures are the plan's, and it names the set, not the folder of another host.
                subtitle = re.search(r'id="subtitle">([^<]*)<', text).group(1)
                if 'Planned fill' not in text or out in subtitle or os.path.basename(out) not in subtitle:
                    failures.append('the catalogue on %s: subtitle %r' % (medium, subtitle))
        else:
            print('osirrox not installed: the catalogue on a disc is not checked')

        failures += hostile_checks(browser, page, profile, tree, out)
        failures += share_checks(browser, args.qvsplit, work, profile)

        failures += ['the page threw in %d sessions' % Browser.threw] if Browser.threw else []
        for f in failures:
            print('FAIL: ' + f)
        print('%s: %d failures' % (os.path.basename(sys.argv[0]), len(failures)))
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
