// The whole path in a real browser: extension → native messaging →
// ZYPBrowserHost.exe → ZYPQueueAddURL.exe → the stand-in queue manager.
// ZYP_BROWSER_FAMILY names the browser: chromium or firefox.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { fillMessage, readMessages } from '../../scripts/lib/locales.mjs';
import { SOURCE } from '../../scripts/lib/extension-family.mjs';
import { CHROMIUM_ID, TestBrowser, waitForDownload } from './browsers.mjs';
import { Screen } from './screen.mjs';
import { MAX_LIST_REQUEST_BYTES } from '../../extension/lib/requests.js';
import { COOKIES, Site, fileBytes, manyLinks } from './site.mjs';
import {
  Journal,
  StandInManager,
  cookieFolder,
  createSettingsKey,
  deleteSettingsKey,
  prepareWine,
  programsRunning,
  readSetting,
  removeCookieFile,
  waitFor,
  windowsPath,
} from './wine.mjs';

const family = /** @type {import('./browsers.mjs').Family} */ (process.env.ZYP_BROWSER_FAMILY);
if (family !== 'chromium' && family !== 'firefox') throw new Error('set ZYP_BROWSER_FAMILY to chromium or firefox');
const tag = family === 'chromium' ? 'CH' : 'FF';
/** The cookie file of the test site, whose address is 127.0.0.1. */
const COOKIE_FILE = '127.0.0.1.dat';
const BIG = 256 * 1024;
const SMALL = 4 * 1024;
/**
 * How long the server holds the rest of a download the browser is to keep
 * (see Site.file): Firefox shows a download to extensions only once it
 * writes it, and would finish a small one before a wrong take-over could
 * cancel it.
 */
const KEPT_HOLD_MS = 1500;

/**
 * Starts a suite: the Wine side and the settings key, its site and stand-in
 * manager, and its browser with the host registered; the page it returns
 * shows the site.
 * @param {{ browser: TestBrowser, manager: StandInManager, site: Site }} suite
 */
async function bringUp({ browser, manager, site }) {
  await prepareWine();
  await createSettingsKey();
  await site.start();
  await manager.start();
  browser.registerHost();
  await browser.launch();
  const page = await browser.running.newPage();
  await page.goto(`${site.base}/`);
  return page;
}

/**
 * Ends a suite: its browser, stand-in manager, site and X display, the
 * programs of its last runs (they end by themselves within seconds), the
 * settings key, its cookie file and scratch folder. Fails naming what the
 * suite left behind.
 * @param {{ browser?: TestBrowser, manager: StandInManager, site: Site, scratch: string, cookieFile: string, screen?: Screen }} suite
 */
async function takeAway({ browser, manager, site, scratch, cookieFile, screen }) {
  const problems = [];
  await browser?.close();
  await manager.stop().catch((error) => problems.push(String(error)));
  await site.stop();
  const left = await waitFor(
    () => (programsRunning().length === 0 ? [] : undefined),
    'the Windows programs of the test to end',
    { timeout: 15000 },
  ).catch(() => programsRunning());
  for (const program of left) {
    problems.push(`left running: ${program.commandLine}`);
    process.kill(program.pid, 'SIGKILL');
  }
  await deleteSettingsKey();
  removeCookieFile(cookieFile);
  await screen?.stop();
  fs.rmSync(scratch, { recursive: true, force: true });
  assert.deepEqual(problems, [], 'the test left something behind');
}

