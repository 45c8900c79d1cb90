// The media factory's writer: the singleton, and one media description file entry by entry.
#include "media/CQvMediaFactory.h"

#include "catalog/QvTreeWalk.h"
#include "common/QvSplitRun.h"
#include "facilities/CQvLog.h"
#include "facilities/CQvPathString.h"
#include "media/QvMediaEntry.h"

#include <new>

CQvMediaFactory* CQvMediaFactory::pInstance = NULL;

CQvMediaFactory* CQvMediaFactory::GetInstance() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvMediaFactory::GetInstance()");
    if (pInstance == NULL) {
        try {
            pInstance = new CQvMediaFactory();
        } catch (...) {
            log->AddError(L"CQvMediaFactory::GetInstance() Error create new object "
                          L"CQvMediaFactory Catch Exception");
            pInstance = NULL;
        }
    }
    log->ExitFunction();
    return pInstance;
}

CQvMediaFactory::CQvMediaFactory()
    : m_iTotalSize(0),
      m_lpCB(NULL),
      m_lpUserParam(NULL),
      m_pXml(NULL),
      m_pFactoryNode(NULL),
      m_iMediaSize(0),
      m_dwMediaFileCount(0),
      m_pRun(NULL) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvMediaFactory::CQvMediaFactory()");
    log->ExitFunction();
}

CQvMediaFactory::~CQvMediaFactory() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvMediaFactory::~CQvMediaFactory()");
    CloseMediaDocument();
    log->ExitFunction();
}

void CQvMediaFactory::CloseMediaDocument() {
    m_pRun = NULL;
    if (m_pFactoryNode != NULL) m_pFactoryNode->Release();
    m_pFactoryNode = NULL;
    if (m_pXml != NULL) m_pXml->Close();
    m_pXml = NULL;
}

void CQvMediaFactory::SetMediaFactoryCB(SPLITCB lpCB, LPVOID lpUserParam) {
    m_lpCB = lpCB;
    m_lpUserParam = lpUserParam;
}

bool CQvMediaFactory::AbortRequested() {
    if (m_lpCB == NULL) return false;
    // The callback may count the media saved: only those in place under their names are.
    if (m_pRun != NULL) QvSplitRun::Current().report.MediaInPlace(PlacedMedia());
    return m_lpCB(1, NULL, 0, m_lpUserParam) == 1;
}

// Adds one attribute to Info; false only when the attribute itself cannot be made.
bool CQvMediaFactory::AddInfoAttribute(IQvXmlNode* pInfo, LPCTSTR strName, LPCTSTR strValue,
                                       LPCTSTR strFileName, const wchar_t* fmtCreate,
                                       const wchar_t* fmtSet) {
    CQvLog* log = CQvLog::GetInstance();
    QvXmlHeld<IQvXmlAttribute> attr;
    if (pInfo->AddAttribute(strName, attr.Out()) < 0 || !attr) {
        log->AddError(fmtCreate, strFileName, strFileName);
        return false;
    }
    if (attr->SetStringValue(strValue) < 0) log->AddError(fmtSet, strFileName, strFileName);
    return true;
}

long CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName, LPCTSTR strDispFlag,
                                         LPCTSTR strType, DWORD dwSplitSize) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s, LPCTSTR "
                       L"strDispFlag=%s, LPCTSTR strType=%s, DWORD dwSplitSize=%d)",
                       strFileName, strDispFlag, strType, dwSplitSize);
    if (m_pFactoryNode != NULL) {
        m_pFactoryNode->Release();
        m_pFactoryNode = NULL;
    }
    if (m_pXml == NULL || strFileName == NULL ||
        m_pXml->Create(strFileName, L"Factory", &m_pFactoryNode) < 0 || m_pFactoryNode == NULL) {
        log->AddError(L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Create XML "
                      L"media file FAILED",
                      strFileName);
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    m_iMediaSize = 0;
    m_iMediaShared = 0;
    m_iMediaReserved = 0;
    m_iMediaUsed = qvalloc::MediumCost();
    m_mediaFolders.Clear();
    m_dwMediaFileCount = 0;
    return log->ExitFunction(AddMediaInfo(strFileName, strDispFlag, strType, dwSplitSize));
}

// The "Media" element and its "Info" with the three attributes known when a file is begun.
long CQvMediaFactory::AddMediaInfo(LPCTSTR strFileName, LPCTSTR strDispFlag, LPCTSTR strType,
                                   DWORD dwSplitSize) {
    CQvLog* log = CQvLog::GetInstance();
    QvXmlHeld<IQvXmlNode> media;
    if (m_pFactoryNode->AddChild(L"Media", media.Out()) < 0 || !media) {
        log->AddError(L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Create Media "
                      L"node in XML file %s FAILED",
                      strFileName, strFileName);
        return E_FAIL;
    }
    QvXmlHeld<IQvXmlNode> info;
    if (media->AddChild(L"Info", info.Out()) < 0 || !info) {
        log->AddError(L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Create Info "
                      L"node in XML file %s FAILED",
                      strFileName, strFileName);
        return E_FAIL;
    }
    CQvString strSplitSize;
    strSplitSize.Format(L"%d", dwSplitSize);
    const bool ok =
        AddInfoAttribute(info.Get(), L"DispFlag", strDispFlag, strFileName,
                         L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Create "
                         L"DispFlag attribute in XML file %s FAILED",
                         L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Set Value "
                         L"for DispFlag in XML file %s FAILED") &&
        AddInfoAttribute(info.Get(), L"Type", strType, strFileName,
                         L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Create "
                         L"Type attribute in XML file %s FAILED",
                         L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Set Value "
                         L"for Type in XML file %s FAILED") &&
        AddInfoAttribute(info.Get(), L"Split_Size", strSplitSize, strFileName,
                         L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Create "
                         L"Type Split_Size in XML file %s FAILED",
                         L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Set Value "
                         L"for Split_Size in XML file %s FAILED");
    return ok ? S_OK : E_FAIL;
}

