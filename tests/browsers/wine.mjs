// The Windows side under Wine: the build's prefix and programs, the stand-in
// queue manager and its journal, the registry key and the cookie folder the
// program writes, and what is left running afterwards.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { fileURLToPath } from 'node:url';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
/**
 * The folder whose wineprefix the programs run in: the build tree under test,
 * or a folder of these tests' own (ZYP_BUILD_DIR).
 */
export const build = path.resolve(process.env.ZYP_BUILD_DIR ?? path.join(root, 'build', 'windows'));
/** The programs under test: ZYP_BIN_DIR, else the bin folder beside the prefix. */
export const bin = path.resolve(process.env.ZYP_BIN_DIR ?? path.join(build, 'bin'));
export const prefix = path.join(build, 'wineprefix');
export const SETTINGS_KEY = 'HKCU\\Software\\Tarvesk Software\\Pelloran';
const COMPANY_KEY = 'HKCU\\Software\\Tarvesk Software';
/** Where the program keeps cookie files: %TEMP%\ZYP\cookies of the prefix's user. */
export const cookieFolder = path.join(prefix, 'drive_c', 'users', os.userInfo().username, 'Temp', 'ZYP', 'cookies');

/**
 * The Windows name of a file on this machine (Wine's Z: is /).
 * @param {string} file
 */
export function windowsPath(file) {
  return `Z:${file.replaceAll('/', '\\')}`;
}

/**
 * Runs a shell command with the project's Wine set-up for the build
 * (cmake/wine-env.sh: the loader in ZYP_WINE64, the prefix, quiet Wine).
 * @param {string} script what runs after the set-up; its arguments are "$@"
 * @param {string[]} args
 * @param {{ env?: NodeJS.ProcessEnv, output?: string }} [options] output: a
 *   file for what it prints (a wineserver it starts would hold a pipe open)
 */
export function wineShell(script, args, { env = process.env, output } = {}) {
  const out = output ? fs.openSync(output, 'w') : 'ignore';
  const child = spawn(
    'bash',
    ['-c', `. "$1/cmake/wine-env.sh" && zyp_wine_env "$2" && shift 2 && ${script}`, 'wine-shell', root, build, ...args],
    { env, stdio: ['ignore', out, out] },
  );
  if (typeof out === 'number') fs.closeSync(out);
  return child;
}

/**
 * Waits for a child's end; its exit code (a signal counts as -1).
 * @param {import('node:child_process').ChildProcess} child
 */
export function ended(child) {
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve(child.exitCode ?? -1);
  return new Promise((resolve) => child.once('exit', (code) => resolve(code ?? -1)));
}

/**
 * Runs a Windows program from the prefix's system folder (reg.exe,
 * taskkill.exe) and returns its exit code and output.
 * @param {string[]} commandLine
 */
export async function runSystemProgram(commandLine) {
  const output = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'zyp-wine-')), 'output');
  try {
    const code = await ended(wineShell('"$ZYP_WINE64" "$@" </dev/null', commandLine, { output }));
    return { code, output: fs.readFileSync(output, 'utf8') };
  } finally {
    fs.rmSync(path.dirname(output), { recursive: true, force: true });
  }
}

/** The prefix made and a wineserver running, before any browser starts a program in it. */
export async function prepareWine() {
  const output = path.join(os.tmpdir(), `zyp-wine-prepare-${process.pid}.log`);
  try {
    const code = await ended(wineShell('zyp_wine_prefix && zyp_wine_server', [], { output }));
    if (code !== 0) throw new Error(`making the Wine prefix ${prefix} failed (${code}): ${fs.readFileSync(output, 'utf8')}`);
  } finally {
    fs.rmSync(output, { force: true });
  }
}

/**
 * Waits until check() gives a value other than undefined, or fails saying
 * what it waited for, and why it may not have come.
 * @template T
 * @param {() => T | undefined | Promise<T | undefined>} check
 * @param {string} what
 * @param {{ timeout?: number, explain?: () => string }} [options]
 * @returns {Promise<T>}
 */
export async function waitFor(check, what, { timeout = 20000, explain = () => '' } = {}) {
  const end = Date.now() + timeout;
  for (;;) {
    const value = await check();
    if (value !== undefined) return value;
    if (Date.now() > end) throw new Error(`waited ${timeout / 1000} s for ${what}; ${explain()}`);
    await sleep(100);
  }
}

/** The companions' journal: one JSON object a line. */
export class Journal {
  /** @param {string} file */
  constructor(file) {
    this.file = file;
    fs.writeFileSync(file, '');
  }

  /** @returns {Record<string, any>[]} every complete line so far */
  entries() {
    const text = fs.readFileSync(this.file, 'utf8');
    return text
      .split('\n')
      .slice(0, -1)
      .map((line) => JSON.parse(line));
  }

