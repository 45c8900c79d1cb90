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
};

#endif