describe(`the extension in ${family}`, () => {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), `zyp-${family}-`));
  const journal = new Journal(path.join(scratch, 'journal.jsonl'));
  const manager = new StandInManager(journal);
  const site = new Site();
  const browser = new TestBrowser(family, scratch, { ZYP_JOURNAL: windowsPath(journal.file) });
  /** @type {import('puppeteer-core').Page} */
  let page;
  let userAgent = '';

  /**
   * @param {string} name
   * @param {...unknown} args
   */
  const call = (name, ...args) => browser.call(page, name, ...args);
  /** The journal's messages from position `from` on. */
  const messagesFrom = (/** @type {number} */ from) =>
    journal.entries().slice(from).filter((entry) => entry.event === 'message');
  /**
   * Clicks a link to a new file on the page, as a user starts a download;
   * held (see Site.file) unless the browser is to keep it.
   * @param {string} name
   * @param {number} size
   * @param {boolean | number} [held]
   * @param {import('puppeteer-core').Page} [on] the page, the test page unless said
   */
  const startDownload = async (name, size, held = true, on = page) => {
    const href = site.file(name, size, held);
    await on.evaluate((address, id) => {
      const link = document.createElement('a');
      link.href = address;
      link.id = id;
      link.textContent = id;
      document.getElementById('downloads')?.append(link, ' ');
    }, href, name.replace(/\W/g, '-'));
    await on.click(`#${name.replace(/\W/g, '-')}`);
    return href;
  };
  /**
   * Sends a form on the page, as a user presses its button.
   * @param {{ method: string, action: string, fields: Record<string, string> }} form see Site.form
   * @param {import('puppeteer-core').Page} [on] the page, the test page unless said
   */
  const submitForm = async (form, on = page) => {
    const id = `form-${new URL(form.action).pathname.replace(/\W/g, '-')}`;
    await on.evaluate((method, action, fields, formId) => {
      const element = document.createElement('form');
      Object.assign(element, { method, action, id: formId });
      for (const [name, value] of Object.entries(fields)) {
        const input = document.createElement('input');
        Object.assign(input, { type: 'hidden', name, value });
        element.append(input);
      }
      const button = document.createElement('button');
      button.textContent = formId;
      element.append(button);
      document.getElementById('downloads')?.append(element);
    }, form.method, form.action, form.fields, id);
    await on.click(`#${id} button`);
  };
  /**
   * Waits for the extension's last word (what the popup shows) to be about
   * the file; a wait in vain says what the last word was.
   * @param {string} name
   */
  const wordAbout = async (name) => {
    /** @type {{ text?: string } | undefined} */
    let seen;
    return waitFor(
      async () => {
        seen = await call('problem');
        return seen?.text?.includes(name) ? seen : undefined;
      },
      `the word about ${name}`,
      { explain: () => `the last word was ${JSON.stringify(seen)}` },
    );
  };
  /** Waits until no take-over is in progress. */
  const handOversEnded = () => waitFor(async () => ((await call('handovers')) === 0 ? true : undefined), 'the take-over to end');

  before(async () => {
    page = await bringUp({ browser, manager, site });
    userAgent = await page.evaluate(() => navigator.userAgent);
  });

  after(() => takeAway({ browser, manager, site, scratch, cookieFile: COOKIE_FILE }));

  it('puts its items on the context menu: links, videos, sounds, pictures, pages', async () => {
    assert.deepEqual(await call('menus'), ['zyp-add', 'zyp-explore', 'zyp-all', 'zyp-video', 'zyp-audio', 'zyp-image']);
    const items = await call('menuItems');
    assert.deepEqual(
      Object.fromEntries(Object.entries(items).map(([id, item]) => [id, `${item.title} (${item.contexts.join(' ')})`])),
      {
        'zyp-add': 'Download with ZYP (link)',
        'zyp-explore': 'Open in ZYP Link Explorer (link)',
        'zyp-video': 'Download video with ZYP (video)',
        'zyp-audio': 'Download audio with ZYP (audio)',
        'zyp-image': 'Download image with ZYP (image)',
        'zyp-all': 'Download all links with ZYP (page selection)',
      },
      'a picture inside a link gets both the link items and the image item',
    );
  });

  it('hands a link over with its text, the cookies the page set and the user agent', async () => {
    const from = journal.entries().length;
    const url = `${site.base}/files/first.zip`;
    // Chromium's click data has no link text (the extension asks the page); Firefox's has it.
    const info = { menuItemId: 'zyp-add', linkUrl: url, pageUrl: `${site.base}/`, frameId: 0, editable: false };
    const reply = await call('click', family === 'firefox' ? { ...info, linkText: 'The first file' } : info);
    assert.equal(reply.outcome, 'delivered', JSON.stringify(reply));
    const [message, ...more] = messagesFrom(from);
    assert.equal(more.length, 0, journal.tail());
    assert.equal(message.text, `ADDURL:${url}[<{(The first file)}>]`);
    assert.equal(message.cookies, COOKIES.join('; '), 'the cookie file as the queue manager read it');
    assert.equal(
      fs.readFileSync(path.join(cookieFolder, COOKIE_FILE), 'latin1'),
      `${COOKIES.join('; ')}\r\n`,
      'the cookie file of the site',
    );
    assert.equal(await readSetting(`ZYPAgent${tag}`), userAgent);
  });

  it('opens a link in the link explorer', async () => {
    const from = journal.entries().length;
    const url = `${site.base}/files/second.iso`;
    const info = { menuItemId: 'zyp-explore', linkUrl: url, pageUrl: `${site.base}/`, frameId: 0, editable: false };
    const reply = await call('click', family === 'firefox' ? { ...info, linkText: 'The second file' } : info);
    assert.equal(reply.outcome, 'delivered', JSON.stringify(reply));
    const started = await journal.waitFor(
      (entry) => entry.event === 'start' && entry.process === 'ZYPLinkExplorer',
      'the link explorer to start',
      from,
    );
    assert.deepEqual(started.args, [url]);
    assert.deepEqual(messagesFrom(from), [], 'nothing goes to the queue');
  });

  it("hands all of the page's links over as one list, in page order, each once", async () => {
    const from = journal.entries().length;
    const reply = await call('click', { menuItemId: 'zyp-all', pageUrl: `${site.base}/`, frameId: 0, editable: false });
    assert.equal(reply.outcome, 'delivered', JSON.stringify(reply));
    const messages = messagesFrom(from);
    assert.equal(messages.length, 1, journal.tail());
    assert.equal(messages[0].kind, 'ADDURLS');
    const expected = ['first.zip', 'second.iso', 'third.zip'].map((name) => `${site.base}/files/${name}`);
    expected.push('ftp://127.0.0.1/fourth.zip', `${site.base}/files/fifth.zip`);
    assert.equal(messages[0].list, expected.join(' '));
  });

  it('hands a page whose links fill the list to the brim over: every link it holds arrives, the rest are counted', async () => {
    // Addresses of 600 characters, as long as real ones with their queries get:
    // more of them than one list may carry.
    const count = 30000;
    const length = 600;
    const address = `${site.base}/links?count=${count}&length=${length}`;
    const links = manyLinks(site.base, count, length);
    const tab = await browser.running.newPage();
    try {
      await tab.goto(address);
      const from = journal.entries().length;
      const reply = await browser.call(tab, 'click', { menuItemId: 'zyp-all', pageUrl: address, frameId: 0, editable: false });
      assert.equal(reply.outcome, 'delivered', JSON.stringify(reply));
      // The manager confirms a message once it has read it, and notes it afterwards: a long one a moment later.
      const message = await journal.waitFor((entry) => entry.event === 'message', 'the list in the journal', from);
      assert.equal(message.kind, 'ADDURLS');
      assert.equal(messagesFrom(from).length, 1, 'one message');
      const list = message.list.split(' ');
      assert.deepEqual(list, links.slice(0, list.length), 'the first links of the page, in its order');
      // Full: the list's JSON is within the limit, and the next link would have passed it.
      const bytes = (/** @type {string[]} */ urls) => JSON.stringify({ type: 'list', urls }).length;
      assert.ok(bytes(list) <= MAX_LIST_REQUEST_BYTES, `${bytes(list)} bytes`);
      assert.ok(bytes(links.slice(0, list.length + 1)) > MAX_LIST_REQUEST_BYTES, `only ${list.length} links were sent`);
      const shown = (await browser.call(tab, 'notifications')).at(-1)?.message;
      assert.equal(shown, `ZYP took the first ${list.length} links; ${count - list.length} more were left out.`);
    } finally {
      await tab.close();
    }
  });

  it('hands the links of the selection over', async () => {
    const from = journal.entries().length;
    const selected = await page.evaluate(() => {
      const chosen = document.getElementById('chosen');
      const selection = document.getSelection();
      if (!chosen || !selection) return '';
      selection.selectAllChildren(chosen);
      return selection.toString();
    });
    const reply = await call('click', {
      menuItemId: 'zyp-all',
      pageUrl: `${site.base}/`,
      frameId: 0,
      editable: false,
      selectionText: selected,
    });
    await page.evaluate(() => document.getSelection()?.removeAllRanges());
    assert.equal(reply.outcome, 'delivered', JSON.stringify(reply));
    const messages = messagesFrom(from);
    assert.equal(messages.length, 1, journal.tail());
    assert.equal(messages[0].list, `${site.base}/files/third.zip ftp://127.0.0.1/fourth.zip`);
  });

  it("the popup's code says the queue manager runs, and starts and stops the queue", async () => {
    const from = journal.entries().length;
    const progress = (/** @type {number} */ lparam) =>
      journal.waitFor((entry) => entry.event === 'progress' && entry.lparam === lparam, `the control message ${lparam}`, from);
    if (family === 'chromium') {
      // Chromium opens the popup's own page in a tab; the test clicks its buttons.
      const popup = await browser.running.newPage();
      await popup.goto(`chrome-extension://${CHROMIUM_ID}/popup/popup.html`);
      await popup.waitForSelector('#manager[data-ready]');
      assert.match(await popup.$eval('#manager', (element) => element.textContent), /queue manager is running/);
      await popup.click('#start');
      await popup.waitForFunction(() => document.getElementById('result')?.textContent === 'Queue started.');
      await progress(1);
      await popup.click('#stop');
      await popup.waitForFunction(() => document.getElementById('result')?.textContent === 'Queue stopped.');
      await progress(0);
      await popup.close();
    } else {
      // WebDriver BiDi cannot open Firefox's extension pages: the relay calls what the popup's buttons call.
      assert.match((await call('status')).text, /queue manager is running/);
      assert.equal(await call('queue', 'start'), 'Queue started.');
      await progress(1);
      assert.equal(await call('queue', 'stop'), 'Queue stopped.');
      await progress(0);
    }
  });

  it('says when the queue manager is not running', async () => {
    await manager.stop();
    try {
      const status = await call('status');
      assert.equal(status.manager, 'absent');
      assert.match(status.text, /queue manager is not running/);
      // A list never starts the queue manager: the host's message says why it went nowhere.
      const reply = await call('click', { menuItemId: 'zyp-all', pageUrl: `${site.base}/`, frameId: 0, editable: false });
      assert.equal(reply.outcome, 'not-delivered', JSON.stringify(reply));
      assert.equal((await call('problem'))?.text, `The queue manager did not take it: ${reply.message}`);
      assert.equal((await call('notifications')).at(-1)?.message, `The queue manager did not take it: ${reply.message}`);
    } finally {
      await manager.start();
    }
  });

  it("takes a download over: the queue manager gets it, the browser's own is cancelled", async () => {
    await call('settings', { takeOver: true, fileTypes: ['zip'], minSizeKB: 100 });
    const from = journal.entries().length;
    const requestsBefore = site.requests.length;
    const url = await startDownload('taken.zip', BIG);
    const message = await journal.waitFor((entry) => entry.event === 'message', 'the download at the queue manager', from);
    assert.equal(message.text, `ADDURL:${url}`);
    assert.equal(message.cookies, COOKIES.join('; '));
    await handOversEnded();
    assert.deepEqual(fs.readdirSync(browser.downloads), [], 'the browser wrote nothing');
    const downloads = /** @type {{ url: string }[]} */ (await call('downloads'));
    assert.deepEqual(downloads.filter((item) => item.url === url), [], "the browser's download is cancelled and gone");
    // The browser's own request reached the server before it was cancelled.
    assert.ok(site.requests.slice(requestsBefore).some((request) => request.path === new URL(url).pathname + new URL(url).search));
  });

  it("leaves a form's POST download to the browser: the manager could only ask for it without the form", async () => {
    await call('settings', { takeOver: true, fileTypes: ['zip'], minSizeKB: 100 });
    const from = journal.entries().length;
    const requestsBefore = site.requests.length;
    await submitForm(site.form('post', 'posted.zip', BIG, KEPT_HOLD_MS));
    await waitForDownload(browser.downloads, 'posted.zip', fileBytes(BIG));
    await handOversEnded();
    assert.deepEqual(messagesFrom(from), [], 'the queue manager got nothing');
    assert.deepEqual(
      site.requests.slice(requestsBefore).map((request) => `${request.method} ${request.path} ${request.body}`),
      [`POST /files/posted.zip size=${BIG}&held=${KEPT_HOLD_MS}`],
      'the form went once, as a POST',
    );
  });

  it("takes a GET form's download over", async () => {
    const from = journal.entries().length;
    const form = site.form('get', 'got.zip', BIG, true);
    await submitForm(form);
    const message = await journal.waitFor((entry) => entry.event === 'message', 'the download at the queue manager', from);
    assert.equal(message.address, site.file('got.zip', BIG, true), 'the address holds the fields');
    assert.equal(message.cookies, COOKIES.join('; '));
    await handOversEnded();
    assert.deepEqual(fs.readdirSync(browser.downloads).filter((name) => name.startsWith('got')), []);
  });

  if (family === 'chromium') {
    it('leaves a download below the least size to the browser', async () => {
      const from = journal.entries().length;
      await startDownload('small.zip', SMALL, false);
      await waitForDownload(browser.downloads, 'small.zip', fileBytes(SMALL));
      assert.deepEqual(messagesFrom(from), []);
    });
  } else {
    it('leaves a download below the least size to the browser, by the length its response told', async () => {
      const from = journal.entries().length;
      await startDownload('small.zip', SMALL, KEPT_HOLD_MS);
      await waitForDownload(browser.downloads, 'small.zip', fileBytes(SMALL));
      await handOversEnded();
      assert.deepEqual(messagesFrom(from), []);
    });
  }

  it('lets the browser download it itself when the queue manager has no pipe, and says why', async () => {
    await manager.stop();
    await manager.start({ ZYP_QM_NO_PIPE: '1' });
    const from = journal.entries().length;
    await startDownload('fallback.zip', BIG);
    await waitForDownload(browser.downloads, 'fallback.zip', fileBytes(BIG));
    await handOversEnded();
    assert.deepEqual(messagesFrom(from), []);
    const problem = await wordAbout('fallback.zip');
    assert.match(problem?.text ?? '', /did not take it: .+ The browser downloads fallback\.zip itself\./);
    assert.equal((await call('notifications')).at(-1)?.message, problem.text, 'the notification says it too');
    await manager.stop();
    await manager.start();
  });

  it('says when the host is not registered, and loses nothing', async () => {
    browser.unregisterHost();
    try {
      const status = await call('status');
      assert.equal(status.registered, false);
      assert.match(status.text, /not registered.*"ZYPBrowserHost\.exe --register"/);
      const from = journal.entries().length;
      await startDownload('unregistered.zip', BIG);
      await waitForDownload(browser.downloads, 'unregistered.zip', fileBytes(BIG));
      await handOversEnded();
      assert.deepEqual(messagesFrom(from), []);
      const problem = await wordAbout('unregistered.zip');
      assert.match(problem?.text ?? '', /not registered.* The browser downloads unregistered\.zip itself\./);
      assert.equal((await call('notifications')).at(-1)?.message, problem.text, 'the notification says it too');
    } finally {
      browser.registerHost();
    }
  });

  it("hands a video, a sound and a picture over: the source, its cookies, the element's description", async () => {
    const media = await browser.running.newPage();
    try {
      await media.goto(site.media);
      /** @type {[string, string, string, string][]} menu item, element, source, description */
      const cases = [
        ['zyp-video', 'video', `${site.base}/files/clip.webm?size=2048`, 'The clip'],
        ['zyp-audio', 'audio', `${site.base}/files/sound.ogg?size=2048`, 'ZYP media page'],
        ['zyp-image', 'image', `${site.base}/files/picture.png?size=64`, 'A picture'],
      ];
      for (const [menuItemId, mediaType, srcUrl, description] of cases) {
        const from = journal.entries().length;
        const info = { menuItemId, mediaType, srcUrl, pageUrl: site.media, frameId: 0, editable: false };
        const reply = await browser.call(media, 'click', info);
        assert.equal(reply.outcome, 'delivered', `${menuItemId}: ${JSON.stringify(reply)}`);
        const [message, ...more] = messagesFrom(from);
        assert.equal(more.length, 0, journal.tail());
        assert.equal(message.text, `ADDURL:${srcUrl}[<{(${description})}>]`, menuItemId);
        assert.equal(message.cookies, COOKIES.join('; '), `${menuItemId}: the cookies of the source`);
      }
      // A video the page makes itself has no address the manager could fetch; neither has a picture inside the page.
      const made = await media.evaluate(() => /** @type {HTMLVideoElement} */ (document.getElementById('made')).src);
      assert.match(made, /^blob:/);
      /** @type {[string, string, string, RegExp][]} */
      const refusals = [
        ['zyp-video', 'video', made, /cannot download this video: the page puts it together itself/],
        ['zyp-image', 'image', 'data:image/gif;base64,R0lGODlhAQABAAAAACw=', /cannot download this image: it is stored inside the page itself/],
      ];
      for (const [menuItemId, mediaType, srcUrl, why] of refusals) {
        const from = journal.entries().length;
        const reply = await browser.call(media, 'click', { menuItemId, mediaType, srcUrl, pageUrl: site.media, frameId: 0, editable: false });
        assert.equal(reply.outcome, 'refused', JSON.stringify(reply));
        assert.match(reply.message, why);
        assert.equal((await call('notifications')).at(-1)?.message, reply.message, 'the notification says why');
        assert.deepEqual(messagesFrom(from), []);
      }
    } finally {
      await media.close();
    }
  });

  it('leaves out, alone, a cookie that a cookie list cannot carry, and says so', async () => {
    // Firefox keeps a tab in a cookie's value; Chromium refuses one but keeps a line separator.
    await page.evaluate((value) => {
      document.cookie = `odd=${value}; path=/`;
    }, family === 'firefox' ? 'a\tb' : 'a\u2028b');
    try {
      const from = journal.entries().length;
      const url = `${site.base}/files/first.zip`;
      const info = { menuItemId: 'zyp-add', linkUrl: url, pageUrl: `${site.base}/`, frameId: 0, editable: false };
      const reply = await call('click', family === 'firefox' ? { ...info, linkText: 'The first file' } : info);
      assert.equal(reply.outcome, 'delivered', JSON.stringify(reply));
      assert.equal(reply.cookiesLeftOut, 1, JSON.stringify(reply));
      const [message, ...more] = messagesFrom(from);
      assert.equal(more.length, 0, journal.tail());
      assert.equal(message.cookies, COOKIES.join('; '), 'the other cookies went with it');
      assert.match((await call('notifications')).at(-1)?.message ?? '', /without 1 of its cookies/);
    } finally {
      await page.evaluate(() => {
        document.cookie = 'odd=; path=/; max-age=0';
      });
    }
  });

  it('says so when a taken-over download is in the pipe but the queue manager had not confirmed it', async () => {
    await call('settings', { takeOver: true, fileTypes: ['zip'], minSizeKB: 100 });
    await manager.stop();
    await manager.start({ ZYP_QM_NO_READ: '1' });
    try {
      const url = await startDownload('unconfirmed.zip', BIG);
      const word = (await wordAbout(url))?.text ?? '';
      assert.match(word, /has .+ in its pipe but has not confirmed it yet/);
      assert.equal((await call('notifications')).at(-1)?.message, word, 'the notification says it too');
      await handOversEnded();
      assert.deepEqual(fs.readdirSync(browser.downloads).filter((name) => name.startsWith('unconfirmed')), []);
      assert.ok((await call('popup')).text.includes(word), "the popup's last word shows it");
    } finally {
      await manager.stop();
      await manager.start();
    }
  });

  it('never takes a download over from a site on the list, and takes it again after the undo', async () => {
    await call('settings', { takeOver: true, fileTypes: ['zip'], minSizeKB: 0 });
    assert.deepEqual((await call('neverTakeOverFrom', '127.0.0.1')).neverSites, ['127.0.0.1']);
    try {
      assert.match((await call('popup')).text, /Take over from 127\.0\.0\.1 again/, 'the popup offers the undo');
      let from = journal.entries().length;
      await startDownload('never.zip', SMALL, false);
      await waitForDownload(browser.downloads, 'never.zip', fileBytes(SMALL));
      await handOversEnded();
      assert.deepEqual(messagesFrom(from), [], 'the browser kept it');
      assert.deepEqual((await call('takeOverAgainFrom', '127.0.0.1')).neverSites, []);
      assert.match((await call('popup')).text, /Never take over from 127\.0\.0\.1/);
      from = journal.entries().length;
      const url = await startDownload('again.zip', BIG);
      assert.equal((await journal.waitFor((entry) => entry.event === 'message', 'the download at the queue manager', from)).address, url);
      await handOversEnded();
    } finally {
      await call('takeOverAgainFrom', '127.0.0.1');
    }
  });

  if (family === 'firefox') {
    it('asking where to save each file: takes a listed download over before Firefox asks or writes, also when it wakes the background', async () => {
      const folder = path.join(scratch, 'asking');
      fs.mkdirSync(folder);
      const asking = new TestBrowser(family, folder, { ZYP_JOURNAL: windowsPath(journal.file) }, {
        firefoxPrefs: { 'browser.download.useDownloadDir': false, 'extensions.background.idle.timeout': 2000 },
      });
      try {
        asking.registerHost();
        await asking.launch();
        const tab = await asking.running.newPage();
        await tab.goto(`${site.base}/`);
        const ask = (/** @type {string} */ name, /** @type {unknown[]} */ ...args) => asking.call(tab, name, ...args);
        const ended = () => waitFor(async () => ((await ask('handovers')) === 0 ? true : undefined), 'the take-over to end');
        await ask('settings', { takeOver: true, fileTypes: ['zip'], minSizeKB: 100 });

        let from = journal.entries().length;
        let url = await startDownload('asked.zip', BIG, true, tab);
        assert.equal((await journal.waitFor((entry) => entry.event === 'message', 'the download', from)).address, url);
        await ended();
        assert.deepEqual(fs.readdirSync(asking.downloads), [], 'no .part file: Firefox wrote nothing');
        assert.deepEqual(await ask('downloads'), [], 'Firefox made no download of it, so it asked nothing');

        // Firefox starts writing the file before it asks where to save it: the .part file shows it kept the download.
        from = journal.entries().length;
        await startDownload('small-asked.zip', SMALL, false, tab);
        await waitFor(() => (fs.readdirSync(asking.downloads).some((name) => name.endsWith('.part')) ? true : undefined), 'Firefox to start the download itself');
        await ended();
        assert.deepEqual(messagesFrom(from), [], 'below the least size by its length: the queue manager got nothing');
        const kept = fs.readdirSync(asking.downloads);

        // Firefox puts the background to sleep after 2 s of idleness; the download's request wakes it.
        const asleep = site.requests.length;
        const run = await ask('run');
        await ask('reportSleep', `${site.base}/slept`);
        await waitFor(() => (site.requests.slice(asleep).some((request) => request.path === `/slept?run=${run}`) ? true : undefined), 'the background to sleep');
        from = journal.entries().length;
        url = await startDownload('while-asleep.zip', BIG, true, tab);
        assert.equal((await journal.waitFor((entry) => entry.event === 'message', 'the download', from)).address, url);
        await ended();
        assert.notEqual(await ask('run'), run, 'a new run of the background took it');
        assert.deepEqual(fs.readdirSync(asking.downloads), kept, 'Firefox wrote nothing more');
      } finally {
        await asking.close();
      }
    });
  }

  // Last for Firefox: only a person's click can give the access back there.
  it('without access to the site: no cookies sent or lost, a word why, downloads left to the browser', async () => {
    const cookieFile = path.join(cookieFolder, COOKIE_FILE);
    const cookiesBefore = fs.readFileSync(cookieFile, 'latin1');
    assert.equal(cookiesBefore, `${COOKIES.join('; ')}\r\n`, 'the cookie file of the earlier hand-overs');
    if (family === 'chromium') await browser.setSiteAccess('ON_CLICK');
    else await call('withholdSiteAccess');
    try {
      await waitFor(async () => ((await call('hasSiteAccess')) ? undefined : true), 'the site access to be withheld');
      let from = journal.entries().length;
      const url = `${site.base}/files/first.zip`;
      const info = { menuItemId: 'zyp-add', linkUrl: url, pageUrl: `${site.base}/`, frameId: 0, editable: false };
      const reply = await call('click', info);
      assert.equal(reply.outcome, 'delivered', JSON.stringify(reply));
      const [message, ...more] = messagesFrom(from);
      assert.equal(more.length, 0, journal.tail());
      assert.equal(message.address, url);
      assert.equal(fs.readFileSync(cookieFile, 'latin1'), cookiesBefore, 'the cookie file stays as it was');
      assert.match(
        (await call('notifications')).at(-1)?.message ?? '',
        /may not read the cookies of 127\.0\.0\.1.*"Allow on this site"/,
      );

      const all = await call('click', { menuItemId: 'zyp-all', pageUrl: `${site.base}/`, frameId: 0, editable: false });
      assert.equal(all.outcome, 'refused', JSON.stringify(all));
      assert.match(all.message, /may not read this page on 127\.0\.0\.1.*"Allow on this site"/);

      await call('settings', { takeOver: true, fileTypes: ['zip'], minSizeKB: 0 });
      from = journal.entries().length;
      await startDownload('withheld.zip', SMALL, false);
      await waitForDownload(browser.downloads, 'withheld.zip', fileBytes(SMALL));
      await handOversEnded();
      assert.deepEqual(messagesFrom(from), [], 'the browser kept the download');
    } finally {
      if (family === 'chromium') await browser.setSiteAccess('ON_ALL_SITES');
    }
  });

  if (family === 'chromium') {
    it('keeps the setting and a take-over in progress when Chromium stops its service worker', async () => {
      const stopServiceWorker = async () => {
        const isOurs = (/** @type {import('puppeteer-core').Target} */ target) =>
          target.type() === 'service_worker' && target.url().startsWith(`chrome-extension://${CHROMIUM_ID}/`);
        const worker = await (await browser.running.waitForTarget(isOurs)).worker();
        await worker?.close();
        await waitFor(() => (browser.running.targets().some(isOurs) ? undefined : true), 'the service worker to stop');
      };
      // The setting lives in storage, and the download's request wakes the
      // worker before the download does: a new worker notes the request and
      // takes the download over.
      await stopServiceWorker();
      let from = journal.entries().length;
      const url = await startDownload('after-stop.zip', BIG);
      assert.equal((await journal.waitFor((entry) => entry.event === 'message', 'the download', from)).address, url);
      await handOversEnded();
      // A queue manager that never reads keeps the run going for seconds: the worker stops in the middle.
      await manager.stop();
      await manager.start({ ZYP_QM_NO_READ: '1' });
      from = journal.entries().length;
      await startDownload('cut-off.zip', BIG);
      await journal.waitFor((entry) => entry.event === 'connect', 'the program to connect to the queue manager', from);
      await stopServiceWorker();
      // Any event starts the worker again (here a call through the page); it
      // finds the take-over unfinished and lets the browser download it.
      await call('problem');
      await waitForDownload(browser.downloads, 'cut-off.zip', fileBytes(BIG));
      await handOversEnded();
      assert.match((await call('problem'))?.text ?? '', /cut off.* The browser downloads cut-off\.zip itself\./);
    });
  }
});

