// @ts-check
// Test builds only: the extension's background, plus what the tests call
// through the page relay: the menu items and the handler they call, the popup's
// actions, the settings, what the extension knows of downloads, and the
// notifications it showed.
import '../background.js';
import { api } from '../lib/api.js';
import { MENU, handleMenuClick } from '../lib/menus.js';
import { loadHandovers, loadProblem, saveSettings } from '../lib/storage.js';
import { managerStatus, queue } from '../popup/actions.js';

/**
 * The notifications the extension showed, with their texts: headless
 * Firefox closes each one at once, and neither browser tells a text later.
 * @type {{ id: string, message: string }[]}
 */
const shown = [];
const create = api.notifications.create.bind(api.notifications);
/** @type {any} */ (api.notifications).create = async (/** @type {chrome.notifications.NotificationCreateOptions} */ options) => {
  const id = await create(options);
  shown.push({ id, message: options.message ?? '' });
  return id;
};

/**
 * Settles once the browser has told the background that it was installed:
 * the background's own listener, added first, has asked for the menu items
 * by then, and later calls are handled after those.
 */
const installed = new Promise((resolve) => api.runtime.onInstalled.addListener(() => resolve(undefined)));

/** @type {Record<string, (tab: chrome.tabs.Tab, ...args: any[]) => Promise<unknown>>} */
const calls = {
  click: (tab, info) => handleMenuClick(info, tab),
  // Updating an item that does not exist fails: the ids of those that do.
  menus: async () => {
    await installed;
    const found = [];
    for (const id of Object.values(MENU)) {
      try {
        await api.contextMenus.update(id, {});
        found.push(id);
      } catch {
        // not created
      }
    }
    return found;
  },
  status: () => managerStatus(),
  queue: (_tab, action) => queue(action),
  settings: (_tab, changes) => saveSettings(changes),
  problem: () => loadProblem(),
  handovers: async () => (await loadHandovers()).size,
  downloads: () => api.downloads.search({}),
  notifications: async () => shown,
};

api.runtime.onMessage.addListener((message, sender, sendResponse) => {
  const name = message?.zypTest;
  const tab = sender.tab;
  // Only the relay of a test page on this machine, and only the calls above.
  if (typeof name !== 'string' || !Object.hasOwn(calls, name)) return false;
  if (!tab || sender.id !== api.runtime.id || !sender.url?.startsWith('http://127.0.0.1:')) return false;
  calls[name](tab, ...(Array.isArray(message.args) ? message.args : [])).then(
    (reply) => sendResponse({ reply }),
    (error) => sendResponse({ error: String(error) }),
  );
  return true;
});
