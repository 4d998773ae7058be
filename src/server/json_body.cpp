#include "server/json_body.h"

#include "core/json_text.h"

namespace server {

Json body_json(std::string_view body)
{
    // The page and the hand-off send plain JSON; a byte-order mark is not part of it.
    auto value = core::parse_json_text(body, core::ByteOrderMark::refused);
    return value ? std::move(*value) : Json::object();
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
