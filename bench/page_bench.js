#!/usr/bin/env node
// The web page at scale: the writer against the XML export, and the page in headless Chromium.
//
//     node bench/page_bench.js BIN_DIR [--runs 3] [--sizes 200000,1000000]
//
// Trees come from bench/make_tree.py (in $TREELAN_BENCH_DIR, default /tmp/treelan-bench), the
// same ones run_bench.py uses. Every figure is the median of the runs (peak memory: the largest);
// each browser run is a fresh Chromium. Timings come from the page's own performance.now()
// marks, which count from the start of navigation.
'use strict';
const { execFileSync, spawnSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const { launch } = require('../tests/browser/browser');

const args = process.argv.slice(2);
const bindir = args[0];
const opt = (name, def) => { const i = args.indexOf(name); return i > 0 ? args[i + 1] : def; };
const runs = Number(opt('--runs', 3));
const sizes = opt('--sizes', '200000,1000000').split(',').map(Number);
const WORK = process.env.TREELAN_BENCH_DIR || '/tmp/treelan-bench';
const FOLDERS = { 200000: 14000, 1000000: 70000 };
// Three searches as a reader types them: a rare name, a common piece, a wildcard.
const QUERIES = ['file 12345', 'file 9', '*.pdf'];

const median = (xs) => { const s = xs.slice().sort((a, b) => a - b); return s[(s.length - 1) >> 1]; };
const rows = [];
const report = (label, value, limit, unit) => rows.push([label, value, limit, unit]);

function tree(files) {
  const dir = path.join(WORK, 'tree-' + files);
  if (!fs.existsSync(dir)) {
    console.log('generating ' + dir + ' ...');
    execFileSync('python3', [path.join(__dirname, 'make_tree.py'), dir, '--files', String(files),
                            '--folders', String(FOLDERS[files] || Math.round(files / 14))], { stdio: 'inherit' });
  }
  return dir;
}

// Wall seconds and peak MiB of one export (GNU time reports the peak).
function exportOnce(format, dir, out) {
  const start = process.hrtime.bigint();
  const r = spawnSync('/usr/bin/time', ['-f', '%M', path.join(bindir, 'treelan-cli'), 'export', '-r', '-q',
                                         '-f', format, dir, out]);
  const wall = Number(process.hrtime.bigint() - start) / 1e9;
  if (r.status !== 0) throw new Error(format + ' export failed: ' + r.stderr);
  return { wall, peak: Number(String(r.stderr).trim().split('\n').pop()) / 1024 };
}

async function openOnce(file, files) {
  const browser = await launch();
  try {
    const page = await browser.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(String(e)));
    await page.setViewport({ width: 1280, height: 900 });
    await page.goto('file://' + file + '#treelan-probe', { timeout: 120000 });
    await page.waitForFunction('window.treelanPage && (treelanPage.shown > 0 || treelanPage.error)',
                               { timeout: 120000, polling: 50 });
    const phases = await page.evaluate(() => [treelanPage.inflated, treelanPage.decoded, treelanPage.shown]);
    const shown = phases[2];
    const error = await page.evaluate(() => treelanPage.error);
    if (error || errors.length) throw new Error('page failed: ' + (error || errors.join('; ')));
    // A reader takes a moment before typing.
    await new Promise((r) => setTimeout(r, 1000));
    const hits = [];
    for (const q of QUERIES) {
      hits.push(await page.evaluate((text) => {
        const box = document.getElementById('search');
        box.value = text;
        box.dispatchEvent(new Event('input'));
        return new Promise((done) => setTimeout(() => done(document.getElementById('count').textContent), 20));
      }, q));
    }
    const searches = await page.evaluate(() => treelanPage.searches);
    // When the name index was ready (0: not yet when the searches ran, so they scanned).
    phases.push(await page.evaluate(() => treelanPage.indexed));
    const cdp = await page.createCDPSession();
    await cdp.send('HeapProfiler.collectGarbage');
    const heap = (await page.metrics()).JSHeapUsedSize / 1048576;
    const lastRow = await page.evaluate(() => { // the last row of everything below the root
      document.getElementById('search').value = '';
      const below = document.getElementById('below');
      below.checked = true;
      below.dispatchEvent(new Event('change'));
      const t = document.getElementById('table');
      t.scrollTop = t.scrollHeight;
      return new Promise((done) => setTimeout(() => {
        const rows = Array.from(t.querySelectorAll('.vrow:not([hidden])'));
        const count = JSON.parse(document.getElementById('treelan-meta').textContent).files;
        done(rows.length ? count - 1 - rows[rows.length - 1].dataset.i : -1);
      }, 300));
    });
    return { shown, phases, searches, heap, hits, lastRow, files };
  } finally {
    await browser.close();
  }
}

