// The three permissions with their states, and the button that asks for each or opens the
// system's pane for it.
import { send, request } from './bridge.js';
import { h, fill } from './dom.js';
import { store, subscribe, update } from './store.js';
import { t } from './texts.js';

const kinds = ['microphone', 'accessibility', 'speech'];
// Line icons, drawn in the text colour.
const icons = {
  microphone: '<rect x="9" y="3" width="6" height="11" rx="3"/><path d="M5 11a7 7 0 0 0 14 0M12 18v3"/>',
  accessibility: '<rect x="2.5" y="6" width="19" height="12" rx="2"/><path d="M6 10h1M10 10h1M14 10h1M18 10h0M7 14h10"/>',
  speech: '<path d="M4 5h16v10H9l-5 4z"/><path d="M8 9h8M8 12h5"/>',
};

function icon(kind) {
  const element = h('span', { class: 'perm-icon', 'aria-hidden': 'true' });
  element.innerHTML = '<svg viewBox="0 0 24 24" width="18" height="18" fill="none" stroke="currentColor" ' +
    'stroke-width="1.8" stroke-linecap="round" stroke-linejoin="round">' + icons[kind] + '</svg>';
  return element;
}

async function ask(kind) {
  let state;
  try {
    state = await send('permissionsRequest', { kind });
  } catch {
    return;
  }
  if (store.permissions) update({ permissions: { ...store.permissions, [kind]: state } });
}

export async function refreshPermissions() {
  const permissions = await request('permissionsStatus');
  if (permissions) update({ permissions });
}

export function permissionList() {
  const list = h('div', { class: 'perm-list' });

  function render() {
    const permissions = store.permissions;
    if (!permissions) return;
    fill(list, kinds.map((kind) => {
      const state = permissions[kind];
      let action = null;
      if (state === 'notDetermined') {
        action = h('button', { class: 'button primary', dataset: { ask: kind }, onclick: () => ask(kind) }, t('allow'));
      } else if (state !== 'granted') {
        action = h('button', { class: 'button', dataset: { pane: kind }, onclick: () => request('permissionsOpenPane', { kind }) }, t('openPane'));
      }
      return h('div', { class: 'perm card', dataset: { kind, state } },
        icon(kind),
        h('div', { class: 'perm-text' },
          h('div', { class: 'perm-name' }, t('perm_' + kind)),
          h('div', { class: 'muted small' }, t('permHint_' + kind))),
        h('div', { class: 'perm-side' },
          h('span', { class: 'badge badge-' + state }, t('state_' + state)),
          action));
    }));
  }

  subscribe(render);
  render();
  return list;
}
