#include "platform/command_line.h"

namespace platform {

namespace {

void append_argument(std::string& out, std::string_view arg)
{
    const bool quote = arg.empty() || arg.find_first_of(" \t") != std::string_view::npos;
    if (quote)
        out += '"';
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            // Each backslash before a quote is doubled, then the quote is escaped.
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    // Backslashes before the closing quote would escape it unless doubled.
    out.append(quote ? backslashes * 2 : backslashes, '\\');
    if (quote)
        out += '"';
}

} // namespace

std::string join_command_line(std::string_view program, const std::vector<std::string>& args)
{
    std::string out;
    out += '"';
    out += program;
    out += '"';
    for (const auto& arg : args) {
        out += ' ';
        append_argument(out, arg);
    }
    return out;
}

} // namespace platform
