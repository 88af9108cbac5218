// @ts-check
// Notes the requests that may become downloads (pages, frames, and the
// "other" requests a link's download attribute makes) as the browser makes
// them, so that a download can be tied to its request (request_match.js).
// Observing needs no blocking. The browser stops an idle background at any
// time and starts it again for the next event, so the notes are kept in the
// session storage too: a download may start in another run of the
// background than its request. Within one run, the notes and the questions
// about them are taken in the order the events came: a request is always
// noted before the download it became is asked about.
import { api } from './api.js';
import { readNotes, remember, requestBehind, seenRequest, withResponseLength } from './request_match.js';

/**
 * @typedef {import('./request_match.js').SeenRequest} SeenRequest
 * @typedef {import('./request_match.js').DownloadAddress} DownloadAddress
 * @typedef {import('./request_match.js').RequestVerdict} RequestVerdict
 */

const NOTES = 'seenRequests';
/** The requests that may become downloads; not the page's pictures, scripts, fetches and the like. */
export const REQUEST_FILTER = Object.freeze({
  urls: ['http://*/*', 'https://*/*'],
  types: /** @type {chrome.webRequest.ResourceType[]} */ (['main_frame', 'sub_frame', 'other']),
});

/** @type {SeenRequest[] | null} this run's notes, once read from storage */
let notes = null;
/** Every change and question, in the order the events came. */
let queue = Promise.resolve();

/**
 * Runs `step` on the notes after every earlier step; a step that changes
 * them returns the new notes in `notes`, which are then stored.
 * @template T
 * @param {(notes: SeenRequest[]) => { notes?: SeenRequest[], result: T }} step
 * @returns {Promise<T>}
 */
function withNotes(step) {
  const done = queue.then(async () => {
    notes ??= readNotes((await api.storage.session.get(NOTES))[NOTES], Date.now());
    const { notes: changed, result } = step(notes);
    if (changed) {
      notes = changed;
      await api.storage.session.set({ [NOTES]: changed });
    }
    return result;
  });
  queue = done.then(
    () => undefined,
    () => undefined,
  );
  return done;
}

/**
 * Starts noting requests; called once, when the background starts, so that
 * a request wakes a sleeping background as a download does.
 */
export function watchRequests() {
  api.webRequest.onBeforeRequest.addListener(
    (details) => {
      const seen = seenRequest(details, Date.now());
      if (seen) void withNotes((current) => ({ notes: remember(current, seen, Date.now()), result: undefined }));
      return undefined;
    },
    REQUEST_FILTER,
    ['requestBody'],
  );
}

/**
 * Notes the length a response told, for the download it may become.
 * @param {{ requestId: string, url: string }} response
 * @param {number} length bytes; negative when unknown
 */
export function noteResponseLength(response, length) {
  return withNotes((current) => ({ notes: withResponseLength(current, response, length, Date.now()), result: undefined }));
}

/**
 * What the requests behind the download were (see requestBehind); never
 * rejects: notes that cannot be read tell nothing, and the browser keeps
 * the download.
 * @param {DownloadAddress} download
 * @returns {Promise<RequestVerdict>}
 */
export function requestOf(download) {
  return withNotes((current) => ({ result: requestBehind(current, download, Date.now()) })).catch(() => ({
    repeatable: /** @type {const} */ (false),
  }));
}
