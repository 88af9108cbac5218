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
    files: ['extension/**/*.js', 'tests/browsers/extension/**/*.js'],
    languageOptions: { globals: { ...globals.browser, ...globals.webextensions } },
  },
  {
    files: ['**/*.mjs', 'eslint.config.js', 'extension/test/**/*.js'],
    languageOptions: { globals: globals.node },
  },
];
