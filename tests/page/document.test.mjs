// The built document: one self-contained UTF-8 text with its assets inlined, and the text
// table's structure and special characters.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import fontverter from 'fontverter';
import * as hb from 'harfbuzzjs';
import { pageFile, MAIL, ROOT } from './harness.mjs';

// The most the document may weigh: the browser parses all of it before the first screen is out.
const BUDGET = 256 * 1024;

const bytes = readFileSync(pageFile());
const html = bytes.toString('utf8');

function dataUris(type) {
  return [...html.matchAll(new RegExp(`data:${type.replace('/', '\\/')};base64,([A-Za-z0-9+/=]+)`, 'g'))]
    .map((m) => Buffer.from(m[1], 'base64'));
}

// RIFF....WEBPVP8X: an extended WebP whose header flags alpha (0x10) and holds the canvas size
// less one in 24 bits each; its alpha plane (ALPH) comes before the lossy picture (VP8).
function webpWithAlpha(buf) {
  assert.equal(buf.toString('latin1', 0, 4), 'RIFF');
  assert.equal(buf.toString('latin1', 8, 16), 'WEBPVP8X', 'extended WebP');
  assert.ok(buf[20] & 0x10, 'alpha flagged');
  assert.deepEqual([buf.toString('latin1', 30, 34), buf.toString('latin1', 38 + buf.readUInt32LE(34), 42 + buf.readUInt32LE(34))],
    ['ALPH', 'VP8 '], 'alpha plane, then a lossy picture');
  return [buf.readUIntLE(24, 3) + 1, buf.readUIntLE(27, 3) + 1];
}

function table() {
  return JSON.parse(readFileSync(join(ROOT, 'ui/texts.json'), 'utf8'));
}

// The window is painted in the page's background colour before the page shows, so the window
// code's constant and the style sheet's token must name the same colour.
function windowColour() {
  const files = readdirSync(join(ROOT, 'src'), { recursive: true }).filter((f) => /\.(h|cpp)$/.test(f));
  const found = files.map((f) => readFileSync(join(ROOT, 'src', f), 'utf8')
    .match(/kWindowColour = RGB\((\d+), (\d+), (\d+)\)/)).filter(Boolean);
  assert.equal(found.length, 1, 'one definition of kWindowColour');
  return '#' + found[0].slice(1).map((c) => Number(c).toString(16).padStart(2, '0')).join('');
}

