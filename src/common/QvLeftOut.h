// What a split leaves out: every file or folder under a selected path that goes on no medium,
// with its reason, kept for the program and callers to read back after the split.
#ifndef QVLEFTOUT_H
#define QVLEFTOUT_H

#include "QvSplit.h"

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

struct QvLeftOutEntry {
    std::wstring strPath;
    int64_t iSize;  // bytes, -1 when unknown (a folder that cannot be read)
    DWORD dwReason; // QvLeftOutReason
};

class QvLeftOutList {
public:
    static QvLeftOutList& Instance();
    // Starts a new list (each split or estimate starts one).
    void Clear();
    // Records one entry once (a second report of the same path is ignored) and logs a warning
    // unless the caller logged its own.
    void Add(const std::wstring& strPath, int64_t iSize, DWORD dwReason, bool bLog = true);
    // Drops the entries at or below a path (an exclusion took them out on purpose).
    void DropBelow(const std::wstring& strPath);
    const std::vector<QvLeftOutEntry>& Entries() const { return m_entries; }
    static const wchar_t* ReasonText(DWORD dwReason);

private:
    std::vector<QvLeftOutEntry> m_entries;
    std::unordered_set<std::wstring> m_paths;
};

// Rules that select nothing, kept for the program and callers to read back after a setup.
struct QvDroppedRule {
    int32_t iRuleID;
    std::wstring strPath;
    DWORD dwReason;  // QvDroppedRuleReason
};

class QvDroppedRuleList {
public:
    static QvDroppedRuleList& Instance();
    void Clear() { m_rules.clear(); }
    // Records one rule and logs a warning naming it.
    void Add(int32_t iRuleID, const std::wstring& strPath, DWORD dwReason);
    const std::vector<QvDroppedRule>& Rules() const { return m_rules; }
    static const wchar_t* ReasonText(DWORD dwReason);

private:
    std::vector<QvDroppedRule> m_rules;
};

#endif
