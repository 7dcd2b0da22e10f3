// The browser button end to end: Chromium (headless) with the extension
// loaded unpacked, a page served on 127.0.0.1, the button's and the menu's
// handlers called in the extension's background, the host started by the
// browser, and a converter that records how it was started (once the real
// one, which must leave a PDF). Every browser, server and converter this
// test starts is ended by it.
//
// Environment: VM_BIN and VM_LIB (the build's bin/ and lib/), VM_EXTENSION
// (the unpacked extension), CHROMIUM (default /usr/bin/chromium).
import puppeteer from "puppeteer-core";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";

const BIN = process.env.VM_BIN;
const LIB = process.env.VM_LIB;
const EXTENSION = process.env.VM_EXTENSION;
const CHROMIUM = process.env.CHROMIUM || "/usr/bin/chromium";
const FIREFOX = process.env.FIREFOX || "/usr/bin/firefox-esr";
// The browsers to test, from the command line: chromium, firefox or both.
const KINDS = process.argv.slice(2).length ? process.argv.slice(2) : ["chromium"];
const EXTENSION_ID = "jgcgcphgjpaojecbjjbeiohfmjndblph";

const tmp = fs.mkdtempSync(path.join(os.tmpdir(), "navlet-browser-"));
const home = path.join(tmp, "home");
const env = {
  ...process.env,
  HOME: home,
  XDG_CONFIG_HOME: path.join(home, ".config"),
  XDG_DOCUMENTS_DIR: path.join(home, "Documents"),
  VELLUMATE_REGISTRY: path.join(tmp, "registry"),
  VELLUMATE_UI: "none",
  VELLUMATE_MSGBOX_LOG: path.join(tmp, "boxes.jsonl"),
  VELLUMATE_PDF_DETERMINISTIC: "1",
};
delete env.VELLUMATE_MSGBOX_ANSWER;
fs.mkdirSync(env.VELLUMATE_REGISTRY, { recursive: true });
fs.mkdirSync(env.XDG_DOCUMENTS_DIR, { recursive: true });

const run = (program, args) => execFileSync(path.join(BIN, program), args, { env, stdio: ["ignore", "ignore", "inherit"] });
const setConverter = (p) =>
  run("reg", ["add", "HKCU\\Software\\Brindlecote\\Tessaline Plugin", "/v", "ConverterPath", "/d", p, "/f"]);

// A converter that records its arguments (one file per run, named by its
// process id) and then runs the shell words of `tail`.
function standIn(what, tail) {
  const name = `${kind}-${what}`;
  const calls = path.join(tmp, name);
  fs.mkdirSync(calls);
  const script = path.join(tmp, `${name} converter`);
  fs.writeFileSync(script, `#!/bin/sh\nprintf '%s\\n' "$@" > '${calls}/'$$\n${tail}\n`, { mode: 0o755 });
  return { script, calls: () => fs.readdirSync(calls).map((f) => ({ pid: Number(f), args: fs.readFileSync(path.join(calls, f), "utf8").split("\n").slice(0, -1) })) };
}

// Processes whose command line holds `text`.
function processesWith(text) {
  const found = [];
  for (const pid of fs.readdirSync("/proc").filter((f) => /^\d+$/.test(f))) {
    try {
      if (fs.readFileSync(`/proc/${pid}/cmdline`, "utf8").includes(text)) found.push(Number(pid));
    } catch {}
  }
  return found;
}

const server = http.createServer((req, res) => {
  res.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
  res.end(`<!doctype html><title>Button test</title><h1>Browser button</h1><p>Served as ${req.url}.</p>`);
});
await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
const origin = `http://127.0.0.1:${server.address().port}`;

// The extension's background as the checks use it: a call of one of its
// handlers, the button's badge text, and the id of the tab showing a page.
function chromiumBackground(worker) {
  return {
    call: (name, ...args) => worker.evaluate((n, a) => navlet[n](...a), name, args),
    badge: (tabId) => worker.evaluate((id) => chrome.action.getBadgeText({ tabId: id }), tabId),
    tabOf: (url) => worker.evaluate(async (u) => {
      const tabs = await chrome.tabs.query({});
      return tabs.find((t) => t.url === u || t.pendingUrl === u)?.id ?? tabs[tabs.length - 1].id;
    }, url),
  };
}

