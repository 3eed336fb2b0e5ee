// The page inside the installer window: what it sends, and what it shows for each host message.
import { describe, test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, openPage, initText, MAIL, DEMO_PATH } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

async function withPage(options, fn) {
  const p = await openPage(browser, options);
  try {
    await fn(p);
    assert.deepEqual(p.errors, [], 'the page threw');
  } finally {
    await p.close();
  }
}

const CHIP = {
  en: 'Version 0.4.0 · 30 effects',
  es: 'Versión 0.4.0 · 30 efectos',
  pt: 'Versão 0.4.0 · 30 efeitos',
  ja: 'バージョン 0.4.0 · 30 種類のエフェクト',
  id: 'Versi 0.4.0 · 30 efek',
};
const BUTTONS = {
  en: ['Install', 'Cancel'], es: ['Instalar', 'Cancelar'], pt: ['Instalar', 'Cancelar'],
  ja: ['インストール', 'キャンセル'], id: ['Pasang', 'Batal'],
};

describe('start-up', () => {
  test('sends "ready" once, after its listener exists, and shows nothing before the init', () =>
    withPage({}, async (p) => {
      await p.page.waitForTimeout(300);
      assert.deepEqual(await p.sent(), ['ready']);
      assert.equal(await p.page.evaluate(() => window.__host.readyBeforeListener), false);
      assert.deepEqual(await p.screens(), ['ask']);
      assert.equal(await p.text('main[data-step="ask"] h1'), 'Lumivane');
      assert.equal(await p.page.title(), 'Lumivane');
      assert.equal(await p.page.evaluate(() => document.documentElement.lang), 'en');
      const filled = await p.page.evaluate(() =>
        [...document.querySelectorAll('[data-t]')].filter((el) => el.innerHTML !== '').length);
      assert.equal(filled, 0, 'text-bound elements are empty before init');
      const parts = ['.wall img', 'main[data-step="ask"] h1', '.chip', '.path', 'main[data-step="ask"] button'];
      for (const part of parts) {
        assert.equal(await p.page.locator(part).first().isVisible(), false, `${part} is not drawn before the init`);
      }
      // The fonts are in, so the init is applied at once, not after a font promise's task.
      assert.equal(await p.page.evaluate((text) => {
        window.__host.deliver(text);
        return document.querySelector('.chip').textContent;
      }, initText({ lang: 'en' })), CHIP.en);
      for (const filledIn of parts) {
        assert.equal(await p.page.locator(filledIn).first().isVisible(), true, `${filledIn} shows after init`);
      }
    }));
});

