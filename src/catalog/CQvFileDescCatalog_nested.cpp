// Directories that other rules reach into: walked one level at a time around those rules;
// and the removal of excluded files from the maps of the exclude locations.
#include "catalog/CQvFileDescCatalog.h"

#include "catalog/QvTreeWalk.h"
#include "common/QvFileDescKeys.h"
#include "facilities/CQvLog.h"
#include "facilities/CQvPathString.h"
#include "platform/QvPlatform.h"

#include <cstring>

namespace {

// Whether an exclude rule removes from every location the include rule puts entries in.
bool ExcludesEveryLocation(const CQvPathRules* pExclude, const CQvPathRules* pInclude) {
    for (MediaDescriptEnum location : pInclude->vtInclude) {
        bool bFound = false;
        for (MediaDescriptEnum excluded : pExclude->vtExclude) bFound = bFound || excluded == location;
        if (!bFound) return false;
    }
    return true;
}

}  // namespace

void CQvFileDescCatalog::ComparedFolder(CQvPathRules* pRule, CQvString& strFolder, bool& bIsDir) {
    if (m_bBuildCacheOn) {
        auto it = m_mpComparedFolderCache.find(pRule);
        if (it != m_mpComparedFolderCache.end()) {
            strFolder = it->second.first;
            bIsDir = it->second.second;
            return;
        }
    }
    CQvPathString strPath(pRule->GetPath());
    WIN32_FILE_ATTRIBUTE_DATA data;
    std::memset(&data, 0, sizeof(data));
    bIsDir = qvp::GetFileAttributesExW(strPath, GetFileExInfoStandard, &data) &&
             qvp::IsFolderToEnter(data.dwFileAttributes);
    // A file or a pattern is compared through the directory that holds it.
    if (!bIsDir) strPath.RemoveFileSpec();
    strFolder = strPath;
    if (m_bBuildCacheOn) m_mpComparedFolderCache[pRule] = std::make_pair(strFolder, bIsDir);
}

long CQvFileDescCatalog::SplitIncludeDir(CQvPathRules* pQvPathRules, LPCTSTR strPath,
                                         DWORD dwSplit) {
    return WalkAroundRules(pQvPathRules, strPath, dwSplit, false);
}

long CQvFileDescCatalog::SplitExcludeDir(CQvPathRules* pQvPathRules, LPCTSTR strPath,
                                         DWORD dwSplit) {
    return WalkAroundRules(pQvPathRules, strPath, dwSplit, true);
}

// One level of SplitIncludeDir or SplitExcludeDir (bExclude says which, for the stop message).
// Both walk around every other rule that reaches into the folder, include and exclude rules
// alike: a folder kept whole brings everything below it, so it is kept whole only when no
// other rule selects or leaves out anything inside it. (A walk that looked at one kind of
// rule only kept a folder whole around a file another rule put on another medium, and planned
// that file twice.)
long CQvFileDescCatalog::WalkAroundRules(CQvPathRules* pQvPathRules, LPCTSTR strPath,
                                         DWORD dwSplit, bool bExclude) {
    CQvLog* log = CQvLog::GetInstance();
    if (StopRequested()) {
        log->AddError(bExclude ? L"CQvFileDescCatalog::SplitExcludeDir(...) ABORT request"
                               : L"CQvFileDescCatalog::SplitIncludeDir(...) ABORT request");
        return E_ABORT;
    }
    if (!pQvPathRules || !strPath) return E_FAIL;
    QvRules mpExclude, mpInclude;
    if (pRulesFactory) {
        pRulesFactory->GetExcludeRules(mpExclude);
        pRulesFactory->GetIncludeRules(mpInclude);
    }
    CQvPathString strBase(strPath);
    strBase.RemoveBackslash();
    strBase.AddBackslash();
    QvWalkPolicy policy;
    policy.isOutputFolder = [this](const std::wstring& s) { return IsOutputFolder(s); };
    const bool bListed = QvWalkFolder(strBase.str(), policy, [&](const QvWalkEntry& entry) {
        if (m_bStopRequested) return false;
        if (entry.kind == QvWalkEntry::OutputFolder) return true;
        CQvPathString strChild(entry.strPath.c_str());
        if (entry.kind == QvWalkEntry::File) {
            // Every file is added; the exclusions are carried out afterwards, each from its own
            // locations. (Leaving a file out here for any rule whose folder merely contained its
            // path as text lost files beside a folder whose name begins with theirs.)
            const QvKnownEntry known = KnownOf(entry.fd);
            AddFileKnown(pQvPathRules, strChild, &known);
            return true;
        }
        strChild.AddBackslash();
        strChild.RemoveBackslash();
        const int iReach = ReachInto(pQvPathRules, strChild, mpExclude, mpInclude);
        if (iReach == kReachNone) {
            // The entry's path keeps its backslash only when no other rule was compared.
            if (mpExclude.empty() && mpInclude.size() <= 1) strChild.AddBackslash();
            AddDirToCatalog(dwSplit, pQvPathRules, strChild);
        } else if (iReach == kReachDescend) {
            WalkAroundRules(pQvPathRules, strChild, dwSplit, bExclude);
        } else if (iReach == kReachExcludedInPart) {
            // Excluded from some locations only: the others must keep its files, so they are
            // added one by one and the exclusion later removes its own locations.
            ParseDirectory(pQvPathRules, strChild, 1);
        }
        return true;
    });
    return bListed ? S_OK : E_FAIL;
}

