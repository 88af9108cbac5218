// @ts-check
// The context menu: one link, video, audio or image to the queue, a link to
// the link explorer, or every link of the page or of the selection to the
// queue.
import { askForAccess, mayAccess } from './access.js';
import { api, browserTag } from './api.js';
import { text } from './i18n.js';
import { sendToHost, hostRegisterCommand } from './native.js';
import { reportProblem } from './notify.js';
import { noticeText, problemText, readReply } from './outcomes.js';
import { linksInPage, linkTextInPage, mediaTextInPage } from './page.js';
import { hasCookieScheme, isTransferable, linkRequest, listRequest } from './requests.js';
import { hostOf } from './settings.js';

/**
 * @typedef {import('./outcomes.js').Reply} Reply
 * @typedef {chrome.contextMenus.OnClickData & { linkText?: string }} ClickData
 *   Firefox adds the link's text
 * @typedef {chrome.tabs.Tab & { cookieStoreId?: string }} Tab
 *   Firefox names the tab's cookie store (private windows, containers)
 * @typedef {'video' | 'audio' | 'image'} MediaKind
 * @typedef {import('./access.js').Answer} Answer
 */

export const MENU = Object.freeze({
  add: 'zyp-add',
  explore: 'zyp-explore',
  all: 'zyp-all',
  video: 'zyp-video',
  audio: 'zyp-audio',
  image: 'zyp-image',
});
const LINK_PATTERNS = ['http://*/*', 'https://*/*', 'ftp://*/*'];
/** The menu item of each kind of element; its contexts are named alike. */
const MEDIA = /** @type {const} */ ([
  [MENU.video, 'video', 'menuDownloadVideo'],
  [MENU.audio, 'audio', 'menuDownloadAudio'],
  [MENU.image, 'image', 'menuDownloadImage'],
]);

/**
 * Creates the menu items; the browser keeps them while the extension is
 * installed. The calls go out at once, in order: the browser handles one
 * context's calls in the order they come.
 */
export function createMenus() {
  void api.contextMenus.removeAll();
  api.contextMenus.create({ id: MENU.add, title: text('menuDownloadLink'), contexts: ['link'], targetUrlPatterns: LINK_PATTERNS });
  api.contextMenus.create({
    id: MENU.explore,
    title: text('menuOpenInLinkExplorer'),
    contexts: ['link'],
    targetUrlPatterns: LINK_PATTERNS,
  });
  // Sources the manager cannot fetch get the item too: it says why it cannot take them.
  for (const [id, context, title] of MEDIA) api.contextMenus.create({ id, title: text(title), contexts: [context] });
  api.contextMenus.create({ id: MENU.all, title: text('menuDownloadAllLinks'), contexts: ['page', 'selection'] });
}

/**
 * What the menu items do; returns the host's reply (none for an unknown
 * item). Not async: the browser lets the extension ask for a site's access
 * only before the handler first waits.
 * @param {ClickData} info
 * @param {Tab | undefined} tab
 * @returns {Promise<Reply | null>}
 */
export function handleMenuClick(info, tab) {
  const address = addressOf(info);
  const asked = info.menuItemId === MENU.all || isTransferable(address) ? askForAccess(address) : undefined;
  return handleClick(info, tab, asked).catch((error) =>
    settle({ outcome: 'failed', message: error instanceof Error ? error.message : String(error) }, ''),
  );
}

/**
 * The address whose site the item reads: the page for a list, else the
 * address it hands over. A picture inside a link gives both a source and
 * a link; the link's items hand over the link.
 * @param {ClickData} info
 */
function addressOf(info) {
  if (info.menuItemId === MENU.all) return info.frameUrl ?? info.pageUrl;
  if (info.menuItemId === MENU.add || info.menuItemId === MENU.explore) return info.linkUrl;
  return info.srcUrl;
}

/**
 * @param {ClickData} info
 * @param {Tab | undefined} tab
 * @param {Answer | undefined} asked the person's answer, when asked for access
 */
async function handleClick(info, tab, asked) {
  switch (info.menuItemId) {
    case MENU.add:
      return handOverLink('add', info, tab, asked);
    case MENU.explore:
      return handOverLink('explore', info, tab, asked);
    case MENU.all:
      return handOverAllLinks(info, tab, asked);
    default: {
      const media = MEDIA.find(([id]) => id === info.menuItemId);
      return media ? handOverMedia(media[1], info, tab, asked) : null;
    }
  }
}

/**
 * @param {import('./requests.js').LinkRequestType} type
 * @param {ClickData} info
 * @param {Tab | undefined} tab
 * @param {Answer | undefined} asked
 */
async function handOverLink(type, info, tab, asked) {
  const url = info.linkUrl ?? '';
  if (!isTransferable(url)) return refuse(text('linkNotTransferable'));
  const linkText = info.linkText ?? (await inPage(info, tab, linkTextInPage, url));
  return handOver(type, url, tab, linkText, asked);
}

/**
 * A video, a sound or a picture: its source goes to the queue, described by
 * the element's title or alternative text, else the page's title.
 * @param {MediaKind} kind
 * @param {ClickData} info
 * @param {Tab | undefined} tab
 * @param {Answer | undefined} asked
 */
