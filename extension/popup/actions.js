// @ts-check
// What the popup's controls do, apart from the page itself.
import { text } from '../lib/i18n.js';
import { sendToHost, hostRegisterCommand } from '../lib/native.js';
import { problemText, readReply, readStatus, statusText } from '../lib/outcomes.js';

/**
 * Asks the host whether the queue manager runs.
 * @returns {Promise<{ text: string, manager: 'running' | 'absent' | 'unknown', registered: boolean }>}
 */
export async function managerStatus() {
  const answer = await sendToHost({ type: 'status' });
  const status = readStatus(answer);
  const reply = readReply(answer);
  return {
    text: statusText(status, reply, hostRegisterCommand()),
    manager: status ? status.manager : 'unknown',
    registered: status !== null || reply.outcome !== 'no-host',
  };
}

/**
 * Starts or stops the queue; says what happened.
 * @param {'start' | 'stop'} action
 */
export async function queue(action) {
  const reply = readReply(await sendToHost({ type: 'queue', action }));
  return problemText(reply, hostRegisterCommand()) ?? text(action === 'start' ? 'queueStarted' : 'queueStopped');
}
