// The factory of XML document interfaces.
#include "facilities/QvXml.h"

#include "facilities/QvXmlDocument.h"
#include "facilities/QvXmlRegistry.h"

#include <memory>

IQvXml* GetQvXmlInterface(int libraryType) {
    if (libraryType != XML_TYPE_LIBRARY) return nullptr;
    try {
        std::unique_ptr<CQvXmlDocument> document(new CQvXmlDocument());
        CQvXmlRegistry::GetInstance().Add(document.get());
        return document.release();
    } catch (...) {
        return nullptr;
    }
}
