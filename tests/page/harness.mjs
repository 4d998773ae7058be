// Shared set-up of the browser tests: a scratch folder, the stand-in service, the stand-in
// shell programs, the program in --stdio-port mode and headless Chromium at the app
// window's size, allowed to reach 127.0.0.1 only.

import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

export const SOURCE_DIR = process.env.VANO_SOURCE_DIR ||
  path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
export const CHROMIUM = process.env.VANO_CHROMIUM || "/usr/bin/chromium";
export const VIEWPORT = { width: 490, height: 730 };
// Generous: a condition on a machine with every core busy.
export const WAIT_MS = 60_000;
export const BASE = "https://share.vano.example";

let chromium;
try {
  ({ chromium } = await import("playwright-core"));
} catch (e) {
  throw new Error("playwright-core is missing: run scripts/setup.sh (" + e.message + ")");
}

// Polls `probe` until it gives a truthy value, which it returns; fails after `ms`.
export async function waitFor(what, probe, ms = WAIT_MS) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > deadline) throw new Error("timed out waiting for " + what);
    await new Promise((r) => setTimeout(r, 25));
  }
}

export class Scratch {
  constructor() {
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), "vano-page-"));
  }
  path(...parts) {
    return path.join(this.dir, ...parts);
  }
  // Writes a file (parents made as needed) and gives its path.
  put(rel, bytes) {
    const p = this.path(rel);
    fs.mkdirSync(path.dirname(p), { recursive: true });
    fs.writeFileSync(p, bytes);
    return p;
  }
  // A file of `size` bytes that takes no disk space.
  sparse(rel, size) {
    const p = this.put(rel, "");
    fs.truncateSync(p, size);
    return p;
  }
  remove() {
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

// tools/stand_in_service.py, driven through its work folder.
export class StandInService {
  constructor(work, extraArgs = []) {
    this.work = work;
    fs.mkdirSync(work, { recursive: true });
    const python = fs.existsSync("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    this.child = spawn(python, [path.join(SOURCE_DIR, "tools/stand_in_service.py"), "--quiet", "--dir", work,
      ...extraArgs], { stdio: "ignore" });
  }
  async ready() {
    this.port = await waitFor("the stand-in service's port", () => {
      try {
        return Number(fs.readFileSync(path.join(this.work, "port"), "utf8")) || 0;
      } catch {
        return 0;
      }
    });
    return this;
  }
  get url() {
    return "http://127.0.0.1:" + this.port;
  }
  // Replaces the scripted replies (written whole, by rename).
  script(routes) {
    const tmp = path.join(this.work, "script.json.tmp");
    fs.writeFileSync(tmp, JSON.stringify(routes));
    fs.renameSync(tmp, path.join(this.work, "script.json"));
  }
  requests(route) {
    let text = "";
    try {
      text = fs.readFileSync(path.join(this.work, "requests.jsonl"), "utf8");
    } catch {
      return [];
    }
    const all = text.split("\n").filter(Boolean).map((l) => JSON.parse(l));
    if (!route) return all;
    const [method, p] = route.split(" ");
    return all.filter((r) => r.method === method && r.path.split("?")[0] === p);
  }
  release(name) {
    fs.writeFileSync(path.join(this.work, name), "");
  }
  stop() {
    try {
      fs.writeFileSync(path.join(this.work, "stop"), "\n");
    } catch {
      // the folder is gone already, which ends the service too
    }
    if (this.child.exitCode === null && this.child.signalCode === null) this.child.kill("SIGTERM");
  }
}

