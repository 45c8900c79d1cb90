// The file catalogue singleton, its location maps, and the whole-rule entry points and walk.
#include "catalog/CQvFileDescCatalog.h"

#include "catalog/QvTreeWalk.h"
#include "common/QvFileDescKeys.h"
#include "facilities/CQvLog.h"
#include "facilities/CQvPathString.h"
#include "media/CQvMediaFactory.h"
#include "platform/QvPlatform.h"

#include <cstring>
#include <cwchar>
#include <new>

CQvFileDescCatalog* CQvFileDescCatalog::pInstance = nullptr;

CQvFileDescCatalog* CQvFileDescCatalog::GetInstance() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::GetInstance()");
    if (!pInstance) {
        try {
            pInstance = new CQvFileDescCatalog();
        } catch (...) {
            log->AddError(L"CQvFileDescCatalog::GetInstance() Error create new object "
                          L"CQvFileDescCatalog Catch Exception");
            pInstance = nullptr;
        }
    }
    log->ExitFunction();
    return pInstance;
}

CQvFileDescCatalog::CQvFileDescCatalog()
    : lpCB(nullptr),
      lpUserParam(nullptr),
      pMediaFactory(nullptr),
      pRulesFactory(nullptr),
      dwSplitSize(0),
      bWimTooBig(FALSE),
      m_bStopRequested(false),
      m_bBuildCacheOn(false) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::CQvFileDescCatalog()");
    pMediaFactory = CQvMediaFactory::GetInstance();
    pRulesFactory = CQvRulesFactory::GetInstance();
    log->ExitFunction();
}

CQvFileDescCatalog::~CQvFileDescCatalog() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::~CQvFileDescCatalog()");
    mpFileDescInAll.clear();
    mpFileDescInAny.clear();
    mpFileDescInFirst.clear();
    mpFileDescInLast.clear();
    mpFileDescNotFirst.clear();
    mpFileDescNotLast.clear();
    m_bStopRequested = false;
    log->ExitFunction();
}

void CQvFileDescCatalog::ResetFileCatalog() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::ResetFileCatalog(void)");
    mpFileDescInAll.clear();
    mpFileDescInAny.clear();
    mpFileDescInFirst.clear();
    mpFileDescInLast.clear();
    mpFileDescNotFirst.clear();
    mpFileDescNotLast.clear();
    ForgetLastAdded();
    m_bStopRequested = false;
    log->ExitFunction();
}

int CQvFileDescCatalog::Find(LPCTSTR text, LPCTSTR what) {
    CQvString strText(text);
    CQvString strWhat(what);
    strText.MakeLower();
    strWhat.MakeLower();
    int iPos = 0;
    return strText.Find(strWhat, iPos, 0) ? 1 : 0;
}

void CQvFileDescCatalog::DeleteFileDesc(FileDesc* pFileDesc) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::DeleteFileDesc(FileDesc *pFileDesc)");
    delete pFileDesc;
    log->ExitFunction();
}

QvFileDescMap* CQvFileDescCatalog::MapOf(int iLocation) {
    switch (iLocation) {
    case InFirst: return &mpFileDescInFirst;
    case InLast: return &mpFileDescInLast;
    case InAll: return &mpFileDescInAll;
    case InAny: return &mpFileDescInAny;
    case NotFirst: return &mpFileDescNotFirst;
    case NotLast: return &mpFileDescNotLast;
    default: return nullptr;
    }
}

namespace {

// Attributes of a path, 0 when they cannot be read.
DWORD AttributesOrZero(LPCTSTR strPath) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    std::memset(&data, 0, sizeof(data));
    if (!qvp::GetFileAttributesExW(strPath, GetFileExInfoStandard, &data)) return 0;
    return data.dwFileAttributes;
}

}  // namespace

long CQvFileDescCatalog::AddToMediaCatalog(CQvPathRules* pqvPathRules) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::AddToMediaCatalog(CQvPathRules qvPathRules)");
    if (!pqvPathRules) {
        log->AddError(L"CQvFileDescCatalog::AddToMediaCatalog(CQvPathRules *pqvPathRules) "
                      L"pqvPathRules=NULL !");
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    LPCTSTR strPath = pqvPathRules->GetPath();
    if (qvp::IsFolderToEnter(AttributesOrZero(strPath))) {
        ParseDirectory(pqvPathRules, strPath, 1);
        return log->ExitFunction(static_cast<long>(S_OK));
    }
    return log->ExitFunction(AddFileToCatalog(pqvPathRules, strPath));
}

long CQvFileDescCatalog::DeleteFromMediaCatalog(CQvPathRules* pqvPathRules) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::DeleteFromMediaCatalog(CQvPathRules qvPathRules)");
    if (!pqvPathRules) {
        log->AddError(L"CQvFileDescCatalog::DeleteFromMediaCatalog(CQvPathRules *pqvPathRules) "
                      L"pqvPathRules=NULL !");
        return log->ExitFunction(static_cast<long>(E_INVALIDARG));
    }
    LPCTSTR strPath = pqvPathRules->GetPath();
    if (qvp::IsFolderToEnter(AttributesOrZero(strPath))) {
        ParseDirectory(pqvPathRules, strPath, 0);
        // Folders kept whole below it, or it itself, hold excluded files too: the walk above
        // removes only the entries of files.
        for (MediaDescriptEnum location : pqvPathRules->vtExclude)
            if (QvFileDescMap* pMap = MapOf(location)) {
                QvEraseFileDesc(*pMap, strPath);
                QvEraseBelow(*pMap, strPath);
            }
        return log->ExitFunction(static_cast<long>(S_OK));
    }
    MediaDescriptEnumVector vtExclude = pqvPathRules->vtExclude;
    if (std::wcspbrk(strPath, L"*?"))
        return log->ExitFunction(DeleteFilesFromCatalog(strPath, vtExclude));
    return log->ExitFunction(DeleteSingleFileFromCatalog(strPath, vtExclude));
}

