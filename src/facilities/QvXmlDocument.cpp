// Opening, creating and searching a document; saving lives in QvXmlDocument_save.cpp.
#include "facilities/QvXmlDocument.h"

#include "facilities/CQvFile.h"
#include "facilities/CQvLog.h"
#include "facilities/QvXmlNode.h"
#include "facilities/QvXmlRegistry.h"
#include "facilities/QvXmlText.h"

#include <cstring>
#include <new>
#include <string>

long CQvXmlDocument::Open(LPCTSTR path) {
    if (!path) return E_INVALIDARG;
    m_pState.reset();
    try {
        auto state = std::make_shared<CQvXmlState>(path);
        if (!CQvFile::ReadAll(path, state->Buffer())) {
            const DWORD error = qvp::GetLastError();
            CQvLog::GetInstance()->AddError(L"IQvXml::Open(%s) FAILED to read the file, error %u",
                                            path, error);
            return E_FAIL;
        }
        const long hr = Parse(*state);
        if (hr < 0) return hr;
        m_pState = state;
        return S_OK;
    } catch (const std::bad_alloc&) {
        CQvLog::GetInstance()->AddError(L"IQvXml::Open(%s) FAILED: out of memory", path);
    } catch (...) {
        CQvLog::GetInstance()->AddError(L"IQvXml::Open(%s) FAILED: unexpected exception", path);
    }
    return E_FAIL;
}

long CQvXmlDocument::Parse(CQvXmlState& state) {
    std::string& bytes = state.Buffer();
    // Parsed in place: the text stays in the buffer the state owns, so a large file is not
    // held twice. The encoding (UTF-8, or UTF-16/32 by byte-order mark) is detected.
    const pugi::xml_parse_result result = state.Doc().load_buffer_inplace(
        &bytes[0], bytes.size(), pugi::parse_default, pugi::encoding_auto);
    if (!result) {
        const std::wstring description = qvp::Utf8ToWide(result.description());
        CQvLog::GetInstance()->AddError(L"IQvXml::Open(%s) FAILED: %s at offset %lld",
                                        state.Path(), description,
                                        static_cast<long long>(result.offset));
        state.Doc().reset();
        return E_FAIL;
    }
    // pugixml accepts several top-level elements; a well-formed document has exactly one.
    if (CQvXmlNode::NextElement(state.Doc().document_element())) {
        CQvLog::GetInstance()->AddError(L"IQvXml::Open(%s) FAILED: more than one root element",
                                        state.Path());
        state.Doc().reset();
        return E_FAIL;
    }
    return S_OK;
}

long CQvXmlDocument::Create(LPCTSTR path, LPCTSTR rootName, IQvXmlNode** root) {
    if (!root) return E_INVALIDARG;
    *root = nullptr;
    if (!path || !*path || !rootName) return E_INVALIDARG;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        const std::string name = qvxml::ToUtf8(rootName);
        if (!qvxml::IsXmlName(name)) return E_INVALIDARG;
        auto state = std::make_shared<CQvXmlState>(path);
        pugi::xml_node top = state->Doc().append_child(name.c_str());
        if (!top) return E_FAIL;
        *root = new CQvXmlNode(state, top);
        // Nodes of an earlier document keep its state alive until their Release.
        m_pState = state;
        return S_OK;
    });
}

pugi::xml_node CQvXmlDocument::FindStep(pugi::xml_node parent, const std::string& step) {
    std::string name = step;
    unsigned long position = 1;
    const size_t open = step.find('[');
    if (open != std::string::npos) {
        // "Name[n]" with n from 1, as GetXPath writes it.
        if (step.back() != ']' || open + 2 > step.size() - 1) return pugi::xml_node();
        const std::string digits = step.substr(open + 1, step.size() - open - 2);
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            return pugi::xml_node();
        position = std::stoul(digits);
        name = step.substr(0, open);
    }
    for (pugi::xml_node n = CQvXmlNode::FirstElement(parent); n; n = CQvXmlNode::NextElement(n)) {
        if (std::strcmp(n.name(), name.c_str()) == 0 && --position == 0) return n;
    }
    return pugi::xml_node();
}

long CQvXmlDocument::SelectNode(LPCTSTR path, IQvXmlNode** node) {
    if (!node) return E_INVALIDARG;
    *node = nullptr;
    if (!path || path[0] != L'/') return E_INVALIDARG;
    if (!m_pState) return E_FAIL;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        const std::string text = qvxml::ToUtf8(path);
        pugi::xml_node at = m_pState->Doc();
        for (size_t begin = 1;;) {
            const size_t slash = text.find('/', begin);
            const std::string step =
                text.substr(begin, slash == std::string::npos ? std::string::npos : slash - begin);
            if (step.empty()) return E_INVALIDARG;
            at = FindStep(at, step);
            if (!at) return E_FAIL;
            if (slash == std::string::npos) break;
            begin = slash + 1;
        }
        *node = new CQvXmlNode(m_pState, at);
        return S_OK;
    });
}

long CQvXmlDocument::GetRoot(IQvXmlNode** root) {
    if (!root) return E_INVALIDARG;
    *root = nullptr;
    if (!m_pState) return E_FAIL;
    pugi::xml_node top = m_pState->Doc().document_element();
    if (!top) return E_FAIL;
    return qvxml::Guard<long>(E_FAIL, [&]() -> long {
        *root = new CQvXmlNode(m_pState, top);
        return S_OK;
    });
}

void CQvXmlDocument::Close() {
    // Only interfaces made by GetQvXmlInterface are listed; one already freed at exit is not
    // freed twice.
    if (CQvXmlRegistry::GetInstance().Remove(this)) delete this;
}
