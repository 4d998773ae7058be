// One file shared from the share screen to the done screen, with the service holding the
// upload half-way so that the progress screen can be watched; the page's heartbeat and its
// state polling observed as requests on the way.

import assert from "node:assert/strict";
import crypto from "node:crypto";
import { test } from "node:test";

import {
  BASE, boxes, checkOnlyFontAborted, countRequests, saveQrPng, startSession, visible, waitFor, waitForFigureBetween,
  waitHeartbeats, waitText,
} from "./harness.mjs";

const FILE = "주간 보고서.pdf";
const LINK = "https://share.vano.example/weekly-0412";
const MEMO = "QA 배포본";

// 12 MiB: more than the loopback buffers take, so the held upload shows a figure between.
const fileBytes = Buffer.alloc(12 << 20, 0);
for (let i = 0; i < fileBytes.length; i++) fileBytes[i] = (i * 7 + (i >> 13)) % 251;

test("a file goes from the share screen through progress to the link, the QR code and its PNG", async (t) => {
  const s = await startSession(t, {
    config: { api_key: "page-key", username: "qa", org_name: "QA팀" },
    files: { [FILE]: fileBytes },
    script: {
      "POST /api/upload-document": {
        body_holds: [[256 * 1024, "release"]],
        json: { short_code: "weekly-0412", short_url: LINK },
      },
    },
  });
  s.shell.answerPick(false, [s.file(FILE)]);
  const { page } = s;
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  await page.click("#pick-file-btn");
  await waitText(page, "#target-name", FILE);
  assert.equal(await page.textContent("#target-icon"), "📄");
  assert.equal(await page.textContent("#target-sub"), "12.0 MB 문서·압축 원본 · 최대 500MB");
  assert.equal(await page.textContent("#start-upload-btn"), "🚀 문서 단축 링크 생성하기");
  // The suggested code goes into the field and is checked at the service.
  const code = await waitFor("the suggested code", () => page.inputValue("#custom-code"));
  await waitText(page, "#code-status", `✓ 사용 가능: ${BASE}/${code}`);
  assert.equal(await page.$eval("#start-upload-btn", (b) => b.disabled), false);
  const checks = s.service.requests("GET /api/check-code");
  assert.equal(new URL(checks.at(-1).path, s.service.url).searchParams.get("code"), code);

  // The memo field is the card's last field: the start button's 6 px are the only space.
  const [memo, start] = await boxes(page, [".field:has(#qr-memo)", "#start-upload-btn"]);
  assert.equal(start.top - memo.bottom, 6);

  // Idle: the heartbeat goes on and nothing polls the state.
  const idleFrom = Date.now();
  await waitHeartbeats(s, 2, idleFrom);
  assert.ok(countRequests(s, "/api/local/state", idleFrom) <= 1, "the state is polled while idle");

  await page.click('#expiry-grid [data-value="7"]');
  await page.fill("#qr-memo", `  ${MEMO} `);
  await page.click("#start-upload-btn");
  await page.locator("#progress-view").waitFor({ state: "visible" });
  // The service holds the body after its first bytes: a figure between the ends.
  await waitForFigureBetween(page);
  await waitText(page, "#prog-title", "🚀 VANO Quillet로 업로드 중...");
  assert.match(await page.textContent("#prog-detail"), /^서버 전송 중\.\.\. \d+\.\dMB \/ 12\.0MB \(\d+\.\d MB\/s\)$/);
  const fill = await page.$eval("#prog-fill", (n) => n.getBoundingClientRect().width);
  assert.ok(fill > 0, "the bar is empty");
  assert.equal(await visible(page, "#acct-badge"), true);
  // While the job runs the state is polled every 220 ms beside the 3000 ms heartbeat:
  // loose bounds over two heartbeats, as a busy machine stretches both.
  const busyFrom = await waitHeartbeats(s, 1, Date.now());
  const busyTo = await waitHeartbeats(s, 2, busyFrom + 1);
  const polls = s.requests.filter((r) => r.path === "/api/local/state" && r.at > busyFrom && r.at <= busyTo).length;
  assert.ok(polls >= 5 && polls <= 80, `${polls} state polls over two heartbeats`);

  s.service.release("release");
  await page.locator("#done-view").waitFor({ state: "visible" });
  const doneAt = Date.now();
  await waitText(page, "#done-url", LINK);
  assert.equal(await page.getAttribute("#done-url", "href"), LINK);
  const qr = await page.$eval("#qr-svg-box svg", (n) => {
    const r = n.getBoundingClientRect();
    return { width: r.width, height: r.height };
  });
  assert.deepEqual(qr, { width: 168, height: 168 });
  await waitFor("the link on the clipboard", () => s.shell.clipboard() === LINK);
  const [more, close] = await boxes(page, ["#duvid-more-btn", "#close-win-btn"]);
  assert.equal(more.width, close.width, "the done screen's two buttons differ");
  assert.equal(more.top, close.top);

  // The upload as the service read it.
  const [upload] = s.service.requests("POST /api/upload-document");
  const parts = upload.multipart.parts;
  assert.equal(upload.multipart.complete, true);
  assert.deepEqual(parts.slice(0, -1).map((p) => [p.name, p.value]),
    [["expiry_option", "7"], ["custom_code", code], ["qr_details", MEMO]]);
  assert.equal(parts.at(-1).filename, FILE);
  assert.equal(parts.at(-1).sha256, crypto.createHash("sha256").update(fileBytes).digest("hex"));

  // The PNG: 2000 x 2000, named after the short code, and a QR code of the link.
  assert.deepEqual(await saveQrPng(s), { name: "qr_weekly-0412.png", size: { width: 2000, height: 2000 }, text: LINK });

  // Done: the polling has stopped, the heartbeat has not.
  const quietFrom = await waitHeartbeats(s, 2, doneAt);
  assert.ok(countRequests(s, "/api/local/state", doneAt) <= 2, "the state is still polled after the job");
  assert.ok(quietFrom > doneAt);

  // Closing the window ends the program.
  await page.click("#close-win-btn");
  const exit = await s.program.waitExit();
  assert.deepEqual(exit, { code: 0, signal: null });
  await checkOnlyFontAborted(assert, s);
});