namespace {

// Lower-cased, without a trailing backslash, for comparing folders.
std::wstring FolderKey(const std::wstring& strPath) {
    std::wstring out = QvFileDescKey(strPath).str();
    while (out.size() > 3 && out.back() == L'\\') out.pop_back();
    return out;
}

}  // namespace

namespace {

// The last component, lower-cased ("c:" for a drive's root).
std::wstring LeafKey(const std::wstring& strFolderKey) {
    const size_t slash = strFolderKey.rfind(L'\\');
    return slash == std::wstring::npos ? strFolderKey : strFolderKey.substr(slash + 1);
}

}  // namespace

void CQvFileDescCatalog::SetOutputFolder(LPCTSTR strOutputDir) {
    m_vOutputChain.clear();
    if (!strOutputDir) return;
    // The folder and each folder holding it, each with its last name for a quick first test.
    std::wstring strFolder(strOutputDir);
    while (strFolder.size() > 3 && strFolder.back() == L'\\') strFolder.pop_back();
    auto add = [&](const std::wstring& strLeaf) {
        m_vOutputChain.push_back({strLeaf, strFolder, FolderKey(strFolder)});
    };
    for (;;) {
        add(LeafKey(FolderKey(strFolder)));
        const size_t slash = strFolder.rfind(L'\\');
        if (slash == std::wstring::npos || slash + 1 >= strFolder.size()) break;
        strFolder.erase(slash == 2 && strFolder[1] == L':' ? slash + 1 : slash);
        if (strFolder.size() == 3 && strFolder[1] == L':') {
            add(FolderKey(strFolder.substr(0, 2)));
            break;
        }
    }
}

// Whether strPath is the folder at m_vOutputChain[i]: a folder of the same name (ignoring
// letter case) that is the same folder on disk. Spelled on another drive or in another letter
// case it still is; a twin that differs only in letter case is not.
bool CQvFileDescCatalog::IsChainFolder(const std::wstring& strPath, const std::wstring& strKey,
                                       size_t i) const {
    const QvChainFolder& chain = m_vOutputChain[i];
    const bool bRoot = strKey.size() <= 3 && strKey.size() >= 2 && strKey[1] == L':';
    // Through a followed link a folder may stand under any name.
    if (!bRoot && LeafKey(strKey) != chain.strLeaf && !qvp::FollowsLinks()) return false;
    // The same text: the same folder unless a twin spelled otherwise is meant.
    if (strKey == chain.strKey)
        return QvPathAtOrBelow(CQvString(strPath.c_str()), CQvString(chain.strPath.c_str()));
    return qvp::PathsNameSameObject(strPath.c_str(), chain.strPath.c_str()) != FALSE;
}

bool CQvFileDescCatalog::IsOutputFolder(const std::wstring& strPath) const {
    return !m_vOutputChain.empty() && IsChainFolder(strPath, FolderKey(strPath), 0);
}

bool CQvFileDescCatalog::HoldsOutputFolder(const std::wstring& strPath) const {
    if (m_vOutputChain.empty()) return false;
    const std::wstring strKey = FolderKey(strPath);
    for (size_t i = 0; i < m_vOutputChain.size(); ++i)
        if (IsChainFolder(strPath, strKey, i)) return true;
    return false;
}

bool CQvFileDescCatalog::StopRequested() {
    if (!m_bStopRequested && lpCB && lpCB(1, nullptr, 0, lpUserParam) == 1) m_bStopRequested = true;
    return m_bStopRequested;
}

void CQvFileDescCatalog::ParseDirectory(CQvPathRules* pqvPathRules, LPCTSTR strPath, int bAdd) {
    if (!pqvPathRules || !strPath) return;
    CQvLog* log = CQvLog::GetInstance();
    CQvPathString strBase(strPath);
    strBase.RemoveBackslash();
    strBase.AddBackslash();
    const MediaDescriptEnumVector vtExclude = pqvPathRules->vtExclude;

    if (StopRequested()) return;
    QvWalkPolicy policy;
    policy.bReport = bAdd != 0;
    if (bAdd) policy.isOutputFolder = [this](const std::wstring& s) { return IsOutputFolder(s); };
    // Entries added last are remembered only while files of this listing follow each other.
    ForgetLastAdded();
    QvWalkFolder(strBase.str(), policy, [&](const QvWalkEntry& entry) {
        if (m_bStopRequested) return false;
        if (entry.kind == QvWalkEntry::OutputFolder) return true;
        if (entry.kind == QvWalkEntry::Folder) {
            ParseDirectory(pqvPathRules, entry.strPath.c_str(), bAdd);  // forgets them as it begins and ends
        } else if (bAdd) {
            const QvKnownEntry known = KnownOf(entry.fd);
            struct Listing {
                bool& flag;
                explicit Listing(bool& f) : flag(f) { flag = true; }
                ~Listing() { flag = false; }
            } listing(m_bListingFiles);
            if (AddFileKnown(pqvPathRules, entry.strPath.c_str(), &known) < 0) log->AddError(L"");
        } else {
            ForgetLastAdded();
            if (DeleteSingleFileFromCatalog(entry.strPath.c_str(), vtExclude) < 0)
                log->AddError(L"  ");
        }
        return true;
    });
    ForgetLastAdded();
}
