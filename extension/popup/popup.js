// @ts-check
// The toolbar popup: whether the queue manager runs, Start and Stop queue,
// access to the current tab's site, the take-over setting with the sites
// never taken over, and the last word about a hand-over.
import { askForAccess, mayAccess } from '../lib/access.js';
import { api } from '../lib/api.js';
import { text } from '../lib/i18n.js';
import { siteAccessPattern } from '../lib/requests.js';
import { hostOf, parseFileTypes, parseSites, siteCovers } from '../lib/settings.js';
import { loadProblem, loadSettings, neverTakeOverFrom, saveSettings, takeOverAgainFrom } from '../lib/storage.js';
import { switchShortcut } from '../lib/switch.js';
import { managerStatus, queue } from './actions.js';

/**
 * @param {string} id
 * @returns {HTMLElement}
 */
function element(id) {
  const found = document.getElementById(id);
  if (!found) throw new Error(`popup.html has no #${id}`);
  return found;
}

const manager = element('manager');
const result = element('result');
const problem = element('problem');
const access = element('access');
const takeOver = /** @type {HTMLInputElement} */ (element('takeOver'));
const fileTypes = /** @type {HTMLInputElement} */ (element('fileTypes'));
const fileTypesRefused = element('fileTypesRefused');
const minSizeKB = /** @type {HTMLInputElement} */ (element('minSizeKB'));
const neverSites = /** @type {HTMLTextAreaElement} */ (element('neverSites'));
const neverSitesRefused = element('neverSitesRefused');
const neverHere = element('neverHere');

document.documentElement.lang = api.i18n.getUILanguage();
for (const labelled of Array.from(document.querySelectorAll('[data-i18n]')))
  labelled.textContent = text(/** @type {HTMLElement} */ (labelled).dataset.i18n ?? '');

// The page the popup was opened over; the browser tells its address while
// the popup is open (activeTab) or when the extension has the site.
const [tab] = await api.tabs.query({ active: true, currentWindow: true });
const page = tab?.url ?? '';
const host = siteAccessPattern(page) ? hostOf(page) : '';

/** @param {import('../lib/settings.js').Settings} settings */
function showSettings(settings) {
  takeOver.checked = settings.takeOver;
  fileTypes.value = settings.fileTypes.join(' ');
  minSizeKB.value = String(settings.minSizeKB);
  neverSites.value = settings.neverSites.join('\n');
  neverHere.hidden = host === '';
  const never = settings.neverSites.some((site) => siteCovers(site, host));
  neverHere.textContent = never ? text('popupTakeOverAgainFrom', host) : text('popupNeverTakeOverFrom', host);
  neverHere.dataset.never = String(never);
}

/**
 * Keeps what a list field holds; an entry that cannot be one is shown and
 * left out, and a field of such entries alone changes nothing (an empty
 * file-type list would take every type).
 * @param {{ entries: string[], refused: string[] }} parsed
 * @param {HTMLElement} refusedLine
 * @param {string} refusedMessage
 * @param {'fileTypes' | 'neverSites'} setting
 */
async function storeList(parsed, refusedLine, refusedMessage, setting) {
  refusedLine.textContent = parsed.refused.length > 0 ? text(refusedMessage, parsed.refused.join(' ')) : '';
  if (parsed.entries.length === 0 && parsed.refused.length > 0) return;
  showSettings(await saveSettings({ [setting]: parsed.entries }));
}

async function storeSettings() {
  showSettings(await saveSettings({ takeOver: takeOver.checked, minSizeKB: Number(minSizeKB.value) }));
}

/** @param {'start' | 'stop'} action */
async function runQueue(action) {
  result.textContent = '…';
  result.textContent = await queue(action);
  manager.textContent = (await managerStatus()).text;
}

async function showAccess() {
  access.hidden = host === '' || (await mayAccess(page));
  element('accessText').textContent = text('popupNoSiteAccess', host);
}

element('start').addEventListener('click', () => void runQueue('start'));
element('stop').addEventListener('click', () => void runQueue('stop'));
// Asked at once: the browser lets the extension ask only during the click.
element('allow').addEventListener('click', () => void askForAccess(page).granted.then(showAccess));
for (const input of [takeOver, minSizeKB]) input.addEventListener('change', () => void storeSettings());
fileTypes.addEventListener('change', () =>
  void storeList(parseFileTypes(fileTypes.value), fileTypesRefused, 'popupNotFileTypes', 'fileTypes'),
);
neverSites.addEventListener('change', () =>
  void storeList(parseSites(neverSites.value), neverSitesRefused, 'popupNotSites', 'neverSites'),
);
neverHere.addEventListener('click', () =>
  void (neverHere.dataset.never === 'true' ? takeOverAgainFrom(host) : neverTakeOverFrom(host)).then(showSettings),
);

showSettings(await loadSettings());
const shortcut = await switchShortcut();
element('shortcut').textContent = shortcut ? text('popupShortcut', shortcut) : text('popupNoShortcut');
await showAccess();
const last = await loadProblem();
if (last) problem.textContent = `${new Date(last.at).toLocaleTimeString()}: ${last.text}`;
manager.textContent = (await managerStatus()).text;
manager.dataset.ready = 'true';
