// Tying a download to the request it came from, and telling whether the
// queue manager can make that request again.
import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import {
  MATCH_WINDOW_MS,
  MAX_NOTED_URL_LENGTH,
  MAX_SEEN,
  readNotes,
  remember,
  requestBehind,
  seenRequest,
  withResponseLength,
} from '../lib/request_match.js';

const SITE = 'https://files.example.org';
const FORM = { formData: { month: ['2026-11'] } };

/**
 * The notes of requests as onBeforeRequest tells them, `at` ms each.
 * @param {[id: string, url: string, method: string, requestBody: unknown, at: number][]} requests
 */
function notesOf(requests) {
  /** @type {import('../lib/request_match.js').SeenRequest[]} */
  let notes = [];
  for (const [requestId, url, method, requestBody, at] of requests) {
    const seen = seenRequest({ requestId, url, method, requestBody }, at);
    assert.ok(seen, url);
    notes = remember(notes, seen, at);
  }
  return notes;
}

describe('requestBehind', () => {
  const now = 1_000_000;
  const file = `${SITE}/export/report.zip`;
  /** @type {[string, [string, string, string, unknown, number][], { url: string, finalUrl?: string }, boolean][]} */
  const cases = [
    ['a link (Chromium tells no body)', [['1', file, 'GET', undefined, now - 50]], { url: file }, true],
    ['a link (Firefox tells a null body)', [['1', file, 'GET', null, now - 50]], { url: file }, true],
    ["a GET form's download", [['1', `${file}?month=11`, 'GET', null, now - 50]], { url: `${file}?month=11` }, true],
    ['a download whose address has a place in the page', [['1', file, 'GET', undefined, now - 50]], { url: `${file}#top` }, true],
    ["a form's POST", [['1', file, 'POST', FORM, now - 50]], { url: file }, false],
    ['a POST without a body', [['1', file, 'POST', undefined, now - 50]], { url: file }, false],
    ['another method', [['1', file, 'put', { raw: [{ bytes: {} }] }, now - 50]], { url: file }, false],
    ['a GET with a body', [['1', file, 'GET', { raw: [{ bytes: {} }] }, now - 50]], { url: file }, false],
    ['a body the browser could not read', [['1', file, 'GET', { error: 'too large' }, now - 50]], { url: file }, false],
    ['nothing seen', [], { url: file }, false],
    ['another address only', [['1', `${SITE}/other.zip`, 'GET', null, now - 50]], { url: file }, false],
    ['a request too long ago', [['1', file, 'GET', null, now - MATCH_WINDOW_MS - 1]], { url: file }, false],
    [
      'the page shown by GET, then its form POSTed to the same address',
      [['1', file, 'GET', null, now - 5000], ['2', file, 'POST', FORM, now - 50]],
      { url: file },
      false,
    ],
    [
      'a POST of the address long ago, a GET now',
      [['1', file, 'POST', FORM, now - MATCH_WINDOW_MS - 1], ['2', file, 'GET', null, now - 50]],
      { url: file },
      true,
    ],
    [
      'a POST answered by a redirect to a GET (Chromium names both addresses)',
      [['7', `${SITE}/export`, 'POST', FORM, now - 90], ['7', file, 'GET', undefined, now - 50]],
      { url: `${SITE}/export`, finalUrl: file },
      false,
    ],
    [
      'a POST answered by a redirect to a GET (Firefox names the last address)',
      [['7', `${SITE}/export`, 'POST', FORM, now - 90], ['7', file, 'GET', null, now - 50]],
      { url: file },
      false,
    ],
    [
      'a GET redirected to a mirror',
      [['7', `${SITE}/latest`, 'GET', null, now - 90], ['7', file, 'GET', null, now - 50]],
      { url: `${SITE}/latest`, finalUrl: file },
      true,
    ],
  ];
  for (const [name, requests, download, repeatable] of cases) {
    it(`${repeatable ? 'takes' : 'leaves'} ${name}`, () => {
      assert.equal(requestBehind(notesOf(requests), download, now).repeatable, repeatable);
    });
  }

  it("gives the length of the response for the download's address", () => {
    let notes = notesOf([['7', `${SITE}/latest`, 'GET', null, now - 90], ['7', file, 'GET', null, now - 50]]);
    notes = withResponseLength(notes, { requestId: '7', url: `${SITE}/latest` }, 0, now - 40);
    assert.deepEqual(requestBehind(notes, { url: file }, now), { repeatable: true });
    notes = withResponseLength(notes, { requestId: '7', url: file }, 4096, now - 30);
    assert.deepEqual(requestBehind(notes, { url: file }, now), { repeatable: true, length: 4096 });
    // An unknown length keeps the note (now heard of later) without one.
    const unknown = withResponseLength(notesOf([['8', file, 'GET', null, now - MATCH_WINDOW_MS]]), { requestId: '8', url: file }, -1, now);
    assert.deepEqual(requestBehind(unknown, { url: file }, now + 1000), { repeatable: true });
  });
});

describe('the notes', () => {
  it('keep the newest MAX_SEEN, and a request asking again for an address replaces its note', () => {
    const notes = notesOf(Array.from({ length: MAX_SEEN + 5 }, (_, index) => [String(index), `${SITE}/${index}.zip`, 'GET', null, index]));
    assert.equal(notes.length, MAX_SEEN);
    assert.equal(notes[0].url, `${SITE}/5.zip`);
    const again = remember(notes, { id: '50', url: `${SITE}/50.zip`, method: 'POST', body: true, at: 200 }, 200);
    assert.equal(again.length, MAX_SEEN);
    assert.deepEqual(again.filter((note) => note.id === '50').map((note) => note.method), ['POST']);
  });

  it('leave out an address too long to keep; its download stays with the browser', () => {
    const long = `${SITE}/?q=${'x'.repeat(MAX_NOTED_URL_LENGTH)}`;
    assert.equal(seenRequest({ requestId: '1', url: long, method: 'GET' }, 0), null);
  });

  it('read back from storage drop what is malformed or too old', () => {
    const good = { id: '1', url: `${SITE}/a.zip`, method: 'GET', body: false, at: 900, length: 12 };
    const stored = [
      good,
      { ...good, id: 2 },
      { ...good, body: 'no' },
      { ...good, at: 900 - MATCH_WINDOW_MS - 1 },
      { ...good, id: '3', length: -4 },
      null,
      'text',
    ];
    assert.deepEqual(readNotes(stored, 1000), [good, { id: '3', url: good.url, method: 'GET', body: false, at: 900 }]);
    assert.deepEqual(readNotes({ not: 'a list' }, 1000), []);
  });
});
