// The reply head's exact bytes for every status the routes send.
#include "server/http_reply.h"

#include <gtest/gtest.h>

namespace {

TEST(HttpReplyTest, HeadCarriesTheReasonPhraseOfItsStatus)
{
    struct Case {
        std::uint16_t status;
        std::string_view status_line;
    };
    const Case cases[] = {
        {200, "HTTP/1.1 200 OK"},
        {400, "HTTP/1.1 400 Bad Request"},
        {401, "HTTP/1.1 401 Unauthorized"},
        {403, "HTTP/1.1 403 Forbidden"},
        {404, "HTTP/1.1 404 Not Found"},
        {500, "HTTP/1.1 500 Internal Server Error"},
        {502, "HTTP/1.1 502 Internal Server Error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        EXPECT_EQ(server::http_head(c.status, "application/json; charset=utf-8", 17),
                  std::string(c.status_line)
                      + "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: 17\r\n"
                        "Cache-Control: no-store\r\nConnection: close\r\n\r\n");
    }
}

} // namespace
