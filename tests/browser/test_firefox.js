// The web page in Firefox (Debian firefox-esr, headless, driven over WebDriver BiDi): it opens
// from disk, runs its script without an error and shows the tree; a screenshot proves content.
// Usage: node test_firefox.js TREELAN_CLI
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { Checks, skip } = require('./browser');
const fixture = require('./fixture');

const FIREFOX = process.env.TREELAN_FIREFOX || '/usr/bin/firefox-esr';
const cli = process.argv[2];
const checks = new Checks();

(async () => {
  if (!fs.existsSync(FIREFOX)) skip(FIREFOX + ' is missing: install the Debian package firefox-esr');
  let puppeteer;
  try { puppeteer = require('puppeteer-core'); } catch (e) { skip('puppeteer-core is not installed (npm ci)'); }
  const root = fixture.make('treelan-firefox-');
  const out = root + '.html';
  const shot = root + '.png';
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'treelan-firefox-profile-'));
  execFileSync(cli, ['export', '-r', '-q', root, out]);
  const browser = await puppeteer.launch({ browser: 'firefox', executablePath: FIREFOX, headless: true,
                                          userDataDir: profile });
  try {
    const page = await browser.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(String(e && e.message || e)));
    page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
    await page.setViewport({ width: 1000, height: 700 });
    await page.goto('file://' + out + '#treelan-probe');
    await page.waitForFunction('window.treelanPage && (treelanPage.shown > 0 || treelanPage.error)');
    checks.equal('data read', await page.evaluate(() => treelanPage.error), '');
    checks.equal('no script error', errors, []);
    const tree = await page.$$eval('#tree .vrow:not([hidden]) .tn', (r) => r.map((e) => e.textContent));
    checks.equal('tree shows the root and its folders', tree, [root + '/', '--x', 'Music']);
    const files = await page.$$eval('#table .vrow:not([hidden])', (r) => r.length);
    checks.equal('root table shows the root files', files, fixture.ENTRIES.filter(
      ([n, c]) => c !== null && !String(n).includes('/')).length);
    await page.screenshot({ path: shot });
    const png = fs.readFileSync(shot);
    // A blank page of this size compresses to a few kilobytes; text and rules make it larger.
    checks.check('screenshot with content', png.length > 20000, png.length + ' bytes');
  } finally {
    await browser.close();
    for (const p of [root, out, shot, profile]) fs.rmSync(p, { recursive: true, force: true });
  }
  checks.done();
})().catch((e) => { console.log('FAIL ' + (e && e.stack || e)); process.exit(1); });
