// Host paths as the library takes them and back, on Windows: the one mapping that the program
// and the C interface share. A host path is a Windows path already; it is made absolute.
#include "platform/QvPlatform.h"

#include <filesystem>

namespace qvp {

wchar_t HostDrive() { return L'C'; }

std::wstring HostPathToLibrary(const std::string& hostPath, bool /*bPattern: wildcards stay as written*/) {
    if (hostPath.empty()) return std::wstring();
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(std::filesystem::u8path(hostPath), ec);
    if (ec) p = std::filesystem::u8path(hostPath);
    return p.lexically_normal().wstring();
}

std::string LibraryPathToHost(const std::wstring& libraryPath) { return WideToUtf8(libraryPath); }

}  // namespace qvp
