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

// A simple lossy WebP: RIFF, its size, WEBP, then one VP8 chunk (lossless would be VP8L, extras
// VP8X). The VP8 key frame starts 3 bytes into the chunk's data with the start code 9d 01 2a and
// gives the width and height in 14 bits each.
function lossyWebpSize(buf) {
  assert.deepEqual([buf.toString('latin1', 0, 4), buf.toString('latin1', 8, 16)], ['RIFF', 'WEBPVP8 '], 'a simple lossy WebP');
  assert.equal(buf.readUInt32LE(4) + 8, buf.length, 'the RIFF size covers the file');
  assert.equal(buf.subarray(23, 26).toString('hex'), '9d012a', 'a VP8 key frame');
  return [buf.readUInt16LE(26) & 0x3fff, buf.readUInt16LE(28) & 0x3fff];
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
  // ASCII alone: one character beyond it would make the browser hold every string of the
  // document, the inlined assets among them, in two bytes a character.
  test('is ASCII, at most 256 KB, and refers to nothing outside itself', () => {
    assert.ok(bytes.length <= BUDGET, `${bytes.length} bytes, over ${BUDGET}`);
    const beyond = html.search(/[^\x00-\x7f]/);
    assert.equal(beyond, -1, `a character beyond ASCII: ${JSON.stringify(html.slice(beyond - 20, beyond + 5))}`);
    assert.match(html, /^<!doctype html>\n<html lang="en">/);
    // The support link's mailto: names no resource; the page never follows it. The one link holds
    // the first frame until the script, the body's last element, is in.
    const outside = html.match(/(?:src|href)="(?!data:|mailto:|#)[^"]{0,60}/);
    assert.equal(outside, null, 'a reference outside the document');
    assert.doesNotMatch(html, /url\((?!"data:)/);
    assert.deepEqual(html.match(/<link[^>]*>/g), ['<link rel="expect" href="#page-script" blocking="render">']);
    assert.doesNotMatch(html, /<script src/);
  });

  // The fonts are cut down to what the page sets in them: the sans every character of the text
  // table and printable ASCII (names, digits, version, address), the serif the titles' characters.
  // Each keeps its weight axis and no other; both stay variable faces declared for their weight
  // ranges.
  test('inlines the two fonts cut down to the page\'s characters, still variable, with font-display: block', async () => {
    const fonts = dataUris('font/woff2');
    assert.equal(fonts.length, 2);
    const packaged = ['@fontsource-variable/fraunces/files/fraunces-latin-wght-normal.woff2',
      '@fontsource-variable/figtree/files/figtree-latin-wght-normal.woff2']
      .map((f) => readFileSync(join(ROOT, 'node_modules', f)));
    let body = '';
    for (let c = 0x20; c < 0x7f; c += 1) body += String.fromCharCode(c);
    body += [...Object.values(table())].map((set) => Object.values(set).flat().join('')).join('');
    const titles = 'Lumivane' + Object.values(table()).map((set) => set.doneTitle + set.errTitle).join('');
    const latin = (text) => [...new Set(text)].filter((c) => c.codePointAt(0) < 0x2000 || /[\u2019\u2026\u203a]/.test(c));
    const needed = [latin(titles), latin(body)];
    for (const [i, font] of fonts.entries()) {
      assert.equal(font.toString('latin1', 0, 4), 'wOF2');
      assert.ok(font.length < packaged[i].length, `${font.length} bytes, packaged ${packaged[i].length}`);
      const face = new hb.Face(new hb.Blob(await fontverter.convert(font, 'sfnt')));
      const held = new Set(face.collectUnicodes());
      assert.deepEqual(needed[i].filter((c) => !held.has(c.codePointAt(0))), [], `font ${i + 1} lacks characters`);
      // The serif holds the titles' letters and little more: a serif cut like the sans would hold
      // all of printable ASCII.
      if (i === 0) assert.ok(held.size < needed[1].length / 2, `the serif holds ${held.size} characters`);
      assert.deepEqual(Object.keys(face.getAxisInfos()).sort(), ['wght']);
    }
    assert.equal(html.match(/font-display: block/g).length, 2);
    assert.match(html, /font-family: 'Fraunces';[^}]*font-weight: 100 900;/);
    assert.match(html, /font-family: 'Figtree';[^}]*font-weight: 300 900;/);
  });

  // The wall: a grid of twelve cards, each its own lossy WebP of 280 x 350 (twice the 132 x 165
  // it is shown at), in the order of ui/assets/cards; the style sheet tilts, shadows and fades them.
  test('inlines the wall as a grid of the twelve cards, each a lossy WebP of 280 x 350, and the logo once', () => {
    const wall = html.match(/<div class="wall" aria-hidden="true">\s*<div class="wall-grid">([^]*?)<\/div>\s*<\/div>/);
    assert.ok(wall, 'div.wall > div.wall-grid');
    const imgs = [...wall[1].matchAll(/<img ([^>]*)>/g)].map((m) => m[1]);
    assert.equal(imgs.length, 12, 'twelve cards');
    assert.equal(wall[1].replace(/<img [^>]*>/g, '').trim(), '', 'nothing but the cards in the grid');
    const cards = imgs.map((attributes, i) => {
      const src = attributes.match(/^src="data:image\/webp;base64,([A-Za-z0-9+/=]+)"/);
      assert.ok(src, `card ${i + 1} is a WebP data: URI`);
      assert.match(attributes, / alt=""/, `card ${i + 1} has an empty alt`);
      return Buffer.from(src[1], 'base64');
    });
    assert.deepEqual(cards.map(lossyWebpSize), Array(12).fill([280, 350]));
    for (const [i, card] of cards.entries()) {
      const file = `ui/assets/cards/card-${String(i + 1).padStart(2, '0')}.webp`;
      assert.ok(card.equals(readFileSync(join(ROOT, file))), `card ${i + 1} is ${file}`);
    }
    assert.equal(new Set(cards.map((c) => c.toString('base64'))).size, 12, 'twelve different cards');
    assert.equal(dataUris('image/webp').length, 12, 'no other picture');
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
    assert.deepEqual(scripts.map((m) => m[1]), [' type="application/json" id="page-texts"', ' id="page-script"']);
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
