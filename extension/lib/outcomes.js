// @ts-check
// What the host's replies mean, in words for the user. Pure.

/**
 * @typedef {'delivered' | 'handed-over' | 'not-delivered' | 'failed' | 'refused' | 'no-host'} Outcome
 *   "no-host": the browser found no host registered under our name.
 * @typedef {{ outcome: Outcome, message: string }} Reply
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

/** @param {string} command */
function notRegistered(command) {
  return `ZYPBrowserHost is not registered for this browser. Run "${command}" once, in the folder of ZYPQueueAddURL.exe; then try again.`;
}

/**
 * @param {unknown} value
 * @returns {value is Record<string, unknown>}
 */
function isObject(value) {
  return typeof value === 'object' && value !== null && !Array.isArray(value);
}

/** @param {unknown} text */
function message(text) {
  return typeof text === 'string' ? text.slice(0, MAX_MESSAGE_LENGTH) : '';
}

/**
 * A reply as the host sent it; anything else counts as a failure.
 * @param {unknown} value
 * @returns {Reply}
 */
export function readReply(value) {
  if (isObject(value) && typeof value.outcome === 'string' && OUTCOMES.has(value.outcome))
    return { outcome: /** @type {Outcome} */ (value.outcome), message: message(value.message) };
  return { outcome: 'failed', message: 'ZYPBrowserHost sent a reply without an outcome.' };
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
      return notRegistered(command);
    case 'not-delivered':
      return `The queue manager did not take it: ${reply.message}`;
    case 'refused':
      return `ZYPBrowserHost refused it: ${reply.message}`;
    case 'failed':
      return `The hand-over failed: ${reply.message}`;
  }
}

/**
 * The popup's line about the queue manager.
 * @param {Status | null} status
 * @param {Reply} reply what the browser or the host said when there is no status
 * @param {string} command what registers the host (registerCommand)
 */
export function statusText(status, reply, command) {
  if (status) {
    const host = status.version ? ` (ZYPBrowserHost ${status.version})` : '';
    return status.manager === 'running'
      ? `The queue manager is running${host}.`
      : `The queue manager is not running${host}. Start queue starts it.`;
  }
  if (reply.outcome === 'no-host') return notRegistered(command);
  return `ZYPBrowserHost did not say whether the queue manager runs: ${reply.message}`;
}
