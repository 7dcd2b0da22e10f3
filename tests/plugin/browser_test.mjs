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
function standIn(name, tail) {
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

async function withBrowser(extraEnv, body) {
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
    const worker = await target.worker();
    const page = await browser.newPage();
    await page.goto(`${origin}/page.html`);
    const tabId = await worker.evaluate(async (url) => {
      const tabs = await chrome.tabs.query({});
      return tabs.find((t) => t.url === url || t.pendingUrl === url)?.id ?? tabs[tabs.length - 1].id;
    }, page.url());
    await body({ worker, page, tabId });
  } finally {
    await browser.close();
  }
}

const results = [];
async function check(name, fn) {
  try {
    await fn();
    results.push(`ok   ${name}`);
  } catch (e) {
    results.push(`FAIL ${name}\n${e.stack}`);
  }
}

try {
  run("regsvr", ["/s", path.join(LIB, "libnavlet.so")]);
  for (const lib of ["libcorvanth.so", "libtessaline.so"]) run("regsvr", ["/s", path.join(LIB, lib)]);
  assert.ok(fs.existsSync(path.join(env.XDG_CONFIG_HOME, "chromium/NativeMessagingHosts/com.brindlecote.navlet.json")));

  await withBrowser({}, async ({ worker, page, tabId }) => {
    const recorder = standIn("recorder", "exit 0");
    setConverter(recorder.script);
    const pageUrl = page.url();

    await check("the button converts the page on display", async () => {
      const answer = await worker.evaluate((id, url) => navlet.onButton({ id, url }), tabId, pageUrl);
      assert.deepEqual(answer, { outcome: "converted", url: pageUrl, result: 0 });
      assert.deepEqual(recorder.calls().map((c) => c.args), [["/url", pageUrl]]);
      const badge = await worker.evaluate((id) => chrome.action.getBadgeText({ tabId: id }), tabId);
      assert.equal(badge, "OK");
    });

    await check("the menu entry converts the page it was opened on", async () => {
      const answer = await worker.evaluate((id, url) => navlet.onMenu({ menuItemId: navlet.MENU_ID, pageUrl: url }, { id }),
                                           tabId, pageUrl);
      assert.equal(answer.outcome, "converted");
      assert.equal(recorder.calls().length, 2);
      assert.ok(recorder.calls().every((c) => c.args.join(" ") === `/url ${pageUrl}`));
    });

    await check("an address with blanks arrives as one quoted argument", async () => {
      const url = `${origin}/a page with blanks.html`;
      const answer = await worker.evaluate((id, u) => navlet.convertAddress(u, id), tabId, url);
      assert.equal(answer.outcome, "converted");
      assert.ok(recorder.calls().some((c) => c.args.length === 2 && c.args[1] === url), JSON.stringify(recorder.calls()));
    });

    await check("addresses the converter must not get are refused and start nothing", async () => {
      const before = recorder.calls().length;
      for (const url of ["javascript:alert(1)", "chrome://settings/", `data:text/html,<p>x`]) {
        const answer = await worker.evaluate((id, u) => navlet.convertAddress(u, id), tabId, url);
        assert.equal(answer.outcome, "refused", url);
      }
      assert.equal(recorder.calls().length, before);
    });

    await check("presses at the same time each convert", async () => {
      const slow = standIn("slow", "sleep 1");
      setConverter(slow.script);
      const urls = [1, 2, 3].map((n) => `${origin}/page${n}.html`);
      const answers = await worker.evaluate((id, us) => Promise.all(us.map((u) => navlet.convertAddress(u, id))), tabId, urls);
      assert.deepEqual(answers.map((a) => a.outcome), ["converted", "converted", "converted"]);
      assert.deepEqual(slow.calls().map((c) => c.args[1]).sort(), urls);
    });

    await check("a failing converter's result code comes back", async () => {
      setConverter(standIn("failing", "exit 246").script);
      const answer = await worker.evaluate((id, url) => navlet.onButton({ id, url }), tabId, pageUrl);
      assert.deepEqual(answer, { outcome: "failed", url: pageUrl, result: -10 });
    });

    await check("the real converter writes the page as a PDF", async () => {
      setConverter(path.join(BIN, "vellumate"));
      const answer = await worker.evaluate((id, url) => navlet.onButton({ id, url }), tabId, pageUrl);
      assert.equal(answer.outcome, "converted", JSON.stringify(answer));
      const pdf = path.join(env.XDG_DOCUMENTS_DIR, "ConvertedDocument.pdf");
      assert.ok(fs.existsSync(pdf));
      assert.equal(fs.readFileSync(pdf).subarray(0, 5).toString(), "%PDF-");
    });
  });

  // The wait box answered with Abort as soon as the converter runs.
  await withBrowser({ VELLUMATE_MSGBOX_ANSWER: "abort" }, async ({ worker, page, tabId }) => {
    await check("abort ends the converter at once", async () => {
      // A converter that would run for a minute; it is known by its address.
      const sleeper = standIn("sleeper", "for i in $(seq 600); do sleep 0.1; done");
      setConverter(sleeper.script);
      const url = `${page.url()}?abort-${path.basename(tmp)}`;
      const answer = await worker.evaluate((id, u) => navlet.convertAddress(u, id), tabId, url);
      assert.equal(answer.outcome, "aborted");
      assert.deepEqual(processesWith(url), []);
    });
  });
} finally {
  server.close();
  fs.rmSync(tmp, { recursive: true, force: true });
}

console.log(results.join("\n"));
process.exit(results.some((r) => r.startsWith("FAIL")) ? 1 : 0);
