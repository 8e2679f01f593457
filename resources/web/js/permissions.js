// The three permissions with their states, and the button that asks for each or opens the
// system's pane for it.
import { send, request } from './bridge.js';
import { h, fill, setLiveText } from './dom.js';
import { store, subscribe, update } from './store.js';
import { t } from './texts.js';

const kinds = ['microphone', 'accessibility', 'speech'];
// Line icons, drawn in the text colour.
const icons = {
  microphone: '<rect x="9" y="3" width="6" height="11" rx="3"/><path d="M5 11a7 7 0 0 0 14 0M12 18v3"/>',
  accessibility: '<rect x="2.5" y="6" width="19" height="12" rx="2"/><path d="M6 10h1M10 10h1M14 10h1M18 10h0M7 14h10"/>',
  speech: '<path d="M4 5h16v10H9l-5 4z"/><path d="M8 9h8M8 12h5"/>',
};

// Accessibility here is the desktop's accessibility bus being on, which the application can
// switch on itself: its button asks instead of sending the user to a settings pane.
const switchable = new Set(['accessibility']);

// Kinds whose request is under way, and kinds whose last request did not grant them: those
// say what the user can do instead, until the permission is granted. Shared by every list, so
// the popover and the onboarding agree.
const asking = new Set();
const unanswered = new Set();
// The render of every list on the page.
const lists = new Set();

function renderLists() {
  for (const render of lists) render();
}

function icon(kind) {
  const element = h('span', { class: 'perm-icon', 'aria-hidden': 'true' });
  element.innerHTML = '<svg viewBox="0 0 24 24" width="18" height="18" fill="none" stroke="currentColor" ' +
    'stroke-width="1.8" stroke-linecap="round" stroke-linejoin="round">' + icons[kind] + '</svg>';
  return element;
}

async function ask(kind) {
  if (asking.has(kind)) return;
  asking.add(kind);
  renderLists();
  let state;
  try {
    state = await send('permissionsRequest', { kind });
  } catch {
    // The failure toast says why; the button is offered again.
  }
  asking.delete(kind);
  if (state === 'granted') unanswered.delete(kind);
  else if (state && switchable.has(kind)) unanswered.add(kind);
  if (state && store.permissions) update({ permissions: { ...store.permissions, [kind]: state } });
  else renderLists();
}

export async function refreshPermissions() {
  const permissions = await request('permissionsStatus');
  if (permissions) update({ permissions });
}

function actionFor(kind, state) {
  if (state === 'granted') return null;
  if (state === 'notDetermined' || switchable.has(kind)) {
    const label = switchable.has(kind) ? t('turnOn') : t('allow');
    return h('button', { class: 'button primary', dataset: { ask: kind }, disabled: asking.has(kind),
      onclick: () => ask(kind) }, label);
  }
  return h('button', { class: 'button', dataset: { pane: kind }, onclick: () => request('permissionsOpenPane', { kind }) }, t('openPane'));
}

// Each card is made once and then changed in place: its badge is a live region, so a screen
// reader announces the new state when it changes, which it cannot do for a badge drawn anew.
function permissionCard(kind) {
  const badge = h('div', { class: 'badge', role: 'status', 'aria-atomic': 'true' });
  const side = h('div', { class: 'perm-side' }, badge);
  const help = h('p', { class: 'note note-warn perm-help', dataset: { help: kind }, role: 'status' });
  const name = h('div', { class: 'perm-name', id: 'perm-name-' + kind }, t('perm_' + kind));
  const card = h('div', { class: 'perm card', dataset: { kind }, role: 'group', 'aria-labelledby': name.id },
    h('div', { class: 'perm-row' },
      icon(kind),
      h('div', { class: 'perm-text' }, name, h('div', { class: 'muted small' }, t('permHint_' + kind))),
      side),
    help);
  let action = null;
  let actionKey = '';

  function render(state) {
    card.dataset.state = state;
    badge.className = 'badge badge-' + state;
    setLiveText(badge, t('state_' + state));
    const key = state === 'granted' ? '' : state + (asking.has(kind) ? ':asking' : '');
    if (key !== actionKey) {
      if (action) action.remove();
      action = actionFor(kind, state);
      if (action) side.append(action);
      actionKey = key;
    }
    // The help stays in the tree, empty while there is nothing to say, so that its words are
    // announced when they come.
    const text = unanswered.has(kind) ? t('permHelp_' + kind) : '';
    setLiveText(help, text);
    help.classList.toggle('quiet', !text);
  }

  return { card, render };
}

export function permissionList() {
  const list = h('div', { class: 'perm-list' });
  let cards = null;

  function render() {
    const permissions = store.permissions;
    if (!permissions) return;
    if (!cards) {
      cards = kinds.map(permissionCard);
      fill(list, cards.map((c) => c.card));
    }
    kinds.forEach((kind, i) => {
      if (permissions[kind] === 'granted') unanswered.delete(kind);
      cards[i].render(permissions[kind]);
    });
  }

  lists.add(render);
  subscribe((changes) => {
    if ('permissions' in changes) render();
  });
  render();
  return list;
}
