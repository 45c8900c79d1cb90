// What the last split made or why it made nothing: its media with their figures, the bytes it
// planned, and a refusal as a code with the figures that caused it. Callers read it through the
// exported functions instead of reading the media files back or matching log text.
#ifndef QVREPORT_H
#define QVREPORT_H

#include "QvSplit.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class QvReport {
public:
    // Starts a new report (each split, estimate or item-list split starts one).
    void Clear();

    // A medium is begun; its number is 0 until known (the last medium is numbered at the end).
    void BeginMedium(DWORD dwNumber);
    // One FILE entry of the medium being written, by its path as the catalogue holds it. Its
    // bytes count towards the planned total the first time its path is met; bMayRepeat says
    // whether it can be met again (an entry of every medium, or one that several maps
    // place): only those are remembered.
    void AddEntry(std::string_view path, int64_t iSize, bool bMayRepeat);
    // The medium is saved with these figures.
    void FinishMedium(DWORD dwFiles, int64_t iFileBytes, int64_t iImageBytes, int64_t iDataBytes);
    // The first nCount media begun, in the order begun, are in place under their names (an
    // estimate's: complete). Only those count as saved to a caller, the progress function
    // included: a medium still being filled, or waiting to be put in place, does not.
    void MediaInPlace(size_t nCount);
    // The medium begun without a number becomes number dwNumber.
    void NumberLast(DWORD dwNumber);
    // The media were not kept (an estimate, or a split that failed part way).
    void DropMedia();

    // The first refusal of the split: a QvRefusalCode, its figures, and the log line that
    // says it, the last error logged. Later refusals only follow from the first.
    void Refuse(DWORD dwCode, int64_t iBytes = -1, int64_t iLimit = -1);

    // A file was cut into parts and recorded in the part list; the last one recorded was taken
    // back out (its cut failed after all).
    void AddCut(const wchar_t* szPath);
    void DropLastCut();

    const std::vector<QvMediumReport>& Media() const { return m_media; }
    // The media in place, as MediaInPlace last said.
    size_t InPlace() const { return m_nInPlace; }
    const std::vector<std::wstring>& Cuts() const { return m_cuts; }
    int64_t PlannedBytes() const { return m_iPlannedBytes; }
    DWORD RefusalCode() const { return m_dwRefusal; }
    int64_t RefusalBytes() const { return m_iRefusalBytes; }
    int64_t RefusalLimit() const { return m_iRefusalLimit; }
    const std::wstring& RefusalText() const { return m_strRefusal; }

private:
    std::vector<QvMediumReport> m_media;  // in the order written; sorted when numbered
    size_t m_nInPlace = 0;
    std::unordered_set<std::string> m_repeatable;  // paths that may come again, already counted
    int64_t m_iPlannedBytes = 0;
    DWORD m_dwRefusal = 0;
    int64_t m_iRefusalBytes = -1;
    int64_t m_iRefusalLimit = -1;
    std::wstring m_strRefusal;
    std::vector<std::wstring> m_cuts;
};

#endif
