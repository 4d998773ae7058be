// A clipboard that refuses the link: the done screen says the link is not on it, the copy
// button says why it failed again, and a later copy that works is shown as copied.

import assert from "node:assert/strict";
import { test } from "node:test";

import { checkOnlyFontAborted, startSession, waitFor, waitText } from "./harness.mjs";

const FILE = "회의록.pdf";
const LINK = "https://share.vano.example/minutes";
const FAILURE = "클립보드 복사 실패: PowerShell 종료 코드 1";

test("a refused clipboard is reported on the done screen and by the copy button", async (t) => {
  const s = await startSession(t, {
    config: { api_key: "page-key", username: "qa" },
    files: { [FILE]: "minutes" },
    script: { "POST /api/upload-document": { json: { short_code: "minutes", short_url: LINK } } },
  });
  const { page } = s;
  s.shell.failClipboard(true);
  s.shell.answerPick(false, [s.file(FILE)]);
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  await page.click("#pick-file-btn");
  await waitText(page, "#target-name", FILE);
  await waitFor("the start button", () => page.$eval("#start-upload-btn", (b) => !b.disabled));
  await page.click("#start-upload-btn");
  await page.locator("#done-view").waitFor({ state: "visible" });
  await waitText(page, "#done-url", LINK);
  assert.equal(await page.textContent("#done-note"),
    `⚠️ 단축 링크가 클립보드에 복사되지 않았습니다 (${FAILURE}). "📋 복사"를 누르면 다시 시도합니다.`);
  assert.equal(await page.getAttribute("#done-note", "class"), "err-box");
  assert.equal(s.shell.clipboard(), null);

  // The copy button fails too and says so; its label stays.
  await page.click("#copy-again-btn");
  await waitText(page, "#done-note", `⚠️ ${FAILURE} "📋 복사"를 누르면 다시 시도합니다.`);
  assert.equal(await page.textContent("#copy-again-btn"), "📋 복사");
  assert.equal(s.shell.clipboard(), null);

  // Once the clipboard takes it, the copy is shown as done.
  s.shell.failClipboard(false);
  await page.click("#copy-again-btn");
  await waitText(page, "#copy-again-btn", "✓ 복사됨");
  await waitText(page, "#done-note", "✅ 클립보드에 단축 링크가 복사되었습니다!");
  assert.equal(await page.getAttribute("#done-note", "class"), "ok-box");
  await waitFor("the link on the clipboard", () => s.shell.clipboard() === LINK);
  await checkOnlyFontAborted(assert, s);
});
