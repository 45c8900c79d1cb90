// One parsed rule: its include and exclude locations, target paths, number and group.
#include "rules/CQvPathRules.h"

#include "facilities/CQvLog.h"

#include <algorithm>
#include <cwchar>

namespace {

// Keywords of the Location attribute and the codes they stand for.
struct LocationName {
    const wchar_t* pszName;
    MediaDescriptEnum eCode;
};

const LocationName kLocations[] = {
    {L"First", InFirst}, {L"Last", InLast},       {L"Any", InAny},
    {L"All", InAll},     {L"NotFirst", NotFirst}, {L"NotLast", NotLast},
};

bool IsIncludeAction(LPCTSTR strAction) {
    return CQvString(strAction).CompareNoCase(L"INCLUDE") == 0;
}

bool Holds(const MediaDescriptEnumVector& vt, MediaDescriptEnum eCode) {
    return std::find(vt.begin(), vt.end(), eCode) != vt.end();
}

}  // namespace

MediaDescriptEnum CQvPathRules::LocationCode(LPCTSTR strLocation) {
    const CQvString str(strLocation);
    for (const LocationName& loc : kLocations) {
        if (str.CompareNoCase(loc.pszName) == 0) return loc.eCode;
    }
    // No keyword: a code that no location map answers to, so the rule places nothing there.
    return static_cast<MediaDescriptEnum>(0);
}

CQvPathRules::CQvPathRules(LPCTSTR strAction, LPCTSTR strLocation, LPCTSTR strSourcePath,
                           LPCTSTR strTargetPath, LPCTSTR strRuleID, int iGroup,
                           LPCTSTR strXPath)
    : iAllTogetherGroup(iGroup), strPath(strSourcePath), dwID(0) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(
        L"CQvPathRules(LPCTSTR strAction=%s,LPCTSTR strLocation=%s,LPCTSTR strSourcePath=%s,"
        L"LPCTSTR strTargetPath=%s,LPCTSTR strRuleID=%s,int iAllTogetherGroup=%d, "
        L"LPCTSTR strXPath=%s)",
        strAction, strLocation, strSourcePath,
        strTargetPath, strRuleID, iGroup, strXPath);
    const MediaDescriptEnum eCode = LocationCode(strLocation);
    if (IsIncludeAction(strAction)) {
        vtInclude.push_back(eCode);
        vtTargetPath.push_back(CQvString(strTargetPath));
    } else {
        vtExclude.push_back(eCode);
    }
    // wcstol semantics; the bit pattern of a negative number is kept, as the unsigned store does.
    dwID = static_cast<DWORD>(std::wcstol(CQvString(strRuleID).c_str(), nullptr, 10));
    log->ExitFunction();
}

CQvPathRules::CQvPathRules(const CQvPathRules& other) = default;

CQvPathRules& CQvPathRules::operator=(const CQvPathRules& other) = default;

CQvPathRules::~CQvPathRules() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvPathRules::~CQvPathRules()");
    log->ExitFunction();
}

long CQvPathRules::MergeRule(LPCTSTR strAction, LPCTSTR strLocation, LPCTSTR strSourcePath,
                             LPCTSTR strTargetPath, LPCTSTR strRuleID, LPCTSTR strXPath) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(
        L"CQvPathRules::MergeRule(LPCTSTR strAction=%s,LPCTSTR strLocation=%s,"
        L"LPCTSTR strSourcePath=%s,LPCTSTR strTargetPath=%s,LPCTSTR strRuleID=%s, "
        L"LPCTSTR strXPath=%s)",
        strAction, strLocation, strSourcePath,
        strTargetPath, strRuleID, strXPath);
    const MediaDescriptEnum eCode = LocationCode(strLocation);
    // An include on every medium blocks every later include of the path, whatever exclusions
    // follow: the rules file asked for its files everywhere, and an exclusion from every medium
    // takes them off that list, not onto the media the blocked elements named. An exclusion is
    // always kept: "All" as an exclusion only takes the files off the every-medium list, and
    // dropping a later explicit exclusion would put them on media the user excluded.
    if (IsIncludeAction(strAction)) {
        if (!IncludesEveryMedium()) {
            vtInclude.push_back(eCode);
            vtTargetPath.push_back(CQvString(strTargetPath));
        }
    } else {
        vtExclude.push_back(eCode);
    }
    return log->ExitFunction(static_cast<long>(S_OK));
}

bool CQvPathRules::IncludesEveryMedium() const { return Holds(vtInclude, InAll); }

long CQvPathRules::CheckConstensy() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvPathRules::CheckConstensy(void)");
    if (vtInclude.empty() && vtExclude.empty()) return log->ExitFunction(static_cast<long>(E_FAIL));
    for (MediaDescriptEnum eCode : vtExclude) {
        if (Holds(vtInclude, eCode)) return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    return log->ExitFunction(static_cast<long>(S_OK));
}

void CQvPathRules::LogInvalidRule(LPCTSTR strMessage, LPCTSTR strAction, LPCTSTR strLocation,
                                  LPCTSTR strSourcePath, LPCTSTR strTargetPath,
                                  LPCTSTR strRuleID, LPCTSTR strXPath) {
    CQvLog* log = CQvLog::GetInstance();
    log->AddInfo(L"*********** RULE NODE ERROR *****************");
    log->AddInfo(L"CQvPathRules::LogInvalidRule(...) %s", strMessage);
    log->AddInfo(L"CQvPathRules::LogInvalidRule(...) Action           = %s", strAction);
    log->AddInfo(L"CQvPathRules::LogInvalidRule(...) Location         = %s",
                 strLocation);
    log->AddInfo(L"CQvPathRules::LogInvalidRule(...) SourcePath       = %s",
                 strSourcePath);
    log->AddInfo(L"CQvPathRules::LogInvalidRule(...) TargetPath       = %s",
                 strTargetPath);
    log->AddInfo(L"CQvPathRules::LogInvalidRule(...) ID               = %s", strRuleID);
    if (iAllTogetherGroup == -1) {
        log->AddInfo(L"CQvPathRules::LogInvalidRule(...) AllTogether      = FALSE");
    } else {
        log->AddInfo(L"CQvPathRules::LogInvalidRule(...) AllTogether      = TRUE / GroupID=%d",
                     iAllTogetherGroup);
    }
    log->AddInfo(L"CQvPathRules::LogInvalidRule(...) XPath            = %s", strXPath);
    log->AddInfo(L"**********************************************");
}

int CQvPathRules::GetAllTogetherGroup() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"int CQvPathRules::GetAllTogetherGroup(void)");
    return log->ExitFunction(iAllTogetherGroup);
}

DWORD CQvPathRules::GetID() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvPathRules::GetID(void)");
    return log->ExitFunction(dwID);
}

LPCTSTR CQvPathRules::GetPath() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvPathRules::GetPath(void)");
    return log->ExitFunction(strPath.c_str());
}
