// The web archive in headless Chromium: its style sheet and both images come from the archive,
// nothing else is requested, no console error but Chromium's notice that archives run no
// script, no dead button, and every hostile name shows, the MIME delimiter "--x" among them.
// Usage: node test_archive.js TREELAN_CLI
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const { launch, watch, Checks } = require('./browser');
const fixture = require('./fixture');

const cli = process.argv[2];
const checks = new Checks();
const SCRIPT_BLOCKED = /^Blocked script execution in '.*' because the document's frame is sandboxed/;

(async () => {
  const root = fixture.make('treelan-archive--x-');
  const out = root + '.mht';
  execFileSync(cli, ['export', '-r', '-q', root, out]);
  const browser = await launch();
  try {
    const page = await browser.newPage();
    const seen = watch(page);
    const served = [];
    page.on('response', (r) => served.push(path.basename(new URL(r.url()).pathname)));
    await page.setViewport({ width: 1000, height: 800 });
    await page.goto('file://' + out, { waitUntil: 'load' });

    const errors = seen.console.filter((m) => m.type === 'error' && !SCRIPT_BLOCKED.test(m.text));
    checks.equal('no console error but blocked script', errors.map((m) => m.text), []);
    checks.equal('no page error', seen.errors, []);
    const look = await page.evaluate(() => ({
      rules: Array.from(document.styleSheets, (s) => s.cssRules.length),
      margin: getComputedStyle(document.body).marginLeft,
      span: getComputedStyle(document.querySelector('li.clsHasKids > span')).backgroundImage,
      buttons: Array.from(document.querySelectorAll('.clsButton'), (b) => getComputedStyle(b).display),
      title: document.title,
    }));
    checks.check('style sheet loaded', look.rules.length === 1 && look.rules[0] > 10, look.rules);
    checks.equal('its rules applied', look.margin, '16px');
    checks.check('folders show the open image', /open\.gif/.test(look.span), look.span);
    checks.equal('no button that does nothing without script', look.buttons, ['none', 'none']);
    checks.check('title holds the root', look.title.endsWith(root + '/'), look.title);

    // The closed image shows once a folder is closed; neither image may come from anywhere else.
    await page.evaluate(() => { document.querySelector('li.clsHasKids').className += ' clsClosed'; });
    const images = await page.evaluate(() => Promise.all(['open.gif', 'close.gif'].map((name) =>
      new Promise((done) => {
        const url = getComputedStyle(document.querySelector('li.clsHasKids > span')).backgroundImage
          .replace(/^url\("?|"?\)$/g, '').replace(/[^/]*$/, name);
        const img = new Image();
        img.onload = () => done(name + ' ' + img.naturalWidth + 'x' + img.naturalHeight);
        img.onerror = () => done(name + ' failed');
        img.src = url;
      }))));
    checks.check('both images decode from the archive', images.every((i) => /\d+x\d+$/.test(i)), images);
    checks.check('both images served', served.includes('open.gif') && served.includes('close.gif'), served);
    checks.equal('no failed request', seen.failed, []);
    checks.check('nothing outside the archive requested',
      seen.requests.every((u) => u === 'file://' + out || !u.startsWith('file:')), seen.requests);

    const shown = await page.evaluate(() => ({
      folders: Array.from(document.querySelectorAll('li.clsHasKids > span'), (s) => s.textContent),
      files: Array.from(document.querySelectorAll('td:first-child'), (td) => td.textContent),
    }));
    for (const [name, content] of fixture.ENTRIES) {
      const base = Buffer.isBuffer(name) ? name : path.basename(name);
      const list = content === null ? shown.folders : shown.files;
      checks.check('shows ' + JSON.stringify(String(name)), list.includes(fixture.shown(base)),
        list.join(' | '));
    }
  } finally {
    await browser.close();
    fs.rmSync(root, { recursive: true, force: true });
    fs.rmSync(out, { force: true });
  }
  checks.done();
})().catch((e) => { console.log('FAIL ' + (e && e.stack || e)); process.exit(1); });
