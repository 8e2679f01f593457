// The history: search, paging to older items, copying, inserting again, deleting, clearing,
// adding a word to the vocabulary, and the live changes the native side pushes.
import { on, send, request } from './bridge.js';
import { h, fill } from './dom.js';
import { adoptSettings, settingsMark } from './store.js';
import { currentLang, t } from './texts.js';
import { toast } from './toast.js';

export const pageSize = 30;

function matches(item, query) {
  if (!query) return true;
  const needle = query.toLocaleLowerCase();
  return [item.clean, item.raw, item.appName].some((text) => (text || '').toLocaleLowerCase().includes(needle));
}

function when(date) {
  const value = new Date(date);
  if (Number.isNaN(value.getTime())) return '';
  const today = new Date();
  const sameDay = value.toDateString() === today.toDateString();
  const options = sameDay ? { hour: '2-digit', minute: '2-digit' }
    : { day: 'numeric', month: 'short', hour: '2-digit', minute: '2-digit' };
  return new Intl.DateTimeFormat(currentLang(), options).format(value);
}

export function historyPanel({ refreshWordsToday }) {
  let items = [];
  let query = '';
  let more = false;
  let generation = 0;
  let confirmingClear = false;
  let expanded = null; // the id whose word field is open
  const outcomes = new Map(); // id → the last outcome shown under that item: { text, kind }
  // The drawn row of each listed item. A change draws only the rows it touches, so a long
  // session of dictations adds and drops one row at a time instead of redrawing the list.
  const rows = new Map(); // id → element
  // How many items the list holds at most: a page, and another for each "Show older". A new
  // dictation beyond it pushes the oldest row out, which "Show older" brings back.
  let shown = pageSize;
  const empty = h('p', { class: 'empty muted' });

  const search = h('input', { type: 'search', class: 'field search', id: 'history-search',
    placeholder: t('searchPlaceholder'), oninput: () => { query = search.value.trim(); reload(); } });
  const list = h('div', { class: 'history-list', id: 'history-list' });
  const moreButton = h('button', { class: 'button wide', id: 'history-more', onclick: loadMore }, t('loadMore'));
  const clearArea = h('div', { class: 'clear-area' });
  const root = h('div', { class: 'history' }, search, list, moreButton, clearArea);

  // A listing answers for the query it was asked with; an answer to an older request is dropped.
  async function fetch(before) {
    const mine = ++generation;
    const args = { limit: pageSize };
    if (query) args.query = query;
    if (before) args.before = before;
    let page;
    try {
      page = await send('historyList', args);
    } catch {
      return null;
    }
    return mine === generation ? page : null;
  }

  async function reload() {
    const page = await fetch(null);
    if (!page) return;
    items = page;
    shown = pageSize;
    more = page.length >= pageSize;
    render();
  }

  async function loadMore() {
    if (items.length === 0) return;
    const page = await fetch(items[items.length - 1].date);
    if (!page) return;
    const known = new Set(items.map((item) => item.id));
    items = items.concat(page.filter((item) => !known.has(item.id)));
    shown = Math.max(shown + pageSize, items.length);
    more = page.length >= pageSize;
    render();
  }

  async function insertAgain(item, button) {
    button.disabled = true;
    let reply;
    try {
      reply = await send('historyInsertAgain', { id: item.id, which: 'clean' });
    } catch {
      button.disabled = false;
      return;
    }
    button.disabled = false;
    if (reply.kind === 'inserted') show(item, t('outcome_inserted'), 'ok');
    else if (reply.kind === 'copiedOnly') show(item, t('outcome_copiedOnly'), 'info');
    else show(item, t('outcome_refused', { reason: t('refuse_' + reply.reason) }), 'error');
  }

  // An outcome stays under its item until the next one, and goes by as a toast too.
  function show(item, text, kind) {
    outcomes.set(item.id, { text, kind });
    toast(text, kind === 'error' ? 'warn' : kind);
    redraw(item.id);
  }

  async function copy(item, which) {
    try {
      await send('historyCopy', { id: item.id, which });
    } catch {
      return;
    }
    show(item, t('copied'), 'ok');
  }

  async function remove(item) {
    try {
      await send('historyDelete', { id: item.id });
    } catch {
      return;
    }
    // The "historyRemoved" event removes it; an item that was already gone goes too.
    drop(item.id);
    refreshWordsToday();
  }

  async function addWord(item, word) {
    const trimmed = word.trim();
    const mark = settingsMark();
    let settings;
    try {
      settings = await send('historyAddWord', { word });
    } catch {
      return false;
    }
    adoptSettings(settings, mark);
    const added = settings.words.includes(trimmed);
    show(item, t(added ? 'wordAdded' : 'wordNotAdded', { word: trimmed }), added ? 'ok' : 'info');
    return added;
  }

  async function clearAll() {
    try {
      await send('historyClear');
    } catch {
      return;
    }
    confirmingClear = false;
    items = [];
    more = false;
    render();
    refreshWordsToday();
  }

  // Draws one row again, in place, after its outcome or its word field changed.
  function redraw(id) {
    const old = rows.get(id);
    const item = items.find((other) => other.id === id);
    if (!old || !item) return;
    const fresh = itemRow(item);
    rows.set(id, fresh);
    old.replaceWith(fresh);
  }

  // Takes one item out of the list and its row off the page.
  function drop(id) {
    const count = items.length;
    items = items.filter((item) => item.id !== id);
    outcomes.delete(id);
    if (expanded === id) expanded = null;
    if (items.length === count) return;
    const row = rows.get(id);
    rows.delete(id);
    if (row) row.remove();
    if (items.length === 0) render();
    else renderFooter();
  }

  function itemRow(item) {
    const actions = h('div', { class: 'item-actions' },
      h('button', { class: 'button small', dataset: { action: 'copy' }, onclick: () => copy(item, 'clean') }, t('copy')),
      h('button', { class: 'button small', dataset: { action: 'copyRaw' }, onclick: () => copy(item, 'raw') }, t('copyRaw')));
    const again = h('button', { class: 'button small primary', dataset: { action: 'insertAgain' } }, t('insertAgain'));
    again.addEventListener('click', () => insertAgain(item, again));
    actions.append(again,
      h('button', { class: 'button small', dataset: { action: 'addWord' }, onclick: () => {
        const before = expanded;
        expanded = expanded === item.id ? null : item.id;
        if (before !== null && before !== item.id) redraw(before);
        redraw(item.id);
      } }, t('addWord')),
      h('button', { class: 'button small danger', dataset: { action: 'delete' }, 'aria-label': t('delete'), onclick: () => remove(item) }, t('delete')));
    let wordForm = null;
    if (expanded === item.id) {
      const field = h('input', { type: 'text', class: 'field', placeholder: t('addWordPlaceholder'), dataset: { add: 'word' } });
      const selected = String(window.getSelection ? window.getSelection() : '').trim();
      field.value = selected && selected.length <= 64 ? selected : '';
      wordForm = h('form', { class: 'add-row', onsubmit: async (event) => {
        event.preventDefault();
        if (await addWord(item, field.value)) { expanded = null; redraw(item.id); }
      } }, field, h('button', { class: 'button', type: 'submit' }, t('add')));
      setTimeout(() => field.focus(), 0);
    }
    const tags = [];
    if (item.mode === 'edit') tags.push(t('modeEdit'));
    if (item.mode === 'verbatim') tags.push(t('modeVerbatim'));
    if (!item.inserted) tags.push(t('notInserted'));
    return h('article', { class: 'item card', dataset: { id: item.id } },
      h('header', { class: 'item-head' },
        h('span', { class: 'item-app' }, item.appName || '—'),
        tags.map((tag) => h('span', { class: 'tag' }, tag)),
        h('time', { class: 'item-time', datetime: item.date }, when(item.date))),
      h('p', { class: 'item-text' }, item.clean || item.raw),
      item.raw && item.raw !== item.clean ? h('p', { class: 'item-raw muted small' }, item.raw) : null,
      actions, wordForm,
      outcomes.has(item.id) ? h('p', { class: 'item-status status-' + outcomes.get(item.id).kind },
        outcomes.get(item.id).text) : null);
  }

  // Puts the rows of `items` on the page in order, keeping the rows already drawn.
  function render() {
    const wanted = new Set(items.map((item) => item.id));
    for (const [id, row] of rows) {
      if (!wanted.has(id)) {
        row.remove();
        rows.delete(id);
      }
    }
    for (const id of outcomes.keys()) if (!wanted.has(id)) outcomes.delete(id);
    if (items.length === 0) {
      empty.textContent = query ? t('historyNoMatch') : t('historyEmpty');
      fill(list, empty);
    } else {
      empty.remove();
      let next = list.firstChild;
      for (const item of items) {
        let row = rows.get(item.id);
        if (!row) {
          row = itemRow(item);
          rows.set(item.id, row);
        }
        if (row === next) next = next.nextSibling;
        else list.insertBefore(row, next);
      }
    }
    renderFooter();
  }

  function renderFooter() {
    moreButton.hidden = !more;
    if (items.length === 0 && !query) {
      fill(clearArea);
    } else if (confirmingClear) {
      fill(clearArea, h('span', { class: 'small' }, t('clearConfirm')),
        h('button', { class: 'button small danger', id: 'history-clear-yes', onclick: clearAll }, t('clearHistory')),
        h('button', { class: 'button small', onclick: () => { confirmingClear = false; renderFooter(); } }, t('cancel')));
    } else {
      fill(clearArea, h('button', { class: 'link danger-text', id: 'history-clear', onclick: () => { confirmingClear = true; renderFooter(); } }, t('clearHistory')));
    }
  }

  on('historyAdded', (event) => {
    const item = event.item;
    if (!item || items.some((other) => other.id === item.id)) return;
    if (matches(item, query)) {
      items.unshift(item);
      const row = itemRow(item);
      rows.set(item.id, row);
      empty.remove();
      list.prepend(row);
      while (items.length > shown) {
        drop(items[items.length - 1].id);
        more = true;
      }
      renderFooter();
    }
    refreshWordsToday();
  });
  on('historyRemoved', (event) => {
    drop(event.id);
    refreshWordsToday();
  });
  on('historyCleared', () => {
    items = [];
    more = false;
    render();
    refreshWordsToday();
  });

  render();
  return { element: root, reload };
}
