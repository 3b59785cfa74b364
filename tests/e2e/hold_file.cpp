// Test helper for the Windows build: keeps a file open the way another program on the PC
// might, until its standard input closes. "deny-write" reads and lets nobody write;
// "deny-all" reads and lets nobody in; "write" opens for writing and lets others do anything.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cstdio>
#include <cwchar>

extern "C" int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const bool denyWrite = std::wcscmp(argv[2], L"deny-write") == 0;
    const bool denyAll = std::wcscmp(argv[2], L"deny-all") == 0;
    const int access = denyWrite || denyAll ? _O_RDONLY : (_O_WRONLY | _O_CREAT | _O_APPEND);
    const int sharing = denyAll ? _SH_DENYRW : denyWrite ? _SH_DENYWR : _SH_DENYNO;
    const int file = _wsopen(argv[1], access | _O_BINARY, sharing, _S_IREAD | _S_IWRITE);
    if (file < 0) {
        std::puts("failed");
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    _close(file);
    return 0;
}
