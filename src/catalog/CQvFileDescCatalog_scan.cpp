// Turning files and directories on disk into catalogue entries: descriptions, target paths,
// directory sizes, and the decision to keep a directory whole or split it into its children.
#include "bigfile/CQvSplitBigFile.h"
#include "catalog/CQvFileDescCatalog.h"
#include "catalog/QvTreeWalk.h"
#include "common/QvAllocation.h"
#include "common/QvFileDescKeys.h"
#include "common/QvSplitRun.h"
#include "facilities/CQvLog.h"
#include "facilities/CQvPathString.h"
#include "platform/QvPlatform.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <utility>
#include <new>

namespace {

const int64_t kMegabyte = 1048576;

// Whether a name holds "*" or "?" (once per file: wcspbrk costs far more here).
bool HasWildcard(const wchar_t* p) {
    for (; *p; ++p)
        if (*p == L'*' || *p == L'?') return true;
    return false;
}

// Whether a folder of that many bytes can stay whole: only when it fits on an empty medium by
// the distribution's own test (bytes below the split size in bytes). A folder kept whole that
// cannot fit would fail the whole split later.
bool FitsEmptyMedium(int64_t iBytes, DWORD dwSplit) {
    return iBytes < static_cast<int64_t>(dwSplit) * kMegabyte;
}

int64_t SizeOf(DWORD high, DWORD low) {
    return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

// Replaces every occurrence of what in text, letters compared ignoring case, by nothing.
// Wildcard matches reach here lower-cased while the rule keeps its own letter case, and the
// relative part of their target path must come out the same as for a file named directly.
void RemoveAllNoCase(std::wstring& text, const std::wstring& what) {
    if (what.empty() || text.size() < what.size()) return;
    std::wstring out;
    size_t from = 0;
    size_t i = 0;
    while (i + what.size() <= text.size()) {
        bool bSame = true;
        for (size_t k = 0; k < what.size() && bSame; ++k)
            bSame = qvp::ToLowerChar(text[i + k]) == qvp::ToLowerChar(what[k]);
        if (bSame) {
            out.append(text, from, i - from);
            i += what.size();
            from = i;
        } else {
            ++i;
        }
    }
    if (from == 0) return;
    out.append(text, from, std::wstring::npos);
    text.swap(out);
}

void PutDigits(wchar_t* out, unsigned value, int count) {
    for (int i = count - 1; i >= 0; --i) {
        out[i] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    }
}

// The 14-digit text of a local time; false when the year does not fit four digits.
bool FormatSystemTime(const SYSTEMTIME& st, CQvString& out) {
    if (st.wYear > 9999) return false;
    wchar_t buf[15];
    PutDigits(buf, st.wYear, 4);
    PutDigits(buf + 4, st.wMonth, 2);
    PutDigits(buf + 6, st.wDay, 2);
    PutDigits(buf + 8, st.wHour, 2);
    PutDigits(buf + 10, st.wMinute, 2);
    PutDigits(buf + 12, st.wSecond, 2);
    buf[14] = 0;
    out = buf;
    return true;
}

bool LocalSystemTime(DWORD low, DWORD high, SYSTEMTIME& st) {
    FILETIME ft;
    ft.dwLowDateTime = low;
    ft.dwHighDateTime = high;
    FILETIME local;
    return qvp::FileTimeToLocalFileTime(&ft, &local) && qvp::FileTimeToSystemTime(&local, &st);
}

}  // namespace

CQvString CQvFileDescCatalog::LocalWriteTime(DWORD dwLow, DWORD dwHigh) {
    CQvString strTime;
    SYSTEMTIME st;
    if (!LocalSystemTime(dwLow, dwHigh, st)) return strTime;
    if (st.wYear < 1900) {
        // Times before 1900 are recorded as the local time of the POSIX epoch.
        const uint64_t kEpoch = 116444736000000000ULL;
        if (!LocalSystemTime(static_cast<DWORD>(kEpoch & 0xFFFFFFFFu),
                             static_cast<DWORD>(kEpoch >> 32), st))
            return strTime;
    }
    if (!FormatSystemTime(st, strTime)) strTime.Empty();
    return strTime;
}

long CQvFileDescCatalog::AddFileToCatalog(CQvPathRules* pQvPathRules, LPCTSTR strFileName) {
    return AddFileKnown(pQvPathRules, strFileName, nullptr);
}

long CQvFileDescCatalog::AddFileKnown(CQvPathRules* pQvPathRules, LPCTSTR strFileName,
                                      const QvKnownEntry* pKnown) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::AddFileToCatalog(CQvPathRules *pQvPathRules, "
                       L"LPCTSTR strFileName=%s)",
                       strFileName);
    if (!pQvPathRules || !strFileName) {
        if (!pQvPathRules)
            log->AddError(L"CQvFileDescCatalog::AddFileToCatalog(DWORD dwSplitSize, CQvPathRules "
                          L"*pQvPathRules, LPCTSTR strFileName) pQvPathRules=NULL !");
        if (!strFileName)
            log->AddError(L"CQvFileDescCatalog::AddFileToCatalog(DWORD dwSplitSize, CQvPathRules "
                          L"*pQvPathRules, LPCTSTR strFileName) strFileName=NULL !");
        return log->ExitFunction(static_cast<long>(E_INVALIDARG));
    }
    if (HasWildcard(strFileName))
        return log->ExitFunction(AddFilesToCatalog(pQvPathRules, strFileName));
    return log->ExitFunction(AddSingleFileKnown(pQvPathRules, strFileName, pKnown));
}

