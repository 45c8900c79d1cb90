// A path as the catalogue keeps it: immutable, shared by its copies, and held as bytes.
//
// The catalogue holds one path per file for as long as a split runs; at four bytes a
// character (wchar_t on POSIX) the paths were most of its memory. Here each character is
// stored in the UTF-8 byte pattern, extended so that every wchar_t value round-trips (lone
// surrogates and values beyond Unicode included): a path of plain ASCII takes one byte a
// character. The wide text is made again where a path is written, opened or logged.
#ifndef CQVPATHTEXT_H
#define CQVPATHTEXT_H

#include "facilities/CQvString.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

class QVSPLIT_API CQvPathText {
public:
    CQvPathText();
    CQvPathText(const CQvString& s);  // NOLINT: a path converts both ways
    CQvPathText(const wchar_t* psz);  // NOLINT: null gives the empty text
    CQvPathText(std::wstring_view s);  // may hold zeros
    CQvPathText(const std::wstring& s);  // NOLINT
    CQvPathText(const CQvPathText& other) noexcept;
    CQvPathText(CQvPathText&& other) noexcept;
    ~CQvPathText();
    CQvPathText& operator=(const CQvPathText& other) noexcept;
    CQvPathText& operator=(CQvPathText&& other) noexcept;

    // The wide text.
    CQvString Wide() const;
    operator CQvString() const { return Wide(); }  // NOLINT
    std::wstring str() const;

    bool IsEmpty() const { return Bytes() == 0; }
    // The stored bytes; equal texts have equal bytes.
    std::string_view bytes() const { return std::string_view(m_p, Bytes()); }

    // The character starting at p (within bytes()), and p moved past it.
    static wchar_t Next(const char*& p) {
        const unsigned char lead = static_cast<unsigned char>(*p++);
        if (lead < 0x80) return static_cast<wchar_t>(lead);
        return NextOther(lead, p);
    }

    bool operator==(const CQvPathText& other) const {
        return m_p == other.m_p || bytes() == other.bytes();
    }
    bool operator!=(const CQvPathText& other) const { return !(*this == other); }
    bool operator==(std::wstring_view other) const;
    bool operator!=(std::wstring_view other) const { return !(*this == other); }
    bool operator==(const CQvString& other) const { return *this == other.view(); }
    bool operator!=(const CQvString& other) const { return !(*this == other.view()); }
    bool operator==(const wchar_t* other) const { return *this == std::wstring_view(other ? other : L""); }
    bool operator!=(const wchar_t* other) const { return !(*this == other); }

private:
    struct Header {
        std::atomic<uint32_t> refs;  // kStatic for the empty text
        uint32_t bytes;              // without the terminating zero
    };
    static constexpr uint32_t kStatic = 0xFFFFFFFFu;

    static wchar_t NextOther(unsigned char lead, const char*& p);
    static char* Make(std::wstring_view s);
    static char* EmptyBytes();
    // Decodes every character into out, which has room for one a byte; gives the count.
    size_t Decode(wchar_t* out) const;
    Header* Head() const { return reinterpret_cast<Header*>(m_p) - 1; }
    uint32_t Bytes() const { return Head()->bytes; }
    void Release() noexcept;

    char* m_p;  // the bytes of a block, just behind its header
};

inline bool operator==(const CQvString& a, const CQvPathText& b) { return b == a.view(); }
inline bool operator!=(const CQvString& a, const CQvPathText& b) { return !(b == a.view()); }

#endif
