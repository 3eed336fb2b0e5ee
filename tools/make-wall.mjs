#!/usr/bin/env node
// Draws the installer page's wall of previews once, ahead of time, into one picture with alpha:
// the twelve cards of ui/assets/cards in a tilted grid, each with its rounded corners and its
// shadow, the whole faded in from the left. The wall never changes, so the page shows this one
// picture instead of laying out, decoding, tilting, shadowing and masking twelve cards before
// its first paint.
//
// The wall is drawn in Debian's Chromium (the page's own engine) on a transparent background,
// once at its size and once at twice its size for high-DPI screens (the page's image picks one,
// so a screen at 96 DPI decodes a quarter of the pixels), and encoded by `cwebp` as lossy WebP
// with a lossless alpha plane (the shadows and the fade live in the alpha).
//
//   node tools/make-wall.mjs          writes ui/assets/wall-1x.webp and ui/assets/wall-2x.webp
//
// Needs /usr/bin/chromium and `cwebp` (webp). Rerun after changing a card or the wall's look.
import { chromium } from 'playwright-core';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const ROOT = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const CARDS = join(ROOT, 'ui', 'assets', 'cards');
// The wall's box in the page, in CSS pixels (ui/style.css `.wall`), and the scales it is drawn at.
const WIDTH = 470;
const HEIGHT = 620;
const SCALES = [1, 2];
// The part of the wall that the page shows: it always sees 640 x 400 and the wall stands 70 above
// its top edge and 120 beyond its right edge, so the window shows 350 x 400 of it.
const SHOWN = { x: 0, y: 70, width: 350, height: 400 };
// Colour quality: the cards' own (tools/make-cards.py) loses nothing visible once scaled; the
// alpha plane is kept whole so that the shadows and the fade have no steps.
const QUALITY = 80;

// The look of the wall, as the page drew it live (tests/page/look.test.mjs draws it so to compare
// with the picture). The wall's box in the page is ui/style.css `.wall`; here it stands at 0, 0.
export const WALL_LOOK = `
.wall {
  -webkit-mask-image: linear-gradient(to right, transparent 0, #000 34%);
  mask-image: linear-gradient(to right, transparent 0, #000 34%);
}
.wall-grid {
  display: grid;
  grid-template-columns: repeat(3, 132px);
  gap: 12px;
  transform: rotate(-12deg) translate(40px, 10px);
}
.wall-grid img {
  display: block;
  width: 132px;
  aspect-ratio: 4 / 5;
  object-fit: cover;
  border-radius: 12px;
  box-shadow: 0 16px 34px rgb(0 0 0 / 0.5);
}
.wall-grid img:nth-child(3n + 2) { transform: translateY(-46px); }
.wall-grid img:nth-child(3n) { transform: translateY(-18px); }
`;

// The grid of the twelve cards in document order, each by its file URL.
export function wallGrid() {
  const cards = Array.from({ length: 12 }, (_, i) => {
    const file = join(CARDS, `card-${String(i + 1).padStart(2, '0')}.webp`);
    return `<img src="${pathToFileURL(file).href}" alt="">`;
  }).join('\n');
  return `<div class="wall-grid">${cards}</div>`;
}

function wallDocument() {
  return `<!doctype html><meta charset="utf-8"><style>
html, body { margin: 0; background: transparent; }
.wall { position: absolute; left: 0; top: 0; width: ${WIDTH}px; height: ${HEIGHT}px; }
${WALL_LOOK}</style>
<div class="wall">${wallGrid()}</div>`;
}

// Draws the wall at each scale into ui/assets/wall-<scale>x.webp.
async function makeWall() {
  const work = mkdtempSync(join(tmpdir(), 'make-wall-'));
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-background-networking', '--disable-gpu', '--headless'],
  });
  try {
    const html = join(work, 'wall.html');
    writeFileSync(html, wallDocument());
    for (const scale of SCALES) {
      const png = join(work, `wall-${scale}x.png`);
      const out = join(ROOT, 'ui', 'assets', `wall-${scale}x.webp`);
      const context = await browser.newContext({ viewport: { width: WIDTH, height: HEIGHT }, deviceScaleFactor: scale });
      const page = await context.newPage();
      await page.goto(pathToFileURL(html).href);
      await page.evaluate(() => Promise.all([...document.images].map((img) => img.decode())));
      await page.screenshot({ path: png, clip: SHOWN, omitBackground: true, animations: 'disabled' });
      await context.close();
      execFileSync('cwebp', ['-quiet', '-q', String(QUALITY), '-m', '6', '-alpha_q', '100', '-alpha_filter', 'best',
        '-metadata', 'none', png, '-o', out]);
      console.log(`${out}: ${SHOWN.width * scale} x ${SHOWN.height * scale}`);
    }
  } finally {
    await browser.close();
    rmSync(work, { recursive: true, force: true });
  }
}

// Run as a program (not imported by the tests): draw and write the picture.
if (process.argv[1] && resolve(process.argv[1]) === fileURLToPath(import.meta.url)) await makeWall();
