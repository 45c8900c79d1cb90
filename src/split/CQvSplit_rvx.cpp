// The item-list split of CQvSplit: whole files and folders spread over numbered media files.
#include "split/CQvSplit.h"

#include "catalog/QvTreeWalk.h"
#include "common/QvSplitRun.h"
#include "facilities/CQvLog.h"
#include "facilities/CQvPathString.h"
#include "media/QvMediaEntry.h"
#include "platform/QvPlatform.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const int64_t kBytesPerMB = 1048576;
// Beyond this many media the split gives up and reports one more than it wrote.
const DWORD kMaxRVXMedia = 100;
// FILETIME of 1970-01-01 00:00:00 UTC, the stand-in for write times the text cannot hold.
const DWORD kEpochLow = 0xD53E8000u;
const DWORD kEpochHigh = 0x019DB1DEu;

// Local last-write time as 14 digits; empty when the time cannot be converted.
CQvString LocalWriteTime(const FILETIME& ftWrite, bool bAllowFallback = true) {
    FILETIME ftLocal;
    SYSTEMTIME st;
    if (!qvp::FileTimeToLocalFileTime(&ftWrite, &ftLocal) ||
        !qvp::FileTimeToSystemTime(&ftLocal, &st))
        return CQvString();
    if (st.wYear < 1900) {
        if (!bAllowFallback) return CQvString();
        FILETIME ftEpoch;
        ftEpoch.dwLowDateTime = kEpochLow;
        ftEpoch.dwHighDateTime = kEpochHigh;
        return LocalWriteTime(ftEpoch, false);
    }
    CQvString strTime;
    strTime.Format(L"%04d%02d%02d%02d%02d%02d", static_cast<int>(st.wYear),
                   static_cast<int>(st.wMonth), static_cast<int>(st.wDay),
                   static_cast<int>(st.wHour), static_cast<int>(st.wMinute),
                   static_cast<int>(st.wSecond));
    return strTime;
}

// The rule's target folder with a leading "\" and no trailing one; empty for "" and "\".
CQvString ItemTargetPath(const wchar_t* szTargetPath) {
    CQvString strTarget = QvWithoutTrailingBackslash(CQvString(szTargetPath));
    if (strTarget.IsEmpty()) return strTarget;
    if (strTarget.GetAt(0) == L'\\') return strTarget;
    CQvString strLeading(L"\\");
    strLeading += strTarget;
    return strLeading;
}

// Name of medium dwMedia: "<folder>\media<n>.xml", or under "C:\Temp\" without a folder.
CQvString RVXMediaFileName(LPCTSTR strOutputDir, DWORD dwMedia) {
    CQvString strName;
    if (!strOutputDir || !*strOutputDir) {
        strName.Format(L"C:\\Temp\\media%d.xml", dwMedia);
        return strName;
    }
    CQvPathString strDir(strOutputDir);
    strDir.AddBackslash();
    strName.Format(L"%smedia%d.xml", strDir, dwMedia);
    return strName;
}

// Asks the caller whether to go on; logs the stop when it says no.
bool RVXAbortRequested(SPLITCB lpCB, LPVOID lpUserParam) {
    if (!lpCB || lpCB(1, NULL, 0, lpUserParam) != 1) return false;
    CQvLog::GetInstance()->AddError(L"CQvSplit::SplitRVX(...) ABORT request");
    return true;
}

// Gives the last medium's root back when the split ends, whichever way it ends, so no
// document (nor what was written out for it) outlives the split that wrote it.
class QvFactoryNodeHolder {
public:
    QvFactoryNodeHolder(IQvXmlNode*& rpNode, IQvXml* pXml) : m_rpNode(rpNode), m_pXml(pXml) {}
    ~QvFactoryNodeHolder() {
        if (m_rpNode) m_rpNode->Release();
        m_rpNode = NULL;
        if (m_pXml) m_pXml->Discard();
    }
    QvFactoryNodeHolder(const QvFactoryNodeHolder&) = delete;
    QvFactoryNodeHolder& operator=(const QvFactoryNodeHolder&) = delete;

private:
    IQvXmlNode*& m_rpNode;
    IQvXml* m_pXml;
};