long CQvFileDescCatalog::AddSingleFileToCatalog(CQvPathRules* pQvPathRules,
                                                LPCTSTR strFileName) {
    return AddSingleFileKnown(pQvPathRules, strFileName, nullptr);
}

long CQvFileDescCatalog::AddSingleFileKnown(CQvPathRules* pQvPathRules, LPCTSTR strFileName,
                                            const QvKnownEntry* pKnown) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::AddSingleFileToCatalog(CQvPathRules *pQvPathRules, "
                       L"LPCTSTR strFileName=%s)",
                       strFileName);
    if (!pQvPathRules || !strFileName) return log->ExitFunction(static_cast<long>(E_INVALIDARG));
    CQvString strKey(strFileName);
    strKey.MakeLower();
    const size_t nLocations = pQvPathRules->vtInclude.size();
    for (size_t i = 0; i < nLocations; ++i) {
        QvFileDescMap* pMap = MapOf(pQvPathRules->vtInclude[i]);
        if (!pMap) continue;
        QvLastAdded* pLast = nullptr;
        if (m_bListingFiles) {
            const int iLocation = pQvPathRules->vtInclude[i];
            if (iLocation >= 1 && iLocation <= 6) pLast = &m_lastAdded[iLocation - 1];
        }
        const bool bNear = pLast && pLast->pMap == pMap;
        // Without an entry added last, the last entry of the map: a listing's first file
        // usually comes behind what the folders before it added.
        const QvFileDescMapIter last = pMap->empty() ? pMap->end() : std::prev(pMap->end());
        QvFileDescMapIter at;
        if (QvFindFileDesc(*pMap, strFileName, &strKey, &at, bNear ? &pLast->it : &last,
                           bNear ? std::wstring_view(pLast->lower) : std::wstring_view()) != pMap->end())
            continue;
        const wchar_t* strTarget =
            i < pQvPathRules->vtTargetPath.size() ? pQvPathRules->vtTargetPath[i].c_str() : L"";
        log->EnterFunction(L"CQvFileDescCatalog::CreateFileDesc(CQvPathRules *pQvPathRules, "
                           L"LPCTSTR strFileName=%s, LPCTSTR strTargetPath=%s)",
                           strFileName, strTarget);
        const std::unique_ptr<FileDesc> pDesc(
            MakeDesc(false, pQvPathRules, strFileName, strTarget, pKnown));
        log->ExitFunction();
        if (!pDesc) return log->ExitFunction(static_cast<long>(E_FAIL));
        if (pQvPathRules->vtInclude[i] == InAny)
            pDesc->iAllTogetherGroup = pQvPathRules->GetAllTogetherGroup();
        if (LeavesOut(*pDesc, strKey, pQvPathRules->vtInclude[i])) continue;
        QvFileDescMapIter added;
        bool bOwnKey = false;
        if (QvInsertFileDesc(*pMap, std::move(*pDesc), &strKey, &at, &added, &bOwnKey) && pLast) {
            pLast->pMap = pMap;
            pLast->it = added;
            if (bOwnKey)
                pLast->lower.assign(strKey.view());
            else
                pLast->lower.clear();
        }
    }
    return log->ExitFunction(static_cast<long>(S_OK));
}

