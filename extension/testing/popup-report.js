// @ts-check
// Test builds only: once the popup has asked the queue manager, it tells
// the test background what it shows, in which language.
(() => {
  const api = /** @type {typeof chrome} */ (/** @type {any} */ (globalThis).browser ?? globalThis.chrome);
  const manager = document.getElementById('manager');
  if (!manager) return;
  const report = () =>
    void api.runtime.sendMessage({ zypPopupShown: { lang: document.documentElement.lang, text: document.body.innerText } });
  if (manager.dataset.ready) report();
  else
    new MutationObserver((_changes, observer) => {
      if (!manager.dataset.ready) return;
      observer.disconnect();
      report();
    }).observe(manager, { attributes: true });
})();
