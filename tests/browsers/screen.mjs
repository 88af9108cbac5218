// An X display of the test's own (Xvfb, no window manager) for a headful
// browser, and a person's keys and pointer on it (xdotool): the browser's
// own dialogs, menus and shortcuts answer only to those.
import { execFile, spawn } from 'node:child_process';
import { promisify } from 'node:util';
import { ended } from './wine.mjs';

const run = promisify(execFile);
/** Big enough for a browser window of the default size and its dialogs. */
const SIZE = '1280x800x24';

export class Screen {
  /** @type {import('node:child_process').ChildProcess | null} */
  #server = null;
  display = '';

  /** Starts the X server on a free display, which it tells once it takes clients. */
  async start() {
    const server = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', SIZE, '-nolisten', 'tcp'], {
      stdio: ['ignore', 'ignore', 'pipe', 'pipe'],
    });
    this.#server = server;
    let said = '';
    server.stderr?.on('data', (chunk) => (said += chunk));
    const number = await new Promise((resolve, reject) => {
      server.stdio[3]?.on('data', (chunk) => resolve(String(chunk).trim()));
      server.once('exit', (code) => reject(new Error(`Xvfb ended (exit code ${code}): ${said}`)));
    });
    this.display = `:${number}`;
  }

  async stop() {
    const server = this.#server;
    this.#server = null;
    if (!server) return;
    server.kill();
    await ended(server);
  }

  /**
   * Runs xdotool on the display.
   * @param {...string} args
   */
  async xdotool(...args) {
    const { stdout } = await run('xdotool', args, { env: { ...process.env, DISPLAY: this.display } });
    return stdout.trim();
  }

  /**
   * Gives the keyboard to the browser's window: with no window manager,
   * nothing else does.
   * @param {string} title a part of the window's title (the page's)
   */
  async focus(title) {
    const [window] = (await this.xdotool('search', '--onlyvisible', '--name', title)).split('\n');
    if (!window) throw new Error(`no window titled "${title}" on ${this.display}`);
    await this.xdotool('windowfocus', '--sync', window);
  }

  /**
   * Presses keys one after the other, as xdotool names them ("alt+shift+d").
   * @param {...string} keys
   */
  async keys(...keys) {
    await this.xdotool('key', '--delay', '100', ...keys);
  }

  /**
   * Right-clicks at a point of the screen.
   * @param {{ x: number, y: number }} point
   */
  async rightClick({ x, y }) {
    await this.xdotool('mousemove', '--sync', String(Math.round(x)), String(Math.round(y)), 'click', '3');
  }

  /**
   * Clicks at a point of the screen.
   * @param {{ x: number, y: number }} point
   */
  async click({ x, y }) {
    await this.xdotool('mousemove', '--sync', String(Math.round(x)), String(Math.round(y)), 'click', '1');
  }

  /**
   * What the screen shows now: the colour of each point, as [red, green, blue].
   * @returns {Promise<(point: { x: number, y: number }) => [number, number, number]>}
   */
  async picture() {
    const { stdout } = await run('xwd', ['-root', '-silent', '-display', this.display], {
      encoding: 'buffer',
      maxBuffer: 64 * 1024 * 1024,
    });
    return ({ x, y }) => pixelOf(stdout, Math.round(x), Math.round(y));
  }

  /**
   * The colour of a point of the screen: what a person sees there.
   * @param {{ x: number, y: number }} point
   */
  async colourAt(point) {
    return (await this.picture())(point);
  }
}

/**
 * A pixel of an X window dump in true colour, 32 bits a pixel (what Xvfb
 * gives at depth 24).
 * @param {Buffer} dump
 * @param {number} x
 * @param {number} y
 * @returns {[number, number, number]}
 */
function pixelOf(dump, x, y) {
  const field = (/** @type {number} */ index) => dump.readUInt32BE(index * 4);
  const [headerSize, width, height, byteOrder, bitsPerPixel, bytesPerLine] = [0, 4, 5, 7, 11, 12].map(field);
  const masks = [14, 15, 16].map(field);
  if (x < 0 || y < 0 || x >= width || y >= height) throw new Error(`${x},${y} is off the ${width}x${height} screen`);
  if (bitsPerPixel !== 32) throw new Error(`a screen of ${bitsPerPixel} bits a pixel`);
  const at = headerSize + field(19) * 12 + y * bytesPerLine + x * 4;
  const value = byteOrder === 0 ? dump.readUInt32LE(at) : dump.readUInt32BE(at);
  const channel = (/** @type {number} */ mask) => (value & mask) >>> Math.log2(mask & -mask);
  return [channel(masks[0]), channel(masks[1]), channel(masks[2])];
}
