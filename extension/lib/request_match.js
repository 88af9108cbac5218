// @ts-check
// Which request a download came from, and whether the queue manager can make
// that request again from the address alone. Neither family's download item
// tells the method, the body or the tab, so the extension notes the requests
// that may become downloads as the browser makes them (webRequest) and ties a
// download to the notes for its address from a short while before. Pure:
// request_watch.js feeds and keeps the notes.

/**
 * @typedef {{ id: string, url: string, method: string, body: boolean, at: number, length?: number }} SeenRequest
 *   one address a request asked for (a redirect asks again under the same
 *   id); body: whether it carried one; at: when it was last heard of, in ms;
 *   length: the Content-Length of its response, where the browser told it
 * @typedef {{ requestId: string, url: string, method: string, requestBody?: unknown }} RequestDetails
 *   what webRequest's onBeforeRequest tells, as far as it matters here
 * @typedef {{ url: string, finalUrl?: string }} DownloadAddress
 * @typedef {{ repeatable: true, length?: number } | { repeatable: false }} RequestVerdict
 *   repeatable: every request behind the download was a GET without a body,
 *   so the manager fetches the same; false also when none was seen
 */

/**
 * How long a note ties a download to its request. A download starts once
 * its response's headers are in, which is well within this; a note older
 * than this may belong to another visit of the address.
 */
export const MATCH_WINDOW_MS = 2 * 60 * 1000;
/** The notes live in the browser's session storage: they must not grow without end. */
export const MAX_SEEN = 100;
/**
 * Longer addresses are not noted (a hundred of them would fill the session
 * storage); their downloads stay with the browser.
 */
export const MAX_NOTED_URL_LENGTH = 16 * 1024;

/**
 * The address without its place in the page, which no request carries.
 * @param {string} url
 */
function withoutFragment(url) {
  const hash = url.indexOf('#');
  return hash < 0 ? url : url.slice(0, hash);
}

/**
 * True when the request body that webRequest tells holds anything: a form's
 * fields, raw bytes, or an error (a body it could not read is a body).
 * Firefox tells `null` for a request without one, Chromium nothing.
 * @param {unknown} requestBody
 */
function hasBody(requestBody) {
  if (typeof requestBody !== 'object' || requestBody === null) return false;
  const body = /** @type {{ formData?: unknown, raw?: unknown, error?: unknown }} */ (requestBody);
  if (body.error !== undefined) return true;
  if (Array.isArray(body.raw) && body.raw.length > 0) return true;
  return typeof body.formData === 'object' && body.formData !== null && Object.keys(body.formData).length > 0;
}

/**
 * The note for a request the browser is about to make, or null for one that
 * cannot be noted.
 * @param {RequestDetails} details
 * @param {number} now
 * @returns {SeenRequest | null}
 */
export function seenRequest(details, now) {
  if (typeof details.url !== 'string' || details.url.length > MAX_NOTED_URL_LENGTH) return null;
  if (typeof details.method !== 'string' || details.requestId === undefined) return null;
  return {
    id: String(details.requestId),
    url: withoutFragment(details.url),
    method: details.method.toUpperCase(),
    body: hasBody(details.requestBody),
    at: now,
  };
}

/**
 * The notes that still count at `now`, newest last, at most MAX_SEEN.
 * @param {readonly SeenRequest[]} notes
 * @param {number} now
 */
function current(notes, now) {
  return notes.filter((note) => now - note.at <= MATCH_WINDOW_MS && note.at <= now).slice(-MAX_SEEN);
}

/**
 * The notes with one more; a note of the same request and address replaces
 * the earlier one.
 * @param {readonly SeenRequest[]} notes
 * @param {SeenRequest} seen
 * @param {number} now
 */
export function remember(notes, seen, now) {
  const others = notes.filter((note) => note.id !== seen.id || note.url !== seen.url);
  return current([...others, seen], now);
}

/**
 * The notes with the response's length put on the request's note for the
 * address (which also counts as heard of at `now`).
 * @param {readonly SeenRequest[]} notes
 * @param {{ requestId: string, url: string }} response
 * @param {number} length bytes; a negative length is unknown
 * @param {number} now
 */
export function withResponseLength(notes, response, length, now) {
  const url = withoutFragment(response.url);
  const id = String(response.requestId);
  return current(
    notes.map((note) =>
      note.id === id && note.url === url ? { ...note, at: now, ...(length >= 0 ? { length } : {}) } : note,
    ),
    now,
  );
}

/**
 * Notes read back from storage: what is malformed is dropped.
 * @param {unknown} stored
 * @param {number} now
 * @returns {SeenRequest[]}
 */
export function readNotes(stored, now) {
  if (!Array.isArray(stored)) return [];
  /** @type {SeenRequest[]} */
  const notes = [];
  for (const value of stored) {
    const note = /** @type {Partial<SeenRequest> | null} */ (value);
    if (typeof note !== 'object' || note === null) continue;
    const { id, url, method, body, at, length } = note;
    if (typeof id !== 'string' || typeof url !== 'string' || typeof method !== 'string') continue;
    if (typeof body !== 'boolean' || typeof at !== 'number') continue;
    notes.push({ id, url, method, body, at, ...(typeof length === 'number' && length >= 0 ? { length } : {}) });
  }
  return current(notes, now);
}

/**
 * What the requests behind a download were. A download's address (and, in
 * Chromium, the address it was redirected to) ties it to every request for
 * that address within the window, and each of those to the addresses it was
 * redirected through: the download is repeatable only when all of those were
 * GETs without a body. Which tab a download belongs to neither family tells,
 * so a request for the same address in any tab counts. Nothing seen is not
 * repeatable: the browser keeps what the extension cannot tell.
 * @param {readonly SeenRequest[]} notes
 * @param {DownloadAddress} download
 * @param {number} now
 * @returns {RequestVerdict}
 */
export function requestBehind(notes, download, now) {
  const live = current(notes, now);
  const addresses = new Set([download.url, download.finalUrl].filter((url) => typeof url === 'string').map(withoutFragment));
  const ids = new Set(live.filter((note) => addresses.has(note.url)).map((note) => note.id));
  const chain = live.filter((note) => ids.has(note.id));
  if (chain.length === 0 || chain.some((note) => note.method !== 'GET' || note.body)) return { repeatable: false };
  const lengths = chain.filter((note) => addresses.has(note.url) && note.length !== undefined);
  const length = lengths.at(-1)?.length;
  return length === undefined ? { repeatable: true } : { repeatable: true, length };
}