bool CQvFileDescCatalog::LeavesOut(const FileDesc& desc, const CQvString& strKey,
                                   MediaDescriptEnum location) {
    CQvLog* log = CQvLog::GetInstance();
    if (desc.dwAttributes & FILE_ATTRIBUTE_DEVICE) {
        // A pipe, socket or device a rule names itself: reading it would block or never end,
        // as for one met in a folder.
        QvSplitRun::Current().leftOut.Add(desc.strFilePath.str(), 0, QvLeftOutSpecialFile, true,
                                      QvLocationBit(location));
        return true;
    }
    if ((desc.dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        qvalloc::LinkTargetTooLong(desc.dwAttributes, desc.strFilePath.Wide())) {
        QvSplitRun::Current().leftOut.Add(desc.strFilePath.str(), 0, QvLeftOutLinkTarget, true, QvLocationBit(location));
        return true;
    }
    CQvSplitBigFile* pSplitter = CQvSplitBigFile::GetInstance();
    const bool bOversize =
        !qvalloc::FitsEmptyMedium(qvalloc::EntryCost(desc), desc, dwSplitSize);
    if (!bOversize || (pSplitter && pSplitter->IsSplitBigFileOn())) return false;
    const CQvString strFileName = desc.strFilePath.Wide();
    const int32_t iLow = static_cast<int32_t>(static_cast<uint32_t>(desc.iFileSize));
    if (Find(strKey, L".wim")) {
        log->AddError(L"CQvFileDescCatalog::AddSingleFileToCatalog(...) WIM Size too Big "
                      L"%s (size=%d)",
                      strFileName, iLow);
        bWimTooBig = TRUE;
    } else {
        log->AddWarning(L"CQvFileDescCatalog::AddSingleFileToCatalog(...) Skip Big File "
                        L"%s (size=%d)",
                        strFileName, iLow);
        QvSplitRun::Current().leftOut.Add(strFileName.str(), desc.iFileSize, QvLeftOutTooBig, false,
                                      QvLocationBit(location));
    }
    return true;
}

long CQvFileDescCatalog::AddFilesToCatalog(CQvPathRules* pQvPathRules, LPCTSTR strFileName) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::AddFilesToCatalog(CQvPathRules *pQvPathRules, "
                       L"LPCTSTR strFileName=%s)",
                       strFileName);
    if (!pQvPathRules || !strFileName) return log->ExitFunction(static_cast<long>(E_INVALIDARG));
    CQvPathString strDir(strFileName);
    strDir.RemoveFileSpec();
    strDir.AddBackslash();
    for (size_t i = 0; i < pQvPathRules->vtInclude.size(); ++i) {
        QvFileDescMap* pMap = MapOf(pQvPathRules->vtInclude[i]);
        const CQvString strTarget =
            i < pQvPathRules->vtTargetPath.size() ? pQvPathRules->vtTargetPath[i] : CQvString();
        WIN32_FIND_DATAW fd;
        HANDLE hFind = pMap ? qvp::FindFirstFileW(strFileName, &fd) : INVALID_HANDLE_VALUE;
        if (hFind == INVALID_HANDLE_VALUE) continue;
        QvFindCloser closeAtEnd(hFind);
        do {
            if (qvp::IsFolderToEnter(fd.dwFileAttributes)) continue;
            // The entry keeps the name as listed: a lower-cased path could open a twin
            // that differs only in letter case.
            CQvString strEntry(strDir);
            strEntry += fd.cFileName;
            if (QvFindFileDesc(*pMap, strEntry) != pMap->end()) continue;
            const std::unique_ptr<FileDesc> pDesc(CreateFileDesc(pQvPathRules, strEntry, strTarget));
            if (!pDesc) return log->ExitFunction(static_cast<long>(E_FAIL));
            // A match larger than a medium is left out as a named file is: one file that
            // cannot be planned does not refuse the whole split.
            if (LeavesOut(*pDesc, QvFileDescKey(strEntry), pQvPathRules->vtInclude[i])) continue;
            QvInsertFileDesc(*pMap, std::move(*pDesc));
        } while (qvp::FindNextFileW(hFind, &fd));
    }
    return log->ExitFunction(static_cast<long>(S_OK));
}

