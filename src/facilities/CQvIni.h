// An INI document in memory (sections of key/value pairs), loaded from and stored to a file.
//
// Files are UTF-8 text: "[Section]" lines, "key=value" lines, blank lines and ";" comments.
// Section and key names compare ignoring letter case, as Windows INI files do.
#ifndef CQVINI_H
#define CQVINI_H

#include "CQvString.h"

#include <string>
#include <utility>
#include <vector>

class QVSPLIT_API CQvIni {
public:
    CQvIni();
    ~CQvIni();
    CQvIni(const CQvIni&) = default;
    CQvIni& operator=(const CQvIni&) = default;
    // Moving never allocates, so a document prepared aside can replace another without failing.
    CQvIni(CQvIni&&) noexcept = default;
    CQvIni& operator=(CQvIni&&) noexcept = default;

    // Reads the file into the document, replacing what it held; nonzero on success. Lines
    // that are neither sections, keys nor comments are skipped.
    BOOL Load(LPCTSTR path, LPVOID reserved);
    // Adds an empty section unless one of that name exists; nonzero on success.
    BOOL AddSection(LPCTSTR section);
    // Sets key to value in section (created when missing); nonzero on success.
    BOOL AddKey(LPCTSTR section, LPCTSTR key, LPCTSTR value);
    // Fetches one value; zero when the section or key is absent.
    BOOL GetKeyValue(LPCTSTR section, LPCTSTR key, CQvString& value) const;
    // Writes the document to path atomically (CQvFile::WriteAtomically); nonzero on success.
    BOOL Store(LPCTSTR path, int flag);
    // Empties the document.
    void Clear();

private:
    struct Section {
        std::wstring name;
        std::vector<std::pair<std::wstring, std::wstring>> keys;
    };
    Section* FindSection(LPCTSTR section);
    const Section* FindSection(LPCTSTR section) const;

    std::vector<Section> m_sections;
};

#endif
