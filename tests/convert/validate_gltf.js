// Runs the glTF validator over the files named on the command line and prints one line per file:
// "<errors> <warnings> <path>", then the first messages of a file that has errors. The exit
// status is 1 when any file has errors.
//   node validate_gltf.js VALIDATOR_DIR FILE...
'use strict';
const fs = require('fs');
const path = require('path');
const validator = require(path.resolve(process.argv[2]));

async function check(file) {
  const data = new Uint8Array(fs.readFileSync(file));
  const report = await validator.validateBytes(data, {
    uri: path.basename(file),
    externalResourceFunction: (uri) =>
      new Promise((resolve, reject) => {
        fs.readFile(path.join(path.dirname(file), decodeURIComponent(uri)), (err, bytes) =>
          err ? reject(err.toString()) : resolve(new Uint8Array(bytes)));
      }),
  });
  const issues = report.issues;
  console.log(`${issues.numErrors} ${issues.numWarnings} ${file}`);
  for (const m of issues.messages.filter((m) => m.severity === 0).slice(0, 5))
    console.log(`  ${m.code} ${m.pointer || ''} ${m.message}`);
  return issues.numErrors;
}

(async () => {
  let errors = 0;
  for (const file of process.argv.slice(3)) {
    try {
      errors += await check(file);
    } catch (e) {
      console.log(`1 0 ${file}`);
      console.log(`  ${e}`);
      errors += 1;
    }
  }
  process.exit(errors > 0 ? 1 : 0);
})();
