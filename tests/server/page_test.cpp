// The embedded page: its bytes, its hooks and texts, and that every API call it makes
// reaches a route of the local server with the method the route takes.
#include "local_server.h"
#include "support/scratch_dir.h"

#include "config/desktop_config.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>

extern const unsigned char vano_page_html[];
extern const std::size_t vano_page_html_size;

namespace {

std::string page()
{
    return std::string(reinterpret_cast<const char*>(vano_page_html), vano_page_html_size);
}

std::size_t count_of(const std::string& hay, std::string_view needle)
{
    std::size_t n = 0;
    for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + needle.size()))
        ++n;
    return n;
}

// A strict decoder of its own (no overlong forms, no surrogates, nothing past U+10FFFF):
// the offset of the first bad byte, or npos.
std::size_t first_bad_utf8(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        char32_t cp = 0, min = 0;
        if (b < 0x80) { len = 1; cp = b; }
        else if ((b & 0xE0) == 0xC0) { len = 2; cp = b & 0x1F; min = 0x80; }
        else if ((b & 0xF0) == 0xE0) { len = 3; cp = b & 0x0F; min = 0x800; }
        else if ((b & 0xF8) == 0xF0) { len = 4; cp = b & 0x07; min = 0x10000; }
        else return i;
        if (i + len > s.size())
            return i;
        for (std::size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                return i;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return i;
        i += len;
    }
    return std::string_view::npos;
}

std::string inline_script(const std::string& html)
{
    const std::size_t open = html.find("<script>");
    const std::size_t close = html.find("</script>", open);
    if (open == std::string::npos || close == std::string::npos)
        return {};
    return html.substr(open + 8, close - open - 8);
}

TEST(Page, DocumentFrame)
{
    const std::string html = page();
    EXPECT_EQ(first_bad_utf8(html), std::string_view::npos);
    EXPECT_TRUE(html.starts_with("<!DOCTYPE html>\n<html lang=\"ko\">"));
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_EQ(count_of(html, "<script>"), 1u);
    EXPECT_EQ(count_of(html, "<script"), 1u); // no script loaded from elsewhere
    EXPECT_EQ(count_of(html, "<style>"), 1u);

    // The address texts and the login placeholder carry the same default as the config.
    const std::string base = config::default_server_url;
    EXPECT_EQ(count_of(html, "const BASE = \"" + base + "\";"), 1u);
    const std::string host = base.substr(base.find("://") + 3);
    EXPECT_NE(html.find("placeholder=\"" + host + " 아이디\""), std::string::npos);
    EXPECT_NE(html.find(">" + base + "/자동생성<"), std::string::npos);
}

TEST(Page, HooksAndTexts)
{
    const std::string html = page();
    const std::string_view needles[] = {
        // host hooks
        "window.__vanoAddPaths = async function (paths, replace = false)",
        "hostHandler(\"vanoSavePng\")",
        "hostHandler(\"vanoClose\")",
        "w.messageHandlers[name]",
        // frame
        "<title>VANO 공유하기 — Quillet</title>",
        "파일·폴더 우클릭 단축링크 생성기",
        "우클릭 메뉴 상태 확인 중...",
        "🔐 VANO Quillet 계정 로그인",
        "최초 1회만 로그인하면 이후 파일·폴더 우클릭 시 즉시 공유 창이 열립니다.",
        "로그인 및 연동 저장",
        "로그인 확인 중...",
        "요청 처리 실패",
        "탐색기/Finder 우클릭 공유 메뉴를 해제하시겠습니까?",
        "Finder 우클릭 [빠른 동작] 활성됨",
        "탐색기 파일·폴더 우클릭 메뉴 활성됨",
        "우클릭 공유 메뉴 미등록",
        "⚡ 우클릭 메뉴 등록",
        "📦 폴더·파일 자동 ZIP 압축 중...",
        "🚀 VANO Quillet로 업로드 중...",
        "✅ 클립보드에 단축 링크가 자동 복사되었습니다!",
        "💾 고해상도 QR 이미지(PNG) 저장",
        "✓ 복사됨",
        "문서·폴더(자동 ZIP) 최대 500MB · 동영상·오디오 최대 1GB (500MB 초과 시 3일 후 삭제) · ",
        // share screen
        "공유할 파일 또는 폴더를 선택해 주세요",
        "파일·폴더 우클릭 시 자동으로 이곳에 담깁니다.",
        "🚀 공유할 대상을 먼저 선택해 주세요",
        "📄 파일 선택 (다중 가능)",
        "📁 폴더 선택 (자동 ZIP)",
        "커스텀 단축 단어 (선택 · 비워두면 자동 생성)",
        "/자동생성(5자리)",
        "중복 확인 중: ",
        "✓ 사용 가능: ",
        "이미 사용 중인 단축 단어입니다.",
        "⚡ 500MB 초과 대용량 미디어(최대 1GB)는 유효기간이 3일로 고정되며 3일 후 자동 삭제됩니다.",
        "미디어 원본 · 최대 1GB",
        "⚡ 500MB 초과 · 3일 후 자동삭제",
        "문서·압축 원본 · 최대 500MB",
        "자동 ZIP 압축 · 최대 500MB",
        "🚀 동영상·오디오 단축 링크 생성하기",
        "🚀 문서 단축 링크 생성하기",
        "📦 자동 ZIP 압축 및 공유 링크 생성하기",
        "⚠️ 직접 지정 만료 날짜를 선택해 주세요.",
        "QR 및 공유 용도 메모 (선택)",
        "data-value=\"30\">30일(기본)<",
        "data-value=\"custom\">직접 지정<",
    };
    for (const auto needle : needles)
        EXPECT_NE(html.find(needle), std::string::npos) << needle;
}

