// The report page: hand-written HTML, style and script around the set's data. The script
// reads the data from its JSON block (or its gzip-compressed copy) and builds every element
// with textContent, so a name is always text; only what is on screen becomes elements.
#include "report/QvCliHtmlReport.h"

#include <initializer_list>

namespace {

// The page comes in pieces: some compilers limit the length of one string literal.
const char* const kStyle = R"QVPAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="generator" content="qvsplit report">
<meta name="color-scheme" content="light dark">
<title>Media report</title>
<style>
:root { --ink: #1d232b; --muted: #5d6875; --line: #d5dbe2; --bg: #f5f7f9; --card: #fff;
        --files: #2f6fb3; --image: #8fb6e0; --over: #c62828; --warn-bg: #fff4e5; --warn: #9a4f00;
        --here: #2e7d32; --track: #e6eaef; --chip: #e3edf8; --chip-on: #2f6fb3; --herechip: #d7eed8;
        --mark: #ffe08a; --field: #fff; --button: #eef2f6; --edge: #9aa6b2; }
@media (prefers-color-scheme: dark) {
  :root { --ink: #e2e7ed; --muted: #9eabb8; --line: #36404a; --bg: #14181d; --card: #1d232a;
          --files: #6fa8e6; --image: #3b5c80; --over: #ef6b6b; --warn-bg: #33260f; --warn: #f2b766;
          --here: #6cc070; --track: #2b333c; --chip: #243446; --chip-on: #4f8fd6; --herechip: #22402a;
          --mark: #7a6514; --field: #252c34; --button: #2a323b; --edge: #56626e; }
}
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
input, select { font: inherit; color: var(--ink); background: var(--field); border: 1px solid var(--edge);
                border-radius: 6px; padding: 4px 8px; }
input[type=search] { width: 100%; padding: 9px 11px; }
button { font: inherit; color: var(--ink); padding: 4px 11px; border: 1px solid var(--edge); border-radius: 5px;
         background: var(--button); cursor: pointer; }
button:disabled { opacity: .45; cursor: default; }
.totals { display: flex; flex-wrap: wrap; gap: 6px 22px; margin: 0 0 12px; }
.totals b { font-variant-numeric: tabular-nums; }
.mhead { display: flex; flex-wrap: wrap; align-items: baseline; gap: 4px 12px; }
.mhead h2 { margin: 0; }
.mname { font-weight: 600; }
.mfile, .note { color: var(--muted); font-size: .92em; }
.fill { font-weight: 600; font-variant-numeric: tabular-nums; }
.over .fill, .overtext { color: var(--over); }
.heretag { color: #fff; background: var(--here); border-radius: 4px; padding: 0 6px; font-size: .85em; }
.mini { display: inline-block; position: relative; width: 90px; height: 10px; background: var(--track);
        border-radius: 3px; overflow: hidden; vertical-align: middle; margin-right: 6px; }
.mini i { position: absolute; left: 0; top: 0; bottom: 0; }
.mini .img { background: var(--image); }
.mini .fil { background: var(--files); }
.mini .cap { background: var(--over); left: auto; right: 0; }
.over .mini .img { background: #ef9a9a; }
.figs { color: var(--muted); font-size: .92em; font-variant-numeric: tabular-nums; margin: 4px 0; }
.legend { display: flex; flex-wrap: wrap; gap: 4px 16px; color: var(--muted); font-size: .9em; margin: 0 0 6px; }
.sw { display: inline-block; width: 11px; height: 11px; border-radius: 2px; margin-right: 5px;
      vertical-align: -1px; }
details > summary { cursor: pointer; color: var(--files); margin-top: 4px; }
.tops { display: grid; grid-template-columns: 1fr 1fr; gap: 0 24px; }
#media, #spread, #medium-view { overflow-x: auto; }
@media (max-width: 700px) { .tops { grid-template-columns: 1fr; } .lf { display: none; } .mini { width: 48px; } }
.top { display: grid; grid-template-columns: minmax(0, 1fr) auto; gap: 0 8px; font-size: .92em;
       padding: 2px 0; }
.top .p { overflow-wrap: anywhere; }
.top .n { font-variant-numeric: tabular-nums; color: var(--muted); text-align: right; }
.top .b { grid-column: 1 / 3; height: 5px; background: var(--track); border-radius: 3px; }
.top .b i { display: block; height: 100%; background: var(--files); border-radius: 3px; }
table { width: 100%; border-collapse: collapse; font-size: .92em; }
th, td { text-align: left; padding: 4px 6px; border-bottom: 1px solid var(--line); vertical-align: top; }
td.p { overflow-wrap: anywhere; word-break: break-word; }
td.n, th.n { text-align: right; white-space: nowrap; font-variant-numeric: tabular-nums; }
.mtable td { vertical-align: middle; }
.mtable tr.here td:first-child { box-shadow: inset 3px 0 var(--here); }
.lf { color: var(--muted); font-size: .92em; }
.lf span { display: inline-block; margin-right: 12px; }
.pager, .tools { display: flex; flex-wrap: wrap; align-items: center; gap: 8px; margin: 8px 0; }
.pager input { width: 5.5em; }
.tools input[type=search] { flex: 1 1 18em; width: auto; padding: 5px 9px; }
.hits { list-style: none; padding: 0 4px 0 0; margin: 8px 0 0; max-height: 60vh; overflow-y: auto; }
.hits li { padding: 6px 0; border-bottom: 1px solid var(--line); overflow-wrap: anywhere; }
.hits .m { font-weight: 600; margin-right: 8px; }
.hits .d { display: block; color: var(--muted); font-size: .9em; }
mark { background: var(--mark); color: inherit; border-radius: 2px; }
.chips { display: flex; flex-wrap: wrap; gap: 6px; margin: 8px 0 0; padding: 0; list-style: none; }
.chips li { background: var(--chip); border-radius: 12px; padding: 2px 10px; }
.chips li[role=button] { cursor: pointer; }
.chips li.herechip { background: var(--herechip); }
.chips li.on { background: var(--chip-on); color: #fff; }
.filters { display: flex; flex-wrap: wrap; gap: 6px 14px; margin: 6px 0; }
.filters input { width: 9em; }
.tree ul { list-style: none; margin: 0; padding-left: 20px; }
.tree > ul { padding-left: 0; }
.tree li { padding: 1px 0; overflow-wrap: anywhere; }
.tree .tw { border: 0; background: none; padding: 0 4px; width: 1.6em; }
.tree .file { padding-left: 1.6em; }
.tree .found > .p, .tree .file.found > .p { background: var(--mark); border-radius: 2px; }
.hits .go { font-size: .85em; padding: 1px 8px; margin-top: 3px; }
.tree .n { color: var(--muted); font-size: .9em; margin-left: 8px; font-variant-numeric: tabular-nums; }
.raw { color: var(--over); font-family: ui-monospace, monospace; font-size: .92em; }
dl { display: grid; grid-template-columns: max-content minmax(0, 1fr); gap: 4px 14px; margin: 0; }
dt { color: var(--muted); }
dd { margin: 0; overflow-wrap: anywhere; }
.arg { display: inline-block; max-width: 100%; overflow-wrap: anywhere; margin-right: .5em; }
code { font-family: ui-monospace, SFMono-Regular, Menlo, Consolas, monospace; font-size: .92em; }
footer { color: var(--muted); font-size: .85em; padding-bottom: 24px; }
#sleeves { display: none; }
@media print {
  :root { --ink: #000; --muted: #444; --line: #999; --track: #ddd; --files: #000; }
  body { background: #fff; color: #000; font-size: 11pt; }
  header, footer, main > section, noscript { display: none !important; }
  main { max-width: none; padding: 0; }
  main > #sleeves { display: block !important; background: none; border: 0; padding: 0; margin: 0; }
  .sleeve { break-after: page; page-break-after: always; padding: 6mm 0; }
  .sleeve h2 { font-size: 20pt; margin: 2mm 0; }
  .sleeve .set { font-size: 13pt; font-weight: 600; margin: 0; }
  .sleeve .top { font-size: 10pt; }
}
</style>
</head>
)QVPAGE";

const char* const kBody = R"QVPAGE(<body>
<header>
<h1 id="title">Media report</h1>
<p class="sub" id="subtitle"></p>
</header>
<main>
<noscript><section class="alert"><h2>This report needs JavaScript</h2>
<p>Its data is in this file; allow scripts for local files to see it.</p></section></noscript>
<section id="loading" hidden><p>Loading the set&apos;s data &hellip;</p></section>
<section id="here" class="herebox" hidden></section>
<section id="search"><h2><label for="q">Which medium holds a file?</label></h2>
<input id="q" type="search" placeholder="Words of a path, or a pattern: bash copyright, *.m4, man1/ls* (press / to come here)" autocomplete="off" spellcheck="false">
<p class="note" id="search-help">Several words find the paths that hold all of them, in any order, ignoring case.
<code>*</code> stands for any run of characters and <code>?</code> for one: a pattern without <code>/</code> matches
a whole name (<code>*.m4</code>), one with <code>/</code> the end of the path (<code>man1/ls*</code>; from its
start when it begins with <code>/</code>).</p>
<details id="filters"><summary>Type, size and date</summary>
<div class="filters">
<label>Types <input id="f-type" placeholder="jpg, png" autocomplete="off"></label>
<label>Size from <input id="f-min" placeholder="e.g. 10 MB" autocomplete="off"></label>
<label>to <input id="f-max" placeholder="e.g. 2 GB" autocomplete="off"></label>
<label>Written from <input id="f-from" type="date"></label>
<label>to <input id="f-to" type="date"></label>
</div><p class="note">With these alone, the search lists every file within them.</p></details>
<div id="results" aria-live="polite"></div></section>
<section id="leftout" class="alert" hidden></section>
<section id="overview"><h2>Media</h2><div class="totals" id="totals"></div>
<div class="legend"><span><i class="sw" style="background:var(--files)"></i>file bytes</span>
<span><i class="sw" style="background:var(--image)"></i>image (file-system structures, whole blocks)</span>
<span><i class="sw" style="background:var(--over)"></i>beyond the capacity</span></div>
<div id="media"></div></section>
<section id="medium-view" hidden></section>
<section id="folders"><h2><label for="fq">Which media hold a folder?</label></h2>
<input id="fq" type="search" placeholder="Part of a folder's path, e.g. photos/2023" autocomplete="off" spellcheck="false">
<div id="spread" aria-live="polite"></div></section>
<section id="plan"><h2>How the plan was made</h2><dl id="planinfo"></dl></section>
<section id="sleeves" aria-hidden="true"></section>
</main>
<footer id="footer"></footer>
<script type="application/json" id="qvsplit-data">)QVPAGE";

const char* const kBasics = R"QVPAGE(</script>
<script>
(function () {
'use strict';
var PAGE = 100, HITS = 100, CHIPS = 60, TREE = 200;
var D = null, E = null, M = [];
var LF = null, LN = null;  // folders and names in lower case, made at the first search

function el(tag, cls, text) {
  var e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined && text !== null) e.textContent = text;
  return e;
}
function add(parent, tag, cls, text) { var e = el(tag, cls, text); parent.appendChild(e); return e; }
function byId(id) { return document.getElementById(id); }
// Bytes of a name that are not UTF-8 (carried as U+F080..U+F0FF) and control characters (as
// themselves or as U+F000..U+F01F) are shown as \xNN; C1 controls, the marks, embeddings and
// isolates that reorder or hide text, and the line and paragraph separators as \uNNNN, as the
// program shows them on a terminal: no name can read as another.
var TRICKY = /[\u0000-\u001f\u007f-\u009f\uf000-\uf01f\uf07f-\uf0ff\u061c\u200e\u200f\u2028\u2029\u202a-\u202e\u2066-\u2069]/g;
function shown(s) {
  return String(s).replace(TRICKY, function (c) {
    var n = c.charCodeAt(0);
    if (n >= 0x80 && n < 0xf000) return '\\u' + ('000' + n.toString(16).toUpperCase()).slice(-4);
    n &= 0xff;
    return '\\x' + (n < 16 ? '0' : '') + n.toString(16).toUpperCase();
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
// A write time is its 14 digits of local time, YYYYMMDDhhmmss; 0 or none when unknown.
function dateText(w, seconds) {
  var s = String(w || '');
  if (s.length !== 14) return '';
  return s.slice(0, 4) + '-' + s.slice(4, 6) + '-' + s.slice(6, 8) + ' ' + s.slice(8, 10) + ':' + s.slice(10, 12) +
    (seconds ? ':' + s.slice(12) : '');
}
function pathOf(i) { var e = E[i]; return D.folders[e[1]] + D.sep + e[2] + (e[4] === 1 ? D.sep : ''); }
function insideOf(i) { var e = E[i], t = D.targets[e[5]]; return '/' + (t ? t + '/' : '') + e[2]; }
function kindText(k) { return k === 1 ? 'folder, kept whole' : k === 2 ? 'link' : ''; }
function used(m) { return m.image || m.size; }
function mediumLabel(m) { return 'Medium ' + m.number; }
function hereMedium() { return D.here ? D.media.filter(function (m) { return m.number === D.here; })[0] : null; }
// What the set is called: its label, or on a disc (whose plan folder was on another host) the
// last name of that folder.
function setName() {
  if (D.label) return D.label;
  if (!D.here) return D.folder;
  var f = String(D.folder).replace(/[\\\/]+$/, '');
  return f.slice(Math.max(f.lastIndexOf('/'), f.lastIndexOf('\\')) + 1) || f;
}
function later(fn, ms) {
  var timer = 0;
  return function () { clearTimeout(timer); timer = setTimeout(fn, ms); };
}
function lowered() {
  if (LF) return;
  LF = D.folders.map(function (f) { return f.toLowerCase(); });
  LN = new Array(E.length);
  for (var i = 0; i < E.length; ++i) LN[i] = E[i][2].toLowerCase();
}
function lowerPath(i) { return LF[E[i][1]] + D.sep + LN[i]; }
function nameOrder(a, b) { return LN[a] < LN[b] ? -1 : LN[a] > LN[b] ? 1 : a - b; }

// One pass over the entries: where each medium's run of entries lies, the bytes and files of
// each folder on it, and its five largest files. The rest is made when it is looked at.
function prepare() {
  D.media.forEach(function (m, k) { M[k] = { start: -1, end: -1, split: false, fold: new Map(), big: [], list: null, top: null }; });
  var last = -1, lastFolder = -1, st = null, acc = null;
  for (var i = 0; i < E.length; ++i) {
    var e = E[i];
    if (e[0] !== last) {
      last = e[0];
      st = M[last];
      lastFolder = -1;
      if (st.start >= 0) st.split = true; else st.start = i;
    }
    st.end = i + 1;
    if (e[1] !== lastFolder) {
      lastFolder = e[1];
      acc = st.fold.get(lastFolder);
      if (!acc) st.fold.set(lastFolder, acc = [0, 0]);
    }
    acc[0] += e[3];
    ++acc[1];
    var big = st.big;
    if (big.length < 5 || e[3] > E[big[4]][3]) {
      var at = big.length;
      while (at > 0 && E[big[at - 1]][3] < e[3]) --at;
      big.splice(at, 0, i);
      if (big.length > 5) big.pop();
    }
  }
}
function entriesOf(k) {
  var st = M[k];
  if (st.list) return st.list;
  var list = [];
  if (!st.split) for (var i = Math.max(st.start, 0); i < st.end; ++i) list.push(i);
  else for (var j = 0; j < E.length; ++j) if (E[j][0] === k) list.push(j);
  return (st.list = list);
}
// The folders of medium k by the bytes of their own files on it, largest first.
function topFolders(k) {
  var st = M[k];
  if (!st.top) {
    st.top = [];
    st.fold.forEach(function (a, f) { st.top.push([f, a[0], a[1]]); });
    st.top.sort(function (a, b) { return b[1] - a[1] || a[0] - b[0]; });
  }
  return st.top;
}
function folderText(f) { return D.folders[f] + D.sep; }
function shortFolder(f) {
  var parts = D.folders[f].split(D.sep).filter(Boolean);
  return (parts.length > 2 ? '\u2026' : '') + D.sep + parts.slice(-2).join(D.sep);
}

function download(name, text) {
  var url = URL.createObjectURL(new Blob(['\ufeff' + text], { type: 'text/csv;charset=utf-8' }));
  var a = add(document.body, 'a');
  a.href = url;
  a.download = name;
  a.click();
  a.remove();
  setTimeout(function () { URL.revokeObjectURL(url); }, 5000);
}
// A field of a CSV line, quoted; text a spreadsheet would take for a formula is defused.
function csvField(v) {
  if (typeof v === 'number') return String(v);
  var s = String(v);
  if (/^[=+\-@\t\r]/.test(s)) s = "'" + s;
  return '"' + s.replace(/"/g, '""') + '"';
}
function csvOf(list) {
  var lines = [['medium', 'medium file', 'path', 'name', 'bytes', 'written', 'kind', 'on the medium'].map(csvField).join(',')];
  list.forEach(function (i) {
    var e = E[i], m = D.media[e[0]];
    lines.push([m.number, m.name, shown(pathOf(i)), shown(e[2]), e[3], dateText(e[6], true), kindText(e[4]) || 'file',
      shown(insideOf(i))].map(csvField).join(','));
  });
  return lines.join('\r\n') + '\r\n';
}
)QVPAGE";

const char* const kOverview = R"QVPAGE(
function renderHeader() {
  var h = hereMedium(), name = shown(setName());
  byId('title').textContent = h ? 'Catalogue of ' + (D.label ? shown(D.label) : 'the set') + ', on ' + mediumLabel(h) :
    'Media report' + (D.label ? ': ' + shown(D.label) : '');
  document.title = (h ? mediumLabel(h) + ' - ' : '') + 'Media report - ' + name;
  byId('subtitle').textContent = count(D.media.length, 'medium', 'media') +
    (h ? ' of the set ' + name : ' planned in ' + shown(D.folder) + (D.label ? ', the set ' + shown(D.label) : '')) +
    (D.plan && D.plan.date ? ' on ' + D.plan.date : '');
  if (!h) return;
  var s = byId('here');
  s.hidden = false;
  add(s, 'h2', null, 'This disc is ' + mediumLabel(h) + ' of ' + D.media.length + ' (' + h.name + ')');
  add(s, 'p', null, 'Search below to find which disc holds any file of the set; files on this disc are marked. ' +
    'Fill and free space are the plan\'s figures, as predicted when the set was planned.');
}

function renderTotals() {
  var t = byId('totals');
  var cap = D.splitSizeMb * 1048576;
  function fig(label, value) { var s = add(t, 'span', null, label + ' '); add(s, 'b', null, value); }
  fig('Total', bytes(D.total) + ' (' + grouped(D.total) + ' bytes)');
  fig('Media', String(D.media.length));
  fig('Lower bound', String(D.lowerBound));
  fig('Capacity', bytes(cap) + ' each');
  var over = D.media.filter(function (m) { return used(m) > m.capacity && m.capacity; }).length;
  if (over) { var o = add(t, 'span', 'overtext', ''); add(o, 'b', null, over + ' OVER CAPACITY'); }
  var d = D.media.length - D.lowerBound;
  add(byId('overview'), 'p', 'note',
    'Lower bound: the fewest media the set could take, its ' + (D.media.some(function (m) { return m.image; }) ?
    'predicted images' : 'bytes') + ' divided by the capacity and rounded up; this plan uses ' +
    (d === 0 ? 'exactly that many.' : d + ' more.'));
}

function miniBar(parent, m) {
  var over = m.capacity && used(m) > m.capacity, scale = Math.max(m.capacity, used(m)) || 1;
  var bar = add(parent, 'span', 'mini');
  bar.title = grouped(used(m)) + ' of ' + grouped(m.capacity) + ' bytes';
  if (m.image) add(bar, 'i', 'img').style.width = pct(m.image, scale) + '%';
  add(bar, 'i', 'fil').style.width = pct(m.size, scale) + '%';
  // What lies beyond the capacity, in red at the end.
  if (over) add(bar, 'i', 'cap').style.width = pct(used(m) - m.capacity, scale) + '%';
}

// One row per medium, so that forty discs fit one screen.
function renderOverview() {
  var planned = D.here ? 'Planned ' : '';
  var t = add(byId('media'), 'table', 'mtable'), hr = add(add(t, 'thead'), 'tr');
  [['Medium'], [planned ? 'Planned fill' : 'Fill'], ['Files', 'n'], [planned + (planned ? 'bytes' : 'Bytes'), 'n'],
    [planned ? 'Planned free' : 'Free', 'n'], ['Largest folders', 'lf'], ['']].forEach(function (h) { add(hr, 'th', h[1], h[0]); });
  var body = add(t, 'tbody');
  D.media.forEach(function (m, k) {
    var over = m.capacity && used(m) > m.capacity;
    var tr = add(body, 'tr', (over ? 'over' : '') + (m.number === D.here ? ' here' : ''));
    tr.setAttribute('data-medium', m.name);
    var c = add(tr, 'td');
    add(c, 'span', 'mname', mediumLabel(m));
    add(c, 'span', 'mfile', ' ' + m.name);
    if (m.number === D.here) { c.appendChild(document.createTextNode(' ')); add(c, 'span', 'heretag', 'this disc'); }
    var f = add(tr, 'td');
    miniBar(f, m);
    add(f, 'span', 'fill', pct(used(m), m.capacity).toFixed(1) + '%');
    if (over) add(f, 'span', 'overtext', ' OVER CAPACITY');
    add(tr, 'td', 'n', grouped(m.files));
    add(tr, 'td', 'n', bytes(m.size) + (m.image ? ' (image ' + bytes(m.image) + ')' : '')).title = grouped(m.size) + ' bytes';
    add(tr, 'td', 'n', m.capacity >= used(m) ? bytes(m.capacity - used(m)) : '\u2212' + bytes(used(m) - m.capacity));
    var lf = add(tr, 'td', 'lf');
    topFolders(k).slice(0, 2).forEach(function (r) {
      add(lf, 'span', null, shown(shortFolder(r[0])) + ' ' + bytes(r[1])).title = shown(folderText(r[0]));
    });
    var open = add(add(tr, 'td'), 'button', 'open', 'Open');
    open.addEventListener('click', function () { openMedium(k); });
  });
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
function largestFolders(k, n) { return topFolders(k).slice(0, n).map(function (r) { return [folderText(r[0]), r[1]]; }); }
function largestFiles(k, n) { return M[k].big.slice(0, n).map(function (i) { return [pathOf(i), E[i][3]]; }); }

// What one medium holds: its largest folders and files, its folder tree and all its rows.
function openMedium(k) {
  var s = byId('medium-view'), m = D.media[k];
  s.textContent = '';
  s.hidden = false;
  s.setAttribute('data-medium', m.name);
  var head = add(s, 'div', 'mhead');
  add(head, 'h2', null, mediumLabel(m) + ' (' + m.name + ')');
  if (m.number === D.here) add(head, 'span', 'heretag', 'this disc');
  var close = add(head, 'button', null, 'Close');
  close.addEventListener('click', function () { s.hidden = true; s.textContent = ''; });
  add(s, 'div', 'figs', (D.here ? 'planned: ' : '') + 'files ' + bytes(m.size) + (m.image ? ' \u00b7 image ' + bytes(m.image) : '') +
    ' \u00b7 capacity ' + bytes(m.capacity) + ' \u00b7 ' + count(m.files, 'file') + ' in ' + count(m.entries, 'entry', 'entries') +
    (m.capacity >= used(m) ? ' \u00b7 ' + bytes(m.capacity - used(m)) + ' free' : ''));
  var tops = add(s, 'div', 'tops');
  topBars(add(tops, 'div'), 'Largest folders (bytes of their files on this medium)', largestFolders(k, 10));
  topBars(add(tops, 'div'), 'Largest files', largestFiles(k, 5));
  add(s, 'h3', null, 'Folders');
  renderTree(add(s, 'div', 'tree'), k);
  add(s, 'h3', null, 'Everything on it (' + count(entriesOf(k).length, 'entry', 'entries') + ')');
  renderRows(s, k);
  s.scrollIntoView();
}
)QVPAGE";

const char* const kBrowse = R"QVPAGE(
// The folders of medium k as a tree: each folder with the files and bytes on the medium below
// it. It starts where the medium's folders part.
function buildTree(k) {
  var root = { name: '', path: '', files: 0, bytes: 0, kids: new Map(), fi: -1 };
  M[k].fold.forEach(function (a, f) {
    var parts = D.folders[f].split(D.sep), node = root;
    root.files += a[1];
    root.bytes += a[0];
    for (var j = 0; j < parts.length; ++j) {
      if (j === 0 && parts[j] === '') continue;
      var kid = node.kids.get(parts[j]);
      if (!kid) {
        kid = { name: parts[j], path: j === 0 ? parts[j] : node.path + D.sep + parts[j], files: 0, bytes: 0, kids: new Map(), fi: -1 };
        node.kids.set(parts[j], kid);
      }
      kid.files += a[1];
      kid.bytes += a[0];
      node = kid;
    }
    node.fi = f;
  });
  var own = new Map();
  entriesOf(k).forEach(function (i) {
    var l = own.get(E[i][1]);
    if (!l) own.set(E[i][1], l = []);
    l.push(i);
  });
  var top = root;
  while (top.kids.size === 1 && !own.has(top.fi)) top = top.kids.values().next().value;
  return { top: top, own: own };
}

// Opens the medium of entry i at its folder in the tree.
function showFolderOf(i) {
  var path = D.folders[E[i][1]], box = byId('medium-view');
  openMedium(E[i][0]);
  for (var guard = 0; guard < 1000; ++guard) {
    var next = Array.prototype.filter.call(box.querySelectorAll('li.dir'), function (li) {
      var p = li.getAttribute('data-path');
      return li.querySelector('.tw').getAttribute('aria-expanded') !== 'true' && (p === path || path.lastIndexOf(p + D.sep, 0) === 0);
    })[0];
    if (!next) break;
    next.querySelector('.tw').click();
  }
  var at = Array.prototype.filter.call(box.querySelectorAll('li.dir'), function (li) { return li.getAttribute('data-path') === path; })[0];
  var file = box.querySelector('li.file[data-entry="' + i + '"]'), more;
  // A file past the first items of its folder is shown too.
  while (at && !file && (more = at.querySelector(':scope > ul > li.more button'))) {
    more.click();
    file = box.querySelector('li.file[data-entry="' + i + '"]');
  }
  if (file) file.classList.add('found');
  if (file || at) (file || at).scrollIntoView({ block: 'center' });
  if (at) at.classList.add('found');
}

function renderTree(box, k) {
  var tree = buildTree(k), top = tree.top;
  // The top folder is named by its whole path.
  treeNode(add(box, 'ul'), { path: top.path, files: top.files, bytes: top.bytes, kids: top.kids, fi: top.fi }, tree).click();
}

// A folder of the tree; what is in it becomes elements when it is first opened.
function treeNode(ul, node, tree) {
  var li = add(ul, 'li', 'dir'), tw = add(li, 'button', 'tw', '\u25b8');
  li.setAttribute('data-path', node.path);
  tw.setAttribute('aria-expanded', 'false');
  tw.title = shown(node.path || D.sep);
  add(li, 'span', 'p', shown(node.name === undefined ? node.path || D.sep : node.name));
  add(li, 'span', 'n', count(node.files, 'file') + ', ' + bytes(node.bytes));
  var sub = null;
  tw.addEventListener('click', function () {
    var open = tw.getAttribute('aria-expanded') !== 'true';
    tw.setAttribute('aria-expanded', String(open));
    tw.textContent = open ? '\u25be' : '\u25b8';
    if (open && !sub) { sub = add(li, 'ul'); fillFolder(sub, node, tree); }
    if (sub) sub.hidden = !open;
  });
  return tw;
}

function fillFolder(ul, node, tree) {
  var kids = Array.from(node.kids.values()).sort(function (a, b) { return a.name < b.name ? -1 : a.name > b.name ? 1 : 0; });
  var files = (tree.own.get(node.fi) || []).slice();
  lowered();
  files.sort(nameOrder);
  var items = kids.concat(files), done = 0, more = null;
  function fill() {
    if (more) more.remove();
    for (var end = Math.min(items.length, done + TREE); done < end; ++done) {
      var it = items[done];
      if (typeof it === 'number') fileLeaf(ul, it); else treeNode(ul, it, tree);
    }
    if (done < items.length) {
      var li = add(ul, 'li', 'more');
      more = li;
      add(li, 'button', null, 'Show ' + grouped(Math.min(TREE, items.length - done)) + ' more (' +
        grouped(items.length - done) + ' not shown)').addEventListener('click', fill);
    }
  }
  fill();
}

function fileLeaf(ul, i) {
  var e = E[i], li = add(ul, 'li', 'file');
  li.setAttribute('data-entry', String(i));
  add(li, 'span', 'p', shown(e[2]) + (e[4] === 1 ? D.sep : ''));
  add(li, 'span', 'n', bytes(e[3]) + (e[6] ? ' \u00b7 ' + dateText(e[6]) : '') + (e[4] ? ' \u00b7 ' + kindText(e[4]) : ''));
}

function sortedBy(list, key) {
  var out = list.slice();
  if (key === 'size') out.sort(function (a, b) { return E[b][3] - E[a][3] || a - b; });
  else if (key === 'date') out.sort(function (a, b) { return (E[b][6] || 0) - (E[a][6] || 0) || a - b; });
  else if (key === 'name') { lowered(); out.sort(nameOrder); }
  else if (key === 'path') { lowered(); out.sort(function (a, b) { var x = lowerPath(a), y = lowerPath(b); return x < y ? -1 : x > y ? 1 : a - b; }); }
  return out;
}

// Every row of medium k, a page at a time, filtered by the words or pattern typed above them
// and sorted as chosen.
function renderRows(parent, k) {
  var list = entriesOf(k), view = list;
  var tools = add(parent, 'div', 'tools');
  var filter = add(tools, 'input', 'filter');
  filter.type = 'search';
  filter.placeholder = 'Filter this medium: words, or a pattern like *.jpg';
  filter.setAttribute('aria-label', 'Filter the rows of this medium');
  var sort = add(tools, 'select', 'sort');
  sort.setAttribute('aria-label', 'Order of the rows');
  [['plan', 'As planned'], ['path', 'By path'], ['name', 'By name'], ['size', 'By size, largest first'],
    ['date', 'By date, newest first']].forEach(function (o) { add(sort, 'option', null, o[1]).value = o[0]; });
  var exp = add(tools, 'button', 'export', 'Export CSV');
  var table = pagedTable(parent, ['Path', 'Bytes', 'Written', 'On the medium'], function (r) {
    var i = view[r], e = E[i];
    return [shown(pathOf(i)) + (e[4] ? ' (' + kindText(e[4]) + ')' : ''), grouped(e[3]), dateText(e[6]), shown(insideOf(i))];
  });
  function update() {
    var q = compile(filter.value);
    view = q ? list.filter(q.test) : list;
    if (sort.value !== 'plan') view = sortedBy(view, sort.value);
    table.show(view.length);
  }
  filter.addEventListener('input', later(update, 150));
  sort.addEventListener('change', update);
  exp.addEventListener('click', function () { download(D.media[k].name.replace(/\.xml$/i, '') + '.csv', csvOf(view)); });
  table.show(list.length);
}

// A table that holds one page of rows at a time; row(k) gives the cells of row k. Any page can
// be reached by its number.
function pagedTable(parent, heads, row) {
  var pager = add(parent, 'div', 'pager');
  var first = add(pager, 'button', 'first', '\u00ab First'), prev = add(pager, 'button', 'prev', '\u2190 Previous');
  var label = add(pager, 'label', 'note', 'Page '), number = add(label, 'input', 'pageno'), of = add(label, 'span');
  number.type = 'number';
  number.min = '1';
  var next = add(pager, 'button', 'next', 'Next \u2192'), last = add(pager, 'button', 'last', 'Last \u00bb');
  var info = add(pager, 'span', 'note');
  var table = add(parent, 'table', 'rows'), tr = add(add(table, 'thead'), 'tr');
  heads.forEach(function (h, c) { add(tr, 'th', c === 1 ? 'n' : null, h); });
  var body = add(table, 'tbody'), page = 0, rows = 0;
  function pages() { return Math.max(1, Math.ceil(rows / PAGE)); }
  function draw() {
    body.textContent = '';
    var from = page * PAGE, to = Math.min(rows, from + PAGE);
    for (var k = from; k < to; ++k) {
      var cells = row(k), r = add(body, 'tr');
      cells.forEach(function (c, j) { add(r, 'td', j === 1 ? 'n' : 'p', c); });
    }
    table.setAttribute('data-rows', String(rows));
    info.textContent = rows ? 'rows ' + grouped(from + 1) + '\u2013' + grouped(to) + ' of ' + grouped(rows) : 'no rows';
    number.value = String(page + 1);
    number.max = String(pages());
    of.textContent = ' of ' + grouped(pages());
    first.disabled = prev.disabled = page === 0;
    next.disabled = last.disabled = page >= pages() - 1;
    pager.hidden = rows <= PAGE;
  }
  function go(p) { page = Math.max(0, Math.min(pages() - 1, p)); draw(); }
  first.addEventListener('click', function () { go(0); });
  prev.addEventListener('click', function () { go(page - 1); });
  next.addEventListener('click', function () { go(page + 1); });
  last.addEventListener('click', function () { go(pages() - 1); });
  number.addEventListener('change', function () { var p = parseInt(number.value, 10); if (p > 0) go(p - 1); else draw(); });
  return { show: function (n) { rows = n; page = 0; draw(); } };
}

function renderLeftOut() {
  var lo = D.leftOut, dr = D.plan ? D.plan.dropped : [];
  if (!lo.length && !dr.length) return;
  var s = byId('leftout');
  s.hidden = false;
  if (lo.length) {
    var known = lo.filter(function (l) { return l.size !== null && l.size !== undefined; });
    var sum = known.reduce(function (a, l) { return a + l.size; }, 0);
    var size = !known.length ? 'size unknown' : known.length < lo.length ?
      bytes(sum) + ' known, ' + grouped(lo.length - known.length) + ' of unknown size' : bytes(sum);
    add(s, 'h2', null, 'Left out: ' + count(lo.length, 'entry', 'entries') + ' on no medium (' + size + ')');
    add(s, 'p', null, 'These were selected but are on none of the media. Each says why.');
    pagedTable(s, ['Path', 'Bytes', 'Reason'], function (k) {
      var l = lo[k];
      return [shown(l.path), l.size === null || l.size === undefined ? 'size unknown' : grouped(l.size), l.reason];
    }).show(lo.length);
  }
  if (dr.length) {
    add(s, 'h2', null, 'Rules that selected nothing: ' + dr.length);
    var ul = add(s, 'ul');
    dr.forEach(function (r) { add(ul, 'li', null, 'rule ' + r.rule + ' (' + shown(r.path) + '): ' + r.reason); });
  }
}
)QVPAGE";

const char* const kSearch = R"QVPAGE(
function quoted(a) { return /^[A-Za-z0-9_.,:\/=@%+-]+$/.test(a) ? a : "'" + a.replace(/'/g, "'\\''") + "'"; }

function renderPlan() {
  var dl = byId('planinfo');
  function row(k, v) { add(dl, 'dt', null, k); return add(dl, 'dd', null, v); }
  var p = D.plan;
  if (D.label) row('Set', shown(D.label));
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
  // A disc's page was made where the set was planned: that host's folder means nothing here.
  if (!D.here) row('Media folder', shown(D.folder));
  row('Total', grouped(D.total) + ' bytes on ' + count(D.media.length, 'medium', 'media') + '; lower bound ' + D.lowerBound);
  row('Left out', count(D.leftOut.length, 'entry', 'entries'));
  row('Report made', D.generated);
}

// A pattern's text as a regular expression: * any run of characters, ? one, / or \ a separator.
function globSource(p) {
  return p.replace(/[.+^${}()|[\]\\\/]/g, function (c) { return c === '/' || c === '\\' ? '[\\\\/]' : '\\' + c; })
    .replace(/\*/g, '.*').replace(/\?/g, '.');
}
// One word of a search. A word is found anywhere in the path, as this host names it or as the
// media files write it (drive letter, backslashes), as "qvsplit where" finds it; a pattern
// matches the whole name, or with a separator the end of the path (the whole path when it
// begins with one). Each term tests an entry (test), any lower-case path (text), and adds the
// stretches of a lower-case path it matches (mark).
function makeTerm(w) {
  if (/[*?]/.test(w)) {
    var inPath = /[\/\\]/.test(w);
    var re = new RegExp((inPath && !/^[\/\\]/.test(w) ? '(?:^|[\\\\/])(' : '^(') + globSource(w) + ')$');
    var nameAt = function (lp) { return inPath ? 0 : lp.lastIndexOf(D.sep) + 1; };
    return {
      test: inPath ? function (i) { return re.test(lowerPath(i)); } : function (i) { return re.test(LN[i]); },
      text: function (lp) { return re.test(lp.slice(nameAt(lp))); },
      mark: function (lp, out) {
        var at = nameAt(lp), m = re.exec(lp.slice(at));
        if (m) out.push([at + m.index + m[0].length - m[1].length, at + m.index + m[0].length]);
      }
    };
  }
  var windows = /[\\:]/.test(w), prefix = (D.drive + ':').toLowerCase(), inFolder = null;
  // A word without a separator lies in the folder or in the name: each folder is tested once.
  if (w.indexOf(D.sep) < 0 && !windows) {
    inFolder = new Uint8Array(LF.length);
    for (var f = 0; f < LF.length; ++f) inFolder[f] = LF[f].indexOf(w) >= 0 ? 1 : 0;
  }
  return {
    test: function (i) {
      if (inFolder) return inFolder[E[i][1]] === 1 || LN[i].indexOf(w) >= 0;
      var lp = lowerPath(i);
      if (lp.indexOf(w) >= 0) return true;
      return windows && (prefix + lp.replace(/\//g, '\\') + (E[i][4] === 1 ? '\\*.*' : '')).indexOf(w) >= 0;
    },
    text: function (lp) { return lp.indexOf(w) >= 0; },
    mark: function (lp, out) { for (var at = lp.indexOf(w); at >= 0; at = lp.indexOf(w, at + 1)) out.push([at, at + w.length]); }
  };
}
// The words of a search, all to be found; null for none.
function compile(text) {
  var words = String(text).toLowerCase().split(/\s+/).filter(Boolean);
  if (!words.length) return null;
  lowered();
  var terms = words.map(makeTerm), n = terms.length;
  return {
    terms: terms,
    test: function (i) {
      for (var t = 0; t < n; ++t) if (!terms[t].test(i)) return false;
      return true;
    },
    text: function (lp) { return terms.every(function (t) { return t.text(lp); }); }
  };
}
function sizeOf(text) {
  var m = /^\s*(\d+(?:\.\d*)?|\.\d+)\s*([kmgt]?)(?:i?b)?\s*$/i.exec(text);
  return m ? Math.round(parseFloat(m[1]) * Math.pow(1024, ' kmgt'.indexOf((m[2] || ' ').toLowerCase()))) : null;
}
function dayOf(text, time) {
  var m = /^\s*(\d{4})-(\d{2})-(\d{2})\s*$/.exec(text);
  return m ? Number(m[1] + m[2] + m[3] + time) : null;
}
// The type, size and date filters as a test of an entry; null when none is set.
function readFilters() {
  var types = byId('f-type').value.toLowerCase().split(/[\s,;]+/).map(function (t) { return t.replace(/^\*?\.*/, ''); }).filter(Boolean);
  var min = sizeOf(byId('f-min').value), max = sizeOf(byId('f-max').value);
  var from = dayOf(byId('f-from').value, '000000'), to = dayOf(byId('f-to').value, '235959');
  if (!types.length && min === null && max === null && from === null && to === null) return null;
  lowered();
  return function (i) {
    var e = E[i];
    // A type is the end of a name after a dot, "gz" as "tar.gz"; a name that is all type has none.
    if (types.length && (e[4] === 1 || !types.some(function (t) {
      var n = LN[i];
      return n.length > t.length + 1 && n.charCodeAt(n.length - t.length - 1) === 46 && n.slice(-t.length) === t;
    }))) return false;
    if ((min !== null && e[3] < min) || (max !== null && e[3] > max)) return false;
    if (from === null && to === null) return true;
    var w = e[6] || 0;
    return w !== 0 && (from === null || w >= from) && (to === null || w <= to);
  };
}

// The path of entry i with the stretches the search matched in <mark>.
function markedPath(parent, i, query) {
  var p = pathOf(i), lp = lowerPath(i), ranges = [];
  // A name whose lower case has another length cannot be marked by position.
  if (query && lp.length === p.length - (E[i][4] === 1 ? D.sep.length : 0)) query.terms.forEach(function (t) { t.mark(lp, ranges); });
  ranges.sort(function (a, b) { return a[0] - b[0]; });
  var at = 0;
  ranges.forEach(function (r) {
    if (r[1] <= at) return;
    var from = Math.max(at, r[0]);
    if (from > at) parent.appendChild(document.createTextNode(shown(p.slice(at, from))));
    add(parent, 'mark', null, shown(p.slice(from, r[1])));
    at = r[1];
  });
  if (at < p.length) parent.appendChild(document.createTextNode(shown(p.slice(at))));
}
)QVPAGE";

const char* const kResults = R"QVPAGE(
var found = null;  // the last search: its hits, their count per medium, the medium chosen

function search() {
  var text = byId('q').value, query = compile(text), filter = readFilters();
  byId('results').textContent = '';
  found = null;
  if (!query && !filter) return;
  var hits = [], per = new Array(D.media.length);
  for (var k = 0; k < per.length; ++k) per[k] = 0;
  for (var i = 0; i < E.length; ++i) {
    if ((query && !query.test(i)) || (filter && !filter(i))) continue;
    hits.push(i);
    ++per[E[i][0]];
  }
  found = { hits: hits, per: per, query: query, only: -1 };
  drawHits();
}

function drawHits() {
  var box = byId('results'), s = found;
  box.textContent = '';
  var media = [];
  s.per.forEach(function (n, k) { if (n) media.push(k); });
  var names = media.length > 8 ? count(media.length, 'medium', 'media') : media.map(function (k) { return D.media[k].name; }).join(', ');
  var summary = add(box, 'p', null, s.hits.length ? count(s.hits.length, 'match', 'matches') + ' on ' + names :
    'No medium holds a path that matches.');
  summary.id = 'result-summary';
  if (!s.hits.length) {
    var lo = s.query ? D.leftOut.filter(function (l) { return s.query.text(l.path.toLowerCase()); }) : [];
    if (lo.length) add(box, 'p', 'overtext', grouped(lo.length) + ' left-out ' + (lo.length === 1 ? 'entry matches' : 'entries match') + ': see "Left out" below.');
    return;
  }
  var chips = add(box, 'ul', 'chips');
  media.slice(0, CHIPS).forEach(function (k) {
    var m = D.media[k], c = add(chips, 'li', (m.number === D.here ? 'herechip' : '') + (s.only === k ? ' on' : ''),
      mediumLabel(m) + ' (' + m.name + '): ' + grouped(s.per[k]) + (m.number === D.here ? ', this disc' : ''));
    c.setAttribute('data-medium', m.name);
    c.setAttribute('role', 'button');
    c.setAttribute('aria-pressed', String(s.only === k));
    c.tabIndex = 0;
    c.title = s.only === k ? 'Show the matches on every medium' : 'Show only the matches on this medium';
    function pick() { s.only = s.only === k ? -1 : k; drawHits(); }
    c.addEventListener('click', pick);
    c.addEventListener('keydown', function (ev) { if (ev.key === 'Enter' || ev.key === ' ') { ev.preventDefault(); pick(); } });
  });
  if (media.length > CHIPS) add(chips, 'li', null, 'and ' + count(media.length - CHIPS, 'more medium', 'more media'));
  var list = s.only < 0 ? s.hits : s.hits.filter(function (i) { return E[i][0] === s.only; });
  var tools = add(box, 'div', 'tools');
  if (s.only >= 0) add(tools, 'span', 'note', 'Showing the ' + count(list.length, 'match', 'matches') + ' on ' +
    mediumLabel(D.media[s.only]) + '; click it again for all.');
  add(tools, 'button', 'export', 'Export CSV').addEventListener('click', function () { download('qvsplit-matches.csv', csvOf(list)); });
  var ul = add(box, 'ul', 'hits'), done = 0, more = null;
  function page() {
    for (var end = Math.min(list.length, done + HITS); done < end; ++done) {
      var i = list[done], e = E[i], m = D.media[e[0]], li = add(ul, 'li', 'hit');
      li.setAttribute('data-medium', m.name);
      add(li, 'span', 'm', m.name + (m.number === D.here ? ' (this disc)' : ''));
      markedPath(add(li, 'span', 'p'), i, s.query);
      add(li, 'span', 'd', bytes(e[3]) + (e[6] ? ' \u00b7 written ' + dateText(e[6]) : '') + (e[4] ? ', ' + kindText(e[4]) : '') +
        ' \u00b7 on the medium: ' + shown(insideOf(i)));
      add(li, 'button', 'go', 'Show its folder').addEventListener('click', showFolderOf.bind(null, i));
    }
    if (more) more.hidden = done >= list.length;
  }
  page();
  if (list.length > HITS) {
    more = add(box, 'button', 'more', 'Show more matches');
    more.addEventListener('click', page);
  }
}

function queryFromHash() {
  var m = /(?:^#|&)q=([^&]*)/.exec(location.hash);
  if (!m) return '';
  try { return decodeURIComponent(m[1].replace(/\+/g, ' ')); } catch (err) { return ''; }
}

function setupSearch() {
  var q = byId('q');
  var run = later(function () {
    search();
    try { history.replaceState(null, '', q.value ? '#q=' + encodeURIComponent(q.value) : location.pathname); } catch (err) {}
  }, 150);
  q.addEventListener('input', run);
  ['f-type', 'f-min', 'f-max', 'f-from', 'f-to'].forEach(function (id) {
    byId(id).addEventListener('input', run);
    byId(id).addEventListener('change', run);
  });
  window.addEventListener('hashchange', function () { var t = queryFromHash(); if (t !== q.value) { q.value = t; search(); } });
  var first = queryFromHash();
  if (first) { q.value = first; search(); }
  // "/" leads to the search box from anywhere but a field being typed in.
  document.addEventListener('keydown', function (ev) {
    var t = ev.target, tag = t && t.tagName;
    if (ev.key !== '/' || ev.ctrlKey || ev.metaKey || ev.altKey) return;
    if (tag === 'INPUT' || tag === 'TEXTAREA' || tag === 'SELECT' || (t && t.isContentEditable)) return;
    ev.preventDefault();
    q.focus();
    q.select();
  });
  q.focus();
}
)QVPAGE";

const char* const kFolders = R"QVPAGE(
// Which media hold the files of a folder and of the folders below it, and how many bytes each.
function showSpread(out, path) {
  out.textContent = '';
  var below = new Uint8Array(D.folders.length), pre = path + D.sep;
  for (var f = 0; f < below.length; ++f) below[f] = D.folders[f] === path || D.folders[f].lastIndexOf(pre, 0) === 0 ? 1 : 0;
  var rows = [], files = 0, total = 0;
  M.forEach(function (st, k) {
    var n = 0, b = 0;
    st.fold.forEach(function (a, f2) { if (below[f2]) { n += a[1]; b += a[0]; } });
    if (n) rows.push([k, n, b]);
    files += n;
    total += b;
  });
  var summary = add(out, 'p', 'spread-summary', shown(path || D.sep) + ': ' + count(files, 'file') + ', ' + bytes(total) +
    ' on ' + count(rows.length, 'medium', 'media'));
  summary.setAttribute('data-path', path);
  var t = add(out, 'table', 'spread'), hr = add(add(t, 'thead'), 'tr');
  [['Medium'], ['Files', 'n'], ['Bytes', 'n'], ['Share of the folder'], ['']].forEach(function (h) { add(hr, 'th', h[1], h[0]); });
  var body = add(t, 'tbody');
  rows.forEach(function (r) {
    var m = D.media[r[0]], tr = add(body, 'tr');
    tr.setAttribute('data-medium', m.name);
    tr.setAttribute('data-files', String(r[1]));
    tr.setAttribute('data-bytes', String(r[2]));
    add(tr, 'td', null, mediumLabel(m) + ' (' + m.name + ')' + (m.number === D.here ? ', this disc' : ''));
    add(tr, 'td', 'n', grouped(r[1]));
    add(tr, 'td', 'n', bytes(r[2]));
    var bar = add(add(tr, 'td'), 'span', 'mini');
    add(bar, 'i', 'fil').style.width = pct(r[2], total || 1) + '%';
    add(add(tr, 'td'), 'button', null, 'Open').addEventListener('click', function () { openMedium(r[0]); });
  });
}

function folderSearch() {
  var box = byId('spread'), t = byId('fq').value.trim().toLowerCase();
  box.textContent = '';
  if (!t) return;
  lowered();
  // Each folder whose path holds the text, cut after the name the text ends in.
  var seen = new Set();
  for (var f = 0; f < LF.length; ++f) {
    var at = LF[f].indexOf(t);
    if (at < 0) continue;
    var end = LF[f].indexOf(D.sep, at + Math.max(t.length, 1));
    seen.add(end < 0 ? D.folders[f] : D.folders[f].slice(0, end));
  }
  var paths = Array.from(seen).sort(function (a, b) { return a.length - b.length || (a < b ? -1 : a > b ? 1 : 0); });
  if (!paths.length) { add(box, 'p', null, 'No folder of the set has this in its path.'); return; }
  var ul = add(box, 'ul', 'chips'), out = el('div');
  paths.slice(0, 12).forEach(function (p) {
    var li = add(ul, 'li', 'folder', shown(p || D.sep));
    li.setAttribute('role', 'button');
    li.tabIndex = 0;
    li.addEventListener('click', function () { showSpread(out, p); });
    li.addEventListener('keydown', function (ev) { if (ev.key === 'Enter' || ev.key === ' ') { ev.preventDefault(); showSpread(out, p); } });
  });
  if (paths.length > 12) add(ul, 'li', null, 'and ' + count(paths.length - 12, 'more folder'));
  box.appendChild(out);
  showSpread(out, paths[0]);
}

// A sleeve per medium for the printer: the set, the medium, its date and what is on it. Made
// when the page is printed.
function renderSleeves() {
  var box = byId('sleeves');
  if (box.firstChild) return;
  var date = D.plan && D.plan.date ? D.plan.date : D.generated;
  D.media.forEach(function (m, k) {
    var s = add(box, 'div', 'sleeve');
    add(s, 'p', 'set', shown(setName()));
    add(s, 'h2', null, mediumLabel(m) + ' of ' + D.media.length);
    add(s, 'p', 'figs', m.name + ' \u00b7 ' + count(m.files, 'file') + ' \u00b7 ' + bytes(m.size) + ' \u00b7 planned ' + date);
    var tops = add(s, 'div', 'tops');
    topBars(add(tops, 'div'), 'Top folders', largestFolders(k, 8));
    topBars(add(tops, 'div'), 'Largest files', largestFiles(k, 5));
  });
}

function setupPrint() {
  window.addEventListener('beforeprint', renderSleeves);
  if (window.matchMedia) {
    var print = window.matchMedia('print');
    var check = function () { if (print.matches) renderSleeves(); };
    if (print.addEventListener) print.addEventListener('change', check); else if (print.addListener) print.addListener(check);
  }
}

function main(data) {
  D = data;
  E = D.entries;
  byId('loading').hidden = true;
  prepare();
  renderHeader();
  renderTotals();
  renderOverview();
  renderLeftOut();
  renderPlan();
  byId('fq').addEventListener('input', later(folderSearch, 200));
  setupPrint();
  setupSearch();
  var ms = performance.now();
  document.documentElement.setAttribute('data-render-ms', ms.toFixed(1));
  byId('footer').textContent = 'Made by qvsplit report on ' + D.generated + ' \u00b7 ' +
    count(E.length, 'entry', 'entries') + ' \u00b7 shown in ' + Math.round(ms) + ' ms';
}

function failed(text) {
  var s = byId('loading');
  s.hidden = false;
  s.className = 'alert';
  s.textContent = '';
  add(s, 'h2', null, 'The set\'s data cannot be shown');
  add(s, 'p', null, text);
}

// The data is a JSON block, or the same text compressed with gzip and written in base64. A
// disc's page compressed once for the whole set names the disc it is on in a block of its own.
function show(json) {
  var data;
  try { data = JSON.parse(json); } catch (err) { failed('The page cannot read its data: ' + err.message); return; }
  var here = byId('qvsplit-here');
  if (here) data.here = Number(here.textContent) || 0;
  try { main(data); } catch (err) { failed('The page cannot show its data: ' + err.message); }
}
function start() {
  var packed = byId('qvsplit-data-gz');
  if (!packed) return show(byId('qvsplit-data').textContent);
  if (typeof DecompressionStream !== 'function') {
    failed('This page keeps its data compressed, and this browser cannot unpack it (it lacks DecompressionStream). ' +
      'Open the page in a current Firefox, Chrome, Edge or Safari.');
    return;
  }
  byId('loading').hidden = false;
  var text = atob(packed.textContent.replace(/\s+/g, '')), raw = new Uint8Array(text.length);
  for (var i = 0; i < text.length; ++i) raw[i] = text.charCodeAt(i);
  new Response(new Blob([raw]).stream().pipeThrough(new DecompressionStream('gzip'))).text()
    .then(show)
    .catch(function (err) { failed('Its compressed data cannot be read: ' + err.message); });
}
start();
})();
</script>
</body>
</html>
)QVPAGE";

}  // namespace

bool QvCliWriteHtmlPage(std::ostream& out, const std::function<bool(std::ostream&)>& json) {
    out << kStyle << kBody;
    if (!json(out)) return false;
    for (const char* piece : {kBasics, kOverview, kBrowse, kSearch, kResults, kFolders}) out << piece;
    return true;
}
