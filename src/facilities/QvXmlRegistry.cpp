// The list of open document interfaces, emptied when the process ends.
#include "facilities/QvXmlRegistry.h"

#include "facilities/QvXmlDocument.h"

#include <vector>

CQvXmlRegistry& CQvXmlRegistry::GetInstance() {
    // Allocated once and never destroyed, so a Close made while statics are being torn down
    // still finds a valid list.
    static CQvXmlRegistry* s_pInstance = new CQvXmlRegistry();
    return *s_pInstance;
}

void CQvXmlRegistry::Add(CQvXmlDocument* document) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_documents.insert(document);
}

bool CQvXmlRegistry::Remove(CQvXmlDocument* document) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_documents.erase(document) != 0;
}

void CQvXmlRegistry::FreeAll() {
    std::vector<CQvXmlDocument*> left;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        left.assign(m_documents.begin(), m_documents.end());
        m_documents.clear();
    }
    for (CQvXmlDocument* document : left) delete document;
}

size_t CQvXmlRegistry::Count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_documents.size();
}

namespace {
// Frees the interfaces nobody closed when static objects are destroyed at exit.
struct QvXmlExitSweep {
    ~QvXmlExitSweep() { CQvXmlRegistry::GetInstance().FreeAll(); }
} g_exitSweep;
}  // namespace
