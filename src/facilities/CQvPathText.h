// A path as the catalogue keeps it: immutable, shared by its copies, and held as bytes.
//
// The catalogue holds one path per file for as long as a split runs; at four bytes a
// character (wchar_t on POSIX) the paths were most of its memory. Here each character is
// stored in the UTF-8 byte pattern, extended so that every wchar_t value round-trips (lone
// surrogates and values beyond Unicode included): a path of plain ASCII takes one byte a
// character. The wide text is made again where a path is written, opened or logged.
//
// A path may also be held as its folder's text, shared by every file of that folder, and its
// own name: the catalogue holds its files' paths that way, so a folder's path is kept once
// and not once for each file in it. Its bytes then come in two pieces.
#ifndef CQVPATHTEXT_H
#define CQVPATHTEXT_H

#include "facilities/CQvString.h"

#include <atomic>
#include <cstdint>
#include <cstring>
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

    // name (no backslash in it) in the folder whose text is folder (ending with a backslash):
    // the folder's bytes are shared, not copied.
    CQvPathText(const CQvPathText& folder, std::wstring_view name);

    bool IsEmpty() const { return Bytes() == 0; }
    // The stored bytes in at most two pieces: the shared folder's (up to its backslash) and
    // the rest; a text held whole has them all in the first. Equal texts have equal bytes.
    struct Pieces {
        std::string_view first, second;
        size_t size() const { return first.size() + second.size(); }
    };
    Pieces pieces() const {
        if (!(Head()->bytes & kShared)) return {std::string_view(m_p, Bytes()), std::string_view()};
        const char* folder = SharedFolder();
        const size_t head = reinterpret_cast<const Header*>(folder)[-1].bytes & kSizeMask;
        return {std::string_view(folder, head), std::string_view(m_p + sizeof(char*), Bytes() - head)};
    }
    size_t ByteCount() const { return Bytes(); }
    // The stored bytes in one piece, added to out.
    void AppendBytesTo(std::string& out) const;
    std::string Utf8() const {
        std::string out;
        AppendBytesTo(out);
        return out;
    }

    // The characters one by one, from the character whose first byte is at offset from.
    class Reader {
    public:
        explicit Reader(const Pieces& pieces, size_t from = 0) {
            if (from < pieces.first.size()) {
                m_p = pieces.first.data() + from;
                m_end = pieces.first.data() + pieces.first.size();
                m_rest = pieces.second;
            } else {
                m_p = pieces.second.data() + (from - pieces.first.size());
                m_end = pieces.second.data() + pieces.second.size();
            }
            if (m_p == m_end) Advance();
        }
        bool AtEnd() const { return m_p == m_end; }
        // The next byte, 0 at the end.
        unsigned char Peek() const { return AtEnd() ? 0 : static_cast<unsigned char>(*m_p); }
        wchar_t Next() {
            const wchar_t c = CQvPathText::Next(m_p);
            if (m_p == m_end) Advance();
            return c;
        }

    private:
        void Advance() {
            if (m_rest.empty()) return;
            m_p = m_rest.data();
            m_end = m_p + m_rest.size();
            m_rest = std::string_view();
        }
        const char* m_p;
        const char* m_end;
        std::string_view m_rest;
    };

    // The character starting at p (within bytes()), and p moved past it.
    static wchar_t Next(const char*& p) {
        const unsigned char lead = static_cast<unsigned char>(*p++);
        if (lead < 0x80) return static_cast<wchar_t>(lead);
        return NextOther(lead, p);
    }

    bool operator==(const CQvPathText& other) const { return m_p == other.m_p || SameBytes(other); }
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
    // In Header::bytes: the block holds a folder's text (a pointer to it) and its own bytes.
    static constexpr uint32_t kShared = 0x80000000u;
    static constexpr uint32_t kSizeMask = 0x7FFFFFFFu;

    static wchar_t NextOther(unsigned char lead, const char*& p);
    static char* Make(std::wstring_view s);
    static char* EmptyBytes();
    // Decodes every character into out, which has room for one a byte; gives the count.
    size_t Decode(wchar_t* out) const;
    Header* Head() const { return reinterpret_cast<Header*>(m_p) - 1; }
    uint32_t Bytes() const { return Head()->bytes & kSizeMask; }
    const char* SharedFolder() const {
        const char* folder;
        std::memcpy(&folder, m_p, sizeof folder);
        return folder;
    }
    bool SameBytes(const CQvPathText& other) const;
    static void ReleaseBlock(char* text) noexcept;
    void Release() noexcept;

    char* m_p;  // the bytes of a block, just behind its header
};

inline bool operator==(const CQvString& a, const CQvPathText& b) { return b == a.view(); }
inline bool operator!=(const CQvString& a, const CQvPathText& b) { return !(b == a.view()); }

#endif