int64_t ItemsSize(const FileDescVector& vtItems) {
    int64_t iSize = 0;
    for (const FileDesc& item : vtItems) iSize += item.iFileSize;
    return iSize;
}

}  // namespace

DWORD CQvSplit::SplitRVXBody(LPCTSTR strVolumeID, RuleVector& vtRules, LPCTSTR strDispFlag,
                             DWORD dwType, DWORD dwSplitSize, int bSaveMedia,
                             LPCTSTR strOutputDir, SPLITCB lpCB, LPVOID lpUserParam) {
    CQvLog* log = CQvLog::GetInstance();
    QvStartSplitRun();
    const CQvString strDisp(strDispFlag);
    log->AddInfo(L"CQvSplit::SplitRVX(LPCTSTR strVolumeID=%s,RuleVector &vtRules,LPCTSTR "
                 L"strDispFlag=%s, DWORD dwType=%d,DWORD dwSplitSize=%d)",
                 CQvString(strVolumeID), strDisp, dwType, dwSplitSize);
    m_ItemsOnAllMedia.clear();
    m_ItemsOnAnyMedia.clear();
    m_dwSplitSize = dwSplitSize;
    m_bSaveMedia = bSaveMedia;
    m_lpCB = lpCB;
    m_lpUserParam = lpUserParam;
    m_iTotalSize = 0;
    CreateItemsList(vtRules);
    // The every-medium folders are sized before the first medium, so that an item that cannot
    // fit beside them is found at once instead of being tried on medium after medium.
    for (FileDesc& item : m_ItemsOnAllMedia) SizeFolderItem(item);
    m_mpItemCost.clear();
    int64_t iAllMediaSize = ItemsSize(m_ItemsOnAllMedia);
    if (qvalloc::On()) {
        qvalloc::FolderSet folders;
        iAllMediaSize = qvalloc::MediumCost();
        for (const FileDesc& item : m_ItemsOnAllMedia)
            iAllMediaSize += ItemCost(item) + folders.Add(item);
    }
    log->AddInfo(L"m_ItemsOnAnyMedia.size() = %d", static_cast<int>(m_ItemsOnAnyMedia.size()));
    if (m_ItemsOnAnyMedia.empty()) {
        if (!QvSplitRun::Current().leftOut.Entries().empty()) QvSplitRun::Current().report.Refuse(QvRefusedAllLeftOut);
        return 0;
    }
    if (CheckItemsOnAllMedia() != S_OK) return 0;
    CQvString strType;
    strType.Format(L"0x0000000%d", dwType);
    const QvFactoryNodeHolder holder(m_pFactoryNode, m_pXml);
    for (DWORD dwMedia = 1;; ++dwMedia) {
        if (dwMedia > kMaxRVXMedia) {
            // What is left is reported, so that a caller can say how much did not fit.
            for (FileDesc& item : m_ItemsOnAnyMedia) {
                SizeFolderItem(item);
                QvSplitRun::Current().leftOut.Add(item.strFilePath.str(), item.iFileSize,
                                              QvLeftOutMediaLimit);
            }
            return dwMedia;
        }
        const CQvString strFile = RVXMediaFileName(strOutputDir, dwMedia);
        QvSplitRun::Current().report.BeginMedium(dwMedia);
        if (CreateNewRVXMedia(strFile, strDisp, strType) != S_OK) {
            // Nothing may be written through a document that was not made.
            log->AddError(L"CQvSplit::SplitRVX(...) FAILED to create media file %s", strFile);
            return 0;
        }
        const size_t nBefore = m_ItemsOnAnyMedia.size();
        if (PlaceAnyMediaItems(iAllMediaSize) != S_OK) return 0;
        if (m_ItemsOnAnyMedia.size() == nBefore) {
            // Every item that cannot fit at all is refused above; a medium that took none is
            // never written, whatever the sizes did meanwhile (a folder that grew).
            log->AddError(L"CQvSplit::SplitRVX(...) SPLIT Error Item %s found no room on medium %d",
                          m_ItemsOnAnyMedia.front().strFilePath, static_cast<int>(dwMedia));
            QvSplitRun::Current().report.Refuse(QvRefusedItemNoRoom, m_ItemsOnAnyMedia.front().iFileSize,
                                        static_cast<int64_t>(m_dwSplitSize) * kBytesPerMB);
            return 0;
        }
        if (FinalizeMedia() != S_OK) return 0;
        if (RVXAbortRequested(m_lpCB, m_lpUserParam)) return 0;
        if (m_ItemsOnAnyMedia.empty()) return dwMedia;
    }
}

