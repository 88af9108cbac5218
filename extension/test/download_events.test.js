// Which download event a take-over listens to, for both families' contracts.
import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { watchDownloads } from '../lib/download_events.js';

/** An event that keeps its listeners, as the browsers' events do. */
function event() {
  /** @type {((...args: any[]) => unknown)[]} */
  const listeners = [];
  return { listeners, addListener: (/** @type {(...args: any[]) => unknown} */ listener) => void listeners.push(listener) };
}

const item = /** @type {chrome.downloads.DownloadItem} */ (/** @type {unknown} */ ({ id: 7 }));

describe('watchDownloads', () => {
  it("takes Chromium's downloads while it waits for a file name, and answers only once the take-over is decided", async () => {
    const downloads = { onCreated: event(), onDeterminingFilename: event() };
    /** @type {string[]} */
    const steps = [];
    let decide = () => {};
    const decided = new Promise((resolve) => (decide = () => resolve(undefined)));
    assert.equal(
      watchDownloads(downloads, 'CH', async () => {
        steps.push('consider');
        await decided;
      }),
      'onDeterminingFilename',
    );
    assert.equal(downloads.onCreated.listeners.length, 0);
    const [listener] = downloads.onDeterminingFilename.listeners;
    assert.equal(listener(item, () => steps.push('suggest')), true, 'Chromium waits only for a listener that returns true');
    await new Promise((resolve) => setImmediate(resolve));
    assert.deepEqual(steps, ['consider']);
    decide();
    await new Promise((resolve) => setImmediate(resolve));
    assert.deepEqual(steps, ['consider', 'suggest']);
  });

  it('never calls a suggest it was not given', async () => {
    const downloads = { onCreated: event(), onDeterminingFilename: event() };
    watchDownloads(downloads, 'CH', async () => {});
    const [listener] = downloads.onDeterminingFilename.listeners;
    const settled = new Promise((resolve, reject) => {
      process.once('unhandledRejection', reject);
      setImmediate(() => setImmediate(resolve));
    });
    listener(item);
    await settled;
  });

  it("takes Firefox's downloads when they are created, even where Firefox has an event of Chromium's name", async () => {
    for (const downloads of [{ onCreated: event() }, { onCreated: event(), onDeterminingFilename: event() }]) {
      /** @type {unknown[]} */
      const considered = [];
      assert.equal(
        watchDownloads(downloads, 'FF', async (download) => void considered.push(download)),
        'onCreated',
      );
      assert.equal(downloads.onDeterminingFilename?.listeners.length ?? 0, 0);
      downloads.onCreated.listeners[0](item);
      assert.deepEqual(considered, [item]);
    }
  });

  it('falls back to creation in a Chromium without the file-name event', () => {
    const downloads = { onCreated: event() };
    assert.equal(watchDownloads(downloads, 'CH', async () => {}), 'onCreated');
  });
});
