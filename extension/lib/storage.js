// @ts-check
// What must outlive the background: Chromium stops an idle service worker
// after about 30 s, and Firefox unloads an idle background page, so the
// settings, the last problem and every take-over in progress are kept in the
// extension's local storage, never only in memory.
import { api } from './api.js';
import { normalizeSettings, withSite, withoutSitesCovering } from './settings.js';

/**
 * @typedef {import('./settings.js').Settings} Settings
 * @typedef {{ text: string, at: number }} Problem
 * @typedef {{ url: string, name: string, cookieStoreId?: string, worker: string }} Handover
 *   a download taken from the browser whose hand-over has not ended;
 *   worker: the background run that owns it
 */

/** The settings' key in storage: the button follows its changes. */
export const SETTINGS = 'settings';
const LAST_PROBLEM = 'lastProblem';
const HANDOVER = 'handover:';

/** @returns {Promise<Settings>} */
export async function loadSettings() {
  const stored = await api.storage.local.get(SETTINGS);
  return normalizeSettings(stored[SETTINGS]);
}

/**
 * Stores the settings, completed and cleaned; returns what was stored.
 * @param {Partial<Settings>} changes
 */
export async function saveSettings(changes) {
  const settings = normalizeSettings({ ...(await loadSettings()), ...changes });
  await api.storage.local.set({ [SETTINGS]: settings });
  return settings;
}

/**
 * Never takes a download from the site (a host name) or its subdomains.
 * @param {string} site
 */
export async function neverTakeOverFrom(site) {
  return saveSettings({ neverSites: withSite((await loadSettings()).neverSites, site) });
}

/**
 * Takes downloads from the host over again: the sites that cover it leave the list.
 * @param {string} host
 */
export async function takeOverAgainFrom(host) {
  return saveSettings({ neverSites: withoutSitesCovering((await loadSettings()).neverSites, host) });
}

/** @param {string} text */
export async function saveProblem(text) {
  /** @type {Problem} */
  const problem = { text, at: Date.now() };
  await api.storage.local.set({ [LAST_PROBLEM]: problem });
}

/** @returns {Promise<Problem | null>} */
export async function loadProblem() {
  const stored = await api.storage.local.get(LAST_PROBLEM);
  const problem = /** @type {Partial<Problem> | undefined} */ (stored[LAST_PROBLEM]);
  return typeof problem?.text === 'string' && typeof problem.at === 'number'
    ? { text: problem.text, at: problem.at }
    : null;
}

/**
 * @param {string} key
 * @param {Handover} handover
 */
export async function saveHandover(key, handover) {
  await api.storage.local.set({ [HANDOVER + key]: handover });
}

/** @param {string} key */
export async function dropHandover(key) {
  await api.storage.local.remove(HANDOVER + key);
}

/**
 * Every take-over in progress, by key.
 * @returns {Promise<Map<string, Handover>>}
 */
export async function loadHandovers() {
  const stored = await api.storage.local.get(null);
  /** @type {Map<string, Handover>} */
  const handovers = new Map();
  for (const [key, value] of Object.entries(stored)) {
    const handover = /** @type {Partial<Handover> | undefined} */ (value);
    if (!key.startsWith(HANDOVER) || typeof handover?.url !== 'string' || typeof handover.worker !== 'string') continue;
    handovers.set(key.slice(HANDOVER.length), {
      url: handover.url,
      name: typeof handover.name === 'string' ? handover.name : '',
      worker: handover.worker,
      ...(typeof handover.cookieStoreId === 'string' ? { cookieStoreId: handover.cookieStoreId } : {}),
    });
  }
  return handovers;
}
