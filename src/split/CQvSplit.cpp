// The split object: stores the caller's set-up and hands the work to the singletons.
#include "split/CQvSplit.h"

#include "bigfile/CQvSplitBigFile.h"
#include "catalog/CQvFileDescCatalog.h"
#include "common/QvSplitRun.h"
#include "facilities/CQvLog.h"
#include "facilities/CQvPathString.h"
#include "rules/CQvRulesFactory.h"
#include "rules/CQvRulesReader.h"

#include <cwchar>
#include <exception>
#include <new>

namespace {

// Folder of the media files when the caller names none.
const wchar_t kDefaultOutputDir[] = L"C:\\Temp\\";
// Rules file of the rule-vector form when the caller names no folder.
const wchar_t kDefaultRulesFile[] = L"C:\\TEMP\\Rules.xml";

// Messages of one attribute of a written rule element.
struct RuleAttribute {
    const wchar_t* pszName;
    const wchar_t* pszAddError;
    const wchar_t* pszSetError;
};

const RuleAttribute kRuleIDAttr = {
    L"RuleID", L"CQvSplit::SetupSplit(...) FAILED to add attribute RuleID in node Rule for Xml file %s",
    L"CQvSplit::SetupSplit(...) FAILED to set value to attribute RuleID in node Rule for Xml file %s"};
const RuleAttribute kActionAttr = {
    L"Action", L"CQvSplit::SetupSplit(...) FAILED to add attribute Action to node Rule in Xml file %s",
    L"CQvSplit::SetupSplit(...) FAILED to set value to attribute Action in node Rule for Xml file %s"};
const RuleAttribute kAllTogetherAttr = {
    L"AllTogether",
    L"CQvSplit::SetupSplit(...) FAILED to add attribute AllTogether to node Rule in Xml file %s",
    L"CQvSplit::SetupSplit(...) FAILED to set value to attribute AllTogether in node Rule for Xml "
    L"file %s"};
const RuleAttribute kLocationAttr = {
    L"Location",
    L"CQvSplit::SetupSplit(...) FAILED to add attribute Location to node Rule in Xml file %s",
    L"CQvSplit::SetupSplit(...) FAILED to set value to attribute Location in node Rule for Xml "
    L"file %s"};

// Messages of one child element of a written rule element.
struct RuleChild {
    const wchar_t* pszName;
    const wchar_t* pszAddError;
    const wchar_t* pszSetError;
};

const RuleChild kSourcePathChild = {
    L"SourcePath",
    L"CQvSplit::SetupSplit(...) FAILED to add child node SourcePath in Node Rule for Xml file %s",
    L"CQvSplit::SetupSplit(...) FAILED to set text to node SourcePath in Node Rule for Xml file "
    L"%s"};
const RuleChild kTargetPathChild = {
    L"TargetPath",
    L"CQvSplit::SetupSplit(...) FAILED to add child node TargetPath in Node Rule for Xml file %s",
    L"CQvSplit::SetupSplit(...) FAILED to set text to child node TargetPath in Node Rule for Xml "
    L"file %s"};

// Location keyword of a location code, or null for a code outside 1 to 6.
const wchar_t* LocationKeyword(int32_t iLocation) {
    static const wchar_t* const kKeywords[] = {L"First", L"Last", L"All",
                                               L"Any", L"NotFirst", L"NotLast"};
    if (iLocation < 1 || iLocation > 6) return nullptr;
    return kKeywords[iLocation - 1];
}

// A rule record's path, bounded so that a record without a terminating null is never overrun.
CQvString BoundedPath(const wchar_t* psz) {
    const size_t len = wcsnlen(psz, QV_RULE_PATH_LEN - 1);
    return CQvString(std::wstring(psz, len));
}

// Adds one attribute and sets its value (an int when pszValue is null and bInt is set, no value
// at all when both are unset); false after logging when either step fails.
bool WriteAttribute(IQvXmlNode* pRule, const RuleAttribute& a, const wchar_t* pszValue,
                    bool bInt, int32_t iValue, LPCTSTR strPath) {
    CQvLog* log = CQvLog::GetInstance();
    QvXmlHeld<IQvXmlAttribute> attr;
    if (pRule->AddAttribute(a.pszName, attr.Out()) < 0 || !attr) {
        log->AddError(a.pszAddError, strPath);
        return false;
    }
    long lSet = S_OK;
    if (bInt) {
        lSet = attr->SetIntValue(iValue);
    } else if (pszValue) {
        lSet = attr->SetStringValue(pszValue);
    }
    if (lSet < 0) {
        log->AddError(a.pszSetError, strPath);
        return false;
    }
    return true;
}

// Adds one child element holding a text; false after logging when either step fails.
bool WriteChild(IQvXmlNode* pRule, const RuleChild& c, LPCTSTR strText, LPCTSTR strPath) {
    CQvLog* log = CQvLog::GetInstance();
    QvXmlHeld<IQvXmlNode> child;
    if (pRule->AddChild(c.pszName, child.Out()) < 0 || !child) {
        log->AddError(c.pszAddError, strPath);
        return false;
    }
    const long lSet = child->SetText(strText);
    if (lSet < 0) {
        log->AddError(c.pszSetError, strPath);
        return false;
    }
    return true;
}

// Fills one "Rule" element from a rule record, in the reader's attribute and child names.
bool FillRuleNode(IQvXmlNode* pRule, const QvRule& rule, LPCTSTR strPath) {
    const CQvString strSource = BoundedPath(rule.szSourcePath);
    const CQvString strTarget = BoundedPath(rule.szTargetPath);
    return WriteAttribute(pRule, kRuleIDAttr, nullptr, true, rule.iRuleID, strPath) &&
           WriteAttribute(pRule, kActionAttr, rule.bInclude ? L"INCLUDE" : L"EXCLUDE", false, 0,
                          strPath) &&
           WriteAttribute(pRule, kAllTogetherAttr, rule.bAllTogether ? L"TRUE" : L"FALSE", false,
                          0, strPath) &&
           WriteAttribute(pRule, kLocationAttr, LocationKeyword(rule.iLocation), false, 0,
                          strPath) &&
           WriteChild(pRule, kSourcePathChild, strSource, strPath) &&
           WriteChild(pRule, kTargetPathChild, strTarget, strPath);
}

// Writes every rule of the vector under the root, in vector order.
bool WriteRuleNodes(IQvXmlNode* pRoot, const RuleVector& vtRules, LPCTSTR strPath) {
    CQvLog* log = CQvLog::GetInstance();
    for (const QvRule& rule : vtRules) {
        QvXmlHeld<IQvXmlNode> ruleNode;
        if (pRoot->AddChild(L"Rule", ruleNode.Out()) < 0 || !ruleNode) {
            log->AddError(
                L"CQvSplit::SetupSplit(...) FAILED to add child node Rule to Xml file %s",
                strPath);
            return false;
        }
        if (!FillRuleNode(ruleNode.Get(), rule, strPath)) return false;
    }
    return true;
}

}  // namespace