// How the walk for pRule treats the child folder strChild (no trailing backslash): an
// exclude rule naming exactly that folder leaves it out (or, when it keeps some of the rule's
// locations, has its files added one by one); any other rule reaching into it makes the walk
// descend; otherwise it is added whole or split by size.
int CQvFileDescCatalog::ReachInto(CQvPathRules* pRule, const CQvPathString& strChild,
                                  QvRules& mpExclude, QvRules& mpInclude) {
    CQvString strFolder;
    bool bIsDir = false;
    for (auto& rule : mpExclude) {
        ComparedFolder(rule.second, strFolder, bIsDir);
        CQvPathString strCompared(strFolder);
        strCompared.RemoveBackslash();
        if (!Find(strCompared, strChild)) continue;
        // Only the folder the exclusion names, not a twin that differs in letter case.
        if (!bIsDir || !QvPathAtOrBelow(strChild, strCompared) ||
            strCompared.GetLength() != strChild.GetLength())
            return kReachDescend;
        return ExcludesEveryLocation(rule.second, pRule) ? kReachExcluded : kReachExcludedInPart;
    }
    for (auto& rule : mpInclude) {
        if (rule.second == pRule) continue;
        ComparedFolder(rule.second, strFolder, bIsDir);
        CQvPathString strCompared(strFolder);
        strCompared.RemoveBackslash();
        if (Find(strCompared, strChild)) return kReachDescend;
    }
    return kReachNone;
}

long CQvFileDescCatalog::DeleteSingleFileFromCatalog(LPCTSTR strFilePath,
                                                     MediaDescriptEnumVector vtExclude) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::DeleteSingleFileFromCatalog(LPCTSTR strFilePath=%s, "
                       L"MediaDescriptEnumVector vtExclude)",
                       strFilePath);
    if (!strFilePath) {
        log->AddError(L"CQvFileDescCatalog::DeleteSingleFileFromCatalog(LPCTSTR strFilePath, "
                      L"MediaDescriptEnumVector vtExclude) strFilePath=NULL !");
        return log->ExitFunction(static_cast<long>(E_INVALIDARG));
    }
    for (MediaDescriptEnum location : vtExclude) {
        if (QvFileDescMap* pMap = MapOf(location)) QvEraseFileDesc(*pMap, strFilePath);
    }
    return log->ExitFunction(static_cast<long>(S_OK));
}

long CQvFileDescCatalog::DeleteFilesFromCatalog(LPCTSTR strFilePath,
                                                MediaDescriptEnumVector vtExclude) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::DeleteFilesFromCatalog(LPCTSTR strFilePath=%s, "
                       L"MediaDescriptEnumVector vtExclude)",
                       strFilePath);
    if (!strFilePath) {
        log->AddError(L"CQvFileDescCatalog::DeleteFilesFromCatalog(LPCTSTR strFilePath, "
                      L"MediaDescriptEnumVector vtExclude) strFilePath=NULL !");
        return log->ExitFunction(static_cast<long>(E_INVALIDARG));
    }
    CQvPathString strDir(strFilePath);
    strDir.RemoveFileSpec();
    strDir.AddBackslash();
    for (MediaDescriptEnum location : vtExclude) {
        QvFileDescMap* pMap = MapOf(location);
        WIN32_FIND_DATAW fd;
        HANDLE hFind = pMap ? qvp::FindFirstFileW(strFilePath, &fd) : INVALID_HANDLE_VALUE;
        if (hFind == INVALID_HANDLE_VALUE) continue;
        QvFindCloser closeAtEnd(hFind);
        do {
            if (qvp::IsFolderToEnter(fd.dwFileAttributes)) continue;
            CQvString strEntry(strDir);
            strEntry += fd.cFileName;
            QvEraseFileDesc(*pMap, strEntry);
        } while (qvp::FindNextFileW(hFind, &fd));
    }
    return log->ExitFunction(static_cast<long>(S_OK));
}
