// One attribute of an element, handed out by CQvXmlNode until its Release.
#ifndef QVXMLATTRIBUTE_H
#define QVXMLATTRIBUTE_H

#include "facilities/QvXml.h"
#include "facilities/QvXmlState.h"

#include <memory>

class CQvXmlAttribute : public IQvXmlAttribute {
public:
    // Wraps attribute of the document held by state.
    CQvXmlAttribute(std::shared_ptr<CQvXmlState> state, pugi::xml_attribute attribute);

    BSTR GetStringValue() override;
    long SetStringValue(LPCTSTR text) override;
    // Both integer setters write decimal text.
    long SetIntValue(int32_t value) override;
    long SetInt64Value(int64_t value) override;
    void Release() override;

private:
    ~CQvXmlAttribute() override = default;

    std::shared_ptr<CQvXmlState> m_pState;  // keeps the attribute's memory alive
    pugi::xml_attribute m_attribute;
};

#endif