void QvStartSplitRun() {
    CQvLog::GetInstance()->ClearErrors();
    QvSplitRun::Begin();
}

void QvStartSplitPass() {
    CQvLog::GetInstance()->ClearErrors();
    QvSplitRun::Current().BeginPass();
}

extern "C" QVSPLIT_API DWORD QvGetLeftOutCount(void) {
    return static_cast<DWORD>(QvSplitRun::Current().leftOut.Entries().size());
}

extern "C" QVSPLIT_API BOOL QvGetLeftOut(DWORD dwIndex, LPCTSTR* ppszPath, int64_t* piSize,
                                         DWORD* pdwReason) {
    const std::vector<QvLeftOutEntry>& entries = QvSplitRun::Current().leftOut.Entries();
    if (dwIndex >= entries.size()) return FALSE;
    const QvLeftOutEntry& e = entries[dwIndex];
    if (ppszPath) *ppszPath = e.strPath.c_str();
    if (piSize) *piSize = e.iSize;
    if (pdwReason) *pdwReason = e.dwReason;
    return TRUE;
}

extern "C" QVSPLIT_API DWORD QvGetDroppedRuleCount(void) {
    return static_cast<DWORD>(QvSplitRun::Current().droppedRules.Rules().size());
}

extern "C" QVSPLIT_API BOOL QvGetDroppedRule(DWORD dwIndex, int32_t* piRuleID, LPCTSTR* ppszPath,
                                             DWORD* pdwReason) {
    const std::vector<QvDroppedRule>& rules = QvSplitRun::Current().droppedRules.Rules();
    if (dwIndex >= rules.size()) return FALSE;
    const QvDroppedRule& r = rules[dwIndex];
    if (piRuleID) *piRuleID = r.iRuleID;
    if (ppszPath) *ppszPath = r.strPath.c_str();
    if (pdwReason) *pdwReason = r.dwReason;
    return TRUE;
}