namespace {

// What AddValueToFileNode writes to the trace, also for a value written straight as text.
const wchar_t kAddValueToFileNode[] =
    L"CQvMediaFactory::AddValueToFileNode(IQvXmlNode *pNode, LPCTSTR strValue=%s, LPCTSTR strValueText=%s)";

}  // namespace

long CQvMediaFactory::AddFileToMedia(FileDesc* pFileDesc) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvMediaFactory::AddFileToMedia( FileDesc *pFileDesc)");
    if (pFileDesc == NULL || m_pFactoryNode == NULL) return log->ExitFunction(static_cast<long>(E_FAIL));
    const FileDesc& desc = *pFileDesc;
    const DWORD dwCountBefore = m_dwMediaFileCount;
    const QvEntrySink sink = {
        [this](IQvXmlNode* pFile, LPCTSTR szName, LPCTSTR szText) { return AddValueToFileNode(pFile, szName, szText); },
        [](LPCTSTR szName, LPCTSTR szText) { QvTraceValueAdded(kAddValueToFileNode, szName, szText); }};
    long hr;
    if (qvp::IsFolderToEnter(desc.dwAttributes)) {
        // A folder kept whole counts its files on disk.
        GetDirFileCount(QvWithoutTrailingBackslash(desc.strFilePath));
        QvEntryValues values;
        QvFolderEntryValues(desc, values);
        hr = QvWriteEntry(m_pXml, m_pFactoryNode, values, sink);
    } else {
        m_dwMediaFileCount += 1;
        hr = QvWriteFileEntry(m_pXml, m_pFactoryNode, desc, sink);
    }
    if (hr < 0) {
        m_dwMediaFileCount = dwCountBefore;
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    m_iMediaSize += desc.iFileSize;
    QvSplitRun::Current().report.AddEntry(desc.strFilePath.Utf8(), desc.iFileSize, MayRepeat(desc));
    if (qvalloc::On()) {
        m_iMediaUsed += qvalloc::EntryCost(desc) + m_mediaFolders.Add(desc);
        m_iMediaShared += m_mediaFolders.LastShared();
    } else
        m_iMediaUsed += desc.iFileSize;
    return log->ExitFunction(static_cast<long>(S_OK));
}

long CQvMediaFactory::AddValueToFileNode(IQvXmlNode* pNode, LPCTSTR strValue,
                                         LPCTSTR strValueText) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(kAddValueToFileNode, strValue, strValueText);
    if (pNode == NULL) {
        log->AddError(L"CQvMediaFactory::AddValueToFileNode(...) pNode = NULL !");
        return log->ExitFunction(static_cast<long>(E_INVALIDARG));
    }
    QvXmlHeld<IQvXmlNode> child;
    if (pNode->AddChild(strValue, child.Out()) < 0 || !child)
        return log->ExitFunction(static_cast<long>(E_FAIL));
    const long hr = child->SetText(strValueText != NULL ? strValueText : L"");
    return log->ExitFunction(static_cast<long>(hr < 0 ? E_FAIL : S_OK));
}

long CQvMediaFactory::GetDirFileCount(LPCTSTR strPath) {
    CQvPathString dir(QvWithoutTrailingBackslash(strPath));
    if (AbortRequested()) {
        CQvLog::GetInstance()->AddError(L"CQvMediaFactory::GetDirFileCount(...) ABORT request");
        return E_ABORT;
    }
    if (QvIsSystemVolumeFolder(dir.str())) return S_OK;
    // Counted already when the split measured the folder.
    uint64_t nKnown = 0;
    if (QvSplitRun::Current().folderFiles.Known(dir.str(), nKnown)) {
        m_dwMediaFileCount += static_cast<DWORD>(nKnown);
        return S_OK;
    }
    dir.AddBackslash();
    QvWalkPolicy policy;
    policy.bReport = false;
    long hr = S_OK;
    QvWalkFolder(dir.str(), policy, [&](const QvWalkEntry& entry) {
        if (!entry.IsFolder()) {
            m_dwMediaFileCount += 1;
            return true;
        }
        // The parent's listing stays open while its child is counted.
        const std::wstring child = entry.strPath + L'\\';
        if (GetDirFileCount(child.c_str()) == E_ABORT) {
            hr = E_ABORT;
            return false;
        }
        return true;
    });
    return hr;
}
