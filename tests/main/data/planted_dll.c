/* A DLL planted beside a program under the name of a system DLL that is not on the KnownDLLs
   list. Loaded, it leaves "<its own path>.loaded" and ends the process with exit code 77
   before the program's own code can run. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t marker[MAX_PATH + 16];
    const DWORD n = GetModuleFileNameW(self, marker, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        lstrcatW(marker, L".loaded");
        HANDLE h = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    ExitProcess(77);
    return TRUE;
}
