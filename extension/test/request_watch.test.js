// The notes of requests across the background's runs: a request is noted
// before the download it became is asked about, however slow the storage,
// and a later run of the background finds the notes of an earlier one.
import assert from 'node:assert/strict';
import { describe, it } from 'node:test';

/** The session storage of a fake browser, answering after a delay. */
const stored = new Map();
let failing = false;
const later = () => new Promise((resolve) => setTimeout(resolve, 20));
/** @type {((details: object) => void)[]} */
const listeners = [];
/** @type {any} */ (globalThis).chrome = {
  runtime: {},
  webRequest: { onBeforeRequest: { addListener: (/** @type {(details: object) => void} */ listener) => listeners.push(listener) } },
  storage: {
    session: {
      get: async (/** @type {string} */ key) => {
        await later();
        if (failing) throw new Error('storage is gone');
        return stored.has(key) ? { [key]: structuredClone(stored.get(key)) } : {};
      },
      set: async (/** @type {Record<string, unknown>} */ items) => {
        await later();
        for (const [key, value] of Object.entries(items)) stored.set(key, structuredClone(value));
      },
    },
  },
};

/**
 * A new run of the background: the module afresh, its listener added.
 * @param {number} run
 */
async function startRun(run) {
  const watch = await import(`../lib/request_watch.js?run=${run}`);
  watch.watchRequests();
  const listener = listeners.at(-1);
  assert.ok(listener);
  return { requestOf: watch.requestOf, request: listener };
}

const FILE = 'https://files.example.org/report.zip';

describe('request_watch', () => {
  it('answers about a download only after the requests that came before it are noted', async () => {
    const { requestOf, request } = await startRun(1);
    request({ requestId: '1', url: FILE, method: 'POST', requestBody: { formData: { a: ['1'] } }, tabId: 3 });
    assert.deepEqual(await requestOf({ url: FILE }), { repeatable: false });
    request({ requestId: '2', url: `${FILE}?get`, method: 'GET', tabId: 3 });
    assert.deepEqual(await requestOf({ url: `${FILE}?get` }), { repeatable: true });
    assert.deepEqual(await requestOf({ url: `${FILE}?never` }), { repeatable: false });
  });

  it('lets a later run of the background find the notes of an earlier one', async () => {
    const { requestOf } = await startRun(2);
    assert.deepEqual(await requestOf({ url: FILE }), { repeatable: false });
    assert.deepEqual(await requestOf({ url: `${FILE}?get` }), { repeatable: true });
  });

  it('tells nothing, and never fails, when the storage cannot be read', async () => {
    failing = true;
    try {
      const { requestOf, request } = await startRun(3);
      request({ requestId: '3', url: `${FILE}?third`, method: 'GET', tabId: 3 });
      assert.deepEqual(await requestOf({ url: `${FILE}?third` }), { repeatable: false });
    } finally {
      failing = false;
    }
  });
});
