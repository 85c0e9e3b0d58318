#!/usr/bin/env node
// Screenshots of an exported web page in headless Chromium, as a reader sees it: opened, with the
// tree opened one level, searched, and sorted by size (largest first).
//     node scripts/page-screenshots.js PAGE.html OUT_PREFIX [SEARCH]
// writes OUT_PREFIX-opened.png, OUT_PREFIX-searched.png and OUT_PREFIX-sorted.png.
'use strict';
const path = require('path');
const { launch } = require('../tests/browser/browser');

const [page, prefix, query = 'file 12'] = process.argv.slice(2);
if (!page || !prefix) {
  console.error('usage: page-screenshots.js PAGE.html OUT_PREFIX [SEARCH]');
  process.exit(2);
}

(async () => {
  const browser = await launch();
  try {
    const tab = await browser.newPage();
    await tab.setViewport({ width: 1280, height: 800 });
    await tab.goto('file://' + path.resolve(page) + '#treelan-probe', { timeout: 120000 });
    await tab.waitForFunction('window.treelanPage && (treelanPage.shown > 0 || treelanPage.error)',
                              { timeout: 120000 });
    // Open the first folder and the first folder in it, and show its files.
    await tab.focus('#tree');
    for (const key of ['ArrowDown', 'ArrowRight', 'ArrowDown', 'ArrowRight', 'ArrowDown']) {
      await tab.keyboard.press(key);
    }
    await tab.screenshot({ path: prefix + '-opened.png' });
    await tab.type('#search', query);
    await new Promise((r) => setTimeout(r, 300));
    await tab.screenshot({ path: prefix + '-searched.png' });
    // The header is drawn anew after each click: find the Size button each time.
    await tab.click('#thead button:nth-child(3)');
    await tab.click('#thead button:nth-child(3)');
    await new Promise((r) => setTimeout(r, 300));
    await tab.screenshot({ path: prefix + '-sorted.png' });
    console.log('wrote ' + ['opened', 'searched', 'sorted'].map((s) => prefix + '-' + s + '.png').join(', '));
  } finally {
    await browser.close();
  }
})().catch((e) => { console.error(e); process.exit(1); });
