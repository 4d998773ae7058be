// Query decoding and the JSON body readers.
#include "server/http_request.h"
#include "server/json_body.h"

#include <gtest/gtest.h>

#include <map>

namespace {

TEST(QueryTest, PairsAreSplitDecodedAndTheLastWins)
{
    using Map = std::map<std::string, std::string>;
    struct Case {
        std::string_view name;
        std::string_view query;
        Map expected;
    };
    const Case cases[] = {
        {"plain pairs", "a=1&b=2", {{"a", "1"}, {"b", "2"}}},
        {"plus stays plus", "q=1+2", {{"q", "1+2"}}},
        {"escapes decoded in key and value", "%61=%62%2B%20c", {{"a", "b+ c"}}},
        {"lower and upper hex", "v=%c3%a9%C3%A9", {{"v", "éé"}}},
        {"percent without two hex digits stays", "v=100%&w=%4&x=%zz1", {{"v", "100%"}, {"w", "%4"}, {"x", "%zz1"}}},
        {"decoded bytes not UTF-8 keep the raw text", "v=%ff%41", {{"v", "%ff%41"}}},
        {"piece without equals sign skipped", "flag&a=1", {{"a", "1"}}},
        {"empty pieces skipped", "&&a=1&&", {{"a", "1"}}},
        {"split at the first equals sign", "a==b=c", {{"a", "=b=c"}}},
        {"empty key and value", "=&k=", {{"", ""}, {"k", ""}}},
        {"repeated key keeps the last", "t=1&t=2&t=3", {{"t", "3"}}},
        {"nothing", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(server::parse_query(c.query), c.expected);
    }
}

std::string nested(std::size_t depth)
{
    return std::string(depth, '[') + std::string(depth, ']');
}

TEST(BodyJsonTest, KeysReadAsTheirDefaultsUnlessWellTyped)
{
    const std::string nul(1, '\0');
    struct Case {
        std::string_view name;
        std::string body;
        std::string text; // body_text(..., "text")
        bool flag;        // body_flag(..., "flag")
    };
    const Case cases[] = {
        {"well typed", R"({"text":"hi ","flag":true})", "hi ", true},
        {"whitespace around", " \r\n{\"text\":\"x\"}\n\t", "x", false},
        {"empty body", "", "", false},
        {"not JSON", "text=hi&flag=true", "", false},
        {"array", R"([{"text":"hi","flag":true}])", "", false},
        {"string value", R"("text")", "", false},
        {"trailing garbage", R"({"text":"hi","flag":true} x)", "", false},
        {"two values", R"({"text":"a"}{"text":"b"})", "", false},
        {"flag as string", R"({"flag":"true"})", "", false},
        {"flag as number", R"({"flag":1})", "", false},
        {"flag false", R"({"flag":false})", "", false},
        {"null values", R"({"text":null,"flag":null})", "", false},
        {"text as number", R"({"text":5})", "", false},
        {"repeated key keeps the last", R"({"text":"a","text":"b"})", "b", false},
        {"invalid UTF-8 in a string", "{\"text\":\"\xff\"}", "", false},
        {"nesting at the limit", R"({"text":"deep","x":)" + nested(127) + "}", "deep", false},
        {"nesting past the limit", R"({"text":"deep","x":)" + nested(128) + "}", "", false},
        {"brackets inside strings do not nest", R"({"text":")" + std::string(300, '[') + R"("})", std::string(300, '['), false},
        {"escaped quote inside a string", R"({"text":"a\"[[","flag":true})", "a\"[[", true},
        {"NUL and more after the value", R"({"text":"hi","flag":true})" + nul + "junk", "", false},
        {"NUL alone after the value", R"({"text":"hi","flag":true})" + nul, "", false},
        {"NUL inside trailing white space", "{\"text\":\"hi\",\"flag\":true} \n" + nul + " \t", "", false},
        {"NUL after a number", R"({"flag":true,"text":"x","n":1)" + nul + "}", "", false},
        {"NUL before the value", nul + R"({"text":"hi"})", "", false},
        {"raw NUL inside a string", "{\"text\":\"a" + nul + "b\"}", "", false},
        {"escaped NUL inside a string is text", R"({"text":"a\u0000b","flag":true})", "a" + nul + "b", true},
        {"byte-order mark", "\xEF\xBB\xBF" R"({"text":"hi","flag":true})", "", false},
        {"byte-order mark inside a string is text", "{\"text\":\"\xEF\xBB\xBF\"}", "\xEF\xBB\xBF", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const server::Json body = server::body_json(c.body);
        EXPECT_EQ(server::body_text(body, "text"), c.text);
        EXPECT_EQ(server::body_flag(body, "flag"), c.flag);
    }
}

TEST(BodyJsonTest, BadBodiesGiveAnEmptyObject)
{
    for (const std::string& body : {std::string(), std::string("{"), nested(129), std::string("{} []"),
                                    std::string("[1]\0", 4), std::string("[1] \0 ", 6), std::string("\xEF\xBB\xBF[1]")}) {
        SCOPED_TRACE(testing::PrintToString(body.substr(0, 20)));
        EXPECT_EQ(server::body_json(body), server::Json::object());
    }
    EXPECT_EQ(server::body_json(nested(128)).dump().size(), 256u);
}

} // namespace
