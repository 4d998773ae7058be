// The start button and the share screen's error box: one press sends one start call, and
// no message outlives the target or the job it was about.

import assert from "node:assert/strict";
import { test } from "node:test";

import { checkOnlyFontAborted, countRequests, startSession, visible, waitFor, waitText } from "./harness.mjs";

const startDisabled = (page) => page.$eval("#start-upload-btn", (b) => b.disabled);

// Holds the page's calls to `route` in the browser until the returned function is called.
async function holdCalls(page, route) {
  let release;
  const gate = new Promise((r) => { release = r; });
  await page.route("**" + route, async (r) => {
    await gate;
    await r.continue();
  });
  return release;
}

// A logged-in share screen with 보고서.pdf picked and ready to start.
async function withReportPicked(t) {
  const s = await startSession(t, {
    config: { api_key: "page-key", username: "qa" },
    files: { "보고서.pdf": "%PDF-1.4 report", "다음.pdf": "%PDF-1.4 next" },
    script: { "POST /api/upload-document": { json: { short_code: "rep", short_url: "https://share.vano.example/rep" } } },
  });
  const { page } = s;
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  s.shell.answerPick(false, [s.file("보고서.pdf")]);
  await page.click("#pick-file-btn");
  await waitText(page, "#target-name", "보고서.pdf");
  await waitFor("the start button", async () => !(await startDisabled(page)));
  return s;
}

test("the start button stays disabled until its call has answered; a double-click starts once", async (t) => {
  const s = await withReportPicked(t);
  const { page } = s;

  const release = await holdCalls(page, "/api/local/start-upload");
  await page.dblclick("#start-upload-btn");
  await waitFor("the start call", () => countRequests(s, "/api/local/start-upload") >= 1);
  assert.equal(await startDisabled(page), true, "the button is enabled while its call is open");
  // A re-render while the call is open (here of a target the host's hook brings) keeps it disabled.
  await page.evaluate((p) => window.__vanoAddPaths([p], true), s.file("다음.pdf"));
  await waitText(page, "#target-name", "다음.pdf");
  assert.equal(await startDisabled(page), true, "a re-render enabled the button while its call is open");
  await page.click("#start-upload-btn", { force: true });
  release();
  // The held call reaches the server after the selection has changed: it is refused, as it
  // asks for what the page showed at the press, and the button opens again.
  await waitText(page, "#duvid-err", "⚠️ 선택한 항목이 바뀌었습니다. 바뀐 선택을 확인한 뒤 다시 시작해 주세요.");
  await waitFor("the start button", async () => !(await startDisabled(page)));
  assert.equal(countRequests(s, "/api/local/start-upload"), 1);
  assert.equal(s.service.requests("POST /api/upload-document").length, 0);
  await page.dblclick("#start-upload-btn");
  await page.locator("#done-view").waitFor({ state: "visible" });
  assert.equal(countRequests(s, "/api/local/start-upload"), 2);
  assert.equal(s.service.requests("POST /api/upload-document").length, 1);
  assert.equal(s.service.requests("POST /api/upload-document")[0].multipart.parts.at(-1).filename, "다음.pdf");

  // The next share screen shows no refusal of a second start.
  s.shell.answerPick(false, [s.file("보고서.pdf")]);
  await page.click("#duvid-more-btn");
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  await waitText(page, "#target-name", "보고서.pdf");
  assert.equal(await visible(page, "#duvid-err"), false, await page.textContent("#duvid-err"));
  await waitFor("the start button", async () => !(await startDisabled(page)));
  await checkOnlyFontAborted(assert, s);
});

test("a pick keeps the start button disabled until its choice shows", async (t) => {
  const s = await withReportPicked(t);
  const { page } = s;

  // The same file picked again is a new selection, which the screen shows only once its
  // state has come: held here, a start would send a version the screen never showed.
  const release = await holdCalls(page, "/api/local/state");
  s.shell.answerPick(false, [s.file("보고서.pdf")]);
  const answered = page.waitForResponse((r) => r.url().includes("/api/local/pick"));
  await page.click("#pick-file-btn");
  await answered;
  assert.equal(await startDisabled(page), true, "the start button is enabled before the pick shows");
  release();
  await waitFor("the start button", async () => !(await startDisabled(page)));
  await page.click("#start-upload-btn");
  await page.locator("#done-view").waitFor({ state: "visible" });
  assert.equal(countRequests(s, "/api/local/start-upload"), 1);
  assert.equal(s.service.requests("POST /api/upload-document").length, 1);
  await checkOnlyFontAborted(assert, s);
});

