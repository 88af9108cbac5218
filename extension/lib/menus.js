// @ts-check
// The context menu: one link to the queue or to the link explorer, or every
// link of the page or of the selection to the queue.
import { api, browserTag } from './api.js';
import { sendToHost, hostRegisterCommand } from './native.js';
import { reportProblem } from './notify.js';
import { problemText, readReply } from './outcomes.js';
import { linksInPage, linkTextInPage } from './page.js';
import { hasCookieScheme, isTransferable, linkRequest, listRequest } from './requests.js';

/**
 * @typedef {import('./outcomes.js').Reply} Reply
 * @typedef {chrome.contextMenus.OnClickData & { linkText?: string }} ClickData
 *   Firefox adds the link's text
 * @typedef {chrome.tabs.Tab & { cookieStoreId?: string }} Tab
 *   Firefox names the tab's cookie store (private windows, containers)
 */

export const MENU = Object.freeze({ add: 'zyp-add', explore: 'zyp-explore', all: 'zyp-all' });
const LINK_PATTERNS = ['http://*/*', 'https://*/*', 'ftp://*/*'];

/**
 * Creates the menu items; the browser keeps them while the extension is
 * installed. The calls go out at once, in order: the browser handles one
 * context's calls in the order they come.
 */
export function createMenus() {
  void api.contextMenus.removeAll();
  api.contextMenus.create({
    id: MENU.add,
    title: 'Download with ZYP',
    contexts: ['link'],
    targetUrlPatterns: LINK_PATTERNS,
  });
  api.contextMenus.create({
    id: MENU.explore,
    title: 'Open in ZYP Link Explorer',
    contexts: ['link'],
    targetUrlPatterns: LINK_PATTERNS,
  });
  api.contextMenus.create({ id: MENU.all, title: 'Download all links with ZYP', contexts: ['page', 'selection'] });
}

/**
 * What the menu items do; returns the host's reply (none for an unknown item).
 * @param {ClickData} info
 * @param {Tab | undefined} tab
 * @returns {Promise<Reply | null>}
 */
export async function handleMenuClick(info, tab) {
  try {
    switch (info.menuItemId) {
      case MENU.add:
        return await handOverLink('add', info, tab);
      case MENU.explore:
        return await handOverLink('explore', info, tab);
      case MENU.all:
        return await handOverAllLinks(info, tab);
      default:
        return null;
    }
  } catch (error) {
    return settle({ outcome: 'failed', message: error instanceof Error ? error.message : String(error) });
  }
}

/**
 * @param {import('./requests.js').LinkRequestType} type
 * @param {ClickData} info
 * @param {Tab | undefined} tab
 */
async function handOverLink(type, info, tab) {
  const url = info.linkUrl ?? '';
  if (!isTransferable(url)) return refuse('ZYP takes http, https and ftp links only.');
  const linkText = info.linkText ?? (await inPage(tab, info.frameId, linkTextInPage, url));
  const request = linkRequest(type, url, {
    cookies: hasCookieScheme(url) ? await cookiesFor(url, tab) : null,
    browser: browserTag,
    userAgent: navigator.userAgent,
    pageTitle: tab?.title,
    linkText,
  });
  return settle(readReply(await sendToHost(request)));
}

/**
 * @param {ClickData} info
 * @param {Tab | undefined} tab
 */
async function handOverAllLinks(info, tab) {
  const list = listRequest(await inPage(tab, info.frameId, linksInPage, Boolean(info.selectionText)));
  if (!list) return refuse('ZYP found no http, https or ftp link here.');
  const reply = await settle(readReply(await sendToHost(list.request)));
  if (list.left > 0 && reply.outcome === 'delivered')
    await reportProblem(`ZYP took the first ${list.request.urls.length} links; ${list.left} more were left out.`);
  return reply;
}

/**
 * The cookies the browser would send to the address from this tab: a
 * private window or a container has a cookie store of its own.
 * @param {string} url
 * @param {Tab | undefined} tab
 */
async function cookiesFor(url, tab) {
  let storeId = tab?.cookieStoreId;
  if (storeId === undefined && tab?.incognito) {
    const stores = await api.cookies.getAllCookieStores();
    storeId = stores.find((store) => tab.id !== undefined && store.tabIds.includes(tab.id))?.id;
  }
  return api.cookies.getAll(storeId === undefined ? { url } : { url, storeId });
}

/**
 * Runs a function in the frame that was clicked; what it returns comes from
 * the page. Pages the extension may not script (the browser's own, other
 * extensions') give nothing.
 * @template {unknown[]} A
 * @template R
 * @param {Tab | undefined} tab
 * @param {number | undefined} frameId
 * @param {(...args: A) => R} func
 * @param {A} args
 * @returns {Promise<unknown>}
 */
async function inPage(tab, frameId, func, ...args) {
  if (tab?.id === undefined) return undefined;
  try {
    const [result] = await api.scripting.executeScript({
      target: { tabId: tab.id, frameIds: [frameId ?? 0] },
      func,
      args,
    });
    return result?.result;
  } catch {
    return undefined;
  }
}

/**
 * Tells the user why the extension itself sent nothing.
 * @param {string} message
 * @returns {Promise<Reply>}
 */
async function refuse(message) {
  await reportProblem(message);
  return { outcome: 'refused', message };
}

/**
 * Tells the user when the hand-over went wrong; passes the reply on.
 * @param {Reply} reply
 */
async function settle(reply) {
  const problem = problemText(reply, hostRegisterCommand());
  if (problem) await reportProblem(problem);
  return reply;
}