extern "C" QVSPLIT_API LPCTSTR QvGetErrorText(DWORD dwIndex) {
    const std::vector<std::wstring>& errors = CQvLog::GetInstance()->Errors();
    return dwIndex < errors.size() ? errors[dwIndex].c_str() : nullptr;
}

extern "C" QVSPLIT_API iCQvSplit* GetQvSplitInterface(void) {
    CQvLog::GetInstance()->AddInfo(L"iCQvSplit *GetQvSplitInterface(void)");
    try {
        return new CQvSplit();
    } catch (...) {
        return nullptr;
    }
}

CQvSplit::CQvSplit()
    : m_lpCB(nullptr), m_lpUserParam(nullptr), m_bSetupDone(0), m_pRulesReader(nullptr),
      m_pFileDescCatalog(nullptr), m_dwSplitSize(0), m_dwFirstMediaFreeSpace(0), m_dwType(0),
      m_dwOutputMethod(0), m_pXml(nullptr), m_pFactoryNode(nullptr), m_iMediaSize(0),
      m_dwMediaFileCount(0), m_bSaveMedia(0), m_iTotalSize(0) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvSplit::CQvSplit()");
    m_pRulesReader = CQvRulesReader::GetInstance();
    m_pFileDescCatalog = CQvFileDescCatalog::GetInstance();
    m_pXml = GetQvXmlInterface(XML_TYPE_LIBRARY);
    if (!m_pXml) log->AddError(L"GetQvXmlInterface FAILED !!!!!!!!!!!!!!");
    log->ExitFunction();
}

// Member-wise, except that the copy opens its own XML interface and holds no node of the
// original's document: each object closes only what it opened.
CQvSplit::CQvSplit(const CQvSplit& other)
    : iCQvSplit(other), m_lpCB(other.m_lpCB), m_lpUserParam(other.m_lpUserParam),
      m_bSetupDone(other.m_bSetupDone), m_pRulesReader(other.m_pRulesReader),
      m_pFileDescCatalog(other.m_pFileDescCatalog), m_dwSplitSize(other.m_dwSplitSize),
      m_dwFirstMediaFreeSpace(other.m_dwFirstMediaFreeSpace), m_strDispFlag(other.m_strDispFlag),
      m_dwType(other.m_dwType), m_dwOutputMethod(other.m_dwOutputMethod),
      m_strVolumeID(other.m_strVolumeID), m_strRulesFilePath(other.m_strRulesFilePath),
      m_strOutputDir(other.m_strOutputDir), m_pXml(GetQvXmlInterface(XML_TYPE_LIBRARY)),
      m_pFactoryNode(nullptr), m_iMediaSize(other.m_iMediaSize),
      m_dwMediaFileCount(other.m_dwMediaFileCount), m_ItemsOnAllMedia(other.m_ItemsOnAllMedia),
      m_ItemsOnAnyMedia(other.m_ItemsOnAnyMedia), m_bSaveMedia(other.m_bSaveMedia),
      m_strMediaFile(other.m_strMediaFile), m_iTotalSize(other.m_iTotalSize) {}

