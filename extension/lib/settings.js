// @ts-check
// The take-over setting and the rule that decides which downloads it takes.
// Pure: storage.js keeps the setting.
import { isTransferable } from './requests.js';

/**
 * @typedef {{ takeOver: boolean, fileTypes: string[], minSizeKB: number }} Settings
 *   fileTypes: file name extensions in lower case, without the dot; empty
 *   takes every type. minSizeKB: the least size taken, in units of 1024 bytes.
 * @typedef {{
 *   url: string, filename: string, totalBytes: number, fileSize?: number,
 *   incognito: boolean, byExtensionId?: string, state: string
 * }} DownloadFacts what both families' download items tell
 */

/** @type {Settings} */
export const DEFAULT_SETTINGS = Object.freeze({
  takeOver: false,
  fileTypes: [
    '7z', 'aac', 'apk', 'avi', 'bz2', 'deb', 'dmg', 'exe', 'flac', 'flv', 'gz', 'iso', 'm4a', 'm4v', 'mkv',
    'mov', 'mp3', 'mp4', 'msi', 'ogg', 'pdf', 'rar', 'rpm', 'tar', 'tgz', 'wav', 'webm', 'wmv', 'xz', 'zip',
  ],
  minSizeKB: 0,
});

/** More than a terabyte is surely a typing error. */
const MAX_SIZE_KB = 1024 ** 3;
const FILE_TYPE = /^[a-z0-9_~-]{1,16}$/;

/**
 * The file types a user typed ("ZIP, .rar *.7z"): lower case, without dots,
 * each once; what cannot be a file name extension is dropped.
 * @param {unknown} text
 */
export function parseFileTypes(text) {
  if (typeof text !== 'string') return [];
  const types = text
    .toLowerCase()
    .split(/[\s,;]+/)
    .map((word) => word.replace(/^\*?\./, ''))
    .filter((word) => FILE_TYPE.test(word));
  return Array.from(new Set(types));
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
    fileTypes: Array.isArray(value.fileTypes)
      ? parseFileTypes(value.fileTypes.filter((type) => typeof type === 'string').join(' '))
      : [...DEFAULT_SETTINGS.fileTypes],
    minSizeKB:
      Number.isFinite(minSizeKB) && minSizeKB >= 0
        ? Math.min(Math.floor(minSizeKB), MAX_SIZE_KB)
        : DEFAULT_SETTINGS.minSizeKB,
  };
}

/**
 * The extension of a file name or path, in lower case, or "".
 * @param {string} path
 */
export function fileType(path) {
  const name = path.slice(Math.max(path.lastIndexOf('/'), path.lastIndexOf('\\')) + 1);
  const dot = name.lastIndexOf('.');
  return dot > 0 ? name.slice(dot + 1).toLowerCase() : '';
}

/**
 * The last part of a path.
 * @param {string} path
 */
export function fileName(path) {
  return path.slice(Math.max(path.lastIndexOf('/'), path.lastIndexOf('\\')) + 1);
}

/**
 * True when the queue manager should take this download from the browser.
 * Left to the browser: our own downloads (the fall-backs among them),
 * private windows, addresses the manager cannot fetch (blob:, data:), types
 * not in the list, and sizes known to be below the least size. A size the
 * browser does not know yet (Firefox never does at this point) counts as
 * large enough.
 * @param {DownloadFacts} item
 * @param {Settings} settings
 * @param {string} ownId this extension's id
 */
export function shouldTakeOver(item, settings, ownId) {
  if (!settings.takeOver || item.state !== 'in_progress' || item.incognito) return false;
  if (item.byExtensionId === ownId) return false;
  if (!isTransferable(item.url)) return false;
  if (settings.fileTypes.length > 0 && !settings.fileTypes.includes(fileType(item.filename))) return false;
  const size = item.totalBytes > 0 ? item.totalBytes : (item.fileSize ?? 0);
  return size <= 0 || size >= settings.minSizeKB * 1024;
}
