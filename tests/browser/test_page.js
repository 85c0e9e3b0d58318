// The interactive web page in headless Chromium: opens without a console error or a request,
// shows every hostile name as text, totals as counted here, tree by click and key, sorting,
// search. Usage: node test_page.js TREELAN_CLI
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const { launch, watch, Checks } = require('./browser');
const fixture = require('./fixture');

const cli = process.argv[2];
const checks = new Checks();

// Rows of the file table as the reader sees them: the texts of their cells.
const tableRows = (page) => page.$$eval('#table .vrow:not([hidden])', (rows) =>
  rows.map((r) => Array.from(r.children, (c) => c.textContent)));
const treeRows = (page) => page.$$eval('#tree .vrow:not([hidden])', (rows) =>
  rows.map((r) => r.querySelector('.tn').textContent));
const search = (page, text) => page.evaluate((t) => {
  const box = document.getElementById('search');
  box.value = t;
  box.dispatchEvent(new Event('input'));
  return new Promise((done) => setTimeout(done, 50));
}, text);
const clickTree = (page, name, part) => page.evaluate((n, p) => {
  const row = Array.from(document.querySelectorAll('#tree .vrow:not([hidden])'))
    .find((r) => r.querySelector('.tn').textContent === n);
  row.querySelector(p).dispatchEvent(new MouseEvent('click', { bubbles: true }));
}, name, part);

