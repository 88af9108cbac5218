// @ts-check
// What a response's headers tell of the file a browser would save it as:
// whether it saves it at all, under which name, and how large it is. Firefox
// shows these headers to extensions before it asks where to save or writes
// anything. Pure: no browser API here.
import { fileName } from './settings.js';

/**
 * @typedef {{ name: string, value?: string }} Header
 * @typedef {{ name: string, length: number }} SavedFile length: bytes, or -1
 *   when the response does not say
 */

/**
 * Types the browser shows, plays or runs in the tab itself rather than
 * saving them: a response of one of these without an attachment
 * disposition is not a download.
 */
const SHOWN_PREFIXES = ['text/', 'image/', 'audio/', 'video/'];
const SHOWN_TYPES = new Set([
  'application/pdf',
  'application/xhtml+xml',
  'application/xml',
  'application/json',
  'application/javascript',
  'application/ecmascript',
  'application/x-javascript',
  'application/ogg',
  'multipart/x-mixed-replace',
]);

/**
 * The value of a header, by its name in any case; null when absent.
 * @param {readonly Header[] | undefined} headers
 * @param {string} name lower case
 */
function header(headers, name) {
  const found = headers?.find((entry) => typeof entry.name === 'string' && entry.name.toLowerCase() === name);
  return typeof found?.value === 'string' ? found.value : null;
}

/**
 * True when a browser shows a response of the media type in the tab.
 * @param {string} type lower case, without parameters
 */
function isShown(type) {
  return SHOWN_PREFIXES.some((prefix) => type.startsWith(prefix)) || SHOWN_TYPES.has(type) || /\+(xml|json)$/.test(type);
}

/**
 * The parameters of a Content-Disposition value after its type, by name in
 * lower case: quoted strings unquoted.
 * @param {string} rest what follows the disposition type
 */
function parameters(rest) {
  /** @type {Map<string, string>} */
  const found = new Map();
  const pattern = /;\s*([^\s=;]+)\s*=\s*(?:"((?:[^"\\]|\\.)*)"|([^;]*))/g;
  for (const [, name, quoted, token] of rest.matchAll(pattern)) {
    const key = name.toLowerCase();
    if (!found.has(key)) found.set(key, quoted !== undefined ? quoted.replace(/\\(.)/g, '$1') : token.trim());
  }
  return found;
}

/**
 * An extended parameter value (charset'language'percent-encoded), decoded;
 * null when it is not one this can read.
 * @param {string} value
 */
function extendedValue(value) {
  const match = /^([^']*)'[^']*'(.*)$/.exec(value);
  if (!match || !['utf-8', ''].includes(match[1].toLowerCase())) return null;
  try {
    return decodeURIComponent(match[2]);
  } catch {
    return null;
  }
}

/**
 * The last part of the address's path, decoded.
 * @param {string} address
 */
function nameInAddress(address) {
  let path;
  try {
    path = new URL(address).pathname;
  } catch {
    return '';
  }
  const last = path.slice(path.lastIndexOf('/') + 1);
  try {
    return decodeURIComponent(last);
  } catch {
    return last;
  }
}

/**
 * The file a browser would save the response as, or null when the headers
 * do not say that it saves it: an answer other than 200 to 299 with a body,
 * or one without an attachment disposition whose type is missing or one the
 * browser shows. The name comes from the disposition (its extended form
 * first), else from the address.
 * @param {string} address the response's address
 * @param {number} status
 * @param {readonly Header[] | undefined} headers
 * @returns {SavedFile | null}
 */
export function savedFile(address, status, headers) {
  if (!(status >= 200 && status < 300) || status === 204 || status === 205) return null;
  const disposition = header(headers, 'content-disposition') ?? '';
  const [opening, written] = /^\s*([^\s;]*)/.exec(disposition) ?? ['', ''];
  const kind = written.toLowerCase();
  const type = (header(headers, 'content-type') ?? '').split(';')[0].trim().toLowerCase();
  if (kind !== 'attachment' && (type === '' || isShown(type))) return null;
  const given = parameters(disposition.slice(opening.length));
  const extended = given.has('filename*') ? extendedValue(given.get('filename*') ?? '') : null;
  const name = fileName(extended ?? given.get('filename') ?? nameInAddress(address)).trim();
  const length = (header(headers, 'content-length') ?? '').trim();
  return { name, length: /^\d{1,15}$/.test(length) ? Number(length) : -1 };
}