// Stand-ins for reg, powershell and cmd, first on PATH for the Linux build. reg answers
// every query as registered; powershell's file and folder dialogs print what the test put
// into pick-files or pick-folder (nothing: a cancel), and its clipboard writes to clipboard
// (or fails, see failClipboard).
export class ShellStandIns {
  constructor(dir) {
    this.dir = dir;
    this.bin = path.join(dir, "bin");
    fs.mkdirSync(this.bin, { recursive: true });
    const q = (p) => "'" + p.replaceAll("'", "'\\''") + "'";
    const head = (name) => `#!/bin/sh\nprintf '%s\\n' "${name} $*" >> ${q(this.path("log"))}\n`;
    const scripts = {
      reg: "exit 0\n",
      cmd: "exit 0\n",
      powershell: `case "$*" in
  *FolderBrowserDialog*) cat ${q(this.path("pick-folder"))} 2>/dev/null ;;
  *OpenFileDialog*) cat ${q(this.path("pick-files"))} 2>/dev/null ;;
  *Set-Clipboard*) if [ -e ${q(this.path("clipboard-fails"))} ]; then cat > /dev/null; echo 'Access is denied' >&2; exit 1; fi
    cat > ${q(this.path("clipboard.tmp"))} && mv ${q(this.path("clipboard.tmp"))} ${q(this.path("clipboard"))} ;;
esac
exit 0
`,
    };
    for (const [name, body] of Object.entries(scripts)) {
      fs.writeFileSync(path.join(this.bin, name), head(name) + body, { mode: 0o755 });
    }
  }
  path(name) {
    return path.join(this.dir, name);
  }
  // What the next file dialog (folder false) or folder dialog (folder true) reports.
  answerPick(folder, paths) {
    fs.writeFileSync(this.path(folder ? "pick-folder" : "pick-files"), paths.map((p) => p + "\n").join(""));
  }
  // Whether the clipboard refuses the text, as Set-Clipboard does when it is denied access.
  failClipboard(fails) {
    if (fails) fs.writeFileSync(this.path("clipboard-fails"), "");
    else fs.rmSync(this.path("clipboard-fails"), { force: true });
  }
  clipboard() {
    try {
      return fs.readFileSync(this.path("clipboard"), "utf8");
    } catch {
      return null;
    }
  }
}

// The program in --stdio-port mode; `ready()` gives the page URL of its VANO_READY line.
export class Program {
  constructor(command, args, env, cwd) {
    this.child = spawn(command, args, { env, cwd, stdio: ["ignore", "pipe", "pipe"] });
    this.stdout = "";
    this.stderr = "";
    this.exit = new Promise((resolve) => this.child.on("exit", (code, signal) => resolve({ code, signal })));
    this.child.stdout.on("data", (d) => { this.stdout += d; });
    this.child.stderr.on("data", (d) => { this.stderr += d; });
  }
  async ready(ms = WAIT_MS) {
    let exited = null;
    this.exit.then((e) => { exited = e; });
    const line = await waitFor("the VANO_READY line", () => {
      if (exited) throw new Error("the program ended before it was ready: " + JSON.stringify(exited) + " " + this.stderr);
      const m = /^VANO_READY (http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]{32})\n/.exec(this.stdout);
      return m && m[1];
    }, ms);
    this.url = line;
    return line;
  }
  // The exit of the process within `ms`, or null.
  async waitExit(ms = WAIT_MS) {
    let timer;
    const late = new Promise((r) => { timer = setTimeout(() => r(null), ms); });
    try {
      return await Promise.race([this.exit, late]);
    } finally {
      clearTimeout(timer);
    }
  }
  // One call of the local API with the page's headers: the reply's JSON, or null. A POST
  // sends `body` (an empty object when not given).
  async api(method, route, body = {}) {
    const url = new URL(this.url);
    try {
      const reply = await fetch(url.origin + route, { method, body: method === "POST" ? JSON.stringify(body) : undefined,
        signal: AbortSignal.timeout(WAIT_MS),
        headers: { "X-Local-Token": url.searchParams.get("token"), "Content-Type": "application/json" } });
      return await reply.json();
    } catch {
      return null;
    }
  }
  // Hands paths over from outside, as a second process of the program does.
  async handOver(paths, replace = false) {
    return this.api("POST", "/api/local/add-paths", { paths, replace });
  }
  // Asks the program to end through its quit route (the only way to reach the Windows
  // program behind cmd); a failure is ignored.
  async quit() {
    if (this.url && this.child.exitCode === null && this.child.signalCode === null) await this.api("POST", "/api/local/quit");
  }
  kill() {
    if (this.child.exitCode === null && this.child.signalCode === null) this.child.kill("SIGKILL");
  }
}

// A saved configuration for the program's APPDATA folder.
export function writeConfig(appdata, fields) {
  const cfg = { server_url: "", api_key: "", username: "", org_name: "", admin_name: "", role: "", ...fields };
  const dir = path.join(appdata, "VANOQuillet");
  fs.mkdirSync(dir, { recursive: true });
  fs.writeFileSync(path.join(dir, "desktop_config.json"), JSON.stringify(cfg, null, 2));
}

export function readConfig(appdata) {
  return JSON.parse(fs.readFileSync(path.join(appdata, "VANOQuillet", "desktop_config.json"), "utf8"));
}

