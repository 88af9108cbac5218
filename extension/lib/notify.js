// @ts-check
// Telling the user that a hand-over went wrong.
import { api } from './api.js';
import { saveProblem } from './storage.js';

/**
 * Shows a notification and keeps the text for the popup, which shows it too:
 * the system may hide notifications.
 * @param {string} text
 */
export async function reportProblem(text) {
  await saveProblem(text);
  try {
    await api.notifications.create({
      type: 'basic',
      iconUrl: api.runtime.getURL('icons/zyp-96.png'),
      title: 'ZYP',
      message: text,
    });
  } catch {
    // Notifications switched off for the browser: the popup still has it.
  }
}
