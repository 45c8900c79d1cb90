// Element access: names, children, the child walk and the path of an element.
#include "facilities/QvXmlNode.h"

#include "facilities/QvXmlAttribute.h"
#include "facilities/QvXmlText.h"

#include <climits>
#include <string>
#include <utility>
#include <vector>

CQvXmlNode::CQvXmlNode(std::shared_ptr<CQvXmlState> state, pugi::xml_node element)
    : m_pState(std::move(state)), m_element(element) {}

pugi::xml_node CQvXmlNode::NextElement(pugi::xml_node node) {
    pugi::xml_node n = node.next_sibling();
    while (n && n.type() != pugi::node_element) n = n.next_sibling();
    return n;
}

pugi::xml_node CQvXmlNode::FirstElement(pugi::xml_node node) {
    pugi::xml_node n = node.first_child();
    while (n && n.type() != pugi::node_element) n = n.next_sibling();
    return n;
}

long CQvXmlNode::HandOut(pugi::xml_node element, IQvXmlNode** out) {
    *out = new CQvXmlNode(m_pState, element);
    return S_OK;
}

BSTR CQvXmlNode::GetName() {
    return qvxml::ToBstr(m_element.name());
}

long CQvXmlNode::AddChild(LPCTSTR name, IQvXmlNode** child) {
    if (!child) return E_INVALIDARG;
    *child = nullptr;
    if (!name) return E_INVALIDARG;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        const std::string utf8 = qvxml::ToUtf8(name);
        if (!qvxml::IsXmlName(utf8)) return E_INVALIDARG;
        pugi::xml_node added = m_element.append_child(utf8.c_str());
        if (!added) return E_FAIL;
        return HandOut(added, child);
    });
}

int CQvXmlNode::GetChildCount() {
    int count = 0;
    for (pugi::xml_node n = FirstElement(m_element); n && count < INT_MAX; n = NextElement(n))
        ++count;
    return count;
}

BSTR CQvXmlNode::GetXPath() {
    return qvxml::Guard<BSTR>(nullptr, [&]() -> BSTR {
        // Collected leaf first and joined in reverse, so a deep element costs linear time.
        std::vector<std::string> steps;
        for (pugi::xml_node n = m_element; n && n.type() == pugi::node_element; n = n.parent()) {
            std::string step = "/";
            step += n.name();
            if (n.parent().type() == pugi::node_element)
                step += "[" + std::to_string(m_pState->SiblingPosition(n)) + "]";
            steps.push_back(std::move(step));
        }
        std::string path;
        for (auto it = steps.rbegin(); it != steps.rend(); ++it) path += *it;
        return qvxml::ToBstr(path.c_str());
    });
}

long CQvXmlNode::GetChildAt(int index, IQvXmlNode** child) {
    if (!child) return E_INVALIDARG;
    *child = nullptr;
    if (index < 0) return E_INVALIDARG;
    // Children are only appended, so the remembered child is still at its index.
    int at = 0;
    pugi::xml_node n = FirstElement(m_element);
    if (m_iAtIndex >= 0 && m_iAtIndex <= index) {
        at = m_iAtIndex;
        n = m_atChild;
    }
    for (; n && at < index; ++at) n = NextElement(n);
    if (!n) return E_INVALIDARG;
    m_iAtIndex = index;
    m_atChild = n;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long { return HandOut(n, child); });
}

long CQvXmlNode::GetFirstChild(IQvXmlNode** child) {
    if (!child) return E_INVALIDARG;
    *child = nullptr;
    m_walk = FirstElement(m_element);
    if (!m_walk) return E_FAIL;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long { return HandOut(m_walk, child); });
}

long CQvXmlNode::GetNextChild(IQvXmlNode** child) {
    if (!child) return E_INVALIDARG;
    *child = nullptr;
    if (!m_walk) return E_FAIL;
    // The walk stays on its last child when none follows, so a child appended later is
    // still reached by the next call.
    pugi::xml_node next = NextElement(m_walk);
    if (!next) return E_FAIL;
    m_walk = next;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long { return HandOut(m_walk, child); });
}

long CQvXmlNode::GetAttribute(LPCTSTR name, IQvXmlAttribute** attribute) {
    if (!attribute) return E_INVALIDARG;
    *attribute = nullptr;
    if (!name) return E_INVALIDARG;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        pugi::xml_attribute found = m_element.attribute(qvxml::ToUtf8(name).c_str());
        if (!found) return E_FAIL;
        *attribute = new CQvXmlAttribute(m_pState, found);
        return S_OK;
    });
}

long CQvXmlNode::AddAttribute(LPCTSTR name, IQvXmlAttribute** attribute) {
    if (!attribute) return E_INVALIDARG;
    *attribute = nullptr;
    if (!name) return E_INVALIDARG;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        const std::string utf8 = qvxml::ToUtf8(name);
        if (!qvxml::IsXmlName(utf8)) return E_INVALIDARG;
        // One attribute per name: a second of the same name would make the file unreadable.
        pugi::xml_attribute found = m_element.attribute(utf8.c_str());
        if (!found) found = m_element.append_attribute(utf8.c_str());
        if (!found) return E_FAIL;
        *attribute = new CQvXmlAttribute(m_pState, found);
        return S_OK;
    });
}

void CQvXmlNode::Release() {
    delete this;
}
