'use strict';
// The extraction checks (mode.txt "extract"): the test has laid out the
// archives and folders; the page unpacks and writes as the real page would,
// and the test then looks at the disk.
async function extractFlow() {
  const report = { errors: [] };
  const step = async (name, fn) => {
    try { report[name] = { value: await fn() }; }
    catch (e) { report[name] = { rejected: String(e) }; }
  };
  // A link to a file outside stands at the entry's name.
  await step('linkAtName', () => native_extract('stored.zip', 'linkdest'));
  // A file given as the destination.
  await step('fileAsDest', () => native_extract('stored.zip', 'afile.txt'));
  // Two stages: tar plants "mods -> outside", then the page writes below it.
  await step('tarLinks', () => native_extract('links.zip', 'game'));
  await step('writeBelow', () => native_writeText('game/mods/x', 'planted'));
  await native_writeText('report.json', JSON.stringify(report));
  native_window('close');
}
