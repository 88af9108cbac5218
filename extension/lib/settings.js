// @ts-check
// The take-over setting and the rule that decides which downloads it takes.
// Pure: storage.js keeps the setting.
import { isTransferable } from './requests.js';

/**
 * @typedef {{ takeOver: boolean, fileTypes: string[], minSizeKB: number, neverSites: string[] }} Settings
 *   fileTypes: file name endings in lower case, without the leading dot
 *   ("zip", "tar.gz"); empty takes every type. minSizeKB: the least size
 *   taken, in units of 1024 bytes. neverSites: host names whose downloads
 *   are never taken, each covering its subdomains.
 * @typedef {{
 *   url: string, filename: string, totalBytes: number, fileSize?: number, referrer?: string,
 *   incognito: boolean, byExtensionId?: string, state: string
 * }} DownloadFacts what both families' download items tell
 * @typedef {{ entries: string[], refused: string[] }} ParsedField what a
 *   field holds: the entries taken, cleaned, each once; and what was typed
 *   that cannot be one, as typed
 */

/** @type {Settings} */
export const DEFAULT_SETTINGS = Object.freeze({
  takeOver: false,
  fileTypes: [
    '7z', 'aac', 'apk', 'avi', 'bz2', 'deb', 'dmg', 'exe', 'flac', 'flv', 'gz', 'iso', 'm4a', 'm4v', 'mkv',
    'mov', 'mp3', 'mp4', 'msi', 'ogg', 'pdf', 'rar', 'rpm', 'tar', 'tgz', 'wav', 'webm', 'wmv', 'xz', 'zip',
  ],
  minSizeKB: 0,
  neverSites: [],
});

/** More than a terabyte is surely a typing error. */
const MAX_SIZE_KB = 1024 ** 3;
/** The settings live in the browser's storage: a list must not grow without end. */
export const MAX_ENTRIES = 1000;
/** One to four dot-separated parts: "zip", "tar.gz". */
const FILE_TYPE = /^[a-z0-9_~-]{1,16}(?:\.[a-z0-9_~-]{1,16}){0,3}$/;
/** What people put between entries. */
const SEPARATORS = /[\s,;|]+/;

/**
 * The entries of a field, each once and at most MAX_ENTRIES; what `clean`
 * gives null for is refused.
 * @param {unknown} text
 * @param {(entry: string) => string | null} clean
 * @returns {ParsedField}
 */
function parseField(text, clean) {
  /** @type {ParsedField} */
  const parsed = { entries: [], refused: [] };
  if (typeof text !== 'string') return parsed;
  for (const entry of text.split(SEPARATORS)) {
    if (entry === '') continue;
    const cleaned = clean(entry);
    const list = cleaned === null ? parsed.refused : parsed.entries;
    const value = cleaned ?? entry;
    if (!list.includes(value) && list.length < MAX_ENTRIES) list.push(value);
  }
  return parsed;
}

/**
 * The file types a person typed ("ZIP, .rar | *.7z tar.gz"): lower case,
 * without a leading "." or "*.".
 * @param {unknown} text
 */
export function parseFileTypes(text) {
  return parseField(text, (entry) => {
    const type = entry.toLowerCase().replace(/^\*?\./, '');
    return FILE_TYPE.test(type) ? type : null;
  });
}

/** A label of a host name as browsers resolve it (underscores occur in real ones). */
const HOST_LABEL = /^[a-z0-9_](?:[a-z0-9_-]{0,61}[a-z0-9_])?$/;

/**
 * A site as a person names it ("Example.COM", "*.example.com", or an address
 * on it, "http://*.example.com/"): its host name, or null. A leading "*."
 * or "." names the site itself, which covers its subdomains anyway; a name
 * the browser would take but no host can have ("*", "a..b") is none.
 * @param {string} entry
 */
