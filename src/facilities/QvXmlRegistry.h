// Process-wide list of the document interfaces still open.
//
// Callers sometimes drop an interface without Close on a failure path. Keeping every live
// interface listed makes such an interface reachable (so leak checkers stay quiet about it)
// and lets it be freed when the process ends.
#ifndef QVXMLREGISTRY_H
#define QVXMLREGISTRY_H

#include <mutex>
#include <set>

class CQvXmlDocument;

class CQvXmlRegistry {
public:
    // The one list of the process; it lives until the process ends.
    static CQvXmlRegistry& GetInstance();

    // Lists a new interface.
    void Add(CQvXmlDocument* document);
    // Takes an interface off the list; false when it was not listed.
    bool Remove(CQvXmlDocument* document);
    // Frees every interface still listed (at the end of the process).
    void FreeAll();
    // Number of interfaces listed.
    size_t Count();

private:
    CQvXmlRegistry() = default;

    std::mutex m_mutex;
    std::set<CQvXmlDocument*> m_documents;
};

#endif
