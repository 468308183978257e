'use strict';
// A small starting page: its own title bar and what the native side reports.
const $ = (id) => document.getElementById(id);
const has = (name) => typeof window[name] === 'function';

$('titlebar').addEventListener('mousedown', (e) => {
  if (e.button === 0 && e.target.closest('button') === null && has('native_window')) native_window('drag');
});
$('min').addEventListener('click', () => has('native_window') && native_window('min'));
$('close').addEventListener('click', () => has('native_window') && native_window('close'));

function logEvent(name, value) {
  const line = new Date().toLocaleTimeString() + '  ' + name + ': ' + JSON.stringify(value) + '\n';
  $('events').textContent = (line + $('events').textContent).slice(0, 20000);
}
window.onGameLog = (text) => logEvent('onGameLog', text);
window.onGameExit = (code) => logEvent('onGameExit', code);
window.onNativeProgress = (p) => logEvent('onNativeProgress', p);

async function showInfo() {
  const bound = Object.keys(window).filter((k) => k.startsWith('native_') && has(k)).sort();
  let text = 'Функций: ' + bound.length + '\n';
  if (has('native_systemInfo')) {
    const info = await native_systemInfo();
    for (const [k, v] of Object.entries(info)) text += k + ': ' + v + '\n';
  }
  $('info').textContent = text + '\n' + bound.join('\n');
}
showInfo();
