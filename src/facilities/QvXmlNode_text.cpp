// Character data of an element: text and CDATA sections, read joined and written whole.
#include "facilities/QvXmlNode.h"

#include "facilities/QvXmlText.h"

#include <cwchar>
#include <string>

static bool IsCharacterData(pugi::xml_node node) {
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

BSTR CQvXmlNode::GetText() {
    return qvxml::Guard<BSTR>(nullptr, [&]() -> BSTR {
        // A CDATA value holding "]]>" is written as two adjacent sections, and a file may mix
        // text and sections freely; joining every piece gives the value back whole.
        std::string text;
        for (pugi::xml_node n = m_element.first_child(); n; n = n.next_sibling()) {
            if (IsCharacterData(n)) text += n.value();
        }
        return qvxml::ToBstr(text.c_str());
    });
}

long CQvXmlNode::SetText(LPCTSTR text) {
    if (!text) return E_INVALIDARG;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        // A value wrapped as "<![CDATA[" ... "]]>" becomes a CDATA section of what is
        // between; only that part is converted.
        static const wchar_t kOpen[] = L"<![CDATA[";
        static const wchar_t kClose[] = L"]]>";
        const size_t open = 9, close = 3;
        const size_t length = std::wcslen(text);
        const bool cdata = length >= open + close && std::wmemcmp(text, kOpen, open) == 0 &&
                           std::wmemcmp(text + length - close, kClose, close) == 0;
        const std::string value = cdata ? qvp::WideToUtf8(text + open, length - open - close)
                                        : qvp::WideToUtf8(text, length);
        for (pugi::xml_node n = m_element.first_child(); n;) {
            pugi::xml_node next = n.next_sibling();
            if (IsCharacterData(n)) m_element.remove_child(n);
            n = next;
        }
        // An empty plain text leaves no node at all; an empty CDATA section is kept, since
        // the caller asked for one.
        if (!cdata && value.empty()) return S_OK;
        pugi::xml_node data = m_element.prepend_child(cdata ? pugi::node_cdata : pugi::node_pcdata);
        if (!data || !data.set_value(value.c_str())) return E_FAIL;
        return S_OK;
    });
}
