#include "server/http_request.h"

#include "core/ascii.h"
#include "core/utf8.h"
#include "server/percent.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

namespace server {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view s)
{
    while (!s.empty() && is_space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_space(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string ascii_upper(std::string_view s)
{
    std::string out(s);
    std::ranges::transform(out, out.begin(), [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    return out;
}

std::vector<std::string_view> split_words(std::string_view s)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && is_space(s[i]))
            ++i;
        const std::size_t begin = i;
        while (i < s.size() && !is_space(s[i]))
            ++i;
        if (i > begin)
            words.push_back(s.substr(begin, i - begin));
    }
    return words;
}

// Content length: an unsigned decimal number, 0 when it does not parse (overflow
// included), capped at MAX_BODY_BYTES.
std::size_t parse_content_length(std::string_view value)
{
    std::uint64_t n = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec != std::errc() || end != value.data() + value.size() || value.empty())
        return 0;
    return static_cast<std::size_t>(std::min<std::uint64_t>(n, MAX_BODY_BYTES));
}

// Appends `n` bytes, never growing the capacity past `limit`: the memory follows the
// bytes that came, at most twice their number.
void append_within(std::string& out, const char* data, std::size_t n, std::size_t limit)
{
    if (out.size() + n > out.capacity())
        out.reserve(std::min(limit, std::max(out.size() + n, 2 * out.capacity())));
    out.append(data, n);
}

} // namespace

core::Result<std::size_t> recv_before(platform::Socket& conn, char* buffer, std::size_t size,
                                      std::chrono::milliseconds per_read, platform::MonoInstant deadline)
{
    const auto left = deadline - platform::monotonic_now();
    if (left <= std::chrono::steady_clock::duration::zero())
        return core::fail("time limit passed");
    // Rounded up: a time-out of 0 would mean no limit at all.
    (void)conn.set_recv_timeout(std::min(per_read, std::chrono::ceil<std::chrono::milliseconds>(left)));
    return conn.recv_some(buffer, size);
}

std::optional<std::string> query_value(const HttpRequest& req, const std::string& key)
{
    const auto it = req.query.find(key);
    if (it == req.query.end())
        return std::nullopt;
    return it->second;
}

std::map<std::string, std::string> parse_query(std::string_view query)
{
    std::map<std::string, std::string> out;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t eq = piece.find('=');
        if (piece.empty() || eq == std::string_view::npos)
            continue;
        out[decode_query_component(piece.substr(0, eq))] = decode_query_component(piece.substr(eq + 1));
    }
    return out;
}

// One line up to and including its line feed, or up to the end of the stream. Invalid
// UTF-8 and a line past `limit` bytes are failures.
RequestReader::Line RequestReader::read_line(std::string& line, std::size_t limit)
{
    line.clear();
    for (;;) {
        if (m_pos == m_len) {
            if (!fill())
                return Line::failed;
            if (m_len == 0)
                break; // end of stream
        }
        const char* begin = m_buffer + m_pos;
        const char* lf = static_cast<const char*>(std::memchr(begin, '\n', m_len - m_pos));
        const std::size_t take = lf ? static_cast<std::size_t>(lf - begin) + 1 : m_len - m_pos;
        if (line.size() + take > limit)
            return Line::failed;
        line.append(begin, take);
        m_pos += take;
        if (lf)
            break;
    }
    if (line.empty())
        return Line::end_of_stream;
    return core::is_valid_utf8(line) ? Line::ok : Line::failed;
}

bool RequestReader::fill()
{
    m_pos = 0;
    m_len = 0;
    auto n = recv(m_buffer, sizeof m_buffer);
    if (!n)
        return false;
    m_len = *n;
    return true;
}

core::Result<std::size_t> RequestReader::recv(char* buffer, std::size_t size)
{
    return recv_before(m_conn, buffer, size, m_read_wait, m_deadline);
}

std::optional<HttpRequest> RequestReader::read_head()
{
    std::size_t head_bytes = 0;
    std::string line;
    const auto next_line = [&] {
        const Line status = read_line(line, std::min(MAX_LINE_BYTES, MAX_HEAD_BYTES - head_bytes));
        head_bytes += line.size();
        return status;
    };
    if (next_line() != Line::ok)
        return std::nullopt;

    const auto words = split_words(trim(line));
    if (words.size() < 2)
        return std::nullopt;
    HttpRequest req;
    req.method = ascii_upper(words[0]);
    const std::string_view target = words[1];
    const std::size_t q = target.find('?');
    req.path = std::string(target.substr(0, q));
    if (q != std::string_view::npos)
        req.query = parse_query(target.substr(q + 1));

    m_content_length = 0;
    for (std::size_t count = 0;; ++count) {
        const auto status = next_line();
        if (status == Line::failed)
            return std::nullopt;
        if (status == Line::end_of_stream || line == "\r\n" || line == "\n")
            break;
        if (count == MAX_HEADER_LINES)
            return std::nullopt;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = core::ascii_lower(trim(std::string_view(line).substr(0, colon)));
        const std::string_view value = trim(std::string_view(line).substr(colon + 1));
        if (name == "content-length")
            m_content_length = parse_content_length(value);
        req.headers[std::move(name)] = std::string(value);
    }
    return req;
}

bool RequestReader::read_body(HttpRequest& req)
{
    std::string& out = req.body;
    const std::size_t size = m_content_length;
    out.clear();
    const std::size_t buffered = std::min(size, m_len - m_pos);
    append_within(out, m_buffer + m_pos, buffered, size);
    m_pos += buffered;
    while (out.size() < size) {
        m_pos = 0;
        m_len = 0;
        auto n = recv(m_buffer, std::min(sizeof m_buffer, size - out.size()));
        if (!n || *n == 0)
            return false;
        append_within(out, m_buffer, *n, size);
    }
    return true;
}

} // namespace server
