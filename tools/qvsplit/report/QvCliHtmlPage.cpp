// The report page: hand-written HTML, style and script around the set's data. The script
// reads the data from its JSON block and builds every element with textContent, so a name is
// always text; long lists are shown a page of rows at a time.
#include "report/QvCliHtmlReport.h"

namespace {

const char* const kHead = R"QVPAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="generator" content="qvsplit report">
<title>Media report</title>
<style>
:root { --ink: #1d232b; --muted: #5d6875; --line: #d5dbe2; --bg: #f5f7f9; --card: #fff;
        --files: #2f6fb3; --image: #8fb6e0; --over: #c62828; --warn-bg: #fff4e5; --warn: #9a4f00;
        --here: #2e7d32; }
* { box-sizing: border-box; }
[hidden] { display: none !important; }
body { margin: 0; font: 15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif;
       color: var(--ink); background: var(--bg); }
header, main, footer { max-width: 1100px; margin: 0 auto; padding: 0 16px; }
header { padding-top: 18px; }
h1 { font-size: 1.5em; margin: 0 0 4px; }
h2 { font-size: 1.15em; margin: 0 0 10px; }
h3 { font-size: 1em; margin: 14px 0 6px; }
.sub { color: var(--muted); margin: 0 0 12px; overflow-wrap: anywhere; }
section { background: var(--card); border: 1px solid var(--line); border-radius: 8px; padding: 14px 16px;
          margin: 0 0 16px; }
.alert { border-color: #f0b46a; background: var(--warn-bg); }
.alert h2 { color: var(--warn); }
.herebox { border-color: var(--here); border-width: 2px; }
.herebox h2 { color: var(--here); }
input[type=search] { width: 100%; font: inherit; padding: 9px 11px; border: 1px solid #9aa6b2;
                     border-radius: 6px; }
button { font: inherit; padding: 4px 11px; border: 1px solid #9aa6b2; border-radius: 5px;
         background: #eef2f6; cursor: pointer; }
button:disabled { opacity: .45; cursor: default; }
.totals { display: flex; flex-wrap: wrap; gap: 6px 22px; margin: 0 0 12px; }
.totals b { font-variant-numeric: tabular-nums; }
.medium { border-top: 1px solid var(--line); padding: 10px 0; }
.medium:first-of-type { border-top: 0; }
.mhead { display: flex; flex-wrap: wrap; align-items: baseline; gap: 4px 12px; }
.mname { font-weight: 600; }
.mfile, .note { color: var(--muted); font-size: .92em; }
.fill { margin-left: auto; font-weight: 600; font-variant-numeric: tabular-nums; }
.over .fill, .overtext { color: var(--over); }
.heretag { color: #fff; background: var(--here); border-radius: 4px; padding: 0 6px; font-size: .85em; }
.bar { position: relative; height: 18px; background: #e6eaef; border-radius: 4px; overflow: hidden;
       margin: 6px 0 4px; }
.bar .img, .bar .fil { position: absolute; left: 0; top: 0; bottom: 0; }
.bar .img { background: var(--image); }
.bar .fil { background: var(--files); }
.over .bar .img { background: #ef9a9a; }
.bar .cap { position: absolute; top: 0; bottom: 0; right: 0; background: repeating-linear-gradient(135deg,
            var(--over) 0 6px, #e57373 6px 12px); border-left: 2px solid #fff; }
.figs { color: var(--muted); font-size: .92em; font-variant-numeric: tabular-nums; }
.legend { display: flex; flex-wrap: wrap; gap: 4px 16px; color: var(--muted); font-size: .9em; margin: 0 0 6px; }
.sw { display: inline-block; width: 11px; height: 11px; border-radius: 2px; margin-right: 5px;
      vertical-align: -1px; }
details > summary { cursor: pointer; color: var(--files); margin-top: 4px; }
.tops { display: grid; grid-template-columns: 1fr 1fr; gap: 0 24px; }
@media (max-width: 700px) { .tops { grid-template-columns: 1fr; } .fill { margin-left: 0; } }
.top { display: grid; grid-template-columns: minmax(0, 1fr) auto; gap: 0 8px; font-size: .92em;
       padding: 2px 0; }
.top .p { overflow-wrap: anywhere; }
.top .n { font-variant-numeric: tabular-nums; color: var(--muted); text-align: right; }
.top .b { grid-column: 1 / 3; height: 5px; background: #e6eaef; border-radius: 3px; }
.top .b i { display: block; height: 100%; background: var(--files); border-radius: 3px; }
table { width: 100%; border-collapse: collapse; font-size: .92em; }
th, td { text-align: left; padding: 4px 6px; border-bottom: 1px solid var(--line); vertical-align: top; }
td.p { overflow-wrap: anywhere; word-break: break-word; }
td.n, th.n { text-align: right; white-space: nowrap; font-variant-numeric: tabular-nums; }
.pager { display: flex; flex-wrap: wrap; align-items: center; gap: 8px; margin: 8px 0; }
.hits { list-style: none; padding: 0 4px 0 0; margin: 8px 0 0; max-height: 60vh; overflow-y: auto; }
.hits li { padding: 6px 0; border-bottom: 1px solid var(--line); overflow-wrap: anywhere; }
.hits .m { font-weight: 600; margin-right: 8px; }
.hits .d { display: block; color: var(--muted); font-size: .9em; }
.chips { display: flex; flex-wrap: wrap; gap: 6px; margin: 8px 0 0; padding: 0; list-style: none; }
.chips li { background: #e3edf8; border-radius: 12px; padding: 2px 10px; }
.chips li.herechip { background: #d7eed8; }
.raw { color: var(--over); font-family: ui-monospace, monospace; font-size: .92em; }
dl { display: grid; grid-template-columns: max-content minmax(0, 1fr); gap: 4px 14px; margin: 0; }
dt { color: var(--muted); }
dd { margin: 0; overflow-wrap: anywhere; }
.arg { display: inline-block; max-width: 100%; overflow-wrap: anywhere; margin-right: .5em; }
code { font-family: ui-monospace, SFMono-Regular, Menlo, Consolas, monospace; font-size: .92em; }
footer { color: var(--muted); font-size: .85em; padding-bottom: 24px; }
@media print { details { display: none; } body { background: #fff; } }
</style>
</head>
<body>
<header>
<h1 id="title">Media report</h1>
<p class="sub" id="subtitle"></p>
</header>
<main>
<noscript><section class="alert"><h2>This report needs JavaScript</h2>
<p>Its data is in this file; allow scripts for local files to see it.</p></section></noscript>
<section id="here" class="herebox" hidden></section>
<section id="search"><h2><label for="q">Which medium holds a file?</label></h2>
<input id="q" type="search" placeholder="Part of a path, e.g. holiday or photos/2023" autocomplete="off" spellcheck="false">
<div id="results" aria-live="polite"></div></section>
<section id="leftout" class="alert" hidden></section>
<section id="overview"><h2>Media</h2><div class="totals" id="totals"></div>
<div class="legend"><span><i class="sw" style="background:var(--files)"></i>file bytes</span>
<span><i class="sw" style="background:var(--image)"></i>image (file-system structures, whole blocks)</span>
<span><i class="sw" style="background:var(--over)"></i>beyond the capacity</span></div>
<div id="media"></div></section>
<section id="plan"><h2>How the plan was made</h2><dl id="planinfo"></dl></section>
</main>
<footer id="footer"></footer>
<script type="application/json" id="qvsplit-data">)QVPAGE";

const char* const kScript = R"QVPAGE(</script>
<script>
(function () {
'use strict';
var D = JSON.parse(document.getElementById('qvsplit-data').textContent);
var PAGE = 100, HITS = 100, CHIPS = 24;
var lower = null;

function el(tag, cls, text) {
  var e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined && text !== null) e.textContent = text;
  return e;
}
function add(parent, tag, cls, text) { var e = el(tag, cls, text); parent.appendChild(e); return e; }
// Bytes of a name that are not UTF-8 (carried as U+F080..U+F0FF) and control characters
// (as themselves or as U+F000..U+F01F) are shown as \xNN; C1 controls and the characters that
// reorder text or break a line unseen as \uNNNN, as the program shows them on a terminal.
function shown(s) {
  return String(s).replace(/[\u0000-\u001f\u007f\uf000-\uf01f\uf07f-\uf0ff]/g, function (c) {
    var n = c.charCodeAt(0) & 0xff;
    return '\\x' + (n < 16 ? '0' : '') + n.toString(16).toUpperCase();
  }).replace(/[\u0080-\u009f\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069\u2028\u2029]/g, function (c) {
    return '\\u' + ('000' + c.charCodeAt(0).toString(16).toUpperCase()).slice(-4);
  });
}
function grouped(n) { return String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ','); }
function bytes(n) {
  if (n === null || n === undefined) return 'size unknown';
  if (n < 1024) return n + ' B';
  var u = ['KB', 'MB', 'GB', 'TB'], v = n / 1024, i = 0;
  while (v >= 1024 && i < u.length - 1) { v /= 1024; ++i; }
  return v.toFixed(1) + ' ' + u[i];
}
function count(n, one, many) { return grouped(n) + ' ' + (n === 1 ? one : many || one + 's'); }
function pct(a, b) { return b ? (100 * a / b) : 0; }
function pathOf(i) { var e = D.entries[i]; return D.folders[e[1]] + D.sep + e[2] + (e[4] === 1 ? D.sep : ''); }
function insideOf(i) { var e = D.entries[i], t = D.targets[e[5]]; return '/' + (t ? t + '/' : '') + e[2]; }
function kindText(k) { return k === 1 ? 'folder, kept whole' : k === 2 ? 'link' : ''; }
function used(m) { return m.image || m.size; }
function mediumLabel(m) { return 'Medium ' + m.number; }

function renderHeader() {
  var h = D.here ? D.media.filter(function (m) { return m.number === D.here; })[0] : null;
  document.getElementById('title').textContent = h ? 'Catalogue of the set, on ' + mediumLabel(h) : 'Media report';
  document.title = (h ? mediumLabel(h) + ' - ' : '') + 'Media report - ' + shown(D.folder);
  document.getElementById('subtitle').textContent = D.media.length + (D.media.length === 1 ? ' medium' : ' media') +
    ' planned in ' + shown(D.folder) + (D.plan && D.plan.date ? ' on ' + D.plan.date : '');
  if (!h) return;
  var s = document.getElementById('here');
  s.hidden = false;
  add(s, 'h2', null, 'This disc is ' + mediumLabel(h) + ' of ' + D.media.length + ' (' + h.name + ')');
  add(s, 'p', null, 'Search below to find which disc holds any file of the set; files on this disc are marked.');
}

function renderTotals() {
  var t = document.getElementById('totals');
  var cap = D.splitSizeMb * 1048576;
  function fig(label, value) { var s = add(t, 'span', null, label + ' '); add(s, 'b', null, value); }
  fig('Total', bytes(D.total) + ' (' + grouped(D.total) + ' bytes)');
  fig('Media', String(D.media.length));
  fig('Lower bound', String(D.lowerBound));
  fig('Capacity', bytes(cap) + ' each');
  var over = D.media.filter(function (m) { return used(m) > m.capacity && m.capacity; }).length;
  if (over) { var o = add(t, 'span', 'overtext', ''); add(o, 'b', null, over + ' OVER CAPACITY'); }
  var d = D.media.length - D.lowerBound;
  add(document.getElementById('overview'), 'p', 'note',
    'Lower bound: the fewest media the set could take, its ' + (D.media.some(function (m) { return m.image; }) ?
    'predicted images' : 'bytes') + ' divided by the capacity and rounded up; this plan uses ' +
    (d === 0 ? 'exactly that many.' : d + ' more.'));
}

function renderMedium(box, m, index) {
  var card = add(box, 'div', 'medium');
  var over = m.capacity && used(m) > m.capacity;
  if (over) card.className += ' over';
  card.setAttribute('data-medium', m.name);
  var head = add(card, 'div', 'mhead');
  add(head, 'span', 'mname', mediumLabel(m));
  add(head, 'span', 'mfile', m.name);
  if (m.number === D.here) add(head, 'span', 'heretag', 'this disc');
  if (over) add(head, 'span', 'overtext', 'OVER CAPACITY');
  add(head, 'span', 'fill', pct(used(m), m.capacity).toFixed(1) + '%');
  var bar = add(card, 'div', 'bar');
  var scale = Math.max(m.capacity, used(m)) || 1;
  bar.title = grouped(used(m)) + ' of ' + grouped(m.capacity) + ' bytes';
  if (m.image) add(bar, 'div', 'img').style.width = pct(m.image, scale) + '%';
  add(bar, 'div', 'fil').style.width = pct(m.size, scale) + '%';
  // What lies beyond the capacity, hatched red.
  if (over) add(bar, 'div', 'cap').style.left = pct(m.capacity, scale) + '%';
  add(card, 'div', 'figs', 'files ' + bytes(m.size) + (m.image ? ' \u00b7 image ' + bytes(m.image) : '') +
    ' \u00b7 capacity ' + bytes(m.capacity) + ' \u00b7 ' + count(m.files, 'file') + ' in ' + count(m.entries, 'entry', 'entries') + (m.capacity >= used(m) ? ' \u00b7 ' + bytes(m.capacity - used(m)) + ' free' : ''));
  var det = add(card, 'details');
  add(det, 'summary', null, 'What is on it');
  det.addEventListener('toggle', function () {
    if (det.open && !det.getAttribute('data-done')) { det.setAttribute('data-done', '1'); renderContents(det, index); }
  });
}

function entriesOf(index) {
  var list = [];
  for (var i = 0; i < D.entries.length; ++i) if (D.entries[i][0] === index) list.push(i);
  return list;
}

function topBars(parent, title, rows) {
  add(parent, 'h3', null, title);
  var max = rows.length ? rows[0][1] || 1 : 1;
  rows.forEach(function (r) {
    var row = add(parent, 'div', 'top');
    add(row, 'span', 'p', shown(r[0]));
    add(row, 'span', 'n', bytes(r[1]));
    add(add(row, 'span', 'b'), 'i').style.width = pct(r[1], max) + '%';
  });
  if (!rows.length) add(parent, 'p', 'note', 'none');
}

function renderContents(det, index) {
  var list = entriesOf(index), byFolder = {};
  list.forEach(function (i) {
    var e = D.entries[i], key = e[4] === 1 ? pathOf(i) : D.folders[e[1]] + '/';
    byFolder[key] = (byFolder[key] || 0) + e[3];
  });
  var folders = Object.keys(byFolder).map(function (k) { return [k, byFolder[k]]; });
  folders.sort(function (a, b) { return b[1] - a[1]; });
  var files = list.slice().sort(function (a, b) { return D.entries[b][3] - D.entries[a][3]; });
  var tops = add(det, 'div', 'tops');
  topBars(add(tops, 'div'), 'Largest folders (bytes of their files on this medium)', folders.slice(0, 10));
  topBars(add(tops, 'div'), 'Largest files', files.slice(0, 10).map(function (i) { return [pathOf(i), D.entries[i][3]]; }));
  add(det, 'h3', null, 'Everything on it (' + grouped(list.length) + ' entries)');
  var order = add(det, 'button', null, 'Sort by size');
  var sorted = false;
  var table = pagedTable(det, ['Path', 'Bytes', 'On the medium'], function (k) {
    var i = (sorted ? files : list)[k], e = D.entries[i];
    return [shown(pathOf(i)) + (e[4] ? ' (' + kindText(e[4]) + ')' : ''), grouped(e[3]), shown(insideOf(i))];
  });
  table.show(list.length);
  order.addEventListener('click', function () {
    sorted = !sorted;
    order.textContent = sorted ? 'Sort as planned' : 'Sort by size';
    table.show(list.length);
  });
}

// A table that holds one page of rows at a time; row(k) gives the cells of row k.
function pagedTable(parent, heads, row) {
  var pager = add(parent, 'div', 'pager');
  var prev = add(pager, 'button', null, '\u2190 Previous'), info = add(pager, 'span', 'note'),
      next = add(pager, 'button', null, 'Next \u2192');
  var table = add(parent, 'table'), tr = add(add(table, 'thead'), 'tr');
  heads.forEach(function (h, c) { add(tr, 'th', c === 1 ? 'n' : null, h); });
  var body = add(table, 'tbody'), page = 0, count = 0;
  function draw() {
    body.textContent = '';
    var from = page * PAGE, to = Math.min(count, from + PAGE);
    for (var k = from; k < to; ++k) {
      var cells = row(k), r = add(body, 'tr');
      cells.forEach(function (c, j) { add(r, 'td', j === 1 ? 'n' : 'p', c); });
    }
    info.textContent = count ? 'rows ' + grouped(from + 1) + '\u2013' + grouped(to) + ' of ' + grouped(count) : 'no rows';
    prev.disabled = page === 0;
    next.disabled = to >= count;
    pager.hidden = count <= PAGE;
  }
  prev.addEventListener('click', function () { --page; draw(); });
  next.addEventListener('click', function () { ++page; draw(); });
  return { show: function (n) { count = n; page = 0; draw(); } };
}

function renderLeftOut() {
  var lo = D.leftOut, dr = D.plan ? D.plan.dropped : [];
  if (!lo.length && !dr.length) return;
  var s = document.getElementById('leftout');
  s.hidden = false;
  if (lo.length) {
    var sum = lo.reduce(function (a, l) { return a + (l.size || 0); }, 0);
    add(s, 'h2', null, 'Left out: ' + grouped(lo.length) + (lo.length === 1 ? ' entry' : ' entries') +
      ' on no medium (' + bytes(sum) + ')');
    add(s, 'p', null, 'These were selected but are on none of the media. Each says why.');
    pagedTable(s, ['Path', 'Bytes', 'Reason'], function (k) {
      var l = lo[k];
      return [shown(l.path), l.size === null ? 'unknown' : grouped(l.size), l.reason];
    }).show(lo.length);
  }
  if (dr.length) {
    add(s, 'h2', null, 'Rules that selected nothing: ' + dr.length);
    var ul = add(s, 'ul');
    dr.forEach(function (r) { add(ul, 'li', null, 'rule ' + r.rule + ' (' + shown(r.path) + '): ' + r.reason); });
  }
}
)QVPAGE";

const char* const kScriptEnd = R"QVPAGE(
function quoted(a) { return /^[A-Za-z0-9_.,:\/=@%+-]+$/.test(a) ? a : "'" + a.replace(/'/g, "'\\''") + "'"; }

function renderPlan() {
  var dl = document.getElementById('planinfo');
  function row(k, v) { add(dl, 'dt', null, k); return add(dl, 'dd', null, v); }
  var p = D.plan;
  if (p) {
    var cmd = add(row('Command'), 'code');
    ['qvsplit'].concat(p.command).forEach(function (a) { add(cmd, 'span', 'arg', shown(quoted(a))); });
    row('Planned on', p.date);
    row('File system', p.fs === 'none' ? 'none (file bytes)' : p.fs);
    var planned = D.splitSizeMb * 1048576;
    row('Capacity', grouped(D.splitSizeMb) + ' MB per medium' + (p.capacity && p.capacity !== planned ?
      ' as planned (whole megabytes of a disc of ' + grouped(p.capacity) + ' bytes)' : ''));
    if (p.catalogReserve) row('Kept for the catalogue', grouped(p.catalogReserve) + ' bytes per medium');
    if (p.since) {
      row('Follows', p.since.sets.map(shown).join(', '));
      row('Since then', grouped(p.since['new']) + ' new, ' + grouped(p.since.changed) + ' changed, ' +
        grouped(p.since.unchanged) + ' unchanged (not planned), ' + grouped(p.since.deleted) + ' deleted' +
        (p.since.deleted ? ' (listed in Deleted.xml)' : ''));
    }
  } else {
    row('Command', 'not recorded (the set was made by an older qvsplit or another program)');
  }
  row('Media folder', shown(D.folder));
  row('Total', grouped(D.total) + ' bytes on ' + D.media.length + ' media; lower bound ' + D.lowerBound);
  row('Left out', grouped(D.leftOut.length) + (D.leftOut.length === 1 ? ' entry' : ' entries'));
  row('Report made', D.generated);
}

// The search follows the rules of "qvsplit where": a path holding the text, ignoring case, as
// this host names it or as the media files write it (drive letter, backslashes).
function search(text) {
  var box = document.getElementById('results');
  box.textContent = '';
  if (!text) return;
  if (!lower) lower = D.entries.map(function (e, i) { var p = pathOf(i); return (e[4] === 1 ? p.slice(0, -1) : p).toLowerCase(); });
  var needle = text.toLowerCase(), windows = /[\\:]/.test(needle), hits = [], perMedium = {};
  var prefix = (D.drive + ':').toLowerCase();
  for (var i = 0; i < lower.length; ++i) {
    var hit = lower[i].indexOf(needle) >= 0;
    if (!hit && windows) {
      var w = prefix + lower[i].replace(/\//g, '\\') + (D.entries[i][4] === 1 ? '\\*.*' : '');
      hit = w.indexOf(needle) >= 0;
    }
    if (hit) { hits.push(i); perMedium[D.entries[i][0]] = (perMedium[D.entries[i][0]] || 0) + 1; }
  }
  var media = Object.keys(perMedium).map(Number).sort(function (a, b) { return a - b; });
  var names = media.length > 8 ? grouped(media.length) + ' media' : media.map(function (k) { return D.media[k].name; }).join(', ');
  var summary = add(box, 'p', null, hits.length ? grouped(hits.length) + (hits.length === 1 ? ' match' : ' matches') +
    ' on ' + names : 'No medium holds a path containing this text.');
  summary.id = 'result-summary';
  if (!hits.length) {
    var lo = D.leftOut.filter(function (l) { return l.path.toLowerCase().indexOf(needle) >= 0; });
    if (lo.length) add(box, 'p', 'overtext', grouped(lo.length) + ' left-out ' + (lo.length === 1 ? 'entry matches' : 'entries match') + ': see "Left out" below.');
    return;
  }
  var chips = add(box, 'ul', 'chips');
  media.slice(0, CHIPS).forEach(function (k) {
    var m = D.media[k], c = add(chips, 'li', m.number === D.here ? 'herechip' : null,
      mediumLabel(m) + ' (' + m.name + '): ' + grouped(perMedium[k]) + (m.number === D.here ? ', this disc' : ''));
    c.setAttribute('data-medium', m.name);
  });
  if (media.length > CHIPS) add(chips, 'li', null, 'and ' + grouped(media.length - CHIPS) + ' more media');
  var ul = add(box, 'ul', 'hits'), shownCount = 0, more = null;
  function page() {
    for (var end = Math.min(hits.length, shownCount + HITS); shownCount < end; ++shownCount) {
      var i = hits[shownCount], e = D.entries[i], m = D.media[e[0]], li = add(ul, 'li', 'hit');
      li.setAttribute('data-medium', m.name);
      add(li, 'span', 'm', m.name + (m.number === D.here ? ' (this disc)' : ''));
      add(li, 'span', 'p', shown(pathOf(i)));
      add(li, 'span', 'd', bytes(e[3]) + (e[4] ? ', ' + kindText(e[4]) : '') + ' \u00b7 on the medium: ' + shown(insideOf(i)));
    }
    if (more) more.hidden = shownCount >= hits.length;
  }
  page();
  if (hits.length > HITS) {
    more = add(box, 'button', null, 'Show more matches');
    more.addEventListener('click', page);
  }
}

function queryFromHash() {
  var m = /(?:^#|&)q=([^&]*)/.exec(location.hash);
  if (!m) return '';
  try { return decodeURIComponent(m[1].replace(/\+/g, ' ')); } catch (err) { return ''; }
}

function setupSearch() {
  var q = document.getElementById('q'), timer = 0;
  q.addEventListener('input', function () {
    clearTimeout(timer);
    timer = setTimeout(function () {
      search(q.value);
      try { history.replaceState(null, '', q.value ? '#q=' + encodeURIComponent(q.value) : location.pathname); } catch (err) {}
    }, 150);
  });
  window.addEventListener('hashchange', function () { var t = queryFromHash(); if (t !== q.value) { q.value = t; search(t); } });
  var first = queryFromHash();
  if (first) { q.value = first; search(first); }
}

renderHeader();
renderTotals();
var box = document.getElementById('media');
D.media.forEach(function (m, i) { renderMedium(box, m, i); });
renderLeftOut();
renderPlan();
setupSearch();
var ms = performance.now();
document.documentElement.setAttribute('data-render-ms', ms.toFixed(1));
document.getElementById('footer').textContent = 'Made by qvsplit report on ' + D.generated + ' \u00b7 ' +
  grouped(D.entries.length) + ' entries \u00b7 shown in ' + Math.round(ms) + ' ms';
})();
</script>
</body>
</html>
)QVPAGE";

}  // namespace

bool QvCliWriteHtmlPage(std::ostream& out, const std::function<bool(std::ostream&)>& json) {
    out << kHead;
    if (!json(out)) return false;
    out << kScript << kScriptEnd;
    return true;
}