describe('init', () => {
  test('each language fills its texts and sets the root language', () =>
    withPage({}, async (p) => {
      for (const lang of Object.keys(CHIP)) {
        await p.init({ lang });
        assert.equal(await p.page.evaluate(() => document.documentElement.lang), lang);
        assert.equal(await p.text('.chip'), CHIP[lang]);
        const labels = await p.page.locator('main[data-step="ask"] button').allTextContents();
        assert.deepEqual(labels, BUTTONS[lang]);
        assert.equal(await p.page.locator('#steps li').count(), 3);
        assert.equal(await p.focused(), BUTTONS[lang][0], 'Install has the focus');
      }
    }));

  test('codes without a text set give English and lang="en"', () =>
    withPage({}, async (p) => {
      for (const lang of ['fr', 'de', 'constructor', '__proto__', 'toString', 'EN', 42, null]) {
        await p.init({ lang: 'ja' });
        await p.init({ lang });
        assert.equal(await p.page.evaluate(() => document.documentElement.lang), 'en', String(lang));
        assert.equal(await p.text('.chip'), CHIP.en, String(lang));
        assert.equal(await p.text('main[data-step="error"] [data-t="errTitle"]'), 'The plugin could not be copied');
      }
    }));

  test('host values are escaped and placeholders taken literally', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'id', version: '<i>1</i> $& $1', effects: '"&"' });
      assert.equal(await p.text('.chip'), 'Versi <i>1</i> $& $1 · "&" efek');
      assert.equal(await p.page.locator('.chip i').count(), 0);
    }));

  test('the support link shows the address as a mail link', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'en' });
      const link = p.page.locator('main[data-step="error"] p a');
      assert.equal(await link.textContent(), MAIL);
      assert.equal(await link.getAttribute('data-act'), 'mail');
      assert.equal(await link.getAttribute('href'), `mailto:${MAIL}`);
      assert.equal(await p.text('main[data-step="error"] p'), `Write to ${MAIL} and we’ll help you.`);
    }));

  test('the folder gets a break opportunity after every backslash and is shown as typed', () =>
    withPage({}, async (p) => {
      await p.init({ path: DEMO_PATH });
      assert.equal(await p.text('#path'), DEMO_PATH);
      assert.equal(await p.page.locator('#path').evaluate((el) => el.innerHTML),
        'C:\\<wbr>Users\\<wbr>demo\\<wbr>.affinity\\<wbr>Affinity\\<wbr>3.0\\<wbr>Plugins');
      await p.init({ path: 'D:\\Tom & Jerry <x>\\"Plugins"' });
      assert.equal(await p.text('#path'), 'D:\\Tom & Jerry <x>\\"Plugins"');
      assert.equal(await p.page.locator('#path x').count(), 0);
      await p.init({ path: '' });
      assert.equal(await p.text('#path'), '');
      assert.equal(await p.text('.path'), 'Folder', 'an empty folder leaves only the label');
    }));

  test('the done steps carry the bold menu path', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'es' });
      assert.deepEqual(await p.page.locator('#steps li').allTextContents(), [
        'Reinicia Affinity si estaba abierto.',
        'Selecciona una capa de píxeles.',
        'Elige Filtros › Complementos › Orvelle › Lumivane.',
      ]);
      assert.equal(await p.text('#steps li:nth-child(3) b'), 'Filtros › Complementos › Orvelle › Lumivane');
    }));

  test('an init body that is not a JSON object is ignored and the page keeps working', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'pt' });
      for (const bad of ['init\n{"lang":"es"', 'init\nnull', 'init\n[1,2]', 'init\n"es"', 'init', 'init\n']) {
        await p.deliver(bad);
        assert.equal(await p.text('.chip'), 'Versão 0.4.0 · 30 efeitos', JSON.stringify(bad));
      }
      await p.init({ lang: 'es' });
      assert.equal(await p.text('.chip'), CHIP.es);
    }));

  test('a second init goes back to the ask screen with the new data', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'en' });
      await p.shown('[data-act="install"]').click();
      await p.deliver('done');
      assert.deepEqual(await p.screens(), ['done']);
      await p.init({ lang: 'pt', path: 'E:\\x' });
      assert.deepEqual(await p.screens(), ['ask']);
      assert.equal(await p.focused(), 'Instalar');
      assert.equal(await p.text('#path'), 'E:\\x');
    }));

  test('other host messages are ignored', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'en' });
      for (const m of ['hello', 'Done', 'done ', 'ERROR\nx', 'error2\nx', ' init\n{}', '']) await p.deliver(m);
      assert.deepEqual(await p.screens(), ['ask']);
      assert.deepEqual(await p.sent(), ['ready']);
    }));
});

