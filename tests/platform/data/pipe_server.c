/* Holds named pipe instances open under the name given, for tests of code that must tell a
   pipe from a file. Prints "ready" once they exist, then waits to be killed (two minutes at
   most). */
#include <windows.h>

#include <stdio.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    for (int i = 0; i < 16; ++i) {
        HANDLE pipe = CreateNamedPipeW(argv[1], PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, PIPE_UNLIMITED_INSTANCES, 4096,
                                       4096, 0, NULL);
        if (pipe == INVALID_HANDLE_VALUE)
            return 1;
    }
    printf("ready\n");
    fflush(stdout);
    Sleep(120000);
    return 0;
}