long CQvSplit::PlaceAnyMediaItems(int64_t iAllMediaSize) {
    CQvLog* log = CQvLog::GetInstance();
    size_t counter = 0;
    while (counter < m_ItemsOnAnyMedia.size()) {
        if (RVXAbortRequested(m_lpCB, m_lpUserParam)) return E_ABORT;
        FileDesc& item = m_ItemsOnAnyMedia[counter];
        log->AddInfo(L"m_ItemsOnAnyMedia[counter=%d].strFilePath = %s",
                     static_cast<int>(counter), item.strFilePath);
        if (AddItemToMedia(&item) == S_OK) {
            m_ItemsOnAnyMedia.erase(m_ItemsOnAnyMedia.begin() + static_cast<long>(counter));
            continue;
        }
        // An item that does not fit beside the every-medium items on an empty medium never
        // will: the same test as the placement's, in bytes.
        const int64_t iItem = qvalloc::On() ? ItemCost(item) + qvalloc::CostOnEmptyMedium(item)
                                            : item.iFileSize;
        const int64_t iNeededMB = (iItem + iAllMediaSize) / kBytesPerMB;
        if (iNeededMB >= static_cast<int64_t>(m_dwSplitSize)) {
            log->AddError(L"CQvSplit::SplitRVX(...) SPLIT Error Item %s size=%lld Size for "
                          L"\"all media\" %lld and SplitSize=%d -> %lld",
                          item.strFilePath, static_cast<long long>(item.iFileSize),
                          static_cast<long long>(iAllMediaSize), m_dwSplitSize,
                          static_cast<long long>(iNeededMB));
            QvSplitRun::Current().report.Refuse(QvRefusedItemNoRoom, iItem + iAllMediaSize,
                                        static_cast<int64_t>(m_dwSplitSize) * kBytesPerMB);
            return E_FAIL;
        }
        ++counter;
    }
    return S_OK;
}

// An every-medium item is written with the same test as any other; one that does not fit on an
// empty medium beside the every-medium items before it would be on no medium at all, which a
// backup must not do without a word. The test is the one CreateNewRVXMedia makes.
long CQvSplit::CheckItemsOnAllMedia() {
    m_iMediaSize = 0;
    m_iMediaUsed = qvalloc::MediumCost();
    m_mediaFolders.Clear();
    long hr = S_OK;
    for (const FileDesc& item : m_ItemsOnAllMedia) {
        if (!ItemFits(item)) {
            CQvLog::GetInstance()->AddError(
                L"CQvSplit::SplitRVX(...) SPLIT Error Item %s size=%lld Size for "
                L"\"all media\" %lld and SplitSize=%d -> %lld",
                item.strFilePath, static_cast<long long>(item.iFileSize),
                static_cast<long long>(m_iMediaSize), m_dwSplitSize,
                static_cast<long long>((m_iMediaSize + item.iFileSize) / kBytesPerMB));
            QvSplitRun::Current().report.Refuse(QvRefusedItemNoRoom, m_iMediaSize + item.iFileSize,
                                        static_cast<int64_t>(m_dwSplitSize) * kBytesPerMB);
            hr = E_FAIL;
            break;
        }
        m_iMediaSize += item.iFileSize;
        m_iMediaUsed += ItemCost(item) + m_mediaFolders.Add(item);
    }
    m_iMediaSize = 0;
    m_mediaFolders.Clear();
    return hr;
}

