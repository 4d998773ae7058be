/* Prints, one line each in UTF-8, the full path that Win32 makes of each argument after
   the first, taken against the first as the current folder. */
#include <windows.h>

#include <stdio.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || !SetCurrentDirectoryW(argv[1]))
        return 2;
    for (int i = 2; i < argc; ++i) {
        static wchar_t full[32768];
        static char text[4 * 32768];
        const DWORD n = GetFullPathNameW(argv[i], 32768, full, NULL);
        if (n == 0 || n >= 32768)
            return 1;
        if (!WideCharToMultiByte(CP_UTF8, 0, full, -1, text, sizeof text, NULL, NULL))
            return 1;
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)strlen(text), &written, NULL);
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "\n", 1, &written, NULL);
    }
    return 0;
}
