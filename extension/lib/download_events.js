// @ts-check
// Which of the browser's download events a take-over listens to, by each
// family's contract. Pure: the download API is passed in, so Node's test
// runner checks both shapes.

/**
 * @typedef {(item: chrome.downloads.DownloadItem) => Promise<void>} Consider
 * @typedef {{ addListener: (listener: (...args: any[]) => unknown) => void }} BrowserEvent
 * @typedef {{ onCreated: BrowserEvent, onDeterminingFilename?: BrowserEvent }} DownloadEvents
 */

/**
 * Calls `consider` for each download the browser starts, before it writes
 * anything; returns the event's name. Chromium asks for a file name before
 * it creates the file and waits for `suggest` (it tells the name only
 * then); Firefox tells the name when it creates the download. Firefox may
 * gain an event of the same name whose listener gets no `suggest` and is
 * awaited instead, so the family decides, not the event's presence.
 * @param {DownloadEvents} downloads
 * @param {'CH' | 'FF'} family
 * @param {Consider} consider never rejects
 */
export function watchDownloads(downloads, family, consider) {
  if (family === 'CH' && downloads.onDeterminingFilename) {
    downloads.onDeterminingFilename.addListener((item, suggest) => {
      // The download waits for the answer; an empty one keeps the browser's name.
      void consider(item).finally(() => {
        if (typeof suggest === 'function') suggest();
      });
      return true;
    });
    return 'onDeterminingFilename';
  }
  downloads.onCreated.addListener((item) => void consider(item));
  return 'onCreated';
}
