// The built document opened by itself in a browser: no host, sample values, query parameters.
import { describe, test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, openPage, blockColours } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

async function preview(query, fn, viewport = undefined) {
  const p = await openPage(browser, { host: false, query, viewport });
  try {
    await fn(p);
    assert.deepEqual(p.errors, []);
  } finally {
    await p.close();
  }
}

const SAMPLE_ERROR = 'C:\\Users\\demo\\.affinity\\Affinity\\3.0\\Plugins\\Lumivane.8bf: Access is denied. (os error 5)';

describe('browser preview', () => {
  test('no query: Spanish ask screen with the sample values', () =>
    preview('', async (p) => {
      assert.deepEqual(await p.screens(), ['ask']);
      assert.equal(await p.page.evaluate(() => document.documentElement.lang), 'es');
      assert.equal(await p.text('.chip'), 'Versión 0.3.0 · 20 efectos');
      assert.equal(await p.text('#path'), 'C:\\Users\\demo\\.affinity\\Affinity\\3.0\\Plugins');
      assert.equal(await p.focused(), 'Instalar');
    }));

  test('empty query values count as absent', () =>
    preview('?lang=&step=', async (p) => {
      assert.deepEqual(await p.screens(), ['ask']);
      assert.equal(await p.text('.chip'), 'Versión 0.3.0 · 20 efectos');
    }));

  test('?lang=pt&step=error: Portuguese error screen with the sample error, Try again focused', () =>
    preview('?lang=pt&step=error', async (p) => {
      assert.deepEqual(await p.screens(), ['error']);
      assert.equal(await p.page.evaluate(() => document.documentElement.lang), 'pt');
      assert.equal(await p.text('main[data-step="error"] h1'), 'Algo impediu a cópia do plugin');
      assert.equal(await p.text('#error'), SAMPLE_ERROR);
      assert.equal(await p.focused(), 'Tentar de novo');
    }));

  test('?lang=ja&step=done: Japanese done screen', () =>
    preview('?lang=ja&step=done', async (p) => {
      assert.deepEqual(await p.screens(), ['done']);
      assert.equal(await p.text('main[data-step="done"] h1'), 'Lumivane を Affinity に追加しました');
      assert.equal(await p.focused(), '閉じる');
    }));

  test('an unknown step shows only the wall', () =>
    preview('?step=elsewhere', async (p) => {
      assert.deepEqual(await p.screens(), []);
      assert.equal(await p.page.locator('.wall').isVisible(), true);
      assert.equal(await p.page.locator('.wall img').count(), 12);
    }));

  // A browser window taller than the installer's shows as much of the wall as its box holds: the
  // grid's lowest cards, below the 400 px the installer shows, down to the box's foot at 550.
  test('a taller window shows the wall as the grid lays it out, below 400 px too', () =>
    preview('?lang=en', async (p) => {
      await p.page.evaluate(() => Promise.all([...document.images].map((img) => img.decode())));
      const lowest = await p.page.locator('.wall-grid img').evaluateAll((imgs) =>
        Math.max(...imgs.map((img) => img.getBoundingClientRect().bottom)));
      assert.ok(lowest > 550, `the lowest card ends at ${lowest}`);
      // Rows of the screenshot with any pixel far from the page's dark background, under the wall.
      const drawn = await p.page.screenshot({ clip: { x: 450, y: 380, width: 190, height: 200 } });
      const { width, rgb } = await blockColours(p.page, drawn, 1);
      const rows = [];
      for (let i = 0; i < rgb.length; i += 3) {
        const y = 380 + Math.floor(i / 3 / width);
        if (rgb[i] + rgb[i + 1] > 200 && rows.at(-1) !== y) rows.push(y);
      }
      assert.ok(rows.length > 0 && Math.max(...rows) > 500, `cards drawn down to ${Math.max(...rows)}`);
      assert.ok(Math.max(...rows) < 551, 'nothing drawn below the wall\'s box');
    }, { width: 640, height: 800 }));

  test('without a host, Install stays busy and Cancel does nothing', () =>
    preview('?lang=en', async (p) => {
      await p.shown('[data-act="install"]').click();
      await p.shown('[data-act="close"]').click({ force: true });
      await p.page.keyboard.press('Escape');
      assert.deepEqual(await p.screens(), ['ask']);
      assert.equal(await p.text('main[data-step="ask"] .primary'), 'Installing…');
    }));
});
