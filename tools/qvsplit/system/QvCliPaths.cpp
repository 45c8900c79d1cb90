// Conversion between host paths and the Windows paths the library works with.
#include "system/QvCliPaths.h"

#include "QvSplit.h"
#include "platform/QvPlatform.h"

#include <filesystem>

std::wstring QvCliWiden(const std::string& s) { return qvp::Utf8ToWide(s); }

std::string QvCliNarrow(const std::wstring& s) { return qvp::WideToUtf8(s); }

std::filesystem::path QvCliFsPath(const std::string& utf8) { return std::filesystem::u8path(utf8); }

std::string QvCliPathText(const std::filesystem::path& p) { return p.u8string(); }

// The mapping itself lives in the library, which the C interface maps its callers' paths with:
// the program and every other caller reach the same files under the same library paths.
wchar_t QvCliDrive() { return QvGetHostDrive(); }

namespace {

// A text the library writes into a buffer of the size it asks for.
template <class Char, class Call>
std::basic_string<Char> Fetched(Call call) {
    thread_local std::basic_string<Char> buffer(1024, Char());
    for (;;) {
        const DWORD n = call(&buffer[0], static_cast<DWORD>(buffer.size()));
        if (n < buffer.size()) return std::basic_string<Char>(buffer.data(), n);
        buffer.resize(n);
    }
}

}  // namespace

std::wstring QvCliToLibraryPath(const std::string& hostPath) {
    return Fetched<wchar_t>([&](wchar_t* out, DWORD size) { return QvHostPathToLibrary(hostPath.c_str(), 0, out, size); });
}

std::wstring QvCliToLibraryPattern(const std::string& hostPath) {
    return Fetched<wchar_t>([&](wchar_t* out, DWORD size) {
        return QvHostPathToLibrary(hostPath.c_str(), QV_HOST_PATH_PATTERN, out, size);
    });
}

std::string QvCliToHostPath(const std::wstring& libraryPath) {
    return Fetched<char>([&](char* out, DWORD size) { return QvLibraryPathToHost(libraryPath.c_str(), out, size); });
}