// Copies the set-up; this object keeps its own XML interface and node.
CQvSplit& CQvSplit::operator=(const CQvSplit& other) {
    if (this == &other) return *this;
    m_lpCB = other.m_lpCB;
    m_lpUserParam = other.m_lpUserParam;
    m_bSetupDone = other.m_bSetupDone;
    m_pRulesReader = other.m_pRulesReader;
    m_pFileDescCatalog = other.m_pFileDescCatalog;
    m_dwSplitSize = other.m_dwSplitSize;
    m_dwFirstMediaFreeSpace = other.m_dwFirstMediaFreeSpace;
    m_strDispFlag = other.m_strDispFlag;
    m_dwType = other.m_dwType;
    m_dwOutputMethod = other.m_dwOutputMethod;
    m_strVolumeID = other.m_strVolumeID;
    m_strRulesFilePath = other.m_strRulesFilePath;
    m_strOutputDir = other.m_strOutputDir;
    m_iMediaSize = other.m_iMediaSize;
    m_dwMediaFileCount = other.m_dwMediaFileCount;
    m_ItemsOnAllMedia = other.m_ItemsOnAllMedia;
    m_ItemsOnAnyMedia = other.m_ItemsOnAnyMedia;
    m_bSaveMedia = other.m_bSaveMedia;
    m_strMediaFile = other.m_strMediaFile;
    m_iTotalSize = other.m_iTotalSize;
    return *this;
}

CQvSplit::~CQvSplit() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvSplit::~CQvSplit()");
    if (m_pXml) m_pXml->Close();
    m_pXml = nullptr;
    log->ExitFunction();
}

DWORD CQvSplit::SetupSplitFromFile(LPCTSTR strVolumeID, LPCTSTR strRulesFilePath,
                                   LPCTSTR strDispFlag, DWORD dwType, DWORD dwSplitSize,
                                   DWORD dwFirstMediaFreeSpace, DWORD dwOutputMethod,
                                   LPCTSTR strOutputDir, SPLITCB lpCB, LPVOID lpUserParam) {
    CQvLog* log = CQvLog::GetInstance();
    QvStartSplitRun();
    log->EnterFunction(
        L"CQvSplit::SetupSplit(LPCTSTR strVolumeID=%s,LPCTSTR strRulesFilePath=%s,LPCTSTR "
        L"strDispFlag=%s, DWORD dwType=%d, DWORD dwSplitSize=%d, DWORD dwFirstMediaFreeSpace=%d, "
        L"DWORD dwOutputMethod=%d, LPCTSTR strOutputDir/* = NULL*/, SPLITCB lpCB/* = NULL*/,"
        L"LPVOID lpUserParam/* = NULL*/)",
        strVolumeID, strRulesFilePath, strDispFlag, dwType, dwSplitSize, dwFirstMediaFreeSpace,
        dwOutputMethod);
    m_lpCB = lpCB;
    m_lpUserParam = lpUserParam;
    m_dwSplitSize = 0;
    if (!strRulesFilePath || !qvp::PathFileExistsW(strRulesFilePath)) {
        return log->ExitFunction(static_cast<DWORD>(0));
    }
    m_strVolumeID = strVolumeID;
    m_strDispFlag = strDispFlag;
    m_dwType = dwType;
    m_strRulesFilePath = strRulesFilePath;
    m_strOutputDir = strOutputDir ? strOutputDir : kDefaultOutputDir;
    // A singleton that could not be created has been logged by its GetInstance.
    if (!m_pRulesReader || !m_pFileDescCatalog) return log->ExitFunction(static_cast<DWORD>(0));
    if (m_pRulesReader->ReadRules(strRulesFilePath) < 0) {
        return log->ExitFunction(static_cast<DWORD>(0));
    }
    m_pFileDescCatalog->ResetFileCatalog();
    m_dwOutputMethod = dwOutputMethod;
    m_dwFirstMediaFreeSpace = dwFirstMediaFreeSpace;
    m_dwSplitSize = dwSplitSize;
    m_bSetupDone = 1;
    return log->ExitFunction(static_cast<DWORD>(1));
}

