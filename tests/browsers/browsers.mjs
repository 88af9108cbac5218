// The browsers under test: Debian's Chromium and Firefox ESR, headless unless
// a test gives them an X display, each with a throwaway profile and HOME, the
// extension loaded unpacked, and the native-messaging host registered through
// a script that starts the Windows host under Wine.
import fs from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { SOURCE, writeFamily } from '../../scripts/lib/extension-family.mjs';
import { bin, build, root, waitFor, windowsPath } from './wine.mjs';

/** @typedef {import('../../scripts/lib/extension-family.mjs').Family} Family */

export const HOST_NAME = 'com.tarvesk.zypqueue';
export const CHROMIUM_ID = 'bbfoidedccldpkpienckfkdpmffjbkbm';
export const FIREFOX_ID = 'zyp-extension@tarvesk.com';
/** The browsers themselves: Debian's /usr/bin/chromium wrapper adds an empty --load-extension=. */
const EXECUTABLES = { chromium: '/usr/lib/chromium/chromium', firefox: '/usr/lib/firefox-esr/firefox-esr' };
/** A call into the extension that takes longer has hung: a host run ends within about 6 s. */
const CALL_TIMEOUT_MS = 30000;

/**
 * Single quotes for a shell.
 * @param {string} text
 */
function quoted(text) {
  return `'${text.replaceAll("'", "'\\''")}'`;
}

/**
 * The extension as the tests load it: the family's copy, plus the page
 * relay and a background that answers the relay (neither is shipped).
 * @param {Family} family
 * @param {string} folder
 */
function writeTestExtension(family, folder) {
  writeFamily(family, folder);
  fs.cpSync(path.join(SOURCE, 'testing'), path.join(folder, 'testing'), { recursive: true });
  const manifestFile = path.join(folder, 'manifest.json');
  const manifest = JSON.parse(fs.readFileSync(manifestFile, 'utf8'));
  manifest.content_scripts = [{ matches: ['http://127.0.0.1/*'], js: ['testing/relay.js'], run_at: 'document_start' }];
  // The popup tells the test background what it shows.
  const popupFile = path.join(folder, 'popup', 'popup.html');
  const popup = fs.readFileSync(popupFile, 'utf8');
  fs.writeFileSync(popupFile, popup.replace('</head>', '  <script defer src="../testing/popup-report.js"></script>\n</head>'));
  if (family === 'chromium') manifest.background.service_worker = 'testing/background.js';
  else manifest.background.scripts = ['testing/background.js'];
  fs.writeFileSync(manifestFile, JSON.stringify(manifest, null, 2));
}

export class TestBrowser {
  /**
   * @param {Family} family
   * @param {string} scratch a folder of the test's own for profile, HOME,
   *   downloads, the extension and the host script
   * @param {Record<string, string>} hostEnvironment passed to the host
   * @param {{ language?: string, firefoxPrefs?: Record<string, unknown>, display?: string, hosts?: string[] }} [options]
   *   the language of the browser's interface (English by default); Firefox's
   *   preferences beside the tests' own; the X display of a headful browser
   *   (headless without one); host names that stand for this machine, as other
   *   sites on the test site
   */
  constructor(family, scratch, hostEnvironment, { language = 'en-US', firefoxPrefs = {}, display, hosts = [] } = {}) {
    this.family = family;
    this.language = language;
    this.firefoxPrefs = firefoxPrefs;
    this.display = display;
    this.hosts = hosts;
    this.home = path.join(scratch, 'home');
    this.profile = path.join(scratch, 'profile');
    this.downloads = path.join(scratch, 'downloads');
    this.extension = path.join(scratch, 'extension');
    this.hostScript = path.join(scratch, 'zyp-browser-host.sh');
    for (const folder of [this.home, this.profile, this.downloads]) fs.mkdirSync(folder);
    writeTestExtension(family, this.extension);
    this.#writeHostScript(hostEnvironment);
    /** @type {import('puppeteer-core').Browser | null} */
    this.browser = null;
  }