void CQvSplit::CreateItemsList(RuleVector& vtRules) {
    CQvLog* log = CQvLog::GetInstance();
    log->AddInfo(L"Rules vector size = %d", static_cast<int>(vtRules.size()));
    for (const QvRule& rule : vtRules) {
        // The caller's paths may fill their arrays; the copy is always terminated.
        QvRule copy = rule;
        copy.szSourcePath[QV_RULE_PATH_LEN - 1] = L'\0';
        copy.szTargetPath[QV_RULE_PATH_LEN - 1] = L'\0';
        FileDesc item;
        InitializeFileDescription(item, &copy);
        if (item.strFilePath.IsEmpty()) continue;
        // An item is placed whole: one that is or holds a link the media's file system cannot
        // store could not be written, so it is left out with that reason. A folder is walked
        // here once, for that, its size and its cost.
        CQvString strLink;
        if (qvp::IsFolderToEnter(item.dwAttributes)) {
            const CQvString strBare = QvWithoutTrailingBackslash(item.strFilePath);
            if (!strBare.IsEmpty() && !QvIsSystemVolumeFolder(strBare.str()))
                WalkItemFolder(strBare.str(), item.iFileSize, item.dwFileCount, strLink);
        }
        if (qvalloc::LinkTargetTooLong(item.dwAttributes, item.strFilePath) || !strLink.IsEmpty()) {
            log->AddError(L"CQvSplit::SplitRVX(...) Item %s left out: the link %s has a target the file system cannot store",
                          item.strFilePath, strLink.IsEmpty() ? CQvString(item.strFilePath) : strLink);
            SizeFolderItem(item);
            QvSplitRun::Current().leftOut.Add(item.strFilePath.str(), item.iFileSize, QvLeftOutLinkTarget);
            continue;
        }
        if (copy.iLocation == InAny) {
            log->AddInfo(L"Rules Any Media: %s", item.strFilePath);
            m_ItemsOnAnyMedia.push_back(item);
        } else {
            log->AddInfo(L"Rules All Media: %s", item.strFilePath);
            m_ItemsOnAllMedia.push_back(item);
        }
    }
}

void CQvSplit::InitializeFileDescription(FileDesc& fileDesc, QvRule* pRule) {
    if (!pRule) return;
    CQvPathString strPath(pRule->szSourcePath);
    int iPos = 0;
    if (strPath.Find(L"*.*", iPos, 0)) strPath.RemoveFileSpec();
    if (strPath.IsEmpty() || !qvp::PathFileExistsW(strPath)) return;
    WIN32_FILE_ATTRIBUTE_DATA data;
    std::memset(&data, 0, sizeof(data));
    // A path that vanished since the existence test yields no item either.
    if (!qvp::GetFileAttributesExW(strPath, GetFileExInfoStandard, &data)) return;
    fileDesc.strFilePath = strPath;
    fileDesc.dwAttributes = data.dwFileAttributes;
    fileDesc.strWriteTime = LocalWriteTime(data.ftLastWriteTime);
    fileDesc.iFileSize = 0;
    if (!qvp::IsFolderToEnter(data.dwFileAttributes))
        fileDesc.iFileSize = (static_cast<int64_t>(data.nFileSizeHigh) << 32) + data.nFileSizeLow;
    fileDesc.strTargetPath = ItemTargetPath(pRule->szTargetPath);
    fileDesc.pPathRules = NULL;
    fileDesc.dwCRC32 = 0;
    fileDesc.iAllTogetherGroup = -1;
    fileDesc.dwFileCount = 0;
}

long CQvSplit::AddItemToMedia(FileDesc* pFileDesc) {
    if (!pFileDesc) return E_INVALIDARG;
    if (!qvp::IsFolderToEnter(pFileDesc->dwAttributes)) {
        // A file item fits as a folder item does; placed without a test, it overfilled media.
        if (!ItemFits(*pFileDesc)) return E_FAIL;
        const long hr = AddFileToMedia(pFileDesc);
        if (hr == S_OK) m_iMediaUsed += ItemCost(*pFileDesc) + m_mediaFolders.Add(*pFileDesc);
        return hr;
    }
    SizeFolderItem(*pFileDesc);
    if (!ItemFits(*pFileDesc)) return E_FAIL;
    const long hr = AddFolderToMedia(pFileDesc);
    if (hr == S_OK) m_iMediaUsed += ItemCost(*pFileDesc) + m_mediaFolders.Add(*pFileDesc);
    return hr;
}

