// Wide-character string with value semantics; the key type of every string-keyed map.
//
// The text lives in one counted block that copies share until one of them changes (then that
// one takes a block of its own), so a copy costs one pointer: the catalogue holds many copies
// of one folder name, target folder or path. The count is atomic, so copies may live on
// different threads; one object is not to be changed by two threads at once.
#ifndef CQVSTRING_H
#define CQVSTRING_H

#include "QvFormat.h"
#include "QvSplit.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

// The header in front of every string's characters.
struct QvStringBlock {
    std::atomic<uint32_t> refs;  // copies sharing the block; kStatic for the empty string
    uint32_t length;             // characters, without the terminating zero
    uint32_t capacity;           // characters the block holds, without the terminating zero
    static constexpr uint32_t kStatic = 0xFFFFFFFFu;
};

class QVSPLIT_API CQvString {
public:
    CQvString();
    CQvString(const wchar_t* psz);  // null gives the empty string
    CQvString(const std::wstring& s);
    CQvString(std::wstring_view s);  // may hold zeros: the length counts, not a terminator
    CQvString(const CQvString& other);
    CQvString(CQvString&& other) noexcept;
    ~CQvString();

    CQvString& operator=(const CQvString& other);
    CQvString& operator=(CQvString&& other) noexcept;
    CQvString& operator=(const wchar_t* psz);  // null gives the empty string

    // Read-only null-terminated text, valid until the string changes.
    operator const wchar_t*() const { return m_psz; }
    const wchar_t* c_str() const { return m_psz; }
    std::wstring str() const { return std::wstring(m_psz, Length()); }
    std::wstring_view view() const { return std::wstring_view(m_psz, Length()); }

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
    // The character MakeLower makes of c.
    static wchar_t LowerChar(wchar_t c) {
        if (static_cast<uint32_t>(c) < 0x80)
            return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
        return LowerOther(c);
    }

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
    bool operator<(const CQvString& other) const { return view() < other.view(); }
    bool operator==(const CQvString& other) const {
        return m_psz == other.m_psz || view() == other.view();
    }
    bool operator!=(const CQvString& other) const { return !(*this == other); }
    bool operator==(const wchar_t* other) const;
    bool operator!=(const wchar_t* other) const { return !(*this == other); }

protected:
    size_t Length() const { return Block()->length; }
    // Replaces the content with n characters from p (which may point into this string).
    void Assign(const wchar_t* p, size_t n);
    // Keeps the first n characters (n at most the length).
    void Truncate(size_t n);
    void Append(const wchar_t* p, size_t n);
    // The characters, writable: the block is this string's own from here on.
    wchar_t* Writable();

private:
    static wchar_t LowerOther(wchar_t c);  // LowerChar beyond ASCII
    void MapEach(wchar_t (*map)(wchar_t));  // each character through map
    QvStringBlock* Block() const { return reinterpret_cast<QvStringBlock*>(m_psz) - 1; }
    void Release() noexcept;

    wchar_t* m_psz;  // the characters of a block, just behind its header
};

#endif