DWORD CQvSplit::SetupSplitFromRules(LPCTSTR strVolumeID, RuleVector& vtRules,
                                    LPCTSTR strDispFlag, DWORD dwType, DWORD dwSplitSize,
                                    DWORD dwFirstMediaFreeSpace, DWORD dwOutputMethod,
                                    LPCTSTR strOutputDir, SPLITCB lpCB, LPVOID lpUserParam) {
    CQvLog* log = CQvLog::GetInstance();
    QvStartSplitRun();
    log->EnterFunction(
        L"CQvSplit::SetupSplit(LPCTSTR strVolumeID=%s,RuleVector &vtRules,LPCTSTR "
        L"strDispFlag=%s, DWORD dwType=%d, DWORD dwSplitSize=%d, DWORD dwFirstMediaFreeSpace=%d, "
        L"DWORD dwOutputMethod=%d, LPCTSTR strOutputDir/* = NULL*/, SPLITCB lpCB/* = NULL*/,"
        L"LPVOID lpUserParam/* = NULL*/)",
        strVolumeID, strDispFlag, dwType, dwSplitSize, dwFirstMediaFreeSpace, dwOutputMethod);
    m_lpCB = lpCB;
    m_lpUserParam = lpUserParam;
    m_dwSplitSize = 0;
    CQvString strRulesFile;
    if (!WriteRulesFile(vtRules, strOutputDir, strRulesFile)) {
        return log->ExitFunction(static_cast<DWORD>(0));
    }
    // Through the interface, so that a derived split object sees the same call a caller makes.
    iCQvSplit* pSplit = this;
    const DWORD dwResult =
        pSplit->SetupSplit(strVolumeID, strRulesFile.c_str(), strDispFlag, dwType, dwSplitSize,
                           dwFirstMediaFreeSpace, dwOutputMethod, strOutputDir, lpCB, lpUserParam);
    return log->ExitFunction(dwResult);
}

bool CQvSplit::WriteRulesFile(const RuleVector& vtRules, LPCTSTR strOutputDir,
                              CQvString& strRulesFile) {
    CQvLog* log = CQvLog::GetInstance();
    QvXmlHeld<IQvXml> doc(GetQvXmlInterface(XML_TYPE_LIBRARY));
    if (!doc) return false;
    if (vtRules.empty()) {
        log->AddError(L"CQvSplit::SetupSplit(...) FAILED RuleVector empty");
        return false;
    }
    if (strOutputDir) {
        CQvPathString strFolder(strOutputDir);
        strFolder.AddBackslash();
        strRulesFile = strFolder;
        strRulesFile += L"Rules.xml";
    } else {
        strRulesFile = kDefaultRulesFile;
    }
    QvXmlHeld<IQvXmlNode> root;
    if (doc->Create(strRulesFile, L"RulesFile", root.Out()) < 0 || !root) {
        log->AddError(L"c FAILED to create Xml file %s", strRulesFile);
        return false;
    }
    bool bWritten = WriteRuleNodes(root.Get(), vtRules, strRulesFile);
    root.Reset();
    if (bWritten && doc->Save(0) < 0) {
        log->AddError(L"CQvSplit::SetupSplit(...) FAILED to save Xml file %s", strRulesFile);
        bWritten = false;
    }
    return bWritten;
}

namespace {

// A split that plans no medium says why, as every other refusal does, even where no step
// failed: nothing was selected, or every entry selected was left out (QvGetLeftOut lists them).
void ReportNothingPlaced() {
    CQvLog* log = CQvLog::GetInstance();
    const size_t nLeftOut = QvSplitRun::Current().leftOut.Entries().size();
    if (nLeftOut == 0) {
        log->AddError(L"CQvSplit::EstimateSplit(void) FAILED nothing to split: the selection holds no file");
        QvSplitRun::Current().report.Refuse(QvRefusedNothingSelected);
    } else {
        log->AddError(L"CQvSplit::EstimateSplit(void) FAILED nothing to split: every entry of the selection is left out (%u)",
                      static_cast<unsigned>(nLeftOut));
        QvSplitRun::Current().report.Refuse(QvRefusedAllLeftOut);
    }
}

}  // namespace

