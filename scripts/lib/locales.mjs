#!/usr/bin/env node
// The extension's messages in each language (extension/_locales), filled in
// as the browsers fill them, and the check that every language has exactly
// the English messages with the same placeholders, keeps the product's
// names and fits where the browsers show them.
//   locales.mjs [extension folder]   prints what is wrong; exit code 1 then
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { SOURCE } from './extension-family.mjs';

/** The languages the extension speaks; English is the default. */
export const LANGUAGES = ['en', 'de', 'fr', 'es', 'it', 'pt_BR', 'ru', 'zh_CN', 'ja'];

/**
 * @typedef {{ content: string, example?: string }} Placeholder
 * @typedef {{ message: string, description?: string, placeholders?: Record<string, Placeholder> }} Message
 * @typedef {Record<string, Message>} Messages
 */

/** Where the browsers show a message, and how long it may be there. */
const LIMITS = [
  [/^extensionName$/, 45],
  [/^extensionDescription$/, 132],
  [/^actionTitle$/, 40],
  [/^badge/, 4],
  [/^menu/, 40],
  [/^popup(StartQueue|StopQueue|AllowSite|TakeOver|FileTypes|LeastSize)$/, 32],
];
/** The product's own names, which no language translates. */
const PRODUCT_NAMES = /ZYP[A-Za-z]*(?:\.exe)?/g;
/** A message's placeholders ($NAME$), substitutions ($1) and dollar signs ($$). */
const TOKENS = /\$([A-Za-z0-9_@]+)\$|\$([1-9])|\$\$|\$/g;

/**
 * @param {string} extension the extension's folder
 * @param {string} language
 * @returns {Messages}
 */
export function readMessages(extension, language) {
  return JSON.parse(fs.readFileSync(path.join(extension, '_locales', language, 'messages.json'), 'utf8'));
}

/**
 * A message's placeholders by name in lower case (the browsers take a
 * placeholder's name in any case), each with its content.
 * @param {Message} entry
 */
function placeholdersOf(entry) {
  return new Map(Object.entries(entry.placeholders ?? {}).map(([name, placeholder]) => [name.toLowerCase(), placeholder.content]));
}

/**
 * The message with its values in place, as the browsers' i18n.getMessage
 * gives it: a placeholder stands for its content, in which $1 to $9 are the
 * values; $$ is a dollar sign.
 * @param {Message} entry
 * @param {string[]} values
 */
export function fillMessage(entry, values) {
  const placeholders = placeholdersOf(entry);
  const substitute = (/** @type {string} */ text) =>
    text.replace(/\$([1-9])|\$\$/g, (token, index) => (index ? (values[Number(index) - 1] ?? '') : '$'));
  return entry.message.replace(TOKENS, (token, name, index) => {
    if (name !== undefined) return substitute(placeholders.get(name.toLowerCase()) ?? '');
    if (index !== undefined) return values[Number(index) - 1] ?? '';
    return '$';
  });
}

/**
 * What a message refers to: its placeholders by name with their content,
 * its bare substitutions, and any dollar sign that is neither.
 * @param {Message} entry
 */
function references(entry) {
  const placeholders = placeholdersOf(entry);
  /** @type {string[]} */
  const used = [];
  let strayDollar = false;
  for (const [token, name, index] of entry.message.matchAll(TOKENS)) {
    if (name !== undefined) used.push(`${name.toLowerCase()}=${placeholders.get(name.toLowerCase()) ?? '(not defined)'}`);
    else if (index !== undefined) used.push(`$${index}`);
    else if (token === '$') strayDollar = true;
  }
  return { used: used.sort(), strayDollar };
}

/**
 * The message names the extension's code, pages and manifest name:
 * text('…'), data-i18n="…", __MSG_…__, and the message names listed in
 * tables as quoted strings.
 * @param {string} extension
 * @param {Set<string>} known the English names
 */
