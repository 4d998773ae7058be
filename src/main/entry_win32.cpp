#include "main/run_main.h"
#include "platform/args.h"

int wmain(int, wchar_t**)
{
    // The wide command line is re-read by the platform layer, which turns unpaired
    // surrogates into U+FFFD.
    return app::run_main(platform::command_line_args());
}
