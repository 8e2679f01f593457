// The pages' one channel to the native side: commands go out through the message handler
// "tlv" and come back as a promise of the reply; pushed events arrive through window.__tlvEmit.

const listeners = new Map();
const failureListeners = [];

// Tells `listener` about every command that failed, with the command's name and the error text.
export function onFailure(listener) {
  failureListeners.push(listener);
}

function reportFailure(cmd, text) {
  for (const listener of failureListeners) listener(cmd, text);
}

// Sends one command and resolves with its reply value. A failure rejects with an Error whose
// message is the native side's error text, after every failure listener has been told, so a
// caller that only needs the value may let the rejection go: the text is already on screen.
export function send(cmd, args) {
  const handlers = window.webkit && window.webkit.messageHandlers;
  const handler = handlers && handlers.tlv;
  let reply;
  if (!handler) {
    reply = Promise.reject(new Error('no connection to the application'));
  } else {
    const message = args === undefined ? { cmd } : { cmd, args };
    try {
      reply = Promise.resolve(handler.postMessage(message));
    } catch (error) {
      reply = Promise.reject(error);
    }
  }
  return reply.catch((error) => {
    const text = String((error && error.message) || error || 'unknown error');
    reportFailure(cmd, text);
    throw new Error(text);
  });
}

// Like send(), but a failure resolves with undefined: the failure listeners show it.
export function request(cmd, args) {
  return send(cmd, args).catch(() => undefined);
}

// Calls `listener` with every pushed event of that type.
export function on(type, listener) {
  if (!listeners.has(type)) listeners.set(type, []);
  listeners.get(type).push(listener);
}

window.__tlvEmit = function (event) {
  if (!event || typeof event.type !== 'string') return;
  for (const listener of listeners.get(event.type) || []) {
    try {
      listener(event);
    } catch (error) {
      reportFailure(event.type, String((error && error.message) || error));
    }
  }
};