describe('install request', () => {
  test('Install makes every action inert, labels both install buttons and sends one "install"', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'en' });
      await p.shown('[data-act="install"]').click();
      assert.deepEqual(await p.sent(), ['ready', 'install']);
      const buttons = await p.page.locator('[data-act="install"]').evaluateAll((els) =>
        els.map((b) => [b.getAttribute('aria-disabled'), b.getAttribute('aria-busy'), b.textContent, b.dataset.label]));
      assert.deepEqual(buttons, [['true', 'true', 'Installing…', 'Install'], ['true', 'true', 'Installing…', 'Try again']]);
      assert.deepEqual(await p.page.locator('[data-act]:not([aria-disabled="true"])').count(), 0);
      await p.deliver('done');
      assert.deepEqual(await p.page.locator('[aria-disabled], [aria-busy]').count(), 0, 'all live again');
    }));

  test('a double click sends one "install"', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'en' });
      await p.shown('[data-act="install"]').dblclick();
      await p.page.keyboard.press('Enter');
      assert.deepEqual(await p.sent(), ['ready', 'install']);
    }));

  test('Escape, Cancel, Close and the mail link do nothing while busy', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'en' });
      await p.shown('[data-act="install"]').click();
      // Inert, not disabled: the clicks arrive, and the page ignores them.
      await p.page.keyboard.press('Escape');
      await p.shown('[data-act="close"]').click({ force: true });
      await p.deliver('error\nfirst');
      await p.shown('[data-act="install"]').click();
      await p.page.keyboard.press('Escape');
      await p.shown('button[data-act="close"]').click({ force: true });
      await p.shown('a[data-act="mail"]').click({ force: true });
      assert.deepEqual(await p.sent(), ['ready', 'install', 'install']);
      await p.deliver('done');
      await p.page.keyboard.press('Escape');
      assert.deepEqual(await p.sent(), ['ready', 'install', 'install', 'close']);
    }));

  test('Escape and Cancel send "close" on the ask screen', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'en' });
      await p.page.keyboard.press('Escape');
      await p.shown('[data-act="close"]').click();
      await p.page.keyboard.press('a');
      assert.deepEqual(await p.sent(), ['ready', 'close', 'close']);
    }));

  test('done shows the done screen with Close focused', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'en' });
      await p.shown('[data-act="install"]').click();
      await p.deliver('done');
      assert.deepEqual(await p.screens(), ['done']);
      assert.equal(await p.focused(), 'Close');
      assert.equal(await p.text('main[data-step="done"] h1'), 'Lumivane is now in Affinity');
      await p.shown('[data-act="close"]').click();
      assert.deepEqual(await p.sent(), ['ready', 'install', 'close']);
    }));

  test('the error text is shown as typed, line breaks and markup included', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'en' });
      await p.shown('[data-act="install"]').click();
      await p.deliver('error\n<b>x</b>\nsecond line & more');
      assert.deepEqual(await p.screens(), ['error']);
      assert.equal(await p.text('#error'), '<b>x</b>\nsecond line & more');
      assert.equal(await p.page.locator('#error b').count(), 0);
      assert.equal(await p.focused(), 'Try again');
      await p.shown('a[data-act="mail"]').click();
      assert.deepEqual(await p.sent(), ['ready', 'install', 'mail']);
      assert.deepEqual(await p.screens(), ['error'], 'mail leaves the page as it is');
    }));

  test('error, Try again, done: both install buttons get their own labels back', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'en' });
      await p.shown('[data-act="install"]').click();
      await p.deliver('error\nfirst');
      await p.shown('[data-act="install"]').click();
      assert.equal(await p.text('main[data-step="error"] .primary'), 'Installing…');
      await p.deliver('error\nsecond');
      assert.equal(await p.text('#error'), 'second');
      await p.shown('[data-act="install"]').click();
      await p.deliver('done');
      assert.deepEqual(await p.screens(), ['done']);
      const buttons = await p.page.locator('[data-act="install"]').evaluateAll((els) =>
        els.map((b) => [b.disabled, b.textContent]));
      assert.deepEqual(buttons, [[false, 'Install'], [false, 'Try again']]);
      assert.deepEqual(await p.sent(), ['ready', 'install', 'install', 'install']);
    }));

  test('an outcome that arrives while not busy is applied all the same', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'en' });
      await p.deliver('error\nunasked');
      assert.deepEqual(await p.screens(), ['error']);
      assert.equal(await p.text('main[data-step="error"] .primary'), 'Try again');
      await p.deliver('done');
      assert.deepEqual(await p.screens(), ['done']);
    }));

  test('the context menu is suppressed', () =>
    withPage({}, async (p) => {
      await p.init({ lang: 'en' });
      await p.page.evaluate(() => window.addEventListener('contextmenu', (e) => { window.__menu = e.defaultPrevented; }));
      await p.page.mouse.click(100, 200, { button: 'right' });
      assert.equal(await p.page.evaluate(() => window.__menu), true);
    }));
});

describe('automatic start', () => {
  test('sends exactly one "install" 1200 ms after an init with auto', () =>
    withPage({ clock: true }, async (p) => {
      await p.init({ lang: 'en', auto: true });
      await p.page.clock.runFor(1199);
      assert.deepEqual(await p.sent(), ['ready']);
      await p.page.clock.runFor(1);
      assert.deepEqual(await p.sent(), ['ready', 'install']);
      const install = p.page.locator('main[data-step="ask"] .primary');
      assert.equal(await install.isDisabled(), true);
      assert.equal(await install.textContent(), 'Installing…');
      await p.page.clock.runFor(5000);
      assert.deepEqual(await p.sent(), ['ready', 'install']);
    }));

  test('a click before the timer leaves it with nothing to do', () =>
    withPage({ clock: true }, async (p) => {
      await p.init({ lang: 'en', auto: true });
      await p.shown('[data-act="install"]').click();
      await p.page.clock.runFor(2000);
      assert.deepEqual(await p.sent(), ['ready', 'install']);
    }));

  test('without auto, or with a value that is not true, nothing starts', () =>
    withPage({ clock: true }, async (p) => {
      await p.init({ lang: 'en', auto: false });
      await p.init({ lang: 'en', auto: 'true' });
      await p.page.clock.runFor(5000);
      assert.deepEqual(await p.sent(), ['ready']);
    }));
});
