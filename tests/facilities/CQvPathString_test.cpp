// CQvPathString: the shell's path operations on roots, relative names, UNC names and dots.
#include "facilities/CQvPathString.h"

#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PathRow {
    const wchar_t* in;
    const wchar_t* out;
};

std::string Label(const wchar_t* in) { return "input \"" + qvtest::Narrow(in) + "\""; }

TEST(CQvPathString, AddBackslash) {
    const PathRow rows[] = {
        {L"C:\\", L"C:\\"}, {L"C:\\a", L"C:\\a\\"}, {L"C:\\a\\", L"C:\\a\\"}, {L"\\a", L"\\a\\"},
        {L"a", L"a\\"}, {L"\\\\server\\share", L"\\\\server\\share\\"}, {L"", L""},
        {L"C:", L"C:\\"}, {L"\\", L"\\"},
    };
    for (const PathRow& r : rows) {
        SCOPED_TRACE(Label(r.in));
        CQvPathString p(r.in);
        p.AddBackslash();
        EXPECT_EQ(std::wstring(r.out), p.str());
    }
}

TEST(CQvPathString, RemoveBackslashKeepsRoots) {
    const PathRow rows[] = {
        {L"C:\\", L"C:\\"}, {L"C:\\a", L"C:\\a"}, {L"C:\\a\\", L"C:\\a"}, {L"\\a", L"\\a"},
        {L"\\", L"\\"}, {L"a\\", L"a"}, {L"a", L"a"}, {L"\\\\server\\share\\", L"\\\\server\\share"},
        {L"", L""}, {L"C:\\a\\\\", L"C:\\a\\"},
    };
    for (const PathRow& r : rows) {
        SCOPED_TRACE(Label(r.in));
        CQvPathString p(r.in);
        p.RemoveBackslash();
        EXPECT_EQ(std::wstring(r.out), p.str());
    }
}

TEST(CQvPathString, RemoveFileSpec) {
    struct Row { const wchar_t* in; const wchar_t* out; bool changed; };
    const Row rows[] = {
        {L"C:\\a\\b", L"C:\\a", true},  {L"C:\\a", L"C:\\", true},
        {L"C:\\", L"C:\\", false},      {L"\\a", L"\\", true},
        {L"\\", L"\\", false},          {L"a", L"", true},
        {L"", L"", false},              {L"C:\\a\\", L"C:\\a", true},
        {L"\\\\server\\share", L"\\\\server", true},
        {L"C:\\dir.x\\f.txt", L"C:\\dir.x", true},
        {L"C:a", L"C:", true},          {L"C:", L"C:", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(Label(r.in));
        CQvPathString p(r.in);
        EXPECT_EQ(r.changed, p.RemoveFileSpec() != FALSE);
        EXPECT_EQ(std::wstring(r.out), p.str());
    }
}

TEST(CQvPathString, FindFileName) {
    const PathRow rows[] = {
        {L"C:\\a\\b.txt", L"b.txt"}, {L"C:\\a\\", L"a\\"}, {L"C:\\", L"C:\\"}, {L"C:\\a", L"a"},
        {L"\\a", L"a"}, {L"a", L"a"}, {L"\\\\server\\share", L"share"}, {L"", L""},
        {L"C:file", L"file"}, {L"C:\\my dir\\my file.tar.gz", L"my file.tar.gz"},
    };
    for (const PathRow& r : rows) {
        SCOPED_TRACE(Label(r.in));
        EXPECT_EQ(std::wstring(r.out), CQvPathString(r.in).FindFileName().str());
    }
}

TEST(CQvPathString, FindExtension) {
    const PathRow rows[] = {
        {L"C:\\a\\b.txt", L".txt"}, {L"C:\\backup\\image.WIM", L".WIM"}, {L"a.tar.gz", L".gz"},
        {L".hidden", L".hidden"}, {L"C:\\dir\\.hidden", L".hidden"}, {L"noext", L""},
        {L"C:\\dir.x\\file", L""}, {L"C:\\a.b c", L""}, {L"C:\\a b.c", L".c"}, {L"name.", L"."},
        {L"C:\\", L""}, {L"C:\\a", L""}, {L"C:\\a\\", L""}, {L"\\a", L""}, {L"a", L""},
        {L"\\\\server\\share", L""}, {L"", L""}, {L"C:\\dir.x\\", L""},
    };
    for (const PathRow& r : rows) {
        SCOPED_TRACE(Label(r.in));
        EXPECT_EQ(std::wstring(r.out), CQvPathString(r.in).FindExtension().str());
    }
}

TEST(CQvPathString, BuildsFromStringsAndStaysAString) {
    CQvString s(L"C:\\out");
    CQvPathString p(s);
    p.AddBackslash();
    p += L"Rules.xml";
    EXPECT_EQ(L"C:\\out\\Rules.xml", p.str());
    CQvPathString q;
    q = p;
    EXPECT_TRUE(q.RemoveFileSpec());
    EXPECT_EQ(L"C:\\out", q.str());
}

}  // namespace
