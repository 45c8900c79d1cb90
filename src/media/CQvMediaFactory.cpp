// The media factory's writer: the singleton, and one media description file entry by entry.
#include "media/CQvMediaFactory.h"

#include "facilities/CQvLog.h"
#include "facilities/CQvPathString.h"

#include <new>

CQvMediaFactory* CQvMediaFactory::pInstance = NULL;

namespace {

// The text handed to the XML facility for a value written as a CDATA section.
CQvString Wrapped(const CQvString& value) {
    CQvString text(L"<![CDATA[");
    text += value;
    text += L"]]>";
    return text;
}

// The decimal text of a number, as "%d" / "%I64d" print it (std::to_wstring goes through
// the C library's wide printf, which cost more than the rest of an entry's numbers).
class QvDecimal {
public:
    explicit QvDecimal(int64_t value) {
        wchar_t* p = m_text + sizeof(m_text) / sizeof(m_text[0]) - 1;
        *p = L'\0';
        uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        do {
            *--p = static_cast<wchar_t>(L'0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) *--p = L'-';
        m_begin = p;
    }
    const wchar_t* c_str() const { return m_begin; }

private:
    wchar_t m_text[24];
    const wchar_t* m_begin;
};

// The path less one trailing backslash, whatever it is (a root "C:\" becomes "C:").
CQvString WithoutTrailingBackslash(const CQvString& path) {
    const int len = path.GetLength();
    if (len > 0 && path.GetAt(len - 1) == L'\\') return path.Left(len - 1);
    return path;
}

}  // namespace

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
    if (m_pFactoryNode != NULL) m_pFactoryNode->Release();
    m_pFactoryNode = NULL;
    if (m_pXml != NULL) m_pXml->Close();
    m_pXml = NULL;
    log->ExitFunction();
}

void CQvMediaFactory::SetMediaFactoryCB(SPLITCB lpCB, LPVOID lpUserParam) {
    m_lpCB = lpCB;
    m_lpUserParam = lpUserParam;
}

bool CQvMediaFactory::AbortRequested() {
    return m_lpCB != NULL && m_lpCB(1, NULL, 0, m_lpUserParam) == 1;
}

// Adds one attribute to Info; false only when the attribute itself cannot be made.
bool CQvMediaFactory::AddInfoAttribute(IQvXmlNode* pInfo, LPCTSTR strName, LPCTSTR strValue,
                                       LPCTSTR strFileName, const wchar_t* fmtCreate,
                                       const wchar_t* fmtSet) {
    CQvLog* log = CQvLog::GetInstance();
    IQvXmlAttribute* pAttr = NULL;
    if (pInfo->AddAttribute(strName, &pAttr) < 0 || pAttr == NULL) {
        log->AddError(fmtCreate, strFileName, strFileName);
        return false;
    }
    if (pAttr->SetStringValue(strValue) < 0) log->AddError(fmtSet, strFileName, strFileName);
    pAttr->Release();
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
    m_dwMediaFileCount = 0;
    return log->ExitFunction(AddMediaInfo(strFileName, strDispFlag, strType, dwSplitSize));
}

// The "Media" element and its "Info" with the three attributes known when a file is begun.
long CQvMediaFactory::AddMediaInfo(LPCTSTR strFileName, LPCTSTR strDispFlag, LPCTSTR strType,
                                   DWORD dwSplitSize) {
    CQvLog* log = CQvLog::GetInstance();
    IQvXmlNode* pMedia = NULL;
    if (m_pFactoryNode->AddChild(L"Media", &pMedia) < 0 || pMedia == NULL) {
        log->AddError(L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Create Media "
                      L"node in XML file %s FAILED",
                      strFileName, strFileName);
        return E_FAIL;
    }
    IQvXmlNode* pInfo = NULL;
    if (pMedia->AddChild(L"Info", &pInfo) < 0 || pInfo == NULL) {
        log->AddError(L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Create Info "
                      L"node in XML file %s FAILED",
                      strFileName, strFileName);
        pMedia->Release();
        return E_FAIL;
    }
    CQvString strSplitSize;
    strSplitSize.Format(L"%d", dwSplitSize);
    const bool ok =
        AddInfoAttribute(pInfo, L"DispFlag", strDispFlag, strFileName,
                         L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Create "
                         L"DispFlag attribute in XML file %s FAILED",
                         L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Set Value "
                         L"for DispFlag in XML file %s FAILED") &&
        AddInfoAttribute(pInfo, L"Type", strType, strFileName,
                         L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Create "
                         L"Type attribute in XML file %s FAILED",
                         L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Set Value "
                         L"for Type in XML file %s FAILED") &&
        AddInfoAttribute(pInfo, L"Split_Size", strSplitSize, strFileName,
                         L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Create "
                         L"Type Split_Size in XML file %s FAILED",
                         L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=%s) Set Value "
                         L"for Split_Size in XML file %s FAILED");
    pInfo->Release();
    pMedia->Release();
    return ok ? S_OK : E_FAIL;
}

long CQvMediaFactory::AddFileToMedia(FileDesc* pFileDesc) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvMediaFactory::AddFileToMedia( FileDesc *pFileDesc)");
    IQvXmlNode* pFile = NULL;
    if (pFileDesc == NULL || m_pFactoryNode == NULL ||
        m_pFactoryNode->AddChild(L"FILE", &pFile) < 0 || pFile == NULL) {
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    if (qvp::IsFolderToEnter(pFileDesc->dwAttributes))
        AddDirectoryValues(pFile, *pFileDesc);
    else
        AddFileValues(pFile, *pFileDesc);
    pFile->Release();
    return log->ExitFunction(static_cast<long>(S_OK));
}