DWORD CQvSplit::EstimateSplitBody() {
    CQvLog* log = CQvLog::GetInstance();
    QvStartSplitPass();
    log->EnterFunction(L"CQvSplit::EstimateSplit(void)");
    if (!m_bSetupDone) {
        log->AddError(L"CQvSplit::EstimateSplit(void) Error Execute SetupSplit before estimation.");
        return log->ExitFunction(static_cast<DWORD>(0));
    }
    const DWORD dwMedia = m_pFileDescCatalog->SplitIntoMedias(
        m_strDispFlag, m_dwType, m_dwSplitSize, m_dwFirstMediaFreeSpace, m_dwOutputMethod,
        m_strOutputDir, m_lpCB, m_lpUserParam);
    // The rules were consumed by this split; the next one starts from a fresh SetupSplit.
    CQvRulesFactory* pRules = CQvRulesFactory::GetInstance();
    if (pRules) pRules->ResetRulesCatalog();
    if (dwMedia == 0 && log->Errors().empty()) ReportNothingPlaced();
    return log->ExitFunction(dwMedia);
}

long CQvSplit::ValidateSplitSize() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvSplit::ValidateSplitSize(void)");
    if (!m_bSetupDone) return log->ExitFunction(static_cast<long>(E_FAIL));
    return log->ExitFunction(m_pFileDescCatalog->ValidateSplitSize(
        m_dwSplitSize, m_dwFirstMediaFreeSpace, m_dwOutputMethod));
}

long CQvSplit::SetSplitBigFileBody(BOOL bSplit, DWORD dwSplitSize, LPCTSTR lpszSplitFileList) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(
        L"CQvSplit::SetSplitBigFile(BOOL bSplit,DWORD dwSplitSize=%d,LPCTSTR lpszSplitFileList=%s)",
        dwSplitSize, lpszSplitFileList);
    CQvSplitBigFile* pBigFile = CQvSplitBigFile::GetInstance();
    if (!pBigFile) {
        log->AddError(L"CQvSplit::SetSplitBigFile(...) CQvSplitBigFile::GetInstance() return NULL !");
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    if (!bSplit) {
        return log->ExitFunction(pBigFile->SetSplitBigFile(FALSE, dwSplitSize, lpszSplitFileList));
    }
    if (!lpszSplitFileList) {
        log->AddError(L"CQvSplit::SetSplitBigFile(...) lpszSplitFileList=NULL !");
        return log->ExitFunction(static_cast<long>(E_INVALIDARG));
    }
    return log->ExitFunction(pBigFile->SetSplitBigFile(bSplit, dwSplitSize, lpszSplitFileList));
}

long CQvSplit::RecoverFilesBody(WORD wDrive, LPCTSTR strSplitListFile) {
    CQvLog* log = CQvLog::GetInstance();
    if (!strSplitListFile) {
        log->AddError(L"CQvSplit::RecoverFiles(...) strSplitListFile = NULL !");
        return E_INVALIDARG;
    }
    if (!qvp::PathFileExistsW(strSplitListFile)) {
        log->AddError(L"CQvSplit::RecoverFiles(...) Split list not exist strSplitListFile = %s",
                      strSplitListFile);
        return E_INVALIDARG;
    }
    CQvSplitBigFile* pBigFile = CQvSplitBigFile::GetInstance();
    if (!pBigFile) return E_FAIL;
    return pBigFile->RecoverFiles(wDrive, strSplitListFile);
}

int64_t CQvSplit::GetTotalSize() { return m_iTotalSize; }

namespace {

// Runs one operation of the interface: no exception crosses it (a caller built with other
// settings could not even catch one). An exception is logged as an error, the scopes it left
// open are closed, and the operation's failure value returned. However it ends, the log's
// gathered lines are written out before the caller sees the result.
template <class R, class F>
R Guarded(const wchar_t* szOperation, R failure, F&& body) {
    CQvLog* log = CQvLog::GetInstance();
    struct FlushOnReturn {
        CQvLog* log;
        ~FlushOnReturn() { log->Flush(); }
    } flushOnReturn{log};
    const size_t depth = log->ScopeDepth();
    try {
        return body();
    } catch (const std::bad_alloc&) {
        log->UnwindTo(depth);
        log->AddError(L"%s FAILED: out of memory", szOperation);
    } catch (const std::exception& e) {
        log->UnwindTo(depth);
        log->AddError(L"%s FAILED: exception %s", szOperation, e.what());
    } catch (...) {
        log->UnwindTo(depth);
        log->AddError(L"%s FAILED: unknown exception", szOperation);
    }
    return failure;
}

}  // namespace

