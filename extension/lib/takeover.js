// @ts-check
// Taking over the browser's downloads: a download that the setting takes is
// cancelled before it writes anything and handed to the queue manager; when
// the manager neither took it nor may still take it, the browser downloads
// it again, so nothing is lost. Only a download the manager can fetch again
// from its address alone is taken: one whose request was a GET without a
// body. Firefox shows a download to extensions only once it has asked where
// to save it and started writing it, so there a response that will be saved
// is taken over as it arrives, before either.
import { mayAccess } from './access.js';
import { api, browserTag } from './api.js';
import { watchDownloads } from './download_events.js';
import { text } from './i18n.js';
import { sendToHost, hostRegisterCommand } from './native.js';
import { reportProblem } from './notify.js';
import { noticeText, problemText, readReply, tookIt } from './outcomes.js';
import { REQUEST_FILTER, noteResponseLength, requestOf, watchRequests } from './request_watch.js';
import { hasCookieScheme, linkRequest } from './requests.js';
import { savedFile } from './responses.js';
import { fileName, shouldTakeOver } from './settings.js';
import { dropHandover, loadHandovers, loadSettings, saveHandover } from './storage.js';

/**
 * @typedef {import('./storage.js').Handover} Handover
 * @typedef {chrome.downloads.DownloadItem & { cookieStoreId?: string }} DownloadItem
 *   Firefox names the download's cookie store
 */

/** This run of the background: a take-over of another run was cut off with it. */
const WORKER = crypto.randomUUID();

/**
 * Watches the requests that may become downloads, the browser's downloads
 * and, in Firefox, the responses that will be saved.
 */
export function listenForDownloads() {
  watchRequests();
  watchDownloads(api.downloads, browserTag, consider);
  // Chromium lets extensions only observe responses, and tells a download's size when it starts.
  if (browserTag === 'FF') {
    // Firefox waits for a listener's promise (Chromium's types know only an
    // answer given at once); a page, which is no file, is let through at once.
    api.webRequest.onHeadersReceived.addListener(
      (details) => {
        const file = details.tabId >= 0 ? savedFile(details.url, details.statusCode, details.responseHeaders) : null;
        return file ? /** @type {any} */ (considerResponse(details, file)) : undefined;
      },
      { ...REQUEST_FILTER, types: ['main_frame', 'sub_frame'] },
      /** @type {any} */ (['blocking', 'responseHeaders']),
    );
  }
}

/**
 * Takes the download over when the settings say so, the manager can fetch
 * it again from its address, and the extension may read the site's
 * cookies: without them the manager would fetch it without the login, so
 * the browser keeps it.
 * @param {DownloadItem} item
 */
async function consider(item) {
  try {
    const settings = await loadSettings();
    if (!shouldTakeOver(item, settings, api.runtime.id)) return;
    const request = await requestOf(item);
    if (!request.repeatable) return;
    // Firefox tells no size here; the response's length, when it was seen, does.
    if (!(item.totalBytes > 0) && request.length !== undefined) {
      if (!shouldTakeOver({ ...item, totalBytes: request.length }, settings, api.runtime.id)) return;
    }
    if (!(await mayAccess(item.url))) return;
    const { key, handover } = await keepHandover(item.url, fileName(item.filename), item.cookieStoreId);
    if (await letGo(item.id)) await handOver(handover);
    await dropHandover(key);
  } catch (error) {
    await reportFailure(error);
  }
}

/**
 * @typedef {{
 *   requestId: string, url: string, method: string, tabId: number, statusCode: number,
 *   responseHeaders?: chrome.webRequest.HttpHeader[], originUrl?: string, incognito?: boolean,
 *   cookieStoreId?: string
 * }} ResponseDetails what Firefox's onHeadersReceived tells
 */

/**
 * Firefox: cancels a response that the browser would save as a file and the
 * setting takes, before the browser asks where to save it or writes
 * anything, and hands it over. A response whose headers do not tell (no
 * disposition or type, or no length while a least size is set) goes on to
 * become a download, which is considered as in Chromium; the length it told
 * is kept for that.
 * @param {ResponseDetails} details
 * @param {import('./responses.js').SavedFile} file what its headers say
 * @returns {Promise<{ cancel?: boolean }>}
 */
