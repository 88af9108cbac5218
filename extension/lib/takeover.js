// @ts-check
// Taking over the browser's downloads: a download that the setting takes is
// cancelled before it writes anything and handed to the queue manager; when
// the manager neither took it nor may still take it, the browser downloads
// it again, so nothing is lost.
import { mayAccess } from './access.js';
import { api, browserTag } from './api.js';
import { watchDownloads } from './download_events.js';
import { text } from './i18n.js';
import { sendToHost, hostRegisterCommand } from './native.js';
import { reportProblem } from './notify.js';
import { noticeText, problemText, readReply, tookIt } from './outcomes.js';
import { hasCookieScheme, linkRequest } from './requests.js';
import { fileName, shouldTakeOver } from './settings.js';
import { dropHandover, loadHandovers, loadSettings, saveHandover } from './storage.js';

/**
 * @typedef {import('./storage.js').Handover} Handover
 * @typedef {chrome.downloads.DownloadItem & { cookieStoreId?: string }} DownloadItem
 *   Firefox names the download's cookie store
 */

/** This run of the background: a take-over of another run was cut off with it. */
const WORKER = crypto.randomUUID();

/** Watches the browser's downloads. */
export function listenForDownloads() {
  watchDownloads(api.downloads, browserTag, consider);
}

/**
 * Takes the download over when the settings say so and the extension may
 * read the site's cookies: without them the manager would fetch it without
 * the login, so the browser keeps it.
 * @param {DownloadItem} item
 */
async function consider(item) {
  try {
    if (!shouldTakeOver(item, await loadSettings(), api.runtime.id)) return;
    if (!(await mayAccess(item.url))) return;
    const key = crypto.randomUUID();
    /** @type {Handover} */
    const handover = { url: item.url, name: fileName(item.filename), worker: WORKER };
    if (item.cookieStoreId !== undefined) handover.cookieStoreId = item.cookieStoreId;
    // Kept before the browser lets go of it: from then on only this record knows it.
    await saveHandover(key, handover);
    if (await letGo(item.id)) await handOver(handover);
    await dropHandover(key);
  } catch (error) {
    await reportProblem(text('takeOverFailed', error instanceof Error ? error.message : String(error)));
  }
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
