// What a response's headers tell of the file a browser would save.
import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { savedFile } from '../lib/responses.js';

const URL_ = 'https://files.example.org/get/report%20final.zip?id=4';

/**
 * Headers as webRequest gives them.
 * @param {Record<string, string>} fields
 */
const headers = (fields) => Object.entries(fields).map(([name, value]) => ({ name, value }));

describe('savedFile', () => {
  /** @type {[string, number, Record<string, string>, { name: string, length: number } | null][]} */
  const cases = [
    [
      'an attachment with a name and a length',
      200,
      { 'Content-Type': 'application/octet-stream', 'Content-Disposition': 'attachment; filename="q3.zip"', 'Content-Length': '262144' },
      { name: 'q3.zip', length: 262144 },
    ],
    ['an attachment of a type the browser shows', 200, { 'content-type': 'text/html', 'content-disposition': 'Attachment' }, { name: 'report final.zip', length: -1 }],
    ['a type the browser does not show, named by the address', 200, { 'Content-Type': 'application/zip', 'Content-Length': '10' }, { name: 'report final.zip', length: 10 }],
    ['an inline disposition of a type not shown', 200, { 'Content-Type': 'application/x-iso9660-image', 'Content-Disposition': 'inline; filename=disk.iso' }, { name: 'disk.iso', length: -1 }],
    [
      'the extended name first, whatever the order',
      200,
      { 'Content-Type': 'application/zip', 'Content-Disposition': "attachment; filename*=UTF-8''%C3%BCbersicht.zip; filename=\"fallback.zip\"" },
      { name: 'übersicht.zip', length: -1 },
    ],
    [
      'a quoted name with an escaped quote and a semicolon',
      200,
      { 'Content-Disposition': 'attachment; filename="a \\"b\\"; c.zip"' },
      { name: 'a "b"; c.zip', length: -1 },
    ],
    ['a name with folders: only its last part', 200, { 'Content-Disposition': 'attachment; filename="../../etc/x.zip"' }, { name: 'x.zip', length: -1 }],
    ['an extended name in a charset it cannot read: the plain one', 200, { 'Content-Disposition': "attachment; filename*=iso-8859-1'en'%E4.zip; filename=a.zip" }, { name: 'a.zip', length: -1 }],
    ['a length that is not a number', 200, { 'Content-Type': 'application/zip', 'Content-Length': '12, 12' }, { name: 'report final.zip', length: -1 }],
    ['a page', 200, { 'Content-Type': 'text/html; charset=utf-8' }, null],
    ['a video the browser plays', 200, { 'Content-Type': 'video/mp4', 'Content-Length': '99999' }, null],
    ['a document the browser shows', 200, { 'Content-Type': 'application/pdf' }, null],
    ['a picture of a suffixed type', 200, { 'Content-Type': 'image/svg+xml' }, null],
    ['data of a suffixed type', 200, { 'Content-Type': 'application/ld+json' }, null],
    ['no type and no disposition', 200, { 'Content-Length': '5' }, null],
    ['a redirect', 302, { 'Content-Disposition': 'attachment', Location: '/x.zip' }, null],
    ['an error page', 404, { 'Content-Type': 'application/zip' }, null],
    ['no content', 204, { 'Content-Type': 'application/zip' }, null],
  ];
  for (const [name, status, fields, expected] of cases) {
    it(`reads ${name}`, () => assert.deepEqual(savedFile(URL_, status, headers(fields)), expected));
  }

  it('reads no headers as not saved', () => {
    assert.equal(savedFile(URL_, 200, undefined), null);
  });
});
