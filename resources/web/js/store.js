// What the pages know of the native side: the state from getState, kept current by the pushed
// events. Views subscribe and draw from it; nothing here is assumed before the native side
// said so.
import { on, send } from './bridge.js';
import { setLang } from './texts.js';

export const store = {
  settings: null,
  permissions: null,
  microphones: [],
  version: '',
  lang: 'en',
  cloudConfigured: false,
  wordsToday: 0,
  hasNotch: false,
  fnAction: 'unknown',
  // Whether a tray shows Talverin's icon; without one the pages say where Talverin is instead.
  trayHost: true,
};

const subscribers = new Set();

// How many "settings" events have arrived. The native side pushes the event before it answers
// the command that changed the settings, but the page may run the answer's continuation after a
// later event: settings in an answer are taken only when no event came since the command left.
let settingsEvents = 0;

export function settingsMark() {
  return settingsEvents;
}

// Takes settings from an answer to a command sent when settingsMark() was `mark`.
export function adoptSettings(settings, mark) {
  if (settings && mark === settingsEvents && !same(settings, store.settings)) update({ settings });
}

function same(a, b) {
  return JSON.stringify(a) === JSON.stringify(b);
}

export function subscribe(listener) {
  subscribers.add(listener);
  return () => subscribers.delete(listener);
}

export function update(changes) {
  Object.assign(store, changes);
  applyTheme();
  for (const listener of subscribers) listener(changes);
}

// The effective theme of the setting: "auto" follows the system's preference.
export function applyTheme() {
  const setting = store.settings ? store.settings.theme : window.__tlvTheme || 'auto';
  let theme = setting;
  if (setting !== 'light' && setting !== 'dark') {
    const light = window.matchMedia && window.matchMedia('(prefers-color-scheme: light)').matches;
    theme = light ? 'light' : 'dark';
  }
  if (document.documentElement.dataset.theme !== theme) document.documentElement.dataset.theme = theme;
}

if (window.matchMedia) {
  window.matchMedia('(prefers-color-scheme: light)').addEventListener('change', applyTheme);
}

// Asks for the whole state again; resolves true when it arrived.
export async function loadState() {
  const mark = settingsMark();
  const state = await send('getState');
  setLang(state.lang);
  adoptSettings(state.settings, mark);
  const fresh = {
    permissions: state.permissions,
    microphones: state.microphones || [],
    version: state.version,
    lang: state.lang,
    cloudConfigured: state.cloudConfigured,
    wordsToday: state.wordsToday,
    hasNotch: state.hasNotch,
    fnAction: state.fnAction,
    trayHost: state.trayHost !== false,
  };
  // Only what changed is told: the state is asked for again after every dictation, and views
  // draw again only for what they show.
  const changes = {};
  for (const [key, value] of Object.entries(fresh)) {
    if (!same(value, store[key])) changes[key] = value;
  }
  if (Object.keys(changes).length > 0) update(changes);
  return true;
}

// Changes settings: the view follows only the settings the native side answers with.
export async function saveSettings(patch) {
  const mark = settingsMark();
  const settings = await send('setSettings', patch);
  adoptSettings(settings, mark);
  return settings;
}

on('settings', (event) => {
  settingsEvents += 1;
  update({ settings: event.settings });
});
on('permissions', (event) => update({ permissions: event.permissions }));
on('microphones', (event) => update({ microphones: event.microphones || [] }));
