// The hostile fixture of the browser tests: names that break markup, MIME framing or display.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');

// Relative paths (Buffers where the name is not UTF-8) and contents. Folders end in '/'.
const ENTRIES = [
  ['--x/', null],
  ['--x/inner.txt', 'inner'],
  ['--x--', ''],
  ['a--xb', 'ab'],
  ['2019--xmas.txt', 'xmas!'],
  ['<script>alert(1)<', 'script'],
  ['<img src=x onerror=alert(2)>', 'img'],
  ['<!-- comment', 'c'],
  ['quote\'s "double"', 'qq'],
  ['ampersand &amp; more', 'amp'],
  ['rtl \u200f\u202egnp.exe', 'rtl'],
  ['tab\there', 't'],
  ['new\nline', 'nl'],
  [Buffer.from('latin1 caf\xe9 \xff.txt', 'latin1'), 'latin'],
  ['Music/', null],
  ['Music/Rock & Roll/', null],
  ['Music/Rock & Roll/track 2.mp3', Buffer.alloc(3000, 1)],
  ['Music/Rock & Roll/track 10.mp3', Buffer.alloc(100, 2)],
  ['Music/Rock & Roll/track 1.mp3', Buffer.alloc(20000, 3)],
  ['Music/empty/', null],
  ['big.bin', Buffer.alloc(123457, 7)],
];

// The text a name shows as: invalid UTF-8 bytes stand for their Latin-1 letters, control
// characters for their visible pictures.
function shown(name) {
  const text = Buffer.isBuffer(name) ? name.toString('latin1') : name;
  return text.replace(/[\u0000-\u001f\u007f]/g,
    (c) => String.fromCharCode(c === '\u007f' ? 0x2421 : 0x2400 + c.charCodeAt(0)));
}

function make(prefix) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  const time = new Date(Date.UTC(2004, 2, 5, 12, 0, 0));
  for (const [name, content] of ENTRIES) {
    const rel = Buffer.isBuffer(name) ? Buffer.concat([Buffer.from(root + '/'), name]) : path.join(root, name);
    if (content === null) { fs.mkdirSync(rel, { recursive: true }); continue; }
    fs.writeFileSync(rel, content);
    fs.utimesSync(rel, time, time);
  }
  return root;
}

// Files, folders and bytes below `root`, counted here, apart from the exporter.
function totals(root) {
  const t = { files: 0, folders: 0, bytes: 0 };
  const walk = (dir) => { // Buffers throughout: a name need not be UTF-8
    for (const name of fs.readdirSync(dir, { encoding: 'buffer' })) {
      const full = Buffer.concat([dir, Buffer.from('/'), name]);
      const st = fs.statSync(full);
      if (st.isDirectory()) { t.folders++; walk(full); } else { t.files++; t.bytes += st.size; }
    }
  };
  walk(Buffer.from(root));
  return t;
}

module.exports = { ENTRIES, shown, make, totals };
