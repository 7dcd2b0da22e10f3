// The browser button: the toolbar button and the page menu entry send the
// address of the page on display to Vellumate's native-messaging host, which
// starts the converter and waits for it (with its own wait window). Each
// press has a connection (and a host) of its own, so presses may overlap.
// The outcome shows on the button: a badge and the button's tooltip.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const HOST = "com.brindlecote.navlet";
const MENU_ID = "navlet-convert";
const text = (name, ...args) => api.i18n.getMessage(name, args.map(String));

// Presses still waiting for their answer, per tab.
const running = new Map();

function icons(kind) {
  return { 16: `icons/${kind}-16.png`, 32: `icons/${kind}-32.png` };
}

function setBadge(tabId, badge, color, title) {
  if (tabId === undefined || tabId < 0) return;
  // The tab may be gone by the time an answer comes.
  const ignore = () => {};
  api.action.setBadgeText({ tabId, text: badge }).catch(ignore);
  if (color) api.action.setBadgeBackgroundColor({ tabId, color }).catch(ignore);
  api.action.setTitle({ tabId, title }).catch(ignore);
}

function describe(answer) {
  switch (answer.outcome) {
    case "converted": return text("converted");
    case "failed": return text("failed", answer.result);
    case "aborted": return text("aborted");
    case "notStarted": return text("notStarted");
    case "refused": return text("refused", answer.message ?? "");
    default: return answer.message ?? text("notStarted");
  }
}

function showOutcome(tabId, answer) {
  const left = (running.get(tabId) ?? 1) - 1;
  if (left > 0) {
    running.set(tabId, left);
  } else {
    running.delete(tabId);
  }
  if (left <= 0 && tabId !== undefined && tabId >= 0) api.action.setIcon({ tabId, path: icons("normal") }).catch(() => {});
  const ok = answer.outcome === "converted";
  setBadge(tabId, ok ? "OK" : answer.outcome === "aborted" ? "\u00d7" : "!", ok ? "#2e7d32" : "#c62828",
           describe(answer));
}

// Sends one address to the host; resolves with the host's answer (or an
// answer of ours when the host cannot be reached).
function convertAddress(url, tabId) {
  running.set(tabId, (running.get(tabId) ?? 0) + 1);
  setBadge(tabId, "\u2026", "#546e7a", text("converting"));
  if (tabId !== undefined && tabId >= 0) api.action.setIcon({ tabId, path: icons("hot") }).catch(() => {});
  const answer = new Promise((resolve) => {
    let port;
    try {
      port = api.runtime.connectNative(HOST);
    } catch (e) {
      resolve({ outcome: "error", message: text("noHost", e.message ?? e) });
      return;
    }
    let answered = false;
    port.onMessage.addListener((message) => {
      answered = true;
      port.disconnect();
      resolve(message && typeof message === "object" ? message : { outcome: "error" });
    });
    port.onDisconnect.addListener((p) => {
      if (answered) return;
      const why = p?.error?.message ?? api.runtime.lastError?.message ?? "";
      resolve({ outcome: "error", message: text("noHost", why) });
    });
    port.postMessage({ url });
  });
  return answer.then((a) => {
    showOutcome(tabId, a);
    return a;
  });
}

function onButton(tab) {
  return convertAddress(tab.url ?? "", tab.id);
}

function onMenu(info, tab) {
  if (info.menuItemId !== MENU_ID) return Promise.resolve(null);
  return convertAddress(info.pageUrl ?? tab?.url ?? "", tab?.id);
}

api.action.onClicked.addListener(onButton);
api.contextMenus.onClicked.addListener(onMenu);
api.runtime.onInstalled.addListener(() => {
  api.contextMenus.create({ id: MENU_ID, title: text("menuText"), contexts: ["page"] });
});

// For tests that reach the background script.
globalThis.navlet = { onButton, onMenu, convertAddress, MENU_ID };
