// The take-over setting and which downloads it takes.
import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { DEFAULT_SETTINGS, fileName, normalizeSettings, parseFileTypes, shouldTakeOver } from '../lib/settings.js';

describe('parseFileTypes', () => {
  const cases = [
    ['zip rar', ['zip', 'rar']],
    ['ZIP, .rar;*.7z\n\tiso', ['zip', 'rar', '7z', 'iso']],
    ['zip zip ZIP', ['zip']],
    ['', []],
    ['a/b ../x "q" tar.gz', []],
  ];
  for (const [text, expected] of cases)
    it(JSON.stringify(text), () => assert.deepEqual(parseFileTypes(text), expected));
});

describe('normalizeSettings', () => {
  it('gives the defaults for nothing stored: taking over is off', () => {
    assert.deepEqual(normalizeSettings(undefined), { ...DEFAULT_SETTINGS, fileTypes: [...DEFAULT_SETTINGS.fileTypes] });
    assert.equal(normalizeSettings(undefined).takeOver, false);
  });

  it('lets the defaults stand in for what is malformed', () => {
    const settings = normalizeSettings({ takeOver: 'yes', fileTypes: 'zip', minSizeKB: -5 });
    assert.equal(settings.takeOver, false);
    assert.deepEqual(settings.fileTypes, DEFAULT_SETTINGS.fileTypes);
    assert.equal(settings.minSizeKB, 0);
  });

  it('cleans what it keeps', () => {
    assert.deepEqual(normalizeSettings({ takeOver: true, fileTypes: ['.ZIP', 7, 'iso', ''], minSizeKB: '12.7' }), {
      takeOver: true,
      fileTypes: ['zip', 'iso'],
      minSizeKB: 12,
    });
  });
});

describe('fileName', () => {
  it('takes the last part of a Unix or Windows path', () => {
    assert.equal(fileName('/home/me/Downloads/a.zip'), 'a.zip');
    assert.equal(fileName('C:\\Users\\me\\Downloads\\b.iso'), 'b.iso');
    assert.equal(fileName('c.rar'), 'c.rar');
  });
});

describe('shouldTakeOver', () => {
  const settings = { takeOver: true, fileTypes: ['zip', 'iso'], minSizeKB: 100 };
  const item = {
    url: 'https://example.com/files/a.zip',
    filename: '/home/me/Downloads/A.ZIP',
    totalBytes: 200 * 1024,
    incognito: false,
    state: 'in_progress',
  };
  /** @type {[string, object, object, boolean][]} */
  const cases = [
    ['a listed type above the least size', {}, {}, true],
    ['with taking over off', {}, { takeOver: false }, false],
    ['a download this extension started (a fall-back)', { byExtensionId: 'own-id' }, {}, false],
    ['a download another extension started', { byExtensionId: 'other-id' }, {}, true],
    ['in a private window', { incognito: true }, {}, false],
    ['a blob the page made', { url: 'blob:https://example.com/1e2f' }, {}, false],
    ['a data address', { url: 'data:application/zip;base64,UEsF' }, {}, false],
    ['a type not in the list', { filename: '/tmp/a.exe' }, {}, false],
    ['a name without a type', { filename: '/tmp/README' }, {}, false],
    ['any type with an empty list', { filename: '/tmp/a.exe' }, { fileTypes: [] }, true],
    ['a size below the least', { totalBytes: 99 * 1024 }, {}, false],
    ['the least size itself', { totalBytes: 100 * 1024 }, {}, true],
    ['a size not known yet (Firefox)', { totalBytes: -1 }, {}, true],
    ['a size known only as the file size', { totalBytes: 0, fileSize: 10 }, {}, false],
    ['a download that is over', { state: 'complete' }, {}, false],
  ];
  for (const [what, itemChanges, settingsChanges, expected] of cases)
    it(`${what}: ${expected ? 'taken' : 'left to the browser'}`, () =>
      assert.equal(shouldTakeOver({ ...item, ...itemChanges }, { ...settings, ...settingsChanges }, 'own-id'), expected));
});
