// Checks the CI workflows (.github/workflows/*.yml) with GitHub's own workflow parser: its
// schema and rules catch a misspelt key, a wrong value, a bad expression or a job that needs a
// job that is not there, here rather than on the CI service. Then every PowerShell script below
// [root] (the Windows job runs them, and nothing else here does) with tree-sitter's PowerShell
// grammar (tree-sitter-powershell's prebuilt WebAssembly, in web-tree-sitter): a script that does
// not parse fails here, not on the Windows runner.
//   node tools/check-workflows.mjs [folder] [root]
import { readdirSync, readFileSync } from 'node:fs';
import { createRequire, register } from 'node:module';
import { join, relative } from 'node:path';

// The parser's build imports its schema files as plain JSON modules, which node admits only
// with an import attribute; this load hook hands them over as modules of their own.
const jsonAsModule = `
import { readFileSync } from 'node:fs';
export async function load(url, context, nextLoad) {
  if (!url.startsWith('file:') || !url.endsWith('.json')) return nextLoad(url, context);
  return { format: 'module', shortCircuit: true, source: 'export default ' + readFileSync(new URL(url), 'utf8') };
}`;
register(`data:text/javascript,${encodeURIComponent(jsonAsModule)}`);
const { convertWorkflowTemplate, NoOperationTraceWriter, parseWorkflow } = await import('@actions/workflow-parser');

const folder = process.argv[2] ?? '.github/workflows';
const root = process.argv[3] ?? '.';
const names = readdirSync(folder).filter((name) => /\.ya?ml$/.test(name)).sort();
if (names.length === 0) {
  console.error(`no workflow in ${folder}`);
  process.exit(1);
}

let failed = 0;
for (const name of names) {
  const parsed = parseWorkflow({ name, content: readFileSync(join(folder, name), 'utf8') }, new NoOperationTraceWriter());
  let messages = parsed.context.errors.getErrors().map((error) => error.message);
  if (messages.length === 0 && parsed.value) {
    // The conversion applies the rules beyond the schema (job references, matrix, ...).
    const template = await convertWorkflowTemplate(parsed.context, parsed.value);
    messages = (template.errors ?? []).map((error) => error.Message);
  }
  if (messages.length === 0 && !parsed.value) messages = ['nothing to parse'];
  console.log(`${messages.length === 0 ? 'ok' : 'FAIL'} ${name}`);
  for (const message of messages) console.log(`  ${message}`);
  if (messages.length > 0) failed += 1;
}

// ---- PowerShell scripts: the parser marks what it cannot parse with ERROR or MISSING nodes.
// The grammar as the WebAssembly build its package ships, run by tree-sitter's WebAssembly
// runtime: nothing native to load or compile, whatever the machine's C++ library.
const { Parser, Language } = await import('web-tree-sitter');
await Parser.init();
const PowerShell = await Language.load(createRequire(import.meta.url).resolve('tree-sitter-powershell/tree-sitter-powershell.wasm'));
const parser = new Parser();
parser.setLanguage(PowerShell);

// The first place the parser could not make sense of, as "line:column what", or null.
function firstSyntaxError(text) {
  const tree = parser.parse(text);
  if (!tree.rootNode.hasError) return null;
  const cursor = tree.walk();
  for (;;) {
    const node = cursor.currentNode;
    if (node.isError || node.isMissing) {
      const where = `${node.startPosition.row + 1}:${node.startPosition.column + 1}`;
      return node.isMissing ? `${where} missing ${node.type}` : `${where} cannot parse ${JSON.stringify(node.text.slice(0, 40))}`;
    }
    if (node.hasError && cursor.gotoFirstChild()) continue;
    while (!cursor.gotoNextSibling()) {
      if (!cursor.gotoParent()) return 'somewhere (no node marks it)';
    }
  }
}

// A parser that finds nothing wrong in broken text would pass every script.
if (firstSyntaxError('function Broken {\n  if ($true) {\n') === null) {
  console.log('FAIL the PowerShell parser does not see an unclosed block');
  process.exit(1);
}

const skipped = new Set(['node_modules', 'build']);
function scriptsBelow(dir) {
  return readdirSync(dir, { withFileTypes: true }).flatMap((entry) => {
    if (entry.name.startsWith('.') || skipped.has(entry.name)) return [];
    const path = join(dir, entry.name);
    if (entry.isDirectory()) return scriptsBelow(path);
    return /\.ps1$/i.test(entry.name) ? [path] : [];
  });
}
const scripts = scriptsBelow(root).sort();
for (const path of scripts) {
  // PowerShell reads a leading byte-order mark as such; the parser would not.
  const error = firstSyntaxError(readFileSync(path, 'utf8').replace(/^\uFEFF/, ''));
  console.log(`${error === null ? 'ok' : 'FAIL'} ${relative(root, path)}`);
  if (error !== null) {
    console.log(`  ${error}`);
    failed += 1;
  }
}
const checked = names.length + scripts.length;
console.log(`${checked - failed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
