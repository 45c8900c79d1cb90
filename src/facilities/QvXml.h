// The XML document facility: documents, elements and attributes behind small interfaces.
//
// Texts handed out are OLE Automation strings owned by the caller and freed with
// qvp::SysFreeString. Nodes and attributes handed out belong to the caller until Release.
// Statuses are negative on failure. Files are read in UTF-8 or UTF-16 (with a byte-order mark)
// and written as UTF-8 with an XML declaration and indentation, atomically.
#ifndef QVXML_H
#define QVXML_H

#include "platform/QvPlatform.h"

#include <string>

class CQvCommits;

// The only library type there is.
#define XML_TYPE_LIBRARY 2

class IQvXmlAttribute {
public:
    virtual BSTR GetStringValue() = 0;
    virtual long SetStringValue(LPCTSTR text) = 0;
    virtual long SetIntValue(int32_t value) = 0;
    virtual long SetInt64Value(int64_t value) = 0;
    virtual void Release() = 0;

protected:
    virtual ~IQvXmlAttribute() {}
};

class IQvXmlNode {
public:
    virtual BSTR GetName() = 0;
    virtual long AddChild(LPCTSTR name, IQvXmlNode** child) = 0;
    virtual int GetChildCount() = 0;
    // A path that names this element, such as "/RulesFile/Rule[3]" (1-based positions).
    virtual BSTR GetXPath() = 0;
    virtual long GetChildAt(int index, IQvXmlNode** child) = 0;
    // Starts a walk over the child elements; GetNextChild goes on, failing when none is left.
    virtual long GetFirstChild(IQvXmlNode** child) = 0;
    virtual long GetNextChild(IQvXmlNode** child) = 0;
    // Fails when the attribute is missing.
    virtual long GetAttribute(LPCTSTR name, IQvXmlAttribute** attribute) = 0;
    virtual long AddAttribute(LPCTSTR name, IQvXmlAttribute** attribute) = 0;
    // The element's character data (text and CDATA sections joined).
    virtual BSTR GetText() = 0;
    // Sets the element's character data. A text that is exactly "<![CDATA[", a value and
    // "]]>" is stored as a CDATA section holding the value.
    virtual long SetText(LPCTSTR text) = 0;
    virtual void Release() = 0;

protected:
    virtual ~IQvXmlNode() {}
};

class IQvXml {
public:
    // Reads a document from a file.
    virtual long Open(LPCTSTR path) = 0;
    // Starts a new document bound to path, with one root element, replacing any earlier one.
    virtual long Create(LPCTSTR path, LPCTSTR rootName, IQvXmlNode** root) = 0;
    // Writes the document to the path it is bound to.
    virtual long Save(long flag) = 0;
    // From now on Save hands the file it wrote to commits, which put it in place behind the
    // caller (see CQvCommits); null, the default: Save puts it in place before it returns.
    virtual void CommitThrough(CQvCommits* commits) = 0;
    // Writes a finished child of the root element out of memory: Save puts the children so
    // written, in their order, after the children the root still holds. Only Release may be
    // called on child afterwards. For documents of many entries, which then take the memory of
    // one entry instead of all of them. 1 (S_FALSE): nothing could be written beside the path, the
    // child stays in the document; a failure: writing failed, and Save will fail.
    virtual long SpoolChild(IQvXmlNode* child) = 0;
    // The same for a child given as its text: UTF-8, printed one level in as Save prints the
    // root's children, each line ended by "\n". 1 (S_FALSE): nothing could be written beside the
    // path, nothing was kept (add the child as nodes instead); a failure: Save will fail.
    virtual long SpoolText(const std::string& text) = 0;
    // Drops the document, with the children written out for it; the interface stays usable.
    virtual void Discard() = 0;
    // Finds an element by absolute path of element names, such as "/Factory/Media/Info".
    virtual long SelectNode(LPCTSTR path, IQvXmlNode** node) = 0;
    virtual long GetRoot(IQvXmlNode** root) = 0;
    // Ends the use of this interface; it must not be used afterwards. Nodes still held stay
    // valid until their Release.
    virtual void Close() = 0;

protected:
    virtual ~IQvXml() {}
};

// A new document interface, or null when libraryType is not XML_TYPE_LIBRARY or memory runs out.
QVSPLIT_API IQvXml* GetQvXmlInterface(int libraryType);

// How a holder below gives up what it holds: nodes and attributes are released, documents closed.
inline void QvXmlDrop(IQvXmlNode* p) { p->Release(); }
inline void QvXmlDrop(IQvXmlAttribute* p) { p->Release(); }
inline void QvXmlDrop(IQvXml* p) { p->Close(); }

// Holds one document, node or attribute handed out by the interfaces above and gives it up when
// the scope ends, however it ends: an exception passing through a caller leaks nothing.
template <class T>
class QvXmlHeld {
public:
    QvXmlHeld() {}
    explicit QvXmlHeld(T* p) : m_p(p) {}
    ~QvXmlHeld() { Reset(); }
    QvXmlHeld(const QvXmlHeld&) = delete;
    QvXmlHeld& operator=(const QvXmlHeld&) = delete;

    // Where an interface call stores what it hands out; anything held before is released.
    T** Out() {
        Reset();
        return &m_p;
    }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    void Reset() {
        if (m_p) QvXmlDrop(m_p);
        m_p = nullptr;
    }

private:
    T* m_p = nullptr;
};

// Holds one caller-owned string handed out by the interfaces above and frees it likewise.
class QvBstrHeld {
public:
    explicit QvBstrHeld(BSTR text) : m_text(text) {}
    ~QvBstrHeld() {
        if (m_text) qvp::SysFreeString(m_text);
    }
    QvBstrHeld(const QvBstrHeld&) = delete;
    QvBstrHeld& operator=(const QvBstrHeld&) = delete;
    BSTR Get() const { return m_text; }
    explicit operator bool() const { return m_text != nullptr; }

private:
    BSTR m_text;
};

#endif
