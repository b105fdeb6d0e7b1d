// validate.mjs FILE... -- runs the Khronos glTF validator on each asset and
// prints its findings; exits 1 when any asset has an error or a warning
// (information and hints are printed but allowed), 2 when one cannot be read.
import fs from 'node:fs';
import path from 'node:path';
import validator from 'gltf-validator';

const SEVERITY = ['error', 'warning', 'info', 'hint'];
let status = 0;
for (const file of process.argv.slice(2)) {
  try {
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
      uri: file,
      maxIssues: 0,
      externalResourceFunction: (uri) =>
        fs.promises.readFile(path.resolve(path.dirname(file), decodeURIComponent(uri))),
    });
    const { numErrors, numWarnings, messages } = report.issues;
    for (const m of messages)
      console.log(`${file}: ${SEVERITY[m.severity]} ${m.code} at ${m.pointer ?? m.offset ?? ''}: ${m.message}`);
    console.log(`${file}: ${numErrors} errors, ${numWarnings} warnings`);
    if (numErrors || numWarnings) status = Math.max(status, 1);
  } catch (e) {
    console.log(`${file}: cannot be validated: ${e}`);
    status = 2;
  }
}
process.exit(status);
