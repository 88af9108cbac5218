// @ts-check
// Site access: a person may withhold the extension's access to some or all
// sites (Chromium's "On click" and "On specific sites", Firefox's add-on
// permissions). Without it the browser hands out no cookies and no page,
// without an error, so the extension asks before it reads either.
import { api } from './api.js';
import { siteAccessPattern } from './requests.js';

/**
 * Asks the browser for access to the address's site, which it shows the
 * person when access is withheld. Both browsers let an extension ask only
 * while it handles the person's click, so this is called before the
 * handler's first wait. Settles true when access is granted (or was there),
 * false otherwise; never rejects.
 * @param {unknown} address
 * @returns {Promise<boolean>}
 */
export function askForAccess(address) {
  const pattern = siteAccessPattern(address);
  if (!pattern) return Promise.resolve(false);
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
 * may not, the answer to an earlier askForAccess decides.
 * @param {unknown} address
 * @param {Promise<boolean>} [asked]
 */
export async function mayAccess(address, asked) {
  const pattern = siteAccessPattern(address);
  if (!pattern) return true;
  try {
    if (await api.permissions.contains({ origins: [pattern] })) return true;
  } catch {
    // A pattern the browser does not take is no access.
  }
  return asked ? asked : false;
}
