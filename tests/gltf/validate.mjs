// validate.mjs FILE... -- the Khronos glTF validator on each asset; prints its
// findings and exits 1 when any asset has an error or a warning.
import fs from 'node:fs';
import validator from 'gltf-validator';

const SEVERITY = ['error', 'warning', 'info', 'hint'];
let status = 0;
for (const file of process.argv.slice(2)) {
  const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), { uri: file, maxIssues: 0 });
  const { numErrors, numWarnings, messages } = report.issues;
  for (const m of messages)
    console.log(`${file}: ${SEVERITY[m.severity]} ${m.code} at ${m.pointer ?? m.offset ?? ''}: ${m.message}`);
  console.log(`${file}: ${numErrors} errors, ${numWarnings} warnings`);
  if (numErrors || numWarnings) status = 1;
}
process.exit(status);
