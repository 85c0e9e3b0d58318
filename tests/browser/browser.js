// Launches the system's Chromium headless for the browser tests and benchmarks.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');

const CHROMIUM = process.env.TREELAN_CHROMIUM || '/usr/bin/chromium';
const SKIP = 77; // CTest's SKIP_RETURN_CODE

function skip(message) {
  console.log('SKIPPED: ' + message);
  process.exit(SKIP);
}

// puppeteer-core comes from the project's package-lock.json (npm ci, scripts/install-deps.sh).
function puppeteer() {
  try {
    return require('puppeteer-core');
  } catch (e) {
    skip('puppeteer-core is not installed: run scripts/install-deps.sh test (npm ci)');
  }
}

async function launch() {
  if (!fs.existsSync(CHROMIUM)) skip(CHROMIUM + ' is missing: install the Debian package chromium');
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'treelan-chromium-'));
  // Without the background-networking flags Chromium keeps trying hosts this machine cannot reach.
  const browser = await puppeteer().launch({
    executablePath: CHROMIUM,
    headless: true,
    userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--hide-scrollbars'],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return browser;
}

// Every console message, page error and failed request of a page.
function watch(page) {
  const seen = { console: [], errors: [], failed: [], requests: [] };
  page.on('console', (m) => seen.console.push({ type: m.type(), text: m.text() }));
  page.on('pageerror', (e) => seen.errors.push(String(e && e.message || e)));
  page.on('requestfailed', (r) => seen.failed.push(r.url() + ' ' + (r.failure() || {}).errorText));
  page.on('request', (r) => seen.requests.push(r.url()));
  return seen;
}

// PROMISE, or an error naming WHAT once MS milliseconds have passed: a step that never settles
// fails the test instead of hanging it.
function within(ms, what, promise) {
  let timer;
  const late = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(what + ': no answer within ' + ms + ' ms')), ms);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

// Resolves once TEST() holds, checked every 50 ms, or after MS milliseconds regardless; the
// checks that follow say what was missing.
async function waitFor(ms, test) {
  for (const end = Date.now() + ms; !test() && Date.now() < end;)
    await new Promise((done) => setTimeout(done, 50));
}

// A table of named checks: prints each and the closing count; exits non-zero when one failed.
class Checks {
  constructor() { this.passed = 0; this.failed = 0; }
  check(name, ok, detail) {
    if (ok) this.passed++; else this.failed++;
    console.log((ok ? 'PASS ' : 'FAIL ') + name + (ok || detail === undefined ? '' : ': ' + detail));
  }
  equal(name, actual, expected) {
    const a = JSON.stringify(actual), e = JSON.stringify(expected);
    this.check(name, a === e, 'got ' + a + ', expected ' + e);
  }
  done() {
    console.log(this.passed + ' passed, ' + this.failed + ' failed');
    process.exit(this.failed ? 1 : 0);
  }
}

module.exports = { launch, watch, within, waitFor, skip, Checks, SKIP };
