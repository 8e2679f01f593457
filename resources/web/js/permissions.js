// The three permissions with their states, and the button that asks for each or opens the
// system's pane for it.
import { send, request } from './bridge.js';
import { h, fill } from './dom.js';
import { store, subscribe, update } from './store.js';
import { t } from './texts.js';

const kinds = ['microphone', 'accessibility', 'speech'];
const icons = { microphone: '🎙', accessibility: '⌨', speech: '💬' };

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
        h('span', { class: 'perm-icon', 'aria-hidden': 'true' }, icons[kind]),
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