async function considerResponse(details, file) {
  try {
    await noteResponseLength(details, file.length);
    if (details.incognito) return {};
    const settings = await loadSettings();
    if (file.length < 0 && settings.minSizeKB > 0) return {};
    const facts = {
      url: details.url,
      filename: file.name,
      totalBytes: Math.max(file.length, 0),
      referrer: details.originUrl ?? '',
      incognito: false,
      state: 'in_progress',
    };
    if (!shouldTakeOver(facts, settings, api.runtime.id)) return {};
    if (details.method !== 'GET' || !(await requestOf(details)).repeatable) return {};
    if (!(await mayAccess(details.url))) return {};
    const { key, handover } = await keepHandover(details.url, file.name, details.cookieStoreId);
    void handOver(handover).then(() => dropHandover(key)).catch(reportFailure);
    return { cancel: true };
  } catch (error) {
    await reportFailure(error);
    return {};
  }
}

/**
 * Records a take-over before the browser lets go of its download: from then
 * on only this record knows it.
 * @param {string} url
 * @param {string} name
 * @param {string | undefined} cookieStoreId
 */
async function keepHandover(url, name, cookieStoreId) {
  const key = crypto.randomUUID();
  /** @type {Handover} */
  const handover = { url, name, worker: WORKER };
  if (cookieStoreId !== undefined) handover.cookieStoreId = cookieStoreId;
  await saveHandover(key, handover);
  return { key, handover };
}

/**
 * Tells the person that a take-over went wrong, and why.
 * @param {unknown} error
 */
function reportFailure(error) {
  return reportProblem(text('takeOverFailed', error instanceof Error ? error.message : String(error)));
}

/**
 * Cancels the browser's download and takes it off the browser's list; false
 * when the browser keeps it (a small file may be complete before the cancel).
 * @param {number} id
 */
async function letGo(id) {
  try {
    await api.downloads.cancel(id);
  } catch {
    // Too late to cancel: the state below says what the browser has.
  }
  const [after] = await api.downloads.search({ id });
  if (after?.state !== 'interrupted') return false;
  await api.downloads.erase({ id });
  return true;
}

/** @param {Handover} handover */
async function handOver(handover) {
  let reply;
  try {
    const cookies = hasCookieScheme(handover.url)
      ? await api.cookies.getAll(
          handover.cookieStoreId === undefined
            ? { url: handover.url }
            : { url: handover.url, storeId: handover.cookieStoreId },
        )
      : null;
    const request = linkRequest('add', handover.url, {
      cookies,
      browser: browserTag,
      userAgent: navigator.userAgent,
      pageTitle: '',
      linkText: '',
    });
    reply = readReply(await sendToHost(request));
  } catch (error) {
    reply = readReply({ outcome: 'failed', message: error instanceof Error ? error.message : String(error) });
  }
  if (!tookIt(reply)) {
    await fallBack(handover, problemText(reply, hostRegisterCommand()) ?? '');
    return;
  }
  // Handed over but not confirmed, or without some cookies: the browser's
  // own download is gone, so the person hears of it.
  const notice = noticeText(reply, handover.url);
  if (notice) await reportProblem(notice);
}

/**
 * The browser downloads it after all.
 * @param {Handover} handover
 * @param {string} why
 */
async function fallBack(handover, why) {
  const name = handover.name || handover.url;
  try {
    await api.downloads.download(
      handover.cookieStoreId === undefined
        ? { url: handover.url }
        : /** @type {chrome.downloads.DownloadOptions} */ ({ url: handover.url, cookieStoreId: handover.cookieStoreId }),
    );
  } catch (error) {
    const reason = error instanceof Error ? error.message : String(error);
    await reportProblem(text('browserCannotDownloadEither', why, name, reason, handover.url));
    return;
  }
  await reportProblem(text('browserDownloadsItself', why, name));
}

/**
 * Take-overs that a stopped run of the background left unfinished: their
 * outcome is unknown, so the browser downloads them (a copy that the
 * manager got as well is better than none).
 */
export async function recoverHandovers() {
  for (const [key, handover] of await loadHandovers()) {
    if (handover.worker === WORKER) continue;
    await fallBack(handover, text('handOverCutOff'));
    await dropHandover(key);
  }
}
