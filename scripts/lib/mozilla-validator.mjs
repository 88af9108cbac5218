#!/usr/bin/env node
// Mozilla's own validator (addons-linter, pinned in package-lock.json) on
// the extension as addons.mozilla.org receives it: Firefox's store copy.
// Prints every error and warning; exit code 1 when there is an error.
//   mozilla-validator.mjs
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import linter from 'addons-linter';
import { writeFamily } from './extension-family.mjs';

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'zyp-amo-'));
try {
  const folder = path.join(scratch, 'extension');
  writeFamily('firefox', folder, { store: true });
  const results = await linter
    .createInstance({
      config: {
        _: [folder],
        logLevel: 'fatal',
        stack: false,
        pretty: false,
        warningsAsErrors: false,
        metadata: false,
        output: 'none',
        boring: true,
        selfHosted: false,
      },
      runAsBinary: false,
    })
    .run();
  const said = (/** @type {string} */ kind, /** @type {import('addons-linter').Problem} */ problem) =>
    console.log(`${kind}: ${problem.code}: ${problem.message}${problem.file ? ` (${problem.file})` : ''}`);
  for (const error of results.errors) said('error', error);
  for (const warning of results.warnings) said('warning', warning);
  console.log(`addons-linter: ${results.errors.length} errors, ${results.warnings.length} warnings, ${results.notices.length} notices`);
  process.exitCode = results.errors.length > 0 ? 1 : 0;
} finally {
  fs.rmSync(scratch, { recursive: true, force: true });
}
