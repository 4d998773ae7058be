#pragma once
// What a route handler gives back: the HTTP status and the JSON body to send.

#include <nlohmann/json.hpp>

#include <cstdint>

namespace server {

// Objects keep their keys sorted (std::map), so replies list them in order.
using Json = nlohmann::json;

struct RouteReply {
    std::uint16_t status = 200;
    Json body;
};

} // namespace server
