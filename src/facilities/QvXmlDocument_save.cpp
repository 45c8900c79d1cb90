// Saving a document: UTF-8 text with a declaration, replacing the file atomically; children
// written out before the save (SpoolChild) are put back in on the way.
#include "facilities/QvXmlDocument.h"

#include "facilities/CQvFile.h"
#include "facilities/CQvLog.h"
#include "facilities/QvXmlNode.h"
#include "facilities/QvXmlText.h"

#include <memory>
#include <string>
#include <utility>

namespace {

// Passes the serialised text to a file in pieces of kChunk bytes, so a document of a medium
// with many entries is never held a second time as one text.
class QvXmlFileWriter : public pugi::xml_writer {
public:
    explicit QvXmlFileWriter(CQvFile& file) : m_file(file) { m_chunk.reserve(kChunk); }
    void write(const void* data, size_t size) override {
        if (!m_ok) return;
        m_chunk.append(static_cast<const char*>(data), size);
        if (m_chunk.size() >= kChunk) Pass();
    }
    // Writes what is left; true when every byte reached the file.
    bool Finish() {
        if (m_ok && !m_chunk.empty()) Pass();
        return m_ok;
    }

private:
    static const size_t kChunk = 256 * 1024;
    void Pass() {
        m_ok = m_file.WriteAll(m_chunk.data(), m_chunk.size()) != FALSE;
        m_chunk.clear();
    }
    CQvFile& m_file;
    std::string m_chunk;
    bool m_ok = true;
};

// Gathers serialised text in memory: one child written out, or the part of a document that
// stays in memory when the rest was written out.
class QvXmlStringWriter : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
    std::string text;
};

// Indentation costs one indent per level on every line; past this depth the text would grow
// with the square of the nesting, so such a document is written without indentation.
const size_t kMaxIndentedDepth = 256;

// Depth of the deepest node under top, counted without recursion so any nesting is safe;
// stops counting once limit is passed.
size_t DeepestLevel(pugi::xml_node top, size_t limit) {
    pugi::xml_node n = top.first_child();
    size_t depth = 1, deepest = n ? 1 : 0;
    while (n && deepest <= limit) {
        if (n.first_child()) {
            n = n.first_child();
            if (++depth > deepest) deepest = depth;
            continue;
        }
        while (!n.next_sibling()) {
            n = n.parent();
            if (n == top) return deepest;
            --depth;
        }
        n = n.next_sibling();
    }
    return deepest;
}

// The written text is always UTF-8, and the declaration says so.
void EnsureDeclaration(pugi::xml_document& doc) {
    if (doc.first_child().type() == pugi::node_declaration) return;
    pugi::xml_node declaration = doc.prepend_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
}

}  // namespace

namespace {

void SaveWith(CQvXmlState& state, pugi::xml_writer& writer) {
    pugi::xml_document& doc = state.Doc();
    EnsureDeclaration(doc);
    unsigned int flags = pugi::format_indent;
    if (DeepestLevel(doc, kMaxIndentedDepth) > kMaxIndentedDepth) flags = pugi::format_raw;
    doc.save(writer, "  ", flags, pugi::encoding_utf8);
}

// The document with the children written out put back in: what the root still holds, then
// the spool, then the root's end.
bool WriteWithSpool(CQvXmlState& state, CQvFile& file) {
    QvXmlStringWriter held;
    SaveWith(state, held);
    const std::string name = state.Doc().document_element().name();
    const std::string close = "</" + name + ">\n";
    const std::string empty = " />\n";  // a root left with nothing is written as an empty element
    std::string head = held.text;
    if (head.size() >= close.size() && head.compare(head.size() - close.size(), close.size(), close) == 0)
        head.erase(head.size() - close.size());
    else if (head.size() >= empty.size() && head.compare(head.size() - empty.size(), empty.size(), empty) == 0)
        head.replace(head.size() - empty.size(), empty.size(), ">\n");
    else
        return false;
    if (!file.WriteAll(head.data(), head.size())) return false;
    if (!state.Spool()) {
        const std::string& kept = state.SpoolChunk();
        return file.WriteAll(kept.data(), kept.size()) && file.WriteAll(close.data(), close.size());
    }
    CQvFile spool;
    if (!spool.Attach(state.Spool()->GetPath()) ||
        !spool.Open(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr))
        return false;
    const DWORD kBuffer = 256 * 1024;
    std::unique_ptr<char[]> buffer(new char[kBuffer]);
    int64_t copied = 0;
    qvp::CopyFailure failure = qvp::CopyFailure::None;
    if (!spool.CopyTo(file, INT64_MAX, buffer.get(), kBuffer, &copied, &failure)) return false;
    return file.WriteAll(close.data(), close.size()) != FALSE;
}

}  // namespace

long CQvXmlDocument::SpoolChild(IQvXmlNode* child) {
    CQvXmlNode* node = dynamic_cast<CQvXmlNode*>(child);
    if (!node || !m_pState || node->State() != m_pState.get()) return E_INVALIDARG;
    pugi::xml_node root = m_pState->Doc().document_element();
    pugi::xml_node element = node->Element();
    if (!element || element.type() != pugi::node_element || element.parent() != root) return E_INVALIDARG;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        // Written as the whole document would write it: one level in, on lines of its own.
        if (!m_pState->CanSpool()) return 1;  // S_FALSE: kept in the document
        QvXmlStringWriter text;
        element.print(text, "  ", pugi::format_indent, pugi::encoding_utf8, 1);
        if (!m_pState->AppendToSpool(text.text)) {
            CQvLog::GetInstance()->AddError(L"IQvXml::SpoolChild() FAILED to write beside %s, error %u",
                                            m_pState->Path(), qvp::GetLastError());
            return E_FAIL;
        }
        root.remove_child(element);
        m_pState->ForgetPositions();
        return S_OK;
    });
}

long CQvXmlDocument::SpoolText(const std::string& text) {
    if (!m_pState || !m_pState->Doc().document_element()) return E_INVALIDARG;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        if (!m_pState->CanSpool()) return 1;  // S_FALSE: the caller keeps it in the document
        if (!m_pState->AppendToSpool(text)) {
            CQvLog::GetInstance()->AddError(L"IQvXml::SpoolChild() FAILED to write beside %s, error %u",
                                            m_pState->Path(), qvp::GetLastError());
            return E_FAIL;
        }
        return S_OK;
    });
}

long CQvXmlDocument::Save(long /*flag: always 0, nothing to choose*/) {
    if (!m_pState || !m_pState->Doc().document_element()) {
        CQvLog::GetInstance()->AddError(L"IQvXml::Save() FAILED: no document to save");
        return E_FAIL;
    }
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        const std::wstring& path = m_pState->Path();
        if (!m_pState->FlushSpool()) {
            CQvLog::GetInstance()->AddError(L"IQvXml::Save() FAILED to write beside %s, error %u", path,
                                            qvp::GetLastError());
            return E_FAIL;
        }
        const auto write = [&](CQvFile& file) {
            if (m_pState->Spooling()) return WriteWithSpool(*m_pState, file);
            QvXmlFileWriter writer(file);
            SaveWith(*m_pState, writer);
            return writer.Finish();
        };
        if (!CQvFile::WriteAtomicallyWith(path.c_str(), write, m_pCommits)) {
            const DWORD error = qvp::GetLastError();
            CQvLog::GetInstance()->AddError(L"IQvXml::Save() FAILED to write %s, error %u", path,
                                            error);
            return E_FAIL;
        }
        return S_OK;
    });
}
