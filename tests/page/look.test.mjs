// The look, measured in Chromium at the installer window's 640 x 400, and screenshots of the
// three screens in five languages for a person to look at.
import { describe, test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { launch, openPage, LANGS, ROOT } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

async function withPage(fn, lang = 'en') {
  const p = await openPage(browser);
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

// Puts the page on the given screen the way the host would.
async function goTo(p, step) {
  if (step === 'ask') return;
  await p.shown('[data-act="install"]').click();
  await p.deliver(step === 'done' ? 'done'
    : 'error\nC:\\Users\\demo\\.affinity\\Affinity\\3.0\\Plugins\\Lumivane.8bf.new: Access is denied. (os error 5)');
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

  test('colour tokens sit on the root and reach the elements', () =>
    withPage(async (p) => {
      const tokens = await style(p, ':root', ['--bg', '--panel-2', '--line', '--text', '--muted', '--muted-2',
        '--green', '--green-2', '--ink', '--red']);
      assert.deepEqual(tokens, {
        '--bg': '#0f0d0d', '--panel-2': '#2a2626', '--line': '#2f2a2a', '--text': '#f4f1ec', '--muted': '#b3ada5',
        '--muted-2': '#7d766f', '--green': '#a7f175', '--green-2': '#92dc62', '--ink': '#0e1318', '--red': '#ff8a7a',
      });
      assert.equal((await style(p, 'body', ['background-color'])) ['background-color'], 'rgb(15, 13, 13)');
      assert.deepEqual(await style(p, '.primary', ['background-color', 'color']),
        { 'background-color': 'rgb(167, 241, 117)', color: 'rgb(14, 19, 24)' });
      assert.deepEqual(await style(p, '.chip', ['background-color', 'color']),
        { 'background-color': 'rgb(42, 38, 38)', color: 'rgb(179, 173, 165)' });
      assert.equal((await style(p, '#path', ['color'])).color, 'rgb(125, 118, 111)');
      assert.equal((await style(p, '.eyebrow.err', ['color'])).color, 'rgb(255, 138, 122)');
      assert.match((await style(p, 'h1', ['font-family']))['font-family'], /^Fraunces/);
      assert.match((await style(p, 'body', ['font-family']))['font-family'], /^Figtree/);
    }));
});

describe('layout at 640 x 400', () => {
  test('the wall starts at x = 290 and takes no pointer; hidden screens are not displayed', () =>
    withPage(async (p) => {
      assert.deepEqual(await box(p, '.wall'), { left: 290, top: -70, right: 760, bottom: 550, width: 470, height: 620 });
      assert.equal((await style(p, '.wall', ['pointer-events']))['pointer-events'], 'none');
      assert.equal((await style(p, 'main[data-step="done"]', ['display'])).display, 'none');
      const sizes = await p.page.locator('.wall-grid img').evaluateAll((imgs) =>
        imgs.map((i) => [i.complete, i.naturalWidth, i.naturalHeight, i.offsetWidth, i.offsetHeight]));
      assert.equal(sizes.length, 12);
      for (const s of sizes) assert.deepEqual(s, [true, 280, 350, 132, 165]);
    }));

  test('the action row sits 30 px above the bottom edge on every screen and language', async () => {
    for (const lang of LANGS) {
      for (const step of ['ask', 'done', 'error']) {
        await withPage(async (p) => {
          await goTo(p, step);
          const row = await box(p, 'main:not([hidden]) .actions');
          assert.equal(row.bottom, 370, `${lang} ${step}`);
          const main = await box(p, 'main:not([hidden])');
          assert.equal(main.width, 340);
          // Nothing in the column runs into the buttons.
          const lowest = await p.page.locator('main:not([hidden]) > :not(.actions)').evaluateAll((els) =>
            Math.max(...els.map((e) => e.getBoundingClientRect().bottom)));
          assert.ok(lowest <= row.top, `${lang} ${step}: content ends at ${lowest}, buttons start at ${row.top}`);
        }, lang);
      }
    }
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
      assert.equal((await style(p, 'main[data-step="ask"] .primary', ['background-color']))['background-color'], 'rgb(146, 220, 98)');
      await install.click();
      await install.hover({ force: true });
      assert.deepEqual(await style(p, 'main[data-step="ask"] .primary', ['opacity', 'cursor', 'background-color']),
        { opacity: '0.7', cursor: 'default', 'background-color': 'rgb(167, 241, 117)' });
    }));
});

describe('screenshots', () => {
  test('three screens in five languages', async () => {
    const dir = process.env.LUMIVANE_SCREENSHOTS || join(ROOT, 'build/page/screenshots');
    mkdirSync(dir, { recursive: true });
    for (const lang of LANGS) {
      for (const step of ['ask', 'done', 'error']) {
        await withPage(async (p) => {
          await goTo(p, step);
          await p.page.mouse.move(0, 0);
          await p.page.screenshot({ path: join(dir, `${step}-${lang}.png`) });
        }, lang);
      }
    }
  });
});