export function siteName(entry) {
  const name = entry
    .trim()
    .toLowerCase()
    .replace(/^([a-z][a-z0-9+.-]*:\/\/)?\*?\./, '$1');
  if (name === '') return null;
  let url;
  try {
    url = new URL(/^[a-z][a-z0-9+.-]*:\/\//.test(name) ? name : `http://${name}`);
  } catch {
    return null;
  }
  if (!['http:', 'https:', 'ftp:'].includes(url.protocol) || url.username || url.password) return null;
  const host = url.hostname.replace(/\.$/, '');
  return isHostName(host) ? host : null;
}

/**
 * True for a host name as the address parser gives it (lower case,
 * punycode): an IPv6 address in brackets, or dot-separated labels.
 * @param {string} host
 */
function isHostName(host) {
  if (host.startsWith('[')) return true;
  return host !== '' && host.length <= 253 && host.split('.').every((label) => HOST_LABEL.test(label));
}

/**
 * The sites a person typed, one host name each.
 * @param {unknown} text
 */
export function parseSites(text) {
  return parseField(text, siteName);
}

/**
 * True when the host name is the site or one of its subdomains.
 * @param {string} site
 * @param {string} host
 */
export function siteCovers(site, host) {
  return host === site || host.endsWith(`.${site}`);
}

/**
 * The host name of an address, or "" when it has none.
 * @param {unknown} address
 */
export function hostOf(address) {
  if (typeof address !== 'string') return '';
  try {
    return new URL(address).hostname.replace(/\.$/, '');
  } catch {
    return '';
  }
}

/**
 * Settings as stored, completed with the defaults; whatever is malformed
 * gives way to them.
 * @param {unknown} stored
 * @returns {Settings}
 */
export function normalizeSettings(stored) {
  const value = typeof stored === 'object' && stored !== null ? /** @type {Record<string, unknown>} */ (stored) : {};
  const minSizeKB = Number(value.minSizeKB);
  return {
    takeOver: typeof value.takeOver === 'boolean' ? value.takeOver : DEFAULT_SETTINGS.takeOver,
    fileTypes: storedList(value.fileTypes, parseFileTypes) ?? [...DEFAULT_SETTINGS.fileTypes],
    minSizeKB:
      Number.isFinite(minSizeKB) && minSizeKB >= 0
        ? Math.min(Math.floor(minSizeKB), MAX_SIZE_KB)
        : DEFAULT_SETTINGS.minSizeKB,
    neverSites: storedList(value.neverSites, parseSites) ?? [],
  };
}

/**
 * A stored list, cleaned; null when it is malformed. A list whose every
 * entry is refused is malformed: an empty file-type list would take every
 * type.
 * @param {unknown} list
 * @param {(text: string) => ParsedField} parse
 */
function storedList(list, parse) {
  if (!Array.isArray(list)) return null;
  const strings = list.filter((entry) => typeof entry === 'string');
  if (strings.length === 0) return list.length === 0 ? [] : null;
  const { entries } = parse(strings.join(' '));
  return entries.length > 0 ? entries : null;
}

/**
 * The last part of a path.
 * @param {string} path
 */
export function fileName(path) {
  return path.slice(Math.max(path.lastIndexOf('/'), path.lastIndexOf('\\')) + 1);
}

/**
 * True when the file's name ends in one of the types; an empty list takes
 * any. A name that is only the ending (".zip") has no type.
 * @param {string} path
 * @param {readonly string[]} types
 */
export function hasFileType(path, types) {
  if (types.length === 0) return true;
  const name = fileName(path).toLowerCase();
  return types.some((type) => name.length > type.length + 1 && name.endsWith(`.${type}`));
}

/**
 * True when the download comes from, or is on, a site never taken over.
 * @param {DownloadFacts} item
 * @param {readonly string[]} sites
 */
export function isNeverTaken(item, sites) {
  const hosts = [hostOf(item.url), hostOf(item.referrer)].filter((host) => host !== '');
  return sites.some((site) => hosts.some((host) => siteCovers(site, host)));
}

/**
 * True when the queue manager should take this download from the browser.
 * Left to the browser: our own downloads (the fall-backs among them),
 * private windows, addresses the manager cannot fetch (blob:, data:), sites
 * never taken over, types not in the list, and sizes known to be below the
 * least size. A size the browser does not know yet (Firefox never does at
 * this point) counts as large enough.
 * @param {DownloadFacts} item
 * @param {Settings} settings
 * @param {string} ownId this extension's id
 */
export function shouldTakeOver(item, settings, ownId) {
  if (!settings.takeOver || item.state !== 'in_progress' || item.incognito) return false;
  if (item.byExtensionId === ownId) return false;
  if (!isTransferable(item.url)) return false;
  if (isNeverTaken(item, settings.neverSites)) return false;
  if (!hasFileType(item.filename, settings.fileTypes)) return false;
  const size = item.totalBytes > 0 ? item.totalBytes : (item.fileSize ?? 0);
  return size <= 0 || size >= settings.minSizeKB * 1024;
}

/**
 * The list with the site added (once, while there is room).
 * @param {readonly string[]} sites
 * @param {string} site
 */
export function withSite(sites, site) {
  return sites.includes(site) || sites.length >= MAX_ENTRIES ? [...sites] : [...sites, site];
}

/**
 * The list without the sites that cover the host: after it, the host's
 * downloads are taken over again.
 * @param {readonly string[]} sites
 * @param {string} host
 */
export function withoutSitesCovering(sites, host) {
  return sites.filter((site) => !siteCovers(site, host));
}
