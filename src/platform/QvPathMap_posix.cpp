// Maps Windows paths onto the host file system: drive roots, separators, case-insensitive names.
//
// Each component goes back to its host bytes with WideToHostName, so a name listed with mapped
// characters (U+F02A for '*') reaches exactly the file it came from.
#include "platform/QvPosixSupport.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <vector>

namespace qvp {
namespace posix {

namespace {

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

bool HasWildcard(const std::wstring& s) { return s.find_first_of(L"*?") != std::wstring::npos; }

// Root of drive letter: QVSPLIT_DRIVE_<LETTER>, read at each call because tests change it.
std::string DriveRoot(wchar_t letter) {
    std::string var = "QVSPLIT_DRIVE_";
    var += static_cast<char>(ToUpperChar(letter));
    const char* value = std::getenv(var.c_str());
    std::string root = (value && *value) ? value : "/";
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

std::string Join(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && ToUpperChar(a[i]) != ToUpperChar(b[i])) return false;
    return true;
}

}  // namespace

// Several candidates ("ab", "AB" when "Ab" is asked for) resolve to the byte-wise smallest, so
// the choice never depends on readdir order.
Lookup FindIgnoringCase(const std::string& dir, const std::wstring& name, std::string& found) {
    DirHandle d(opendir(dir.c_str()));
    if (!d) return (errno == ENOENT || errno == ENOTDIR) ? Lookup::NoFolder : Lookup::Absent;
    bool any = false;
    while (const struct dirent* e = readdir(d.get())) {
        const std::string entry = e->d_name;
        if (entry == "." || entry == "..") continue;
        if (!EqualIgnoringCase(HostNameToWide(entry), name)) continue;
        if (!any || entry < found) found = entry;
        any = true;
    }
    return any ? Lookup::Found : Lookup::Absent;
}

namespace {

// Where the path starts on the host, and the offset of its first component.
bool SplitStart(const std::wstring& s, std::string& base, size_t& pos) {
    if (s.size() >= 2 && IsSep(s[0]) && IsSep(s[1])) return false;  // UNC and device names
    if (s.size() >= 2 && s[1] == L':' && IsAsciiLetter(s[0])) {
        // "X:name" has no current folder per drive here; it is taken from the drive root.
        base = DriveRoot(s[0]);
        pos = 2;
    } else if (!s.empty() && IsSep(s[0])) {
        base = "/";
        pos = 1;
    } else {
        base = ".";
        pos = 0;
    }
    return true;
}

// Components after pos with "." dropped and ".." folded as Windows does before any lookup.
// A ".." above the start of a relative path is kept and left to the host.
std::vector<std::wstring> SplitComponents(const std::wstring& s, size_t pos, bool relative) {
    std::vector<std::wstring> parts;
    size_t kept = 0;  // leading ".." entries of a relative path
    while (pos < s.size()) {
        size_t end = pos;
        while (end < s.size() && !IsSep(s[end])) ++end;
        const std::wstring part = s.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == L".") continue;
        if (part == L"..") {
            if (parts.size() > kept)
                parts.pop_back();
            else if (relative)
                parts.push_back(part), ++kept;
            continue;
        }
        parts.push_back(part);
    }
    return parts;
}

// Looks up a name whose exact spelling is absent from dir: an entry equal to it ignoring case
// when anyCase, else only whether dir itself is there.
Lookup LookUpMissing(const std::string& dir, const std::wstring& part, bool anyCase, std::string& found) {
    if (anyCase) return FindIgnoringCase(dir, part, found);
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? Lookup::Absent : Lookup::NoFolder;
}

// The last step of a walk: the name under a folder that exists as spelled, after the exact
// name was looked up and failed with err.
void ResolveLast(const std::string& parent, const std::wstring& part, const std::string& name,
                 int err, LastName last, NativePath& out) {
    out.folder = parent;
    out.givenName = name;
    std::string found;
    const Lookup how =
        err == ENOENT ? LookUpMissing(parent, part, last == LastName::AnyCase, found) : Lookup::Absent;
    if (how == Lookup::Found) {
        out.path = Join(parent, found);
        return;
    }
    out.path = Join(parent, name);
    if (how == Lookup::NoFolder || err == ENOTDIR) out.parentMissing = true;
}

// The usual case in a few calls: the whole path exists as spelled, or at least its folder does.
// It gives what the walk below gives, without a lookup for every component. False when the
// walk is needed.
bool ResolveExact(const std::vector<std::wstring>& parts, LastName last, NativePath& out) {
    if (parts.empty()) return false;
    for (const std::wstring& part : parts)
        if (part == L"..") return false;
    std::string parent = out.path;
    for (size_t i = 0; i + 1 < parts.size(); ++i) parent = Join(parent, WideToHostName(parts[i]));
    const std::string name = WideToHostName(parts.back());
    const std::string exact = Join(parent, name);
    struct stat st;
    if (lstat(exact.c_str(), &st) == 0) {
        out.folder = parent;
        out.givenName = name;
        out.path = exact;
        return true;
    }
    const int err = errno;
    if (parts.size() > 1 && lstat(parent.c_str(), &st) != 0) return false;
    ResolveLast(parent, parts.back(), name, err, last, out);
    return true;
}

// Walks the components from base, taking the exact name when it exists and otherwise an entry
// equal ignoring case; a missing name is kept as given, so new files keep their case.
void Resolve(const std::vector<std::wstring>& parts, LastName last, NativePath& out) {
    if (ResolveExact(parts, last, out)) return;
    std::string cur = out.path;
    out.folder = cur;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string name = WideToHostName(parts[i]);
        out.folder = cur;
        out.givenName = name;
        const std::string exact = Join(cur, name);
        struct stat st;
        if (out.parentMissing || parts[i] == L".." || lstat(exact.c_str(), &st) == 0) {
            cur = exact;
            continue;
        }
        const int err = errno;
        std::string found;
        const bool anyCase = last == LastName::AnyCase || i + 1 < parts.size();
        const Lookup how = err == ENOENT ? LookUpMissing(cur, parts[i], anyCase, found) : Lookup::Absent;
        if (how == Lookup::Found) {
            cur = Join(cur, found);
            continue;
        }
        cur = exact;
        if (how == Lookup::NoFolder || err == ENOTDIR || i + 1 < parts.size()) out.parentMissing = true;
    }
    out.path = cur;
}

}  // namespace

bool MapPath(LPCWSTR winPath, NativePath& out, LastName last) {
    out = NativePath();
    if (!winPath || !*winPath) return Fail(ERROR_PATH_NOT_FOUND);
    const std::wstring s(winPath);
    size_t pos = 0;
    if (!SplitStart(s, out.path, pos)) return Fail(ERROR_BAD_NETPATH);
    const std::vector<std::wstring> parts = SplitComponents(s, pos, out.path == ".");
    for (const std::wstring& part : parts)
        if (HasWildcard(part)) return Fail(ERROR_INVALID_NAME);
    Resolve(parts, last, out);
    out.trailingSep = !parts.empty() && IsSep(s.back());
    if (out.trailingSep) out.path += '/';
    return true;
}

}  // namespace posix
}  // namespace qvp
