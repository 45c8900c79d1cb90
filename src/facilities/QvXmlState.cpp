// Shared document state: the pugixml document, its bound path and a cache of sibling positions.
#include "facilities/QvXmlState.h"

#include <atomic>
#include <cstring>

CQvXmlState::CQvXmlState(const std::wstring& path) : m_strPath(path) {}

CQvXmlState::~CQvXmlState() {
    if (!m_pSpool) return;
    m_pSpool->Close();
    qvp::DeleteFileW(m_pSpool->GetPath());
}

CQvFile* CQvXmlState::OpenSpool() {
    if (m_pSpool) return m_pSpool.get();
    static std::atomic<unsigned> s_number(0);
    CQvString spool;
    spool.Format(L"%s.~%u.%u.spool.tmp", m_strPath, qvp::GetCurrentProcessId(), ++s_number);
    std::unique_ptr<CQvFile> file(new CQvFile(spool));
    // Readable beside this handle: Save copies it while it stays open for more children.
    if (!file->Open(GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
        return nullptr;
    m_pSpool = std::move(file);
    return m_pSpool.get();
}

bool CQvXmlState::CanSpool() {
    if (m_iCanSpool < 0) {
        const size_t slash = m_strPath.find_last_of(L"\\/");
        const std::wstring folder = slash == std::wstring::npos ? std::wstring(L".") : m_strPath.substr(0, slash + 1);
        const DWORD attributes = qvp::GetFileAttributesW(folder.c_str());
        m_iCanSpool = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    return m_iCanSpool != 0;
}

bool CQvXmlState::AppendToSpool(const std::string& text) {
    if (m_bSpoolLost) return false;
    m_bSpooling = true;
    // The room for a whole chunk is taken at once: grown step by step, each medium would leave
    // the steps behind as holes the heap keeps.
    if (m_spoolChunk.capacity() < kSpoolChunk + text.size()) m_spoolChunk.reserve(kSpoolChunk + text.size());
    m_spoolChunk += text;
    if (m_spoolChunk.size() < kSpoolChunk) return true;
    if (!OpenSpool()) {
        m_bSpoolLost = true;
        return false;
    }
    return FlushSpool();
}

bool CQvXmlState::FlushSpool() {
    if (!m_pSpool || m_spoolChunk.empty()) return !m_bSpoolLost;
    if (!m_pSpool->WriteAll(m_spoolChunk.data(), m_spoolChunk.size())) m_bSpoolLost = true;
    m_spoolChunk.clear();
    return !m_bSpoolLost;
}

size_t CQvXmlState::SiblingPosition(pugi::xml_node element) {
    pugi::xml_node parent = element.parent();
    auto cached = m_positionCache.find(parent.internal_object());
    if (cached != m_positionCache.end() && cached->second.first == element.internal_object())
        return cached->second.second;
    const char* name = element.name();
    size_t steps = 0;
    // Elements are only ever appended, never removed or moved, so a remembered position
    // stays right and the count can stop as soon as it meets the remembered element.
    for (pugi::xml_node n = element; n; n = n.previous_sibling()) {
        if (n.type() != pugi::node_element || std::strcmp(n.name(), name) != 0) continue;
        if (cached != m_positionCache.end() && n.internal_object() == cached->second.first) {
            steps += cached->second.second;
            break;
        }
        ++steps;
    }
    m_positionCache[parent.internal_object()] = std::make_pair(element.internal_object(), steps);
    return steps;
}
