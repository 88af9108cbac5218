// @ts-check
// Functions run inside a page (scripting.executeScript sends their source),
// so each stands on its own: no imports, nothing from outside the function.
// What they return comes from the page and is checked by the caller.

/**
 * The text of a link to the address: Chromium's click data has none. The
 * click data does not say which link was clicked, so the first link to the
 * address with a text counts.
 * @param {string} address the link's address, as the browser resolved it
 * @returns {string}
 */
export function linkTextInPage(address) {
  for (const link of Array.from(document.links)) {
    if (link.href !== address) continue;
    const text = link.innerText.trim();
    const image = link.querySelector('img[alt]');
    const alt = image ? (image.getAttribute('alt') ?? '').trim() : '';
    const title = (link.getAttribute('title') ?? '').trim();
    if (text || alt || title) return text || alt || title;
  }
  return '';
}

/**
 * The addresses of the page's links (a and area elements), in the page's
 * order; with selectionOnly, those of the links the selection touches.
 * @param {boolean} selectionOnly
 * @returns {string[]}
 */
export function linksInPage(selectionOnly) {
  const selection = selectionOnly ? document.getSelection() : null;
  const links = Array.from(document.links);
  return links.filter((link) => !selection || selection.containsNode(link, true)).map((link) => link.href);
}

/**
 * The description of the video, audio element or image that shows or plays
 * the address: its title, else its alternative text; "" when it has neither
 * or is not found.
 * @param {string} address the source, as the browser resolved it
 * @returns {string}
 */
export function mediaTextInPage(address) {
  for (const element of Array.from(document.querySelectorAll('img, video, audio'))) {
    const media = /** @type {HTMLImageElement | HTMLMediaElement} */ (element);
    if (media.currentSrc !== address && media.src !== address) continue;
    const text = (media.getAttribute('title') ?? '').trim() || (media.getAttribute('alt') ?? '').trim();
    if (text) return text;
  }
  return '';
}
