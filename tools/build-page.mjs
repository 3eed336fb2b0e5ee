#!/usr/bin/env node
// Joins the installer page (ui/index.html with its style sheet, script, text table, fonts, logo
// and twelve preview cards) into one self-contained UTF-8 document with every asset as a base64
// data: URI, because the setup hands the page to WebView2 as one string and the page may load
// nothing from outside.
//
//   node tools/build-page.mjs <support e-mail address> <output.html>
//
// The fonts' licence texts are copied to licenses/ beside the output.
//
// The fonts go in cut down to the characters the page sets in them (the sans the body, the serif
// the titles; see bodyCharacters and titleCharacters), so that the document stays small and the
// browser has little to unpack before the first paint. Whatever the fonts lack (Japanese, the
// folder, the error text) comes from the system's fonts, as it did before. Axes the page never
// moves are fixed at the value it uses.
import { readFileSync, writeFileSync, mkdirSync, copyFileSync } from 'node:fs';
import { basename, dirname, extname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import subsetFont from 'subset-font';

const ROOT = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const UI = join(ROOT, 'ui');
// The page's markup and its text table, read once: the fonts' characters come from both.
const PAGE_SOURCE = readFileSync(join(UI, 'index.html'), 'utf8');
const TEXT_TABLE = readFileSync(join(UI, 'texts.json'), 'utf8');
const MEDIA_TYPES = { '.woff2': 'font/woff2', '.webp': 'image/webp', '.png': 'image/png' };
// The whole document: parsing it is part of the wait for the first screen.
const SIZE_LIMIT = 256 * 1024;
const FONT_PACKAGES = ['@fontsource-variable/fraunces', '@fontsource-variable/figtree'];
// What each font file keeps: the characters it sets (see below) and its axes. Both are the
// packages' weight-axis faces: the other axes of Fraunces (optical size, softness, wonkiness)
// would double its file, and every byte of it is decoded before the first titles show. Each
// keeps its weight axis whole.
const FONT_SUBSETS = {
  'fraunces-latin-wght-normal.woff2': { axes: {}, characters: titleCharacters },
  'figtree-latin-wght-normal.woff2': { axes: {}, characters: bodyCharacters },
};

function fail(message) {
  console.error(`build-page: ${message}`);
  process.exit(1);
}

// The address lands in an HTML attribute and in the mail link the script writes, so it may hold
// none of the characters that would need escaping there.
function checkMail(mail) {
  if (!/^[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+$/.test(mail ?? '')) fail(`not a plain e-mail address: "${mail}"`);
  return mail;
}

function dataUri(type, bytes) {
  return `data:${type};base64,${bytes.toString('base64')}`;
}

function fileUri(fromDir, ref) {
  const file = resolve(fromDir, ref);
  const type = MEDIA_TYPES[extname(file)];
  if (!type) fail(`no media type for ${ref}`);
  return dataUri(type, readFileSync(file));
}

// The characters of the body: printable ASCII and every character of the text table.
function bodyCharacters() {
  let ascii = '';
  for (let c = 0x20; c < 0x7f; c += 1) ascii += String.fromCharCode(c);
  return [...new Set(ascii + TEXT_TABLE)].join('');
}

// The characters of the titles: each h1's own text and, where it is bound to a key, that key's
// text in every language. Also the letters by which a renderer that hints on its own (FreeType's
// autohinter, as Chromium on Linux uses) measures the face's capital, x-height, ascender and
// descender lines: without them it would not snap the titles' tops to the pixel grid, and they
// would come out a half pixel softer than the same face uncut.
const HINTING_LETTERS = 'THEZOCQSLUfijkdbhxzroescpqgy';
function titleCharacters() {
  const sets = Object.values(JSON.parse(TEXT_TABLE));
  const titles = [...PAGE_SOURCE.matchAll(/<h1\b([^>]*)>([^<]*)<\/h1>/g)];
  if (titles.length === 0) fail('index.html has no title');
  let text = HINTING_LETTERS;
  for (const [, attributes, inner] of titles) {
    const key = /data-t="([^"]+)"/.exec(attributes);
    text += inner + (key ? sets.map((set) => set[key[1]] ?? fail(`no text "${key[1]}" for a title`)).join('') : '');
  }
  return [...new Set(text)].join('');
}

