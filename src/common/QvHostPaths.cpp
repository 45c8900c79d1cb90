// The exported mapping between host paths and library paths, for the program and other callers.
#include "QvSplit.h"

#include "platform/QvPlatform.h"

#include <cstring>
#include <cwchar>
#include <exception>
#include <string>

namespace {

// Copies text into out of size units, as GetFullPathName does: its length when it fits, else
// the size needed (nothing written).
template <class Char>
DWORD Hand(const std::basic_string<Char>& text, Char* out, DWORD size) {
    if (text.empty()) return 0;
    if (!out || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(Char));
    return static_cast<DWORD>(text.size());
}

}  // namespace

extern "C" QVSPLIT_API wchar_t QvGetHostDrive(void) { return qvp::HostDrive(); }

extern "C" QVSPLIT_API DWORD QvHostPathToLibrary(const char* pszHostPath, DWORD dwFlags, wchar_t* pszOut,
                                                 DWORD cchOut) {
    if (!pszHostPath) return 0;
    try {
        return Hand(qvp::HostPathToLibrary(pszHostPath, (dwFlags & QV_HOST_PATH_PATTERN) != 0), pszOut, cchOut);
    } catch (const std::exception&) {
        return 0;
    }
}

extern "C" QVSPLIT_API DWORD QvLibraryPathToHost(LPCTSTR pszPath, char* pszOut, DWORD cbOut) {
    if (!pszPath) return 0;
    try {
        return Hand(qvp::LibraryPathToHost(pszPath), pszOut, cbOut);
    } catch (const std::exception&) {
        return 0;
    }
}