FileDesc* CQvFileDescCatalog::CreateFileDesc(CQvPathRules* pQvPathRules, LPCTSTR strFileName,
                                             LPCTSTR strTargetPath) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::CreateFileDesc(CQvPathRules *pQvPathRules, "
                       L"LPCTSTR strFileName=%s, LPCTSTR strTargetPath=%s)",
                       strFileName, strTargetPath);
    FileDesc* pDesc = MakeDesc(false, pQvPathRules, strFileName, strTargetPath, nullptr);
    log->ExitFunction();
    return pDesc;
}

FileDesc* CQvFileDescCatalog::CreateDirDesc(CQvPathRules* pQvPathRules, LPCTSTR strFileName,
                                            LPCTSTR strTargetPath) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::CreateDirDesc(CQvPathRules *pQvPathRules, "
                       L"LPCTSTR strFileName=%s, LPCTSTR strTargetPath=%s)",
                       strFileName, strTargetPath);
    FileDesc* pDesc = MakeDesc(true, pQvPathRules, strFileName, strTargetPath, nullptr);
    log->ExitFunction();
    return pDesc;
}

// The path of an entry, held as its folder's text and its own name: the entries of one folder,
// made one after another as it is listed, share the folder's text.
CQvPathText CQvFileDescCatalog::PathInFolder(const wchar_t* strFileName) {
    const std::wstring_view path(strFileName);
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring_view::npos || slash + 1 == path.size()) return CQvPathText(path);
    const std::wstring_view folder = path.substr(0, slash + 1);
    if (m_strLastFolder != folder) {
        m_pathLastFolder = CQvPathText(folder);
        m_strLastFolder = folder;
    }
    return CQvPathText(m_pathLastFolder, path.substr(slash + 1));
}

