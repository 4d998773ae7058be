/* A program planted where a program search that looks beyond the system folder would find it
   first (beside the program, in the current folder) under the name of a system program. It
   adds one line to "planted.log" beside itself: its own file name, a blank, its command
   line (UTF-8). */
#include <windows.h>

static void append_line(const wchar_t* log, const wchar_t* name, const wchar_t* command_line)
{
    HANDLE h = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return;
    static wchar_t line[32768 + MAX_PATH];
    lstrcpynW(line, name, MAX_PATH);
    lstrcatW(line, L" ");
    lstrcpynW(line + lstrlenW(line), command_line, 32768);
    lstrcatW(line, L"\n");
    static char bytes[4 * (32768 + MAX_PATH)];
    const int n = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, (int)sizeof bytes, NULL, NULL);
    DWORD written = 0;
    if (n > 1)
        WriteFile(h, bytes, (DWORD)(n - 1), &written, NULL);
    CloseHandle(h);
}

int wmain(int argc, wchar_t** argv)
{
    (void)argc;
    (void)argv;
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(NULL, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return 3;
    wchar_t* name = self;
    for (wchar_t* p = self; *p; ++p)
        if (*p == L'\\' || *p == L'/')
            name = p + 1;
    wchar_t log[MAX_PATH + 16];
    lstrcpynW(log, self, (int)(name - self) + 1);
    lstrcatW(log, L"planted.log");
    append_line(log, name, GetCommandLineW());
    return 0;
}
