// The page's layout beyond the app window's default: long error texts and codes stay
// inside their card, the top bar holds at browser zoom and in narrow windows, and lines
// break between words only.

import assert from "node:assert/strict";
import { test } from "node:test";

import { BASE, VIEWPORT, boxes, checkOnlyFontAborted, startSession, visible, waitFor, waitText } from "./harness.mjs";

// A browser zoom of z lays the page out in a window of VIEWPORT / z CSS pixels.
const SIZES = [
  { name: "app window", width: VIEWPORT.width, height: VIEWPORT.height },
  { name: "150 % zoom", width: Math.floor(VIEWPORT.width / 1.5), height: Math.floor(VIEWPORT.height / 1.5) },
  { name: "200 % zoom", width: VIEWPORT.width / 2, height: VIEWPORT.height / 2 },
  { name: "360 px wide", width: 360, height: VIEWPORT.height },
  { name: "300 px wide", width: 300, height: VIEWPORT.height },
];

// An error page as a proxy in front of the service sends it: minified, with an inline
// icon whose data is one long run without a break opportunity.
const ALNUM = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const ICON_DATA = "iVBORw0KGgoAAAANSUhEUgAAACAAAAAgCAYAAABzenr0AAAA" +
  Array.from({ length: 600 }, (_, i) => ALNUM[(i * 37 + (i >> 3)) % ALNUM.length]).join("");
const HTML_ERROR = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>413 Request Entity Too Large</title>" +
  `<link rel="icon" href="data:image/png;base64,${ICON_DATA}">` +
  "<style>html,body{margin:0;padding:0;background:#f8fafc;color:#0f172a;font-family:-apple-system,BlinkMacSystemFont," +
  "Roboto,Arial,sans-serif}.box{max-width:640px;margin:64px auto;padding:24px;border:1px solid #e2e8f0;" +
  "border-radius:12px;background:#ffffff}.box>h1{font-size:22px;margin:0 0 12px}.box>p{line-height:1.5;margin:0}" +
  "</style></head><body><div class=\"box\"><h1>413 Request Entity Too Large</h1><p>The request body exceeds the limit." +
  "</p></div><hr><center>nginx</center></body></html>" + "<!-- a padding to disable MSIE and Chrome friendly error page -->\n".repeat(20);
const LONG_DETAIL = "업로드 경로를 만들 수 없습니다: /srv/vano/storage/2026/12/11/" + "a1b2c3d4e5f6".repeat(12) + "/incoming.part";
const LONG_CODE = "Quarterly_Financial_Report_FY2024_Q4_final_revised_v3_approved";

// The page's width beside the window's, and whether `selector` lies inside `container`.
async function widths(page, selector, container) {
  return page.evaluate(([sel, box]) => {
    const inner = document.querySelector(sel).getBoundingClientRect();
    const outer = document.querySelector(box).getBoundingClientRect();
    return { scroll: document.documentElement.scrollWidth, window: window.innerWidth,
      inside: inner.left >= outer.left - 0.5 && inner.right <= outer.right + 0.5 };
  }, [selector, container]);
}

async function atSize(page, size) {
  await page.setViewportSize({ width: size.width, height: size.height });
  await page.waitForFunction((w) => window.innerWidth === w, size.width);
}

test("error texts from the service stay inside their card, on the login and the share screen", async (t) => {
  const cases = [
    { name: "an HTML error page", reply: { status: 413, text: HTML_ERROR, headers: { "Content-Type": "text/html" } } },
    { name: "a long detail", reply: { status: 500, json: { detail: LONG_DETAIL } }, shown: "⚠️ " + LONG_DETAIL },
  ];
  const s = await startSession(t, {
    config: {},
    files: { "계약서.pdf": "%PDF-1.4 contract" },
    script: {
      "POST /api/desktop/auth": [...cases.map((c) => c.reply), { json: { api_key: "k", username: "qa" } }],
      "POST /api/upload-document": cases.map((c) => c.reply),
    },
  });
  const { page } = s;
  await page.locator("#login-view").waitFor({ state: "visible" });
  for (const c of cases) {
    await page.fill("#login-id", "qa");
    await page.fill("#login-pw", "pw");
    const answered = page.waitForResponse((r) => r.url().includes("/api/local/login"));
    await page.click("#login-submit-btn");
    await answered;
    await page.locator("#login-err").waitFor({ state: "visible" });
    if (c.shown) await waitText(page, "#login-err", c.shown);
    assert.deepEqual(await widths(page, "#login-err", "#login-view"), { scroll: 490, window: 490, inside: true },
      "login: " + c.name);
  }
  await page.fill("#login-pw", "pw");
  await page.click("#login-submit-btn");
  await page.locator("#duvid-view").waitFor({ state: "visible" });

  s.shell.answerPick(false, [s.file("계약서.pdf")]);
  await page.click("#pick-file-btn");
  await waitText(page, "#target-name", "계약서.pdf");
  for (const c of cases) {
    await waitFor("the start button", () => page.$eval("#start-upload-btn", (b) => !b.disabled));
    const uploads = s.service.requests("POST /api/upload-document").length;
    await page.click("#start-upload-btn");
    await waitFor("the upload", () => s.service.requests("POST /api/upload-document").length > uploads);
    await page.locator("#duvid-view").waitFor({ state: "visible" });
    await page.locator("#duvid-err").waitFor({ state: "visible" });
    if (c.shown) await waitText(page, "#duvid-err", c.shown);
    assert.deepEqual(await widths(page, "#duvid-err", "#duvid-view"), { scroll: 490, window: 490, inside: true },
      "share: " + c.name);
  }
  await checkOnlyFontAborted(assert, s);
});