describe(`the extension in ${family} with a German interface`, () => {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), `zyp-${family}-de-`));
  const site = new Site();
  const browser = new TestBrowser(family, scratch, {}, { language: 'de' });
  const german = readMessages(SOURCE, 'de');
  const english = readMessages(SOURCE, 'en');
  /** @type {import('puppeteer-core').Page} */
  let page;
  /**
   * The German message with its values in place; it must differ from the English one.
   * @param {string} name
   * @param {...string} values
   */
  const inGerman = (name, ...values) => {
    const text = fillMessage(german[name], values);
    assert.notEqual(text, fillMessage(english[name], values), `${name} is translated`);
    return text;
  };

  before(async () => {
    await prepareWine();
    await site.start();
    browser.registerHost();
    await browser.launch();
    page = await browser.running.newPage();
    await page.goto(`${site.base}/`);
  });

  after(async () => {
    await browser.close();
    await site.stop();
    fs.rmSync(scratch, { recursive: true, force: true });
  });

  it('shows its menu items, popup and notifications in German', async () => {
    assert.equal(await browser.call(page, 'uiLanguage'), 'de');
    const items = await browser.call(page, 'menuItems');
    const titles = Object.fromEntries(Object.entries(items).map(([id, item]) => [id, item.title]));
    assert.deepEqual(titles, {
      'zyp-add': inGerman('menuDownloadLink'),
      'zyp-explore': inGerman('menuOpenInLinkExplorer'),
      'zyp-video': inGerman('menuDownloadVideo'),
      'zyp-audio': inGerman('menuDownloadAudio'),
      'zyp-image': inGerman('menuDownloadImage'),
      'zyp-all': inGerman('menuDownloadAllLinks'),
    });
    const popup = await browser.call(page, 'popup');
    assert.equal(popup.lang, 'de');
    for (const shown of [
      inGerman('popupStartQueue'),
      inGerman('popupStopQueue'),
      inGerman('popupDownloadsLegend'),
      inGerman('popupTakeOver'),
      inGerman('popupFileTypes'),
      inGerman('popupNeverSites'),
      inGerman('popupNeverTakeOverFrom', '127.0.0.1'),
    ])
      assert.ok(popup.text.includes(shown), `the popup shows "${shown}":\n${popup.text}`);
    // No queue manager runs for this browser: the popup says so in German.
    assert.ok(popup.text.includes(inGerman('managerAbsentVersion', '1.0.0')), popup.text);
    const reply = await browser.call(page, 'click', {
      menuItemId: 'zyp-image',
      mediaType: 'image',
      srcUrl: 'data:image/gif;base64,R0lGODlhAQABAAAAACw=',
      pageUrl: `${site.base}/`,
      frameId: 0,
      editable: false,
    });
    assert.equal(reply.message, inGerman('imageInPage'));
    assert.equal((await browser.call(page, 'notifications')).at(-1)?.message, reply.message);
  });
});