void CQvSplit::SizeFolderItem(FileDesc& item) {
    if (!qvp::IsFolderToEnter(item.dwAttributes) || item.iFileSize != 0 || item.dwFileCount != 0) return;
    // Counted on the item held in the list, so a later medium does not count it again;
    // counting from zero keeps a folder of empty files from growing its count on retries.
    int64_t iSize = 0;
    DWORD dwCount = 0;
    GetNumberFileAndSize(QvWithoutTrailingBackslash(item.strFilePath), iSize, dwCount);
    item.iFileSize = iSize;
    item.dwFileCount = dwCount;
}

int64_t CQvSplit::ItemCost(const FileDesc& item) {
    if (!qvalloc::On()) return item.iFileSize;
    const auto found = m_mpItemCost.find(item.strFilePath.str());
    if (found != m_mpItemCost.end()) return found->second;
    const int64_t iCost = qvalloc::EntryCost(item);
    m_mpItemCost.emplace(item.strFilePath.str(), iCost);
    return iCost;
}

bool CQvSplit::ItemFits(const FileDesc& item) {
    if (!qvalloc::On())
        return (m_iMediaSize + item.iFileSize) / kBytesPerMB < static_cast<int64_t>(m_dwSplitSize);
    const int64_t iLimit = static_cast<int64_t>(m_dwSplitSize) * kBytesPerMB;
    return m_iMediaUsed + ItemCost(item) + m_mediaFolders.CostOfNew(item) < iLimit;
}

namespace {

// What AddValueToFileNode writes to the trace, also for a value written straight as text.
const wchar_t kAddValueToFileNode[] =
    L"CQvSplit::AddValueToFileNode(IQvXmlNode *pNode, LPCTSTR strValue=%s, LPCTSTR strValueText=%s)";

}  // namespace

QvEntrySink CQvSplit::EntrySink() {
    return {[this](IQvXmlNode* pFile, LPCTSTR szName, LPCTSTR szText) { return AddValueToFileNode(pFile, szName, szText); },
            [](LPCTSTR szName, LPCTSTR szText) { QvTraceValueAdded(kAddValueToFileNode, szName, szText); }};
}

long CQvSplit::AddFileToMedia(FileDesc* pFileDesc) {
    if (!m_pFactoryNode || QvWriteFileEntry(m_pXml, m_pFactoryNode, *pFileDesc, EntrySink()) < 0) {
        CQvLog::GetInstance()->AddError(L"Error adding node FILE");
        return E_FAIL;
    }
    // The list may name an item twice, and every-medium items come again on each medium.
    QvSplitRun::Current().report.AddEntry(pFileDesc->strFilePath.Utf8(), pFileDesc->iFileSize, true);
    m_iMediaSize += pFileDesc->iFileSize;
    m_dwMediaFileCount += 1;
    return S_OK;
}

long CQvSplit::AddFolderToMedia(FileDesc* pFileDesc) {
    QvEntryValues values;
    QvFolderEntryValues(*pFileDesc, values);
    if (WriteItemEntry(values) < 0) return E_FAIL;
    QvSplitRun::Current().report.AddEntry(pFileDesc->strFilePath.Utf8(), pFileDesc->iFileSize, true);
    m_iMediaSize += pFileDesc->iFileSize;
    m_dwMediaFileCount += pFileDesc->dwFileCount;
    return S_OK;
}

long CQvSplit::WriteItemEntry(const QvEntryValues& values) {
    if (!m_pFactoryNode) return E_FAIL;
    return QvWriteEntry(m_pXml, m_pFactoryNode, values, EntrySink());
}

long CQvSplit::AddValueToFileNode(IQvXmlNode* pNode, LPCTSTR strValue, LPCTSTR strValueText) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(kAddValueToFileNode, CQvString(strValue), CQvString(strValueText));
    if (!pNode) {
        log->AddError(L"CQvSplit::AddValueToFileNode(...) pNode = NULL !");
        return log->ExitFunction(static_cast<long>(E_INVALIDARG));
    }
    QvXmlHeld<IQvXmlNode> child;
    if (pNode->AddChild(strValue, child.Out()) < 0 || !child)
        return log->ExitFunction(static_cast<long>(E_FAIL));
    const long lSet = child->SetText(strValueText);
    return log->ExitFunction(static_cast<long>(lSet < 0 ? E_FAIL : S_OK));
}

