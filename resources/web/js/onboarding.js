// The onboarding window: welcome, permissions, the hold key with its test, a first dictation,
// cloud consent, done. The step reached is kept in the settings, so the window opens where the
// user left it.
import { on, send } from './bridge.js';
import { h, fill, setLiveText } from './dom.js';
import { holdKeySection, keyName } from './holdkey.js';
import { permissionList, refreshPermissions } from './permissions.js';
import { adoptSettings, loadState, settingsMark, store, saveSettings, subscribe } from './store.js';
import { t } from './texts.js';

export const firstStep = 1;
export const lastStep = 6;

export function showOnboarding(root, routeStep) {
  let step = firstStep;
  if (routeStep >= firstStep && routeStep <= lastStep) step = routeStep;
  else if (store.settings.onboardingStep >= firstStep) step = store.settings.onboardingStep;
  let moving = false;
  let keyDown = false;
  let keySeen = false;
  let tryResult = null;
  let finished = false;

  const nav = h('ol', { class: 'ob-nav' });
  const body = h('section', { class: 'ob-body', id: 'ob-body' });
  const footer = h('footer', { class: 'ob-footer' });
  const holdKey = holdKeySection();
  const permissions = permissionList();
  // The key test's result is a live region changed in place, so a screen reader announces it.
  const keyCap = h('span', { class: 'keycap big', 'aria-hidden': 'true' });
  const keyResult = h('span', { class: 'key-result', role: 'status', 'aria-atomic': 'true' });
  const keyTest = h('div', { class: 'key-test', id: 'key-test' }, keyCap, keyResult);
  const tryArea = h('div', { class: 'try', id: 'try-result', 'aria-live': 'polite' });
  const consentArea = h('div', { class: 'consent' });

  async function go(target) {
    if (moving) return;
    moving = true;
    try {
      await saveSettings({ onboardingStep: target });
      step = target;
      if (step === 2) refreshPermissions();
      // Whether a tray is there may have changed since the page loaded.
      if (step === lastStep) loadState().catch(() => {});
    } catch {
      /* the failure toast shows why; the step stays */
    } finally {
      moving = false;
      render();
    }
  }

  async function finish() {
    if (moving) return;
    moving = true;
    try {
      const mark = settingsMark();
      const settings = await send('finishOnboarding');
      adoptSettings(settings, mark);
      finished = true;
    } catch {
      /* shown by the failure toast */
    } finally {
      moving = false;
      render();
    }
  }

  function renderKeyTest() {
    keyCap.textContent = store.settings ? keyName(store.settings.holdKey) : '';
    keyCap.classList.toggle('down', keyDown);
    keyResult.className = 'key-result ' + (keySeen ? 'ok-text' : 'muted');
    const text = keyDown ? t('keyTestDown') : keySeen ? t('keyTestSeen') : t('keyTestIdle');
    setLiveText(keyResult, text);
  }

  function renderTry() {
    if (!tryResult) {
      fill(tryArea, h('p', { class: 'muted waiting' }, t('tryWaiting')));
      return;
    }
    const facts = [t('tryTime', { ms: tryResult.ms })];
    if (tryResult.wordsPerMinute !== undefined && tryResult.wordsPerMinute !== null)
      facts.push(t('tryRate', { wpm: tryResult.wordsPerMinute }));
    if (tryResult.offline) facts.push(t('tryOffline'));
    fill(tryArea, h('blockquote', { class: 'try-text' }, tryResult.text),
      tryResult.raw && tryResult.raw !== tryResult.text
        ? h('p', { class: 'small muted' }, t('tryRaw') + ': ' + tryResult.raw) : null,
      h('ul', { class: 'facts' }, facts.map((fact) => h('li', {}, fact))));
  }

  // Finishing the onboarding with a cloud service configured turns the cloud on: the step says
  // so before the user finishes, and the settings turn it off again.
  function renderConsent() {
    fill(consentArea, h('p', { class: 'note', id: 'consent-notice' },
      store.cloudConfigured ? t('consentNotice') : t('cloudNotConfigured')));
  }

  function stepContent() {
    switch (step) {
      case 2: return permissions;
      case 3: return [holdKey, keyTest];
      case 4: return tryArea;
      case 5: return consentArea;
      default: return null;
    }
  }

  // The last step says where Talverin lives: in the tray, or, where no tray shows its icon,
  // in its pill and in the window that starting it again opens.
  function bodyText() {
    if (step === lastStep && !store.trayHost) return t('obBody' + step + 'NoTray');
    return t('obBody' + step);
  }

  function render() {
    fill(nav, Array.from({ length: lastStep }, (_, i) => i + 1).map((n) =>
      h('li', { class: 'ob-nav-item' + (n === step ? ' current' : n < step ? ' done' : '') },
        h('span', { class: 'ob-nav-dot' }, String(n)), t('obNav' + n))));
    renderKeyTest();
    renderTry();
    renderConsent();
    fill(body, h('p', { class: 'ob-count muted small', id: 'ob-step', dataset: { step: String(step) } },
      t('obStep', { n: step, total: lastStep })),
    h('h1', { class: 'ob-title' }, t('obTitle' + step)),
    h('p', { class: 'ob-text', id: 'ob-text' }, bodyText()),
    h('div', { class: 'ob-step-content' }, stepContent()),
    finished ? h('p', { class: 'ok-text', id: 'ob-finished' }, t('finished')) : null);
    const back = step > firstStep
      ? h('button', { class: 'button', id: 'ob-back', disabled: moving, onclick: () => go(step - 1) }, t('back')) : h('span');
    const next = step < lastStep
      ? h('button', { class: 'button primary', id: 'ob-next', disabled: moving, onclick: () => go(step + 1) }, t('next'))
      : h('button', { class: 'button primary', id: 'ob-finish', disabled: moving || finished, onclick: finish }, t('finish'));
    fill(footer, back, next);
  }

  on('holdKey', (event) => {
    keyDown = !!event.down;
    if (keyDown) keySeen = true;
    renderKeyTest();
  });
  on('tryDictation', (event) => {
    tryResult = event.result;
    renderTry();
  });
  subscribe((changes) => {
    if (changes.settings || changes.cloudConfigured !== undefined) {
      renderKeyTest();
      renderConsent();
    }
    if (changes.trayHost !== undefined) {
      const text = document.getElementById('ob-text');
      if (text) text.textContent = bodyText();
    }
  });

  fill(root, h('div', { class: 'onboarding' },
    h('aside', { class: 'ob-side' }, h('div', { class: 'brand' }, h('span', { class: 'logo', 'aria-hidden': 'true' }), t('appName')), nav),
    h('div', { class: 'ob-main' }, body, footer)));
  render();
  if (step === 2) refreshPermissions();
  // The step shown is the step kept, so the try-it results reach this page at step 4.
  if (store.settings.onboardingStep !== step) go(step);
}
