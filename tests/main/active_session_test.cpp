#include "main/active_session.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace {

using app::ActiveSession;
using app::EpochMs;

constexpr EpochMs u128_max = ~EpochMs{0};
constexpr std::string_view u128_max_text = "340282366920938463463374607431768211455";

TEST(ActiveSessionReader, AcceptsOnlyTheStatedShapes)
{
    const ActiveSession basic{8080, "abc", 1700000000000};
    const std::string nul(1, '\0');
    struct Case {
        std::string_view name;
        std::string text;
        std::optional<ActiveSession> expected;
    };
    const Case cases[] = {
        {"as written", R"({"port":8080,"token":"abc","created_epoch_ms":1700000000000})", basic},
        {"keys in another order", R"({"created_epoch_ms":1700000000000,"token":"abc","port":8080})", basic},
        {"white space around every token", " \t\r\n{ \"port\" : 8080 ,\n\"token\":\"abc\" , \"created_epoch_ms\"\t:1700000000000 }\r\n ", basic},
        {"extra key, nested value", R"({"port":8080,"x":{"a":[1,-2.5e3,true,null,"\ud800"]},"token":"abc","created_epoch_ms":1700000000000})", basic},
        {"extra key repeated", R"({"x":1,"port":8080,"x":"y","token":"abc","created_epoch_ms":1700000000000})", basic},
        {"array form", R"([8080,"abc",1700000000000])", basic},
        {"array form with white space", "[ 8080 , \"abc\" ,1700000000000 ]", basic},
        {"port 0 and 65535", R"([0,"",0])", ActiveSession{0, "", 0}},
        {"highest port", R"([65535,"t",1])", ActiveSession{65535, "t", 1}},
        {"created above 2^64", R"([1,"t",18446744073709551616])", ActiveSession{1, "t", EpochMs{1} << 64}},
        {"created at 2^128 - 1", "[1,\"t\"," + std::string(u128_max_text) + "]", ActiveSession{1, "t", u128_max}},
        {"escaped token", R"([1,"a\"\\\/\n\u00e9\ud83d\ude00",2])", ActiveSession{1, "a\"\\/\n\xC3\xA9\xF0\x9F\x98\x80", 2}},
        {"escaped key name", R"({"p\u006frt":1,"token":"t","created_epoch_ms":2})", ActiveSession{1, "t", 2}},
        {"escaped NUL inside the token", R"([1,"a\u0000b",2])", ActiveSession{1, std::string("a\0b", 3), 2}},

        {"port above 65535", R"({"port":65536,"token":"abc","created_epoch_ms":1})", std::nullopt},
        {"negative port", R"({"port":-1,"token":"abc","created_epoch_ms":1})", std::nullopt},
        {"fractional port", R"({"port":80.0,"token":"abc","created_epoch_ms":1})", std::nullopt},
        {"exponent in created", R"({"port":80,"token":"abc","created_epoch_ms":1e3})", std::nullopt},
        {"quoted number", R"({"port":"80","token":"abc","created_epoch_ms":1})", std::nullopt},
        {"leading zero", R"({"port":080,"token":"abc","created_epoch_ms":1})", std::nullopt},
        {"created at 2^128", "[1,\"t\",340282366920938463463374607431768211456]", std::nullopt},
        {"token not a string", R"({"port":80,"token":5,"created_epoch_ms":1})", std::nullopt},
        {"token with lone surrogate", R"([1,"\ud800",2])", std::nullopt},
        {"token with raw control character", "[1,\"a\x01\",2]", std::nullopt},
        {"missing key", R"({"port":80,"token":"abc"})", std::nullopt},
        {"repeated key", R"({"port":80,"port":81,"token":"abc","created_epoch_ms":1})", std::nullopt},
        {"empty object", "{}", std::nullopt},
        {"text after the value", R"({"port":80,"token":"abc","created_epoch_ms":1}x)", std::nullopt},
        {"NUL and more after the value", R"({"port":80,"token":"abc","created_epoch_ms":1})" + nul + "x", std::nullopt},
        {"NUL alone after the value", "[80,\"abc\",1]" + nul, std::nullopt},
        {"NUL inside trailing white space", "[80,\"abc\",1] \r\n" + nul + "\n", std::nullopt},
        {"NUL right after a number", "[80,\"abc\",1" + nul + "]", std::nullopt},
        {"raw NUL inside the token", "[80,\"a" + nul + "\",1]", std::nullopt},
        {"second value after the first", R"([80,"abc",1][80,"abc",1])", std::nullopt},
        {"trailing comma", R"({"port":80,"token":"abc","created_epoch_ms":1,})", std::nullopt},
        {"bad extra value", R"({"port":80,"x":tru,"token":"abc","created_epoch_ms":1})", std::nullopt},
        {"array of two", R"([80,"abc"])", std::nullopt},
        {"array of four", R"([80,"abc",1,2])", std::nullopt},
        {"array in wrong order", R"(["abc",80,1])", std::nullopt},
        {"byte-order mark", "\xEF\xBB\xBF[80,\"abc\",1]", std::nullopt},
        {"invalid UTF-8", "[80,\"a\xFF\",1]", std::nullopt},
        {"other top-level value", "\"[80,\\\"abc\\\",1]\"", std::nullopt},
        {"empty file", "", std::nullopt},
        {"form feed is not white space", "\f[80,\"abc\",1]", std::nullopt},
        {"nesting too deep in a skipped value",
         "{\"x\":" + std::string(200, '[') + std::string(200, ']') + ",\"port\":1,\"token\":\"t\",\"created_epoch_ms\":1}",
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(app::parse_active_session(c.text), c.expected);
    }
}

TEST(ActiveSessionWriter, WritesCompactJsonThatAStandardReaderAgreesWith)
{
    struct Case {
        std::string_view name;
        ActiveSession session;
        std::string_view expected;
    };
    const Case cases[] = {
        {"plain", {54321, "0123456789abcdef0123456789abcdef", 1765360000123},
         R"({"port":54321,"token":"0123456789abcdef0123456789abcdef","created_epoch_ms":1765360000123})"},
        {"zeros", {0, "", 0}, R"({"port":0,"token":"","created_epoch_ms":0})"},
        {"escapes", {1, "q\"b\\n\n\x1f/\xC3\xA9", 7}, R"({"port":1,"token":"q\"b\\n\n\u001f/é","created_epoch_ms":7})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = app::serialize_active_session(c.session);
        EXPECT_EQ(text, c.expected);
        const auto doc = nlohmann::json::parse(text);
        EXPECT_EQ(doc.at("port").get<unsigned>(), c.session.port);
        EXPECT_EQ(doc.at("token").get<std::string>(), c.session.token);
        EXPECT_EQ(doc.at("created_epoch_ms").get<std::uint64_t>(), static_cast<std::uint64_t>(c.session.created_epoch_ms));
        EXPECT_EQ(app::parse_active_session(text), c.session);
    }
    EXPECT_EQ(app::u128_to_decimal(u128_max), u128_max_text);
}

} // namespace
