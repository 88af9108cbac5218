// Building requests from what browsers and hostile pages hand the extension.
import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import {
  MAX_LIST_LENGTH,
  MAX_LIST_REQUEST_BYTES,
  MAX_TEXT_LENGTH,
  MAX_URL_LENGTH,
  cookieList,
  isTransferable,
  linkRequest,
  listRequest,
  siteAccessPattern,
} from '../lib/requests.js';

describe('cookieList', () => {
  it('writes a Cookie header in the order given, a nameless cookie as its value', () => {
    assert.equal(
      cookieList([
        { name: 'session', value: 'abc=1' },
        { name: '', value: 'bare' },
        { name: 'lang', value: '' },
      ]),
      'session=abc=1; bare; lang=',
    );
    assert.equal(cookieList([]), '');
  });
});

describe('isTransferable', () => {
  const cases = [
    ['http://example.com/a', true],
    ['HTTPS://Example.com/a?b=c#d', true],
    ['ftp://files.example.com/x.zip', true],
    ['javascript:alert(1)', false],
    ['data:text/plain,x', false],
    ['blob:https://example.com/6c1b', false],
    ['file:///etc/passwd', false],
    ['/relative/path', false],
    ['http://example.com/a b', false],
    ['http://example.com/\ta', false],
    ['http://example.com/\u007f', false],
    [`http://example.com/${'a'.repeat(MAX_URL_LENGTH)}`, false],
    [42, false],
  ];
  for (const [address, expected] of cases)
    it(`${JSON.stringify(address).slice(0, 40)} → ${expected}`, () => assert.equal(isTransferable(address), expected));
});

describe('linkRequest', () => {
  const context = { browser: 'CH', userAgent: 'Mozilla/5.0 (X11)', pageTitle: ' A page ', linkText: '\n The file \n' };

  it('carries the address, the cookies and the browsing context, texts trimmed', () => {
    const cookies = [
      { name: 'id', value: '42' },
      { name: 'lang', value: 'en' },
    ];
    assert.deepEqual(linkRequest('add', 'https://example.com/f.zip', { ...context, cookies }), {
      type: 'add',
      url: 'https://example.com/f.zip',
      cookies: 'id=42; lang=en',
      browser: 'CH',
      userAgent: 'Mozilla/5.0 (X11)',
      pageTitle: 'A page',
      linkText: 'The file',
    });
  });

  it('sends an empty cookie list when the browser has none (the site has none now), none for ftp', () => {
    assert.equal(linkRequest('add', 'http://example.com/', { ...context, cookies: [] }).cookies, '');
    assert.equal('cookies' in linkRequest('explore', 'ftp://example.com/', { ...context, cookies: null }), false);
  });

  it('cuts a page text at the limit without splitting a character, and ignores what is not text', () => {
    const long = `${'a'.repeat(MAX_TEXT_LENGTH - 1)}😀tail`;
    const request = linkRequest('add', 'http://example.com/', { ...context, cookies: null, linkText: long, pageTitle: {} });
    assert.equal(request.linkText, `${'a'.repeat(MAX_TEXT_LENGTH - 1)}😀`);
    assert.equal(request.pageTitle, '');
  });
});

describe('listRequest', () => {
  it('keeps the fetchable links in page order, each once, a link to a place in a page as the page', () => {
    const hrefs = [
      'http://a.example/1',
      'javascript:void(0)',
      'https://a.example/page#top',
      'mailto:me@example.com',
      'http://a.example/1',
      'ftp://a.example/file',
      'https://a.example/page#end',
      'http://a.example/2',
    ];
    assert.deepEqual(listRequest(hrefs), {
      request: {
        type: 'list',
        urls: ['http://a.example/1', 'https://a.example/page', 'ftp://a.example/file', 'http://a.example/2'],
      },
      left: 0,
    });
  });

  it('takes nothing but strings from the page, and sends nothing when no link is left', () => {
    assert.equal(listRequest('http://a.example/'), null);
    assert.equal(listRequest({ length: 1, 0: 'http://a.example/' }), null);
    assert.equal(listRequest([null, 7, { href: 'http://a.example/' }, 'data:,x']), null);
    assert.deepEqual(listRequest([['http://a.example/'], 'http://b.example/'])?.request.urls, ['http://b.example/']);
  });

  it('sends at most the host limit and counts the rest', () => {
    const hrefs = Array.from({ length: MAX_LIST_LENGTH + 3 }, (_, n) => `http://a.example/${n}`);
    const list = listRequest(hrefs);
    assert.equal(list?.request.urls.length, MAX_LIST_LENGTH);
    assert.equal(list?.request.urls.at(-1), `http://a.example/${MAX_LIST_LENGTH - 1}`);
    assert.equal(list?.left, 3);
  });

  it('stops before the request outgrows what the program delivers in time, and counts the rest', () => {
    // 70,000 links of 1,000 characters: far more than a list may hold.
    const path = 'p'.repeat(1000 - 'http://a.example/00000/'.length);
    const hrefs = Array.from({ length: 70000 }, (_, n) => `http://a.example/${String(n).padStart(5, '0')}/${path}`);
    const list = listRequest(hrefs);
    assert.ok(list);
    const bytes = Buffer.byteLength(JSON.stringify(list.request));
    assert.ok(bytes <= MAX_LIST_REQUEST_BYTES, `${bytes} bytes`);
    assert.ok(bytes > MAX_LIST_REQUEST_BYTES - 1002, `${bytes} bytes: one more link would have fitted`);
    assert.equal(list.request.urls.length + list.left, hrefs.length);
    assert.equal(list.request.urls.at(-1), hrefs[list.request.urls.length - 1]);
  });

  it('fills the request to the byte, addresses beyond ASCII as the parser encodes them', () => {
    const hrefs = ['http://a.example/1', 'http://ä.example/😀'];
    const both = Buffer.byteLength(JSON.stringify({ type: 'list', urls: hrefs.map((href) => new URL(href).href) }));
    assert.equal(listRequest(hrefs, both)?.left, 0);
    assert.deepEqual(listRequest(hrefs, both - 1)?.request.urls, [hrefs[0]]);
    assert.equal(listRequest(hrefs, both - 1)?.left, 1);
    assert.equal(listRequest(hrefs.slice(0, 1), both - 40), null);
  });
});

describe('siteAccessPattern', () => {
  const cases = [
    ['https://www.example.com:8443/a?b#c', 'https://www.example.com/*'],
    ['http://127.0.0.1:8080/', 'http://127.0.0.1/*'],
    ['ftp://files.example.com/a', null],
    ['blob:https://example.com/1', null],
    ['not an address', null],
  ];
  for (const [address, expected] of cases)
    it(`${address} → ${expected}`, () => assert.equal(siteAccessPattern(address), expected));
});
