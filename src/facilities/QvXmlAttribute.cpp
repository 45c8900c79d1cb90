// Reading and setting one attribute value.
#include "facilities/QvXmlAttribute.h"

#include "facilities/QvXmlText.h"

#include <utility>

CQvXmlAttribute::CQvXmlAttribute(std::shared_ptr<CQvXmlState> state,
                                 pugi::xml_attribute attribute)
    : m_pState(std::move(state)), m_attribute(attribute) {}

BSTR CQvXmlAttribute::GetStringValue() {
    return qvxml::ToBstr(m_attribute.value());
}

long CQvXmlAttribute::SetStringValue(LPCTSTR text) {
    if (!text) return E_INVALIDARG;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        return m_attribute.set_value(qvxml::ToUtf8(text).c_str()) ? S_OK : E_FAIL;
    });
}

long CQvXmlAttribute::SetIntValue(int32_t value) {
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        return m_attribute.set_value(static_cast<int>(value)) ? S_OK : E_FAIL;
    });
}

long CQvXmlAttribute::SetInt64Value(int64_t value) {
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        return m_attribute.set_value(static_cast<long long>(value)) ? S_OK : E_FAIL;
    });
}

void CQvXmlAttribute::Release() {
    delete this;
}
