// The example of docs/library.md: set a split up from a rules file and write the media files.
#include <QvSplit.h>
#include <cstdio>

int main() {
    iCQvSplit* split = GetQvSplitInterface();
    if (!split) return 1;
    DWORD ok = split->SetupSplit(L"VOL1", L"C:\\rules.xml", L"Backup", 0, 700, 0, 0, L"C:\\media\\");
    DWORD media = ok ? split->EstimateSplit() : 0;
    std::printf("%u media\n", static_cast<unsigned>(media));
    delete split;
    return media ? 0 : 1;
}
