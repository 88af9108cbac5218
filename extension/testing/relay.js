// @ts-check
// Test builds only: lets the test page reach the extension, since WebDriver
// BiDi cannot open Firefox's extension pages. It passes on only what the
// page itself posts in the expected shape, and answers the page alone.
(() => {
  const api = /** @type {typeof chrome} */ (/** @type {any} */ (globalThis).browser ?? globalThis.chrome);
  window.addEventListener('message', (event) => {
    const data = event.data;
    if (event.source !== window || event.origin !== location.origin) return;
    if (typeof data !== 'object' || data === null || data.zypTest !== 'call') return;
    if (typeof data.seq !== 'number' || typeof data.name !== 'string' || !Array.isArray(data.args)) return;
    const answer = (/** @type {object} */ fields) =>
      window.postMessage({ zypTest: 'answer', seq: data.seq, ...fields }, location.origin);
    // The background answers { reply } or { error }.
    api.runtime.sendMessage({ zypTest: data.name, args: data.args }).then(
      (/** @type {object | undefined} */ response) => answer(response ?? { error: 'the extension did not answer' }),
      (/** @type {unknown} */ error) => answer({ error: String(error) }),
    );
  });
})();
