// @ts-check
// The toolbar popup: whether the queue manager runs, Start and Stop queue,
// the take-over setting, and the last hand-over that went wrong.
import { loadProblem, loadSettings, saveSettings } from '../lib/storage.js';
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
const takeOver = /** @type {HTMLInputElement} */ (element('takeOver'));
const fileTypes = /** @type {HTMLInputElement} */ (element('fileTypes'));
const minSizeKB = /** @type {HTMLInputElement} */ (element('minSizeKB'));

/** @param {import('../lib/settings.js').Settings} settings */
function showSettings(settings) {
  takeOver.checked = settings.takeOver;
  fileTypes.value = settings.fileTypes.join(' ');
  minSizeKB.value = String(settings.minSizeKB);
}

async function storeSettings() {
  showSettings(
    await saveSettings({
      takeOver: takeOver.checked,
      fileTypes: fileTypes.value.split(/[\s,;]+/),
      minSizeKB: Number(minSizeKB.value),
    }),
  );
}

/** @param {'start' | 'stop'} action */
async function runQueue(action) {
  result.textContent = '…';
  result.textContent = await queue(action);
  manager.textContent = (await managerStatus()).text;
}

element('start').addEventListener('click', () => void runQueue('start'));
element('stop').addEventListener('click', () => void runQueue('stop'));
for (const input of [takeOver, fileTypes, minSizeKB]) input.addEventListener('change', () => void storeSettings());

showSettings(await loadSettings());
const last = await loadProblem();
if (last) problem.textContent = `${new Date(last.at).toLocaleTimeString()}: ${last.text}`;
manager.textContent = (await managerStatus()).text;
manager.dataset.ready = 'true';