DWORD CQvSplit::SetupSplit(LPCTSTR strVolumeID, LPCTSTR strRulesFilePath, LPCTSTR strDispFlag,
                           DWORD dwType, DWORD dwSplitSize, DWORD dwFirstMediaFreeSpace,
                           DWORD dwOutputMethod, LPCTSTR strOutputDir, SPLITCB lpCB,
                           LPVOID lpUserParam) {
    return Guarded(L"CQvSplit::SetupSplit(...)", static_cast<DWORD>(0), [&] {
        return SetupSplitFromFile(strVolumeID, strRulesFilePath, strDispFlag, dwType, dwSplitSize,
                                  dwFirstMediaFreeSpace, dwOutputMethod, strOutputDir, lpCB,
                                  lpUserParam);
    });
}

DWORD CQvSplit::SetupSplit(LPCTSTR strVolumeID, RuleVector& vtRules, LPCTSTR strDispFlag,
                           DWORD dwType, DWORD dwSplitSize, DWORD dwFirstMediaFreeSpace,
                           DWORD dwOutputMethod, LPCTSTR strOutputDir, SPLITCB lpCB,
                           LPVOID lpUserParam) {
    return Guarded(L"CQvSplit::SetupSplit(...)", static_cast<DWORD>(0), [&] {
        return SetupSplitFromRules(strVolumeID, vtRules, strDispFlag, dwType, dwSplitSize,
                                   dwFirstMediaFreeSpace, dwOutputMethod, strOutputDir, lpCB,
                                   lpUserParam);
    });
}

DWORD CQvSplit::EstimateSplit() {
    const DWORD dwMedia = Guarded(L"CQvSplit::EstimateSplit(void)", static_cast<DWORD>(-1),
                                  [&] { return EstimateSplitBody(); });
    // A split that made no set reports no media, whatever it wrote before it failed.
    if (dwMedia == 0 || (dwMedia & 0x80000000u) != 0) QvSplitRun::Current().report.DropMedia();
    if (dwMedia != static_cast<DWORD>(-1)) return dwMedia;
    // Whatever the catalogue held when the exception came is of no use to the next split.
    m_pFileDescCatalog->ResetFileCatalog();
    return 0;
}

long CQvSplit::SetSplitBigFile(BOOL bSplit, DWORD dwSplitSize, LPCTSTR lpszSplitFileList) {
    return Guarded(L"CQvSplit::SetSplitBigFile(...)", static_cast<long>(E_FAIL),
                   [&] { return SetSplitBigFileBody(bSplit, dwSplitSize, lpszSplitFileList); });
}

long CQvSplit::RecoverFiles(WORD wDrive, LPCTSTR strSplitListFile) {
    return Guarded(L"CQvSplit::RecoverFiles(...)", static_cast<long>(E_FAIL),
                   [&] { return RecoverFilesBody(wDrive, strSplitListFile); });
}

DWORD CQvSplit::SplitRVX(LPCTSTR strVolumeID, RuleVector& vtRules, LPCTSTR strDispFlag,
                         DWORD dwType, DWORD dwSplitSize, int bSaveMedia, LPCTSTR strOutputDir,
                         SPLITCB lpCB, LPVOID lpUserParam) {
    const DWORD dwMedia = Guarded(L"CQvSplit::SplitRVX(...)", static_cast<DWORD>(0), [&] {
        return SplitRVXBody(strVolumeID, vtRules, strDispFlag, dwType, dwSplitSize, bSaveMedia,
                            strOutputDir, lpCB, lpUserParam);
    });
    if (dwMedia == 0) QvSplitRun::Current().report.DropMedia();
    return dwMedia;
}
