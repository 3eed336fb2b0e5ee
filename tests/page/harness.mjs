// Shared set-up for the page tests: the built page, Debian's Chromium through playwright-core,
// and a fake WebView2 host that records what the page posts and delivers host messages.
import { chromium } from 'playwright-core';
import { execFileSync } from 'node:child_process';
import { mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

export const ROOT = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
export const MAIL = process.env.LUMIVANE_SUPPORT_EMAIL || 'help@orvelle.example';
export const DEMO_PATH = 'C:\\Users\\demo\\.affinity\\Affinity\\3.0\\Plugins';
export const LANGS = ['en', 'es', 'pt', 'ja', 'id'];
export const STEPS = ['ask', 'done', 'error'];
export const SAMPLE_ERROR = 'C:\\Users\\demo\\.affinity\\Affinity\\3.0\\Plugins\\Lumivane.8bf.new: Access is denied. (os error 5)';
// The worst cases the column must hold: a 30-line error and a 200-character folder.
export const LONG_ERROR = Array.from({ length: 30 }, (_, i) => `line ${i + 1}: ${'x'.repeat(60)}`).join('\n');
export const LONG_PATH = ('C:\\Users\\a-rather-long-user-name-for-this-machine\\AppData\\Roaming\\'
  + 'Orvelle-Setup-Test-Folder\\'.repeat(6)).slice(0, 200);
export const VARIANTS = ['plain', 'long-error', 'long-folder'];

let built = null;

// ctest passes the page that the build made; run by hand, the tests build a fresh copy.
export function pageFile() {
  if (process.env.LUMIVANE_PAGE) return process.env.LUMIVANE_PAGE;
  if (!built) {
    built = join(mkdtempSync(join(tmpdir(), 'lumivane-page-')), 'installer-page.html');
    execFileSync(process.execPath, [join(ROOT, 'tools/build-page.mjs'), MAIL, built], { stdio: 'ignore' });
  }
  return built;
}

export function launch() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-background-networking', '--disable-gpu', '--headless'],
  });
}

// Stands in for window.chrome.webview before the page's own script runs. It notes whether
// "ready" came before any message listener existed, and keeps anything posted that is not a
// string as a marker, since the real host would not read it.
function fakeHost() {
  const listeners = [];
  const sent = [];
  const state = { sent, readyBeforeListener: false };
  const webview = {
    postMessage(m) {
      if (m === 'ready' && listeners.length === 0) state.readyBeforeListener = true;
      sent.push(typeof m === 'string' ? m : `<not a string: ${typeof m}>`);
    },
    addEventListener(type, fn) {
      if (type === 'message') listeners.push(fn);
    },
    removeEventListener(type, fn) {
      const i = listeners.indexOf(fn);
      if (i >= 0) listeners.splice(i, 1);
    },
  };
  window.chrome = window.chrome || {};
  window.chrome.webview = webview;
  window.__host = Object.assign(state, {
    deliver(text) {
      const event = new MessageEvent('message', { data: text });
      for (const fn of listeners.slice()) fn(event);
    },
  });
}

// The mean colour of every square of `size` pixels of a PNG (size 1: its pixels), worked out in a
// page: { width, height, rgb } in squares, rgb three values per square.
export function blockColours(page, png, size) {
  return page.evaluate(async ([b64, n]) => {
    const img = new Image();
    img.src = `data:image/png;base64,${b64}`;
    await img.decode();
    const g = new OffscreenCanvas(img.width, img.height).getContext('2d');
    g.drawImage(img, 0, 0);
    const { data, width, height } = g.getImageData(0, 0, img.width, img.height);
    const [w, h] = [Math.floor(width / n), Math.floor(height / n)];
    const rgb = [];
    for (let by = 0; by < h; by += 1) {
      for (let bx = 0; bx < w; bx += 1) {
        const sum = [0, 0, 0];
        for (let y = by * n; y < (by + 1) * n; y += 1) {
          for (let x = bx * n; x < (bx + 1) * n; x += 1) for (let c = 0; c < 3; c += 1) sum[c] += data[(y * width + x) * 4 + c];
        }
        rgb.push(...sum.map((v) => Math.round(v / (n * n))));
      }
    }
    return { width: w, height: h, rgb };
  }, [png.toString('base64'), size]);
}

export function initText(fields = {}) {
  const d = { lang: 'en', version: '0.4.0', effects: 30, path: DEMO_PATH, auto: false, ...fields };
  return 'init\n' + JSON.stringify(d);
}

// One page in its own 640 x 400 context, as the installer window shows it (or in a window of
// another size, as a browser may show the preview).
export async function openPage(browser, { host = true, query = '', clock = false, reducedMotion = 'no-preference', scale = 1, viewport = { width: 640, height: 400 } } = {}) {
  const context = await browser.newContext({ viewport, reducedMotion, deviceScaleFactor: scale });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  if (clock) await page.clock.install();
  if (host) await page.addInitScript(fakeHost);
  await page.goto(pathToFileURL(pageFile()).href + query);
  await page.evaluate(() => document.fonts.ready);
  // The installed clock runs on with real time until paused; tests then move it by hand.
  if (clock) await page.clock.pauseAt((await page.evaluate(() => Date.now())) + 1000);
  return new PageUnderTest(page, context, errors);
}

export class PageUnderTest {
  constructor(page, context, errors) {
    this.page = page;
    this.context = context;
    this.errors = errors;
  }

  sent() {
    return this.page.evaluate(() => window.__host.sent.slice());
  }

  deliver(text) {
    return this.page.evaluate((t) => window.__host.deliver(t), text);
  }

  init(fields) {
    return this.deliver(initText(fields));
  }

  // The data-step of every screen that is not hidden.
  screens() {
    return this.page.evaluate(() =>
      [...document.querySelectorAll('main')].filter((m) => !m.hidden).map((m) => m.dataset.step));
  }

  // An element of the visible screen.
  shown(selector) {
    return this.page.locator(`main:not([hidden]) ${selector}`);
  }

  text(selector) {
    return this.page.locator(selector).first().evaluate((el) => el.textContent);
  }

  focused() {
    return this.page.evaluate(() => document.activeElement && document.activeElement.textContent);
  }

  close() {
    return this.context.close();
  }

  // Puts the page on a screen the way the host would, with the sample or a worst-case text.
  async goTo(step, { lang = 'en', variant = 'plain' } = {}) {
    await this.init({ lang, path: variant === 'long-folder' ? LONG_PATH : DEMO_PATH });
    if (step !== 'ask') {
      await this.shown('[data-act="install"]').click();
      await this.deliver(step === 'done' ? 'done' : 'error\n' + (variant === 'long-error' ? LONG_ERROR : SAMPLE_ERROR));
    }
    await this.settled();
  }

  // Waits for the screen's fade to end (not the busy indicator, which runs until the answer) and
  // for a frame, in which the page fits its titles and folder box to their laid-out sizes.
  settled() {
    return this.page.evaluate(async () => {
      await Promise.all(document.getAnimations()
        .filter((a) => a.effect.getTiming().iterations !== Infinity).map((a) => a.finished));
      await new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)));
    });
  }
}
