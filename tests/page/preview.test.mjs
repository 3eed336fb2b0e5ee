// The built document opened by itself in a browser: no host, sample values, query parameters.
import { describe, test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, openPage } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

async function preview(query, fn) {
  const p = await openPage(browser, { host: false, query });
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
      assert.equal(await p.page.locator('.wall img').count(), 1);
    }));

  test('without a host, Install stays busy and Cancel does nothing', () =>
    preview('?lang=en', async (p) => {
      await p.shown('[data-act="install"]').click();
      await p.shown('[data-act="close"]').click({ force: true });
      await p.page.keyboard.press('Escape');
      assert.deepEqual(await p.screens(), ['ask']);
      assert.equal(await p.text('main[data-step="ask"] .primary'), 'Installing…');
    }));
});