FileDesc* CQvFileDescCatalog::MakeDesc(bool bDirDesc, CQvPathRules* pQvPathRules,
                                       LPCTSTR strFileName, LPCTSTR strTargetPath,
                                       const QvKnownEntry* pKnown) {
    CQvLog* log = CQvLog::GetInstance();
    const wchar_t* strWho = bDirDesc ? L"CreateDirDesc" : L"CreateFileDesc";
    if (!pQvPathRules || !strFileName || !strTargetPath) {
        const wchar_t* fmt = L"CQvFileDescCatalog::%s(CQvPathRules *pQvPathRules, LPCTSTR "
                             L"strFileName, LPCTSTR strTargetPath) %s=NULL !";
        if (!pQvPathRules) log->AddError(fmt, strWho, L"pQvPathRules");
        if (!strFileName) log->AddError(fmt, strWho, L"strFileName");
        if (!strTargetPath) log->AddError(fmt, strWho, L"strTargetPath");
        return nullptr;
    }
    QvKnownEntry info;
    if (pKnown) {
        info = *pKnown;  // just listed: it exists, and the listing gave its attributes
    } else {
        if (!qvp::PathFileExistsW(strFileName)) return nullptr;
        WIN32_FILE_ATTRIBUTE_DATA data;
        std::memset(&data, 0, sizeof(data));
        qvp::GetFileAttributesExW(strFileName, GetFileExInfoStandard, &data);
        info = {data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow,
                data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime, 0};
    }
    FileDesc* pDesc = new (std::nothrow) FileDesc();
    if (!pDesc) {
        log->AddError(L"FileDesc *CQvFileDescCatalog::CreateFilDesc(CQvPathRules *qvPathRules) "
                      L"Create new object FileDesc FAILED");
        return nullptr;
    }
    try {
        pDesc->strFilePath = PathInFolder(strFileName);
        // The text shows whole seconds: the files of one listing written within one second
        // share it, and those of a folder often are.
        const uint64_t uSecond = ((static_cast<uint64_t>(info.dwWriteTimeHigh) << 32) | info.dwWriteTimeLow) / 10000000u;
        if (!m_bListingFiles || uSecond != m_uLastWriteSecond) {
            CQvString strTime = LocalWriteTime(info.dwWriteTimeLow, info.dwWriteTimeHigh);
            m_uLastWriteSecond = UINT64_MAX;  // stays unknown if the copy runs out of memory
            if (strTime != m_strLastWriteTime) m_strLastWriteTime = std::move(strTime);
            m_uLastWriteSecond = uSecond;
        }
        pDesc->strWriteTime = m_strLastWriteTime;
        pDesc->dwAttributes = info.dwAttributes;
        pDesc->dwCRC32 = 0;
        pDesc->pPathRules = pQvPathRules;
        pDesc->dwLinks = info.dwLinks;
        if (!qvp::IsFolderToEnter(info.dwAttributes)) {
            pDesc->iFileSize = SizeOf(info.nFileSizeHigh, info.nFileSizeLow);
        } else if (bDirDesc) {
            int64_t iTotal = 0;
            DirSize(strFileName, iTotal);
            pDesc->iFileSize = iTotal;
        }
        FillTargetPath(bDirDesc, pQvPathRules, strFileName, strTargetPath, *pDesc);
    } catch (const std::bad_alloc&) {
        log->AddError(L"FileDesc *CQvFileDescCatalog::CreateFilDesc(CQvPathRules *qvPathRules) "
                      L"Create new object FileDesc FAILED");
        delete pDesc;
        return nullptr;
    }
    return pDesc;
}

void CQvFileDescCatalog::FillTargetPath(bool bDirDesc, CQvPathRules* pQvPathRules,
                                        LPCTSTR strFileName, LPCTSTR strTargetPath,
                                        FileDesc& fileDesc) {
    // Everything below depends on a file's path only up to its last backslash.
    const wchar_t* pLastSep = bDirDesc ? nullptr : std::wcsrchr(strFileName, L'\\');
    const size_t nFolder = pLastSep ? static_cast<size_t>(pLastSep - strFileName) + 1 : 0;
    const wchar_t* strRulePath = pQvPathRules->GetPath();
    if (!strRulePath) strRulePath = L"";
    QvTargetMemo& memo = m_targetMemo;
    if (pLastSep && memo.bValid && memo.pRule == pQvPathRules &&
        memo.strFolder.compare(0, std::wstring::npos, strFileName, nFolder) == 0 &&
        memo.strField == strTargetPath && memo.strRulePath == strRulePath) {
        fileDesc.strTargetPath = memo.strResult;
        return;
    }
    CQvPathString strField(strTargetPath);
    strField.RemoveBackslash();
    strField.AddBackslash();
    // The entry's own folder: a file's directory, or a directory itself.
    CQvPathString strDir(strFileName);
    if (bDirDesc) strDir.AddBackslash();
    strDir.RemoveFileSpec();
    strDir.AddBackslash();
    // The folder holding the rule's path; what lies below it is kept in the target.
    CQvPathString strRuleDir(strRulePath);
    strRuleDir.RemoveFileSpec();
    strRuleDir.RemoveBackslash();
    strRuleDir.AddBackslash();
    std::wstring strRelative = strDir.str();
    RemoveAllNoCase(strRelative, strRuleDir.str());
    strField += strRelative.c_str();
    strField.RemoveBackslash();
    if (strField.GetAt(0) == L'\\') {
        fileDesc.strTargetPath = strField;
    } else {
        CQvString strWithRoot(L"\\");
        strWithRoot += strField;
        fileDesc.strTargetPath = strWithRoot;
    }
    if (!pLastSep) return;
    memo.bValid = false;  // stays false if a copy below runs out of memory
    memo.pRule = pQvPathRules;
    memo.strRulePath = strRulePath;
    memo.strFolder.assign(strFileName, nFolder);
    memo.strField = strTargetPath;
    memo.strResult = fileDesc.strTargetPath;
    memo.bValid = true;
}

