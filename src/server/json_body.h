#pragma once
// Reading a local API request's JSON body.

#include "server/route_reply.h"

#include <string>
#include <string_view>

namespace server {

// The body parsed as one JSON value (nesting at most core::MAX_JSON_DEPTH levels, nothing
// but JSON white space after it up to the body's last byte). Any failure, an empty body
// and a body that starts with a byte-order mark included, gives an empty object.
[[nodiscard]] Json body_json(std::string_view body);

// The key's string value; empty when `body` is not an object or the key is absent or
// not a string.
[[nodiscard]] std::string body_text(const Json& body, std::string_view key);

// True only when the key holds the JSON value true.
[[nodiscard]] bool body_flag(const Json& body, std::string_view key);

} // namespace server
