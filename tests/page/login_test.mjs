// Login in the browser: the service's refusal shown in the login card, then a login that
// opens the share screen with the account pill; logout and a second login with a long
// organisation name that must not change the top bar's height.

import assert from "node:assert/strict";
import { test } from "node:test";

import { boxes, checkOnlyFontAborted, readConfig, startSession, visible, waitFor, waitText } from "./harness.mjs";

const USER = "minji.kim";
const PASSWORD = "correct horse 7";
// The stand-in's refusal of any other account.
const REFUSAL = "아이디 또는 비밀번호가 올바르지 않습니다.";
const LONG_ORG = "(사)한국디지털콘텐츠산업진흥협회 서울·경기지역본부";

async function login(page, user, password) {
  await page.fill("#login-id", user);
  await page.fill("#login-pw", password);
  await page.click("#login-submit-btn");
}

test("a refused login shows the service's message; the right one opens the share screen", async (t) => {
  const s = await startSession(t, { config: {}, serviceArgs: ["--account", `${USER}:${PASSWORD}`] });
  const { page } = s;
  await page.locator("#login-view").waitFor({ state: "visible" });
  assert.equal(await visible(page, "#acct-badge"), false);
  for (const other of ["#duvid-view", "#progress-view", "#done-view"]) assert.equal(await visible(page, other), false);
  // reg answers every query: the menu counts as registered.
  await waitText(page, "#menu-status-text", "탐색기 파일·폴더 우클릭 메뉴 활성됨");
  assert.equal(await page.textContent("#install-menu-btn"), "재등록");

  // The button keeps the same 12 px above it with and without the error line.
  let [pwField, submit] = await boxes(page, [".field:has(#login-pw)", "#login-submit-btn"]);
  assert.equal(submit.top - pwField.bottom, 12);

  await login(page, `  ${USER} `, "wrong");
  await waitText(page, "#login-err", "⚠️ " + REFUSAL);
  assert.equal(await visible(page, "#login-err"), true);
  await waitFor("the submit button back", () => page.$eval("#login-submit-btn", (b) => !b.disabled));
  assert.equal(await page.textContent("#login-submit-btn"), "로그인 및 연동 저장");
  assert.equal(await page.inputValue("#login-id"), `  ${USER} `);
  assert.equal(readConfig(s.appdata).api_key, "");
  const [sent] = s.service.requests("POST /api/desktop/auth");
  assert.deepEqual(JSON.parse(sent.body_text), { device_name: "Windows", password: "wrong", username: USER });
  // The error box: 10 px below the field, 12 px above the button.
  let err;
  [pwField, err, submit] = await boxes(page, [".field:has(#login-pw)", "#login-err", "#login-submit-btn"]);
  assert.equal(err.top - pwField.bottom, 10);
  assert.equal(submit.top - err.bottom, 12);

  await login(page, USER, PASSWORD);
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  assert.equal(await visible(page, "#login-view"), false);
  await waitText(page, "#acct-label", "🏛️ Stand-in Org");
  assert.equal(await visible(page, "#acct-badge"), true);
  assert.equal(await page.inputValue("#login-pw"), "");
  const saved = readConfig(s.appdata);
  assert.equal(saved.api_key, "stand-in-key");
  assert.equal(saved.server_url, s.service.url);
  // No selection yet: the start button waits for a target.
  await waitText(page, "#start-upload-btn", "🚀 공유할 대상을 먼저 선택해 주세요");
  assert.equal(await page.$eval("#start-upload-btn", (b) => b.disabled), true);
  const [shortBar] = await boxes(page, [".topbar"]);

  // Switch accounts: the second one belongs to an organisation with a long name.
  s.service.script({ "POST /api/desktop/auth": { json: { api_key: "second-key", username: USER, org_name: LONG_ORG } } });
  await page.click("#logout-btn");
  await page.locator("#login-view").waitFor({ state: "visible" });
  assert.equal(await visible(page, "#acct-badge"), false);
  assert.equal(readConfig(s.appdata).api_key, "");
  await login(page, USER, PASSWORD);
  await waitText(page, "#acct-label", "🏛️ " + LONG_ORG);
  await page.locator("#duvid-view").waitFor({ state: "visible" });
  assert.equal([...LONG_ORG].length, 27);
  const [longBar, pill, card] = await boxes(page, [".topbar", "#acct-badge", "#duvid-view"]);
  assert.equal(longBar.height, shortBar.height, "the top bar grew with the account name");
  assert.ok(pill.width <= 200, `pill ${pill.width} px wide`);
  const label = await page.$eval("#acct-label", (n) => ({ scroll: n.scrollWidth, client: n.clientWidth,
    overflow: getComputedStyle(n).textOverflow }));
  assert.ok(label.scroll > label.client, "the long name is cut");
  assert.equal(label.overflow, "ellipsis");
  assert.ok(card.bottom <= 730, `the share card ends at ${card.bottom} px`);

  await checkOnlyFontAborted(assert, s);
});
