// The report of the last split.
#include "common/QvSplitRun.h"

#include "facilities/CQvLog.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>


void QvReport::Clear() {
    m_media.clear();
    m_nInPlace = 0;
    m_repeatable.clear();
    m_iPlannedBytes = 0;
    m_dwRefusal = QvRefusedNone;
    m_iRefusalBytes = m_iRefusalLimit = -1;
    m_strRefusal.clear();
    m_cuts.clear();
}

void QvReport::AddCut(const wchar_t* szPath) {
    try {
        m_cuts.emplace_back(szPath);
    } catch (const std::bad_alloc&) {
        // The part list still names it.
    }
}

void QvReport::DropLastCut() {
    if (!m_cuts.empty()) m_cuts.pop_back();
}

void QvReport::BeginMedium(DWORD dwNumber) {
    QvMediumReport medium{};
    medium.cbSize = sizeof medium;
    medium.dwNumber = dwNumber;
    medium.iImageBytes = -1;
    try {
        m_media.push_back(medium);
    } catch (const std::bad_alloc&) {
        // The media files still say it all; the report only misses this medium.
    }
}

void QvReport::AddEntry(std::string_view path, int64_t iSize, bool bMayRepeat) {
    if (!m_media.empty()) m_media.back().dwEntries += 1;
    if (bMayRepeat) {
        try {
            if (!m_repeatable.insert(std::string(path)).second) return;
        } catch (const std::bad_alloc&) {
            return;
        }
    }
    m_iPlannedBytes += iSize;
}

void QvReport::FinishMedium(DWORD dwFiles, int64_t iFileBytes, int64_t iImageBytes, int64_t iDataBytes) {
    if (m_media.empty()) return;
    QvMediumReport& medium = m_media.back();
    medium.dwFiles = dwFiles;
    medium.iFileBytes = iFileBytes;
    medium.iImageBytes = iImageBytes;
    medium.iDataBytes = iDataBytes;
}

void QvReport::MediaInPlace(size_t nCount) { m_nInPlace = std::min(nCount, m_media.size()); }

void QvReport::NumberLast(DWORD dwNumber) {
    for (QvMediumReport& medium : m_media)
        if (medium.dwNumber == 0) medium.dwNumber = dwNumber;
    std::stable_sort(m_media.begin(), m_media.end(),
                     [](const QvMediumReport& a, const QvMediumReport& b) { return a.dwNumber < b.dwNumber; });
}

void QvReport::DropMedia() {
    m_media.clear();
    m_nInPlace = 0;
    m_repeatable.clear();
    m_iPlannedBytes = 0;
}

void QvReport::Refuse(DWORD dwCode, int64_t iBytes, int64_t iLimit) {
    if (m_dwRefusal != QvRefusedNone) return;
    m_dwRefusal = dwCode;
    m_iRefusalBytes = iBytes;
    m_iRefusalLimit = iLimit;
    const std::vector<std::wstring>& errors = CQvLog::GetInstance()->Errors();
    try {
        m_strRefusal = errors.empty() ? std::wstring() : errors.back();
    } catch (const std::bad_alloc&) {
        m_strRefusal.clear();
    }
}

extern "C" QVSPLIT_API DWORD QvGetMediaCount(void) {
    return static_cast<DWORD>(QvSplitRun::Current().report.InPlace());
}

extern "C" QVSPLIT_API BOOL QvGetMedium(DWORD dwIndex, QvMediumReport* pMedium) {
    const QvReport& report = QvSplitRun::Current().report;
    const std::vector<QvMediumReport>& media = report.Media();
    const uint32_t cbFirst = static_cast<uint32_t>(offsetof(QvMediumReport, iDataBytes));
    if (pMedium == nullptr || pMedium->cbSize < cbFirst || dwIndex >= report.InPlace()) return FALSE;
    QvMediumReport medium = media[dwIndex];
    medium.cbSize = pMedium->cbSize;
    std::memcpy(pMedium, &medium, std::min<size_t>(pMedium->cbSize, sizeof medium));
    return TRUE;
}

extern "C" QVSPLIT_API int64_t QvGetPlannedBytes(void) { return QvSplitRun::Current().report.PlannedBytes(); }

extern "C" QVSPLIT_API BOOL QvGetRefusal(QvRefusal* pRefusal) {
    const QvReport& report = QvSplitRun::Current().report;
    if (pRefusal == nullptr || pRefusal->cbSize < sizeof(QvRefusal) || report.RefusalCode() == QvRefusedNone)
        return FALSE;
    pRefusal->dwCode = report.RefusalCode();
    pRefusal->iBytes = report.RefusalBytes();
    pRefusal->iLimit = report.RefusalLimit();
    pRefusal->pszMessage = report.RefusalText().c_str();
    return TRUE;
}

extern "C" QVSPLIT_API BOOL QvGetCatalogRoom(QvCatalogRoom* pRoom) {
    if (pRoom == nullptr || pRoom->cbSize < sizeof(QvCatalogRoom)) return FALSE;
    const uint32_t cbSize = pRoom->cbSize;
    *pRoom = QvSplitRun::Current().catalogRoom;
    pRoom->cbSize = cbSize;
    return TRUE;
}

extern "C" QVSPLIT_API DWORD QvGetCutFileCount(void) {
    return static_cast<DWORD>(QvSplitRun::Current().report.Cuts().size());
}

extern "C" QVSPLIT_API LPCTSTR QvGetCutFile(DWORD dwIndex) {
    const std::vector<std::wstring>& cuts = QvSplitRun::Current().report.Cuts();
    return dwIndex < cuts.size() ? cuts[dwIndex].c_str() : nullptr;
}