// Firefox's background is an event page; a page of the extension (added to
// a copy of it for the test only) reaches it.
function firefoxBackground(extensionPage) {
  return {
    call: (name, ...args) => extensionPage.evaluate(async (n, a) => {
      const bg = await browser.runtime.getBackgroundPage();
      return JSON.parse(JSON.stringify(await bg.navlet[n](...a)));
    }, name, args),
    badge: (tabId) => extensionPage.evaluate((id) => browser.action.getBadgeText({ tabId: id }), tabId),
    tabOf: (url) => extensionPage.evaluate(async (u) => {
      const tabs = await browser.tabs.query({});
      return tabs.find((t) => t.url === u)?.id ?? tabs[0].id;
    }, url),
  };
}

async function launchChromium(extraEnv) {
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    userDataDir: path.join(env.XDG_CONFIG_HOME, "chromium"),
    env: { ...env, ...extraEnv },
    ignoreDefaultArgs: ["--disable-extensions"],
    args: [
      "--no-sandbox",
      "--no-first-run",
      `--disable-extensions-except=${EXTENSION}`,
      `--load-extension=${EXTENSION}`,
    ],
  });
  try {
    const target = await browser.waitForTarget(
      (t) => t.type() === "service_worker" && t.url().startsWith(`chrome-extension://${EXTENSION_ID}/`),
      { timeout: 30000 });
    return { browser, background: chromiumBackground(await target.worker()) };
  } catch (e) {
    await browser.close();
    throw e;
  }
}

const GECKO_ID = "navlet@vellumate.invalid";
const GECKO_UUID = "5f1c7a3e-2b8d-4c6a-9e0f-7d3b1a2c4e5f";

async function launchFirefox(extraEnv) {
  // A copy of the extension with a page for the test.
  const copy = path.join(tmp, "firefox-extension");
  if (!fs.existsSync(copy)) {
    fs.cpSync(EXTENSION, copy, { recursive: true });
    fs.writeFileSync(path.join(copy, "test.html"), "<!doctype html><title>test</title>\n");
    // The page cannot be navigated to from outside; the background opens it.
    fs.writeFileSync(path.join(copy, "open_test_page.js"),
                     'browser.tabs.create({ url: browser.runtime.getURL("test.html") });\n');
    const manifest = JSON.parse(fs.readFileSync(path.join(copy, "manifest.json"), "utf8"));
    manifest.background.scripts.push("open_test_page.js");
    fs.writeFileSync(path.join(copy, "manifest.json"), JSON.stringify(manifest, null, 2));
  }
  const browser = await puppeteer.launch({
    browser: "firefox",
    executablePath: FIREFOX,
    headless: true,
    env: { ...env, ...extraEnv },
    extraPrefsFirefox: {
      "extensions.webextensions.uuids": JSON.stringify({ [GECKO_ID]: GECKO_UUID }),
    },
  });
  try {
    await browser.installExtension(copy);
    // The page's address is not reported for extension pages; it is asked.
    const wanted = `moz-extension://${GECKO_UUID}/test.html`;
    let extensionPage = null;
    for (let tries = 0; !extensionPage && tries < 300; ++tries) {
      for (const p of await browser.pages()) {
        const href = await p.evaluate(() => location.href).catch(() => "");
        if (href === wanted) extensionPage = p;
      }
      if (!extensionPage) await new Promise((resolve) => setTimeout(resolve, 100));
    }
    if (!extensionPage) throw new Error("the extension's test page did not open");
    return { browser, background: firefoxBackground(extensionPage) };
  } catch (e) {
    await browser.close();
    throw e;
  }
}

async function withBrowser(kind, extraEnv, body) {
  const { browser, background } = await (kind === "firefox" ? launchFirefox : launchChromium)(extraEnv);
  try {
    const page = await browser.newPage();
    await page.goto(`${origin}/page.html`);
    const tabId = await background.tabOf(page.url());
    await body({ background, page, tabId });
  } finally {
    await browser.close();
  }
}

const results = [];
let kind = "";
async function check(name, fn) {
  try {
    await fn();
    results.push(`ok   ${kind}: ${name}`);
  } catch (e) {
    results.push(`FAIL ${kind}: ${name}\n${e.stack}`);
  }
}