// The values of the file form, in their fixed order, and the file's share of the counters.
void CQvMediaFactory::AddFileValues(IQvXmlNode* pFile, const FileDesc& desc) {
    const CQvPathString path(desc.strFilePath);
    const CQvString name = path.FindFileName();
    CQvString folder(desc.strFilePath);
    if (!name.IsEmpty()) folder.Replace(name, L"");
    AddValueToFileNode(pFile, L"FullPath", Wrapped(desc.strFilePath));
    AddValueToFileNode(pFile, L"Path", Wrapped(folder));
    AddValueToFileNode(pFile, L"TargetPath", Wrapped(desc.strTargetPath));
    AddValueToFileNode(pFile, L"Name", Wrapped(name));
    AddValueToFileNode(pFile, L"Extension", path.FindExtension());
    // Attributes and checksum print as signed 32-bit values ("%d"), the size as 64-bit.
    AddValueToFileNode(pFile, L"Attribute",
                       QvDecimal(static_cast<int32_t>(desc.dwAttributes)).c_str());
    AddValueToFileNode(pFile, L"Exclusion", L"0");
    AddValueToFileNode(pFile, L"WriteTime", desc.strWriteTime);
    AddValueToFileNode(pFile, L"FileSize", QvDecimal(desc.iFileSize).c_str());
    AddValueToFileNode(pFile, L"CRC32", QvDecimal(static_cast<int32_t>(desc.dwCRC32)).c_str());
    m_iMediaSize += desc.iFileSize;
    m_dwMediaFileCount += 1;
}

// The values of the directory form; its files are counted on disk by GetDirFileCount.
void CQvMediaFactory::AddDirectoryValues(IQvXmlNode* pFile, const FileDesc& desc) {
    const CQvString dir = WithoutTrailingBackslash(desc.strFilePath);
    GetDirFileCount(dir);
    int k = 0;
    if (!dir.ReverseFind(L'\\', k)) k = 0;
    // No backslash, or only a leading one: there is no parent folder to cut off.
    const bool whole = (k == 0);
    const CQvString folder = whole ? desc.strFilePath : dir.Left(k + 1);
    const CQvString name = whole ? CQvString() : dir.Mid(k + 1, dir.GetLength() - k - 1);
    CQvString fullPath(dir);
    fullPath += L"\\*.*";
    CQvString number;
    AddValueToFileNode(pFile, L"FullPath", Wrapped(fullPath));
    AddValueToFileNode(pFile, L"Path", folder);
    AddValueToFileNode(pFile, L"TargetPath", Wrapped(desc.strTargetPath));
    AddValueToFileNode(pFile, L"Name", Wrapped(name));
    number.Format(L"%d", desc.dwAttributes);
    AddValueToFileNode(pFile, L"Attribute", number);
    AddValueToFileNode(pFile, L"Exclusion", L"0");
    AddValueToFileNode(pFile, L"WriteTime", desc.strWriteTime);
    number.Format(L"%I64d", desc.iFileSize);
    AddValueToFileNode(pFile, L"FileSize", number);
    m_iMediaSize += desc.iFileSize;
}

long CQvMediaFactory::AddValueToFileNode(IQvXmlNode* pNode, LPCTSTR strValue,
                                         LPCTSTR strValueText) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvMediaFactory::AddValueToFileNode(IQvXmlNode *pNode, LPCTSTR "
                       L"strValue=%s, LPCTSTR strValueText=%s)",
                       strValue, strValueText);
    if (pNode == NULL) {
        log->AddError(L"CQvMediaFactory::AddValueToFileNode(...) pNode = NULL !");
        return log->ExitFunction(static_cast<long>(E_INVALIDARG));
    }
    IQvXmlNode* pChild = NULL;
    if (pNode->AddChild(strValue, &pChild) < 0 || pChild == NULL)
        return log->ExitFunction(static_cast<long>(E_FAIL));
    const long hr = pChild->SetText(strValueText != NULL ? strValueText : L"");
    pChild->Release();
    return log->ExitFunction(static_cast<long>(hr < 0 ? E_FAIL : S_OK));
}

long CQvMediaFactory::GetDirFileCount(LPCTSTR strPath) {
    CQvPathString dir(WithoutTrailingBackslash(strPath));
    if (AbortRequested()) {
        CQvLog::GetInstance()->AddError(L"CQvMediaFactory::GetDirFileCount(...) ABORT request");
        return E_ABORT;
    }
    int pos = 0;
    if (dir.Find(L"System Volume Information", pos)) return S_OK;
    dir.AddBackslash();
    CQvString pattern;
    pattern.Format(L"%s*.*", dir);
    WIN32_FIND_DATAW data;
    HANDLE hFind = qvp::FindFirstFileW(pattern, &data);
    if (hFind == INVALID_HANDLE_VALUE) return S_OK;
    long hr = S_OK;
    do {
        if (qvp::IsFolderToEnter(data.dwFileAttributes)) {
            const CQvString name(data.cFileName);
            if (name == L"." || name == L"..") continue;
            CQvString child;
            child.Format(L"%s%s\\", dir, name);
            // The parent's listing stays open while its child is counted.
            if (GetDirFileCount(child) == E_ABORT) {
                hr = E_ABORT;
                break;
            }
        } else {
            m_dwMediaFileCount += 1;
        }
    } while (qvp::FindNextFileW(hFind, &data));
    qvp::FindClose(hFind);
    return hr;
}