// The resolver rule keeps Chromium from looking up any name at all (a prefetch, a
// prediction), beside the routing below that aborts every request off 127.0.0.1.
const CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
  "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"];

// Headless Chromium with a fresh profile at the app window's size. Every request that is
// not to 127.0.0.1 (or a blob:/data: URL the page made) is aborted and listed in `aborted`;
// `requests` lists the page's calls to the local server as {method, path, at}.
export async function openBrowser(profileDir) {
  const context = await chromium.launchPersistentContext(profileDir, {
    executablePath: CHROMIUM,
    headless: true,
    args: CHROMIUM_FLAGS,
    viewport: VIEWPORT,
    acceptDownloads: true,
    timeout: WAIT_MS,
  });
  context.setDefaultTimeout(WAIT_MS);
  const aborted = [];
  const requests = [];
  await context.route("**/*", (route) => {
    const url = new URL(route.request().url());
    if (url.protocol === "blob:" || url.protocol === "data:" || url.hostname === "127.0.0.1") return route.continue();
    aborted.push(url.href);
    return route.abort();
  });
  context.on("request", (r) => {
    const url = new URL(r.url());
    if (url.hostname === "127.0.0.1") requests.push({ method: r.method(), path: url.pathname, at: Date.now() });
  });
  const page = context.pages()[0] || (await context.newPage());
  const consoleErrors = [];
  page.on("pageerror", (e) => consoleErrors.push(String(e)));
  return { context, page, aborted, requests, consoleErrors };
}

// The Windows path of a Unix path, as wine's Z: drive shows it.
export const winePath = (p) => "Z:" + p.replaceAll("/", "\\");

// One whole session: scratch folder, stand-in service, shell stand-ins (Linux build),
// configuration, program and browser. `config` holds the saved fields beside server_url
// (null: no saved file); `windows` runs the Windows exe under wine.
export async function startSession(t, { config = {}, paths = [], serviceArgs = [], script = null, windows = false,
  files = {} } = {}) {
  const scratch = new Scratch();
  const s = { scratch, cleanups: [] };
  t.after(async () => {
    for (const fn of s.cleanups.reverse()) {
      try {
        await fn();
      } catch {
        // keep cleaning up
      }
    }
    scratch.remove();
  });
  for (const [rel, bytes] of Object.entries(files)) scratch.put(path.join("files", rel), bytes);
  s.file = (rel) => scratch.path("files", rel);
  // Relative paths name files of `files`.
  paths = paths.map((p) => (path.isAbsolute(p) ? p : s.file(p)));

  s.service = new StandInService(scratch.path("service"), serviceArgs);
  s.cleanups.push(() => s.service.stop());
  await s.service.ready();
  if (script) s.service.script(script);

  s.appdata = scratch.path("appdata");
  if (config !== null) writeConfig(s.appdata, { server_url: s.service.url, ...config });
  for (const d of ["home", "tmp", "local"]) fs.mkdirSync(scratch.path(d), { recursive: true });

  let env = { ...process.env };
  let command;
  let args;
  if (windows) {
    // HOME stays: wine-run.sh finds the prefix through it when WINEPREFIX is not set.
    // Wine sets the profile folders of its first process from the prefix, whatever the
    // Unix environment says: a batch file sets them, and its child, the program, inherits
    // them. The batch file stays ASCII; the paths come as its arguments.
    const exe = process.env.VANO_WINDOWS_EXE || path.join(SOURCE_DIR, "build/windows/vano-duvid.exe");
    const vars = { APPDATA: s.appdata, LOCALAPPDATA: scratch.path("local"), TEMP: scratch.path("tmp"),
      TMP: scratch.path("tmp") };
    const batch = ["@echo off", ...Object.entries(vars).map(([k, v]) => `set "${k}=${winePath(v)}"`),
      `"${winePath(path.resolve(exe))}" --stdio-port %*`, ""].join("\r\n");
    scratch.put("start.cmd", batch);
    command = path.join(SOURCE_DIR, "cmake/wine-run.sh");
    args = ["cmd.exe", "/c", winePath(scratch.path("start.cmd")), ...paths.map(winePath)];
  } else {
    s.shell = new ShellStandIns(scratch.path("shell"));
    env = { ...env, APPDATA: s.appdata, HOME: scratch.path("home"), TMPDIR: scratch.path("tmp"),
      TMP: scratch.path("tmp"), TEMP: scratch.path("tmp"), PATH: s.shell.bin + ":" + (process.env.PATH || "") };
    delete env.LOCALAPPDATA;
    command = process.env.VANO_EXE || path.join(SOURCE_DIR, "build/linux/vano-duvid");
    args = ["--stdio-port", ...paths];
  }
  s.program = new Program(command, args, env, scratch.dir);
  s.cleanups.push(async () => {
    await s.program.quit();
    await s.program.waitExit(windows ? 30_000 : 10_000);
    s.program.kill();
    await s.program.waitExit(10_000);
  });
  s.url = await s.program.ready(windows ? 120_000 : WAIT_MS);
  // Nothing may reach the default service address: the program must have read the
  // configuration that points at the stand-in before the browser does anything.
  if (config !== null) {
    const state = await s.program.api("GET", "/api/local/state");
    if (state?.account?.server_url !== s.service.url) {
      throw new Error("the program did not read the test's configuration: " + JSON.stringify(state?.account));
    }
  }

  const browser = await openBrowser(scratch.path("profile"));
  s.cleanups.push(() => browser.context.close());
  Object.assign(s, browser);
  await s.page.goto(s.url);
  return s;
}

