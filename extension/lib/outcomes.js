// @ts-check
// What the host's replies mean, in words for the person. Pure but for the
// messages, which come from the browser's i18n.
import { text } from './i18n.js';

/**
 * @typedef {'delivered' | 'handed-over' | 'not-delivered' | 'failed' | 'refused' | 'no-host'} Outcome
 *   "no-host": the browser found no host registered under our name.
 * @typedef {{ outcome: Outcome, message: string, cookiesLeftOut?: number }} Reply
 *   cookiesLeftOut: cookies the host could not carry and left out
 * @typedef {{ manager: 'running' | 'absent', version: string }} Status
 */

const OUTCOMES = new Set(['delivered', 'handed-over', 'not-delivered', 'failed', 'refused', 'no-host']);
/** Host messages are shown in notifications and the popup: a line or two. */
const MAX_MESSAGE_LENGTH = 400;

/** The ids that the host's --register allows when it is given none. */
const REGISTERED_IDS = { CH: 'bbfoidedccldpkpienckfkdpmffjbkbm', FF: 'zyp-extension@tarvesk.com' };

/**
 * The command that registers the host for this extension: a copy from a
 * store has an id of its own, which must be named.
 * @param {'CH' | 'FF'} browserTag
 * @param {string} extensionId
 */
export function registerCommand(browserTag, extensionId) {
  if (REGISTERED_IDS[browserTag] === extensionId) return 'ZYPBrowserHost.exe --register';
  const family = browserTag === 'FF' ? 'firefox' : 'chromium';
  return `ZYPBrowserHost.exe --register --${family}-extension-id ${extensionId}`;
}

/**
 * @param {unknown} value
 * @returns {value is Record<string, unknown>}
 */
function isObject(value) {
  return typeof value === 'object' && value !== null && !Array.isArray(value);
}

/** @param {unknown} value */
function message(value) {
  return typeof value === 'string' ? value.slice(0, MAX_MESSAGE_LENGTH) : '';
}

/**
 * A reply as the host sent it; anything else counts as a failure.
 * @param {unknown} value
 * @returns {Reply}
 */
export function readReply(value) {
  if (!isObject(value) || typeof value.outcome !== 'string' || !OUTCOMES.has(value.outcome))
    return { outcome: 'failed', message: text('replyWithoutOutcome') };
  /** @type {Reply} */
  const reply = { outcome: /** @type {Outcome} */ (value.outcome), message: message(value.message) };
  const leftOut = value.cookiesLeftOut;
  if (typeof leftOut === 'number' && Number.isSafeInteger(leftOut) && leftOut > 0) reply.cookiesLeftOut = leftOut;
  return reply;
}

/**
 * A "status" reply, or null when it is none.
 * @param {unknown} value
 * @returns {Status | null}
 */
export function readStatus(value) {
  if (!isObject(value) || (value.manager !== 'running' && value.manager !== 'absent')) return null;
  return { manager: value.manager, version: message(value.version) };
}

/**
 * True when the queue manager has the request or may still take it: then
 * the browser must not fetch it as well.
 * @param {Reply} reply
 */
export function tookIt(reply) {
  return reply.outcome === 'delivered' || reply.outcome === 'handed-over';
}

/**
 * What went wrong, for a notification; null when nothing did.
 * @param {Reply} reply
 * @param {string} command what registers the host (registerCommand)
 */
export function problemText(reply, command) {
  switch (reply.outcome) {
    case 'delivered':
    case 'handed-over':
      return null;
    case 'no-host':
      return text('hostNotRegistered', command);
    case 'not-delivered':
      return text('notDelivered', reply.message);
    case 'refused':
      return text('hostRefused', reply.message);
    case 'failed':
      return text('handOverFailed', reply.message);
  }
}

/**
 * What the person should know of a hand-over that the queue manager took or
 * may still take; null when there is nothing to say.
 * @param {Reply} reply
 * @param {string} address what was handed over
 */
export function noticeText(reply, address) {
  /** @type {string[]} */
  const notes = [];
  if (reply.outcome === 'handed-over') notes.push(text('handedOver', address));
  if (tookIt(reply) && reply.cookiesLeftOut) notes.push(text('cookiesLeftOut', reply.cookiesLeftOut, address));
  return notes.length > 0 ? notes.join(' ') : null;
}

/**
 * The popup's line about the queue manager.
 * @param {Status | null} status
 * @param {Reply} reply what the browser or the host said when there is no status
 * @param {string} command what registers the host (registerCommand)
 */
export function statusText(status, reply, command) {
  if (status) {
    if (status.manager === 'running')
      return status.version ? text('managerRunningVersion', status.version) : text('managerRunning');
    return status.version ? text('managerAbsentVersion', status.version) : text('managerAbsent');
  }
  if (reply.outcome === 'no-host') return text('hostNotRegistered', command);
  return text('statusUnknown', reply.message);
}