test("at browser zoom and in narrow windows the top bar keeps the account and its link, nothing scrolls sideways", async (t) => {
  const s = await startSession(t, {
    config: {},
    files: { "보고.pdf": "%PDF-1.4 report" },
    script: { "POST /api/desktop/auth": { json: { api_key: "k", username: "qa", org_name: "QA팀" } } },
  });
  const { page } = s;
  await page.locator("#login-view").waitFor({ state: "visible" });
  for (const size of SIZES) {
    await atSize(page, size);
    const w = await widths(page, "#login-submit-btn", "#login-view");
    assert.deepEqual(w, { scroll: size.width, window: size.width, inside: true }, "login: " + size.name);
  }
  await atSize(page, SIZES[0]);
  await page.fill("#login-id", "qa");
  await page.fill("#login-pw", "pw");
  await page.click("#login-submit-btn");
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  await waitText(page, "#acct-label", "🏛️ QA팀");
  s.shell.answerPick(false, [s.file("보고.pdf")]);
  await page.click("#pick-file-btn");
  await waitText(page, "#code-status", `✓ 사용 가능: ${BASE}/보고`);
  await page.fill("#custom-code", LONG_CODE);
  await waitText(page, "#code-status", `✓ 사용 가능: ${BASE}/${LONG_CODE}`);

  for (const size of SIZES) {
    await atSize(page, size);
    const [bar, pill, link, label, title] = await boxes(page, [".topbar", "#acct-badge", "#logout-btn", "#acct-label",
      ".brand-title"]);
    const where = `${size.name}: bar ${bar.left}..${bar.right}, pill ${pill.left}..${pill.right}, link ${link.left}..${link.right}`;
    assert.ok(link.left >= bar.left && link.right <= bar.right && link.bottom <= bar.bottom, where);
    assert.ok(link.right <= pill.right && link.left >= pill.left, where);
    // "QA팀" is short: the pill shows it whole at every size.
    const cut = await page.$eval("#acct-label", (n) => n.scrollWidth > n.clientWidth);
    assert.equal(cut, false, size.name + ": the account name is cut");
    assert.ok(label.width > 0 && title.width > 0, size.name);
    assert.ok(await visible(page, "#logout-btn"), size.name);
    const status = await widths(page, "#code-status", "#duvid-view");
    assert.deepEqual(status, { scroll: size.width, window: size.width, inside: true }, size.name + ": code line");
  }
  await checkOnlyFontAborted(assert, s);
});

// Where each line of the element's text starts, by the characters' boxes: the index of
// every character that sits lower than the one before it.
async function lineStarts(page, selector) {
  return page.$eval(selector, (node) => {
    const walker = document.createTreeWalker(node, NodeFilter.SHOW_TEXT);
    const chars = [];
    for (let text = walker.nextNode(); text; text = walker.nextNode()) {
      for (let i = 0; i < text.data.length; i++) {
        const range = document.createRange();
        range.setStart(text, i);
        range.setEnd(text, i + 1);
        const rect = range.getClientRects()[0];
        chars.push({ ch: text.data[i], top: rect ? rect.top : null });
      }
    }
    const starts = [];
    let lastTop = null;
    chars.forEach((c, i) => {
      if (c.top === null || /\s/.test(c.ch)) return;
      if (lastTop !== null && c.top > lastTop + 1) starts.push(i);
      lastTop = c.top;
    });
    return { text: chars.map((c) => c.ch).join(""), starts };
  });
}

// The words around each line break that follows neither a blank nor the middle dot that
// joins two words ("동영상·오디오").
function brokenWords({ text, starts }) {
  return starts.filter((i) => !/[\s·]/.test(text[i - 1])).map((i) => text.slice(Math.max(0, i - 4), i) + "|" + text.slice(i, i + 4));
}

test("lines of Korean text break between words; the product name stays on one line", async (t) => {
  const s = await startSession(t, {
    config: { api_key: "page-key", username: "qa" },
  });
  const { page } = s;
  const media = s.scratch.sparse("files/발표 녹화.mp4", 600 * 1024 * 1024);
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  s.shell.answerPick(false, [media]);
  await page.click("#pick-file-btn");
  await page.locator("#large-media-3d-banner").waitFor({ state: "visible" });

  const widthsToTry = [VIEWPORT.width, 460, 420, 400, 380, 360, 340, 320, 300, VIEWPORT.width / 2];
  for (const width of widthsToTry) {
    await atSize(page, { width, height: VIEWPORT.height });
    const banner = await lineStarts(page, "#large-media-3d-banner");
    assert.deepEqual(brokenWords(banner), [], `banner at ${width} px`);
    const footer = await lineStarts(page, ".footer");
    assert.deepEqual(brokenWords(footer), [], `footer at ${width} px`);
    const quillet = footer.text.lastIndexOf("Quillet");
    assert.equal(footer.starts.includes(quillet), false, `"VANO Quillet" split at ${width} px`);
  }
  await checkOnlyFontAborted(assert, s);
});
