// The share screen's targets as the pickers bring them: a folder packed into one ZIP and
// shared, then (through "다른 파일 공유") a media file over 500 MB that locks the period to
// three days, and a small document that lifts the lock again.

import assert from "node:assert/strict";
import { test } from "node:test";

import { checkOnlyFontAborted, startSession, visible, waitFor, waitText } from "./harness.mjs";

const expiryState = (page) => page.$$eval("#expiry-grid .exp-btn", (bs) => bs.map((b) => ({
  value: b.dataset.value, disabled: b.disabled, active: b.classList.contains("active"),
})));

const periods = (active, disabled = []) => ["30", "7", "3", "custom"].map((value) => ({
  value, disabled: disabled.includes(value), active: value === active,
}));

test("a folder is zipped and shared; a large media file locks the period to three days", async (t) => {
  const s = await startSession(t, {
    config: { api_key: "page-key", username: "qa" },
    files: {
      "회의 자료/안건.txt": "name,team\n".padEnd(1024, "-"),
      "회의 자료/참석자.csv": "a".repeat(1024),
      "회의 자료/사진/표지.txt": "x".repeat(4096),
      "회의록.pdf": "%PDF-1.4 minutes",
    },
    script: { "POST /api/upload-document": { json: { short_code: "meet", short_url: "https://share.vano.example/meet" } } },
  });
  const { page } = s;
  const media = s.scratch.sparse("files/발표 녹화.mp4", 600 * 1024 * 1024);
  await page.locator("#duvid-view").waitFor({ state: "visible" });

  s.shell.answerPick(true, [s.file("회의 자료")]);
  await page.click("#pick-folder-btn");
  await waitText(page, "#target-name", "📁 회의 자료 (폴더 전체)");
  assert.equal(await page.textContent("#target-icon"), "📦");
  assert.equal(await page.textContent("#target-sub"), "총 3개 파일 (6.0 KB) 자동 ZIP 압축 · 최대 500MB");
  assert.equal(await page.textContent("#start-upload-btn"), "📦 자동 ZIP 압축 및 공유 링크 생성하기");
  assert.equal(await page.inputValue("#custom-code"), "회의_자료");
  assert.equal(await visible(page, "#large-media-3d-banner"), false);
  // A choice made without the lock.
  await page.click('#expiry-grid [data-value="7"]');
  assert.deepEqual(await expiryState(page), periods("7"));

  await waitFor("the start button", () => page.$eval("#start-upload-btn", (b) => !b.disabled));
  await page.click("#start-upload-btn");
  await page.locator("#done-view").waitFor({ state: "visible" });
  await waitText(page, "#done-url", "https://share.vano.example/meet");
  const [upload] = s.service.requests("POST /api/upload-document");
  const file = upload.multipart.parts.at(-1);
  assert.equal(file.filename, "회의 자료.zip");
  assert.deepEqual(file.zip.entries.map((e) => e.name).sort(), ["회의 자료/사진/표지.txt", "회의 자료/안건.txt", "회의 자료/참석자.csv"]);
  assert.equal(upload.multipart.parts[0].value, "7");

  // "다른 파일 공유" opens the file dialog; the new target is the media file.
  s.shell.answerPick(false, [media]);
  await page.click("#duvid-more-btn");
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  await waitText(page, "#target-name", "발표 녹화.mp4");
  assert.equal(await page.textContent("#target-icon"), "🎬");
  assert.equal(await page.textContent("#target-sub"), "600.0 MB 미디어 원본 · 최대 1GB ⚡ 500MB 초과 · 3일 후 자동삭제");
  assert.equal(await page.$eval("#target-sub .badge.red", (n) => n.textContent), "⚡ 500MB 초과 · 3일 후 자동삭제");
  assert.equal(await page.textContent("#start-upload-btn"), "🚀 동영상·오디오 단축 링크 생성하기");
  assert.deepEqual(await expiryState(page), periods("3", ["30", "7", "custom"]));
  assert.equal(await visible(page, "#large-media-3d-banner"), true);
  assert.equal(await page.textContent("#large-media-3d-banner"),
    "⚡ 500MB 초과 대용량 미디어(최대 1GB)는 유효기간이 3일로 고정되며 3일 후 자동 삭제됩니다.");
  // A disabled period takes no press.
  await page.click('#expiry-grid [data-value="30"]', { force: true });
  assert.deepEqual(await expiryState(page), periods("3", ["30", "7", "custom"]));
  assert.equal(await visible(page, "#duvid-err"), false);

  // A small document next: the lock ends and the period is back at 30 days.
  s.shell.answerPick(false, [s.file("회의록.pdf")]);
  await page.click("#pick-file-btn");
  await waitText(page, "#target-name", "회의록.pdf");
  assert.deepEqual(await expiryState(page), periods("30"));
  assert.equal(await visible(page, "#large-media-3d-banner"), false);

  await checkOnlyFontAborted(assert, s);
});
