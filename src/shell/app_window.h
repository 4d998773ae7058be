#pragma once

#include <string>

namespace shell {

// Opens the page in an Edge or Chrome app window, else the default browser. The whole
// body of the window thread; reports nothing.
void open_app_window(const std::string& url, bool started_with_paths);

} // namespace shell
