#!/usr/bin/env node
// Installer page start-up in Chromium: time from navigation to both fonts loaded, to the first
// contentful paint, and to the filled-in ask screen having been painted, median of 5 cold loads,
// plus the document's size. Target: the ask screen within 100 ms.
//
//   node bench/page-load.mjs [installer-page.html]   (default: build/page/ui/installer-page.html)
import { chromium } from 'playwright-core';
import { mkdtempSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

const file = resolve(process.argv[2] || 'build/page/ui/installer-page.html');
const RUNS = 5;

// A host that answers "ready" with an init on the next task, as the installer window does, and
// a watcher that notes when the fonts are in and when the finished ask screen has been painted.
function probe() {
  const listeners = [];
  window.chrome = window.chrome || {};
  window.chrome.webview = {
    postMessage(m) {
      if (m !== 'ready') return;
      const init = 'init\n{"lang":"en","version":"0.4.0","effects":30,"path":"C:\\\\Users\\\\demo\\\\.affinity\\\\Affinity\\\\3.0\\\\Plugins","auto":false}';
      setTimeout(() => listeners.forEach((fn) => fn(new MessageEvent('message', { data: init }))));
    },
    addEventListener(type, fn) { if (type === 'message') listeners.push(fn); },
    removeEventListener() {},
  };
  const marks = (window.__marks = {});
  const fontsIn = () => {
    const faces = document.fonts ? [...document.fonts] : [];
    return faces.length === 2 && faces.every((f) => f.status === 'loaded');
  };
  // A frame callback runs before its frame is painted; the callback of the frame after it runs
  // once that frame is out. So the ask screen counts as painted at the second frame callback
  // after the fonts are in and the texts are there.
  const frame = () => {
    const chip = document.querySelector('.chip');
    if (fontsIn() && chip && chip.textContent) {
      if (marks.fonts === undefined) marks.fonts = performance.now();
      requestAnimationFrame(() => requestAnimationFrame(() => { marks.ask = performance.now(); }));
    } else {
      requestAnimationFrame(frame);
    }
  };
  const start = () => document.fonts.ready.then(() => requestAnimationFrame(frame));
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
  else start();
  document.fonts.addEventListener('loadingdone', () => {
    if (marks.fonts === undefined && fontsIn()) marks.fonts = performance.now();
  });
}

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-background-networking', '--disable-gpu', '--headless'],
});
const results = { fonts: [], fcp: [], ask: [] };
for (let i = 0; i < RUNS; i += 1) {
  const context = await browser.newContext({ viewport: { width: 640, height: 400 } });
  const page = await context.newPage();
  await page.addInitScript(probe);
  await page.goto(pathToFileURL(file).href);
  await page.waitForFunction(() => window.__marks.ask !== undefined);
  const m = await page.evaluate(() => ({
    ...window.__marks,
    fcp: performance.getEntriesByName('first-contentful-paint')[0]?.startTime,
  }));
  results.fonts.push(m.fonts);
  results.fcp.push(m.fcp);
  results.ask.push(m.ask);
  await context.close();
}

// The same browser's floor: a one-line document, to tell the page's own cost from the
// browser's start-up of a fresh tab on this machine.
const blank = join(mkdtempSync(join(tmpdir(), 'page-load-')), 'blank.html');
writeFileSync(blank, '<!doctype html><p>x');
const floor = [];
for (let i = 0; i < RUNS; i += 1) {
  const context = await browser.newContext({ viewport: { width: 640, height: 400 } });
  const page = await context.newPage();
  await page.goto(pathToFileURL(blank).href);
  floor.push(await page.evaluate(() => new Promise((done) => {
    const look = () => {
      const fcp = performance.getEntriesByName('first-contentful-paint')[0];
      if (fcp) done(fcp.startTime); else requestAnimationFrame(look);
    };
    look();
  })));
  await context.close();
}
await browser.close();

const ms = (x) => (x === undefined ? 'n/a' : `${x.toFixed(1)} ms`);
console.log(`document: ${file}`);
console.log(`size: ${statSync(file).size} bytes (limit ${640 * 1024})`);
console.log(`navigation -> fonts loaded:        ${ms(median(results.fonts))}  (runs: ${results.fonts.map((x) => x.toFixed(0)).join(', ')})`);
console.log(`navigation -> first contentful paint: ${ms(median(results.fcp.filter((x) => x !== undefined)))}`);
console.log(`navigation -> ask screen painted:  ${ms(median(results.ask))}  (runs: ${results.ask.map((x) => x.toFixed(0)).join(', ')}; target 100 ms)`);
console.log(`one-line document, first contentful paint: ${ms(median(floor))}  (this browser's floor)`);
