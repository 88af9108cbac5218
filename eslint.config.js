// Lint rules for the extension, its tests and the scripts around them.
import js from '@eslint/js';
import globals from 'globals';

export default [
  { ignores: ['build/', 'dist/', '.cache/'] },
  js.configs.recommended,
  {
    linterOptions: { reportUnusedDisableDirectives: 'error' },
    rules: {
      eqeqeq: 'error',
      'no-implicit-globals': 'error',
      'no-shadow': 'error',
      'no-var': 'error',
      'prefer-const': 'error',
    },
  },
  {
    files: ['extension/**/*.js'],
    languageOptions: { globals: { ...globals.browser, ...globals.webextensions } },
  },
  {
    // The browser tests hand functions to the page to run there.
    files: ['tests/browsers/**/*.mjs'],
    languageOptions: { globals: { ...globals.node, ...globals.browser } },
  },
  {
    files: ['scripts/**/*.mjs', 'eslint.config.js', 'extension/test/**/*.js'],
    languageOptions: { globals: globals.node },
  },
];
