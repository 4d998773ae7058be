#pragma once
// What every call to the remote service shares: the agent, the service's URLs, the reply
// body limit, JSON parsing of replies, and the user message made from an error reply.

#include "core/result.h"
#include "platform/http_client.h"
#include "server/route_reply.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace uploader {

// Most bytes of a reply body that are read into memory. An error reply beyond it gives
// the plain server-error message; a success beyond it does not parse.
inline constexpr std::size_t max_reply_body_bytes = 10 * 1024 * 1024;

// Most bytes of an error reply's body that are read: only a short summary of it is shown.
inline constexpr std::size_t max_error_body_bytes = 64 * 1024;

// A new agent for one remote call: 15 s to connect, 20 s (1200 s when `for_upload`) for
// each read and write, no overall limit. Redirects (at most 5), no proxy and TLS
// verification are the HTTP client's own. Cannot fail.
[[nodiscard]] platform::HttpClient make_agent(bool for_upload);

// Gives every agent made from now on these time-outs instead (nothing: the real ones
// again). Only for tests that must see a time-out without waiting 20 s.
void set_agent_timeouts_for_test(std::optional<platform::HttpTimeouts> timeouts);

// `server_url` without any of its trailing "/" characters; nothing else changes.
[[nodiscard]] std::string base_url(std::string_view server_url);

// One JSON value, nested at most 128 levels deep, followed by nothing but JSON white
// space up to the text's last byte (a NUL byte there is an error); a leading byte-order
// mark is skipped. Fails with the parser's description.
[[nodiscard]] core::Result<server::Json> parse_reply_json(std::string_view text);

// A success reply's body as JSON: fails with the parser's description, or with a fixed
// text when the body passed max_reply_body_bytes.
[[nodiscard]] core::Result<server::Json> parse_success_body(const platform::HttpResponse& reply);

// The text value of `key` at the top level of a reply object; a value of another type,
// or a reply that is no object, counts as absent.
[[nodiscard]] std::optional<std::string> reply_text(const server::Json& reply, std::string_view key);

// The user message for an error reply (status 400 or above), read with the body limit
// max_error_body_bytes: the reply's `detail` text, else the `message` text of an object
// `detail`, else the top-level `message` text (each shortened to max_error_text_chars);
// otherwise the status and error_body_summary() of the body, or of the part of it that
// was read. A body that broke off gives the plain server-error message.
[[nodiscard]] std::string read_api_result(const platform::HttpResponse& reply);

} // namespace uploader
