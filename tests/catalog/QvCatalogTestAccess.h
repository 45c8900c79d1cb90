// Test access to the file catalogue's protected parts, and helpers shared by its tests.
#ifndef QVCATALOGTESTACCESS_H
#define QVCATALOGTESTACCESS_H

#include "bigfile/CQvSplitBigFile.h"
#include "catalog/CQvFileDescCatalog.h"
#include "rules/CQvPathRules.h"
#include "rules/CQvRulesFactory.h"
#include "rules/CQvRulesReader.h"
#include "support/QvTestSupport.h"

#include <memory>
#include <string>
#include <vector>

class QvCatalogTestAccess {
public:
    static CQvFileDescCatalog* Cat() { return CQvFileDescCatalog::GetInstance(); }
    static QvFileDescMap& Map(int iLocation) { return *Cat()->MapOf(iLocation); }
    static QvFileDescMap* MapOf(int iLocation) { return Cat()->MapOf(iLocation); }
    static int Find(LPCTSTR text, LPCTSTR what) { return Cat()->Find(text, what); }
    static void ParseDirectory(CQvPathRules* r, LPCTSTR path, int bAdd) {
        Cat()->ParseDirectory(r, path, bAdd);
    }
    static FileDesc* CreateDirDesc(CQvPathRules* r, LPCTSTR path, LPCTSTR target) {
        return Cat()->CreateDirDesc(r, path, target);
    }
    static int64_t DirSize(LPCTSTR path) {
        int64_t iTotal = 0;
        Cat()->DirSize(path, iTotal);
        return iTotal;
    }
    static long SplitDirToCatalog(DWORD size, CQvPathRules* r, LPCTSTR path) {
        return Cat()->SplitDirToCatalog(size, r, path);
    }
    static long SplitIncludeDir(CQvPathRules* r, LPCTSTR path, DWORD size) {
        return Cat()->SplitIncludeDir(r, path, size);
    }
    static long SplitExcludeDir(CQvPathRules* r, LPCTSTR path, DWORD size) {
        return Cat()->SplitExcludeDir(r, path, size);
    }
    static long DeleteSingle(LPCTSTR path, MediaDescriptEnumVector vt) {
        return Cat()->DeleteSingleFileFromCatalog(path, vt);
    }
    static long DeleteFiles(LPCTSTR path, MediaDescriptEnumVector vt) {
        return Cat()->DeleteFilesFromCatalog(path, vt);
    }
    // Sizes in the order big file, first, last, group, all.
    static int64_t CheckSize(DWORD size, int64_t* piSizes) {
        return Cat()->CheckSize(size, piSizes[0], piSizes[1], piSizes[2], piSizes[3], piSizes[4]);
    }
    static void SetCallback(SPLITCB cb, LPVOID user) {
        Cat()->lpCB = cb;
        Cat()->lpUserParam = user;
    }
    static void SetSplitSize(DWORD size) { Cat()->dwSplitSize = size; }
    static BOOL WimTooBig() { return Cat()->bWimTooBig; }
    static void ClearWim() { Cat()->bWimTooBig = FALSE; }
    static CQvString BigFileName() { return Cat()->strBigFileName; }
    static CQvString LocalWriteTime(uint64_t ft) {
        return CQvFileDescCatalog::LocalWriteTime(static_cast<DWORD>(ft & 0xFFFFFFFFu),
                                                  static_cast<DWORD>(ft >> 32));
    }

    // Every singleton the catalogue uses back to its start state.
    static void ResetAll() {
        Cat()->ResetFileCatalog();
        CQvRulesFactory::GetInstance()->ResetRulesCatalog();
        CQvSplitBigFile::GetInstance()->SetSplitBigFile(FALSE, 0, nullptr);
        SetCallback(nullptr, nullptr);
        ClearWim();
        // Large enough that no file of a test is oversize unless the test says so.
        SetSplitSize(100000);
    }
};

namespace qvcat {

// A rule built directly, with one location; more can be pushed onto vtInclude/vtTargetPath.
inline std::unique_ptr<CQvPathRules> IncludeRule(const std::wstring& path,
                                                 const std::wstring& target = L"",
                                                 const wchar_t* location = L"Any",
                                                 int group = -1) {
    return std::unique_ptr<CQvPathRules>(new CQvPathRules(
        L"INCLUDE", location, path.c_str(), target.c_str(), L"1", group, L""));
}

// One rule of a rules file.
struct FileRule {
    std::wstring action;    // "INCLUDE" or "EXCLUDE"
    std::wstring location;  // "Any", "First", ...
    std::wstring source;
    std::wstring target;
    bool bAllTogether;
};

// Writes the rules into a rules file of the tree and reads it into the rules catalogue.
inline long LoadRules(const qvtest::TempTree& tree, const std::vector<FileRule>& rules) {
    std::wstring xml = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<RulesFile>\n";
    int id = 1;
    for (const FileRule& r : rules) {
        xml += L"<Rule RuleID=\"" + std::to_wstring(id++) + L"\" Action=\"" + r.action +
               L"\" AllTogether=\"" + (r.bAllTogether ? L"TRUE" : L"FALSE") + L"\" Location=\"" +
               r.location + L"\"><SourcePath>" + r.source + L"</SourcePath><TargetPath>" +
               r.target + L"</TargetPath></Rule>\n";
    }
    xml += L"</RulesFile>\n";
    tree.WriteFile("rules.xml", qvtest::Narrow(xml));
    return CQvRulesReader::GetInstance()->ReadRules(tree.WinPath("rules.xml").c_str());
}

// The rule of the rules catalogue with that source path, or null.
inline CQvPathRules* RuleOf(const std::wstring& path, bool bInclude = true) {
    QvRules rules;
    if (bInclude)
        CQvRulesFactory::GetInstance()->GetIncludeRules(rules);
    else
        CQvRulesFactory::GetInstance()->GetExcludeRules(rules);
    for (auto& r : rules)
        if (CQvString(r.second->GetPath()).CompareNoCase(path.c_str()) == 0) return r.second;
    return nullptr;
}

// The keys of a map as the map compares them (lower-cased), narrowed, in map order.
inline std::vector<std::string> Keys(const QvFileDescMap& map) {
    std::vector<std::string> keys;
    for (auto& e : map) {
        CQvString key(e.first);
        key.MakeLower();
        keys.push_back(qvtest::Narrow(key.str()));
    }
    return keys;
}

// Lower-cased narrow Windows path of the tree, for comparing keys.
inline std::string Key(const qvtest::TempTree& tree, const std::string& rel) {
    CQvString s(tree.WinPath(rel));
    s.MakeLower();
    return qvtest::Narrow(s.str());
}

// The map key of a path of the tree.
inline CQvString MapKey(const qvtest::TempTree& tree, const std::string& rel) {
    CQvString s(tree.WinPath(rel));
    s.MakeLower();
    return s;
}

const uint64_t kMB = 1048576;

}  // namespace qvcat

#endif
