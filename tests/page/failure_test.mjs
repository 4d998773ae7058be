// A service failure during the upload: the job's error comes back on the share screen,
// and the next press of the start button clears it and tries again.

import assert from "node:assert/strict";
import { test } from "node:test";

import { checkOnlyFontAborted, startSession, visible, waitFor, waitText } from "./harness.mjs";

const cases = [
  { name: "an error reply with the service's message", reply: { status: 500, json: { detail: "저장 공간이 부족합니다." } },
    shown: /^⚠️ 저장 공간이 부족합니다\.$/ },
  { name: "an error reply in plain text", reply: { status: 413, text: "Request Entity Too Large" },
    shown: /^⚠️ 서버 요청 실패 \(HTTP 413\): Request Entity Too Large$/ },
  { name: "the connection dropped mid-body", reply: { drop_after_body_bytes: 1000 },
    shown: /^⚠️ 업로드 중 네트워크 연결이 끊어졌습니다: .+/ },
];

test("a failed upload shows the service's failure on the share screen", async (t) => {
  const s = await startSession(t, {
    config: { api_key: "page-key", username: "qa" },
    files: { "결산.xlsx": "x".repeat(64 * 1024) },
    script: { "POST /api/upload-document": cases.map((c) => c.reply) },
  });
  const { page } = s;
  s.shell.answerPick(false, [s.file("결산.xlsx")]);
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  await page.click("#pick-file-btn");
  await waitText(page, "#target-name", "결산.xlsx");
  for (const [i, c] of cases.entries()) {
    await waitFor("the start button", () => page.$eval("#start-upload-btn", (b) => !b.disabled));
    await page.click("#start-upload-btn");
    await waitText(page, "#duvid-err", c.shown);
    assert.equal(await visible(page, "#duvid-err"), true, c.name);
    await page.locator("#duvid-view").waitFor({ state: "visible" });
    assert.equal(await visible(page, "#progress-view"), false, c.name);
    assert.equal(s.service.requests("POST /api/upload-document").length, i + 1, c.name);
  }
  assert.equal(s.shell.clipboard(), null, "a failed upload copied something");
  await checkOnlyFontAborted(assert, s);
});
