// The web archive in headless Chromium: its style sheet and both images come from the archive,
// nothing else is requested, no console error but Chromium's notice that archives run no
// script, no dead button, and every hostile name shows, the MIME delimiter "--x" among them.
// Usage: node test_archive.js TREELAN_CLI
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const { launch, watch, within, waitFor, Checks } = require('./browser');
const fixture = require('./fixture');

const cli = process.argv[2];
const resources = path.join(__dirname, '..', '..', 'Resource');
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
    const bodies = new Map();
    page.on('response', (r) => {
      const name = path.basename(new URL(r.url()).pathname);
      served.push(name);
      if (name.endsWith('.gif')) r.buffer().then((b) => bodies.set(name, b), () => {});
    });
    await page.setViewport({ width: 1000, height: 800 });
    await within(30000, 'opening the archive', page.goto('file://' + out, { waitUntil: 'load' }));

    const errors = seen.console.filter((m) => m.type === 'error' && !SCRIPT_BLOCKED.test(m.text));
    checks.equal('no console error but blocked script', errors.map((m) => m.text), []);
    checks.equal('no page error', seen.errors, []);
    const look = await within(10000, 'reading the styles', page.evaluate(() => {
      const folder = document.querySelector('li.clsHasKids > span');
      return {
        // a sheet that is not the archive's own keeps its rules from the page
        rules: Array.from(document.styleSheets, (s) => {
          try { return s.cssRules.length; } catch (e) { return -1; }
        }),
        margin: getComputedStyle(document.body).marginLeft,
        span: folder && getComputedStyle(folder).backgroundImage,
        buttons: Array.from(document.querySelectorAll('.clsButton'), (b) => getComputedStyle(b).display),
        title: document.title,
      };
    }));
    checks.check('style sheet loaded', look.rules.length === 1 && look.rules[0] > 10, look.rules);
    checks.equal('its rules applied', look.margin, '16px');
    checks.check('folders show the open image', /open\.gif/.test(look.span), look.span);
    checks.equal('no button that does nothing without script', look.buttons, ['none', 'none']);
    checks.check('title holds the root', look.title.endsWith(root + '/'), look.title);

    // The closed image loads once a folder is closed. An archive runs no script of its own, so no
    // timer or load handler would ever fire in it: the requests are watched from here instead.
    await within(10000, 'closing a folder', page.evaluate(() => {
      const folder = document.querySelector('li.clsHasKids');
      if (!folder) return '';
      folder.className += ' clsClosed';
      return getComputedStyle(folder.firstElementChild).backgroundImage;
    }));
    await waitFor(5000, () => bodies.has('open.gif') && bodies.has('close.gif'));
    for (const name of ['open.gif', 'close.gif']) {
      const body = bodies.get(name);
      checks.check(name + ' served from the archive', body !== undefined, served);
      checks.check(name + ' is the resource image', body !== undefined &&
        body.equals(fs.readFileSync(path.join(resources, name))), body && body.length);
    }
    checks.equal('no failed request', seen.failed, []);
    checks.check('nothing outside the archive requested',
      seen.requests.every((u) => u === 'file://' + out || !u.startsWith('file:')), seen.requests);

    const shown = await within(10000, 'reading the names', page.evaluate(() => ({
      folders: Array.from(document.querySelectorAll('li.clsHasKids > span'), (s) => s.textContent),
      files: Array.from(document.querySelectorAll('td:first-child'), (td) => td.textContent),
    })));
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
