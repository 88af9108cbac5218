// The web site the browsers visit: a page that sets cookies and holds links,
// and files served as downloads, on 127.0.0.1 only.
import http from 'node:http';

export const COOKIES = ['session=s3cr3t-42', 'lang=en'];

/**
 * The bytes of a served file: a pattern, so that a cut or mixed file shows.
 * @param {number} size
 */
export function fileBytes(size) {
  return Buffer.from(Array.from({ length: size }, (_, index) => index % 251));
}

/**
 * The page. Its links, in order: two files (the second an image link), links
 * the queue manager cannot fetch, a repeat with a place in the page, two in
 * the part the tests select, one of an image map.
 */
function page() {
  return `<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>ZYP test page</title></head>
<body>
<p id="intro"><a href="/files/first.zip">The first file</a>
<a href="/files/second.iso"><img alt="The second file" src="data:image/gif;base64,R0lGODlhAQABAAAAACw="></a>
<a href="javascript:void(0)">a script</a> <a href="mailto:someone@example.com">a mail</a>
<a href="/files/first.zip#again">the first file again</a></p>
<div id="chosen"><a href="/files/third.zip">The third file</a> and <a href="ftp://127.0.0.1/fourth.zip">the fourth</a></div>
<map name="m"><area shape="rect" coords="0,0,1,1" href="/files/fifth.zip" alt="fifth"></map>
<p id="downloads"></p>
</body></html>`;
}

/**
 * The addresses of the page of many links (/links?count=N&length=L), in its
 * order: N files on the site, each address padded to L characters.
 * @param {string} base
 * @param {number} count
 * @param {number} length
 */
export function manyLinks(base, count, length) {
  return Array.from({ length: count }, (_, index) => {
    const address = `${base}/files/many-${index}.zip?pad=`;
    return address + 'x'.repeat(Math.max(0, length - address.length));
  });
}

/**
 * A page of media: a video with a title, a sound from a <source> without
 * one, a picture with an alternative text, a picture inside a link, and a
 * video that the page makes itself (a blob: address).
 */
function mediaPage() {
  return `<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>ZYP media page</title></head>
<body>
<video id="clip" src="/files/clip.webm?size=2048" title="The clip" preload="none"></video>
<audio id="sound" preload="none"><source src="/files/sound.ogg?size=2048" type="audio/ogg"></audio>
<img id="picture" src="/files/picture.png?size=64" alt="A picture">
<a href="/files/wrapped.zip"><img id="wrapped" src="/files/wrapped.png?size=64" alt="Wrapped"></a>
<video id="made"></video>
<script>document.getElementById('made').src = URL.createObjectURL(new Blob(['x'], { type: 'video/webm' }));</script>
</body></html>`;
}

/**
 * A picture inside a link, large enough to hit: the picture's and the
 * link's addresses come with the request (a thumbnail on one site linking
 * to a file on another).
 * @param {URLSearchParams} query
 */
function linkedPicturePage(query) {
  const attribute = (/** @type {string} */ name) => (query.get(name) ?? '').replace(/[^\w:/.?=&;,+%-]/g, '');
  return `<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>ZYP linked picture</title>
<style>body { margin: 0; } img { display: block; width: 300px; height: 200px; }</style></head>
<body><a href="${attribute('href')}"><img id="thumbnail" src="${attribute('src')}" alt="A thumbnail"></a></body></html>`;
}

/** A picture of one pixel, as a server sends it. */
const PIXEL = Buffer.from('R0lGODlhAQABAIAAAP///wAAACwAAAAAAQABAAACAkQBADs=', 'base64');

/** How long a held download waits for the browser to let go of it. */
const HOLD_MS = 15000;

export class Site {
  /** @type {{ method: string, path: string, cookie: string, body: string }[]} every request that came in */
  requests = [];
  #server = http.createServer((request, response) => this.#serve(request, response));
  /** The held addresses already asked for once. */
  #served = new Set();
  base = '';

