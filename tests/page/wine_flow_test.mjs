// The Windows program, as users run it, under wine with the same browser: login, the file
// given on the command line shared to the done screen, the QR code saved as a PNG, and the
// close button ending the program.

import assert from "node:assert/strict";
import { test } from "node:test";

import {
  BASE, checkOnlyFontAborted, readConfig, saveQrPng, startSession, waitForFigureBetween, waitText,
} from "./harness.mjs";

const LINK = "https://share.vano.example/wine-1";

test("the Windows program under wine: login to the done screen", async (t) => {
  const s = await startSession(t, {
    windows: true,
    config: {},
    files: { "분기 실적.pdf": "%PDF-1.4 ".padEnd(2 << 20, "q") },
    paths: ["분기 실적.pdf"],
    serviceArgs: ["--account", "wine.user:pw 1"],
    script: {
      "POST /api/upload-document": {
        body_holds: [[64 * 1024, "release"]],
        json: { short_code: "wine-1", short_url: LINK },
      },
    },
  });
  const { page } = s;
  await page.locator("#login-view").waitFor({ state: "visible" });
  await page.fill("#login-id", "wine.user");
  await page.fill("#login-pw", "wrong");
  await page.click("#login-submit-btn");
  await waitText(page, "#login-err", "⚠️ 아이디 또는 비밀번호가 올바르지 않습니다.");
  await page.fill("#login-pw", "pw 1");
  await page.click("#login-submit-btn");
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  await waitText(page, "#acct-label", "🏛️ Stand-in Org");
  assert.equal(readConfig(s.appdata).api_key, "stand-in-key");

  await waitText(page, "#target-name", "분기 실적.pdf");
  assert.equal(await page.textContent("#target-sub"), "2.0 MB 문서·압축 원본 · 최대 500MB");
  await waitText(page, "#code-status", `✓ 사용 가능: ${BASE}/분기_실적`);
  await page.click("#start-upload-btn");
  await page.locator("#progress-view").waitFor({ state: "visible" });
  await waitForFigureBetween(page);
  assert.match(await page.textContent("#prog-detail"), /^서버 전송 중\.\.\. \d+\.\dMB \/ 2\.0MB/);

  s.service.release("release");
  await page.locator("#done-view").waitFor({ state: "visible" });
  await waitText(page, "#done-url", LINK);
  assert.equal(await page.locator("#qr-svg-box svg").count(), 1);
  const [upload] = s.service.requests("POST /api/upload-document");
  assert.equal(upload.multipart.complete, true);
  assert.equal(upload.multipart.parts.at(-1).filename, "분기 실적.pdf");
  assert.equal(upload.multipart.parts.at(-1).size, 2 << 20);

  assert.deepEqual(await saveQrPng(s), { name: "qr_wine-1.png", size: { width: 2000, height: 2000 }, text: LINK });

  await page.click("#close-win-btn");
  assert.deepEqual(await s.program.waitExit(), { code: 0, signal: null });
  await checkOnlyFontAborted(assert, s);
});
