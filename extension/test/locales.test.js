// The check that keeps the languages in step with English.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { describe, it } from 'node:test';
import { LANGUAGES, fillMessage, localeProblems } from '../../scripts/lib/locales.mjs';

/**
 * An extension whose every language has the given messages, then changed.
 * @param {Record<string, object>} english
 * @param {(language: string) => Record<string, object>} [other]
 */
function extensionWith(english, other = () => english) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'zyp-locales-'));
  for (const language of LANGUAGES) {
    fs.mkdirSync(path.join(folder, '_locales', language), { recursive: true });
    const messages = language === 'en' ? english : other(language);
    fs.writeFileSync(path.join(folder, '_locales', language, 'messages.json'), JSON.stringify(messages));
  }
  const names = Object.keys(english).map((name) => `text('${name}');`);
  fs.writeFileSync(path.join(folder, 'code.js'), names.join('\n'));
  return folder;
}

const greeting = {
  message: 'Hello $WHO$ from ZYP',
  placeholders: { who: { content: '$1', example: 'you' } },
};

describe('fillMessage', () => {
  it('puts values where the placeholders stand, in any order, and writes $$ as $', () => {
    const german = { message: '$B$ und $a$ für $$5', placeholders: { a: { content: '$1' }, b: { content: '$2' } } };
    assert.equal(fillMessage(german, ['eins', 'zwei']), 'zwei und eins für $5');
    assert.equal(fillMessage(greeting, ['Ann']), 'Hello Ann from ZYP');
  });
});

describe('localeProblems', () => {
  it('finds nothing wrong when every language has the same messages', () => {
    const folder = extensionWith({ greeting });
    assert.deepEqual(localeProblems(folder), []);
    fs.rmSync(folder, { recursive: true });
  });

  /** @type {[string, (language: string) => any, RegExp][]} */
  const faults = [
    ['a message missing', (language) => (language === 'de' ? {} : { greeting }), /^de: lacks greeting$/],
    ['a message English lacks', (language) => ({ greeting, ...(language === 'fr' ? { extra: { message: 'x' } } : {}) }), /^fr: extra: not an English message$/],
    ['a placeholder left out', (language) => ({ greeting: language === 'ja' ? { ...greeting, message: 'ZYP から' } : greeting }), /^ja: greeting: placeholders none, English has who=\$1$/],
    ['a placeholder on the wrong value', (language) => ({ greeting: language === 'ru' ? { ...greeting, placeholders: { who: { content: '$2' } } } : greeting }), /^ru: greeting: placeholders who=\$2/],
    ['a dollar sign that is no placeholder', (language) => ({ greeting: language === 'it' ? { ...greeting, message: 'Ciao $WHO$ da ZYP, 5 $' } : greeting }), /^it: greeting: a "\$" that is no placeholder/],
    ['the product name translated', (language) => ({ greeting: language === 'es' ? { ...greeting, message: 'Hola $WHO$' } : greeting }), /^es: greeting: names nothing, English ZYP$/],
  ];
  for (const [what, other, expected] of faults)
    it(`finds ${what}`, () => {
      const folder = extensionWith({ greeting }, other);
      const problems = localeProblems(folder);
      fs.rmSync(folder, { recursive: true });
      assert.ok(problems.some((problem) => expected.test(problem)), problems.join('\n'));
    });

  it('finds a menu item too long for the menu and a message no code uses', () => {
    const english = { greeting, menuItem: { message: 'Download with ZYP' } };
    const folder = extensionWith(english, () => ({ greeting, menuItem: { message: `${'Herunterladen '.repeat(4)}mit ZYP` } }));
    fs.writeFileSync(path.join(folder, 'code.js'), "text('greeting');");
    const problems = localeProblems(folder);
    fs.rmSync(folder, { recursive: true });
    assert.ok(problems.some((problem) => /^de: menuItem: \d+ characters, more than the 40/.test(problem)), problems.join('\n'));
    assert.ok(problems.includes('en: menuItem is used nowhere'), problems.join('\n'));
  });
});