test("a failed job's message goes when the target changes, and stays while it does not", async (t) => {
  const FAILURE = "⚠️ 저장 공간이 부족합니다.";
  const s = await startSession(t, {
    config: { api_key: "page-key", username: "qa" },
    files: { "결산.xlsx": "x".repeat(4096), "새 자료.pdf": "%PDF-1.4 new", "자료 폴더/a.txt": "a" },
    script: { "POST /api/upload-document": { status: 500, json: { detail: "저장 공간이 부족합니다." } } },
  });
  const { page } = s;
  await page.locator("#duvid-view").waitFor({ state: "visible" });

  // Presses a picker button and waits for its call's answer.
  const pickWith = async (folder, paths) => {
    s.shell.answerPick(folder, paths);
    const answered = page.waitForResponse((r) => r.url().includes("/api/local/pick"));
    await page.click(folder ? "#pick-folder-btn" : "#pick-file-btn");
    await answered;
  };
  const cases = [
    { name: "a cancelled file dialog", change: () => pickWith(false, []), target: "결산.xlsx", cleared: false },
    { name: "a new file picked", change: () => pickWith(false, [s.file("새 자료.pdf")]), target: "새 자료.pdf", cleared: true },
    { name: "the same file picked again", change: () => pickWith(false, [s.file("결산.xlsx")]), target: "결산.xlsx",
      cleared: true },
    { name: "a folder picked", change: () => pickWith(true, [s.file("자료 폴더")]), target: "📁 자료 폴더 (폴더 전체)",
      cleared: true },
    { name: "paths from the host", change: () => page.evaluate((p) => window.__vanoAddPaths([p], true), s.file("새 자료.pdf")),
      target: "새 자료.pdf", cleared: true },
  ];
  for (const c of cases) {
    // Each case starts from the failed job of 결산.xlsx.
    await pickWith(false, [s.file("결산.xlsx")]);
    await waitText(page, "#target-name", "결산.xlsx");
    await waitFor("the start button", async () => !(await startDisabled(page)));
    const failures = s.service.requests("POST /api/upload-document").length;
    await page.click("#start-upload-btn");
    await waitFor("the upload", () => s.service.requests("POST /api/upload-document").length > failures);
    await waitText(page, "#duvid-err", FAILURE);
    await page.locator("#duvid-err").waitFor({ state: "visible" });

    const statesBefore = countRequests(s, "/api/local/state");
    await c.change();
    if (c.cleared) await waitFor("the refresh", () => countRequests(s, "/api/local/state") > statesBefore);
    await waitText(page, "#target-name", c.target);
    await page.locator("#duvid-view").waitFor({ state: "visible" });
    if (c.cleared) {
      await waitFor(`${c.name}: the box hidden`, async () => !(await visible(page, "#duvid-err")));
    } else {
      assert.equal(await visible(page, "#duvid-err"), true, c.name);
      assert.equal(await page.textContent("#duvid-err"), FAILURE, c.name);
    }
  }
  await checkOnlyFontAborted(assert, s);
});

test("an invalid target (an empty file) shows its message and keeps the start button disabled", async (t) => {
  const s = await startSession(t, {
    config: { api_key: "page-key", username: "qa" },
    files: { "빈 문서.pdf": "", "정상.pdf": "%PDF-1.4 ok" },
  });
  const { page } = s;
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  s.shell.answerPick(false, [s.file("빈 문서.pdf")]);
  await page.click("#pick-file-btn");
  await waitText(page, "#target-name", "빈 문서.pdf");
  await waitText(page, "#target-err", "⚠️ 빈 파일(0바이트)은 공유할 수 없습니다.");
  assert.equal(await visible(page, "#target-err"), true);
  // The suggested code is free: that must not enable the start of an invalid target.
  await waitText(page, "#code-status", /^✓ 사용 가능: /);
  assert.equal(await startDisabled(page), true);
  await page.fill("#custom-code", "");
  await waitText(page, "#code-status", /자동생성\(5자리\)$/);
  assert.equal(await startDisabled(page), true);
  await page.click("#start-upload-btn", { force: true });
  assert.equal(countRequests(s, "/api/local/start-upload"), 0);

  s.shell.answerPick(false, [s.file("정상.pdf")]);
  await page.click("#pick-file-btn");
  await waitText(page, "#target-name", "정상.pdf");
  assert.equal(await visible(page, "#target-err"), false);
  await waitFor("the start button", async () => !(await startDisabled(page)));
  await checkOnlyFontAborted(assert, s);
});
