// @ts-check
// Site access: a person may withhold the extension's access to some or all
// sites (Chromium's "On click" and "On specific sites", Firefox's add-on
// permissions). Without it the browser hands out no cookies and no page,
// without an error, so the extension asks before it reads either.
import { api } from './api.js';
import { siteAccessPattern } from './requests.js';

/**
 * @typedef {{ pattern: string | null, granted: Promise<boolean> }} Answer
 *   the person's answer about one site: it says nothing about any other
 */

/**
 * Asks the browser for access to the address's site, which it shows the
 * person when access is withheld. Both browsers let an extension ask only
 * while it handles the person's click, so this is called before the
 * handler's first wait. The answer settles true when access is granted (or
 * was there), false otherwise; it never rejects.
 * @param {unknown} address
 * @returns {Answer}
 */
export function askForAccess(address) {
  const pattern = siteAccessPattern(address);
  return { pattern, granted: pattern ? requestOrigin(pattern) : Promise.resolve(false) };
}

/** @param {string} pattern */
function requestOrigin(pattern) {
  try {
    return api.permissions.request({ origins: [pattern] }).then(
      (granted) => granted === true,
      () => false,
    );
  } catch {
    return Promise.resolve(false);
  }
}

/**
 * True when the extension may read the cookies and pages of the address's
 * site (an address without cookies, such as ftp, needs no access); when it
 * may not, an earlier answer decides, but only one about this very site.
 * @param {unknown} address
 * @param {Answer} [answer]
 */
export async function mayAccess(address, answer) {
  const pattern = siteAccessPattern(address);
  if (!pattern) return true;
  try {
    if (await api.permissions.contains({ origins: [pattern] })) return true;
  } catch {
    // A pattern the browser does not take is no access.
  }
  return answer?.pattern === pattern ? answer.granted : false;
}