void CQvFileDescCatalog::DirSize(LPCTSTR pstrPath, int64_t& iSize) {
    if (!pstrPath) {
        CQvLog::GetInstance()->AddError(L"CQvFileDescCatalog::DirSize(LPCTSTR pstrPath, __int64 "
                                        L"&iSize) pstrPath = NULL !");
        return;
    }
    CQvPathString strDir(pstrPath);
    strDir.RemoveBackslash();
    iSize += MeasureDir(strDir.str());
}

bool CQvFileDescCatalog::KeepsWhole(const std::wstring& strDir, DWORD dwSplit) {
    if (HoldsOutputFolder(strDir)) return false;
    CQvPathString strBare(strDir.c_str());
    strBare.RemoveBackslash();
    if (QvIsSystemVolumeFolder(strBare.str())) return true;
    const QvDirFacts facts = MeasureDirFacts(strBare.str());
    if (!facts.bComplete) return false;
    if (!qvalloc::On()) return FitsEmptyMedium(facts.iTotal, dwSplit);
    // Its target is not known here; the folders of its own path stand in for those it needs.
    CQvPathString strParent(strBare);
    strParent.RemoveFileSpec();
    return qvalloc::FitsEmptyMedium(qvalloc::FolderKeptWholeCost(strBare, facts.iTotal),
                                    strParent, dwSplit);
}

int64_t CQvFileDescCatalog::MeasureDir(const std::wstring& strDir) {
    if (QvIsSystemVolumeFolder(strDir)) return 0;
    return MeasureDirFacts(strDir).iTotal;
}

CQvFileDescCatalog::QvDirFacts CQvFileDescCatalog::MeasureDirFacts(const std::wstring& strDir) {
    if (!m_bBuildCacheOn) return MeasureDirFromDisk(strDir);
    // Keyed by the exact path: folders differing only in letter case may be two folders.
    auto it = m_mpDirSizeCache.find(strDir);
    if (it != m_mpDirSizeCache.end()) return it->second;
    QvDirFacts facts = MeasureDirFromDisk(strDir);
    m_mpDirSizeCache.emplace(strDir, facts);
    return facts;
}

