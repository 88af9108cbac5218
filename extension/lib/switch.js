// @ts-check
// Switching taking over on and off from the keyboard, and the toolbar button
// that shows whether it is on. The stored setting is the only truth: the
// shortcut changes it as the popup does, and the button follows every change
// of it, whoever made it.
import { api } from './api.js';
import { text } from './i18n.js';
import { SETTINGS, loadSettings, saveSettings } from './storage.js';

/** The manifest's command; the person may give it another key. */
export const SWITCH_COMMAND = 'switch-take-over';
const BADGE_COLOUR = '#1a7f37';

/**
 * Listens for the shortcut and for changes of the setting, and shows the
 * setting on the button now. The browser keeps a button's badge while it
 * runs but not across its own restart, and starts the background when it
 * starts only for a listener of that; a background started again for any
 * other event, or after the extension was switched off and on, shows it
 * too.
 */
export function listenForSwitch() {
  api.commands.onCommand.addListener((command) => {
    if (command === SWITCH_COMMAND) void switchTakeOver();
  });
  api.storage.onChanged.addListener((changes, area) => {
    if (area === 'local' && SETTINGS in changes) void showTakeOver();
  });
  api.runtime.onStartup.addListener(() => void showTakeOver());
  void showTakeOver();
}

/** The switch in progress: a key pressed twice in a row switches twice. */
let switching = Promise.resolve();

/** Turns taking over on when it is off, and off when it is on. */
export function switchTakeOver() {
  const switched = switching.then(async () => {
    const { takeOver } = await loadSettings();
    await saveSettings({ takeOver: !takeOver });
  });
  switching = switched.catch(() => undefined);
  return switched;
}

/** Puts the setting on the button: a badge and a title while taking over. */
export async function showTakeOver() {
  const { takeOver } = await loadSettings();
  await Promise.all([
    api.action.setBadgeText({ text: takeOver ? text('badgeTakingOver') : '' }),
    api.action.setBadgeBackgroundColor({ color: BADGE_COLOUR }),
    api.action.setTitle({ title: text(takeOver ? 'actionTitleTakingOver' : 'actionTitle') }),
  ]);
}

/**
 * The key that switches it, as the browser shows it ("Alt+Shift+Z"), or ""
 * when the person has taken it away or the browser gave it to something else.
 */
export async function switchShortcut() {
  const commands = await api.commands.getAll();
  return commands.find((command) => command.name === SWITCH_COMMAND)?.shortcut ?? '';
}
