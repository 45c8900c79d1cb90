// A caller that loads QvSplit.dll at run time, as a backup application on Windows may:
// LoadLibrary, GetProcAddress("GetQvSplitInterface"), one split, delete, FreeLibrary.
// Usage: loader RULES.xml MEDIA_FOLDER\  (prints "N media")
#include <QvSplit.h>

#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: loader RULES.xml MEDIA_FOLDER\\\n");
        return 2;
    }
    HMODULE dll = LoadLibraryW(L"QvSplit.dll");
    if (!dll) {
        std::fprintf(stderr, "loader: QvSplit.dll cannot be loaded (error %lu)\n", GetLastError());
        return 1;
    }
    using GetInterface = iCQvSplit* (*)();
    auto get = reinterpret_cast<GetInterface>(
        reinterpret_cast<void*>(GetProcAddress(dll, "GetQvSplitInterface")));
    iCQvSplit* split = get ? get() : nullptr;
    if (!split) {
        std::fprintf(stderr, "loader: GetQvSplitInterface not found or failed\n");
        FreeLibrary(dll);
        return 1;
    }
    const DWORD ok = split->SetupSplit(L"VOL1", argv[1], L"Backup", 0, 700, 0, 0, argv[2]);
    const DWORD media = ok ? split->EstimateSplit() : 0;
    std::printf("%u media\n", static_cast<unsigned>(media));
    delete split;
    FreeLibrary(dll);
    return media ? 0 : 1;
}
