// The rules catalogue: builds path rules from rule elements and hands them to the catalogue.
#include "rules/CQvRulesFactory.h"

#include "common/QvSplitRun.h"
#include "facilities/CQvLog.h"

#include <cwchar>
#include <new>

CQvRulesFactory* CQvRulesFactory::pInstance = nullptr;

namespace {

// Copies an XML text into a string and frees it; a null text gives the empty string.
CQvString TakeText(BSTR bstr) {
    const QvBstrHeld held(bstr);
    return CQvString(held.Get());
}

// The element's XPath for the log; empty when the facility cannot give one.
CQvString NodeXPath(IQvXmlNode* pRuleNode) { return TakeText(pRuleNode->GetXPath()); }

// A rule's number as written ("12"); 0 when it holds none.
int32_t RuleNumber(const CQvString& strRuleID) {
    return static_cast<int32_t>(std::wcstol(strRuleID.c_str(), nullptr, 10));
}

// Whether the last component of a path holds a wildcard and the folder before it exists.
bool IsPatternInExistingFolder(const CQvString& strPath) {
    const std::wstring& path = strPath.str();
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos || path.find_first_of(L"*?", slash) == std::wstring::npos)
        return false;
    const std::wstring folder = path.substr(0, slash == 2 && path[1] == L':' ? 3 : slash);
    return qvp::IsFolderToEnter(qvp::GetFileAttributesW(folder.c_str()));
}

}  // namespace

CQvRulesFactory* CQvRulesFactory::GetInstance() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesFactory::GetInstance()");
    if (!pInstance) {
        try {
            pInstance = new CQvRulesFactory();
        } catch (...) {
            log->AddError(L"CQvRulesFactory::GetInstance() Error create new object "
                          L"CQvRulesFactory Catch Exception");
            pInstance = nullptr;
        }
    }
    log->ExitFunction();
    return pInstance;
}

CQvRulesFactory::CQvRulesFactory() : iGroupIDCount(0) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesFactory::CQvRulesFactory()");
    log->ExitFunction();
}

CQvRulesFactory::~CQvRulesFactory() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesFactory::~CQvRulesFactory()");
    for (auto& entry : mpRules) delete entry.second;
    mpRules.clear();
    log->ExitFunction();
}

long CQvRulesFactory::AddToCatalog(IQvXmlNode* pRuleNode) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesFactory::AddToCatalog(IQvXmlNode *pRuleNode)");
    if (!pRuleNode) {
        log->AddError(L"CQvRulesFactory::ADdToCatalog(...) pRuleNode=NULL !");
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    CQvPathRules* pRule = nullptr;
    try {
        CQvString strSourcePath;
        GetSourcePath(pRuleNode, strSourcePath);
        // A pattern in the last component ("D:\Data\*.txt") names no entry itself: it stands
        // when its folder does, and the catalogue adds or takes out what it matches.
        if (!qvp::PathFileExistsW(strSourcePath) && !IsPatternInExistingFolder(strSourcePath)) {
            log->AddWarning(L"CQvRulesFactory::ADdToCatalog(...) Path %s not exist",
                            strSourcePath);
            CQvString strRuleID;
            GetRuleID(pRuleNode, strRuleID);
            QvSplitRun::Current().droppedRules.Add(RuleNumber(strRuleID), strSourcePath.str(),
                                              strSourcePath.IsEmpty() ? QvRuleEmptyPath
                                                                      : QvRuleNotFound);
            return log->ExitFunction(static_cast<long>(S_OK));
        }
        QvRules::iterator it = mpRules.find(strSourcePath);
        if (it != mpRules.end()) {
            MergeIntoRule(pRuleNode, it->second);
            return log->ExitFunction(static_cast<long>(S_OK));
        }
        CQvString strAction, strLocation, strTargetPath, strRuleID, strAllTogether;
        const CQvString strXPath = NodeXPath(pRuleNode);
        GetAction(pRuleNode, strAction);
        GetLocation(pRuleNode, strLocation);
        GetSourcePath(pRuleNode, strSourcePath);
        GetTargetPath(pRuleNode, strTargetPath);
        GetRuleID(pRuleNode, strRuleID);
        GetAllTogether(pRuleNode, strAllTogether);
        int iGroup = -1;
        if (strAllTogether.CompareNoCase(L"TRUE") == 0) iGroup = iGroupIDCount++;
        pRule = new CQvPathRules(strAction, strLocation, strSourcePath, strTargetPath, strRuleID,
                                 iGroup, strXPath);
        if (pRule->CheckConstensy() < 0) {
            pRule->LogInvalidRule(L"", strAction, strLocation, strSourcePath, strTargetPath,
                                  strRuleID, strXPath);
            delete pRule;
            return log->ExitFunction(static_cast<long>(E_FAIL));
        }
        GetSourcePath(pRuleNode, strSourcePath);
        mpRules[strSourcePath] = pRule;
        return log->ExitFunction(static_cast<long>(S_OK));
    } catch (...) {
        delete pRule;
        log->AddError(L"CQvRulesFactory::ADdToCatalog(...) Create new object CQvPathRules "
                      L"FAILED catch exception");
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
}

void CQvRulesFactory::MergeIntoRule(IQvXmlNode* pRuleNode, CQvPathRules* pRule) {
    CQvString strAction, strLocation, strSourcePath, strTargetPath, strRuleID;
    const CQvString strXPath = NodeXPath(pRuleNode);
    GetAction(pRuleNode, strAction);
    GetLocation(pRuleNode, strLocation);
    GetSourcePath(pRuleNode, strSourcePath);
    GetTargetPath(pRuleNode, strTargetPath);
    GetRuleID(pRuleNode, strRuleID);
    // An include of a path already on every medium adds nothing: said, as a rule that selects
    // nothing more.
    if (pRule->IncludesEveryMedium() && strAction.CompareNoCase(L"INCLUDE") == 0)
        QvSplitRun::Current().droppedRules.Add(RuleNumber(strRuleID), strSourcePath.str(), QvRuleAlreadyEverywhere);
    // A merged element keeps the rule's number and group: AllTogether is deliberately unread.
    pRule->MergeRule(strAction, strLocation, strSourcePath, strTargetPath, strRuleID, strXPath);
}

int CQvRulesFactory::GetGroupIDCount() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesFactory::GetGroupIDCount(void)");
    return log->ExitFunction(iGroupIDCount);
}

void CQvRulesFactory::GetIncludeRules(QvRules& mpOut) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesFactory::GetIncludeRules(QvRules &mpRules)");
    mpOut.clear();
    for (const auto& entry : mpRules) {
        if (!entry.second->vtInclude.empty()) mpOut.insert(mpOut.end(), entry);
    }
    log->ExitFunction();
}

void CQvRulesFactory::GetExcludeRules(QvRules& mpOut) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesFactory::GetExcludeRules(QvRules &mpRules)");
    mpOut.clear();
    for (const auto& entry : mpRules) {
        if (!entry.second->vtExclude.empty()) mpOut.insert(mpOut.end(), entry);
    }
    log->ExitFunction();
}

void CQvRulesFactory::ResetRulesCatalog() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesFactory::ResetRulesCatalog(void)");
    // The group counter is left alone: group numbers stay unique for the life of the process.
    for (auto& entry : mpRules) delete entry.second;
    mpRules.clear();
    log->ExitFunction();
}

long CQvRulesFactory::CheckConstensy() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesFactory::CheckConstensy(void)");
    return log->ExitFunction(static_cast<long>(E_FAIL));
}
