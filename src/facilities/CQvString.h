// Wide-character string with value semantics; the key type of every string-keyed map.
#ifndef CQVSTRING_H
#define CQVSTRING_H

#include "QvFormat.h"
#include "QvSplit.h"

#include <string>

class QVSPLIT_API CQvString {
public:
    CQvString();
    CQvString(const wchar_t* psz);  // null gives the empty string
    CQvString(const std::wstring& s);
    CQvString(const CQvString& other);
    CQvString(CQvString&& other) noexcept;
    ~CQvString();

    CQvString& operator=(const CQvString& other);
    CQvString& operator=(CQvString&& other) noexcept;
    CQvString& operator=(const wchar_t* psz);  // null gives the empty string

    // Read-only null-terminated text, valid until the string changes.
    operator const wchar_t*() const { return m_str.c_str(); }
    const wchar_t* c_str() const { return m_str.c_str(); }
    const std::wstring& str() const { return m_str; }

    // Replaces the content with the printf-style result (see QvFormat.h); zero for a null
    // format. Short of memory it throws std::bad_alloc, as every other operation here does.
    template <class... A>
    BOOL Format(const wchar_t* fmt, const A&... args) {
        const QvFormatArg list[] = {QvFormatArg(args)..., QvFormatArg()};
        return FormatV(fmt, list, sizeof...(A));
    }
    BOOL FormatV(const wchar_t* fmt, const QvFormatArg* args, size_t count);

    CQvString& operator+=(const wchar_t* psz);
    CQvString& operator+=(wchar_t ch);
    void Empty();
    BOOL IsEmpty() const;
    int GetLength() const;
    wchar_t GetAt(int index) const;  // 0 outside the string
    CQvString Left(int count) const;
    CQvString Right(int count) const;
    CQvString Mid(int first, int count) const;
    void MakeLower();
    void MakeUpper();

    // Nonzero when text occurs at or after start; pos receives the index of the first one.
    BOOL Find(const wchar_t* text, int& pos, int start = 0) const;
    // Nonzero when ch occurs; pos receives the index of the last one.
    BOOL ReverseFind(wchar_t ch, int& pos) const;
    // 0 when equal apart from letter case; otherwise the sign of the case-folded difference.
    int CompareNoCase(const wchar_t* text) const;
    // Replaces every occurrence of oldText by newText; returns the number replaced.
    int Replace(const wchar_t* oldText, const wchar_t* newText);
    // Nonzero when token number index (from 1) exists between the delimiters; empty tokens
    // between two delimiters are skipped, as strtok does.
    BOOL GetToken(const wchar_t* delims, CQvString& token, int index) const;

    // Map order: ordinal comparison of the characters, letter case included.
    bool operator<(const wchar_t* other) const;
    bool operator<(const CQvString& other) const { return m_str < other.m_str; }
    bool operator==(const CQvString& other) const { return m_str == other.m_str; }
    bool operator!=(const CQvString& other) const { return m_str != other.m_str; }
    bool operator==(const wchar_t* other) const;
    bool operator!=(const wchar_t* other) const { return !(*this == other); }

protected:
    std::wstring m_str;
};

#endif