describe(`the extension in ${family}, headful, driven by a person's keys and clicks`, () => {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), `zyp-${family}-headful-`));
  const journal = new Journal(path.join(scratch, 'journal.jsonl'));
  const manager = new StandInManager(journal);
  const site = new Site();
  const screen = new Screen();
  const english = readMessages(SOURCE, 'en');
  /** A thumbnail's site and the site of the file it links to, both on the test site. */
  const [CDN, FILES] = ['cdn.example.net', 'files.example.org'];
  /** The cookie file of the file's site (docs/protocol.md, section 3). */
  const FILES_COOKIE_FILE = 'example.org.dat';
  /** @type {TestBrowser} */
  let browser;
  /** @type {import('puppeteer-core').Page} */
  let page;

  /**
   * @param {string} name
   * @param {...unknown} args
   */
  const call = (name, ...args) => browser.call(page, name, ...args);

  before(async () => {
    await screen.start();
    browser = new TestBrowser(family, scratch, { ZYP_JOURNAL: windowsPath(journal.file) }, { display: screen.display, hosts: [CDN, FILES] });
    page = await bringUp({ browser, manager, site });
  });

  after(() => takeAway({ browser, manager, site, scratch, cookieFile: FILES_COOKIE_FILE, screen }));

  it('switches taking over with its shortcut, and its toolbar button shows whether it is on', async () => {
    assert.equal((await call('settings', { takeOver: false })).takeOver, false);
    assert.match((await call('popup')).text, /Shortcut: Alt\+Shift\+D/, 'the popup names the key');
    /** @type {unknown} */
    let shown;
    for (const on of [true, false]) {
      await screen.focus('ZYP test page');
      await screen.keys('alt+shift+d');
      await waitFor(
        async () => {
          shown = await call('button');
          return JSON.stringify(shown) ===
            JSON.stringify(on ? { badge: 'ON', title: english.actionTitleTakingOver.message } : { badge: '', title: 'ZYP' })
            ? true
            : undefined;
        },
        `the button to show taking over ${on ? 'on' : 'off'}`,
        { explain: () => `it shows ${JSON.stringify(shown)}` },
      );
      assert.equal((await call('storedSettings')).takeOver, on, 'the setting the popup shows');
    }
  });

  if (family === 'chromium') {
    it("asks for the site of a link around a picture, and trusts the answer only for that site", async () => {
      const port = new URL(site.base).port;
      const link = `http://${FILES}:${port}/files/a.zip`;
      const cookieFile = path.join(cookieFolder, FILES_COOKIE_FILE);
      // The link's site has a login; handed over while the extension may read it, it is in the site's cookie file.
      const tab = await browser.running.newPage();
      await tab.goto(`http://${FILES}:${port}/`);
      let from = journal.entries().length;
      const first = await call('click', { menuItemId: 'zyp-add', linkUrl: link, pageUrl: `${site.base}/`, frameId: 0, editable: false });
      assert.equal(first.outcome, 'delivered', JSON.stringify(first));
      const login = `${COOKIES.join('; ')}\r\n`;
      assert.equal(fs.readFileSync(cookieFile, 'latin1'), login);
      // The site renews its login: only a hand-over with its cookies brings the new one.
      await tab.evaluate(() => {
        document.cookie = 'session=renewed-7; path=/';
      });
      await browser.setSiteAccess('ON_CLICK');
      try {
        const withheld = [`http://${FILES}/*`, `http://${CDN}/*`];
        await waitFor(async () => ((await call('hasSiteAccess', withheld)) ? undefined : true), 'the site access to be withheld');
        /**
         * Right-clicks the thumbnail as a person does, chooses Download with
         * ZYP, and answers the browser's prompt with a click on its button.
         * @param {string} source the picture's address
         * @param {'deny' | 'allow'} answer
         * @returns {Promise<string>} the site the extension asked for
         */
        const downloadThroughPicture = async (source, answer) => {
          await tab.goto(`http://${CDN}:${port}/linked-picture?src=${encodeURIComponent(source)}&href=${encodeURIComponent(link)}`);
          await tab.bringToFront();
          const view = await tab.evaluate(() => {
            const box = /** @type {HTMLElement} */ (document.getElementById('thumbnail')).getBoundingClientRect();
            // Where the page starts on the screen: below the window's own bars.
            const top = window.screenY + window.outerHeight - window.innerHeight;
            return {
              thumbnail: { x: window.screenX + box.x + box.width / 2, y: top + box.y + box.height / 2 },
              left: window.screenX,
              top,
              width: window.innerWidth,
              height: window.innerHeight,
            };
          });
          const backdrop = { x: view.left + view.width - 20, y: view.top + view.height - 20 };
          const asked = (await call('askedFor')).length;
          await screen.focus('ZYP linked picture');
          assert.deepEqual(await screen.colourAt(backdrop), [255, 255, 255], 'the page shows, no prompt over it');
          await screen.rightClick(view.thumbnail);
          // The menu's ZYP item opens its own menu; "d" picks Download with ZYP in it.
          await screen.keys('z', 'd', 'Return');
          const [origin] = await waitFor(async () => (await call('askedFor')).slice(asked)[0], 'the extension to ask for access');
          const buttons = await waitFor(async () => promptButtons(await screen.picture(), view, backdrop), "the browser's prompt");
          await screen.click(buttons[answer]);
          return origin;
        };

        from = journal.entries().length;
        assert.equal(await downloadThroughPicture(`http://${CDN}:${port}/pixel.gif`, 'deny'), `http://${FILES}/*`, 'the prompt names the link\'s site');
        let message = await journal.waitFor((entry) => entry.event === 'message', 'the link at the queue manager', from);
        assert.equal(message.address, link);
        const said = await waitFor(async () => {
          const last = (await call('notifications')).at(-1)?.message ?? '';
          return last.includes(FILES) ? last : undefined;
        }, 'the word that the cookies could not be read');
        assert.match(said, /may not read the cookies of files\.example\.org/);
        assert.equal(fs.readFileSync(cookieFile, 'latin1'), login, 'the cookie file stays as it was');
        assert.deepEqual(await call('hasSiteAccess', [`http://${FILES}/*`]), false, 'denied');

        // A lazy picture shows a placeholder stored in the page: the link's site is asked for all the same.
        from = journal.entries().length;
        const placeholder = 'data:image/gif;base64,R0lGODlhAQABAIAAAP///wAAACwAAAAAAQABAAACAkQBADs=';
        assert.equal(await downloadThroughPicture(placeholder, 'allow'), `http://${FILES}/*`);
        message = await journal.waitFor((entry) => entry.event === 'message', 'the link at the queue manager', from);
        assert.equal(message.address, link);
        assert.deepEqual(message.cookies.split('; ').sort(), ['lang=en', 'session=renewed-7'], 'the link went with its site\'s login');
        assert.equal(await call('hasSiteAccess', [`http://${FILES}/*`]), true, 'allowed for the link\'s site');
        assert.equal(await call('hasSiteAccess', [`http://${CDN}/*`]), false, "and for no other");
      } finally {
        await browser.setSiteAccess('ON_ALL_SITES');
        await tab.close();
      }
    });
  }
});

