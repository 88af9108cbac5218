// @ts-check
// Every text a person reads comes from _locales/<lang>/messages.json, in the
// browser's own language: code names a message, never a sentence.

/** @typedef {(name: string, substitutions: string[]) => string} Lookup */

/** @type {Lookup} */
let lookup = (name, substitutions) => {
  const api = /** @type {any} */ (globalThis).browser ?? globalThis.chrome;
  return api.i18n.getMessage(name, substitutions);
};

/**
 * The message in the browser's language, its placeholders filled with the
 * values in order.
 * @param {string} name
 * @param {...(string | number)} values
 */
export function text(name, ...values) {
  // A message the locale lacks falls back to English in the browser; the
  // name is what is left when even that is missing.
  return lookup(name, values.map(String)) || name;
}

/**
 * Node's tests have no browser: they look messages up themselves.
 * @param {Lookup} other
 */
export function useLookup(other) {
  lookup = other;
}
