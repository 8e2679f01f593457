// Choosing the hold key: the three offered keys, capturing any other, and the caveat of the
// chosen key. Used by the settings and by the onboarding's key step.
import { on, request, send } from './bridge.js';
import { h, fill, setLiveText } from './dom.js';
import { store, saveSettings, subscribe } from './store.js';
import { t } from './texts.js';

const presets = ['fn', 'rightOption', 'rightCommand'];
// Keys offered but not choosable here: X11 reports no event for fn, so a hold of it is never
// heard. A stored fn stays stored, and its caveat says why it does nothing.
const unavailable = new Set(['fn']);

// The caveat each key carries; keys without one are absent.
const warnings = {
  fn: 'fnUnheard',
  leftOption: 'shortcuts', leftCommand: 'shortcuts', leftControl: 'shortcuts',
  leftShift: 'shortcuts', rightShift: 'shortcuts',
  f14: 'brightness', f15: 'brightness',
  f13: 'secureInput', f16: 'secureInput', f17: 'secureInput', f18: 'secureInput',
  f19: 'secureInput', f20: 'secureInput',
};

export function keyName(key) {
  if (/^f\d+$/.test(key)) return key.toUpperCase();
  return t('key_' + key);
}

export function holdKeySection() {
  const root = h('div', { class: 'holdkey' });
  const choices = h('div', { class: 'segmented', role: 'radiogroup' });
  const current = h('div', { class: 'key-current' });
  // In the tree even while empty: a live region that appears with its words is not announced.
  const status = h('div', { class: 'key-status', role: 'status', 'aria-atomic': 'true' });
  const warning = h('div', { class: 'note note-warn', hidden: true });
  const fnHint = h('div', { class: 'note', hidden: true });
  const fnReason = h('p', { class: 'muted small key-reason', id: 'fn-reason' }, t('fnUnavailable'));
  let capturing = false;
  let message = null; // { text, kind }

  const captureButton = h('button', { class: 'button', id: 'capture-key', onclick: toggleCapture });

  async function toggleCapture() {
    const wanted = !capturing;
    let answer;
    try {
      answer = await send('keyCapture', { on: wanted });
    } catch {
      return;
    }
    if (answer === 'on') {
      capturing = true;
      message = { text: t('capturing'), kind: 'live' };
    } else if (answer === 'off') {
      capturing = false;
      message = null;
    } else if (answer === 'busy') {
      capturing = false;
      message = { text: t('captureBusy'), kind: 'error' };
    } else {
      capturing = false;
      message = { text: t('captureNoKeyTap'), kind: 'error' };
    }
    render();
  }

  on('keyCapture', async (event) => {
    const capture = event.capture || {};
    if (capture.kind === 'accepted') {
      capturing = false;
      message = null;
      render();
      try {
        await saveSettings({ holdKey: capture.key });
      } catch {
        /* shown by the failure toast; the view keeps the stored key */
      }
    } else if (capture.kind === 'rejected') {
      message = { text: t('reject_' + capture.reason), kind: 'error' };
      render();
    } else {
      capturing = false;
      message = { text: t('keyCancelled'), kind: 'info' };
      render();
    }
  });

  function choose(key) {
    saveSettings({ holdKey: key }).catch(() => {});
  }

  function render() {
    const settings = store.settings;
    if (!settings) return;
    const key = settings.holdKey;
    fill(choices, presets.map((preset) => h('button', {
      class: 'segment' + (preset === key ? ' selected' : ''),
      role: 'radio', 'aria-checked': preset === key ? 'true' : 'false',
      dataset: { key: preset },
      disabled: unavailable.has(preset),
      'aria-disabled': unavailable.has(preset) ? 'true' : null,
      'aria-describedby': unavailable.has(preset) ? fnReason.id : null,
      title: unavailable.has(preset) ? t('fnUnavailable') : null,
      onclick: () => choose(preset),
    }, keyName(preset))));
    fnReason.hidden = unavailable.has(key);
    fill(current, h('span', { class: 'keycap', id: 'hold-key' }, keyName(key)),
      h('span', { class: 'muted' }, t('keyHint')));
    captureButton.textContent = capturing ? t('stopCapture') : t('captureKey');
    captureButton.classList.toggle('live', capturing);
    status.className = 'key-status' + (message ? ' status-' + message.kind : ' quiet');
    setLiveText(status, message ? message.text : '');
    const caveat = warnings[key];
    warning.hidden = !caveat;
    warning.textContent = caveat ? t('warn_' + caveat) : '';
    const fnAction = store.fnAction;
    const showFn = key === 'fn' && ['inputSource', 'emoji', 'dictation'].includes(fnAction);
    fill(fnHint, showFn ? [t('fnHint_' + fnAction), ' ',
      h('button', { class: 'link', onclick: () => request('openKeyboardSettings') }, t('openKeyboardSettings'))] : []);
    fnHint.hidden = !showFn;
  }

  subscribe((changes) => {
    if ('settings' in changes || 'fnAction' in changes) render();
  });
  render();
  root.append(choices, fnReason, current, h('div', { class: 'row-actions' }, captureButton), status, warning, fnHint);
  return root;
}
