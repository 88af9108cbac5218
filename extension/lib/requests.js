// @ts-check
// Building the host's requests from what the browser and the page say. Pure:
// no browser API here, so Node's test runner checks it.

/** The schemes the queue manager fetches. */
const SCHEMES = new Set(['http:', 'https:', 'ftp:']);
/** The host refuses longer addresses. */
export const MAX_URL_LENGTH = 32768;
/** The host takes at most this many addresses in one list. */
export const MAX_LIST_LENGTH = 100000;
/**
 * The largest list request sent whole, as its JSON. The host reads 64 MiB,
 * but the program must hand the list to the queue manager before its run
 * ends: under Wine on two busy cores it delivers 40 to 60 MB in time, the
 * busier the less, so a list stays well below, and whatever the page holds
 * beyond it is counted as left out instead of ending "not delivered".
 */
export const MAX_LIST_REQUEST_BYTES = 16 * 1024 * 1024;
/**
 * A page decides its title and link texts: a link around a whole page would
 * otherwise send megabytes to the queue manager as a description.
 */
export const MAX_TEXT_LENGTH = 1000;

/**
 * @typedef {{ name: string, value: string }} Cookie
 * @typedef {'add' | 'explore'} LinkRequestType
 * @typedef {{
 *   type: LinkRequestType, url: string, cookies?: string, browser: string,
 *   userAgent: string, pageTitle: string, linkText: string
 * }} LinkRequest
 * @typedef {{ type: 'list', urls: string[] }} ListRequest
 */

/**
 * The address as the host takes it (absolute http, https or ftp, not too
 * long, no blank or control character), or null.
 * @param {unknown} address
 * @returns {URL | null}
 */
function transferable(address) {
  if (typeof address !== 'string' || address.length > MAX_URL_LENGTH) return null;
  // The URL parser would quietly drop blanks and control characters, which
  // the host refuses.
  for (const char of address) if (char <= ' ' || char === '\x7f') return null;
  let url;
  try {
    url = new URL(address);
  } catch {
    return null;
  }
  return SCHEMES.has(url.protocol) ? url : null;
}

/**
 * True when the queue manager can fetch the address.
 * @param {unknown} address
 */
export function isTransferable(address) {
  return transferable(address) !== null;
}

/**
 * True when the browser has cookies for the address's scheme: it keeps none
 * for ftp, and asking for them is refused.
 * @param {string} address
 */
export function hasCookieScheme(address) {
  return /^https?:/i.test(address);
}

/**
 * Cookies in the form of a Cookie header, in the order given (the browser's
 * own). A cookie without a name is sent as its value alone, as browsers do.
 * @param {readonly Cookie[]} cookies
 */
export function cookieList(cookies) {
  return cookies.map((cookie) => (cookie.name === '' ? cookie.value : `${cookie.name}=${cookie.value}`)).join('; ');
}

/**
 * A page's text as a description: blanks at both ends dropped, cut at
 * MAX_TEXT_LENGTH without splitting a character.
 * @param {unknown} text
 */
export function pageText(text) {
  if (typeof text !== 'string') return '';
  const trimmed = text.trim();
  if (trimmed.length <= MAX_TEXT_LENGTH) return trimmed;
  return Array.from(trimmed).slice(0, MAX_TEXT_LENGTH).join('').trimEnd();
}

/**
 * The request for one link ("add": to the queue; "explore": to the link
 * explorer). Cookies are left out when the browser keeps none for the
 * scheme: the host would then delete the site's cookie file.
 * @param {LinkRequestType} type
 * @param {string} url
 * @param {{ cookies: readonly Cookie[] | null, browser: string, userAgent: string,
 *           pageTitle: unknown, linkText: unknown }} context
 * @returns {LinkRequest}
 */
export function linkRequest(type, url, context) {
  /** @type {LinkRequest} */
  const request = {
    type,
    url,
    browser: context.browser,
    userAgent: context.userAgent,
    pageTitle: pageText(context.pageTitle),
    linkText: pageText(context.linkText),
  };
  if (context.cookies) request.cookies = cookieList(context.cookies);
  return request;
}

/**
 * The list request for a page's links: the addresses the queue manager can
 * fetch, in the page's order, each once (a link to a place in a page is a
 * link to the page), at most MAX_LIST_LENGTH of them and at most
 * maxBytes in all as the request's JSON; null when none is left.
 * @param {unknown} hrefs what the page gave: anything at all
 * @param {number} [maxBytes]
 * @returns {{ request: ListRequest, left: number } | null} left: addresses
 *   beyond the limits
 */
export function listRequest(hrefs, maxBytes = MAX_LIST_REQUEST_BYTES) {
  if (!Array.isArray(hrefs)) return null;
  /** @type {Set<string>} */
  const seen = new Set();
  for (const href of hrefs) {
    const url = transferable(href);
    if (!url) continue;
    url.hash = '';
    seen.add(url.href);
  }
  if (seen.size === 0) return null;
  /** @type {ListRequest} */
  const request = { type: 'list', urls: [] };
  // The parsed addresses are ASCII (the URL parser encodes the rest), so
  // characters count bytes. Each adds its JSON string, and a comma after the
  // first.
  let bytes = JSON.stringify(request).length;
  for (const url of seen) {
    const more = JSON.stringify(url).length + (request.urls.length > 0 ? 1 : 0);
    if (request.urls.length === MAX_LIST_LENGTH || bytes + more > maxBytes) break;
    request.urls.push(url);
    bytes += more;
  }
  if (request.urls.length === 0) return null;
  return { request, left: seen.size - request.urls.length };
}

/**
 * The match pattern of the site whose access the extension needs to read
 * the address's cookies or its page ("https://example.com/*"), or null for
 * an address without cookies (ftp, blob:, …).
 * @param {unknown} address
 */
export function siteAccessPattern(address) {
  if (typeof address !== 'string' || !hasCookieScheme(address)) return null;
  try {
    const url = new URL(address);
    return url.hostname === '' ? null : `${url.protocol}//${url.hostname}/*`;
  } catch {
    return null;
  }
}