try {
  run("regsvr", ["/s", path.join(LIB, "libnavlet.so")]);
  for (const lib of ["libcorvanth.so", "libtessaline.so"]) run("regsvr", ["/s", path.join(LIB, lib)]);
  assert.ok(fs.existsSync(path.join(env.XDG_CONFIG_HOME, "chromium/NativeMessagingHosts/com.brindlecote.navlet.json")));

  for (kind of KINDS) try {
    // Each browser starts from an empty documents folder.
    fs.rmSync(env.XDG_DOCUMENTS_DIR, { recursive: true, force: true });
    fs.mkdirSync(env.XDG_DOCUMENTS_DIR, { recursive: true });
    await withBrowser(kind, {}, async ({ background, page, tabId }) => {
      const recorder = standIn("recorder", "exit 0");
      setConverter(recorder.script);
      const pageUrl = page.url();

      await check("the button converts the page on display", async () => {
        const answer = await background.call("onButton", { id: tabId, url: pageUrl });
        assert.deepEqual(answer, { outcome: "converted", url: pageUrl, result: 0 });
        assert.deepEqual(recorder.calls().map((c) => c.args), [["/url", pageUrl]]);
        const badge = await background.badge(tabId);
        assert.equal(badge, "OK");
      });

      await check("the menu entry converts the page it was opened on", async () => {
        const answer = await background.call("onMenu", { menuItemId: "navlet-convert", pageUrl }, { id: tabId });
        assert.equal(answer.outcome, "converted");
        assert.equal(recorder.calls().length, 2);
        assert.ok(recorder.calls().every((c) => c.args.join(" ") === `/url ${pageUrl}`));
      });

      await check("an address with blanks arrives as one quoted argument", async () => {
        const url = `${origin}/a page with blanks.html`;
        const answer = await background.call("convertAddress", url, tabId);
        assert.equal(answer.outcome, "converted");
        assert.ok(recorder.calls().some((c) => c.args.length === 2 && c.args[1] === url), JSON.stringify(recorder.calls()));
      });

      await check("addresses the converter must not get are refused and start nothing", async () => {
        const before = recorder.calls().length;
        for (const url of ["javascript:alert(1)", "chrome://settings/", `data:text/html,<p>x`]) {
          const answer = await background.call("convertAddress", url, tabId);
          assert.equal(answer.outcome, "refused", url);
        }
        assert.equal(recorder.calls().length, before);
      });

      await check("presses at the same time each convert", async () => {
        const slow = standIn("slow", "sleep 1");
        setConverter(slow.script);
        const urls = [1, 2, 3].map((n) => `${origin}/page${n}.html`);
        const answers = await Promise.all(urls.map((u) => background.call("convertAddress", u, tabId)));
        assert.deepEqual(answers.map((a) => a.outcome), ["converted", "converted", "converted"]);
        assert.deepEqual(slow.calls().map((c) => c.args[1]).sort(), urls);
      });

      await check("a failing converter's result code comes back", async () => {
        setConverter(standIn("failing", "exit 246").script);
        const answer = await background.call("onButton", { id: tabId, url: pageUrl });
        assert.deepEqual(answer, { outcome: "failed", url: pageUrl, result: -10 });
      });

      await check("the real converter writes the page as a PDF", async () => {
        setConverter(path.join(BIN, "vellumate"));
        const answer = await background.call("onButton", { id: tabId, url: pageUrl });
        assert.equal(answer.outcome, "converted", JSON.stringify(answer));
        const pdf = path.join(env.XDG_DOCUMENTS_DIR, "ConvertedDocument.pdf");
        assert.ok(fs.existsSync(pdf));
        assert.equal(fs.readFileSync(pdf).subarray(0, 5).toString(), "%PDF-");
      });
    });

    // The wait box answered with Abort as soon as the converter runs.
    await withBrowser(kind, { VELLUMATE_MSGBOX_ANSWER: "abort" }, async ({ background, page, tabId }) => {
      await check("abort ends the converter at once", async () => {
        // A converter that would run for a minute; it is known by its address.
        const sleeper = standIn("sleeper", "for i in $(seq 600); do sleep 0.1; done");
        setConverter(sleeper.script);
        const url = `${page.url()}?abort-${path.basename(tmp)}`;
        const answer = await background.call("convertAddress", url, tabId);
        assert.equal(answer.outcome, "aborted");
        assert.deepEqual(processesWith(url), []);
      });
    });
  } catch (e) {
    results.push(`FAIL ${kind}: the browser could not be driven\n${e.stack}`);
  }
} finally {
  server.close();
  fs.rmSync(tmp, { recursive: true, force: true });
}

console.log(results.join("\n"));
process.exit(results.some((r) => r.startsWith("FAIL")) ? 1 : 0);
