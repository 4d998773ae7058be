// The user message made from a service's error reply, for the bodies that proxies and the
// service send.
#include "uploader/error_text.h"
#include "uploader/remote_client.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

std::string nginx_page(const std::string& status_line)
{
    return "<html>\r\n<head><title>" + status_line + "</title></head>\r\n<body>\r\n<center><h1>" + status_line
           + "</h1></center>\r\n<hr><center>nginx/1.22.1</center>\r\n</body>\r\n</html>\r\n";
}

// A large branded error page: its title first, then styles, scripts and text far past the
// read cap.
std::string branded_page()
{
    std::string page = "<!DOCTYPE html>\n<html lang=\"ko\"><head><meta charset=\"utf-8\">\n"
                       "<title>\n  VANO &amp; 파트너 &#8211; 일시적인 오류\n</title>\n<style>";
    while (page.size() < 200 * 1024)
        page += ".c{color:#123456;background:url(data:image/png;base64,iVBORw0KGgo=)}\n";
    page += "</style></head><body><div class=\"c\">";
    while (page.size() < 280 * 1024)
        page += "<p>잠시 후 다시 시도해 주세요. Please try again later.</p>\n";
    return page + "</div></body></html>";
}

std::string repeated(std::string_view piece, std::size_t times)
{
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

platform::HttpResponse reply(std::uint16_t status, std::string body, bool truncated = false,
                             std::optional<std::string> body_error = std::nullopt)
{
    platform::HttpResponse r;
    r.status = status;
    r.body = std::move(body);
    r.body_truncated = truncated;
    r.body_error = std::move(body_error);
    return r;
}

// What the client keeps of `body` under the error cap.
platform::HttpResponse capped(std::uint16_t status, const std::string& body)
{
    const bool over = body.size() > uploader::max_error_body_bytes;
    return reply(status, over ? body.substr(0, uploader::max_error_body_bytes) : body, over);
}

TEST(ErrorText, MessagesOfErrorReplies)
{
    const std::string failed_502 = "서버 요청 실패 (HTTP 502): ";
    const std::string page = branded_page();
    const std::string ellipsis = "…";
    const std::string hangul = "한국어 오류"; // 6 code points, 16 bytes
    struct Case {
        std::string_view name;
        platform::HttpResponse reply;
        std::string message;
    };
    const Case cases[] = {
        {"nginx 413 page", reply(413, nginx_page("413 Request Entity Too Large")),
         "서버 요청 실패 (HTTP 413): 413 Request Entity Too Large"},
        {"nginx 502 page", reply(502, nginx_page("502 Bad Gateway")), failed_502 + "502 Bad Gateway"},
        {"nginx 504 page", reply(504, nginx_page("504 Gateway Time-out")),
         "서버 요청 실패 (HTTP 504): 504 Gateway Time-out"},
        {"280 KB branded page, whole", reply(502, page), failed_502 + "VANO & 파트너 – 일시적인 오류"},
        {"280 KB branded page, as far as the cap", capped(502, page), failed_502 + "VANO & 파트너 – 일시적인 오류"},
        {"page without a title: its text",
         reply(503, "  <html><body><h1>Service\n down</h1><script>var t = '<b>x</b>';</script><!-- <p>hidden</p> -->"
                    "<style>p { color: red }</style><p>Try&nbsp;again &#x2014; later &lt;soon&gt;</p></body></html>"),
         "서버 요청 실패 (HTTP 503): Service down Try again — later <soon>"},
        {"page with an empty title: its text", reply(500, "<html><title> </title><p>broken</p>"),
         "서버 요청 실패 (HTTP 500): broken"},
        {"page cut inside a tag", reply(502, "<html><body><p>Down for maintenance</p><di", true),
         failed_502 + "Down for maintenance"},
        {"long page text is shortened",
         reply(500, "<html><body>" + repeated("<p>word</p> ", 200) + "</body></html>"),
         "서버 요청 실패 (HTTP 500): " + repeated("word ", 59) + "word " + ellipsis},
        {"plain text, white space collapsed", reply(502, " Bad\t\tGateway \r\n\r\n upstream\n"),
         failed_502 + "Bad Gateway upstream"},
        {"plain text of exactly the limit", reply(500, std::string(uploader::max_error_text_chars, 'x')),
         "서버 요청 실패 (HTTP 500): " + std::string(uploader::max_error_text_chars, 'x')},
        {"plain text one past the limit", reply(500, std::string(uploader::max_error_text_chars + 1, 'x')),
         "서버 요청 실패 (HTTP 500): " + std::string(uploader::max_error_text_chars, 'x') + ellipsis},
        {"10 MB body as far as the cap", capped(500, std::string(10'000'000, 'z')),
         "서버 요청 실패 (HTTP 500): " + std::string(uploader::max_error_text_chars, 'z') + ellipsis},
        {"Korean text is cut by characters, not bytes", reply(500, repeated(hangul, 60)),
         "서버 요청 실패 (HTTP 500): " + repeated(hangul, 50) + ellipsis},
        {"short JSON detail unchanged", reply(400, R"({"detail":"  코드가  이미 사용 중입니다 "})"),
         "  코드가  이미 사용 중입니다 "},
        {"short detail message unchanged", reply(422, R"({"detail":{"message":"형식 오류"}})"), "형식 오류"},
        {"long JSON detail shortened", reply(400, R"({"detail":")" + repeated(hangul, 60) + R"("})"),
         repeated(hangul, 50) + ellipsis},
        {"long top-level message shortened", reply(500, R"({"message":")" + std::string(1000, 'm') + R"("})"),
         std::string(uploader::max_error_text_chars, 'm') + ellipsis},
        {"JSON detail cut at the cap is raw text",
         reply(400, R"({"detail":")" + std::string(100, 'd'), true),
         R"(서버 요청 실패 (HTTP 400): {"detail":")" + std::string(100, 'd')},
        {"invalid UTF-8 inside is replaced", reply(503, "a\xff" "b"), "서버 요청 실패 (HTTP 503): a\uFFFDb"},
        {"body cut in the middle of a character", reply(500, "오류 " + std::string("류").substr(0, 2), true),
         "서버 요청 실패 (HTTP 500): 오류"},
        {"body cut after one byte of a four-byte character", reply(500, "x \xF0", true),
         "서버 요청 실패 (HTTP 500): x"},
        {"whole body ending in half a character keeps its mark", reply(500, "x \xEB\xA5"),
         "서버 요청 실패 (HTTP 500): x \uFFFD"},
        {"empty body", reply(500, ""), "서버 요청 실패 (HTTP 500): "},
        {"body that broke off", reply(502, "<html><title>x</title>", false, "connection reset"),
         "서버 오류 (HTTP 502)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(uploader::read_api_result(c.reply), c.message);
    }
}

} // namespace
