// Test access to the protected members of CQvSplit, through static forwarders.
#ifndef QVSPLITTESTACCESS_H
#define QVSPLITTESTACCESS_H

#include "split/CQvSplit.h"

class QvSplitTestAccess {
public:
    // The XML document interface the item-list split writes through.
    static IQvXml*& Xml(CQvSplit& split) { return split.m_pXml; }
    static long GetNumberFileAndSize(CQvSplit& split, LPCTSTR strFolder, int64_t& iSize,
                                     DWORD& dwCount) {
        return split.GetNumberFileAndSize(strFolder, iSize, dwCount);
    }
    static long AddValueToFileNode(CQvSplit& split, IQvXmlNode* pNode, LPCTSTR strValue,
                                   LPCTSTR strValueText) {
        return split.AddValueToFileNode(pNode, strValue, strValueText);
    }
    static const FileDescVector& ItemsOnAnyMedia(const CQvSplit& split) {
        return split.m_ItemsOnAnyMedia;
    }

    // Set-up state of the rules-file and rule-vector forms.
    static int SetupDone(const CQvSplit& split) { return split.m_bSetupDone; }
    static DWORD SplitSize(const CQvSplit& split) { return split.m_dwSplitSize; }
    static DWORD FirstMediaFreeSpace(const CQvSplit& split) {
        return split.m_dwFirstMediaFreeSpace;
    }
    static DWORD Type(const CQvSplit& split) { return split.m_dwType; }
    static DWORD OutputMethod(const CQvSplit& split) { return split.m_dwOutputMethod; }
    static std::wstring DispFlag(const CQvSplit& split) { return split.m_strDispFlag.str(); }
    static std::wstring VolumeID(const CQvSplit& split) { return split.m_strVolumeID.str(); }
    static std::wstring RulesFilePath(const CQvSplit& split) {
        return split.m_strRulesFilePath.str();
    }
    static std::wstring OutputDir(const CQvSplit& split) { return split.m_strOutputDir.str(); }
    static SPLITCB Callback(const CQvSplit& split) { return split.m_lpCB; }
    static LPVOID UserParam(const CQvSplit& split) { return split.m_lpUserParam; }
    static CQvRulesReader* RulesReader(const CQvSplit& split) { return split.m_pRulesReader; }
    static CQvFileDescCatalog* Catalog(const CQvSplit& split) { return split.m_pFileDescCatalog; }
    static IQvXmlNode* FactoryNode(const CQvSplit& split) { return split.m_pFactoryNode; }
    static long ValidateSplitSize(CQvSplit& split) { return split.ValidateSplitSize(); }
};

#endif