CQvFileDescCatalog::QvDirFacts CQvFileDescCatalog::MeasureDirFromDisk(const std::wstring& strDir) {
    const std::wstring strBase = strDir + L"\\";
    QvDirFacts facts;
    bool bIncomplete = false;
    QvWalkPolicy policy;
    policy.pbIncomplete = &bIncomplete;
    policy.isOutputFolder = [this](const std::wstring& s) { return IsOutputFolder(s); };
    // Under a disc model the folder's cost is counted on the way, for when it is kept whole.
    qvalloc::TreeCostTally tally(strDir);
    int64_t iFiles = 0;  // -1 once a folder below is not counted
    int64_t iOwnRows = 0;  // files and links in the folder itself
    const bool bListed = QvWalkFolder(strBase, policy, [&](const QvWalkEntry& entry) {
        if (entry.kind == QvWalkEntry::File) {
            const CQvString strFile(entry.strPath.c_str());
            // A link the medium cannot store is left out, so its folder is not kept whole.
            if (qvalloc::LinkTargetTooLong(entry.fd.dwFileAttributes, strFile)) facts.bComplete = false;
            const int64_t iSize = entry.Size();
            tally.AddFile(entry.Name(), strFile, entry.fd.dwFileAttributes, iSize);
            if (iFiles >= 0) ++iFiles;
            ++facts.catalog.iRows;
            ++iOwnRows;
            const int64_t iNameBytes = qvalloc::CatalogPathBytes(entry.Name());
            facts.catalog.iPathBytes += iNameBytes;
            facts.catalog.iNameBytes += iNameBytes;
            facts.catalog.iDigits += qvalloc::DecimalDigits(static_cast<uint64_t>(iSize));
            facts.iTotal += iSize;
            if (iSize > facts.iBiggest) {
                facts.iBiggest = iSize;
                facts.strBiggestName = entry.Name();
            }
            return true;
        }
        if (entry.kind == QvWalkEntry::OutputFolder) {
            tally.Drop();
            iFiles = -1;
            return true;
        }
        if (QvIsSystemVolumeFolder(entry.strPath)) {
            facts.bBiggestKnown = false;  // not measured, yet its files may be the biggest
            tally.Drop();
            iFiles = -1;
            return true;
        }
        const QvDirFacts child = MeasureDirFacts(entry.strPath);
        tally.AddFolder(entry.Name(), child.tree);
        // The child's paths begin with its name and a separator here.
        const int64_t iName = qvalloc::CatalogPathBytes(entry.Name()) + 2;
        facts.catalog.Add(child.catalog);
        facts.catalog.iPathBytes += child.catalog.iRows * iName;
        facts.catalog.iFolderBytes += child.catalog.iFolders * iName;
        iFiles = iFiles < 0 || child.iFiles < 0 ? -1 : iFiles + child.iFiles;
        facts.iTotal += child.iTotal;
        if (!child.bComplete) facts.bComplete = false;
        if (!child.bBiggestKnown) facts.bBiggestKnown = false;
        if (child.iBiggest > facts.iBiggest) {
            facts.iBiggest = child.iBiggest;
            facts.strBiggestName = child.strBiggestName;
        }
        return true;
    });
    if (bIncomplete) facts.bComplete = false;
    if (!bListed) return facts;
    // Its own files' folder.
    if (iOwnRows > 0) ++facts.catalog.iFolders;
    if (!facts.bComplete) tally.Drop();
    facts.tree = tally.Finish();
    // Kept for the medium that holds the folder whole, which counts its files.
    if (facts.bComplete && iFiles >= 0) {
        facts.iFiles = iFiles;
        QvSplitRun::Current().folderFiles.Remember(strDir, static_cast<uint64_t>(iFiles));
    }
    return facts;
}

