// Checks the CI workflows (.github/workflows/*.yml) with GitHub's own workflow parser: its
// schema and rules catch a misspelt key, a wrong value, a bad expression or a job that needs a
// job that is not there, here rather than on the CI service.
//   node tools/check-workflows.mjs [folder]
import { readdirSync, readFileSync } from 'node:fs';
import { register } from 'node:module';
import { join } from 'node:path';

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
console.log(`${names.length - failed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