qvalloc::TreeFacts CQvSplit::WalkItemFolder(const std::wstring& strDir, int64_t& iSize, DWORD& dwCount,
                                            CQvString& strLink) {
    qvalloc::TreeCostTally tally(strDir);
    CQvPathString strBase(strDir.c_str());
    strBase.AddBackslash();
    QvWalkPolicy policy;
    policy.bReport = false;
    QvWalkFolder(strBase.str(), policy, [&](const QvWalkEntry& entry) {
        if (entry.IsFolder()) {
            tally.AddFolder(entry.Name(), WalkItemFolder(entry.strPath, iSize, dwCount, strLink));
            return true;
        }
        const CQvString strFile(entry.strPath.c_str());
        tally.AddFile(entry.Name(), strFile, entry.fd.dwFileAttributes, entry.Size());
        iSize += entry.Size();
        dwCount += 1;
        if (strLink.IsEmpty() && qvalloc::LinkTargetTooLong(entry.fd.dwFileAttributes, strFile)) strLink = strFile;
        return true;
    });
    return tally.Finish();
}

long CQvSplit::GetNumberFileAndSize(LPCTSTR strFolder, int64_t& iSize, DWORD& dwCount) {
    // An empty folder name would list the working directory instead.
    if (!strFolder || !*strFolder) return S_OK;
    const CQvString strBare = QvWithoutTrailingBackslash(CQvString(strFolder));
    if (QvIsSystemVolumeFolder(strBare.str())) return S_OK;
    CQvPathString strDir(strFolder);
    strDir.AddBackslash();
    QvWalkPolicy policy;
    policy.bReport = false;
    QvWalkFolder(strDir.str(), policy, [&](const QvWalkEntry& entry) {
        if (entry.IsFolder()) {
            const std::wstring strSub = entry.strPath + L'\\';
            GetNumberFileAndSize(strSub.c_str(), iSize, dwCount);
        } else {
            iSize += entry.Size();
            dwCount += 1;
        }
        return true;
    });
    return S_OK;
}

namespace {

// Adds one "Info" attribute: false when it cannot be added; a value that cannot be set is
// logged and the medium goes on.
bool AddInfoAttribute(IQvXmlNode* pInfo, const wchar_t* szName, const CQvString& strText,
                      const wchar_t* szAddError, const wchar_t* szSetError,
                      const CQvString& strFile) {
    CQvLog* log = CQvLog::GetInstance();
    QvXmlHeld<IQvXmlAttribute> attribute;
    if (pInfo->AddAttribute(szName, attribute.Out()) < 0 || !attribute) {
        log->AddError(szAddError, strFile, strFile);
        return false;
    }
    if (attribute->SetStringValue(strText) < 0) log->AddError(szSetError, strFile, strFile);
    return true;
}

// Adds "Info" under a new "Media" of root and fills its three creation attributes.
bool AddMediaInfo(IQvXmlNode* pRoot, const CQvString& strFile, const CQvString& strDispFlag,
                  const CQvString& strType, DWORD dwSplitSize) {
    CQvLog* log = CQvLog::GetInstance();
    QvXmlHeld<IQvXmlNode> media;
    if (pRoot->AddChild(L"Media", media.Out()) < 0 || !media) {
        log->AddError(L"CQvSplit::CreateNewMediaFile(LPCTSTR strFileName=%s) Create Media node "
                      L"in XML file %s FAILED", strFile, strFile);
        return false;
    }
    QvXmlHeld<IQvXmlNode> info;
    if (media->AddChild(L"Info", info.Out()) < 0 || !info) {
        log->AddError(L"CQvSplit::CreateNewMediaFile(LPCTSTR strFileName=%s) Create Info node "
                      L"in XML file %s FAILED", strFile, strFile);
        return false;
    }
    CQvString strSplitSize;
    strSplitSize.Format(L"%d", dwSplitSize);
    const bool bDone =
        AddInfoAttribute(info.Get(), L"DispFlag", strDispFlag,
                         L"CQvSplit::CreateNewMediaFile(LPCTSTR strFileName=%s) Create DispFlag "
                         L"attribute in XML file %s FAILED",
                         L"CQvSplit::CreateNewMediaFile(LPCTSTR strFileName=%s) Set Value for "
                         L"DispFlag in XML file %s FAILED", strFile) &&
        AddInfoAttribute(info.Get(), L"Type", strType,
                         L"CQvSplit::CreateNewMediaFile(LPCTSTR strFileName=%s) Create Type "
                         L"attribute in XML file %s FAILED",
                         L"CQvSplit::CreateNewMediaFile(LPCTSTR strFileName=%s) Set Value for "
                         L"Type in XML file %s FAILED", strFile) &&
        AddInfoAttribute(info.Get(), L"Split_Size", strSplitSize,
                         L"CQvSplit::CreateNewMediaFile(LPCTSTR strFileName=%s) Create Type "
                         L"Split_Size in XML file %s FAILED",
                         L"CQvSplit::CreateNewMediaFile(LPCTSTR strFileName=%s) Set Value for "
                         L"Split_Size in XML file %s FAILED", strFile);
    return bDone;
}

// Sets one attribute of the finished medium's "Info"; a failure leaves it out.
void SetFinalAttribute(IQvXmlNode* pInfo, const wchar_t* szName, const std::wstring& strText) {
    QvXmlHeld<IQvXmlAttribute> attribute;
    if (pInfo->AddAttribute(szName, attribute.Out()) < 0 || !attribute) return;
    attribute->SetStringValue(strText.c_str());
}

}  // namespace

