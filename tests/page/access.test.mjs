// The page for keyboard and screen-reader users: axe's WCAG 2.1 A and AA rules on every screen in
// every language (a scroll box the keyboard cannot reach is one of them), the contrast of every
// text against the pixels actually behind it, and the keyboard's way through the screens.
import { describe, test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { launch, openPage, LANGS, MAIL, ROOT } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const AXE = join(ROOT, 'node_modules/axe-core/axe.min.js');
// Busy last: nothing answers the install request in the sweep.
const CASES = [
  ['ask', 'plain'], ['ask', 'long-folder'], ['done', 'plain'], ['error', 'plain'], ['error', 'long-error'], ['ask', 'busy'],
];

// Every text line of the visible screen that is not inert, with its colour and its box (clipped
// to the scroll box it sits in).
function textLines() {
  const main = document.querySelector('main:not([hidden])');
  const opacity = (el) => (el ? Number(getComputedStyle(el).opacity) * opacity(el.parentElement) : 1);
  const lines = [];
  const walker = document.createTreeWalker(main, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    const el = node.parentElement;
    if (!node.data.trim() || opacity(el) < 1) continue; // inert controls have no contrast minimum
    const clip = el.closest('#error, #path')?.getBoundingClientRect();
    const range = document.createRange();
    range.selectNodeContents(node);
    for (const r of range.getClientRects()) {
      const box = clip
        ? { left: Math.max(r.left, clip.left), top: Math.max(r.top, clip.top), right: Math.min(r.right, clip.right), bottom: Math.min(r.bottom, clip.bottom) }
        : { left: r.left, top: r.top, right: r.right, bottom: r.bottom };
      if (box.right - box.left >= 1 && box.bottom - box.top >= 1) {
        lines.push({ text: node.data.trim().slice(0, 24), color: getComputedStyle(el).color, ...box });
      }
    }
  }
  return lines;
}

// The worst contrast of each line against the lightest and the darkest pixel under it, read from
// a shot of the page taken with every text made transparent.
async function worstContrast({ png, lines }) {
  const img = new Image();
  img.src = `data:image/png;base64,${png}`;
  await img.decode();
  const canvas = new OffscreenCanvas(img.width, img.height);
  const g = canvas.getContext('2d');
  g.drawImage(img, 0, 0);
  const lum = ([r, gr, b]) => {
    const c = [r, gr, b].map((v) => v / 255).map((v) => (v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4));
    return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
  };
  const ratio = (a, b) => (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
  return lines.map((line) => {
    const x = Math.floor(line.left);
    const y = Math.floor(line.top);
    const { data } = g.getImageData(x, y, Math.ceil(line.right) - x, Math.ceil(line.bottom) - y);
    let lo = 1;
    let hi = 0;
    for (let i = 0; i < data.length; i += 4) {
      const l = lum([data[i], data[i + 1], data[i + 2]]);
      lo = Math.min(lo, l);
      hi = Math.max(hi, l);
    }
    const text = lum(line.color.match(/\d+/g).map(Number));
    return { text: line.text, ratio: Math.min(ratio(text, lo), ratio(text, hi)) };
  });
}

async function goTo(p, lang, step, variant) {
  await p.goTo(step, { lang, variant });
  if (variant === 'busy') await p.shown('[data-act="install"]').click();
  await p.page.mouse.move(0, 0);
}

describe('accessibility sweep', () => {
  test('every screen in every language: no WCAG 2.1 A or AA violation, every text at least 4.5:1 against its backdrop', async (t) => {
    const problems = [];
    let least = { ratio: Infinity };
    for (const lang of LANGS) {
      const p = await openPage(browser);
      try {
        await p.page.addScriptTag({ path: AXE });
        for (const [step, variant] of CASES) {
          const name = `${step}-${lang}-${variant}`;
          await goTo(p, lang, step, variant);
          const violations = await p.page.evaluate(async () => (await axe.run(document, {
            runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'] },
          })).violations.map((v) => `${v.id} at ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`));
          for (const v of violations) problems.push(`${name}: ${v}`);

          const lines = await p.page.evaluate(textLines);
          const hide = await p.page.addStyleTag({ content: '*, *::before, *::after { color: transparent !important; }' });
          const png = (await p.page.screenshot({ animations: 'disabled' })).toString('base64');
          await hide.evaluate((el) => el.remove());
          for (const line of await p.page.evaluate(worstContrast, { png, lines })) {
            if (line.ratio < 4.5) problems.push(`${name}: "${line.text}" at ${line.ratio.toFixed(2)}:1`);
            if (line.ratio < least.ratio) least = { ...line, name };
          }
        }
      } finally {
        await p.close();
      }
    }
    t.diagnostic(`lowest contrast: ${least.ratio.toFixed(2)}:1, "${least.text}" (${least.name})`);
    assert.deepEqual(problems, []);
  });
});

describe('keyboard and screen readers', () => {
  const active = (p) => p.page.evaluate(() => {
    const el = document.activeElement;
    return { tag: el.tagName, text: el.textContent, id: el.id, ring: getComputedStyle(el).outlineStyle };
  });

  test('no ring before a key; Tab reaches the mail link and the error box; Enter on the link sends "mail"; focus stays put while busy', async () => {
    const p = await openPage(browser);
    try {
      // Page the host's init opens on: Install has the focus but shows no ring until a key is used.
      await p.init({ lang: 'en' });
      await p.settled();
      assert.deepEqual(await active(p), { tag: 'BUTTON', text: 'Install', id: '', ring: 'none' });
      await p.page.keyboard.press('Tab');
      assert.deepEqual(await active(p), { tag: 'BUTTON', text: 'Cancel', id: '', ring: 'solid' });
      await p.page.keyboard.press('Shift+Tab');

      // Enter installs; the busy button keeps the focus, says so, and a second Enter does nothing.
      await p.page.keyboard.press('Enter');
      assert.deepEqual(await active(p), { tag: 'BUTTON', text: 'Installing…', id: '', ring: 'solid' });
      assert.equal(await p.page.evaluate(() => document.activeElement.getAttribute('aria-busy')), 'true');
      await p.page.keyboard.press('Enter');
      assert.deepEqual(await p.sent(), ['ready', 'install']);

      // The error screen announces itself; backwards from Try again come the link and the error box.
      await p.deliver('error\nC:\\x: Access is denied. (os error 5)');
      assert.match(await p.page.getByRole('alert').textContent(), /Installation failed\s*The plugin could not be copied/);
      await p.page.keyboard.press('Shift+Tab');
      assert.equal(await p.page.getByRole('link', { name: MAIL }).evaluate((a) => a === document.activeElement), true);
      await p.page.keyboard.press('Shift+Tab');
      assert.equal((await active(p)).id, 'error');
      await p.page.keyboard.press('Tab');
      const before = p.page.url();
      await p.page.keyboard.press('Enter');
      assert.deepEqual(await p.sent(), ['ready', 'install', 'mail']);
      assert.equal(p.page.url(), before, 'the page stays where it is');
      assert.equal(p.context.pages().length, 1, 'no other window');

      // Done is announced politely; the install buttons are named by their own label only.
      await p.shown('[data-act="install"]').click();
      await p.deliver('done');
      assert.match(await p.page.getByRole('status').textContent(), /Installed\s*Lumivane is now in Affinity/);
      await p.init({ lang: 'en' });
      assert.equal(await p.page.getByRole('button', { name: 'Install', exact: true }).count(), 1);
    } finally {
      await p.close();
    }
  });
});
