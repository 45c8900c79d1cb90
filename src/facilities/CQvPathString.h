// A string holding a Windows path, with the path operations of the Windows shell.
#ifndef CQVPATHSTRING_H
#define CQVPATHSTRING_H

#include "CQvString.h"

class QVSPLIT_API CQvPathString : public CQvString {
public:
    CQvPathString() {}
    CQvPathString(const wchar_t* psz) : CQvString(psz) {}
    CQvPathString(const CQvString& s) : CQvString(s) {}
    CQvPathString(const CQvPathString& other) = default;
    CQvPathString& operator=(const CQvPathString& other) = default;
    CQvPathString& operator=(const wchar_t* psz) {
        CQvString::operator=(psz);
        return *this;
    }

    // Appends "\" unless the path is empty or already ends with one (PathAddBackslash).
    void AddBackslash();
    // Removes one trailing "\" unless the path is a root such as "C:\" or "\" (PathRemoveBackslash).
    void RemoveBackslash();
    // Removes the last component and the separator before it; "C:\a" becomes "C:\", "\a"
    // becomes "\", "a" becomes "" (PathRemoveFileSpec). Nonzero when something was removed.
    BOOL RemoveFileSpec();
    // The last component (PathFindFileName): "C:\a\b.txt" gives "b.txt", "C:\a\" gives "a\".
    CQvString FindFileName() const;
    // The extension of the last component with its dot, or empty (PathFindExtension).
    CQvString FindExtension() const;
};

#endif