  /** Where the browser looks for the host's manifest. */
  get hostManifest() {
    const folder =
      this.family === 'chromium'
        ? path.join(this.profile, 'NativeMessagingHosts')
        : path.join(this.home, '.mozilla', 'native-messaging-hosts');
    return path.join(folder, `${HOST_NAME}.json`);
  }

  /** The browser's own id of the extension, as host manifests name it. */
  get allowed() {
    return this.family === 'chromium'
      ? { allowed_origins: [`chrome-extension://${CHROMIUM_ID}/`] }
      : { allowed_extensions: [FIREFOX_ID] };
  }

  /** @param {Record<string, string>} environment */
  #writeHostScript(environment) {
    const exports = Object.entries(environment).map(([name, value]) => `export ${name}=${quoted(value)}\n`);
    fs.writeFileSync(
      this.hostScript,
      `#!/usr/bin/env bash
# ZYPBrowserHost.exe under Wine in the build's prefix, for the browser under test.
. ${quoted(path.join(root, 'cmake', 'wine-env.sh'))}
zyp_wine_env ${quoted(build)}
${exports.join('')}zyp_wine_server
exec "$ZYP_WINE64" ${quoted(path.join(bin, 'ZYPBrowserHost.exe'))} "$@"
`,
      { mode: 0o755 },
    );
  }

  registerHost() {
    fs.mkdirSync(path.dirname(this.hostManifest), { recursive: true });
    const manifest = {
      name: HOST_NAME,
      description: 'ZYPBrowserHost under Wine',
      path: this.hostScript,
      type: 'stdio',
      ...this.allowed,
    };
    fs.writeFileSync(this.hostManifest, JSON.stringify(manifest, null, 2));
  }

  unregisterHost() {
    fs.rmSync(this.hostManifest);
  }

  async launch() {
    const headless = this.display === undefined;
    const env = { ...process.env, HOME: this.home, LANGUAGE: this.language.replace('-', '_'), ...(headless ? {} : { DISPLAY: this.display }) };
    if (this.family === 'chromium') {
      // Chromium takes its download folder from the profile's preferences.
      fs.mkdirSync(path.join(this.profile, 'Default'));
      fs.writeFileSync(
        path.join(this.profile, 'Default', 'Preferences'),
        JSON.stringify({ download: { default_directory: this.downloads, prompt_for_download: false } }),
      );
      this.browser = await puppeteer.launch({
        executablePath: EXECUTABLES.chromium,
        headless,
        userDataDir: this.profile,
        env,
        args: [
          ...(process.getuid?.() === 0 ? ['--no-sandbox'] : []),
          `--lang=${this.language}`,
          `--load-extension=${this.extension}`,
          `--disable-extensions-except=${this.extension}`,
          // Its dialogs ignore a key or a click that comes within the double-click time of showing them, so that
          // one meant for the page cannot answer them; the tests press once the dialog is up.
          ...(headless ? [] : ['--disable-input-event-activation-protection-for-testing']),
          ...(this.hosts.length > 0 ? [`--host-resolver-rules=${this.hosts.map((host) => `MAP ${host} 127.0.0.1`).join(', ')}`] : []),
        ],
        ignoreDefaultArgs: ['--disable-extensions'],
      });
    } else {
      this.browser = await puppeteer.launch({
        browser: 'firefox',
        executablePath: EXECUTABLES.firefox,
        headless,
        userDataDir: this.profile,
        env,
        extraPrefsFirefox: {
          'browser.download.dir': this.downloads,
          'browser.download.folderList': 2,
          'browser.download.useDownloadDir': true,
          // Debian's language packs (firefox-esr-l10n-*) hold the interface's other languages.
          'intl.locale.requested': this.language,
          'extensions.autoDisableScopes': 0,
          'network.dns.localDomains': this.hosts.join(','),
          ...this.firefoxPrefs,
        },
      });
      const id = await this.browser.installExtension(this.extension);
      if (id !== FIREFOX_ID) throw new Error(`Firefox installed the extension as ${id}, not ${FIREFOX_ID}`);
    }
  }

  /**
   * Sets Chromium's site access for the extension as a person does, on its
   * page in chrome://extensions: ON_CLICK, ON_SPECIFIC_SITES or ON_ALL_SITES.
   * @param {'ON_CLICK' | 'ON_SPECIFIC_SITES' | 'ON_ALL_SITES'} access
   */
  async setSiteAccess(access) {
    if (this.family !== 'chromium') throw new Error('only Chromium has a site access setting to script');
    const page = await this.running.newPage();
    try {
      await page.goto(`chrome://extensions/?id=${CHROMIUM_ID}`);
      // The setting sits in nested shadow roots, drawn once the page has the extension's details.
      const set = await page.waitForFunction(
        (value) => {
          /** @param {Document | ShadowRoot} within @returns {HTMLSelectElement | null} */
          const find = (within) => {
            const found = within.querySelector('select#hostAccess');
            if (found) return /** @type {HTMLSelectElement} */ (found);
            for (const element of Array.from(within.querySelectorAll('*'))) {
              const inner = element.shadowRoot ? find(element.shadowRoot) : null;
              if (inner) return inner;
            }
            return null;
          };
          const select = find(document);
          if (!select) return false;
          select.value = value;
          select.dispatchEvent(new Event('change', { bubbles: true }));
          return select.value === value;
        },
        { timeout: CALL_TIMEOUT_MS },
        access,
      );
      await set.dispose();
    } finally {
      await page.close();
    }
  }

  async close() {
    await this.browser?.close();
    this.browser = null;
  }

  /** @returns {import('puppeteer-core').Browser} */
  get running() {
    if (!this.browser) throw new Error('the browser is not running');
    return this.browser;
  }

  /**
   * Calls the test background through the page's relay.
   * @param {import('puppeteer-core').Page} page a page of the test site
   * @param {string} name
   * @param {...unknown} args
   * @returns {Promise<any>}
   */
  async call(page, name, ...args) {
    const answer = await page.evaluate(
      (callName, callArgs, timeout) =>
        new Promise((resolve) => {
          const seq = Math.random();
          const timer = setTimeout(() => resolve({ error: `no answer within ${timeout} ms` }), timeout);
          window.addEventListener('message', function listen(event) {
            if (event.source !== window || event.data?.zypTest !== 'answer' || event.data.seq !== seq) return;
            window.removeEventListener('message', listen);
            clearTimeout(timer);
            resolve(event.data);
          });
          window.postMessage({ zypTest: 'call', seq, name: callName, args: callArgs }, location.origin);
        }),
      name,
      args,
      CALL_TIMEOUT_MS,
    );
    if (answer.error !== undefined) throw new Error(`the extension's ${name}(${JSON.stringify(args)}) failed: ${answer.error}`);
    return answer.reply;
  }
}

/**
 * Waits until the browser has written the file whole, with no partial file
 * of its own beside it.
 * @param {string} folder
 * @param {string} name
 * @param {Buffer} bytes what the server sent
 */
export function waitForDownload(folder, name, bytes) {
  const file = path.join(folder, name);
  return waitFor(
    () => {
      if (partialFiles(folder).length > 0 || !fs.existsSync(file)) return undefined;
      return fs.readFileSync(file).equals(bytes) ? true : undefined;
    },
    `the browser to download ${name} (${bytes.length} bytes) into ${folder}`,
    { explain: () => `the folder holds: ${fs.readdirSync(folder).join(', ') || 'nothing'}` },
  );
}

/**
 * Files a browser writes while it downloads (Chromium's .crdownload,
 * Firefox's .part).
 * @param {string} folder
 */
function partialFiles(folder) {
  return fs.readdirSync(folder).filter((name) => /\.(crdownload|part)$/.test(name));
}

export { windowsPath };