  async start() {
    await new Promise((resolve) => this.#server.listen(0, '127.0.0.1', () => resolve(undefined)));
    const address = this.#server.address();
    if (!address || typeof address === 'string') throw new Error('the test site has no port');
    this.base = `http://127.0.0.1:${address.port}`;
  }

  async stop() {
    this.#server.closeAllConnections();
    await new Promise((resolve) => this.#server.close(() => resolve(undefined)));
  }

  /** The address of the media page. */
  get media() {
    return `${this.base}/media`;
  }

  /**
   * The address of a download: /files/<name>?size=<bytes>. A held one is for
   * a download that the extension is to take over: the first request for it
   * gets half the body and the rest only once the browser has let go of it
   * (or after HOLD_MS), so that the browser cannot finish it first however
   * slow the extension is to wake; later requests for it, such as the
   * browser's own download started again, get the body at once. One held
   * for a number of milliseconds is for a download the browser is to keep:
   * a take-over in that time would find it unfinished.
   * @param {string} name
   * @param {number} size
   * @param {boolean | number} [held]
   */
  file(name, size, held = false) {
    return `${this.base}/files/${name}?${new URLSearchParams(this.#fields(size, held))}`;
  }

  /**
   * A form on the page that asks for a download, and its button: a GET form
   * puts its fields into the address, a POST form sends them as its body
   * (the file's size, and whether it is held: see file).
   * @param {'get' | 'post'} method
   * @param {string} name
   * @param {number} size
   * @param {boolean | number} [held]
   */
  form(method, name, size, held = false) {
    return { method, action: `${this.base}/files/${name}`, fields: this.#fields(size, held) };
  }

  /**
   * The fields that ask for a file.
   * @param {number} size
   * @param {boolean | number} held
   * @returns {Record<string, string>}
   */
  #fields(size, held) {
    const holdMs = held === true ? HOLD_MS : Number(held);
    return { size: String(size), ...(holdMs > 0 ? { held: String(holdMs) } : {}) };
  }

  /**
   * @param {http.IncomingMessage} request
   * @param {http.ServerResponse} response
   */
  #serve(request, response) {
    /** @type {Buffer[]} */
    const chunks = [];
    request.on('data', (chunk) => chunks.push(chunk));
    request.on('end', () => this.#answer(request, Buffer.concat(chunks).toString('latin1'), response));
  }

  /**
   * @param {http.IncomingMessage} request
   * @param {string} received the request's body
   * @param {http.ServerResponse} response
   */
  #answer(request, received, response) {
    const url = new URL(request.url ?? '/', this.base);
    const method = request.method ?? 'GET';
    this.requests.push({ method, path: url.pathname + url.search, cookie: request.headers.cookie ?? '', body: received });
    // A form's POST asks for a file with the fields in its body.
    if (method === 'POST') for (const [name, value] of new URLSearchParams(received)) url.searchParams.set(name, value);
    if (url.pathname === '/') {
      response.setHeader('Set-Cookie', COOKIES.map((cookie) => `${cookie}; Path=/`));
      response.setHeader('Content-Type', 'text/html; charset=utf-8');
      response.end(page());
    } else if (url.pathname === '/links') {
      const count = Math.min(Number(url.searchParams.get('count')) || 0, 200000);
      const length = Math.min(Number(url.searchParams.get('length')) || 0, 4096);
      const links = manyLinks(this.base, count, length).map((address) => `<a href="${address}">file</a>`);
      response.setHeader('Content-Type', 'text/html; charset=utf-8');
      response.end(`<!doctype html>\n<html lang="en"><head><meta charset="utf-8"><title>ZYP many links</title></head>
<body>\n${links.join('\n')}\n</body></html>`);
    } else if (url.pathname === '/media') {
      response.setHeader('Content-Type', 'text/html; charset=utf-8');
      response.end(mediaPage());
    } else if (url.pathname === '/linked-picture') {
      response.setHeader('Content-Type', 'text/html; charset=utf-8');
      response.end(linkedPicturePage(url.searchParams));
    } else if (url.pathname === '/pixel.gif') {
      response.setHeader('Content-Type', 'image/gif');
      response.end(PIXEL);
    } else if (url.pathname.startsWith('/files/')) {
      const body = fileBytes(Number(url.searchParams.get('size') ?? 1024));
      response.setHeader('Content-Type', 'application/octet-stream');
      response.setHeader('Content-Disposition', `attachment; filename="${url.pathname.slice('/files/'.length)}"`);
      response.setHeader('Content-Length', body.length);
      const address = `${method} ${url.pathname}${url.search}`;
      const holdMs = Math.min(Number(url.searchParams.get('held') ?? 0) || 0, HOLD_MS);
      if (holdMs <= 0 || this.#served.has(address)) {
        response.end(body);
        return;
      }
      this.#served.add(address);
      const half = Math.floor(body.length / 2);
      response.write(body.subarray(0, half));
      const timer = setTimeout(() => response.end(body.subarray(half)), holdMs);
      response.on('close', () => clearTimeout(timer));
    } else {
      response.statusCode = 404;
      response.end();
    }
  }
}
