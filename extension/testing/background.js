// @ts-check
// Test builds only: the extension's background, plus what the tests call
// through the page relay: the menu items with their titles and the handler
// they call, the popup (what it shows, and its actions), the settings, the
// site access and the sites it asked for, what the extension knows of
// downloads, the notifications it showed, what its toolbar button shows,
// and which run of the background answers (and when it sleeps).
import '../background.js';
import { api } from '../lib/api.js';
import { MENU, handleMenuClick } from '../lib/menus.js';
import {
  loadHandovers,
  loadProblem,
  loadSettings,
  neverTakeOverFrom,
  saveSettings,
  takeOverAgainFrom,
} from '../lib/storage.js';
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
 * The sites the extension asked the person for, in order: what the
 * browser's prompt named.
 * @type {string[][]}
 */
const askedFor = [];
const request = api.permissions.request.bind(api.permissions);
/** @type {any} */ (api.permissions).request = (/** @type {chrome.permissions.Permissions} */ permissions) => {
  askedFor.push([...(permissions.origins ?? [])]);
  return request(permissions);
};

/**
 * The menu items' titles and contexts as the extension gave them, by id:
 * neither browser tells them later.
 * @type {Record<string, { title: string, contexts: string[] }>}
 */
const menuItems = {};
const createMenu = api.contextMenus.create.bind(api.contextMenus);
/** @type {any} */ (api.contextMenus).create = (/** @type {chrome.contextMenus.CreateProperties} */ properties) => {
  menuItems[String(properties.id)] = { title: properties.title ?? '', contexts: [...(properties.contexts ?? [])] };
  return createMenu(properties);
};

/**
 * What the popup showed, from its report (testing/popup-report.js); one
 * popup at a time.
 * @type {((shown: { lang: string, text: string }) => void) | null}
 */
let popupShown = null;

/**
 * Opens the popup's page in a tab behind the test page, as it opens over
 * that page, and returns what it showed once it had asked the queue manager.
 * @param {chrome.tabs.Tab} tab the test page
 */
async function showPopup(tab) {
  const report = new Promise((resolve) => (popupShown = resolve));
  const popup = await api.tabs.create({ url: api.runtime.getURL('popup/popup.html'), active: false, windowId: tab.windowId });
  try {
    return await report;
  } finally {
    popupShown = null;
    if (popup.id !== undefined) await api.tabs.remove(popup.id);
  }
}

/** This run of the background: one the browser starts after a sleep has another. */
const RUN = crypto.randomUUID();
/**
 * Where the background says that the browser puts it to sleep (Firefox
 * tells it first); the test waits for that rather than for a time.
 */
let sleepReport = '';
api.runtime.onSuspend?.addListener(() => {
  if (sleepReport && typeof navigator.sendBeacon === 'function') navigator.sendBeacon(`${sleepReport}?run=${RUN}`);
});

/** The test site's access pattern. */
const TEST_SITE = ['http://127.0.0.1/*'];

/**
 * Settles once the browser has told the background that it was installed:
 * the background's own listener, added first, has asked for the menu items
 * by then, and later calls are handled after those.
 */
const installed = new Promise((resolve) => api.runtime.onInstalled.addListener(() => resolve(undefined)));

/** @type {Record<string, (tab: chrome.tabs.Tab, ...args: any[]) => Promise<unknown>>} */
const calls = {
  // A person's click lets the extension ask for a site's access, and a
  // headless browser's prompt would wait for ever: the relayed click
  // reaches the handler a moment later, when the browser no longer takes it
  // for the person's.
  click: async (tab, info) => {
    await new Promise((resolve) => setTimeout(resolve, 0));
    return handleMenuClick(info, tab);
  },
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
  menuItems: async () => {
    await installed;
    return menuItems;
  },
  popup: (tab) => showPopup(tab),
  uiLanguage: async () => api.i18n.getUILanguage(),
  status: () => managerStatus(),
  queue: (_tab, action) => queue(action),
  settings: (_tab, changes) => saveSettings(changes),
  storedSettings: () => loadSettings(),
  neverTakeOverFrom: (_tab, site) => neverTakeOverFrom(site),
  takeOverAgainFrom: (_tab, host) => takeOverAgainFrom(host),
  hasSiteAccess: (_tab, origins = TEST_SITE) => api.permissions.contains({ origins }),
  askedFor: async () => askedFor,
  // As a person takes the site permissions back in Firefox's add-on manager.
  withholdSiteAccess: () => api.permissions.remove({ origins: ['http://*/*', 'https://*/*', ...TEST_SITE] }),
  problem: () => loadProblem(),
  handovers: async () => (await loadHandovers()).size,
  downloads: () => api.downloads.search({}),
  notifications: async () => shown,
  run: async () => RUN,
  reportSleep: async (_tab, address) => {
    sleepReport = String(address);
  },
  // What the toolbar button shows of the take-over setting.
  button: async () => ({ badge: await api.action.getBadgeText({}), title: await api.action.getTitle({}) }),
};

api.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (message?.zypPopupShown && sender.id === api.runtime.id && sender.url?.startsWith(api.runtime.getURL('popup/'))) {
    popupShown?.(message.zypPopupShown);
    return false;
  }
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
