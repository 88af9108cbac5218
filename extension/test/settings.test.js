// The take-over setting and which downloads it takes.
import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import {
  DEFAULT_SETTINGS,
  MAX_ENTRIES,
  fileName,
  hasFileType,
  isNeverTaken,
  normalizeSettings,
  parseFileTypes,
  parseSites,
  shouldTakeOver,
  withSite,
  withoutSitesCovering,
} from '../lib/settings.js';

describe('parseFileTypes', () => {
  /** @type {[string, string[], string[]][]} text, types taken, entries refused */
  const cases = [
    ['zip rar', ['zip', 'rar'], []],
    ['ZIP, .rar;*.7z\n\tiso', ['zip', 'rar', '7z', 'iso'], []],
    ['zip zip ZIP', ['zip'], []],
    ['', [], []],
    ['  \n ', [], []],
    ['tar.gz', ['tar.gz'], []],
    ['*.zip|*.rar', ['zip', 'rar'], []],
    ['.zip.rar', ['zip.rar'], []],
    ['a/b ../x "q" zip *zip', ['zip'], ['a/b', '../x', '"q"', '*zip']],
    ['a..b tar. .', [], ['a..b', 'tar.', '.']],
  ];
  for (const [text, types, refused] of cases)
    it(JSON.stringify(text), () => assert.deepEqual(parseFileTypes(text), { entries: types, refused }));

  it(`keeps at most ${MAX_ENTRIES} types`, () => {
    const text = Array.from({ length: MAX_ENTRIES + 5 }, (_, n) => `t${n}`).join(' ');
    assert.equal(parseFileTypes(text).entries.length, MAX_ENTRIES);
  });
});

describe('hasFileType', () => {
  /** @type {[string, string[], boolean][]} */
  const cases = [
    ['/tmp/A.ZIP', ['zip'], true],
    ['/tmp/a.tar.gz', ['tar.gz'], true],
    ['/tmp/a.tar.gz', ['gz'], true],
    ['/tmp/a.gz', ['tar.gz'], false],
    ['/tmp/atar.gz', ['tar.gz'], false],
    ['/tmp/.zip', ['zip'], false],
    ['/tmp/README', ['zip'], false],
    ['C:\\x.zip\\README', ['zip'], false],
    ['/tmp/README', [], true],
  ];
  for (const [path, types, expected] of cases)
    it(`${path} with ${JSON.stringify(types)}: ${expected}`, () => assert.equal(hasFileType(path, types), expected));
});

describe('parseSites', () => {
  /** @type {[string, string | null][]} an entry as typed, the site it names (null: refused) */
  const cases = [
    ['Example.COM', 'example.com'],
    ['*.cdn.example.net', 'cdn.example.net'],
    ['.old.example.org', 'old.example.org'],
    ['http://*.example.com/', 'example.com'],
    ['https://*.example.com:8443/files/a.zip', 'example.com'],
    ['https://www.example.com/a?b#c', 'www.example.com'],
    ['ftp://files.example.com', 'files.example.com'],
    ['example.com/downloads', 'example.com'],
    ['example.com.', 'example.com'],
    ['bücher.example', 'xn--bcher-kva.example'],
    ['intranet', 'intranet'],
    ['192.168.1.10', '192.168.1.10'],
    ['[::1]', '[::1]'],
    ['my_host.example', 'my_host.example'],
    ['*', null],
    ['*.', null],
    ['**.example.com', null],
    ['*example.com', null],
    ['www.*.example.com', null],
    ['http://*/', null],
    ['example..com', null],
    ['-example.com', null],
    ['example-.com', null],
    [`${'a'.repeat(64)}.com`, null],
    ['file:///etc', null],
    ['javascript:alert(1)', null],
    ['user@example.com', null],
    ['http://', null],
    ['%%', null],
    ['ex%20ample.com', null],
  ];
  for (const [entry, site] of cases)
    it(`${JSON.stringify(entry)}: ${site ?? 'refused'}`, () =>
      assert.deepEqual(parseSites(entry), site === null ? { entries: [], refused: [entry] } : { entries: [site], refused: [] }),
    );

  it('reads a field of several entries, each site once, and keeps what it refuses as typed', () => {
    assert.deepEqual(parseSites('*.example.com example.com, * http://*.example.com/\nother.org|*'), {
      entries: ['example.com', 'other.org'],
      refused: ['*'],
    });
  });

  it('makes an entry with a star match what it names, and its subdomains', () => {
    const [site] = parseSites('http://*.example.com/').entries;
    const download = (/** @type {string} */ url) => ({ url, filename: 'a.zip', totalBytes: 0, incognito: false, state: 'in_progress' });
    assert.equal(isNeverTaken(download('https://dl.example.com/a.zip'), [site]), true);
    assert.equal(isNeverTaken(download('https://example.com/a.zip'), [site]), true);
    assert.equal(isNeverTaken(download('https://example.org/a.zip'), [site]), false);
  });

  it('adds a site once and takes back every site that covers a host', () => {
    assert.deepEqual(withSite(withSite([], 'example.com'), 'example.com'), ['example.com']);
    assert.deepEqual(withoutSitesCovering(['example.com', 'www.example.com', 'other.org'], 'www.example.com'), ['other.org']);
    assert.deepEqual(withoutSitesCovering(['www.example.com'], 'example.com'), ['www.example.com']);
  });
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
    const stored = { takeOver: true, fileTypes: ['.ZIP', 7, 'iso', ''], minSizeKB: '12.7', neverSites: ['A.example', 'x/'] };
    assert.deepEqual(normalizeSettings(stored), {
      takeOver: true,
      fileTypes: ['zip', 'iso'],
      minSizeKB: 12,
      neverSites: ['a.example', 'x'],
    });
  });

  it('reads the sites kept by earlier versions as they match now', () => {
    assert.deepEqual(normalizeSettings({ neverSites: ['*.example.com', '*', 'http://*.example.org/'] }).neverSites, [
      'example.com',
      'example.org',
    ]);
    assert.deepEqual(normalizeSettings({ neverSites: ['*'] }).neverSites, []);
  });

  it('takes any type only for a list left empty, never for one whose every entry is refused', () => {
    assert.deepEqual(normalizeSettings({ fileTypes: [] }).fileTypes, []);
    assert.deepEqual(normalizeSettings({ fileTypes: ['a/b', '*zip'] }).fileTypes, DEFAULT_SETTINGS.fileTypes);
    assert.deepEqual(normalizeSettings({ fileTypes: [7] }).fileTypes, DEFAULT_SETTINGS.fileTypes);
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
  const settings = { takeOver: true, fileTypes: ['zip', 'iso', 'tar.gz'], minSizeKB: 100, neverSites: ['never.example'] };
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
    ['a type of several dots', { filename: '/tmp/a.tar.gz' }, {}, true],
    ['from a site never taken over', { url: 'https://never.example/a.zip' }, {}, false],
    ['from a subdomain of it', { url: 'https://dl.never.example/a.zip' }, {}, false],
    ['from a page of it', { referrer: 'https://www.never.example/page' }, {}, false],
    ['from a site that only ends alike', { url: 'https://notnever.example/a.zip' }, {}, true],
  ];
  for (const [what, itemChanges, settingsChanges, expected] of cases)
    it(`${what}: ${expected ? 'taken' : 'left to the browser'}`, () =>
      assert.equal(shouldTakeOver({ ...item, ...itemChanges }, { ...settings, ...settingsChanges }, 'own-id'), expected));
});
