// Each browser family's copy of the extension, made from the one source.
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { describe, it } from 'node:test';
import { SOURCE, familyManifest, productVersion, writeFamily } from '../../scripts/lib/extension-family.mjs';

const source = JSON.parse(fs.readFileSync(path.join(SOURCE, 'manifest.json'), 'utf8'));

/**
 * Chromium's id of an extension: the first 32 hex digits of the SHA-256 of
 * its public key, with the digits 0-f written a-p.
 * @param {string} key
 */
function chromiumId(key) {
  const digest = crypto.createHash('sha256').update(Buffer.from(key, 'base64')).digest('hex').slice(0, 32);
  return Array.from(digest, (digit) => String.fromCharCode(97 + parseInt(digit, 16))).join('');
}

describe('familyManifest', () => {
  const options = { version: '1.2.3', store: false };

  it("gives Chromium the fixed key and the service worker, and nothing of Firefox's", () => {
    const manifest = familyManifest(source, 'chromium', options);
    assert.equal(chromiumId(manifest.key), 'bbfoidedccldpkpienckfkdpmffjbkbm');
    assert.deepEqual(manifest.background, { service_worker: 'background.js', type: 'module' });
    assert.equal(manifest.browser_specific_settings, undefined);
    assert.equal(manifest.version, '1.2.3');
  });

  it("gives Firefox the fixed add-on id and background scripts, and nothing of Chromium's", () => {
    const manifest = familyManifest(source, 'firefox', options);
    assert.equal(manifest.browser_specific_settings.gecko.id, 'zyp-extension@tarvesk.com');
    assert.deepEqual(manifest.background, { scripts: ['background.js'], type: 'module' });
    assert.equal(manifest.key, undefined);
  });

  it("leaves the key out of the store's copy, which assigns the id itself", () => {
    assert.equal(familyManifest(source, 'chromium', { ...options, store: true }).key, undefined);
  });

  it('asks for the same permissions in both families, but for blocking requests, which Firefox alone grants', () => {
    const chromium = familyManifest(source, 'chromium', options);
    const firefox = familyManifest(source, 'firefox', options);
    assert.ok(firefox.permissions.includes('webRequestBlocking'));
    assert.ok(chromium.permissions.includes('webRequest'));
    assert.deepEqual(chromium.permissions, firefox.permissions.filter((/** @type {string} */ name) => name !== 'webRequestBlocking'));
    assert.deepEqual(chromium.host_permissions, firefox.host_permissions);
  });

  it('refuses a family it does not know', () => {
    assert.throws(() => familyManifest(source, /** @type {any} */ ('safari'), options), /no browser family "safari"/);
  });
});

describe('writeFamily', () => {
  it("copies the extension without its tests, with the product's version", () => {
    const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'zyp-family-'));
    try {
      writeFamily('firefox', path.join(folder, 'firefox'));
      const files = fs.readdirSync(path.join(folder, 'firefox'), { recursive: true }).map(String).sort();
      assert.ok(files.includes('background.js') && files.includes(path.join('popup', 'popup.html')), files.join(' '));
      assert.ok(!files.some((file) => file.startsWith('test')), files.join(' '));
      const manifest = JSON.parse(fs.readFileSync(path.join(folder, 'firefox', 'manifest.json'), 'utf8'));
      assert.equal(manifest.version, productVersion());
      assert.match(productVersion(), /^\d+\.\d+\.\d+$/);
    } finally {
      fs.rmSync(folder, { recursive: true, force: true });
    }
  });
});
