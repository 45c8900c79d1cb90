// Host paths as the library takes them and back, on POSIX: the one mapping that the program and
// the C interface share. A host path reaches the library on a drive whose root is "/".
#include "platform/QvPlatform.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace qvp {

wchar_t HostDrive() {
    // Any drive letter whose root is "/" will do; C unless QVSPLIT_DRIVE_C names another root.
    static const wchar_t drive = [] {
        for (char letter = 'C'; letter <= 'Z'; ++letter) {
            const std::string var = std::string("QVSPLIT_DRIVE_") + letter;
            const char* root = std::getenv(var.c_str());
            if (!root || !*root || std::string(root) == "/") return static_cast<wchar_t>(letter);
        }
        return L'C';
    }();
    return drive;
}

namespace {

// A host path in Windows form: each name mapped as the platform lists it (a '*' in a name
// becomes U+F02A, so it stays a name), '/' becoming '\\'.
std::wstring HostToWindowsNames(const std::string& host, size_t lastFrom, bool bKeepLast) {
    std::wstring out;
    size_t pos = 0;
    while (true) {
        const size_t end = host.find('/', pos);
        const std::string name = host.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        out += (bKeepLast && pos >= lastFrom) ? Utf8ToWide(name) : HostNameToWide(name);
        if (end == std::string::npos) return out;
        out += L'\\';
        pos = end + 1;
    }
}

// The reverse: each name of win from pos on back to its host bytes, either separator becoming
// '/', appended to out.
void AppendHostNames(const std::wstring& win, size_t pos, std::string& out) {
    while (true) {
        const size_t end = win.find_first_of(L"\\/", pos);
        AppendHostName(win.data() + pos, (end == std::wstring::npos ? win.size() : end) - pos, out);
        if (end == std::wstring::npos) return;
        out += '/';
        pos = end + 1;
    }
}

std::string WholeHostPath(const std::wstring& libraryPath) {
    std::string host;
    size_t pos = 0;
    if (libraryPath.size() >= 2 && libraryPath[1] == L':') {
        const wchar_t drive = libraryPath[0];
        char var[] = "QVSPLIT_DRIVE_?";
        var[sizeof var - 2] = static_cast<char>(drive >= L'a' && drive <= L'z' ? drive - L'a' + L'A' : drive);
        const char* value = std::getenv(var);
        if (value && *value && std::strcmp(value, "/") != 0) host = value;
        while (host.size() > 1 && host.back() == '/') host.pop_back();
        pos = 2;
    }
    host.reserve(host.size() + libraryPath.size() + 8);
    AppendHostNames(libraryPath, pos, host);
    return host.empty() ? "/" : host;
}

}  // namespace

std::wstring HostPathToLibrary(const std::string& hostPath, bool bPattern) {
    if (hostPath.empty()) return std::wstring();
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(hostPath, ec);
    if (ec) p = hostPath;
    std::string normal = p.lexically_normal().string();
    // A trailing separator names the same folder; the library adds its own where needed.
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    // A last name holding '*' or '?' that names no entry is a pattern: its wildcards stay.
    const size_t last = normal.find_last_of('/') + 1;
    struct stat st;
    const bool bKeepLast = bPattern && normal.find_first_of("*?", last) != std::string::npos &&
                           lstat(normal.c_str(), &st) != 0;
    std::wstring out;
    out += HostDrive();
    out += L':';
    return out + HostToWindowsNames(normal, last, bKeepLast);
}

std::string LibraryPathToHost(const std::wstring& libraryPath) {
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
    if (host.size() > 1 && host.back() != '/') host += '/';
    AppendHostName(libraryPath.data() + cut + 1, libraryPath.size() - cut - 1, host);
    return host;
}

}  // namespace qvp