async function subsetUri(file) {
  const subset = FONT_SUBSETS[basename(file)];
  if (!subset) fail(`no subset settings for ${file}`);
  const bytes = await subsetFont(readFileSync(file), subset.characters(), { targetFormat: 'woff2', variationAxes: subset.axes });
  return dataUri('font/woff2', bytes);
}

async function inlineCss(file) {
  const css = readFileSync(file, 'utf8');
  const uris = new Map();
  for (const [, ref] of css.matchAll(/url\("([^"]+)"\)/g)) {
    const path = resolve(dirname(file), ref);
    if (!uris.has(ref)) uris.set(ref, extname(path) === '.woff2' ? await subsetUri(path) : fileUri(dirname(file), ref));
  }
  return css.replace(/url\("([^"]+)"\)/g, (_, ref) => `url("${uris.get(ref)}")`);
}

// A script's text, or the text table as a JSON island: either must not end its element early.
// Characters beyond ASCII (the Japanese and accented texts) are written as \u escapes, which
// JSON and script strings read back as the same characters; see asciiOnly below.
function inlineScript(file) {
  const text = readFileSync(file, 'utf8');
  if (/<\/script/i.test(text)) fail(`${file} contains "</script"`);
  return text.replace(/[^\x00-\x7f]/g, (c) => `\\u${c.charCodeAt(0).toString(16).padStart(4, '0')}`);
}

// The browser keeps a document of ASCII alone in one byte per character; a single character
// beyond it makes every string of the document, the inlined assets among them, twice as large to
// decode, scan and parse before the first frame.
function asciiOnly(html) {
  const at = html.search(/[^\x00-\x7f]/);
  if (at >= 0) fail(`a character beyond ASCII at ${at}: ${JSON.stringify(html.slice(Math.max(0, at - 30), at + 10))}`);
  return html;
}

// The support address is data in the document, a meta element that the script reads.
function fillMail(html, mail) {
  const meta = /<meta name="support-mail" content="[^"]*">/g;
  if ((html.match(meta) ?? []).length !== 1) fail('index.html needs one <meta name="support-mail">');
  return html.replace(meta, () => `<meta name="support-mail" content="${mail}">`);
}

async function build(mail) {
  let html = PAGE_SOURCE;
  const sheet = html.match(/<link rel="stylesheet" href="([^"]+)">/);
  if (!sheet) fail('index.html needs one <link rel="stylesheet">');
  const css = await inlineCss(join(UI, sheet[1]));
  html = html.replace(sheet[0], () => `<style>\n${css}</style>`);
  html = fillMail(html, mail);
  html = html.replace(/<script((?: [a-z]+="[^"]*")*) src="([^"]+)"><\/script>/g,
    (_, attributes, ref) => `<script${attributes}>\n${inlineScript(join(UI, ref))}</script>`);
  html = html.replace(/<img src="([^"]+)"/g, (_, ref) => `<img src="${fileUri(UI, ref)}"`);
  const notice = FONT_PACKAGES.map((p) => readFileSync(join(ROOT, 'node_modules', p, 'LICENSE'), 'utf8')
    .split('\n')[0].replace(/--/g, '-')).join('\n');
  html = html.replace('</html>', `<!--\nFonts, under the SIL Open Font License 1.1:\n${notice}\n-->\n</html>`);
  // A mail link names no resource: the page never follows it (the host opens the mail program).
  // A fragment names an element of the document itself.
  const leftover = html.match(/(?:src|srcset|href)="(?!data:|mailto:|#)[^"]*"|url\("(?!data:)/);
  if (leftover) fail(`reference left outside the document: ${leftover[0]}`);
  return html;
}

const [mailArg, outArg] = process.argv.slice(2);
if (!outArg) fail('usage: build-page.mjs <support e-mail address> <output.html>');
const html = asciiOnly(await build(checkMail(mailArg)));
const size = Buffer.byteLength(html, 'utf8');
if (size > SIZE_LIMIT) fail(`the page is ${size} bytes, over ${SIZE_LIMIT}`);
const out = resolve(outArg);
mkdirSync(join(dirname(out), 'licenses'), { recursive: true });
for (const p of FONT_PACKAGES) {
  copyFileSync(join(ROOT, 'node_modules', p, 'LICENSE'), join(dirname(out), 'licenses', `${p.split('/')[1]}-OFL.txt`));
}
writeFileSync(out, html);
console.log(`${out}: ${size} bytes`);