function namesInSources(extension, known) {
  /** @type {Set<string>} */
  const named = new Set();
  /** @type {Set<string>} */
  const asked = new Set();
  const files = fs.readdirSync(extension, { recursive: true, encoding: 'utf8' });
  for (const file of files) {
    if (!/\.(js|html|json)$/.test(file) || file.startsWith('_locales') || /^(test|testing)\b/.test(file)) continue;
    const source = fs.readFileSync(path.join(extension, file), 'utf8');
    for (const [, name] of source.matchAll(/\btext\(\s*'([A-Za-z0-9_]+)'/g)) asked.add(name);
    for (const [, name] of source.matchAll(/data-i18n="([A-Za-z0-9_]+)"/g)) asked.add(name);
    for (const [, name] of source.matchAll(/__MSG_([A-Za-z0-9_]+)__/g)) asked.add(name);
    for (const [, name] of source.matchAll(/'([A-Za-z0-9_]+)'/g)) if (known.has(name)) named.add(name);
  }
  for (const name of asked) named.add(name);
  return { named, asked };
}

/**
 * Everything wrong with the languages of the extension in the folder.
 * @param {string} extension
 * @returns {string[]}
 */
export function localeProblems(extension) {
  const problems = [];
  const folders = fs.readdirSync(path.join(extension, '_locales')).sort();
  for (const folder of folders)
    if (!LANGUAGES.includes(folder)) problems.push(`_locales/${folder}: not one of ${LANGUAGES.join(', ')}`);
  const english = readMessages(extension, 'en');
  const names = new Set(Object.keys(english));
  for (const language of LANGUAGES) {
    if (!folders.includes(language)) {
      problems.push(`${language}: no _locales/${language}/messages.json`);
      continue;
    }
    let messages;
    try {
      messages = readMessages(extension, language);
    } catch (error) {
      problems.push(`${language}: messages.json cannot be read: ${error instanceof Error ? error.message : error}`);
      continue;
    }
    for (const name of names) if (!(name in messages)) problems.push(`${language}: lacks ${name}`);
    for (const [name, entry] of Object.entries(messages)) {
      const where = `${language}: ${name}`;
      if (!names.has(name)) {
        problems.push(`${where}: not an English message`);
        continue;
      }
      if (typeof entry?.message !== 'string' || entry.message.trim() === '') {
        problems.push(`${where}: no message`);
        continue;
      }
      const want = references(english[name]);
      const have = references(entry);
      if (have.used.join() !== want.used.join())
        problems.push(`${where}: placeholders ${have.used.join(' ') || 'none'}, English has ${want.used.join(' ') || 'none'}`);
      if (have.strayDollar) problems.push(`${where}: a "$" that is no placeholder (write "$$")`);
      const defined = [...placeholdersOf(entry).keys()].sort();
      const wanted = [...placeholdersOf(english[name]).keys()].sort();
      if (defined.join() !== wanted.join()) problems.push(`${where}: defines placeholders ${defined.join(' ') || 'none'}, English ${wanted.join(' ') || 'none'}`);
      const products = (/** @type {string} */ text) => [...text.matchAll(PRODUCT_NAMES)].map(([word]) => word).sort().join(' ');
      if (products(entry.message) !== products(english[name].message))
        problems.push(`${where}: names ${products(entry.message) || 'nothing'}, English ${products(english[name].message)}`);
      const limit = LIMITS.find(([pattern]) => /** @type {RegExp} */ (pattern).test(name))?.[1];
      const shown = fillMessage(entry, [...'123456789'].map(() => 'www.example.com'));
      if (limit !== undefined && shown.length > /** @type {number} */ (limit))
        problems.push(`${where}: ${shown.length} characters, more than the ${limit} that fit`);
    }
  }
  const { named, asked } = namesInSources(extension, names);
  for (const name of asked) if (!names.has(name)) problems.push(`the extension asks for ${name}, which English lacks`);
  for (const name of names) if (!named.has(name)) problems.push(`en: ${name} is used nowhere`);
  return problems;
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  const problems = localeProblems(process.argv[2] ?? SOURCE);
  for (const problem of problems) console.error(problem);
  if (problems.length > 0) process.exit(1);
  console.log(`the extension's ${LANGUAGES.length} languages have the same ${Object.keys(readMessages(process.argv[2] ?? SOURCE, 'en')).length} messages`);
}
