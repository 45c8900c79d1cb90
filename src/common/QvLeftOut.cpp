// The list of what a split leaves out.
#include "common/QvLeftOut.h"

#include "common/QvFileDescKeys.h"
#include "facilities/CQvLog.h"

#include <algorithm>
#include <new>

namespace {

// Whether path is base itself or below it: ignoring letter case as rule paths are spelled,
// yet a twin that differs only in letter case is another file or folder.
bool AtOrBelow(const std::wstring& path, const std::wstring& base) {
    return QvPathAtOrBelow(CQvString(path.c_str()), CQvString(base.c_str()));
}

}  // namespace


void QvLeftOutList::Clear() {
    m_entries.clear();
    m_paths.clear();
    m_dwLocations = 0;
}

void QvLeftOutList::Add(const std::wstring& strPath, int64_t iSize, DWORD dwReason, bool bLog,
                        DWORD dwLocations) {
    if (dwLocations == 0) dwLocations = m_dwLocations != 0 ? m_dwLocations : 0x7Eu;
    try {
        if (!m_paths.insert(strPath).second) {
            for (QvLeftOutEntry& e : m_entries)
                if (e.strPath == strPath) e.dwLocations |= dwLocations;
            return;
        }
        m_entries.push_back(QvLeftOutEntry{strPath, iSize, dwReason, dwLocations});
    } catch (const std::bad_alloc&) {
        // The warning below still names it.
    }
    if (bLog)
        CQvLog::GetInstance()->AddWarning(L"Left out (%s): %s (size=%I64d)", ReasonText(dwReason),
                                      strPath.c_str(), static_cast<long long>(iSize));
}

void QvLeftOutList::DropBelow(const std::wstring& strPath, DWORD dwLocations) {
    for (QvLeftOutEntry& e : m_entries)
        if (AtOrBelow(e.strPath, strPath)) e.dwLocations &= ~dwLocations;
    auto gone = [](const QvLeftOutEntry& e) { return e.dwLocations == 0; };
    for (const QvLeftOutEntry& e : m_entries)
        if (gone(e)) m_paths.erase(e.strPath);
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(), gone), m_entries.end());
}

const wchar_t* QvLeftOutList::ReasonText(DWORD dwReason) {
    switch (dwReason) {
        case QvLeftOutTooBig: return L"larger than a medium";
        case QvLeftOutUnreadable: return L"folder cannot be read";
        case QvLeftOutSpecialFile: return L"pipe, socket or device";
        case QvLeftOutNameTooLong: return L"name too long";
        case QvLeftOutSystemFolder: return L"system folder";
        case QvLeftOutVanished: return L"gone during the scan";
        case QvLeftOutMediaLimit: return L"beyond the last of 100 media";
        case QvLeftOutLinkTarget: return L"link target too long for the file system";
    }
    return L"unknown reason";
}


void QvDroppedRuleList::Add(int32_t iRuleID, const std::wstring& strPath, DWORD dwReason) {
    m_rules.push_back(QvDroppedRule{iRuleID, strPath, dwReason});
    CQvLog::GetInstance()->AddWarning(L"Rule %d (%s) selects nothing: %s", static_cast<int>(iRuleID),
                                      strPath.c_str(), ReasonText(dwReason));
}

const wchar_t* QvDroppedRuleList::ReasonText(DWORD dwReason) {
    switch (dwReason) {
        case QvRuleNotFound: return L"path not found";
        case QvRuleEmptyPath: return L"empty path";
        case QvRuleAlreadyEverywhere: return L"already on every medium by an earlier rule";
    }
    return L"unknown reason";
}
