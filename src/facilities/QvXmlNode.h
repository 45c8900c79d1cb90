// One element of a document, handed out until its Release; it also carries the state of a
// GetFirstChild/GetNextChild walk over its children.
#ifndef QVXMLNODE_H
#define QVXMLNODE_H

#include "facilities/QvXml.h"
#include "facilities/QvXmlState.h"

#include <memory>

class CQvXmlNode : public IQvXmlNode {
public:
    // Wraps element of the document held by state.
    CQvXmlNode(std::shared_ptr<CQvXmlState> state, pugi::xml_node element);

    BSTR GetName() override;
    long AddChild(LPCTSTR name, IQvXmlNode** child) override;
    int GetChildCount() override;
    BSTR GetXPath() override;
    long GetChildAt(int index, IQvXmlNode** child) override;
    long GetFirstChild(IQvXmlNode** child) override;
    long GetNextChild(IQvXmlNode** child) override;
    long GetAttribute(LPCTSTR name, IQvXmlAttribute** attribute) override;
    long AddAttribute(LPCTSTR name, IQvXmlAttribute** attribute) override;
    BSTR GetText() override;
    long SetText(LPCTSTR text) override;
    void Release() override;

    pugi::xml_node Element() const { return m_element; }
    const CQvXmlState* State() const { return m_pState.get(); }
    // The next element sibling of node, or an empty node.
    static pugi::xml_node NextElement(pugi::xml_node node);
    // The first element child of node, or an empty node.
    static pugi::xml_node FirstElement(pugi::xml_node node);

private:
    ~CQvXmlNode() override = default;

    // Hands out a new node object for element through out.
    long HandOut(pugi::xml_node element, IQvXmlNode** out);

    std::shared_ptr<CQvXmlState> m_pState;  // keeps the element's memory alive
    pugi::xml_node m_element;
    pugi::xml_node m_walk;  // child the walk stands on; empty before GetFirstChild
    // Last GetChildAt answer, so asking for indexes in order costs one step each.
    int m_iAtIndex = -1;
    pugi::xml_node m_atChild;
};

#endif