(async () => {
  fs.mkdirSync(WORK, { recursive: true });
  for (const files of sizes) {
    const dir = tree(files);
    const html = path.join(WORK, 'page-' + files + '.html');
    const xml = path.join(WORK, 'page-' + files + '.xml');
    exportOnce('html', dir, html); // warm the cache
    const w = { html: [], xml: [], peak: 0 };
    for (let i = 0; i < runs; i++) {
      const x = exportOnce('xml', dir, xml), h = exportOnce('html', dir, html);
      w.xml.push(x.wall); w.html.push(h.wall); w.peak = Math.max(w.peak, h.peak);
    }
    fs.rmSync(xml, { force: true });
    const bytes = fs.statSync(html).size;
    const opened = [];
    for (let i = 0; i < runs; i++) opened.push(await openOnce(html, files));
    const shown = median(opened.map((o) => o.shown)) / 1000;
    const first = median(opened.map((o) => o.searches[0]));
    const later = median(opened.map((o) => Math.max(...o.searches.slice(1))));
    const heap = median(opened.map((o) => o.heap));
    console.log('\n' + files + ' files: page ' + (bytes / 1048576).toFixed(1) + ' MiB; writer ' +
                median(w.html).toFixed(3) + ' s, XML ' + median(w.xml).toFixed(3) + ' s; searches ' +
                opened[0].hits.join(' / ') + '; inflated/decoded/shown/indexed at ' +
                opened.map((o) => o.phases.map((x) => Math.round(x)).join('/')).join(', ') + ' ms; per search ' +
                opened.map((o) => o.searches.map((x) => x.toFixed(1)).join('/')).join(', ') + ' ms');
    const tag = files >= 1000000 ? '1M' : (files / 1000) + 'k';
    report(tag + ' writer / XML wall', median(w.html) / median(w.xml), 1.3, 'x');
    report(tag + ' writer peak', w.peak, 64, 'MiB');
    report(tag + ' bytes per file', bytes / files, files >= 1000000 ? 25 : Infinity, 'B');
    report(tag + ' shown after navigation', shown, files >= 1000000 ? 3.0 : 1.0, 's');
    if (files >= 1000000) {
      report(tag + ' first search', first, 200, 'ms');
      report(tag + ' later searches', later, 50, 'ms');
      report(tag + ' JS heap after 3 searches', heap, 150, 'MB');
    } else {
      report(tag + ' first search', first, Infinity, 'ms');
      report(tag + ' later searches', later, Infinity, 'ms');
    }
    report(tag + ' rows short of the last', opened[0].lastRow, 0, 'rows');
  }
  console.log('\nMedian of ' + runs + ' (headless Chromium, fresh browser per run)');
  let ok = true;
  for (const [label, value, limit, unit] of rows) {
    const good = value <= limit;
    ok = ok && good;
    console.log('  ' + label.padEnd(30) + String(+value.toFixed(3)).padStart(10) + ' ' + unit.padEnd(9) +
                (limit === Infinity ? '' : ' limit ' + limit + (good ? '  ok' : '  OVER')));
  }
  process.exit(ok ? 0 : 1);
})().catch((e) => { console.error(e); process.exit(2); });