// Every call the script makes: path to method (GET when no method is written).
std::map<std::string, std::string> page_calls(const std::string& script)
{
    std::map<std::string, std::string> calls;
    const std::regex call(R"re((?:api|fetch)\("(/[^"?]*)[^"]*"\s*(?:\)|\+[^,)]*\)|,\s*(?:"([A-Z]+)"|\{\s*method:\s*"([A-Z]+)")))re");
    for (std::sregex_iterator it(script.begin(), script.end(), call), end; it != end; ++it) {
        const auto& m = *it;
        std::string method = m[2].matched ? m[2].str() : m[3].matched ? m[3].str() : "GET";
        calls.emplace(m[1].str(), method);
    }
    return calls;
}

TEST(Page, EveryCallReachesARoute)
{
    const auto calls = page_calls(inline_script(page()));
    const std::set<std::string> expected = {
        "/api/local/state", "/api/local/heartbeat", "/api/local/login", "/api/local/logout",
        "/api/local/install-menu", "/api/local/uninstall-menu", "/api/local/copy", "/api/local/pick",
        "/api/local/quit", "/api/local/add-paths", "/api/local/check-code", "/api/local/start-upload",
        "/api/local/selection-version",
    };
    std::set<std::string> found;
    for (const auto& [path, method] : calls)
        found.insert(path);
    EXPECT_EQ(found, expected);

    test::TempConfigHome home;
    test_support::ScopedEnv local_app_data("LOCALAPPDATA", home.dir().string());
    // A closed loopback port as the service, so the remote calls fail at once.
    config::DesktopConfig cfg;
    cfg.server_url = "http://127.0.0.1:1";
    ASSERT_TRUE(config::save_config(cfg));

    for (const auto& [path, method] : calls) {
        SCOPED_TRACE(method + " " + path);
#ifdef _WIN32
        // Under wine these run the prefix's own reg and PowerShell, shared with other tests.
        if (path == "/api/local/install-menu" || path == "/api/local/uninstall-menu" || path == "/api/local/pick"
            || path == "/api/local/copy")
            continue;
#endif
        test::LocalServer srv; // quit ends the loop, so each call gets its own server
        const auto reply = test::split_reply(srv.call(method, path, method == "POST" ? "{}" : ""));
        ASSERT_TRUE(reply.head.starts_with("HTTP/1.1 ")) << reply.head;
        EXPECT_FALSE(reply.head.starts_with("HTTP/1.1 404")) << reply.head << reply.body;
        EXPECT_FALSE(reply.head.starts_with("HTTP/1.1 403")) << reply.head << reply.body;
    }
}

TEST(Page, ScriptParses)
{
#ifdef _WIN32
    GTEST_SKIP() << "node runs in the Linux build only";
#else
    if (std::system("node --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "node is not installed";
    test_support::ScratchDir dir;
    const auto file = dir / "page.js";
    test_support::put_file(file, inline_script(page()));
    const std::string cmd = "node --check '" + file.string() + "' 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
#endif
}

} // namespace
