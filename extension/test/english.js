// Node has no browser i18n: the tests read the English messages, filled in
// as the browsers fill them. Imported before the modules under test.
import { fillMessage, readMessages } from '../../scripts/lib/locales.mjs';
import { SOURCE } from '../../scripts/lib/extension-family.mjs';
import { useLookup } from '../lib/i18n.js';

const english = readMessages(SOURCE, 'en');
useLookup((name, values) => (english[name] ? fillMessage(english[name], values) : ''));
