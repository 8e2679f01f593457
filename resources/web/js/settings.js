// The settings: every field of the settings record, each change sent as a patch and drawn
// from the settings the native side answers with.
import { on, send, request } from './bridge.js';
import { h, fill, setLiveText } from './dom.js';
import { holdKeySection } from './holdkey.js';
import { store, saveSettings, subscribe, update } from './store.js';
import { t } from './texts.js';
import { toast } from './toast.js';

const maxLanguages = 5;

// Texts compare as the native side compares them: under canonical equivalence.
function same(a, b) {
  return a.normalize('NFC') === b.normalize('NFC');
}

function save(patch) {
  return saveSettings(patch).catch(() => undefined);
}

function section(id, title, hint, ...body) {
  return h('section', { class: 'section', id: 'section-' + id },
    h('h2', { class: 'section-title' }, title),
    hint ? h('p', { class: 'muted small' }, hint) : null,
    ...body);
}

function segmented(name, options, label) {
  const group = h('div', { class: 'segmented', role: 'radiogroup', dataset: { setting: name } });
  return {
    element: group,
    render(value) {
      fill(group, options.map((option) => h('button', {
        class: 'segment' + (option === value ? ' selected' : ''),
        role: 'radio', 'aria-checked': option === value ? 'true' : 'false',
        dataset: { value: option },
        onclick: () => save({ [name]: option }),
      }, label(option))));
    },
  };
}

function toggle(name, title, hint) {
  const input = h('input', { type: 'checkbox', role: 'switch', dataset: { setting: name },
    onchange: () => save({ [name]: input.checked }).then(render) });
  const element = h('label', { class: 'toggle-row' },
    h('span', { class: 'toggle-text' }, h('span', {}, title), hint ? h('span', { class: 'muted small' }, hint) : null),
    input, h('span', { class: 'switch', 'aria-hidden': 'true' }));
  function render() {
    if (store.settings) input.checked = !!store.settings[name];
  }
  return { element, render };
}

// A list of removable chips with a field that adds one more.
function chipList({ name, placeholder, empty, accept, limit }) {
  const chips = h('div', { class: 'chips', dataset: { list: name } });
  const field = h('input', { type: 'text', class: 'field', placeholder, dataset: { add: name } });
  const form = h('form', { class: 'add-row', onsubmit: (event) => { event.preventDefault(); add(); } },
    field, h('button', { class: 'button', type: 'submit' }, t('add')));
  async function add() {
    const value = accept(field.value);
    if (value === null) return;
    const list = store.settings[name];
    if (list.length >= limit) return;
    const settings = await save({ [name]: [...list, value] });
    if (!settings) return;
    // The native side drops what breaks a limit, so only what it kept counts as added.
    if (settings[name].some((kept) => same(kept, value))) field.value = '';
    else toast(t('notKept', { value }), 'error');
  }
  function render() {
    const list = store.settings ? store.settings[name] : [];
    fill(chips, list.length === 0 ? h('span', { class: 'muted small' }, empty) : list.map((item, index) =>
      h('span', { class: 'chip' }, h('span', { class: 'chip-text' }, item),
        h('button', { class: 'chip-remove', 'aria-label': t('remove'), title: t('remove'),
          onclick: () => save({ [name]: list.filter((_, i) => i !== index) }) }, '×'))));
    form.hidden = list.length >= limit;
  }
  return { element: h('div', {}, chips, form), render };
}

function replacementsEditor() {
  const rows = h('div', { class: 'rules', dataset: { list: 'replacements' } });
  const from = h('input', { type: 'text', class: 'field', placeholder: t('fromPlaceholder'), dataset: { add: 'from' } });
  const to = h('input', { type: 'text', class: 'field', placeholder: t('toPlaceholder'), dataset: { add: 'to' } });
  const form = h('form', { class: 'add-row rule-add', onsubmit: async (event) => {
    event.preventDefault();
    if (!from.value.trim()) return;
    const rule = { from: from.value, to: to.value };
    const settings = await save({ replacements: [...store.settings.replacements, rule] });
    if (!settings) return;
    if (settings.replacements.some((kept) => same(kept.from, rule.from) && same(kept.to, rule.to))) {
      from.value = '';
      to.value = '';
    } else {
      toast(t('notKept', { value: rule.from }), 'error');
    }
  } }, from, h('span', { class: 'arrow' }, '→'), to, h('button', { class: 'button', type: 'submit' }, t('add')));
  function render() {
    const list = store.settings ? store.settings.replacements : [];
    fill(rows, list.length === 0 ? h('span', { class: 'muted small' }, t('noReplacements')) : list.map((rule, index) =>
      h('div', { class: 'rule' },
        h('span', { class: 'rule-from' }, rule.from), h('span', { class: 'arrow' }, '→'),
        h('span', { class: 'rule-to' }, rule.to || '∅'),
        h('button', { class: 'chip-remove', 'aria-label': t('remove'), title: t('remove'),
          onclick: () => save({ replacements: list.filter((_, i) => i !== index) }) }, '×'))));
  }
  return { element: h('div', {}, rows, form), render };
}

