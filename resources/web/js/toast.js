// Short messages at the bottom of the page: outcomes, and every failure of a command.
import { onFailure } from './bridge.js';
import { h } from './dom.js';
import { t } from './texts.js';

let area = null;

function ensureArea() {
  if (!area) {
    area = h('div', { class: 'toasts', role: 'status', 'aria-live': 'polite' });
    document.body.append(area);
  }
  return area;
}

// At most this many toasts are on screen; a new one makes the oldest leave, so the stack never
// grows over the page.
export const maxToasts = 3;

// Shows `text`; an error stays until dismissed, any other message ("info", "ok", "warn")
// leaves by itself.
export function toast(text, kind = 'info') {
  const item = h('div', { class: `toast toast-${kind}` },
    h('div', { class: 'toast-text' }, text),
    h('button', { class: 'toast-close', 'aria-label': t('dismiss'), onclick: () => item.remove() }, '×'));
  const area = ensureArea();
  area.append(item);
  while (area.children.length > maxToasts) area.firstElementChild.remove();
  if (kind !== 'error') setTimeout(() => item.remove(), 4000);
  return item;
}

onFailure((cmd, text) => toast(t('errorPrefix') + text, 'error'));

// The area is in the page from the start: a screen reader announces a toast added to a live
// region it already knows, not one that arrives together with its region.
ensureArea();