describe('built document', () => {
  test('is valid UTF-8, at most 256 KB, and refers to nothing outside itself', () => {
    assert.ok(bytes.length <= BUDGET, `${bytes.length} bytes, over ${BUDGET}`);
    assert.equal(Buffer.from(html, 'utf8').equals(bytes), true, 'round-trips as UTF-8');
    assert.match(html, /^<!doctype html>\n<html lang="en">/);
    // The support link's mailto: names no resource; the page never follows it.
    const outside = html.match(/(?:src|href)="(?!data:|mailto:)[^"]{0,60}/);
    assert.equal(outside, null, 'a reference outside the document');
    assert.doesNotMatch(html, /url\((?!"data:)/);
    assert.doesNotMatch(html, /<link|<script src/);
  });

  // The fonts are cut down to what the page sets in them: every character of the text table and
  // printable ASCII (names, digits, version, address). Fraunces keeps its weight, optical size and
  // wonkiness, Figtree its weight; both stay variable faces declared for their weight ranges.
  test('inlines the two fonts cut down to the page\'s characters, still variable, with font-display: block', async () => {
    const fonts = dataUris('font/woff2');
    assert.equal(fonts.length, 2);
    const packaged = ['@fontsource-variable/fraunces/files/fraunces-latin-full-normal.woff2',
      '@fontsource-variable/figtree/files/figtree-latin-wght-normal.woff2']
      .map((f) => readFileSync(join(ROOT, 'node_modules', f)));
    let needed = '';
    for (let c = 0x20; c < 0x7f; c += 1) needed += String.fromCharCode(c);
    needed += [...Object.values(table())].map((set) => Object.values(set).flat().join('')).join('');
    const latin = [...new Set(needed)].filter((c) => c.codePointAt(0) < 0x2000 || /[\u2019\u2026\u203a]/.test(c));
    const axes = [['WONK', 'opsz', 'wght'], ['wght']];
    for (const [i, font] of fonts.entries()) {
      assert.equal(font.toString('latin1', 0, 4), 'wOF2');
      assert.ok(font.length < packaged[i].length, `${font.length} bytes, packaged ${packaged[i].length}`);
      const face = new hb.Face(new hb.Blob(await fontverter.convert(font, 'sfnt')));
      const held = new Set(face.collectUnicodes());
      assert.deepEqual(latin.filter((c) => !held.has(c.codePointAt(0))), [], `font ${i + 1} lacks characters`);
      assert.deepEqual(Object.keys(face.getAxisInfos()).sort(), axes[i]);
    }
    assert.equal(html.match(/font-display: block/g).length, 2);
    assert.match(html, /font-family: 'Fraunces';[^}]*font-weight: 100 900;/);
    assert.match(html, /font-family: 'Figtree';[^}]*font-weight: 300 900;/);
  });

  // The wall is one picture drawn ahead of time, at its 350 x 400 on the page and at twice that,
  // the larger for any screen above 96 DPI.
  test('inlines the wall as lossy WebP with alpha, 350 x 400 and 700 x 800 above 96 DPI, and the logo once', () => {
    const walls = dataUris('image/webp');
    assert.deepEqual(walls.map(webpWithAlpha), [[700, 800], [350, 400]]);
    for (const [i, scale] of [2, 1].entries()) {
      assert.ok(walls[i].equals(readFileSync(join(ROOT, `ui/assets/wall-${scale}x.webp`))));
    }
    assert.match(html, /<source media="\(resolution > 1x\)" srcset="data:image\/webp;[^"]+">\s*<img src="data:image\/webp;[^"]+" alt="">/);
    const logos = dataUris('image/png');
    assert.equal(logos.length, 1, 'one copy of the logo, drawn in all three brand lines');
    const logo = logos[0];
    // IHDR: 128 x 128, 8-bit, colour type 6 (RGBA).
    assert.deepEqual([logo.readUInt32BE(16), logo.readUInt32BE(20), logo[24], logo[25]], [128, 128, 8, 6]);
    assert.ok(logo.equals(readFileSync(join(ROOT, 'resources/icons/emblem-128.png'))));
  });

  test('carries the support address given to the build, once, as data for the script', () => {
    assert.equal(html.match(/<meta name="support-mail" content="[^"]*">/g).join(), `<meta name="support-mail" content="${MAIL}">`);
  });

  test('has one script, which leaves no globals of its own, and the text table as data', () => {
    const scripts = [...html.matchAll(/<script([^>]*)>\n?([^]*?)<\/script>/g)];
    assert.deepEqual(scripts.map((m) => m[1]), [' type="application/json" id="page-texts"', '']);
    assert.deepEqual(JSON.parse(scripts[0][2]), table());
    assert.match(scripts[1][2], /^(\/\/.*\n)*\(\(\) => \{\n[^]*\n\}\)\(\);\n$/);
  });

  test('paints the background in the colour of the window behind it', () => {
    assert.match(html, new RegExp(`--background: ${windowColour()};`));
  });
});

describe('build step', () => {
  const out = join(mkdtempSync(join(tmpdir(), 'lumivane-build-')), 'page.html');
  const run = (mail) => spawnSync(process.execPath, [join(ROOT, 'tools/build-page.mjs'), mail, out], { encoding: 'utf8' });

  test('puts another address into the page and copies the font licences beside it', () => {
    execFileSync(process.execPath, [join(ROOT, 'tools/build-page.mjs'), 'support+setup@example.org', out]);
    assert.ok(readFileSync(out, 'utf8').includes('<meta name="support-mail" content="support+setup@example.org">'));
    for (const f of ['fraunces-OFL.txt', 'figtree-OFL.txt']) {
      assert.match(readFileSync(join(out, '..', 'licenses', f), 'utf8'), /SIL OPEN FONT LICENSE Version 1\.1/);
    }
  });

  test('refuses an address that would need escaping in the page', () => {
    for (const bad of ["x'@y.z", 'a<b@c.d', 'no-at-sign', 'a@b"c', '']) {
      const r = run(bad);
      assert.notEqual(r.status, 0, bad);
      assert.match(r.stderr, /not a plain e-mail address/);
    }
  });
});

describe('text table', () => {
  const T = table();
  const keys = ['version', 'intro', 'folder', 'install', 'installing', 'cancel', 'doneTag', 'doneTitle', 'steps',
    'close', 'errTag', 'errTitle', 'support', 'retry'];

  test('five sets in order es, en, pt, ja, id with the same fourteen keys', () => {
    assert.deepEqual(Object.keys(T), ['es', 'en', 'pt', 'ja', 'id']);
    for (const [lang, set] of Object.entries(T)) {
      assert.deepEqual(Object.keys(set), keys, lang);
      assert.equal(set.steps.length, 3, lang);
      assert.equal(set.version.split('{v}').length, 2, lang);
      assert.equal(set.support.split('{mail}').length, 2, lang);
    }
  });

  test('uses the exact special characters and no stray markup', () => {
    for (const [lang, set] of Object.entries(T)) {
      assert.ok(set.installing.endsWith('\u2026') && !set.installing.includes('...'), lang);
      assert.match(set.version, / \u00b7 /, lang);
      assert.match(set.steps[2], /<b>[^<]+ \u203a [^<]+ \u203a Orvelle \u203a Lumivane<\/b>/, lang);
      const all = [...Object.values(set).flat()].join('');
      assert.doesNotMatch(all.replace(/<\/?b>/g, ''), /[<&]/, lang);
    }
    assert.equal(T.en.support, 'Write to {mail} and we\u2019ll help you.');
    assert.equal(T.ja.installing, 'インストール中\u2026');
  });
});
