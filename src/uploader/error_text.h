#pragma once
// Short, readable texts made from a service's error bodies, which may be anything a proxy
// in front of it sends: HTML pages, long plain text, or bytes cut off at the read cap.

#include <cstddef>
#include <string>
#include <string_view>

namespace uploader {

// Most characters (code points) of body text that a user message carries.
inline constexpr std::size_t max_error_text_chars = 300;

// `text` (UTF-8) cut after max_error_text_chars code points, with "…" where it was cut.
[[nodiscard]] std::string shortened(std::string_view text);

// What a user message shows of an error body (UTF-8): for markup (the body's first
// non-blank character is "<"), its title when it has a non-empty one, else its text
// without tags, comments, scripts and styles, with the common character references
// decoded; white space collapsed to single blanks and trimmed at both ends; then
// shortened(). Cannot fail.
[[nodiscard]] std::string error_body_summary(std::string_view text);

} // namespace uploader
