// The main page in the tray popover: today's words, then the history, the settings and the
// permissions under three tabs.
import { on, request } from './bridge.js';
import { h, fill } from './dom.js';
import { historyPanel } from './history.js';
import { permissionList, refreshPermissions } from './permissions.js';
import { settingsPanel, refreshFnAction } from './settings.js';
import { loadState, store, subscribe } from './store.js';
import { t } from './texts.js';

export function showPopover(root) {
  const words = h('div', { class: 'words-today', id: 'words-today' });
  const tabs = ['history', 'settings', 'access'];
  const tabBar = h('nav', { class: 'tabs', role: 'tablist' });
  const history = historyPanel({ refreshWordsToday: () => loadState().catch(() => {}) });
  const panels = {
    history: history.element,
    settings: settingsPanel(),
    access: h('div', { class: 'access' }, h('p', { class: 'muted small' }, t('accessIntro')), permissionList(),
      h('button', { class: 'button', id: 'permissions-refresh', onclick: refreshPermissions }, t('refresh'))),
  };
  let current = 'history';
  const content = h('main', { class: 'content', id: 'content' });

  function select(tab) {
    current = tab;
    fill(tabBar, tabs.map((name) => h('button', {
      class: 'tab' + (name === current ? ' selected' : ''), role: 'tab',
      'aria-selected': name === current ? 'true' : 'false', dataset: { tab: name },
      onclick: () => select(name),
    }, t('tab' + name[0].toUpperCase() + name.slice(1)))));
    fill(content, panels[current]);
    content.scrollTop = 0;
    if (tab === 'access') refreshPermissions();
  }

  function renderWords() {
    words.textContent = t('wordsToday', { n: store.wordsToday });
  }

  fill(root, h('div', { class: 'popover' },
    h('header', { class: 'top' }, h('div', { class: 'brand' }, h('span', { class: 'logo', 'aria-hidden': 'true' }), t('appName')), words),
    tabBar, content));
  subscribe(renderWords);
  renderWords();
  select('history');
  history.reload();

  on('shown', () => {
    loadState().catch(() => {});
    refreshFnAction();
    history.reload();
  });
  on('hidden', () => request('keyCapture', { on: false }));
  on('openSettings', (event) => {
    select('settings');
    if (event.focus === 'pill') {
      const target = document.getElementById('section-pill');
      if (target) content.scrollTop = target.offsetTop - content.offsetTop;
    }
  });
}
