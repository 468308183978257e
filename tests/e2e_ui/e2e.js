'use strict';
// Drives the native side the way the real page does and writes what it saw
// to report.json, then closes the window.
const report = { errors: [], log: [] };
window.addEventListener('error', (e) => report.errors.push(String(e.message)));
window.addEventListener('unhandledrejection', (e) => report.errors.push('unhandled: ' + String(e.reason)));

async function step(name, fn) {
  if (typeof fn !== 'function') { report[name] = { missing: true }; return; }
  try { report[name] = { value: await fn() }; }
  catch (e) { report[name] = { rejected: e instanceof Error ? 'Error: ' + e.message : e }; }
}
const call = (name, ...args) => typeof window[name] === 'function' ? () => window[name](...args) : undefined;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function main() {
  report.origin = location.origin;
  report.bound = Object.keys(window).filter((k) => k.startsWith('native_')).sort();
  report.glueFrozen = Object.isFrozen(window.__webview__);

  // The page's own files came through the loopback server.
  report.style = getComputedStyle(document.getElementById('styled')).width;
  const img = document.getElementById('img');
  if (!img.complete) await new Promise((r) => { img.onload = img.onerror = r; });
  report.imageWidth = img.naturalWidth;
  try {
    const r = await fetch('range.bin', { headers: { Range: 'bytes=10-19' } });
    report.range = { status: r.status, length: (await r.arrayBuffer()).byteLength };
  } catch (e) { report.range = { error: String(e) }; }

  // A media element reads its file through range requests.
  const clip = document.getElementById('clip');
  report.video = await new Promise((resolve) => {
    const done = (what) => resolve({ what, duration: Math.round(clip.duration * 10) / 10 });
    clip.addEventListener('error', () => done('error'), { once: true });
    const ready = () => {
      clip.addEventListener('seeked', () => done('seeked'), { once: true });
      clip.currentTime = 1.5;
    };
    if (clip.readyState >= 1) ready(); else clip.addEventListener('loadedmetadata', ready, { once: true });
    setTimeout(() => done('timeout'), 10000);
  });

  // A frame from another origin must not reach the native side.
  const frameReport = new Promise((resolve) => {
    window.addEventListener('message', (e) => resolve(e.data), { once: true });
    setTimeout(() => resolve({ timeout: true }), 5000);
  });
  // Same server, other origin.
  document.getElementById('foreign').src = 'http://localhost:' + location.port + '/frame.html';
  report.frame = await frameReport;

  // Synchronous functions.
  await step('setTitleDefault', call('native_setTitle'));
  await step('setTitle', call('native_setTitle', 'Лаунчер — тест'));
  await step('loneSurrogate', call('native_setTitle', 'cut \uD83D'));
  await step('windowOther', call('native_window', 'MIN'));
  await step('windowEmpty', call('native_window'));
  await step('windowMin', call('native_window', 'min'));
  await step('writeText', call('native_writeText', 'written.txt', 'Привет, мир'));
  await step('readInvalidUtf8', call('native_readText', 'invalid.txt'));
  await step('listOddName', call('native_listDir', 'odd'));
  await step('unbound', typeof window.native_nothing === 'function' ? call('native_nothing') : undefined);

  // Asynchronous functions: fulfilled and rejected.
  const child = './test_child';  // copied beside the launcher by the test
  await step('runCapture', call('native_runCapture', child, ['out:Привет', 'err:!']));
  await step('httpBadUrl', call('native_httpGet', 'not a url'));
  await step('httpBadRequest', call('native_http', 'oops'));

  // Events: a defined handler gets them in order; an undefined one is harmless.
  const lines = [];
  window.onGameLog = (text) => lines.push(text);
  await step('runJava', call('native_runJava', child, ['out:one\ntwo\n', 'out:three']));
  await sleep(200);
  report.gameLog = lines.slice();
  delete window.onGameLog;
  await step('runJavaNoHandler', call('native_runJava', child, ['out:unheard\n']));
  await sleep(200);

  // A batch from our own server: the last progress event comes before the
  // promise settles.
  const progress = [];
  window.onNativeProgress = (p) => progress.push(p);
  const base = location.origin + '/';
  await step('download', call('native_download', [
    { url: base + 'range.bin', path: 'dl/a.bin' },
    { url: base + 'style.css', path: 'dl/sub/b.css', size: 26 },
    { url: base + 'missing.bin', path: 'dl/c.bin' },
  ]));
  report.progressBeforeSettle = progress.length;
  report.lastProgress = progress[progress.length - 1];

  // The game: hidden window while it runs, its log, its exit code.
  const visibility = [];
  document.addEventListener('visibilitychange', () => visibility.push(document.visibilityState));
  const gameLines = [];
  window.onGameLog = (text) => gameLines.push(text);
  const exited = new Promise((resolve) => { window.onGameExit = resolve; });
  await step('launch', call('native_launch', child, ['out:game line\n', 'sleep:500', 'exit:3'], '', true));
  await step('runningDuring', call('native_gameRunning'));
  await step('secondLaunch', call('native_launch', child, [], '', false));
  report.gameExit = await Promise.race([exited, sleep(15000).then(() => 'timeout')]);
  await sleep(200);
  report.gameLines = gameLines;
  report.visibility = visibility;
  await step('runningAfter', call('native_gameRunning'));
  await step('launchMissing', call('native_launch', './no-such-java', [], '', false));

  report.done = true;
}

// Restart: the first copy leaves a mark beside the executable and restarts;
// the second finds the mark, reports where it runs and closes.
async function restartFlow() {
  const info = await native_systemInfo();
  const mark = info.exeDir + '/restarted.txt';
  if ((await native_readText(mark)) === null) {
    await native_writeText(mark, '1');
    const started = await native_restart();
    await native_writeText('first.json', JSON.stringify({ started }));
    return;  // the window goes away by itself
  }
  await native_writeText('cwd-probe.txt', 'second copy');
  await native_writeText(info.exeDir + '/second.json', JSON.stringify({ second: true }));
  native_window('close');
}

fetch('mode.txt').then((r) => (r.ok ? r.text() : '')).then((mode) => {
  if (mode.trim() === 'restart') return restartFlow();
  if (mode.trim() === 'extract') return extractFlow();  // extract.js
  return main().catch((e) => report.errors.push('main: ' + String(e))).finally(async () => {
    await window.native_writeText('report.json', JSON.stringify(report, null, 1));
    window.native_window('close');
  });
});
