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
    DWORD dwLocations;  // QvLocationBit of each location a rule would have put it in
};

// The bit of a location (1 to 6) in QvLeftOutEntry::dwLocations; every location for others.
inline DWORD QvLocationBit(int iLocation) {
    return iLocation >= 1 && iLocation <= 6 ? (1u << iLocation) : 0x7Eu;
}

class QvLeftOutList {
public:
    // Starts a new list (each split or estimate starts one).
    void Clear();
    // Records one entry once (a second report of the same path adds only its locations) and
    // logs a warning unless the caller logged its own. Without locations, the entry belongs to
    // those set by SetLocations (every location when none are set).
    void Add(const std::wstring& strPath, int64_t iSize, DWORD dwReason, bool bLog = true,
             DWORD dwLocations = 0);
    // The locations of the rule whose paths are being walked, for entries added without any.
    void SetLocations(DWORD dwLocations) { m_dwLocations = dwLocations; }
    // Takes the given locations from the entries at or below a path (an exclusion took them
    // out there on purpose); an entry left with none is dropped.
    void DropBelow(const std::wstring& strPath, DWORD dwLocations = 0x7Eu);
    const std::vector<QvLeftOutEntry>& Entries() const { return m_entries; }
    static const wchar_t* ReasonText(DWORD dwReason);

private:
    std::vector<QvLeftOutEntry> m_entries;
    std::unordered_set<std::wstring> m_paths;
    DWORD m_dwLocations = 0;
};

// Rules that select nothing, kept for the program and callers to read back after a setup.
struct QvDroppedRule {
    int32_t iRuleID;
    std::wstring strPath;
    DWORD dwReason;  // QvDroppedRuleReason
};

class QvDroppedRuleList {
public:
    void Clear() { m_rules.clear(); }
    // Records one rule and logs a warning naming it.
    void Add(int32_t iRuleID, const std::wstring& strPath, DWORD dwReason);
    const std::vector<QvDroppedRule>& Rules() const { return m_rules; }
    static const wchar_t* ReasonText(DWORD dwReason);

private:
    std::vector<QvDroppedRule> m_rules;
};

#endif
