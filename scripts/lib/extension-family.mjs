#!/usr/bin/env node
// Makes one browser family's copy of the extension from its one source,
// extension/: the files as they are and a manifest of the family's own. The
// version comes from project(... VERSION ...) in CMakeLists.txt.
//   extension-family.mjs chromium|firefox <folder> [--store]
// --store: the copy for the family's store, which assigns Chromium's id
// itself and refuses a manifest with a "key".
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
export const SOURCE = path.join(root, 'extension');
/**
 * Folders of the source that are not part of the extension: its unit tests,
 * and what the browser tests add to their copy.
 */
const NOT_SHIPPED = new Set(['test', 'testing']);

/** @typedef {'chromium' | 'firefox'} Family */

/** The product's version, from the top-level CMakeLists.txt. */
export function productVersion() {
  const cmake = fs.readFileSync(path.join(root, 'CMakeLists.txt'), 'utf8');
  const match = /project\(\s*\S+\s+VERSION\s+(\d+(?:\.\d+){0,3})\b/.exec(cmake);
  if (!match) throw new Error('CMakeLists.txt: no project(... VERSION ...)');
  return match[1];
}

/**
 * The family's manifest: what the other family alone reads is left out, as
 * each family warns about keys it does not know (Chromium about a
 * background script list and a permission to block requests, Firefox about
 * a service worker and a key).
 * @param {Record<string, any>} source
 * @param {Family} family
 * @param {{ version: string, store: boolean }} options
 */
export function familyManifest(source, family, { version, store }) {
  const { background, key, browser_specific_settings: gecko, ...common } = source;
  /** @type {Record<string, any>} */
  const manifest = { ...common, version };
  if (family === 'chromium') {
    if (!store) manifest.key = key;
    // Chromium keeps blocking requests to extensions installed by policy
    // under Manifest V3; the extension only observes requests there.
    manifest.permissions = common.permissions.filter((/** @type {string} */ name) => name !== 'webRequestBlocking');
    manifest.background = { service_worker: background.service_worker, type: background.type };
  } else if (family === 'firefox') {
    manifest.browser_specific_settings = gecko;
    manifest.background = { scripts: background.scripts, type: background.type };
  } else {
    throw new Error(`no browser family "${family}" (chromium or firefox)`);
  }
  return manifest;
}

/**
 * Writes the family's copy of the extension into folder, which must not
 * exist yet.
 * @param {Family} family
 * @param {string} folder
 * @param {{ store?: boolean }} [options]
 */
export function writeFamily(family, folder, { store = false } = {}) {
  const source = JSON.parse(fs.readFileSync(path.join(SOURCE, 'manifest.json'), 'utf8'));
  const manifest = familyManifest(source, family, { version: productVersion(), store });
  fs.mkdirSync(path.dirname(folder), { recursive: true });
  fs.mkdirSync(folder);
  fs.cpSync(SOURCE, folder, {
    recursive: true,
    filter: (file) => {
      const relative = path.relative(SOURCE, file);
      return relative !== 'manifest.json' && !NOT_SHIPPED.has(relative.split(path.sep)[0]);
    },
  });
  fs.writeFileSync(path.join(folder, 'manifest.json'), `${JSON.stringify(manifest, null, 2)}\n`);
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  const [family, folder, ...rest] = process.argv.slice(2);
  if (!family || !folder || rest.some((word) => word !== '--store')) {
    console.error('usage: extension-family.mjs chromium|firefox <folder> [--store]');
    process.exit(2);
  }
  writeFamily(/** @type {Family} */ (family), folder, { store: rest.includes('--store') });
}
