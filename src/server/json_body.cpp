#include "server/json_body.h"

namespace server {
namespace {

// Deepest nesting of arrays and objects in `text`, brackets inside strings not counted.
// Run before parsing because the parser itself has no depth limit.
std::size_t nesting_depth(std::string_view text)
{
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

} // namespace

Json body_json(std::string_view body)
{
    if (nesting_depth(body) > MAX_JSON_DEPTH)
        return Json::object();
    Json value = Json::parse(body.begin(), body.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded())
        return Json::object();
    return value;
}

std::string body_text(const Json& body, std::string_view key)
{
    if (!body.is_object())
        return {};
    const auto it = body.find(key);
    if (it == body.end() || !it->is_string())
        return {};
    return it->get<std::string>();
}

bool body_flag(const Json& body, std::string_view key)
{
    if (!body.is_object())
        return false;
    const auto it = body.find(key);
    return it != body.end() && it->is_boolean() && it->get<bool>();
}

} // namespace server
