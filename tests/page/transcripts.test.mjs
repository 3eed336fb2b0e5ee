// Replays the shared protocol transcripts from the page's side: the page must send exactly the
// "page" texts, in order, in answer to the "host" texts and the user's actions.
import { describe, test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { launch, openPage, ROOT } from './harness.mjs';

const { conversations } = JSON.parse(readFileSync(join(ROOT, 'tests/protocol/transcripts.json'), 'utf8'));

const ACTIONS = {
  'click install': (p) => p.shown('[data-act="install"]').click(),
  'click retry': async (p) => {
    assert.deepEqual(await p.screens(), ['error'], 'Try again is on the error screen');
    await p.shown('[data-act="install"]').click();
  },
  'click cancel': (p) => p.shown('[data-t="cancel"]').click(),
  'click close': (p) => p.shown('button[data-act="close"]').click(),
  'click mail': (p) => p.shown('a[data-act="mail"]').click(),
  'key Escape': (p) => p.page.keyboard.press('Escape'),
};

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

describe('protocol transcripts', () => {
  test('the file holds the required conversations', () => {
    const shapes = conversations.map((c) => c.steps.map((s) => s.page ?? s.host?.split('\n')[0] ?? '').join(' '));
    for (const needed of ['ready init install done close', 'install error install done', 'error close', 'error mail']) {
      assert.ok(shapes.some((s) => s.replace(/\s+/g, ' ').includes(needed)), needed);
    }
    for (const c of conversations) {
      const init = c.steps.find((s) => s.host?.startsWith('init\n'));
      const d = JSON.parse(init.host.slice(5));
      assert.deepEqual(Object.keys(d), ['lang', 'version', 'effects', 'path', 'auto'], c.name);
      assert.deepEqual([d.lang, d.auto, d.path], [c.lang, c.auto, c.path], c.name);
    }
  });

  for (const c of conversations) {
    test(c.name, async () => {
      const p = await openPage(browser);
      try {
        let expected = 0;
        for (const step of c.steps) {
          if ('page' in step) {
            expected += 1;
            // The automatic start answers after 1200 ms; everything else at once.
            await p.page.waitForFunction((n) => window.__host.sent.length >= n, expected, { timeout: 3000 });
            const sent = await p.sent();
            assert.equal(sent.length, expected, `only "${step.page}" expected, got ${JSON.stringify(sent)}`);
            assert.equal(sent[expected - 1], step.page);
          } else if ('host' in step) {
            await p.deliver(step.host);
          } else {
            assert.ok(ACTIONS[step.user], `unknown user action ${step.user}`);
            await ACTIONS[step.user](p);
          }
        }
        await p.page.waitForTimeout(1500);
        assert.equal((await p.sent()).length, expected, 'nothing more is sent');
        assert.deepEqual(p.errors, []);
      } finally {
        await p.close();
      }
    });
  }
});
