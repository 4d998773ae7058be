#include "main/run_main.h"
#include "platform/args.h"
#include "platform/dll_search.h"

int wmain(int, wchar_t**)
{
    // Before anything can load a DLL by name.
    platform::restrict_dll_search_to_system();
    // The wide command line is re-read by the platform layer, which turns unpaired
    // surrogates into U+FFFD.
    return app::run_main(platform::command_line_args());
}
