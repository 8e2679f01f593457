// The entry of both pages: reads the route after "#", loads the state, draws the page.
import { h, fill } from './dom.js';
import { loadState, applyTheme } from './store.js';
import { t } from './texts.js';
import './toast.js';
import { showOnboarding } from './onboarding.js';
import { showPopover } from './popover.js';

function route() {
  const hash = decodeURIComponent(location.hash.replace(/^#/, ''));
  const [name, query] = hash.split('?');
  const params = new URLSearchParams(query || '');
  const step = params.has('step') ? Number.parseInt(params.get('step'), 10) : NaN;
  return { name: name || 'popover', step };
}

async function start() {
  applyTheme();
  const root = document.getElementById('app');
  const { name, step } = route();
  document.body.dataset.page = name;
  try {
    await loadState();
  } catch (error) {
    fill(root, h('div', { class: 'fatal' }, h('p', {}, t('errorPrefix') + error.message),
      h('button', { class: 'button', onclick: () => location.reload() }, t('refresh'))));
    return;
  }
  if (name === 'onboarding') showOnboarding(root, step);
  else showPopover(root);
  document.body.dataset.ready = 'true';
}

start();
