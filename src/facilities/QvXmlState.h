// The state of one XML document, shared by its interface and by every node and attribute
// handed out from it, so a node outlives the Close or re-Create of its document safely.
#ifndef QVXMLSTATE_H
#define QVXMLSTATE_H

#include "platform/QvPlatform.h"

#include "facilities/CQvFile.h"

#include <pugixml.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

class CQvXmlState {
public:
    // An empty document bound to path (the file Save writes).
    explicit CQvXmlState(const std::wstring& path);
    CQvXmlState(const CQvXmlState&) = delete;
    CQvXmlState& operator=(const CQvXmlState&) = delete;

    pugi::xml_document& Doc() { return m_doc; }
    const std::wstring& Path() const { return m_strPath; }
    // The bytes an in-place parse points into; they must live as long as the document.
    std::string& Buffer() { return m_buffer; }

    // 1-based position of an element among the siblings of the same name. The last answer
    // per parent is remembered, so asking for every child of a long list in order stays
    // linear instead of quadratic.
    size_t SiblingPosition(pugi::xml_node element);
    // Forgets the remembered positions, once elements have been taken out.
    void ForgetPositions() { m_positionCache.clear(); }

    // The children written out by SpoolChild: gathered in memory, and past kSpoolChunk bytes
    // in a temporary file beside the path, deleted with the state. Most documents never need
    // the file. Spool() is null until the file is made.
    bool Spooling() const { return m_bSpooling; }
    CQvFile* Spool() { return m_pSpool.get(); }
    const std::string& SpoolChunk() const { return m_spoolChunk; }
    // Whether children can be written out beside the path: its folder is there. Asked once.
    bool CanSpool();
    // Adds one written child; false when the file it needs cannot be made or written.
    bool AppendToSpool(const std::string& text);
    // Passes what is gathered to the file, if there is one, so that it holds every child
    // written; false once any child failed to reach it.
    bool FlushSpool();
    ~CQvXmlState();

private:
    std::wstring m_strPath;
    std::string m_buffer;
    std::unique_ptr<CQvFile> m_pSpool;
    CQvFile* OpenSpool();
    // Written children gathered before they go to the file, some thousands of entries at a
    // time: the memory a document being written takes, however many children it has.
    static const size_t kSpoolChunk = 2 * 1024 * 1024;
    std::string m_spoolChunk;
    bool m_bSpooling = false;   // a child has been written out
    int m_iCanSpool = -1;       // whether the path's folder is there; -1: not asked yet
    bool m_bSpoolLost = false;  // a written child did not reach the file
    pugi::xml_document m_doc;
    // parent -> (element last asked about, its position)
    std::unordered_map<pugi::xml_node_struct*, std::pair<pugi::xml_node_struct*, size_t>>
        m_positionCache;
};

#endif