/**
 * Where Chromium's prompt for site access has its buttons, once it is up:
 * a white box at the top of the page, which it darkens, with Deny (filled)
 * and Allow (tinted) side by side at its foot. Undefined while it is not up.
 * @param {(point: { x: number, y: number }) => [number, number, number]} colourAt the screen
 * @param {{ left: number, top: number, width: number, height: number }} view where the page is
 * @param {{ x: number, y: number }} backdrop a point of the page outside the prompt
 */
function promptButtons(colourAt, view, backdrop) {
  const white = (/** @type {{ x: number, y: number }} */ point) => colourAt(point).every((channel) => channel > 245);
  if (colourAt(backdrop).some((channel) => channel > 200)) return undefined;
  // The box stands in the middle of the page: its foot is the lowest white point there.
  const middle = view.left + view.width / 2;
  let foot = view.top + view.height / 2;
  while (foot > view.top && !white({ x: middle, y: foot })) foot -= 1;
  if (foot <= view.top) return undefined;
  // The buttons are the blue in the band above the foot, seen from left to right: one run each.
  /** @type {{ from: number, to: number, rows: number[] }[]} */
  const runs = [];
  for (let x = view.left; x < view.left + view.width; x += 1) {
    const rows = [];
    for (let y = foot - 80; y < foot; y += 1) {
      const [red, , blue] = colourAt({ x, y });
      if (blue > red + 30) rows.push(y);
    }
    if (rows.length === 0) continue;
    const last = runs.at(-1);
    if (last && x - last.to <= 3) Object.assign(last, { to: x, rows: [...last.rows, ...rows] });
    else runs.push({ from: x, to: x, rows });
  }
  if (runs.length !== 2) return undefined;
  const [deny, allow] = runs.map((run) => ({ x: (run.from + run.to) / 2, y: (Math.min(...run.rows) + Math.max(...run.rows)) / 2 }));
  return { deny, allow };
}
