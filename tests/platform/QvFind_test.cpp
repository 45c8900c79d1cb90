// Conformance tests of directory listing: wildcards, order, "." and "..", links and odd names.
#include "platform/QvPlatform.h"

#include "platform/QvPlatformTestUtil.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <cstdlib>
#include <unistd.h>
#endif

using qvtest::ListNames;
using qvtest::ReadAll;
using qvtest::TempTree;
#if !defined(_WIN32)
using qvtest::EnvGuard;
#endif

namespace {

typedef std::vector<std::wstring> Names;

std::string Join(const Names& names) {
    std::string out;
    for (const std::wstring& n : names) out += qvtest::Narrow(n) + " ";
    return out;
}

void MakeWildcardTree(const TempTree& t) {
    for (const char* name : {"a.txt", "B.TXT", "abc", "aXc", "a.c", "ac", "noext", ".hidden", "x.tar.gz",
                             "c.txt.bak"})
        t.WriteFile(std::string("w/") + name, name);
}

}  // namespace

TEST(QvFind, WildcardTable) {
    TempTree t;
    MakeWildcardTree(t);
    const Names all = {L".", L"..", L".hidden", L"a.c", L"a.txt", L"abc", L"ac", L"aXc",
                       L"B.TXT", L"c.txt.bak", L"noext", L"x.tar.gz"};
    const struct {
        const char* label;
        const wchar_t* pattern;
        Names expected;
    } rows[] = {
        {"star matches everything", L"*", all},
        {"star-dot-star matches names with and without a dot", L"*.*", all},
        {"extension, case ignored", L"*.txt", {L"a.txt", L"B.TXT"}},
        {"upper-case extension", L"*.TXT", {L"a.txt", L"B.TXT"}},
        {"last extension only", L"*.gz", {L"x.tar.gz"}},
        {"question mark is one character, never a dot", L"a?c", {L"abc", L"aXc"}},
        {"star-dot: names without a dot", L"*.", {L".", L"..", L"abc", L"ac", L"aXc", L"noext"}},
        {"dot-star: names starting with a dot", L".*", {L".", L"..", L".hidden"}},
        {"prefix", L"a*", {L"a.c", L"a.txt", L"abc", L"ac", L"aXc"}},
        {"name.* also matches the bare name", L"noext.*", {L"noext"}},
        {"plain name, case ignored", L"NOEXT", {L"noext"}},
        {"dot name", L".HIDDEN", {L".hidden"}},
        {"trailing question mark may match nothing", L"ac?", {L"ac"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
#if defined(_WIN32)
        // Wine lets '?' match a dot, never lets a trailing '?' match nothing and reads "*." as "*".
        const std::wstring pattern = row.pattern;
        if (qvtest::UnderWine() && (pattern == L"a?c" || pattern == L"*." || pattern == L"ac?")) continue;
#endif
        DWORD error = 0;
        const Names got = ListNames(t.WinPath("w\\") + row.pattern, &error);
        EXPECT_EQ(got, row.expected) << Join(got);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_FILES));
    }
}

TEST(QvFind, OrderIsByUpperCasedNameWithDotsFirst) {
    TempTree t;
    for (const char* name : {"a_b", "ab", "Ac", "!bang", "Zeta", "zebra", "10", "9"}) t.WriteFile(std::string("o/") + name, "");
    t.MakeDir("o/Middle");
    // '_' sorts after the letters once they are upper-cased, '!' before '.', yet "." and ".."
    // always come first.
    Names expected = {L".", L"..", L"!bang", L"10", L"9", L"ab", L"Ac", L"a_b", L"Middle", L"zebra", L"Zeta"};
#if !defined(_WIN32)
    // Names equal ignoring case, which a host that tells letter case apart holds side by side,
    // go by their bytes.
    for (const char* twin : {"twin", "TWIN", "Twin"}) t.WriteFile(std::string("o/") + twin, "");
    expected.insert(expected.begin() + 9, {L"TWIN", L"Twin", L"twin"});
#endif
    EXPECT_EQ(ListNames(t.WinPath("o\\*")), expected) << Join(ListNames(t.WinPath("o\\*")));
    EXPECT_EQ(ListNames(t.WinPath("o\\*")), expected) << "the same tree lists the same way";
}

