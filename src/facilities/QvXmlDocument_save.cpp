// Saving a document: UTF-8 text with a declaration, replacing the file atomically.
#include "facilities/QvXmlDocument.h"

#include "facilities/CQvFile.h"
#include "facilities/CQvLog.h"
#include "facilities/QvXmlText.h"

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

}  // namespace

long CQvXmlDocument::Save(long /*flag: always 0, nothing to choose*/) {
    if (!m_pState || !m_pState->Doc().document_element()) {
        CQvLog::GetInstance()->AddError(L"IQvXml::Save() FAILED: no document to save");
        return E_FAIL;
    }
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        const std::wstring& path = m_pState->Path();
        const auto write = [&](CQvFile& file) {
            QvXmlFileWriter writer(file);
            SaveWith(*m_pState, writer);
            return writer.Finish();
        };
        if (!CQvFile::WriteAtomicallyWith(path.c_str(), write)) {
            const DWORD error = qvp::GetLastError();
            CQvLog::GetInstance()->AddError(L"IQvXml::Save() FAILED to write %s, error %u", path,
                                            error);
            return E_FAIL;
        }
        return S_OK;
    });
}