long CQvFileDescCatalog::AddDirToCatalog(DWORD dwSplit, CQvPathRules* pQvPathRules,
                                         LPCTSTR strFilePath) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::AddDirToCatalog(DWORD dwSplitSize=%d, CQvPathRules "
                       L"*pQvPathRules, LPCTSTR strFilePath=%s)",
                       dwSplit, strFilePath);
    dwSplitSize = dwSplit;
    if (!pQvPathRules || !strFilePath) {
        const wchar_t* fmt = L"CQvFileDescCatalog::AddDirToCatalog(DWORD dwSplitSize, CQvPathRules "
                             L"*pQvPathRules, LPCTSTR strFilePath) %s=NULL !";
        if (!pQvPathRules) log->AddError(fmt, L"pQvPathRules");
        if (!strFilePath) log->AddError(fmt, L"strFilePath");
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    CQvString strKey(strFilePath);
    strKey.MakeLower();
    for (size_t i = 0; i < pQvPathRules->vtInclude.size(); ++i) {
        QvFileDescMap* pMap = MapOf(pQvPathRules->vtInclude[i]);
        if (!pMap || QvFindFileDesc(*pMap, strFilePath, &strKey) != pMap->end()) continue;
        if (IsOutputFolder(strFilePath)) continue;
        if (!KeepsWhole(strFilePath, dwSplit) || HoldsPlannedEntries(strFilePath)) {
            SplitDirToCatalog(dwSplit, pQvPathRules, strFilePath);
            continue;
        }
        const CQvString strTarget =
            i < pQvPathRules->vtTargetPath.size() ? pQvPathRules->vtTargetPath[i] : CQvString();
        const std::unique_ptr<FileDesc> pDesc(CreateDirDesc(pQvPathRules, strFilePath, strTarget));
        if (!pDesc) return log->ExitFunction(static_cast<long>(E_FAIL));
        if (pQvPathRules->vtInclude[i] == InAny)
            pDesc->iAllTogetherGroup = pQvPathRules->GetAllTogetherGroup();
        QvInsertFileDesc(*pMap, std::move(*pDesc), &strKey);
    }
    return log->ExitFunction(static_cast<long>(S_OK));
}

// Whether some map already holds an entry below the folder: a rule for a folder above it
// reached into it for other media (an exclusion from some locations only lets it). Kept whole,
// the folder would bring that entry a second time, onto one medium; planned file by file, each
// file placed by two maps goes to two media, as any such file does.
bool CQvFileDescCatalog::HoldsPlannedEntries(LPCTSTR strFolder) {
    const CQvString folder(strFolder);
    for (int iLocation : {InAll, InAny, InFirst, InLast, NotFirst, NotLast})
        if (QvHoldsBelow(*MapOf(iLocation), folder)) return true;
    return false;
}

long CQvFileDescCatalog::SplitDirToCatalog(DWORD dwSplit, CQvPathRules* pQvPathRules,
                                           LPCTSTR strFilePath) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::SplitDirToCatalog(DWORD dwSplitSize=%d, "
                       L"CQvPathRules *pQvPathRules, LPCTSTR strFilePath=%s)",
                       dwSplit, strFilePath);
    if (!pQvPathRules || !strFilePath) {
        const wchar_t* fmt = L"CQvFileDescCatalog::SplitDirToCatalog(DWORD dwSplitSize, "
                             L"CQvPathRules *pQvPathRules, LPCTSTR strFilePath) %s=NULL !";
        if (!pQvPathRules) log->AddError(fmt, L"pQvPathRules");
        if (!strFilePath) log->AddError(fmt, L"strFilePath");
        return log->ExitFunction(static_cast<long>(E_INVALIDARG));
    }
    CQvPathString strBase(strFilePath);
    strBase.RemoveBackslash();
    strBase.AddBackslash();
    QvWalkPolicy policy;
    policy.isOutputFolder = [this](const std::wstring& s) { return IsOutputFolder(s); };
    QvWalkFolder(strBase.str(), policy, [&](const QvWalkEntry& entry) {
        if (entry.kind == QvWalkEntry::OutputFolder) return true;
        if (entry.kind == QvWalkEntry::Folder) {
            const std::wstring strChild = entry.strPath + L'\\';
            if (!KeepsWhole(strChild, dwSplit))
                SplitDirToCatalog(dwSplit, pQvPathRules, strChild.c_str());
            else
                AddDirToCatalog(dwSplit, pQvPathRules, strChild.c_str());
        } else {
            const QvKnownEntry known = KnownOf(entry.fd);
            AddFileKnown(pQvPathRules, entry.strPath.c_str(), &known);
        }
        return true;
    });
    return log->ExitFunction(static_cast<long>(S_OK));
}
