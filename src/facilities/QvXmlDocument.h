// The document interface: reading, creating, saving and searching one XML document.
#ifndef QVXMLDOCUMENT_H
#define QVXMLDOCUMENT_H

#include "facilities/QvXml.h"
#include "facilities/QvXmlState.h"

#include <memory>

class CQvXmlDocument : public IQvXml {
public:
    CQvXmlDocument() = default;
    // Public so the registry can free an interface its caller never closed.
    ~CQvXmlDocument() override = default;

    long Open(LPCTSTR path) override;
    long Create(LPCTSTR path, LPCTSTR rootName, IQvXmlNode** root) override;
    long Save(long flag) override;
    void CommitThrough(CQvCommits* commits) override { m_pCommits = commits; }
    long SpoolChild(IQvXmlNode* child) override;
    long SpoolText(const std::string& text) override;
    void Discard() override { m_pState.reset(); }
    long SelectNode(LPCTSTR path, IQvXmlNode** node) override;
    long GetRoot(IQvXmlNode** root) override;
    void Close() override;

private:
    // Parses the bytes held by state; logs and returns a failure for anything malformed.
    static long Parse(CQvXmlState& state);
    // The element at one step ("Name" or "Name[n]") below parent, or an empty node.
    static pugi::xml_node FindStep(pugi::xml_node parent, const std::string& step);

    std::shared_ptr<CQvXmlState> m_pState;  // null before Create or a successful Open
    CQvCommits* m_pCommits = nullptr;
};

#endif
