// The look, measured in Chromium at the installer window's 640 x 400, and screenshots of the
// three screens in five languages for a person to look at, each held against its reference.
import { describe, test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { launch, openPage, pageFile, initText, blockColours, LANGS, STEPS, ROOT } from './harness.mjs';

let browser;
// A blank tab that works out and draws the screenshots' block colours.
let lab;
before(async () => {
  browser = await launch();
  lab = await browser.newPage();
});
after(async () => { await browser.close(); });

async function withPage(fn, lang = 'en') {
  const p = await openPage(browser);
  p.lang = lang;
  try {
    await p.init({ lang });
    await fn(p);
  } finally {
    await p.close();
  }
}

const box = (p, selector) => p.page.locator(selector).first().evaluate((el) => {
  const r = el.getBoundingClientRect();
  return { left: r.left, top: r.top, right: r.right, bottom: r.bottom, width: r.width, height: r.height };
});
const style = (p, selector, props, pseudo = null) => p.page.locator(selector).first().evaluate((el, [names, ps]) => {
  const cs = getComputedStyle(el, ps);
  return Object.fromEntries(names.map((n) => [n, cs.getPropertyValue(n)]));
}, [props, pseudo]);

const goTo = (p, step) => p.goTo(step, { lang: p.lang });

// Every screen in every language, and the worst cases: a 30-line error, a 200-character folder.
const CASES = LANGS.flatMap((lang) => [
  ...STEPS.map((step) => ({ lang, step, variant: 'plain' })),
  { lang, step: 'error', variant: 'long-error' },
  { lang, step: 'ask', variant: 'long-folder' },
]);
const named = ({ lang, step, variant }) => `${step}-${lang}${variant === 'plain' ? '' : '-' + variant}`;

// One page per language, taken from screen to screen as the host would (a new init each time).
async function eachCase(cases, fn) {
  for (const lang of LANGS) {
    const p = await openPage(browser);
    try {
      for (const c of cases.filter((x) => x.lang === lang)) {
        await p.goTo(c.step, c);
        await fn(p, c);
      }
    } finally {
      await p.close();
    }
  }
}

// The column of the visible screen, measured: where the buttons are, the room between them and
// the last block, whether blocks overlap, how far right anything reaches, the error box.
function measureColumn() {
  const main = document.querySelector('main:not([hidden])');
  const rect = (el) => el.getBoundingClientRect();
  const blocks = [...main.children].filter((el) => !el.classList.contains('actions'));
  const buttons = [...main.querySelectorAll('.actions button')].map(rect);
  const overlaps = blocks.slice(1).filter((el, i) => rect(el).top < rect(blocks[i]).bottom - 0.5)
    .map((el) => el.className || el.tagName);
  let right = Math.max(...[...main.querySelectorAll('*')].map((el) => rect(el).right));
  const walker = document.createTreeWalker(main, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    const range = document.createRange();
    range.selectNodeContents(node);
    for (const r of range.getClientRects()) right = Math.max(right, r.right);
  }
  const error = main.querySelector('#error');
  const title = main.querySelector('h1');
  return {
    buttons: buttons.map((b) => [b.left, b.top, b.width, b.height]),
    width: rect(main).width,
    rowBottom: rect(main.querySelector('.actions')).bottom,
    top: Math.min(...buttons.map((b) => b.top)),
    bottom: Math.max(...buttons.map((b) => b.bottom)),
    gap: Math.min(...buttons.map((b) => b.top)) - Math.max(...blocks.map((el) => rect(el).bottom)),
    overlaps,
    right,
    error: error && { height: rect(error).height, content: error.scrollHeight + 2 },
    titleLines: Math.round(rect(title).height / parseFloat(getComputedStyle(title).lineHeight)),
  };
}

// Japanese never starts a line with a prolonged sound mark, a small kana or closing punctuation,
// and never breaks inside a katakana word. Checked character by character on the laid-out lines
// of the visible screen (the folder and the host's error text break anywhere, so they are left out).
function japaneseBreaks() {
  const NO_START = /[ーぁぃぅぇぉっゃゅょゎゕゖァィゥェォッャュョヮヵヶ、。，．・：；？！）」』】〕〉》…]/;
  const KATAKANA = /[ァ-ヺー]/;
  const main = document.querySelector('main:not([hidden])');
  const block = (el) => (getComputedStyle(el).display.startsWith('inline') && el !== main ? block(el.parentElement) : el);
  const bad = [];
  let prev = null;
  const walker = document.createTreeWalker(main, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    if (node.parentElement.closest('#error, #path')) continue;
    if (prev && prev.block !== block(node.parentElement)) prev = null;
    for (let i = 0; i < node.length; i += 1) {
      const range = document.createRange();
      range.setStart(node, i);
      range.setEnd(node, i + 1);
      const r = range.getClientRects()[0];
      const ch = node.data[i];
      if (!r || /\s/.test(ch)) continue;
      const startsLine = prev !== null && r.top > prev.top + 2;
      if (startsLine && NO_START.test(ch)) bad.push(`line starts with ${ch}: …${prev.ch}|${ch}`);
      if (startsLine && KATAKANA.test(ch) && KATAKANA.test(prev.ch)) bad.push(`katakana word broken: ${prev.ch}|${ch}`);
      prev = { top: r.top, ch, block: block(node.parentElement) };
    }
  }
  return bad;
}

describe('tokens and fonts', () => {
  test('both fonts are loaded from the document itself', () =>
    withPage(async (p) => {
      const faces = await p.page.evaluate(async () => {
        await document.fonts.ready;
        return [...document.fonts].map((f) => [f.family.replace(/['"]/g, ''), f.status, f.weight, f.display]);
      });
      assert.deepEqual(faces.sort(), [['Figtree', 'loaded', '300 900', 'block'], ['Fraunces', 'loaded', '100 900', 'block']]);
      assert.equal(await p.page.evaluate(() => document.fonts.check('700 40px Fraunces') && document.fonts.check('600 14px Figtree')), true);
    }));

  // The script makes each face of the style sheet from its own bytes: the first frame after it has
  // run already has both faces, not some frames later. Also in a browser without its own base64
  // decoder, as an older runtime may be. (The browser holds frames back until the script only for
  // so long: on a loaded machine one may come before it, with the page still hidden.)
  test('both fonts are in by the first frame after the script', async () => {
    for (const ownDecoder of [true, false]) {
      const context = await browser.newContext({ viewport: { width: 640, height: 400 } });
      try {
        const page = await context.newPage();
        await page.addInitScript((own) => {
          if (!own) delete Uint8Array.fromBase64;
          const frame = () => {
            // The preview's sample error text is the last thing the script puts in.
            if (!document.getElementById('error')?.textContent) {
              requestAnimationFrame(frame);
              return;
            }
            window.__atFirstFrame = document.fonts.check('700 40px Fraunces') && document.fonts.check('14px Figtree');
          };
          requestAnimationFrame(frame);
        }, ownDecoder);
        await page.goto(pathToFileURL(pageFile()).href);
        await page.waitForFunction(() => window.__atFirstFrame !== undefined);
        assert.equal(await page.evaluate(() => window.__atFirstFrame), true, `own decoder: ${ownDecoder}`);
      } finally {
        await context.close();
      }
    }
  });

  // Until the init the page draws the colour the window has before the page draws (--background).
  test('before the host\'s init, nothing but the window\'s colour is drawn', async () => {
    const p = await openPage(browser);
    const hex = await p.page.evaluate(() => getComputedStyle(document.documentElement).getPropertyValue('--background').trim());
    const { rgb } = await blockColours(lab, await p.page.screenshot(), 20);
    await p.close();
    const colour = [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16));
    assert.equal(rgb.filter((v, i) => Math.abs(v - colour[i % 3]) > 1).length, 0, `every square is ${hex}`);
  });

  // A host that answers "ready" at once, before the fonts can have come in by themselves: the
  // texts must still first appear in their own faces, and nothing may move once it is drawn.
  test('the first screen is drawn in its own fonts and nothing on it moves (layout shift 0)', async () => {
    for (const lang of ['en', 'ja']) {
      const context = await browser.newContext({ viewport: { width: 640, height: 400 } });
      try {
        const page = await context.newPage();
        await page.addInitScript((init) => {
          const listeners = [];
          window.chrome = { webview: {
            postMessage(m) {
              if (m === 'ready') setTimeout(() => listeners.forEach((fn) => fn(new MessageEvent('message', { data: init }))));
            },
            addEventListener(type, fn) { listeners.push(fn); },
          } };
          const seen = (window.__seen = { shifts: [], fontsWhenFilled: null });
          new PerformanceObserver((list) => list.getEntries().forEach((e) => seen.shifts.push(
            e.sources.map((x) => x.node && x.node.nodeName).join() + ' ' + e.value))).observe({ type: 'layout-shift', buffered: true });
          new MutationObserver(() => {
            const chip = document.querySelector('.chip');
            if (seen.fontsWhenFilled === null && chip && chip.textContent) {
              seen.fontsWhenFilled = [...document.fonts].map((f) => f.status).join();
            }
          }).observe(document, { childList: true, subtree: true, characterData: true });
        }, initText({ lang }));
        await page.goto(pathToFileURL(pageFile()).href);
        await page.waitForFunction(() => window.__seen.fontsWhenFilled !== null);
        // Frames enough for any late layout (the fonts, the page's own fitting) to have been drawn.
        await page.evaluate(() => new Promise((done) => {
          let n = 0;
          const next = () => (++n === 10 ? done() : requestAnimationFrame(next));
          requestAnimationFrame(next);
        }));
        const seen = await page.evaluate(() => window.__seen);
        assert.equal(seen.fontsWhenFilled, 'loaded,loaded', lang);
        assert.deepEqual(seen.shifts, [], lang);
      } finally {
        await context.close();
      }
    }
  });

  test('colour tokens sit on the root and reach the elements', () =>
    withPage(async (p) => {
      const tokens = await style(p, ':root', ['--background', '--surface-raised', '--border', '--text', '--text-muted',
        '--text-folder', '--accent', '--accent-hover', '--text-on-accent', '--text-error']);
      assert.deepEqual(tokens, {
        '--background': '#0f0d0d', '--surface-raised': '#2a2626', '--border': '#2f2a2a', '--text': '#f4f1ec',
        '--text-muted': '#b3ada5', '--text-folder': '#8c857e', '--accent': '#a7f175', '--accent-hover': '#92dc62',
        '--text-on-accent': '#0e1318', '--text-error': '#ff8a7a',
      });
      assert.equal((await style(p, 'body', ['background-color'])) ['background-color'], 'rgb(15, 13, 13)');
      assert.deepEqual(await style(p, '.primary', ['background-color', 'color']),
        { 'background-color': 'rgb(167, 241, 117)', color: 'rgb(14, 19, 24)' });
      assert.deepEqual(await style(p, '.chip', ['background-color', 'color']),
        { 'background-color': 'rgb(42, 38, 38)', color: 'rgb(179, 173, 165)' });
      assert.equal((await style(p, '#path', ['color'])).color, 'rgb(140, 133, 126)');
      assert.equal((await style(p, '.eyebrow.err', ['color'])).color, 'rgb(255, 138, 122)');
      assert.match((await style(p, 'h1', ['font-family']))['font-family'], /^Fraunces/);
      assert.match((await style(p, 'body', ['font-family']))['font-family'], /^Figtree/);
      // The serif is cut down to the titles' characters, so nothing else is set in it.
      assert.deepEqual(await p.page.evaluate(() => [...document.body.querySelectorAll('*')]
        .filter((el) => /^"?Fraunces/.test(getComputedStyle(el).fontFamily) && !el.closest('h1'))
        .map((el) => el.tagName)), []);
    }));
});

describe('layout at 640 x 400', () => {
  test('the wall starts at x = 290 and holds twelve cards of 132 x 165 drawn from 280 x 350; it takes no pointer; hidden screens are not displayed', () =>
    withPage(async (p) => {
      assert.deepEqual(await box(p, '.wall'), { left: 290, top: -70, right: 760, bottom: 550, width: 470, height: 620 });
      assert.equal((await style(p, '.wall', ['pointer-events']))['pointer-events'], 'none');
      assert.equal((await style(p, 'main[data-step="done"]', ['display'])).display, 'none');
      const cards = await p.page.locator('.wall > .wall-grid > img').evaluateAll((imgs) =>
        imgs.map((i) => [i.complete, i.naturalWidth, i.naturalHeight, i.offsetWidth, i.offsetHeight]));
      assert.deepEqual(cards, Array(12).fill([true, 280, 350, 132, 165]));
    }));

  test('every screen, language and worst case: buttons 30 px above the bottom, clear of the text and still when busy, nothing wider than the column', async (t) => {
    const problems = [];
    let tightest = { gap: Infinity };
    await eachCase(CASES, async (p, c) => {
      const m = await p.page.evaluate(measureColumn);
      const name = named(c);
      if (m.rowBottom !== 370) problems.push(`${name}: action row ends at ${m.rowBottom}`);
      if (m.width !== 340) problems.push(`${name}: column ${m.width} wide`);
      if (m.top < 0 || m.bottom > 400) problems.push(`${name}: buttons at ${m.top}..${m.bottom}, outside the window`);
      if (m.gap < 8) problems.push(`${name}: ${m.gap.toFixed(1)} px between the text and the buttons`);
      if (m.overlaps.length) problems.push(`${name}: ${m.overlaps.join(', ')} run into the block above`);
      if (m.right > 340.5) problems.push(`${name}: something reaches x = ${m.right}`);
      if (m.error && (m.error.height > 84 || m.error.height < Math.min(84, m.error.content) - 0.5)) {
        problems.push(`${name}: error box ${m.error.height} high for ${m.error.content} of content`);
      }
      if (c.step !== 'ask' && m.titleLines > 2) problems.push(`${name}: title on ${m.titleLines} lines`);
      if (m.gap < tightest.gap) tightest = { gap: m.gap, name };
      if (c.step !== 'done' && c.variant === 'plain') {
        // "Installing…" takes the label without moving or resizing a button.
        await p.shown('[data-act="install"]').click();
        await p.settled(); // the press's scale has eased back
        const busy = (await p.page.evaluate(measureColumn)).buttons;
        if (JSON.stringify(busy) !== JSON.stringify(m.buttons)) problems.push(`${name}: buttons move when busy`);
        await p.deliver('error\nx');
      }
    });
    t.diagnostic(`least room above the buttons: ${tightest.gap.toFixed(1)} px (${tightest.name})`);
    assert.deepEqual(problems, []);
  });

  test('Japanese lines start with no prolonged sound mark, small kana or closing punctuation, and keep katakana words whole', async () => {
    const problems = [];
    await eachCase(CASES.filter((x) => x.lang === 'ja'), async (p, c) => {
      for (const b of await p.page.evaluate(japaneseBreaks)) problems.push(`${named(c)}: ${b}`);
    });
    assert.deepEqual(problems, []);
  });

  test('done title: 24 px / 1.35 in Japanese, 30 px / 1.1 otherwise', async () => {
    for (const lang of LANGS) {
      await withPage(async (p) => {
        await goTo(p, 'done');
        const s = await style(p, 'main[data-step="done"] h1', ['font-size', 'line-height']);
        assert.deepEqual(s, lang === 'ja'
          ? { 'font-size': '24px', 'line-height': '32.4px' }
          : { 'font-size': '30px', 'line-height': '33px' }, lang);
      }, lang);
    }
  });

  test('a long error scrolls inside 84 px while the text and buttons stay in place', () =>
    withPage(async (p) => {
      await p.shown('[data-act="install"]').click();
      await p.deliver('error\n' + Array.from({ length: 30 }, (_, i) => `line ${i} ${'x'.repeat(80)}`).join('\n'));
      const error = await p.page.locator('#error').evaluate((el) =>
        ({ height: el.getBoundingClientRect().height, scroll: el.scrollHeight, client: el.clientHeight }));
      assert.equal(error.height, 84);
      assert.ok(error.scroll > error.client, 'the box scrolls');
      const support = await box(p, 'main[data-step="error"] p');
      const row = await box(p, 'main[data-step="error"] .actions');
      assert.equal(row.bottom, 370);
      assert.ok(support.bottom <= row.top && support.top >= (await box(p, '#error')).bottom);
      assert.equal((await style(p, '#error', ['user-select']))['user-select'], 'text');
      assert.equal((await style(p, 'body', ['user-select']))['user-select'], 'none');
    }));

  test('a long folder wraps inside its box, at backslashes', () =>
    withPage(async (p) => {
      await p.init({ path: 'C:\\Users\\a-rather-long-user-name\\AppData\\Roaming\\.affinity\\Affinity\\3.0\\Plugins' });
      const pathBox = await box(p, '.path');
      assert.ok(pathBox.right <= 340, `path box ends at ${pathBox.right}`);
      const lines = await p.page.locator('#path').evaluate((span) => {
        // Each piece between break opportunities must stay on one line; the lines must differ.
        const tops = [];
        for (const node of span.childNodes) {
          if (node.nodeType !== Node.TEXT_NODE) continue;
          const range = document.createRange();
          range.selectNodeContents(node);
          const rects = [...range.getClientRects()];
          if (rects.length !== 1) return { split: node.textContent };
          tops.push(rects[0].top);
        }
        return { lines: new Set(tops).size, wide: span.scrollWidth <= span.parentElement.clientWidth };
      });
      assert.equal(lines.split, undefined, `"${lines.split}" was broken inside a name`);
      assert.ok(lines.lines >= 2, 'the path takes more than one line');
      assert.equal(lines.wide, true);
      assert.equal((await box(p, 'main[data-step="ask"] .actions')).bottom, 370);
    }));

  test('the third step shows its menu path bold in the text colour', () =>
    withPage(async (p) => {
      await goTo(p, 'done');
      assert.deepEqual(await style(p, '#steps li:nth-child(3) b', ['color', 'font-weight']),
        { color: 'rgb(244, 241, 236)', 'font-weight': '600' });
      assert.equal((await style(p, '#steps li', ['color'])).color, 'rgb(179, 173, 165)');
      assert.deepEqual(await style(p, '#steps li:nth-child(2)', ['content', 'width', 'background-color'], '::before'),
        { content: 'counter(step)', width: '22px', 'background-color': 'rgb(42, 38, 38)' });
    }));
});

describe('buttons', () => {
  test('Tab shows the green focus ring; a mouse click shows none', () =>
    withPage(async (p) => {
      await p.page.mouse.click(150, 120);
      await p.page.keyboard.press('Tab');
      await p.page.keyboard.press('Tab');
      const ring = await p.page.evaluate(() => {
        const cs = getComputedStyle(document.activeElement);
        return [document.activeElement.textContent, cs.outlineStyle, cs.outlineWidth, cs.outlineColor, cs.outlineOffset];
      });
      assert.deepEqual(ring, ['Cancel', 'solid', '2px', 'rgb(167, 241, 117)', '2px']);
      await p.shown('.primary').click();
      await p.deliver('error\nx');
      await p.shown('.ghost').click({ force: true });
      const clicked = await p.page.evaluate(() =>
        [document.activeElement.textContent, getComputedStyle(document.activeElement).outlineStyle]);
      assert.deepEqual(clicked, ['Close', 'none']);
    }));

  test('after a mouse-driven install the next screen\'s button has focus but no ring until a key is used', () =>
    withPage(async (p) => {
      await p.shown('.primary').click();
      await p.deliver('done');
      const focused = () => p.page.evaluate(() =>
        [document.activeElement.textContent, getComputedStyle(document.activeElement).outlineStyle]);
      assert.deepEqual(await focused(), ['Close', 'none']);
      await p.page.keyboard.press('Shift');
      assert.deepEqual(await focused(), ['Close', 'solid']);
    }));

  test('a disabled Install is at 70 % with the default cursor and keeps its green under the pointer', () =>
    withPage(async (p) => {
      const install = p.shown('.primary');
      await install.hover();
      await p.settled();
      assert.equal((await style(p, 'main[data-step="ask"] .primary', ['background-color']))['background-color'], 'rgb(146, 220, 98)');
      await install.click();
      await install.hover({ force: true });
      await p.settled();
      assert.deepEqual(await style(p, 'main[data-step="ask"] .primary', ['opacity', 'cursor', 'background-color']),
        { opacity: '0.7', cursor: 'default', 'background-color': 'rgb(167, 241, 117)' });
    }));
});

describe('motion', () => {
  // The animation an element runs: its name, its length and the properties its keyframes move.
  const motion = (p, selector, pseudo = null) => p.page.locator(selector).first().evaluate((el, ps) => {
    const cs = getComputedStyle(el, ps);
    const rule = [...document.styleSheets[0].cssRules].find((r) => r instanceof CSSKeyframesRule && r.name === cs.animationName);
    return { name: cs.animationName, ms: parseFloat(cs.animationDuration) * 1000,
      props: rule ? [...new Set([...rule.cssRules].flatMap((k) => [...k.style]))] : [] };
  }, pseudo);

  // The ask screen is the page's first and is painted finished at once; the screens that follow
  // it fade in.
  test('the ask screen shows at once, later screens fade in within 150 ms, the busy bar moves by transform alone; nothing moves when motion is reduced', async () => {
    for (const reducedMotion of ['no-preference', 'reduce']) {
      const p = await openPage(browser, { reducedMotion });
      try {
        await p.init({ lang: 'en' });
        assert.equal((await motion(p, 'main[data-step="ask"]')).name, 'none');
        await p.shown('[data-act="install"]').click();
        const bar = await motion(p, 'main[data-step="ask"] .primary', '::before');
        await p.deliver('done');
        const fade = await motion(p, 'main[data-step="done"]');
        if (reducedMotion === 'reduce') {
          assert.deepEqual([fade.name, bar.name], ['none', 'none']);
        } else {
          assert.ok(fade.ms <= 150 && fade.props.join() === 'opacity', JSON.stringify(fade));
          assert.deepEqual(bar.props, ['transform'], 'the compositor alone can run it');
        }
      } finally {
        await p.close();
      }
    }
  });
});

// The references: for each screen in each language, the mean colour of every 8 x 8 block of its
// screenshot, kept as a small picture in tests/page/look/. A card swapped, or the wall's tilt, fade
// or shadows lost, moves whole blocks by far more than the tolerance; the cards' lossy coding, at
// any quality that still looks the same, moves them by less. LUMIVANE_LOOK_RENEW=1 writes them anew
// (after a change of look that a person has checked in the screenshots).
const LOOK = join(ROOT, 'tests/page/look');
const BLOCK = 8;
const TOLERANCE = 6;

// Block colours as a PNG of one pixel per block, and back.
function blocksToPng({ width, height, rgb }) {
  return lab.evaluate(async ([w, h, values]) => {
    const canvas = new OffscreenCanvas(w, h);
    const image = new ImageData(w, h);
    values.forEach((v, i) => { image.data[Math.floor(i / 3) * 4 + (i % 3)] = v; });
    for (let i = 3; i < image.data.length; i += 4) image.data[i] = 255;
    canvas.getContext('2d').putImageData(image, 0, 0);
    const bytes = new Uint8Array(await (await canvas.convertToBlob({ type: 'image/png' })).arrayBuffer());
    return btoa(String.fromCharCode(...bytes));
  }, [width, height, rgb]).then((b64) => Buffer.from(b64, 'base64'));
}

// Where a screenshot's blocks differ from the reference's by more than the tolerance.
async function againstReference(name, png) {
  const file = join(LOOK, `${name}.png`);
  const shot = await blockColours(lab, png, BLOCK);
  if (process.env.LUMIVANE_LOOK_RENEW) {
    mkdirSync(LOOK, { recursive: true });
    writeFileSync(file, await blocksToPng(shot));
    return { worst: 0, problem: null };
  }
  const reference = await blockColours(lab, readFileSync(file), 1);
  assert.deepEqual([shot.width, shot.height], [reference.width, reference.height], name);
  let worst = { diff: 0 };
  let off = 0;
  for (let i = 0; i < shot.rgb.length; i += 3) {
    const diff = Math.max(...[0, 1, 2].map((c) => Math.abs(shot.rgb[i + c] - reference.rgb[i + c])));
    if (diff > TOLERANCE) off += 1;
    if (diff > worst.diff) worst = { diff, x: ((i / 3) % shot.width) * BLOCK, y: Math.floor(i / 3 / shot.width) * BLOCK };
  }
  return { worst: worst.diff, problem: off ? `${name}: ${off} blocks off, worst by ${worst.diff} at (${worst.x}, ${worst.y})` : null };
}

describe('screenshots', () => {
  test('every screen in every language, the worst cases and the busy state; each plain screen as its reference', async (t) => {
    const dir = process.env.LUMIVANE_SCREENSHOTS || join(ROOT, 'build/page/screenshots');
    mkdirSync(dir, { recursive: true });
    const shots = [...CASES, ...LANGS.map((lang) => ({ lang, step: 'ask', variant: 'busy' }))];
    const compared = [];
    await eachCase(shots, async (p, c) => {
      if (c.variant === 'busy') await p.shown('[data-act="install"]').click();
      await p.page.mouse.move(0, 0);
      const png = await p.page.screenshot({ path: join(dir, `${named(c)}.png`), animations: 'disabled' });
      if (c.variant === 'plain') compared.push(await againstReference(named(c), png));
    });
    t.diagnostic(`largest block difference: ${Math.max(...compared.map((r) => r.worst))} of ${TOLERANCE} allowed`);
    assert.deepEqual(compared.map((r) => r.problem).filter(Boolean), []);
  });
});