TEST(QvFind, EntriesDescribeFilesAndFolders) {
    TempTree t;
    t.WriteFile("e/file.bin", std::string(1234, 'x'));
    t.MakeDir("e/Sub");
    WIN32_FIND_DATAW data;
    HANDLE h = qvp::FindFirstFileW(t.WinPath("e\\*").c_str(), &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<WIN32_FIND_DATAW> entries;
    do entries.push_back(data);
    while (qvp::FindNextFileW(h, &data));
    EXPECT_EQ(qvp::GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_FALSE(qvp::FindNextFileW(h, &data)) << "the end stays the end";
    EXPECT_TRUE(qvp::FindClose(h));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(entries[1].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(std::wstring(entries[2].cFileName), L"file.bin");
    EXPECT_EQ(entries[2].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(entries[2].nFileSizeHigh, 0u);
    EXPECT_EQ(entries[2].nFileSizeLow, 1234u);
    EXPECT_EQ(std::wstring(entries[3].cFileName), L"Sub");
    EXPECT_EQ(entries[3].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(entries[3].nFileSizeLow, 0u);
}

TEST(QvFind, FailuresTellAMissingFolderFromNoMatch) {
    TempTree t;
    t.WriteFile("d/a.txt", "");
    const struct {
        const char* label;
        std::string pattern;
        DWORD code;
    } rows[] = {
        {"no match in an existing folder", "d\\*.doc", ERROR_FILE_NOT_FOUND},
        {"missing folder", "none\\*", ERROR_PATH_NOT_FOUND},
        {"missing name without wildcard", "d\\b.txt", ERROR_FILE_NOT_FOUND},
        {"pattern is empty", "d\\", ERROR_FILE_NOT_FOUND},
        {"file used as folder", "d\\a.txt\\*", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        WIN32_FIND_DATAW data;
        EXPECT_EQ(qvp::FindFirstFileW(t.WinPath(row.pattern).c_str(), &data), INVALID_HANDLE_VALUE);
        const DWORD code = qvp::GetLastError();
#if defined(_WIN32)
        // Below a file Windows answers "not a folder" and Wine "invalid name" instead of "path not found".
        if (row.pattern == "d\\a.txt\\*" && (code == ERROR_DIRECTORY || code == ERROR_INVALID_NAME)) continue;
#endif
        EXPECT_EQ(code, row.code);
    }
}

#if !defined(_WIN32)
namespace {

// A recursive walk as the library does it: the parent's handle stays open while it recurses, and
// it enters what IsFolderToEnter allows.
void Walk(const std::wstring& dir, const std::string& rel, std::vector<std::string>& visited,
          std::vector<DWORD>& refusals, int depth) {
    ASSERT_LT(depth, 10) << "the walk does not end";
    WIN32_FIND_DATAW data;
    HANDLE h = qvp::FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) {
        refusals.push_back(qvp::GetLastError());
        return;
    }
    visited.push_back(rel);
    do {
        const std::wstring name = data.cFileName;
        if (!qvp::IsFolderToEnter(data.dwFileAttributes) || name == L"." || name == L"..") continue;
        Walk(dir + L"\\" + name, rel + "/" + qvtest::Narrow(name), visited, refusals, depth + 1);
    } while (qvp::FindNextFileW(h, &data));
    qvp::FindClose(h);
}

// What a listing reports for one entry.
struct Listed {
    DWORD attributes;
    DWORD size;
};

// Each entry of the folder pattern's listing, by name.
std::vector<std::pair<std::wstring, Listed>> ListEntries(const std::wstring& pattern) {
    std::vector<std::pair<std::wstring, Listed>> out;
    WIN32_FIND_DATAW data;
    HANDLE h = qvp::FindFirstFileW(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return out;
    do out.push_back({data.cFileName, {data.dwFileAttributes, data.nFileSizeLow}});
    while (qvp::FindNextFileW(h, &data));
    qvp::FindClose(h);
    return out;
}

}  // namespace

TEST(QvFind, LinksAreEntriesOfTheirOwnUnlessFollowed) {
    TempTree t;
    t.MakeDir("a/b");
    t.WriteFile("c/f.txt", "target");
    ASSERT_EQ(symlink(t.Native("a").c_str(), t.Native("a/b/up").c_str()), 0);
    ASSERT_EQ(symlink(".", t.Native("a/self").c_str()), 0);
    ASSERT_EQ(symlink(t.Native("c").c_str(), t.Native("a/side").c_str()), 0);
    ASSERT_EQ(symlink(t.Native("c/f.txt").c_str(), t.Native("a/flink").c_str()), 0);
    ASSERT_EQ(symlink(t.Native("c/missing").c_str(), t.Native("a/dangling").c_str()), 0);
    // Above the folder the walk starts in: a loop all the same, judged by the path's folders.
    ASSERT_EQ(symlink(t.Native("").c_str(), t.Native("a/top").c_str()), 0);
    EnvGuard env("QVSPLIT_FOLLOW_LINKS");

    const DWORD kDir = FILE_ATTRIBUTE_DIRECTORY, kFile = FILE_ATTRIBUTE_ARCHIVE;
    const DWORD kLink = FILE_ATTRIBUTE_REPARSE_POINT;
    const struct {
        const char* label;
        const char* follow;  // QVSPLIT_FOLLOW_LINKS, or null for unset
        std::vector<std::string> visited;
        std::vector<DWORD> refusals;
        std::vector<std::pair<std::wstring, Listed>> entries;  // of a\*, after "." and ".."
    } rows[] = {
        {"by default a link is an entry of size 0 that no walk enters", nullptr, {"a", "a/b"}, {},
         {{L"b", {kDir, 0}}, {L"dangling", {kLink | kFile, 0}}, {L"flink", {kLink | kFile, 0}},
          {L"self", {kLink | kDir, 0}}, {L"side", {kLink | kDir, 0}}, {L"top", {kLink | kDir, 0}}}},
        {"a value other than 1 does not follow", "0", {"a", "a/b"}, {},
         {{L"b", {kDir, 0}}, {L"dangling", {kLink | kFile, 0}}, {L"flink", {kLink | kFile, 0}},
          {L"self", {kLink | kDir, 0}}, {L"side", {kLink | kDir, 0}}, {L"top", {kLink | kDir, 0}}}},
        // A link into a folder the walk is inside is listed as the link itself, so a walk
        // keeps it as an entry of its own instead of losing it at a refused loop.
        {"followed links report their targets; a loop stays a link; a dangling link stays", "1",
         {"a", "a/b", "a/side"}, {},
         {{L"b", {kDir, 0}}, {L"dangling", {kLink | kFile, 0}}, {L"flink", {kFile, 6}},
          {L"self", {kLink | kDir, 0}}, {L"side", {kDir, 0}}, {L"top", {kLink | kDir, 0}}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.follow)
            setenv("QVSPLIT_FOLLOW_LINKS", row.follow, 1);
        else
            unsetenv("QVSPLIT_FOLLOW_LINKS");
        std::vector<std::string> visited;
        std::vector<DWORD> refusals;
        Walk(t.WinPath("a"), "a", visited, refusals, 0);
        EXPECT_EQ(visited, row.visited);
        EXPECT_EQ(refusals, row.refusals);

        auto entries = ListEntries(t.WinPath("a\\*"));
        ASSERT_GE(entries.size(), 2u);
        entries.erase(entries.begin(), entries.begin() + 2);
        ASSERT_EQ(entries.size(), row.entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            const std::wstring& name = row.entries[i].first;
            SCOPED_TRACE(qvtest::Narrow(name));
            EXPECT_EQ(entries[i].first, name);
            EXPECT_EQ(entries[i].second.attributes, row.entries[i].second.attributes);
            EXPECT_EQ(entries[i].second.size, row.entries[i].second.size);
            // A search for the one name and the attribute functions describe it the same way.
            const Names one = ListNames(t.WinPath("a\\") + name);
            EXPECT_EQ(one, Names{name});
            WIN32_FILE_ATTRIBUTE_DATA attrs;
            ASSERT_TRUE(qvp::GetFileAttributesExW((t.WinPath("a\\") + name).c_str(), GetFileExInfoStandard, &attrs));
            // Asked by path, outside any walk, a link into a loop is the link all the same: a
            // path is judged by the folders its name runs through.
            EXPECT_EQ(attrs.dwFileAttributes, row.entries[i].second.attributes);
            EXPECT_EQ(attrs.nFileSizeLow, row.entries[i].second.size);
            EXPECT_TRUE(qvp::PathFileExistsW((t.WinPath("a\\") + name).c_str()));
        }
        // Opening a link reads its target, as a copy of a link does on Windows.
        EXPECT_EQ(ReadAll(t.WinPath("a\\flink")), "target");
    }
}

TEST(QvFind, LookupsInsideAnOpenListingAreNoLoop) {
    TempTree t;
    t.WriteFile("d/x.txt", "x");
    WIN32_FIND_DATAW outer, inner;
    HANDLE h = qvp::FindFirstFileW(t.WinPath("d\\*").c_str(), &outer);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    HANDLE one = qvp::FindFirstFileW(t.WinPath("d\\x.txt").c_str(), &inner);
    EXPECT_NE(one, INVALID_HANDLE_VALUE) << "a search for one name is no step of a walk";
    if (one != INVALID_HANDLE_VALUE) qvp::FindClose(one);
    qvp::FindClose(h);
    EXPECT_EQ(ListNames(t.WinPath("d\\*")).size(), 3u) << "a closed listing no longer counts";
}

namespace {

// Each folder a walk listed, as its entries' names and sizes, sorted.
typedef std::map<std::string, std::vector<std::string>> Listings;

// Walks a folder as the library does, going down while the listing stays open. before(rel)
// runs just ahead of listing each folder; folders skip(rel) names are not entered.
void WalkAndRecord(const std::wstring& dir, const std::string& rel, Listings& out,
                   const std::function<void(const std::string&)>& before,
                   const std::function<bool(const std::string&)>& skip) {
    before(rel);
    WIN32_FIND_DATAW data;
    HANDLE h = qvp::FindFirstFileW((dir + L"\\*.*").c_str(), &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << rel;
    std::vector<std::string>& listed = out[rel];
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        listed.push_back(qvtest::Narrow(name) + "=" + std::to_string(data.nFileSizeLow));
        const std::string sub = rel.empty() ? qvtest::Narrow(name) : rel + "/" + qvtest::Narrow(name);
        if (qvp::IsFolderToEnter(data.dwFileAttributes) && !skip(sub))
            WalkAndRecord(dir + L"\\" + name, sub, out, before, skip);
    } while (qvp::FindNextFileW(h, &data));
    qvp::FindClose(h);
    std::sort(listed.begin(), listed.end());
}

// The same folders as they are on disk now, read with the standard library.
Listings OnDisk(const TempTree& t, const Listings& folders) {
    Listings out;
    for (const auto& folder : folders) {
        std::vector<std::string>& entries = out[folder.first];
        for (const auto& e : std::filesystem::directory_iterator(t.Native(folder.first))) {
            const uintmax_t size = e.is_directory() ? 0 : e.file_size();
            entries.push_back(e.path().filename().string() + "=" + std::to_string(size));
        }
        std::sort(entries.begin(), entries.end());
    }
    return out;
}

}  // namespace

// A walk reads what each folder holds when it gets there, however far ahead folders are read
// for it, and a later walk reads the tree afresh.
TEST(QvFind, WalksListEachFolderAsItIsWhenTheyReachIt) {
    TempTree t;
    // 1 + 9 + 72 + 360 folders, a few files each.
    std::vector<std::string> folders{""};
    for (int a = 0; a < 9; ++a) {
        const std::string da = "d" + std::to_string(a);
        folders.push_back(da);
        for (int b = 0; b < 8; ++b) {
            const std::string db = da + "/e" + std::to_string(b);
            folders.push_back(db);
            for (int c = 0; c < 5; ++c) folders.push_back(db + "/F" + std::to_string(c));
        }
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        const std::string base = folders[i].empty() ? "" : folders[i] + "/";
        t.MakeDir(folders[i]);
        for (size_t k = 0; k < 1 + i % 3; ++k) t.WriteFile(base + "f" + std::to_string(k) + ".bin", std::string(i % 7 + k, 'x'));
    }
    // What is read ahead of a walk is only taken for a folder unchanged for the last seconds:
    // the tree is left to settle, or nothing would be.
    std::this_thread::sleep_for(std::chrono::milliseconds(3200));
    const auto nothing = [](const std::string&) {};
    const auto none = [](const std::string&) { return false; };
    const auto grow = [&](const std::string& rel) {  // a file's size changes, its folder's times do not
        const std::string base = rel.empty() ? "" : rel + "/";
        t.WriteFile(base + "f0.bin", std::string(4000, 'y'));
    };
    const struct {
        const char* label;
        std::function<void(const std::string&)> before;  // just ahead of each listing
        std::function<bool(const std::string&)> skip;     // in the first walk; the second enters all
        std::function<void(const std::string&)> between;  // to each folder, after the first walk
        size_t walked;
    } rows[] = {
        {"every folder once", nothing, none, nothing, folders.size()},
        {"passing over folders: those after them are still their own",
         nothing, [](const std::string& rel) { return rel.size() > 1 && rel.back() % 3 == 0; }, nothing,
         1 + 6 + 6 * 5 + 6 * 5 * 3 /* d0, d3, d6, e0, e3, e6, F0 and F3 not entered */},
        // The pause gives any reading ahead time to reach into the folder passed over.
        {"a walk after files grew in a folder the walk before passed over",
         [](const std::string& rel) {
             if (rel == "d1") std::this_thread::sleep_for(std::chrono::milliseconds(50));
         },
         [](const std::string& rel) { return rel == "d0"; }, grow, folders.size() - 1 - 8 - 40},
        {"a folder gaining and losing entries just before the walk gets there",
         [&](const std::string& rel) {
             const std::string base = rel.empty() ? "" : rel + "/";
             if (rel.size() % 2 == 0) t.WriteFile(base + "late.txt", "late");
             if (rel.size() % 3 == 0) std::filesystem::remove(t.Native(base + "f0.bin"));
         },
         none, nothing, folders.size()},
        {"a walk after files grew", nothing, none, grow, folders.size()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Listings first;
        WalkAndRecord(t.WinPath(""), "", first, row.before, row.skip);
        EXPECT_EQ(first.size(), row.walked);
        EXPECT_EQ(first, OnDisk(t, first));
        for (const std::string& folder : folders) row.between(folder);
        Listings second;
        WalkAndRecord(t.WinPath(""), "", second, nothing, none);
        EXPECT_EQ(second.size(), folders.size());
        EXPECT_EQ(second, OnDisk(t, second));
    }
}

TEST(QvFind, SingleNameSearchPrefersTheExactName) {
    TempTree t;
    t.WriteFile("d/a", "1");
    t.WriteFile("d/A", "22");
    t.WriteFile("d/Mixed.Txt", "333");
    const struct {
        const char* label;
        const wchar_t* pattern;
        Names expected;
        DWORD size;
    } rows[] = {
        {"exact lower", L"a", {L"a"}, 1},
        {"exact upper", L"A", {L"A"}, 2},
        {"other case reports the name on disk", L"MIXED.TXT", {L"Mixed.Txt"}, 3},
        {"trailing dot is a wildcard", L"a.", {L"A", L"a"}, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(ListNames(t.WinPath("d\\") + row.pattern), row.expected);
        WIN32_FIND_DATAW data;
        HANDLE h = qvp::FindFirstFileW((t.WinPath("d\\") + row.pattern).c_str(), &data);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(data.nFileSizeLow, row.size);
        qvp::FindClose(h);
    }
}

TEST(QvFind, HostNamesWindowsRefusesListMappedAndReachTheirOwnFile) {
    TempTree t;
    t.MakeDir("n");
    t.WriteFile("n/aXb", "not this one");
    const struct {
        const char* label;
        std::string host;
        std::wstring listed;
    } rows[] = {
        {"star", "a*b", L"a\uF02Ab"},
        {"backslash", "x\\y", L"x\uF05Cy"},
        {"question mark", "q?", L"q\uF03F"},
        {"colon", "c:d", L"c\uF03Ad"},
        {"quote", "say\"", L"say\uF022"},
        {"angle brackets", "<lt>", L"\uF03Clt\uF03E"},
        {"bar", "p|pe", L"p\uF07Cpe"},
        {"control character", "ctl\x01", L"ctl\uF001"},
        {"newline", "two\nlines", L"two\uF00Alines"},
        {"bytes that are not UTF-8", "bad\xFFname\xC3.txt", L"bad\uF0FFname\uF0C3.txt"},
        {"the private-use character '*' maps to", "\xEF\x80\xAA", L"\uF0EF\uF080\uF0AA"},
        {"a lone star next to it", "*", L"\uF02A"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        std::ofstream(t.Root().string() + "/n/" + rows[i].host, std::ios::binary) << "content " << i;
    }
    const Names listed = ListNames(t.WinPath("n\\*"));
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.label);
        EXPECT_EQ(std::count(listed.begin(), listed.end(), row.listed), 1) << Join(listed);
        EXPECT_EQ(qvp::WideToHostName(row.listed), row.host);
        const std::string content = "content " + std::to_string(i);
        EXPECT_EQ(ReadAll(t.WinPath("n") + L"\\" + row.listed), content);
        EXPECT_EQ(ReadAll(t.WinPath("N") + L"\\" + row.listed), content) << "the folder is still found ignoring case";
        EXPECT_EQ(ListNames(t.WinPath("n\\") + row.listed), Names{row.listed}) << "a mapped character is no wildcard";
    }
    EXPECT_EQ(listed.size(), 2 + 1 + sizeof(rows) / sizeof(rows[0]));
}
#endif
