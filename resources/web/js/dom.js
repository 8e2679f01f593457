// A small element builder: h('button', {class: 'x', onclick: f}, 'text', child, [more]).

export function h(tag, props, ...children) {
  const element = document.createElement(tag);
  for (const [key, value] of Object.entries(props || {})) {
    if (value === undefined || value === null || value === false) continue;
    if (key.startsWith('on') && typeof value === 'function') {
      element.addEventListener(key.slice(2), value);
    } else if (key === 'class') {
      element.className = value;
    } else if (key === 'dataset') {
      Object.assign(element.dataset, value);
    } else if (key === 'value' || key === 'checked' || key === 'disabled') {
      element[key] = value;
    } else {
      element.setAttribute(key, value === true ? '' : String(value));
    }
  }
  append(element, children);
  return element;
}

function append(element, children) {
  for (const child of children) {
    if (child === undefined || child === null || child === false) continue;
    if (Array.isArray(child)) append(element, child);
    else element.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
}

// Replaces the children of `element` with `children`.
export function fill(element, ...children) {
  element.replaceChildren();
  append(element, children);
  return element;
}

// Changes the words of a live region (role "status", or aria-live) so that a screen reader hears
// them: the words go into a new block child. WebKit announces a child added to a live region,
// but not a change of the text already in it.
export function setLiveText(element, text) {
  const current = element.firstElementChild;
  if (current && current.textContent === text) return;
  element.replaceChildren(text ? h('div', { class: 'live-text' }, text) : '');
}