  /** The last lines, for failure messages. */
  tail() {
    const lines = fs.readFileSync(this.file, 'utf8').trimEnd().split('\n');
    return `the journal's last lines:\n${lines.slice(-12).join('\n')}`;
  }

  /**
   * The first entry from position `from` on that passes the filter.
   * @param {(entry: Record<string, any>) => boolean} filter
   * @param {string} what
   * @param {number} [from]
   */
  waitFor(filter, what, from = 0) {
    return waitFor(() => this.entries().slice(from).find(filter), what, { explain: () => this.tail() });
  }
}

/** The stand-in queue manager, started with the journal and the given knobs. */
export class StandInManager {
  /** @type {import('node:child_process').ChildProcess | null} */
  #process = null;
  /** Its Windows process id, from its "ready" entry. */
  #pid = 0;

  /** @param {Journal} journal */
  constructor(journal) {
    this.journal = journal;
  }

  /** @param {Record<string, string>} [knobs] ZYP_QM_... */
  async start(knobs = {}) {
    const from = this.journal.entries().length;
    const env = { ...process.env, ZYP_JOURNAL: windowsPath(this.journal.file), ZYP_QM_IDLE_MS: '600000', ...knobs };
    this.#process = wineShell('exec "$ZYP_WINE64" "$1" </dev/null', [path.join(bin, 'ZYPQueueManager.exe')], { env });
    const ready = await this.journal.waitFor(
      (entry) => entry.event === 'ready' && entry.process === 'ZYPQueueManager',
      'the stand-in queue manager to be ready',
      from,
    );
    this.#pid = ready.pid;
  }

  /** Closes its window (taskkill without /f) and waits for its end. */
  async stop() {
    const child = this.#process;
    if (!child) return;
    this.#process = null;
    await runSystemProgram(['taskkill.exe', '/pid', String(this.#pid)]);
    const code = await Promise.race([ended(child), sleep(10000).then(() => 'still running')]);
    if (code === 'still running') {
      child.kill('SIGKILL');
      throw new Error(`the stand-in queue manager did not close within 10 s; ${this.journal.tail()}`);
    }
  }
}

/** Creates the settings key, which the program never creates (it only writes values into it). */
export async function createSettingsKey() {
  const { code, output } = await runSystemProgram(['reg.exe', 'add', SETTINGS_KEY, '/f']);
  if (code !== 0) throw new Error(`reg add ${SETTINGS_KEY} failed (${code}): ${output}`);
}

/**
 * A string value under the settings key, or null.
 * @param {string} name
 */
export async function readSetting(name) {
  const { code, output } = await runSystemProgram(['reg.exe', 'query', SETTINGS_KEY, '/v', name]);
  if (code !== 0) return null;
  const line = output.split(/\r?\n/).find((text) => text.trimStart().startsWith(`${name} `));
  const match = line ? /\sREG_(?:EXPAND_)?SZ\s+(.*)$/.exec(line) : null;
  return match ? match[1] : null;
}

/** Takes the company key away with everything the program wrote into it. */
export async function deleteSettingsKey() {
  await runSystemProgram(['reg.exe', 'delete', COMPANY_KEY, '/f']);
}

/**
 * Removes a cookie file, and the folders the program made for it once empty.
 * @param {string} name
 */
export function removeCookieFile(name) {
  fs.rmSync(path.join(cookieFolder, name), { force: true });
  for (const folder of [cookieFolder, path.dirname(cookieFolder)]) {
    try {
      fs.rmdirSync(folder);
    } catch {
      return; // not empty (someone else's files) or gone already
    }
  }
}

/**
 * The programs of this test still running in the prefix: the host, the
 * program and the companions. When the prefix is the build tree's, other
 * tests may share it (those without the e2e lock run beside this one, with
 * programs of their own); these four run only under the lock. Their process
 * ids and command lines.
 */
export function programsRunning() {
  const ours = /[\\/](ZYPBrowserHost|ZYPQueueAddURL|ZYPQueueManager|ZYPLinkExplorer)\.exe\b/i;
  /** @type {{ pid: number, commandLine: string }[]} */
  const found = [];
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    let environment;
    let commandLine;
    try {
      environment = fs.readFileSync(`/proc/${entry}/environ`, 'utf8').split('\0');
      commandLine = fs.readFileSync(`/proc/${entry}/cmdline`, 'utf8').replaceAll('\0', ' ').trim();
    } catch {
      continue; // ended meanwhile, or not ours to read
    }
    if (environment.includes(`WINEPREFIX=${prefix}`) && ours.test(commandLine)) found.push({ pid: Number(entry), commandLine });
  }
  return found;
}
