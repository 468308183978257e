'use strict';
// A long session: the page does, round after round for the time that
// session.json gives, what the real page does over a session (calls of both
// kinds, events, downloads from the test's server, some of them cancelled,
// packing, a game started and ended), with one quiet spell in the middle,
// checks every answer, writes what it saw to report.json and closes the
// window.
const report = { errors: [], rounds: 0, games: 0, downloads: 0, cancelled: 0, progress: 0, logLines: 0 };
window.addEventListener('error', (e) => report.errors.push(String(e.message)));
window.addEventListener('unhandledrejection', (e) => report.errors.push('unhandled: ' + String(e.reason)));

const child = './test_child';  // copied beside the launcher by the test
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
let round = 0;
function expect(what, got, want) {
  const a = JSON.stringify(got), b = JSON.stringify(want);
  if (a !== b) report.errors.push(`round ${round}: ${what}: ${a} instead of ${b}`);
}

// Event handlers stay defined for the whole session.
const logLines = [];
window.onGameLog = (text) => { logLines.push(text); report.logLines++; };
window.onNativeProgress = () => { report.progress++; };
let exitWaiter = null;
window.onGameExit = (code) => { if (exitWaiter) exitWaiter(code); };

async function syncCalls() {
  const info = await native_systemInfo();
  expect('systemInfo has exeDir', typeof info.exeDir, 'string');
  expect('setTitle', await native_setTitle(`Сеанс ${round}`), true);
  const name = `s/r${round}.txt`;
  const text = `Раунд ${round} `.repeat(50);
  expect('writeText', await native_writeText(name, text), true);
  expect('readText', await native_readText(name), text);
  expect('exists', await native_exists(name), true);
  expect('fileSize', await native_fileSize(name), new TextEncoder().encode(text).length);
  const listed = (await native_listDir('s')).map((e) => e.name);
  expect('listDir', listed.includes(`r${round}.txt`), true);
  expect('offlineUuid', await native_offlineUuid('Игрок'), await native_offlineUuid('Игрок'));
  expect('saveSettings', await native_saveSettings({ round, name: 'Сеанс' }), true);
  expect('loadSettings', (await native_loadSettings()).round, round);
  expect('copyFile', await native_copyFile(name, 'copies'), true);
  expect('deletePath', await native_deletePath(`copies/r${round}.txt`), true);
  expect('gameRunning', await native_gameRunning(), false);
}

async function asyncCalls(server) {
  // Several at once, as a page does while it loads its catalogues.
  const [capture, small, echo, zipped] = await Promise.all([
    native_runCapture(child, [`out:capture ${round}`]),
    native_httpGet(server + 'files/small.txt'),
    native_http({ method: 'POST', url: server + 'echo', body: `тело ${round}` }),
    native_zip('s', `z/r${round}.zip`, [`r${round}.txt`]),
  ]);
  expect('runCapture', [capture.code, capture.out], [0, `capture ${round}`]);
  expect('httpGet', small, 'small file\n');
  expect('http status', echo.status, 200);
  expect('http echoes the body', echo.body.endsWith(`тело ${round}`), true);
  expect('zip', zipped, true);
  expect('extract', await native_extract(`z/r${round}.zip`, `unz/r${round}`), true);
  expect('extracted', await native_readText(`unz/r${round}/r${round}.txt`), await native_readText(`s/r${round}.txt`));
  let missing;
  try { await native_httpGet(server + 'files/missing.bin'); missing = 'fulfilled'; }
  catch (e) { missing = typeof e; }
  expect('httpGet of a missing file rejects with text', missing, 'string');
}

async function logEvents() {
  const before = logLines.length;
  expect('runJava', await native_runJava(child, [`out:log ${round} a\nlog ${round} b\n`, 'sleep:50', `out:log ${round} c`]), 0);
  await sleep(100);
  expect('log lines', logLines.slice(before).join(''), `log ${round} a\nlog ${round} b\nlog ${round} c`);
}

async function download(server) {
  const dir = `dl/r${round}/`;
  const result = await native_download([
    { url: server + 'files/a.bin', path: dir + 'a.bin' },
    { url: server + 'files/b.bin', path: dir + 'b.bin', size: 70000 },
    { url: server + 'files/sub/c.txt', path: dir + 'sub/c.txt' },
    { url: server + 'files/small.txt', path: dir + 'small.txt' },
  ]);
  expect('download', result.ok, true);
  expect('downloaded', result.downloaded, 4);
  expect('a.bin size', await native_fileSize(dir + 'a.bin'), 300000);
  expect('c.txt', await native_readText(dir + 'sub/c.txt'), 'c\n');
  report.downloads++;
}

async function cancelledDownload(server) {
  const pending = native_download([{ url: server + 'slow.bin', path: `dl/slow${round}.bin` }]);
  await sleep(300);
  expect('cancel', await native_cancel(), true);
  const result = await pending;
  expect('cancelled', result.cancelled, true);
  expect('no file after a cancel', await native_exists(`dl/slow${round}.bin`), false);
  report.cancelled++;
}

async function game() {
  const code = round % 5;
  const exited = new Promise((resolve) => { exitWaiter = resolve; });
  const before = logLines.length;
  const hide = round % 2 === 0;
  const started = await native_launch(child, [`out:game ${round}\n`, 'sleep:400', `exit:${code}`], '', hide);
  expect('launch', started.ok, true);
  expect('running while it runs', await native_gameRunning(), true);
  const second = await native_launch(child, [], '', false);
  expect('second launch', [second.ok, second.error], [false, 'Игра уже запущена']);
  expect('exit code', await Promise.race([exited, sleep(20000).then(() => 'timeout')]), code);
  exitWaiter = null;
  await sleep(100);
  expect('game log', logLines.slice(before).join(''), `game ${round}\n`);
  expect('running after', await native_gameRunning(), false);
  report.games++;
}

async function main() {
  const session = await (await fetch('session.json')).json();
  const start = performance.now();
  let idled = false;
  while (performance.now() - start < session.seconds * 1000) {
    if (!idled && performance.now() - start > session.idleAfter * 1000) {
      // A user reading the page: no call for a while, so the engine lets go
      // of what it keeps for the page's messages; then the calls come back.
      await sleep(session.idle * 1000);
      idled = true;
      report.idled = session.idle;
    }
    round++;
    document.getElementById('state').textContent = `Раунд ${round}`;
    await syncCalls();
    await asyncCalls(session.server);
    await logEvents();
    await download(session.server);
    if (round % 3 === 1) await cancelledDownload(session.server);
    await game();
    report.rounds = round;
    // Paced like a person, not a benchmark: the tests beside it need the CPU.
    await sleep(session.pause);
  }
  report.seconds = Math.round((performance.now() - start) / 1000);
  report.done = true;
}

main().catch((e) => report.errors.push(`round ${round}: main: ${e instanceof Error ? e.message : String(e)}`)).finally(async () => {
  await native_writeText('report.json', JSON.stringify(report, null, 1));
  native_window('close');
});
