// What scripts/lib/mozilla-validator.mjs uses of addons-linter, which ships no types.
declare module 'addons-linter' {
  export interface Problem {
    code: string;
    message: string;
    file?: string;
  }
  interface Results {
    errors: Problem[];
    warnings: Problem[];
    notices: Problem[];
  }
  const linter: {
    createInstance(options: { config: Record<string, unknown>; runAsBinary: boolean }): { run(): Promise<Results> };
  };
  export default linter;
}
