// The short-code check as the page shows it: a free suggested code, taken codes with and
// without the service's message and suggestions, and a suggestion chip that frees the
// start button again.

import assert from "node:assert/strict";
import { test } from "node:test";

import { BASE, checkOnlyFontAborted, startSession, waitText } from "./harness.mjs";

const free = { json: { available: true, message: "", suggestions: [] } };

test("a taken short code shows the service's message and suggestion chips, and blocks the start", async (t) => {
  const s = await startSession(t, {
    config: { api_key: "page-key", username: "qa" },
    files: { "주간회의.pdf": "%PDF-1.4 weekly" },
    paths: [],
    script: {
      "GET /api/check-code": [
        free,
        { json: { available: false } },
        { json: { available: false, message: "이미 다른 사용자가 사용 중입니다.", suggestions: ["회의_자료2", "회의자료_0412"] } },
        free,
      ],
    },
  });
  const { page } = s;
  s.shell.answerPick(false, [s.file("주간회의.pdf")]);
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  await page.click("#pick-file-btn");
  await waitText(page, "#code-status", `✓ 사용 가능: ${BASE}/주간회의`);
  const startDisabled = () => page.$eval("#start-upload-btn", (b) => b.disabled);
  const chips = () => page.$$eval("#code-suggestions .chip", (cs) => cs.map((c) => c.textContent));
  assert.equal(await startDisabled(), false);

  const cases = [
    { typed: "회의", code: "회의", status: "⚠️ 이미 사용 중인 단축 단어입니다.", chips: [] },
    { typed: "회의 자료", code: "회의_자료", status: "⚠️ 이미 다른 사용자가 사용 중입니다.",
      chips: ["회의_자료2", "회의자료_0412"] },
  ];
  for (const c of cases) {
    await page.fill("#custom-code", c.typed);
    assert.equal(await page.inputValue("#custom-code"), c.code, c.typed);
    await waitText(page, "#code-status", c.status);
    assert.equal(await page.getAttribute("#code-status", "class"), "help err");
    assert.deepEqual(await chips(), c.chips);
    assert.equal(await startDisabled(), true, c.typed);
  }

  await page.click("#code-suggestions .chip >> text=회의자료_0412");
  assert.equal(await page.inputValue("#custom-code"), "회의자료_0412");
  await waitText(page, "#code-status", `✓ 사용 가능: ${BASE}/회의자료_0412`);
  assert.equal(await page.getAttribute("#code-status", "class"), "help ok");
  assert.deepEqual(await chips(), []);
  assert.equal(await startDisabled(), false);

  const asked = s.service.requests("GET /api/check-code").map((r) => new URL(r.path, s.service.url).searchParams.get("code"));
  assert.deepEqual(asked, ["주간회의", "회의", "회의_자료", "회의자료_0412"]);
  await checkOnlyFontAborted(assert, s);
});

test("a code check that the service fails ends with its reason and keeps the start blocked", async (t) => {
  const cases = [
    { name: "400 with a detail", reply: { status: 400, json: { detail: "단축 단어에 쓸 수 없는 문자가 있습니다." } },
      code: "보고!", status: /^⚠️ 단축 단어에 쓸 수 없는 문자가 있습니다\.$/ },
    { name: "500 with a detail", reply: { status: 500, json: { detail: "잠시 후 다시 시도해 주세요." } },
      code: "보고서", status: /^⚠️ 잠시 후 다시 시도해 주세요\.$/ },
    { name: "500 without a reason", reply: { status: 500, text: "Internal Server Error" },
      code: "보고서2", status: /^⚠️ .*HTTP 500/ },
  ];
  const s = await startSession(t, {
    config: { api_key: "page-key", username: "qa" },
    files: { "보고.pdf": "%PDF-1.4 report" },
    script: { "GET /api/check-code": [free, ...cases.map((c) => c.reply), free] },
  });
  const { page } = s;
  s.shell.answerPick(false, [s.file("보고.pdf")]);
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  await page.click("#pick-file-btn");
  await waitText(page, "#code-status", `✓ 사용 가능: ${BASE}/보고`);
  const startDisabled = () => page.$eval("#start-upload-btn", (b) => b.disabled);
  assert.equal(await startDisabled(), false);

  for (const c of cases) {
    await page.fill("#custom-code", c.code);
    await waitText(page, "#code-status", c.status);
    assert.equal(await page.getAttribute("#code-status", "class"), "help err", c.name);
    assert.equal(await startDisabled(), true, c.name);
  }
  // A new check that the service answers brings the start back.
  await page.fill("#custom-code", "보고서3");
  await waitText(page, "#code-status", `✓ 사용 가능: ${BASE}/보고서3`);
  assert.equal(await startDisabled(), false);
  assert.equal(s.service.requests("GET /api/check-code").length, cases.length + 2);
  await checkOnlyFontAborted(assert, s);
});
