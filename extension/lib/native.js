// @ts-check
// The native port: one host run per request. A port held open would keep
// Chromium's service worker alive for as long as it is open.
import { api, browserTag, HOST_NAME } from './api.js';
import { text } from './i18n.js';
import { registerCommand } from './outcomes.js';

/**
 * How the browsers say that no host of that name is registered for this
 * extension: Chromium (missing, or listed for other extensions), Firefox.
 */
const NOT_REGISTERED = [/host not found/i, /host is forbidden/i, /no such native application/i];

/**
 * Sends one request and returns the host's answer as it came, or a reply
 * of our own ("no-host" or "failed") when the browser could not reach it.
 * @param {object} request
 * @returns {Promise<unknown>}
 */
export async function sendToHost(request) {
  try {
    return await api.runtime.sendNativeMessage(HOST_NAME, request);
  } catch (error) {
    const reason = error instanceof Error ? error.message : String(error);
    if (NOT_REGISTERED.some((words) => words.test(reason))) return { outcome: 'no-host', message: reason };
    return { outcome: 'failed', message: text('browserCannotReachHost', reason) };
  }
}

/** What registers the host for this copy of the extension. */
export function hostRegisterCommand() {
  return registerCommand(browserTag, api.runtime.id);
}
