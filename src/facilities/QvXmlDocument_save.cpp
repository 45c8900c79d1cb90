// Saving a document: UTF-8 text with a declaration, replacing the file atomically.
#include "facilities/QvXmlDocument.h"

#include "facilities/CQvFile.h"
#include "facilities/CQvLog.h"
#include "facilities/QvXmlText.h"

#include <string>
#include <utility>

namespace {

// Collects the serialised text in memory, so it reaches the disk through our file layer.
class QvXmlStringWriter : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override {
        m_text.append(static_cast<const char*>(data), size);
    }
    std::string m_text;
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

std::string CQvXmlDocument::Serialise(CQvXmlState& state) {
    pugi::xml_document& doc = state.Doc();
    EnsureDeclaration(doc);
    unsigned int flags = pugi::format_indent;
    if (DeepestLevel(doc, kMaxIndentedDepth) > kMaxIndentedDepth) flags = pugi::format_raw;
    QvXmlStringWriter writer;
    doc.save(writer, "  ", flags, pugi::encoding_utf8);
    return std::move(writer.m_text);
}

long CQvXmlDocument::Save(long /*flag: always 0, nothing to choose*/) {
    if (!m_pState || !m_pState->Doc().document_element()) {
        CQvLog::GetInstance()->AddError(L"IQvXml::Save() FAILED: no document to save");
        return E_FAIL;
    }
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        const std::string text = Serialise(*m_pState);
        const std::wstring& path = m_pState->Path();
        if (!CQvFile::WriteAtomically(path.c_str(), text.data(), text.size())) {
            const DWORD error = qvp::GetLastError();
            CQvLog::GetInstance()->AddError(L"IQvXml::Save() FAILED to write %s, error %u", path,
                                            error);
            return E_FAIL;
        }
        return S_OK;
    });
}
