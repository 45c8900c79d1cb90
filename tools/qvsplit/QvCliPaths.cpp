// Conversion between host paths and the Windows paths the library works with.
#include "QvCliPaths.h"

#include "platform/QvPlatform.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

std::wstring QvCliWiden(const std::string& s) { return qvp::Utf8ToWide(s); }

std::string QvCliNarrow(const std::wstring& s) { return qvp::WideToUtf8(s); }

std::filesystem::path QvCliFsPath(const std::string& utf8) { return std::filesystem::u8path(utf8); }

std::string QvCliPathText(const std::filesystem::path& p) { return p.u8string(); }

#if defined(_WIN32)

wchar_t QvCliDrive() { return L'C'; }

std::wstring QvCliToLibraryPath(const std::string& hostPath) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(std::filesystem::u8path(hostPath), ec);
    if (ec) p = std::filesystem::u8path(hostPath);
    return p.lexically_normal().wstring();
}

std::string QvCliToHostPath(const std::wstring& libraryPath) { return QvCliNarrow(libraryPath); }

#else

wchar_t QvCliDrive() {
    // Any drive letter whose root is "/" will do; C unless the user mapped it elsewhere.
    static const wchar_t drive = [] {
        for (char letter = 'C'; letter <= 'Z'; ++letter) {
            const std::string var = std::string("QVSPLIT_DRIVE_") + letter;
            const char* root = std::getenv(var.c_str());
            if (!root || std::string(root) == "/") return static_cast<wchar_t>(letter);
        }
        return L'C';
    }();
    return drive;
}

namespace {

// A host path in Windows form: each name mapped as the platform lists it (a '*' in a name
// becomes U+F02A, so it stays a name), '/' becoming '\\'.
std::wstring HostToWindowsNames(const std::string& host) {
    std::wstring out;
    size_t pos = 0;
    while (true) {
        const size_t end = host.find('/', pos);
        out += qvp::HostNameToWide(host.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        if (end == std::string::npos) return out;
        out += L'\\';
        pos = end + 1;
    }
}

// The reverse: each name of win from pos on back to its host bytes, either separator becoming
// '/', appended to out. A catalogue converts the path of every file it lists.
void AppendHostNames(const std::wstring& win, size_t pos, std::string& out) {
    while (true) {
        const size_t end = win.find_first_of(L"\\/", pos);
        qvp::AppendHostName(win.data() + pos, (end == std::wstring::npos ? win.size() : end) - pos, out);
        if (end == std::wstring::npos) return;
        out += '/';
        pos = end + 1;
    }
}

}  // namespace

std::wstring QvCliToLibraryPath(const std::string& hostPath) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(hostPath, ec);
    if (ec) p = hostPath;
    std::string normal = p.lexically_normal().string();
    // A trailing separator names the same folder; the library adds its own where needed.
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    std::wstring out;
    out += QvCliDrive();
    out += L':';
    return out + HostToWindowsNames(normal);
}

namespace {

std::string WholeHostPath(const std::wstring& libraryPath) {
    std::string host;
    size_t pos = 0;
    if (libraryPath.size() >= 2 && libraryPath[1] == L':') {
        const wchar_t drive = libraryPath[0];
        char var[] = "QVSPLIT_DRIVE_?";
        var[sizeof var - 2] = static_cast<char>(drive >= L'a' && drive <= L'z' ? drive - L'a' + L'A' : drive);
        const char* value = std::getenv(var);
        if (value && std::strcmp(value, "/") != 0) host = value;
        pos = 2;
    }
    host.reserve(host.size() + libraryPath.size() + 8);
    AppendHostNames(libraryPath, pos, host);
    return host.empty() ? "/" : host;
}

}  // namespace

std::string QvCliToHostPath(const std::wstring& libraryPath) {
    // Each name converts on its own, so a path is its folder's host path and its last name's.
    // A catalogue converts the path of every file, folder by folder: the last folder is kept.
    thread_local std::wstring lastFolder;  // with its separator at the end
    thread_local std::string lastHostFolder;
    const size_t cut = libraryPath.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut < 2) return WholeHostPath(libraryPath);
    if (lastFolder.size() != cut + 1 || libraryPath.compare(0, cut + 1, lastFolder) != 0) {
        lastFolder.assign(libraryPath, 0, cut + 1);
        lastHostFolder = WholeHostPath(lastFolder);
    }
    std::string host;
    host.reserve(lastHostFolder.size() + libraryPath.size() - cut + 8);
    host = lastHostFolder;
    qvp::AppendHostName(libraryPath.data() + cut + 1, libraryPath.size() - cut - 1, host);
    return host;
}

#endif
