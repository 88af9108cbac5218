// @ts-check
// The one place where the two browser families differ at run time.

/**
 * The extension API. Firefox names it `browser`, Chromium `chrome` (recent
 * Chromium has both); under Manifest V3 both return promises.
 * @type {typeof chrome}
 */
export const api = /** @type {any} */ (globalThis).browser ?? globalThis.chrome;

/**
 * The browser tag the host stores the user agent under: "FF" for Firefox,
 * "CH" for the Chromium family. Only Firefox can tell its own name.
 * @type {'FF' | 'CH'}
 */
export const browserTag = 'getBrowserInfo' in api.runtime ? 'FF' : 'CH';

/** The native-messaging host's registered name. */
export const HOST_NAME = 'com.tarvesk.zypqueue';