long CQvSplit::CreateNewRVXMedia(LPCTSTR strFileName, LPCTSTR strDispFlag, LPCTSTR strType) {
    const CQvString strFile(strFileName);
    if (m_pFactoryNode) {
        m_pFactoryNode->Release();
        m_pFactoryNode = NULL;
    }
    if (!m_pXml || m_pXml->Create(strFile, L"Factory", &m_pFactoryNode) < 0 || !m_pFactoryNode) {
        m_pFactoryNode = NULL;
        CQvLog::GetInstance()->AddError(
            L"CQvSplit::CreateNewMediaFile(LPCTSTR strFileName=%s) Create XML media file FAILED",
            strFile);
        return E_FAIL;
    }
    m_strMediaFile = strFile;
    m_dwMediaFileCount = 0;
    m_iMediaSize = 0;
    m_iMediaUsed = qvalloc::MediumCost();
    m_mediaFolders.Clear();
    if (!AddMediaInfo(m_pFactoryNode, strFile, CQvString(strDispFlag), CQvString(strType),
                      m_dwSplitSize))
        return E_FAIL;
    // An every-medium item that does not fit is left off this medium.
    for (FileDesc& item : m_ItemsOnAllMedia) AddItemToMedia(&item);
    return S_OK;
}

long CQvSplit::FinalizeMedia() {
    long lResult = E_FAIL;
    QvXmlHeld<IQvXmlNode> info;
    if (m_pXml && m_pXml->SelectNode(L"/Factory/Media/Info", info.Out()) >= 0 && info) {
        SetFinalAttribute(info.Get(), L"Media_Size",
                          std::to_wstring(static_cast<unsigned long long>(m_iMediaSize)));
        SetFinalAttribute(info.Get(), L"Media_NumberFiles", std::to_wstring(m_dwMediaFileCount));
        if (qvalloc::On())
            SetFinalAttribute(info.Get(), L"Image_Size",
                              std::to_wstring(static_cast<long long>(m_iMediaUsed)));
        lResult = S_OK;
    }
    m_iTotalSize += m_iMediaSize;
    QvSplitRun::Current().report.FinishMedium(m_dwMediaFileCount, m_iMediaSize,
                                      qvalloc::On() ? static_cast<int64_t>(m_iMediaUsed) : -1, m_iMediaSize);
    QvReport& report = QvSplitRun::Current().report;
    if (!m_bSaveMedia) {
        qvp::DeleteFileW(m_strMediaFile);
        report.MediaInPlace(report.Media().size());
        return lResult;
    }
    // A medium the caller cannot find must not be counted as written.
    if (!m_pXml || m_pXml->Save(0) < 0) {
        CQvLog::GetInstance()->AddError(
            L"CQvSplit::FinalizeMedia() FAILED to save media file %s", m_strMediaFile);
        return E_FAIL;
    }
    report.MediaInPlace(report.Media().size());
    return lResult;
}
