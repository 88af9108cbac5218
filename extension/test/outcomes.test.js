// What the host's replies mean for the user.
import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import './english.js';
import {
  noticeText,
  problemText,
  readReply,
  readStatus,
  registerCommand,
  statusText,
  tookIt,
} from '../lib/outcomes.js';

describe('readReply', () => {
  it('takes the outcome and message the host sent', () => {
    assert.deepEqual(readReply({ id: 3, outcome: 'handed-over', exitCode: 3, message: 'in the pipe' }), {
      outcome: 'handed-over',
      message: 'in the pipe',
    });
  });

  it('counts anything else as a failure', () => {
    for (const answer of [undefined, null, 'delivered', [], { outcome: 'perfect' }, { message: 'no outcome' }])
      assert.equal(readReply(answer).outcome, 'failed', JSON.stringify(answer));
  });

  it('takes the count of cookies the host left out, when it is one', () => {
    assert.equal(readReply({ outcome: 'delivered', message: '', cookiesLeftOut: 2 }).cookiesLeftOut, 2);
    for (const count of [0, -1, 1.5, '2', 2 ** 60, null])
      assert.equal('cookiesLeftOut' in readReply({ outcome: 'delivered', message: '', cookiesLeftOut: count }), false);
  });

  it('keeps a host message short enough for a notification', () => {
    assert.equal(readReply({ outcome: 'failed', message: 'x'.repeat(5000) }).message.length, 400);
  });
});

describe('tookIt', () => {
  it('holds for delivered and handed over only: a fall-back then would fetch it twice', () => {
    const outcomes = /** @type {const} */ (['delivered', 'handed-over', 'not-delivered', 'failed', 'refused', 'no-host']);
    const took = outcomes.filter((outcome) =>
      tookIt({ outcome, message: '' }),
    );
    assert.deepEqual(took, ['delivered', 'handed-over']);
  });
});

describe('problemText', () => {
  const command = 'ZYPBrowserHost.exe --register';

  it('says nothing when the queue manager took it', () => {
    assert.equal(problemText({ outcome: 'delivered', message: 'ok' }, command), null);
    assert.equal(problemText({ outcome: 'handed-over', message: 'ok' }, command), null);
  });

  it("passes the host's message on", () => {
    for (const outcome of /** @type {const} */ (['not-delivered', 'failed', 'refused']))
      assert.match(problemText({ outcome, message: 'no queue manager is running' }, command) ?? '', /no queue manager is running/);
  });

  it('tells how to register a host that is missing', () => {
    assert.match(problemText({ outcome: 'no-host', message: 'not found' }, command) ?? '', /not registered.*"ZYPBrowserHost\.exe --register"/);
  });
});

describe('noticeText', () => {
  const address = 'https://example.com/a.zip';

  it('says that a hand-over is in the pipe but unconfirmed, with the address', () => {
    assert.match(noticeText({ outcome: 'handed-over', message: '' }, address) ?? '', /in its pipe but has not confirmed it yet/);
    assert.match(noticeText({ outcome: 'handed-over', message: '' }, address) ?? '', /https:\/\/example\.com\/a\.zip/);
  });

  it('says how many cookies went missing from a hand-over that went through', () => {
    const said = noticeText({ outcome: 'delivered', message: '', cookiesLeftOut: 3 }, address) ?? '';
    assert.match(said, /without 3 of its cookies/);
    assert.equal(noticeText({ outcome: 'refused', message: '', cookiesLeftOut: 3 }, address), null);
  });

  it('says nothing of a plain delivery', () => {
    assert.equal(noticeText({ outcome: 'delivered', message: 'ok' }, address), null);
  });
});

describe('registerCommand', () => {
  it('needs no id for the ids registered by default, names any other', () => {
    assert.equal(registerCommand('CH', 'bbfoidedccldpkpienckfkdpmffjbkbm'), 'ZYPBrowserHost.exe --register');
    assert.equal(registerCommand('FF', 'zyp-extension@tarvesk.com'), 'ZYPBrowserHost.exe --register');
    assert.equal(
      registerCommand('CH', 'abcdefghijklmnopabcdefghijklmnop'),
      'ZYPBrowserHost.exe --register --chromium-extension-id abcdefghijklmnopabcdefghijklmnop',
    );
    assert.equal(registerCommand('FF', 'other@example.com'), 'ZYPBrowserHost.exe --register --firefox-extension-id other@example.com');
  });
});

describe('status', () => {
  const command = 'ZYPBrowserHost.exe --register';

  it('reads the manager state and says it', () => {
    const running = readStatus({ manager: 'running', version: '1.0.0' });
    assert.deepEqual(running, { manager: 'running', version: '1.0.0' });
    assert.match(statusText(running, readReply(running), command), /is running/);
    const absent = readStatus({ manager: 'absent', version: '1.0.0' });
    assert.match(statusText(absent, readReply(absent), command), /not running.*Press "Start queue" to start it/);
  });

  it('says when the host is missing, and what the browser said otherwise', () => {
    const missing = { outcome: 'no-host', message: 'Specified native messaging host not found.' };
    assert.equal(readStatus(missing), null);
    assert.match(statusText(null, readReply(missing), command), /not registered/);
    assert.match(statusText(null, readReply({ outcome: 'failed', message: 'Native host has exited.' }), command), /Native host has exited/);
  });
});