async function handOverMedia(kind, info, tab, asked) {
  const url = info.srcUrl ?? '';
  if (!isTransferable(url)) return refuse(mediaRefusal(kind, url));
  const described = await inPage(info, tab, mediaTextInPage, url);
  return handOver('add', url, tab, typeof described === 'string' && described.trim() ? described : tab?.title, asked);
}

/** Why a source cannot go to the queue manager: messages by kind of element. */
const MEDIA_REFUSALS = {
  video: { inPage: 'videoInPage', madeByPage: 'videoMadeByPage', notFetchable: 'videoNotFetchable' },
  audio: { inPage: 'audioInPage', madeByPage: 'audioMadeByPage', notFetchable: 'audioNotFetchable' },
  image: { inPage: 'imageInPage', madeByPage: 'imageMadeByPage', notFetchable: 'imageNotFetchable' },
};

/**
 * Why a source cannot go to the queue manager, in plain words: it is in
 * the page itself (data:), the page makes it (blob:, a stream: no address
 * at all), or the manager does not fetch its scheme.
 * @param {MediaKind} kind
 * @param {string} url
 */
function mediaRefusal(kind, url) {
  const messages = MEDIA_REFUSALS[kind];
  const scheme = /^([a-z][a-z0-9+.-]*):/i.exec(url)?.[1]?.toLowerCase();
  if (scheme === 'data') return text(messages.inPage);
  if (scheme === undefined || scheme === 'blob' || scheme === 'mediastream') return text(messages.madeByPage);
  if (scheme === 'http' || scheme === 'https' || scheme === 'ftp') return text('addressNotTransferable');
  return text(messages.notFetchable, scheme);
}

/**
 * One address to the queue or the link explorer, with the cookies the
 * browser would send to it when the extension may read them.
 * @param {import('./requests.js').LinkRequestType} type
 * @param {string} url
 * @param {Tab | undefined} tab
 * @param {unknown} linkText
 * @param {Answer | undefined} asked
 */
async function handOver(type, url, tab, linkText, asked) {
  const hasCookies = hasCookieScheme(url);
  const readable = hasCookies && (await mayAccess(url, asked));
  const request = linkRequest(type, url, {
    cookies: readable ? await cookiesFor(url, tab) : null,
    browser: browserTag,
    userAgent: navigator.userAgent,
    pageTitle: tab?.title,
    linkText,
  });
  const withoutCookies = hasCookies && !readable ? [text('noCookieAccess', hostOf(url))] : [];
  return settle(readReply(await sendToHost(request)), url, withoutCookies);
}

/**
 * @param {ClickData} info
 * @param {Tab | undefined} tab
 * @param {Answer | undefined} asked
 */
async function handOverAllLinks(info, tab, asked) {
  const page = info.frameUrl ?? info.pageUrl;
  if (!(await mayAccess(page, asked))) return refuse(text('noPageAccess', hostOf(page)));
  const hrefs = await inPage(info, tab, linksInPage, Boolean(info.selectionText));
  if (hrefs === undefined) return refuse(text('pageNotReadable'));
  const list = listRequest(hrefs);
  if (!list) return refuse(text('noLinks'));
  const reply = await settle(readReply(await sendToHost(list.request)), '');
  if (list.left > 0 && reply.outcome === 'delivered')
    await reportProblem(text('linksLeftOut', list.request.urls.length, list.left));
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

/** A page that has not answered by then will not: the hand-over goes on without it. */
const PAGE_TIMEOUT_MS = 10000;

/**
 * Runs a function in the frame that was clicked; what it returns comes from
 * the page. Pages the extension may not script (the browser's own, other
 * extensions', sites whose access the person withheld) give undefined: on a
 * withheld site Chromium would hold the script until the person allows the
 * site, so the extension does not even try.
 * @template {unknown[]} A
 * @template R
 * @param {ClickData} info the click, which names the frame and its address
 * @param {Tab | undefined} tab
 * @param {(...args: A) => R} func
 * @param {A} args
 * @returns {Promise<unknown>}
 */
async function inPage(info, tab, func, ...args) {
  if (tab?.id === undefined || !(await mayAccess(info.frameUrl ?? info.pageUrl))) return undefined;
  /** @type {ReturnType<typeof setTimeout> | undefined} */
  let timer;
  const timeout = new Promise((resolve) => (timer = setTimeout(() => resolve(undefined), PAGE_TIMEOUT_MS)));
  try {
    const injected = api.scripting
      .executeScript({ target: { tabId: tab.id, frameIds: [info.frameId ?? 0] }, func, args })
      .then(
        ([result]) => result?.result,
        () => undefined,
      );
    return await Promise.race([injected, timeout]);
  } catch {
    return undefined;
  } finally {
    clearTimeout(timer);
  }
}

/**
 * Tells the person why the extension itself sent nothing.
 * @param {string} message
 * @returns {Promise<Reply>}
 */
async function refuse(message) {
  await reportProblem(message);
  return { outcome: 'refused', message };
}

/**
 * Tells the person when the hand-over went wrong, or what they should know
 * of one that went through, in one notification; passes the reply on.
 * @param {Reply} reply
 * @param {string} address what was handed over ("" for a list)
 * @param {string[]} [more] what else they should know of it
 */
async function settle(reply, address, more = []) {
  const said = [problemText(reply, hostRegisterCommand()) ?? noticeText(reply, address), ...more];
  const notice = said.filter((part) => part !== null).join(' ');
  if (notice) await reportProblem(notice);
  return reply;
}