(async () => {
  const root = fixture.make('treelan-page--x-');
  const out = path.join(root + '.html');
  const filtered = root + '-filtered.html';
  const bomRoot = root + '-bom', bomPage = root + '-bom.html';
  const bigRoot = root + '-big', bigPage = root + '-big.html';
  const mediaRoot = root + '-media', mediaPage = root + '-media.html';
  const casesRoot = root + '-cases', casesPage = root + '-cases.html';
  let bigMounted = false;
  execFileSync(cli, ['export', '-r', '-q', root, out]);
  const browser = await launch();
  try {
    const page = await browser.newPage();
    const seen = watch(page);
    await page.setViewport({ width: 1280, height: 900 });
    await page.goto('file://' + out + '#treelan-probe');
    await page.waitForFunction('window.treelanPage && (treelanPage.shown > 0 || treelanPage.error)');

    checks.equal('no page error', seen.errors, []);
    checks.equal('no console message', seen.console.map((m) => m.type + ': ' + m.text), []);
    checks.equal('no request but the page itself', seen.requests, ['file://' + out + '#treelan-probe']);
    checks.equal('data read', await page.evaluate(() => treelanPage.error), '');
    const csp = await page.$eval('meta[http-equiv="Content-Security-Policy"]', (m) => m.content);
    checks.check('policy forbids network access', /^default-src 'none';/.test(csp) &&
      !/https?:|\*|unsafe/.test(csp), csp);

    // Totals in the header against the fixture, counted here.
    const want = fixture.totals(root);
    const facts = await page.evaluate(() => ({
      folders: document.getElementById('tFolders').textContent,
      files: document.getElementById('tFiles').textContent,
      bytes: document.getElementById('tBytes').title,
    }));
    const digits = (s) => Number(String(s).replace(/\D/g, ''));
    checks.equal('total folders', digits(facts.folders), want.folders);
    checks.equal('total files', digits(facts.files), want.files);
    checks.equal('total bytes', digits(facts.bytes), want.bytes);
    checks.equal('root title', await page.$eval('#root', (e) => e.textContent), root + '/');

    // Every name of the root folder shows exactly, as text.
    await page.click('#below'); // everything below the root
    const names = (await tableRows(page)).map((r) => r[0]);
    for (const [name, content] of fixture.ENTRIES) {
      if (content === null) continue;
      const base = Buffer.isBuffer(name) ? name : path.basename(name);
      checks.check('shows ' + JSON.stringify(String(name)), names.includes(fixture.shown(base)), names.join(' | '));
    }
    checks.equal('no element from a name', await page.$$eval('#table img, #table script', (e) => e.length), 0);

    // Tree: by click on the toggle, then by key.
    await page.click('#below');
    checks.check('Music starts closed', !(await treeRows(page)).includes('Rock & Roll'));
    await clickTree(page, 'Music', '.tw');
    checks.check('click opens Music', (await treeRows(page)).includes('Rock & Roll'));
    await clickTree(page, 'Music', '.tw');
    checks.check('click closes Music', !(await treeRows(page)).includes('Rock & Roll'));
    await clickTree(page, 'Music', '.tn');
    await page.focus('#tree');
    await page.keyboard.press('ArrowRight');
    checks.check('right arrow opens Music', (await treeRows(page)).includes('Rock & Roll'));
    const selected = () => page.$eval('#tree .vrow.sel .tn', (e) => e.textContent);
    await page.keyboard.press('ArrowDown');
    checks.equal('down arrow moves into Music', await selected(), 'empty');
    await page.keyboard.press('ArrowDown');
    checks.equal('down arrow moves on', await selected(), 'Rock & Roll');
    checks.equal('the folder\'s files show', (await tableRows(page)).map((r) => r[0]),
      ['track 1.mp3', 'track 10.mp3', 'track 2.mp3']);
    await page.keyboard.press('ArrowLeft');
    await page.keyboard.press('ArrowLeft');
    checks.check('left arrows close Music', !(await treeRows(page)).includes('Rock & Roll'));

    // Sorting: natural order for names, sizes both ways.
    await clickTree(page, 'Music', '.tw');
    await clickTree(page, 'Rock & Roll', '.tn');
    const header = (label) => page.evaluate((l) => Array.from(document.querySelectorAll('#thead button'))
      .find((b) => b.textContent.startsWith(l)).click(), label);
    await header('Name');
    checks.equal('natural name order', (await tableRows(page)).map((r) => r[0]),
      ['track 1.mp3', 'track 2.mp3', 'track 10.mp3']);
    await clickTree(page, 'Music', '.tn');
    await page.click('#below');
    await header('Size');
    const sizes = async () => (await page.$$eval('#table .vrow:not([hidden]) > :nth-child(3)', (c) =>
      c.map((e) => Number(e.title.replace(/\D/g, '')))));
    const up = await sizes();
    checks.check('size ascending', up.length === 3 && up.every((v, i) => i === 0 || up[i - 1] <= v), up);
    await header('Size');
    const down = await sizes();
    checks.check('size descending', down.length === 3 && down.every((v, i) => i === 0 || down[i - 1] >= v), down);

    // Search: exactly the hits named, whatever the name holds.
    const cases = [
      ['a hostile name', '<img src=x onerror=alert(2)>', ['<img src=x onerror=alert(2)>']],
      ['the archive delimiter', 'a--xb', ['a--xb']],
      ['without regard to case', 'TRACK 10', ['track 10.mp3']],
      ['not UTF-8', 'café ÿ', ['latin1 café ÿ.txt']],
      ['wildcards match whole names', '*.MP3', ['track 1.mp3', 'track 10.mp3', 'track 2.mp3']],
      ['question mark', 'track ?.mp3', ['track 1.mp3', 'track 2.mp3']],
      ['a prefix', 'TRACK 1*', ['track 1.mp3', 'track 10.mp3']],
      ['a prefix of the first name written', 'inner*', ['inner.txt']],
      ['stars at both ends', '*--x*', ['--x/', '--x--', '2019--xmas.txt', 'a--xb']],
      ['a star inside', 'a*b', ['a--xb']],
      ['folders only', 'd:--x', ['--x/']],
      ['files only', 'f:--x', ['--x--', '2019--xmas.txt', 'a--xb']],
      ['folders and files', '--x', ['--x/', '--x--', '2019--xmas.txt', 'a--xb']],
      ['nothing', 'no such name', []],
      ['a piece twice in one name, one hit', 'amp', ['ampersand &amp; more']],
      ['the end of a name', '0.mp3', ['track 10.mp3']],
      ['right-to-left marks', 'GNP.EXE', ['rtl \u200f\u202egnp.exe']],
      ['a piece missing', 'ck 3', []],
      ['pieces all there but apart', '&ampersand', []],
    ];
    await header('Name'); // back to ascending names
    // Once through the index of name pieces, once over the whole text, as before the index is ready.
    await page.waitForFunction('treelanPage.indexed > 0', { timeout: 10000 });
    for (const [way, useIndex] of [['indexed', true], ['scanned', false]]) {
      await page.evaluate((u) => { treelanPage.useIndex = u; }, useIndex);
      for (const [label, query, expected] of cases) {
        await search(page, query);
        const found = (await tableRows(page)).map((r) => r[0]).sort();
        checks.equal('search ' + way + ': ' + label, found, expected.slice().sort());
      }
    }
    await search(page, 'track 1.mp3');
    const hit = await tableRows(page);
    checks.equal('a hit shows its folder', hit.map((r) => r[1]), ['Music/Rock & Roll/']);
    await page.click('#table .vrow:not([hidden])');
    checks.equal('a click on a hit shows it in the tree',
      await page.$eval('#tree .vrow.sel .tn', (e) => e.textContent), 'Rock & Roll');

    checks.equal('still no page error', seen.errors, []);
    checks.equal('still no console message', seen.console.map((m) => m.type + ': ' + m.text), []);

    // The shared table of name patterns (the window's filter box and the catalogue answer it
    // too): one entry per name, each pattern searched, indexed and scanned.
    const shared = fs.readFileSync(path.join(__dirname, '..', 'data', 'search-cases.tsv'), 'utf8')
      .split('\n').map((line, i) => [line, i + 1]).filter(([line]) => line && !line.startsWith('#'))
      .map(([line, number]) => {
        const [pattern, name, folder, expected] = line.split('\t');
        return { pattern, name, folder: folder === '1', expected: expected === '1', number };
      });
    fs.mkdirSync(casesRoot);
    for (const c of shared) {
      const at = path.join(casesRoot, c.name);
      if (fs.existsSync(at)) continue;
      if (c.folder) fs.mkdirSync(at); else fs.writeFileSync(at, 'x');
    }
    execFileSync(cli, ['export', '-q', '-f', 'html', casesRoot, casesPage]);
    await page.goto('file://' + casesPage + '#treelan-probe');
    await page.waitForFunction('window.treelanPage && (treelanPage.shown > 0 || treelanPage.error)');
    await page.waitForFunction('treelanPage.indexed > 0', { timeout: 10000 });
    for (const [way, useIndex] of [['indexed', true], ['scanned', false]]) {
      await page.evaluate((u) => { treelanPage.useIndex = u; }, useIndex);
      for (const c of shared) {
        await search(page, c.pattern);
        const found = (await tableRows(page)).map((r) => r[0]);
        checks.equal('shared case ' + way + ', line ' + c.number + ': ' + JSON.stringify(c.pattern) + ' ~ ' +
          JSON.stringify(c.name), found.includes(c.folder ? c.name + '/' : c.name), c.expected);
      }
    }
    await page.goto('file://' + out + '#treelan-probe');
    await page.waitForFunction('window.treelanPage && (treelanPage.shown > 0 || treelanPage.error)');

    // Filters leave entries out of the page and show in its header, with script and without.
    execFileSync(cli, ['export', '-r', '-q', '-f', 'html', '--exclude-pattern', '*.mp3',
                       '--max-depth', '0', '--exclude', 'big.bin', root, filtered]);
    const source = fs.readFileSync(filtered, 'latin1');
    await page.goto('file://' + filtered + '#treelan-probe');
    await page.waitForFunction('window.treelanPage && (treelanPage.shown > 0 || treelanPage.error)');
    const words = 'Filters: leave out *.mp3, depth at most 0, leave out big.bin';
    checks.check('filters in the header', (await page.$eval('#facts', (e) => e.textContent)).includes(words),
      await page.$eval('#facts', (e) => e.textContent));
    const noscript = source.slice(source.indexOf('<noscript>'), source.indexOf('</noscript>'));
    checks.check('filters in the header without script', noscript.includes(words), noscript);
    await page.click('#below');
    const left = (await tableRows(page)).map((r) => r[0]);
    checks.check('filtered names left out', left.length > 0 &&
      !left.some((n) => n.endsWith('.mp3') || n === 'big.bin' || n === 'inner.txt'), left.join(' | '));
    checks.equal('no page error with filters', seen.errors, []);

    // --media: a column per field that some file fills, with the helper's texts (an emoji tag
    // exact); without it no such column.
    fs.mkdirSync(mediaRoot);
    const seeds = path.join(__dirname, '..', '..', 'fuzz', 'corpus', 'media');
    for (const name of ['photo.jpg', 'tone.flac'])
      fs.copyFileSync(path.join(seeds, name), path.join(mediaRoot, name));
    const headings = () => page.$$eval('#thead button', (b) => b.map((e) => e.textContent));
    for (const media of [true, false]) {
      execFileSync(cli, ['export', '-q', '-f', 'html'].concat(media ? ['-M'] : []).concat([mediaRoot, mediaPage]));
      await page.goto('about:blank'); // the same address again would only move to its fragment
      await page.goto('file://' + mediaPage + '#treelan-probe');
      await page.waitForFunction('window.treelanPage && (treelanPage.shown > 0 || treelanPage.error)');
      await page.click('#below');
      const heads = await headings();
      if (!media) {
        checks.check('no media column without --media', !heads.includes('Dimensions') && !heads.includes('Artist'),
          heads.join(' | '));
        continue;
      }
      const rows = await tableRows(page);
      const cell = (file, heading) => (rows.find((r) => r[0] === file) || [])[heads.indexOf(heading)];
      checks.equal('picture size as displayed', cell('photo.jpg', 'Dimensions'), '48x64');
      checks.equal('camera', cell('photo.jpg', 'Camera make'), 'Treelan');
      checks.equal('a tag outside the BMP', cell('tone.flac', 'Artist'), '\u00dcn\u00efc\u00f6d\u00e9 \u{1F600} Band');
      checks.check('no column that no file fills', !heads.includes('Codec'), heads.join(' | '));
      checks.equal('no page error with media', seen.errors, []);
    }

    // A name that begins with U+FEFF keeps it, also as the first name of the page's data.
    fs.mkdirSync(bomRoot);
    fs.writeFileSync(path.join(bomRoot, '\ufeffmarked.txt'), 'm');
    execFileSync(cli, ['export', '-q', '-f', 'html', bomRoot, bomPage]);
    await page.goto('file://' + bomPage + '#treelan-probe');
    await page.waitForFunction('window.treelanPage && (treelanPage.shown > 0 || treelanPage.error)');
    await page.click('#below');
    checks.equal('a leading U+FEFF shows', (await tableRows(page)).map((r) => r[0]), ['\ufeffmarked.txt']);

    // Three files of 2^63-1 bytes (a tmpfs takes them): sizes and sums show exactly, past what
    // the page's doubles hold; a folder reached again through a link says where it is listed.
    fs.mkdirSync(bigRoot);
    try {
      execFileSync('mount', ['-t', 'tmpfs', '-o', 'size=1m', 'tmpfs', bigRoot], { stdio: 'ignore' });
      bigMounted = true;
    } catch (e) {
      console.log('SKIP exact sums: cannot mount a tmpfs here (needs root)');
    }
    if (bigMounted) {
      fs.mkdirSync(path.join(bigRoot, 'sub'));
      for (const name of ['a', 'b', 'c'])
        execFileSync('truncate', ['-s', '9223372036854775807', path.join(bigRoot, 'sub', name)]);
      fs.symlinkSync('sub', path.join(bigRoot, 'again')); // sorted first: entered there
      execFileSync(cli, ['export', '-r', '-q', '-f', 'html', bigRoot, bigPage]);
      await page.goto('file://' + bigPage + '#treelan-probe');
      await page.waitForFunction('window.treelanPage && (treelanPage.shown > 0 || treelanPage.error)');
      const digitsOf = (s) => String(s).replace(/\D/g, '');
      const sum = '27670116110564327421';
      checks.equal('exact total in the header', digitsOf(await page.$eval('#tBytes', (e) => e.title)), sum);
      const treeRow = (name) => page.evaluate((n) => {
        const row = Array.from(document.querySelectorAll('#tree .vrow:not([hidden])'))
          .find((r) => r.querySelector('.tn').textContent === n);
        return row ? { text: row.querySelector('.tc').textContent, title: row.querySelector('.tc').title } : null;
      }, name);
      checks.equal('exact total of a folder', digitsOf((await treeRow('again')).title), sum);
      checks.equal('the folder reached again says where', (await treeRow('sub')).text,
        '\u26a0 already listed at again/');
      await page.click('#below');
      checks.equal('exact file sizes', await page.$$eval('#table .vrow:not([hidden]) > :nth-child(3)',
        (c) => c.map((e) => e.title.replace(/\D/g, ''))), Array(3).fill('9223372036854775807'));
      checks.equal('no page error with exact sums', seen.errors, []);
    }

    // Opened as a reader opens it, the page shows its data and keeps its timings to itself.
    await page.goto('file://' + out);
    await page.waitForFunction('!document.getElementById("app").hidden');
    checks.equal('no probe without #treelan-probe', await page.evaluate(() => typeof window.treelanPage),
      'undefined');
  } finally {
    await browser.close();
    fs.rmSync(root, { recursive: true, force: true });
    fs.rmSync(out, { force: true });
    fs.rmSync(filtered, { force: true });
    fs.rmSync(bomRoot, { recursive: true, force: true });
    fs.rmSync(bomPage, { force: true });
    if (bigMounted) execFileSync('umount', [bigRoot]);
    fs.rmSync(bigRoot, { recursive: true, force: true });
    fs.rmSync(bigPage, { force: true });
    fs.rmSync(mediaRoot, { recursive: true, force: true });
    fs.rmSync(mediaPage, { force: true });
    fs.rmSync(casesRoot, { recursive: true, force: true });
    fs.rmSync(casesPage, { force: true });
  }
  checks.done();
})().catch((e) => { console.log('FAIL ' + (e && e.stack || e)); process.exit(1); });