// Requests of the page to `p` (a path of the local API) since `since`.
export function countRequests(s, p, since = 0) {
  return s.requests.filter((r) => r.path === p && r.at >= since).length;
}

// Waits until `n` more heartbeats have gone out after `since` and gives the moment of the last.
export async function waitHeartbeats(s, n, since) {
  await waitFor(`${n} heartbeats`, () => countRequests(s, "/api/local/heartbeat", since) >= n, WAIT_MS + n * 3000);
  return s.requests.filter((r) => r.path === "/api/local/heartbeat" && r.at >= since)[n - 1].at;
}

// The border boxes of elements, by CSS selector, as {top, bottom, left, right, width, height}.
export async function boxes(page, selectors) {
  return page.evaluate((sels) => sels.map((sel) => {
    const r = document.querySelector(sel).getBoundingClientRect();
    return { top: r.top, bottom: r.bottom, left: r.left, right: r.right, width: r.width, height: r.height };
  }), selectors);
}

// Waits until the element's text equals `text` (or matches it when a RegExp).
export async function waitText(page, selector, text) {
  await page.waitForFunction(([sel, src, flags, plain]) => {
    const node = document.querySelector(sel);
    if (!node) return false;
    const t = node.textContent;
    return plain !== null ? t === plain : new RegExp(src, flags).test(t);
  }, text instanceof RegExp ? [selector, text.source, text.flags, null] : [selector, "", "", text], { timeout: WAIT_MS });
}

export async function visible(page, selector) {
  return page.locator(selector).isVisible();
}

// The width and height of a PNG from its IHDR chunk; null when the bytes are no PNG.
export function pngSize(bytes) {
  const signature = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
  if (bytes.length < 24 || !bytes.subarray(0, 8).equals(signature) || bytes.toString("latin1", 12, 16) !== "IHDR") {
    return null;
  }
  return { width: bytes.readUInt32BE(16), height: bytes.readUInt32BE(20) };
}

// The page's one outside resource, the web-font style sheet, was asked for and aborted;
// nothing else left 127.0.0.1, and the script threw nothing.
export async function checkOnlyFontAborted(assert, s) {
  await waitFor("the web-font request", () => s.aborted.length > 0);
  assert.equal(s.aborted.length, 1, s.aborted.join("\n"));
  assert.match(s.aborted[0], /^https:\/\/[^/]+\/.*pretendard.*\.css$/i);
  assert.deepEqual(s.consoleErrors, []);
}

// Waits until the progress screen shows a figure strictly between 0 and 100.
export async function waitForFigureBetween(page) {
  await waitFor("a figure between 0 and 100", async () => {
    const pct = Number((await page.textContent("#prog-pct")).replace("%", ""));
    return pct > 0 && pct < 100;
  });
}

// Presses the done screen's save button and gives what the browser saved: the file name
// it offered, the PNG's size from its header, and the text zbarimg reads in the picture.
export async function saveQrPng(s) {
  const [download] = await Promise.all([s.page.waitForEvent("download"), s.page.click("#save-qr-btn")]);
  const file = s.scratch.path("saved-qr.png");
  await download.saveAs(file);
  const text = execFileSync("zbarimg", ["--quiet", "--raw", file], { encoding: "utf8", stdio: ["ignore", "pipe", "pipe"] });
  return { name: download.suggestedFilename(), size: pngSize(fs.readFileSync(file)), text: text.trim() };
}