function microphoneSection() {
  const select = h('select', { class: 'field', id: 'microphone', onchange: () =>
    save({ microphoneID: select.value === '' ? null : select.value }).then(render) });
  const meter = h('div', { class: 'meter', hidden: true }, h('div', { class: 'meter-fill' }));
  const reason = h('div', { class: 'small muted', id: 'mic-reason', 'aria-live': 'polite' });
  let testing = false;
  const button = h('button', { class: 'button', id: 'mic-test', onclick: () => setTest(!testing) });

  async function setTest(wanted) {
    try {
      await send('micTest', { on: wanted });
    } catch {
      return;
    }
    testing = wanted;
    if (!wanted) setLiveText(reason, '');
    render();
  }
  on('micLevel', (event) => {
    if (!testing) return;
    const level = Math.max(0, Math.min(1, Number(event.level) || 0));
    meter.firstChild.style.width = Math.round(level * 100) + '%';
    setLiveText(reason, event.reason ? t('mic_' + event.reason) : t('micHearing'));
    reason.classList.toggle('warn-text', !!event.reason);
  });
  on('hidden', () => { if (testing) setTest(false); });

  function render() {
    const current = store.settings ? store.settings.microphoneID : null;
    const options = [h('option', { value: '' }, t('micAutomatic'))];
    let known = current === null;
    for (const mic of store.microphones) {
      options.push(h('option', { value: mic.id }, mic.name));
      if (mic.id === current) known = true;
    }
    // A chosen device that is not connected now stays chosen and shown.
    if (!known) options.push(h('option', { value: current }, current));
    fill(select, options);
    select.value = current ?? '';
    button.textContent = testing ? t('micTestStop') : t('micTest');
    button.classList.toggle('live', testing);
    meter.hidden = !testing;
  }
  return { element: h('div', {}, h('div', { class: 'add-row' }, select, button), meter, reason), render };
}

function pillSpotGrid() {
  const grid = h('div', { class: 'spot-grid', role: 'radiogroup', 'aria-label': t('pillSpot') });
  const spots = ['tl', 'tc', 'tr', 'ml', null, 'mr', 'bl', 'bc', 'br'];
  function render() {
    const value = store.settings ? store.settings.pillSpot : null;
    fill(grid, spots.map((spot) => spot === null ? h('span', { class: 'spot-none' }) :
      h('button', { class: 'spot' + (spot === value ? ' selected' : ''), role: 'radio',
        'aria-checked': spot === value ? 'true' : 'false', title: t('spot_' + spot), 'aria-label': t('spot_' + spot),
        dataset: { spot }, onclick: () => save({ pillSpot: spot }) }, h('span', { class: 'spot-dot' }))));
  }
  return { element: grid, render };
}

export function settingsPanel() {
  const languages = chipList({
    name: 'languages', placeholder: t('languagePlaceholder'), empty: '', limit: maxLanguages,
    accept: (text) => {
      const tag = text.trim().toLowerCase();
      if (!/^[a-z]{2,3}$/.test(tag)) { toast(t('badLanguage'), 'error'); return null; }
      return tag;
    },
  });
  const words = chipList({
    name: 'words', placeholder: t('wordPlaceholder'), empty: t('noWords'), limit: 500,
    accept: (text) => (text.trim() ? text.trim() : null),
  });
  const replacements = replacementsEditor();
  const mode = segmented('textMode', ['clean', 'verbatim'], (m) => t('mode_' + m));
  const modeHint = h('p', { class: 'muted small' });
  const microphone = microphoneSection();
  const toggles = [
    toggle('sounds', t('sounds'), t('soundsHint')),
    toggle('duckMusic', t('duckMusic')),
    toggle('sendContext', t('sendContext'), t('sendContextHint')),
  ];
  const consent = toggle('cloudConsent', t('cloudConsent'), t('cloudConsentHint'));
  const noCloud = h('p', { class: 'muted small' }, t('cloudNotConfigured'));
  const spot = pillSpotGrid();
  const idle = toggle('pillIdle', t('pillIdle'));
  const theme = segmented('theme', ['auto', 'light', 'dark'], (v) => t('theme_' + v));
  const version = h('p', { class: 'muted small version' });

  const panel = h('div', { class: 'settings' },
    section('key', t('sectionKey'), null, holdKeySection()),
    section('languages', t('sectionLanguages'), t('languagesHint'), languages.element),
    section('mode', t('sectionMode'), null, mode.element, modeHint),
    section('words', t('sectionWords'), t('wordsHint'), words.element),
    section('replacements', t('sectionReplacements'), t('replacementsHint'), replacements.element),
    section('microphone', t('sectionMicrophone'), null, microphone.element),
    section('behaviour', t('sectionBehaviour'), null, toggles.map((x) => x.element), consent.element, noCloud),
    section('pill', t('sectionPill'), null, h('div', { class: 'pill-row' },
      h('div', {}, h('div', { class: 'small' }, t('pillSpot')), spot.element)), idle.element),
    section('theme', t('sectionTheme'), null, theme.element),
    version);

  function render() {
    const settings = store.settings;
    if (!settings) return;
    languages.render();
    words.render();
    replacements.render();
    mode.render(settings.textMode);
    modeHint.textContent = t('modeHint_' + settings.textMode);
    microphone.render();
    for (const item of toggles) item.render();
    consent.render();
    consent.element.hidden = !store.cloudConfigured;
    noCloud.hidden = store.cloudConfigured;
    spot.render();
    idle.render();
    theme.render(settings.theme);
    version.textContent = t('version', { v: store.version });
  }
  subscribe((changes) => {
    if (['settings', 'microphones', 'cloudConfigured', 'version'].some((key) => key in changes)) render();
  });
  render();
  return panel;
}

// Asks for the fn key's action again; the hold-key hint follows it.
export async function refreshFnAction() {
  const action = await request('fnAction');
  if (action) update({ fnAction: action });
}
